#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "store/backlog.h"
#include "store/call_store.h"
#include "store/wake_up.h"

// Feeds the call store from the collector's log files, on a thread and a connection of its
// own, so that the download never waits for the database. Its position in each file (and
// which file that is) is stored in the same transaction as the rows read up to it: after a
// crash, a restart or an outage it goes on from there, and nothing is lost or loaded twice.
// It waits for the file system to say that a file changed, and reads only files it has not
// finished.
namespace vorlan::store {

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

// The forwarder's figures, for whoever reports on the collector.
struct ForwarderStatus {
  qint64 rowsLoaded = 0;                       // since it started
  qint64 bytesNotLoaded = 0;                   // of the log files
  std::optional<qint64> oldestNotLoadedSince;  // ms since the epoch; nothing when all is loaded
  bool storeReachable = false;                 // its last use of the store succeeded
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
  // From any thread.
  ForwarderStatus Status() const;

 private:
  struct LogFile {
    qint64 size = 0;
    qint64 openedAt = 0;
  };
  void Run();
  bool Connect();
  // Every log file of the folder becomes one to look at.
  void ListFiles();
  // One pass over the files not finished; false when the store failed. `more`: a file has
  // more to read at once.
  bool Pass(bool& more);
  // False when the store failed; `finished` when all of the file is stored.
  bool LoadFile(const QString& name, bool& more, bool& finished);
  void Survey();
  void ReportProgress();
  void Failed(const QString& why, bool connecting);

  ForwarderOptions m_options;
  QByteArray m_journal;  // the log folder, as rows name it
  Reporter m_report;
  WakeUp m_wakeUp;  // before m_store, which waits on it
  CallStore m_store;
  std::map<QString, FilePosition> m_positions;
  std::map<QString, LogFile> m_files;                               // every log file known
  std::set<QString> m_pending;                                      // those to look at
  std::optional<std::chrono::steady_clock::time_point> m_settleAt;  // a file's last line then
  std::thread m_thread;
  mutable std::mutex m_mutex;
  ForwarderStatus m_status;  // under m_mutex

  std::chrono::seconds m_retry = kFirstRetry;
  std::chrono::steady_clock::time_point m_nextTry;
  std::chrono::steady_clock::time_point m_lastFailure;
  bool m_failing = false;
  bool m_connectedSaid = false;  // since the failure began
  std::chrono::steady_clock::time_point m_progressSince = std::chrono::steady_clock::now();
  qint64 m_inserted = 0;  // since m_progressSince
  qint64 m_repeated = 0;
  Backlog m_backlog;
};

}  // namespace vorlan::store
