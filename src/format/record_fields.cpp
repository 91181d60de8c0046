#include "format/record_fields.h"

#include "format/date_text.h"
#include "format/leading_number.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace vorlan::format {
namespace {

constexpr qint64 kSecondsPerDay = 86'400;
constexpr qint64 kInt16Min = std::numeric_limits<qint16>::min();
constexpr qint64 kInt16Max = std::numeric_limits<qint16>::max();
constexpr qint64 kInt32Min = std::numeric_limits<qint32>::min();
constexpr qint64 kInt32Max = std::numeric_limits<qint32>::max();

// Characters a stamp may be cut to; shorter where the data ends sooner.
QByteArrayView Cut(QByteArrayView text, qsizetype from, qsizetype count) {
  if (from >= text.size()) return {};
  return text.sliced(from, std::min(count, text.size() - from));
}

// Halves go to the even neighbour, so 0.5 reads as 0 and 1.5 as 2.
double RoundHalfEven(double value) {
  const double floor = std::floor(value);
  const double rest = value - floor;
  if (rest > 0.5) return floor + 1;
  if (rest < 0.5) return floor;
  return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

// A field rounded to a whole number, or nothing when it does not fit [low, high].
std::optional<qint64> Whole(QByteArrayView field, qint64 low, qint64 high) {
  const double value = RoundHalfEven(LeadingNumber(field));
  if (!(value >= double(low) && value <= double(high))) return std::nullopt;
  return qint64(value);
}

struct Stamp {
  qint64 year, month, day, hour, minute, second;
};

// YYYYMMDDhhmmss; year to minute are 16-bit values, the second a 32-bit one.
std::optional<Stamp> ReadStamp(QByteArrayView stamp) {
  const auto year = Whole(Cut(stamp, 0, 4), kInt16Min, kInt16Max);
  const auto month = Whole(Cut(stamp, 4, 2), kInt16Min, kInt16Max);
  const auto day = Whole(Cut(stamp, 6, 2), kInt16Min, kInt16Max);
  const auto hour = Whole(Cut(stamp, 8, 2), kInt16Min, kInt16Max);
  const auto minute = Whole(Cut(stamp, 10, 2), kInt16Min, kInt16Max);
  const auto second = Whole(Cut(stamp, 12, 2), kInt32Min, kInt32Max);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  return Stamp{*year, *month, *day, *hour, *minute, *second};
}

// Upper bounds only: zero and negative values pass, and minute and second may be 60.
bool InStartRange(const Stamp& s) {
  return s.month <= 12 && s.day <= 31 && s.hour <= 23 && s.minute <= 60 && s.second <= 60;
}

qint64 FloorDiv(qint64 a, qint64 b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

const qint64 kFirstDay = QDate(1, 1, 1).toJulianDay();
const qint64 kLastDay = QDate(9999, 12, 31).toJulianDay();

// Seconds since the start of Julian day 0, every field rolling over into the next larger one
// (month 13 is January of the next year, day 0 the last day of the month before). Nothing
// when the date leaves the years 1 to 9999.
std::optional<qint64> Compose(const Stamp& s) {
  if (s.year < 0) return std::nullopt;
  const qint64 year = s.year < 30 ? s.year + 2000 : s.year < 100 ? s.year + 1900 : s.year;
  const qint64 months = year * 12 + (s.month - 1);
  const qint64 rolledYear = FloorDiv(months, 12);
  if (rolledYear < 1 || rolledYear > 9999) return std::nullopt;
  const int rolledMonth = int(months - rolledYear * 12) + 1;
  const qint64 day = QDate(int(rolledYear), rolledMonth, 1).toJulianDay() + (s.day - 1);
  if (day < kFirstDay || day > kLastDay) return std::nullopt;
  const qint64 seconds = day * kSecondsPerDay + s.hour * 3600 + s.minute * 60 + s.second;
  if (seconds < kFirstDay * kSecondsPerDay || seconds >= (kLastDay + 1) * kSecondsPerDay)
    return std::nullopt;
  return seconds;
}

QString DateText(const QDateTime& at, const QLocale& locale) {
  return GeneralDateText(at.date(), at.time(), locale);
}

// Held as UTC only so that no daylight-saving gap of the local zone moves the time of day.
QDateTime DateTimeOf(qint64 seconds) {
  return QDateTime(QDate::fromJulianDay(seconds / kSecondsPerDay),
                   QTime::fromMSecsSinceStartOfDay(int(seconds % kSecondsPerDay) * 1000), Qt::UTC);
}

}  // namespace

std::optional<CallTimes> ReadCallTimes(QByteArrayView data) {
  const auto startStamp = ReadStamp(Cut(data, 0, 14));
  if (!startStamp || !InStartRange(*startStamp)) return std::nullopt;
  const auto start = Compose(*startStamp);
  if (!start) return std::nullopt;
  const auto endStamp = ReadStamp(Cut(data, 17, 14));
  if (!endStamp) return std::nullopt;
  const auto end = Compose(*endStamp);
  if (!end) return std::nullopt;
  const qint64 talkTime = *end - *start;
  if (talkTime < kInt32Min || talkTime > kInt32Max) return std::nullopt;
  return CallTimes{DateTimeOf(*start), DateTimeOf(*end), talkTime};
}

QString TalkTimeText(qint64 seconds) {
  const qint64 magnitude = seconds < 0 ? -seconds : seconds;
  return QStringLiteral("%1%2:%3:%4")
      .arg(seconds < 0 ? QStringLiteral("-") : QString())
      .arg(magnitude / 3600, 2, 10, QChar(u'0'))
      .arg(magnitude / 60 % 60, 2, 10, QChar(u'0'))
      .arg(magnitude % 60, 2, 10, QChar(u'0'));
}

bool CallFlagged(const std::optional<CallTimes>& times, const QString& maxTime) {
  if (!times) return true;
  if (maxTime.isEmpty()) return false;
  return !(LeadingNumber(maxTime) >= double(times->talkSeconds));
}

bool IsMaxTime(const QString& text) {
  if (text.isEmpty()) return false;
  if (!std::all_of(text.begin(), text.end(), [](QChar c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  bool ok = false;
  const qulonglong seconds = text.toULongLong(&ok);
  return ok && seconds <= qulonglong(std::numeric_limits<qint32>::max());
}

FieldsResult FormatRecordFields(QByteArrayView data, const QString& maxTime,
                                const QLocale& locale) {
  const std::optional<CallTimes> times = ReadCallTimes(data);
  if (CallFlagged(times, maxTime)) return {QString(), true};

  const QString indent(6, u' ');
  const QString text = QStringLiteral("\r\n") + indent + DateText(times->start, locale) +
                       QStringLiteral("\r\n") + indent + DateText(times->end, locale) +
                       QStringLiteral(" --> (") + TalkTimeText(times->talkSeconds) +
                       QStringLiteral(")\r\n\r\n");
  return {text, false};
}

}  // namespace vorlan::format
