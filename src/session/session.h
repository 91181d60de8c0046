#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

#include "link/frame.h"
#include "session/connection.h"
#include "session/poller.h"
#include "session/timings.h"

namespace vorlan {

class Platform;
class Timer;

namespace logging {
class RecordLog;
}

namespace session {

class LogRoll;
class Pacer;
class RecordStep;

// The session with the exchange: the whole life of a link, from the connection attempt to the
// end of the session. Inside, one part per job: the link (connection.h: socket, limits, close),
// the poller (poller.h: heartbeat, data requests, deadline, stop handshake), the record step
// (record_step.h: reader events, judge, write, sync, acknowledge, records already logged), the
// log roll (log_roll.h: record log, hourly switch, empty files, notices), and the pace of the
// lamps (pacer.h), an option the window turns on.
//
// Every handler runs to its end; none serves events. A step that must wait is a state that a
// timer or the next event carries on. It knows no window: it takes commands and says what
// happened through signals that carry values.
class Session : public QObject {
  Q_OBJECT

 public:
  enum class Link { Closed, Connecting, Linked, Closing };
  using Download = Poller::Download;
  using Poll = Poller::Poll;
  // Why a link ended: the exchange closed it (once up, as soon as it accepted it, or before it
  // did), we closed it, the socket failed, it was not up, or the attempt passed its limit.
  enum class Unlink {
    PeerClosed,
    ClosedOnAccept,
    ClosedBeforeAccept,
    ClosedHere,
    Failed,
    NotConnected,
    TimedOut
  };
  // A limit the session kept: the attempt, the silence, the close, the stop of an ending
  // session and its deadline.
  enum class Limit { Connect, Silence, Close, Stop, End };

  struct Options {
    // How long each frame out and each arrival in waits (the window lights a lamp for it);
    // with none, the next data request follows a data reply at once.
    std::chrono::milliseconds pace{0};
    Connection::Limits limits;
    // Log files the session made that stay empty go when the link ends.
    bool removeEmptyLogs = false;
  };

  Session(Platform& platform, QString logsFolder, Options options);
  ~Session() override;
  Q_DISABLE_COPY_MOVE(Session)

  // Settings, read afresh by every frame and record.
  void SetHost(const QString& host) { m_host = host; }
  void SetDeviceId(const QString& id);
  void SetMaxTime(const QString& seconds);

  // Commands.
  // Opens the log file and starts a connection attempt; false when the log file could not be
  // opened (LogFileFailed says why).
  bool Connect();
  // Sends the disconnect request when linked; otherwise ends at once.
  void Disconnect();
  void StartDownload();
  void StopDownload();
  // The hourly switch off until the next Connect.
  void Reset();
  // Ends the session: the download stopped first (`stopDownload`, waiting for the exchange's
  // confirmation up to kStopLimit), the disconnect request, the exchange's close; by
  // `deadline` the connection is closed here. The log is closed and Ended reported.
  void End(bool stopDownload, std::chrono::milliseconds deadline);

  // What others may read.
  Link LinkState() const { return m_link; }
  Download DownloadState() const;
  // The hourly switch is under way: the download it stopped starts again by itself.
  bool Switching() const;
  qint32 RecordCount() const;
  QByteArray DeviceId() const { return m_deviceId; }
  // The log the session writes; the clean-up of empty files may close it.
  logging::RecordLog& Log();
  const logging::RecordLog& Log() const;
  // A handler of the session is running now; the event pump must not be entered from one.
  bool InHandler() const { return m_handlers > 0; }

 signals:
  void Connecting();
  void Connected();
  void Closing();
  void Unlinked(vorlan::session::Session::Unlink why);
  // The socket's error as it came: its number and the socket layer's own description.
  void SocketFailed(int number, const QString& description);
  void LimitPassed(vorlan::session::Session::Limit limit, std::chrono::milliseconds after);
  void Ended();

  void DownloadChanged();
  void PollDue(vorlan::session::Poller::Poll poll);
  void StopStarted();
  void StopCompleted();
  void RequestRepeated();

  void TxPacing(bool on);
  void RxPacing(bool on);
  void FrameSent(const QByteArray& frame);
  void FrameReceived(const QByteArray& head);
  void Arrived(const QByteArray& text);
  void StatusReply(vorlan::frame::ReplyKind kind);
  void DataReplyStarted(char blockChar);
  void UnrecognisedReply();
  void ForeignDeviceId(char answeredAs);
  void RecordTaken(const QByteArray& record, bool bad);
  void RecordLogged(const QByteArray& record, bool bad, qint64 cutFrom, qint32 count, qint64 at);
  void RecordGivenUp(const QByteArray& bytes, qint64 size);
  void RecordsAlreadyLogged(qsizetype repeated, qsizetype of);
  void Acknowledged();

  void LogFileOpened(const QString& path);
  void LogFileFailed(const QString& failure);
  void LogWriteFailed(const QString& path, const QString& failure);
  void LogSwitching();
  void LogFileRemoved(const QString& path);
  // What the log did on its own (a deleted file or folder made again), for the operator.
  void LogNotice(const QString& text);

 private:
  // Checks of invariants that no signal can show (what the reader holds, a request in flight).
  friend struct SessionProbe;

  // A step of the record path is under way (an arrival paced or being read, a frame paced).
  bool Busy() const;
  void Forward();
  void Up();
  void Arrival(bool closed);
  void ConnectionLimit(Connection::Limit limit);
  // The link ended: `closeLog` for every way but a failure and a passed connect limit.
  void EndLink(Unlink why, bool closeLog);
  void NewConnection();
  void UpdateHold();
  // The end goes on where it is; `stopOver`: the stop's limit has passed.
  void EndGoOn(bool stopOver = false);
  void EndFinish();

  Platform& m_platform;
  Options m_options;
  QString m_host;
  QByteArray m_deviceId;
  int m_handlers = 0;
  Link m_link = Link::Closed;
  std::unique_ptr<Connection> m_connection;
  std::unique_ptr<Pacer> m_pacer;
  std::unique_ptr<Poller> m_poller;
  std::unique_ptr<LogRoll> m_roll;
  std::unique_ptr<RecordStep> m_step;

  // The end of the session: where it is, and its limits.
  enum class EndStep { None, Stop, Close, Done };
  EndStep m_end = EndStep::None;
  std::unique_ptr<Timer> m_endStepTimer;
  std::unique_ptr<Timer> m_endDeadline;
};

}  // namespace session
}  // namespace vorlan
