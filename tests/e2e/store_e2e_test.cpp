// vorlan-collect --store against the PBX simulator and a PostgreSQL server of the test's own:
// whatever happens to the store or the collector, the table ends up holding exactly the
// distinct records of each exchange's log files.
#include <gtest/gtest.h>

#include <QScopeGuard>

#include <QProcess>
#include <QTemporaryDir>
#include <QDateTime>
#include <QTimer>

#include <csignal>

#include <memory>
#include <set>

#include "platform/qt_platform.h"
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
  ServerFrozen
};

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
  // The table holds the distinct records of the exchange's log files, all that it delivered.
  void ExpectConverged(const SimProcess& sim, const char* exchange, const Collector& collector) {
    ASSERT_TRUE(WaitFor([&] { return sim.Delivered().size() == size_t(kRecords); }))
        << sim.Delivered().size() << " delivered\n" << collector.Output() << sim.Tail();
    ASSERT_TRUE(m_db.Open(PgServer::Shared().Conninfo())) << m_db.Error().toStdString();  // after restarts
    EXPECT_TRUE(WaitFor([&] { return Rows(exchange) == kRecords; }, 30s))
        << Rows(exchange) << " rows\n" << collector.Output();
    std::set<QByteArray> rows;
    std::set<QByteArray> logged;
    const store::PgResult result = m_db.Exec(
        "SELECT encode(record, 'hex') FROM calls WHERE exchange = $1", {QByteArray(exchange)});
    for (int row = 0; row < result.Rows(); ++row) rows.insert(result.Value(row, 0));
    for (const QByteArray& record : LoggedRecords(Logs(exchange))) logged.insert(record.toHex());
    EXPECT_EQ(logged.size(), size_t(kRecords));
    EXPECT_TRUE(rows == logged) << rows.size() << " rows, " << logged.size() << " logged";
  }

  QTemporaryDir m_dir;
  QtPlatform m_platform;
  QTimer m_poll;
  store::PgConnection m_db;
};

TEST_P(StoreEndToEnd, TableHoldsTheDistinctLoggedRecords) {
  const Fault fault = GetParam().fault;
  const QString north = QString("%1.%2").arg(GetParam().network).arg(GetParam().host);
  const QString south = QString("%1.%2").arg(GetParam().network).arg(GetParam().host + 1);
  // Every connection is cut after its 12th data reply, before the acknowledgement is read: the
  // exchange sends that reply again on the next.
  auto sim = Sim(north, fault == Fault::RepliesSentAgain ? QStringList{"--close-before-ack", "12"}
                                                         : QStringList{});
  ASSERT_TRUE(fault != Fault::DownAtStart || PgServer::Shared().Stop());
  auto collector = Collect(north, "north");
  const auto midway = [&] { return sim->Delivered().size() >= 60 && Rows("north") >= 40; };

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
      collector = Collect(north, "north");
      break;
    }
    case Fault::TwoExchanges: {
      // The second exchange's link is cut inside replies, which it then sends again.
      auto other = Sim(south, {"--seed", "9", "--close-in-record", "0.1"});
      auto second = Collect(south, "south");
      ExpectConverged(*other, "south", *second);
      break;
    }
    case Fault::RepliesSentAgain: break;
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
      collector = Collect(north, "north");
      break;
    }
  }
  ExpectConverged(*sim, "north", *collector);
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
                             Case{"ServerFrozen", Fault::ServerFrozen, "127.0.215", 3}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vorlan
