// Frames out, the hexadecimal echo of the traffic, and the activity lamps.
#include <cmath>

#include "app/form_main.h"
#include "app/texts.h"
#include "link/hex_echo.h"
#include "platform/platform.h"
#include "platform/socket.h"
#include "platform/timer.h"

namespace vorlan {

// NOLINTNEXTLINE(performance-unnecessary-value-param)
void FormMain::SendFrame(QByteArray frame) {
  // A copy: a tick during the flash may build another frame into OutFrame.
  const quint64 connection = m_connection;
  FlashTxLed();
  // A frame built for a connection that ended during the flash is not for the next one.
  if (connection == m_connection) WriteFrame(frame);
}

void FormMain::WriteFrame(const QByteArray& frame) {
  // A send that fails (the link went down during the flash) shows in the status bar through
  // the socket's own events; the frame is simply not sent.
  m_socket->SendData(frame);
  if (FormOutput.Visible()) AppendToTerminal(txtout(), HexEchoLine(text::kSentPrefix, frame));
}

void FormMain::ShowReceivedHex(const QByteArray& text) {
  if (FormOutput.Visible()) AppendToTerminal(txtout(), HexEchoLine(text::kReceivedPrefix, text));
}

void FormMain::FlashTxLed() {
  TxLamp.BringOnToFront();
  WaitSeconds(kLampFlashSeconds);
  TxLamp.BringOffToFront();
}

void FormMain::FlashRxLed() {
  RxLamp.BringOnToFront();
  WaitSeconds(kLampFlashSeconds);
  RxLamp.BringOffToFront();
}

void FormMain::WaitSeconds(double seconds) {
  ++m_waitDepth;
  m_timer1->SetEnabled(true);
  m_timer1->SetInterval(int(std::lround(seconds * 1000)));
  // The tick sets the interval to 0. The wait sleeps between events; it does not poll.
  m_services.platform.WaitUntil([this] { return m_timer1->Interval() < 1; });
  m_timer1->SetEnabled(false);
  --m_waitDepth;
}

void FormMain::Timer1_Timer() { m_timer1->SetInterval(0); }

}  // namespace vorlan
