// The record step under the cuts a network and an exchange make: every record logged once, no
// acknowledgement before a reply is whole, a reply sent again recognised only where it can come
// again.
#include <gtest/gtest.h>

#include <QFile>
#include <QRandomGenerator>

#include "hex.h"
#include "logging/record_log.h"
#include "session_rig.h"
#include "support/session_probe.h"

namespace vorlan::session {
namespace {

using CutRig = PacedRig;

// A session linked again after a cut, its download started: the same one, or a new one on the
// same logs folder (a restart), in its own time.
void Relink(Session& session, VirtualPlatform& time) {
  session.SetHost("127.0.0.1");
  session.SetDeviceId("1");
  session.Connect();
  time.SocketAt(0)->PeerAccept();
  time.RunFor(1ms);
  session.StartDownload();
  time.RunFor(200ms);
}

// The network may cut a reply anywhere: every record is logged once, and one acknowledgement
// goes out, whatever the cuts (each cut, and three pieces at random).
TEST(ReplySplits, EveryRecordLoggedOnceWhateverTheCuts) {
  const QByteArray reply = kHeader + "G" + "\x02" "ONE 1\x03\x02" "TWO\xFF\x80\x03\x02" "3\x03" "k";
  const QByteArray expected = "\x02" "ONE.1\x03\r\n\x02" "TWO\xFF\x80\x03\r\n\x02" "3\x03\r\n";
  std::vector<std::vector<qsizetype>> splits;
  for (qsizetype cut = 1; cut < reply.size(); ++cut) splits.push_back({cut});
  QRandomGenerator random(12345);
  for (int trial = 0; trial < 60; ++trial) {
    qsizetype a = 1 + random.bounded(int(reply.size() - 2));
    qsizetype b = 1 + random.bounded(int(reply.size() - 2));
    if (a > b) std::swap(a, b);
    splits.push_back({a, a == b ? b + 1 : b});
  }
  for (const auto& cuts : splits) {
    SCOPED_TRACE(cuts.size() == 1 ? "cut at " + std::to_string(cuts[0])
                                  : "cuts at " + std::to_string(cuts[0]) + " and " +
                                        std::to_string(cuts[1]));
    CutRig rig;
    rig.StartDownload();
    qsizetype from = 0;
    std::chrono::milliseconds at = 0ms;
    for (const qsizetype cut : cuts) {
      rig.SendAt(at, reply.mid(from, cut - from));
      from = cut;
      at += 5ms;
    }
    rig.SendAt(at, reply.mid(from));
    rig.platform.RunFor(400ms);
    EXPECT_EQ(Hex(rig.Log()), Hex(expected));
    EXPECT_EQ(rig.Peer().TakeSent().count(frame::DataAcknowledgement("1", 'G')), 1);
  }
}

// A reply stopped where it could be whole, or inside a record, with its rest a retransmission
// or more later: before the connection's habit is known and after, no acknowledgement before
// the rest, nothing lost.
TEST(ReplyCuts, NoAcknowledgementBeforeTheRestWhateverTheGap) {
  const QByteArray records = "\x02" "ONE\x03\x02" "TWO\x03";
  const struct {
    const char* name;
    qsizetype cut;  // into the records
  } cuts[] = {{"after the header", 0}, {"after an ETX", 5}, {"on an STX", 6}, {"in a record", 8}};
  for (const auto& cut : cuts) {
    for (const auto gap : {5ms, 120ms, 250ms, 1500ms}) {
      SCOPED_TRACE(std::string(cut.name) + ", " + std::to_string(gap.count()) + " ms");
      CutRig rig;
      QSignalSpy given(&rig.session, &Session::RecordGivenUp);
      rig.StartDownload();
      QByteArray expected;
      for (const char block : {'G', 'H'}) {
        const QByteArray reply = kHeader + block + QByteArray(records).replace('O', block) + "z";
        rig.Peer().TakeSent();
        rig.Arrive(reply.left(10 + cut.cut));
        rig.platform.RunFor(gap - 2ms);
        EXPECT_EQ(Hex(rig.Peer().Sent()), "");
        rig.Arrive(reply.mid(10 + cut.cut));
        rig.platform.RunFor(200ms);
        EXPECT_EQ(rig.Peer().Sent().count(frame::DataAcknowledgement("1", block)), 1);
        expected += QByteArray(records).replace('O', block).replace("\x03", "\x03\r\n");
      }
      EXPECT_EQ(Hex(rig.Log()), Hex(expected));
      EXPECT_TRUE(given.isEmpty());
    }
  }
}

// Only where the exchange can repeat (the first reply of a connection) are a reply's records
// compared, and only with the reply logged last, wherever it lies and however long it is, in
// the same run or after a restart; two calls with the same bytes elsewhere are both kept, and a
// new record riding along with a reply sent again is logged.
TEST(ReplyCuts, OnlyTheReplyLoggedLastIsRecognisedWhereItCanComeAgain) {
  const auto calls = [](int from, int to) {
    QByteArray records;
    for (int i = from; i < to; ++i) records += "\x02" "CALL " + QByteArray::number(i) + "\x03";
    return records;
  };
  const QByteArray huge = "\x02" + QByteArray(link::ReplyReader::kMaxRecord + 9, 'x') + "\x03";
  const auto readList = [](const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  };
  const auto writeList = [](const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
  };
  const struct {
    const char* name;
    QByteArray first, again;
    bool cut, restart, newerFile;
    int lines;
    qsizetype repeated, of;  // as the session says it
    bool listBehind = false;  // stopped after the acknowledgement, before the list was saved
  } rows[] = {
      {"two replies with the same bytes", calls(0, 1), calls(0, 1), false, false, false, 2, 0, 0},
      {"sent again after a cut", calls(0, 2), calls(0, 2), true, false, false, 2, 2, 2},
      {"sent again with a new record", calls(0, 2), calls(0, 3), true, false, false, 3, 2, 3},
      {"sent again after a restart", calls(0, 2), calls(0, 2), true, true, false, 2, 2, 2},
      {"a restart and a new record", calls(0, 2), calls(0, 3), true, true, false, 3, 2, 3},
      {"300 records sent again after a cut", calls(0, 300), calls(0, 301), true, false, false, 301,
       300, 301},
      {"a restart, another file newer by its time", calls(0, 3), calls(0, 3), true, true, true, 3,
       3, 3},
      {"a cut record sent again after a restart", calls(0, 1) + huge, calls(0, 1) + huge, true,
       true, false, 2, 2, 2},
      {"sent again after a stop that left the list behind", calls(0, 2), calls(0, 2), true, true,
       false, 3, 2, 2, true},
      {"a new reply after a stop that left the list behind", calls(0, 2), calls(5, 6), true, true,
       false, 4, 0, 0, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CutRig rig;
    rig.StartDownload();
    const QString list = rig.Logs() + "/.last-reply";
    QByteArray listBefore;
    if (row.listBehind) {
      rig.Arrive(kHeader + "P" + calls(9, 10) + "z");
      rig.platform.RunFor(100ms);
      listBefore = readList(list);
    }
    rig.Arrive(kHeader + "A" + row.first + "z");
    rig.platform.RunFor(100ms);
    const QByteArray listNamingA = readList(list);
    if (row.listBehind) writeList(list, listBefore);
    if (row.cut) rig.Peer().PeerClose();  // before the exchange read the acknowledgement
    rig.platform.RunFor(100ms);
    if (row.newerFile) {  // a clock stepped back, a file copied in: times say nothing
      QFile other(rig.Logs() + "/03051200.log");
      ASSERT_TRUE(other.open(QIODevice::WriteOnly) && other.write("\x02" "OLD\x03\r\n") > 0);
      other.setFileTime(QDateTime::currentDateTime().addDays(1), QFileDevice::FileModificationTime);
    }
    VirtualPlatform later(QDateTime(QDate(2026, 3, 5), QTime(14, 37, 50)));
    Session fresh(later, rig.Logs(), Session::Options{kLampFlash, {}, false});
    Session& session = row.restart ? fresh : rig.session;
    VirtualPlatform& time = row.restart ? later : rig.platform;
    QSignalSpy again(&session, &Session::RecordsAlreadyLogged);
    QSignalSpy logged(&session, &Session::RecordLogged);
    if (row.cut) Relink(session, time);
    time.SocketAt(0)->PeerSend(kHeader + "B" + row.again + "z");
    time.RunFor(300ms);
    EXPECT_EQ(time.SocketAt(0)->Sent().count(frame::DataAcknowledgement("1", 'B')), 1);
    EXPECT_EQ(rig.Log().count("\r\n"), row.lines);
    EXPECT_EQ(logged.size(), row.lines - row.first.count('\x03') - (row.listBehind ? 1 : 0))
        << "counted once logged";
    if (row.listBehind && row.repeated > 0) {
      EXPECT_EQ(readList(list), listNamingA) << "named again before more lines";
    }
    ASSERT_EQ(again.size(), row.repeated > 0 ? 1 : 0);
    if (row.repeated > 0) {
      EXPECT_EQ(again[0][0].value<qsizetype>(), row.repeated);
      EXPECT_EQ(again[0][1].value<qsizetype>(), row.of);
    }
  }
}

// A request sent again twice before any answer: the late answer and a copy for each request
// sent since are one reply, logged once.
TEST(ReplyCuts, AReplySentAgainForEveryRepeatedRequestIsLoggedOnce) {
  CutRig rig;
  rig.StartDownload();
  FakeExchange exchange(rig.platform, rig.Peer());
  exchange.silent = true;
  for (int again = 0; again < 2; ++again) rig.platform.RunFor(kDataRequestTimeout + 500ms);
  EXPECT_EQ(rig.Peer().TakeSent().count(frame::DataRequest("1")), 2);
  for (int copy = 0; copy < 3; ++copy) {
    rig.Arrive(kHeader + "L" + "\x02" "LATE\x03" "z");
    rig.platform.RunFor(300ms);
  }
  EXPECT_EQ(rig.session.RecordCount(), 1);
  EXPECT_EQ(Hex(rig.Log()), Hex("\x02" "LATE\x03\r\n"));
}

// The hourly switch at every 10 ms of a download cycle: no data request while another is in
// flight or a data reply awaits its acknowledgement; every record logged once, in order.
TEST(ReplyCuts, HourlySwitchAtEveryStepOfTheCycleKeepsOneRequestOneAnswer) {
  for (int step = 0; step < 20; ++step) {
    SCOPED_TRACE(step);
    CutRig rig(QDateTime(QDate(2026, 3, 5), QTime(14, 59, 59)).addMSecs(-step * 10));
    FakeExchange exchange(rig.platform, rig.Peer());
    QByteArray expected;
    for (int i = 0; i < 40; ++i) {
      const QByteArray record = "\x02" "CALL " + QByteArray::number(i) + "\x03";
      exchange.QueueReply(char('A' + i % 26), record);
      expected += QByteArray(record).replace(' ', '.') + "\r\n";
    }
    int faults = 0;
    QObject::connect(&rig.Peer(), &VirtualSocket::Sending, [&](const QByteArray& bytes) {
      faults += bytes == frame::DataRequest("1") &&
                (SessionProbe::RequestOutstanding(rig.session) || SessionProbe::ReplyOpen(rig.session));
    });
    rig.Link();
    rig.session.StartDownload();
    rig.platform.RunFor(12s);
    EXPECT_EQ(faults, 0);
    QFile before(rig.Logs() + "/03051459.log"), after(rig.Logs() + "/03051500.log");
    ASSERT_TRUE(before.open(QIODevice::ReadOnly) && after.open(QIODevice::ReadOnly));
    EXPECT_EQ(Hex(before.readAll() + after.readAll()), Hex(expected));
  }
}

}  // namespace
}  // namespace vorlan::session
