#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QIODevice>
#include <QJsonObject>
#include <QString>

namespace pbxsim {

// Bytes as the console shows them: "16 31 30 FD".
QString SpacedHex(const QByteArray& bytes);

// A machine-readable record of one run, one JSON object per line, written through to the
// device as it happens so that a test can read it after killing the process:
//   {"time":..., "dir":"rx"|"tx", "kind":..., "hex":"1631..."}   every frame, both directions
//   {"time":..., "delivered":"02...03", "seq":n}                  every acknowledged record
//   {"time":..., "event":"connected"|"closed"|..., "text":...}    connections and notes
// Times are UTC with milliseconds; seq counts deliveries from 1 in the order they happened.
class Transcript {
 public:
  explicit Transcript(QIODevice* device) : m_device(device) {}

  void Frame(const QDateTime& time, bool received, const QString& kind, const QByteArray& bytes);
  void Delivered(const QDateTime& time, const QByteArray& record);
  void Event(const QDateTime& time, const QString& event, const QString& text = {});

 private:
  void Write(const QDateTime& time, QJsonObject line);

  QIODevice* m_device;
  qint64 m_deliveries = 0;
};

}  // namespace pbxsim
