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
#include "link/reply_reader.h"

class QSaveFile;

namespace vorlan {

class Desktop;
class ImportedRecords;
class Dialogs;
class Platform;
class SettingsStore;
class Socket;
class Timer;

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

  Socket& socket() { return *m_socket; }
  Timer& HeartBeatTimer() { return *m_heartBeatTimer; }
  Timer& TimerDnld() { return *m_timerDnld; }
  Timer& TimerLog() { return *m_timerLog; }
  Timer& Timer1() { return *m_timer1; }
  TerminalText& txtout() { return FormOutput.TextBox(); }
  TerminalText& Text2() { return FormDisplay.TextBox(); }
  logging::RecordLog& CurrentLogFile() { return *m_log; }

  // State shared across the handlers.
  QByteArray OutFrame;
  qint32 RecordCount = 0;
  // The flag of the record formatted last, as FormatData decided it from that record alone.
  bool BadRecord() const { return m_badRecord; }
  bool StopRequested = false;
  bool StopDone = false;

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

  // The connection.
  void CmdConnect_Click();
  void CmdDisconnect_Click();
  void Socket_Connect();
  void Socket_Close();
  void Socket_Error(int number, QString description);

  // Frames out, echo and lamps.
  void SendFrame(QByteArray frame);
  void ShowReceivedHex(const QByteArray& text);
  void FlashTxLed();
  void FlashRxLed();
  void WaitSeconds(double seconds);
  void Timer1_Timer();

  // Arrivals from the exchange.
  void Socket_DataArrival();
  void FormatData(const QByteArray& record);
  // Adds the record, as judged just now, to those of its reply, which reach the log file
  // together before the reply's acknowledgement.
  void WriteLogRecord(const QByteArray& record);

  // The polling cycle.
  void HeartBeatTimer_Timer();
  void TimerDnld_Timer();
  void CmdDnld_Click();
  void CmdStop_Click();

  // The hourly switch of the log file.
  void TimerLog_Timer();

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

  // Cuts the connection's byte stream into replies and records; it holds what is not yet
  // complete (a partial frame, a record waiting for its rest).
  const link::ReplyReader& Reader() const { return m_reader; }
  // A data reply has begun and its acknowledgement has not been written yet: no data request
  // may go out now.
  bool ReplyOpen() const { return m_reader.InDataReply() || m_acknowledging; }
  // A data request has been written and its answer has not come yet.
  bool RequestOutstanding() const { return m_requestOutstanding; }
  // The deadline of the data request in flight, and of a data reply's rest.
  Timer& AnswerTimer() { return *m_answerTimer; }
  void AnswerTimer_Timer();
  // A data reply that may be whole waits on this for more before it is acknowledged.
  Timer& RestTimer() { return *m_restTimer; }
  void RestTimer_Timer();

  // The last data reply's block character and acknowledgement check.
  char BlockChar = 0;
  quint16 AckCheck = 0;
  QByteArray CurrentRecord;

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

 private:
  bool OpenLogAtConnect();
  void CloseLog();

  // A record of the open data reply: taken, judged, waiting for the reply's end.
  struct PendingRecord {
    QByteArray record;
    bool bad = false;
    qint64 cutFrom = 0;  // its length on the wire, when it was cut to fit
  };

  bool HandleEvents(const std::vector<link::ReplyReader::Event>& events, quint64 connection);
  bool HandleReaderEvent(const link::ReplyReader::Event& event, quint64 connection);
  void Settle();
  void StatusReply(const QByteArray& reply);
  void TakeAnswer(quint64 readAfter);
  bool TakeRecord(const link::ReplyReader::Event& event, quint64 connection);
  bool AcknowledgeDataReply(const QByteArray& blocks, quint64 connection);
  bool AlreadyLogged(const QByteArray& record);
  void Remember(const QByteArray& record);
  void ShowRecord(const PendingRecord& pending);
  void ShowGivenUp(const link::ReplyReader::Event& event);
  void GiveUpReply();
  void LogWriteFailed();
  void ClosingSteps();
  void StartDeadline();
  // A handler is half done (an arrival being read, a frame being sent, a record taken): what
  // a timer would do now waits for it.
  bool Busy() const;
  void PumpEvents();
  void WriteFrame(const QByteArray& frame);
  // The connection ends or a new one starts: nothing received on the old one carries over.
  void ResetReceivePath();
  bool SwitchLogFile();
  std::unique_ptr<QSaveFile> OpenCsvTarget(const QStringList& sources);
  bool CommitCsv(QSaveFile& file, const QString& report);

  FormMainServices m_services;
  QString m_logsFolder;
  std::unique_ptr<Socket> m_socket;
  std::unique_ptr<Timer> m_heartBeatTimer;
  std::unique_ptr<Timer> m_timerDnld;
  std::unique_ptr<Timer> m_timerLog;
  std::unique_ptr<Timer> m_timer1;
  std::unique_ptr<Timer> m_answerTimer;
  std::unique_ptr<Timer> m_restTimer;
  std::unique_ptr<logging::RecordLog> m_log;
  link::ReplyReader m_reader;
  // Counts connections: an arrival whose connection ended while it waited stops there.
  quint64 m_connection = 0;
  bool m_requestOutstanding = false;
  // Data requests sent, as counted when the current arrival and the open data reply were read.
  quint64 m_requestsSent = 0;
  quint64 m_arrivalReadAfter = 0;
  quint64 m_replyReadAfter = 0;
  // The request in flight has been answered; the closing steps arm the next one.
  bool m_answered = false;
  // A request fell due while a data reply was open; it goes once that reply has ended.
  bool m_requestDeferred = false;
  bool m_acknowledging = false;
  // Nested waits of the handlers (lamp flashes, the record loop's event pumps).
  int m_waitDepth = 0;
  // Records of the open data reply, logged, shown and counted when it is acknowledged.
  std::vector<PendingRecord> m_replyRecords;
  // The records logged last (the newest log file's last ones at first): a reply that the
  // exchange sends again, never having read our acknowledgement, is recognised by them.
  std::deque<QByteArray> m_recent;
  QSet<QByteArray> m_recentSet;
  bool m_recentLoaded = false;
  bool m_badRecord = false;
  bool m_logFailed = false;
  QString m_logFailure;
  // The hour switch fell due while an arrival was being handled; it runs at the next tick.
  bool m_switchPending = false;
  // An import or export is under way (it serves events while it runs); another waits for it.
  bool m_fileCommandRunning = false;
  bool m_unloading = false;
  bool m_unloaded = false;
};

}  // namespace vorlan
