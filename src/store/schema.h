#pragma once

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

}  // namespace vorlan::store
