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

std::optional<QString> GrantCollector(PgConnection& connection, const QByteArray& role,
                                      const QByteArray& exchange) {
  // The statements with the role's name quoted by the server.
  const PgResult statements = connection.Exec(
      "SELECT format('GRANT CONNECT, TEMPORARY ON DATABASE %1$I TO %2$I;"
      " GRANT USAGE ON SCHEMA %3$I TO %2$I;"
      " GRANT SELECT, INSERT ON calls TO %2$I;"
      " GRANT UPDATE (line_key, journal) ON calls TO %2$I;"
      " GRANT SELECT, INSERT, UPDATE ON store_positions TO %2$I;"
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
