#include "store/call_store.h"

#include <QTimeZone>

#include "store/call_rows.h"
#include "store/schema.h"

namespace vorlan::store {

std::optional<QString> CallStore::Open(const QByteArray& conninfo, const QString& timeZone,
                                       const QString& applicationName) {
  if (!m_connection.Open(conninfo)) return m_connection.Error();
  if (std::optional<QString> error = EnsureSchema(m_connection)) {
    m_connection.Close();
    return error;
  }
  const QByteArray staging = QByteArray(
      "CREATE TEMP TABLE incoming (exchange text, record bytea, marked_bad boolean,"
      " call_type text, started_at timestamptz, ended_at timestamptz,"
      " talk_seconds integer, items jsonb, log_file text, log_line integer)");
  if (!m_connection.Run("SET client_encoding = 'UTF8'") ||
      !m_connection.Run("SELECT set_config('application_name', $1, false)",
                        {applicationName.toUtf8()}) ||
      !m_connection.Run("SELECT set_config('TimeZone', $1, false)", {timeZone.toUtf8()}) ||
      !m_connection.Run(staging.constData())) {
    QString error = m_connection.Error();
    m_connection.Close();
    return error;
  }
  return std::nullopt;
}

std::optional<qint64> CallStore::Load(const QByteArray& copyRows) {
  const QByteArray copy = QByteArray("COPY incoming (") + kCopyColumns + ") FROM STDIN";
  if (!m_connection.CopyIn(copy.constData(), copyRows)) return std::nullopt;
  // A record already there, or twice in this batch, is inserted once.
  const QByteArray move = QByteArray("INSERT INTO calls (") + kCopyColumns + ") SELECT " +
                          kCopyColumns +
                          " FROM incoming ON CONFLICT ON CONSTRAINT calls_once DO NOTHING";
  const PgResult result = m_connection.Exec(move.constData());
  if (!m_connection.Check(result) || !m_connection.Run("TRUNCATE incoming")) return std::nullopt;
  return result.AffectedRows();
}

std::optional<std::map<QString, LogPosition>> CallStore::Positions(const QByteArray& exchange) {
  const PgResult result = m_connection.Exec(
      "SELECT log_file, byte_offset, next_line FROM store_positions WHERE exchange = $1",
      {exchange});
  if (!m_connection.Check(result)) return std::nullopt;
  std::map<QString, LogPosition> positions;
  for (int row = 0; row < result.Rows(); ++row) {
    positions[QString::fromUtf8(result.Value(row, 0))] = {result.Value(row, 1).toLongLong(),
                                                          result.Value(row, 2).toLongLong()};
  }
  return positions;
}

bool CallStore::SavePosition(const QByteArray& exchange, const QString& logFile,
                             LogPosition position) {
  return m_connection.Run(
      "INSERT INTO store_positions (exchange, log_file, byte_offset, next_line)"
      " VALUES ($1, $2, $3, $4) ON CONFLICT (exchange, log_file) DO UPDATE"
      " SET byte_offset = excluded.byte_offset, next_line = excluded.next_line,"
      " updated_at = now()",
      {exchange, logFile.toUtf8(), QByteArray::number(position.offset),
       QByteArray::number(position.line)});
}

QString LocalTimeZone() { return QString::fromLatin1(QTimeZone::systemTimeZoneId()); }

}  // namespace vorlan::store
