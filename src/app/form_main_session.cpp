// The window follows the exchange session: its signals become the panel texts, the lamps, the
// RAW Data lines and the buttons' states; the clicks become its commands.
#include <QPointer>

#include "app/form_main.h"
#include "app/texts.h"
#include "format/record_formatter.h"
#include "link/hex_echo.h"
#include "logging/record_log.h"
#include "platform/dialogs.h"
#include "platform/platform.h"
#include "platform/settings_store.h"
#include "platform/socket_error_text.h"

namespace vorlan {
namespace {

using session::Session;

// The buttons' states by the session's link and download states.
struct Buttons {
  bool connect, disconnect, dnld, stop, quit, host, device;
};

Buttons ButtonsFor(Session::Link link, Session::Download download) {
  switch (link) {
    case Session::Link::Closed: return {true, false, false, false, true, true, true};
    case Session::Link::Connecting: return {true, false, false, false, true, false, true};
    case Session::Link::Linked:
    case Session::Link::Closing: break;
  }
  switch (download) {
    case Session::Download::Running: return {false, false, false, true, false, false, false};
    case Session::Download::Stopping: return {false, false, true, false, false, false, false};
    case Session::Download::Idle: break;
  }
  return {false, true, true, false, false, false, false};
}

}  // namespace

logging::RecordLog& FormMain::CurrentLogFile() { return m_session->Log(); }
qint32 FormMain::RecordCount() const { return m_session->RecordCount(); }

void FormMain::FollowSession() {
  session::Session& s = *m_session;
  // The settings the session reads, as the window's boxes hold them.
  connect(&cbDeviceID, &Control::Changed, this,
          [this] { m_session->SetDeviceId(cbDeviceID.Text()); });
  connect(&TxtMaxTime, &Control::Changed, this,
          [this] { m_session->SetMaxTime(TxtMaxTime.Text()); });
  connect(&txtHost, &Control::Changed, this, [this] { m_session->SetHost(txtHost.Text()); });
  s.SetDeviceId(cbDeviceID.Text());
  s.SetMaxTime(TxtMaxTime.Text());
  s.SetHost(txtHost.Text());

  connect(&s, &Session::Connecting, this, [this] {
    StatusBar.SetPanel(1, text::kAttempting);
    StatusBar.SetPanel(2, {});
    ApplyButtons();
  });
  connect(&s, &Session::Connected, this, &FormMain::Socket_Connect);
  connect(&s, &Session::Closing, this, [this] { StatusBar.SetPanel(1, text::kClosing); });
  connect(&s, &Session::Unlinked, this, &FormMain::Socket_Close);
  connect(&s, &Session::SocketFailed, this,
          [this](int number, const QString& description) { Socket_Error(number, description); });
  connect(&s, &Session::DownloadChanged, this, &FormMain::ApplyButtons);
  connect(&s, &Session::PollDue, this, [this](Session::Poll poll) {
    if (poll == Session::Poll::Status) {
      HeartBeatTimer_Timer();
    } else {
      StatusBar.SetPanel(1, text::kDataRequest);
      StatusBar.SetPanel(2, {});
    }
  });
  connect(&s, &Session::TxPacing, this, &FormMain::FlashTxLed);
  connect(&s, &Session::RxPacing, this, &FormMain::FlashRxLed);
  connect(&s, &Session::FrameSent, this, [this](const QByteArray& frame) {
    if (FormOutput.Visible()) AppendToTerminal(txtout(), HexEchoLine(text::kSentPrefix, frame));
  });
  connect(&s, &Session::FrameReceived, this, &FormMain::ShowReceivedHex);
  connect(&s, &Session::StatusReply, this, &FormMain::ShowStatusReply);
  connect(&s, &Session::DataReplyStarted, this,
          [this] { StatusBar.SetPanel(2, text::kProcessing); });
  connect(&s, &Session::UnrecognisedReply, this,
          [this] { AppendToTerminal(txtout(), text::kErrorPrefix + text::kCrLf); });
  connect(&s, &Session::ForeignDeviceId, this, [this](char answeredAs) {
    AppendToTerminal(
        txtout(),
        text::kForeignDeviceId.arg(QLatin1Char(answeredAs)).arg(cbDeviceID.Text()) + text::kCrLf);
  });
  connect(&s, &Session::RecordLogged, this,
          [this](const QByteArray& record, bool bad, qint64 cutFrom, qint32 count) {
            FormatData(record);
            ShowRecord(record, bad, cutFrom, count);
          });
  connect(&s, &Session::LogNotice, this, [this](const QString& notice) {
    for (const QString& line : notice.split(QLatin1Char('\n')))
      AppendToTerminal(txtout(), text::kReceivedPrefix + line + text::kCrLf);
  });
  connect(&s, &Session::RecordGivenUp, this, [this](const QByteArray& bytes, qint64 size) {
    const QString shown =
        size <= bytes.size()
            ? QString::fromLatin1(bytes)
            : QString::fromLatin1(bytes) + QStringLiteral("... (%1 characters)").arg(size);
    AppendToTerminal(txtout(), text::kErrorPrefix + shown + text::kCrLf);
  });
  connect(&s, &Session::RecordsAlreadyLogged, this, [this](qsizetype repeated, qsizetype of) {
    emit RecordsAlreadyLogged(repeated);
    AppendToTerminal(txtout(), (repeated == of ? text::kAlreadyLogged
                                               : text::kSomeAlreadyLogged.arg(repeated).arg(of)) +
                                   text::kCrLf);
  });
  connect(&s, &Session::Acknowledged, this, [this] { StatusBar.SetPanel(2, {}); });
  connect(&s, &Session::RequestRepeated, this, [this] {
    AppendToTerminal(txtout(),
                     text::kNoAnswer.arg(kDataRequestTimeout.count() / 1000) + text::kCrLf);
    emit DataRequestRepeated();
  });
  connect(&s, &Session::StopStarted, this, [this] {
    StatusBar.SetPanel(1, text::kStopping);
    StatusBar.SetPanel(2, text::kPleaseWait);
    ApplyButtons();
  });
  connect(&s, &Session::StopCompleted, this, [this] {
    StatusBar.SetPanel(1, {});
    ApplyButtons();
  });
  connect(&s, &Session::LogSwitching, this, &FormMain::CmdCls_Click);
  connect(&s, &Session::LogFileFailed, this, [this](const QString& failure) {
    if (m_connectClicked) {
      m_connectFailure = failure;  // CmdConnect_Click shows it
    } else {
      Notify(failure, int(Dialogs::Icon::Warning), text::kTitle);
    }
  });
  connect(&s, &Session::LogWriteFailed, this, [this](const QString& path, const QString& failure) {
    Notify(text::kLogWriteFailed.arg(path, failure), int(Dialogs::Icon::Warning), text::kTitle);
  });
}

void FormMain::Notify(const QString& text, int icon, const QString& title) {
  // A message box serves events while it is open: never inside a handler of the session.
  if (!m_session->InHandler()) {
    m_services.dialogs.MessageBox(text, Dialogs::Icon(icon), title);
    return;
  }
  m_services.platform.Post(this, [this, text, icon, title] {
    m_services.dialogs.MessageBox(text, Dialogs::Icon(icon), title);
  });
}

void FormMain::ApplyButtons() {
  const Buttons b = ButtonsFor(m_session->LinkState(), m_session->DownloadState());
  CmdConnect.SetEnabled(b.connect);
  CmdDisconnect.SetEnabled(b.disconnect);
  CmdDnld.SetEnabled(b.dnld);
  CmdStop.SetEnabled(b.stop);
  cmdquit.SetEnabled(b.quit);
  txtHost.SetEnabled(b.host);
  cbDeviceID.SetEnabled(b.device);
}

void FormMain::CmdConnect_Click() {
  m_session->SetHost(txtHost.Text());
  m_session->SetDeviceId(cbDeviceID.Text());
  m_session->SetMaxTime(TxtMaxTime.Text());
  m_connectClicked = true;
  const bool opened = m_session->Connect();
  m_connectClicked = false;
  if (!opened) {
    m_services.dialogs.MessageBox(std::exchange(m_connectFailure, {}), Dialogs::Icon::Warning,
                                  text::kTitle);
    return;
  }
  SettingsStore& settings = m_services.settings;
  settings.SaveSetting(setting::kApp, setting::kProperties, "RemoteHost", txtHost.Text());
  settings.SaveSetting(setting::kApp, setting::kProperties, "DeviceID", cbDeviceID.Text());
  settings.SaveSetting(setting::kApp, setting::kProperties, "MTime", TxtMaxTime.Text());
}

void FormMain::CmdDisconnect_Click() {
  StatusBar.SetPanel(2, {});
  m_session->Disconnect();
}

void FormMain::Socket_Connect() {
  LinkLamp.BringOnToFront();
  ApplyButtons();
  StatusBar.SetPanel(1, text::kConnected);
}

void FormMain::Socket_Close() {
  // However the link ended (the exchange, our close, a failure), the window says so alike.
  LinkLamp.BringOffToFront();
  ApplyButtons();
  StatusBar.SetPanel(1, text::kDisconnected);
  StatusBar.SetPanel(2, {});
}

void FormMain::Socket_Error(int number, const QString& description) {
  Notify(IpErrorDescription(number, txtHost.Text(), description) + text::kCrLf + text::kNumber +
             QString::number(number),
         int(Dialogs::Icon::Critical), text::kIpErrorTitle);
}

void FormMain::ShowReceivedHex(const QByteArray& text) {
  if (FormOutput.Visible()) AppendToTerminal(txtout(), HexEchoLine(text::kReceivedPrefix, text));
}

void FormMain::FlashTxLed(bool on) {
  if (on) {
    TxLamp.BringOnToFront();
  } else {
    TxLamp.BringOffToFront();
  }
}

void FormMain::FlashRxLed(bool on) {
  if (on) {
    RxLamp.BringOnToFront();
  } else {
    RxLamp.BringOffToFront();
  }
}

void FormMain::FormatData(const QByteArray& record) {
  // The window's text is replaced per record, and made only while someone sees it.
  if (FormDisplay.Visible()) Text2().SetText(format::FormatData(record, TxtMaxTime.Text()));
}

void FormMain::ShowRecord(const QByteArray& record, bool bad, qint64 cutFrom, qint32 count) {
  AppendToTerminal(txtout(), (bad ? text::kBadPrefix : QStringLiteral(" ")) +
                                 QString::fromLatin1(record) + text::kCrLf);
  if (cutFrom > 0) {
    const qint64 kept = record.size() - 1;
    AppendToTerminal(txtout(),
                     text::kRecordCut.arg(cutFrom).arg(kept).arg(cutFrom - kept - 1) + text::kCrLf);
  }
  StatusBar.SetPanel(3, text::kRecords + QString::number(count));
  FormOutput.SetCaption(text::kRawCaptionRecords + QString::number(count) +
                        text::kRawCaptionDevice + cbDeviceID.Text());
}

void FormMain::ShowStatusReply(frame::ReplyKind kind) {
  switch (kind) {
    case frame::ReplyKind::BufferEmpty: StatusBar.SetPanel(2, text::kBufferEmpty); break;
    case frame::ReplyKind::PortBusy: StatusBar.SetPanel(2, text::kPortBusy); break;
    case frame::ReplyKind::ChecksumError: StatusBar.SetPanel(2, text::kChecksumError); break;
    case frame::ReplyKind::StatusOk: StatusBar.SetPanel(2, text::kStatusOk); break;
    default: AppendToTerminal(txtout(), text::kErrorPrefix + text::kCrLf); break;
  }
}

void FormMain::HeartBeatTimer_Timer() {
  StatusBar.SetPanel(1, text::kStatusMonitor);
  StatusBar.SetPanel(2, {});
}

void FormMain::CmdDnld_Click() { m_session->StartDownload(); }

void FormMain::CmdStop_Click() { m_session->StopDownload(); }

}  // namespace vorlan
