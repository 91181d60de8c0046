#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

#include "format/record_fields.h"
#include "format/record_formatter.h"

// Call records as CSV (RFC 4180: fields with a comma, a quote, CR or LF are quoted, quotes
// doubled, lines end in CR LF), UTF-8, the record's bytes read as Latin-1.
namespace vorlan::format {

// file,line,flagged_now,marked_bad,call_type,start,end,talk_seconds,items,record_hex
QByteArray CsvHeader();

struct CsvRecord {
  QString file;
  qint64 line = 0;
  std::optional<bool> flaggedNow;  // empty: no maximum to judge by
  bool markedBad = false;          // the log file marked it "<BAD>:"
  QByteArrayView record;           // STX to ETX, as logged
};

// Appends one field, quoted where it must be, and its comma; the caller takes the line's last
// comma off.
void CsvField(QByteArray& line, QByteArrayView utf8);
// A text field as CsvField, neutralised for spreadsheets: text that begins with =, +, -, @, a
// tab or a CR (which a spreadsheet runs as a formula) gets a leading apostrophe.
void CsvTextField(QByteArray& line, QByteArrayView utf8);

// One line. start, end and talk_seconds come from the record's last data type 6 item (the one
// the alarm decides by), times in ISO 8601 without a zone (the stamps carry none), empty where
// there is no such item or it cannot be read; items are "type:data" pairs joined by ";".
QByteArray CsvRow(const CsvRecord& row);

// The start, end and talk time of the record's last data type 6 item; nothing where the record
// has none or the alarm cannot read it.
std::optional<CallTimes> RecordCallTimes(QByteArrayView record);

// The row of a logged record, flagged_now judged against the maximum where there is one, by
// the alarm's own verdict (FlaggedByAlarm).
CsvRecord JudgedCsvRecord(const QString& file, qint64 line, bool markedBad, QByteArrayView record,
                          const std::optional<QString>& maxTime);

}  // namespace vorlan::format
