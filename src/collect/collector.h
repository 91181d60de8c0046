#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>

#include "collect/options.h"
#include "session/session.h"

namespace vorlan {
class Platform;
class Timer;
}  // namespace vorlan

namespace vorlan::collect {

class EventLog;

using namespace std::chrono_literals;

inline constexpr std::chrono::seconds kReportEvery = 60s;
// From the stop request to the end, whatever the exchange does (the session's deadline).
inline constexpr std::chrono::seconds kStopDeadline =
    std::chrono::duration_cast<std::chrono::seconds>(kEndDeadline);

// The kinds of a failed connection attempt, for those who count them: "refused", "timeout",
// "unreachable", "name" (the host name could not be looked up), "closed" (by the exchange
// before the link was up), "log_file" (it could not be opened), "error" (any other).
QString FailureKind(int socketError);
inline const QStringList kFailureKinds = {"refused", "timeout",  "unreachable", "name",
                                          "closed",  "log_file", "error"};

// The limits a collector's session keeps; the link's whole life is the session's.
session::Session::Options CollectorSessionOptions();

// Runs the exchange session with no window: downloads once linked, connects again after every
// loss with a growing pause, and on request ends the session. What it keeps is its own: the
// pauses between attempts and the lines of its event log; the link's life, its limits and the
// log files are the session's.
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
  // Ends the session (the download stopped, the disconnect, the exchange's close) and finishes.
  void RequestStop(const QString& why);

 signals:
  void Finished(int exitCode);
  // A connection attempt starts; one that ends before the link is up says why, in one word
  // (see FailureKind).
  void ConnectAttempted();
  void ConnectFailed(const QString& kind);

 private:
  enum class Phase { Waiting, Attempting, Linked, Stopping, Stopped };

  void Connect();
  void Linked();
  // Linked and not downloading: the connection is new, or a failure stopped the download.
  void Download();
  void Restart(const QString& why);
  void Lost(session::Session::Unlink why);
  void Limit(session::Session::Limit limit, std::chrono::milliseconds after);
  void Report();
  QString Address() const;
  // A log file that cannot be opened or written: a line of output, and a fresh connection.
  void LogFailed(const QString& text);

  session::Session& m_session;
  Platform& m_platform;
  EventLog& m_log;
  Options m_options;
  std::function<double()> m_random;
  std::unique_ptr<Timer> m_reconnectTimer;
  std::unique_ptr<Timer> m_reportTimer;

  Phase m_phase = Phase::Waiting;
  QString m_stopWhy;
  bool m_restarting = false;  // we asked the exchange to close this connection
  // Why the current attempt ended, as the socket or a limit said; empty for a plain close.
  QString m_lossReason;
  QString m_lossKind;
  int m_failures = 0;  // connection attempts in a row that carried no reply
  bool m_carriedReplies = false;
  bool m_logFailed = false;
  qint32 m_reportedCount = 0;
  QString m_openedLog;     // the session's log file, as it last said
  QString m_announcedLog;  // the one the event log named
};

}  // namespace vorlan::collect
