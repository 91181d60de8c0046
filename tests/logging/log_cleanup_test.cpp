#include "logging/log_cleanup.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <vector>

#include "hex.h"
#include "logging/record_log.h"
#include "write_result_printer.h"

namespace vorlan::logging {
namespace {

struct LogFile {
  const char* name;
  int size;
  bool readOnly = false;
};

bool MakeFile(const QString& folder, const LogFile& entry) {
  QFile file(QDir(folder).filePath(entry.name));
  if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(entry.size, 'x')) != entry.size)
    return false;
  file.close();
  return !entry.readOnly || file.setPermissions(QFileDevice::ReadOwner | QFileDevice::ReadGroup |
                                               QFileDevice::ReadOther);
}

QString Remaining(const QString& folder) {
  return QDir(folder).entryList(QDir::Files, QDir::Name).join(',');
}

class CleanUpTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
  void Make(std::initializer_list<LogFile> files) {
    for (const LogFile& entry : files) {
      ASSERT_TRUE(MakeFile(m_dir.path(), entry)) << entry.name;
    }
  }
  QString PathOf(const char* name) const { return m_dir.filePath(name); }

  QTemporaryDir m_dir;
  RecordLog m_current;
};

struct CleanUpCase {
  const char* name;
  std::vector<LogFile> files;
  const char* current;  // opened as the program's log file, or nullptr
  const char* remaining;
  int deleted;
  const char* stoppedAt;  // "" when the run went through
  const char* otherProgram = nullptr;  // held open by another program's log, or nullptr
  int skippedInUse = 0;
};

// Listed out of name order on purpose: the run goes by name, not by creation.
const CleanUpCase kCases[] = {
    {"EmptyFilesGo", {{"C.log", 0}, {"A.log", 0}, {"B.log", 120}}, nullptr, "B.log", 2, ""},
    {"CurrentFileIsSkipped",
     {{"C.log", 0}, {"A.log", 0}, {"B.log", 120}},
     "C.log",
     "B.log,C.log",
     1,
     ""},
    {"OnlyLogFilesAreLookedAt",
     {{"A.log", 0}, {"notes.txt", 0}, {"A.log.bak", 0}},
     nullptr,
     "A.log.bak,notes.txt",
     1,
     ""},
    {"ReadOnlyEmptyFileStopsTheRun",
     {{"D.log", 0}, {"A.log", 0}, {"B.log", 0, true}, {"C.log", 0}},
     nullptr,
     "B.log,C.log,D.log",
     1,
     "B.log"},
    {"ReadOnlyFileWithRecordsIsKept", {{"A.log", 7, true}, {"B.log", 0}}, nullptr, "A.log", 1, ""},
    {"EmptyFolder", {}, nullptr, "", 0, ""},
    {"FileAnotherProgramLogsToIsSkipped", {{"A.log", 0}, {"B.log", 0}}, nullptr, "B.log", 1, "", "B.log", 1},
};

class CleanUpCases : public CleanUpTest, public ::testing::WithParamInterface<CleanUpCase> {};

TEST_P(CleanUpCases, DeleteEmptyLogsUntilAFailure) {
  const CleanUpCase& c = GetParam();
  for (const LogFile& entry : c.files) {
    ASSERT_TRUE(MakeFile(m_dir.path(), entry)) << entry.name;
  }
  if (c.current) {
    ASSERT_TRUE(m_current.Open(PathOf(c.current), nullptr));
  }
  RecordLog otherProgram;  // a collector sharing the folder
  ASSERT_TRUE(!c.otherProgram || otherProgram.Open(PathOf(c.otherProgram), nullptr));

  const CleanUpResult result = CleanUpEmptyLogs(m_dir.path(), m_current, [] {});

  EXPECT_EQ(Remaining(m_dir.path()), QString::fromLatin1(c.remaining));
  EXPECT_EQ(result.deleted, c.deleted);
  EXPECT_EQ(result.stoppedAt, QString::fromLatin1(c.stoppedAt));
  EXPECT_EQ(result.stopped, *c.stoppedAt != '\0');
  EXPECT_EQ(result.skippedCurrent, c.current != nullptr);
  EXPECT_EQ(result.skippedInUse, c.skippedInUse);
}

INSTANTIATE_TEST_SUITE_P(Folder, CleanUpCases, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CleanUpTest, SkippedCurrentFileStaysOpenAndUsable) {
  Make({{"A.log", 0}, {"C.log", 0}});
  ASSERT_TRUE(m_current.Open(PathOf("C.log"), nullptr));
  CleanUpEmptyLogs(m_dir.path(), m_current, [] {});

  ASSERT_TRUE(m_current.IsOpen());
  EXPECT_EQ(m_current.WriteRecord(FromHex("02 41 03"), false), RecordLog::WriteResult::Written);
  QFile file(PathOf("C.log"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(Hex(file.readAll()), Hex(FromHex("02 41 03 0D 0A")));
}

TEST_F(CleanUpTest, MissingFolderListsNothing) {
  const CleanUpResult result = CleanUpEmptyLogs(PathOf("logs"), m_current, [] {});
  EXPECT_EQ(result.deleted, 0);
  EXPECT_FALSE(result.stopped);
}

// Events are served between files; what their handlers do to the folder or to the current log
// file counts for the files still to come.
TEST_F(CleanUpTest, FileVanishingWhileEventsAreServedStopsTheRun) {
  Make({{"A.log", 0}, {"B.log", 120}, {"C.log", 0}, {"D.log", 0}});
  int served = 0;
  const CleanUpResult result = CleanUpEmptyLogs(m_dir.path(), m_current, [&] {
    if (++served == 1) {
      ASSERT_TRUE(QFile::remove(PathOf("C.log")));
    }
  });
  EXPECT_EQ(result.stoppedAt, "C.log");
  EXPECT_EQ(Remaining(m_dir.path()), "B.log,D.log");
}

TEST_F(CleanUpTest, LogOpenedWhileEventsAreServedIsNotDeleted) {
  Make({{"A.log", 0}, {"B.log", 0}, {"C.log", 0}, {"D.log", 0}});
  const CleanUpResult result = CleanUpEmptyLogs(m_dir.path(), m_current, [&] {
    if (!m_current.IsOpen()) {
      ASSERT_TRUE(m_current.Open(PathOf("D.log"), nullptr));
    }
  });
  EXPECT_TRUE(result.skippedCurrent);
  EXPECT_FALSE(result.stopped);
  EXPECT_EQ(Remaining(m_dir.path()), "D.log");
}

}  // namespace
}  // namespace vorlan::logging
