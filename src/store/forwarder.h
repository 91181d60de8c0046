#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QFileInfoList>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "store/backlog.h"
#include "store/call_store.h"
#include "store/wake_up.h"

// Feeds the call store from the collector's log files, on a thread and a connection of its
// own, so that the download never waits for the database. Its position in each file is
// stored in the same transaction as the rows read up to it: after a crash, a restart or an
// outage it goes on from there, and nothing is lost or loaded twice.
namespace vorlan::store {

inline constexpr std::chrono::milliseconds kForwardPoll{200};
inline constexpr std::chrono::seconds kFirstRetry{1};
inline constexpr std::chrono::seconds kLongestRetry{30};
inline constexpr std::chrono::minutes kUnreachableRepeat{5};
inline constexpr std::chrono::minutes kProgressEvery{1};
// A log file left alone this long is complete: its last lines are taken as they are.
inline constexpr std::chrono::seconds kSettled{10};

struct ForwarderOptions {
  QByteArray conninfo;
  QByteArray exchange;
  QString timeZone;
  QString logsFolder;
};

class Forwarder {
 public:
  enum class Level { Info, Warning };
  // Called on the forwarder's thread.
  using Reporter = std::function<void(Level, const QString&)>;

  Forwarder(ForwarderOptions options, Reporter report);
  Forwarder(const Forwarder&) = delete;
  Forwarder& operator=(const Forwarder&) = delete;
  ~Forwarder();

  void Start();
  // Ends the thread at once, even inside a statement the store does not answer; a batch not
  // yet committed is the database's to roll back.
  void Stop();

 private:
  void Run();
  bool Connect();
  // One pass over the log files; false when the store failed. `more`: a file has more to read.
  bool Pass(bool& more);
  QFileInfoList LogFiles() const;
  // Brings the backlog up to the files as they are now.
  void Survey(const QFileInfoList& files);
  bool LoadFile(const QString& name, qint64 size, const QDateTime& modified, bool& more);
  void ReportProgress();
  void Unreachable(const QString& why);
  // Waits, or less when stopped. False once stopped.
  bool Pause(std::chrono::milliseconds delay);

  ForwarderOptions m_options;
  Reporter m_report;
  WakeUp m_wakeUp;  // before m_store, which waits on it
  CallStore m_store;
  std::map<QString, LogPosition> m_positions;
  std::thread m_thread;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_stopping = false;

  std::chrono::seconds m_retry = kFirstRetry;
  std::chrono::steady_clock::time_point m_lastUnreachable;
  bool m_unreachable = false;
  std::chrono::steady_clock::time_point m_progressSince = std::chrono::steady_clock::now();
  qint64 m_inserted = 0;  // since m_progressSince
  qint64 m_repeated = 0;
  Backlog m_backlog;
};

}  // namespace vorlan::store
