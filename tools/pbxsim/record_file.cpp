#include "record_file.h"

#include <QFile>

#include "link/frame.h"

namespace pbxsim {
namespace {

constexpr QByteArrayView kBadMarker = "<BAD>:";

// Lines of the RAW Data view start with a blank or " <BAD>:" before the record's STX.
QByteArrayView StripMarkers(QByteArrayView line) {
  if (line.startsWith(' ') && line.size() > 1 &&
      (line[1] == vorlan::frame::STX || line.sliced(1).startsWith(kBadMarker))) {
    line = line.sliced(1);
  }
  if (line.startsWith(kBadMarker)) line = line.sliced(kBadMarker.size());
  return line;
}

}  // namespace

std::vector<QByteArray> ParseRecordLines(QByteArrayView text) {
  std::vector<QByteArray> records;
  qsizetype begin = 0;
  while (begin < text.size()) {
    qsizetype end = text.indexOf('\n', begin);
    if (end < 0) end = text.size();
    QByteArrayView line = text.sliced(begin, end - begin);
    begin = end + 1;
    if (line.endsWith('\r')) line.chop(1);
    line = StripMarkers(line);
    if (line.trimmed().isEmpty()) continue;

    QByteArray record;
    if (!line.startsWith(vorlan::frame::STX)) record.append(vorlan::frame::STX);
    record.append(line);
    if (!line.endsWith(vorlan::frame::ETX)) record.append(vorlan::frame::ETX);
    records.push_back(record);
  }
  return records;
}

std::optional<std::vector<QByteArray>> ReadRecordFile(const QString& path, QString* error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    if (error) *error = file.errorString();
    return std::nullopt;
  }
  return ParseRecordLines(file.readAll());
}

}  // namespace pbxsim
