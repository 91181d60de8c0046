// Each program run as a person runs it: help and version on standard output with 0, a bad
// argument named on standard error with 2, before anything else happens.
#include <gtest/gtest.h>

#include <QProcess>

namespace {

TEST(CommandLine, EveryProgramHelpsAndRefusesAlike) {
  const struct Row {
    const char* program;
    QStringList arguments;
    int exitCode;
    const char* said;  // on standard output for 0, on standard error otherwise
  } rows[] = {
      {VORLAN_PATH, {"--version"}, 0, "VORLAN 1."},
      {VORLAN_PATH, {"calls.log"}, 2, "vorlan: unknown argument \"calls.log\"\nTry"},
      {VORLAN_COLLECT_PATH, {"--help"}, 0, "Usage: vorlan-collect [--config FILE]"},
      {VORLAN_COLLECT_PATH, {"--host"}, 2, "vorlan-collect: Missing value after '--host'.\nTry"},
      {VORLAN_EXPORT_PATH, {"--bogus", "x.log"}, 2, "vorlan-export: Unknown option 'bogus'"},
      {VORLAN_EXPORT_PATH, {"--max-time", "1.5", "x.log"}, 2, "--max-time needs a whole number"},
      {VORLAN_LOAD_PATH, {"--help"}, 0, "Usage: vorlan-load --store CONNINFO"},
      {VORLAN_LOAD_PATH, {"--exchange", "north", "x.log"}, 2, "vorlan-load: --store is needed"},
      {VORLAN_LOAD_PATH, {"--store"}, 2, "Missing value after '--store'"},
  };
  for (const Row& row : rows) {
    QProcess process;
    process.start(row.program, row.arguments);
    ASSERT_TRUE(process.waitForFinished(30000)) << row.program;
    const QByteArray out = process.readAllStandardOutput();
    const QByteArray error = process.readAllStandardError();
    const std::string what = std::string(row.program) + " " + row.arguments.join(' ').toStdString();
    EXPECT_EQ(process.exitCode(), row.exitCode) << what << "\n" << error.toStdString();
    EXPECT_TRUE((row.exitCode == 0 ? out : error).contains(row.said))
        << what << "\nout: " << out.toStdString() << "\nerror: " << error.toStdString();
  }
}

}  // namespace
