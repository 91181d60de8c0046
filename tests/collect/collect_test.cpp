#include <gtest/gtest.h>

#include <QDir>

#include <cstdio>
#include <cstring>
#include <functional>

#include "session/session.h"
#include "collect/collector.h"
#include "collect/event_log.h"
#include "collect/options.h"
#include "hex.h"
#include "collect/reconnect_delay.h"
#include "platform/settings_store.h"
#include "support/fake_exchange.h"
#include "support/virtual_platform.h"

#include <QFile>
#include <QTemporaryDir>

namespace vorlan::collect {
namespace {

struct ArgumentCase {
  const char* name;
  QStringList arguments;
  const char* error;  // nullptr: accepted
  const char* host = "";
  const char* deviceId = "0";
  const char* maxTime = "120";
  const char* logs = "/default/logs";
  bool quiet = false;
};

const ArgumentCase kArguments[] = {
    {"HostOnly", {"--host", "pbx.example"}, nullptr, "pbx.example"},
    {"EveryOption",
     {"--host", "10.0.0.9", "--device-id", "3", "--max-time", "600", "--logs", "/srv/calls",
      "--quiet"},
     nullptr, "10.0.0.9", "3", "600", "/srv/calls", true},
    {"EqualsForm", {"--host=10.0.0.9", "--logs=/srv/x/../calls"}, nullptr, "10.0.0.9", "0", "120",
     "/srv/calls"},
    {"HostMissing", {"--device-id", "1"}, "--host is missing"},
    {"ValueMissing", {"--host"}, "Missing value after '--host'"},
    {"UnknownOption", {"--host", "a", "--port", "1"}, "Unknown option 'port'"},
    {"LastOneCounts", {"--host", "a", "-q", "--host=b"}, nullptr, "b", "0", "120", "/default/logs",
     true},
    {"AfterDoubleDash", {"--host", "a", "--", "--quiet"}, "unknown argument \"--quiet\""},
    {"DeviceIdTooLong", {"--host", "a", "--device-id", "12"}, "--device-id needs one character"},
    {"DeviceIdBlank", {"--host", "a", "--device-id", " "}, "--device-id needs one character"},
    {"MaxTimeNotWhole", {"--host", "a", "--max-time", "1.5"}, "--max-time needs a whole number"},
    {"MaxTimeNegative", {"--host", "a", "--max-time", "-1"}, "--max-time needs a whole number"},
    {"QuietWithValue", {"--host", "a", "--quiet=yes"}, "Unexpected value after '--quiet'"},
};

class Arguments : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(Arguments, AreReadOrRefusedWithAReason) {
  const ArgumentCase& c = GetParam();
  const ParsedArguments parsed = ParseArguments(c.arguments, "/default/logs");
  if (c.error) {
    EXPECT_FALSE(parsed.options);
    EXPECT_TRUE(parsed.error.startsWith(c.error)) << parsed.error.toStdString();
    return;
  }
  ASSERT_TRUE(parsed.options) << parsed.error.toStdString();
  EXPECT_EQ(parsed.options->host, c.host);
  EXPECT_EQ(parsed.options->deviceId, c.deviceId);
  EXPECT_EQ(parsed.options->maxTime, c.maxTime);
  EXPECT_EQ(parsed.options->logsFolder, QDir::cleanPath(QDir(c.logs).absolutePath()));
  EXPECT_EQ(parsed.options->quiet, c.quiet);
}

INSTANTIATE_TEST_SUITE_P(CommandLine, Arguments, ::testing::ValuesIn(kArguments),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ReconnectDelay, DoublesFromOneSecondToAMinuteWithinItsJitter) {
  struct Row {
    int failures;
    double random;
    long long ms;
  };
  const Row rows[] = {
      {0, 0.5, 1000},  {1, 0.5, 2000},  {5, 0.5, 32000}, {6, 0.5, 60000},
      {40, 0.5, 60000}, {0, 0.0, 800},  {0, 1.0, 1200},  {6, 1.0, 72000},
      {2, -3.0, 3200},  // out-of-range randomness is clamped
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ReconnectDelay(row.failures, row.random).count(), row.ms)
        << row.failures << " failures, random " << row.random;
  }
}

TEST(EventLog, OneStampedLinePerEventAndQuietKeepsOnlyErrors) {
  VirtualPlatform platform(QDateTime(QDate(2026, 3, 5), QTime(14, 37, 20, 5)));
  for (const bool quiet : {false, true}) {
    char buffer[512] = {};
    std::FILE* out = fmemopen(buffer, sizeof buffer - 1, "w");
    ASSERT_NE(out, nullptr);
    EventLog log(platform, out, quiet);
    log.Info("connected to a:60010");
    log.Warning("disconnected");
    log.Error("Connection rejected...\r\nNumber 10061");
    std::fclose(out);
    const std::string expected =
        std::string(quiet ? ""
                          : "2026-03-05 14:37:20.005 INFO  connected to a:60010\n"
                            "2026-03-05 14:37:20.005 WARN  disconnected\n") +
        "2026-03-05 14:37:20.005 ERROR Connection rejected...; Number 10061\n";
    EXPECT_EQ(std::string(buffer), expected) << "quiet " << quiet;
  }
}

// The hourly switch stops the download and waits for the exchange to confirm it. The collector
// must not press DownLoad inside that wait (it would cancel the stop): the switch completes at
// once, each record lands in its hour's file, and the download runs on.
TEST(Collector, LeavesTheHourlySwitchToTheWindowsHandlers) {
  using namespace std::chrono_literals;
  QTemporaryDir dir;
  VirtualPlatform virtualTime(QDateTime(QDate(2026, 3, 5), QTime(14, 59, 58)));
  Platform& platform = virtualTime;
  char buffer[8192] = {};
  std::FILE* out = fmemopen(buffer, sizeof buffer - 1, "w");
  EventLog log(platform, out, false);
  Options options;
  options.host = "127.0.0.1";
  options.logsFolder = dir.filePath("logs");
  ASSERT_TRUE(QDir().mkpath(options.logsFolder));
  session::Session session(platform, options.logsFolder, CollectorSessionOptions());
  Collector running(session, platform, log, options, [] { return 0.5; });
  FakeExchange exchange(virtualTime, *virtualTime.SocketAt(0), "0");
  // No lamps in the collector: the second answer comes during the switch's wait for the stop.
  exchange.delay = 1200ms;
  exchange.QueueReply('B', "\x02" "ONE\x03");
  exchange.QueueReply('C', "\x02" "TWO\x03");
  exchange.QueueReply('D', "\x02" "THREE\x03");

  running.Start();
  virtualTime.RunFor(1ms);
  virtualTime.SocketAt(0)->PeerAccept();
  virtualTime.RunFor(6s);
  std::fclose(out);

  const auto read = [&](const char* name) {
    QFile file(QDir(options.logsFolder).filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
  };
  EXPECT_EQ(Hex(read("03051459.log")), Hex("\x02" "ONE\x03\r\n\x02" "TWO\x03\r\n"));
  EXPECT_EQ(Hex(read("03051500.log")), Hex("\x02" "THREE\x03\r\n")) << buffer;
  EXPECT_EQ(exchange.Acks(), 3);
  EXPECT_EQ(session.DownloadState(), session::Session::Download::Running)
      << "the download runs on";
  EXPECT_EQ(virtualTime.Stalls(), 0);
}

// Whatever the exchange does, a stop ends within kStopDeadline with 0; the event log says what
// ended each attempt, and an attempt that wrote no record leaves no log file behind.
TEST(Collector, StopsInTimeSaysWhatHappenedAndLeavesNoEmptyLogFile) {
  using namespace std::chrono_literals;
  enum Peer { Answers, Silent, Trickles, Refuses, ClosesAtOnce };  // Trickles inside a record
  const struct Row {
    Peer peer;
    QTime start;
    std::chrono::milliseconds stopAt;
    const char *said, *notSaid;
    qsizetype logFiles;
  } rows[] = {
      {Answers, QTime(10, 0), 5s, "stopped; 1 records", "closing", 1},
      {Silent, QTime(10, 0), 2s, "closing the connection", "sending it again", 0},
      {Silent, QTime(10, 59, 50), 2s, "closing the connection", "sending it again", 0},
      {Trickles, QTime(10, 0), 1500ms, "closing the connection", "did not close", 0},
      {Refuses, QTime(10, 0), 180s,
       "127.0.0.1:60010: Connection rejected...; Check that the exchange's SMDR port is enabled",
       "log file opened", 0},
      {ClosesAtOnce, QTime(10, 0), 180s, "closed the connection as soon as it accepted it",
       "log file could not be opened", 0},
  };
  for (const Row& row : rows) {
    QTemporaryDir dir;
    VirtualPlatform virtualTime(QDateTime(QDate(2026, 3, 5), row.start));
    // The collector and its session wait in states, never in an event loop of their own.
    virtualTime.ForbidPumpWhile([] { return true; });
    Platform& platform = virtualTime;
    char buffer[16384] = {};
    std::FILE* out = fmemopen(buffer, sizeof buffer - 1, "w");
    EventLog log(platform, out, false);
    Options options;
    options.host = "127.0.0.1";
    options.logsFolder = dir.filePath("logs");
    ASSERT_TRUE(QDir().mkpath(options.logsFolder));
    session::Session session(platform, options.logsFolder, CollectorSessionOptions());
    Collector running(session, platform, log, options, [] { return 0.5; });
    VirtualSocket& peer = *virtualTime.SocketAt(0);
    FakeExchange exchange(virtualTime, peer, "0");
    exchange.silent = row.peer != Answers;
    exchange.QueueReply('B', "\x02" "ONE\x03");
    QObject::connect(&peer, &VirtualSocket::Sending, [&](const QByteArray& bytes) {
      if (row.peer != Trickles || bytes.size() < 2 || bytes[1] != '1') return;
      peer.PeerSend("\x16" "20000100B\x02" "AB");
      for (int i = 1; i <= 60; ++i) virtualTime.At(i * 1s, [&] { peer.PeerSend("x"); });
    });
    std::function<void()> watch = [&] {
      if (peer.State() == Socket::sckConnecting) {
        row.peer == Refuses ? peer.PeerRefuse(10061) : peer.PeerAccept();
      }
      if (row.peer == ClosesAtOnce) peer.PeerClose();
      virtualTime.At(100ms, watch);
    };
    std::chrono::milliseconds stopped{}, finished = 24h;  // until it ends with 0
    QObject::connect(&running, &Collector::Finished,
                     [&](int code) { finished = code == kCleanStop ? virtualTime.Elapsed() : 1h; });
    virtualTime.At(row.stopAt, [&] {  // inside whatever handler waits then, as a signal comes
      stopped = virtualTime.Elapsed();
      running.RequestStop("SIGTERM");
    });
    watch();
    running.Start();
    virtualTime.RunFor(row.stopAt + 30s);
    std::fclose(out);
    EXPECT_LE(finished - stopped, kStopDeadline + 100ms) << buffer;
    EXPECT_NE(std::strstr(buffer, row.said), nullptr) << buffer;
    EXPECT_EQ(std::strstr(buffer, row.notSaid), nullptr) << buffer;
    EXPECT_EQ(QDir(options.logsFolder).entryList({"*.log"}, QDir::Files).size(), row.logFiles)
        << buffer;
    EXPECT_EQ(virtualTime.NestedPumps(), 0) << "an event loop ran inside a handler";
  }
}

}  // namespace
}  // namespace vorlan::collect
