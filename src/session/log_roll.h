#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

#include "logging/record_log.h"

namespace vorlan {
class Platform;
class Timer;
}  // namespace vorlan

namespace vorlan::session {

class Connection;
class Poller;

// The log roll: the record log the session writes, opened as a connection attempt starts and
// switched to a new file at the top of every hour (the download stopped, the stop confirmed,
// the file switched, the download started again); the empty files a session without a person
// watching leaves behind; and what the log did on its own (a file made again), as notices.
class LogRoll : public QObject {
  Q_OBJECT

 public:
  LogRoll(Platform& platform, QString logsFolder, Connection& connection, Poller& poller,
          int& handlers);
  ~LogRoll() override;
  Q_DISABLE_COPY_MOVE(LogRoll)

  // Files this session made that stay empty are removed when the link ends (a collector beside
  // an exchange that is away would otherwise leave one for every minute it tried).
  void SetRemoveEmpty(bool remove) { m_removeEmpty = remove; }
  // Whether a step of the record path is under way: a due switch waits for it to end.
  void SetBusy(std::function<bool()> busy) { m_busy = std::move(busy); }

  // Opens the file named after this minute; false when it could not be (LogFileFailed says why).
  bool Open(logging::MissingFolder missingFolder);
  // The switch ticks from the first open on, unless held.
  void StartTicking();
  // Form_Load's design state: the switch is off until Connect.
  void StopTicking();
  // The switch goes quiet (a session that is ending), or runs again from now.
  void Hold(bool hold);
  void Close();
  // A due switch starts as soon as the step under way has ended.
  void LookWhenIdle();
  bool Switching() const { return m_switching; }
  // The stop the switch waits for was confirmed.
  void StopConfirmed();
  void RemoveEmpty();
  // What the log did on its own since last asked, as a notice.
  void PassNotice();

  logging::RecordLog& Log() { return *m_log; }
  const logging::RecordLog& Log() const { return *m_log; }
  const QString& Folder() const { return m_folder; }
  // The file the log should be, also when it could not be opened.
  const QString& WantedPath() const { return m_wanted; }
  const Timer& TimerLog() const { return *m_timerLog; }

 signals:
  void LogFileOpened(const QString& path);
  // Opening failed: `failure` says why, as the log library words it.
  void LogFileFailed(const QString& failure);
  // The hourly switch closed the old file and is about to open the new one.
  void LogSwitching();
  void LogFileRemoved(const QString& path);
  void Notice(const QString& text);

 private:
  void TimerLog_Timer();
  void StartSwitch();
  void FinishSwitch();

  Platform& m_platform;
  QString m_folder;
  Connection& m_connection;
  Poller& m_poller;
  int& m_handlers;
  std::function<bool()> m_busy;
  std::unique_ptr<logging::RecordLog> m_log;
  std::unique_ptr<Timer> m_timerLog;
  std::unique_ptr<Timer> m_switchTimer;
  QString m_wanted;
  bool m_removeEmpty = false;
  QStringList m_created;
  bool m_lookPosted = false;
  bool m_pending = false;
  bool m_switching = false;
  bool m_switchLinked = false;
  quint64 m_switchConnection = 0;
  bool m_held = false;
};

}  // namespace vorlan::session
