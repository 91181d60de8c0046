#include "logging/log_reader.h"

#include <algorithm>

namespace vorlan::logging {
namespace {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr QByteArrayView kBadMarker = "<BAD>:";

}  // namespace

LogContents ReadLog(QByteArrayView bytes) {
  LogContents contents;
  const qsizetype size = bytes.size();
  qsizetype position = 0;
  qint64 line = 1;
  while (position < size) {
    const QByteArrayView rest = bytes.sliced(position);
    const bool bad = rest.startsWith(kBadMarker);
    const qsizetype stx = position + (bad ? kBadMarker.size() : 0);
    if (stx < size && bytes[stx] == kStx) {
      const qsizetype etx = bytes.indexOf(kEtx, stx + 1);
      if (etx >= 0 && bytes.sliced(etx + 1).startsWith("\r\n")) {
        const QByteArrayView record = bytes.sliced(stx, etx - stx + 1);
        contents.records.push_back({line, bad, record.toByteArray()});
        line += std::count(record.begin(), record.end(), '\n') + 1;
        position = etx + 3;
        continue;
      }
    }
    // Not a record: the line as it stands, up to its LF.
    const qsizetype lf = bytes.indexOf('\n', position);
    const qsizetype end = lf < 0 ? size : lf;
    QByteArrayView text = bytes.sliced(position, end - position);
    if (text.endsWith('\r')) text.chop(1);
    contents.others.push_back({line, text.toByteArray()});
    ++line;
    position = end + 1;
  }
  return contents;
}

}  // namespace vorlan::logging
