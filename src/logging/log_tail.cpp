#include "logging/log_tail.h"

namespace vorlan::logging {
namespace {

constexpr char kStx = '\x02';
constexpr char kEtx = '\x03';
constexpr QByteArrayView kMarker = "<BAD>:";
constexpr QByteArrayView kLineEnd = "\r\n";

}  // namespace

std::vector<QByteArray> LastRecordsIn(QByteArrayView tail, bool fromStart, qsizetype maxRecords) {
  // A record holds no ETX, so every line ends at the ETX before its CR LF: the lines are found
  // from the ETXs alone, and the first piece is a line only where the bytes begin the file.
  std::vector<QByteArray> records;
  qsizetype lineStart = fromStart ? 0 : -1;
  for (qsizetype at = tail.indexOf(kEtx); at >= 0; at = tail.indexOf(kEtx, at + 1)) {
    const bool whole = tail.sliced(at + 1).startsWith(kLineEnd);
    if (lineStart >= 0 && whole) {
      // Lines that are not records may come before it: it starts at the first line start that
      // opens a record.
      for (qsizetype from = lineStart; from >= 0 && from < at;) {
        QByteArrayView line = tail.sliced(from, at + 1 - from);
        if (line.startsWith(kMarker)) line = line.sliced(kMarker.size());
        if (line.front() == kStx) {
          records.push_back(line.toByteArray());
          break;
        }
        const qsizetype next = tail.indexOf(kLineEnd, from);
        from = next < 0 || next >= at ? -1 : next + kLineEnd.size();
      }
    }
    lineStart = whole ? at + 1 + kLineEnd.size() : -1;
  }
  if (qsizetype(records.size()) > maxRecords)
    records.erase(records.begin(), records.end() - maxRecords);
  return records;
}

}  // namespace vorlan::logging
