#include "logging/log_reader.h"

#include <algorithm>

namespace vorlan::logging {
namespace {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr QByteArrayView kBadMarker = "<BAD>:";

}  // namespace

std::optional<LogLine> LogReader::Next() {
  const qsizetype size = m_bytes.size();
  const qsizetype position = m_position;
  if (position >= size) return std::nullopt;
  const bool bad = m_bytes.sliced(position).startsWith(kBadMarker);
  const qsizetype stx = position + (bad ? kBadMarker.size() : 0);
  if (stx < size && m_bytes[stx] == kStx) {
    const qsizetype etx = m_bytes.indexOf(kEtx, stx + 1);
    if (etx >= 0 && m_bytes.sliced(etx + 1).startsWith("\r\n")) {
      const QByteArrayView record = m_bytes.sliced(stx, etx - stx + 1);
      const LogLine line{m_line, true, bad, record};
      m_line += std::count(record.begin(), record.end(), '\n') + 1;
      m_position = etx + 3;
      return line;
    }
  }
  // Not a record: the line as it stands, up to its LF.
  const qsizetype lf = m_bytes.indexOf('\n', position);
  const qsizetype end = lf < 0 ? size : lf;
  QByteArrayView text = m_bytes.sliced(position, end - position);
  if (text.endsWith('\r')) text.chop(1);
  m_position = end + 1;
  return LogLine{m_line++, false, false, text};
}

LogContents ReadLog(QByteArrayView bytes) {
  LogContents contents;
  LogReader reader(bytes);
  while (const std::optional<LogLine> line = reader.Next()) {
    if (line->isRecord) {
      contents.records.push_back({line->line, line->markedBad, line->bytes.toByteArray()});
    } else {
      contents.others.push_back({line->line, line->bytes.toByteArray()});
    }
  }
  return contents;
}

}  // namespace vorlan::logging
