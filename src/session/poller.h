#pragma once

#include <QByteArray>
#include <QObject>

#include <chrono>
#include <functional>
#include <memory>

namespace vorlan {
class Platform;
class Timer;
}  // namespace vorlan

namespace vorlan::session {

class Connection;
class Pacer;
class RecordStep;

// The poller: the heartbeat while idle, the data requests of a download (one in flight, each
// armed by the answer to the one before), the request's deadline, and the stop handshake.
class Poller : public QObject {
  Q_OBJECT

 public:
  enum class Download { Idle, Running, Stopping };
  enum class Poll { Status, Data };

  Poller(Platform& platform, Connection& connection, Pacer& pacer, int& handlers);
  ~Poller() override;
  Q_DISABLE_COPY_MOVE(Poller)

  void SetRecordStep(RecordStep& step) { m_step = &step; }
  // The next data request after a data reply: after kNextDataRequest, as the window's lamps
  // pace it, or at once (a session with no pace).
  void SetNextRequestAtOnce(bool atOnce) { m_nextAtOnceWanted = atOnce; }
  void SetDeviceId(const QByteArray& id) { m_deviceId = id; }
  // Whether a step of the record path is under way; the deadline looks again later then.
  void SetBusy(std::function<bool()> busy) { m_busy = std::move(busy); }

  void StartDownload();
  void StopDownload();
  // A data request now, unless one is in flight or a data reply awaits its acknowledgement.
  void RequestData();

  // The link is up; it went (or a new attempt starts).
  void Linked();
  void Unlinked();
  void NewConnection();
  void HeartbeatOff();

  Download DownloadState() const { return m_download; }
  bool StopRequested() const { return m_stopRequested; }
  bool StopDone() const { return m_stopDone; }
  bool RequestOutstanding() const { return m_requestOutstanding; }
  const Timer& HeartBeatTimer() const { return *m_heartBeatTimer; }
  const Timer& TimerDnld() const { return *m_timerDnld; }
  const Timer& AnswerTimer() const { return *m_answerTimer; }

  // For the record step.
  // Which request an arrival read now may answer.
  quint64 ReadAfter();
  // An answer read after request `readAfter` was written answers it, once.
  void TakeAnswer(quint64 readAfter);
  void Replied(bool recognised);
  void RetryLater();
  // A data reply was acknowledged: the next request follows at the next pace.
  void Acknowledged(quint64 readAfter);
  // Every arrival ends with these: a pending stop is confirmed, or the next request armed.
  void ClosingSteps();
  void StartDeadlineIfIdle();
  // The data replies still to come that may repeat the reply logged last: one is consumed.
  bool TakeMayRepeat();

 signals:
  void DownloadChanged();
  // A poll fell due (its frame follows after its pace, if it still may go).
  void PollDue(vorlan::session::Poller::Poll poll);
  void StopStarted();
  void StopCompleted();
  void RequestRepeated();

 private:
  void HeartBeatTimer_Timer();
  void AnswerTimer_Timer();
  void StartDeadline();
  void SetDownload(Download download);

  Connection& m_connection;
  Pacer& m_pacer;
  int& m_handlers;
  RecordStep* m_step = nullptr;
  std::function<bool()> m_busy;
  QByteArray m_deviceId;
  std::unique_ptr<Timer> m_heartBeatTimer;
  std::unique_ptr<Timer> m_timerDnld;
  std::unique_ptr<Timer> m_answerTimer;

  Download m_download = Download::Idle;
  bool m_stopRequested = false;
  bool m_stopDone = false;
  bool m_nextAtOnceWanted = false;
  bool m_nextAtOnce = false;  // the interval to arm is the one after a data reply
  bool m_requestOutstanding = false;
  quint64 m_requestsSent = 0;
  // Bytes that came before the last data request were still unread when it was written.
  bool m_unreadAtRequest = false;
  bool m_answered = false;
  bool m_requestDeferred = false;
  // Answers in a row that are no reply: from the third on the next request waits as for a busy
  // exchange, rather than polling one that never answers as expected ten times a second.
  int m_unrecognisedInRow = 0;
  // Data replies still to come that may repeat the reply logged last: the first of a connection,
  // and the late answer and the answer to a request sent again after its deadline.
  int m_mayRepeat = 0;
};

}  // namespace vorlan::session
