#include "store/call_store.h"

#include <QTimeZone>

#include <algorithm>

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

namespace {

void AppendInt32(QByteArray& out, quint32 value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += char((value >> shift) & 0xFF);
}

// The digests as a bytea[] in PostgreSQL's binary format: read by the server at once, where
// the same array as text (hex) takes longer to parse than the lookup takes to run.
QByteArray DigestArray(const std::vector<const BatchRow*>& rows) {
  constexpr quint32 kByteaType = 17;
  QByteArray array;
  array.reserve(20 + qsizetype(rows.size()) * qsizetype(4 + sizeof(RecordDigest)));
  AppendInt32(array, 1);  // dimensions
  AppendInt32(array, 0);  // no NULLs
  AppendInt32(array, kByteaType);
  AppendInt32(array, quint32(rows.size()));
  AppendInt32(array, 1);  // the first index
  for (const BatchRow* row : rows) {
    AppendInt32(array, quint32(row->digest.size()));
    array.append(QByteArrayView(row->digest.data(), qsizetype(row->digest.size())));
  }
  return array;
}

}  // namespace

std::optional<std::vector<RecordDigest>> CallStore::Stored(
    const QByteArray& exchange, const std::vector<const BatchRow*>& rows) {
  const PgResult result = m_connection.Exec(
      "SELECT record_sha256 FROM calls WHERE exchange = $1 AND record_sha256 = ANY($2::bytea[])",
      {exchange, DigestArray(rows)}, {false, true});
  if (!m_connection.Check(result)) return std::nullopt;
  std::vector<RecordDigest> stored(size_t(result.Rows()));
  for (int row = 0; row < result.Rows(); ++row) {
    // bytea in its hex output: \x and 64 digits.
    const QByteArray bytes = QByteArray::fromHex(result.Value(row, 0).mid(2));
    std::copy_n(bytes.constData(), std::min(bytes.size(), qsizetype(stored[row].size())),
                stored[row].begin());
  }
  std::sort(stored.begin(), stored.end());
  return stored;
}

std::optional<qint64> CallStore::Load(const QByteArray& exchange, const LogBatch& batch) {
  if (batch.rows.empty()) return 0;
  // In the order of the uniqueness rule's index, each record once (its first line): the index
  // is then written page after page rather than all over, which is most of a big load's time.
  std::vector<const BatchRow*> distinct;
  distinct.reserve(batch.rows.size());
  for (const BatchRow& row : batch.rows) distinct.push_back(&row);
  std::stable_sort(distinct.begin(), distinct.end(),
                   [](const BatchRow* a, const BatchRow* b) { return a->digest < b->digest; });
  distinct.erase(
      std::unique(distinct.begin(), distinct.end(),
                  [](const BatchRow* a, const BatchRow* b) { return a->digest == b->digest; }),
      distinct.end());
  // The rows of the records that the lookup did not find.
  auto fresh = [&](const std::vector<RecordDigest>& stored) {
    QByteArray rows;
    rows.reserve(batch.copyRows.size());
    for (const BatchRow* row : distinct) {
      if (std::binary_search(stored.begin(), stored.end(), row->digest)) continue;
      rows.append(QByteArrayView(batch.copyRows).sliced(row->offset, row->length));
    }
    return rows;
  };
  const QByteArray copy = QByteArray("COPY calls (") + kCopyColumns + ") FROM STDIN";
  enum class Copied { Done, Stored, Failed };
  qint64 copied = 0;
  auto copyIn = [&](const QByteArray& rows) {
    if (rows.isEmpty()) return Copied::Done;
    if (!m_connection.Run("SAVEPOINT batch")) return Copied::Failed;
    if (const std::optional<qint64> count = m_connection.CopyIn(copy.constData(), rows)) {
      copied = *count;
      return m_connection.Run("RELEASE SAVEPOINT batch") ? Copied::Done : Copied::Failed;
    }
    if (m_connection.ErrorState() != "23505" || !m_connection.Run("ROLLBACK TO SAVEPOINT batch") ||
        !m_connection.Run("RELEASE SAVEPOINT batch")) {
      return Copied::Failed;
    }
    return Copied::Stored;
  };

  // A fresh load meets no stored record: its rows go in without a lookup. One that does meets
  // more, so the lookup goes first until a batch finds none.
  QByteArray rows;
  Copied result = Copied::Stored;
  if (!m_lookUpFirst) result = copyIn(fresh({}));
  if (result == Copied::Stored) {
    const std::optional<std::vector<RecordDigest>> stored = Stored(exchange, distinct);
    if (!stored) return std::nullopt;
    m_lookUpFirst = !stored->empty();
    rows = fresh(*stored);
    result = copyIn(rows);
  }
  if (result == Copied::Failed) return std::nullopt;
  if (result == Copied::Done) return copied;
  // Another loader of the same exchange stored some of the records since the lookup.
  return LoadStaged(rows);
}

std::optional<qint64> CallStore::LoadStaged(const QByteArray& copyRows) {
  const QByteArray copy = QByteArray("COPY incoming (") + kCopyColumns + ") FROM STDIN";
  if (!m_connection.CopyIn(copy.constData(), copyRows)) return std::nullopt;
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
