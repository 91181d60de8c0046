#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <vector>

// Reads a log file back: lines of an optional "<BAD>:", a record from STX to the next ETX, and
// CR LF. A record may hold any byte but ETX, CR and LF included, so a line is found from its
// structure, not by splitting at line ends.
namespace vorlan::logging {

struct LoggedRecord {
  qint64 line;        // 1-based line of the file where the record starts
  bool markedBad;     // the line began with "<BAD>:"
  QByteArray record;  // STX to ETX, as logged
};

struct OtherLine {
  qint64 line;
  QByteArray text;  // without its CR LF
};

struct LogContents {
  std::vector<LoggedRecord> records;
  std::vector<OtherLine> others;  // lines that are not records, in order
  // A file with no record in it is not a log file of this program.
  bool IsLogFile() const { return !records.empty(); }
};

LogContents ReadLog(QByteArrayView bytes);

}  // namespace vorlan::logging
