#include "ui/form_main_window.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QPlainTextEdit>
#include <QTableView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QWindow>

#include "about/frm_about.h"
#include "app/imported_records.h"
#include "call_records.h"
#include "format/call_csv.h"
#include "format/record_formatter.h"
#include "support/form_fixture.h"
#include "window_fixture.h"
#include "ui/qt_dialogs.h"
#include "ui/terminal_view.h"
#include "ui/view_window_widget.h"

namespace vorlan {
namespace {

using FormMainWindowTest = WindowTest;

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
  auto* deviceId = Find<QComboBox>("cbDeviceID");
  ASSERT_EQ(deviceId->count(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(deviceId->itemText(i), QString::number(i));
  EXPECT_EQ(deviceId->currentText(), "0");
  EXPECT_EQ(Find<QLabel>("Panel3")->text(), "Records = 0");
  QStringList menus;
  for (QAction* a : m_window->menuBar()->actions()) menus << a->text();
  EXPECT_EQ(menus, (QStringList{"&File", "E&dit", "&Help"}));
  QStringList fileItems;
  for (QAction* a : m_window->menuBar()->actions().front()->menu()->actions()) fileItems << a->text();
  EXPECT_EQ(fileItems, (QStringList{"&Import", "&Export...", "&Trace Traffic to Files", "", "&Exit"}));
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

// Keys as the window system delivers them, to the widget that has the focus at that moment
// (> 0 a press, < 0 a release): only a key typed into the box empties it, not the release of
// one pressed elsewhere (the Tab that brings the focus, the Enter that closes a dialog).
TEST_F(FormMainWindowTest, MaxTimeIsEmptiedOnlyByKeysTypedIntoIt) {
  const auto keys = [](QWidget* to, const std::vector<int>& codes) {
    to->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(to));
    for (const int code : codes) {
      if (code > 0) QTest::keyPress(to->windowHandle(), Qt::Key(code));
      if (code < 0) QTest::keyRelease(to->windowHandle(), Qt::Key(-code));
    }
  };
  const auto enterInADialog = [&] {
    QMessageBox dialog(m_window.get());
    dialog.open();
    keys(&dialog, {Qt::Key_Return});
    ASSERT_FALSE(dialog.isVisible()) << "closed on the press";
    keys(m_window.get(), {-Qt::Key_Return});
  };
  const int tab = Qt::Key_Tab, backtab = Qt::Key_Backtab, shift = Qt::Key_Shift;
  const std::tuple<const char*, std::vector<int>, const char*> rows[] = {
      {"Tab out, Shift+Tab back", {tab, -tab, shift, backtab, -backtab, -shift}, "600"},
      {"Shift+Tab out, Tab back", {shift, backtab, -backtab, -shift, tab, -tab}, "600"},
      {"Enter that closes a dialog", {}, "600"},
      {"Enter typed", {Qt::Key_Return, -Qt::Key_Return}, ""},
  };
  for (const auto& [name, codes, after] : rows) {
    m_form.TxtMaxTime.SetText("600");
    Find<QLineEdit>("TxtMaxTime")->setFocus();
    codes.empty() ? enterInADialog() : keys(m_window.get(), codes);
    EXPECT_TRUE(Find<QLineEdit>("TxtMaxTime")->hasFocus()) << name;
    EXPECT_EQ(m_form.TxtMaxTime.Text().toStdString(), after) << name;
  }
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
  const auto shown = [&] {
    return QString(m_form.txtout().Text()).replace("\r\n", "\n").replace(QChar(13), QChar(10));
  };
  AppendToTerminal(m_form.txtout(), " ->: 16 \r\n");
  AppendToTerminal(m_form.txtout(), "<- : 16 31 \r\n");
  EXPECT_EQ(view->toPlainText(), "") << "the view follows once per turn of the event loop";
  QCoreApplication::processEvents();
  EXPECT_EQ(view->toPlainText(), " ->: 16 \n<- : 16 31 \n");
  // Appends of every shape, a few per turn, across many trims: pairs cut by a trim, lone CRs,
  // a CR at the end that the next append pairs with, backspaces erasing the end.
  std::srand(7);
  const QString pieces[] = {"0123456789\r\n", "\r",      "\n",
                            "ab\rcd\r\n",     "\bx\r\n", " ->: Error \r\n"};
  for (int turn = 0; turn < 600; ++turn) {
    for (int n = std::rand() % 4; n >= 0; --n) {
      QString text;
      for (int k = std::rand() % 40; k >= 0; --k) text += pieces[std::rand() % 6];
      if (std::rand() % 50 == 0) {
        m_form.txtout().Replace(int(m_form.txtout().Text().size()), 0, text);  // raw, no rules
      } else {
        AppendToTerminal(m_form.txtout(), text);
      }
    }
    QCoreApplication::processEvents();
    ASSERT_EQ(view->toPlainText(), shown()) << "turn " << turn;
    ASSERT_EQ(view->textCursor().position(), view->document()->characterCount() - 1);
  }
  EXPECT_LE(m_form.txtout().Text().size(), 16000 + 4000);
  m_form.CmdCls_Click();
  QCoreApplication::processEvents();
  EXPECT_EQ(view->toPlainText(), "");
}

TEST_F(FormMainWindowTest, EveryWayAFieldsTextChangesReachesItsModel) {
  // Typed, set by the widget's own setter, and set through the accessibility interface as a
  // screen reader or an on-screen keyboard does.
  const auto viaAccessibility = [](QWidget* w, const QString& text) {
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
    ASSERT_NE(a, nullptr);
    a->setText(QAccessible::Value, text);
  };
  auto* host = Find<QLineEdit>("txtHost");
  auto* maxTime = Find<QLineEdit>("TxtMaxTime");
  QLineEdit* deviceId = Find<QComboBox>("cbDeviceID")->lineEdit();
  viaAccessibility(host, "10.1.2.3");
  EXPECT_EQ(m_form.txtHost.Text(), "10.1.2.3");
  viaAccessibility(maxTime, "600");
  EXPECT_EQ(m_form.TxtMaxTime.Text(), "600");
  viaAccessibility(deviceId, "2");
  EXPECT_EQ(m_form.cbDeviceID.Text(), "2");
  host->setText("192.168.0.9");
  EXPECT_EQ(m_form.txtHost.Text(), "192.168.0.9");
  host->selectAll();
  QTest::keyClicks(host, "pbx");
  EXPECT_EQ(m_form.txtHost.Text(), "pbx");
  // And Connect dials what the field shows.
  m_form.CmdConnect_Click();
  EXPECT_EQ(m_platform.SocketAt(0)->RemoteHost(), "pbx");
}

TEST_F(FormMainWindowTest, EnterInTheDeviceIdBoxKeepsTheModelsList) {
  auto* box = Find<QComboBox>("cbDeviceID");
  box->lineEdit()->selectAll();
  QTest::keyClicks(box->lineEdit(), "7");
  QTest::keyClick(box->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(m_form.cbDeviceID.Text(), "7");
  EXPECT_EQ(box->count(), 4);
  m_form.cbDeviceID.AddItem("4");
  ASSERT_EQ(box->count(), 5);
  EXPECT_EQ(box->itemText(4), "4");
  EXPECT_EQ(box->currentText(), "7") << "a new list item does not replace the text";
  box->setCurrentIndex(1);
  EXPECT_EQ(m_form.cbDeviceID.Text(), "1");
}

TEST_F(FormMainWindowTest, LabelsLabelTheirFields) {
  const std::pair<const char*, QWidget*> cases[] = {
      {"Host:", Find<QLineEdit>("txtHost")},
      {"Device ID:", Find<QComboBox>("cbDeviceID")},
      {"Generate ERROR if call exceeds value (seconds)", Find<QLineEdit>("TxtMaxTime")},
  };
  for (const auto& [text, field] : cases) {
    QLabel* label = nullptr;
    for (QLabel* l : m_window->findChildren<QLabel*>()) {
      if (l->text() == text) label = l;
    }
    ASSERT_NE(label, nullptr) << text;
    EXPECT_EQ(label->buddy(), field) << text;
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(field);
    bool labelled = false;
    for (const auto& [other, relation] : a->relations(QAccessible::Label)) {
      labelled = labelled || other->object() == label;
    }
    EXPECT_TRUE(labelled) << text;
  }
}

TEST_F(FormMainWindowTest, AViewWindowStaysWhereTheOperatorPutItWhateverItsModelDoes) {
  ViewWindowWidget* raw = m_window->rawDataWindow();
  // Off the screen's left edge, as an operator may leave it.
  const double tpp = raw->TwipsPerPixel();
  m_form.FormOutput.Move({float(-500 * tpp), float(20 * tpp), float(400 * tpp), float(300 * tpp)});
  QCoreApplication::processEvents();
  const QPoint place = raw->pos();
  EXPECT_LT(place.x(), -400);
  m_form.FormOutput.SetCaption("Vorlan(RAW Data) Records = 1  Device ID = 0");
  AppendToTerminal(m_form.txtout(), " x\r\n");
  m_form.FormOutput.Hide();
  m_form.FormOutput.Show();
  QCoreApplication::processEvents();
  EXPECT_EQ(raw->pos(), place);
  EXPECT_EQ(raw->windowTitle(), "Vorlan(RAW Data) Records = 1  Device ID = 0");
}

// Paused, the RAW Data view keeps its text and selection; after, it shows what the model holds
// and how many lines the view's size left out.
TEST_F(FormMainWindowTest, PauseHoldsTheRawViewStillAndCatchesUpAfter) {
  ViewWindowWidget* raw = m_window->rawDataWindow();
  TerminalView* view = raw->textBox();
  AppendToTerminal(m_form.txtout(), " first\r\n");
  QCoreApplication::processEvents();
  raw->pauseBox()->click();
  view->selectAll();
  const QString held = view->toPlainText();
  for (int i = 0; i < 3; ++i) AppendToTerminal(m_form.txtout(), QString(" line %1\r\n").arg(i));
  QCoreApplication::processEvents();
  EXPECT_EQ(view->textCursor().selectedText().size(), held.size()) << "selection kept";
  EXPECT_EQ(raw->pauseNote()->text(), "3 new lines held");

  // More than the view keeps: the oldest lines that came during the pause go unseen.
  for (int i = 0; i < 2000; ++i) AppendToTerminal(m_form.txtout(), QString(" %1\r\n").arg(i, 12));
  QCoreApplication::processEvents();
  EXPECT_EQ(view->toPlainText(), held);
  const qsizetype kept = m_form.txtout().Text().count('\n');
  EXPECT_EQ(view->LeftOutLines(), 2003 - kept);
  EXPECT_EQ(raw->pauseNote()->text(),
            QString("2003 new lines held, %1 of them beyond the view's size").arg(2003 - kept));

  raw->pauseBox()->click();
  EXPECT_EQ(view->toPlainText(), QString(m_form.txtout().Text()).replace("\r\n", "\n"));
  EXPECT_EQ(raw->pauseNote()->text(),
            QString("%1 lines that came while paused were left out").arg(2003 - kept));
  AppendToTerminal(m_form.txtout(), " after\r\n");
  QCoreApplication::processEvents();
  EXPECT_TRUE(view->toPlainText().endsWith(" after\n"));
}

// Made as small as the operator likes, every button still reads whole.
TEST_F(FormMainWindowTest, ButtonsStayWholeAtAnySizeAndThePictureButtonIsNamed) {
  m_window->show();
  m_window->resize(500, 200);
  QCoreApplication::processEvents();
  for (QPushButton* button : m_window->findChildren<QPushButton*>()) {
    if (!button->isVisible()) continue;
    EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
  }
  EXPECT_EQ(Find<QToolButton>("CmdCls")->accessibleName(), "Clear RAW Data view");
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
