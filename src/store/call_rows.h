#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// A logged record as a row of the table calls, in COPY's text format. Pure.
namespace vorlan::store {

// The columns of a row, in the order CopyRow writes them.
inline constexpr const char* kCopyColumns =
    "exchange, record, marked_bad, call_type, started_at, ended_at, talk_seconds, items, "
    "log_file, log_line, line_key, journal, start_month, item_keys";

// What the hourly figures take of a row.
struct RowFacts {
  bool timed = false;      // its start can be read
  qint64 hour = 0;         // of its start as stamped: yyyyMMddhh
  qint64 talkSeconds = 0;
};

// The data items as JSON: [{"type": 6, "data": "..."}], the data's bytes read as Latin-1.
// Text in PostgreSQL cannot hold a NUL, so a NUL byte shows as U+FFFD; the record column
// keeps the bytes.
QByteArray ItemsJson(QByteArrayView record);

// One line of COPY text: the stamps are written without a zone, so the session's TimeZone
// (the exchange's) places them; start_month is the stamp's month, whatever the zone.
QByteArray CopyRow(const QByteArray& exchange, QByteArrayView record, bool markedBad,
                   const QByteArray& logFile, qint64 logLine, QByteArrayView lineKey,
                   const QByteArray& journal, RowFacts* facts = nullptr);

}  // namespace vorlan::store
