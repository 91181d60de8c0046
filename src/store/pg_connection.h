#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct pg_conn;
struct pg_result;

// One libpq connection, used by one thread. Every call reports failure by its result; the
// text of the last failure is Error(). The connection never blocks inside libpq: it waits on
// the socket itself, so that a wake-up (the forwarder's stop) ends any wait at once, even for
// a server that no longer answers.
namespace vorlan::store {

class WakeUp;

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
  QByteArray ErrorState() const;  // the SQLSTATE of a failure

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

  // Every wait of this connection ends once `wakeUp` is raised: the call in progress fails
  // and the connection is closed. Set before Open; it must outlive the connection.
  void SetWakeUp(const WakeUp* wakeUp) { m_wakeUp = wakeUp; }
  // Where the server's notices and warnings go (nowhere by default). Set before Open.
  void SetNoticeHandler(std::function<void(const QString&)> handler) {
    m_notice = std::move(handler);
  }

  // Connects with a connection string or URI as psql takes it; passwords come from where
  // libpq finds them (~/.pgpass, PGPASSFILE, the service file). The connection string's
  // connect_timeout bounds the whole attempt (10 s unless it says otherwise).
  bool Open(const QByteArray& conninfo);
  // Whether the text can be used as a connection string: nothing when it can, else why not
  // (a password in it is refused: it would show in the process list).
  static std::optional<QString> CheckConninfo(const QByteArray& conninfo);
  void Close();
  bool IsOpen() const;

  PgResult Exec(const char* sql);
  PgResult Exec(const char* sql, const std::vector<std::optional<QByteArray>>& parameters);
  // With the parameters whose `binary` entry is true in PostgreSQL's binary format.
  PgResult Exec(const char* sql, const std::vector<std::optional<QByteArray>>& parameters,
                const std::vector<bool>& binary);
  // COPY ... FROM STDIN with the data in COPY's text format: the rows copied, nothing on
  // failure.
  std::optional<qint64> CopyIn(const char* sql, const QByteArray& data);

  // Runs the command and keeps its error text; false when it failed.
  bool Run(const char* sql);
  bool Run(const char* sql, const std::vector<std::optional<QByteArray>>& parameters);

  // Keeps the result's error text; false when it failed.
  bool Check(const PgResult& result);

  QString Error() const { return m_error; }
  // A failure met elsewhere (another connection of the same session), told as this one's.
  void SetError(const QString& error) {
    m_error = error;
    m_errorState.clear();
  }
  // The SQLSTATE of the last failure the server reported ("23505": a unique rule), else empty.
  QByteArray ErrorState() const { return m_errorState; }

 private:
  PgResult Send(const char* sql, const std::vector<std::optional<QByteArray>>* parameters,
                const std::vector<bool>& binary = {});
  // The result of the command sent: the first that failed, else the last, as PQexec gives.
  PgResult Collect();
  bool Flush();
  // Waits for the socket; false when woken or out of time, with the connection closed.
  bool Await(bool read, bool write,
             std::chrono::milliseconds limit = std::chrono::milliseconds(-1));
  bool Fail(const QString& why);

  pg_conn* m_conn = nullptr;
  const WakeUp* m_wakeUp = nullptr;
  std::function<void(const QString&)> m_notice;
  QString m_error;
  QByteArray m_errorState;
};

}  // namespace vorlan::store
