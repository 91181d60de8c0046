#include "logging/log_reader.h"

#include <gtest/gtest.h>

#include <ctime>

#include "hex.h"
#include "logging/record_log.h"

namespace vorlan::logging {
namespace {

struct ReadCase {
  const char* name;
  QByteArray file;
  std::vector<LoggedRecord> records;
  std::vector<OtherLine> others;
  bool isLogFile;
};

const ReadCase kFiles[] = {
    {"Empty", "", {}, {}, false},
    {"RecordsAndMarker",
     QByteArray("\x02" "A\x03\r\n<BAD>:\x02" "B\x03\r\n"),
     {{1, false, "\x02" "A\x03"}, {2, true, "\x02" "B\x03"}},
     {},
     true},
    // Inside a record every byte but ETX is the record's: CR LF, STX, NUL and 0xFF included.
    {"ControlBytesInside",
     QByteArray("\x02" "a\r\nb\x02\x00\xff\x03\r\n\x02" "C\x03\r\n", 16),
     {{1, false, QByteArray("\x02" "a\r\nb\x02\x00\xff\x03", 9)}, {3, false, "\x02" "C\x03"}},
     {},
     true},
    {"OneOtherLinePerRecord",
     QByteArray("\x02" "A\x03\r\ncut off\r\n"),
     {{1, false, "\x02" "A\x03"}},
     {{2, "cut off"}},
     true},
    {"LinesThatAreNotRecords",
     QByteArray("hello\r\n\x02" "A\x03\r\n\x02" "no end\r\n<BAD>:x\n\x02" "Z\x03"),
     {{2, false, "\x02" "A\x03"}},
     {{1, "hello"}, {3, "\x02" "no end"}, {4, "<BAD>:x"}, {5, "\x02" "Z\x03"}},
     false},
};

class LogFiles : public ::testing::TestWithParam<ReadCase> {};

TEST_P(LogFiles, AreReadByTheirStructure) {
  const ReadCase& c = GetParam();
  const LogContents contents = ReadLog(c.file);
  ASSERT_EQ(contents.records.size(), c.records.size());
  for (size_t i = 0; i < c.records.size(); ++i) {
    EXPECT_EQ(contents.records[i].line, c.records[i].line) << "record " << i;
    EXPECT_EQ(contents.records[i].markedBad, c.records[i].markedBad) << "record " << i;
    EXPECT_EQ(Hex(contents.records[i].record), Hex(c.records[i].record)) << "record " << i;
  }
  ASSERT_EQ(contents.others.size(), c.others.size());
  for (size_t i = 0; i < c.others.size(); ++i) {
    EXPECT_EQ(contents.others[i].line, c.others[i].line) << "other " << i;
    EXPECT_EQ(Hex(contents.others[i].text), Hex(c.others[i].text)) << "other " << i;
  }
  EXPECT_EQ(contents.IsLogFile(), c.isLogFile);
}

INSTANTIATE_TEST_SUITE_P(Reader, LogFiles, ::testing::ValuesIn(kFiles),
                         [](const auto& info) { return std::string(info.param.name); });


struct TailCase {
  const char* name;
  QByteArray end;  // the last bytes of a file
  bool wholeFile;
  QByteArray lineEnd;
};

const QByteArray kTorn = QByteArray("\x02" "A\x03\r\n\x02" "HA\r\nLF");
const TailCase kTails[] = {
    {"Empty", "", true, ""},
    {"AfterARecord", "\x02" "A\x03\r\n", true, ""},
    {"AfterAWholeLineThatIsNoRecord", "EARLIER\r\n", true, ""},
    {"LineCutShort", "\x02" "A\x03\r\ngarbage", true, "\r\n"},
    {"MarkerCutShort", "\x02" "A\x03\r\n<BAD>:", true, "\r\n"},
    {"RecordCutShort", "\x02" "A\x03\r\n\x02" "HALF", true, "\x03 \r\n"},
    // Records hold CR LF: a CR LF does not end one that has no ETX yet.
    {"RecordCutShortAfterItsCrLf", "\x02" "HALF\r\n", true, "\x03 \r\n"},
    {"RecordCutShortAcrossLines", kTorn, true, "\x03 \r\n"},
    {"MarkedRecordCutShort", "<BAD>:\x02" "HA", true, "\x03 \r\n"},
    // Its ETX is there, but not acknowledged: it must not become a record now.
    {"RecordCutBeforeItsCrLf", "\x02" "A\x03\r", true, "\x03 \r\n"},
    {"StxLineWithAnEtxOfNoRecord", "\x02" "A\x03xy\r\n", true, ""},
    {"PartOfAFileWithoutARecordEnd", "ore of a long line", false, "\x03 \r\n"},
    {"PartOfAFileAfterARecordEnd", "ong\x03\r\nnext\r\n", false, ""},
};

class TailEnds : public ::testing::TestWithParam<TailCase> {};

// What is written after a file's end keeps the record appended after it a record of its own.
TEST_P(TailEnds, LetTheNextRecordStartALineOfItsOwn) {
  const TailCase& c = GetParam();
  EXPECT_EQ(Hex(LineEndBeforeAppending(c.end, c.wholeFile).toByteArray()), Hex(c.lineEnd));
  const QByteArray record = "\x02" "NEXT\r\n\x03";
  const LogContents read =
      ReadLog(c.end + LineEndBeforeAppending(c.end, c.wholeFile).toByteArray() +
              RecordLine(record, false));
  ASSERT_FALSE(read.records.empty());
  EXPECT_EQ(Hex(read.records.back().record), Hex(record));
  const LogContents before = ReadLog(c.end);
  EXPECT_EQ(read.records.size(), before.records.size() + 1) << "no record made of the tail";
}

INSTANTIATE_TEST_SUITE_P(Reader, TailEnds, ::testing::ValuesIn(kTails),
                         [](const auto& info) { return std::string(info.param.name); });

// Lines that start with STX and have no ETX once took a search to the end of the file each.
TEST(LogReaderTime, IsLinearOnLinesWithoutEtx) {
  QByteArray file;
  while (file.size() < (4 << 20)) file += "\x02 no end here, a line cut short\r\n";
  const std::clock_t start = std::clock();
  size_t lines = 0;
  LogReader reader(file);
  while (reader.Next()) ++lines;
  const double seconds = double(std::clock() - start) / CLOCKS_PER_SEC;
  EXPECT_EQ(lines, size_t(file.count('\n')));
  // Linear takes milliseconds even under the sanitizers; quadratic took minutes.
  EXPECT_LT(seconds, 2.0);
}

}  // namespace
}  // namespace vorlan::logging
