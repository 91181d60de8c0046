#pragma once

#include <QByteArray>
#include <QString>

#include <ostream>
#include <string>

// Bytes in failure messages read as hex ("16 35 30 ..."), never as mangled text.
inline std::string Hex(const QByteArray& bytes) {
  return bytes.toHex(' ').toUpper().toStdString();
}

// Parses "16 35 30" into bytes.
inline QByteArray FromHex(const char* hex) { return QByteArray::fromHex(QByteArray(hex)); }

inline void PrintTo(const QByteArray& bytes, std::ostream* os) { *os << "[" << Hex(bytes) << "]"; }
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}
