// Answers as the window shows them: a cut record, replies sent again, and the traffic trace
// beside the log.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include "receive_rig.h"
#include "support/fake_exchange.h"

namespace vorlan {
namespace {

class AnswersTest : public ::testing::Test, public ReceiveRig {};

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

// A record longer than the log keeps: the RAW Data view says how long it was and what was
// dropped, and it is counted.
TEST_F(AnswersTest, ACutRecordIsShownWithWhatWasDropped) {
  StartDownload();
  const QByteArray huge = "\x02" + QByteArray(3 << 20, 'x') + "\x03";
  Arrive(kHeader + "M" + huge + "\x02" "AFTER\x03" "z");
  EXPECT_EQ(m_form.StatusBar.Panel(3), "Records = 2");
  EXPECT_NE(Raw().find("A record of 3145730 characters: the log keeps its first 1048575 and its "
                       "ETX, 2097154 were dropped"),
            std::string::npos);
}

}  // namespace
}  // namespace vorlan
