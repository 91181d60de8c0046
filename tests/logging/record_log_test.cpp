#include "logging/record_log.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <functional>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#endif

#include "file_size_limit.h"
#include "hex.h"
#include "logging/log_files.h"
#include "logging/log_reader.h"
#include "write_result_printer.h"

namespace vorlan::logging {
namespace {

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray EveryByte() {
  QByteArray bytes;
  for (int b = 0; b < 256; ++b) bytes.append(static_cast<char>(b));
  return bytes;
}

class RecordLogTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
  QString PathOf(const char* name) const { return m_dir.filePath(name); }

  QTemporaryDir m_dir;
  RecordLog m_log;
  QString m_failure;
};

// Every byte value inside a record reaches the file unchanged; reopening appends after the last
// byte, after what was there before we ever opened the file.
TEST_F(RecordLogTest, AppendsLinesByteForByteAcrossOpens) {
  const QString path = PathOf("03051437.log");
  const QByteArray earlier = FromHex("45 41 52 4C 49 45 52 0D 0A");
  ASSERT_TRUE(WriteFile(path, earlier));
  const QByteArray first = QByteArray("\x02") + EveryByte() + QByteArray("\x03");
  const QByteArray second = FromHex("02 31 2E 32 03");

  ASSERT_TRUE(m_log.Open(path, &m_failure)) << m_failure.toStdString();
  EXPECT_EQ(m_log.WriteRecord(first, false, &m_failure), RecordLog::WriteResult::Written)
      << m_failure.toStdString();
  m_log.Close();
  ASSERT_TRUE(m_log.Open(path, &m_failure)) << m_failure.toStdString();
  EXPECT_EQ(m_log.WriteRecord(second, true, &m_failure), RecordLog::WriteResult::Written)
      << m_failure.toStdString();
  EXPECT_EQ(m_log.WriteRecord(second, false, &m_failure), RecordLog::WriteResult::Written)
      << m_failure.toStdString();

  // Read while still open: nothing may wait in a buffer of ours.
  const QByteArray expected =
      earlier + first + "\r\n" + "<BAD>:" + second + "\r\n" + second + "\r\n";
  EXPECT_EQ(Hex(ReadAll(path)), Hex(expected));
}

TEST_F(RecordLogTest, WritesNothingWhileNoFileIsOpen) {
  EXPECT_FALSE(m_log.IsOpen());
  EXPECT_TRUE(m_log.Path().isEmpty());
  EXPECT_EQ(m_log.WriteRecord("\x02x\x03", false), RecordLog::WriteResult::NotOpen)
      << m_failure.toStdString();

  const QString path = PathOf("a.log");
  ASSERT_TRUE(m_log.Open(path, &m_failure));
  EXPECT_EQ(m_log.Path(), path);
  m_log.Close();
  EXPECT_EQ(m_log.WriteRecord("\x02x\x03", true), RecordLog::WriteResult::NotOpen)
      << m_failure.toStdString();
  EXPECT_EQ(Hex(ReadAll(path)), "");
  EXPECT_TRUE(m_log.Path().isEmpty());
}

// A Connect while a file is open makes the new file current; the earlier one gets no more lines.
TEST_F(RecordLogTest, OpeningAnotherFileLeavesTheFirst) {
  ASSERT_TRUE(m_log.Open(PathOf("a.log"), &m_failure));
  ASSERT_TRUE(m_log.Open(PathOf("b.log"), &m_failure));
  EXPECT_EQ(m_log.WriteRecord("\x02r\x03", false), RecordLog::WriteResult::Written)
      << m_failure.toStdString();
  EXPECT_EQ(Hex(ReadAll(PathOf("a.log"))), "");
  EXPECT_EQ(Hex(ReadAll(PathOf("b.log"))), Hex(FromHex("02 72 03 0D 0A")));
}

TEST_F(RecordLogTest, FullDiskFailsTheWrite) {
  const QString path = PathOf("a.log");
  ASSERT_TRUE(m_log.Open(path, &m_failure) && m_log.WriteRecord("\x02" "1\x03", false) == RecordLog::WriteResult::Written);
  const FileSizeLimit full(8);  // room for 3 of the next line's 5 bytes: a short write
  if (!full.Active()) GTEST_SKIP() << "no file size limit here";
  EXPECT_EQ(m_log.WriteRecord("\x02r\x03", false, &m_failure), RecordLog::WriteResult::Failed);
  EXPECT_TRUE(m_failure.contains(path) && m_log.IsOpen()) << m_failure.toStdString();
  EXPECT_EQ(Hex(ReadAll(path)), Hex("\x02" "1\x03\r\n")) << "the part that got in is cut off";
}

// Where an open file can be deleted, writes to it succeed but are lost: that must not pass for
// a logged record.
// Moving or deleting an open log is the operator's doing, not a failed write: only a write the
// system refused is reported.
TEST_F(RecordLogTest, DeletedFileIsNoWriteFailure) {
  const QString path = PathOf("a.log");
  ASSERT_TRUE(m_log.Open(path, &m_failure));
  if (!QFile::remove(path)) GTEST_SKIP() << "the system refuses to delete an open file";
  EXPECT_EQ(m_log.WriteRecord("\x02r\x03", false, &m_failure), RecordLog::WriteResult::Written)
      << m_failure.toStdString();
  EXPECT_TRUE(m_log.Sync(&m_failure)) << m_failure.toStdString();
}

// Not acknowledged after a failed sync, a reply comes again: it must not be there twice. A new
// file's name is on disk only once its folder is: synced when the file is made.
TEST_F(RecordLogTest, FailedSyncTakesTheReplyOutAndNewFilesSyncTheirFolder) {
  bool fail = false;
  QStringList folders;
  RecordLog log({[&](int) { return errno = EIO, !fail; },
                 [&](const QString& folder) { return folders << folder, errno = EIO, !fail; }});
  const QString path = PathOf("a.log");
  const QByteArray kept = "\x02" "KEPT\x03\r\n", reply = "\x02" "R1\x03\r\n<BAD>:\x02" "R2\x03\r\n";
  ASSERT_TRUE(log.Open(path, &m_failure) && log.Open(path, &m_failure));
  EXPECT_EQ(folders, QStringList{m_dir.path()});
  ASSERT_TRUE(log.WriteLines(kept) == RecordLog::WriteResult::Written && log.Sync());
  ASSERT_EQ((fail = true, log.WriteLines(reply)), RecordLog::WriteResult::Written);
  EXPECT_FALSE(log.Sync(&m_failure) || !m_failure.contains(path)) << m_failure.toStdString();
  EXPECT_EQ(Hex(ReadAll(path)), Hex(kept));
  EXPECT_FALSE(log.Open(PathOf("b.log"), &m_failure)) << "its folder could not be synced";
  ASSERT_TRUE((fail = false, log.Open(path, &m_failure)) && log.WriteLines(reply) == RecordLog::WriteResult::Written && log.Sync());
  EXPECT_EQ(Hex(ReadAll(path)), Hex(kept + reply));
}

// A line cut short at the end (a crash mid-write) is ended once, so that the records after it are
// read as records; a record cut short (CR LF inside, or before its own) becomes no record.
TEST_F(RecordLogTest, TornLastLineIsEndedBeforeTheNextRecord) {
  for (const auto& [torn, lineEnd] : {std::pair<QByteArray, QByteArray>("\x02" "A\x03\r\n\x02" "HA\r\nLF", "\x03 \x03\r\n"),
                                      {"<BAD>:\x02" "A\x03\r", "\x03 \x03\r\n"}, {"text", "\r\n"}, {"text\r\n", ""}}) {
    ASSERT_TRUE(WriteFile(PathOf("a.log"), torn) && m_log.Open(PathOf("a.log"), &m_failure));
    ASSERT_EQ(m_log.WriteRecord("\x02" "B\x03", false), RecordLog::WriteResult::Written);
    ASSERT_EQ(m_log.WriteRecord("\x02" "C\x03", false), RecordLog::WriteResult::Written);
    EXPECT_EQ(Hex(ReadAll(PathOf("a.log"))), Hex(torn + lineEnd + "\x02" "B\x03\r\n\x02" "C\x03\r\n"));
    EXPECT_EQ(ReadLog(ReadAll(PathOf("a.log"))).records.size(), ReadLog(torn).records.size() + 2);
  }
}

#if defined(Q_OS_UNIX)
struct PathChange {
  const char* name;
  std::function<bool(const QString& path)> change;  // to the open log's file, logs/a.log
  bool beforeSync;  // between the second line's write and its sync, not before the write
  bool logged;      // the line is in the file the path names; otherwise the write fails
};

const PathChange kPathChanges[] = {
    {"Deleted", [](const QString& p) { return QFile::remove(p); }, false, true},
    {"MovedAway", [](const QString& p) { return QFile::rename(p, p + ".old"); }, false, true},
    {"FolderDeleted", [](const QString& p) { return QFileInfo(p).dir().removeRecursively(); }, false, true},
    {"ReplacedByALink", [](const QString& p) { return QFile::remove(p) && QFile::link(p + ".old", p); }, false, false},
    {"MovedBeforeTheSync", [](const QString& p) { return QFile::rename(p, p + ".old"); }, true, true},
};

class PathChanges : public RecordLogTest, public ::testing::WithParamInterface<PathChange> {};

// Lines go to the file the log's path names when they are written and synced, not to one
// deleted or moved under the open log (the window's clean-up, an operator's rm -rf).
TEST_P(PathChanges, LinesGoToTheFileThePathNamesNow) {
  const PathChange& c = GetParam();
  const QString path = PathOf("logs") + "/a.log";
  ASSERT_TRUE(QDir().mkdir(PathOf("logs")) && m_log.Open(path, &m_failure));
  ASSERT_TRUE(m_log.WriteRecord("\x02" "1\x03", false) == RecordLog::WriteResult::Written && m_log.Sync());
  ASSERT_TRUE(c.beforeSync || c.change(path));
  const bool written = m_log.WriteRecord("\x02" "2\x03", false, &m_failure) == RecordLog::WriteResult::Written;
  ASSERT_TRUE(!c.beforeSync || c.change(path));
  EXPECT_EQ(written && m_log.Sync(&m_failure), c.logged) << m_failure.toStdString();
  EXPECT_EQ(Hex(ReadAll(path)), c.logged ? Hex("\x02" "2\x03\r\n") : "");
  EXPECT_TRUE(!QFile::exists(path + ".old") || ReadAll(path + ".old") == "\x02" "1\x03\r\n") << "moved, it keeps its own";
  EXPECT_EQ(m_log.TakeNotice().isEmpty(), !c.logged) << "the operator is told";
}

INSTANTIATE_TEST_SUITE_P(Log, PathChanges, ::testing::ValuesIn(kPathChanges),
                         [](const auto& info) { return std::string(info.param.name); });

// Call records are private whatever the umask lets through; an existing file keeps its mode.
TEST_F(RecordLogTest, FilesAndFoldersAreMadePrivate) {
  const mode_t umaskBefore = ::umask(022);
  const QString logs = PathOf("logs");
  const QDateTime now(QDate(2026, 3, 5), QTime(14, 37));
  EXPECT_FALSE(OpenRecordLog(logs, now, m_log, &m_failure, MissingFolder::Create));
  EXPECT_TRUE(OpenRecordLog(logs, now, m_log, &m_failure, MissingFolder::Create) && MakeLogsFolder(PathOf("data/logs")));
  EXPECT_TRUE(WriteFile(PathOf("shared.log"), "") && m_log.Open(PathOf("shared.log"), &m_failure));
  ::umask(umaskBefore);
  for (const auto& [path, mode] : {std::pair(logs, 0700u), std::pair(logs + "/03051437.log", 0600u),
                                   std::pair(PathOf("data/logs"), 0700u), std::pair(PathOf("shared.log"), 0644u)}) {
    struct stat info {};
    EXPECT_TRUE(::stat(qPrintable(path), &info) == 0 && (info.st_mode & 0777) == mode) << path.toStdString();
  }
}
#endif

class OpenRecordLogTest : public RecordLogTest {
 protected:
  const QDateTime m_now{QDate(2026, 3, 5), QTime(14, 37, 20)};
};

TEST_F(OpenRecordLogTest, MissingFolderAtConnectIsCreatedButTheOpenStillFails) {
  const QString logs = LogsFolder(m_dir.path());
  EXPECT_FALSE(OpenRecordLog(LogsFolder(m_dir.path()), m_now, m_log, &m_failure, MissingFolder::Create));
  EXPECT_TRUE(m_failure.startsWith("Path not found")) << m_failure.toStdString();
  EXPECT_FALSE(m_log.IsOpen());
  EXPECT_TRUE(QDir(logs).exists());
  EXPECT_TRUE(QDir(logs).isEmpty()) << "the failed open must not be repeated";

  m_failure.clear();
  ASSERT_TRUE(OpenRecordLog(LogsFolder(m_dir.path()), m_now, m_log, &m_failure, MissingFolder::Create))
      << m_failure.toStdString();
  EXPECT_EQ(m_log.Path(), logs + "/03051437.log");
}

TEST_F(OpenRecordLogTest, MissingFolderAtTheSwitchStaysMissing) {
  ASSERT_TRUE(m_log.Open(PathOf("old.log"), &m_failure));
  EXPECT_FALSE(OpenRecordLog(LogsFolder(m_dir.path()), m_now, m_log, &m_failure, MissingFolder::Leave));
  EXPECT_TRUE(m_failure.startsWith("Path not found")) << m_failure.toStdString();
  EXPECT_FALSE(QDir(LogsFolder(m_dir.path())).exists());
  EXPECT_FALSE(m_log.IsOpen()) << "after a failed open no log file is current";
}

// A failure other than the folder (here a folder where the file should be; root cannot get
// around that one) reports the file and the system's reason.
TEST_F(OpenRecordLogTest, OtherFailuresNameTheFileAndTheReason) {
  const QString path = LogFilePath(LogsFolder(m_dir.path()), m_now);
  ASSERT_TRUE(QDir().mkpath(path));
  EXPECT_FALSE(OpenRecordLog(LogsFolder(m_dir.path()), m_now, m_log, &m_failure, MissingFolder::Create));
  EXPECT_FALSE(m_failure.startsWith("Path not found")) << m_failure.toStdString();
  EXPECT_TRUE(m_failure.contains(QDir::toNativeSeparators(path))) << m_failure.toStdString();
  EXPECT_FALSE(m_log.IsOpen());
}

}  // namespace
}  // namespace vorlan::logging
