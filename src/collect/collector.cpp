#include "collect/collector.h"

#include <QFile>
#include <QFileInfo>

#include <utility>

#include "collect/event_log.h"
#include "collect/reconnect_delay.h"
#include "logging/log_files.h"
#include "logging/record_log.h"
#include "platform/platform.h"
#include "platform/socket.h"
#include "platform/socket_error_text.h"
#include "platform/timer.h"
#include "platform/winsock_errors.h"
#include "session/session.h"

namespace vorlan::collect {
namespace {

QString Seconds(std::chrono::milliseconds delay) {
  return QString::number(double(delay.count()) / 1000.0, 'f', 1);
}

}  // namespace

QString FailureKind(int socketError) {
  switch (socketError) {
    case wsa::kConnectionRefused: return QStringLiteral("refused");
    case wsa::kTimedOut: return QStringLiteral("timeout");
    case wsa::kNetworkDown:
    case wsa::kNetworkUnreachable:
    case wsa::kHostDown:
    case wsa::kHostUnreachable: return QStringLiteral("unreachable");
    case wsa::kHostNotFound:
    case wsa::kTryAgain:
    case wsa::kNoRecovery: return QStringLiteral("name");
    default: return QStringLiteral("error");
  }
}

using session::Session;

Collector::Collector(Session& session, Platform& platform, EventLog& log, Options options,
                     std::function<double()> random)
    : m_session(session),
      m_platform(platform),
      m_log(log),
      m_options(std::move(options)),
      m_random(std::move(random)),
      m_reconnectTimer(platform.CreateTimer()),
      m_watchTimer(platform.CreateTimer()),
      m_stopTimer(platform.CreateTimer()),
      m_stopStepTimer(platform.CreateTimer()) {
  connect(m_reconnectTimer.get(), &Timer::Tick, this, [this] {
    m_reconnectTimer->SetEnabled(false);
    m_connectDue = true;
    RequestLook();
  });
  m_watchTimer->SetInterval(1000);
  connect(m_watchTimer.get(), &Timer::Tick, this, &Collector::WatchTick);
  m_stopTimer->SetInterval(int(std::chrono::milliseconds(kStopDeadline).count()));
  connect(m_stopTimer.get(), &Timer::Tick, this, &Collector::StopDeadline);
  connect(m_stopStepTimer.get(), &Timer::Tick, this, [this] {
    m_stopStepTimer->SetEnabled(false);
    m_stopStepOver = true;
    RequestLook();
  });

  // A reply of any kind: the connection carried replies.
  const auto replied = [this] {
    if (m_phase == Phase::Linked) m_carriedReplies = true;
    RequestLook();
  };
  connect(&m_session, &Session::StatusReply, this, replied);
  connect(&m_session, &Session::DataReplyStarted, this, replied);
  connect(&m_session, &Session::DownloadChanged, this, &Collector::RequestLook);
  connect(&m_session, &Session::StopCompleted, this, &Collector::RequestLook);
  connect(&m_session.socket(), &Socket::ConnectEvent, this, [this] { m_accepted = true; });
  connect(&m_session, &Session::Connected, this, &Collector::RequestLook);
  connect(&m_session, &Session::Unlinked, this, &Collector::RequestLook);
  connect(&m_session, &Session::SocketFailed, this, [this](int number, const QString& description) {
    // The loss this error causes is reported with it as the reason.
    m_lossKind = FailureKind(number);
    m_lossReason = DescribeSocketError(number, m_options.host, description).Lines() +
                   QStringLiteral("\r\nNumber ") + QString::number(number);
  });
  connect(&m_session, &Session::FrameReceived, this, [this] { m_silentSeconds = 0; });
  connect(&m_session, &Session::RecordLogged, this, [this] { ++m_recordCount; });
  connect(&m_session, &Session::LogFileFailed, this, &Collector::LogFailed);
  connect(&m_session, &Session::LogWriteFailed, this,
          [this](const QString& path, const QString& failure) {
            LogFailed(QStringLiteral("A call record could not be written to the log file %1 (%2). "
                                     "The download was stopped; the exchange keeps the records "
                                     "that were not acknowledged.")
                          .arg(path, failure));
          });
  connect(&m_session, &Session::RecordsAlreadyLogged, this, [this](qsizetype count) {
    m_log.Info(QStringLiteral("%1 records sent again by the exchange were already in the log; "
                              "acknowledged, not logged twice")
                   .arg(count));
  });
  connect(&m_session, &Session::ForeignDeviceId, this, [this](char answeredAs) {
    m_log.Warning(QStringLiteral("the exchange answers as device %1 while the device ID is %2")
                      .arg(QLatin1Char(answeredAs))
                      .arg(QString::fromLatin1(m_session.DeviceId())));
  });
  connect(&m_session, &Session::RequestRepeated, this, [this] {
    m_log.Warning(
        QStringLiteral("no answer to the data request in %1 s; sending it again")
            .arg(std::chrono::duration_cast<std::chrono::seconds>(kDataRequestTimeout).count()));
  });
}

Collector::~Collector() = default;

QString Collector::Address() const { return m_options.host + ':' + QString::number(kPbxPort); }

void Collector::Start() {
  m_session.Reset();
  m_log.Info(QStringLiteral("log folder %1; device ID %2; calls over %3 s are marked <BAD>:")
                 .arg(m_options.logsFolder, m_options.deviceId, m_options.maxTime));
  m_watchTimer->SetEnabled(true);
  m_connectDue = true;
  RequestLook();
}

void Collector::RequestStop(const QString& why) {
  if (!m_stopWhy.isEmpty() || m_phase == Phase::Stopped) return;
  m_stopWhy = why;
  m_stopTimer->SetEnabled(true);
  // No hourly switch while stopping: it waits for the exchange to confirm a stop of its own,
  // and closing the connection does not end that wait.
  m_session.HoldLogSwitch(true);
  RequestLook();
}

void Collector::LogFailed(const QString& text) {
  m_log.Write(EventLog::Level::Error, text);
  // A log file that cannot be opened or written: nothing more is acknowledged on this
  // connection. A fresh one opens the log file afresh; the exchange keeps the records until then.
  m_logFailed = true;
  if (m_phase == Phase::Linked && m_restartWhy.isEmpty()) {
    m_restartWhy = QStringLiteral("connecting again to open the log file afresh");
  }
  RequestLook();
}

void Collector::RequestLook() {
  if (m_lookPosted) return;
  m_lookPosted = true;
  m_platform.Post(this, [this] {
    m_lookPosted = false;
    Look();
  });
}

void Collector::Look() {
  if (m_phase == Phase::Stopped) return;
  NoteLogFile();
  if (!m_stopWhy.isEmpty()) {
    Stop();
    return;
  }
  Socket& socket = m_session.socket();
  if (m_phase == Phase::Connecting && socket.State() != Socket::sckConnected &&
      socket.State() != Socket::sckClosed && m_phaseSeconds >= kConnectLimit.count()) {
    m_lossReason = DescribeSocketError(wsa::kTimedOut, m_options.host, {}).Lines() +
                   QStringLiteral("\r\n(no connection in %1 s)").arg(kConnectLimit.count());
    m_lossKind = QStringLiteral("timeout");
    socket.Close();
    m_session.Disconnect();
  }
  if (m_phase == Phase::Closing && socket.State() != Socket::sckClosed &&
      m_phaseSeconds >= kCloseLimit.count()) {
    m_log.Warning(QStringLiteral("the exchange did not close the connection in %1 s; closing it")
                      .arg(kCloseLimit.count()));
    m_session.Close();
  }

  switch (socket.State()) {
    case Socket::sckClosed:
      if (m_phase == Phase::Connecting || m_phase == Phase::Linked || m_phase == Phase::Closing) {
        Lost();
      } else if (m_connectDue) {
        Connect();
      }
      break;
    case Socket::sckConnected:
      if (m_phase == Phase::Connecting && m_session.LinkState() == Session::Link::Linked) {
        m_phase = Phase::Linked;
        m_phaseSeconds = m_silentSeconds = 0;
        m_log.Info(QStringLiteral("connected to %1").arg(Address()));
        NoteLogFile();
      }
      if (m_phase != Phase::Linked) break;
      if (!m_restartWhy.isEmpty()) {
        Restart(std::exchange(m_restartWhy, {}));
      } else if (m_silentSeconds >= kSilenceLimit.count()) {
        Restart(QStringLiteral("nothing from the exchange in %1 s; connecting again")
                    .arg(kSilenceLimit.count()));
      } else if (m_session.LinkState() == Session::Link::Linked &&
                 m_session.DownloadState() == Session::Download::Idle &&
                 !m_session.SwitchInProgress()) {
        // Linked and not downloading: the connection is new, or a failure stopped the download.
        if (!m_session.Log().IsOpen()) {
          Restart(QStringLiteral("no log file is open; connecting again to open one"));
        } else {
          m_log.Info(QStringLiteral("downloading"));
          m_session.StartDownload();
        }
      }
      break;
    default: break;  // on the way to connected or closed
  }
}

void Collector::Connect() {
  m_connectDue = false;
  m_phase = Phase::Connecting;
  m_phaseSeconds = 0;
  m_lossReason.clear();
  m_lossKind.clear();
  m_restartWhy.clear();
  m_carriedReplies = false;
  m_logFailed = false;
  m_session.SetHost(m_options.host);
  m_session.SetDeviceId(m_options.deviceId);
  m_session.SetMaxTime(m_options.maxTime);
  m_log.Info(QStringLiteral("connecting to %1").arg(Address()));
  emit ConnectAttempted();
  m_accepted = false;
  const QString path = logging::LogFilePath(m_options.logsFolder, m_platform.Now());
  const bool existed = QFileInfo::exists(path) || QFileInfo(path).isSymLink();
  m_session.Connect();
  m_logOpened = m_session.Log().IsOpen();
  m_seenLog = m_session.Log().Path();
  if (!existed && m_seenLog == path) m_createdLogs << path;
  RequestLook();  // a log file that cannot be opened leaves the socket closed: try again later
}

void Collector::Restart(const QString& why) {
  m_log.Warning(why);
  m_phase = Phase::Closing;
  m_phaseSeconds = 0;
  if (m_session.DownloadState() == Session::Download::Running) m_session.StopDownload();
  m_session.Disconnect();
}

void Collector::Lost() {
  const bool linked = m_phase != Phase::Connecting;
  QString why = m_lossReason;
  if (why.isEmpty()) {
    why = m_phase == Phase::Closing ? QStringLiteral("closed after the disconnect request")
          : linked                  ? QStringLiteral("closed by the exchange")
          : m_accepted
              ? QStringLiteral("the exchange closed the connection as soon as it accepted it")
          : !m_logOpened ? QStringLiteral("the log file could not be opened")
                         : QStringLiteral("the connection ended before the exchange accepted it");
  }
  if (linked) {
    m_log.Warning(QStringLiteral("disconnected from %1: %2").arg(Address(), why));
  } else {
    m_log.Warning(QStringLiteral("could not connect to %1: %2").arg(Address(), why));
    QString kind = m_lossKind;
    if (kind.isEmpty()) {
      kind = !m_accepted && !m_logOpened ? QStringLiteral("log_file") : QStringLiteral("closed");
    }
    emit ConnectFailed(kind);
  }
  // A connection that brought replies (and could log them) starts the pauses afresh.
  if (m_carriedReplies && !m_logFailed) m_failures = 0;
  DropEmptyLogs();
  const std::chrono::milliseconds delay = ReconnectDelay(m_failures, m_random());
  ++m_failures;
  m_phase = Phase::Waiting;
  m_log.Info(QStringLiteral("reconnecting in %1 s").arg(Seconds(delay)));
  m_reconnectTimer->SetInterval(int(delay.count()));
  m_reconnectTimer->SetEnabled(true);
}

void Collector::Stop() {
  // A state of its own, carried on each time the collector looks: the stop waits for the
  // session from the event loop, never in a loop of its own.
  Socket& socket = m_session.socket();
  if (m_phase != Phase::Stopping) {
    m_phase = Phase::Stopping;
    m_reconnectTimer->SetEnabled(false);
    m_watchTimer->SetEnabled(false);
    m_session.HoldLogSwitch(true);
    m_log.Info(QStringLiteral("stopping (%1)").arg(m_stopWhy));
    // Each step has a limit of its own; the stop's deadline, which closes the connection, ends
    // whichever is under way.
    m_stopStep = StopStep::Download;
    if (socket.State() == Socket::sckConnected &&
        m_session.DownloadState() != Session::Download::Idle) {
      if (m_session.DownloadState() == Session::Download::Running) m_session.StopDownload();
      // The reply to the request in flight is still logged and acknowledged.
      StartStopStep(kStopLimit);
      return;
    }
  }
  if (m_stopStep == StopStep::Download) {
    const bool confirmed = m_session.StopDone() || socket.State() != Socket::sckConnected ||
                           m_session.DownloadState() == Session::Download::Idle;
    if (!confirmed && !m_stopStepOver) return;
    if (!confirmed) {
      m_log.Warning(
          QStringLiteral("the exchange did not confirm the stop in %1 s").arg(kStopLimit.count()));
    }
    m_stopStep = StopStep::Close;
    if (socket.State() == Socket::sckConnected) {
      m_session.Disconnect();
      StartStopStep(kCloseLimit);
      return;
    }
  }
  const bool closed =
      socket.State() == Socket::sckClosed || m_session.LinkState() == Session::Link::Closed;
  if (!closed && !m_stopStepOver) return;
  if (!closed) {
    m_log.Warning(QStringLiteral("the exchange did not close the connection in %1 s; closing it")
                      .arg(kCloseLimit.count()));
  }
  m_phase = Phase::Stopped;
  m_stopStepTimer->SetEnabled(false);
  if (socket.State() != Socket::sckClosed || m_session.Log().IsOpen()) m_session.Close();
  m_stopTimer->SetEnabled(false);
  DropEmptyLogs();
  m_log.Info(QStringLiteral("stopped; %1 records received since the start").arg(m_recordCount));
  emit Finished(kCleanStop);
}

void Collector::StartStopStep(std::chrono::seconds limit) {
  m_stopStepOver = false;
  m_stopStepTimer->SetInterval(int(std::chrono::milliseconds(limit).count()));
  m_stopStepTimer->SetEnabled(true);
}

void Collector::StopDeadline() {
  m_stopTimer->SetEnabled(false);
  m_log.Warning(
      QStringLiteral("not stopped after %1 s; closing the connection").arg(kStopDeadline.count()));
  if (m_session.socket().State() != Socket::sckClosed || m_session.Log().IsOpen()) {
    m_session.Close();
  }
  RequestLook();
}

void Collector::WatchTick() {
  ++m_phaseSeconds;
  ++m_silentSeconds;
  if (++m_reportSeconds >= kReportEvery.count()) {
    m_reportSeconds = 0;
    const qint32 logged = m_recordCount - m_reportedCount;
    m_reportedCount = m_recordCount;
    if (logged > 0 || m_phase == Phase::Linked) {
      m_log.Info(QStringLiteral("%1 records logged in the last minute").arg(logged));
    }
  }
  RequestLook();
}

void Collector::NoteLogFile() {
  const QString path = m_session.Log().Path();
  if (path != m_seenLog) {
    m_seenLog = path;
    // Opened by the hourly switch, which opens only a file that does not exist yet.
    if (!path.isEmpty()) m_createdLogs << path;
  }
  if (path.isEmpty() || m_phase != Phase::Linked || path == m_announcedLog) return;
  m_announcedLog = path;
  m_log.Info(QStringLiteral("log file opened: %1").arg(path));
}

void Collector::DropEmptyLogs() {
  // An exchange that is away would otherwise leave an empty file for every minute in which an
  // attempt was made.
  for (const QString& path : std::exchange(m_createdLogs, {})) {
    const QFileInfo file(path);
    if (file.isSymLink() || !file.isFile() || file.size() != 0) continue;
    if (m_session.Log().Path() == path) {
      m_session.CloseLog();
      m_seenLog.clear();
    }
    if (QFile::remove(path) && path == m_announcedLog) {
      m_log.Info(QStringLiteral("log file removed, as no record was written to it: %1").arg(path));
      m_announcedLog.clear();
    }
  }
}

}  // namespace vorlan::collect
