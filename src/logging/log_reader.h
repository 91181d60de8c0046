#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>
#include <vector>

// Reads a log file back: lines of an optional "<BAD>:", a record from STX to the next ETX, and
// CR LF. A record may hold any byte but ETX, CR and LF included, so a line is found from its
// structure, not by splitting at line ends.
namespace vorlan::logging {

// The longest record a reader takes, STX to ETX: twice what the log writes. An STX with no ETX
// within this many bytes starts a line that is no record, so that no line needs more than a
// bounded window of the file to be told apart.
inline constexpr qsizetype kLongestRecord = qsizetype(2) * 1024 * 1024;

// One line of a log file, a view into the file's bytes.
struct LogLine {
  qint64 line = 0;         // 1-based line of the file where it starts
  bool isRecord = false;   // a record; otherwise a line that is not one
  bool markedBad = false;  // the record's line began with "<BAD>:"
  QByteArrayView bytes;    // the record, STX to ETX, as logged; or the other line without CR LF
};

// Walks the lines of a file held in memory, one at a time, so that a long file can be read in
// steps between which the program serves events.
class LogReader {
 public:
  // `whole`: the bytes run to the file's end and nothing is appended any more. Otherwise a last
  // line whose kind or end the following bytes would decide is not given: Next() returns
  // nothing and Undecided() is true.
  explicit LogReader(QByteArrayView bytes, bool whole = true) : m_bytes(bytes), m_whole(whole) {}
  std::optional<LogLine> Next();
  // After the last line given; one past the bytes when that line had no line end.
  qsizetype Position() const { return m_position; }
  bool Undecided() const { return m_undecided; }

 private:
  qsizetype NextEtx(qsizetype from);

  QByteArrayView m_bytes;
  bool m_whole = true;
  bool m_undecided = false;
  qsizetype m_position = 0;
  qint64 m_line = 1;
  // The first ETX at or after m_etxFrom (-1: none up to the end). Lines that start with STX
  // and have no ETX of their own reuse it, so that no byte is searched twice.
  qsizetype m_etxFrom = -1;
  qsizetype m_etx = -1;
};

struct LoggedRecord {
  qint64 line;        // 1-based line of the file where the record starts
  bool markedBad;     // the line began with "<BAD>:"
  QByteArray record;  // STX to ETX, as logged
};

struct OtherLine {
  qint64 line = 0;
  QByteArray text;  // without its CR LF
};

// Whether a file of these lines is a log file of this program: it holds a record, and no more
// lines that are not records than records (a binary file may hold an STX ... ETX CR LF by
// chance, but then it has far more lines that are not records).
inline bool IsLogFile(size_t records, size_t others) { return records > 0 && others <= records; }

struct LogContents {
  std::vector<LoggedRecord> records;
  std::vector<OtherLine> others;  // lines that are not records, in order
  bool IsLogFile() const { return logging::IsLogFile(records.size(), others.size()); }
};

LogContents ReadLog(QByteArrayView bytes);

// What must be written after `end`, the last bytes of a log file, before a record line is
// appended, so that the record is read as a line of its own and nothing before it runs into it:
// nothing after a whole line, CR LF after a line cut short, and after a record cut short ETX,
// space, ETX, CR LF. The first ETX ends the record without a CR LF after it, so that it is read
// as a line that is not a record (it was never acknowledged: the exchange sends it again); the
// line then ends as record lines end, so that a reader going by ETX CR LF alone finds the next
// line too. `wholeFile`: `end` is all of the file.
QByteArrayView LineEndBeforeAppending(QByteArrayView end, bool wholeFile);

}  // namespace vorlan::logging
