#include "format/record_formatter.h"

#include <gtest/gtest.h>

#include <QStringList>

#include "hex.h"

namespace vorlan::format {
namespace {

const QLocale kUs("en_US");
const QString kSeparator(32, u'-');

// STX, two unread characters, the call type, the items back to back, ETX.
QByteArray Record(const char* callType, const QByteArray& items) {
  return "\x02"
         "00" +
         QByteArray(callType) + items + "\x03";
}

// A sample record's call item: 312 seconds.
const QByteArray kCallData = "20010115123000...20010115123512";
const QByteArray kCall = "0631" + kCallData;
const QByteArray kFlaggedData = "20010115123000...20010115124000";  // 600 s
const QByteArray kFlaggedCall = "0631" + kFlaggedData;
const QString kFlaggedShown = "(" + QString::fromLatin1(kFlaggedData) + ")";
const QByteArray kShortCall = "063120010115123000...20010115123005";  // 5 s
const QByteArray kSample = Record("03", "0105ABCDE" + kCall);

// The window's text as lines; every line ends in CR LF, so the last part must be empty.
QStringList Lines(const QString& text) {
  QStringList lines = text.split(QStringLiteral("\r\n"));
  EXPECT_EQ(lines.takeLast(), QString()) << "text does not end in CR LF";
  return lines;
}

TEST(SampleRecord, WithinMaximumShowsTwelveLines) {
  ASSERT_EQ(kSample.size(), 50);
  const QString text = FormatData(kSample, QStringLiteral("600"), kUs);
  const QStringList expected = {
      "Call Type: 03",
      kSeparator,
      "Data-Type: 1 ---> (ABCDE)",
      "",
      kSeparator,
      "Data-Type: 6 ---> ",
      "(" + QString::fromLatin1(kCallData) + ")",
      "",
      "      1/15/2001 12:30:00 PM",
      "      1/15/2001 12:35:12 PM --> (00:05:12)",
      "",
      kSeparator,
  };
  EXPECT_EQ(Lines(text), expected);
  EXPECT_FALSE(FlaggedByAlarm(kSample, QStringLiteral("600")));
}

TEST(SampleRecord, OverMaximumLosesTheTimeLines) {
  const QString text = FormatData(kSample, QStringLiteral("10"), kUs);
  const QStringList lines = Lines(text);
  ASSERT_EQ(lines.size(), 8) << text.toStdString();
  EXPECT_EQ(lines[6], "(" + QString::fromLatin1(kCallData) + ")");
  EXPECT_EQ(lines[7], kSeparator);
  EXPECT_TRUE(FlaggedByAlarm(kSample, QStringLiteral("10")));
}

struct ItemCase {
  const char* name;
  QByteArray record;
  bool bad;
  QStringList lines;  // the window's lines after the call-type line and separator
};

// clang-format off
const ItemCase kItems[] = {
    {"TypeWithLeadingZero", Record("03", "0631" + kFlaggedData), true,
     {"Data-Type: 6 ---> ", kFlaggedShown, kSeparator}},
    {"TypeSixPoint", Record("03", "6.31" + kFlaggedData), true,
     {"Data-Type: 6 ---> ", kFlaggedShown, kSeparator}},
    {"TypePointSixIsNotSix", Record("03", ".631" + kFlaggedData), false,
     {"Data-Type: 0.6 ---> " + kFlaggedShown, "", kSeparator}},
    {"NonNumericTypeIsZero", Record("03", "AB02xy"), false,
     {"Data-Type: 0 ---> (xy)", "", kSeparator}},
    {"LengthZeroIsEmptyItem", Record("03", "0100" "0201z"), false,
     {"Data-Type: 1 ---> ()", "", kSeparator, "Data-Type: 2 ---> (z)", "", kSeparator}},
    {"LastTypeSixDecidesBad", Record("03", kShortCall + kFlaggedCall), true, {}},
    {"LastTypeSixDecidesGood", Record("03", kFlaggedCall + kShortCall), false, {}},
    {"NoTypeSixIsNotJudged", Record("03", "0105ABCDE"), false,
     {"Data-Type: 1 ---> (ABCDE)", "", kSeparator}},
    {"ShorterThanClaimedTakesEtx", Record("03", "0120ABCDE"), false,
     {"Data-Type: 1 ---> (ABCDE\x03)", "", kSeparator}},
    {"TrailingCharactersAreAnItem", Record("03", "0101A" "zzzz"), false,
     {"Data-Type: 1 ---> (A)", "", kSeparator, "Data-Type: 0 ---> ()", "", kSeparator}},
    {"SixCharacters", "\x02" "00" "03" "\x03", false,
     {"Data-Type: 0 ---> ()", "", kSeparator}},
    {"EightCharacters", "\x02" "00" "03" "01" "\x03", false,
     {"Data-Type: 1 ---> ()", "", kSeparator}},
    {"Empty", "", false, {"Data-Type: 0 ---> ()", "", kSeparator}},
    {"HighBytesShownAsLatin1", Record("03", "0102\xE9\xFF"), false,
     {QStringLiteral("Data-Type: 1 ---> (\u00E9\u00FF)"), "", kSeparator}},
    // An unusable length ends the record's formatting at that item; the call after it is not
    // judged, so the record is not flagged.
    {"NegativeLengthStops", Record("03", "0102ab" "01-1xyz" + kFlaggedCall), false,
     {"Data-Type: 1 ---> (ab)", "", kSeparator}},
    {"FractionalLengthStops", Record("03", "0102ab" "01.5xyz" + kFlaggedCall), false,
     {"Data-Type: 1 ---> (ab)", "", kSeparator}},
    {"FirstItemUnusable", Record("03", "01-5" + kFlaggedCall), false, {}},
};
// clang-format on

void PrintTo(const ItemCase& c, std::ostream* os) { *os << c.name; }

class FormatItems : public ::testing::TestWithParam<ItemCase> {};

TEST_P(FormatItems, RendersAndJudgesEachItem) {
  const ItemCase& c = GetParam();
  EXPECT_EQ(FlaggedByAlarm(c.record, QStringLiteral("10")), c.bad)
      << "record [" << Hex(c.record) << "]";
  QStringList lines = Lines(FormatData(c.record, QStringLiteral("10"), kUs));
  ASSERT_GE(lines.size(), 2);
  EXPECT_EQ(lines.takeFirst(), "Call Type: " + QString::fromLatin1(c.record.mid(3, 2)));
  EXPECT_EQ(lines.takeFirst(), kSeparator);
  if (!c.lines.isEmpty()) {
    EXPECT_EQ(lines, c.lines) << "record [" << Hex(c.record) << "]";
  }
}

INSTANTIATE_TEST_SUITE_P(Records, FormatItems, ::testing::ValuesIn(kItems),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(LongRecord, ItemsPast32767AreStillReached) {
  QByteArray items;
  for (int i = 0; i < 400; ++i) items += "0199" + QByteArray(99, char('a' + i % 26));
  const QByteArray record = Record("03", items + kFlaggedCall);
  ASSERT_GT(record.size(), 40000);

  const QString text = FormatData(record, QStringLiteral("10"), kUs);
  EXPECT_TRUE(FlaggedByAlarm(record, QStringLiteral("10"))) << "the call at the end was never judged";
  EXPECT_EQ(text.count(QStringLiteral("Data-Type: 1 ---> (")), 400);
  EXPECT_TRUE(text.endsWith(QStringLiteral("Data-Type: 6 ---> \r\n(") +
                              QString::fromLatin1(kFlaggedCall.mid(4)) + ")\r\n" + kSeparator +
                              "\r\n"))
      << text.right(200).toStdString();
}

}  // namespace
}  // namespace vorlan::format
