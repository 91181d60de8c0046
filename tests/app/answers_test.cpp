// Answers and requests as the window shows them: answers that are no reply, one answer per
// request, replies sent again, and the traffic trace beside the log.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include "receive_rig.h"
#include "support/fake_exchange.h"

namespace vorlan {
namespace {

class AnswersTest : public ::testing::Test, public ReceiveRig {};

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
    EXPECT_EQ(intervals, (std::vector<int>{100, 100, 3000, 3000, 1}));

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
    EXPECT_EQ(rig.m_form.RecordCount(), 1);
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

// A reply sent again after a cut before the exchange read our acknowledgement: the RAW Data
// view says its records were logged before, all of them or some.
TEST(RepliesSentAgain, TheRawViewSaysTheyWereLoggedBefore) {
  const QByteArray calls = "\x02" "CALL 1\x03\x02" "CALL 2\x03";
  for (const bool withNew : {false, true}) {
    ReceiveRig rig;
    rig.StartDownload();
    rig.Arrive(kHeader + "A" + calls + "z");
    rig.m_platform.RunFor(100ms);
    rig.Peer().PeerClose();
    rig.m_platform.RunFor(100ms);
    rig.Reconnect();
    rig.Arrive(kHeader + "B" + calls + (withNew ? "\x02" "CALL 3\x03" : "") + "z");
    EXPECT_EQ(rig.m_form.RecordCount(), withNew ? 3 : 2);
    EXPECT_EQ(rig.m_form.StatusBar.Panel(3), withNew ? "Records = 3" : "Records = 2");
    EXPECT_TRUE(rig.m_form.txtout().Text().contains(
        withNew ? " ->: 2 of the reply's 3 records already logged before the link was lost; not "
                  "logged again\r\n"
                : " ->: Records already logged before the link was lost; acknowledged again\r\n"));
  }
}

// One answer per request: the first text that is no reply (not the next), a late reply after the
// request was sent again; a reply given up at the deadline is counted once, when it comes again;
// a record of any length keeps the download going.
TEST_F(AnswersTest, EachRequestIsAnsweredOnce) {
  StartDownload();
  FakeExchange exchange(m_platform, Peer());
  exchange.silent = true;
  const auto requests = [&] { return Peer().TakeSent().count(frame::DataRequest("1")); };
  // The buffer is empty: the next request follows in 3 s, as do those after answers that are no
  // reply.
  Arrive(FakeExchange::Status("1", '1'));
  m_platform.RunFor(kRetryDataRequest + kLampFlash);
  ASSERT_EQ(requests(), 1);
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
  EXPECT_EQ(m_form.RecordCount(), 1);
  // Cut inside a record and given up at the deadline, then sent again whole: counted once.
  Arrive(kHeader + "C" + "\x02" "CUT\x03\x02" "HALF");
  m_platform.RunFor(kDataRequestTimeout);
  EXPECT_EQ(requests(), 1) << "sent again at the deadline";
  Arrive(kHeader + "D" + "\x02" "CUT\x03\x02" "HALF\x03" "z");
  m_platform.RunFor(300ms);
  EXPECT_EQ(m_form.RecordCount(), 3);
  EXPECT_EQ(Hex(Log()), Hex("\x02" "LATE\x03\r\n\x02" "CUT\x03\r\n\x02" "HALF\x03\r\n"));

  const QByteArray huge = "\x02" + QByteArray(3 << 20, 'x') + "\x03";
  Arrive(kHeader + "M" + huge + "\x02" "AFTER\x03" "z");
  m_platform.RunFor(300ms);
  EXPECT_EQ(Peer().Sent().count(frame::DataAcknowledgement("1", 'M')), 1);
  EXPECT_EQ(m_form.RecordCount(), 5);
  EXPECT_EQ(Log().mid(23), "\x02" + QByteArray(link::ReplyReader::kMaxRecord - 2, 'x') +
                               "\x03\r\n\x02" "AFTER\x03\r\n");
  EXPECT_NE(Raw().find("A record of 3145730 characters: the log keeps its first 1048575 and its "
                       "ETX, 2097154 were dropped"),
            std::string::npos);
}

}  // namespace
}  // namespace vorlan
