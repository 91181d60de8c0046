#include "app/form_main.h"

#include "app/texts.h"
#include "format/record_fields.h"
#include "format/record_formatter.h"
#include "logging/log_files.h"
#include "logging/record_log.h"
#include "platform/desktop.h"
#include "platform/dialogs.h"
#include "platform/platform.h"
#include "platform/settings_store.h"
#include "platform/socket.h"
#include "platform/timer.h"

namespace vorlan {
namespace {

// The combo box's list. A stored device ID of any other text would go into every frame.
const QStringList kDeviceIds = {QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"),
                                QStringLiteral("3")};

// A stored maximum the alarm cannot judge by is not taken; an empty box is the operator's own
// choice (the box empties on any key but a digit): it switches the alarm off.
bool UsableMaxTime(const QString& text) { return text.isEmpty() || format::IsMaxTime(text); }

}  // namespace

FormMain::FormMain(FormMainServices services)
    : FormOutput(text::kRawCaption, QStringLiteral("Main")),
      FormDisplay(text::kFormattedCaption, QStringLiteral("Disp")),
      m_services(std::move(services)),
      m_logsFolder(m_services.logsFolder.isEmpty() ? logging::LogsFolder(m_services.programFolder)
                                                   : m_services.logsFolder),
      // The window's session lights a lamp for every frame and arrival.
      m_session(std::make_unique<session::Session>(
          m_services.platform, m_logsFolder, session::Session::Options{kLampFlash, {}, false})),
      m_trace(std::make_unique<session::TrafficTrace>(m_services.platform, *m_session)) {
  connect(&chkDisp, &Control::Clicked, this, &FormMain::chkDisp_Click);
  connect(&chkRaw, &Control::Clicked, this, &FormMain::chkRaw_Click);
  FollowSession();
  connect(m_trace.get(), &session::TrafficTrace::Failed, this, [this](const QString& why) {
    // Said once: the trace is off until the operator turns it on again.
    AppendToTerminal(txtout(), text::kReceivedPrefix + why + text::kCrLf);
    emit TraceChanged(false);
  });
  connect(m_session.get(), &session::Session::Ended, this, [this] {
    // Finished from the event loop, once the session's handler that ended it has returned.
    if (!m_unloading) return;
    m_sessionEnded = true;
    if (m_session->InHandler()) {
      m_services.platform.Post(this, [this] { FinishUnload(); });
    } else {
      FinishUnload();
    }
  });
}

FormMain::~FormMain() = default;

QByteArray FormMain::DeviceId() const { return cbDeviceID.Text().toLatin1(); }

void FormMain::Form_Load() {
  ApplyButtons();
  StatusBar.SetPanel(3, text::kRecords + QString::number(RecordCount()));
  m_session->Reset();
  LinkLamp.BringOffToFront();
  // Centring the main window is the widget's part: it alone knows the screen.

  SettingsStore& settings = m_services.settings;
  txtHost.SetText(
      settings.GetSetting(setting::kApp, setting::kProperties, "RemoteHost", "0.0.0.0"));
  // What the store holds is taken only when the program can use it; otherwise the value a
  // first start gets.
  const QString deviceId =
      settings.GetSetting(setting::kApp, setting::kProperties, "DeviceID", "0");
  cbDeviceID.SetText(kDeviceIds.contains(deviceId) ? deviceId : QStringLiteral("0"));
  const QString maxTime =
      settings.GetSetting(setting::kApp, setting::kPropertiesRead, "MTime", "120");
  TxtMaxTime.SetText(UsableMaxTime(maxTime) ? maxTime : QStringLiteral("120"));

  const std::vector<Twips> screens =
      m_services.desktop ? m_services.desktop->Screens() : std::vector<Twips>{};
  FormOutput.Restore(settings, screens);
  FormOutput.Show();
  FormDisplay.Restore(settings, screens);

  for (const QString& id : kDeviceIds) cbDeviceID.AddItem(id);
  m_trace->SetEnabled(settings.GetSetting(setting::kApp, setting::kSettings, "TraceTraffic", "0") ==
                      QLatin1String("1"));
  emit TraceChanged(m_trace->Enabled());
}

void FormMain::mnuTrace_Click(bool on) {
  m_services.settings.SaveSetting(setting::kApp, setting::kSettings, "TraceTraffic",
                                  on ? QStringLiteral("1") : QStringLiteral("0"));
  m_trace->SetEnabled(on);
  emit TraceChanged(m_trace->Enabled());
}

bool FormMain::TraceOn() const { return m_trace->Enabled(); }

void FormMain::Form_Unload() {
  if (m_unloading) return;  // the close box pressed again while we wait
  m_unloading = true;

  // The Disconnect command in any state; the exchange ends the connection after the request,
  // and one that never does is closed from our side after kShutdownWait. Until then the unload
  // is a state, and the program runs on.
  StatusBar.SetPanel(2, {});
  m_session->End(false, kShutdownWait);
  // Not linked, it ended at once: the program ends now, as the Disconnect command returns.
  if (m_sessionEnded) FinishUnload();
}

void FormMain::FinishUnload() {
  if (m_unloaded) return;
  m_fileWork.reset();  // an export under way leaves its target as it was
  m_cleanUpWork.reset();
  if (FormDisplay.Loaded()) FormDisplay_Unload();
  if (FormOutput.Loaded()) FormOutput_Unload();
  emit UnloadAbout();
  m_unloaded = true;
  emit ProgramEnded();
}

void FormMain::cmdquit_Click() { Form_Unload(); }

void FormMain::mnuExit_Click() { Form_Unload(); }

void FormMain::mnuHelpAbout_Click() { emit AboutRequested(); }

void FormMain::chkDisp_Click() {
  if (chkDisp.Value() == 1) {
    FormDisplay.Show();
  } else {
    FormDisplay.Hide();
  }
}

void FormMain::chkRaw_Click() {
  if (chkRaw.Value() == 1) {
    FormOutput.Show();
  } else {
    FormOutput.Hide();
  }
}

void FormMain::CmdCls_Click() {
  txtout().SetText({});
  txtout().SetSelStart(0);
}

void FormMain::TxtMaxTime_KeyUp(int keyCode) {
  // Anything but the main keyboard's digit keys empties the box.
  // The widget follows the box at once: no events are served here.
  if (keyCode < 48 || keyCode > 57) TxtMaxTime.SetText({});
}

void FormMain::cbDeviceID_Click() {
  // The chosen item is the combo box's text; every frame reads the text afresh.
}

void FormMain::FormOutput_Unload() {
  FormOutput.SaveGeometry(m_services.settings);
  chkRaw.SetValue(0);
  FormOutput.Discard();
}

void FormMain::FormDisplay_Unload() {
  chkDisp.SetValue(0);
  FormDisplay.SaveGeometry(m_services.settings);
  FormDisplay.Discard();
}

}  // namespace vorlan
