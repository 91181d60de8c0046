#include <gtest/gtest.h>

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

TEST_F(TransmitTest, AFrameLeavesAfterItsFlashAndIsEchoedWhenTheRawViewIsVisible) {
  LoadAndConnect();
  Peer().TakeSent();
  m_form.CmdCls_Click();
  std::chrono::milliseconds sentAt{-1};
  bool lampOnWhileWaiting = false;
  QObject::connect(&Peer(), &VirtualSocket::Sending, [&](const QByteArray&) {
    sentAt = m_platform.Elapsed();
  });
  m_platform.At(25ms, [&] { lampOnWhileWaiting = m_form.TxLamp.On(); });
  const auto start = m_platform.Elapsed();
  m_form.SendFrame(frame::DataRequest("1"));
  EXPECT_EQ(sentAt - start, 50ms);
  EXPECT_TRUE(lampOnWhileWaiting);
  EXPECT_FALSE(m_form.TxLamp.On());
  EXPECT_EQ(Hex(Peer().TakeSent()), "16 31 30 30 30 30 32 30 31 FD");
  EXPECT_EQ(m_form.txtout().Text(), "<- : 16 31 30 30 30 30 32 30 31 FD \r\n");
}

TEST_F(TransmitTest, HiddenRawViewGetsNoEchoButFramesStillGo) {
  LoadAndConnect();
  Peer().TakeSent();
  m_form.CmdCls_Click();
  m_form.FormOutput.Hide();
  m_form.SendFrame(frame::DisconnectRequest("1"));
  m_form.ShowReceivedHex("\x16\x33");
  EXPECT_EQ(Hex(Peer().TakeSent()), "16 36 30 30 30 30 33 30 31 06 FD");
  EXPECT_EQ(m_form.txtout().Text(), "");
}

TEST_F(TransmitTest, ReceivedEchoShowsWhatItIsGiven) {
  m_form.Form_Load();
  m_form.ShowReceivedHex(QByteArray::fromHex("1633303030303330313143"));
  EXPECT_EQ(m_form.txtout().Text(), " ->: 16 33 30 30 30 30 33 30 31 31 43 \r\n");
}

TEST_F(TransmitTest, LampWaitsServeOtherEventsAndAZeroWaitReturnsAtOnce) {
  m_form.Form_Load();
  m_form.WaitSeconds(0);
  EXPECT_EQ(m_platform.Elapsed(), 0ms);
  // A flash inside another flash (a timer's frame during a received one) ends both.
  bool innerDone = false;
  m_platform.At(20ms, [&] {
    m_form.FlashTxLed();
    innerDone = true;
  });
  m_form.FlashRxLed();
  EXPECT_TRUE(innerDone);
  EXPECT_FALSE(m_form.RxLamp.On());
  EXPECT_FALSE(m_form.TxLamp.On());
  EXPECT_EQ(m_platform.Stalls(), 0);
  EXPECT_EQ(m_platform.Elapsed(), 70ms);
}

}  // namespace
}  // namespace vorlan
