#include "logging/log_files.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "hex.h"
#include "logging/record_log.h"

namespace vorlan::logging {
namespace {

QDateTime At(int y, int mo, int d, int h, int mi, int s) {
  return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

struct NameCase {
  const char* name;
  QDateTime local;
  const char* expected;
};

const NameCase kNames[] = {
    {"Afternoon", At(2026, 3, 5, 14, 37, 20), "03051437.log"},
    {"LeadingZerosEverywhere", At(2026, 1, 2, 3, 4, 59), "01020304.log"},
    {"MidnightRollsTheDate", At(2026, 3, 5, 23, 59, 59).addSecs(1), "03060000.log"},
    {"NewYearsEveLastMinute", At(2025, 12, 31, 23, 59, 59), "12312359.log"},
};

class LogFileNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(LogFileNames, FollowTheLocalMinute) {
  EXPECT_EQ(LogFileName(GetParam().local), QString::fromLatin1(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Clock, LogFileNames, ::testing::ValuesIn(kNames),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DefaultLogsFolder, BesideTheProgramUnlessItIsInstalled) {
  QTemporaryDir program;
  ASSERT_TRUE(program.isValid());
  EXPECT_EQ(DefaultLogsFolder(program.path()), program.path() + "/logs");
#if defined(Q_OS_UNIX)
  const QString installed = DefaultLogsFolder("/usr/bin");
  EXPECT_TRUE(installed.endsWith("/VORLAN/logs")) << installed.toStdString();
  EXPECT_FALSE(installed.startsWith("/usr/")) << installed.toStdString();
#endif
}

TEST(LogFilePath, IsTheNameInsideTheLogsFolder) {
  EXPECT_EQ(LogFilePath("/opt/vorlan/logs", At(2026, 3, 5, 14, 37, 20)),
            QStringLiteral("/opt/vorlan/logs/03051437.log"));
}

struct SwitchCase {
  const char* name;
  QTime time;
  bool expected;
};

const SwitchCase kSwitchSeconds[] = {
    {"TopOfTheHour", QTime(15, 0, 0), true},
    {"TopOfTheHourLateInTheSecond", QTime(15, 0, 0, 999), true},
    {"Midnight", QTime(0, 0, 0), true},
    {"OneSecondLate", QTime(15, 0, 1), false},
    {"OneSecondEarly", QTime(14, 59, 59), false},
    {"MinuteOneSecondZero", QTime(15, 1, 0), false},
};

class SwitchSecond : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(SwitchSecond, IsOnlyHourColonZeroZero) {
  EXPECT_EQ(IsSwitchSecond(GetParam().time), GetParam().expected)
      << GetParam().time.toString("hh:mm:ss.zzz").toStdString();
}

INSTANTIATE_TEST_SUITE_P(Clock, SwitchSecond, ::testing::ValuesIn(kSwitchSeconds),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SwitchDue, OnlyUntilThisMinutesFileExists) {
  QTemporaryDir program;
  ASSERT_TRUE(program.isValid());
  ASSERT_TRUE(QDir(program.path()).mkdir("logs"));
  const QDateTime top = At(2026, 3, 5, 15, 0, 0);

  const QString logs = LogsFolder(program.path());
  EXPECT_TRUE(IsSwitchDue(logs, top));
  EXPECT_FALSE(IsSwitchDue(logs, top.addSecs(1)));

  QFile opened(LogFilePath(logs, top));
  ASSERT_TRUE(opened.open(QIODevice::WriteOnly));
  EXPECT_FALSE(IsSwitchDue(logs, top.addMSecs(250)))
      << "a second tick in hh:00:00 must not switch again";
}

// Names have no year: last year's file of this minute neither stops the switch nor takes this
// year's records, and keeps its own.
TEST(SwitchDue, AnEarlierYearsFileIsMovedAsideNotAppendedTo) {
  QTemporaryDir logs;
  const QDateTime top = At(2026, 12, 9, 2, 0, 0);
  const QDateTime lastYear = QDateTime::currentDateTime().addYears(-1);
  const QString aside = logs.filePath("12090200.log.") + QString::number(lastYear.date().year());
  const auto read = [](const QString& path) { QFile f(path); return f.open(QIODevice::ReadOnly) ? f.readAll() : "?"; };
  RecordLog log;
  for (const QByteArray old : {"\x02" "OLD\x03\r\n", "\x02" "OLDER\x03\r\n"}) {
    QFile file(LogFilePath(logs.path(), top));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(old) == old.size() && file.flush());
    ASSERT_TRUE(file.setFileTime(lastYear, QFileDevice::FileModificationTime));
    EXPECT_TRUE(IsSwitchDue(logs.path(), top));
    ASSERT_TRUE(OpenRecordLog(logs.path(), top, log, nullptr, MissingFolder::Leave));
    EXPECT_FALSE(IsSwitchDue(logs.path(), top.addMSecs(250))) << "the fresh file is this year's";
  }
  EXPECT_EQ(Hex(read(aside) + read(aside + ".2")), Hex("\x02" "OLD\x03\r\n\x02" "OLDER\x03\r\n"))
      << "never onto a name taken";
  EXPECT_EQ(Hex(read(LogFilePath(logs.path(), top))), "");
  EXPECT_EQ(QDir(logs.path()).entryList({"*.log"}, QDir::Files), QStringList{"12090200.log"});
}

}  // namespace
}  // namespace vorlan::logging
