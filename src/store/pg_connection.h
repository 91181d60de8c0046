#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

struct pg_conn;
struct pg_result;

// One libpq connection, used by one thread. Every call reports failure by its result; the
// text of the last failure is Error().
namespace vorlan::store {

class PgResult {
 public:
  explicit PgResult(pg_result* result) : m_result(result, &Clear) {}
  bool Ok() const;  // a command or query that succeeded
  bool CopyInReady() const;
  int Rows() const;
  QByteArray Value(int row, int column) const;
  bool IsNull(int row, int column) const;
  qint64 AffectedRows() const;  // of INSERT, UPDATE, DELETE
  QString Error() const;

 private:
  static void Clear(pg_result* result);
  std::unique_ptr<pg_result, void (*)(pg_result*)> m_result;
};

class PgConnection {
 public:
  PgConnection() = default;
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;
  ~PgConnection();

  // Connects with a connection string or URI as psql takes it; passwords come from where
  // libpq finds them (~/.pgpass, PGPASSFILE, the service file).
  bool Open(const QByteArray& conninfo);
  // Whether the text can be used as a connection string: nothing when it can, else why not
  // (a password in it is refused: it would show in the process list).
  static std::optional<QString> CheckConninfo(const QByteArray& conninfo);
  void Close();
  bool IsOpen() const;

  PgResult Exec(const char* sql);
  PgResult Exec(const char* sql, const std::vector<std::optional<QByteArray>>& parameters);
  // COPY ... FROM STDIN with the data in COPY's text format.
  bool CopyIn(const char* sql, const QByteArray& data);

  // Runs the command and keeps its error text; false when it failed.
  bool Run(const char* sql);
  bool Run(const char* sql, const std::vector<std::optional<QByteArray>>& parameters);

  // Keeps the result's error text; false when it failed.
  bool Check(const PgResult& result);

  QString Error() const { return m_error; }

 private:
  pg_conn* m_conn = nullptr;
  QString m_error;
};

}  // namespace vorlan::store
