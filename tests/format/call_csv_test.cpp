#include "format/call_csv.h"

#include <gtest/gtest.h>

#include "call_records.h"

namespace vorlan::format {
namespace {

using records::Item;
using records::Record;
using records::Times;

struct RowCase {
  const char* name;
  QByteArray record;
  std::optional<bool> flaggedNow;
  bool markedBad;
  const char* expected;  // the row without record_hex and its CR LF
};

const RowCase kRows[] = {
    {"PlainCall", Record("03", Item(1, "ABCDE") + Times("20010115123000", "20010115123512")),
     false, false,
     "f.log,7,0,0,03,2001-01-15T12:30:00,2001-01-15T12:35:12,312,"
     "1:ABCDE;6:20010115123000...20010115123512"},
    {"AcrossMidnight", Record("01", Times("20261231235950", "20270101000020")), true, false,
     "f.log,7,1,0,01,2026-12-31T23:59:50,2027-01-01T00:00:20,30,"
     "6:20261231235950...20270101000020"},
    {"NoTimesItem", Record("02", Item(4, "TRUNK.20")), std::nullopt, true,
     "f.log,7,,1,02,,,,4:TRUNK.20"},
    {"UnreadableTimes", Record("02", Times("20011315123000", "20010115123512")), true, true,
     "f.log,7,1,1,02,,,,6:20011315123000...20010115123512"},
    {"QuotedWhereNeeded", Record("0\"", Item(1, "a,b") + Item(2, "x\r\ny")), false, false,
     "f.log,7,0,0,\"0\"\"\",,,,\"1:a,b;2:x\r\ny\""},
    {"HighBytesAsLatin1", Record("04", Item(5, "FRAN\xC7OIS")), false, false,
     "f.log,7,0,0,04,,,,5:FRAN\xC3\x87OIS"},
    // A spreadsheet would run these as formulas.
    {"FormulaNeutralised", Record("=1", Item(4, "x")), false, false, "f.log,7,0,0,'=1,,,,4:x"},
    {"TabAndCrNeutralised", Record("\t\r", Item(4, "x")), false, false,
     "f.log,7,0,0,\"'\t\r\",,,,4:x"},
};

class CsvRows : public ::testing::TestWithParam<RowCase> {};

TEST_P(CsvRows, CarryEachFieldOfTheRecord) {
  const RowCase& c = GetParam();
  const QByteArray row = CsvRow({"f.log", 7, c.flaggedNow, c.markedBad, c.record});
  const QByteArray hex = c.record.toHex().toUpper();
  EXPECT_EQ(row.toStdString(), (QByteArray(c.expected) + "," + hex + "\r\n").toStdString());
}

INSTANTIATE_TEST_SUITE_P(Csv, CsvRows, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CsvAlarm, JudgesAsTheAlarmDoes) {
  const QByteArray call = Record("01", Times("20010115120000", "20010115120512"));  // 312 s
  EXPECT_FALSE(FlaggedByAlarm(call, "312"));
  EXPECT_TRUE(FlaggedByAlarm(call, "311"));
  EXPECT_TRUE(FlaggedByAlarm(Record("01", Times("20011315120000", "20010115120512")), "600"))
      << "a start stamp out of range is flagged";
  EXPECT_FALSE(FlaggedByAlarm(Record("01", Item(1, "X")), "0")) << "no times item, no flag";
}

}  // namespace
}  // namespace vorlan::format
