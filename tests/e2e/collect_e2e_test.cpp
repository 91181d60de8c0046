// vorlan-collect as a process against the PBX simulator over loopback: whatever happens to the
// link, the log folder holds every record the exchange counts as delivered, in order.
#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <memory>
#include <optional>

#include "hex.h"
#include "logging/log_cleanup.h"
#include "logging/record_log.h"
#include "support/test_platform.h"
#include "support/sim_process.h"

namespace vorlan {
namespace {

using namespace std::chrono_literals;

class CollectorProcess {
 public:
  // `brokenStderr`: as in `vorlan-collect ... 2>&1 | head -c 0`, a pipe that no one reads.
  explicit CollectorProcess(const QStringList& arguments, bool brokenStderr = false) {
    QObject::connect(&m_process, &QProcess::readyReadStandardError,
                     [this] { m_output += m_process.readAllStandardError(); });
    if (brokenStderr) {
      m_process.setProcessChannelMode(QProcess::MergedChannels);
      m_process.setStandardOutputProcess(&m_head);
      m_head.start("head", {"-c", "0"});
    }
    m_process.start(QStringLiteral(VORLAN_COLLECT_PATH), arguments);
  }
  ~CollectorProcess() {
    m_process.kill();
    m_process.waitForFinished(3000);
  }
  void Signal(int number) { ::kill(pid_t(m_process.processId()), number); }
  bool Finished() const { return m_process.state() == QProcess::NotRunning; }
  int ExitCode() const {
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
  }
  const QByteArray& Output() const { return m_output; }
  int Lines(const char* text) const { return int(m_output.count(text)); }
  // The pauses announced before each reconnect, in seconds.
  std::vector<double> Pauses() const {
    std::vector<double> pauses;
    static const QRegularExpression pause(QStringLiteral("reconnecting in ([0-9.]+) s"));
    for (auto it = pause.globalMatch(QString::fromUtf8(m_output)); it.hasNext();) {
      pauses.push_back(it.next().captured(1).toDouble());
    }
    return pauses;
  }

 private:
  QProcess m_head;
  QProcess m_process;
  QByteArray m_output;
};

class CollectEndToEnd : public ::testing::Test {
 protected:
  CollectEndToEnd() {
    m_poll.start(50);  // the conditions below read files: look at them often
  }

  QString Logs() const { return m_dir.filePath("logs"); }
  QString Transcript() const { return m_dir.filePath("transcript.jsonl"); }
  QStringList Arguments(const QString& address) const {
    return {"--host", address, "--device-id", "1", "--logs", Logs()};
  }
  bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 60s) {
    return m_platform.WaitUntil(done, limit);
  }
  // Ends the collector with SIGTERM (or `number`); its exit code, or none when it did not end in
  // time.
  std::optional<int> Terminate(CollectorProcess& collector, int number = SIGTERM) {
    collector.Signal(number);
    if (!WaitFor([&] { return collector.Finished(); }, 20s)) return std::nullopt;
    return collector.ExitCode();
  }
  // The delivered records, in order, and past them at most `unacknowledged` more.
  void ExpectLoggedExactly(const SimProcess& sim, size_t expected, size_t unacknowledged = 0) {
    const std::vector<QByteArray> delivered = sim.Delivered();
    const std::vector<QByteArray> logged = LoggedRecords(Logs());
    EXPECT_EQ(delivered.size(), expected);
    ASSERT_GE(logged.size(), delivered.size());
    ASSERT_LE(logged.size(), delivered.size() + unacknowledged);
    for (size_t i = 0; i < delivered.size(); ++i) {
      ASSERT_EQ(Hex(logged[i]), Hex(AsLogged(delivered[i]))) << "record " << i;
    }
  }
  // After a cut the exchange sends again what it was not told we have, so a record may be
  // logged twice; none may be missing.
  void ExpectLoggedAtLeastOnce(const SimProcess& sim, size_t expected) {
    const std::vector<QByteArray> delivered = sim.Delivered();
    EXPECT_EQ(delivered.size(), expected);
    const size_t found = DeliveredInOrder(LoggedRecords(Logs()), delivered);
    EXPECT_EQ(found, delivered.size()) << "record " << found << " is missing";
  }
  // A long download from the simulator at `address`, under way: at least `delivered` records.
  struct Download {
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<CollectorProcess> collector;
  };
  Download MidDownload(const QString& address, const char* seed, const char* perReply,
                       size_t delivered, bool brokenStderr = false) {
    Download d;
    d.sim = std::make_unique<SimProcess>(
        m_platform, address,
        QStringList{"--seed", seed, "--records", "5000", "--per-reply", perReply, "--device-id", "1"},
        Transcript());
    EXPECT_TRUE(d.sim->Started());
    d.collector = std::make_unique<CollectorProcess>(Arguments(address), brokenStderr);
    EXPECT_TRUE(WaitFor([&] { return d.sim->Delivered().size() >= delivered; }))
        << d.collector->Output().toStdString();
    return d;
  }

  QTemporaryDir m_dir;
  QtTestPlatform m_platform;
  QTimer m_poll;
};

TEST_F(CollectEndToEnd, ConnectsOnceTheExchangeAcceptsWithGrowingPauses) {
  CollectorProcess collector(Arguments("127.0.4.1"));
  ASSERT_TRUE(WaitFor([&] { return collector.Lines("could not connect") >= 3; }, 15s))
      << collector.Output().toStdString();
  SimProcess sim(m_platform, "127.0.4.1", {"--seed", "3", "--records", "40", "--per-reply", "5",
                                           "--high-bytes", "--device-id", "1"},
                 Transcript());
  ASSERT_TRUE(sim.Started());
  ASSERT_TRUE(WaitFor([&] { return sim.Delivered().size() == 40; }))
      << collector.Output().toStdString();
  EXPECT_EQ(Terminate(collector), 0) << collector.Output().toStdString();
  ExpectLoggedExactly(sim, 40);

  // 1 s, 2 s, 4 s, each within its jitter.
  const std::vector<double> pauses = collector.Pauses();
  ASSERT_GE(pauses.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    const double base = double(1 << i);
    EXPECT_GE(pauses[i], 0.8 * base - 0.05) << "pause " << i;
    EXPECT_LE(pauses[i], 1.2 * base + 0.05) << "pause " << i;
  }
}

TEST_F(CollectEndToEnd, ConnectsAgainEachTimeTheExchangeCloses) {
  SimProcess sim(m_platform, "127.0.4.2", {"--seed", "5", "--records", "120", "--per-reply", "4",
                                           "--close-after", "6", "--device-id", "1"},
                 Transcript());
  ASSERT_TRUE(sim.Started());
  CollectorProcess collector(Arguments("127.0.4.2"));
  // The fifth close follows the last reply's acknowledgement: it is waited for, not raced.
  ASSERT_TRUE(WaitFor(
      [&] {
        return sim.Delivered().size() == 120 &&
               collector.Lines("disconnected from 127.0.4.2:60010: closed by the exchange") >= 5;
      },
      90s))
      << collector.Output().toStdString();
  EXPECT_EQ(Terminate(collector), 0) << collector.Output().toStdString();
  ExpectLoggedAtLeastOnce(sim, 120);
  // Every connection carried replies, so every pause is the first one again.
  for (const double pause : collector.Pauses()) EXPECT_LE(pause, 1.25);
}

// The log file cannot take the records (its name is a link to a full device, which is never
// followed): nothing is acknowledged until it can, and then everything arrives.
TEST_F(CollectEndToEnd, AWriteFailureAcknowledgesNothingUntilTheLogTakesTheRecords) {
  ASSERT_TRUE(QDir().mkpath(Logs()));
  QStringList full;
  const QDateTime now = QDateTime::currentDateTime();
  for (int minute = 0; minute < 3; ++minute) {
    const QString name = now.addSecs(60 * minute).toString("MMddhhmm") + ".log";
    full << QDir(Logs()).filePath(name);
    ASSERT_TRUE(QFile::link("/dev/full", full.back()));
  }
  SimProcess sim(m_platform, "127.0.4.3",
                 {"--seed", "9", "--records", "30", "--per-reply", "5", "--device-id", "1"},
                 Transcript());
  ASSERT_TRUE(sim.Started());
  CollectorProcess collector(Arguments("127.0.4.3"));
  ASSERT_TRUE(WaitFor([&] { return collector.Lines("it is a symbolic link") >= 1; }))
      << collector.Output().toStdString();
  EXPECT_TRUE(sim.Delivered().empty());
  for (const QString& link : full) QFile::remove(link);
  ASSERT_TRUE(WaitFor([&] { return sim.Delivered().size() == 30; }))
      << collector.Output().toStdString();
  EXPECT_EQ(Terminate(collector), 0) << collector.Output().toStdString();
  ExpectLoggedAtLeastOnce(sim, 30);
}

// SIGTERM in the middle of a download: the reply in flight is logged and acknowledged, the
// disconnect request goes out, and the program ends with 0.
TEST_F(CollectEndToEnd, SigtermStopsTheDownloadAndDisconnects) {
  const Download download = MidDownload("127.0.4.4", "13", "2", 20);
  SimProcess& sim = *download.sim;
  CollectorProcess& collector = *download.collector;
  EXPECT_EQ(Terminate(collector), 0) << collector.Output().toStdString();
  EXPECT_TRUE(WaitFor([&] { return sim.Tail().find("disconnect requested") != std::string::npos; },
                      2s))
      << sim.Tail();
  const size_t delivered = sim.Delivered().size();
  EXPECT_LT(delivered, 5000u);
  ExpectLoggedExactly(sim, delivered);
}

// A hang-up stops it as SIGTERM does, and standard error into a closed pipe changes nothing.
TEST_F(CollectEndToEnd, SighupStopsItEvenWithStandardErrorIntoAClosedPipe) {
  const Download download = MidDownload("127.0.4.7", "19", "2", 20, true);
  EXPECT_EQ(Terminate(*download.collector, SIGHUP), 0);
  EXPECT_TRUE(WaitFor(
      [&] { return download.sim->Tail().find("disconnect requested") != std::string::npos; }, 2s));
  ExpectLoggedExactly(*download.sim, download.sim->Delivered().size());
}

// kill -9 in the middle of a download: what was acknowledged is in the log; past it at most the
// one reply that was written but not yet acknowledged.
TEST_F(CollectEndToEnd, KilledNothingAcknowledgedIsMissing) {
  const Download download = MidDownload("127.0.4.5", "17", "3", 30);
  download.collector->Signal(SIGKILL);
  ASSERT_TRUE(WaitFor([&] { return download.collector->Finished(); }, 5s));
  WaitFor([] { return false; }, 300ms);  // the simulator records what reached it
  ExpectLoggedExactly(*download.sim, download.sim->Delivered().size(), 3);
}

// Splits CSV text into rows of fields (RFC 4180 quoting).
std::vector<std::vector<QByteArray>> ParseCsv(const QByteArray& text) {
  std::vector<std::vector<QByteArray>> rows(1, std::vector<QByteArray>(1));
  bool quoted = false;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        rows.back().back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        rows.back().back() += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      rows.back().emplace_back();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      rows.emplace_back(1);
      ++i;
    } else {
      rows.back().back() += c;
    }
  }
  if (rows.back().size() == 1 && rows.back()[0].isEmpty()) rows.pop_back();
  return rows;
}

// From the simulator through the collector's log file to vorlan-export's CSV: one row per
// record, field by field, judged as the collector judged it, and the log file left as it was.
TEST_F(CollectEndToEnd, ExportedCsvCarriesEveryLoggedRecord) {
  SimProcess sim(m_platform, "127.0.4.6",
                 {"--seed", "23", "--records", "60", "--per-reply", "6", "--high-bytes",
                  "--long-share", "0.3", "--long-seconds", "90", "--device-id", "1"},
                 Transcript());
  ASSERT_TRUE(sim.Started());
  CollectorProcess collector(Arguments("127.0.4.6") << "--max-time" << "90");
  ASSERT_TRUE(WaitFor([&] { return sim.Delivered().size() == 60; }))
      << collector.Output().toStdString();
  EXPECT_EQ(Terminate(collector), 0);
  const QStringList files = QDir(Logs()).entryList({"*.log"}, QDir::Files, QDir::Name);
  ASSERT_FALSE(files.isEmpty());
  QStringList paths;
  QByteArray before;
  for (const QString& name : files) {
    paths << QDir(Logs()).filePath(name);
    QFile file(paths.back());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    before += file.readAll();
  }

  QProcess exporter;
  exporter.start(QStringLiteral(VORLAN_EXPORT_PATH), QStringList{"--max-time", "90"} + paths);
  ASSERT_TRUE(exporter.waitForFinished(20000));
  EXPECT_EQ(exporter.exitCode(), 0) << exporter.readAllStandardError().toStdString();
  const auto rows = ParseCsv(exporter.readAllStandardOutput());
  const std::vector<QByteArray> delivered = sim.Delivered();
  ASSERT_EQ(rows.size(), delivered.size() + 1);
  EXPECT_EQ(rows[0].size(), 10u);
  int flagged = 0;
  for (size_t i = 0; i < delivered.size(); ++i) {
    const std::vector<QByteArray>& row = rows[i + 1];
    ASSERT_EQ(row.size(), 10u) << "row " << i;
    const QByteArray record = AsLogged(delivered[i]);
    EXPECT_EQ(row[9], record.toHex().toUpper()) << "row " << i;
    EXPECT_EQ(row[4], QString::fromLatin1(record.mid(3, 2)).toUtf8()) << "row " << i;
    EXPECT_EQ(row[2], row[3]) << "row " << i << ": flagged now as the collector marked it";
    const QDateTime start = QDateTime::fromString(QString::fromLatin1(row[5]), Qt::ISODate);
    const QDateTime end = QDateTime::fromString(QString::fromLatin1(row[6]), Qt::ISODate);
    ASSERT_TRUE(start.isValid() && end.isValid()) << "row " << i;
    EXPECT_EQ(QByteArray::number(start.secsTo(end)), row[7]) << "row " << i;
    EXPECT_EQ(row[2] == "1", start.secsTo(end) > 90) << "row " << i;
    EXPECT_TRUE(row[8].contains(";6:")) << "row " << i;
    flagged += row[2] == "1";
  }
  EXPECT_GT(flagged, 0) << "some calls ran over the maximum";
  QByteArray after;
  for (const QString& path : paths) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    after += file.readAll();
  }
  EXPECT_EQ(after, before) << "exporting only reads the log files";
}

TEST_F(CollectEndToEnd, ExitCodesForBadArgumentsAndAnUnusableLogFolder) {
  struct Row {
    const char* name;
    QStringList arguments;
    int exitCode;
  };
  const Row rows[] = {
      {"no host", {"--logs", Logs()}, 2},
      {"unknown option", {"--host", "127.0.0.1", "--colour"}, 2},
      {"device ID of two characters", {"--host", "127.0.0.1", "--device-id", "12"}, 2},
      {"maximum that is no number", {"--host", "127.0.0.1", "--max-time", "1e3"}, 2},
      {"value missing", {"--host"}, 2},
      {"log folder under a device", {"--host", "127.0.0.1", "--logs", "/dev/null/logs"}, 1},
      {"help", {"--help"}, 0},
  };
  for (const Row& row : rows) {
    CollectorProcess collector(row.arguments);
    ASSERT_TRUE(WaitFor([&] { return collector.Finished(); }, 10s)) << row.name;
    EXPECT_EQ(collector.ExitCode(), row.exitCode)
        << row.name << ": " << collector.Output().toStdString();
  }
}

}  // namespace
}  // namespace vorlan

namespace vorlan {
namespace {

// The folder under a running collector: the window's clean-up, run beside it, leaves its open
// empty file alone; the folder deleted whole comes back with the next reply, and every record
// acknowledged after the deletion is in it, in order.
TEST_F(CollectEndToEnd, LogFolderCleanedUpAndDeletedUnderItLosesNothingAcknowledged) {
  SimProcess sim(m_platform, "127.0.4.8",
                 {"--seed", "5", "--records", "0", "--new-every", "2500", "--device-id", "1"},
                 Transcript());
  ASSERT_TRUE(sim.Started());
  CollectorProcess collector(Arguments("127.0.4.8"));
  ASSERT_TRUE(WaitFor([&] { return collector.Lines("log file opened") > 0; }));
  const logging::RecordLog none;
  const logging::CleanUpResult cleaned = logging::CleanUpEmptyLogs(Logs(), none, [] {});
  EXPECT_EQ(cleaned.deleted, 0);
  EXPECT_EQ(cleaned.skippedInUse, 1);
  ASSERT_TRUE(WaitFor([&] { return sim.Delivered().size() >= 2; }));
  ASSERT_TRUE(QDir(Logs()).removeRecursively());
  const size_t before = sim.Delivered().size();
  ASSERT_TRUE(WaitFor([&] { return sim.Delivered().size() >= before + 2; }));
  ASSERT_EQ(Terminate(collector), 0);
  const std::vector<QByteArray> delivered = sim.Delivered();
  const std::vector<QByteArray> logged = LoggedRecords(Logs());
  ASSERT_GE(logged.size(), delivered.size() - before);
  ASSERT_LE(logged.size(), delivered.size());
  for (size_t i = 0; i < logged.size(); ++i) {
    EXPECT_EQ(Hex(logged[i]), Hex(AsLogged(delivered[delivered.size() - logged.size() + i])));
  }
}

}  // namespace
}  // namespace vorlan
