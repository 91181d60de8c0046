// The record path as the exchange and the log see it: what is logged, what is acknowledged and
// in which order, when the next data request follows, paced as the window paces it.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "session_rig.h"
#include "support/session_probe.h"

namespace vorlan::session {
namespace {

// The blocks acknowledged in `sent`, in order.
std::string AckedBlocks(const QByteArray& sent) {
  const QByteArray start = frame::DataAcknowledgement("1", 'A').left(9);
  std::string blocks;
  for (qsizetype at = sent.indexOf(start); at >= 0 && at + 9 < sent.size();
       at = sent.indexOf(start, at + 1)) {
    blocks += sent[at + 9];
  }
  return blocks;
}

// Each row: what the exchange sends and when (from the first data request on); the log, the
// blocks acknowledged in order, the records counted and the data requests that follow.
TEST(RecordPath, RepliesLoggedAndAcknowledged) {
  using Sends = std::vector<std::pair<std::chrono::milliseconds, QByteArray>>;
  const auto lastCharacters = [] {
    Sends sends;
    auto at = 0ms;
    for (const char last : {'\x02', '\x16', '\x03'}) {
      const QByteArray n = QByteArray::number(last);
      sends.push_back({at, kHeader + "R" + "\x02" "A" + n + "\x03" + last});
      sends.push_back({at + kReplyRestWait + 450ms, kHeader + "S" + "\x02" "B" + n + "\x03" "z"});
      at += kReplyRestWait + 1000ms;
    }
    return sends;
  };
  const struct {
    const char* name;
    Sends sends;
    QByteArray log;
    std::string acked;
    qint32 count;
    int requests;  // -1: not counted
    std::chrono::milliseconds run = 1000ms;
  } rows[] = {
      {"one record", {{0ms, kHeader + "A" + "\x02" "05 01 15 CALL\x03" "Z"}},
       "\x02" "05.01.15.CALL\x03\r\n", "A", 1, 1},
      {"several records, one acknowledgement", {{0ms, kHeader + "Q" + "\x02" "A B\x03\x02" "C\x03" "x"}},
       "\x02" "A.B\x03\r\n\x02" "C\x03\r\n", "Q", 2, 1},
      {"a header alone", {{0ms, kHeader + "B"}}, "", "B", 0, 1, kReplyRestWait + 300ms},
      // A stray ETX before the record does not hold it back.
      {"text before an STX", {{0ms, kHeader + "C" + "xy\x03z\x02" "REC\x03" "z"}},
       "\x02" "REC\x03\r\n", "C", 1, 1},
      {"a short header and its rest", {{0ms, "\x16" "20"}, {60ms, "00101" "1F" "\x02" "R\x03" "z"}},
       "\x02" "R\x03\r\n", "F", 1, 1},
      // Sent unasked, the second reply is part of the first one's answer: one request follows.
      {"a record across two replies",
       {{0ms, kHeader + "I" + "\x02" "FIRST\x03\x02" "HEAD "},
        {300ms, kHeader + "J" + "T\x16IL\x03\x02" "NEXT\x03" "z"}},
       "\x02" "FIRST\x03\r\n\x02" "HEAD.T\x16IL\x03\r\n\x02" "NEXT\x03\r\n", "IJ", 3, 1},
      {"one arrival holding two replies",
       {{0ms, kHeader + "P" + "\x02" "ONE\x03\x02" "HE"},
        {10ms, QByteArray("AD\x03" "z") + kHeader + "Q" + "\x02" "TWO\x03" "\x16"}},
       "\x02" "ONE\x03\r\n\x02" "HEAD\x03\r\n\x02" "TWO\x03\r\n", "PQ", 3, -1},
      // The unexamined last character, STX and SYN included, stays out of the next reply.
      {"last characters STX, SYN and ETX", lastCharacters(),
       "\x02" "A2\x03\r\n\x02" "B2\x03\r\n\x02" "A22\x03\r\n\x02" "B22\x03\r\n\x02" "A3\x03\r\n\x02"
       "B3\x03\r\n",
       "RSRSRS", 6, -1, 3 * (kReplyRestWait + 1000ms)},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    PacedRig rig;
    rig.StartDownload();
    for (const auto& [at, bytes] : row.sends) rig.SendAt(at, bytes);
    rig.platform.RunFor(row.run);
    EXPECT_EQ(Hex(rig.Log()), Hex(row.log));
    const QByteArray sent = rig.Peer().TakeSent();
    EXPECT_EQ(AckedBlocks(sent), row.acked);
    EXPECT_EQ(rig.session.RecordCount(), row.count);
    if (row.requests >= 0) {
      EXPECT_EQ(sent.count(frame::DataRequest("1")), row.requests);
    }
  }
}

// The next data request follows a data reply's acknowledgement at once, a buffer-empty, a
// checksum-error or a port-busy reply after 3 s; a status-OK reply leaves the interval as it was.
// Status replies are not acknowledged.
TEST(RecordPath, NextRequestAfterEachKindOfAnswer) {
  const struct {
    const char* name;
    QByteArray answer;
    std::chrono::milliseconds next;
  } rows[] = {
      {"a data reply", kHeader + "A" + "\x02" "R\x03" "z", kNextDataRequest},
      {"buffer empty", FakeExchange::Status("1", '1'), kRetryDataRequest},
      {"checksum error", FakeExchange::Status("1", '3'), kRetryDataRequest},
      {"status OK", FakeExchange::Status("1", '2'), kRetryDataRequest},
      {"port busy, trailing text", QByteArray("\x16" "3000030" "1" "4" "trailing"),
       kRetryDataRequest},
  };
  PacedRig rig;
  rig.StartDownload();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    rig.Arrive(row.answer);
    EXPECT_EQ(rig.watch.NextRequest(kLampFlash, 5s), row.next);
    EXPECT_EQ(AckedBlocks(rig.Peer().TakeSent()), row.answer[1] == '2' ? "A" : "");
  }
}

// Answers that are no reply arm the next request at once twice, then wait as for a busy
// exchange until a reply is recognised; a well-formed reply of another device is named once.
TEST(RecordPath, AnswersThatAreNoReplyBackOff) {
  const struct {
    const char* name;
    QByteArray answer;
    char named;  // the device the session names, if any
  } rows[] = {
      {"status-OK of device 2", FakeExchange::Status("2", '2'), '2'},
      {"buffer-empty of device 0", FakeExchange::Status("0", '1'), '0'},
      {"port-busy of device 3, no check byte", QByteArray("\x16" "3000030" "3" "4"), '3'},
      {"device 2, wrong check byte", FakeExchange::Status("2", '2').chopped(1) + "\x01", 0},
      {"own device, result 5", FakeExchange::Status("1", '5'), 0},
      {"no frame at all", "noise", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    PacedRig rig;
    QSignalSpy foreign(&rig.session, &Session::ForeignDeviceId);
    QSignalSpy unrecognised(&rig.session, &Session::UnrecognisedReply);
    rig.StartDownload();
    std::vector<qint64> intervals;
    for (int i = 0; i < 4; ++i) {
      rig.Arrive(row.answer);
      intervals.push_back(rig.watch.NextRequest(kLampFlash, 5s).count());
    }
    // A data reply ends the run of answers that are no reply: the next one counts from one.
    rig.Arrive(kHeader + "A" + "\x02" "R\x03" "z");
    rig.watch.NextRequest(kLampFlash, 1s);
    rig.Arrive(row.answer);
    intervals.push_back(rig.watch.NextRequest(kLampFlash, 5s).count());
    EXPECT_EQ(intervals, (std::vector<qint64>{100, 100, 3000, 3000, 1}));
    EXPECT_EQ(unrecognised.size(), 5);
    ASSERT_EQ(foreign.size(), row.named != 0 ? 1 : 0) << "named once a connection";
    if (row.named != 0) {
      EXPECT_EQ(foreign[0][0].value<char>(), row.named);
    }
  }
}

// A stop is confirmed by the next arrival of any kind; the reply it brings is still logged and
// acknowledged, no data request follows, and the heartbeat polls again.
TEST(RecordPath, StopConfirmedByTheNextArrival) {
  PacedRig rig;
  QSignalSpy confirmed(&rig.session, &Session::StopCompleted);
  rig.StartDownload();
  rig.session.StopDownload();
  EXPECT_EQ(rig.session.DownloadState(), Session::Download::Stopping);
  rig.Arrive(kHeader + "D" + "\x02" "LATE\x03" "z");
  EXPECT_EQ(confirmed.size(), 1);
  EXPECT_EQ(rig.session.DownloadState(), Session::Download::Idle);
  EXPECT_EQ(Hex(rig.Log()), Hex("\x02" "LATE\x03\r\n"));
  rig.platform.RunFor(kHeartbeatAfterStop + kLampFlash);
  const QByteArray sent = rig.Peer().TakeSent();
  EXPECT_EQ(AckedBlocks(sent), "D");
  EXPECT_EQ(sent.count(frame::DataRequest("1")), 0);
  EXPECT_EQ(sent.count(frame::StatusMonitorRequest("1")), 1);
}

// An exchange that opens a record and never closes it: what is held stays bounded, and at the
// request's deadline the text is given up and the request sent again; the reply that carried
// it is not acknowledged, nothing is logged.
TEST(RecordPath, EndlessRecordGivenUpWithoutGrowingOrAcknowledging) {
  PacedRig rig;
  QSignalSpy given(&rig.session, &Session::RecordGivenUp);
  rig.StartDownload();
  rig.Peer().PeerSend(kHeader + "K" + "\x02" "START");
  qsizetype largest = 0;
  for (int i = 0; i < 400; ++i) {
    rig.platform.At(std::chrono::milliseconds(i), [&rig, &largest] {
      rig.Peer().PeerSend(QByteArray(4096, 'x'));
      largest = std::max(largest, SessionProbe::Held(rig.session));
    });
  }
  rig.platform.RunFor(kDataRequestTimeout + kLampFlash);
  EXPECT_LE(largest, link::ReplyReader::kMaxRecord);
  EXPECT_EQ(SessionProbe::Held(rig.session), 0);
  const QByteArray sent = rig.Peer().TakeSent();
  EXPECT_EQ(AckedBlocks(sent), "");
  EXPECT_EQ(sent.count(frame::DataRequest("1")), 1) << "sent again once, at the deadline";
  ASSERT_EQ(given.size(), 1);
  EXPECT_TRUE(given[0][0].toByteArray().startsWith("\x02" "STARTxxx"));
  EXPECT_EQ(rig.Log(), "");
}

// A reply ending on an STX may be a record cut by the network: it waits for more until the
// connection's replies have shown that they end so.
TEST(RecordPath, LoneTrailingStxWaitsOnlyUntilTheExchangeShowsItsHabit) {
  PacedRig rig;
  rig.StartDownload();
  for (const char block : {'T', 'W'}) {
    const auto start = rig.platform.Elapsed();
    rig.Arrive(kHeader + block + "\x02" + block + "\x03\x02");
    rig.platform.WaitUntil(
        [&] { return rig.Peer().Sent().contains(frame::DataAcknowledgement("1", block)); }, 5s);
    const auto took = rig.platform.Elapsed() - start;
    EXPECT_TRUE(block == 'T' ? took >= kReplyRestWait : took <= kReplyEndGrace + 150ms)
        << block << " took " << took.count() << " ms";
  }
  EXPECT_EQ(Hex(rig.Log()), Hex("\x02" "T\x03\r\n\x02" "W\x03\r\n"));
}

// The link goes while a record is open or an arrival waits: nothing of it is logged or
// acknowledged, nothing reaches the next connection, and no poll goes out until the next link.
TEST(RecordPath, NothingOfAClosedConnectionReachesTheNext) {
  const struct {
    const char* name;
    bool stopFirst;  // the arrival waits behind the stop's, closed before it is read
  } rows[] = {{"closed inside a record", false}, {"closed before the arrival was read", true}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    PacedRig rig;
    QSignalSpy logged(&rig.session, &Session::RecordLogged);
    QSignalSpy unlinked(&rig.session, &Session::Unlinked);
    rig.StartDownload();
    if (row.stopFirst) {
      rig.session.StopDownload();
      rig.Peer().PeerSend(kHeader + "U" + "\x02" "X\x03");
      rig.Peer().Close();  // its bytes are gone with the connection
      rig.platform.RunFor(1ms);
    } else {
      rig.SendAt(0ms, kHeader + "U" + "\x02" "HALF OF A REC");
      rig.SendAt(20ms, QByteArray());
      rig.platform.At(30ms, [&] { rig.Peer().PeerClose(); });
      rig.platform.RunFor(100ms);
    }
    EXPECT_EQ(SessionProbe::Held(rig.session), 0);
    if (row.stopFirst) {
      EXPECT_EQ(logged.size(), 0);
      continue;
    }
    ASSERT_EQ(unlinked.size(), 1);
    rig.platform.RunFor(kHeartbeatAfterStop + kLampFlash);
    EXPECT_EQ(rig.Peer().TakeSent(), "") << "no poll on a closed link";
    EXPECT_EQ(logged.size(), 0);
    rig.session.Connect();
    rig.Peer().PeerAccept();
    rig.platform.RunFor(1ms);
    rig.session.StartDownload();
    rig.platform.RunFor(200ms);
    rig.Arrive(kHeader + "V" + "\x02" "NEW\x03" "z");
    EXPECT_EQ(Hex(rig.Log()), Hex("\x02" "NEW\x03\r\n"));
    EXPECT_EQ(AckedBlocks(rig.Peer().TakeSent()), "V");
  }
}

// One answer per request: the first text that is no reply (not the next), a late reply after the
// request was sent again; a reply given up at the deadline is counted once, when it comes again;
// a record of any length keeps the download going.
TEST(RecordPath, EachRequestIsAnsweredOnce) {
  PacedRig rig;
  rig.StartDownload();
  QSignalSpy logged(&rig.session, &Session::RecordLogged);
  FakeExchange exchange(rig.platform, rig.Peer());
  exchange.silent = true;
  const auto requests = [&] { return rig.Peer().TakeSent().count(frame::DataRequest("1")); };
  // The buffer is empty: the next request follows in 3 s, as do those after answers that are no
  // reply.
  rig.Arrive(FakeExchange::Status("1", '1'));
  rig.platform.RunFor(kRetryDataRequest + kLampFlash);
  ASSERT_EQ(requests(), 1);
  rig.Arrive("noise");
  rig.platform.RunFor(500ms);
  rig.Arrive("more noise");
  rig.platform.RunFor(2400ms);
  EXPECT_EQ(requests(), 0);
  rig.platform.RunFor(300ms);
  EXPECT_EQ(requests(), 1) << "3 s after the first noise, not after the second";

  // Sent again at its deadline; the late answer to the first, then the copy that answers the
  // second: one request follows each, and the record is logged once.
  rig.platform.RunFor(kDataRequestTimeout);
  EXPECT_EQ(requests(), 1);
  const QByteArray late = kHeader + "L" + "\x02" "LATE\x03" "z";
  for (int copy = 0; copy < 2; ++copy) {
    rig.Arrive(late);
    rig.platform.RunFor(300ms);
    EXPECT_EQ(requests(), 1) << "copy " << copy;
  }
  EXPECT_EQ(rig.session.RecordCount(), 1);
  // Cut inside a record and given up at the deadline, then sent again whole: counted once.
  rig.Arrive(kHeader + "C" + "\x02" "CUT\x03\x02" "HALF");
  rig.platform.RunFor(kDataRequestTimeout);
  EXPECT_EQ(requests(), 1) << "sent again at the deadline";
  rig.Arrive(kHeader + "D" + "\x02" "CUT\x03\x02" "HALF\x03" "z");
  rig.platform.RunFor(300ms);
  EXPECT_EQ(rig.session.RecordCount(), 3);
  EXPECT_EQ(Hex(rig.Log()), Hex("\x02" "LATE\x03\r\n\x02" "CUT\x03\r\n\x02" "HALF\x03\r\n"));

  const QByteArray huge = "\x02" + QByteArray(3 << 20, 'x') + "\x03";
  rig.Arrive(kHeader + "M" + huge + "\x02" "AFTER\x03" "z");
  rig.platform.RunFor(300ms);
  EXPECT_EQ(rig.Peer().Sent().count(frame::DataAcknowledgement("1", 'M')), 1);
  EXPECT_EQ(rig.session.RecordCount(), 5);
  EXPECT_EQ(rig.Log().mid(23), "\x02" + QByteArray(link::ReplyReader::kMaxRecord - 2, 'x') +
                               "\x03\r\n\x02" "AFTER\x03\r\n");
  ASSERT_EQ(logged.size(), 5);
  EXPECT_EQ(logged[3][2].toLongLong(), huge.size()) << "logged cut, with its length on the wire";
}

}  // namespace
}  // namespace vorlan::session
