// The session's connection, polling, pacing of frames and arrivals, and the hourly switch.
#include "session/session.h"

#include <algorithm>
#include <utility>

#include "link/frame.h"
#include "logging/log_files.h"
#include "logging/record_log.h"
#include "platform/platform.h"
#include "platform/socket.h"
#include "platform/timer.h"

namespace vorlan::session {

Session::Session(Platform& platform, QString logsFolder, std::chrono::milliseconds pace)
    : m_platform(platform),
      m_logsFolder(std::move(logsFolder)),
      m_pace(pace),
      m_socket(platform.CreateSocket()),
      m_heartBeatTimer(platform.CreateTimer()),
      m_timerDnld(platform.CreateTimer()),
      m_timerLog(platform.CreateTimer()),
      m_answerTimer(platform.CreateTimer()),
      m_restTimer(platform.CreateTimer()),
      m_rxTimer(platform.CreateTimer()),
      m_switchTimer(platform.CreateTimer()),
      m_log(std::make_unique<logging::RecordLog>()) {
  m_heartBeatTimer->SetInterval(int(kHeartbeatInterval.count()));
  m_timerDnld->SetInterval(int(kDownloadDesignInterval.count()));
  m_timerLog->SetInterval(int(kLogTick.count()));
  m_answerTimer->SetInterval(int(kDataRequestTimeout.count()));
  m_rxTimer->SetInterval(int(m_pace.count()));
  m_switchTimer->SetInterval(int(kSwitchStopWait.count()));
  m_socket->SetRemotePort(kPbxPort);

  connect(m_heartBeatTimer.get(), &Timer::Tick, this, &Session::HeartBeatTimer_Timer);
  connect(m_timerDnld.get(), &Timer::Tick, this, &Session::TimerDnld_Timer);
  connect(m_timerLog.get(), &Timer::Tick, this, &Session::TimerLog_Timer);
  connect(m_answerTimer.get(), &Timer::Tick, this, &Session::AnswerTimer_Timer);
  connect(m_restTimer.get(), &Timer::Tick, this, &Session::RestTimer_Timer);
  connect(m_rxTimer.get(), &Timer::Tick, this, &Session::RxTimer_Timer);
  connect(m_switchTimer.get(), &Timer::Tick, this, &Session::SwitchTimer_Timer);
  connect(m_socket.get(), &Socket::DataArrivalEvent, this, &Session::Socket_DataArrival);
  connect(m_socket.get(), &Socket::ConnectEvent, this, &Session::Socket_Connect);
  connect(m_socket.get(), &Socket::CloseEvent, this, &Session::Socket_Close);
  connect(m_socket.get(), &Socket::ErrorEvent, this, &Session::Socket_Error);
}

Session::~Session() {
  m_hold.reset();
  m_outgoing.clear();
}

bool Session::Linked() const { return m_socket->State() == Socket::sckConnected; }

bool Session::Busy() const {
  return m_arrivalPaced || m_stepOpen || !m_outgoing.empty() || m_socket->HandlerRunning();
}

void Session::Reset() {
  const Handler running(*this);
  m_timerLog->SetEnabled(false);
  m_lastFlag = false;
}

void Session::SetDownload(Download download) {
  if (m_download == download) return;
  m_download = download;
  emit DownloadChanged();
}

// ---- Frames out, each after its pace ----

void Session::Send(const QByteArray& frame) {
  const Handler running(*this);
  m_lastFrame = frame;
  Queue(frame, {}, {});
}

void Session::Queue(QByteArray frame, std::function<bool()> mayWrite, std::function<void()> then) {
  auto out = std::make_unique<Outgoing>();
  out->frame = std::move(frame);
  out->connection = m_connection;
  out->mayWrite = std::move(mayWrite);
  out->then = std::move(then);
  if (m_pace.count() <= 0) {
    Write(*out);
    return;
  }
  out->pace = m_platform.CreateTimer();
  out->pace->SetInterval(int(m_pace.count()));
  Outgoing* raw = out.get();
  connect(out->pace.get(), &Timer::Tick, this, [this, raw] { TxTimer_Timer(raw); });
  out->pace->SetEnabled(true);
  const bool first = m_outgoing.empty();
  m_outgoing.push_back(std::move(out));
  if (first) emit TxPacing(true);
}

void Session::TxTimer_Timer(Outgoing* out) {
  const Handler running(*this);
  const auto it = std::ranges::find_if(m_outgoing, [out](const auto& o) { return o.get() == out; });
  if (it == m_outgoing.end()) return;
  std::unique_ptr<Outgoing> taken = std::move(*it);
  m_outgoing.erase(it);
  taken->pace->SetEnabled(false);
  if (m_outgoing.empty()) emit TxPacing(false);
  Write(*taken);
  // The timer that ticked goes once its tick has returned.
  taken->pace.release()->deleteLater();
  StartSwitchWhenIdle();
}

void Session::Write(Outgoing& out) {
  // A frame built for a connection that ended meanwhile is not for the next one.
  if (out.connection != m_connection) return;
  if (out.mayWrite && !out.mayWrite()) return;
  // A send that fails (the link went down) shows through the socket's own events.
  m_socket->SendData(out.frame);
  emit FrameSent(out.frame);
  if (out.then) out.then();
}

// ---- The connection ----

bool Session::Connect() {
  const Handler running(*this);
  QString failure;
  m_logWanted = logging::LogFilePath(m_logsFolder, m_platform.Now());
  if (!logging::OpenRecordLog(m_logsFolder, m_platform.Now(), *m_log, &failure,
                              logging::MissingFolder::Create)) {
    emit LogFileFailed(failure);
    return false;
  }
  emit LogFileOpened(m_log->Path());
  if (m_socket->State() == Socket::sckClosed) {
    m_socket->SetRemoteHost(m_host);
    m_socket->SetRemotePort(kPbxPort);
    ResetReceivePath();
    m_link = Link::Connecting;
    m_socket->Connect();
  }
  if (!m_switchHeld) m_timerLog->SetEnabled(true);
  emit Connecting();
  return true;
}

void Session::Socket_Connect() {
  const Handler running(*this);
  // A peer that accepts and at once closes or fails: its Close or Error event follows.
  if (m_socket->State() != Socket::sckConnected) return;
  m_heartBeatTimer->SetEnabled(true);
  m_link = Link::Linked;
  m_download = Download::Idle;
  emit Connected();
}

void Session::Close() { Socket_Close(); }

void Session::Socket_Close() {
  const Handler running(*this);
  const bool peer = sender() == m_socket.get();
  ResetReceivePath();
  m_socket->Close();
  m_log->Close();
  m_heartBeatTimer->SetEnabled(false);
  m_link = Link::Closed;
  m_download = Download::Idle;
  emit Unlinked(peer ? Unlink::PeerClosed : Unlink::ClosedHere);
}

void Session::Socket_Error(int number, const QString& description) {
  const Handler running(*this);
  emit SocketFailed(number, description);
  ResetReceivePath();
  m_socket->Close();
  m_heartBeatTimer->SetEnabled(false);
  m_link = Link::Closed;
  m_download = Download::Idle;
  emit Unlinked(Unlink::Failed);
}

void Session::Disconnect() {
  const Handler running(*this);
  m_heartBeatTimer->SetEnabled(false);
  if (m_socket->State() == Socket::sckConnected) {
    m_link = Link::Closing;
    const QByteArray request = frame::DisconnectRequest(m_deviceId);
    m_lastFrame = request;
    Queue(request, {}, [this] { emit Closing(); });
  } else {
    m_link = Link::Closed;
    m_download = Download::Idle;
    emit Unlinked(Unlink::NotConnected);
  }
}

void Session::CloseLog() { m_log->Close(); }

// ---- Polling ----

void Session::HeartBeatTimer_Timer() {
  const Handler running(*this);
  if (m_socket->State() != Socket::sckConnected) return;
  emit PollDue(Poll::Status);
  const QByteArray request = frame::StatusMonitorRequest(m_deviceId);
  m_lastFrame = request;
  Queue(request, {}, {});
}

void Session::TimerDnld_Timer() {
  const Handler running(*this);
  m_timerDnld->SetEnabled(false);
  if (m_socket->State() != Socket::sckConnected) return;
  emit PollDue(Poll::Data);
  // One request, one answer: the answer to the request in flight arms the next one (a Stop and
  // DownLoad before it came leave it in flight), and none goes between a data reply and its
  // acknowledgement.
  if (m_requestOutstanding) return;
  if (ReplyOpen()) {
    m_requestDeferred = true;
    return;
  }
  const QByteArray request = frame::DataRequest(m_deviceId);
  m_lastFrame = request;
  Queue(
      request,
      [this] {
        // Looked at again when it is due to go.
        if (m_socket->State() != Socket::sckConnected || m_requestOutstanding) return false;
        if (!ReplyOpen()) return true;
        m_requestDeferred = true;
        return false;
      },
      [this] {
        // In flight from the moment it is written: nothing read before can be its answer, nor
        // what came in before and still waits in the socket behind an arrival being paced.
        m_requestOutstanding = true;
        ++m_requestsSent;
        m_unreadAtRequest = m_socket->Unread() > 0;
        StartDeadline();
      });
}

void Session::StartDownload() {
  const Handler running(*this);
  m_requestDeferred = false;
  m_stopRequested = false;
  m_stopDone = false;
  m_heartBeatTimer->SetEnabled(false);
  m_timerDnld->SetInterval(int(kFirstDataRequest.count()));
  m_timerDnld->SetEnabled(true);
  SetDownload(Download::Running);
}

void Session::StopDownload() {
  const Handler running(*this);
  m_requestDeferred = false;
  m_stopRequested = true;
  m_heartBeatTimer->SetInterval(int(kHeartbeatAfterStop.count()));
  m_timerDnld->SetEnabled(false);
  m_heartBeatTimer->SetEnabled(true);
  if (m_download == Download::Running) SetDownload(Download::Stopping);
  emit StopStarted();
}

// ---- The hourly switch ----

void Session::HoldLogSwitch(bool hold) {
  const Handler running(*this);
  m_switchHeld = hold;
  m_timerLog->SetEnabled(!hold && m_log->IsOpen());
}

void Session::TimerLog_Timer() {
  const Handler running(*this);
  if (logging::IsSwitchDue(m_logsFolder, m_platform.Now())) m_switchPending = true;
  StartSwitchWhenIdle();
}

void Session::StartSwitchWhenIdle() {
  // Not inside a step of the record path: the confirming reply would queue behind the arrival
  // being read, or be taken for the answer to a request not yet written. Due, it starts as soon
  // as the step under way has ended: each step's end looks again once its handler has returned.
  if (!m_switchPending || m_switchLookPosted) return;
  m_switchLookPosted = true;
  m_platform.Post(this, [this] {
    const Handler running(*this);
    m_switchLookPosted = false;
    if (!m_switchPending || Busy() || m_switchHeld) return;
    m_switchPending = false;
    StartSwitch();
  });
}

void Session::StartSwitch() {
  m_timerLog->SetEnabled(false);  // no tick while a switch is under way
  m_switchLinked = m_socket->State() == Socket::sckConnected;
  m_switchConnection = m_connection;
  if (!m_switchLinked) {
    FinishSwitch();
    return;
  }
  // Records that arrive until the stop is confirmed still go to the old file. An exchange that
  // never answers must not hold the switch for ever.
  m_switching = true;
  StopDownload();
  m_switchTimer->SetEnabled(true);
}

void Session::SwitchTimer_Timer() {
  const Handler running(*this);
  FinishSwitch();
}

void Session::FinishSwitch() {
  m_switching = false;
  m_switchTimer->SetEnabled(false);
  m_log->Close();
  emit LogSwitching();
  QString failure;
  m_logWanted = logging::LogFilePath(m_logsFolder, m_platform.Now());
  if (!logging::OpenRecordLog(m_logsFolder, m_platform.Now(), *m_log, &failure,
                              logging::MissingFolder::Remake)) {
    // A reply still on its way is given up unacknowledged when it comes (no file takes it).
    emit LogFileFailed(failure);
    return;  // the timer stays off until Connect
  }
  emit LogFileOpened(m_log->Path());
  // Without a link there is no download to restart; the next Connect polls afresh. The link
  // may have gone while the switch waited.
  if (m_switchLinked && m_switchConnection == m_connection && !m_switchHeld) StartDownload();
  if (!m_switchHeld) m_timerLog->SetEnabled(true);
}

}  // namespace vorlan::session
