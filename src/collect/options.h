#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace vorlan::collect {

// Exit codes of vorlan-collect.
enum ExitCode : int {
  kCleanStop = 0,     // stopped by SIGTERM, SIGINT or SIGHUP
  kCannotStart = 1,   // for example the log folder cannot be created or written
  kBadArguments = 2,  // the command line or its configuration file could not be used
};

struct Options {
  QString host;
  QString deviceId = QStringLiteral("0");
  QString maxTime = QStringLiteral("120");
  QString logsFolder;  // absolute
  bool quiet = false;
  bool trace = false;  // the traffic trace beside the log files
  bool help = false;
  // The call store: a libpq connection string; empty without --store.
  QString store;
  QString storeFrom;  // where it was given: "--store", or the file and its line
  QString exchange;   // the exchange's name in the store; the host when not given
  QString timeZone;   // the zone of the exchange's stamps; this machine's when empty
  // Where Prometheus metrics are served, ADDRESS:PORT ([ADDRESS]:PORT for IPv6); off when empty.
  QString metrics;
  QString configFile;  // absolute; empty without --config
};

struct ParsedArguments {
  std::optional<Options> options;  // empty when the arguments could not be used
  QString error;                   // then: what was wrong, for the user
};

// Reads the arguments that follow the program's name. `defaultLogs` is the logs folder used
// without --logs; a relative --logs is taken from the current folder.
ParsedArguments ParseArguments(const QStringList& arguments, const QString& defaultLogs);

// Takes one option that has a value (`name` with its dashes); the error says what is wrong.
std::optional<QString> ApplyOption(Options& options, const QString& name, const QString& value);
bool IsValueOption(const QString& name);

// "9640" or "ADDRESS:PORT" as the listener takes it; a bare port is 127.0.0.1's only, port 0 any
// free one. Nothing when it is no address and port.
std::optional<QString> MetricsAddress(const QString& text);

QString HelpText(const QString& defaultLogs);

}  // namespace vorlan::collect
