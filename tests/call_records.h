#pragma once

#include <QByteArray>

// Call records built for tests: STX, two characters, the call type, the items, ETX.
namespace vorlan::records {

inline QByteArray Record(const QByteArray& callType, const QByteArray& items) {
  return "\x02" "00" + callType + items + "\x03";
}
inline QByteArray Item(int type, const QByteArray& data) {
  return QByteArray::number(type).rightJustified(2, '0') +
         QByteArray::number(data.size()).rightJustified(2, '0') + data;
}
// A data type 6 item: start and end stamps, yyyyMMddhhmmss.
inline QByteArray Times(const char* start, const char* end) {
  return Item(6, QByteArray(start) + "..." + end);
}

}  // namespace vorlan::records
