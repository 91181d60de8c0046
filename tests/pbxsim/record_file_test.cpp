#include "record_file.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "bytes.h"

namespace pbxsim {
namespace {

struct LinesCase {
  const char* name;
  QByteArray text;
  std::vector<QByteArray> records;
};

void PrintTo(const LinesCase& c, std::ostream* os) { *os << c.name; }

// Octal escapes: \002 is STX, \003 ETX.
const LinesCase kCases[] = {
    {"LogFileWithMarker",
     "\0021.A\003\r\n<BAD>:\0022\377\003\r\n",
     {"\0021.A\003", "\0022\377\003"}},
    {"RawDataViewLines", " \0021\003\r\n <BAD>:\0022\003\r\n", {"\0021\003", "\0022\003"}},
    {"HandWrittenGetsStxAndEtx", "0001 0104 2001\n", {"\0020001 0104 2001\003"}},
    {"BlankLinesAndBareMarkerSkipped", "\r\n\n   \n<BAD>:\r\n\002A\003", {"\002A\003"}},
    {"LeadingBlankOfATypedRecordKept", " 0001\n", {"\002 0001\003"}},
    {"NulKept", QByteArray("\002A\0\200\003\n", 6), {QByteArray("\002A\0\200\003", 5)}},
};

class RecordLines : public ::testing::TestWithParam<LinesCase> {};

TEST_P(RecordLines, BecomeRecords) {
  EXPECT_EQ(Hex(ParseRecordLines(GetParam().text)), Hex(GetParam().records));
}

INSTANTIATE_TEST_SUITE_P(Files, RecordLines, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RecordFile, KeepsEveryByteAndReportsAMissingFile) {
  QTemporaryDir dir;
  QFile file(dir.filePath("01151230.log"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("\00200\351\377\r\003\r\n");
  file.close();
  QString error;
  const auto records = ReadRecordFile(file.fileName(), &error);
  ASSERT_TRUE(records.has_value()) << error.toStdString();
  EXPECT_EQ(Hex(*records), Hex(std::vector<QByteArray>{"\00200\351\377\r\003"}));
  EXPECT_FALSE(ReadRecordFile(dir.filePath("missing.log"), &error).has_value());
}

}  // namespace
}  // namespace pbxsim
