#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QRandomGenerator>

#include <limits>

#include "app/texts.h"
#include "support/fake_exchange.h"
#include "support/form_fixture.h"
#include "file_size_limit.h"
#include "hex.h"
#include "logging/record_log.h"

namespace vorlan {
namespace {

using namespace std::chrono_literals;

// SYN, "2" and seven characters: a data reply's header without its block character.
const QByteArray kHeader = QByteArray("\x16" "2" "000010" "1");

class ReceiveRig : public FormRig {
 public:
  using FormRig::FormRig;
  // Connected with device ID 1, the download running and its first data request sent; the
  // RAW Data view emptied and what was sent forgotten.
  void StartDownload() {
    LoadAndConnect("1");
    m_form.CmdDnld_Click();
    m_platform.RunFor(150ms);
    ASSERT_EQ(Hex(Peer().TakeSent()), "16 31 30 30 30 30 32 30 31 FD");
    m_form.CmdCls_Click();
  }
  // The exchange sends `bytes` once `delay` has passed, whatever the tool is doing then.
  void SendAt(std::chrono::milliseconds delay, const QByteArray& bytes) {
    m_platform.At(delay, [this, bytes] { Peer().PeerSend(bytes); });
  }
  // Until what it brings is done: its pace, and an acknowledgement's.
  void Arrive(const QByteArray& bytes) {
    Peer().PeerSend(bytes);
    m_platform.RunFor(1ms);
    while (m_form.Session().Busy()) m_platform.RunFor(1ms);
  }
  QByteArray Log() const {
    QFile file(LogsPath() + "/03051437.log");
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no log file>");
  }
  std::string Raw() { return m_form.txtout().Text().toStdString(); }
};

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
  EXPECT_EQ(m_form.RecordCount, 2);
  EXPECT_EQ(Hex(Peer().TakeSent()), Hex(frame::DataAcknowledgement("1", 'Q')));
  EXPECT_EQ(m_form.TimerDnld().Interval(), 1);
}

TEST_F(ReceiveTest, HeaderOnlyReplyIsAcknowledgedWithNoRecord) {
  StartDownload();
  Arrive(kHeader + "B");
  m_platform.RunFor(kReplyRestWait + 200ms);
  EXPECT_EQ(m_form.RecordCount, 0);
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
  m_form.TimerDnld().SetInterval(1);
  for (const Case& c : cases) {
    m_form.TimerDnld().SetEnabled(false);
    m_form.TimerDnld_Timer();  // each reply answers a request of its own
    m_platform.RunFor(kLampFlash);
    Arrive(FakeExchange::Status("1", c.result));
    EXPECT_EQ(m_form.StatusBar.Panel(2), c.text);
    EXPECT_EQ(m_form.TimerDnld().Interval(), c.interval) << c.text;
    EXPECT_TRUE(m_form.TimerDnld().Enabled()) << c.text;
  }
  m_form.TimerDnld().SetEnabled(false);
  m_form.TimerDnld_Timer();
  m_platform.RunFor(kLampFlash);
  Peer().TakeSent();
  Arrive(QByteArray("\x16" "3000030" "1" "4" "trailing"));
  EXPECT_EQ(m_form.StatusBar.Panel(2), "PBX Port Busy..");
  EXPECT_EQ(m_form.TimerDnld().Interval(), 3000);
  EXPECT_EQ(Hex(Peer().TakeSent()), "") << "status replies are not acknowledged";
}

TEST_F(ReceiveTest, UnrecognisedTextIsReportedAndChangesNothingElse) {
  StartDownload();
  m_form.TimerDnld().SetInterval(3000);
  m_form.StatusBar.SetPanel(2, "before");
  Arrive(FakeExchange::Status("2", '2'));  // another device's reply
  EXPECT_EQ(Raw(),
            " ->: 16 33 30 30 30 30 33 30 32 32 \r\n ->: Error \r\n"
            " ->: The exchange answers as device 2 while Device ID is 1\r\n");
  EXPECT_EQ(m_form.StatusBar.Panel(2), "before");
  EXPECT_EQ(m_form.TimerDnld().Interval(), 3000);
  EXPECT_EQ(Hex(Peer().TakeSent()), "");
}

// Answers that are no reply re-arm the data request at once twice, then wait as for a busy
// exchange until a reply is recognised; a well-formed reply of another device is named once.
TEST(NoReplyAnswers, BackOffAndForeignDeviceNamed) {
  const struct {
    const char* name;
    QByteArray answer;
    const char* named;  // the device the RAW Data view names, if any
  } rows[] = {
      {"status-OK of device 2", FakeExchange::Status("2", '2'), "2"},
      {"buffer-empty of device 0", FakeExchange::Status("0", '1'), "0"},
      {"port-busy of device 3, no check byte", QByteArray("\x16" "3000030" "3" "4"), "3"},
      {"device 2, wrong check byte", FakeExchange::Status("2", '2').chopped(1) + "\x01", nullptr},
      {"own device, result 5", FakeExchange::Status("1", '5'), nullptr},
      {"no frame at all", "noise", nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ReceiveRig rig;
    rig.StartDownload();
    rig.m_form.TimerDnld().SetInterval(1);
    const auto answerAndWait = [&](const QByteArray& answer) {
      rig.Arrive(answer);
      const int interval = rig.m_form.TimerDnld().Interval();
      rig.m_platform.RunFor(std::chrono::milliseconds(interval) - 1ms);
      EXPECT_EQ(rig.Peer().TakeSent().count(frame::DataRequest("1")), 0);
      rig.m_platform.RunFor(1ms + kLampFlash);
      EXPECT_EQ(rig.Peer().TakeSent().count(frame::DataRequest("1")), 1);
      return interval;
    };
    std::vector<int> intervals;
    for (int i = 0; i < 4; ++i) intervals.push_back(answerAndWait(row.answer));
    // A data reply ends the run of answers that are no reply: the next one counts from one.
    rig.Arrive(kHeader + "A" + "\x02" "R\x03" "z");
    rig.m_platform.RunFor(5ms + kLampFlash);
    rig.Peer().TakeSent();
    intervals.push_back(answerAndWait(row.answer));
    EXPECT_EQ(intervals, (std::vector<int>{1, 1, 3000, 3000, 1}));

    const QString raw = rig.m_form.txtout().Text();
    EXPECT_EQ(raw.count(" ->: The exchange answers as device "), row.named ? 1 : 0);
    EXPECT_TRUE(!row.named || raw.contains(QString(" ->: Error \r\n ->: The exchange answers as "
                                                   "device %1 while Device ID is 1\r\n")
                                               .arg(row.named)));
  }
}

// The trace follows the log's name with each frame and what was made of it; one that cannot be
// opened is said once and switched off, and the download goes on either way.
TEST(TrafficTraceFile, FollowsTheLogAndSwitchesOffWhenItCannotBeWritten) {
  for (const bool blocked : {false, true}) {
    SCOPED_TRACE(blocked ? "blocked" : "written");
    ReceiveRig rig;
    rig.m_settings.SaveSetting("VORLAN", "Settings", "TraceTraffic", "1");
    // A folder where the trace file should go.
    if (blocked) QDir(rig.LogsPath()).mkdir("03051437.trace");
    rig.LoadAndConnect("1");
    rig.m_form.CmdDnld_Click();
    rig.m_platform.RunFor(150ms);
    rig.Arrive(kHeader + "A" + "\x02" "05 01\x16" "CALL\x03" "Z");
    rig.Arrive(FakeExchange::Status("1", '3').chopped(1) + "\x01");
    rig.m_platform.RunFor(200ms);
    EXPECT_EQ(rig.m_form.RecordCount, 1);
    EXPECT_EQ(rig.m_form.TraceOn(), !blocked);
    if (blocked) {
      EXPECT_EQ(rig.m_form.txtout().Text().count("The traffic trace"), 1) << "said once";
      continue;
    }
    QFile file(rig.LogsPath() + "/03051437.trace");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString trace = QString::fromLatin1(file.readAll());
    const char* const lines[] = {
        "out 16 31 30 30 30 30 32 30 31 FD | data request",
        "in  16 32 30 30 30 30 31 30 31 41 02 30 35 20 30 31 16 43 41 4C 4C 03 5A | data reply "
        "header, block 'A' (41)",
        "--  record <STX>05.01<SYN>CALL<ETX>",
        "out 16 34 30 30 30 30 34 30 31 41 06 B9 | data acknowledgement, block 'A' (41)",
        "in  16 33 30 30 30 30 33 30 31 33 01 | status frame, device 1, result 3, check byte "
        "wrong (CD expected)",
        "--  no reply (unrecognised)",
    };
    qsizetype at = 0;
    for (const char* line : lines) {
      const QRegularExpression stamped("\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d " +
                                       QRegularExpression::escape(line) + "\n");
      const QRegularExpressionMatch m = stamped.match(trace, at);
      ASSERT_TRUE(m.hasMatch()) << line << "\n" << trace.toStdString();
      at = m.capturedEnd();
    }
  }
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

TEST_F(ReceiveTest, CountStartsAgainPastItsLargestValue) {
  StartDownload();
  m_form.RecordCount = std::numeric_limits<qint32>::max();
  Arrive(kHeader + "E" + "\x02" "X\x03" "z");
  EXPECT_EQ(m_form.RecordCount, 0);
  EXPECT_EQ(m_form.StatusBar.Panel(3), "Records = 0");
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

// The network may cut a reply anywhere: every record is logged once, and one acknowledgement
// goes out, whatever the cut.
TEST_F(ReceiveTest, SplitAtEveryOffsetLogsEveryRecordOnce) {
  const QByteArray reply = kHeader + "G" + "\x02" "ONE 1\x03\x02" "TWO\xFF\x80\x03\x02" "3\x03" "k";
  const QByteArray expected = "\x02" "ONE.1\x03\r\n\x02" "TWO\xFF\x80\x03\r\n\x02" "3\x03\r\n";
  for (qsizetype cut = 1; cut < reply.size(); ++cut) {
    ReceiveRig rig;
    rig.StartDownload();
    rig.SendAt(0ms, reply.left(cut));
    rig.SendAt(20ms, reply.mid(cut));
    rig.m_platform.RunFor(400ms);
    EXPECT_EQ(Hex(rig.Log()), Hex(expected)) << "cut at " << cut;
    const QByteArray sent = rig.Peer().TakeSent();
    EXPECT_EQ(sent.count(frame::DataAcknowledgement("1", 'G')), 1) << "cut at " << cut;
  }
}

TEST_F(ReceiveTest, SplitInThreeAtRandomLogsEveryRecordOnce) {
  QByteArray records;
  QByteArray expected;
  for (int i = 0; i < 6; ++i) {
    const QByteArray text = "REC " + QByteArray::number(i) + " \xE9\x7F";
    records += '\x02' + text + '\x03';
    expected += '\x02' + QByteArray(text).replace(' ', '.') + "\x03\r\n";
  }
  const QByteArray reply = kHeader + "H" + records + "!";
  QRandomGenerator random(12345);
  for (int trial = 0; trial < 60; ++trial) {
    qsizetype a = 1 + random.bounded(int(reply.size() - 2));
    qsizetype b = 1 + random.bounded(int(reply.size() - 2));
    if (a > b) std::swap(a, b);
    if (a == b) ++b;
    ReceiveRig rig;
    rig.StartDownload();
    rig.SendAt(0ms, reply.left(a));
    rig.SendAt(5ms, reply.mid(a, b - a));
    rig.SendAt(10ms, reply.mid(b));
    rig.m_platform.RunFor(400ms);
    EXPECT_EQ(Hex(rig.Log()), Hex(expected)) << "cuts at " << a << " and " << b;
    EXPECT_EQ(rig.Peer().TakeSent().count(frame::DataAcknowledgement("1", 'H')), 1)
        << "cuts at " << a << " and " << b;
  }
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
      largest = std::max(largest, m_form.Reader().Held());
    });
  }
  m_platform.RunFor(kDataRequestTimeout + kLampFlash);
  EXPECT_LE(largest, link::ReplyReader::kMaxRecord);
  EXPECT_EQ(m_form.Reader().Held(), 0);
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
  EXPECT_EQ(m_form.RecordCount, 0) << "shown and counted once it is logged, when it comes again";
}

TEST_F(ReceiveTest, ArrivalWhileClosedOnlyRunsTheClosingSteps) {
  StartDownload();
  m_form.CmdStop_Click();
  Peer().PeerSend(kHeader + "M" + "\x02" "X\x03");
  Peer().Close();  // closed before the arrival is handled: its bytes are gone
  m_platform.RunFor(1ms);
  EXPECT_EQ(m_form.RecordCount, 0);
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
  EXPECT_EQ(m_form.Reader().Held(), 0);
  m_form.CmdConnect_Click();
  Peer().PeerAccept();
  m_platform.RunFor(1ms);
  m_form.CmdDnld_Click();
  m_platform.RunFor(200ms);
  Arrive(kHeader + "V" + "\x02" "NEW\x03" "z");
  m_platform.RunFor(200ms);
  EXPECT_EQ(Hex(Log()), Hex("\x02" "NEW\x03\r\n"));
  EXPECT_EQ(Peer().TakeSent().count(frame::DataAcknowledgement("1", 'U')), 0);
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
      ReceiveRig rig;
      rig.StartDownload();
      QByteArray expected;
      for (const char block : {'G', 'H'}) {
        const QByteArray reply = kHeader + block + QByteArray(records).replace('O', block) + "z";
        rig.Peer().TakeSent();
        rig.Arrive(reply.left(10 + cut.cut));
        rig.m_platform.RunFor(gap - 2ms);
        EXPECT_EQ(Hex(rig.Peer().Sent()), "") << cut.name << ", " << gap.count() << " ms";
        rig.Arrive(reply.mid(10 + cut.cut));
        rig.m_platform.RunFor(200ms);
        EXPECT_EQ(rig.Peer().Sent().count(frame::DataAcknowledgement("1", block)), 1)
            << cut.name << ", " << gap.count() << " ms";
        expected += QByteArray(records).replace('O', block).replace("\x03", "\x03\r\n");
      }
      EXPECT_EQ(Hex(rig.Log()), Hex(expected)) << cut.name << ", " << gap.count() << " ms";
      EXPECT_EQ(rig.Raw().find("Error"), std::string::npos) << cut.name;
    }
  }
}

// A reply sent again after a cut before the exchange read our acknowledgement is acknowledged
// and not logged, shown or counted again, in the same run or after a restart; a new record
// riding along with it is logged.
TEST(ReplyCuts, RepliesSentAgainAfterACutAreLoggedOnce) {
  const QByteArray calls = "\x02" "CALL 1\x03\x02" "CALL 2\x03";
  for (const bool restart : {false, true}) {
    for (const bool withNew : {false, true}) {
      ReceiveRig rig;
      rig.StartDownload();
      rig.Arrive(kHeader + "A" + calls + "z");
      rig.m_platform.RunFor(100ms);
      rig.Peer().PeerClose();  // before the exchange read the acknowledgement
      rig.m_platform.RunFor(100ms);
      VirtualPlatform later(QDateTime(QDate(2026, 3, 5), QTime(14, 37, 50)));
      FormMain fresh({later, rig.m_settings, rig.m_dialogs, rig.m_dir.path()});
      FormMain& form = restart ? fresh : rig.m_form;
      VirtualPlatform& time = restart ? later : rig.m_platform;
      form.Form_Load();
      form.txtHost.SetText("127.0.0.1");
      form.CmdConnect_Click();
      time.SocketAt(0)->PeerAccept();
      time.RunFor(1ms);
      form.CmdDnld_Click();
      time.RunFor(200ms);
      const qint32 counted = form.RecordCount;
      time.SocketAt(0)->PeerSend(kHeader + "B" + calls + (withNew ? "\x02" "CALL 3\x03" : "") + "z");
      time.RunFor(200ms);
      EXPECT_EQ(time.SocketAt(0)->Sent().count(frame::DataAcknowledgement("1", 'B')), 1);
      EXPECT_EQ(form.RecordCount - counted, withNew ? 1 : 0);
      EXPECT_EQ(rig.Log(), "\x02" "CALL.1\x03\r\n\x02" "CALL.2\x03\r\n" +
                               QByteArray(withNew ? "\x02" "CALL.3\x03\r\n" : ""));
      EXPECT_TRUE(form.txtout().Text().contains(withNew ? " ->: 2 of the reply's 3 records already"
                                                        : " ->: Records already logged before"));
    }
  }
}

// Only where the exchange can repeat (the first reply of a connection) are a reply's records
// compared, and only with the reply logged last, wherever it lies and however long it is; two
// calls with the same bytes elsewhere are both kept.
TEST(ReplyCuts, OnlyTheReplyLoggedLastIsRecognisedWhereItCanComeAgain) {
  const auto calls = [](int from, int to) {
    QByteArray records;
    for (int i = from; i < to; ++i) records += "\x02" "CALL " + QByteArray::number(i) + "\x03";
    return records;
  };
  const QByteArray huge = "\x02" + QByteArray(link::ReplyReader::kMaxRecord + 9, 'x') + "\x03";
  const struct {
    const char* name;
    QByteArray first, again;
    bool cut, restart, newerFile;
    int lines;
  } rows[] = {
      {"two replies with the same bytes", calls(0, 1), calls(0, 1), false, false, false, 2},
      {"300 records sent again after a cut", calls(0, 300), calls(0, 301), true, false, false, 301},
      {"a restart, another file newer by its time", calls(0, 3), calls(0, 3), true, true, true, 3},
      {"a cut record sent again after a restart", calls(0, 1) + huge, calls(0, 1) + huge, true,
       true, false, 2},
  };
  for (const auto& row : rows) {
    ReceiveRig rig;
    rig.StartDownload();
    rig.Arrive(kHeader + "A" + row.first + "z");
    rig.m_platform.RunFor(100ms);
    if (row.cut) rig.Peer().PeerClose();  // before the exchange read the acknowledgement
    rig.m_platform.RunFor(100ms);
    if (row.newerFile) {  // a clock stepped back, a file copied in: times say nothing
      QFile other(rig.LogsPath() + "/03051200.log");
      ASSERT_TRUE(other.open(QIODevice::WriteOnly) && other.write("\x02" "OLD\x03\r\n") > 0);
      other.setFileTime(QDateTime::currentDateTime().addDays(1), QFileDevice::FileModificationTime);
    }
    VirtualPlatform later(QDateTime(QDate(2026, 3, 5), QTime(14, 37, 50)));
    FormMain fresh({later, rig.m_settings, rig.m_dialogs, rig.m_dir.path()});
    FormMain& form = row.restart ? fresh : rig.m_form;
    VirtualPlatform& time = row.restart ? later : rig.m_platform;
    if (row.cut) {
      form.Form_Load();
      form.txtHost.SetText("127.0.0.1");
      form.CmdConnect_Click();
      time.SocketAt(0)->PeerAccept();
      time.RunFor(1ms);
      form.CmdDnld_Click();
      time.RunFor(200ms);
    }
    time.SocketAt(0)->PeerSend(kHeader + "B" + row.again + "z");
    time.RunFor(300ms);
    EXPECT_EQ(time.SocketAt(0)->Sent().count(frame::DataAcknowledgement("1", 'B')), 1) << row.name;
    EXPECT_EQ(rig.Log().count("\r\n"), row.lines) << row.name;
  }
}

// The hourly switch at every 10 ms of a download cycle: no data request while another is in
// flight or a data reply awaits its acknowledgement; every record logged once, in order.
TEST(ReplyCuts, HourlySwitchAtEveryStepOfTheCycleKeepsOneRequestOneAnswer) {
  for (int step = 0; step < 20; ++step) {
    ReceiveRig rig(QDateTime(QDate(2026, 3, 5), QTime(14, 59, 59)).addMSecs(-step * 10));
    FakeExchange exchange(rig.m_platform, rig.Peer());
    QByteArray expected;
    for (int i = 0; i < 40; ++i) {
      const QByteArray record = "\x02" "CALL " + QByteArray::number(i) + "\x03";
      exchange.QueueReply('A' + i % 26, record);
      expected += QByteArray(record).replace(' ', '.') + "\r\n";
    }
    int faults = 0;
    QObject::connect(&rig.Peer(), &VirtualSocket::Sending, [&](const QByteArray& bytes) {
      const FormMain& form = rig.m_form;
      faults += bytes == frame::DataRequest("1") && (form.RequestOutstanding() || form.ReplyOpen());
    });
    rig.LoadAndConnect("1");
    rig.m_form.CmdDnld_Click();
    rig.m_platform.RunFor(12s);
    EXPECT_EQ(faults, 0) << "step " << step;
    QFile before(rig.LogsPath() + "/03051459.log"), after(rig.LogsPath() + "/03051500.log");
    ASSERT_TRUE(before.open(QIODevice::ReadOnly) && after.open(QIODevice::ReadOnly));
    EXPECT_EQ(Hex(before.readAll() + after.readAll()), Hex(expected)) << "step " << step;
  }
}

// A request sent again twice before any answer: the late answer and a copy for each request
// sent since are one reply, logged once.
TEST_F(ReceiveTest, AReplySentAgainForEveryRepeatedRequestIsLoggedOnce) {
  StartDownload();
  FakeExchange exchange(m_platform, Peer());
  exchange.silent = true;
  for (int again = 0; again < 2; ++again) m_platform.RunFor(kDataRequestTimeout + 500ms);
  EXPECT_EQ(Peer().TakeSent().count(frame::DataRequest("1")), 2);
  for (int copy = 0; copy < 3; ++copy) {
    Arrive(kHeader + "L" + "\x02" "LATE\x03" "z");
    m_platform.RunFor(300ms);
  }
  EXPECT_EQ(m_form.RecordCount, 1);
  EXPECT_EQ(Hex(Log()), Hex("\x02" "LATE\x03\r\n"));
}

// One answer per request: the first text that is no reply (not the next), a late reply after the
// request was sent again; a reply given up at the deadline is counted once, when it comes again;
// a record of any length keeps the download going.
TEST_F(ReceiveTest, EachRequestIsAnsweredOnce) {
  StartDownload();
  FakeExchange exchange(m_platform, Peer());
  exchange.silent = true;
  m_form.TimerDnld().SetInterval(3000);
  const auto requests = [&] { return Peer().TakeSent().count(frame::DataRequest("1")); };
  Arrive("noise");
  m_platform.RunFor(500ms);
  Arrive("more noise");
  m_platform.RunFor(2400ms);
  EXPECT_EQ(requests(), 0);
  m_platform.RunFor(300ms);
  EXPECT_EQ(requests(), 1) << "3 s after the first noise, not after the second";

  // Sent again at its deadline; the late answer to the first, then the copy that answers the
  // second: one request follows each, and the record is logged once.
  m_platform.RunFor(kDataRequestTimeout);
  EXPECT_EQ(requests(), 1);
  const QByteArray late = kHeader + "L" + "\x02" "LATE\x03" "z";
  for (int copy = 0; copy < 2; ++copy) {
    Arrive(late);
    m_platform.RunFor(300ms);
    EXPECT_EQ(requests(), 1) << "copy " << copy;
  }
  EXPECT_EQ(m_form.RecordCount, 1);
  // Cut inside a record and given up at the deadline, then sent again whole: counted once.
  Arrive(kHeader + "C" + "\x02" "CUT\x03\x02" "HALF");
  m_platform.RunFor(kDataRequestTimeout);
  EXPECT_EQ(requests(), 1) << "sent again at the deadline";
  Arrive(kHeader + "D" + "\x02" "CUT\x03\x02" "HALF\x03" "z");
  m_platform.RunFor(300ms);
  EXPECT_EQ(m_form.RecordCount, 3);
  EXPECT_EQ(Hex(Log()), Hex("\x02" "LATE\x03\r\n\x02" "CUT\x03\r\n\x02" "HALF\x03\r\n"));

  const QByteArray huge = "\x02" + QByteArray(3 << 20, 'x') + "\x03";
  Arrive(kHeader + "M" + huge + "\x02" "AFTER\x03" "z");
  m_platform.RunFor(300ms);
  EXPECT_EQ(Peer().Sent().count(frame::DataAcknowledgement("1", 'M')), 1);
  EXPECT_EQ(m_form.RecordCount, 5);
  EXPECT_EQ(Log().mid(23), "\x02" + QByteArray(link::ReplyReader::kMaxRecord - 2, 'x') +
                               "\x03\r\n\x02" "AFTER\x03\r\n");
  EXPECT_NE(Raw().find("A record of 3145730 characters: the log keeps its first 1048575 and its "
                       "ETX, 2097154 were dropped"),
            std::string::npos);
}

}  // namespace
}  // namespace vorlan
