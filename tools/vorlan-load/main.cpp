// vorlan-load: existing log files into the call store, for history or a site without a
// collector. Loading the same files again inserts nothing.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

#include "logging/log_reader.h"
#include "read_ahead.h"
#include "store/call_store.h"
#include "store/schema.h"

namespace {

constexpr int kDone = 0;
constexpr int kUnreadable = 1;  // a file could not be read or is no log file; the rest is done
constexpr int kBadArguments = 2;
constexpr int kNoStore = 3;  // the store could not be reached or refused the rows

const char* const kHelp =
    "Usage: vorlan-load --store CONNINFO --exchange NAME [--time-zone TZ] LOGFILE...\n"
    "       vorlan-load --store CONNINFO --upgrade-schema\n"
    "       vorlan-load --store CONNINFO --grant-collector ROLE --exchange NAME\n"
    "       vorlan-load --store CONNINFO --drop-before YYYY-MM\n"
    "\n"
    "Loads the call records of the log files into the call store (PostgreSQL), each record\n"
    "once per exchange: a record already there, or twice in the files, is stored once.\n"
    "Each file is loaded in one transaction, so it is in the store whole or not at all.\n"
    "\n"
    "  --store CONNINFO  a libpq connection string or URI, as psql takes it\n"
    "                    (\"host=/run/postgresql dbname=calls\"); passwords come from\n"
    "                    ~/.pgpass, PGPASSFILE or the service file, never from here\n"
    "  --exchange NAME   the exchange the files were collected from\n"
    "  --time-zone TZ    the zone the exchange's stamps are in (default: this machine's)\n"
    "  --upgrade-schema  only create or upgrade the schema (as the database's owner,\n"
    "                    so that collectors can run with fewer rights)\n"
    "  --grant-collector ROLE\n"
    "                    as the database's owner: give the role what a collector of\n"
    "                    --exchange needs and no more (that exchange's calls and\n"
    "                    positions only, nothing of the schema); repeat for more exchanges\n"
    "  --drop-before YYYY-MM\n"
    "                    as the database's owner: drop the calls of every month before\n"
    "                    YYYY-MM (by the month of their start) and their hourly figures;\n"
    "                    the current month and the one before are refused\n"
    "  --help            show this text\n"
    "\n"
    "Prints how many records were inserted, how many were already there and how many\n"
    "lines were not records.\n"
    "\n"
    "Exit codes:\n"
    "  0  every file was loaded\n"
    "  1  a file could not be read or is not a log file: no record, or more lines that\n"
    "     are not records than records (the other files were loaded)\n"
    "  2  bad arguments\n"
    "  3  the store could not be reached or refused the rows\n";

int BadArguments(const QString& error) {
  std::fprintf(stderr, "vorlan-load: %s\nTry 'vorlan-load --help'.\n", qPrintable(error));
  return kBadArguments;
}

struct Counts {
  qint64 inserted = 0;
  qint64 records = 0;
  qint64 others = 0;
};

// Each file in one transaction, so that it is in the store whole or not at all; whether it is
// a log file is known only at its end. Nothing when the store failed, else the exit code.
std::optional<int> LoadFiles(vorlan::store::CallStore& store, const QByteArray& exchange,
                             const QStringList& files, Counts& total) {
  int status = kDone;
  Counts file;
  bool open = false;
  ReadAhead reader(files, exchange);
  while (const std::optional<ReadAhead::Piece> piece = reader.Next()) {
    const QByteArray name = files[piece->file].toLocal8Bit();
    const char* path = name.constData();
    const auto refused = [&store, path] {
      std::fprintf(stderr, "vorlan-load: %s: the store refused the rows: %s\n", path,
                   qPrintable(store.Error()));
      return std::nullopt;
    };
    if (!open && !store.Begin()) return refused();
    open = !piece->last;
    if (piece->error) {
      store.Rollback();
      open = false;
      std::fprintf(stderr, "vorlan-load: %s: %s\n", path, qPrintable(*piece->error));
      status = kUnreadable;
      file = {};
      continue;
    }
    if (piece->batch.records > 0) {
      const std::optional<qint64> inserted = store.Load(exchange, piece->batch);
      if (!inserted) return refused();
      file.inserted += *inserted;
    }
    file.records += piece->batch.records;
    file.others += piece->batch.others;
    if (!piece->last) continue;
    if (!vorlan::logging::IsLogFile(size_t(file.records), size_t(file.others))) {
      store.Rollback();
      std::fprintf(stderr, "vorlan-load: %s: not a log file (%lld records, %lld other lines)\n",
                   path, static_cast<long long>(file.records), static_cast<long long>(file.others));
      status = kUnreadable;
    } else if (!store.Commit()) {
      return refused();
    } else {
      total.inserted += file.inserted;
      total.records += file.records;
      total.others += file.others;
    }
    file = {};
  }
  return status;
}

}  // namespace

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  QCommandLineParser parser;
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
  const QCommandLineOption upgrade(QStringLiteral("upgrade-schema"), {});
  const QCommandLineOption storeOption(QStringLiteral("store"), {}, QStringLiteral("CONNINFO"));
  const QCommandLineOption grant(QStringLiteral("grant-collector"), {}, QStringLiteral("ROLE"));
  const QCommandLineOption drop(QStringLiteral("drop-before"), {}, QStringLiteral("YYYY-MM"));
  const QCommandLineOption exchangeOption(QStringLiteral("exchange"), {}, QStringLiteral("NAME"));
  const QCommandLineOption zone(QStringLiteral("time-zone"), {}, QStringLiteral("TZ"));
  parser.addOptions({help, upgrade, storeOption, grant, drop, exchangeOption, zone});
  if (!parser.parse(QCoreApplication::arguments())) return BadArguments(parser.errorText());
  if (parser.isSet(help)) {
    std::fputs(kHelp, stdout);
    return kDone;
  }
  // Given more than once, the last one counts.
  const QString conninfo = parser.value(storeOption);
  const QString exchange = parser.value(exchangeOption);
  const QString timeZone = parser.isSet(zone) ? parser.value(zone) : vorlan::store::LocalTimeZone();
  const QStringList files = parser.positionalArguments();
  const QString grantee = parser.value(grant);
  const QString dropBefore = parser.value(drop);
  const bool schemaOnly = parser.isSet(upgrade) || parser.isSet(grant) || parser.isSet(drop);
  if (conninfo.isEmpty()) return BadArguments(QStringLiteral("--store is needed"));
  if (!dropBefore.isEmpty()) {
    const QDate month = QDate::fromString(dropBefore + "-01", "yyyy-MM-dd");
    if (!month.isValid() || dropBefore.size() != 7) {
      return BadArguments(QStringLiteral("--drop-before needs a month as YYYY-MM"));
    }
    const QDate today = QDate::currentDate();
    if (month > QDate(today.year(), today.month(), 1).addMonths(-2)) {
      return BadArguments(
          QStringLiteral("--drop-before: the current month and the one before are "
                         "kept; the latest month to give is %1")
              .arg(QDate(today.year(), today.month(), 1).addMonths(-2).toString("yyyy-MM")));
    }
  }
  if ((!schemaOnly || !grantee.isEmpty()) && exchange.isEmpty())
    return BadArguments(QStringLiteral("--exchange is needed"));
  if (!schemaOnly && files.isEmpty()) return BadArguments(QStringLiteral("no log file given"));
  if (const auto error = vorlan::store::PgConnection::CheckConninfo(conninfo.toUtf8())) {
    return BadArguments(QStringLiteral("--store: %1").arg(*error));
  }

  vorlan::store::CallStore store;
  store.SetNoticeHandler([](const QString& text) {
    std::fprintf(stderr, "vorlan-load: store: %s\n", qPrintable(text));
  });
  if (const auto error = store.Open(conninfo.toUtf8(), timeZone, QStringLiteral("vorlan-load"))) {
    std::fprintf(stderr, "vorlan-load: cannot use the store: %s\n", qPrintable(*error));
    return kNoStore;
  }
  if (!grantee.isEmpty()) {
    if (const auto error = vorlan::store::GrantCollector(store.Connection(), grantee.toUtf8(),
                                                         exchange.toUtf8())) {
      std::fprintf(stderr, "vorlan-load: cannot grant %s: %s\n", qPrintable(grantee),
                   qPrintable(*error));
      return kNoStore;
    }
    std::printf("%s may now collect exchange %s, and no other\n", qPrintable(grantee),
                qPrintable(exchange));
    return kDone;
  }
  if (!dropBefore.isEmpty()) {
    QString error;
    const auto dropped = vorlan::store::DropMonthsBefore(store.Connection(), dropBefore, error);
    if (!dropped) {
      std::fprintf(stderr, "vorlan-load: cannot drop the months before %s: %s\n",
                   qPrintable(dropBefore), qPrintable(error));
      return kNoStore;
    }
    for (const vorlan::store::DroppedMonth& month : *dropped) {
      std::printf("dropped %s: %lld calls and their hourly figures\n", qPrintable(month.month),
                  static_cast<long long>(month.calls));
    }
    if (dropped->empty()) std::printf("no month before %s to drop\n", qPrintable(dropBefore));
    return kDone;
  }
  if (schemaOnly) {
    std::printf("schema at version %d\n", vorlan::store::KnownSchemaVersion());
    return kDone;
  }
  Counts total;
  const std::optional<int> status = LoadFiles(store, exchange.toUtf8(), files, total);
  if (!status) return kNoStore;
  std::printf("%lld inserted, %lld already stored, %lld lines not records\n",
              static_cast<long long>(total.inserted),
              static_cast<long long>(total.records - total.inserted),
              static_cast<long long>(total.others));
  return *status;
}
