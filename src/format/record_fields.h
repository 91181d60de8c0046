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
  QString text;    // to append to the Formatted Output window; empty when hidden or flagged
  bool badRecord;  // the new BadRecord value
};

// Judges one data type 6 item against the maximum call time (the TxtMaxTime text) and, when
// the Formatted Output window is visible, renders its start, end and talk time.
//
// Beyond the plain rules: a field that does not fit its 16- or 32-bit range, or a stamp whose
// date falls outside the years 1 to 9999, flags the record. Dates are plain calendar values
// with no time zone, so no daylight-saving shift enters the talk time. A negative talk time
// is shown with a leading minus ("-00:00:30").
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

FieldsResult FormatRecordFields(QByteArrayView data, bool visible, const QString& maxTime,
                                bool badRecord, const QLocale& locale = QLocale());

}  // namespace vorlan::format
