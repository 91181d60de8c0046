#include <gtest/gtest.h>

#include <QBuffer>
#include <QDate>
#include <QProcess>

#include "call_records.h"
#include "store/call_rows.h"
#include "store/call_store.h"
#include "store/migrations.h"
#include "store/schema.h"
#include "support/pg_server.h"

using namespace vorlan;
using namespace vorlan::store;
using records::Item;
using records::Record;
using records::Times;

namespace {

// In Berlin: the second starts in February by its stamp, in January by UTC.
const QByteArray kJanuary = Record("AB", Item(1, "201") + Times("20240115083000", "20240115083130"));
const QByteArray kFebruary = Record("AB", Item(1, "202") + Times("20240201003000", "20240201013000"));
const QByteArray kLater = Record("AB", Item(1, "201") + Times("20240201004500", "20240201004510"));
const QByteArray kNoStart = Record("EF", Item(3, "123"));

LogBatch Lines(const QByteArray& log, const QByteArray& exchange) {
  QByteArray bytes = log;
  QBuffer device(&bytes);
  device.open(QIODevice::ReadOnly);
  const LogPosition start = FileStart("m.log");
  logging::LogStream stream(device, 0, 1, start.key);
  return ReadBatch(stream, start, true, exchange, "m.log", "/logs");
}
const QByteArray kLog = kJanuary + "\r\n" + kFebruary + "\r\n<BAD>:" + kLater + "\r\n" + kNoStart +
                        "\r\n" + kNoStart + "\r\n";

class MonthsTest : public ::testing::Test {
 protected:
  void Use(const char* database) {
    ASSERT_TRUE(PgServer::Shared().Ok()) << PgServer::Shared().Error().toStdString();
    PgConnection admin;
    ASSERT_TRUE(admin.Open(PgServer::Shared().Conninfo()));
    ASSERT_TRUE(admin.Run((QByteArray("CREATE DATABASE ") + database).constData()));
    m_conninfo = PgServer::Shared().Conninfo(database);
    ASSERT_TRUE(m_db.Open(m_conninfo)) << m_db.Error().toStdString();
    ASSERT_TRUE(m_db.Run("SET TimeZone = 'UTC'"));
  }
  QByteArray Query(const char* sql) {
    const PgResult result = m_db.Exec(sql);
    EXPECT_TRUE(result.Ok()) << sql << ": " << result.Error().toStdString();
    return result.Ok() && result.Rows() > 0 ? result.Value(0, 0) : QByteArray();
  }
  // Hours whose figures differ from a count of the calls.
  QByteArray HoursAmiss() {
    return Query(
        "SELECT count(*) FROM (SELECT exchange, date_trunc('hour', started_at) AS hour,"
        " count(*) AS n, count(*) FILTER (WHERE marked_bad) AS f, sum(talk_seconds)::bigint AS t,"
        " max(talk_seconds) AS l FROM calls WHERE started_at IS NOT NULL GROUP BY 1, 2) c"
        " FULL JOIN (SELECT exchange, hour, sum(calls)::bigint AS n, sum(flagged)::bigint AS f,"
        " sum(total_talk_seconds)::bigint AS t, max(longest_talk_seconds) AS l FROM calls_hourly"
        " GROUP BY 1, 2) h USING (exchange, hour)"
        " WHERE (c.n, c.f, c.t, c.l) IS DISTINCT FROM (h.n, h.f, h.t, h.l)");
  }
  std::optional<qint64> Load(const char* zone, const QByteArray& exchange, const QByteArray& log) {
    CallStore store;
    EXPECT_EQ(store.Open(m_conninfo, zone, "test"), std::nullopt);
    EXPECT_TRUE(store.Begin());
    const std::optional<qint64> inserted = store.Load(exchange, Lines(log, exchange));
    EXPECT_TRUE(store.Commit()) << store.Error().toStdString();
    return inserted;
  }
  QByteArray m_conninfo;
  PgConnection m_db;
};

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

  // A collector's role goes through the staging table; a line without a start is once too.
  ASSERT_TRUE(m_db.Run("CREATE ROLE months_collector LOGIN"));
  ASSERT_EQ(GrantCollector(m_db, "months_collector", "east"), std::nullopt);
  m_conninfo.replace("user=postgres", "user=months_collector");
  EXPECT_EQ(Load("UTC", "east", kLog), 5);
  EXPECT_EQ(Load("UTC", "east", kLog), 0);
  EXPECT_EQ(Query("SELECT count(*) FROM calls WHERE exchange = 'east'"), "5");
  EXPECT_EQ(HoursAmiss(), "0");
}

// A database of the schema before months: its rows are moved in batches, an upgrade cut off
// after one batch goes on at the next start, and every row comes out as it went in. A line
// stored before lines had keys is still found in its month when its file is read again.
TEST_F(MonthsTest, UpgradeMovesEveryRowAndResumes) {
  Use("upgrade");
  ASSERT_TRUE(m_db.Run("CREATE TABLE schema_version (version integer PRIMARY KEY,"
                       " applied_at timestamptz NOT NULL DEFAULT now())"));
  for (const Migration& migration : Migrations()) {
    if (migration.version >= 4) break;
    ASSERT_TRUE(m_db.Run(migration.sql)) << m_db.Error().toStdString();
    ASSERT_TRUE(m_db.Run("INSERT INTO schema_version (version) VALUES ($1)",
                         {QByteArray::number(migration.version)}));
  }
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
  ASSERT_TRUE(m_db.Run("INSERT INTO calls (exchange, record, marked_bad, call_type, started_at,"
                       " ended_at, talk_seconds, items, log_file, log_line) VALUES"
                       " ('north', $1, false, 'AB', '2024-01-15 08:30', '2024-01-15 08:31:30', 90,"
                       " $2, 'm.log', 1)",
                       {kJanuary, ItemsJson(kJanuary)}));
  const char* const everyRow =
      "SELECT string_agg(concat_ws('|', id, exchange, encode(record, 'hex'), marked_bad,"
      " call_type, started_at, ended_at, talk_seconds, items, log_file, log_line, loaded_at,"
      " encode(line_key, 'hex'), journal, encode(record_sha256, 'hex')), E'\\n' ORDER BY id)"
      " FROM calls";
  const QByteArray before = Query(everyRow);
  // The upgrade cut off after its first batch.
  ASSERT_TRUE(m_db.Run("BEGIN"));
  ASSERT_TRUE(m_db.Run(Migrations()[3].sql)) << m_db.Error().toStdString();
  ASSERT_TRUE(m_db.Run("INSERT INTO schema_version (version) VALUES (4)"));
  ASSERT_TRUE(m_db.Run("COMMIT"));
  EXPECT_EQ(Query("SELECT move_unmoved_calls(100)"), "100");

  qint64 moved = 0;
  EXPECT_EQ(MoveOldCalls(m_db, &moved), std::nullopt);
  EXPECT_EQ(moved, 151);
  EXPECT_EQ(Query(everyRow), before);
  EXPECT_EQ(Query("SELECT to_regclass('calls_unmoved') IS NULL"), "t");
  EXPECT_EQ(Query("SELECT string_agg(start_month::text, ',' ORDER BY start_month) FROM call_months"),
            "2023-12-01,2024-01-01,2024-02-01,2024-03-01");
  EXPECT_EQ(Query("SELECT count(*) FROM calls_no_start"), "25");
  EXPECT_EQ(HoursAmiss(), "0");
  // The unkeyed row takes its line's key; the line after it is new.
  EXPECT_EQ(Load("UTC", "north", kJanuary + "\r\n" + kNoStart + "\r\n"), 1);
  EXPECT_EQ(Query("SELECT count(*) || '/' || count(line_key) || '/' || (max(id) = 252)"
                  " FROM calls WHERE exchange = 'north'"),
            "2/2/true");
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
