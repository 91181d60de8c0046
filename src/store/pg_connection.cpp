#include "store/pg_connection.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cstdlib>

#include "store/wake_up.h"

namespace vorlan::store {
namespace {

QString Trimmed(const char* text) { return QString::fromUtf8(text).trimmed(); }

}  // namespace

void PgResult::Clear(pg_result* result) { PQclear(result); }

bool PgResult::Ok() const {
  const ExecStatusType status = PQresultStatus(m_result.get());
  return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

bool PgResult::CopyInReady() const { return PQresultStatus(m_result.get()) == PGRES_COPY_IN; }

int PgResult::Rows() const { return PQntuples(m_result.get()); }

QByteArray PgResult::Value(int row, int column) const {
  return {PQgetvalue(m_result.get(), row, column), PQgetlength(m_result.get(), row, column)};
}

bool PgResult::IsNull(int row, int column) const {
  return PQgetisnull(m_result.get(), row, column) != 0;
}

qint64 PgResult::AffectedRows() const {
  return QByteArray(PQcmdTuples(m_result.get())).toLongLong();
}

// The server's primary message and SQLSTATE only: its detail and context quote the row that
// failed ("Failing row contains ..."), which is call data and stays out of the event log.
QString PgResult::Error() const {
  if (!m_result) return {};
  const char* primary = PQresultErrorField(m_result.get(), PG_DIAG_MESSAGE_PRIMARY);
  if (!primary) return Trimmed(PQresultErrorMessage(m_result.get()));
  const QByteArray state = ErrorState();
  // A data exception's message quotes the value it could not take.
  const QString text =
      state.startsWith("22") ? QStringLiteral("a value was refused") : Trimmed(primary);
  return state.isEmpty() ? text : QStringLiteral("%1 (SQLSTATE %2)").arg(text, state);
}

QByteArray PgResult::ErrorState() const {
  const char* state = m_result ? PQresultErrorField(m_result.get(), PG_DIAG_SQLSTATE) : nullptr;
  return state ? QByteArray(state) : QByteArray();
}

PgConnection::~PgConnection() { Close(); }

std::optional<QString> PgConnection::CheckConninfo(const QByteArray& conninfo) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo.constData(), &error);
  if (!options) {
    const QString text = error ? Trimmed(error) : QStringLiteral("out of memory");
    PQfreemem(error);
    return text;
  }
  bool password = false;
  // libpq ends the array with an option whose keyword is null.
  // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic)
  for (const PQconninfoOption* option = options; option->keyword; ++option) {
    password = password || (QByteArray(option->keyword) == "password" && option->val);
  }
  PQconninfoFree(options);
  if (password) {
    return QStringLiteral(
        "no password in the connection string: put it in ~/.pgpass or the "
        "file PGPASSFILE names");
  }
  return std::nullopt;
}

bool PgConnection::Open(const QByteArray& conninfo) {
  Close();
  m_error.clear();
  m_errorState.clear();
  // Defaults first, so that the connection string can override them: a store that does not
  // answer, or a network that is cut, is noticed within about half a minute.
  const char* const keywords[] = {"connect_timeout",
                                  "keepalives_idle",
                                  "keepalives_interval",
                                  "keepalives_count",
                                  "tcp_user_timeout",
                                  "dbname",
                                  nullptr};
  const char* const values[] = {"10", "10", "5", "3", "30000", conninfo.constData(), nullptr};
  m_conn = PQconnectStartParams(keywords, values, 1);
  if (!m_conn) return Fail(QStringLiteral("out of memory"));
  if (PQstatus(m_conn) == CONNECTION_BAD) return Fail(Trimmed(PQerrorMessage(m_conn)));
  auto limit = std::chrono::milliseconds(-1);
  if (PQconninfoOption* options = PQconninfo(m_conn)) {
    // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic)
    for (const PQconninfoOption* option = options; option->keyword; ++option) {
      // As libpq reads it: whole seconds, at least 2; none for 0 or less.
      const int seconds = option->val ? std::atoi(option->val) : 0;
      if (QByteArray(option->keyword) == "connect_timeout" && seconds > 0) {
        limit = std::chrono::seconds(std::max(seconds, 2));
      }
    }
    PQconninfoFree(options);
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  PostgresPollingStatusType polling = PGRES_POLLING_WRITING;
  while (polling != PGRES_POLLING_OK) {
    if (polling == PGRES_POLLING_FAILED) return Fail(Trimmed(PQerrorMessage(m_conn)));
    auto left = std::chrono::milliseconds(-1);
    if (limit.count() >= 0) {
      left = std::max(std::chrono::milliseconds(0),
                      std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now()));
    }
    if (!Await(polling == PGRES_POLLING_READING, polling == PGRES_POLLING_WRITING, left)) {
      return false;
    }
    polling = PQconnectPoll(m_conn);
  }
  if (PQsetnonblocking(m_conn, 1) != 0) return Fail(Trimmed(PQerrorMessage(m_conn)));
  // Not printed raw on standard error: handed to the program's own log, without the detail
  // and context that may quote a row.
  PQsetNoticeReceiver(
      m_conn,
      [](void* self, const pg_result* notice) {
        const auto* connection = static_cast<const PgConnection*>(self);
        if (!connection->m_notice) return;
        const char* severity = PQresultErrorField(notice, PG_DIAG_SEVERITY);
        const char* primary = PQresultErrorField(notice, PG_DIAG_MESSAGE_PRIMARY);
        connection->m_notice(QStringLiteral("%1: %2").arg(
            Trimmed(severity ? severity : "NOTICE").toLower(), Trimmed(primary ? primary : "")));
      },
      this);
  // The server's notices (a table that already exists) are for a person at psql.
  return Run("SET client_min_messages = warning");
}

void PgConnection::Close() {
  // Does not block either: a connection in non-blocking mode sends its goodbye only if the
  // socket takes it at once.
  if (m_conn) PQfinish(m_conn);
  m_conn = nullptr;
}

bool PgConnection::IsOpen() const { return m_conn && PQstatus(m_conn) == CONNECTION_OK; }

bool PgConnection::Fail(const QString& why) {
  m_error = why;
  m_errorState.clear();
  Close();
  return false;
}

bool PgConnection::Await(bool read, bool write, std::chrono::milliseconds limit) {
  if (PQsocket(m_conn) < 0) return Fail(Trimmed(PQerrorMessage(m_conn)));
  switch (WaitForSocket(PQsocket(m_conn), read, write, m_wakeUp, limit)) {
    case SocketReady::Ready: return true;
    case SocketReady::Woken: return Fail(QStringLiteral("stopped"));
    case SocketReady::TimedOut: return Fail(QStringLiteral("timeout expired"));
  }
  return false;
}

bool PgConnection::Flush() {
  for (;;) {
    const int left = PQflush(m_conn);
    if (left == 0) return true;
    if (left < 0) return Fail(Trimmed(PQerrorMessage(m_conn)));
    // What the server sends meanwhile (an error, notices) must be read for it to go on reading.
    if (!Await(true, true) || !PQconsumeInput(m_conn)) {
      return m_conn ? Fail(Trimmed(PQerrorMessage(m_conn))) : false;
    }
  }
}

PgResult PgConnection::Collect() {
  pg_result* kept = nullptr;
  for (;;) {
    while (PQisBusy(m_conn)) {
      if (!Await(true, false) || !PQconsumeInput(m_conn)) {
        PQclear(kept);
        if (m_conn) Fail(Trimmed(PQerrorMessage(m_conn)));
        return PgResult(nullptr);
      }
    }
    pg_result* next = PQgetResult(m_conn);
    if (!next) break;
    const ExecStatusType status = PQresultStatus(next);
    if (kept && PQresultStatus(kept) == PGRES_FATAL_ERROR) {
      PQclear(next);
    } else {
      PQclear(kept);
      kept = next;
    }
    if (status == PGRES_COPY_IN || status == PGRES_COPY_OUT || status == PGRES_COPY_BOTH) break;
  }
  return PgResult(kept);
}

PgResult PgConnection::Send(const char* sql,
                            const std::vector<std::optional<QByteArray>>* parameters,
                            const std::vector<bool>& binary) {
  if (!m_conn) {
    Fail(QStringLiteral("not connected"));
    return PgResult(nullptr);
  }
  int sent = 0;
  if (parameters) {
    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats;
    for (size_t i = 0; i < parameters->size(); ++i) {
      const std::optional<QByteArray>& parameter = (*parameters)[i];
      values.push_back(parameter ? parameter->constData() : nullptr);
      lengths.push_back(parameter ? int(parameter->size()) : 0);
      formats.push_back(i < binary.size() && binary[i] ? 1 : 0);
    }
    sent = PQsendQueryParams(m_conn, sql, int(values.size()), nullptr, values.data(),
                             lengths.data(), formats.data(), 0);
  } else {
    // The simple protocol: a schema file holds many statements.
    sent = PQsendQuery(m_conn, sql);
  }
  if (!sent) {
    Fail(Trimmed(PQerrorMessage(m_conn)));
    return PgResult(nullptr);
  }
  if (!Flush()) return PgResult(nullptr);
  return Collect();
}

PgResult PgConnection::Exec(const char* sql) { return Send(sql, nullptr); }

PgResult PgConnection::Exec(const char* sql,
                            const std::vector<std::optional<QByteArray>>& parameters) {
  return Send(sql, &parameters);
}

PgResult PgConnection::Exec(const char* sql,
                            const std::vector<std::optional<QByteArray>>& parameters,
                            const std::vector<bool>& binary) {
  return Send(sql, &parameters, binary);
}

bool PgConnection::Check(const PgResult& result) {
  if (result.Ok()) return true;
  // A result-less failure keeps the reason Send or a wait gave.
  QString text = result.Error();
  if (text.isEmpty() && m_conn) text = Trimmed(PQerrorMessage(m_conn));
  if (!text.isEmpty()) {
    m_error = text;
    m_errorState = result.ErrorState();
  }
  if (m_error.isEmpty()) m_error = QStringLiteral("the store did not answer");
  return false;
}

bool PgConnection::Run(const char* sql) { return Check(Exec(sql)); }

bool PgConnection::Run(const char* sql, const std::vector<std::optional<QByteArray>>& parameters) {
  return Check(Exec(sql, parameters));
}

std::optional<qint64> PgConnection::CopyIn(const char* sql, const QByteArray& data) {
  const PgResult start = Exec(sql);
  if (!start.CopyInReady()) {
    Check(start);
    return std::nullopt;
  }
  // Handed over in pieces, each sent before the next: libpq's own buffer would otherwise grow
  // to the whole batch. A piece refused (the server ended the copy with an error) ends in
  // the result's error, which says why.
  constexpr qsizetype kPiece = qsizetype{256} * 1024;
  bool refused = false;
  for (qsizetype at = 0; at < data.size() && !refused;) {
    const qsizetype piece = std::min(kPiece, data.size() - at);
    const int queued =
        PQputCopyData(m_conn, QByteArrayView(data).sliced(at, piece).data(), int(piece));
    if (queued < 0) refused = true;
    if (queued == 1) at += piece;
    if (!Flush()) return std::nullopt;
  }
  while (!refused) {
    const int queued = PQputCopyEnd(m_conn, nullptr);
    if (queued < 0) refused = true;
    if (!Flush()) return std::nullopt;
    if (queued == 1) break;
  }
  const PgResult end = Collect();
  if (!Check(end)) return std::nullopt;
  return end.AffectedRows();
}

}  // namespace vorlan::store
