#include "collect/collector.h"

#include <utility>

#include "app/form_main.h"
#include "app/texts.h"
#include "collect/event_log.h"
#include "collect/reconnect_delay.h"
#include "collect/wait_counting_platform.h"
#include "logging/record_log.h"
#include "platform/socket.h"
#include "platform/timer.h"

namespace vorlan::collect {
namespace {

QString Seconds(std::chrono::milliseconds delay) {
  return QString::number(double(delay.count()) / 1000.0, 'f', 1);
}

}  // namespace

Collector::Collector(FormMain& form, WaitCountingPlatform& platform, EventLog& log, Options options,
                     std::function<double()> random)
    : m_form(form),
      m_platform(platform),
      m_log(log),
      m_options(std::move(options)),
      m_random(std::move(random)),
      m_reconnectTimer(platform.CreateTimer()),
      m_watchTimer(platform.CreateTimer()) {
  m_platform.SetOnIdle([this] {
    if (!m_lookWhenIdle) return;
    m_lookWhenIdle = false;
    RequestLook();
  });
  connect(m_reconnectTimer.get(), &Timer::Tick, this, [this] {
    m_reconnectTimer->SetEnabled(false);
    m_connectDue = true;
    RequestLook();
  });
  m_watchTimer->SetInterval(1000);
  connect(m_watchTimer.get(), &Timer::Tick, this, &Collector::WatchTick);

  connect(&m_form.StatusBar, &StatusBarPanels::Changed, this, [this](int panel) {
    if (panel == 2 && m_phase == Phase::Linked) {
      const QString shown = m_form.StatusBar.Panel(2);
      if (shown == text::kStatusOk || shown == text::kBufferEmpty || shown == text::kProcessing ||
          shown == text::kPortBusy || shown == text::kChecksumError) {
        m_carriedReplies = true;
      }
    }
    RequestLook();
  });
  connect(&m_form.CmdDnld, &Control::Changed, this, &Collector::RequestLook);
  connect(&m_form.CmdStop, &Control::Changed, this, &Collector::RequestLook);
  Socket& socket = m_form.socket();
  connect(&socket, &Socket::ConnectEvent, this, &Collector::RequestLook);
  connect(&socket, &Socket::CloseEvent, this, &Collector::RequestLook);
  connect(&socket, &Socket::ErrorEvent, this, &Collector::RequestLook);
  connect(&socket, &Socket::DataArrivalEvent, this, [this] { m_silentSeconds = 0; });
  connect(&m_form, &FormMain::RecordsAlreadyLogged, this, [this](qsizetype count) {
    m_log.Info(QStringLiteral("%1 records sent again by the exchange were already in the log; "
                              "acknowledged, not logged twice")
                   .arg(count));
  });
  connect(&m_form, &FormMain::DataRequestRepeated, this, [this] {
    m_log.Warning(
        QStringLiteral("no answer to the data request in %1 s; sending it again")
            .arg(std::chrono::duration_cast<std::chrono::seconds>(kDataRequestTimeout).count()));
  });
}

Collector::~Collector() { m_platform.SetOnIdle({}); }

QString Collector::Address() const { return m_options.host + ':' + QString::number(kPbxPort); }

void Collector::Start() {
  m_form.Form_Load();
  m_log.Info(QStringLiteral("log folder %1; device ID %2; calls over %3 s are marked <BAD>:")
                 .arg(m_options.logsFolder, m_options.deviceId, m_options.maxTime));
  m_watchTimer->SetEnabled(true);
  m_connectDue = true;
  RequestLook();
}

void Collector::RequestStop(const QString& why) {
  if (!m_stopWhy.isEmpty() || m_phase == Phase::Stopped) return;
  m_stopWhy = why;
  RequestLook();
}

void Collector::Message(const QString& text, Dialogs::Icon icon, const QString& title) {
  if (title == text::kIpErrorTitle) {
    // The loss this error causes is reported with it as the reason.
    m_lossReason = text;
    return;
  }
  m_log.Write(icon == Dialogs::Icon::Information ? EventLog::Level::Info : EventLog::Level::Error,
              text);
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
  if (m_platform.Waiting()) {
    m_lookWhenIdle = true;  // a handler of the window is half done; look when it has finished
    return;
  }
  NoteLogFile();
  if (!m_stopWhy.isEmpty()) {
    Stop();
    return;
  }
  Socket& socket = m_form.socket();
  if (m_phase == Phase::Connecting && socket.State() != Socket::sckConnected &&
      socket.State() != Socket::sckClosed && m_phaseSeconds >= kConnectLimit.count()) {
    m_lossReason = QStringLiteral("no connection in %1 s").arg(kConnectLimit.count());
    socket.Close();
    m_form.CmdDisconnect_Click();
  }
  if (m_phase == Phase::Closing && socket.State() != Socket::sckClosed &&
      m_phaseSeconds >= kCloseLimit.count()) {
    m_log.Warning(QStringLiteral("the exchange did not close the connection in %1 s; closing it")
                      .arg(kCloseLimit.count()));
    m_form.Socket_Close();
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
      if (m_phase == Phase::Connecting && (m_form.CmdDnld.Enabled() || m_form.CmdStop.Enabled())) {
        m_phase = Phase::Linked;
        m_phaseSeconds = m_silentSeconds = 0;
        m_log.Info(QStringLiteral("connected to %1").arg(Address()));
      }
      if (m_phase != Phase::Linked) break;
      if (!m_restartWhy.isEmpty()) {
        Restart(std::exchange(m_restartWhy, {}));
      } else if (m_silentSeconds >= kSilenceLimit.count()) {
        Restart(QStringLiteral("nothing from the exchange in %1 s; connecting again")
                    .arg(kSilenceLimit.count()));
      } else if (!m_form.CmdStop.Enabled() && m_form.CmdDnld.Enabled()) {
        // Linked and not downloading, with no handler at work: the connection is new, or a
        // failure stopped the download.
        if (!m_form.CurrentLogFile().IsOpen()) {
          Restart(QStringLiteral("no log file is open; connecting again to open one"));
        } else {
          m_log.Info(QStringLiteral("downloading"));
          m_form.CmdDnld_Click();
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
  m_restartWhy.clear();
  m_carriedReplies = false;
  m_logFailed = false;
  m_form.txtHost.SetText(m_options.host);
  m_form.cbDeviceID.SetText(m_options.deviceId);
  m_form.TxtMaxTime.SetText(m_options.maxTime);
  m_log.Info(QStringLiteral("connecting to %1").arg(Address()));
  m_form.CmdConnect_Click();
  RequestLook();  // a log file that cannot be opened leaves the socket closed: try again later
}

void Collector::Restart(const QString& why) {
  m_log.Warning(why);
  m_phase = Phase::Closing;
  m_phaseSeconds = 0;
  if (m_form.CmdStop.Enabled()) m_form.CmdStop_Click();
  m_form.CmdDisconnect_Click();
}

void Collector::Lost() {
  const bool linked = m_phase != Phase::Connecting;
  QString why = m_lossReason;
  if (why.isEmpty()) {
    why = m_phase == Phase::Closing ? QStringLiteral("closed after the disconnect request")
          : linked                  ? QStringLiteral("closed by the exchange")
                                    : QStringLiteral("the log file could not be opened");
  }
  if (linked) {
    m_log.Warning(QStringLiteral("disconnected from %1: %2").arg(Address(), why));
  } else {
    m_log.Warning(QStringLiteral("could not connect to %1: %2").arg(Address(), why));
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

void Collector::Stop() {
  m_phase = Phase::Stopped;
  m_reconnectTimer->SetEnabled(false);
  m_watchTimer->SetEnabled(false);
  m_log.Info(QStringLiteral("stopping (%1)").arg(m_stopWhy));
  Socket& socket = m_form.socket();
  if (socket.State() == Socket::sckConnected && m_form.CmdStop.Enabled()) {
    m_form.CmdStop_Click();
    // The reply to the request in flight is still logged and acknowledged.
    const bool confirmed = m_platform.WaitUntil(
        [&] { return m_form.StopDone || socket.State() != Socket::sckConnected; }, kStopLimit);
    if (!confirmed) {
      m_log.Warning(
          QStringLiteral("the exchange did not confirm the stop in %1 s").arg(kStopLimit.count()));
    }
  }
  if (socket.State() == Socket::sckConnected) {
    m_form.CmdDisconnect_Click();
    const bool closed = m_platform.WaitUntil(
        [&] { return m_form.StatusBar.Panel(1) == text::kDisconnected; }, kCloseLimit);
    if (!closed) {
      m_log.Warning(QStringLiteral("the exchange did not close the connection in %1 s; closing it")
                        .arg(kCloseLimit.count()));
    }
  }
  if (socket.State() != Socket::sckClosed || m_form.CurrentLogFile().IsOpen()) {
    m_form.Socket_Close();
  }
  m_log.Info(
      QStringLiteral("stopped; %1 records received since the start").arg(m_form.RecordCount));
  emit Finished(kCleanStop);
}

void Collector::WatchTick() {
  ++m_phaseSeconds;
  ++m_silentSeconds;
  if (++m_reportSeconds >= kReportEvery.count()) {
    m_reportSeconds = 0;
    const qint32 logged = m_form.RecordCount - m_reportedCount;
    m_reportedCount = m_form.RecordCount;
    if (logged > 0 || m_phase == Phase::Linked) {
      m_log.Info(QStringLiteral("%1 records logged in the last minute").arg(logged));
    }
  }
  RequestLook();
}

void Collector::NoteLogFile() {
  const QString path = m_form.CurrentLogFile().Path();
  if (path.isEmpty() || path == m_logPath) return;
  m_logPath = path;
  m_log.Info(QStringLiteral("log file opened: %1").arg(path));
}

}  // namespace vorlan::collect
