#pragma once

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

// Bytes as spaced upper-case hex, so that a failing comparison shows what differed.
inline std::string Hex(const QByteArray& bytes) { return bytes.toHex(' ').toUpper().toStdString(); }

inline QByteArray FromHex(const char* hex) { return QByteArray::fromHex(hex); }

inline std::vector<std::string> Hex(const std::vector<QByteArray>& list) {
  std::vector<std::string> out;
  for (const QByteArray& bytes : list) out.push_back(Hex(bytes));
  return out;
}
