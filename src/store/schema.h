#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace vorlan::store {

class PgConnection;

// The newest schema version this program knows (the highest numbered file in sql/).
int KnownSchemaVersion();

// Brings the database's schema up to this program's version, in one transaction under an
// advisory lock, so that two programs starting at once do not both upgrade. A database with a
// newer schema than this program knows is refused. Nothing on success, else what went wrong.
std::optional<QString> EnsureSchema(PgConnection& connection);

// Gives `role` what a collector of `exchange` needs and no more: to read and add that
// exchange's calls and positions (row-level security keeps it from every other exchange's),
// and nothing of the schema. Run by the database's owner; more exchanges may be given.
// Nothing on success, else why it failed.
std::optional<QString> GrantCollector(PgConnection& connection, const QByteArray& role,
                                      const QByteArray& exchange);

}  // namespace vorlan::store
