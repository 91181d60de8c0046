#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// What a log folder says was logged last, for recognising records that the exchange sends again.
namespace vorlan::logging {

// The last records (STX to ETX, without the "<BAD>:" marker), oldest first, at most
// `maxRecords`, of the newest non-empty regular log file in `logsFolder`. Only the file's last
// 1 MiB is read; a torn last line is not a record. Empty when there is none.
std::vector<QByteArray> LastLoggedRecords(const QString& logsFolder, qsizetype maxRecords);

// The same from the bytes of a file's end; `fromStart` when they begin the file.
std::vector<QByteArray> LastRecordsIn(QByteArrayView tail, bool fromStart, qsizetype maxRecords);

}  // namespace vorlan::logging
