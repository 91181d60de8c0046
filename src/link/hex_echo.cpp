#include "link/hex_echo.h"

namespace vorlan {

QString HexEchoLine(const QString& prefix, QByteArrayView bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  QString line;
  line.reserve(prefix.size() + bytes.size() * 3 + 2);
  line += prefix;
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 16) line += QLatin1Char(kDigits[b >> 4]);
    line += QLatin1Char(kDigits[b & 15]);
    line += QLatin1Char(' ');
  }
  line += QLatin1String("\r\n");
  return line;
}

}  // namespace vorlan
