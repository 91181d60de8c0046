// The polling cycle: the heartbeat in idle, one data request per reply while downloading, and
// the DownLoad and Stop commands that switch between them.
#include "app/form_main.h"
#include "app/texts.h"
#include "link/frame.h"
#include "platform/socket.h"
#include "platform/timer.h"

namespace vorlan {

void FormMain::HeartBeatTimer_Timer() {
  if (m_socket->State() != Socket::sckConnected) return;
  StatusBar.SetPanel(1, text::kStatusMonitor);
  StatusBar.SetPanel(2, {});
  OutFrame = frame::StatusMonitorRequest(DeviceId());
  SendFrame(OutFrame);
}

void FormMain::TimerDnld_Timer() {
  m_timerDnld->SetEnabled(false);
  if (m_socket->State() != Socket::sckConnected) return;
  StatusBar.SetPanel(1, text::kDataRequest);
  StatusBar.SetPanel(2, {});
  // One request, one answer: the answer to the request in flight arms the next one (a Stop and
  // DownLoad before it came leave it in flight), and none goes between a data reply and its
  // acknowledgement.
  if (m_requestOutstanding) return;
  if (ReplyOpen()) {
    m_requestDeferred = true;
    return;
  }
  OutFrame = frame::DataRequest(DeviceId());
  const QByteArray request = OutFrame;
  const quint64 connection = m_connection;
  FlashTxLed();
  // The flash served events: look again before writing, on the same connection only.
  if (connection != m_connection || m_socket->State() != Socket::sckConnected ||
      m_requestOutstanding)
    return;
  if (ReplyOpen()) {
    m_requestDeferred = true;
    return;
  }
  // In flight from the moment it is written: nothing read before can be its answer.
  WriteFrame(request);
  m_requestOutstanding = true;
  ++m_requestsSent;
  StartDeadline();
}

void FormMain::CmdDnld_Click() {
  m_requestDeferred = false;
  StopRequested = false;
  StopDone = false;
  CmdConnect.SetEnabled(false);
  CmdDisconnect.SetEnabled(false);
  CmdDnld.SetEnabled(false);
  CmdStop.SetEnabled(true);
  cmdquit.SetEnabled(false);
  m_heartBeatTimer->SetEnabled(false);
  m_timerDnld->SetInterval(int(kFirstDataRequest.count()));
  m_timerDnld->SetEnabled(true);
}

void FormMain::CmdStop_Click() {
  m_requestDeferred = false;
  StopRequested = true;
  m_heartBeatTimer->SetInterval(int(kHeartbeatAfterStop.count()));
  m_timerDnld->SetEnabled(false);
  m_heartBeatTimer->SetEnabled(true);
  CmdStop.SetEnabled(false);
  CmdDnld.SetEnabled(true);
  StatusBar.SetPanel(1, text::kStopping);
  StatusBar.SetPanel(2, text::kPleaseWait);
}

}  // namespace vorlan
