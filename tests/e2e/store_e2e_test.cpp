// vorlan-collect --store against the PBX simulator and a PostgreSQL server of the test's own:
// whatever happens to the store, the collector or its log files, the table ends up holding
// every record line of each exchange's log files, once.
#include <gtest/gtest.h>

#include <QScopeGuard>

#include <QProcess>
#include <QTemporaryDir>
#include <QDateTime>
#include <QDir>
#include <QTimer>

#include <csignal>

#include <memory>
#include <algorithm>
#include <iterator>
#include <set>

#include "call_records.h"
#include "logging/log_reader.h"
#include "support/test_platform.h"
#include "store/pg_connection.h"
#include "support/pg_server.h"
#include "support/sim_process.h"

namespace vorlan {
namespace {

using namespace std::chrono_literals;

class Collector {
 public:
  explicit Collector(const QStringList& arguments) {
    m_process.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    QObject::connect(&m_process, &QProcess::readyReadStandardError,
                     [this] { m_output += m_process.readAllStandardError(); });
    m_process.start(QStringLiteral(VORLAN_COLLECT_PATH), arguments);
  }
  ~Collector() { Kill(); }
  void Kill() {  // SIGKILL: nothing of the collector runs after it
    if (m_process.state() == QProcess::NotRunning) return;
    m_process.kill();
    m_process.waitForFinished(5000);
  }
  std::string Output() const {
    const bool ended = m_process.state() == QProcess::NotRunning;
    return m_output.toStdString() + (ended ? "(ended: " + m_process.errorString().toStdString() + ")\n" : "");
  }
  qsizetype Count(const char* text) const { return m_output.count(text); }
  // SIGTERM, the service manager's stop. How long the collector took to end after its last
  // line, which says the link has stopped (that stop waits for the exchange); -1 when it did
  // not end within `limit`.
  qint64 Terminate(std::chrono::milliseconds limit) {
    m_process.terminate();
    if (!m_process.waitForFinished(int(limit.count()))) return -1;
    const QDateTime ended = QDateTime::currentDateTime();
    m_output += m_process.readAllStandardError();
    const qsizetype line = m_output.lastIndexOf("\n", m_output.lastIndexOf("stopped;")) + 1;
    const QDateTime stopped =
        QDateTime::fromString(QString::fromLatin1(m_output.mid(line, 23)), "yyyy-MM-dd HH:mm:ss.zzz");
    return stopped.isValid() ? stopped.msecsTo(ended) : -1;
  }

 private:
  QProcess m_process;
  QByteArray m_output;
};

enum class Fault {
  DownAtStart,
  StoppedHard,
  KilledBeforeCommit,
  TwoExchanges,
  RepliesSentAgain,
  ServerFrozen,
  FileMadeAgain,  // the log file removed while the store is away, made again and grown past
  LongLine,       // a file with 5 MiB that is no record between records
  BareLfLines,    // a file of over 4 MiB of lines ended by LF alone, then records
  StoreRefuses    // the store refuses rows for a while (a constraint)
};

// Every record line of the log files, as hex; `extra` adds lines of other files.
std::multiset<QByteArray> LoggedLines(const QString& folder) {
  std::multiset<QByteArray> lines;
  QDir logs(folder);
  for (const QString& name : logs.entryList({"*.log"}, QDir::Files)) {
    QFile file(logs.filePath(name));
    if (!file.open(QIODevice::ReadOnly)) continue;
    for (const auto& record : logging::ReadLog(file.readAll()).records) {
      lines.insert(record.record.toHex());
    }
  }
  return lines;
}

// A file of records of its own in the folder: 100 records, `middle`, 100 records.
void WriteForeignLog(const QString& path, const QByteArray& middle) {
  QByteArray bytes;
  for (int i = 0; i < 200; ++i) {
    if (i == 100) bytes += middle;
    const QByteArray stamp = QByteArray("2024011508") + QByteArray::number(1000 + i);
    bytes += records::Record("AB", records::Times(stamp, stamp)) + "\r\n";
  }
  QFile file(path);
  EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

struct Case {
  const char* name;
  Fault fault;
  const char* network;  // cases run side by side: each has exchanges of its own,
  int host;             // network.host and up
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

constexpr int kRecords = 400;

class StoreEndToEnd : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    m_poll.start(50);
    ASSERT_TRUE(PgServer::Shared().Ok()) << PgServer::Shared().Error().toStdString();
    ASSERT_TRUE(m_db.Open(PgServer::Shared().Conninfo())) << m_db.Error().toStdString();
  }
  bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 60s) {
    return m_platform.WaitUntil(done, limit);
  }
  QString Logs(const char* exchange) const { return m_dir.filePath(exchange); }
  std::unique_ptr<SimProcess> Sim(const QString& address, QStringList options) {
    // Each data reply in two pieces 50 ms apart: the download lasts seconds, not a blink, so the
    // faults below strike while records still come.
    options << "--records" << QString::number(kRecords) << "--per-reply" << "8" << "--split" << "2"
            << "--pause" << "50";
    auto sim = std::make_unique<SimProcess>(m_platform, address, options,
                                            m_dir.filePath(address + ".jsonl"));
    EXPECT_TRUE(sim->Started());
    return sim;
  }
  std::unique_ptr<Collector> Collect(const QString& address, const char* exchange) {
    return std::make_unique<Collector>(QStringList{"--host", address, "--logs", Logs(exchange),
                                                   "--exchange", exchange, "--store",
                                                   QString::fromUtf8(PgServer::Shared().Conninfo())});
  }
  qint64 Count(const char* sql, const std::vector<std::optional<QByteArray>>& parameters = {}) {
    const store::PgResult result = m_db.Exec(sql, parameters);
    return result.Ok() && result.Rows() == 1 ? result.Value(0, 0).toLongLong() : -1;
  }
  qint64 Rows(const char* exchange) {
    return Count("SELECT count(*) FROM calls WHERE exchange = $1", {exchange});
  }
  std::multiset<QByteArray> TableLines(const char* exchange) {
    std::multiset<QByteArray> rows;
    const store::PgResult result = m_db.Exec(
        "SELECT encode(record, 'hex') FROM calls WHERE exchange = $1", {QByteArray(exchange)});
    for (int row = 0; row < result.Rows(); ++row) rows.insert(result.Value(row, 0));
    return rows;
  }
  // The table holds every record line of the exchange's log files once, and all the exchange
  // delivered was logged; beyond them only lines of `removed`, a log file removed since.
  void ExpectConverged(const SimProcess& sim, const char* exchange, const Collector& collector,
                       const std::multiset<QByteArray>& removed = {}) {
    ASSERT_TRUE(WaitFor([&] { return sim.Delivered().size() == size_t(kRecords); }))
        << sim.Delivered().size() << " delivered\n" << collector.Output() << sim.Tail();
    ASSERT_TRUE(m_db.Open(PgServer::Shared().Conninfo())) << m_db.Error().toStdString();  // after restarts
    const std::multiset<QByteArray> logged = LoggedLines(Logs(exchange));
    std::multiset<QByteArray> rows;
    std::multiset<QByteArray> missing;
    WaitFor([&] {
      rows = TableLines(exchange);
      missing.clear();
      std::set_difference(logged.begin(), logged.end(), rows.begin(), rows.end(),
                          std::inserter(missing, missing.end()));
      return missing.empty();
    }, 30s);
    EXPECT_TRUE(missing.empty()) << missing.size() << " logged lines not in the table\n"
                                 << collector.Output();
    std::multiset<QByteArray> beyond;
    std::set_difference(rows.begin(), rows.end(), logged.begin(), logged.end(),
                        std::inserter(beyond, beyond.end()));
    std::multiset<QByteArray> unexplained;
    std::set_difference(beyond.begin(), beyond.end(), removed.begin(), removed.end(),
                        std::inserter(unexplained, unexplained.end()));
    EXPECT_TRUE(unexplained.empty()) << unexplained.size() << " rows of no logged line";
    for (const QByteArray& record : sim.Delivered()) {
      EXPECT_TRUE(logged.contains(AsLogged(record).toHex()) || removed.contains(AsLogged(record).toHex()));
    }
    EXPECT_EQ(collector.Count("Failing row"), 0) << collector.Output();
    // The hourly figures count every stored call with a start once.
    EXPECT_EQ(Count("SELECT count(*) FROM (SELECT date_trunc('hour', started_at) AS hour,"
                    " count(*) AS n, count(*) FILTER (WHERE marked_bad) AS f,"
                    " sum(talk_seconds)::bigint AS t, max(talk_seconds) AS l FROM calls"
                    " WHERE exchange = $1 AND started_at IS NOT NULL GROUP BY 1) c"
                    " FULL JOIN (SELECT hour, sum(calls)::bigint AS n, sum(flagged)::bigint AS f,"
                    " sum(total_talk_seconds)::bigint AS t, max(longest_talk_seconds) AS l"
                    " FROM calls_hourly WHERE exchange = $1 GROUP BY 1) h USING (hour)"
                    " WHERE (c.n, c.f, c.t, c.l) IS DISTINCT FROM (h.n, h.f, h.t, h.l)",
                    {QByteArray(exchange)}),
              0);
    EXPECT_GT(Count("SELECT sum(calls) FROM calls_hourly WHERE exchange = $1",
                    {QByteArray(exchange)}),
              0);
  }

  QTemporaryDir m_dir;
  QtTestPlatform m_platform;
  QTimer m_poll;
  store::PgConnection m_db;
};

TEST_P(StoreEndToEnd, TableHoldsEveryLoggedLineOnce) {
  const Fault fault = GetParam().fault;
  // Exchanges of the case's own, so that cases run in one process keep apart.
  const QByteArray northNameBytes = QByteArray("north_") + GetParam().name;
  const QByteArray southNameBytes = QByteArray("south_") + GetParam().name;
  const char* northName = northNameBytes.constData();
  const char* southName = southNameBytes.constData();
  const QString north = QString("%1.%2").arg(GetParam().network).arg(GetParam().host);
  const QString south = QString("%1.%2").arg(GetParam().network).arg(GetParam().host + 1);
  // Every connection is cut after its 12th data reply, before the acknowledgement is read: the
  // exchange sends that reply again on the next.
  auto sim = Sim(north, fault == Fault::RepliesSentAgain ? QStringList{"--close-before-ack", "12"}
                                                         : QStringList{});
  ASSERT_TRUE(fault != Fault::DownAtStart || PgServer::Shared().Stop());
  auto collector = Collect(north, northName);
  const auto midway = [&] { return sim->Delivered().size() >= 60 && Rows(northName) >= 40; };
  std::multiset<QByteArray> removed;

  switch (fault) {
    case Fault::DownAtStart:
      ASSERT_TRUE(WaitFor([&] { return sim->Delivered().size() >= 100; }));
      ASSERT_TRUE(PgServer::Shared().Start()) << PgServer::Shared().Error().toStdString();
      break;
    case Fault::StoppedHard: {
      ASSERT_TRUE(WaitFor(midway)) << collector->Output();
      ASSERT_TRUE(PgServer::Shared().Stop());
      const size_t stoppedAt = sim->Delivered().size();
      ASSERT_TRUE(WaitFor([&] { return sim->Delivered().size() >= stoppedAt + 60; }));
      ASSERT_TRUE(PgServer::Shared().Start()) << PgServer::Shared().Error().toStdString();
      break;
    }
    case Fault::KilledBeforeCommit: {
      ASSERT_TRUE(WaitFor(midway)) << collector->Output();
      // The forwarder's next position write waits for this lock, after its rows went in.
      store::PgConnection holder;
      ASSERT_TRUE(holder.Open(PgServer::Shared().Conninfo()));
      ASSERT_TRUE(holder.Run("BEGIN"));
      ASSERT_TRUE(holder.Run("LOCK TABLE store_positions IN SHARE MODE"));
      ASSERT_TRUE(WaitFor([&] {
        return Count("SELECT count(*) FROM pg_stat_activity WHERE application_name ="
                     " 'vorlan-collect' AND wait_event_type = 'Lock'") == 1;
      }));
      collector->Kill();
      ASSERT_TRUE(holder.Run("ROLLBACK"));
      collector = Collect(north, northName);
      break;
    }
    case Fault::TwoExchanges: {
      // The second exchange's link is cut inside replies, which it then sends again.
      auto other = Sim(south, {"--seed", "9", "--close-in-record", "0.1"});
      auto second = Collect(south, southName);
      ExpectConverged(*other, southName, *second);
      break;
    }
    case Fault::RepliesSentAgain: break;
    case Fault::FileMadeAgain: {
      ASSERT_TRUE(WaitFor(midway)) << collector->Output();
      ASSERT_TRUE(PgServer::Shared().Stop());
      const size_t stoppedAt = sim->Delivered().size();
      ASSERT_TRUE(WaitFor([&] { return sim->Delivered().size() >= stoppedAt + 8; }));
      const QStringList files = QDir(Logs(northName)).entryList({"*.log"}, QDir::Files, QDir::Name);
      ASSERT_FALSE(files.isEmpty());
      const QString path = QDir(Logs(northName)).filePath(files.back());
      // Read after the removal, through a descriptor opened before it: a reply may still be
      // written to the old file up to the moment it goes.
      QFile old(path);
      ASSERT_TRUE(old.open(QIODevice::ReadOnly));
      ASSERT_TRUE(QFile::remove(path));
      for (const auto& record : logging::ReadLog(old.readAll()).records) removed.insert(record.record.toHex());
      const qint64 size = old.size();
      // Made again by the collector's next write, and grown past the position of the old one.
      ASSERT_TRUE(WaitFor([&] { return QFileInfo(path).size() > size; })) << collector->Output();
      ASSERT_TRUE(PgServer::Shared().Start()) << PgServer::Shared().Error().toStdString();
      break;
    }
    case Fault::LongLine:
      ASSERT_TRUE(WaitFor([&] { return QDir(Logs(northName)).exists(); }));
      WriteForeignLog(QDir(Logs(northName)).filePath("01010000.log"),
                      QByteArray(5 * 1024 * 1024, 'x') + "\r\n");
      break;
    case Fault::BareLfLines:
      ASSERT_TRUE(WaitFor([&] { return QDir(Logs(northName)).exists(); }));
      WriteForeignLog(QDir(Logs(northName)).filePath("01010000.log"),
                      QByteArray("a line ended by LF alone\n").repeated(200000));
      break;
    case Fault::StoreRefuses: {
      ASSERT_TRUE(WaitFor(midway)) << collector->Output();
      ASSERT_TRUE(m_db.Run("ALTER TABLE calls ADD CONSTRAINT refused CHECK (false) NOT VALID"));
      const size_t refusedAt = sim->Delivered().size();
      ASSERT_TRUE(WaitFor([&] { return sim->Delivered().size() >= refusedAt + 24; }));
      m_platform.WaitUntil([] { return false; }, 6s);
      // Tried again after 1, 2, 4 s, not at once; said once, without the row.
      EXPECT_EQ(collector->Count("the store refused the rows"), 1) << collector->Output();
      EXPECT_LE(collector->Count("connected to the store"), 2) << collector->Output();
      ASSERT_TRUE(m_db.Run("ALTER TABLE calls DROP CONSTRAINT refused"));
      break;
    }
    case Fault::ServerFrozen: {
      ASSERT_TRUE(WaitFor(midway)) << collector->Output();
      // The server stops answering with the forwarder's connection open; records keep coming,
      // so the forwarder is inside a statement that gets no answer when the stop comes.
      ASSERT_TRUE(PgServer::Shared().Signal(SIGSTOP));
      // Never left stopped, whatever fails below: the server outlives this process.
      const auto thaw = qScopeGuard([] { PgServer::Shared().Signal(SIGCONT); });
      const size_t frozenAt = sim->Delivered().size();
      ASSERT_TRUE(WaitFor([&] { return sim->Delivered().size() >= frozenAt + 24; }));
      const qint64 took = collector->Terminate(30s);
      EXPECT_TRUE(took >= 0 && took < 2000) << took << " ms\n" << collector->Output();
      collector = Collect(north, northName);
      break;
    }
  }
  ExpectConverged(*sim, northName, *collector, removed);
  if (fault == Fault::DownAtStart || fault == Fault::StoppedHard) {
    // Said once, not at every retry.
    EXPECT_EQ(collector->Count("cannot reach the store"), 1) << collector->Output();
    EXPECT_GE(collector->Count("connected to the store"), 1) << collector->Output();
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, StoreEndToEnd,
                         ::testing::Values(
                             Case{"DownAtStart", Fault::DownAtStart, "127.0.213", 1},
                             Case{"StoppedHard", Fault::StoppedHard, "127.0.213", 3},
                             Case{"KilledBeforeCommit", Fault::KilledBeforeCommit, "127.0.213", 5},
                             Case{"TwoExchanges", Fault::TwoExchanges, "127.0.213", 7},
                             Case{"RepliesSentAgain", Fault::RepliesSentAgain, "127.0.215", 1},
                             Case{"ServerFrozen", Fault::ServerFrozen, "127.0.215", 3},
                             Case{"FileMadeAgain", Fault::FileMadeAgain, "127.0.215", 5},
                             Case{"LongLine", Fault::LongLine, "127.0.215", 7},
                             Case{"BareLfLines", Fault::BareLfLines, "127.0.217", 1},
                             Case{"StoreRefuses", Fault::StoreRefuses, "127.0.217", 3}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vorlan
