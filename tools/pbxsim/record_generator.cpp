#include "record_generator.h"

#include <algorithm>

#include "link/frame.h"

namespace pbxsim {
namespace {

// Talk times are kept within what the tool can show as hh:mm:ss (a 16-bit count of seconds).
constexpr qint64 kLongestCall = 32767;
constexpr qint64 kLongCallSpread = 1800;
constexpr qint64 kLargestGap = 90;

// Latin-1 names (octal escapes), as a European exchange puts them into a name field.
const char* const kNames[] = {"M\334LLER J",   "GR\304F A",     "\305SA L",
                              "FRAN\307OIS M", "N\332\321EZ R", "\330STERG\305RD K"};

}  // namespace

QByteArray Stamp(const QDateTime& time) { return time.toString("yyyyMMddHHmmss").toLatin1(); }

// Taken as UTC so that no daylight-saving jump can sit between two stamps.
RecordGenerator::RecordGenerator(const GeneratorSettings& settings, quint32 seed)
    : m_settings(settings),
      m_random(seed),
      m_nextStart(settings.firstStart.date(), settings.firstStart.time(), Qt::UTC) {}

QByteArray RecordGenerator::Item(int type, const QByteArray& data) {
  Q_ASSERT(data.size() <= 99);
  return QByteArray::number(type).rightJustified(2, '0') +
         QByteArray::number(data.size()).rightJustified(2, '0') + data;
}

QByteArray RecordGenerator::DialledNumber() {
  // Grouped as people dial them: "0 30 4455667".
  QByteArray number = "0 " + QByteArray::number(m_random.Between(20, 99)) + ' ';
  const qint64 digits = m_random.Between(5, 8);
  for (qint64 i = 0; i < digits; ++i)
    number.append(static_cast<char>('0' + m_random.Between(0, 9)));
  return number;
}

QByteArray RecordGenerator::CallerName() {
  QByteArray name = kNames[m_random.Between(0, std::size(kNames) - 1)];
  name.append(' ').append(static_cast<char>(m_random.Between(0x80, 0xFF)));
  return name;
}

GeneratedCall RecordGenerator::Next() {
  GeneratedCall call;
  const qint64 threshold = std::clamp<qint64>(m_settings.longSeconds, 0, kLongestCall - 1);
  call.isLong = m_random.Chance(m_settings.longShare);
  call.talkSeconds =
      call.isLong ? m_random.Between(threshold + 1, qMin(threshold + kLongCallSpread, kLongestCall))
                  : m_random.Between(qMin<qint64>(1, threshold), threshold);

  const QDateTime start = m_nextStart;
  const QDateTime end = start.addSecs(call.talkSeconds);
  m_nextStart = start.addSecs(m_random.Between(0, kLargestGap));

  const qint64 callType = m_random.Between(1, 3);
  const QByteArray extension = QByteArray::number(m_random.Between(2000, 2999));
  const QByteArray dialled =
      callType == 3 ? QByteArray::number(m_random.Between(2000, 2999)) : DialledNumber();
  const QByteArray trunk =
      "TRUNK " + QByteArray::number(m_random.Between(1, 24)).rightJustified(2, '0');

  QByteArray& r = call.record;
  r.append(vorlan::frame::STX);
  r.append(QByteArray::number(m_sequence++ % 100).rightJustified(2, '0'));
  r.append(QByteArray::number(callType).rightJustified(2, '0'));
  r.append(Item(1, extension));
  r.append(Item(2, dialled));
  r.append(Item(4, trunk));
  r.append(Item(6, Stamp(start) + " - " + Stamp(end)));
  if (m_settings.highBytes) r.append(Item(9, CallerName()));
  r.append(vorlan::frame::ETX);
  return call;
}

}  // namespace pbxsim
