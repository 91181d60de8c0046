#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <limits>

#include "app/texts.h"
#include "support/fake_exchange.h"
#include "receive_rig.h"
#include "session/record_step.h"
#include "support/form_fixture.h"
#include "file_size_limit.h"
#include "hex.h"
#include "logging/record_log.h"

namespace vorlan {
namespace {

using namespace std::chrono_literals;

class ReceiveTest : public ::testing::Test, public ReceiveRig {};

// The example every reader of the receive path starts from.
TEST_F(ReceiveTest, WorkedExampleByteForByte) {
  StartDownload();
  Arrive(kHeader + "A" + "\x02" "05 01 15 CALL\x03" "Z");
  EXPECT_EQ(Raw(),
            " ->: 16 32 30 30 30 30 31 30 31 41 \r\n"
            " \x02" "05.01.15.CALL\x03\r\n"
            "<- : 16 34 30 30 30 30 34 30 31 41 6 B9 \r\n");
  EXPECT_EQ(Hex(Peer().TakeSent()), "16 34 30 30 30 30 34 30 31 41 06 B9");
  EXPECT_EQ(m_form.StatusBar.Panel(3), "Records = 1");
  EXPECT_EQ(m_form.FormOutput.Caption(), "Vorlan(RAW Data) Records = 1  Device ID = 1");
  EXPECT_EQ(m_form.StatusBar.Panel(2), "");
  EXPECT_EQ(m_form.TimerDnld().Interval(), 1);
  EXPECT_TRUE(m_form.TimerDnld().Enabled());
  EXPECT_EQ(Hex(Log()), Hex("\x02" "05.01.15.CALL\x03\r\n"));
}

TEST_F(ReceiveTest, SeveralRecordsOneAcknowledgement) {
  StartDownload();
  Arrive(kHeader + "Q" + "\x02" "A B\x03\x02" "C\x03" "x");
  EXPECT_EQ(Hex(Log()), Hex("\x02" "A.B\x03\r\n\x02" "C\x03\r\n"));
  EXPECT_EQ(m_form.RecordCount(), 2);
  EXPECT_EQ(Hex(Peer().TakeSent()), Hex(frame::DataAcknowledgement("1", 'Q')));
  EXPECT_EQ(m_form.TimerDnld().Interval(), 1);
}

TEST_F(ReceiveTest, HeaderOnlyReplyIsAcknowledgedWithNoRecord) {
  StartDownload();
  Arrive(kHeader + "B");
  m_platform.RunFor(kReplyRestWait + 200ms);
  EXPECT_EQ(m_form.RecordCount(), 0);
  EXPECT_EQ(Hex(Peer().TakeSent().left(12)), Hex(frame::DataAcknowledgement("1", 'B')));
  EXPECT_EQ(Log(), "");
}

TEST_F(ReceiveTest, TextBeforeAnStxIsNotPartOfTheRecord) {
  StartDownload();
  // A stray ETX before the record does not hold the record back.
  Arrive(kHeader + "C" + "xy\x03z\x02" "REC\x03" "z");
  EXPECT_EQ(Hex(Log()), Hex("\x02" "REC\x03\r\n"));
  EXPECT_EQ(Hex(Peer().TakeSent()), Hex(frame::DataAcknowledgement("1", 'C')));
}

TEST_F(ReceiveTest, StatusRepliesSetTheirTextsAndTheNextRequestsInterval) {
  struct Case {
    char result;
    const char* text;
    int interval;
  };
  const Case cases[] = {{'1', "PBX Buffer Empty...", 3000},
                        {'3', "CheckSum Error", 3000},
                        {'2', "Status Monitor OK...", 3000}};  // left as it was
  StartDownload();
  for (const Case& c : cases) {
    m_form.Session().RequestData();  // each reply answers a request of its own
    m_platform.RunFor(kLampFlash);
    Arrive(FakeExchange::Status("1", c.result));
    EXPECT_EQ(m_form.StatusBar.Panel(2), c.text);
    EXPECT_EQ(m_form.TimerDnld().Interval(), c.interval) << c.text;
    EXPECT_TRUE(m_form.TimerDnld().Enabled()) << c.text;
  }
  m_form.Session().RequestData();
  m_platform.RunFor(kLampFlash);
  Peer().TakeSent();
  Arrive(QByteArray("\x16" "3000030" "1" "4" "trailing"));
  EXPECT_EQ(m_form.StatusBar.Panel(2), "PBX Port Busy..");
  EXPECT_EQ(m_form.TimerDnld().Interval(), 3000);
  EXPECT_EQ(Hex(Peer().TakeSent()), "") << "status replies are not acknowledged";
}

TEST_F(ReceiveTest, UnrecognisedTextIsReportedAndChangesNothingElse) {
  StartDownload();
  m_form.StatusBar.SetPanel(2, "before");
  Arrive(FakeExchange::Status("2", '2'));  // another device's reply
  EXPECT_EQ(Raw(),
            " ->: 16 33 30 30 30 30 33 30 32 32 \r\n ->: Error \r\n"
            " ->: The exchange answers as device 2 while Device ID is 1\r\n");
  EXPECT_EQ(m_form.StatusBar.Panel(2), "before");
  EXPECT_EQ(m_form.TimerDnld().Interval(), 100) << "the first request's, left as it was";
  EXPECT_EQ(Hex(Peer().TakeSent()), "");
}

TEST_F(ReceiveTest, StopIsConfirmedByTheNextArrivalOfAnyKind) {
  StartDownload();
  m_form.CmdStop_Click();
  EXPECT_FALSE(m_form.StopDone());
  EXPECT_EQ(m_form.StatusBar.Panel(2), "Please Wait...");
  Arrive(kHeader + "D" + "\x02" "LATE\x03" "z");  // the outstanding request's reply
  EXPECT_TRUE(m_form.StopDone());
  EXPECT_TRUE(m_form.HeartBeatTimer().Enabled());
  EXPECT_TRUE(m_form.CmdDisconnect.Enabled());
  EXPECT_EQ(m_form.StatusBar.Panel(1), "");
  EXPECT_FALSE(m_form.TimerDnld().Enabled());
  EXPECT_EQ(Hex(Log()), Hex("\x02" "LATE\x03\r\n")) << "its records are still taken";
}

TEST_F(ReceiveTest, AShortDataHeaderWaitsForItsRest) {
  StartDownload();
  Arrive(QByteArray("\x16" "20"));
  EXPECT_EQ(Hex(Peer().TakeSent()), "");
  Arrive(QByteArray("00101" "1F" "\x02" "R\x03" "z"));
  EXPECT_EQ(Hex(Log()), Hex("\x02" "R\x03\r\n"));
  EXPECT_EQ(Hex(Peer().TakeSent()), Hex(frame::DataAcknowledgement("1", 'F')));
}

TEST_F(ReceiveTest, AShortDataHeaderThatNeverCompletesIsUnrecognised) {
  StartDownload();
  Arrive(QByteArray("\x16" "2000"));
  Arrive(FakeExchange::Status("1", '1'));
  EXPECT_NE(Raw().find(" ->: Error \r\n"), std::string::npos);
  EXPECT_EQ(m_form.StatusBar.Panel(2), "PBX Buffer Empty...");
  EXPECT_EQ(Hex(Peer().TakeSent()), "");
}

// A record that the exchange continues in its next data reply is logged whole.
TEST_F(ReceiveTest, RecordAcrossTwoDataRepliesIsLoggedWhole) {
  StartDownload();
  // The exchange sends the second reply unasked; both are acknowledged, oldest first, once the
  // joined record is in the log, and only one request follows.
  SendAt(0ms, kHeader + "I" + "\x02" "FIRST\x03\x02" "HEAD ");
  SendAt(300ms, kHeader + "J" + "T\x16IL\x03\x02" "NEXT\x03" "z");
  m_platform.RunFor(1000ms);
  EXPECT_EQ(Hex(Log()), Hex("\x02" "FIRST\x03\r\n\x02" "HEAD.T\x16IL\x03\r\n\x02" "NEXT\x03\r\n"));
  const QByteArray sent = Peer().TakeSent();
  const QByteArray ackI = frame::DataAcknowledgement("1", 'I');
  const QByteArray ackJ = frame::DataAcknowledgement("1", 'J');
  EXPECT_EQ(sent.count(ackI), 1);
  EXPECT_EQ(sent.count(ackJ), 1);
  EXPECT_LT(sent.indexOf(ackI), sent.indexOf(ackJ));
  EXPECT_EQ(sent.count(frame::DataRequest("1")), 1);
}

// The rest of one reply and the whole next one in a single arrival: each reply is handled and
// acknowledged with its own block character.
TEST_F(ReceiveTest, OneArrivalHoldingTwoRepliesIsHandledAsTwo) {
  StartDownload();
  SendAt(0ms, kHeader + "P" + "\x02" "ONE\x03\x02" "HE");
  SendAt(10ms, QByteArray("AD\x03" "z") + kHeader + "Q" + "\x02" "TWO\x03" "\x16");
  m_platform.RunFor(400ms);
  EXPECT_EQ(Hex(Log()), Hex("\x02" "ONE\x03\r\n\x02" "HEAD\x03\r\n\x02" "TWO\x03\r\n"));
  const QByteArray sent = Peer().TakeSent();
  EXPECT_EQ(sent.count(frame::DataAcknowledgement("1", 'P')), 1);
  EXPECT_EQ(sent.count(frame::DataAcknowledgement("1", 'Q')), 1);
}

// The unexamined last character of a reply may be any byte, STX and SYN included; it never
// becomes part of the next reply's records.
TEST_F(ReceiveTest, LastCharacterOfAReplyStaysOutOfTheNextOne) {
  StartDownload();
  QByteArray expected;
  for (const char last : {'\x02', '\x16', '\x03'}) {
    const QByteArray a = "\x02" "A" + QByteArray::number(last) + "\x03";
    const QByteArray b = "\x02" "B" + QByteArray::number(last) + "\x03";
    Arrive(kHeader + "R" + a + last);
    m_platform.RunFor(kReplyRestWait + 400ms);
    Arrive(kHeader + "S" + b + "z");
    m_platform.RunFor(400ms);
    expected += a + "\r\n" + b + "\r\n";
  }
  EXPECT_EQ(Hex(Log()), Hex(expected));
  const QByteArray sent = Peer().TakeSent();
  EXPECT_EQ(sent.count(frame::DataAcknowledgement("1", 'R')), 3);
  EXPECT_EQ(sent.count(frame::DataAcknowledgement("1", 'S')), 3);
}

// An exchange that opens a record and never closes it: what is held stays bounded, and at the
// request's deadline the text is given up, shown shortened, and the request sent again; the
// reply that carried it is not acknowledged.
TEST_F(ReceiveTest, EndlessRecordIsGivenUpWithoutGrowingOrAcknowledging) {
  StartDownload();
  Peer().PeerSend(kHeader + "K" + "\x02" "START");
  qsizetype largest = 0;
  for (int i = 0; i < 400; ++i) {
    m_platform.At(std::chrono::milliseconds(i), [this, &largest] {
      Peer().PeerSend(QByteArray(4096, 'x'));
      largest = std::max(largest, m_form.Session().Step().Held());
    });
  }
  m_platform.RunFor(kDataRequestTimeout + kLampFlash);
  EXPECT_LE(largest, link::ReplyReader::kMaxRecord);
  EXPECT_EQ(m_form.Session().Step().Held(), 0);
  const QByteArray sent = Peer().TakeSent();
  EXPECT_EQ(sent.count(frame::DataAcknowledgement("1", 'K')), 0);
  EXPECT_EQ(sent.count(frame::DataRequest("1")), 1) << "sent again once, at the deadline";
  EXPECT_NE(Raw().find(" ->: Error \x02" "STARTxxx"), std::string::npos);
  EXPECT_NE(Raw().find("characters)\r\n"), std::string::npos) << "shown shortened";
  EXPECT_LT(m_form.txtout().Text().size(), 17000);
  EXPECT_EQ(Log(), "");
}

// What the log file could not take is not acknowledged, and the operator is told.
TEST_F(ReceiveTest, LogWriteFailureStopsTheDownloadWithoutAcknowledging) {
  StartDownload();
  // Every append to the log file fails from here, as on a full disk.
  const FileSizeLimit full(0);
  if (!full.Active()) GTEST_SKIP() << "no file size limit here";
  Arrive(kHeader + "L" + "\x02" "LOST?\x03" "z");
  EXPECT_EQ(Hex(Peer().TakeSent()), "");
  ASSERT_EQ(m_dialogs.boxes.size(), 1u);
  EXPECT_EQ(m_dialogs.boxes[0].title, "VORLAN");
  EXPECT_EQ(m_dialogs.boxes[0].icon, Dialogs::Icon::Warning);
  EXPECT_TRUE(m_form.StopRequested());
  EXPECT_FALSE(m_form.CmdStop.Enabled());
  EXPECT_EQ(m_form.RecordCount(), 0) << "shown and counted once it is logged, when it comes again";
}

TEST_F(ReceiveTest, ArrivalWhileClosedOnlyRunsTheClosingSteps) {
  StartDownload();
  m_form.CmdStop_Click();
  Peer().PeerSend(kHeader + "M" + "\x02" "X\x03");
  Peer().Close();  // closed before the arrival is handled: its bytes are gone
  m_platform.RunFor(1ms);
  EXPECT_EQ(m_form.RecordCount(), 0);
}

// A reply ending on an STX may be a record cut by the network: it waits for more until the
// connection's replies have shown that they end so.
TEST_F(ReceiveTest, LoneTrailingStxWaitsOnlyUntilTheExchangeShowsItsHabit) {
  StartDownload();
  for (const char block : {'T', 'W'}) {
    const auto start = m_platform.Elapsed();
    Arrive(kHeader + block + "\x02" + block + "\x03\x02");
    m_platform.WaitUntil(
        [&] { return Peer().Sent().contains(frame::DataAcknowledgement("1", block)); }, 5s);
    const auto took = m_platform.Elapsed() - start;
    EXPECT_TRUE(block == 'T' ? took >= kReplyRestWait : took <= kReplyEndGrace + 150ms)
        << block << " took " << took.count() << " ms";
  }
  EXPECT_EQ(Hex(Log()), Hex("\x02" "T\x03\r\n\x02" "W\x03\r\n"));
}

// A close in the middle of a record: nothing of it reaches the next connection, and the
// interrupted arrival does not touch the window that the close reset.
TEST_F(ReceiveTest, CloseInsideARecordLeavesNothingForTheNextConnection) {
  StartDownload();
  SendAt(0ms, kHeader + "U" + "\x02" "HALF OF A REC");
  SendAt(20ms, QByteArray());
  m_platform.At(30ms, [&] { Peer().PeerClose(); });
  m_platform.RunFor(3s);
  EXPECT_EQ(m_form.StatusBar.Panel(1), "  PBX Disconnected!  ");
  EXPECT_FALSE(m_form.HeartBeatTimer().Enabled());
  EXPECT_FALSE(m_form.CmdDisconnect.Enabled());
  EXPECT_EQ(m_form.Session().Step().Held(), 0);
  Reconnect();
  Arrive(kHeader + "V" + "\x02" "NEW\x03" "z");
  m_platform.RunFor(200ms);
  EXPECT_EQ(Hex(Log()), Hex("\x02" "NEW\x03\r\n"));
  EXPECT_EQ(Peer().TakeSent().count(frame::DataAcknowledgement("1", 'U')), 0);
}
}  // namespace
}  // namespace vorlan
