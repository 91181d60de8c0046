// vorlan-collect started from a configuration file, with the PBX simulator and a PostgreSQL
// server of the test's own, scraped over HTTP while it downloads, while clients misuse the
// endpoint, across a cut link and a stopped store: its figures agree with the log files and the
// table, and promtool takes its text.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

#include "support/test_platform.h"
#include "store/pg_connection.h"
#include "support/pg_server.h"
#include "support/sim_process.h"

namespace vorlan {
namespace {

using namespace std::chrono_literals;

constexpr int kFirst = 300;  // records of the first simulator
constexpr int kSecond = 60;  // of the one that comes back while the store is down
const char* const kExchange = "127.0.5.1";

// What the collector's resident memory may grow by while clients misuse the endpoint: less
// than the 16 MiB they send. Under the sanitizers, whose allocator keeps freed blocks aside and
// whose shadow memory grows with the download itself, only a runaway is caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr qint64 kResidentGrowthKiB = 64 * 1024;
#else
constexpr qint64 kResidentGrowthKiB = 8 * 1024;
#endif

// The collector's resident memory in KiB, from the kernel's view of it.
qint64 ResidentKiB(qint64 pid) {
  QFile status(QStringLiteral("/proc/%1/status").arg(pid));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  const QRegularExpression rss(QStringLiteral(R"(VmRSS:\s+(\d+) kB)"));
  const auto match = rss.match(QString::fromLatin1(status.readAll()));
  return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

class MetricsEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    m_poll.start(50);
    ASSERT_TRUE(PgServer::Shared().Ok()) << PgServer::Shared().Error().toStdString();
    ASSERT_TRUE(m_db.Open(PgServer::Shared().Conninfo())) << m_db.Error().toStdString();
    QObject::connect(&m_collector, &QProcess::readyReadStandardError,
                     [this] { m_output += m_collector.readAllStandardError(); });
  }
  void TearDown() override {
    m_collector.kill();
    m_collector.waitForFinished(5000);
  }
  bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 60s) {
    return m_platform.WaitUntil(done, limit);
  }
  std::unique_ptr<SimProcess> Sim(int records, const char* seed) {
    auto sim = std::make_unique<SimProcess>(
        m_platform, kExchange,
        QStringList{"--records", QString::number(records), "--per-reply", "2", "--split", "2",
                    "--pause", "20", "--seed", seed, "--long-share", "0.2", "--long-seconds",
                    "90"},
        m_dir.filePath(QStringLiteral("sim-%1.jsonl").arg(seed)));
    EXPECT_TRUE(sim->Started());
    return sim;
  }
  // One scrape with curl; empty when it failed.
  QByteArray Scrape(const QString& path = "/metrics", const QStringList& more = {}) {
    QProcess curl;
    curl.start("curl", QStringList{"-sf", "-m", "5",
                                   QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path)} +
                           more);
    curl.waitForFinished(10000);
    return curl.exitCode() == 0 ? curl.readAllStandardOutput() : QByteArray();
  }
  // The value of `name`{exchange="north"`labels`} in the latest scrape; -1 when it is not there.
  double Value(const char* name, const QString& labels = {}) {
    m_scrape = Scrape();
    const QString line = QStringLiteral("%1{exchange=\"north\"%2} ").arg(name, labels);
    const qsizetype at = QString::fromLatin1(m_scrape).indexOf("\n" + line);
    if (at < 0) return -1;
    const qsizetype from = at + 1 + line.size();
    return m_scrape.mid(from, m_scrape.indexOf('\n', from) - from).toDouble();
  }
  bool WaitForValue(const char* name, const std::function<bool(double)>& holds,
                    std::chrono::milliseconds limit, const QString& labels = {}) {
    return WaitFor([&] { return holds(Value(name, labels)); }, limit);
  }
  qint64 Rows() {
    const store::PgResult result =
        m_db.Exec("SELECT count(*) FROM calls WHERE exchange = 'north'", {});
    return result.Ok() && result.Rows() == 1 ? result.Value(0, 0).toLongLong() : -1;
  }
  qsizetype FlaggedLines() const {
    qsizetype flagged = 0;
    QDir logs(m_dir.filePath("logs"));
    for (const QString& name : logs.entryList({"*.log"}, QDir::Files)) {
      QFile file(logs.filePath(name));
      if (file.open(QIODevice::ReadOnly)) flagged += file.readAll().count("<BAD>:");
    }
    return flagged;
  }
  std::string Context() const {
    return "scrape:\n" + m_scrape.toStdString() + "collector:\n" + m_output.right(6000).toStdString();
  }

  QTemporaryDir m_dir;
  QtTestPlatform m_platform;
  QTimer m_poll;
  store::PgConnection m_db;
  QProcess m_collector;
  QByteArray m_output;
  QByteArray m_scrape;
  int m_port = 0;
};

TEST_F(MetricsEndToEnd, FiguresFollowDownloadCutLinkAndStoppedStore) {
  const QString config = m_dir.filePath("north.conf");
  {
    QFile file(config);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("# the test's exchange\nhost = %1\n"
                              "# the command line's 0 wins\ndevice-id = 3\n"
                              "exchange = north\nlogs = logs\nmax-time = 90\n"
                              "store = %2\nmetrics = 127.0.0.1:0\n")
                   .arg(kExchange, QString::fromUtf8(PgServer::Shared().Conninfo()))
                   .toUtf8());
  }
  auto sim = Sim(kFirst, "1");
  m_collector.start(QStringLiteral(VORLAN_COLLECT_PATH), {"--config", config, "--device-id", "0"});
  static const QRegularExpression kListening(QStringLiteral("metrics at http://127.0.0.1:(\\d+)/"));
  ASSERT_TRUE(WaitFor([&] {
    const auto match = kListening.match(QString::fromUtf8(m_output));
    m_port = match.hasMatch() ? match.captured(1).toInt() : 0;
    return m_port > 0;
  }, 30s)) << Context();

  // During the download: linked, running, and a text that promtool accepts.
  ASSERT_TRUE(WaitForValue("vorlan_records_logged_total", [](double n) { return n > 20; }, 60s))
      << Context();
  EXPECT_EQ(Value("vorlan_link_up"), 1) << Context();
  EXPECT_EQ(Value("vorlan_download_running"), 1) << Context();
  {
    QProcess promtool;
    promtool.start("promtool", {"check", "metrics"});
    promtool.write(m_scrape);
    promtool.closeWriteChannel();
    ASSERT_TRUE(promtool.waitForFinished(30000));
    EXPECT_EQ(promtool.exitCode(), 0) << promtool.readAll().toStdString() << Context();
  }

  // Clients that never send, and one that sends megabytes, while records come: the download
  // goes on and the collector's memory stays where it was.
  const qint64 residentBefore = ResidentKiB(m_collector.processId());
  const double loggedBefore = Value("vorlan_records_logged_total");
  std::vector<std::unique_ptr<QTcpSocket>> idle;
  for (int i = 0; i < 30; ++i) {
    idle.push_back(std::make_unique<QTcpSocket>());
    idle.back()->connectToHost(QHostAddress::LocalHost, quint16(m_port));
  }
  QTcpSocket flood;
  flood.connectToHost(QHostAddress::LocalHost, quint16(m_port));
  ASSERT_TRUE(flood.waitForConnected(5000));
  const QByteArray chunk("GET /metrics HTTP/1.1\r\nX: " + QByteArray(1 << 20, 'x'));
  for (int i = 0; i < 16 && flood.state() == QAbstractSocket::ConnectedState; ++i) {
    flood.write(chunk);
    flood.waitForBytesWritten(2000);
  }
  EXPECT_TRUE(WaitFor([&] {
    const std::vector<QByteArray> logged = LoggedRecords(m_dir.filePath("logs"));
    return double(logged.size()) > loggedBefore + 20 || logged.size() == size_t(kFirst);
  }, 20s)) << "the download stalled\n" << Context();
  const qint64 residentAfter = ResidentKiB(m_collector.processId());
  EXPECT_LT(residentAfter - residentBefore, kResidentGrowthKiB)
      << residentBefore << " KiB before, " << residentAfter << " KiB after";
  std::printf("collector resident: %lld KiB, after 30 idle clients and 16 MiB sent: %lld KiB\n",
              residentBefore, residentAfter);
  idle.clear();
  flood.abort();

  // All delivered: the figures are the log's.
  ASSERT_TRUE(WaitFor([&] { return sim->Delivered().size() == size_t(kFirst); }, 120s))
      << Context();
  ASSERT_TRUE(WaitForValue("vorlan_records_logged_total", [](double n) { return n == kFirst; }, 10s))
      << Context();
  EXPECT_EQ(LoggedRecords(m_dir.filePath("logs")).size(), size_t(kFirst));
  EXPECT_GT(FlaggedLines(), 0);
  EXPECT_EQ(Value("vorlan_records_flagged_total"), double(FlaggedLines())) << Context();
  EXPECT_GT(Value("vorlan_last_record_timestamp_seconds"), double(QDateTime::currentSecsSinceEpoch() - 60));

  // The link cut: down within seconds, and the attempts that follow are refused.
  sim.reset();
  const auto cut = std::chrono::steady_clock::now();
  ASSERT_TRUE(WaitForValue("vorlan_link_up", [](double up) { return up == 0; }, 30s)) << Context();
  EXPECT_LT(std::chrono::steady_clock::now() - cut, 5s);
  EXPECT_EQ(Value("vorlan_download_running"), 0);
  EXPECT_TRUE(WaitForValue("vorlan_connect_failures_total", [](double n) { return n >= 1; }, 30s,
                           ",reason=\"refused\"")) << Context();
  EXPECT_GE(Value("vorlan_connect_attempts_total"), 2);

  // The store stopped while the exchange comes back: not reachable, and behind.
  ASSERT_TRUE(WaitFor([&] { return Rows() == kFirst; }, 60s)) << Rows() << " rows\n" << Context();
  ASSERT_TRUE(PgServer::Shared().Stop());
  sim = Sim(kSecond, "2");
  ASSERT_TRUE(WaitFor([&] { return sim->Delivered().size() == size_t(kSecond); }, 120s))
      << Context();
  EXPECT_TRUE(WaitForValue("vorlan_store_up", [](double up) { return up == 0; }, 30s)) << Context();
  EXPECT_TRUE(WaitForValue("vorlan_store_backlog_bytes", [](double b) { return b > 0; }, 60s))
      << Context();
  EXPECT_GT(Value("vorlan_store_backlog_age_seconds"), 0);

  // Back: reachable, the backlog to zero, every logged record in the table and counted.
  ASSERT_TRUE(PgServer::Shared().Start());
  EXPECT_TRUE(WaitForValue("vorlan_store_up", [](double up) { return up == 1; }, 60s)) << Context();
  EXPECT_TRUE(WaitForValue("vorlan_store_backlog_bytes", [](double b) { return b == 0; }, 120s))
      << Context();
  EXPECT_EQ(Value("vorlan_store_backlog_age_seconds"), 0);
  ASSERT_TRUE(m_db.Open(PgServer::Shared().Conninfo())) << m_db.Error().toStdString();
  EXPECT_EQ(Rows(), kFirst + kSecond);
  EXPECT_EQ(Value("vorlan_store_rows_loaded_total"), double(Rows())) << Context();
  EXPECT_EQ(Value("vorlan_records_logged_total"), double(kFirst + kSecond));

  // Only GET /metrics has content.
  EXPECT_TRUE(Scrape("/").isEmpty());
  EXPECT_TRUE(Scrape("/metrics", {"-X", "POST"}).isEmpty());
  EXPECT_TRUE(Scrape("/metrics/../etc").isEmpty());

  // A second collector on the same port does not start, and says why.
  QProcess second;
  second.setProcessChannelMode(QProcess::MergedChannels);
  second.start(QStringLiteral(VORLAN_COLLECT_PATH),
               {"--config", config, "--metrics", QStringLiteral("127.0.0.1:%1").arg(m_port),
                "--logs", m_dir.filePath("second")});
  ASSERT_TRUE(second.waitForFinished(30000));
  const QByteArray said = second.readAll();
  EXPECT_EQ(second.exitCode(), 1) << said.toStdString();
  EXPECT_TRUE(said.contains("cannot listen on 127.0.0.1:" + QByteArray::number(m_port) +
                            " for metrics: the port is taken"))
      << said.toStdString();

  // A password in the file is refused where it stands.
  QFile file(m_dir.filePath("password.conf"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("host = a\nstore = host=db password=secret\n");
  file.close();
  second.start(QStringLiteral(VORLAN_COLLECT_PATH), {"--config", file.fileName()});
  ASSERT_TRUE(second.waitForFinished(30000));
  EXPECT_EQ(second.exitCode(), 2);
  EXPECT_TRUE(second.readAll().contains(file.fileName().toUtf8() + ":2: no password"));
}

}  // namespace
}  // namespace vorlan
