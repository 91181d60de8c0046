#include "store/pg_connection.h"

#include <libpq-fe.h>

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

QString PgResult::Error() const { return Trimmed(PQresultErrorMessage(m_result.get())); }

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
  m_conn = PQconnectdbParams(keywords, values, 1);
  // The server's notices (a table that already exists) are for a person at psql.
  if (PQstatus(m_conn) == CONNECTION_OK) return Run("SET client_min_messages = warning");
  m_error = Trimmed(PQerrorMessage(m_conn));
  Close();
  return false;
}

void PgConnection::Close() {
  if (m_conn) PQfinish(m_conn);
  m_conn = nullptr;
}

bool PgConnection::IsOpen() const { return m_conn && PQstatus(m_conn) == CONNECTION_OK; }

PgResult PgConnection::Exec(const char* sql) { return PgResult(PQexec(m_conn, sql)); }

PgResult PgConnection::Exec(const char* sql,
                            const std::vector<std::optional<QByteArray>>& parameters) {
  std::vector<const char*> values;
  values.reserve(parameters.size());
  for (const std::optional<QByteArray>& parameter : parameters) {
    values.push_back(parameter ? parameter->constData() : nullptr);
  }
  return PgResult(
      PQexecParams(m_conn, sql, int(values.size()), nullptr, values.data(), nullptr, nullptr, 0));
}

bool PgConnection::Check(const PgResult& result) {
  if (result.Ok()) return true;
  m_error = result.Error();
  if (m_error.isEmpty()) m_error = Trimmed(PQerrorMessage(m_conn));
  return false;
}

bool PgConnection::Run(const char* sql) { return Check(Exec(sql)); }

bool PgConnection::Run(const char* sql, const std::vector<std::optional<QByteArray>>& parameters) {
  return Check(Exec(sql, parameters));
}

bool PgConnection::CopyIn(const char* sql, const QByteArray& data) {
  const PgResult start(PQexec(m_conn, sql));
  if (!start.CopyInReady()) return Check(start);
  // A failed send still ends in PQgetResult's error, which says why.
  if (PQputCopyData(m_conn, data.constData(), int(data.size())) == 1) {
    PQputCopyEnd(m_conn, nullptr);
  }
  bool ok = true;
  while (pg_result* result = PQgetResult(m_conn)) {
    ok = Check(PgResult(result)) && ok;
  }
  return ok;
}

}  // namespace vorlan::store
