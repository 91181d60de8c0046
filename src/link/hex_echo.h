#pragma once

#include <QByteArrayView>
#include <QString>

namespace vorlan {

// One echo line of the RAW Data view: the prefix, each byte's code in upper-case hexadecimal
// without leading zeros and followed by a blank, then CR LF ("<- : 16 35 ... 6 F8 \r\n").
QString HexEchoLine(const QString& prefix, QByteArrayView bytes);

}  // namespace vorlan
