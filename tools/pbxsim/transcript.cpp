#include "transcript.h"

#include <QFileDevice>
#include <QJsonDocument>
#include <QJsonObject>

namespace pbxsim {

QString SpacedHex(const QByteArray& bytes) {
  return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

void Transcript::Frame(const QDateTime& time, bool received, const QString& kind,
                       const QByteArray& bytes) {
  QJsonObject line{
      {"dir", received ? "rx" : "tx"}, {"kind", kind}, {"hex", QString::fromLatin1(bytes.toHex())}};
  Write(time, line);
}

void Transcript::Delivered(const QDateTime& time, const QByteArray& record) {
  Write(time, {{"delivered", QString::fromLatin1(record.toHex())}, {"seq", ++m_deliveries}});
}

void Transcript::Event(const QDateTime& time, const QString& event, const QString& text) {
  QJsonObject line{{"event", event}};
  if (!text.isEmpty()) line.insert("text", text);
  Write(time, line);
}

void Transcript::Write(const QDateTime& time, QJsonObject line) {
  if (!m_device) return;
  line.insert("time", time.toUTC().toString(Qt::ISODateWithMs));
  m_device->write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
  if (auto* file = qobject_cast<QFileDevice*>(m_device)) file->flush();
}

}  // namespace pbxsim
