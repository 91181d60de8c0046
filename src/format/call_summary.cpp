#include "format/call_summary.h"

#include <QDateTime>

#include <algorithm>

#include "format/call_csv.h"
#include "format/record_formatter.h"

namespace vorlan::format {
namespace {

constexpr qint64 kHourMsecs = qint64{3600} * 1000;
constexpr qint64 kDayMsecs = 24 * kHourMsecs;

// Stamps may reach back to the year 1: numbers below the epoch round down too.
qint64 FloorDiv(qint64 a, qint64 b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

bool AllDigits(QByteArrayView bytes) {
  return !bytes.isEmpty() &&
         std::all_of(bytes.begin(), bytes.end(), [](char c) { return c >= '0' && c <= '9'; });
}

void Merge(SummaryFigures& into, const SummaryFigures& figures) {
  into.calls += figures.calls;
  into.flagged += figures.flagged;
  into.totalTalkSeconds += figures.totalTalkSeconds;
  if (figures.longestTalkSeconds) {
    into.longestTalkSeconds = std::max(
        into.longestTalkSeconds.value_or(*figures.longestTalkSeconds), *figures.longestTalkSeconds);
  }
}

void Count(SummaryFigures& figures, const SummaryCall& call) {
  ++figures.calls;
  if (call.flagged) ++figures.flagged;
  if (!call.start) return;
  figures.totalTalkSeconds += call.talkSeconds;
  figures.longestTalkSeconds =
      std::max(figures.longestTalkSeconds.value_or(call.talkSeconds), call.talkSeconds);
}

// Both stamps of the call's last data type 6 item are 14 digits. The alarm reads a stamp by its
// leading number, so a byte inside one (a control byte the exchange put there) still gives a
// time, and the end shifted by it a talk time of decades: a summary takes neither.
bool WholeStamps(QByteArrayView record) {
  std::optional<QByteArrayView> times;
  for (const DataItem& item : RecordItems(record)) {
    if (item.type == 6) times = item.data;
  }
  constexpr qsizetype kStamp = 14;
  constexpr qsizetype kEndAt = 17;
  return times && times->size() >= kEndAt + kStamp && AllDigits(times->first(kStamp)) &&
         AllDigits(times->sliced(kEndAt, kStamp));
}

}  // namespace

// Extension numbers read as numbers: 99 before 100.
bool CallSummary::ValueOrder::operator()(const QByteArray& a, const QByteArray& b) const {
  const bool digitsA = AllDigits(a);
  const bool digitsB = AllDigits(b);
  if (digitsA != digitsB) return digitsA;
  if (digitsA && a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

std::optional<Grouping> Grouping::Parse(const QString& text) {
  if (text == QLatin1String("hour")) return Grouping{By::Hour, 0};
  if (text == QLatin1String("day")) return Grouping{By::Day, 0};
  if (!text.startsWith(QLatin1String("type:"))) return std::nullopt;
  const QString number = text.mid(5);
  bool ok = false;
  const uint type = number.toUInt(&ok);
  if (!ok || number.size() > 2 || !number.front().isDigit()) return std::nullopt;
  return Grouping{By::Type, double(type)};
}

SummaryCall SummaryCallOf(QByteArrayView record, bool markedBad, const QString& maxTime) {
  SummaryCall call;
  call.record = record;
  if (const std::optional<CallTimes> times =
          WholeStamps(record) ? RecordCallTimes(record) : std::nullopt) {
    call.start = times->start.toMSecsSinceEpoch();
    call.talkSeconds = times->talkSeconds;
  }
  call.flagged = markedBad || FlaggedByAlarm(record, maxTime);
  return call;
}

CallSummary::CallSummary(Grouping grouping) : m_grouping(grouping) {}

void CallSummary::Add(const SummaryCall& call) {
  Count(m_totals.figures, call);
  std::optional<QByteArrayView> value;
  for (const DataItem& item : RecordItems(call.record)) {
    m_types.insert(item.type);
    if (!value && item.type == m_grouping.type) value = item.data;
  }
  if (call.start) {
    m_totals.firstStart = std::min(m_totals.firstStart.value_or(*call.start), *call.start);
    m_totals.lastStart = std::max(m_totals.lastStart.value_or(*call.start), *call.start);
    ++m_talks[call.talkSeconds];
  }

  Count(call.start ? m_byHour[FloorDiv(*call.start, kHourMsecs)] : m_noStart, call);
  if (m_grouping.by == Grouping::By::Type) {
    Count(value && !value->isEmpty() ? m_byValue[value->toByteArray()] : m_noValue, call);
  }
}

std::vector<SummaryGroup> CallSummary::Groups() const {
  if (m_grouping.by != Grouping::By::Type) return TimeGroups(m_grouping.by);
  std::vector<SummaryGroup> groups;
  groups.reserve(m_byValue.size() + 1);
  for (const auto& [value, figures] : m_byValue) groups.push_back({value, std::nullopt, figures});
  if (m_noValue.calls > 0) groups.push_back({QByteArray(), std::nullopt, m_noValue});
  return groups;
}

std::vector<SummaryGroup> CallSummary::TimeGroups(Grouping::By hourOrDay) const {
  const bool days = hourOrDay == Grouping::By::Day;
  const QString format = days ? QStringLiteral("yyyy-MM-dd") : QStringLiteral("yyyy-MM-ddTHH");
  std::vector<SummaryGroup> groups;
  for (const auto& [hour, figures] : m_byHour) {
    const qint64 at = days ? FloorDiv(hour, 24) * kDayMsecs : hour * kHourMsecs;
    if (groups.empty() || *groups.back().at != at) {
      groups.push_back(
          {QDateTime::fromMSecsSinceEpoch(at, Qt::UTC).toString(format).toLatin1(), at, {}});
    }
    Merge(groups.back().figures, figures);
  }
  if (m_noStart.calls > 0) groups.push_back({QByteArray(), std::nullopt, m_noStart});
  return groups;
}

std::vector<HistogramBin> CallSummary::TalkHistogram(qint64 width) const {
  if (m_talks.empty() || width <= 0) return {};
  const qint64 longest = std::max<qint64>(m_talks.rbegin()->first, 0);
  std::vector<HistogramBin> bins(size_t(longest / width + 1));
  for (size_t i = 0; i < bins.size(); ++i) bins[i].from = qint64(i) * width;
  for (const auto& [talk, calls] : m_talks)
    bins[size_t(std::max<qint64>(talk, 0) / width)].calls += calls;
  return bins;
}

qint64 CallSummary::BinWidth(qint64 upTo, int bins) {
  const qint64 span = std::max<qint64>(upTo, 0) + 1;
  for (qint64 power = 1;; power *= 10) {
    for (const qint64 step : {1, 2, 5}) {
      if ((span + step * power - 1) / (step * power) <= std::max(bins, 1)) return step * power;
    }
  }
}

QByteArray SummaryCsv(const CallSummary& summary) {
  const Grouping::By by = summary.GroupingUsed().by;
  QByteArray csv = by == Grouping::By::Hour ? "hour" : by == Grouping::By::Day ? "day" : "value";
  csv += ",calls,flagged,total_talk_seconds,longest_talk_seconds\r\n";
  for (const SummaryGroup& group : summary.Groups()) {
    CsvTextField(csv, QString::fromLatin1(group.key).toUtf8());
    const SummaryFigures& f = group.figures;
    csv += QByteArray::number(f.calls) + ',' + QByteArray::number(f.flagged) + ',' +
           QByteArray::number(f.totalTalkSeconds) + ',' +
           (f.longestTalkSeconds ? QByteArray::number(*f.longestTalkSeconds) : QByteArray()) +
           "\r\n";
  }
  return csv;
}

QString SummaryTimeText(qint64 msecs) {
  return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC)
      .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

}  // namespace vorlan::format
