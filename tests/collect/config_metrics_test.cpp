// The configuration file, the metrics address, and the store's reports as figures. What the
// endpoint gives to clients is the end-to-end test's.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "collect/metrics.h"
#include "collect/options.h"
#include "collect/store_status.h"

namespace vorlan::collect {
namespace {

struct FileCase {
  const char* name;
  const char* file;  // nullptr: no file at that path
  QStringList command;
  const char* error;  // the text after "FILE:"; nullptr: accepted
  const char* host = "";
  const char* deviceId = "0";
  const char* logs = "";  // relative: to the file's folder
  const char* metrics = "";
  bool quiet = false;
};

const FileCase kFiles[] = {
    {"EveryKeyWithCommentsAndCrLf",
     "# north\r\nhost = 10.0.0.9\r\n  device-id=1\r\n\r\nmax-time = 600\r\nlogs = calls\r\n"
     "exchange = north\r\ntime-zone = UTC\r\nstore = dbname=calls\r\nquiet = yes\r\n"
     "metrics = 9640 \r\n",
     {}, nullptr, "10.0.0.9", "1", "calls", "127.0.0.1:9640", true},
    {"CommandLineOverridesTheFile", "host = a\ndevice-id = 1\nmetrics = 0.0.0.0:9640\n",
     {"--device-id", "2", "--metrics=[::1]:9641"}, nullptr, "a", "2", "", "[::1]:9641"},
    {"CommandLineHostOnly", "device-id = 3\n", {"--host", "b"}, nullptr, "b", "3"},
    {"Missing", nullptr, {}, ": cannot be read"},
    {"UnknownKey", "host = a\n\n# x\nhots = b\n", {}, ":4: unknown key \"hots\""},
    {"BadValue", "host = a\ndevice-id = 12\n", {}, ":2: device-id needs one character"},
    {"NoEquals", "host a\n", {}, ":1: \"key = value\" expected"},
    {"TwiceTheSameKey", "host = a\nhost = b\n", {}, ":2: \"host\" given twice"},
    {"MetricsAHostName", "host = a\nmetrics = localhost:9640\n", {}, ":2: metrics needs a port"},
    {"MetricsPortTooBig", "host = a\nmetrics = 127.0.0.1:65536\n", {}, ":2: metrics needs a port"},
    {"ConfigInTheFile", "config = other.conf\n", {}, ":1: unknown key \"config\""},
};

class ConfigFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(ConfigFile, IsReadOrRefusedNamingFileAndLine) {
  const FileCase& c = GetParam();
  QTemporaryDir dir;
  const QString path = dir.filePath("north.conf");
  if (c.file) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(c.file);
  }
  const ParsedArguments parsed =
      ParseArguments(QStringList{"--config", path} + c.command, "/default/logs");
  if (c.error) {
    ASSERT_FALSE(parsed.options);
    EXPECT_TRUE(parsed.error.startsWith(path + c.error)) << parsed.error.toStdString();
    return;
  }
  ASSERT_TRUE(parsed.options) << parsed.error.toStdString();
  EXPECT_EQ(parsed.options->host, c.host);
  EXPECT_EQ(parsed.options->deviceId, c.deviceId);
  EXPECT_EQ(parsed.options->logsFolder, *c.logs ? dir.filePath(c.logs) : "/default/logs");
  EXPECT_EQ(parsed.options->metrics, c.metrics);
  EXPECT_EQ(parsed.options->quiet, c.quiet);
}

INSTANTIATE_TEST_SUITE_P(Collector, ConfigFile, ::testing::ValuesIn(kFiles),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Metrics, StoreFiguresAgeWithTheClock) {
  qint64 now = 1'700'000'000'000;
  Metrics metrics("north", "1.0.0", true, [&now] { return now; });
  metrics.SetStore({true, 2, 300, now - 120000});
  metrics.SetStore({true, 5, 300, now - 120000});  // the counter follows the forwarder's total
  now += 30000;
  metrics.Tick();
  const std::string text = metrics.Scrape();
  for (const char* line :
       {"vorlan_store_up{exchange=\"north\"} 1\n", "vorlan_store_rows_loaded_total{exchange=\"north\"} 5\n",
        "vorlan_store_backlog_bytes{exchange=\"north\"} 300\n",
        "vorlan_store_backlog_age_seconds{exchange=\"north\"} 150\n",
        "vorlan_build_info{exchange=\"north\",version=\"1.0.0\"} 1\n",
        "vorlan_connect_failures_total{exchange=\"north\",reason=\"refused\"} 0\n",
        "vorlan_last_record_timestamp_seconds{exchange=\"north\"} 1700000000\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line << " not in\n" << text;
  }
}

}  // namespace
}  // namespace vorlan::collect
