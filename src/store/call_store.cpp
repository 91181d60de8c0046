#include "store/call_store.h"

#include <QTimeZone>

#include <algorithm>
#include <array>
#include <set>

#include "store/call_rows.h"
#include "store/schema.h"

namespace vorlan::store {

std::optional<QString> CallStore::Open(const QByteArray& conninfo, const QString& timeZone,
                                       const QString& applicationName) {
  m_conninfo = conninfo;
  if (!m_connection.Open(conninfo)) return m_connection.Error();
  if (std::optional<QString> error = EnsureSchema(m_connection)) {
    m_connection.Close();
    return error;
  }
  const QByteArray staging = QByteArray(
      "CREATE TEMP TABLE incoming (exchange text, record bytea, marked_bad boolean,"
      " call_type text, started_at timestamptz, ended_at timestamptz,"
      " talk_seconds integer, items jsonb, log_file text, log_line integer, line_key bytea,"
      " journal text, start_month date, item_keys text[])");
  if (!m_connection.Run("SET client_encoding = 'UTF8'") ||
      !m_connection.Run("SELECT set_config('application_name', $1, false)",
                        {applicationName.toUtf8()}) ||
      !m_connection.Run("SELECT set_config('TimeZone', $1, false)", {timeZone.toUtf8()}) ||
      !m_connection.Run(staging.constData())) {
    QString error = m_connection.Error();
    m_connection.Close();
    return error;
  }
  // A role held to its exchanges' rows cannot COPY into the table itself.
  const PgResult held = m_connection.Exec("SELECT row_security_active('calls')");
  if (!m_connection.Check(held)) {
    QString error = m_connection.Error();
    m_connection.Close();
    return error;
  }
  m_heldToRows = held.Value(0, 0) == "t";
  // Rows of the schema before, not yet in their months, would be missed by the lookups.
  if (std::optional<QString> error = MoveOldCalls(m_connection)) {
    m_connection.Close();
    return error;
  }
  m_months.clear();
  m_analysed.clear();
  m_copiedSinceCheck = 0;
  return std::nullopt;
}

namespace {

void AppendInt32(QByteArray& out, quint32 value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += char((value >> shift) & 0xFF);
}

template <typename Bytes>
QByteArrayView View(const Bytes& bytes) {
  return {bytes.data(), qsizetype(bytes.size())};
}

// A bytea[] in PostgreSQL's binary format: read by the server at once, where the same array
// as text (hex) takes longer to parse than the lookup takes to run.
QByteArray ByteaArray(const std::vector<QByteArrayView>& values) {
  constexpr quint32 kByteaType = 17;
  QByteArray array;
  array.reserve(20 + qsizetype(values.size()) * 36);
  AppendInt32(array, 1);  // dimensions
  AppendInt32(array, 0);  // no NULLs
  AppendInt32(array, kByteaType);
  AppendInt32(array, quint32(values.size()));
  AppendInt32(array, 1);  // the first index
  for (const QByteArrayView value : values) {
    AppendInt32(array, quint32(value.size()));
    array.append(value);
  }
  return array;
}

// bytea in its hex output (\x and the digits) as a digest or a line key.
template <typename Array>
Array FromHex(const QByteArray& value) {
  Array bytes{};
  const QByteArray raw = QByteArray::fromHex(value.mid(2));
  std::copy_n(raw.constData(), std::min(raw.size(), qsizetype(bytes.size())), bytes.begin());
  return bytes;
}

// The months of the rows' starts as a date[] in text, and whether a row has none.
QByteArray MonthsArray(const std::set<qint64>& months) {
  QByteArray array = "{";
  for (const qint64 month : months) {
    if (array.size() > 1) array += ',';
    array += QByteArray::number(month / 100) + '-' +
             QByteArray::number(month % 100).rightJustified(2, '0') + "-01";
  }
  return array + '}';
}

std::set<qint64> MonthsOf(const std::vector<const BatchRow*>& rows, bool& untimed) {
  std::set<qint64> months;
  untimed = false;
  for (const BatchRow* row : rows) {
    if (row->facts.timed) {
      months.insert(row->facts.hour / 10000);
    } else {
      untimed = true;
    }
  }
  return months;
}

// The figures of the hours that stored calls count, added to those there.
constexpr const char* kAddFigures =
    " ON CONFLICT (exchange, hour, start_month) DO UPDATE SET calls = h.calls + excluded.calls,"
    " flagged = h.flagged + excluded.flagged,"
    " total_talk_seconds = h.total_talk_seconds + excluded.total_talk_seconds,"
    " longest_talk_seconds = greatest(h.longest_talk_seconds, excluded.longest_talk_seconds)";

}  // namespace

std::optional<CallStore::Known> CallStore::Look(const QByteArray& exchange, const LogBatch& batch) {
  std::vector<QByteArrayView> digests;
  std::vector<const BatchRow*> all;
  digests.reserve(batch.rows.size());
  all.reserve(batch.rows.size());
  for (const BatchRow& row : batch.rows) {
    digests.push_back(View(row.digest));
    all.push_back(&row);
  }
  std::sort(digests.begin(), digests.end());
  digests.erase(std::unique(digests.begin(), digests.end()), digests.end());
  // A record's month is read from its bytes, so the rows with its digest are in that month's
  // partition: only the batch's months are looked at.
  bool untimed = false;
  const std::set<qint64> batchMonths = MonthsOf(all, untimed);
  if (!AnalyseMonths(batchMonths)) return std::nullopt;
  const QByteArray months = MonthsArray(batchMonths);
  const QByteArray look =
      QByteArray(
          "SELECT line_key, journal IS DISTINCT FROM $3, record_sha256 FROM calls"
          " WHERE exchange = $1 AND record_sha256 = ANY($2::bytea[])"
          " AND (start_month = ANY($4::date[])") +
      (untimed ? " OR start_month IS NULL)" : ")");
  const PgResult result =
      m_connection.Exec(look.constData(), {exchange, ByteaArray(digests), batch.journal, months},
                        {false, true, false, false});
  if (!m_connection.Check(result)) return std::nullopt;
  Known known;
  for (int row = 0; row < result.Rows(); ++row) {
    const auto digest = FromHex<RecordDigest>(result.Value(row, 2));
    if (result.IsNull(row, 0)) {
      ++known.unkeyed[digest];
    } else {
      known.keys.insert(FromHex<LineKey>(result.Value(row, 0)));
      if (result.Value(row, 1) == "t") known.elsewhere.insert(digest);
    }
  }
  return known;
}

std::optional<qint64> CallStore::Load(const QByteArray& exchange, const LogBatch& batch) {
  if (batch.rows.empty()) return 0;
  const std::optional<Known> known = Look(exchange, batch);
  if (!known) return std::nullopt;
  std::map<RecordDigest, int> unkeyed = known->unkeyed;
  std::vector<const BatchRow*> copied;
  copied.reserve(batch.rows.size());
  std::vector<QByteArrayView> adoptKeys;
  std::vector<QByteArrayView> adoptDigests;
  for (const BatchRow& row : batch.rows) {
    if (known->keys.contains(row.key)) continue;  // this very line
    if (const auto left = unkeyed.find(row.digest); left != unkeyed.end() && left->second > 0) {
      // A row stored before lines had keys: the first line with its bytes.
      --left->second;
      adoptKeys.push_back(View(row.key));
      adoptDigests.push_back(View(row.digest));
      continue;
    }
    // The same call logged by another program's journal of this exchange.
    if (row.facts.timed && known->elsewhere.contains(row.digest)) continue;
    copied.push_back(&row);
  }
  // Mostly every line is new: then the batch's text goes as it is, not copied row by row.
  QByteArray rows;
  if (copied.size() == batch.rows.size()) {
    rows = batch.copyRows;
  } else {
    for (const BatchRow* row : copied) {
      rows.append(QByteArrayView(batch.copyRows).sliced(row->offset, row->length));
    }
  }
  if (!adoptKeys.empty() &&
      !m_connection.Check(m_connection.Exec(
          "UPDATE calls c SET line_key = u.key, journal = $4 FROM unnest($2::bytea[], $3::bytea[])"
          " AS u(key, digest) WHERE c.exchange = $1 AND c.record_sha256 = u.digest"
          " AND c.id = (SELECT id FROM calls WHERE exchange = $1 AND record_sha256 = u.digest"
          " AND line_key IS NULL LIMIT 1)",
          {exchange, ByteaArray(adoptKeys), ByteaArray(adoptDigests), batch.journal},
          {false, true, true, false}))) {
    return std::nullopt;
  }
  if (rows.isEmpty()) return 0;
  if (!MakeMonths(copied)) return std::nullopt;
  if (m_heldToRows) return LoadStaged(rows);
  const QByteArray copy = QByteArray("COPY calls (") + kCopyColumns + ") FROM STDIN";
  if (!m_connection.Run("SAVEPOINT batch")) return std::nullopt;
  if (const std::optional<qint64> count = m_connection.CopyIn(copy.constData(), rows)) {
    if (!AddFigures(exchange, copied) || !m_connection.Run("RELEASE SAVEPOINT batch")) {
      return std::nullopt;
    }
    m_copiedSinceCheck += *count;
    return count;
  }
  if (m_connection.ErrorState() != "23505" || !m_connection.Run("ROLLBACK TO SAVEPOINT batch") ||
      !m_connection.Run("RELEASE SAVEPOINT batch")) {
    return std::nullopt;
  }
  // Another loader of the same exchange stored some of the lines since the lookup.
  return LoadStaged(rows);
}

bool CallStore::MakeMonths(const std::vector<const BatchRow*>& rows) {
  bool untimed = false;
  std::set<qint64> months = MonthsOf(rows, untimed);
  for (auto month = months.begin(); month != months.end();) {
    month = m_months.contains(*month) ? months.erase(month) : std::next(month);
  }
  if (months.empty()) return true;
  if (!m_months_connection.IsOpen() && !m_months_connection.Open(m_conninfo)) {
    m_connection.SetError(m_months_connection.Error());
    return false;
  }
  if (!m_months_connection.Run("SELECT make_call_months($1::date[])", {MonthsArray(months)})) {
    m_connection.SetError(m_months_connection.Error());
    m_months_connection.Close();
    return false;
  }
  m_months.insert(months.begin(), months.end());
  return true;
}

bool CallStore::AnalyseMonths(const std::set<qint64>& months) {
  // Asked at a month's first batch of the session and then every so many rows: the server
  // analyses only what has doubled since, so most asks cost a round trip and nothing else.
  // In the load's own transaction, whose rows an analysis elsewhere would not count.
  constexpr qint64 kCheckEvery = 20000;
  bool due = m_copiedSinceCheck >= kCheckEvery;
  for (const qint64 month : months) due = due || !m_analysed.contains(month);
  if (!due) return true;
  if (!m_connection.Run("SELECT analyse_call_months($1::date[])", {MonthsArray(months)})) {
    return false;
  }
  m_analysed.insert(months.begin(), months.end());
  m_copiedSinceCheck = 0;
  return true;
}

bool CallStore::AddFigures(const QByteArray& exchange, const std::vector<const BatchRow*>& rows) {
  struct Figures {
    qint64 calls = 0;
    qint64 flagged = 0;
    qint64 total = 0;
    qint64 longest = 0;
  };
  std::map<qint64, Figures> hours;
  for (const BatchRow* row : rows) {
    if (!row->facts.timed) continue;
    Figures& hour = hours[row->facts.hour];
    hour.longest =
        hour.calls == 0 ? row->facts.talkSeconds : std::max(hour.longest, row->facts.talkSeconds);
    ++hour.calls;
    hour.flagged += row->flagged ? 1 : 0;
    hour.total += row->facts.talkSeconds;
  }
  if (hours.empty()) return true;
  std::array<QByteArray, 5> arrays;
  for (const auto& [at, figures] : hours) {
    const qint64 day = at / 100;
    arrays[0] += QByteArray::number(day / 10000) + '-' +
                 QByteArray::number(day / 100 % 100).rightJustified(2, '0') + '-' +
                 QByteArray::number(day % 100).rightJustified(2, '0') + ' ' +
                 QByteArray::number(at % 100).rightJustified(2, '0') + ":00:00,";
    arrays[1] += QByteArray::number(figures.calls) + ',';
    arrays[2] += QByteArray::number(figures.flagged) + ',';
    arrays[3] += QByteArray::number(figures.total) + ',';
    arrays[4] += QByteArray::number(figures.longest) + ',';
  }
  for (QByteArray& array : arrays) array = '{' + array.chopped(1) + '}';
  const QByteArray add =
      QByteArray(
          "INSERT INTO calls_hourly AS h SELECT $1, date_trunc('hour', u.at::timestamptz),"
          " (left(u.at, 7) || '-01')::date, sum(u.calls), sum(u.flagged), sum(u.total),"
          " max(u.longest) FROM unnest($2::text[], $3::bigint[], $4::bigint[], $5::bigint[],"
          " $6::integer[]) AS u(at, calls, flagged, total, longest) GROUP BY 2, 3 ORDER BY 2, 3") +
      kAddFigures;
  return m_connection.Run(add.constData(),
                          {exchange, arrays[0], arrays[1], arrays[2], arrays[3], arrays[4]});
}

std::optional<qint64> CallStore::LoadStaged(const QByteArray& copyRows) {
  const QByteArray copy = QByteArray("COPY incoming (") + kCopyColumns + ") FROM STDIN";
  if (!m_connection.CopyIn(copy.constData(), copyRows)) return std::nullopt;
  // Any unique index is the arbiter: calls without a start have theirs in their partition.
  const QByteArray move =
      QByteArray("WITH stored AS (INSERT INTO calls (") + kCopyColumns + ") SELECT " +
      kCopyColumns +
      " FROM incoming ON CONFLICT DO NOTHING"
      " RETURNING exchange, started_at, start_month, marked_bad, talk_seconds),"
      " figures AS (INSERT INTO calls_hourly AS h SELECT exchange,"
      " date_trunc('hour', started_at), start_month, count(*), count(*) FILTER (WHERE marked_bad),"
      " coalesce(sum(talk_seconds), 0), coalesce(max(talk_seconds), 0) FROM stored"
      " WHERE started_at IS NOT NULL GROUP BY 1, 2, 3 ORDER BY 2, 3" +
      kAddFigures + ") SELECT count(*) FROM stored";
  const PgResult result = m_connection.Exec(move.constData());
  if (!m_connection.Check(result) || !m_connection.Run("TRUNCATE incoming")) return std::nullopt;
  const qint64 stored = result.Value(0, 0).toLongLong();
  m_copiedSinceCheck += stored;
  return stored;
}

std::optional<std::map<QString, FilePosition>> CallStore::Positions(const QByteArray& exchange) {
  const PgResult result = m_connection.Exec(
      "SELECT log_file, byte_offset, next_line, line_key, file_id, head FROM store_positions"
      " WHERE exchange = $1",
      {exchange});
  if (!m_connection.Check(result)) return std::nullopt;
  std::map<QString, FilePosition> positions;
  for (int row = 0; row < result.Rows(); ++row) {
    // One stored before positions named their file is no use: its file is read again.
    if (result.IsNull(row, 3)) continue;
    FilePosition& position = positions[QString::fromUtf8(result.Value(row, 0))];
    position.at.offset = result.Value(row, 1).toLongLong();
    position.at.line = result.Value(row, 2).toLongLong();
    position.at.key = FromHex<LineKey>(result.Value(row, 3));
    position.fileId = result.Value(row, 4);
    position.head = QByteArray::fromHex(result.Value(row, 5).mid(2));
  }
  return positions;
}

bool CallStore::SavePosition(const QByteArray& exchange, const QString& logFile,
                             const FilePosition& position) {
  const PgResult result = m_connection.Exec(
      "INSERT INTO store_positions (exchange, log_file, byte_offset, next_line, line_key,"
      " file_id, head) VALUES ($1, $2, $3, $4, $5, $6, $7) ON CONFLICT (exchange, log_file)"
      " DO UPDATE SET byte_offset = excluded.byte_offset, next_line = excluded.next_line,"
      " line_key = excluded.line_key, file_id = excluded.file_id, head = excluded.head,"
      " updated_at = now()",
      {exchange, logFile.toUtf8(), QByteArray::number(position.at.offset),
       QByteArray::number(position.at.line), View(position.at.key).toByteArray(), position.fileId,
       position.head},
      {false, false, false, false, true, false, true});
  return m_connection.Check(result);
}

QString LocalTimeZone() { return QString::fromLatin1(QTimeZone::systemTimeZoneId()); }

}  // namespace vorlan::store
