#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <deque>
#include <memory>
#include <vector>

#include "link/frame.h"
#include "link/reply_reader.h"
#include "logging/last_reply.h"

namespace vorlan {
class Platform;
class Timer;
}  // namespace vorlan

namespace vorlan::session {

class Connection;
class LogRoll;

// The record count after `count`: it starts again at 0 past its largest value rather than
// overflow.
qint32 NextRecordCount(qint32 count);

class Pacer;
class Poller;

// The record step: an arrival's text goes through the connection's reply reader, and what it
// finds is judged, written, synced and acknowledged, in that order. A data reply is
// acknowledged only once it is whole and its lines are on disk; the records of a reply the
// exchange sent again are recognised (where the reply logged last lies is kept in the logs
// folder) and acknowledged without being logged twice. Nothing here waits: a reply that may go
// on is left open for the next arrival, the rest timer or the request's deadline, and an
// acknowledgement on its way holds the step open until it has been written.
class RecordStep : public QObject {
  Q_OBJECT

 public:
  RecordStep(Platform& platform, Connection& connection, Pacer& pacer, Poller& poller,
             LogRoll& roll, int& handlers);
  ~RecordStep() override;
  Q_DISABLE_COPY_MOVE(RecordStep)

  void SetDeviceId(const QByteArray& id) { m_deviceId = id; }
  void SetMaxTime(const QString& seconds) { m_maxTime = seconds; }

  // An arrival came: which request it may answer is fixed now, though it is read later.
  void Arrived(quint64 readAfter) { m_arrivalReadAfter = readAfter; }
  void Read(const QByteArray& text, const std::vector<qsizetype>& pieces);
  // A reply that may be whole, taken as whole (its rest did not come).
  void TakeWholeReply();
  // Whatever part of an answer came is given up unacknowledged; the exchange sends it again.
  void GiveUp();
  // Everything held belongs to the connection that ended.
  void NewConnection();

  // A data reply has begun and its acknowledgement has not been written yet.
  bool ReplyOpen() const { return m_reader.InDataReply() || m_acknowledging; }
  bool InDataReply() const { return m_reader.InDataReply(); }
  bool ReplyMayEnd() const { return m_reader.ReplyMayEnd(); }
  // Events are being handled, or wait for an acknowledgement to be written.
  bool Open() const { return m_stepOpen; }
  qint32 RecordCount() const { return m_recordCount; }
  // Text the reader holds of a reply not yet whole.
  qsizetype Held() const { return m_reader.Held(); }
  const Timer& RestTimer() const { return *m_restTimer; }

 signals:
  // The first bytes of an arrival, and the whole of it, as it is read.
  void FrameReceived(const QByteArray& head);
  void ArrivalRead(const QByteArray& text);
  void StatusReply(vorlan::frame::ReplyKind kind);
  void DataReplyStarted(char blockChar);
  void UnrecognisedReply();
  // A well-formed status reply from another device ID than ours; once per connection.
  void ForeignDeviceId(char answeredAs);
  // Each record as it is taken, with its flag: the one verdict, made once.
  void RecordTaken(const QByteArray& record, bool bad);
  // A record on disk, before its reply's acknowledgement: `cutFrom` its length on the wire when
  // it was cut to fit, `count` the records logged so far, `at` where its line starts in the log.
  void RecordLogged(const QByteArray& record, bool bad, qint64 cutFrom, qint32 count, qint64 at);
  void RecordGivenUp(const QByteArray& bytes, qint64 size);
  void RecordsAlreadyLogged(qsizetype repeated, qsizetype of);
  void Acknowledged();
  void LogWriteFailed(const QString& path, const QString& failure);
  // The step under way has ended: arrivals may be read, a due switch may start.
  void StepEnded();

 private:
  using Event = link::ReplyReader::Event;
  struct PendingRecord {
    QByteArray record;
    bool bad = false;
    qint64 cutFrom = 0;
  };

  void Begin(std::vector<Event> events);
  void Proceed();
  void EndStep();
  void Settle();
  void RestTimer_Timer();
  bool HandleReaderEvent(const Event& event);
  void TakeStatus(const QByteArray& reply);
  void TakeRecord(const Event& event);
  // false: the step goes on once the acknowledgement is written, or ends here.
  bool AcknowledgeDataReply(const QByteArray& blocks);
  void SendAcknowledgement(QByteArray blocks);
  void Acknowledge();
  // How many of the reply's first records are the reply logged last, sent again.
  qsizetype RepeatedRecords(const std::vector<PendingRecord>& records);
  // Writes the reply's new lines and puts them on disk; where they start goes to `at`.
  bool LogReply(const QByteArray& lines, qsizetype count, bool extendsLast, qint64* at,
                QString* failure);
  void FailLogWrite(const QString& path, const QString& failure);
  void LoadLastReply();
  // Puts m_lastReply on disk; true too where the logs folder is gone (it waits for the lines).
  bool SaveLastReply(QString* failure);

  Connection& m_connection;
  Pacer& m_pacer;
  Poller& m_poller;
  LogRoll& m_roll;
  int& m_handlers;
  QByteArray m_deviceId;
  QString m_maxTime;
  std::unique_ptr<Timer> m_restTimer;
  link::ReplyReader m_reader;
  std::deque<Event> m_events;
  bool m_stepOpen = false;
  bool m_proceeding = false;
  bool m_acknowledging = false;
  bool m_logFailed = false;
  bool m_foreignIdReported = false;
  quint64 m_arrivalReadAfter = 0;
  quint64 m_replyReadAfter = 0;
  qint32 m_recordCount = 0;
  std::vector<PendingRecord> m_replyRecords;
  // Where the reply logged last is; read from the log folder once, after a restart.
  std::vector<logging::ReplyRun> m_lastReply;
  bool m_lastReplyLoaded = false;
  // m_lastReply is not on disk yet: it is put there once the step ends, and before any more
  // lines are written.
  bool m_lastReplyUnsaved = false;
  std::unique_ptr<logging::LastReplyFile> m_lastReplyFile;
  bool m_replyMayRepeat = false;
};

}  // namespace vorlan::session
