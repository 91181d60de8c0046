#include "session/log_roll.h"

#include <QFile>
#include <QFileInfo>

#include <utility>

#include "logging/log_files.h"
#include "logging/record_log.h"
#include "platform/platform.h"
#include "platform/timer.h"
#include "session/connection.h"
#include "session/poller.h"
#include "session/running.h"
#include "session/timings.h"

namespace vorlan::session {

LogRoll::LogRoll(Platform& platform, QString logsFolder, Connection& connection, Poller& poller,
                 int& handlers)
    : m_platform(platform),
      m_folder(std::move(logsFolder)),
      m_connection(connection),
      m_poller(poller),
      m_handlers(handlers),
      m_log(std::make_unique<logging::RecordLog>()),
      m_timerLog(platform.CreateTimer()),
      m_switchTimer(platform.CreateTimer()) {
  m_timerLog->SetInterval(int(kLogTick.count()));
  m_switchTimer->SetInterval(int(kSwitchStopWait.count()));
  connect(m_timerLog.get(), &Timer::Tick, this, &LogRoll::TimerLog_Timer);
  connect(m_switchTimer.get(), &Timer::Tick, this, [this] {
    const Running running(m_handlers);
    FinishSwitch();
  });
}

LogRoll::~LogRoll() = default;

bool LogRoll::Open(logging::MissingFolder missingFolder) {
  const QDateTime now = m_platform.Now();
  m_wanted = logging::LogFilePath(m_folder, now);
  const QFileInfo before(m_wanted);
  const bool existed = before.exists() || before.isSymLink();
  QString failure;
  if (!logging::OpenRecordLog(m_folder, now, *m_log, &failure, missingFolder)) {
    emit LogFileFailed(failure);
    return false;
  }
  if (!existed && m_log->Path() == m_wanted && !m_created.contains(m_wanted))
    m_created << m_wanted;
  emit LogFileOpened(m_log->Path());
  PassNotice();
  return true;
}

void LogRoll::StartTicking() {
  if (!m_held) m_timerLog->SetEnabled(true);
}

void LogRoll::StopTicking() { m_timerLog->SetEnabled(false); }

void LogRoll::Hold(bool hold) {
  m_held = hold;
  m_timerLog->SetEnabled(!hold && m_log->IsOpen());
}

void LogRoll::Close() { m_log->Close(); }

void LogRoll::PassNotice() {
  if (const QString notice = m_log->TakeNotice(); !notice.isEmpty()) emit Notice(notice);
}

void LogRoll::TimerLog_Timer() {
  const Running running(m_handlers);
  if (logging::IsSwitchDue(m_folder, m_platform.Now())) m_pending = true;
  LookWhenIdle();
}

void LogRoll::LookWhenIdle() {
  // Not inside a step of the record path: the confirming reply would queue behind the arrival
  // being read, or be taken for the answer to a request not yet written. Due, it starts as soon
  // as the step under way has ended: each step's end looks again once its handler has returned.
  if (!m_pending || m_lookPosted) return;
  m_lookPosted = true;
  m_platform.Post(this, [this] {
    const Running running(m_handlers);
    m_lookPosted = false;
    if (!m_pending || (m_busy && m_busy()) || m_held) return;
    m_pending = false;
    StartSwitch();
  });
}

void LogRoll::StartSwitch() {
  m_timerLog->SetEnabled(false);  // no tick while a switch is under way
  m_switchLinked = m_connection.Linked();
  m_switchConnection = m_connection.Number();
  if (!m_switchLinked) {
    FinishSwitch();
    return;
  }
  // Records that arrive until the stop is confirmed still go to the old file. An exchange that
  // never answers must not hold the switch for ever.
  m_switching = true;
  m_poller.StopDownload();
  m_switchTimer->SetEnabled(true);
}

void LogRoll::StopConfirmed() {
  if (m_switching) FinishSwitch();
}

void LogRoll::FinishSwitch() {
  m_switching = false;
  m_switchTimer->SetEnabled(false);
  m_log->Close();
  emit LogSwitching();
  // A reply still on its way is given up unacknowledged when it comes (no file takes it); the
  // timer stays off until Connect.
  if (!Open(logging::MissingFolder::Remake)) return;
  // Without a link there is no download to restart; the next Connect polls afresh. The link
  // may have gone while the switch waited.
  if (m_switchLinked && m_switchConnection == m_connection.Number() && !m_held)
    m_poller.StartDownload();
  StartTicking();
}

void LogRoll::RemoveEmpty() {
  if (!m_removeEmpty) return;
  for (const QString& path : std::exchange(m_created, {})) {
    const QFileInfo file(path);
    if (file.isSymLink() || !file.isFile() || file.size() != 0) continue;
    if (m_log->Path() == path) m_log->Close();
    if (QFile::remove(path)) emit LogFileRemoved(path);
  }
}

}  // namespace vorlan::session
