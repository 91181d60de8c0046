// vorlan-export: log files of VORLAN or vorlan-collect as CSV on standard output, for scripts
// and spreadsheets.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <vector>

#include "format/call_csv.h"
#include "format/call_summary.h"
#include "format/record_fields.h"
#include "logging/file_access.h"
#include "logging/log_reader.h"
#include "logging/log_stream.h"

namespace {

constexpr int kDone = 0;
constexpr int kUnreadable = 1;  // a file could not be read or is no log file; the rest is done
constexpr int kUnwritable = 1;  // the CSV could not be written whole
constexpr int kBadArguments = 2;
// Line numbers of lines that are not records listed per file; the rest are counted.
constexpr size_t kOtherLinesListed = 1000;

const char* const kHelp =
    "Usage: vorlan-export [--max-time SECONDS] [--summary hour|day|type:N] LOGFILE...\n"
    "         > calls.csv\n"
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
    "  --summary hour|day|type:N\n"
    "                      instead of the calls, their summary: one row per hour\n"
    "                      (hour, YYYY-MM-DDThh) or day (day, YYYY-MM-DD) in which calls\n"
    "                      started, or per value of data type N (value, from each call's\n"
    "                      first item of that type), with the columns\n"
    "                        calls,flagged,total_talk_seconds,longest_talk_seconds\n"
    "                      flagged: marked <BAD>:, or flagged by the alarm against\n"
    "                      --max-time (without it: whose times cannot be read).\n"
    "                      Calls without a readable start (or without the item) make one\n"
    "                      row with an empty key, last.\n"
    "  --help              show this text\n"
    "\n"
    "Lines that are not records are counted and listed on standard error.\n"
    "\n"
    "Exit codes:\n"
    "  0  every file was exported\n"
    "  1  a file could not be read or is not a log file: no record, or more lines that\n"
    "     are not records than records (the other files were exported); or the CSV\n"
    "     could not be written whole (a full disk): it must not be used then\n"
    "  2  bad arguments\n";

// A CSV cut short by a full disk must not pass for a whole one.
bool Write(const QByteArray& bytes) {
  return std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) == size_t(bytes.size());
}

bool Finish() {
  const bool flushed = std::fflush(stdout) == 0 && !std::ferror(stdout);
  return std::fclose(stdout) == 0 && flushed;
}

int Unwritable() {
  std::fprintf(stderr, "vorlan-export: cannot write the CSV to standard output: %s\n",
               qPrintable(vorlan::logging::SystemError(errno)));
  return kUnwritable;
}

int BadArguments(const QString& error) {
  std::fprintf(stderr, "vorlan-export: %s\nTry 'vorlan-export --help'.\n", qPrintable(error));
  return kBadArguments;
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
  const QCommandLineOption maxTimeOption(QStringLiteral("max-time"), {}, QStringLiteral("SECONDS"));
  const QCommandLineOption summaryOption(QStringLiteral("summary"), {}, QStringLiteral("GROUPING"));
  parser.addOptions({help, maxTimeOption, summaryOption});
  if (!parser.parse(QCoreApplication::arguments())) return BadArguments(parser.errorText());
  if (parser.isSet(help)) return std::fputs(kHelp, stdout) >= 0 && Finish() ? kDone : Unwritable();
  std::optional<QString> maxTime;
  for (const QString& value : parser.values(maxTimeOption)) {
    if (!vorlan::format::IsMaxTime(value)) {
      return BadArguments(
          QStringLiteral("--max-time needs a whole number of seconds, not \"%1\"").arg(value));
    }
    maxTime = value;
  }
  std::optional<vorlan::format::CallSummary> summary;
  for (const QString& value : parser.values(summaryOption)) {
    const std::optional<vorlan::format::Grouping> grouping = vorlan::format::Grouping::Parse(value);
    if (!grouping) {
      return BadArguments(
          QStringLiteral("--summary needs hour, day or type:N, not \"%1\"").arg(value));
    }
    summary.emplace(*grouping);
  }
  const QStringList files = parser.positionalArguments();
  if (files.isEmpty()) return BadArguments(QStringLiteral("no log file given"));

  int status = kDone;
  if (!summary && !Write(vorlan::format::CsvHeader())) return Unwritable();
  for (const QString& name : files) {
    QString error;
    // Only regular files: a FIFO would hold the export for ever, /dev/zero never ends.
    const vorlan::logging::OpenedFile opened =
        vorlan::logging::OpenRegularFile(name, vorlan::logging::Access::Read, &error);
    QFile file;
    if (opened.fd < 0 || !file.open(opened.fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
      if (opened.fd >= 0) {
        vorlan::logging::CloseFile(opened.fd);
        error = file.errorString();
      }
      std::fprintf(stderr, "vorlan-export: %s: %s\n", qPrintable(name), qPrintable(error));
      status = kUnreadable;
      continue;
    }
    // Read twice through a bounded window: counted first, and only the first line numbers
    // kept, so that neither a file of millions of lines that are not records nor one long
    // line takes memory to say so.
    size_t records = 0;
    size_t others = 0;
    std::vector<qint64> listed;
    vorlan::logging::LogStream count(file, 0, 1);
    while (const std::optional<vorlan::logging::LogLine> line = count.Next(true)) {
      if (line->isRecord) {
        ++records;
      } else if (++others <= kOtherLinesListed) {
        listed.push_back(line->line);
      }
    }
    if (!count.Error().isEmpty()) {
      std::fprintf(stderr, "vorlan-export: %s: %s\n", qPrintable(name), qPrintable(count.Error()));
      status = kUnreadable;
      continue;
    }
    if (!vorlan::logging::IsLogFile(records, others)) {
      std::fprintf(stderr, "vorlan-export: %s: not a log file (%zu records, %zu other lines)\n",
                   qPrintable(name), records, others);
      status = kUnreadable;
      continue;
    }
    vorlan::logging::LogStream reader(file, 0, 1);
    while (const std::optional<vorlan::logging::LogLine> line = reader.Next(true)) {
      if (!line->isRecord) continue;
      if (summary) {
        summary->Add(vorlan::format::SummaryCallOf(line->bytes, line->markedBad,
                                                   maxTime.value_or(QString())));
        continue;
      }
      if (!Write(vorlan::format::CsvRow(vorlan::format::JudgedCsvRecord(
              name, line->line, line->markedBad, line->bytes, maxTime)))) {
        return Unwritable();
      }
    }
    if (others > 0) {
      std::fprintf(stderr, "vorlan-export: %s: %zu lines are not records:", qPrintable(name),
                   others);
      for (const qint64 line : listed) std::fprintf(stderr, " %lld", static_cast<long long>(line));
      if (others > listed.size()) std::fprintf(stderr, " ...");
      std::fputc('\n', stderr);
    }
  }
  if (summary && !Write(vorlan::format::SummaryCsv(*summary))) return Unwritable();
  if (!Finish()) return Unwritable();
  return status;
}
