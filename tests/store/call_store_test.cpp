#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <thread>

#include "store/forwarder.h"
#include "store/migrations.h"
#include "store/schema.h"
#include "store_fixture.h"

namespace {

using CallStoreTest = StoreTest;

// Records whose bytes COPY's text format and PostgreSQL's text types must carry unchanged.
const QByteArray kPlain = Record("AB", Times("20240115083000", "20240115083130"));
const QByteArray kAwkward =
    Record(QByteArray("\x00\xFF", 2), Item(1, QByteArray("\\N\t\r\n\x00\xE9\"", 8)) +
                                          Times("20240331015959", "20240331030001"));
const QByteArray kNoTimes = Record("EF", Item(3, "123"));

TEST_F(CallStoreTest, StoresEveryRecordOnceWithItsFields) {
  CallStore store;
  ASSERT_EQ(store.Open(PgServer::Shared().Conninfo(), "Europe/Berlin", "test"), std::nullopt);
  ASSERT_TRUE(store.Begin());
  // Twice in one file, then the whole file again, then under another exchange.
  EXPECT_EQ(store.Load("north", Rows({kPlain, kAwkward, kNoTimes, kPlain}, "north")), 4);
  EXPECT_EQ(store.Load("north", Rows({kPlain, kAwkward, kNoTimes, kPlain}, "north")), 0);
  EXPECT_EQ(store.Load("south", Rows({kPlain}, "south")), 1);
  ASSERT_TRUE(store.Commit()) << store.Error().toStdString();

  EXPECT_EQ(Query("SELECT count(*) FROM calls WHERE exchange IN ('north', 'south')"), "5");
  EXPECT_EQ(Query("SELECT string_agg(encode(record, 'hex'), ',' ORDER BY log_line) FROM calls"
                  " WHERE exchange = 'north'"),
            (kPlain.toHex() + ',' + kAwkward.toHex() + ',' + kNoTimes.toHex() + ',' +
             kPlain.toHex()));
  Query("SET TimeZone = 'UTC'");
  // The stamps are read in the exchange's zone: 08:30 in Berlin in winter is 07:30 UTC. The
  // second call runs over the change to summer time: 2 s apart, though its stamps read 3602.
  EXPECT_EQ(Query("SELECT string_agg(concat_ws('/', started_at, ended_at - started_at,"
                  " talk_seconds, call_type), ',' ORDER BY log_line) FROM calls"
                  " WHERE exchange = 'north'"),
            "2024-01-15 07:30:00+00/00:01:30/90/AB,"
            "2024-03-31 00:59:59+00/00:00:02/3602/\uFFFD\u00FF,EF,"
            "2024-01-15 07:30:00+00/00:01:30/90/AB");
  EXPECT_EQ(Query("SELECT items FROM calls WHERE log_line = 2"),
            R"([{"data": "\\N\t\r\n)" "\uFFFD\u00E9" R"(\"", "type": 1}, )"
            R"({"data": "20240331015959...20240331030001", "type": 6}])");
  // The item keys the loader writes are those the database reads from the stored items.
  EXPECT_EQ(Query("SELECT count(*) || '/' || count(*) FILTER (WHERE item_keys IS DISTINCT FROM"
                  " call_items(items)) FROM calls WHERE exchange = 'north' AND item_keys <> '{}'"),
            "2/0");
  EXPECT_EQ(Query("SELECT calls || '/' || total_talk_seconds FROM calls_per_hour WHERE "
                  "exchange = 'north' AND hour = '2024-01-15 07:00+00'"),
            "2/180");
  EXPECT_EQ(Query("SELECT count(*) FROM long_calls(90) WHERE exchange = 'north'"), "1");
}

// Two loaders of one exchange at once: a line the other stored after the lookup is a unique
// violation, after which the batch goes in through the staging table, each line once.
TEST_F(CallStoreTest, ConcurrentLoadersStoreEachRecordOnce) {
  CallStore first;
  CallStore second;
  ASSERT_EQ(first.Open(PgServer::Shared().Conninfo(), "UTC", "first"), std::nullopt);
  ASSERT_EQ(second.Open(PgServer::Shared().Conninfo(), "UTC", "second"), std::nullopt);
  // The second meets a stored record, so that it looks up the next batch before copying it.
  ASSERT_TRUE(second.Begin());
  ASSERT_EQ(second.Load("both", Rows({kAwkward}, "both")), 1);
  ASSERT_EQ(second.Load("both", Rows({kAwkward}, "both")), 0);
  ASSERT_TRUE(first.Begin());
  ASSERT_EQ(first.Load("both", Rows({kPlain}, "both")), 1);
  std::optional<qint64> inserted;
  std::thread loading([&] { inserted = second.Load("both", Rows({kPlain, kNoTimes}, "both")); });
  // Its copy waits for the first's transaction, which holds the same record.
  for (int tries = 0; tries < 1000 && Query("SELECT count(*) FROM pg_stat_activity WHERE "
                                            "application_name = 'second' AND wait_event_type = "
                                            "'Lock'") != "1";
       ++tries) {
    QThread::msleep(20);
  }
  EXPECT_TRUE(first.Commit());
  loading.join();
  EXPECT_EQ(inserted, 1) << second.Error().toStdString();
  EXPECT_TRUE(second.Commit());
  EXPECT_EQ(Query("SELECT count(*) FROM calls WHERE exchange = 'both'"), "3");
}

TEST_F(CallStoreTest, SchemaIsCreatedOnceAndANewerOneRefused) {
  Query("CREATE DATABASE newer");
  CallStore first;
  CallStore second;
  QByteArray conninfo = PgServer::Shared().Conninfo("newer");
  ASSERT_EQ(first.Open(conninfo, "UTC", "test"), std::nullopt);
  ASSERT_EQ(second.Open(conninfo, "UTC", "test"), std::nullopt);
  PgConnection newer;
  ASSERT_TRUE(newer.Open(conninfo));
  EXPECT_EQ(newer.Exec("SELECT max(version) FROM schema_version").Value(0, 0),
            QByteArray::number(KnownSchemaVersion()));
  ASSERT_TRUE(newer.Run("INSERT INTO schema_version VALUES (9999)"));
  CallStore third;
  const std::optional<QString> refused = third.Open(conninfo, "UTC", "test");
  ASSERT_TRUE(refused);
  EXPECT_TRUE(refused->contains("version 9999, newer than this program knows")) << refused->toStdString();

  // The rights the README gives a collector's role are enough once the schema is there.
  ASSERT_TRUE(newer.Run("DELETE FROM schema_version WHERE version = 9999"));
  ASSERT_TRUE(newer.Run("CREATE ROLE collector LOGIN"));
  ASSERT_TRUE(newer.Run("GRANT CONNECT, TEMPORARY ON DATABASE newer TO collector;"
                        "GRANT SELECT, INSERT ON calls TO collector;"
                        "GRANT SELECT, INSERT, UPDATE ON store_positions TO collector;"
                        "GRANT SELECT, INSERT, UPDATE ON calls_hourly TO collector;"
                        "GRANT USAGE ON SEQUENCE call_ids TO collector;"
                        "GRANT SELECT ON schema_version TO collector"));
  CallStore limited;
  ASSERT_EQ(limited.Open(conninfo.replace("user=postgres", "user=collector"), "UTC", "test"),
            std::nullopt);
  ASSERT_TRUE(limited.Begin());
  EXPECT_EQ(limited.Load("east", Rows({kPlain}, "east")), 1) << limited.Error().toStdString();
  EXPECT_TRUE(limited.SavePosition("east", "f.log", {{10, 2}, "1:2", "ab"}))
      << limited.Error().toStdString();
  EXPECT_TRUE(limited.SavePosition("east", "f.log", {{20, 3}, "1:2", "abcd"}))
      << limited.Error().toStdString();
  EXPECT_TRUE(limited.Commit());
  EXPECT_EQ(limited.Positions("east")->at("f.log").at.offset, 20);

  CallStore badZone;
  EXPECT_TRUE(badZone.Open(PgServer::Shared().Conninfo(), "Nowhere/Atlantis", "test"));
}

// What is one row: a line read again is one, two lines are two even with the same bytes; a
// call with a start that another journal (log folder) of the exchange holds is not doubled.
struct FileLoad {
  const char* file;
  const char* journal;
  std::vector<QByteArray> records;
  qint64 inserted;
};
struct IdentityCase {
  const char* name;
  std::vector<FileLoad> loads;
};
void PrintTo(const IdentityCase& c, std::ostream* out) { *out << c.name; }

class LineIdentityTest : public CallStoreTest, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(LineIdentityTest, StoresEachLineOnce) {
  CallStore store;
  ASSERT_EQ(store.Open(PgServer::Shared().Conninfo(), "UTC", "test"), std::nullopt);
  const QByteArray exchange = QByteArray("identity-") + GetParam().name;
  for (const FileLoad& load : GetParam().loads) {
    ASSERT_TRUE(store.Begin());
    EXPECT_EQ(store.Load(exchange, Rows(load.records, exchange, load.file, load.journal)),
              load.inserted)
        << load.file << " " << store.Error().toStdString();
    ASSERT_TRUE(store.Commit());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineIdentityTest,
    ::testing::Values(
        IdentityCase{"TwoRepliesWithTheSameBytes", {{"a.log", "/j", {kNoTimes, kPlain, kNoTimes, kPlain}, 4}}},
        IdentityCase{"Reload", {{"a.log", "/j", {kNoTimes, kNoTimes}, 2}, {"a.log", "/j", {kNoTimes, kNoTimes}, 0}}},
        IdentityCase{"FileGrownSinceTheLastLoad", {{"a.log", "/j", {kNoTimes}, 1}, {"a.log", "/j", {kNoTimes, kNoTimes}, 1}}},
        IdentityCase{"CopiedElsewhereAndReloaded", {{"a.log", "/j", {kNoTimes, kPlain}, 2}, {"a.log", "/copy", {kNoTimes, kPlain}, 0}}},
        IdentityCase{"AnotherFileOfTheSameJournal", {{"a.log", "/j", {kPlain, kNoTimes}, 2}, {"b.log", "/j", {kPlain, kNoTimes}, 2}}},
        // The desktop tool's and the collector's folders: a call with a start is stored once.
        IdentityCase{"AnotherProgramsJournal", {{"a.log", "/desk", {kPlain, kNoTimes}, 2}, {"b.log", "/coll", {kPlain, kNoTimes}, 1}}}),
    [](const auto& info) { return std::string(info.param.name); });

// A collector's role, given its exchange by vorlan-load --grant-collector, reads and writes
// that exchange's rows and positions, and is refused another's.
TEST_F(CallStoreTest, GrantedCollectorIsRefusedAnotherExchange) {
  Query("CREATE DATABASE granted");
  const QByteArray conninfo = PgServer::Shared().Conninfo("granted");
  CallStore owner;
  ASSERT_EQ(owner.Open(conninfo, "UTC", "test"), std::nullopt);
  ASSERT_TRUE(owner.Begin());
  ASSERT_EQ(owner.Load("west", Rows({kPlain}, "west")), 1);
  ASSERT_TRUE(owner.SavePosition("west", "f.log", {{10, 2}, "1:2", "ab"}));
  ASSERT_TRUE(owner.Commit());
  ASSERT_TRUE(owner.Connection().Run("CREATE ROLE east_collector LOGIN"));
  QProcess grant;
  grant.start(VORLAN_LOAD_PATH, {"--store", QString::fromUtf8(conninfo), "--grant-collector",
                                 "east_collector", "--exchange", "east"});
  ASSERT_TRUE(grant.waitForFinished(60000));
  ASSERT_EQ(grant.exitCode(), 0) << grant.readAllStandardError().toStdString();

  CallStore east;
  ASSERT_EQ(east.Open(QByteArray(conninfo).replace("user=postgres", "user=east_collector"), "UTC",
                      "test"),
            std::nullopt);
  ASSERT_TRUE(east.Begin());
  EXPECT_EQ(east.Load("east", Rows({kPlain, kNoTimes}, "east")), 2) << east.Error().toStdString();
  EXPECT_TRUE(east.SavePosition("east", "f.log", {{20, 3}, "1:2", "ab"}));
  ASSERT_TRUE(east.Commit());
  // Another exchange's rows and positions: not seen, not written, not moved.
  PgConnection& connection = east.Connection();
  EXPECT_EQ(connection.Exec("SELECT count(*) FROM calls").Value(0, 0), "2");
  EXPECT_TRUE(east.Positions("west")->empty());
  EXPECT_EQ(connection.Exec("UPDATE store_positions SET byte_offset = 0 WHERE exchange = 'west'")
                .AffectedRows(),
            0);
  ASSERT_TRUE(east.Begin());
  EXPECT_EQ(east.Load("west", Rows({kAwkward}, "west")), std::nullopt);
  EXPECT_TRUE(east.Error().contains("row-level security")) << east.Error().toStdString();
  east.Rollback();
  EXPECT_FALSE(east.SavePosition("west", "g.log", {{20, 3}, "1:2", "ab"}));
  EXPECT_FALSE(connection.Run("CREATE TABLE mine (x integer)"));
  EXPECT_EQ(Query("SELECT 1") , "1");
  PgConnection check;
  ASSERT_TRUE(check.Open(conninfo));
  EXPECT_EQ(check.Exec("SELECT string_agg(exchange || ':' || byte_offset, ',' ORDER BY exchange)"
                       " FROM store_positions").Value(0, 0),
            "east:20,west:10");
}

TEST_F(CallStoreTest, VorlanLoadCountsAndExitCodes) {
  QTemporaryDir folder;
  auto write = [&folder](const QString& name, const QByteArray& bytes) {
    QFile file(folder.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    return file.fileName();
  };
  const QString first = write("01151230.log", kPlain + "\r\n<BAD>:" + kAwkward + "\r\nnoise\r\n");
  const QString second = write("01151330.log", kPlain + "\r\n" + kNoTimes + "\r\n");
  const QString binary = write("image.log", "\x02\x03\r\nxx\r\nyy\r\n");
  auto load = [](const QStringList& arguments) {
    QProcess process;
    process.start(VORLAN_LOAD_PATH, arguments);
    process.waitForFinished(60000);
    return std::pair(process.exitCode(),
                     (process.readAllStandardOutput() + process.readAllStandardError()).toStdString());
  };
  const QStringList store{"--store", QString::fromUtf8(PgServer::Shared().Conninfo()), "--exchange", "west"};
  // Every line its own row, also two lines with the same bytes; a reload stores nothing.
  EXPECT_EQ(load(store + QStringList{first, second}),
            std::pair(0, std::string("4 inserted, 0 already stored, 1 lines not records\n")));
  EXPECT_EQ(load(store + QStringList{second, first}),
            std::pair(0, std::string("0 inserted, 4 already stored, 1 lines not records\n")));
  EXPECT_EQ(load(store + QStringList{binary}).first, 1);
  EXPECT_EQ(Query("SELECT count(*) || '/' || count(*) FILTER (WHERE marked_bad) FROM calls WHERE "
                  "exchange = 'west'"),
            "4/1");
  // A file read in pieces that grow: every line once, in its place.
  const QString large = write("01151430.log", (kPlain + "\r\n").repeated(20000));
  EXPECT_EQ(load(store + QStringList{large}),
            std::pair(0, std::string("20000 inserted, 0 already stored, 0 lines not records\n")));
  EXPECT_EQ(Query("SELECT count(DISTINCT log_line) || '/' || max(log_line) FROM calls"
                  " WHERE log_file = '01151430.log'"),
            "20000/20000");
  EXPECT_EQ(load({"--store", "host=/nowhere password=secret", "--exchange", "w", first}).first, 2);
  EXPECT_EQ(load({"--store", "host=/nowhere", "--exchange", "w", first}).first, 3);
}

// The forwarder alone, on a log folder the test writes: it loads whole records only, and a
// file cut back under its position is read again rather than skipped.
TEST_F(CallStoreTest, ForwarderLoadsWholeRecordsAndFollowsAFileCutBack) {
  CallStore schema;
  ASSERT_EQ(schema.Open(PgServer::Shared().Conninfo(), "UTC", "test"), std::nullopt);
  QTemporaryDir logs;
  QFile file(logs.filePath("01151230.log"));
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
  Forwarder forwarder({PgServer::Shared().Conninfo(), "forwarded", "UTC", logs.path()}, [](auto, auto&) {});
  auto rowsReach = [this](int expected) {
    int rows = -1;
    for (int tries = 0; tries < 1000 && rows != expected; ++tries) {
      QThread::msleep(20);
      rows = Query("SELECT count(*) FROM calls WHERE exchange = 'forwarded'").toInt();
    }
    return rows;
  };
  file.write(kPlain + "\r\n" + kAwkward.left(20));
  forwarder.Start();
  EXPECT_EQ(rowsReach(1), 1);
  file.write(kAwkward.mid(20) + "\r\n");
  EXPECT_EQ(rowsReach(2), 2);
  // Cut back to its first line, then a shorter file than the position gets a new record.
  file.resize(kPlain.size() + 2);
  file.seek(kPlain.size() + 2);
  file.write(kNoTimes + "\r\n");
  EXPECT_EQ(rowsReach(3), 3);
  forwarder.Stop();
  EXPECT_EQ(Query("SELECT byte_offset FROM store_positions WHERE exchange = 'forwarded'"),
            QByteArray::number(file.size()));
}

}  // namespace
