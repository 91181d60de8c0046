#include <gtest/gtest.h>

#include <QFile>

#include <functional>
#include <limits>

#include "hex.h"
#include "logging/record_log.h"
#include "platform/winsock_errors.h"
#include "session/record_step.h"
#include "session_rig.h"

namespace vorlan::session {
namespace {

TEST(RecordCount, StartsAgainPastItsLargestValue) {
  const struct {
    const char* name;
    qint32 before, after;
  } rows[] = {{"first", 0, 1}, {"any", 41, 42}, {"largest", std::numeric_limits<qint32>::max(), 0}};
  for (const auto& row : rows) EXPECT_EQ(NextRecordCount(row.before), row.after) << row.name;
}

// Each record is judged once when taken, and reported once it is on disk with its flag, the one
// count and where its line starts in the log; a reply's records go before its acknowledgement.
TEST(SessionRecords, LoggedWithFlagCountAndPosition) {
  SessionRig rig;
  FakeExchange exchange(rig.platform, rig.Peer());
  exchange.QueueReply('A', "\x02" "05 01 15 CALL\x03\x02" "X\x03");
  exchange.QueueReply('B', "\x02" "LONG\x03");
  QSignalSpy taken(&rig.session, &Session::RecordTaken);
  QSignalSpy logged(&rig.session, &Session::RecordLogged);
  QSignalSpy acks(&rig.session, &Session::Acknowledged);
  rig.Link();
  rig.session.SetMaxTime("");  // no alarm: nothing flagged
  rig.session.StartDownload();
  rig.platform.RunFor(500ms);

  ASSERT_EQ(logged.size(), 3);
  ASSERT_EQ(taken.size(), 3);
  const QByteArray first = "\x02" "05.01.15.CALL\x03";
  const struct {
    QByteArray record;
    qint32 count;
    qint64 at;
  } rows[] = {{first, 1, 0}, {"\x02" "X\x03", 2, first.size() + 2}, {"\x02" "LONG\x03", 3, 0}};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Hex(logged[i][0].toByteArray()), Hex(rows[i].record));
    EXPECT_FALSE(logged[i][1].toBool());
    EXPECT_EQ(logged[i][3].toInt(), rows[i].count);
    EXPECT_EQ(taken[i][0].toByteArray(), rows[i].record);
  }
  EXPECT_EQ(logged[1][4].toLongLong(), rows[1].at);
  EXPECT_EQ(logged[2][4].toLongLong(), first.size() + 2 + 5) << "after the first reply's lines";
  EXPECT_EQ(acks.size(), 2);
  EXPECT_EQ(rig.session.RecordCount(), 3);
}

// With no pace (the collector) the next data request leaves with the acknowledgement; the
// window's lamps pace each frame 50 ms, and the request follows 1 ms after the reply.
TEST(SessionPace, NextRequestAfterADataReply) {
  const struct {
    const char* name;
    std::chrono::milliseconds pace, gap;
  } rows[] = {{"no pace", 0ms, 0ms}, {"lamps", kLampFlash, kNextDataRequest + kLampFlash}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SessionRig rig(Session::Options{row.pace, {}, false});
    FakeExchange exchange(rig.platform, rig.Peer());
    exchange.QueueReply('A', "\x02" "ONE\x03");
    exchange.QueueReply('B', "\x02" "TWO\x03");
    rig.Link();
    rig.session.StartDownload();
    rig.platform.RunFor(1s);
    // request, ack, request, ack, request (buffer empty)
    ASSERT_GE(exchange.requests.size(), 4u);
    EXPECT_EQ(exchange.requests[1][1], '4');
    EXPECT_EQ(exchange.requests[2][1], '1');
    EXPECT_EQ(exchange.requestTimes[2] - exchange.requestTimes[1], row.gap);
  }
}

// A session that removes the empty files it made (the collector) leaves none behind an attempt
// that logged nothing; one that logged keeps its file; the window keeps them all.
TEST(SessionLogs, EmptyFilesItMadeGoWhenTheLinkEnds) {
  const struct {
    const char* name;
    bool remove;
    bool record;
    int files;
  } rows[] = {{"removes, nothing logged", true, false, 0},
              {"removes, a record logged", true, true, 1},
              {"keeps", false, false, 1}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SessionRig rig(Session::Options{0ms, {}, row.remove});
    FakeExchange exchange(rig.platform, rig.Peer());
    if (row.record) exchange.QueueReply('A', "\x02" "ONE\x03");
    QSignalSpy removed(&rig.session, &Session::LogFileRemoved);
    rig.Link();
    rig.session.StartDownload();
    rig.platform.RunFor(500ms);
    rig.Peer().PeerClose();
    rig.platform.RunFor(1ms);
    EXPECT_EQ(rig.LogFiles().size(), row.files);
    EXPECT_EQ(removed.size(), row.remove && !row.record ? 1 : 0);
  }
}

// A log file deleted while the session writes is made again, and the session says so.
TEST(SessionLogs, AFileMadeAgainIsANotice) {
  SessionRig rig;
  FakeExchange exchange(rig.platform, rig.Peer());
  exchange.QueueReply('A', "\x02" "ONE\x03");
  QSignalSpy notices(&rig.session, &Session::LogNotice);
  rig.Link();
  const QString path = rig.session.Log().Path();
  rig.session.StartDownload();
  rig.platform.RunFor(200ms);
  ASSERT_TRUE(QFile::remove(path));
  exchange.QueueReply('B', "\x02" "TWO\x03");
  rig.platform.RunFor(kRetryDataRequest + 500ms);
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(Hex(file.readAll()), Hex("\x02" "TWO\x03\r\n"));
  ASSERT_EQ(notices.size(), 1);
  EXPECT_TRUE(notices[0][0].toString().contains(QFileInfo(path).fileName()))
      << notices[0][0].toString().toStdString();
}

// The status polls sent in `span` from now.
int PollsIn(SessionRig& rig, std::chrono::milliseconds span) {
  VirtualSocket* peer = rig.platform.SocketAt(0);
  if (peer != nullptr) peer->TakeSent();
  rig.platform.RunFor(span);
  return peer == nullptr ? 0 : int(peer->TakeSent().count(frame::StatusMonitorRequest("1")));
}

// Whether the log moves to the next hour's file at the top of the hour (a linked switch waits
// for the stop at most its limit).
bool SwitchesAtTheHour(SessionRig& rig) {
  QSignalSpy switching(&rig.session, &Session::LogSwitching);
  const QDateTime now = rig.platform.Now();
  const QDateTime hour(now.date(), QTime(now.time().hour(), 0));
  rig.platform.RunFor(std::chrono::milliseconds(now.msecsTo(hour.addSecs(3600))) +
                      kSwitchStopWait + kLogTick + 100ms);
  return !switching.isEmpty();
}

// The heartbeat polls while linked and idle, and stops once Disconnect is sent or the link
// goes; the hourly switch runs from Connect on, the link up or not, but not when the log file
// could not be opened.
TEST(SessionLink, HeartbeatAndHourlySwitchFollowTheLink) {
  const struct {
    const char* name;
    std::function<void(SessionRig&)> act;
    bool polls, switches;
  } rows[] = {
      {"attempting", [](SessionRig& rig) { rig.session.Connect(); }, false, true},
      {"linked", [](SessionRig& rig) { rig.Link(); }, true, true},
      {"Disconnect sent",
       [](SessionRig& rig) {
         rig.Link();
         rig.session.Disconnect();
       },
       false, true},
      {"closed by the exchange",
       [](SessionRig& rig) {
         rig.Link();
         rig.Peer().PeerClose();
       },
       false, true},
      {"reset",
       [](SessionRig& rig) {
         rig.Link();
         rig.Peer().PeerFail(wsa::kConnectionReset, "Connection reset by peer");
       },
       false, true},
      {"no log file",
       [](SessionRig& rig) {
         QDir(rig.dir.filePath("logs")).removeRecursively();
         EXPECT_FALSE(rig.session.Connect());
       },
       false, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SessionRig rig;
    row.act(rig);
    rig.platform.RunFor(1ms);
    EXPECT_EQ(PollsIn(rig, kHeartbeatInterval + 10ms), row.polls ? 1 : 0);
    EXPECT_EQ(SwitchesAtTheHour(rig), row.switches);
  }
}

// After each way a switch can end, the next hour switches again, except when the new file
// could not be opened: then nothing switches until the next Connect.
TEST(SessionLogs, TheNextHourSwitchesAgain) {
  const struct {
    const char* name;
    bool answering, linked, dangling;
  } rows[] = {{"stop confirmed", true, true, false},
              {"no link", true, false, false},
              {"an exchange that does not answer", false, true, false},
              {"the new file cannot be opened", true, true, true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SessionRig rig(Session::Options{}, QDateTime(QDate(2026, 3, 5), QTime(14, 59, 58)));
    FakeExchange exchange(rig.platform, rig.Peer());
    exchange.silent = !row.answering;
    rig.Link();
    rig.session.StartDownload();
    if (!row.linked) rig.Peer().PeerClose();
    if (row.dangling) QFile::link(rig.Logs() + "/gone", rig.Logs() + "/03051500.log");
    EXPECT_TRUE(SwitchesAtTheHour(rig));
    EXPECT_EQ(SwitchesAtTheHour(rig), !row.dangling);
    EXPECT_EQ(QFile::exists(rig.Logs() + "/03051600.log"), !row.dangling);
  }
}

}  // namespace
}  // namespace vorlan::session
