#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace vorlan::store {

class PgConnection;

// The newest schema version this program knows (the highest numbered file in sql/).
int KnownSchemaVersion();

// Brings the database's schema up to this program's version, in one transaction under an
// advisory lock, so that two programs starting at once do not both upgrade. A database with a
// newer schema than this program knows is refused. Nothing on success, else what went wrong.
std::optional<QString> EnsureSchema(PgConnection& connection);

// Moves the rows of the schema before months into their months, in batches of their own
// transactions (an interrupted move goes on at the next call), and removes the old table
// when it is empty. Needs the owner's rights when there is anything to move. `moved`, when
// given, counts the rows moved. Nothing on success, else what went wrong.
std::optional<QString> MoveOldCalls(PgConnection& connection, qint64* moved = nullptr);

// A month whose calls were dropped, and how many they were.
struct DroppedMonth {
  QString month;  // yyyy-MM
  qint64 calls = 0;
};

// Drops the calls of the months before `before` (yyyy-MM) whole, with their hourly figures, in
// one transaction. The current month and the one before are refused, as is a role that is not
// the owner. Nothing on failure, with `error` set.
std::optional<std::vector<DroppedMonth>> DropMonthsBefore(PgConnection& connection,
                                                          const QString& before, QString& error);

// Gives `role` what a collector of `exchange` needs and no more: to read and add that
// exchange's calls and positions (row-level security keeps it from every other exchange's),
// and nothing of the schema. Run by the database's owner; more exchanges may be given.
// Nothing on success, else why it failed.
std::optional<QString> GrantCollector(PgConnection& connection, const QByteArray& role,
                                      const QByteArray& exchange);

}  // namespace vorlan::store
