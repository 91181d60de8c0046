#include "logging/log_reader.h"

#include <algorithm>

namespace vorlan::logging {
namespace {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr QByteArrayView kBadMarker = "<BAD>:";
constexpr QByteArrayView kRecordEnd = "\x03\r\n";
constexpr QByteArrayView kLineEnd = "\r\n";
constexpr QByteArrayView kRecordCutShortEnd = "\x03 \x03\r\n";

}  // namespace

qsizetype LogReader::NextEtx(qsizetype from) {
  if (m_etxFrom < 0 || from < m_etxFrom || (m_etx >= 0 && m_etx < from)) {
    m_etx = m_bytes.indexOf(kEtx, from);
    m_etxFrom = from;
  }
  return m_etx;
}

std::optional<LogLine> LogReader::Next() {
  const qsizetype size = m_bytes.size();
  const qsizetype position = m_position;
  m_undecided = false;
  if (position >= size) return std::nullopt;
  const QByteArrayView rest = m_bytes.sliced(position);
  // A marker still being written, or only the marker so far.
  if (!m_whole && rest.size() <= kBadMarker.size() && kBadMarker.startsWith(rest)) {
    m_undecided = true;
    return std::nullopt;
  }
  const bool bad = rest.startsWith(kBadMarker);
  const qsizetype stx = position + (bad ? kBadMarker.size() : 0);
  if (stx < size && m_bytes[stx] == kStx) {
    const qsizetype etx = NextEtx(stx + 1);
    if (etx >= 0 && etx - stx < kLongestRecord) {
      if (!m_whole && etx + 3 > size) {
        m_undecided = true;
        return std::nullopt;
      }
      if (m_bytes.sliced(etx + 1).startsWith("\r\n")) {
        const QByteArrayView record = m_bytes.sliced(stx, etx - stx + 1);
        const LogLine line{m_line, true, bad, record};
        m_line += std::count(record.begin(), record.end(), '\n') + 1;
        m_position = etx + 3;
        return line;
      }
    } else if (!m_whole && etx < 0 && size - stx < kLongestRecord) {
      m_undecided = true;
      return std::nullopt;
    }
  }
  // Not a record: the line as it stands, up to its LF.
  const qsizetype lf = m_bytes.indexOf('\n', position);
  if (lf < 0 && !m_whole) {
    m_undecided = true;
    return std::nullopt;
  }
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

QByteArrayView LineEndBeforeAppending(QByteArrayView end, bool wholeFile) {
  const qsizetype size = end.size();
  // Nothing before a record's ETX CR LF can reach past it, so the lines after it are read alone.
  const qsizetype lastRecordEnd = end.lastIndexOf(kRecordEnd);
  if (lastRecordEnd < 0 && !wholeFile) return kRecordCutShortEnd;  // no known line start
  // The last ETX that has both its following bytes here: after it no record can begin, and a
  // line that starts with STX before it is no record whatever follows.
  const qsizetype decidingEtx = end.first(std::max<qsizetype>(size - 2, 0)).lastIndexOf(kEtx);
  qsizetype position = lastRecordEnd < 0 ? 0 : lastRecordEnd + kRecordEnd.size();
  while (position < size) {
    const bool bad = end.sliced(position).startsWith(kBadMarker);
    const qsizetype stx = position + (bad ? kBadMarker.size() : 0);
    if (stx < size && end[stx] == kStx && decidingEtx <= stx) return kRecordCutShortEnd;
    const qsizetype lf = end.indexOf('\n', position);
    if (lf < 0) return kLineEnd;
    position = lf + 1;
  }
  return {};
}

}  // namespace vorlan::logging
