#include "store/schema.h"

#include "store/migrations.h"
#include "store/pg_connection.h"

namespace vorlan::store {

int KnownSchemaVersion() { return Migrations().empty() ? 0 : Migrations().back().version; }

std::optional<QString> EnsureSchema(PgConnection& connection) {
  auto failed = [&connection](const QString& what) {
    QString error = what + ": " + connection.Error();
    connection.Run("ROLLBACK");
    return error;
  };
  if (!connection.Run("BEGIN")) return failed(QStringLiteral("cannot start the schema check"));
  if (!connection.Run("SELECT pg_advisory_xact_lock(hashtext('vorlan schema'))")) {
    return failed(QStringLiteral("cannot lock the schema"));
  }
  // Looked up first: a collector's role may use the tables but not create any.
  const PgResult exists = connection.Exec("SELECT to_regclass('schema_version') IS NOT NULL");
  if (!connection.Check(exists)) return failed(QStringLiteral("cannot read the schema version"));
  if (exists.Value(0, 0) != "t" &&
      !connection.Run("CREATE TABLE schema_version (version integer PRIMARY KEY,"
                      " applied_at timestamptz NOT NULL DEFAULT now())")) {
    return failed(QStringLiteral("cannot create the schema"));
  }
  const PgResult current = connection.Exec("SELECT coalesce(max(version), 0) FROM schema_version");
  if (!current.Ok()) return failed(QStringLiteral("cannot read the schema version"));
  const int version = current.Value(0, 0).toInt();
  if (version > KnownSchemaVersion()) {
    connection.Run("ROLLBACK");
    return QStringLiteral(
               "the database's schema is version %1, newer than this program knows (%2): "
               "use a newer program")
        .arg(version)
        .arg(KnownSchemaVersion());
  }
  for (const Migration& migration : Migrations()) {
    if (migration.version <= version) continue;
    if (!connection.Run(migration.sql) ||
        !connection.Run("INSERT INTO schema_version (version) VALUES ($1)",
                        {QByteArray::number(migration.version)})) {
      return failed(QStringLiteral("cannot upgrade the schema to version %1 (%2)")
                        .arg(migration.version)
                        .arg(QString::fromLatin1(migration.name)));
    }
  }
  if (!connection.Run("COMMIT")) return failed(QStringLiteral("cannot commit the schema"));
  return std::nullopt;
}

std::optional<QString> MoveOldCalls(PgConnection& connection, qint64* moved) {
  constexpr int kBatch = 20000;
  const auto left = [&connection]() -> std::optional<bool> {
    const PgResult result = connection.Exec("SELECT to_regclass('calls_unmoved') IS NOT NULL");
    if (!connection.Check(result)) return std::nullopt;
    return result.Value(0, 0) == "t";
  };
  std::optional<bool> any = left();
  if (!any) return connection.Error();
  if (!*any) return std::nullopt;
  // One mover at a time; the others wait for it, as they must not load meanwhile.
  if (!connection.Run("SELECT pg_advisory_lock(hashtext('vorlan move'))")) {
    return connection.Error();
  }
  std::optional<QString> error;
  while ((any = left()) && *any) {
    const PgResult result = connection.Exec("SELECT move_unmoved_calls($1)",
                                            {QByteArray::number(kBatch)});
    if (!connection.Check(result)) {
      error = QStringLiteral(
                  "the calls stored before months are being moved into their months, which "
                  "needs the database's owner (vorlan-load --upgrade-schema): %1")
                  .arg(connection.Error());
      break;
    }
    const qint64 count = result.Value(0, 0).toLongLong();
    if (moved) *moved += count;
    if (count == 0 && (!connection.Run("BEGIN") ||
                       !connection.Run("DROP FUNCTION move_unmoved_calls(integer)") ||
                       !connection.Run("DROP TABLE calls_unmoved") || !connection.Run("COMMIT"))) {
      error = connection.Error();
      connection.Run("ROLLBACK");
      break;
    }
  }
  if (!error && !any) error = connection.Error();
  connection.Run("SELECT pg_advisory_unlock(hashtext('vorlan move'))");
  return error;
}

std::optional<std::vector<DroppedMonth>> DropMonthsBefore(PgConnection& connection,
                                                          const QString& before, QString& error) {
  const PgResult result = connection.Exec(
      "SELECT to_char(month, 'YYYY-MM'), calls FROM drop_calls_before(to_date($1, 'YYYY-MM'))",
      {before.toUtf8()});
  if (!connection.Check(result)) {
    error = connection.Error();
    return std::nullopt;
  }
  std::vector<DroppedMonth> dropped;
  dropped.reserve(size_t(result.Rows()));
  for (int row = 0; row < result.Rows(); ++row) {
    dropped.push_back({QString::fromUtf8(result.Value(row, 0)), result.Value(row, 1).toLongLong()});
  }
  return dropped;
}

std::optional<QString> GrantCollector(PgConnection& connection, const QByteArray& role,
                                      const QByteArray& exchange) {
  // The statements with the role's name quoted by the server.
  const PgResult statements = connection.Exec(
      "SELECT format('GRANT CONNECT, TEMPORARY ON DATABASE %1$I TO %2$I;"
      " GRANT USAGE ON SCHEMA %3$I TO %2$I;"
      " GRANT SELECT, INSERT ON calls TO %2$I;"
      " GRANT UPDATE (line_key, journal) ON calls TO %2$I;"
      " GRANT SELECT, INSERT, UPDATE ON store_positions TO %2$I;"
      " GRANT USAGE ON SEQUENCE call_ids TO %2$I;"
      " GRANT SELECT, INSERT, UPDATE ON calls_hourly TO %2$I;"
      " GRANT SELECT ON schema_version TO %2$I',"
      " current_database(), $1::text, current_schema())"
      " FROM pg_roles WHERE rolname = $1",
      {role});
  if (!connection.Check(statements)) return connection.Error();
  if (statements.Rows() != 1) {
    return QStringLiteral("there is no role %1: create it first (CREATE ROLE ... LOGIN)")
        .arg(QString::fromUtf8(role));
  }
  if (!connection.Run("BEGIN") || !connection.Run(statements.Value(0, 0).constData()) ||
      !connection.Run("INSERT INTO collector_exchanges VALUES ($1, $2) ON CONFLICT DO NOTHING",
                      {role, exchange}) ||
      !connection.Run("COMMIT")) {
    QString error = connection.Error();
    connection.Run("ROLLBACK");
    return error;
  }
  return std::nullopt;
}

}  // namespace vorlan::store
