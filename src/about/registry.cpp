#include "about/registry.h"

#include <QtEndian>

namespace vorlan {

void DecodeKeyValue(QByteArray data, quint32 type, QString& keyVal) {
  if (data.endsWith('\0')) data.chop(1);
  switch (type) {
    case kTypeString: keyVal = QString::fromLocal8Bit(data); break;
    case kTypeNumber: {
      uchar bytes[4] = {};
      for (qsizetype i = 0; i < qMin<qsizetype>(data.size(), 4); ++i) {
        bytes[i] = static_cast<uchar>(data[i]);
      }
      keyVal = QString::number(qFromLittleEndian<quint32>(bytes));
      break;
    }
    default: break;
  }
}

bool Registry::GetKeyValue(quint32 keyRoot, const QString& keyName, const QString& subKeyRef,
                           QString& keyVal) {
  Key key = 0;
  bool read = false;
  if (OpenKey(keyRoot, keyName, kKeyAccess, key)) {
    quint32 type = 0;
    QByteArray data;
    if (QueryValue(key, subKeyRef, kValueBufferSize, type, data)) {
      DecodeKeyValue(data, type, keyVal);
      read = true;
    }
  }
  if (!read) keyVal.clear();
  CloseKey(key);
  return read;
}

}  // namespace vorlan
