#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "link/frame.h"
#include "link/reply_reader.h"
#include "logging/last_reply.h"
#include "platform/socket.h"
#include "session/timings.h"

namespace vorlan {

class Platform;
class Timer;

namespace logging {
class RecordLog;
}

namespace session {

// The session with the exchange: the connection, the heartbeat and the data requests, the
// reply reader, the acknowledgements, the wait for a reply's rest, the write-then-sync-then-
// acknowledge step, the records already logged, and the hourly switch of the log file.
//
// Every handler runs to its end; none serves events. A step that must wait (a frame's or an
// arrival's pace, an acknowledgement on its way, the switch's wait for a stop) is a state that
// a timer or the next event carries on. Arrivals are held back while a step of the record path
// is under way, so they are read one at a time and in order.
//
// It knows no window: it says what happened through its signals and takes commands.
class Session : public QObject {
  Q_OBJECT

 public:
  enum class Link { Closed, Connecting, Linked, Closing };
  enum class Download { Idle, Running, Stopping };
  enum class Unlink { PeerClosed, ClosedHere, Failed, NotConnected };
  enum class Poll { Status, Data };

  // `pace`: how long each frame out and each arrival in waits before it is written or read (the
  // window lights a lamp for it); 0 for none.
  Session(Platform& platform, QString logsFolder, std::chrono::milliseconds pace);
  ~Session() override;
  Q_DISABLE_COPY_MOVE(Session)

  // Settings, read afresh by every frame and record.
  void SetHost(const QString& host) { m_host = host; }
  void SetDeviceId(const QString& id) { m_deviceId = id.toLatin1(); }
  void SetMaxTime(const QString& seconds) { m_maxTime = seconds; }
  // The formatted text of each record is made only while someone shows it.
  void SetFormattedShown(bool shown) { m_formattedShown = shown; }

  // Commands.
  // A data request now, as a tick of TimerDnld would send it.
  void TimerDnld_Timer();
  // Opens the log file and starts a connection attempt; false when the log file could not be
  // opened (LogFileFailed says why).
  bool Connect();
  // Sends the disconnect request when linked; otherwise ends at once.
  void Disconnect();
  void StartDownload();
  void StopDownload();
  // Ends the connection from our side, as the exchange closing it would.
  void Close();
  // The log switch goes quiet (a collector that is stopping), or runs again from now.
  void HoldLogSwitch(bool hold);
  // Writes a frame after its pace, on this connection only.
  void Send(const QByteArray& frame);
  // Lines of the log file that are open: nothing is written to it any more.
  void CloseLog();
  // Form_Load's design state of the log switch (off until Connect).
  void Reset();

  // What others may read.
  Link LinkState() const { return m_link; }
  Download DownloadState() const { return m_download; }
  bool Linked() const;
  bool StopRequested() const { return m_stopRequested; }
  bool StopDone() const { return m_stopDone; }
  bool SwitchInProgress() const { return m_switching; }
  qint32 RecordCount() const { return m_recordCount; }
  bool LastFlag() const { return m_lastFlag; }
  const QByteArray& LastFrame() const { return m_lastFrame; }
  const QByteArray& CurrentRecord() const { return m_currentRecord; }
  char BlockChar() const { return m_blockChar; }
  quint16 AckCheck() const { return m_ackCheck; }
  QByteArray DeviceId() const { return m_deviceId; }
  const QString& LogsFolder() const { return m_logsFolder; }
  const logging::RecordLog& Log() const { return *m_log; }
  // For the clean-up of empty log files, which may close the open one.
  logging::RecordLog& Log() { return *m_log; }
  const link::ReplyReader& Reader() const { return m_reader; }
  // A data reply has begun and its acknowledgement has not been written yet.
  bool ReplyOpen() const { return m_reader.InDataReply() || m_acknowledging; }
  bool RequestOutstanding() const { return m_requestOutstanding; }
  // A step of the record path is under way (an arrival paced or being read, a frame paced).
  bool Busy() const;
  // A handler of the session is running now; the event pump must not be entered from one.
  bool InHandler() const { return m_handlerDepth > 0; }
  std::chrono::milliseconds Pace() const { return m_pace; }

  // The socket and the timers, for the front ends' tests and the collector's watch.
  Socket& socket() { return *m_socket; }
  Timer& HeartBeatTimer() { return *m_heartBeatTimer; }
  Timer& TimerDnld() { return *m_timerDnld; }
  Timer& TimerLog() { return *m_timerLog; }
  Timer& AnswerTimer() { return *m_answerTimer; }
  Timer& RestTimer() { return *m_restTimer; }

 signals:
  void Connecting();
  void Connected();
  void Closing();
  void Unlinked(vorlan::session::Session::Unlink why);
  void SocketFailed(int number, const QString& description);
  void DownloadChanged();
  // A poll fell due (its frame follows after its pace, if it still may go).
  void PollDue(vorlan::session::Session::Poll poll);
  // A frame waits its pace (on), then is written or dropped (off).
  void TxPacing(bool on);
  void RxPacing(bool on);
  void FrameSent(const QByteArray& frame);
  // The first bytes of an arrival, as it is read.
  void FrameReceived(const QByteArray& head);
  // The whole arrival, as it is read.
  void Arrived(const QByteArray& text);
  void StatusReply(vorlan::frame::ReplyKind kind);
  void DataReplyStarted(char blockChar);
  void UnrecognisedReply();
  // A well-formed status reply from another device ID than ours; once per connection.
  void ForeignDeviceId(char answeredAs);
  // Each record as it is taken, with its flag; `formatted` is its text while shown.
  void RecordJudged(const QByteArray& record, bool bad, const QString& formatted);
  // A record on disk, before its reply's acknowledgement; `cutFrom` its length on the wire
  // when it was cut to fit; `count` the records logged so far.
  void RecordLogged(const QByteArray& record, bool bad, qint64 cutFrom, qint32 count);
  void RecordGivenUp(const QByteArray& bytes, qint64 size);
  void RecordsAlreadyLogged(qsizetype repeated, qsizetype of);
  void Acknowledged();
  void RequestRepeated();
  void StopStarted();
  void StopCompleted();
  void LogFileOpened(const QString& path);
  // Opening failed: `failure` says why, as the log library words it.
  void LogFileFailed(const QString& failure);
  void LogWriteFailed(const QString& path, const QString& failure);
  // The hourly switch closed the old file and is about to open the new one.
  void LogSwitching();

 private:
  struct PendingRecord {
    QByteArray record;
    bool bad = false;
    qint64 cutFrom = 0;
  };
  // A frame waiting for its pace: `mayWrite`, asked at its time, may hold it back; `then` runs
  // once it is written.
  struct Outgoing {
    std::unique_ptr<Timer> pace;
    QByteArray frame;
    quint64 connection = 0;
    std::function<bool()> mayWrite;
    std::function<void()> then;
  };
  // Counts the handlers of the session running now.
  class Handler {
   public:
    explicit Handler(Session& s) : m_s(s) { ++m_s.m_handlerDepth; }
    ~Handler() { --m_s.m_handlerDepth; }
    Handler(const Handler&) = delete;
    Handler& operator=(const Handler&) = delete;

   private:
    Session& m_s;
  };

  void Queue(QByteArray frame, std::function<bool()> mayWrite, std::function<void()> then);
  void Write(Outgoing& out);
  void TxTimer_Timer(Outgoing* out);
  void RxTimer_Timer();

  void Socket_Connect();
  void Socket_Close();
  void Socket_Error(int number, const QString& description);
  void Socket_DataArrival();
  void HeartBeatTimer_Timer();
  void TimerLog_Timer();
  void AnswerTimer_Timer();
  void RestTimer_Timer();
  void SwitchTimer_Timer();

  void ReadArrival(const QByteArray& text, const std::vector<qsizetype>& pieces);
  // Handles the reader's events in order; returns false where one waits for a frame to go.
  void Proceed();
  void EndStep();
  void Settle();
  bool HandleReaderEvent(const link::ReplyReader::Event& event);
  void TakeStatus(const QByteArray& reply);
  void TakeAnswer(quint64 readAfter);
  void TakeRecord(const link::ReplyReader::Event& event);
  // The one place a record's flag is decided.
  bool Judge(const QByteArray& record, QString* formatted);
  // false: the step goes on once the acknowledgement is written, or ends here.
  bool AcknowledgeDataReply(const QByteArray& blocks);
  void SendAcknowledgement(QByteArray blocks);
  void Acknowledge();
  // How many of the reply's first records are the reply logged last, sent again.
  qsizetype RepeatedRecords(const std::vector<PendingRecord>& records);
  // Writes the reply's new lines and puts them on disk, with where they are.
  bool LogReply(const QByteArray& lines, qsizetype count, bool extendsLast, QString* failure);
  void FailLogWrite(const QString& path, const QString& failure);
  void ClosingSteps();
  void StartDeadline();
  void GiveUpReply();
  void ResetReceivePath();
  // The switch falls due at the top of the hour and starts once the step under way has ended.
  void StartSwitchWhenIdle();
  void StartSwitch();
  void FinishSwitch();
  void SetDownload(Download download);

  Platform& m_platform;
  QString m_logsFolder;
  std::chrono::milliseconds m_pace;
  QString m_host;
  QByteArray m_deviceId;
  QString m_maxTime;
  bool m_formattedShown = false;

  std::unique_ptr<Socket> m_socket;
  std::unique_ptr<Timer> m_heartBeatTimer;
  std::unique_ptr<Timer> m_timerDnld;
  std::unique_ptr<Timer> m_timerLog;
  std::unique_ptr<Timer> m_answerTimer;
  std::unique_ptr<Timer> m_restTimer;
  std::unique_ptr<Timer> m_rxTimer;
  std::unique_ptr<Timer> m_switchTimer;
  std::unique_ptr<logging::RecordLog> m_log;
  link::ReplyReader m_reader;
  // Arrivals wait while a step of the record path is under way; destroyed before the socket.
  std::optional<Socket::HoldDelivery> m_hold;

  Link m_link = Link::Closed;
  Download m_download = Download::Idle;
  int m_handlerDepth = 0;
  QByteArray m_lastFrame;
  QByteArray m_currentRecord;
  char m_blockChar = 0;
  quint16 m_ackCheck = 0;
  qint32 m_recordCount = 0;
  bool m_lastFlag = false;
  bool m_stopRequested = false;
  bool m_stopDone = false;

  // Counts connections: a step whose connection ended while it waited stops there.
  quint64 m_connection = 0;
  std::deque<std::unique_ptr<Outgoing>> m_outgoing;
  // The arrival being paced, and the reader's events still to handle.
  QByteArray m_arrival;
  std::vector<qsizetype> m_arrivalPieces;
  bool m_arrivalPaced = false;
  quint64 m_arrivalConnection = 0;
  std::deque<link::ReplyReader::Event> m_events;
  bool m_stepOpen = false;  // events are being handled, or wait for an acknowledgement
  bool m_proceeding = false;

  bool m_requestOutstanding = false;
  quint64 m_requestsSent = 0;
  quint64 m_arrivalReadAfter = 0;
  // Bytes that came before the last data request were still unread when it was written.
  bool m_unreadAtRequest = false;
  quint64 m_replyReadAfter = 0;
  bool m_answered = false;
  bool m_requestDeferred = false;
  bool m_acknowledging = false;
  // Answers in a row that are no reply: from the third on the next request waits as for a busy
  // exchange, rather than polling one that never answers as expected ten times a second.
  int m_unrecognisedInRow = 0;
  bool m_foreignIdReported = false;
  std::vector<PendingRecord> m_replyRecords;
  // Where the reply logged last is; read from the log folder once, after a restart.
  std::vector<logging::ReplyRun> m_lastReply;
  bool m_lastReplyLoaded = false;
  // Data replies still to come that may repeat the reply logged last: the first of a connection,
  // and the late answer and the answer to a request sent again after its deadline.
  int m_mayRepeat = 0;
  bool m_replyMayRepeat = false;
  // The file the log should have been, when it could not be opened.
  QString m_logWanted;
  bool m_switchLookPosted = false;
  bool m_logFailed = false;
  bool m_switchPending = false;
  bool m_switching = false;
  bool m_switchLinked = false;
  quint64 m_switchConnection = 0;
  bool m_switchHeld = false;
};

}  // namespace session
}  // namespace vorlan
