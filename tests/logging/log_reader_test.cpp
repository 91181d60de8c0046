#include "logging/log_reader.h"

#include <gtest/gtest.h>

#include <ctime>

#include "hex.h"

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


// Lines that start with STX and have no ETX once took a search to the end of the file each:
// seconds for these 4 MB, milliseconds now, even under the sanitizers.
TEST(LogReaderTime, IsLinearOnLinesWithoutEtx) {
  const QByteArray file = QByteArray("\x02 a line cut short\r\n").repeated(200000);
  const std::clock_t start = std::clock();
  for (LogReader reader(file); reader.Next();) {
  }
  EXPECT_LT(double(std::clock() - start) / CLOCKS_PER_SEC, 2.0);
}

}  // namespace
}  // namespace vorlan::logging
