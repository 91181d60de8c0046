#include "format/call_csv.h"

#include "format/record_fields.h"
#include "format/record_formatter.h"

#include <algorithm>

namespace vorlan::format {
namespace {

QByteArray Latin1(QByteArrayView bytes) {
  return QString::fromLatin1(bytes.data(), bytes.size()).toUtf8();
}

QByteArray IsoTime(const QDateTime& at) {
  return at.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1();
}

}  // namespace

void CsvField(QByteArray& line, QByteArrayView utf8) {
  const bool quoted = std::any_of(utf8.begin(), utf8.end(), [](char c) {
    return c == ',' || c == '"' || c == '\r' || c == '\n';
  });
  if (!quoted) {
    line.append(utf8).append(',');
    return;
  }
  line += '"';
  for (const char c : utf8) {
    if (c == '"') line += '"';
    line += c;
  }
  line += "\",";
}

void CsvTextField(QByteArray& line, QByteArrayView utf8) {
  static constexpr QByteArrayView kFormulaStarts = "=+-@\t\r";
  if (!utf8.isEmpty() && kFormulaStarts.contains(utf8.front())) {
    CsvField(line, "'" + utf8.toByteArray());
    return;
  }
  CsvField(line, utf8);
}

QByteArray CsvHeader() {
  return "file,line,flagged_now,marked_bad,call_type,start,end,talk_seconds,items,record_hex\r\n";
}

CsvRecord JudgedCsvRecord(const QString& file, qint64 line, bool markedBad, QByteArrayView record,
                          const std::optional<QString>& maxTime) {
  CsvRecord row{file, line, std::nullopt, markedBad, record};
  if (maxTime) row.flaggedNow = FlaggedByAlarm(record, *maxTime);
  return row;
}

std::optional<CallTimes> RecordCallTimes(QByteArrayView record) {
  std::optional<QByteArrayView> last;
  for (const auto& [type, data] : RecordItems(record)) {
    if (type == 6) last = data;
  }
  return last ? ReadCallTimes(*last) : std::nullopt;
}

QByteArray CsvRow(const CsvRecord& row) {
  QByteArray pairs;
  for (const auto& [type, data] : RecordItems(row.record)) {
    if (!pairs.isEmpty()) pairs += ';';
    pairs += TypeText(type).toLatin1() + ':' + Latin1(data);
  }
  const std::optional<CallTimes> times = RecordCallTimes(row.record);

  QByteArray line;
  CsvTextField(line, row.file.toUtf8());
  CsvField(line, QByteArray::number(row.line));
  CsvField(line, row.flaggedNow ? (*row.flaggedNow ? "1" : "0") : "");
  CsvField(line, row.markedBad ? "1" : "0");
  CsvTextField(line, Latin1(CallType(row.record)));
  CsvField(line, times ? IsoTime(times->start) : QByteArray());
  CsvField(line, times ? IsoTime(times->end) : QByteArray());
  CsvField(line, times ? QByteArray::number(times->talkSeconds) : QByteArray());
  CsvTextField(line, pairs);
  CsvField(line, row.record.toByteArray().toHex().toUpper());
  line.chop(1);
  line += "\r\n";
  return line;
}

}  // namespace vorlan::format
