#include "store_fixture.h"

namespace {

const QByteArray kA = Record("AB", Times("20240115083000", "20240115083130"));
const QByteArray kB = Record("CD", Item(1, "a\r\nb"));  // a record may hold CR LF
const QByteArray kLine = kA + "\r\n";
const QByteArray kLong = QByteArray(5 * 1024 * 1024, 'x') + "\r\n";  // no record, over a window
const QByteArray kBareLf = QByteArray("a bare LF line\n").repeated(300000);  // 4.5 MB

struct Case {
  const char* name;
  QByteArray file;
  bool complete;
  qint64 records;
  qint64 others;
  qint64 endOffset;  // where the batches stop
  qint64 endLine;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class ReadBatchTest : public ::testing::TestWithParam<Case> {};

// Batch after batch, as a reader goes through a file: every line is taken once, in bounded
// batches, up to the last line that the bytes still to come cannot change.
TEST_P(ReadBatchTest, TakesEveryDecidedLine) {
  const Case& c = GetParam();
  QByteArray bytes = c.file;
  QBuffer file(&bytes);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  LogPosition at = FileStart("f.log");
  logging::LogStream stream(file, 0, 1, at.key);
  qint64 records = 0;
  qint64 others = 0;
  for (LogBatch batch; !batch.exhausted;) {
    batch = ReadBatch(stream, at, c.complete, "x", "f.log", "j");
    EXPECT_EQ(batch.copyRows.count('\n'), batch.records);
    records += batch.records;
    others += batch.others;
    at = batch.end;
  }
  EXPECT_EQ(records, c.records);
  EXPECT_EQ(others, c.others);
  EXPECT_EQ(at.offset, c.endOffset);
  EXPECT_EQ(at.line, c.endLine);
}

const QByteArray kHundred = kLine.repeated(100);

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadBatchTest,
    ::testing::Values(
        Case{"Records", kLine + "<BAD>:" + kB + "\r\n", false, 2, 0, kLine.size() + 6 + kB.size() + 2, 4},
        Case{"HalfWrittenRecord", kLine + "\x02" "00AB0605ab", false, 1, 0, kLine.size(), 2},
        Case{"RecordCutInsideItsCrLf", kLine + "\x02" "00CD01" "04a\r\n", false, 1, 0, kLine.size(), 2},
        Case{"RecordBeforeItsLf", kLine + kA + "\r", false, 1, 0, kLine.size(), 2},
        Case{"MarkerBeingWritten", kLine + "<BA", false, 1, 0, kLine.size(), 2},
        Case{"OtherLineBetweenRecords", kLine + "noise\r\n" + kLine, false, 2, 1, 2 * kLine.size() + 7, 4},
        Case{"SettledFileTakenWhole", kLine + "noise\r\ntail", true, 1, 2, kLine.size() + 11, 3},
        Case{"LongLineThatIsNoRecord", kHundred + kLong + kHundred, false, 200, 1,
             2 * kHundred.size() + kLong.size(), 202},
        Case{"LongLineStillBeingWritten", kHundred + kLong.chopped(2), false, 100, 0, kHundred.size(), 101},
        Case{"BareLfLines", kBareLf + kHundred, false, 100, 300000, kBareLf.size() + kHundred.size(), 300101},
        Case{"LongRecordWithoutEtxIsNoRecord",
             kLine + '\x02' + QByteArray(3 * 1024 * 1024, 'y') + "\x03\r\n" + kLine, false, 2, 1,
             2 * kLine.size() + 3 * 1024 * 1024 + 4, 4}),
    [](const auto& info) { return std::string(info.param.name); });

// A line's key is the same however the file is read (at once, or resumed from a stored
// position) and differs between two lines with the same bytes.
TEST(LineKeyTest, SameLineSameKeyTwoLinesTwoKeys) {
  QByteArray bytes = kLine + kLine + kLine;
  QBuffer file(&bytes);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const LogPosition start = FileStart("01151230.log");
  logging::LogStream whole(file, 0, 1, start.key);
  std::vector<LineKey> keys;
  while (whole.Next(false)) keys.push_back(whole.Key());
  ASSERT_EQ(keys.size(), 3U);
  EXPECT_NE(keys[0], keys[1]);
  EXPECT_NE(keys[1], keys[2]);
  logging::LogStream first(file, 0, 1, start.key);
  const LogBatch head = ReadBatch(first, start, false, "x", "01151230.log", "j");
  ASSERT_EQ(head.rows.size(), 3U);
  logging::LogStream resumed(file, kLine.size(), 2, keys[0]);
  const LogBatch rest = ReadBatch(resumed, {kLine.size(), 2, keys[0]}, false, "x", "f", "j");
  ASSERT_EQ(rest.rows.size(), 2U);
  EXPECT_EQ(rest.rows[1].key, keys[2]);
  EXPECT_EQ(head.rows[2].key, keys[2]);
  // Moved aside under a year, a file keeps its keys; another name gives others.
  EXPECT_EQ(FileStart("01151230.log.2025").key, start.key);
  EXPECT_NE(FileStart("01151231.log").key, start.key);
}

}  // namespace
