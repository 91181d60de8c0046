#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>
#include <vector>

namespace pbxsim {

// Records to replay, one per line: the tool's own log files, lines copied from its RAW Data
// view, or records typed by hand. The "<BAD>:" marker goes, a missing STX or ETX is added, and
// every other byte is kept as it stands (the tool's dots stay dots).
std::vector<QByteArray> ParseRecordLines(QByteArrayView text);

// Reads a whole file; on failure returns nothing and sets the reason.
std::optional<std::vector<QByteArray>> ReadRecordFile(const QString& path, QString* error);

}  // namespace pbxsim
