#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <map>
#include <optional>
#include <set>
#include <vector>

// The figures operators ask of a set of calls first: how many per hour or per day, how long
// they run, which values of one data type make them, and totals. Folded one call at a time, so
// that a million records need no copy of themselves.
namespace vorlan::format {

// What the summary needs of one call.
struct SummaryCall {
  // The start of its last data type 6 item, in msecs since the epoch of the stamp read as a UTC
  // calendar value; nothing where it has none or it cannot be read. Then its talk time is not
  // known either and counts nowhere.
  std::optional<qint64> start;
  qint64 talkSeconds = 0;
  bool flagged = false;   // over the maximum now, or marked "<BAD>:"
  QByteArrayView record;  // STX to ETX, for the data type grouping
};

// How the calls are grouped: by the hour or the day in which they started, or by the data of
// their first item of one data type.
struct Grouping {
  enum class By { Hour, Day, Type };
  By by = By::Hour;
  double type = 0;  // for By::Type, compared as the record's items read it (06 is 6)

  // "hour", "day" or "type:N"; nothing for any other text.
  static std::optional<Grouping> Parse(const QString& text);
};

struct SummaryFigures {
  qint64 calls = 0;
  qint64 flagged = 0;
  qint64 totalTalkSeconds = 0;
  std::optional<qint64> longestTalkSeconds;  // nothing where no call of the group has times
};

struct SummaryGroup {
  // "YYYY-MM-DDThh", "YYYY-MM-DD" or the data as logged; empty for the calls without a readable
  // start (or without an item of the type), which come last.
  QByteArray key;
  // For hours and days: the start of the hour or day, msecs as above.
  std::optional<qint64> at;
  SummaryFigures figures;
};

struct SummaryTotals {
  SummaryFigures figures;
  std::optional<qint64> firstStart;  // msecs as above
  std::optional<qint64> lastStart;
};

// One bar of the talk-time histogram: the calls whose talk time is at least `from` seconds
// and below from + width (the first bar also takes negative talk times).
struct HistogramBin {
  qint64 from = 0;
  qint64 calls = 0;
};

// The call as the summary sees it: flagged where it is marked or the alarm flags it against
// the maximum (the TxtMaxTime text; empty flags only the calls whose times cannot be read).
SummaryCall SummaryCallOf(QByteArrayView record, bool markedBad, const QString& maxTime);

class CallSummary {
 public:
  explicit CallSummary(Grouping grouping);

  void Add(const SummaryCall& call);

  const Grouping& GroupingUsed() const { return m_grouping; }
  // The groups of the grouping, in order of the key: hours and days in time order, values that
  // are digits by number and others by their bytes; the empty key last.
  std::vector<SummaryGroup> Groups() const;
  // The calls by the hour or the day in which they started, whatever the grouping.
  std::vector<SummaryGroup> TimeGroups(Grouping::By hourOrDay) const;
  const SummaryTotals& Totals() const { return m_totals; }
  // The data types of every item of the calls added, in order.
  const std::set<double>& TypesPresent() const { return m_types; }
  // Talk times in bins of `width` seconds (> 0), from 0 up to and including the longest; empty
  // where no call has times.
  std::vector<HistogramBin> TalkHistogram(qint64 width) const;
  // A bin width of 1, 2 or 5 times a power of ten seconds that gives at most `bins` bars up
  // to `upTo` seconds.
  static qint64 BinWidth(qint64 upTo, int bins);

 private:
  struct ValueOrder {
    bool operator()(const QByteArray& a, const QByteArray& b) const;
  };

  Grouping m_grouping;
  SummaryTotals m_totals;
  std::map<qint64, SummaryFigures> m_byHour;  // hours since the epoch
  SummaryFigures m_noStart;
  std::map<QByteArray, SummaryFigures, ValueOrder> m_byValue;  // data type grouping
  SummaryFigures m_noValue;
  std::set<double> m_types;
  std::map<qint64, qint64> m_talks;  // talk time in seconds: calls
};

// The summary as CSV: a header of hour, day or value and
// calls,flagged,total_talk_seconds,longest_talk_seconds, then one row per group (CR LF lines,
// quoted as the call CSV quotes, values read as Latin-1).
QByteArray SummaryCsv(const CallSummary& summary);

// A start (msecs as above) as "YYYY-MM-DD hh:mm:ss".
QString SummaryTimeText(qint64 msecs);

}  // namespace vorlan::format
