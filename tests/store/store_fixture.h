#pragma once

// What the store's tests share: log lines as a batch, and a database of the suite's server.
#include <gtest/gtest.h>

#include <QBuffer>

#include <optional>
#include <vector>

#include "call_records.h"
#include "store/call_store.h"
#include "store/log_batch.h"
#include "support/pg_server.h"

using namespace vorlan;
using namespace vorlan::store;
using records::Item;
using records::Record;
using records::Times;

// The lines of a log file read to its end as one batch.
inline LogBatch Lines(QByteArray log, const QByteArray& exchange, const QString& file = "f.log",
                      const QByteArray& journal = "/logs") {
  QBuffer device(&log);
  device.open(QIODevice::ReadOnly);
  const LogPosition start = FileStart(file);
  logging::LogStream stream(device, 0, 1, start.key);
  return ReadBatch(stream, start, true, exchange, file.toUtf8(), journal);
}

// Records, one a line.
inline LogBatch Rows(const std::vector<QByteArray>& records, const QByteArray& exchange,
                     const QString& file = "f.log", const QByteArray& journal = "/logs") {
  QByteArray log;
  for (const QByteArray& record : records) log += record + "\r\n";
  return Lines(log, exchange, file, journal);
}

// m_db: the server's own database, or the one of Use.
class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(PgServer::Shared().Ok()) << PgServer::Shared().Error().toStdString();
    m_conninfo = PgServer::Shared().Conninfo();
    ASSERT_TRUE(m_db.Open(m_conninfo)) << m_db.Error().toStdString();
  }
  // A new database, and m_db on it in UTC.
  void Use(const char* database) {
    ASSERT_TRUE(m_db.Run((QByteArray("CREATE DATABASE ") + database).constData()));
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
  // A log file loaded into the database of Use in one transaction.
  std::optional<qint64> Load(const char* zone, const QByteArray& exchange, const QByteArray& log,
                             const QString& file = "m.log") {
    CallStore store;
    EXPECT_EQ(store.Open(m_conninfo, zone, "test"), std::nullopt);
    EXPECT_TRUE(store.Begin());
    const std::optional<qint64> inserted = store.Load(exchange, Lines(log, exchange, file));
    EXPECT_TRUE(store.Commit()) << store.Error().toStdString();
    return inserted;
  }
  QByteArray m_conninfo;
  PgConnection m_db;
};
