#include "collect/options.h"

#include "collect/collector.h"

#include <QCommandLineParser>
#include <QDir>
#include <QHostAddress>

#include "collect/config_file.h"
#include "format/record_fields.h"

namespace vorlan::collect {
namespace {

// The options that take a value, by their long names; the configuration file's keys are these
// and the two switches.
const QStringList kValueOptions = {"host",  "device-id", "max-time",  "logs",
                                   "store", "exchange",  "time-zone", "metrics"};

bool IsWholeNumber(const QString& text) {
  if (text.isEmpty() || text.size() > 9) return false;
  return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= '0' && c <= '9'; });
}

ParsedArguments Failure(const QString& error) { return {std::nullopt, error}; }

}  // namespace

std::optional<QString> ApplyOption(Options& options, const QString& name, const QString& value) {
  if (name == "--host") {
    if (value.trimmed().isEmpty()) return QStringLiteral("--host needs a host name");
    options.host = value.trimmed();
  } else if (name == "--device-id") {
    // One character of the protocol, as the desktop tool's Device ID box gives it.
    if (value.size() != 1 || value.at(0).unicode() < 0x21 || value.at(0).unicode() > 0x7E) {
      return QStringLiteral("--device-id needs one character, such as 0 to 3, not \"%1\"")
          .arg(value);
    }
    options.deviceId = value;
  } else if (name == "--max-time") {
    if (!format::IsMaxTime(value)) {
      return QStringLiteral("--max-time needs a whole number of seconds, not \"%1\"").arg(value);
    }
    options.maxTime = value;
  } else if (name == "--store" || name == "--exchange" || name == "--time-zone") {
    if (value.trimmed().isEmpty()) return QStringLiteral("%1 needs a value").arg(name);
    (name == "--store"      ? options.store
     : name == "--exchange" ? options.exchange
                            : options.timeZone) = value;
    if (name == "--store") options.storeFrom = name;
  } else if (name == "--metrics") {
    const std::optional<QString> address = MetricsAddress(value);
    if (!address) {
      return QStringLiteral(
                 "--metrics needs a port or ADDRESS:PORT, such as 9640 or "
                 "127.0.0.1:9640, not \"%1\"")
          .arg(value);
    }
    options.metrics = *address;
  } else if (name == "--logs") {
    if (value.isEmpty()) return QStringLiteral("--logs needs a folder");
    options.logsFolder = value;
  } else {
    return QStringLiteral("unknown argument \"%1\"").arg(name);
  }
  return std::nullopt;
}

std::optional<QString> MetricsAddress(const QString& text) {
  const qsizetype colon = text.lastIndexOf(':');
  QString host = colon < 0 ? QStringLiteral("127.0.0.1") : text.left(colon);
  const QString port = text.mid(colon + 1);
  bool ok = false;
  const uint number = port.toUInt(&ok);
  if (!ok || !IsWholeNumber(port) || number > 65535) return std::nullopt;
  // The listener takes addresses only, never a name to look up.
  const bool bracketed = host.startsWith('[') && host.endsWith(']');
  QHostAddress address;
  if (!address.setAddress(bracketed ? host.mid(1, host.size() - 2) : host)) return std::nullopt;
  if (address.protocol() == QAbstractSocket::IPv6Protocol) {
    if (!bracketed) return std::nullopt;
  } else if (bracketed) {
    return std::nullopt;
  }
  return host + ':' + QString::number(number);
}

ParsedArguments ParseArguments(const QStringList& arguments, const QString& defaultLogs) {
  QCommandLineParser parser;
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
  const QCommandLineOption quiet({QStringLiteral("q"), QStringLiteral("quiet")}, {});
  const QCommandLineOption trace(QStringLiteral("trace"), {});
  const QCommandLineOption config(QStringLiteral("config"), {}, QStringLiteral("FILE"));
  parser.addOptions({help, quiet, trace, config});
  for (const QString& name : kValueOptions) parser.addOption({name, {}, name.toUpper()});
  // The first argument is taken as the program's name.
  if (!parser.parse(QStringList{QString()} + arguments)) return Failure(parser.errorText());
  if (!parser.positionalArguments().isEmpty()) {
    return Failure(
        QStringLiteral("unknown argument \"%1\"").arg(parser.positionalArguments().constFirst()));
  }

  Options options;
  options.logsFolder = defaultLogs;
  // The file first: every option given beside it overrides it.
  const QStringList files = parser.values(config);
  if (files.size() > 1) return Failure(QStringLiteral("--config given twice"));
  if (!files.isEmpty()) {
    if (files[0].isEmpty()) return Failure(QStringLiteral("--config needs a file"));
    options.configFile = QDir(files[0]).absolutePath();
    if (const std::optional<QString> error = ReadConfigFile(options.configFile, options)) {
      return Failure(*error);
    }
  }
  for (const QString& name : kValueOptions) {
    for (const QString& value : parser.values(name)) {
      if (const std::optional<QString> error = ApplyOption(options, "--" + name, value)) {
        return Failure(*error);
      }
    }
  }
  options.quiet = options.quiet || parser.isSet(quiet);
  options.trace = options.trace || parser.isSet(trace);
  options.help = parser.isSet(help);
  if (!options.help && options.host.isEmpty()) return Failure(QStringLiteral("--host is missing"));
  options.logsFolder = QDir::cleanPath(QDir(options.logsFolder).absolutePath());
  if (options.exchange.isEmpty()) options.exchange = options.host;
  return {options, {}};
}

bool IsValueOption(const QString& name) {
  return name.startsWith(QLatin1String("--")) && kValueOptions.contains(name.mid(2));
}

QString HelpText(const QString& defaultLogs) {
  return QStringLiteral(
             "Usage: vorlan-collect [--config FILE] --host HOST [--device-id C] [--max-time "
             "SECONDS]\n"
             "                      [--logs DIR] [--quiet] [--trace] [--metrics [ADDRESS:]PORT]\n"
             "                      [--store CONNINFO [--exchange NAME] [--time-zone TZ]]\n"
             "\n"
             "Connects to the exchange's call record interface at HOST, port 60010, downloads\n"
             "every call record for as long as it runs, and appends each to hourly log files,\n"
             "the same files, byte for byte, as the desktop tool writes. A record is on disk\n"
             "before the exchange is told it was received. When the connection is refused,\n"
             "fails or is closed, it connects again after 1 s, doubling the pause up to 60 s.\n"
             "\n"
             "  --host HOST         the exchange's address or name (required)\n"
             "  --device-id C       the exchange's device ID, one character (default 0)\n"
             "  --max-time SECONDS  calls longer than this are marked <BAD>: (default 120)\n"
             "  --logs DIR          the folder of the log files, created when missing\n"
             "                      (default %1)\n"
             "  --quiet             report errors only\n"
             "  --trace             every frame out and in, with its time and its bytes, to\n"
             "                      MMDDhhmm.trace beside each log file\n"
             "  --store CONNINFO    also load every logged record into the call store\n"
             "                      (PostgreSQL; a libpq connection string or URI, without a\n"
             "                      password: libpq reads it from ~/.pgpass or PGPASSFILE).\n"
             "                      The log files stay the journal: the download never waits\n"
             "                      for the store, and loading catches up when it is back\n"
             "  --exchange NAME     the exchange's name in the store and the metrics\n"
             "                      (default: HOST)\n"
             "  --time-zone TZ      the zone of the exchange's stamps (default: this machine's)\n"
             "  --metrics [ADDRESS:]PORT\n"
             "                      serve Prometheus metrics at http://ADDRESS:PORT/metrics;\n"
             "                      a bare port listens on 127.0.0.1 only (default: off)\n"
             "  --config FILE       read these settings from FILE first: one \"key = value\"\n"
             "                      a line, the keys being the long options' names (host,\n"
             "                      device-id, logs, quiet = yes, ...), # for comments; an\n"
             "                      option on the command line overrides the file. A relative\n"
             "                      logs folder in it is taken from the file's folder\n"
             "  --help              show this text\n"
             "\n"
             "Each event is one line on standard error: local time, level (INFO, WARN, ERROR),\n"
             "text. SIGTERM, SIGINT or SIGHUP stops the download, sends the disconnect request\n"
             "and ends the program within %2 s (closing the connection if the exchange takes\n"
             "longer); a second one ends it at once.\n"
             "\n"
             "Exit codes:\n"
             "  0  stopped by SIGTERM, SIGINT or SIGHUP\n"
             "  1  could not start (for example the log folder cannot be created or written, or "
             "the\n"
             "     metrics port is taken)\n"
             "  2  bad arguments or a bad configuration file\n"
             "  128 + N  ended at once by a second signal N\n")
      .arg(QDir::toNativeSeparators(defaultLogs))
      .arg(kStopDeadline.count());
}

}  // namespace vorlan::collect
