#include <QDate>
#include <QProcess>

#include "store/call_rows.h"
#include "store/migrations.h"
#include "store/schema.h"
#include "store_fixture.h"

namespace {

// In Berlin: the second starts in February by its stamp, in January by UTC.
const QByteArray kJanuary = Record("AB", Item(1, "201") + Item(2, "555") + Times("20240115083000", "20240115083130"));
const QByteArray kFebruary = Record("AB", Item(1, "202") + Times("20240201003000", "20240201013000"));
const QByteArray kLater = Record("AB", Item(1, "201") + Item(2, "555") + Times("20240201004500", "20240201004510"));
const QByteArray kNoStart = Record("EF", Item(3, "123"));

const QByteArray kLog = kJanuary + "\r\n" + kFebruary + "\r\n<BAD>:" + kLater + "\r\n" + kNoStart +
                        "\r\n" + kNoStart + "\r\n";

using MonthsTest = StoreTest;

// A line goes to the month its stamp names, whatever zone it is loaded in, and is one row
// however often and in whichever zone it is loaded; the hourly figures count it once, also
// through the staging table of a role held to its exchange. The queries read what was stored.
TEST_F(MonthsTest, EachLineOnceInItsMonthWithItsHourlyFigures) {
  Use("months");
  EXPECT_EQ(Load("Europe/Berlin", "north", kLog), 5);
  EXPECT_EQ(Load("Europe/Berlin", "north", kLog), 0);
  EXPECT_EQ(Load("America/New_York", "north", kLog), 0);
  EXPECT_EQ(Query("SELECT string_agg(p || ':' || n, ',' ORDER BY p) FROM (SELECT"
                  " tableoid::regclass::text AS p, count(*) AS n FROM calls GROUP BY 1) s"),
            "calls_2024_01:1,calls_2024_02:2,calls_no_start:2");
  EXPECT_EQ(HoursAmiss(), "0");
  EXPECT_EQ(Query("SELECT string_agg(concat_ws('/', hour, calls, flagged, total_talk_seconds,"
                  " longest_talk_seconds), ',' ORDER BY hour) FROM calls_per_hour"),
            "2024-01-15 07:00:00+00/1/0/90/90,2024-01-31 23:00:00+00/2/1/3610/3600");
  EXPECT_EQ(Query("SELECT string_agg(day || '/' || calls, ',') FROM daily_calls('2024-01-01',"
                  " '2024-03-01', 'north')"),
            "2024-01-15 00:00:00+00/1,2024-01-31 00:00:00+00/2");
  EXPECT_EQ(Query("SELECT count(*) FROM hourly_calls('2024-01-31 23:00', '2024-02-01')"), "1");
  EXPECT_EQ(Query("SELECT string_agg(talk_seconds::text, ',') FROM long_calls(60,"
                  " '2024-01-31 22:00', '2024-02-01', 'north')"),
            "3600");
  EXPECT_EQ(Query("SELECT string_agg(talk_seconds::text, ',' ORDER BY started_at) FROM"
                  " calls_with_item(1, '201', '2024-01-01', '2024-03-01')"),
            "90,10");
  // The dialled number is not an item key, yet its calls are found from their items.
  EXPECT_EQ(Query("SELECT count(*) FROM calls WHERE item_keys @> '{2:555}'"), "0");
  EXPECT_EQ(Query("SELECT string_agg(talk_seconds::text, ',' ORDER BY started_at) FROM"
                  " calls_with_item(2, '555', '2024-01-01', '2024-03-01', 'north')"),
            "90,10");
  // Every exchange's calls in a period are found, also where the loader's zone begins its
  // hours on the half hour: 00:30 in Kolkata is 19:00 UTC, counted in the hour from 18:30.
  EXPECT_EQ(Load("Asia/Kolkata", "south", kLog), 5);
  for (const auto& [query, expected] : {
           std::pair("long_calls(60", "south/3600,north/3600"),
           std::pair("calls_with_item(1, '201'", "south/10,north/10"),
           std::pair("calls_with_item(2, '555'", "south/10,north/10"),
       }) {
    EXPECT_EQ(Query(QByteArray("SELECT string_agg(exchange || '/' || talk_seconds, ','"
                               " ORDER BY started_at) FROM ") +
                    query + ", '2024-01-31 18:45+00', '2024-02-01 00:45+00')")
                  .toStdString(),
              expected)
        << query;
  }
  // Its hours are not those of the figures' check, which counts in UTC.
  ASSERT_TRUE(m_db.Run("DELETE FROM calls WHERE exchange = 'south';"
                       " DELETE FROM calls_hourly WHERE exchange = 'south'"));

  // A collector's role goes through the staging table; a line without a start is once too.
  ASSERT_TRUE(m_db.Run("CREATE ROLE months_collector LOGIN"));
  ASSERT_EQ(GrantCollector(m_db, "months_collector", "east"), std::nullopt);
  m_conninfo.replace("user=postgres", "user=months_collector");
  EXPECT_EQ(Load("UTC", "east", kLog), 5);
  EXPECT_EQ(Load("UTC", "east", kLog), 0);
  EXPECT_EQ(Query("SELECT count(*) FROM calls WHERE exchange = 'east'"), "5");
  EXPECT_EQ(HoursAmiss(), "0");
  // The loaders gave the months they loaded into statistics, a collector's role too, at a
  // month's first sight and not again until it doubles.
  EXPECT_EQ(Query("SELECT string_agg(relname || ':' || reltuples, ',' ORDER BY relname)"
                  " FROM pg_class WHERE relname IN ('calls_2024_01', 'calls_2024_02')"),
            "calls_2024_01:1,calls_2024_02:2");
}

// A database of the first schema, where the same bytes were one row, with rows of the second,
// keyed and not: the upgrade moves them into their months in batches, an upgrade cut off after
// one batch goes on at the next start, and every row comes out as it went in. A reload finds
// the rows stored before lines had keys in their months, gives them their lines' keys, and
// stores the lines the old rule merged.
TEST_F(MonthsTest, UpgradeMovesEveryRowResumesAndAdoptsThemOnReload) {
  Use("upgrade");
  ASSERT_TRUE(m_db.Run("CREATE TABLE schema_version (version integer PRIMARY KEY,"
                       " applied_at timestamptz NOT NULL DEFAULT now())"));
  const auto migrate = [this](int from, int to) {
    for (const Migration& migration : Migrations()) {
      if (migration.version < from || migration.version > to) continue;
      ASSERT_TRUE(m_db.Run(migration.sql)) << m_db.Error().toStdString();
      ASSERT_TRUE(m_db.Run("INSERT INTO schema_version (version) VALUES ($1)",
                           {QByteArray::number(migration.version)}));
    }
  };
  migrate(1, 1);
  ASSERT_TRUE(m_db.Run("INSERT INTO calls (exchange, record, marked_bad, call_type, started_at,"
                       " ended_at, talk_seconds, items, log_file, log_line) VALUES"
                       " ('north', $1, false, 'AB', '2024-01-15 08:30', '2024-01-15 08:31:30', 90,"
                       " $2, 'm.log', 1), ('north', $3, false, 'EF', NULL, NULL, NULL, $4, 'm.log', 2)",
                       {kJanuary, ItemsJson(kJanuary), kNoStart, ItemsJson(kNoStart)}));
  ASSERT_TRUE(m_db.Run("INSERT INTO store_positions VALUES ('north', 'm.log', 40, 3)"));
  migrate(2, 3);
  ASSERT_TRUE(m_db.Run(
      "INSERT INTO calls (exchange, record, marked_bad, call_type, started_at, ended_at,"
      " talk_seconds, items, log_file, log_line, line_key, journal)"
      " SELECT CASE WHEN i % 2 = 0 THEN 'old' ELSE 'older' END, convert_to('r' || i, 'UTF8'),"
      " i % 7 = 0, 'AB', CASE WHEN i % 10 <> 0 THEN at END, at + interval '1 minute',"
      " CASE WHEN i % 10 <> 0 THEN i END, CASE WHEN i % 10 <> 0 THEN jsonb_build_array("
      " jsonb_build_object('type', 6, 'data', to_char(at, 'YYYYMMDDHH24MISS') || '.-.'"
      " || to_char(at, 'YYYYMMDDHH24MISS'))) ELSE '[]' END, 'x.log', i,"
      " CASE WHEN i % 3 <> 0 THEN sha256(int4send(i)) END, '/logs'"
      " FROM generate_series(1, 250) AS i, LATERAL (SELECT timestamptz '2023-12-20'"
      " + i * interval '7 hours' AS at) AS t"));
  const char* const everyRow =
      "SELECT string_agg(concat_ws('|', id, exchange, encode(record, 'hex'), marked_bad,"
      " call_type, started_at, ended_at, talk_seconds, items, log_file, log_line, loaded_at,"
      " encode(line_key, 'hex'), journal, encode(record_sha256, 'hex')), E'\\n' ORDER BY id)"
      " FROM calls";
  const QByteArray before = Query(everyRow);
  // The upgrade cut off after its first batch.
  ASSERT_TRUE(m_db.Run("BEGIN"));
  migrate(4, 4);
  ASSERT_TRUE(m_db.Run("COMMIT"));
  EXPECT_EQ(Query("SELECT move_unmoved_calls(100)"), "100");

  qint64 moved = 0;
  EXPECT_EQ(MoveOldCalls(m_db, &moved), std::nullopt);
  EXPECT_EQ(moved, 152);
  EXPECT_EQ(Query(everyRow), before);
  EXPECT_EQ(Query("SELECT to_regclass('calls_unmoved') IS NULL"), "t");
  EXPECT_EQ(Query("SELECT string_agg(start_month::text, ',' ORDER BY start_month) FROM call_months"),
            "2023-12-01,2024-01-01,2024-02-01,2024-03-01");
  EXPECT_EQ(Query("SELECT count(*) FROM calls_no_start"), "26");
  EXPECT_EQ(HoursAmiss(), "0");

  CallStore store;
  ASSERT_EQ(store.Open(m_conninfo, "UTC", "test"), std::nullopt);
  EXPECT_TRUE(store.Positions("north")->empty());  // its file is read again from the start
  // The unkeyed rows take their lines' keys; the second line of the same bytes is new.
  const QByteArray log = kJanuary + "\r\n" + kNoStart + "\r\n" + kNoStart + "\r\n";
  EXPECT_EQ(Load("UTC", "north", log), 1);
  EXPECT_EQ(Load("UTC", "north", log), 0);
  EXPECT_EQ(Query("SELECT count(*) || '/' || count(line_key) || '/' || min(id) || '/' ||"
                  " (max(id) = 253) FROM calls WHERE exchange = 'north'"),
            "3/3/1/true");
  EXPECT_EQ(HoursAmiss(), "0");
}

// vorlan-load --drop-before: whole months and their figures, for the owner only, never the
// current month or the one before.
TEST_F(MonthsTest, DropBeforeDropsWholeMonthsForTheOwnerOnly) {
  Use("retention");
  EXPECT_EQ(Load("Europe/Berlin", "north", kLog), 5);
  auto drop = [](const QByteArray& conninfo, const QString& month) {
    QProcess process;
    process.start(VORLAN_LOAD_PATH, {"--store", QString::fromUtf8(conninfo), "--drop-before", month});
    process.waitForFinished(60000);
    return std::pair(process.exitCode(),
                     (process.readAllStandardOutput() + process.readAllStandardError()).toStdString());
  };
  ASSERT_TRUE(m_db.Run("CREATE ROLE retention_collector LOGIN"));
  ASSERT_EQ(GrantCollector(m_db, "retention_collector", "north"), std::nullopt);
  const auto refused =
      drop(QByteArray(m_conninfo).replace("user=postgres", "user=retention_collector"), "2024-02");
  EXPECT_EQ(refused.first, 3) << refused.second;
  EXPECT_NE(refused.second.find("permission denied"), std::string::npos) << refused.second;
  const QDate today = QDate::currentDate();
  EXPECT_EQ(drop(m_conninfo, today.addMonths(-1).toString("yyyy-MM")).first, 2);
  EXPECT_EQ(Query("SELECT count(*) FROM calls"), "5");

  EXPECT_EQ(drop(m_conninfo, "2024-02"),
            std::pair(0, std::string("dropped 2024-01: 1 calls and their hourly figures\n")));
  EXPECT_EQ(Query("SELECT count(*) || '/' || (SELECT count(*) FROM calls_hourly) FROM calls"), "4/1");
  EXPECT_EQ(Query("SELECT to_regclass('calls_2024_01') IS NULL"), "t");
  EXPECT_EQ(HoursAmiss(), "0");
  EXPECT_EQ(drop(m_conninfo, "2024-02"),
            std::pair(0, std::string("no month before 2024-02 to drop\n")));
}

}  // namespace
