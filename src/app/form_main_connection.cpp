// The life of the connection to the exchange: Connect, the socket's events, Disconnect.
#include "app/form_main.h"
#include "app/texts.h"
#include "link/frame.h"
#include "platform/dialogs.h"
#include "platform/platform.h"
#include "platform/settings_store.h"
#include "platform/socket.h"
#include "platform/timer.h"
#include "platform/winsock_errors.h"

namespace vorlan {

void FormMain::CmdConnect_Click() {
  if (!OpenLogAtConnect()) return;
  txtHost.SetEnabled(false);
  if (m_socket->State() == Socket::sckClosed) {
    m_socket->SetRemoteHost(txtHost.Text());
    m_socket->SetRemotePort(kPbxPort);
  }
  SettingsStore& settings = m_services.settings;
  settings.SaveSetting(setting::kApp, setting::kProperties, "RemoteHost", txtHost.Text());
  settings.SaveSetting(setting::kApp, setting::kProperties, "DeviceID", cbDeviceID.Text());
  settings.SaveSetting(setting::kApp, setting::kProperties, "MTime", TxtMaxTime.Text());
  StatusBar.SetPanel(1, text::kAttempting);
  StatusBar.SetPanel(2, {});
  if (m_socket->State() == Socket::sckClosed) {
    ResetReceivePath();
    m_socket->Connect();
  }
  m_timerLog->SetEnabled(true);
}

void FormMain::Socket_Connect() {
  // Normally connected already. A peer that accepts and at once closes or fails ends the wait
  // too, and then nothing of the linked state is set: its Close or Error event follows.
  m_services.platform.WaitUntil([this] {
    const int state = m_socket->State();
    return state == Socket::sckConnected || state == Socket::sckClosed ||
           state == Socket::sckClosing || state == Socket::sckError;
  });
  if (m_socket->State() != Socket::sckConnected) return;

  m_heartBeatTimer->SetEnabled(true);
  LinkLamp.BringOnToFront();
  CmdConnect.SetEnabled(false);
  CmdDisconnect.SetEnabled(true);
  CmdDnld.SetEnabled(true);
  CmdStop.SetEnabled(false);
  cmdquit.SetEnabled(false);
  cbDeviceID.SetEnabled(false);
  StatusBar.SetPanel(1, text::kConnected);
}

void FormMain::Socket_Close() {
  ResetReceivePath();
  m_socket->Close();
  m_services.platform.WaitUntil([this] { return m_socket->State() == Socket::sckClosed; });
  CloseLog();
  m_heartBeatTimer->SetEnabled(false);
  txtHost.SetEnabled(true);
  LinkLamp.BringOffToFront();
  CmdConnect.SetEnabled(true);
  CmdDisconnect.SetEnabled(false);
  CmdDnld.SetEnabled(false);
  CmdStop.SetEnabled(false);
  cmdquit.SetEnabled(true);
  cbDeviceID.SetEnabled(true);
  StatusBar.SetPanel(1, text::kDisconnected);
  StatusBar.SetPanel(2, {});
}

void FormMain::Socket_Error(int number, QString description) {
  if (number == wsa::kConnectionRefused) description = text::kConnectionRejected;
  m_services.dialogs.MessageBox(description + text::kCrLf + text::kNumber + QString::number(number),
                                Dialogs::Icon::Critical, text::kIpErrorTitle);
  ResetReceivePath();
  m_socket->Close();
  CmdDisconnect_Click();
}

void FormMain::CmdDisconnect_Click() {
  m_heartBeatTimer->SetEnabled(false);
  if (m_socket->State() == Socket::sckConnected) {
    StatusBar.SetPanel(2, {});
    OutFrame = frame::DisconnectRequest(DeviceId());
    SendFrame(OutFrame);
    StatusBar.SetPanel(1, text::kClosing);
  } else {
    StatusBar.SetPanel(2, {});
    CmdConnect.SetEnabled(true);
    CmdDisconnect.SetEnabled(false);
    CmdDnld.SetEnabled(false);
    CmdStop.SetEnabled(false);
    txtHost.SetEnabled(true);
    StatusBar.SetPanel(1, text::kDisconnected);
  }
}

}  // namespace vorlan
