#include "logging/record_log.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "hex.h"
#include "logging/log_files.h"
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
  if (!QFile::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  ASSERT_TRUE(m_log.Open("/dev/full", &m_failure)) << m_failure.toStdString();
  EXPECT_EQ(m_log.WriteRecord("\x02r\x03", false, &m_failure), RecordLog::WriteResult::Failed)
      << m_failure.toStdString();
  EXPECT_TRUE(m_failure.contains("/dev/full")) << m_failure.toStdString();
  EXPECT_TRUE(m_log.IsOpen());
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
