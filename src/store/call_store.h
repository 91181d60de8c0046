#pragma once

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>
#include <set>
#include <vector>

#include "store/log_batch.h"
#include "store/pg_connection.h"

// A session with the call store: the schema brought up to date and the exchange's time zone
// set. A row is a line of a log file, known by its line key: a line read again is not stored
// again, two lines with the same bytes are two rows. A record whose start can be read and
// whose bytes are stored from another journal (log folder) of the exchange is that row's
// call, logged by another program too, and not stored again. A batch's records are looked up
// by their digests, then the new ones copied; a staging table, from which one statement
// moves the rows that are not there yet, is only for lines that another loader stored after
// the lookup.
namespace vorlan::store {

// Where a forwarder stands in a log file, and which file that is: what the file system calls
// it and its first bytes.
struct FilePosition {
  LogPosition at;
  QByteArray fileId;
  QByteArray head;
};

class CallStore {
 public:
  // Connects and prepares the session. Nothing on success, else why it failed.
  std::optional<QString> Open(const QByteArray& conninfo, const QString& timeZone,
                              const QString& applicationName);
  // Ends the call in progress at once when raised (see PgConnection::SetWakeUp).
  void SetWakeUp(const WakeUp* wakeUp) {
    m_connection.SetWakeUp(wakeUp);
    m_months_connection.SetWakeUp(wakeUp);
  }
  void SetNoticeHandler(std::function<void(const QString&)> handler) {
    m_connection.SetNoticeHandler(std::move(handler));
  }
  void Close() {
    m_connection.Close();
    m_months_connection.Close();
  }
  bool IsOpen() const { return m_connection.IsOpen(); }

  bool Begin() { return m_connection.Run("BEGIN"); }
  bool Commit() { return m_connection.Run("COMMIT"); }
  void Rollback() { m_connection.Run("ROLLBACK"); }

  // Stores the batch's lines that the exchange's rows do not hold yet: how many were new,
  // nothing on failure. Inside a transaction (Begin).
  std::optional<qint64> Load(const QByteArray& exchange, const LogBatch& batch);

  // Where the exchange's forwarder stands in each log file it has read.
  std::optional<std::map<QString, FilePosition>> Positions(const QByteArray& exchange);
  bool SavePosition(const QByteArray& exchange, const QString& logFile,
                    const FilePosition& position);

  QString Error() const { return m_connection.Error(); }
  PgConnection& Connection() { return m_connection; }

 private:
  // What the exchange's rows hold of the batch's records.
  struct Known {
    std::set<LineKey> keys;               // line keys stored
    std::map<RecordDigest, int> unkeyed;  // digest: rows stored before lines had keys
    std::set<RecordDigest> elsewhere;     // digests stored from another journal
  };
  std::optional<Known> Look(const QByteArray& exchange, const LogBatch& batch);
  std::optional<qint64> LoadStaged(const QByteArray& copyRows);
  // The partitions of the rows' months, made where missing.
  bool MakeMonths(const std::vector<const BatchRow*>& rows);
  // Statistics of the months' partitions where they are missing or old, so that the lookup
  // probes the digests' index instead of reading all of the month's rows.
  bool AnalyseMonths(const std::set<qint64>& months);
  // The hourly figures of the rows copied, in the same transaction.
  bool AddFigures(const QByteArray& exchange, const std::vector<const BatchRow*>& rows);

  PgConnection m_connection;
  // Makes the months' partitions, each committed at once: attaching one holds up the other
  // loaders' attaching until it commits, which must not wait for a file's transaction.
  PgConnection m_months_connection;
  QByteArray m_conninfo;
  std::set<qint64> m_months;      // yyyyMM with a partition, as far as this session knows
  std::set<qint64> m_analysed;    // yyyyMM whose statistics this session had checked
  qint64 m_copiedSinceCheck = 0;  // rows copied since the statistics were last checked
  bool m_heldToRows = false;      // row-level security applies: rows go through the staging table
};

// The collector's own zone, as PostgreSQL names zones.
QString LocalTimeZone();

}  // namespace vorlan::store
