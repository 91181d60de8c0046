#include <gtest/gtest.h>

#include "logging/log_tail.h"

namespace vorlan::logging {
namespace {

std::string Joined(const std::vector<QByteArray>& records) {
  QByteArray out;
  for (const QByteArray& r : records) out += r.mid(1, r.size() - 2) + "|";
  return out.toStdString();
}

// The last records of a log file's end, as a reply sent again is checked against them.
TEST(LogTail, LastRecordsOfAFilesEnd) {
  const struct {
    const char* name;
    QByteArray tail;
    bool fromStart;
    std::string records;
  } rows[] = {
      {"whole lines", "\x02" "A\x03\r\n<BAD>:\x02" "B\r\nC\x03\r\n", true, "A|B\r\nC|"},
      {"a cut first line is no record", "A\x03\r\n\x02" "B\x03\r\n", false, "B|"},
      {"a torn last line is no record", "\x02" "A\x03\r\n\x02" "B", true, "A|"},
      {"after a line that is no record", "\x02" "A\x03\r\nEARLIER\r\n\x02" "B\x03\r\n", true,
       "A|B|"},
      {"after a torn record closed", "\x02" "TORN\x03 \x03\r\n\x02" "C\x03\r\n", true, "C|"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Joined(LastRecordsIn(row.tail, row.fromStart, 10)), row.records) << row.name;
  }
  EXPECT_EQ(Joined(LastRecordsIn("\x02" "A\x03\r\n\x02" "B\x03\r\n\x02" "C\x03\r\n", true, 2)),
            "B|C|");
}

}  // namespace
}  // namespace vorlan::logging
