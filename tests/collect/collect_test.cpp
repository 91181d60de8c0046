#include <gtest/gtest.h>

#include <QDir>

#include <cstdio>
#include <functional>

#include "app/form_main.h"
#include "collect/collector.h"
#include "collect/event_log.h"
#include "collect/options.h"
#include "hex.h"
#include "logging/record_log.h"
#include "collect/reconnect_delay.h"
#include "collect/wait_counting_platform.h"
#include "platform/settings_store.h"
#include "support/fake_exchange.h"
#include "support/virtual_platform.h"

#include <QFile>
#include <QTemporaryDir>

#include <memory>
#include <optional>

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

// The collector in virtual time over the window's handlers, its event log kept in memory; the
// test plays the exchange on the far end of the window's socket.
struct CollectorRig {
  explicit CollectorRig(const QDateTime& start) : virtualTime(start) {
    options.host = "127.0.0.1";
    options.logsFolder = dir.filePath("logs");
    QDir().mkpath(options.logsFolder);
    form = std::make_unique<FormMain>(
        FormMainServices{platform, settings, dialogs, dir.path(), nullptr, options.logsFolder});
    collector = std::make_unique<Collector>(*form, platform, log, options, [] { return 0.5; });
    QObject::connect(collector.get(), &Collector::Finished, [this](int code) {
      exitCode = code;
      finishedAt = virtualTime.Elapsed();
    });
  }
  ~CollectorRig() {
    collector.reset();
    std::fclose(out);
    std::free(output);  // NOLINT(cppcoreguidelines-no-malloc): open_memstream's buffer
  }
  CollectorRig(const CollectorRig&) = delete;
  CollectorRig& operator=(const CollectorRig&) = delete;

  VirtualSocket& Peer() { return *virtualTime.SocketAt(0); }
  std::string Output() {
    std::fflush(out);
    return {output, outputSize};
  }
  QStringList LogFiles() const { return QDir(options.logsFolder).entryList({"*.log"}, QDir::Files); }

  QTemporaryDir dir;
  VirtualPlatform virtualTime;
  WaitCountingPlatform platform{virtualTime};
  char* output = nullptr;
  size_t outputSize = 0;
  std::FILE* out = open_memstream(&output, &outputSize);
  EventLog log{platform, out, false};
  SettingsStore settings = SettingsStore::InMemory();
  MessageLines dialogs{[this](const QString& text, Dialogs::Icon icon, const QString& title) {
    collector->Message(text, icon, title);
  }};
  Options options;
  std::unique_ptr<FormMain> form;
  std::unique_ptr<Collector> collector;
  std::optional<int> exitCode;
  std::chrono::milliseconds finishedAt{};
};

using namespace std::chrono_literals;

// The hourly switch stops the download and waits for the exchange to confirm it. The collector
// must not press DownLoad inside that wait (it would cancel the stop): the switch completes at
// once, each record lands in its hour's file, and the download runs on.
TEST(Collector, LeavesTheHourlySwitchToTheWindowsHandlers) {
  CollectorRig rig(QDateTime(QDate(2026, 3, 5), QTime(14, 59, 58)));
  FakeExchange exchange(rig.virtualTime, rig.Peer(), "0");
  exchange.delay = 900ms;  // the answer to the request sent at the switch comes during its wait
  exchange.QueueReply('B', "\x02" "ONE\x03");
  exchange.QueueReply('C', "\x02" "TWO\x03");
  exchange.QueueReply('D', "\x02" "THREE\x03");

  rig.collector->Start();
  rig.virtualTime.RunFor(1ms);
  rig.Peer().PeerAccept();
  rig.virtualTime.RunFor(6s);

  const auto read = [&](const char* name) {
    QFile file(QDir(rig.options.logsFolder).filePath(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
  };
  EXPECT_EQ(Hex(read("03051459.log")), Hex("\x02" "ONE\x03\r\n\x02" "TWO\x03\r\n"));
  EXPECT_EQ(Hex(read("03051500.log")), Hex("\x02" "THREE\x03\r\n")) << rig.Output();
  EXPECT_EQ(exchange.Acks(), 3);
  EXPECT_TRUE(rig.form->CmdStop.Enabled()) << "the download runs on";
  EXPECT_EQ(rig.virtualTime.Stalls(), 0);
}

// From the stop request to the end within kStopDeadline, whatever the exchange does; the
// disconnect request goes out whenever the exchange leaves time for it.
TEST(Collector, StopsWithinItsDeadlineWhateverTheExchangeDoes) {
  enum class Exchange { Answers, Silent, TricklesAnOpenRecord };
  struct Row {
    const char* name;
    Exchange exchange;
    QTime start;
    std::chrono::milliseconds stopAt;
    bool deadline;  // the deadline closes the connection
  };
  const Row rows[] = {
      {"an exchange that confirms and closes", Exchange::Answers, QTime(10, 0), 2s, false},
      {"a silent exchange", Exchange::Silent, QTime(10, 0), 2s, true},
      {"a silent exchange as the hour turns", Exchange::Silent, QTime(10, 59, 50), 5s, true},
      {"one byte a second inside a record", Exchange::TricklesAnOpenRecord, QTime(10, 0), 3500ms,
       true},
  };
  for (const Row& row : rows) {
    CollectorRig rig(QDateTime(QDate(2026, 3, 5), row.start));
    FakeExchange exchange(rig.virtualTime, rig.Peer(), "0");
    exchange.silent = row.exchange != Exchange::Answers;
    if (row.exchange == Exchange::TricklesAnOpenRecord) {
      QObject::connect(&rig.Peer(), &VirtualSocket::Sending, [&](const QByteArray& bytes) {
        if (bytes.size() < 2 || bytes[1] != '1') return;
        rig.Peer().PeerSend(QByteArray("\x16" "20000100B\x02" "AB"));
        for (int i = 1; i <= 120; ++i) {
          rig.virtualTime.At(std::chrono::seconds(i), [&] { rig.Peer().PeerSend("x"); });
        }
      });
    }
    std::chrono::milliseconds stopped{};
    // Inside whatever handler waits then, as a signal comes.
    rig.virtualTime.At(row.stopAt, [&] {
      stopped = rig.virtualTime.Elapsed();
      rig.collector->RequestStop("SIGTERM");
    });
    rig.collector->Start();
    rig.virtualTime.RunFor(1ms);
    rig.Peer().PeerAccept();
    rig.virtualTime.RunFor(60s);

    ASSERT_EQ(rig.exitCode, kCleanStop) << row.name << "\n" << rig.Output();
    EXPECT_LE(rig.finishedAt - stopped, kStopDeadline + 100ms) << row.name << "\n" << rig.Output();
    EXPECT_EQ(rig.Peer().State(), Socket::sckClosed) << row.name;
    EXPECT_FALSE(rig.form->CurrentLogFile().IsOpen()) << row.name;
    EXPECT_EQ(rig.Output().find("closing the connection") != std::string::npos, row.deadline)
        << row.name << "\n" << rig.Output();
    if (!row.deadline) {
      EXPECT_EQ(exchange.requests.back().at(1), '6') << row.name;
    }
  }
}

// Each attempt says what ended it, and one that logged no record leaves no log file behind.
TEST(Collector, SaysWhatHappenedAndLeavesNoEmptyLogFileOfAnAttempt) {
  struct Row {
    const char* name;
    std::function<void(VirtualSocket&)> onAttempt;
    bool answers;  // a linked exchange answers, with one record; otherwise it is silent
    std::chrono::milliseconds stopAt;
    const char* said;
    const char* notSaid;
    qsizetype logFiles;
  };
  const Row rows[] = {
      {"refused for three minutes", [](VirtualSocket& s) { s.PeerRefuse(10061); }, false, 180s,
       "could not connect to 127.0.0.1:60010: Connection rejected", "log file opened", 0},
      {"accepted and closed at once",
       [](VirtualSocket& s) {
         s.PeerAccept();
         s.PeerClose();
       },
       false, 180s, "the exchange closed the connection as soon as it accepted it",
       "the log file could not be opened", 0},
      {"linked, stopped with a request unanswered", [](VirtualSocket& s) { s.PeerAccept(); },
       false, 1s, "not sending it again, as the download is stopping", "; sending it again", 0},
      {"linked, one record logged", [](VirtualSocket& s) { s.PeerAccept(); }, true, 5s,
       "stopped; 1 records", "log file removed", 1},
  };
  for (const Row& row : rows) {
    CollectorRig rig(QDateTime(QDate(2026, 3, 5), QTime(10, 0)));
    FakeExchange exchange(rig.virtualTime, rig.Peer(), "0");
    exchange.silent = !row.answers;
    exchange.QueueReply('B', "\x02" "ONE\x03");
    std::function<void()> watch = [&] {
      if (rig.Peer().State() == Socket::sckConnecting) row.onAttempt(rig.Peer());
      rig.virtualTime.At(100ms, watch);
    };
    watch();
    rig.collector->Start();
    rig.virtualTime.RunFor(row.stopAt);
    rig.collector->RequestStop("SIGTERM");
    rig.virtualTime.RunFor(20s);
    const std::string output = rig.Output();
    EXPECT_NE(output.find(row.said), std::string::npos) << row.name << "\n" << output;
    EXPECT_EQ(output.find(row.notSaid), std::string::npos) << row.name << "\n" << output;
    EXPECT_EQ(rig.LogFiles().size(), row.logFiles) << row.name << ": " << rig.LogFiles().join(' ').toStdString();
  }
}

}  // namespace
}  // namespace vorlan::collect
