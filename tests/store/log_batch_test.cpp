#include <gtest/gtest.h>

#include "call_records.h"
#include "store/log_batch.h"

using namespace vorlan;
using namespace vorlan::store;
using records::Item;
using records::Record;
using records::Times;

namespace {

const QByteArray kA = Record("AB", Times("20240115083000", "20240115083130"));
const QByteArray kB = Record("CD", Item(1, "a\r\nb"));  // a record may hold CR LF
const QByteArray kLine = kA + "\r\n";

struct Case {
  const char* name;
  QByteArray chunk;
  bool complete;
  bool full;
  qint64 records;
  qint64 others;
  qint64 endOffset;  // relative to the chunk's start, which is byte 100, line 7
  qint64 endLine;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class CutBatchTest : public ::testing::TestWithParam<Case> {};

TEST_P(CutBatchTest, EndsWhereTheLastWholeLineEnds) {
  const Case& c = GetParam();
  const LogBatch batch = CutBatch(c.chunk, {100, 7}, c.complete, c.full, "x", "f.log");
  EXPECT_EQ(batch.records, c.records);
  EXPECT_EQ(batch.others, c.others);
  EXPECT_EQ(batch.end.offset, 100 + c.endOffset);
  EXPECT_EQ(batch.end.line, c.endLine);
  EXPECT_EQ(batch.copyRows.count('\n'), c.records) << batch.copyRows.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CutBatchTest,
    ::testing::Values(
        Case{"Records", kLine + "<BAD>:" + kB + "\r\n", false, false, 2, 0, kLine.size() + 6 + kB.size() + 2, 10},
        Case{"HalfWrittenRecord", kLine + "\x02" "00AB0605ab", false, false, 1, 0, kLine.size(), 8},
        Case{"RecordCutInsideItsCrLf", kLine + "\x02" "00CD01" "04a\r\n", false, true, 1, 0, kLine.size(), 8},
        Case{"OtherLineBetweenRecords", kLine + "noise\r\n" + kLine, false, false, 2, 1, 2 * kLine.size() + 7, 10},
        Case{"OtherLineAtTheEndWaits", kLine + "noise\r\n", false, false, 1, 0, kLine.size(), 8},
        Case{"SettledFileTakenWhole", kLine + "noise\r\ntail", true, false, 1, 2, kLine.size() + 11, 10},
        Case{"FullChunkWithoutRecords", QByteArray("noise\r\nmore\r\nhalf"), false, true, 0, 2, 13, 9}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
