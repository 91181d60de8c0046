#include <gtest/gtest.h>

#include <QDir>

#include <cstdio>

#include "app/form_main.h"
#include "collect/collector.h"
#include "collect/event_log.h"
#include "collect/options.h"
#include "hex.h"
#include "collect/reconnect_delay.h"
#include "collect/wait_counting_platform.h"
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
    {"ValueMissing", {"--host"}, "--host needs a value"},
    {"UnknownOption", {"--host", "a", "--port", "1"}, "unknown argument \"--port\""},
    {"DeviceIdTooLong", {"--host", "a", "--device-id", "12"}, "--device-id needs one character"},
    {"DeviceIdBlank", {"--host", "a", "--device-id", " "}, "--device-id needs one character"},
    {"MaxTimeNotWhole", {"--host", "a", "--max-time", "1.5"}, "--max-time needs a whole number"},
    {"MaxTimeNegative", {"--host", "a", "--max-time", "-1"}, "--max-time needs a whole number"},
    {"QuietWithValue", {"--host", "a", "--quiet=yes"}, "--quiet takes no value"},
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
  WaitCountingPlatform platform(virtualTime);
  char buffer[8192] = {};
  std::FILE* out = fmemopen(buffer, sizeof buffer - 1, "w");
  EventLog log(platform, out, false);
  SettingsStore settings = SettingsStore::InMemory();
  Collector* collector = nullptr;
  MessageLines dialogs([&](const QString& text, Dialogs::Icon icon, const QString& title) {
    collector->Message(text, icon, title);
  });
  Options options;
  options.host = "127.0.0.1";
  options.logsFolder = dir.filePath("logs");
  ASSERT_TRUE(QDir().mkpath(options.logsFolder));
  FormMain form({platform, settings, dialogs, dir.path(), nullptr, options.logsFolder});
  Collector running(form, platform, log, options, [] { return 0.5; });
  collector = &running;
  FakeExchange exchange(virtualTime, *virtualTime.SocketAt(0), "0");
  exchange.delay = 900ms;  // the answer to the request sent at the switch comes during its wait
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
  EXPECT_TRUE(form.CmdStop.Enabled()) << "the download runs on";
  EXPECT_EQ(virtualTime.Stalls(), 0);
}

}  // namespace
}  // namespace vorlan::collect
