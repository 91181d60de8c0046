#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// The records at the end of a log file's bytes.
namespace vorlan::logging {

// The last records (STX to ETX, without the "<BAD>:" marker), oldest first, at most
// `maxRecords`, in the bytes of a file's end; `fromStart` when they begin the file. A torn last
// line is not a record.
std::vector<QByteArray> LastRecordsIn(QByteArrayView tail, bool fromStart, qsizetype maxRecords);

}  // namespace vorlan::logging
