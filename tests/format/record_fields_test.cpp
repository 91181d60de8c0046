#include "format/record_fields.h"

#include <gtest/gtest.h>

#include "hex.h"

namespace vorlan::format {
namespace {

const QLocale kUs("en_US");

// A data type 6 item's data: start stamp, three unread characters, end stamp.
QByteArray Data(const char* start, const char* end) { return QByteArray(start) + "..." + end; }

// The text between " --> (" and ")": the rendered talk time.
QString TalkShown(const QString& text) {
  const qsizetype from = text.indexOf(QStringLiteral(" --> ("));
  if (from < 0) return QStringLiteral("<none>");
  return text.mid(from + 6, text.indexOf(u')', from) - from - 6);
}

struct JudgeCase {
  const char* name;
  QByteArray data;
  const char* maxTime;
  bool bad;          // the alarm's verdict
  const char* talk;  // rendered talk time, or nullptr when nothing may be appended
};

const char kNoon[] = "20010115120000";

const JudgeCase kJudgements[] = {
    {"WithinMaximum", Data("20010115123000", "20010115123512"), "600", false, "00:05:12"},
    {"OverMaximum", Data("20010115123000", "20010115123512"), "10", true, nullptr},
    {"EqualToMaximum", Data(kNoon, "20010115120512"), "312", false, "00:05:12"},
    {"UnderFractionalMaximum", Data(kNoon, "20010115120010"), "10.5", false, "00:00:10"},
    {"OverFractionalMaximum", Data(kNoon, "20010115120011"), "10.5", true, nullptr},
    {"NonNumericMaximumFlagsOneSecond", Data(kNoon, "20010115120001"), "abc", true, nullptr},
    {"NonNumericMaximumPassesZero", Data(kNoon, kNoon), "abc", false, "00:00:00"},
    {"EmptyBoxFlagsNothing", Data(kNoon, "20010115120512"), "", false, "00:05:12"},
    {"EmptyBoxClearsOnZero", Data(kNoon, kNoon), "", false, "00:00:00"},
    {"AcrossMidnight", Data("20011231235950", "20020101000020"), "600", false, "00:00:30"},
    {"NegativeShownWithMinus", Data("20010115120030", kNoon), "0", false, "-00:00:30"},
    {"Longest16Bit", Data(kNoon, "20010115210607"), "99999", false, "09:06:07"},
    // Beyond 16 bits the maximum alone judges, and the hours take the digits they need.
    {"Beyond16Bit", Data(kNoon, "20010115210608"), "99999", false, "09:06:08"},
    {"Beyond16BitOverMaximum", Data(kNoon, "20010115210608"), "32767", true, nullptr},
    {"Over99Hours", Data(kNoon, "20010119160000"), "999999", false, "100:00:00"},
    {"Beyond32Bit", Data("30010100000000", "29010100000000"), "1e99", true, nullptr},
    {"StartMonth13", Data("20011315120000", kNoon), "600", true, nullptr},
    {"StartDay32", Data("20010132120000", kNoon), "600", true, nullptr},
    {"StartHour24", Data("20010115240000", kNoon), "600", true, nullptr},
    {"StartMinute61", Data("20010115126100", kNoon), "600", true, nullptr},
    {"StartSecond61", Data("20010115120061", kNoon), "600", true, nullptr},
    {"UnreadableWithEmptyBox", Data("20010115120061", kNoon), "", true, nullptr},
    {"NegativeYear", Data("-0010115120000", kNoon), "600", true, nullptr},
    {"YearBeyond16Bit", Data("4e040115120000", kNoon), "600", true, nullptr},
    {"Year10000", Data("1e040115120000", kNoon), "600", true, nullptr},
    {"EndCarriesPast9999", Data(kNoon, "99991315120000"), "1e99", true, nullptr},
    {"EmptyData", QByteArray(), "600", false, "00:00:00"},
};

void PrintTo(const JudgeCase& c, std::ostream* os) { *os << c.name; }

class OverLongCallAlarm : public ::testing::TestWithParam<JudgeCase> {};

TEST_P(OverLongCallAlarm, JudgesAndShowsTalkTime) {
  const JudgeCase& c = GetParam();
  const QString maxTime = QString::fromLatin1(c.maxTime);
  const FieldsResult r = FormatRecordFields(c.data, maxTime, kUs);
  EXPECT_EQ(r.badRecord, c.bad) << "data [" << c.data.toStdString() << "]";
  EXPECT_EQ(CallFlagged(ReadCallTimes(c.data), maxTime), c.bad);
  if (c.talk) {
    EXPECT_EQ(TalkShown(r.text), QString::fromLatin1(c.talk)) << r.text.toStdString();
  } else {
    EXPECT_TRUE(r.text.isEmpty()) << "appended: " << r.text.toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(Items, OverLongCallAlarm, ::testing::ValuesIn(kJudgements),
                         [](const auto& info) { return std::string(info.param.name); });

struct StampCase {
  const char* name;
  const char* stamp;
  const char* shown;  // en_US, year widened to four digits
};

// Each stamp as the start of a call that lasts no time at all: both time lines show it.
const StampCase kStamps[] = {
    {"Plain", "20010115123000", "1/15/2001 12:30:00 PM"},
    {"Midnight", "20010115000000", "1/15/2001"},
    {"Month00IsDecemberBefore", "20010015120000", "12/15/2000 12:00:00 PM"},
    {"Day00IsLastDayBefore", "20010300120000", "2/28/2001 12:00:00 PM"},
    {"Day31OfAprilIsMay1", "20010431120000", "5/1/2001 12:00:00 PM"},
    {"LeapDay", "20000229120000", "2/29/2000 12:00:00 PM"},
    {"NoLeapDay", "21000229120000", "3/1/2100 12:00:00 PM"},
    {"Minute60IsNextHour", "20010115126000", "1/15/2001 1:00:00 PM"},
    {"Second60IsNextMinute", "20010115123060", "1/15/2001 12:31:00 PM"},
    {"RollsIntoNewYear", "20011231236060", "1/1/2002 12:01:00 AM"},
    {"NegativeHourIsDayBefore", "20010115-10000", "1/14/2001 11:00:00 PM"},
    {"Year29Is2029", "00290115120000", "1/15/2029 12:00:00 PM"},
    {"Year30Is1930", "00300115120000", "1/15/1930 12:00:00 PM"},
    {"Year99Is1999", "00990115120000", "1/15/1999 12:00:00 PM"},
    {"Year100AsItStands", "01000115120000", "1/15/0100 12:00:00 PM"},
    {"FractionsRoundHalfToEven", "2001.1.5120000", "11/30/2000 12:00:00 PM"},
    {"FractionsRoundUp", "2001.6.5120000", "12/31/2000 12:00:00 PM"},
};

void PrintTo(const StampCase& c, std::ostream* os) { *os << c.name; }

class StampRollOver : public ::testing::TestWithParam<StampCase> {};

TEST_P(StampRollOver, FormsTheCalendarDate) {
  const StampCase& c = GetParam();
  const FieldsResult r =
      FormatRecordFields(Data(c.stamp, c.stamp), QStringLiteral("0"), kUs);
  const QString indent(6, u' ');
  const QString shown = QString::fromLatin1(c.shown);
  EXPECT_EQ(r.text, QStringLiteral("\r\n") + indent + shown + QStringLiteral("\r\n") + indent +
                        shown + QStringLiteral(" --> (00:00:00)\r\n\r\n"));
  EXPECT_FALSE(r.badRecord);
}

INSTANTIATE_TEST_SUITE_P(Stamps, StampRollOver, ::testing::ValuesIn(kStamps),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StampRollOver, EndStampIsNotRangeChecked) {
  // Month 13, day 00, hour 24 of the end stamp all roll on: 2002-01-01 00:01:00.
  const FieldsResult r = FormatRecordFields(Data("20011231235900", "20011300240100"),
                                            QStringLiteral("600"), kUs);
  EXPECT_TRUE(r.text.endsWith(QStringLiteral("      1/1/2002 12:01:00 AM --> (00:02:00)\r\n\r\n")))
      << r.text.toStdString();
  EXPECT_FALSE(r.badRecord);
}

TEST(FieldRendering, FollowsTheLocale) {
  const FieldsResult r = FormatRecordFields(Data("20010115203000", "20010116000000"),
                                            QStringLiteral("99999"), QLocale("de_DE"));
  EXPECT_EQ(r.text, QStringLiteral("\r\n      15.01.2001 20:30:00\r\n"
                                   "      16.01.2001 --> (03:30:00)\r\n\r\n"));
}

// A maximum from a setting, an option or a file is taken only where the alarm reads it as
// written: anything else would read as another number, or as 0 and flag every call.
TEST(MaxTimeRule, TakesWholeSecondsUpToTheLongestTalkTime) {
  const std::pair<const char*, bool> rows[] = {
      {"0", true},     {"120", true},  {"0120", true}, {"2147483647", true}, {"2147483648", false},
      {"", false},     {"-5", false},  {"+5", false},  {"1.5", false},       {" 5", false},
      {"1e3", false},  {"abc", false}, {"99999999999999999999999", false}, {"\u0663", false},
  };
  for (const auto& [text, taken] : rows) EXPECT_EQ(IsMaxTime(text), taken) << "\"" << text << "\"";
}

}  // namespace
}  // namespace vorlan::format
