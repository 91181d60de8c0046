// What the window makes of the record path's events: RAW Data lines, panels, captions, boxes.
// What is logged and acknowledged is the session's, tested in its own suite.
#include <gtest/gtest.h>

#include "file_size_limit.h"
#include "hex.h"
#include "receive_rig.h"
#include "support/fake_exchange.h"

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
  EXPECT_EQ(Hex(Log()), Hex("\x02" "05.01.15.CALL\x03\r\n"));
}

TEST_F(ReceiveTest, StatusRepliesSetTheirTexts) {
  const struct {
    QByteArray reply;
    const char* text;
  } rows[] = {{FakeExchange::Status("1", '1'), "PBX Buffer Empty..."},
              {FakeExchange::Status("1", '3'), "CheckSum Error"},
              {FakeExchange::Status("1", '2'), "Status Monitor OK..."},
              {QByteArray("\x16" "3000030" "1" "4" "trailing"), "PBX Port Busy.."}};
  StartDownload();
  for (const auto& row : rows) {
    Arrive(row.reply);  // each answers a request of its own
    EXPECT_EQ(m_form.StatusBar.Panel(2), row.text);
    m_watch.NextRequest(kLampFlash, 5s);
  }
}

TEST_F(ReceiveTest, UnrecognisedTextIsReportedAndChangesNothingElse) {
  StartDownload();
  m_form.StatusBar.SetPanel(2, "before");
  Arrive(FakeExchange::Status("2", '2'));  // another device's reply
  EXPECT_EQ(Raw(),
            " ->: 16 33 30 30 30 30 33 30 32 32 \r\n ->: Error \r\n"
            " ->: The exchange answers as device 2 while Device ID is 1\r\n");
  EXPECT_EQ(m_form.StatusBar.Panel(2), "before");
  EXPECT_EQ(Hex(Peer().TakeSent()), "");
}

TEST_F(ReceiveTest, StopIsConfirmedByTheNextArrivalOfAnyKind) {
  StartDownload();
  m_form.CmdStop_Click();
  EXPECT_EQ(m_form.StatusBar.Panel(2), "Please Wait...");
  EXPECT_FALSE(m_form.CmdDisconnect.Enabled());
  Arrive(kHeader + "D" + "\x02" "LATE\x03" "z");  // the outstanding request's reply
  EXPECT_TRUE(m_form.CmdDisconnect.Enabled());
  EXPECT_EQ(m_form.StatusBar.Panel(1), "");
  EXPECT_EQ(m_form.StatusBar.Panel(3), "Records = 1") << "its records are still taken";
}

TEST_F(ReceiveTest, AShortDataHeaderThatNeverCompletesIsUnrecognised) {
  StartDownload();
  Arrive(QByteArray("\x16" "2000"));
  Arrive(FakeExchange::Status("1", '1'));
  EXPECT_NE(Raw().find(" ->: Error \r\n"), std::string::npos);
  EXPECT_EQ(m_form.StatusBar.Panel(2), "PBX Buffer Empty...");
  EXPECT_EQ(Hex(Peer().TakeSent()), "");
}

// Text given up at the request's deadline is shown shortened.
TEST_F(ReceiveTest, AnEndlessRecordIsShownShortened) {
  StartDownload();
  Peer().PeerSend(kHeader + "K" + "\x02" "START");
  for (int i = 0; i < 400; ++i) {
    m_platform.At(std::chrono::milliseconds(i), [this] { Peer().PeerSend(QByteArray(4096, 'x')); });
  }
  m_platform.RunFor(kDataRequestTimeout + kLampFlash);
  EXPECT_NE(Raw().find(" ->: Error \x02" "STARTxxx"), std::string::npos);
  EXPECT_NE(Raw().find("characters)\r\n"), std::string::npos) << "shown shortened";
  EXPECT_LT(m_form.txtout().Text().size(), 17000);
  EXPECT_EQ(m_form.StatusBar.Panel(3), "Records = 0");
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
  EXPECT_NE(m_form.Session().DownloadState(), session::Session::Download::Running);
  EXPECT_FALSE(m_form.CmdStop.Enabled());
  EXPECT_EQ(m_form.RecordCount(), 0) << "shown and counted once it is logged, when it comes again";
}

// A close in the middle of a record: the interrupted arrival does not touch the window that the
// close reset.
TEST_F(ReceiveTest, CloseInsideARecordLeavesTheWindowAsTheCloseSetIt) {
  StartDownload();
  SendAt(0ms, kHeader + "U" + "\x02" "HALF OF A REC");
  SendAt(20ms, QByteArray());
  m_platform.At(30ms, [&] { Peer().PeerClose(); });
  m_platform.RunFor(3s);
  EXPECT_EQ(m_form.StatusBar.Panel(1), "  PBX Disconnected!  ");
  EXPECT_FALSE(m_form.CmdDisconnect.Enabled());
  EXPECT_TRUE(m_form.CmdConnect.Enabled());
  EXPECT_EQ(m_form.StatusBar.Panel(3), "Records = 0");
}

}  // namespace
}  // namespace vorlan
