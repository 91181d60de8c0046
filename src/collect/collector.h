#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

#include "collect/options.h"
#include "platform/dialogs.h"

namespace vorlan {
class Platform;
class Timer;
namespace session {
class Session;
}
}  // namespace vorlan

namespace vorlan::collect {

class EventLog;

using namespace std::chrono_literals;

// How long a connection attempt may take before it is given up and tried again.
inline constexpr std::chrono::seconds kConnectLimit = 30s;
// A linked exchange answers the heartbeat every few seconds; one silent this long is gone.
inline constexpr std::chrono::seconds kSilenceLimit = 60s;
// How long the exchange has to close the connection after the disconnect request.
inline constexpr std::chrono::seconds kCloseLimit = 5s;
// How long a stop waits for the exchange to confirm the end of the download.
inline constexpr std::chrono::seconds kStopLimit = 10s;
inline constexpr std::chrono::seconds kReportEvery = 60s;
// From the stop request to the end, whatever the exchange does: past it the connection is
// closed from our side (the exchange keeps the records of a reply we did not acknowledge).
// The service's TimeoutStopSec lies above it.
inline constexpr std::chrono::seconds kStopDeadline = 12s;

// The kinds of a failed connection attempt, for those who count them: "refused", "timeout",
// "unreachable", "name" (the host name could not be looked up), "closed" (by the exchange
// before the link was up), "log_file" (it could not be opened), "error" (any other).
QString FailureKind(int socketError);
inline const QStringList kFailureKinds = {"refused", "timeout",  "unreachable", "name",
                                          "closed",  "log_file", "error"};

// Runs the exchange session with no window: connects, downloads once linked, connects again
// after every loss with a growing pause, and on request stops the download, disconnects and
// finishes. It acts only from the event loop; the session's signals and its own timers only ask
// it to look again. The session it runs has no pace: no lamp holds a frame or an arrival.
class Collector : public QObject {
  Q_OBJECT

 public:
  // `random` gives numbers from 0 to 1 for the jitter of the reconnect pauses.
  Collector(session::Session& session, Platform& platform, EventLog& log, Options options,
            std::function<double()> random);
  ~Collector() override;
  Q_DISABLE_COPY_MOVE(Collector)

  // Gives the session its settings and makes the first connection attempt.
  void Start();
  // Stops the download, disconnects and finishes.
  void RequestStop(const QString& why);
  // Records logged since the start.
  qint32 RecordCount() const { return m_recordCount; }

 signals:
  void Finished(int exitCode);
  // A connection attempt starts; one that ends before the link is up says why, in one word
  // (see FailureKind).
  void ConnectAttempted();
  void ConnectFailed(const QString& kind);

 private:
  enum class Phase { Waiting, Connecting, Linked, Closing, Stopping, Stopped };
  // Where a stop is: waiting for the exchange to confirm the end of the download, then for it
  // to close the connection.
  enum class StopStep { Download, Close };

  void RequestLook();
  void Look();
  void Connect();
  void Restart(const QString& why);
  void Lost();
  void Stop();
  void StartStopStep(std::chrono::seconds limit);
  void StopDeadline();
  void WatchTick();
  void NoteLogFile();
  void DropEmptyLogs();
  QString Address() const;

  // A log file that cannot be opened or written: a line of output, and a fresh connection.
  void LogFailed(const QString& text);

  session::Session& m_session;
  Platform& m_platform;
  EventLog& m_log;
  Options m_options;
  std::function<double()> m_random;
  std::unique_ptr<Timer> m_reconnectTimer;
  std::unique_ptr<Timer> m_watchTimer;     // ticks every second
  std::unique_ptr<Timer> m_stopTimer;      // kStopDeadline from the stop request
  std::unique_ptr<Timer> m_stopStepTimer;  // the limit of the stop's step under way

  Phase m_phase = Phase::Waiting;
  bool m_lookPosted = false;
  qint32 m_recordCount = 0;
  bool m_connectDue = false;
  QString m_stopWhy;
  StopStep m_stopStep = StopStep::Download;
  bool m_stopStepOver = false;  // the step's limit has passed
  // Why the current connection is being ended by us, to be acted on when next looked at.
  QString m_restartWhy;
  // Why the last connection ended, as the socket's error said.
  QString m_lossReason;
  QString m_lossKind;
  int m_failures = 0;        // connection attempts in a row that carried no reply
  bool m_accepted = false;   // the exchange accepted the current attempt
  bool m_logOpened = false;  // the current attempt opened its log file
  // Log files the session opened that did not exist before (at Connect, or the hourly switch's),
  // removed at the end of the attempt while they are still empty.
  QStringList m_createdLogs;
  QString m_seenLog;  // the session's log file, as last looked at
  bool m_carriedReplies = false;
  bool m_logFailed = false;
  int m_phaseSeconds = 0;   // in the current phase
  int m_silentSeconds = 0;  // since the exchange last sent anything
  int m_reportSeconds = 0;
  qint32 m_reportedCount = 0;
  QString m_announcedLog;
};

}  // namespace vorlan::collect
