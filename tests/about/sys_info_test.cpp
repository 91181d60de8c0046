#include <gtest/gtest.h>

#include "about/memory_registry.h"
#include "about/sys_info.h"
#include "fakes.h"

namespace vorlan {
namespace {

const QString kMessage = QStringLiteral("System Information Is Unavailable At This Time");
const QString kFirstKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
const QString kSecondKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");
const QString kProgram = QStringLiteral("C:\\Program Files\\Common Files\\MSINFO\\MSINFO32.EXE");

QByteArray Sz(const char* text) { return QByteArray(text) + '\0'; }

class StartSysInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A fallback that is always available, so that using it wrongly shows.
    launcher.onPath.insert(QStringLiteral("sysinfo-tool"), QStringLiteral("/usr/bin/sysinfo-tool"));
  }

  void FirstPlace(const char* path) {
    registry.SetValue(kLocalMachineRoot, kFirstKey, "PATH", kTypeString, Sz(path));
  }
  void SecondPlace(const char* folder) {
    registry.SetValue(kLocalMachineRoot, kSecondKey, "MSINFO", kTypeString, Sz(folder));
  }
  void Run() { StartSysInfo(registry, launcher, dialogs, fallback); }

  QStringList Started() const {
    QStringList programs;
    for (const auto& start : launcher.starts) programs.append(start.program);
    return programs;
  }
  void ExpectUnavailableMessage() {
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_EQ(dialogs.messages[0].text, kMessage);
    EXPECT_EQ(dialogs.messages[0].title, QStringLiteral("VORLAN"));
    EXPECT_EQ(dialogs.messages[0].icon, Dialogs::Icon::None);
  }

  MemoryRegistry registry;
  test::FakeLauncher launcher;
  test::RecordingDialogs dialogs;
  QList<SysInfoCandidate> fallback{{QStringLiteral("sysinfo-tool"), {}}};
};

TEST_F(StartSysInfoTest, FirstPlaceIsStartedWithoutAFileTest) {
  FirstPlace("C:\\Tools\\MSINFO32.EXE");
  SecondPlace("C:\\Other");
  Run();
  EXPECT_EQ(Started(), QStringList{QStringLiteral("C:\\Tools\\MSINFO32.EXE")});
  EXPECT_TRUE(launcher.fileTests.isEmpty()) << launcher.fileTests.join(", ").toStdString();
  EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(StartSysInfoTest, SecondPlaceStartsTheProgramInThatFolderWhenItExists) {
  SecondPlace("C:\\Program Files\\Common Files\\MSINFO");
  launcher.files.insert(kProgram);
  Run();
  EXPECT_EQ(launcher.fileTests, QStringList{kProgram});
  EXPECT_EQ(Started(), QStringList{kProgram});
  EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(StartSysInfoTest, SecondPlaceWithoutTheProgramTellsTheOperator) {
  SecondPlace("C:\\Program Files\\Common Files\\MSINFO");
  Run();
  EXPECT_EQ(launcher.fileTests, QStringList{kProgram});
  EXPECT_TRUE(Started().isEmpty()) << "no fallback while a registry place exists";
  ExpectUnavailableMessage();
}

TEST_F(StartSysInfoTest, ProgramThatCannotBeStartedTellsTheOperator) {
  FirstPlace("C:\\Gone\\MSINFO32.EXE");
  launcher.unstartable.insert(QStringLiteral("C:\\Gone\\MSINFO32.EXE"));
  Run();
  EXPECT_EQ(Started(), QStringList{QStringLiteral("C:\\Gone\\MSINFO32.EXE")})
      << "no fallback while a registry place exists";
  ExpectUnavailableMessage();
}

TEST_F(StartSysInfoTest, NeitherPlaceTakesTheFirstCandidateThatStarts) {
  fallback = {{QStringLiteral("absent"), {}},
              {QStringLiteral("broken"), {}},
              {QStringLiteral("viewer"), {QStringLiteral("--system")}},
              {QStringLiteral("sysinfo-tool"), {}}};
  launcher.onPath.insert(QStringLiteral("broken"), QStringLiteral("/opt/broken"));
  launcher.onPath.insert(QStringLiteral("viewer"), QStringLiteral("/opt/viewer"));
  launcher.unstartable.insert(QStringLiteral("/opt/broken"));
  Run();
  EXPECT_EQ(Started(), (QStringList{QStringLiteral("/opt/broken"), QStringLiteral("/opt/viewer")}));
  EXPECT_EQ(launcher.starts.last().arguments, QStringList{QStringLiteral("--system")});
  EXPECT_TRUE(dialogs.messages.isEmpty());
}

TEST_F(StartSysInfoTest, NeitherPlaceAndNoCandidateTellsTheOperator) {
  launcher.onPath.clear();
  Run();
  EXPECT_TRUE(Started().isEmpty());
  ExpectUnavailableMessage();
}

TEST_F(StartSysInfoTest, PlatformCandidatesAreLookedUpOnTheSearchPath) {
  const QList<SysInfoCandidate> candidates = DefaultSysInfoCandidates();
  ASSERT_FALSE(candidates.isEmpty());
  const SysInfoCandidate& last = candidates.last();
  launcher.onPath.insert(last.program, QStringLiteral("/found/") + last.program);
  StartSysInfo(registry, launcher, dialogs);
  ASSERT_EQ(launcher.starts.size(), 1);
  EXPECT_EQ(launcher.starts[0].program, QStringLiteral("/found/") + last.program);
  EXPECT_EQ(launcher.starts[0].arguments, last.arguments);
}

TEST(QtProgramLauncherTest, MissingProgramIsNotStarted) {
  QtProgramLauncher launcher;
  EXPECT_FALSE(launcher.StartDetached(QStringLiteral("/nonexistent/vorlan-sysinfo"), {}));
  EXPECT_FALSE(launcher.StartDetached(QString(), {}));
  EXPECT_FALSE(launcher.FileExists(QStringLiteral("/nonexistent/vorlan-sysinfo")));
  EXPECT_TRUE(launcher.FindExecutable(QStringLiteral("vorlan-no-such-program")).isEmpty());
}

}  // namespace
}  // namespace vorlan
