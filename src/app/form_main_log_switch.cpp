// The hourly switch of the log file, on the ticks of TimerLog.
#include "app/form_main.h"
#include "app/texts.h"
#include "logging/log_files.h"
#include "logging/record_log.h"
#include "platform/dialogs.h"
#include "platform/platform.h"
#include "platform/socket.h"
#include "platform/timer.h"

namespace vorlan {

void FormMain::TimerLog_Timer() {
  m_timerLog->SetEnabled(false);  // no tick may start while this one waits

  const QDateTime now = m_services.platform.Now();
  if (logging::IsSwitchDue(m_logsFolder, now)) m_switchPending = true;
  // A tick that comes while a handler is half done (an arrival being handled, a frame in its
  // lamp flash) must not switch inside it: the confirming reply would queue behind that
  // arrival, or be taken for the answer to a request not yet written. The next tick, a quarter
  // of a second later, finds it done.
  if (m_switchPending && !Busy()) {
    m_switchPending = false;
    if (!SwitchLogFile()) return;  // the opening failed: the timer stays off until Connect
  }
  m_timerLog->SetEnabled(true);
}

bool FormMain::SwitchLogFile() {
  const bool linked = m_socket->State() == Socket::sckConnected;
  const quint64 connection = m_connection;
  if (linked) {
    CmdStop_Click();
    // Records that arrive meanwhile still go to the old file. An exchange that never answers
    // must not hold the switch for ever.
    m_services.platform.WaitUntil([this] { return StopDone; }, kSwitchStopWait);
  }
  CloseLog();
  CmdCls_Click();
  QString failure;
  if (!logging::OpenRecordLog(m_logsFolder, m_services.platform.Now(), *m_log, &failure,
                              logging::MissingFolder::Leave)) {
    m_services.dialogs.MessageBox(failure, Dialogs::Icon::Warning, text::kTitle);
    return false;
  }
  // Without a link there is no download to restart; the next Connect polls afresh. The link
  // may have gone while the switch waited.
  if (linked && connection == m_connection) CmdDnld_Click();
  return true;
}

}  // namespace vorlan
