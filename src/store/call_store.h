#pragma once

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>
#include <vector>

#include "store/log_batch.h"
#include "store/pg_connection.h"

// A session with the call store: the schema brought up to date and the exchange's time zone
// set. A batch's rows are copied straight into calls; the records of it already stored are
// looked up by their digests when the copy meets one. A staging table, from which one
// statement moves the rows that are not there yet, is only for records that another loader
// stored after the lookup.
namespace vorlan::store {

class CallStore {
 public:
  // Connects and prepares the session. Nothing on success, else why it failed.
  std::optional<QString> Open(const QByteArray& conninfo, const QString& timeZone,
                              const QString& applicationName);
  // Ends the call in progress at once when raised (see PgConnection::SetWakeUp).
  void SetWakeUp(const WakeUp* wakeUp) { m_connection.SetWakeUp(wakeUp); }
  void Close() { m_connection.Close(); }
  bool IsOpen() const { return m_connection.IsOpen(); }

  bool Begin() { return m_connection.Run("BEGIN"); }
  bool Commit() { return m_connection.Run("COMMIT"); }
  void Rollback() { m_connection.Run("ROLLBACK"); }

  // Stores the batch's records that the exchange's rows do not hold yet, each once: how many
  // were new, nothing on failure. Inside a transaction (Begin).
  std::optional<qint64> Load(const QByteArray& exchange, const LogBatch& batch);

  // Where the exchange's forwarder stands in each log file it has read.
  std::optional<std::map<QString, LogPosition>> Positions(const QByteArray& exchange);
  bool SavePosition(const QByteArray& exchange, const QString& logFile, LogPosition position);

  QString Error() const { return m_connection.Error(); }

 private:
  // Of the digests, those the exchange's rows hold, sorted.
  std::optional<std::vector<RecordDigest>> Stored(const QByteArray& exchange,
                                                  const std::vector<const BatchRow*>& rows);
  std::optional<qint64> LoadStaged(const QByteArray& copyRows);

  PgConnection m_connection;
  bool m_lookUpFirst = false;  // the last batch met records already stored
};

// The collector's own zone, as PostgreSQL names zones.
QString LocalTimeZone();

}  // namespace vorlan::store
