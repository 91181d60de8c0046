// The session's face: its parts wired together, the link's life from the connection attempt to
// the end of the session.
#include "session/session.h"

#include "logging/record_log.h"
#include "platform/platform.h"
#include "platform/timer.h"
#include "session/log_roll.h"
#include "session/pacer.h"
#include "session/record_step.h"
#include "session/running.h"

namespace vorlan::session {

Session::Session(Platform& platform, QString logsFolder, Options options)
    : m_platform(platform),
      m_options(options),
      m_connection(std::make_unique<Connection>(platform, m_handlers)),
      m_pacer(std::make_unique<Pacer>(platform, *m_connection, m_handlers)),
      m_poller(std::make_unique<Poller>(platform, *m_connection, *m_pacer, m_handlers)),
      m_roll(std::make_unique<LogRoll>(platform, std::move(logsFolder), *m_connection, *m_poller,
                                       m_handlers)),
      m_step(std::make_unique<RecordStep>(platform, *m_connection, *m_pacer, *m_poller, *m_roll,
                                          m_handlers)),
      m_endStepTimer(platform.CreateTimer()),
      m_endDeadline(platform.CreateTimer()) {
  m_connection->SetLimits(options.limits);
  m_pacer->SetPace(options.pace);
  m_poller->SetRecordStep(*m_step);
  m_poller->SetNextRequestAtOnce(options.pace.count() <= 0);
  m_poller->SetBusy([this] { return Busy(); });
  m_roll->SetBusy([this] { return Busy(); });
  m_roll->SetRemoveEmpty(options.removeEmptyLogs);
  Forward();
}

Session::~Session() {
  // The hold on the socket's arrivals goes before the socket, the paced frames before the pacer.
  m_connection->HoldArrivals(false);
}

void Session::Forward() {
  Pacer* pacer = m_pacer.get();
  connect(pacer, &Pacer::TxPacing, this, &Session::TxPacing);
  connect(pacer, &Pacer::RxPacing, this, &Session::RxPacing);
  connect(pacer, &Pacer::FrameSent, this, &Session::FrameSent);
  connect(pacer, &Pacer::ArrivalDue, m_step.get(), &RecordStep::Read);
  connect(pacer, &Pacer::ArrivalDropped, this, [this] {
    UpdateHold();
    m_roll->LookWhenIdle();
  });
  connect(pacer, &Pacer::FrameDone, m_roll.get(), &LogRoll::LookWhenIdle);

  Poller* poller = m_poller.get();
  connect(poller, &Poller::DownloadChanged, this, &Session::DownloadChanged);
  connect(poller, &Poller::PollDue, this, &Session::PollDue);
  connect(poller, &Poller::StopStarted, this, &Session::StopStarted);
  connect(poller, &Poller::RequestRepeated, this, &Session::RequestRepeated);
  connect(poller, &Poller::StopCompleted, this, [this] {
    emit StopCompleted();
    m_roll->StopConfirmed();
    if (m_end == EndStep::Stop) EndGoOn();
  });

  RecordStep* step = m_step.get();
  connect(step, &RecordStep::FrameReceived, this, &Session::FrameReceived);
  connect(step, &RecordStep::ArrivalRead, this, &Session::Arrived);
  connect(step, &RecordStep::StatusReply, this, &Session::StatusReply);
  connect(step, &RecordStep::DataReplyStarted, this, &Session::DataReplyStarted);
  connect(step, &RecordStep::UnrecognisedReply, this, &Session::UnrecognisedReply);
  connect(step, &RecordStep::ForeignDeviceId, this, &Session::ForeignDeviceId);
  connect(step, &RecordStep::RecordTaken, this, &Session::RecordTaken);
  connect(step, &RecordStep::RecordLogged, this, &Session::RecordLogged);
  connect(step, &RecordStep::RecordGivenUp, this, &Session::RecordGivenUp);
  connect(step, &RecordStep::RecordsAlreadyLogged, this, &Session::RecordsAlreadyLogged);
  connect(step, &RecordStep::Acknowledged, this, &Session::Acknowledged);
  connect(step, &RecordStep::LogWriteFailed, this, &Session::LogWriteFailed);
  connect(step, &RecordStep::StepEnded, this, [this] {
    UpdateHold();
    m_roll->LookWhenIdle();
  });

  LogRoll* roll = m_roll.get();
  connect(roll, &LogRoll::LogFileOpened, this, &Session::LogFileOpened);
  connect(roll, &LogRoll::LogFileFailed, this, &Session::LogFileFailed);
  connect(roll, &LogRoll::LogSwitching, this, &Session::LogSwitching);
  connect(roll, &LogRoll::LogFileRemoved, this, &Session::LogFileRemoved);
  connect(roll, &LogRoll::Notice, this, &Session::LogNotice);

  Connection* link = m_connection.get();
  connect(link, &Connection::Up, this, &Session::Up);
  connect(link, &Connection::Arrival, this, &Session::Arrival);
  connect(link, &Connection::LimitPassed, this, &Session::ConnectionLimit);
  connect(link, &Connection::PeerClosed, this, [this] {
    const Running running(m_handlers);
    const bool up = m_link == Link::Linked || m_link == Link::Closing;
    EndLink(up                          ? Unlink::PeerClosed
           : m_connection->Accepted() ? Unlink::ClosedOnAccept
                                      : Unlink::ClosedBeforeAccept,
           true);
  });
  connect(link, &Connection::Failed, this, [this](int number, const QString& description) {
    const Running running(m_handlers);
    emit SocketFailed(number, description);
    EndLink(Unlink::Failed, false);
  });
}

void Session::SetDeviceId(const QString& id) {
  m_deviceId = id.toLatin1();
  m_poller->SetDeviceId(m_deviceId);
  m_step->SetDeviceId(m_deviceId);
}

void Session::SetMaxTime(const QString& seconds) { m_step->SetMaxTime(seconds); }

Session::Download Session::DownloadState() const { return m_poller->DownloadState(); }
bool Session::Switching() const { return m_roll->Switching(); }
qint32 Session::RecordCount() const { return m_step->RecordCount(); }
logging::RecordLog& Session::Log() { return m_roll->Log(); }
const logging::RecordLog& Session::Log() const { return m_roll->Log(); }

bool Session::Busy() const {
  return m_pacer->ArrivalWaiting() || m_step->Open() || m_pacer->FramesWaiting() ||
         m_connection->HandlerRunning();
}

void Session::UpdateHold() {
  m_connection->HoldArrivals(m_pacer->ArrivalWaiting() || m_step->Open());
}

void Session::NewConnection() {
  m_poller->NewConnection();
  m_step->NewConnection();
  UpdateHold();
}

void Session::Reset() {
  const Running running(m_handlers);
  m_roll->StopTicking();
}

// ---- The link ----

bool Session::Connect() {
  const Running running(m_handlers);
  if (!m_roll->Open(logging::MissingFolder::Create)) return false;
  if (m_connection->Closed()) {
    NewConnection();
    m_link = Link::Connecting;
    m_connection->Open(m_host);
  }
  m_roll->StartTicking();
  emit Connecting();
  return true;
}

void Session::Up() {
  const Running running(m_handlers);
  m_poller->Linked();
  m_link = Link::Linked;
  emit Connected();
}

void Session::Disconnect() {
  const Running running(m_handlers);
  m_poller->HeartbeatOff();
  if (m_connection->Linked()) {
    m_link = Link::Closing;
    m_pacer->Send(frame::DisconnectRequest(m_deviceId), {}, [this] {
      m_connection->Closing();
      emit Closing();
    });
    return;
  }
  m_link = Link::Closed;
  m_poller->Unlinked();
  emit Unlinked(Unlink::NotConnected);
  if (m_end == EndStep::Close) EndGoOn();
}

void Session::EndLink(Unlink why, bool closeLog) {
  NewConnection();
  m_connection->Drop();
  UpdateHold();
  if (closeLog) m_roll->Close();
  m_poller->Unlinked();
  m_link = Link::Closed;
  emit Unlinked(why);
  m_roll->RemoveEmpty();
  if (m_end == EndStep::Stop || m_end == EndStep::Close) EndGoOn();
}

void Session::ConnectionLimit(Connection::Limit limit) {
  const Running running(m_handlers);
  switch (limit) {
    case Connection::Limit::Connect:
      emit LimitPassed(Limit::Connect, m_options.limits.connect);
      EndLink(Unlink::TimedOut, false);
      break;
    case Connection::Limit::Silence:
      emit LimitPassed(Limit::Silence, m_options.limits.silence);
      if (m_poller->DownloadState() == Download::Running) m_poller->StopDownload();
      Disconnect();
      break;
    case Connection::Limit::Close:
      emit LimitPassed(Limit::Close, m_options.limits.close);
      EndLink(Unlink::ClosedHere, true);
      break;
  }
}

void Session::Arrival(bool closed) {
  const Running running(m_handlers);
  if (closed) {
    m_poller->ClosingSteps();
    return;
  }
  std::vector<qsizetype> pieces;
  QByteArray text = m_connection->Read(&pieces);
  m_step->Arrived(m_poller->ReadAfter());
  // Read once its pace is over; the next arrival waits for this one to be done.
  if (m_pacer->Paced()) m_connection->HoldArrivals(true);
  m_pacer->HoldArrival(std::move(text), std::move(pieces));
}

// ---- Polling ----

void Session::StartDownload() {
  const Running running(m_handlers);
  m_poller->StartDownload();
}

void Session::StopDownload() {
  const Running running(m_handlers);
  m_poller->StopDownload();
}

// ---- The end of the session ----

void Session::End(bool stopDownload, std::chrono::milliseconds deadline) {
  const Running running(m_handlers);
  if (m_end != EndStep::None) return;
  // No hourly switch from now on: it would start the download again.
  m_roll->Hold(true);
  if (deadline.count() > 0) {
    m_endDeadline->SetInterval(int(deadline.count()));
    connect(m_endDeadline.get(), &Timer::Tick, this, [this, deadline] {
      const Running running(m_handlers);
      m_endDeadline->SetEnabled(false);
      emit LimitPassed(Limit::End, deadline);
      EndFinish();
    });
    m_endDeadline->SetEnabled(true);
  }
  if (stopDownload && m_connection->Linked() && DownloadState() != Download::Idle) {
    // The reply to the request in flight is still logged and acknowledged.
    m_end = EndStep::Stop;
    if (DownloadState() == Download::Running) m_poller->StopDownload();
    m_endStepTimer->SetInterval(int(kStopLimit.count()));
    connect(m_endStepTimer.get(), &Timer::Tick, this, [this] {
      const Running running(m_handlers);
      m_endStepTimer->SetEnabled(false);
      emit LimitPassed(Limit::Stop, kStopLimit);
      EndGoOn(true);
    });
    m_endStepTimer->SetEnabled(true);
    return;
  }
  m_end = EndStep::Close;
  // A session that was never linked has nothing to say to the exchange; the window's unload
  // runs its Disconnect command in any state.
  if (!stopDownload || m_connection->Linked()) {
    Disconnect();
  } else {
    EndFinish();
  }
}

void Session::EndGoOn(bool stopOver) {
  if (m_end == EndStep::Stop) {
    const bool confirmed =
        m_poller->StopDone() || !m_connection->Linked() || DownloadState() == Download::Idle;
    if (!confirmed && !stopOver) return;
    m_endStepTimer->SetEnabled(false);
    m_end = EndStep::Close;
    if (m_connection->Linked()) {
      Disconnect();
      return;
    }
  }
  if (m_end == EndStep::Close && (m_link == Link::Closed || m_connection->Closed())) EndFinish();
}

void Session::EndFinish() {
  if (m_end == EndStep::Done) return;
  m_end = EndStep::Done;
  m_endStepTimer->SetEnabled(false);
  m_endDeadline->SetEnabled(false);
  if (!m_connection->Closed()) {
    EndLink(Unlink::ClosedHere, true);
  } else {
    m_roll->Close();
  }
  m_roll->RemoveEmpty();
  emit Ended();
}

}  // namespace vorlan::session
