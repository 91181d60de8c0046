#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include "about/frm_about.h"
#include "about/memory_registry.h"
#include "fakes.h"

namespace vorlan {
namespace {

class FrmAboutTest : public ::testing::Test {
 protected:
  void TearDown() override { delete box.data(); }

  frmAbout* Load() {
    box = new frmAbout(services);
    return box;
  }
  template <typename T>
  T* Control(const char* name) {
    T* control = box->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  // Closing unloads the box: it is deleted once the event loop gets to it.
  bool Unloaded() {
    return QTest::qWaitFor([this] { return box.isNull(); }, 1000);
  }

  MemoryRegistry registry;
  test::FakeLauncher launcher;
  test::RecordingDialogs dialogs;
  AboutServices services{registry, launcher, dialogs};
  QPointer<frmAbout> box;
};

TEST(VersionTextTest, NumbersInDecimalWithoutLeadingZeros) {
  EXPECT_EQ(VersionText(1, 0, 102), QStringLiteral("Version 1.0.102"));
  EXPECT_EQ(VersionText(10, 20, 3), QStringLiteral("Version 10.20.3"));
}

TEST_F(FrmAboutTest, TextsAreSetWhenLoaded) {
  Load();
  EXPECT_EQ(box->objectName(), QStringLiteral("frmAbout"));
  EXPECT_EQ(box->windowTitle(), QStringLiteral("About VORLAN"));
  EXPECT_EQ(Control<QLabel>("lblTitle")->text(), QStringLiteral("VORLAN\r\nFor Windows 95/98/NT"));
  EXPECT_EQ(Control<QLabel>("lblVersion")->text(),
            QStringLiteral("Version " VORLAN_PROJECT_VERSION));
  EXPECT_EQ(Control<QPushButton>("cmdOK")->text(), QStringLiteral("OK"));
  EXPECT_EQ(Control<QPushButton>("cmdSysInfo")->text(), QStringLiteral("&System Info..."));
  const QLabel* image = Control<QLabel>("Image1");
  EXPECT_EQ(image->pixmap().size(), QSize(16, 16));
  EXPECT_FALSE(box->isModal());
}

TEST_F(FrmAboutTest, TitleShowsAsTwoLines) {
  Load();
  const QLabel* title = Control<QLabel>("lblTitle");
  const QFontMetrics metrics(title->font());
  EXPECT_GE(title->sizeHint().height(), 2 * metrics.height());
  EXPECT_LT(title->sizeHint().width(), metrics.horizontalAdvance(title->text()))
      << "the second line follows the first instead of standing beneath it";
}

TEST_F(FrmAboutTest, DescriptionKeepsItsRunOfBlanks) {
  Load();
  const QLabel* description = Control<QLabel>("lblDescription");
  const QString head =
      QStringLiteral("Station Message Data Record (SMDR) Evaluation and Debugging Tool.");
  const QString tail = QStringLiteral("Features: TCP/IP Support,  Import,  Export.");
  const QString text = description->text();
  ASSERT_TRUE(text.startsWith(head)) << text.toStdString();
  ASSERT_TRUE(text.endsWith(tail)) << text.toStdString();
  const QString gap = text.mid(head.size(), text.size() - head.size() - tail.size());
  EXPECT_EQ(gap.size(), 74);
  EXPECT_EQ(gap.count(QLatin1Char(' ')), 74);
  EXPECT_TRUE(description->wordWrap());
}

TEST_F(FrmAboutTest, CentredOnTheScreen) {
  Load();
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  const QRect window = box->geometry();
  EXPECT_LE(std::abs(window.center().x() - screen.center().x()), 1) << window.x();
  EXPECT_LE(std::abs(window.center().y() - screen.center().y()), 1) << window.y();
}

TEST_F(FrmAboutTest, OkIsTheDefaultAndCancelButton) {
  Load();
  auto* ok = Control<QPushButton>("cmdOK");
  EXPECT_TRUE(ok->isDefault());
  EXPECT_FALSE(Control<QPushButton>("cmdSysInfo")->isDefault());
  box->show();
  QSignalSpy clicks(ok, &QPushButton::clicked);
  QTest::keyClick(box, Qt::Key_Escape);
  EXPECT_EQ(clicks.count(), 1) << "Esc presses OK";
  EXPECT_TRUE(Unloaded());

  Load();
  box->show();
  QSignalSpy enterClicks(Control<QPushButton>("cmdOK"), &QPushButton::clicked);
  QTest::keyClick(box, Qt::Key_Return);
  EXPECT_EQ(enterClicks.count(), 1) << "Enter presses OK";
  EXPECT_TRUE(Unloaded());
}

TEST_F(FrmAboutTest, OkUnloadsTheBox) {
  Load();
  box->show();
  QTest::mouseClick(Control<QPushButton>("cmdOK"), Qt::LeftButton);
  EXPECT_TRUE(Unloaded());
}

TEST_F(FrmAboutTest, SysInfoButtonStartsTheProgram) {
  registry.SetValue(kLocalMachineRoot, QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"),
                    QStringLiteral("PATH"), kTypeString, QByteArray("C:\\MSINFO32.EXE\0", 16));
  Load();
  box->show();
  QTest::mouseClick(Control<QPushButton>("cmdSysInfo"), Qt::LeftButton);
  ASSERT_EQ(launcher.starts.size(), 1);
  EXPECT_EQ(launcher.starts[0].program, QStringLiteral("C:\\MSINFO32.EXE"));
  EXPECT_TRUE(box->isVisible()) << "the box stays open";
}

TEST_F(FrmAboutTest, ShowAboutLoadsOnceAndAfreshAfterClosing) {
  frmAbout* first = ShowAbout(box, services);
  EXPECT_TRUE(first->isVisible());
  first->move(0, 0);
  EXPECT_EQ(ShowAbout(box, services), first) << "an open box is only brought forward";
  EXPECT_EQ(first->pos(), QPoint(0, 0));

  first->close();
  ASSERT_TRUE(Unloaded());
  frmAbout* second = ShowAbout(box, services);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(second->isVisible());
  EXPECT_NE(second->pos(), QPoint(0, 0)) << "centred again";
}

}  // namespace
}  // namespace vorlan
