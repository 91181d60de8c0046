#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <QSet>

#include <deque>
#include <memory>
#include <vector>

#include "app/controls.h"
#include "app/view_window.h"
#include "app/work_progress.h"
#include "link/frame.h"
#include "link/reply_reader.h"
#include "session/session.h"
#include "session/traffic_trace.h"

class QSaveFile;

namespace vorlan {

class Desktop;
class ImportedRecords;
class Dialogs;
class Platform;
class SettingsStore;
class Socket;

namespace logging {
class RecordLog;
}

// What the main window needs from outside: the platform (socket, timers, event pump, clock),
// the settings, the modal dialogs, the folder of the program (the log files go in "logs" beside
// it, unless a logs folder of their own is given), and the screens its view windows may stand on
// (none without a display).
struct FormMainServices {
  Platform& platform;
  SettingsStore& settings;
  Dialogs& dialogs;
  QString programFolder;
  const Desktop* desktop = nullptr;
  QString logsFolder = {};
};

// The main window without its widgets: every control as a model, every handler under its own
// name, and everything the window owns (socket, timers, log file, the two view windows). The
// widgets of FormMainWindow mirror it and forward clicks and keys; tests drive it directly.
class FormMain : public QObject {
  Q_OBJECT

 public:
  explicit FormMain(FormMainServices services);
  ~FormMain() override;
  Q_DISABLE_COPY_MOVE(FormMain)

  // Controls, by their names.
  Control txtHost{QStringLiteral("0.0.0.0")};
  ComboBox cbDeviceID;
  Control TxtMaxTime{QStringLiteral("10")};
  Control CmdConnect{QStringLiteral("Connect")};
  Control CmdDisconnect{QStringLiteral("Disconnect")};
  Control CmdDnld{QStringLiteral("DownLoad")};
  Control CmdStop{QStringLiteral("Stop")};
  Control cmdquit{QStringLiteral("Quit")};
  Control chkDisp{QStringLiteral("Show Formatted Output")};
  Control chkRaw{QStringLiteral("Show RAW Data Output")};
  Lamp LinkLamp;  // on: Connected in front; off: NotConnected in front
  Lamp TxLamp;    // on: TxLEDon in front; off: TxLedOff in front
  Lamp RxLamp;    // on: RxLEDon in front; off: RxLEDoff in front
  StatusBarPanels StatusBar;
  ViewWindow FormOutput;   // RAW Data, text box txtout
  ViewWindow FormDisplay;  // Formatted Output, text box Text2

  // The session with the exchange that this window follows.
  session::Session& Session() { return *m_session; }
  const session::Session& Session() const { return *m_session; }
  TerminalText& txtout() { return FormOutput.TextBox(); }
  TerminalText& Text2() { return FormDisplay.TextBox(); }
  logging::RecordLog& CurrentLogFile();

  // The records logged since the start, as the session counts them; it starts again at 0 past
  // its largest value.
  qint32 RecordCount() const;

  // Start-up and shut-down.
  void Form_Load();
  void Form_Unload();
  bool Unloaded() const { return m_unloaded; }

  // Small handlers of the window.
  void cmdquit_Click();
  void mnuExit_Click();
  void mnuHelpAbout_Click();
  void chkDisp_Click();
  void chkRaw_Click();
  void CmdCls_Click();
  void TxtMaxTime_KeyUp(int keyCode);
  void cbDeviceID_Click();
  void FormOutput_Unload();
  void FormDisplay_Unload();
  // The traffic trace beside the log files, on or off; stored with the settings.
  void mnuTrace_Click(bool on);
  bool TraceOn() const;
  session::TrafficTrace& Trace() { return *m_trace; }

  // The connection: clicks become the session's commands; its events set the window.
  void CmdConnect_Click();
  void CmdDisconnect_Click();
  // The session is linked: the lamp, the buttons and the text.
  void Socket_Connect();
  // The session is unlinked, whoever ended it.
  void Socket_Close();
  // The socket failed: the IP-Error box.
  void Socket_Error(int number, const QString& description);

  // Frames out and in: the session writes them after their pace; these echo and light lamps.
  void ShowReceivedHex(const QByteArray& text);
  void FlashTxLed(bool on);
  void FlashRxLed(bool on);

  // A record is logged: its items in the Formatted Output, while that window is shown.
  void FormatData(const QByteArray& record);

  // The polling cycle.
  // A status request fell due: the texts that say so.
  void HeartBeatTimer_Timer();
  void CmdDnld_Click();
  void CmdStop_Click();

  // File commands.
  void Command1_Click();
  void mnuImport_Click();
  // Reads log files into one "Imported records" table (RecordsImported); the files that are not
  // log files are named in one message.
  void ImportFiles(const QStringList& fileNames);
  void ImportFile(const QString& fileName) { ImportFiles({fileName}); }
  // File, Export...: log files chosen in a dialog to one CSV file.
  void mnuExport_Click();
  void ExportFiles(const QStringList& files);
  // The rows of an imported table, as shown, to a CSV file.
  void ExportImported(std::shared_ptr<const ImportedRecords> table);
  // An import, export or clean-up is under way: a timer carries it on, step by step.
  bool FileWorkRunning() const { return m_fileWork || m_cleanUpWork; }

  // The device ID in use, as bytes for the frames.
  QByteArray DeviceId() const;

 signals:
  void AboutRequested();
  // The About box is unloaded with the main window.
  void UnloadAbout();
  // The shut-down sequence has run: the widgets close the About box and the program ends.
  void ProgramEnded();
  // A log file was imported: the front end shows its table.
  void RecordsImported(std::shared_ptr<vorlan::ImportedRecords> table);
  // A data request went unanswered until its deadline and was sent again.
  void DataRequestRepeated();
  // A data reply carried records that were logged before (the exchange sent them again): they
  // were acknowledged and not logged again.
  void RecordsAlreadyLogged(qsizetype count);
  // The traffic trace was switched on or off (by the operator, or because it failed).
  void TraceChanged(bool on);

 private:
  // The buttons' states, from the one table of link and download states.
  void ApplyButtons();
  // The rest of the shut-down, once the exchange has closed or the wait for it is over.
  void FinishUnload();
  void FollowSession();
  void ShowRecord(const QByteArray& record, bool bad, qint64 cutFrom, qint32 count);
  void ShowStatusReply(frame::ReplyKind kind);
  // A message box: shown after the session's handler has returned, never inside it.
  void Notify(const QString& text, int icon, const QString& title);
  std::unique_ptr<QSaveFile> OpenCsvTarget(const QStringList& sources);
  bool CommitCsv(QSaveFile& file, const QString& report);

  FormMainServices m_services;
  QString m_logsFolder;
  std::unique_ptr<session::Session> m_session;
  std::unique_ptr<session::TrafficTrace> m_trace;
  // A file command is choosing its files, or its work is under way: another is refused.
  bool m_fileCommandRunning = false;
  std::unique_ptr<SteppedWork> m_fileWork;     // an import or export
  std::unique_ptr<SteppedWork> m_cleanUpWork;  // the clean-up of empty logs
  bool m_connectClicked = false;
  QString m_connectFailure;
  bool m_unloading = false;
  bool m_sessionEnded = false;
  bool m_unloaded = false;
};

}  // namespace vorlan
