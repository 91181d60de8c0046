#include "format/record_formatter.h"

#include "format/leading_number.h"
#include "format/record_fields.h"

#include <QLatin1String>

#include <cmath>
#include <optional>

namespace vorlan::format {
namespace {

constexpr QLatin1String kCrLf("\r\n");
constexpr QLatin1String kSeparator("--------------------------------\r\n");

// Characters from..from+count-1 (1-based), fewer where the record ends sooner, none beyond it.
QByteArrayView Mid(QByteArrayView record, qint64 from, qint64 count) {
  if (from < 1) {
    count += from - 1;
    from = 1;
  }
  if (count <= 0 || from > record.size()) return {};
  return record.sliced(from - 1, std::min<qint64>(count, record.size() - from + 1));
}

QLatin1String Shown(QByteArrayView bytes) { return QLatin1String(bytes.data(), bytes.size()); }

}  // namespace

QString TypeText(double type) { return QString::number(type, 'g', QLocale::FloatingPointShortest); }

QByteArrayView CallType(QByteArrayView record) { return Mid(record, 4, 2); }

std::vector<DataItem> RecordItems(QByteArrayView record) {
  std::vector<DataItem> items;
  // 64 bits: a long record must not wrap the position round to an earlier item.
  qint64 position = 10;
  do {
    const double length = LeadingNumber(Mid(record, position - 2, 2));
    const double type = LeadingNumber(Mid(record, position - 4, 2));
    if (!(length >= 0) || length != std::floor(length)) break;
    // Beyond the record's end the exact length no longer matters; capping keeps it in range.
    const qint64 count = length > double(record.size()) ? record.size() + 1 : qint64(length);
    items.push_back({type, Mid(record, position, count)});
    position += count + 4;
  } while (position <= record.size());
  return items;
}

bool FlaggedByAlarm(QByteArrayView record, const QString& maxTime) {
  std::optional<QByteArrayView> call;
  for (const auto& [type, data] : RecordItems(record)) {
    if (type == 6) call = data;
  }
  return call && CallFlagged(ReadCallTimes(*call), maxTime);
}

QString FormatData(QByteArrayView record, const QString& maxTime, const QLocale& locale) {
  QString text;
  text.reserve(record.size() + 128);
  text.append(QLatin1String("Call Type: ")).append(Shown(CallType(record))).append(kCrLf);
  text.append(kSeparator);

  for (const auto& [type, data] : RecordItems(record)) {
    text.append(QLatin1String("Data-Type: ")).append(TypeText(type));
    // Data type 6 puts its data on a line of its own, for the time lines that follow.
    text.append(type == 6 ? QLatin1String(" ---> \r\n(") : QLatin1String(" ---> ("));
    text.append(Shown(data)).append(u')').append(kCrLf);
    text += type == 6 ? FormatRecordFields(data, maxTime, locale).text : QString(kCrLf);
    text += kSeparator;
  }
  return text;
}

}  // namespace vorlan::format
