#include <gtest/gtest.h>

#include <QFile>

#include "app/texts.h"
#include "platform/winsock_errors.h"
#include "support/form_fixture.h"
#include "hex.h"
#include "link/frame.h"
#include "logging/record_log.h"
#include "support/window_state.h"

namespace vorlan {
namespace {

using namespace std::chrono_literals;

using ConnectionTest = FormTest;

TEST_F(ConnectionTest, EachHandlerSetsTheWindowAsTheLinkRequires) {
  m_form.Form_Load();
  m_form.txtHost.SetText("127.0.0.1");
  m_form.cbDeviceID.SetText("1");
  const auto idle = WindowState(m_form);
  EXPECT_EQ(idle.at("lamp"), "NotConnected");

  m_form.CmdConnect_Click();
  const auto connecting = WindowState(m_form);
  EXPECT_EQ(connecting, With(idle, {{"txtHost", "disabled"},
                                    {"panel1", "  Attempting Connection...  "},
                                    {"panel2", ""}}));
  EXPECT_TRUE(m_form.CurrentLogFile().IsOpen());

  Peer().PeerAccept();
  m_platform.RunFor(1ms);
  const auto linked = WindowState(m_form);
  EXPECT_EQ(linked, With(connecting, {{"CmdConnect", "disabled"},
                                      {"CmdDisconnect", "enabled"},
                                      {"CmdDnld", "enabled"},
                                      {"CmdStop", "disabled"},
                                      {"cmdquit", "disabled"},
                                      {"cbDeviceID", "disabled"},
                                      {"lamp", "Connected"},
                                      {"panel1", "  Connected to PBX...  "}}));

  m_form.CmdDisconnect_Click();
  m_platform.RunFor(60ms);  // the transmit lamp's flash
  const auto releasing = WindowState(m_form);
  EXPECT_EQ(releasing, With(linked, {{"panel1", "  Closing Socket Connection...  "},
                                     {"panel2", ""}}));
  EXPECT_EQ(Peer().State(), Socket::sckConnected) << "the tool must not close the link itself";

  Peer().PeerClose();
  m_platform.RunFor(1ms);
  EXPECT_EQ(WindowState(m_form), With(releasing, {{"txtHost", "enabled"},
                                                  {"CmdConnect", "enabled"},
                                                  {"CmdDisconnect", "disabled"},
                                                  {"CmdDnld", "disabled"},
                                                  {"CmdStop", "disabled"},
                                                  {"cmdquit", "enabled"},
                                                  {"cbDeviceID", "enabled"},
                                                  {"lamp", "NotConnected"},
                                                  {"panel1", "  PBX Disconnected!  "},
                                                  {"panel2", ""}}));
  EXPECT_FALSE(m_form.CurrentLogFile().IsOpen());
}

TEST_F(ConnectionTest, DisconnectSendsTheRequestForTheDeviceIdInUse) {
  LoadAndConnect("3");
  Peer().TakeSent();
  m_form.CmdDisconnect_Click();
  m_platform.RunFor(kLampFlash);
  EXPECT_EQ(Hex(Peer().TakeSent()), "16 36 30 30 30 30 33 30 33 06 FF");
  // Pressed again while the exchange has not closed: another request.
  m_form.CmdDisconnect_Click();
  m_platform.RunFor(kLampFlash);
  EXPECT_EQ(Hex(Peer().TakeSent()), "16 36 30 30 30 30 33 30 33 06 FF");
}

TEST_F(ConnectionTest, ConnectSavesTheLinkFieldsAndConnectsOnceToPort60010) {
  m_form.Form_Load();
  m_form.txtHost.SetText("10.0.0.9");
  m_form.cbDeviceID.SetText("7");  // not in the list: saved as typed
  m_form.TxtMaxTime.SetText("");
  m_form.CmdConnect_Click();
  m_form.txtHost.SetText("10.0.0.10");  // a second press before the link is up
  m_form.CmdConnect_Click();
  EXPECT_EQ(Peer().ConnectAttempts(), 1);
  EXPECT_EQ(Peer().AttemptedHost(), "10.0.0.9");
  EXPECT_EQ(Peer().AttemptedPort(), 60010);
  EXPECT_EQ(Setting("Properties", "RemoteHost"), "10.0.0.10");
  EXPECT_EQ(Setting("Properties", "DeviceID"), "7");
  EXPECT_EQ(Setting("properties", "MTime"), "") << "an empty text is a value";
}

TEST_F(ConnectionTest, RefusedConnectionShowsIpErrorAndLeavesTheWindowReady) {
  m_form.Form_Load();
  m_form.txtHost.SetText("127.0.0.1");
  m_form.CmdConnect_Click();
  Peer().PeerRefuse(wsa::kConnectionRefused);
  m_platform.RunFor(1ms);
  ASSERT_EQ(m_dialogs.boxes.size(), 1u);
  EXPECT_EQ(m_dialogs.boxes[0].title, "IP-Error");
  EXPECT_EQ(m_dialogs.boxes[0].text, "Connection rejected...\r\nNumber 10061");
  EXPECT_EQ(m_dialogs.boxes[0].icon, Dialogs::Icon::Critical);
  EXPECT_TRUE(m_form.CmdConnect.Enabled());
  EXPECT_TRUE(m_form.txtHost.Enabled());
  EXPECT_FALSE(m_form.CmdDisconnect.Enabled());
  EXPECT_EQ(m_form.StatusBar.Panel(1), "  PBX Disconnected!  ");
  EXPECT_FALSE(m_form.LinkLamp.On());
  EXPECT_EQ(Peer().State(), Socket::sckClosed);
  // Ready for a new Connect, which takes host and port afresh.
  m_form.txtHost.SetText("127.0.0.2");
  m_form.CmdConnect_Click();
  EXPECT_EQ(Peer().ConnectAttempts(), 2);
  EXPECT_EQ(Peer().AttemptedHost(), "127.0.0.2");
}

TEST_F(ConnectionTest, OtherErrorsSayWhatHappenedAndWhatToCheck) {
  LoadAndConnect();
  const auto linked = WindowState(m_form);
  Peer().PeerFail(wsa::kConnectionReset, "Connection reset by peer");
  m_platform.RunFor(1ms);
  ASSERT_EQ(m_dialogs.boxes.size(), 1u);
  const QString& text = m_dialogs.boxes[0].text;
  EXPECT_TRUE(text.startsWith("The exchange reset the connection.\r\nIt may") &&
              text.endsWith("\r\nNumber 10054")) << text.toStdString();
  // Unlinked as after a close (the lamp no longer says Connected); the log file stays open.
  EXPECT_EQ(WindowState(m_form), With(linked, {{"txtHost", "enabled"},
                                               {"lamp", "NotConnected"},
                                               {"cmdquit", "enabled"},
                                               {"cbDeviceID", "enabled"},
                                               {"CmdConnect", "enabled"},
                                               {"CmdDisconnect", "disabled"},
                                               {"CmdDnld", "disabled"},
                                               {"CmdStop", "disabled"},
                                               {"panel1", "  PBX Disconnected!  "},
                                               {"panel2", ""}}));
  EXPECT_TRUE(m_form.CurrentLogFile().IsOpen());
}

TEST_F(ConnectionTest, ALogFileThatCannotBeOpenedStopsTheConnect) {
  QDir(LogsPath()).removeRecursively();
  m_form.Form_Load();
  m_form.txtHost.SetText("127.0.0.1");
  m_form.CmdConnect_Click();
  ASSERT_EQ(m_dialogs.boxes.size(), 1u);
  EXPECT_EQ(m_dialogs.boxes[0].title, "VORLAN");
  EXPECT_EQ(m_dialogs.boxes[0].icon, Dialogs::Icon::Warning);
  EXPECT_FALSE(m_dialogs.boxes[0].text.isEmpty());
  EXPECT_TRUE(m_form.txtHost.Enabled());
  EXPECT_EQ(Peer().ConnectAttempts(), 0);
  EXPECT_EQ(Setting("Properties", "RemoteHost"), "<absent>");
  // The folder was made: the next Connect opens 03051437.log and connects.
  m_form.CmdConnect_Click();
  EXPECT_EQ(Peer().ConnectAttempts(), 1);
  EXPECT_TRUE(QFile::exists(LogsPath() + "/03051437.log"));
}

// A peer that accepts and at once ends the connection: the Connect event's wait ends without
// the linked state, and the Close event resets the window.
TEST_F(ConnectionTest, ConnectEventWaitEndsWhenTheLinkDropsMeanwhile) {
  m_form.Form_Load();
  m_form.txtHost.SetText("127.0.0.1");
  m_form.CmdConnect_Click();
  Peer().PeerAccept();
  Peer().PeerClose();
  m_platform.RunFor(1ms);
  EXPECT_EQ(m_platform.Stalls(), 0);
  EXPECT_FALSE(m_form.LinkLamp.On());
  EXPECT_EQ(m_form.StatusBar.Panel(1), "  PBX Disconnected!  ");
  EXPECT_TRUE(m_form.CmdConnect.Enabled());
}

TEST_F(ConnectionTest, ReconnectAfterThePeerClosedTakesHostAndPortAgain) {
  LoadAndConnect();
  Peer().PeerClose();
  m_platform.RunFor(1ms);
  m_form.txtHost.SetText("127.0.0.5");
  m_form.CmdConnect_Click();
  EXPECT_EQ(Peer().ConnectAttempts(), 2);
  EXPECT_EQ(Peer().AttemptedHost(), "127.0.0.5");
  EXPECT_EQ(Peer().AttemptedPort(), 60010);
}

}  // namespace
}  // namespace vorlan
