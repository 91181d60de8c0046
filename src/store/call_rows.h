#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// A logged record as a row of the table calls, in COPY's text format. Pure.
namespace vorlan::store {

// The columns of a row, in the order CopyRow writes them.
inline constexpr const char* kCopyColumns =
    "exchange, record, marked_bad, call_type, started_at, ended_at, talk_seconds, items, "
    "log_file, log_line, line_key, journal";

// The data items as JSON: [{"type": 6, "data": "..."}], the data's bytes read as Latin-1.
// Text in PostgreSQL cannot hold a NUL, so a NUL byte shows as U+FFFD; the record column
// keeps the bytes.
QByteArray ItemsJson(QByteArrayView record);

// One line of COPY text: the stamps are written without a zone, so the session's TimeZone
// (the exchange's) places them. `timed`, when given, says whether the start could be read.
QByteArray CopyRow(const QByteArray& exchange, QByteArrayView record, bool markedBad,
                   const QByteArray& logFile, qint64 logLine, QByteArrayView lineKey,
                   const QByteArray& journal, bool* timed = nullptr);

}  // namespace vorlan::store
