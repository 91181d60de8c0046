#include "collect/options.h"

#include "collect/collector.h"

#include <QDir>

namespace vorlan::collect {
namespace {

bool IsWholeNumber(const QString& text) {
  if (text.isEmpty() || text.size() > 9) return false;
  return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= '0' && c <= '9'; });
}

ParsedArguments Failure(const QString& error) { return {std::nullopt, error}; }

}  // namespace

ParsedArguments ParseArguments(const QStringList& arguments, const QString& defaultLogs) {
  Options options;
  QString logs = defaultLogs;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    QString name = arguments[i];
    std::optional<QString> value;
    if (const qsizetype equals = name.indexOf('='); name.startsWith("--") && equals > 0) {
      value = name.mid(equals + 1);
      name.truncate(equals);
    }
    const auto take = [&]() -> std::optional<QString> {
      if (value) return value;
      if (i + 1 < arguments.size()) return arguments[++i];
      return std::nullopt;
    };

    if (name == "--help" || name == "-h") {
      options.help = true;
      continue;
    }
    if (name == "--quiet" || name == "-q") {
      if (value) return Failure(QStringLiteral("--quiet takes no value"));
      options.quiet = true;
      continue;
    }
    if (name == "--trace") {
      if (value) return Failure(QStringLiteral("--trace takes no value"));
      options.trace = true;
      continue;
    }
    if (name != "--host" && name != "--device-id" && name != "--max-time" && name != "--logs" &&
        name != "--store" && name != "--exchange" && name != "--time-zone") {
      return Failure(QStringLiteral("unknown argument \"%1\"").arg(arguments[i]));
    }
    const std::optional<QString> given = take();
    if (!given) return Failure(QStringLiteral("%1 needs a value").arg(name));
    if (name == "--host") {
      if (given->trimmed().isEmpty()) return Failure(QStringLiteral("--host needs a host name"));
      options.host = given->trimmed();
    } else if (name == "--device-id") {
      // One character of the protocol, as the desktop tool's Device ID box gives it.
      if (given->size() != 1 || given->at(0).unicode() < 0x21 || given->at(0).unicode() > 0x7E) {
        return Failure(QStringLiteral("--device-id needs one character, such as 0 to 3, not \"%1\"")
                           .arg(*given));
      }
      options.deviceId = *given;
    } else if (name == "--max-time") {
      if (!IsWholeNumber(*given)) {
        return Failure(
            QStringLiteral("--max-time needs a whole number of seconds, not \"%1\"").arg(*given));
      }
      options.maxTime = *given;
    } else if (name == "--store" || name == "--exchange" || name == "--time-zone") {
      if (given->trimmed().isEmpty()) return Failure(QStringLiteral("%1 needs a value").arg(name));
      (name == "--store"      ? options.store
       : name == "--exchange" ? options.exchange
                              : options.timeZone) = *given;
    } else {
      if (given->isEmpty()) return Failure(QStringLiteral("--logs needs a folder"));
      logs = *given;
    }
  }
  if (!options.help && options.host.isEmpty()) return Failure(QStringLiteral("--host is missing"));
  options.logsFolder = QDir::cleanPath(QDir(logs).absolutePath());
  if (options.exchange.isEmpty()) options.exchange = options.host;
  return {options, {}};
}

QString HelpText(const QString& defaultLogs) {
  return QStringLiteral(
             "Usage: vorlan-collect --host HOST [--device-id C] [--max-time SECONDS] [--logs DIR]\n"
             "                      [--quiet] [--trace] [--store CONNINFO [--exchange NAME]\n"
             "                      [--time-zone TZ]]\n"
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
             "  --exchange NAME     the exchange's name in the store (default: HOST)\n"
             "  --time-zone TZ      the zone of the exchange's stamps (default: this machine's)\n"
             "  --help              show this text\n"
             "\n"
             "Each event is one line on standard error: local time, level (INFO, WARN, ERROR),\n"
             "text. SIGTERM, SIGINT or SIGHUP stops the download, sends the disconnect request\n"
             "and ends the program within %2 s (closing the connection if the exchange takes\n"
             "longer); a second one ends it at once.\n"
             "\n"
             "Exit codes:\n"
             "  0  stopped by SIGTERM, SIGINT or SIGHUP\n"
             "  1  could not start (for example the log folder cannot be created or written)\n"
             "  2  bad arguments\n"
             "  128 + N  ended at once by a second signal N\n")
      .arg(QDir::toNativeSeparators(defaultLogs))
      .arg(kStopDeadline.count());
}

}  // namespace vorlan::collect
