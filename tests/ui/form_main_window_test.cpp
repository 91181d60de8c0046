#include "ui/form_main_window.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>

#include "about/frm_about.h"
#include "support/form_fixture.h"
#include "ui/terminal_view.h"
#include "ui/view_window_widget.h"

namespace vorlan {
namespace {

class FormMainWindowTest : public FormTest {
 protected:
  void SetUp() override {
    m_form.Form_Load();
    m_window = std::make_unique<FormMainWindow>(m_form, m_dialogs);
    m_window->show();
  }
  template <typename T>
  T* Find(const char* name) {
    T* widget = m_window->findChild<T*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }
  std::unique_ptr<FormMainWindow> m_window;
};

TEST_F(FormMainWindowTest, ShowsEveryControlWithItsCaption) {
  EXPECT_EQ(m_window->windowTitle(), "VORLAN");
  const std::pair<const char*, const char*> buttons[] = {
      {"CmdConnect", "Connect"}, {"CmdDisconnect", "Disconnect"},
      {"CmdDnld", "DownLoad"},   {"CmdStop", "Stop"},
      {"cmdquit", "Quit"},       {"Command1", "Command1"}};
  for (const auto& [name, caption] : buttons) {
    EXPECT_EQ(Find<QPushButton>(name)->text(), caption);
  }
  EXPECT_EQ(Find<QPushButton>("CmdConnect")->toolTip(), "Attempt PBX Connection..");
  EXPECT_EQ(Find<QGroupBox>("Frame3")->title(), "PBX-Connection Configuration");
  EXPECT_EQ(Find<QGroupBox>("Frame1")->title(), "Connection-Status");
  EXPECT_EQ(Find<QGroupBox>("Frame2")->title(), "Display");
  EXPECT_EQ(Find<QCheckBox>("chkDisp")->text(), "Show Formatted Output");
  EXPECT_EQ(Find<QCheckBox>("chkRaw")->text(), "Show RAW Data Output");
  EXPECT_EQ(Find<QLabel>("LblMaxTime")->text(), "Generate ERROR if call exceeds value (seconds)");
  EXPECT_EQ(Find<QLineEdit>("txtHost")->text(), "0.0.0.0");
  EXPECT_EQ(Find<QLineEdit>("TxtMaxTime")->text(), "120");
  EXPECT_EQ(Find<QComboBox>("cbDeviceID")->count(), 4);
  EXPECT_EQ(Find<QComboBox>("cbDeviceID")->currentText(), "0");
  EXPECT_EQ(Find<QLabel>("Panel3")->text(), "Records = 0");
  QStringList menus;
  for (QAction* a : m_window->menuBar()->actions()) menus << a->text();
  EXPECT_EQ(menus, (QStringList{"&File", "E&dit", "&Help"}));
  EXPECT_FALSE(Find<QPushButton>("CmdDisconnect")->isEnabled());
  EXPECT_TRUE(m_window->rawDataWindow()->isVisible());
  EXPECT_EQ(m_window->rawDataWindow()->windowTitle(), "VORLAN: RAW Data");
  EXPECT_FALSE(m_window->formattedWindow()->isVisible());
}

TEST_F(FormMainWindowTest, TypingIntoMaxTimeKeepsDigitsOnly) {
  auto* box = Find<QLineEdit>("TxtMaxTime");
  box->clear();
  m_form.TxtMaxTime.SetText("");
  QTest::keyClicks(box, "12A");
  EXPECT_EQ(box->text(), "");
  EXPECT_EQ(m_form.TxtMaxTime.Text(), "");
  QTest::keyClicks(box, "45");
  EXPECT_EQ(m_form.TxtMaxTime.Text(), "45");
  QTest::keyClick(box, Qt::Key_Backspace);
  EXPECT_EQ(m_form.TxtMaxTime.Text(), "");
  QTest::keyClick(box, Qt::Key_7, Qt::KeypadModifier);
  EXPECT_EQ(m_form.TxtMaxTime.Text(), "");
}

TEST_F(FormMainWindowTest, WidgetsFollowTheModelsAndForwardClicks) {
  auto* raw = Find<QCheckBox>("chkRaw");
  raw->click();
  EXPECT_EQ(m_form.chkRaw.Value(), 1);
  raw->click();
  EXPECT_FALSE(m_window->rawDataWindow()->isVisible());
  Find<QCheckBox>("chkDisp")->click();
  EXPECT_TRUE(m_window->formattedWindow()->isVisible());

  m_form.StatusBar.SetPanel(1, "  Connected to PBX...  ");
  EXPECT_EQ(Find<QLabel>("Panel1")->text(), "  Connected to PBX...  ");
  m_form.CmdStop.SetEnabled(true);
  EXPECT_TRUE(Find<QPushButton>("CmdStop")->isEnabled());

  QTest::keyClicks(Find<QLineEdit>("txtHost"), "1");
  EXPECT_EQ(m_form.txtHost.Text(), "0.0.0.01");
}

TEST_F(FormMainWindowTest, RawViewMirrorsAppendsTrimsAndClears) {
  QPlainTextEdit* view = m_window->rawDataWindow()->textBox();
  AppendToTerminal(m_form.txtout(), " ->: 16 \r\n");
  AppendToTerminal(m_form.txtout(), "<- : 16 31 \r\n");
  EXPECT_EQ(view->toPlainText(), " ->: 16 \n<- : 16 31 \n");
  for (int i = 0; i < 2000; ++i) AppendToTerminal(m_form.txtout(), "0123456789\r\n");
  QString model = m_form.txtout().Text();
  EXPECT_EQ(view->toPlainText(), model.replace("\r\n", "\n"));
  m_form.CmdCls_Click();
  EXPECT_EQ(view->toPlainText(), "");
}

TEST_F(FormMainWindowTest, ClosingTheRawWindowUnloadsItThroughTheModel) {
  Find<QCheckBox>("chkRaw")->click();
  m_window->rawDataWindow()->close();
  EXPECT_FALSE(m_form.FormOutput.Loaded());
  EXPECT_FALSE(Find<QCheckBox>("chkRaw")->isChecked());
  EXPECT_NE(Setting("Settings", "MainWidth"), "<absent>");
}

TEST_F(FormMainWindowTest, HelpAboutOpensOneAboutBoxThatClosesWithTheProgram) {
  m_form.mnuHelpAbout_Click();
  QPointer<frmAbout> box = m_window->aboutBox();
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->isVisible());
  EXPECT_EQ(box->windowTitle(), "About VORLAN");
  m_form.mnuHelpAbout_Click();
  EXPECT_EQ(m_window->aboutBox(), box.data()) << "brought forward, not opened twice";
  m_form.Form_Unload();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(box.isNull() || !box->isVisible());
}

}  // namespace
}  // namespace vorlan
