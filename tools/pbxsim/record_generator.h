#pragma once

#include <QByteArray>
#include <QDateTime>

#include "random.h"

namespace pbxsim {

struct GeneratorSettings {
  QDateTime firstStart;    // wall-clock reading of the first call's start; only its fields count
  double longShare = 0.2;  // share of calls longer than longSeconds
  int longSeconds = 10;    // talk time above which a call counts as long
  bool highBytes = false;  // add a name item with bytes from 0x80 to 0xFF
};

struct GeneratedCall {
  QByteArray record;       // STX ... ETX, blanks as the exchange sends them
  qint64 talkSeconds = 0;  // end stamp minus start stamp
  bool isLong = false;     // talkSeconds > longSeconds
};

// Makes well-formed call records: STX, a two-digit sequence, a call type, then the data items
// extension (01), dialled number (02), trunk (04), start and end stamps (06) and, with high
// bytes, a caller name (09). Calls follow each other by 0 to 90 s; every stamp is a plain
// calendar reading with no time zone, so End - Start is the talk time the tool will compute.
class RecordGenerator {
 public:
  RecordGenerator(const GeneratorSettings& settings, quint32 seed);

  GeneratedCall Next();

 private:
  static QByteArray Item(int type, const QByteArray& data);
  QByteArray DialledNumber();
  QByteArray CallerName();

  GeneratorSettings m_settings;
  Random m_random;
  QDateTime m_nextStart;
  int m_sequence = 0;
};

// A stamp as the exchange writes it: YYYYMMDDhhmmss.
QByteArray Stamp(const QDateTime& time);

}  // namespace pbxsim
