#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "app/texts.h"
#include "support/form_fixture.h"
#include "hex.h"
#include "link/frame.h"
#include "link/hex_echo.h"

namespace vorlan {
namespace {

using namespace std::chrono_literals;

TEST(HexEcho, WritesCodesWithoutLeadingZerosInUpperCase) {
  EXPECT_EQ(HexEchoLine("<- : ", frame::StatusMonitorRequest("1")),
            "<- : 16 35 30 30 30 30 35 30 31 30 30 6 F8 \r\n");
  EXPECT_EQ(HexEchoLine(" ->: ", QByteArray::fromHex("00FF0A7F")), " ->: 0 FF A 7F \r\n");
  EXPECT_EQ(HexEchoLine(" ->: ", {}), " ->: \r\n");
}

using TransmitTest = FormTest;

// The disconnect request stands for every frame the session writes: each waits its lamp's
// flash, then is written and echoed.
TEST_F(TransmitTest, AFrameLeavesAfterItsFlashAndIsEchoedWhenTheRawViewIsVisible) {
  LoadAndConnect("1");
  Peer().TakeSent();
  m_form.CmdCls_Click();
  std::chrono::milliseconds sentAt{-1};
  bool lampOnWhileWaiting = false;
  QObject::connect(&Peer(), &VirtualSocket::Sending, [&](const QByteArray&) {
    sentAt = m_platform.Elapsed();
  });
  m_platform.At(25ms, [&] { lampOnWhileWaiting = m_form.TxLamp.On(); });
  const auto start = m_platform.Elapsed();
  m_form.CmdDisconnect_Click();
  EXPECT_TRUE(m_form.TxLamp.On());
  m_platform.RunFor(60ms);
  EXPECT_EQ(sentAt - start, 50ms);
  EXPECT_TRUE(lampOnWhileWaiting);
  EXPECT_FALSE(m_form.TxLamp.On());
  EXPECT_EQ(Hex(Peer().TakeSent()), "16 36 30 30 30 30 33 30 31 06 FD");
  EXPECT_EQ(m_form.txtout().Text(), "<- : 16 36 30 30 30 30 33 30 31 6 FD \r\n");
}

TEST_F(TransmitTest, HiddenRawViewGetsNoEchoButFramesStillGo) {
  LoadAndConnect("1");
  Peer().TakeSent();
  m_form.CmdCls_Click();
  m_form.FormOutput.Hide();
  m_form.CmdDisconnect_Click();
  m_platform.RunFor(60ms);
  m_form.ShowReceivedHex("\x16\x33");
  EXPECT_EQ(Hex(Peer().TakeSent()), "16 36 30 30 30 30 33 30 31 06 FD");
  EXPECT_EQ(m_form.txtout().Text(), "");
}

TEST_F(TransmitTest, ReceivedEchoShowsWhatItIsGiven) {
  m_form.Form_Load();
  m_form.ShowReceivedHex(QByteArray::fromHex("1633303030303330313143"));
  EXPECT_EQ(m_form.txtout().Text(), " ->: 16 33 30 30 30 30 33 30 31 31 43 \r\n");
}

// A frame during another's pace waits a pace of its own: no wait nests in another, and the
// lamp stays lit until the last of them has gone.
TEST_F(TransmitTest, EachFrameWaitsItsOwnPaceAndTheLampCoversThemAll) {
  LoadAndConnect("1");
  Peer().TakeSent();
  std::vector<std::chrono::milliseconds> sentAt;
  QObject::connect(&Peer(), &VirtualSocket::Sending,
                   [&](const QByteArray&) { sentAt.push_back(m_platform.Elapsed()); });
  const auto start = m_platform.Elapsed();
  bool lampAt60 = false;
  m_platform.At(20ms, [&] { m_form.CmdDisconnect_Click(); });  // pressed again
  m_platform.At(60ms, [&] { lampAt60 = m_form.TxLamp.On(); });
  m_form.CmdDisconnect_Click();
  m_platform.RunFor(100ms);
  ASSERT_EQ(sentAt.size(), 2u);
  EXPECT_EQ(sentAt[0] - start, 50ms);
  EXPECT_EQ(sentAt[1] - start, 70ms);
  EXPECT_TRUE(lampAt60);
  EXPECT_FALSE(m_form.TxLamp.On());
  EXPECT_EQ(m_platform.Stalls(), 0);
}

// The check every test of the window runs: the event pump entered from inside a handler of the
// session is counted (here by a front end that waits inside a frame's signal), and fails the test
// as any pump entered from inside a handler does.
TEST_F(TransmitTest, AnEventLoopInsideAHandlerOfTheSessionIsCaught) {
  LoadAndConnect("1");
  const auto pumps = QObject::connect(&m_form.Session(), &session::Session::FrameSent,
                                      [&] { m_platform.DoEvents(); });
  EXPECT_NONFATAL_FAILURE(
      {
        m_platform.Post(&m_form, [&] { m_form.CmdDisconnect_Click(); });
        m_platform.RunFor(kLampFlash);
      },
      "was entered from inside a handler");
  EXPECT_EQ(m_platform.NestedPumps(), 1);
  QObject::disconnect(pumps);
  m_form.CmdDisconnect_Click();
  m_platform.RunFor(kLampFlash);
  EXPECT_EQ(m_platform.NestedPumps(), 1);
  m_platform.ForgetNestedPumps();  // the count is this test's own
}

}  // namespace
}  // namespace vorlan
