#include "session/poller.h"

#include <utility>

#include "link/frame.h"
#include "platform/platform.h"
#include "platform/timer.h"
#include "session/connection.h"
#include "session/pacer.h"
#include "session/record_step.h"
#include "session/running.h"
#include "session/timings.h"

namespace vorlan::session {

Poller::Poller(Platform& platform, Connection& connection, Pacer& pacer, int& handlers)
    : m_connection(connection),
      m_pacer(pacer),
      m_handlers(handlers),
      m_heartBeatTimer(platform.CreateTimer()),
      m_timerDnld(platform.CreateTimer()),
      m_answerTimer(platform.CreateTimer()) {
  m_heartBeatTimer->SetInterval(int(kHeartbeatInterval.count()));
  m_timerDnld->SetInterval(int(kDownloadDesignInterval.count()));
  m_answerTimer->SetInterval(int(kDataRequestTimeout.count()));
  connect(m_heartBeatTimer.get(), &Timer::Tick, this, &Poller::HeartBeatTimer_Timer);
  connect(m_timerDnld.get(), &Timer::Tick, this, &Poller::RequestData);
  connect(m_answerTimer.get(), &Timer::Tick, this, &Poller::AnswerTimer_Timer);
}

Poller::~Poller() = default;

void Poller::SetDownload(Download download) {
  if (m_download == download) return;
  m_download = download;
  emit DownloadChanged();
}

void Poller::HeartBeatTimer_Timer() {
  const Running running(m_handlers);
  if (!m_connection.Linked()) return;
  emit PollDue(Poll::Status);
  m_pacer.Send(frame::StatusMonitorRequest(m_deviceId));
}

void Poller::RequestData() {
  const Running running(m_handlers);
  m_timerDnld->SetEnabled(false);
  if (!m_connection.Linked()) return;
  emit PollDue(Poll::Data);
  // One request, one answer: the answer to the request in flight arms the next one (a Stop and
  // DownLoad before it came leave it in flight), and none goes between a data reply and its
  // acknowledgement.
  if (m_requestOutstanding) return;
  if (m_step->ReplyOpen()) {
    m_requestDeferred = true;
    return;
  }
  m_pacer.Send(
      frame::DataRequest(m_deviceId),
      [this] {
        // Looked at again when it is due to go.
        if (!m_connection.Linked() || m_requestOutstanding) return false;
        if (!m_step->ReplyOpen()) return true;
        m_requestDeferred = true;
        return false;
      },
      [this] {
        // In flight from the moment it is written: nothing read before can be its answer, nor
        // what came in before and still waits in the socket behind an arrival being paced.
        m_requestOutstanding = true;
        ++m_requestsSent;
        m_unreadAtRequest = m_connection.Unread() > 0;
        StartDeadline();
      });
}

void Poller::StartDownload() {
  m_requestDeferred = false;
  m_stopRequested = false;
  m_stopDone = false;
  m_nextAtOnce = false;
  m_heartBeatTimer->SetEnabled(false);
  m_timerDnld->SetInterval(int(kFirstDataRequest.count()));
  m_timerDnld->SetEnabled(true);
  SetDownload(Download::Running);
}

void Poller::StopDownload() {
  m_requestDeferred = false;
  m_stopRequested = true;
  m_heartBeatTimer->SetInterval(int(kHeartbeatAfterStop.count()));
  m_timerDnld->SetEnabled(false);
  m_heartBeatTimer->SetEnabled(true);
  if (m_download == Download::Running) SetDownload(Download::Stopping);
  emit StopStarted();
}

void Poller::Linked() {
  m_heartBeatTimer->SetEnabled(true);
  m_download = Download::Idle;
}

void Poller::Unlinked() {
  m_heartBeatTimer->SetEnabled(false);
  m_download = Download::Idle;
}

void Poller::HeartbeatOff() { m_heartBeatTimer->SetEnabled(false); }

void Poller::NewConnection() {
  m_requestOutstanding = false;
  m_unreadAtRequest = false;
  m_answered = false;
  m_requestDeferred = false;
  m_unrecognisedInRow = 0;
  m_answerTimer->SetEnabled(false);
  // A request armed by the old connection's last answer is not the next one's first.
  m_timerDnld->SetEnabled(false);
  // The exchange sends the reply whose acknowledgement it never read again, first.
  m_mayRepeat = 1;
}

quint64 Poller::ReadAfter() {
  // A reply read, or received, before the request in flight was written cannot be its answer.
  return m_requestsSent - (std::exchange(m_unreadAtRequest, false) ? 1 : 0);
}

void Poller::TakeAnswer(quint64 readAfter) {
  // The answer to the data request in flight, if there is one; a reply read before that
  // request was written, or a late copy, answers nothing.
  if (!m_requestOutstanding || readAfter != m_requestsSent) return;
  m_requestOutstanding = false;
  m_answered = true;
  if (!m_step->InDataReply()) m_answerTimer->SetEnabled(false);
}

void Poller::Replied(bool recognised) {
  if (recognised) {
    m_unrecognisedInRow = 0;
  } else if (++m_unrecognisedInRow >= kUnrecognisedBeforeBackOff) {
    RetryLater();
  }
}

void Poller::RetryLater() {
  m_timerDnld->SetInterval(int(kRetryDataRequest.count()));
  m_nextAtOnce = false;
}

void Poller::Acknowledged(quint64 readAfter) {
  m_timerDnld->SetInterval(int(kNextDataRequest.count()));
  m_nextAtOnce = m_nextAtOnceWanted;
  TakeAnswer(readAfter);
  if (!m_requestOutstanding) m_answerTimer->SetEnabled(false);
}

void Poller::ClosingSteps() {
  const bool answered = std::exchange(m_answered, false);
  if (m_stopRequested) {
    m_heartBeatTimer->SetEnabled(true);
    m_stopDone = true;
    SetDownload(Download::Idle);
    emit StopCompleted();
  } else if (m_download == Download::Running && (answered || m_requestDeferred) &&
             !m_timerDnld->Enabled()) {
    // Only the answer to the request in flight asks for the next one, or a request that fell
    // due while a reply was open.
    m_requestDeferred = false;
    if (m_nextAtOnce) {
      RequestData();
    } else {
      m_timerDnld->SetEnabled(true);
    }
  }
}

void Poller::StartDeadline() {
  m_answerTimer->SetEnabled(false);
  m_answerTimer->SetInterval(int(kDataRequestTimeout.count()));
  m_answerTimer->SetEnabled(true);
}

void Poller::StartDeadlineIfIdle() {
  // A reply sent unasked still has a deadline for its rest.
  if (!m_answerTimer->Enabled()) StartDeadline();
}

bool Poller::TakeMayRepeat() {
  if (m_mayRepeat <= 0) return false;
  --m_mayRepeat;
  return true;
}

void Poller::AnswerTimer_Timer() {
  const Running running(m_handlers);
  m_answerTimer->SetEnabled(false);
  if (m_busy && m_busy()) {
    m_answerTimer->SetInterval(int(kLookAgain.count()));
    m_answerTimer->SetEnabled(true);
    return;
  }
  // A reply that may be whole is taken as whole at the deadline.
  if (m_step->ReplyMayEnd()) {
    m_step->TakeWholeReply();
    return;
  }
  const bool unanswered = std::exchange(m_requestOutstanding, false);
  const bool begun = m_step->InDataReply();
  m_step->GiveUp();
  if (!unanswered || m_download != Download::Running || !m_connection.Linked()) {
    ClosingSteps();
    return;
  }
  emit RequestRepeated();
  // The exchange answers this one with the reply it sent last if that was not acknowledged, and
  // that reply may still come late first, unless it had begun. Sent again once more before any
  // answer came, each request sent meanwhile may bring that reply once more.
  m_mayRepeat = m_mayRepeat > 0 ? m_mayRepeat + 1 : (begun ? 1 : 2);
  RequestData();
}

}  // namespace vorlan::session
