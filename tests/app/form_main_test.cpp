#include <gtest/gtest.h>

#include "app/texts.h"
#include "hex.h"
#include "logging/record_log.h"
#include "platform/desktop.h"
#include "support/form_fixture.h"
#include "support/window_state.h"

namespace vorlan {
namespace {

using namespace std::chrono_literals;

using StartUpTest = FormTest;

TEST_F(StartUpTest, FirstStartWithAnEmptyStore) {
  m_form.Form_Load();
  EXPECT_EQ(m_form.txtHost.Text(), "0.0.0.0");
  EXPECT_EQ(m_form.cbDeviceID.Text(), "0");
  EXPECT_EQ(m_form.TxtMaxTime.Text(), "120");
  EXPECT_EQ(m_form.cbDeviceID.List(), (QStringList{"0", "1", "2", "3"}));
  EXPECT_EQ(m_form.StatusBar.Panel(3), "Records = 0");
  const auto state = WindowState(m_form);
  EXPECT_EQ(state.at("lamp"), "NotConnected");
  EXPECT_EQ(state.at("CmdConnect"), "enabled");
  EXPECT_EQ(state.at("cmdquit"), "enabled");
  EXPECT_EQ(state.at("CmdDisconnect"), "disabled");
  EXPECT_EQ(state.at("CmdDnld"), "disabled");
  EXPECT_EQ(state.at("CmdStop"), "disabled");
  // RAW Data shown although its check box is unchecked; Formatted Output loaded but hidden.
  EXPECT_TRUE(m_form.FormOutput.Visible());
  EXPECT_EQ(m_form.chkRaw.Value(), 0);
  EXPECT_TRUE(m_form.FormDisplay.Loaded());
  EXPECT_FALSE(m_form.FormDisplay.Visible());
  EXPECT_EQ(m_form.chkDisp.Value(), 0);
  for (const ViewWindow* w : {&m_form.FormOutput, &m_form.FormDisplay}) {
    EXPECT_EQ(w->Geometry(), (Twips{2295, 4500, 9015, 4380}));
  }
}

TEST_F(StartUpTest, RestoresWhatTheLastRunStored) {
  m_settings.SaveSetting("VORLAN", "Properties", "RemoteHost", "");
  m_settings.SaveSetting("VORLAN", "Properties", "DeviceID", "2");
  m_settings.SaveSetting("VORLAN", "Properties", "MTime", "300");
  m_settings.SaveSetting("VORLAN", "Settings", "MainLeft", "150");
  m_settings.SaveSetting("VORLAN", "Settings", "MainTop", "300.5");
  m_settings.SaveSetting("VORLAN", "Settings", "MainWidth", "6000");
  m_settings.SaveSetting("VORLAN", "Settings", "MainHeight", "3000");
  m_settings.SaveSetting("VORLAN", "Settings", "DispLeft", "not a number");
  m_settings.SaveSetting("VORLAN", "Settings", "DispWidth", "");
  m_form.Form_Load();
  EXPECT_EQ(m_form.txtHost.Text(), "");
  EXPECT_EQ(m_form.cbDeviceID.Text(), "2");
  EXPECT_EQ(m_form.TxtMaxTime.Text(), "300");
  EXPECT_EQ(m_form.FormOutput.Geometry(), (Twips{150, 300.5f, 6000, 3000}));
  // Texts that are not numbers fall back to the built-in values.
  EXPECT_EQ(m_form.FormDisplay.Geometry(), (Twips{2295, 4500, 9015, 4380}));
}

TEST_F(StartUpTest, AStoredPlaceOffEveryScreenIsCorrectedOnceAndStored) {
  // The RAW Data window was left on a second screen that is gone; the other fits.
  struct OneScreen : Desktop {
    std::vector<Twips> Screens() const override {
      ++asked;
      return {{0, 0, 19200, 15360}};
    }
    mutable int asked = 0;
  } desktop;
  m_settings.SaveSetting("VORLAN", "Settings", "MainLeft", "25000");
  m_settings.SaveSetting("VORLAN", "Settings", "DispLeft", "1000");
  FormMain form({m_platform, m_settings, m_dialogs, m_dir.path(), &desktop});
  int moves = 0;
  QObject::connect(&form.FormOutput, &ViewWindow::GeometryChanged, [&] { ++moves; });
  form.Form_Load();
  EXPECT_EQ(desktop.asked, 1);
  EXPECT_EQ(form.FormOutput.Geometry(), (Twips{10185, 4500, 9015, 4380}));
  EXPECT_EQ(moves, 1);
  EXPECT_EQ(Setting("Settings", "MainLeft"), "10185");
  EXPECT_EQ(Setting("Settings", "MainTop"), "4500");
  EXPECT_EQ(form.FormDisplay.Geometry().left, 1000);
  EXPECT_EQ(Setting("Settings", "DispWidth"), "<absent>") << "a place that fits is not rewritten";
  // Later changes of the window do not correct it again.
  form.FormOutput.SetCaption("Vorlan(RAW Data) Records = 1  Device ID = 0");
  form.FormOutput.Move({-30000, 0, 9015, 4380});
  EXPECT_EQ(form.FormOutput.Geometry().left, -30000);
}

// A settings file is input like any other: what the program cannot use is refused (the value a
// first start gets) or cut to the screens (one 1280 x 1024 at 96 DPI, or none).
TEST_F(StartUpTest, StoredValuesItCannotUseAreRefusedOrCutToTheScreens) {
  struct OneScreen : Desktop {
    std::vector<Twips> Screens() const override { return {{0, 0, 19200, 15360}}; }
  } screen;
  const char* const rows[][4] = {  // key, stored, "screen" or no display, expected
      {"MTime", "86400", "", "86400"}, {"MTime", "", "", ""},  // empty: the alarm is off
      {"MTime", "abc", "", "120"},     {"MTime", "-5", "", "120"}, {"MTime", "2147483648", "", "120"},
      {"DeviceID", "3", "", "3"},      {"DeviceID", "12", "", "0"}, {"DeviceID", "", "", "0"},
      {"MainWidth", "3e5", "screen", "19200"}, {"MainWidth", "3e5", "", "115200"},
  };
  for (const auto& [key, stored, display, expected] : rows) {
    FormRig rig;
    const QByteArray name(key);
    rig.m_settings.SaveSetting("VORLAN", name == "MainWidth" ? "Settings" : "Properties", key,
                               stored);
    FormMain form({rig.m_platform, rig.m_settings, rig.m_dialogs, rig.m_dir.path(),
                   *display ? &screen : nullptr});
    form.Form_Load();
    const QString read = name == "MTime"      ? form.TxtMaxTime.Text()
                         : name == "DeviceID" ? form.cbDeviceID.Text()
                                              : QString::number(form.FormOutput.Geometry().width);
    EXPECT_EQ(read, QString(expected)) << key << "=" << stored << " " << display;
  }
}

using ShutDownTest = FormTest;

TEST_F(ShutDownTest, NotConnectedEndsAtOnceAndStoresBothWindows) {
  m_form.Form_Load();
  m_form.FormOutput.Move({100, 200, 7000, 3000});
  m_form.FormDisplay.Move({1500, 2500, 8000, 4000});
  bool ended = false;
  QObject::connect(&m_form, &FormMain::ProgramEnded, [&] { ended = true; });
  m_form.cmdquit_Click();
  EXPECT_TRUE(ended);
  EXPECT_EQ(m_platform.Elapsed(), 0ms);
  EXPECT_EQ(m_form.StatusBar.Panel(1), "  PBX Disconnected!  ");
  EXPECT_EQ(Setting("Settings", "MainLeft"), "100");
  EXPECT_EQ(Setting("Settings", "MainTop"), "200");
  EXPECT_EQ(Setting("Settings", "MainWidth"), "7000");
  EXPECT_EQ(Setting("Settings", "MainHeight"), "3000");
  EXPECT_EQ(Setting("Settings", "DispLeft"), "1500");
  EXPECT_EQ(Setting("Settings", "DispHeight"), "4000");
  EXPECT_FALSE(m_form.FormOutput.Loaded());
  EXPECT_FALSE(m_form.FormDisplay.Loaded());
  // The next start puts them back.
  FormMain next({m_platform, m_settings, m_dialogs, m_dir.path()});
  next.Form_Load();
  EXPECT_EQ(next.FormOutput.Geometry(), (Twips{100, 200, 7000, 3000}));
  EXPECT_EQ(next.FormDisplay.Geometry(), (Twips{1500, 2500, 8000, 4000}));
}

TEST_F(ShutDownTest, ConnectedWaitsForTheExchangeToClose) {
  LoadAndConnect();
  Peer().TakeSent();
  QObject::connect(&Peer(), &VirtualSocket::Sending, [this](const QByteArray&) {
    m_platform.At(200ms, [this] { Peer().PeerClose(); });
  });
  bool ended = false;
  QObject::connect(&m_form, &FormMain::ProgramEnded, [&] { ended = true; });
  const auto start = m_platform.Elapsed();
  m_form.Form_Unload();
  EXPECT_FALSE(ended) << "the program runs on while it waits";
  ASSERT_TRUE(m_platform.WaitUntil([&] { return ended; }, 10s));
  EXPECT_EQ(Hex(Peer().TakeSent()), "16 36 30 30 30 30 33 30 31 06 FD");
  EXPECT_EQ(m_platform.Elapsed() - start, 250ms);  // 50 ms flash, then 200 ms to the close
  EXPECT_FALSE(m_form.CurrentLogFile().IsOpen());
}

// An exchange that never ends the connection must not keep the program from ending.
TEST_F(ShutDownTest, SilentExchangeIsClosedFromOurSideAfterABoundedWait) {
  LoadAndConnect();
  bool ended = false;
  QObject::connect(&m_form, &FormMain::ProgramEnded, [&] { ended = true; });
  const auto start = m_platform.Elapsed();
  m_form.Form_Unload();
  ASSERT_TRUE(m_platform.WaitUntil([&] { return ended; }, 10s));
  EXPECT_GE(m_platform.Elapsed() - start, 5000ms);
  EXPECT_LT(m_platform.Elapsed() - start, 6000ms);
  EXPECT_EQ(Peer().State(), Socket::sckClosed);
  EXPECT_FALSE(m_form.CurrentLogFile().IsOpen());
  EXPECT_EQ(m_form.StatusBar.Panel(1), "  PBX Disconnected!  ");
}

TEST_F(ShutDownTest, ASecondCloseWhileWaitingDoesNotRunItTwice) {
  LoadAndConnect();
  int ended = 0;
  QObject::connect(&m_form, &FormMain::ProgramEnded, [&] { ++ended; });
  m_platform.At(1000ms, [this] { m_form.Form_Unload(); });
  m_form.Form_Unload();
  m_platform.RunFor(10s);
  EXPECT_EQ(ended, 1);
}

using WindowHandlersTest = FormTest;

TEST_F(WindowHandlersTest, CheckBoxesShowAndHideTheViews) {
  m_form.Form_Load();
  m_form.chkRaw.SetValue(1);
  EXPECT_TRUE(m_form.FormOutput.Visible());
  m_form.chkRaw.SetValue(0);
  EXPECT_FALSE(m_form.FormOutput.Visible());
  m_form.chkDisp.SetValue(1);
  EXPECT_TRUE(m_form.FormDisplay.Visible());
  m_form.chkDisp.SetValue(0);
  EXPECT_FALSE(m_form.FormDisplay.Visible());
}

TEST_F(WindowHandlersTest, ClosingAViewStoresItUnchecksItAndDiscardsItsText) {
  m_form.Form_Load();
  m_form.chkRaw.SetValue(1);
  AppendToTerminal(m_form.txtout(), "line\r\n");
  m_form.FormOutput.Move({30, 45, 6000, 3000});
  m_form.FormOutput_Unload();
  EXPECT_EQ(m_form.chkRaw.Value(), 0);
  EXPECT_EQ(Setting("Settings", "MainLeft"), "30");
  EXPECT_FALSE(m_form.FormOutput.Loaded());
  // Used again, it comes back hidden and empty, at its built-in place.
  AppendToTerminal(m_form.txtout(), "next\r\n");
  EXPECT_TRUE(m_form.FormOutput.Loaded());
  EXPECT_FALSE(m_form.FormOutput.Visible());
  EXPECT_EQ(m_form.txtout().Text(), "next\r\n");
  EXPECT_EQ(m_form.FormOutput.Geometry(), ViewWindow::kBuiltIn);

  m_form.chkDisp.SetValue(1);
  m_form.FormDisplay_Unload();
  EXPECT_EQ(m_form.chkDisp.Value(), 0);
  EXPECT_EQ(Setting("Settings", "DispWidth"), "9015");
}

TEST_F(WindowHandlersTest, ClearEmptiesTheRawViewButKeepsTheCount) {
  m_form.Form_Load();
  const QString counted = m_form.StatusBar.Panel(3);
  AppendToTerminal(m_form.txtout(), "abc\r\n");
  m_form.CmdCls_Click();
  EXPECT_EQ(m_form.txtout().Text(), "");
  EXPECT_EQ(m_form.txtout().SelStart(), 0);
  EXPECT_EQ(m_form.StatusBar.Panel(3), counted);
  EXPECT_EQ(m_form.RecordCount(), 0);
}

TEST_F(WindowHandlersTest, MaxTimeKeepsOnlyWhatMainKeyboardDigitsLeave) {
  m_form.Form_Load();
  struct Step {
    const char* typed;  // the text after the key's character went in
    int keyCode;
    const char* after;
  };
  const Step steps[] = {
      {"1", 49, "1"}, {"12", 50, "12"}, {"12A", 65, ""},  // a letter empties it
      {"4", 52, "4"}, {"45", 53, "45"}, {"4", 8, ""},     // so does Backspace
      {"7", 103, ""},                                     // and a keypad digit
      {"9", 57, "9"}, {"9", 16, ""},                      // and Shift
      {"0", 48, "0"}, {"0", 46, ""},                      // and Delete
  };
  for (const Step& step : steps) {
    m_form.TxtMaxTime.SetText(step.typed);
    m_form.TxtMaxTime_KeyUp(step.keyCode);
    EXPECT_EQ(m_form.TxtMaxTime.Text(), step.after) << "key " << step.keyCode;
  }
}

TEST_F(WindowHandlersTest, HelpAboutAsksForTheAboutBox) {
  int asked = 0;
  QObject::connect(&m_form, &FormMain::AboutRequested, [&] { ++asked; });
  m_form.mnuHelpAbout_Click();
  EXPECT_EQ(asked, 1);
}

}  // namespace
}  // namespace vorlan
