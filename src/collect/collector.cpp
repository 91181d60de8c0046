#include "collect/collector.h"

#include <utility>

#include "collect/event_log.h"
#include "collect/reconnect_delay.h"
#include "logging/record_log.h"
#include "platform/platform.h"
#include "platform/socket_error_text.h"
#include "platform/timer.h"
#include "platform/winsock_errors.h"
#include "session/log_roll.h"

namespace vorlan::collect {
namespace {

using session::Session;

QString Seconds(std::chrono::milliseconds delay) {
  return QString::number(double(delay.count()) / 1000.0, 'f', 1);
}

qint64 WholeSeconds(std::chrono::milliseconds after) {
  return std::chrono::duration_cast<std::chrono::seconds>(after).count();
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

Session::Options CollectorSessionOptions() {
  // No lamps: frames and arrivals go through the session without a pace.
  return {std::chrono::milliseconds(0), {kConnectLimit, kSilenceLimit, kCloseLimit}, true};
}

Collector::Collector(Session& session, Platform& platform, EventLog& log, Options options,
                     std::function<double()> random)
    : m_session(session),
      m_platform(platform),
      m_log(log),
      m_options(std::move(options)),
      m_random(std::move(random)),
      m_reconnectTimer(platform.CreateTimer()),
      m_reportTimer(platform.CreateTimer()) {
  connect(m_reconnectTimer.get(), &Timer::Tick, this, [this] {
    m_reconnectTimer->SetEnabled(false);
    Connect();
  });
  m_reportTimer->SetInterval(int(std::chrono::milliseconds(kReportEvery).count()));
  connect(m_reportTimer.get(), &Timer::Tick, this, &Collector::Report);

  // Each reply: the connection carried replies. Nothing is posted per reply.
  const auto replied = [this] { m_carriedReplies = true; };
  connect(&m_session, &Session::StatusReply, this, replied);
  connect(&m_session, &Session::DataReplyStarted, this, replied);
  // The collector acts once the session's handler has returned.
  const auto later = [this](auto act) { m_platform.Post(this, std::move(act)); };
  connect(&m_session, &Session::Connected, this, [this, later] { later([this] { Linked(); }); });
  connect(&m_session, &Session::Unlinked, this, [this, later](Session::Unlink why) {
    later([this, why] { Lost(why); });
  });
  connect(&m_session, &Session::StopCompleted, this, [this, later] {
    // A stop that is not the hourly switch's, nor the end's: a failure stopped the download.
    if (m_session.Switching()) return;
    later([this] { Download(); });
  });
  connect(&m_session, &Session::Ended, this, [this, later] {
    later([this] {
      m_phase = Phase::Stopped;
      m_log.Info(QStringLiteral("stopped; %1 records received since the start")
                     .arg(m_session.RecordCount()));
      emit Finished(kCleanStop);
    });
  });
  connect(&m_session, &Session::LimitPassed, this, &Collector::Limit);
  connect(&m_session, &Session::SocketFailed, this, [this](int number, const QString& description) {
    // The loss this error causes is reported with it as the reason.
    m_lossKind = FailureKind(number);
    m_lossReason = DescribeSocketError(number, m_options.host, description).Lines() +
                   QStringLiteral("\r\nNumber ") + QString::number(number);
  });
  connect(&m_session, &Session::LogFileOpened, this, [this](const QString& path) {
    m_openedLog = path;
    if (m_phase == Phase::Linked && path != m_announcedLog) {
      m_announcedLog = path;
      m_log.Info(QStringLiteral("log file opened: %1").arg(path));
    }
  });
  connect(&m_session, &Session::LogFileRemoved, this, [this](const QString& path) {
    if (path != m_announcedLog) return;
    m_log.Info(QStringLiteral("log file removed, as no record was written to it: %1").arg(path));
    m_announcedLog.clear();
  });
  connect(&m_session, &Session::LogNotice, this,
          [this](const QString& notice) { m_log.Warning(notice); });
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
    m_log.Warning(QStringLiteral("no answer to the data request in %1 s; sending it again")
                      .arg(WholeSeconds(kDataRequestTimeout)));
  });
}

Collector::~Collector() = default;

QString Collector::Address() const { return m_options.host + ':' + QString::number(kPbxPort); }

void Collector::Start() {
  m_log.Info(QStringLiteral("log folder %1; device ID %2; calls over %3 s are marked <BAD>:")
                 .arg(m_options.logsFolder, m_options.deviceId, m_options.maxTime));
  m_reportTimer->SetEnabled(true);
  Connect();
}

void Collector::RequestStop(const QString& why) {
  if (!m_stopWhy.isEmpty() || m_phase == Phase::Stopped) return;
  m_stopWhy = why;
  m_phase = Phase::Stopping;
  m_reconnectTimer->SetEnabled(false);
  m_reportTimer->SetEnabled(false);
  m_log.Info(QStringLiteral("stopping (%1)").arg(why));
  m_session.End(true, kEndDeadline);
}

void Collector::Connect() {
  if (m_phase == Phase::Stopping || m_phase == Phase::Stopped) return;
  m_phase = Phase::Attempting;
  m_lossReason.clear();
  m_lossKind.clear();
  m_restarting = false;
  m_carriedReplies = false;
  m_logFailed = false;
  m_session.SetHost(m_options.host);
  m_session.SetDeviceId(m_options.deviceId);
  m_session.SetMaxTime(m_options.maxTime);
  m_log.Info(QStringLiteral("connecting to %1").arg(Address()));
  emit ConnectAttempted();
  if (!m_session.Connect()) {
    // No socket was opened: nothing will say the attempt ended.
    m_lossReason = QStringLiteral("the log file could not be opened");
    m_lossKind = QStringLiteral("log_file");
    m_platform.Post(this, [this] { Lost(Session::Unlink::NotConnected); });
  }
}

void Collector::Linked() {
  if (m_phase != Phase::Attempting || m_session.LinkState() != Session::Link::Linked) return;
  m_phase = Phase::Linked;
  m_log.Info(QStringLiteral("connected to %1").arg(Address()));
  if (!m_openedLog.isEmpty() && m_session.Log().IsOpen() && m_openedLog != m_announcedLog) {
    m_announcedLog = m_openedLog;
    m_log.Info(QStringLiteral("log file opened: %1").arg(m_openedLog));
  }
  Download();
}

void Collector::Download() {
  if (m_phase != Phase::Linked || m_restarting) return;
  if (m_session.LinkState() != Session::Link::Linked ||
      m_session.DownloadState() != Session::Download::Idle || m_session.Switching()) {
    return;
  }
  if (m_logFailed) {
    Restart(QStringLiteral("connecting again to open the log file afresh"));
  } else if (!m_session.Log().IsOpen()) {
    Restart(QStringLiteral("no log file is open; connecting again to open one"));
  } else {
    m_log.Info(QStringLiteral("downloading"));
    m_session.StartDownload();
  }
}

void Collector::LogFailed(const QString& text) {
  m_log.Write(EventLog::Level::Error, text);
  // A log file that cannot be opened or written: nothing more is acknowledged on this
  // connection. A fresh one opens the log file afresh; the exchange keeps the records until then.
  m_logFailed = true;
  if (m_phase == Phase::Linked) {
    m_platform.Post(this, [this] {
      if (m_session.DownloadState() == Session::Download::Idle) Download();
    });
  }
}

void Collector::Restart(const QString& why) {
  if (m_restarting) return;
  m_log.Warning(why);
  m_restarting = true;
  if (m_session.DownloadState() == Session::Download::Running) m_session.StopDownload();
  m_session.Disconnect();
}

void Collector::Limit(Session::Limit limit, std::chrono::milliseconds after) {
  const qint64 seconds = WholeSeconds(after);
  switch (limit) {
    case Session::Limit::Connect:
      m_lossReason = DescribeSocketError(wsa::kTimedOut, m_options.host, {}).Lines() +
                     QStringLiteral("\r\n(no connection in %1 s)").arg(seconds);
      m_lossKind = QStringLiteral("timeout");
      break;
    case Session::Limit::Silence:
      m_restarting = true;
      m_log.Warning(
          QStringLiteral("nothing from the exchange in %1 s; connecting again").arg(seconds));
      break;
    case Session::Limit::Close:
      m_log.Warning(QStringLiteral("the exchange did not close the connection in %1 s; closing it")
                        .arg(seconds));
      break;
    case Session::Limit::Stop:
      m_log.Warning(QStringLiteral("the exchange did not confirm the stop in %1 s").arg(seconds));
      break;
    case Session::Limit::End:
      m_log.Warning(
          QStringLiteral("not stopped after %1 s; closing the connection").arg(seconds));
      break;
  }
}

void Collector::Lost(Session::Unlink why) {
  if (m_phase != Phase::Attempting && m_phase != Phase::Linked) return;
  const bool linked = m_phase == Phase::Linked;
  QString reason = m_lossReason;
  if (reason.isEmpty()) {
    reason = m_restarting ? QStringLiteral("closed after the disconnect request")
             : linked     ? QStringLiteral("closed by the exchange")
             : why == Session::Unlink::ClosedOnAccept
                 ? QStringLiteral("the exchange closed the connection as soon as it accepted it")
                 : QStringLiteral("the connection ended before the exchange accepted it");
  }
  if (linked) {
    m_log.Warning(QStringLiteral("disconnected from %1: %2").arg(Address(), reason));
  } else {
    m_log.Warning(QStringLiteral("could not connect to %1: %2").arg(Address(), reason));
    emit ConnectFailed(m_lossKind.isEmpty() ? QStringLiteral("closed") : m_lossKind);
  }
  // A connection that brought replies (and could log them) starts the pauses afresh.
  if (m_carriedReplies && !m_logFailed) m_failures = 0;
  const std::chrono::milliseconds delay = ReconnectDelay(m_failures, m_random());
  ++m_failures;
  m_phase = Phase::Waiting;
  m_log.Info(QStringLiteral("reconnecting in %1 s").arg(Seconds(delay)));
  m_reconnectTimer->SetInterval(int(delay.count()));
  m_reconnectTimer->SetEnabled(true);
}

void Collector::Report() {
  const qint32 count = m_session.RecordCount();
  const qint32 logged = count - m_reportedCount;
  m_reportedCount = count;
  if (logged > 0 || m_phase == Phase::Linked) {
    m_log.Info(QStringLiteral("%1 records logged in the last minute").arg(logged));
  }
}

}  // namespace vorlan::collect
