#include "logging/record_log.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <functional>

#if defined(Q_OS_UNIX)
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "file_size_limit.h"
#include "hex.h"
#include "logging/file_access.h"
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
  ASSERT_TRUE(m_log.Open(path, &m_failure)) << m_failure.toStdString();
  ASSERT_EQ(m_log.WriteRecord("\x02" "first\x03", false), RecordLog::WriteResult::Written);
  {
    const FileSizeLimit full(12);  // room for 3 of the next line's 5 bytes: a short write
    if (!full.Active()) GTEST_SKIP() << "no file size limit here";
    EXPECT_EQ(m_log.WriteRecord("\x02r\x03", false, &m_failure), RecordLog::WriteResult::Failed);
    EXPECT_TRUE(m_failure.contains(path)) << m_failure.toStdString();
    EXPECT_EQ(m_log.WriteRecord("\x02r\x03", false, &m_failure), RecordLog::WriteResult::Failed);
  }
  EXPECT_TRUE(m_log.IsOpen());
  EXPECT_EQ(Hex(ReadAll(path)), Hex("\x02" "first\x03\r\n")) << "the part that got in is cut off";
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

// Syncs that count and fail on demand in place of the disk's.
struct FakeDisk {
  int fileSyncs = 0;
  QStringList folderSyncs;
  bool failFile = false;
  bool failFolder = false;
  RecordLog::DiskSync Sync() {
    return {[this](int) {
              ++fileSyncs;
              errno = EIO;
              return !failFile;
            },
            [this](const QString& folder) {
              folderSyncs << folder;
              errno = EIO;
              return !failFolder;
            }};
  }
};

// Not acknowledged after a failed sync, the lines come again: they must not be there twice.
TEST_F(RecordLogTest, FailedSyncTakesTheLinesOutAgain) {
  FakeDisk disk;
  RecordLog log(disk.Sync());
  const QString path = PathOf("a.log");
  ASSERT_TRUE(log.Open(path, &m_failure)) << m_failure.toStdString();
  const QByteArray kept = RecordLine("\x02" "KEPT\x03", false);
  const QByteArray reply = RecordLine("\x02" "R1\x03", false) + RecordLine("\x02" "R2\x03", true);
  ASSERT_EQ(log.WriteLines(kept), RecordLog::WriteResult::Written);
  ASSERT_TRUE(log.Sync());

  disk.failFile = true;
  ASSERT_EQ(log.WriteLines(reply), RecordLog::WriteResult::Written);
  EXPECT_FALSE(log.Sync(&m_failure));
  EXPECT_TRUE(m_failure.contains(path) && m_failure.contains(SystemError(EIO)))
      << m_failure.toStdString();
  EXPECT_EQ(Hex(ReadAll(path)), Hex(kept));

  disk.failFile = false;
  ASSERT_EQ(log.WriteLines(reply), RecordLog::WriteResult::Written);
  EXPECT_TRUE(log.Sync());
  EXPECT_EQ(Hex(ReadAll(path)), Hex(kept + reply));
  EXPECT_EQ(disk.fileSyncs, 3);
}

// A file's name is on disk only once its folder is: synced when the file is made, not after.
TEST_F(RecordLogTest, ANewFilesFolderIsSyncedOnce) {
  FakeDisk disk;
  RecordLog log(disk.Sync());
  ASSERT_TRUE(log.Open(PathOf("a.log"), &m_failure));
  ASSERT_TRUE(log.Open(PathOf("a.log"), &m_failure));
  EXPECT_EQ(disk.folderSyncs, QStringList{m_dir.path()});

  disk.failFolder = true;
  EXPECT_FALSE(log.Open(PathOf("b.log"), &m_failure));
  EXPECT_TRUE(m_failure.contains(PathOf("b.log"))) << m_failure.toStdString();
  EXPECT_FALSE(log.IsOpen());
}

// A file cut off in the middle of a record (a crash mid-write) gets that line ended once, so
// that the records after it are read as records.
TEST_F(RecordLogTest, TornRecordAtTheEndIsEndedBeforeTheNextLine) {
  const QString path = PathOf("a.log");
  const QByteArray torn = "\x02" "A\x03\r\n\x02" "HALF\r\nOF";
  ASSERT_TRUE(WriteFile(path, torn));
  ASSERT_TRUE(m_log.Open(path, &m_failure));
  ASSERT_EQ(m_log.WriteRecord("\x02" "B\x03", false), RecordLog::WriteResult::Written);
  ASSERT_EQ(m_log.WriteRecord("\x02" "C\x03", false), RecordLog::WriteResult::Written);
  EXPECT_EQ(Hex(ReadAll(path)), Hex(torn + "\x03 \r\n\x02" "B\x03\r\n\x02" "C\x03\r\n"));
  const LogContents read = ReadLog(ReadAll(path));
  ASSERT_EQ(read.records.size(), 3u);
  EXPECT_EQ(Hex(read.records[1].record), Hex("\x02" "B\x03"));
}

#if defined(Q_OS_UNIX)
struct PathChange {
  const char* name;
  // What happens to the open log at `path` in `folder`, between its first line and its second.
  std::function<bool(const QString& folder, const QString& path)> change;
  bool beforeSync;       // between the second line's write and its sync, not before the write
  const char* expected;  // what the path holds after the second line ("" when it must fail)
  const char* movedTo;   // a file that must keep the first line only
};

const PathChange kPathChanges[] = {
    {"Deleted", [](const QString&, const QString& p) { return QFile::remove(p); }, false,
     "\x02" "2\x03\r\n", nullptr},
    {"MovedAway", [](const QString&, const QString& p) { return QFile::rename(p, p + ".old"); },
     false, "\x02" "2\x03\r\n", "a.log.old"},
    {"Replaced",
     [](const QString& f, const QString& p) {
       return WriteFile(f + "/new", "\x02" "N\x03\r\n") && ::rename(qPrintable(f + "/new"), qPrintable(p)) == 0;
     },
     false, "\x02" "N\x03\r\n\x02" "2\x03\r\n", nullptr},
    {"FolderDeleted", [](const QString& f, const QString&) { return QDir(f).removeRecursively(); },
     false, "\x02" "2\x03\r\n", nullptr},
    {"ReplacedByALink",
     [](const QString& f, const QString& p) {
       return QFile::remove(p) && QFile::link(f + "/../target", p);
     },
     false, "", nullptr},
    {"DeletedBeforeTheSync", [](const QString&, const QString& p) { return QFile::remove(p); },
     true, "\x02" "2\x03\r\n", nullptr},
    {"MovedBeforeTheSync",
     [](const QString&, const QString& p) { return QFile::rename(p, p + ".old"); }, true,
     "\x02" "2\x03\r\n", "a.log.old"},
};

class PathChanges : public RecordLogTest, public ::testing::WithParamInterface<PathChange> {};

// Lines go to the file the log's path names when they are written and synced, not to one
// that was deleted or moved under the open log (a clean-up, an operator's rm -rf).
TEST_P(PathChanges, LinesGoToTheFileThePathNamesNow) {
  const PathChange& c = GetParam();
  const QString folder = PathOf("logs");
  const QString path = folder + "/a.log";
  ASSERT_TRUE(QDir().mkdir(folder));
  ASSERT_TRUE(WriteFile(PathOf("target"), "T"));
  ASSERT_TRUE(m_log.Open(path, &m_failure)) << m_failure.toStdString();
  ASSERT_EQ(m_log.WriteRecord("\x02" "1\x03", false), RecordLog::WriteResult::Written);
  ASSERT_TRUE(m_log.Sync());

  if (!c.beforeSync) {
    ASSERT_TRUE(c.change(folder, path));
  }
  const RecordLog::WriteResult written = m_log.WriteRecord("\x02" "2\x03", false, &m_failure);
  if (c.beforeSync) {
    ASSERT_TRUE(c.change(folder, path));
  }
  const bool synced = written == RecordLog::WriteResult::Written && m_log.Sync(&m_failure);

  EXPECT_EQ(synced, *c.expected != '\0') << m_failure.toStdString();
  if (synced) {
    EXPECT_EQ(Hex(ReadAll(path)), Hex(c.expected));
    EXPECT_FALSE(m_log.TakeNotice().isEmpty()) << "the operator is told";
  }
  if (c.movedTo) {
    EXPECT_EQ(Hex(ReadAll(folder + "/" + c.movedTo)), Hex("\x02" "1\x03\r\n"));
  }
  EXPECT_EQ(Hex(ReadAll(PathOf("target"))), Hex("T")) << "a link is never followed";
  EXPECT_TRUE(m_log.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(Log, PathChanges, ::testing::ValuesIn(kPathChanges),
                         [](const auto& info) { return std::string(info.param.name); });

struct Hostile {
  const char* name;
  std::function<QString(const QString& folder)> make;  // makes it, gives its path
  const char* reason;
};

const Hostile kHostile[] = {
    {"LinkToAFile",
     [](const QString& f) {
       WriteFile(f + "/target", "T");
       QFile::link(f + "/target", f + "/a.log");
       return f + "/a.log";
     },
     "symbolic link"},
    {"LinkToNothing",
     [](const QString& f) {
       QFile::link(f + "/target", f + "/a.log");
       return f + "/a.log";
     },
     "symbolic link"},
    {"Fifo",
     [](const QString& f) {
       ::mkfifo(qPrintable(f + "/a.log"), 0600);
       return f + "/a.log";
     },
     "named pipe"},
    {"Folder",
     [](const QString& f) {
       QDir(f).mkdir("a.log");
       return f + "/a.log";
     },
     "folder"},
    {"Device", [](const QString&) { return QStringLiteral("/dev/full"); }, "device"},
};

class HostileFiles : public RecordLogTest, public ::testing::WithParamInterface<Hostile> {};

// What is not a regular file is refused at once, without writing to or waiting on it.
TEST_P(HostileFiles, AreRefusedAsLogFiles) {
  const QString path = GetParam().make(m_dir.path());
  EXPECT_FALSE(m_log.Open(path, &m_failure));
  EXPECT_TRUE(m_failure.contains(GetParam().reason)) << m_failure.toStdString();
  EXPECT_FALSE(m_log.IsOpen());
  EXPECT_FALSE(QFile::exists(PathOf("target")) && ReadAll(PathOf("target")) != "T");
}

INSTANTIATE_TEST_SUITE_P(Log, HostileFiles, ::testing::ValuesIn(kHostile),
                         [](const auto& info) { return std::string(info.param.name); });

// Call records are private: the folder and the files made for them are the owner's alone,
// whatever the umask lets through; an existing file keeps its mode.
TEST_F(RecordLogTest, FilesAndFoldersAreMadePrivate) {
  const mode_t umaskBefore = ::umask(022);
  const QString logs = PathOf("logs");
  const QDateTime now(QDate(2026, 3, 5), QTime(14, 37));
  EXPECT_FALSE(OpenRecordLog(logs, now, m_log, &m_failure, MissingFolder::Create));
  ASSERT_TRUE(OpenRecordLog(logs, now, m_log, &m_failure, MissingFolder::Create));
  ASSERT_TRUE(WriteFile(logs + "/shared.log", ""));
  ASSERT_TRUE(QFile::setPermissions(logs + "/shared.log", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
  RecordLog shared;
  ASSERT_TRUE(shared.Open(logs + "/shared.log", &m_failure));
  ASSERT_TRUE(MakeLogsFolder(PathOf("data/VORLAN/logs")));
  ::umask(umaskBefore);

  struct stat info {};
  ASSERT_EQ(::stat(qPrintable(logs), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  ASSERT_EQ(::stat(qPrintable(m_log.Path()), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(qPrintable(logs + "/shared.log"), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0644u);
  ASSERT_EQ(::stat(qPrintable(PathOf("data/VORLAN/logs")), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
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
