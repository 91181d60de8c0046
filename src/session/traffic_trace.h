#pragma once

#include <QByteArray>
#include <QFile>
#include <QObject>
#include <QString>

namespace vorlan {

class Platform;

namespace session {

class Session;

// The link's whole traffic for a technician: every frame out and every arrival in, with the
// time to the millisecond, all its bytes in hex, and what the session made of it, one line each,
// in a file beside each log file (MMDDhhmm.trace beside MMDDhhmm.log). It only listens to the
// session: it never holds the record path up, and a trace that cannot be written is reported
// once and switched off.
//
// A line is "hh:mm:ss.zzz DIR TEXT": DIR "out" (a frame written; its bytes, then " | " and its
// kind), "in " (an arrival as read; its bytes, then " | " and what its first frame looks like)
// or "-- " (what the session made of the arrivals: reply kinds, records, give-ups, repetitions).
class TrafficTrace : public QObject {
  Q_OBJECT

 public:
  TrafficTrace(Platform& platform, Session& session);
  ~TrafficTrace() override;
  Q_DISABLE_COPY_MOVE(TrafficTrace)

  // On: traces to the file beside the log file open now, and beside each one opened later.
  void SetEnabled(bool on);
  bool Enabled() const { return m_enabled; }
  QString Path() const { return m_file.fileName(); }

  // The kind of a frame we send, and what an arrival's first frame looks like.
  static QString DescribeSent(const QByteArray& frame);
  static QString DescribeArrival(const QByteArray& text, const QByteArray& deviceId);
  // Bytes as two upper-case hex digits each, separated by blanks.
  static QByteArray Hex(const QByteArray& bytes);
  static QString TracePath(const QString& logPath);

 signals:
  // The trace could not be opened or written; it is off now.
  void Failed(const QString& why);

 private:
  void Open(const QString& logPath);
  void Line(const char* direction, const QByteArray& text);
  void Note(const QString& text) { Line("-- ", text.toLatin1()); }
  void Fail(const QString& why);

  Platform& m_platform;
  Session& m_session;
  bool m_enabled = false;
  QFile m_file;
};

}  // namespace session
}  // namespace vorlan
