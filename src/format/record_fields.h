#pragma once

#include <QByteArrayView>
#include <QDateTime>
#include <QLocale>
#include <QString>

#include <optional>

// The data type 6 item: the call's start and end stamps, its talk time and the over-long-call
// alarm. Pure: the caller supplies what the main window holds and applies the result.
namespace vorlan::format {

struct FieldsResult {
  QString text;    // the time lines for the Formatted Output window; empty when flagged
  bool badRecord;  // whether the alarm flags this call (CallFlagged)
};

// A call's start and end as the alarm reads them from a data type 6 item: calendar values with
// no time zone (held as UTC, so that no local clock change moves them), and the talk time
// between them in seconds.
struct CallTimes {
  QDateTime start;
  QDateTime end;
  qint64 talkSeconds = 0;
};

// Nothing where the alarm cannot read them (a start stamp out of its range, a field too large,
// a date outside the years 1 to 9999, a talk time beyond 32 bits): it then flags the record.
std::optional<CallTimes> ReadCallTimes(QByteArrayView data);

// A talk time as the window shows it: hh:mm:ss, a minus before a negative one ("-00:00:30"),
// the hours as many digits as they need.
QString TalkTimeText(qint64 seconds);

// The alarm's verdict on one call, from the call and the maximum call time alone (the
// TxtMaxTime text, read by the leading-number rule): flagged where its times cannot be read or
// its talk time runs over the maximum; equal passes, and an empty maximum flags no readable call.
bool CallFlagged(const std::optional<CallTimes>& times, const QString& maxTime);

// Whether a maximum call time given from outside the box (a stored setting, an option, a
// configuration file) is one the alarm can judge by: a whole number of seconds, digits only as
// the box lets the operator type them, up to the longest talk time a record can hold. A sign,
// a fraction or letters would read as another number, or as 0 and flag every call. Empty is no
// maximum; only the window's box has that meaning for it (the alarm is off).
bool IsMaxTime(const QString& text);

// Judges one data type 6 item and, unless it is flagged, renders its start, end and talk time
// for the Formatted Output window. Dates are plain calendar values with no time zone, so no
// daylight-saving shift enters the talk time.
FieldsResult FormatRecordFields(QByteArrayView data, const QString& maxTime,
                                const QLocale& locale = QLocale());

}  // namespace vorlan::format
