// vorlan-export: log files of VORLAN or vorlan-collect as CSV on standard output, for scripts
// and spreadsheets.
#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <cstdio>
#include <optional>

#include "format/call_csv.h"
#include "logging/log_reader.h"

namespace {

constexpr int kDone = 0;
constexpr int kUnreadable = 1;  // a file could not be read or is no log file; the rest is done
constexpr int kBadArguments = 2;

const char* const kHelp =
    "Usage: vorlan-export [--max-time SECONDS] LOGFILE... > calls.csv\n"
    "\n"
    "Writes every call record of the log files, in order, as CSV (RFC 4180, UTF-8, the\n"
    "records' bytes read as Latin-1) with one header line and the columns\n"
    "  file,line,flagged_now,marked_bad,call_type,start,end,talk_seconds,items,record_hex\n"
    "start and end are the record's data type 6 stamps in ISO 8601 (empty where missing or\n"
    "unreadable), talk_seconds a whole number, items the data items as type:data pairs\n"
    "joined by ';', record_hex the record's bytes as logged, without the <BAD>: marker.\n"
    "\n"
    "  --max-time SECONDS  judge each call as the alarm does against this maximum:\n"
    "                      flagged_now is 1 or 0 (empty without this option)\n"
    "  --help              show this text\n"
    "\n"
    "Lines that are not records are counted and listed on standard error.\n"
    "\n"
    "Exit codes:\n"
    "  0  every file was exported\n"
    "  1  a file could not be read or is not a log file: no record, or more lines that\n"
    "     are not records than records (the other files were exported)\n"
    "  2  bad arguments\n";

void Write(const QByteArray& bytes) {
  std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

int BadArguments(const QString& error) {
  std::fprintf(stderr, "vorlan-export: %s\nTry 'vorlan-export --help'.\n", qPrintable(error));
  return kBadArguments;
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  const QStringList arguments = QCoreApplication::arguments().mid(1);
  std::optional<QString> maxTime;
  QStringList files;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    if (argument == "--help" || argument == "-h") {
      std::fputs(kHelp, stdout);
      return kDone;
    }
    if (argument == "--max-time" || argument.startsWith("--max-time=")) {
      QString value;
      if (argument.startsWith("--max-time=")) {
        value = argument.mid(11);
      } else if (i + 1 < arguments.size()) {
        value = arguments[++i];
      } else {
        return BadArguments(QStringLiteral("--max-time needs a value"));
      }
      bool whole = !value.isEmpty() && value.size() <= 9;
      for (const QChar c : value) whole = whole && c >= '0' && c <= '9';
      if (!whole) {
        return BadArguments(
            QStringLiteral("--max-time needs a whole number of seconds, not \"%1\"").arg(value));
      }
      maxTime = value;
    } else if (argument.startsWith("--") && argument != "--") {
      return BadArguments(QStringLiteral("unknown argument \"%1\"").arg(argument));
    } else if (argument != "--") {
      files << argument;
    }
  }
  if (files.isEmpty()) return BadArguments(QStringLiteral("no log file given"));

  int status = kDone;
  Write(vorlan::format::CsvHeader());
  for (const QString& name : files) {
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
      std::fprintf(stderr, "vorlan-export: %s: %s\n", qPrintable(name),
                   qPrintable(file.errorString()));
      status = kUnreadable;
      continue;
    }
    const vorlan::logging::LogContents contents = vorlan::logging::ReadLog(file.readAll());
    if (!contents.IsLogFile()) {
      std::fprintf(stderr, "vorlan-export: %s: not a log file (%zu records, %zu other lines)\n",
                   qPrintable(name), contents.records.size(), contents.others.size());
      status = kUnreadable;
      continue;
    }
    for (const vorlan::logging::LoggedRecord& entry : contents.records) {
      Write(vorlan::format::CsvRow(vorlan::format::JudgedCsvRecord(
          name, entry.line, entry.markedBad, entry.record, maxTime)));
    }
    if (!contents.others.empty()) {
      std::fprintf(stderr, "vorlan-export: %s: %zu lines are not records:", qPrintable(name),
                   contents.others.size());
      for (const vorlan::logging::OtherLine& other : contents.others) {
        std::fprintf(stderr, " %lld", static_cast<long long>(other.line));
      }
      std::fputc('\n', stderr);
    }
  }
  std::fflush(stdout);
  return status;
}
