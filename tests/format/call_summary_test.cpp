#include "format/call_summary.h"

#include <gtest/gtest.h>

#include "call_records.h"

namespace vorlan::format {
namespace {

using records::Item;
using records::Record;
using records::Times;

struct Call {
  QByteArray record;
  bool markedBad;
};

// Around an hour's end and midnight, before the epoch, no times, unreadable times, and values
// that sort as numbers, hold a comma or are missing.
const Call kCalls[] = {
    {Record("01", Item(1, "100") + Times("20261207105959", "20261207110029")), true},   // 30 s
    {Record("01", Item(1, "99") + Times("20261207110000", "20261207110200")), false},   // 120 s
    {Record("02", Item(1, "99") + Times("20261207233000", "20261208000500")), false},   // 2100 s
    {Record("03", Item(1, "a,b") + Times("19691231235959", "19700101000004")), false},  // 5 s
    {Record("02", Item(4, "TRUNK")), true},
    {Record("02", Item(1, "") + Times("20261307110000", "20261307110200")), false},
};

CallSummary Summary(const char* grouping, const QString& maxTime = "100") {
  CallSummary summary(*Grouping::Parse(grouping));
  for (const Call& call : kCalls) summary.Add(SummaryCallOf(call.record, call.markedBad, maxTime));
  return summary;
}

struct CsvCase {
  const char* grouping;
  const char* csv;
};

// Flagged: marked, or over 100 s now, or with times the alarm cannot read.
const CsvCase kCsvs[] = {
    {"hour",
     "hour,calls,flagged,total_talk_seconds,longest_talk_seconds\r\n"
     "1969-12-31T23,1,0,5,5\r\n2026-12-07T10,1,1,30,30\r\n2026-12-07T11,1,1,120,120\r\n"
     "2026-12-07T23,1,1,2100,2100\r\n,2,2,0,\r\n"},
    {"day",
     "day,calls,flagged,total_talk_seconds,longest_talk_seconds\r\n"
     "1969-12-31,1,0,5,5\r\n2026-12-07,3,3,2250,2100\r\n,2,2,0,\r\n"},
    {"type:01",
     "value,calls,flagged,total_talk_seconds,longest_talk_seconds\r\n"
     "99,2,2,2220,2100\r\n100,1,1,30,30\r\n\"a,b\",1,0,5,5\r\n,2,2,0,\r\n"},
};

class SummaryCsvs : public ::testing::TestWithParam<CsvCase> {};

TEST_P(SummaryCsvs, GroupTheCallsByStartOrValue) {
  EXPECT_EQ(SummaryCsv(Summary(GetParam().grouping)), QByteArray(GetParam().csv));
}

INSTANTIATE_TEST_SUITE_P(Summary, SummaryCsvs, ::testing::ValuesIn(kCsvs), [](const auto& info) {
  return std::string(info.param.grouping).substr(0, 4);
});

// Values the exchange sends that a spreadsheet would run as formulas open as text.
TEST(CallSummary, ValuesThatLookLikeFormulasAreNeutralised) {
  CallSummary summary(*Grouping::Parse("type:01"));
  for (const char* value : {"=HYPERLINK(\"http://x\")", "+1-2+3A", "@SUM(A1)", "-2", "12"}) {
    summary.Add(SummaryCallOf(Record("01", Item(1, value)), false, "100"));
  }
  EXPECT_EQ(SummaryCsv(summary).toStdString(),
            "value,calls,flagged,total_talk_seconds,longest_talk_seconds\r\n"
            "12,1,0,0,\r\n'+1-2+3A,1,0,0,\r\n'-2,1,0,0,\r\n\"'=HYPERLINK(\"\"http://x\"\")\",1,0,0,\r\n"
            "'@SUM(A1),1,0,0,\r\n");
}

TEST(CallSummary, TotalsTypesAndHistogram) {
  const CallSummary summary = Summary("hour", "");
  const SummaryTotals& totals = summary.Totals();
  EXPECT_EQ(totals.figures.calls, 6);
  EXPECT_EQ(totals.figures.flagged, 3) << "no maximum: the marked calls and the unreadable one";
  EXPECT_EQ(totals.figures.totalTalkSeconds, 2255);
  EXPECT_EQ(totals.figures.longestTalkSeconds, 2100);
  EXPECT_EQ(SummaryTimeText(*totals.firstStart), "1969-12-31 23:59:59");
  EXPECT_EQ(SummaryTimeText(*totals.lastStart), "2026-12-07 23:30:00");
  EXPECT_EQ(summary.TypesPresent(), (std::set<double>{1, 4, 6}));

  const std::vector<HistogramBin> bins = summary.TalkHistogram(1000);
  ASSERT_EQ(bins.size(), 3u);
  EXPECT_EQ(bins[0].calls, 3);
  EXPECT_EQ(bins[1].calls, 0);
  EXPECT_EQ(bins[2].from, 2000);
  EXPECT_EQ(bins[2].calls, 1);
  EXPECT_TRUE(CallSummary(Grouping{}).TalkHistogram(60).empty());
}

// A byte inside a stamp shifts the end's: what the alarm reads there is no time of the call.
TEST(CallSummary, BrokenStampsCountWithoutTimes) {
  CallSummary summary(Grouping{});
  for (const char* start : {"20261207\x1b" "110000", "2026120711000"}) {
    summary.Add(SummaryCallOf(Record("02", Times(start, "20261207110200")), false, "100"));
  }
  EXPECT_FALSE(summary.Totals().firstStart);
  EXPECT_EQ(SummaryCsv(summary),
            "hour,calls,flagged,total_talk_seconds,longest_talk_seconds\r\n,2,1,0,\r\n");
}

TEST(CallSummary, BinWidthsAndGroupingTexts) {
  EXPECT_EQ(CallSummary::BinWidth(0, 30), 1);
  EXPECT_EQ(CallSummary::BinWidth(29, 30), 1);
  EXPECT_EQ(CallSummary::BinWidth(30, 30), 2);
  EXPECT_EQ(CallSummary::BinWidth(2100, 30), 100);
  EXPECT_EQ(CallSummary::BinWidth(32767, 30), 2000);
  for (const char* bad : {"", "hours", "type:", "type:x", "type:-1", "type:123", "Day"}) {
    EXPECT_FALSE(Grouping::Parse(bad)) << bad;
  }
  EXPECT_EQ(Grouping::Parse("type:9")->type, 9);
}

}  // namespace
}  // namespace vorlan::format
