#pragma once

#include <QByteArray>
#include <QString>

#include <map>
#include <optional>

#include "store/log_batch.h"
#include "store/pg_connection.h"

// A session with the call store: the schema brought up to date, the exchange's time zone set,
// and a staging table that COPY fills and one statement moves into calls, skipping rows that
// are already there.
namespace vorlan::store {

class CallStore {
 public:
  // Connects and prepares the session. Nothing on success, else why it failed.
  std::optional<QString> Open(const QByteArray& conninfo, const QString& timeZone,
                              const QString& applicationName);
  void Close() { m_connection.Close(); }
  bool IsOpen() const { return m_connection.IsOpen(); }

  bool Begin() { return m_connection.Run("BEGIN"); }
  bool Commit() { return m_connection.Run("COMMIT"); }
  void Rollback() { m_connection.Run("ROLLBACK"); }

  // Stages the rows and moves them into calls: how many were new, nothing on failure.
  std::optional<qint64> Load(const QByteArray& copyRows);

  // Where the exchange's forwarder stands in each log file it has read.
  std::optional<std::map<QString, LogPosition>> Positions(const QByteArray& exchange);
  bool SavePosition(const QByteArray& exchange, const QString& logFile, LogPosition position);

  QString Error() const { return m_connection.Error(); }

 private:
  PgConnection m_connection;
};

// The collector's own zone, as PostgreSQL names zones.
QString LocalTimeZone();

}  // namespace vorlan::store
