#include "collect/metrics.h"

#include <QDateTime>
#include <QTcpServer>

#include <prometheus/counter.h>
#include <prometheus/exposer.h>
#include <prometheus/gauge.h>
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <utility>

#include "collect/collector.h"
#include "session/session.h"

namespace vorlan::collect {

using prometheus::BuildCounter;
using prometheus::BuildGauge;
using prometheus::Counter;
using prometheus::Gauge;

namespace {

Counter& LogFailures(prometheus::Registry& registry, const std::string& exchange,
                     const char* operation) {
  return BuildCounter()
      .Name("vorlan_log_failures_total")
      .Help(
          "Log files that could not be opened (open), records that could not be written or "
          "synced (write)")
      .Register(registry)
      .Add({{"exchange", exchange}, {"operation", operation}});
}

}  // namespace

Metrics::Metrics(const QString& exchange, const QString& version, bool withStore,
                 std::function<qint64()> now)
    : m_now(now ? std::move(now) : [] { return QDateTime::currentMSecsSinceEpoch(); }),
      m_exchange(exchange.toStdString()),
      m_registry(std::make_shared<prometheus::Registry>()),
      m_linkUp(AddGauge("vorlan_link_up", "1 while the exchange is linked, else 0")),
      m_downloadRunning(
          AddGauge("vorlan_download_running", "1 while the download of call records runs")),
      m_recordsLogged(AddCounter("vorlan_records_logged_total",
                                 "Call records written to the log files and synced")),
      m_recordsFlagged(AddCounter("vorlan_records_flagged_total",
                                  "Call records longer than the maximum call time (<BAD>:)")),
      m_repliesRepeated(AddCounter(
          "vorlan_replies_repeated_total",
          "Data replies the exchange sent again, recognised as already logged and not logged "
          "twice")),
      m_lastRecord(AddGauge("vorlan_last_record_timestamp_seconds",
                            "When the last call record was logged (the start before the first)")),
      m_lastAnswer(AddGauge("vorlan_last_answer_timestamp_seconds",
                            "When the exchange last sent anything (the start before that)")),
      m_attempts(AddCounter("vorlan_connect_attempts_total", "Connection attempts")),
      m_logOpenFailures(LogFailures(*m_registry, m_exchange, "open")),
      m_logWriteFailures(LogFailures(*m_registry, m_exchange, "write")),
      m_withStore(withStore) {
  auto& failures = BuildCounter()
                       .Name("vorlan_connect_failures_total")
                       .Help("Connection attempts that ended before the link was up, by reason")
                       .Register(*m_registry);
  for (const QString& kind : kFailureKinds) {
    m_failures[kind] = &failures.Add({{"exchange", m_exchange}, {"reason", kind.toStdString()}});
  }
  BuildGauge()
      .Name("vorlan_build_info")
      .Help("The collector's version, as a label; always 1")
      .Register(*m_registry)
      .Add({{"exchange", m_exchange}, {"version", version.toStdString()}})
      .Set(1);
  m_lastRecord.Set(Seconds());
  m_lastAnswer.Set(Seconds());
  if (m_withStore) {
    m_storeUp = &AddGauge("vorlan_store_up", "1 while the call store is reachable");
    m_rowsLoaded = &AddCounter("vorlan_store_rows_loaded_total",
                               "Rows loaded into the call store (counted once a minute)");
    m_backlogBytes = &AddGauge("vorlan_store_backlog_bytes",
                               "Bytes of the log files not loaded into the call store yet");
    m_backlogAge = &AddGauge("vorlan_store_backlog_age_seconds",
                             "Age of the oldest logged record not loaded yet; 0 when none");
  }
}

Metrics::~Metrics() = default;

double Metrics::Seconds() const { return double(m_now()) / 1000.0; }

Gauge& Metrics::AddGauge(const std::string& name, const std::string& help) {
  return BuildGauge().Name(name).Help(help).Register(*m_registry).Add({{"exchange", m_exchange}});
}

Counter& Metrics::AddCounter(const std::string& name, const std::string& help) {
  return BuildCounter().Name(name).Help(help).Register(*m_registry).Add({{"exchange", m_exchange}});
}

std::optional<QString> Metrics::Listen(const QString& address) {
  try {
    m_exposer = std::make_unique<prometheus::Exposer>(std::vector<std::string>{
        "listening_ports", address.toStdString(), "num_threads", std::to_string(kMetricsThreads),
        "max_request_size", std::to_string(kMetricsRequestLimit), "request_timeout_ms",
        std::to_string(kMetricsRequestTimeoutMs), "connection_queue", std::to_string(kMetricsQueue),
        "enable_keep_alive", "no"});
  } catch (const std::exception&) {
    // civetweb tells no more than that it could not bind; a bind of our own says why.
    const qsizetype colon = address.lastIndexOf(':');
    QString host = address.left(colon);
    if (host.startsWith('[')) host = host.mid(1, host.size() - 2);
    QTcpServer probe;
    const QString why = probe.listen(QHostAddress(host), quint16(address.mid(colon + 1).toUInt()))
                            ? QStringLiteral("refused by the server")
                        : probe.serverError() == QAbstractSocket::AddressInUseError
                            ? QStringLiteral("the port is taken")
                            : probe.errorString();
    return QStringLiteral("cannot listen on %1 for metrics: %2").arg(address, why);
  }
  m_exposer->RegisterCollectable(m_registry);
  return std::nullopt;
}

int Metrics::Port() const {
  if (!m_exposer) return 0;
  const std::vector<int> ports = m_exposer->GetListeningPorts();
  return ports.empty() ? 0 : ports.front();
}

void Metrics::Follow(session::Session& session, Collector& collector) {
  using session::Session;
  // The session leaves the download as it ends a link without a word of its own: both figures
  // are read from its state at every change of either.
  const auto follow = [this, &session] {
    m_linkUp.Set(session.LinkState() == Session::Link::Linked ? 1 : 0);
    m_downloadRunning.Set(session.DownloadState() == Session::Download::Running ? 1 : 0);
  };
  connect(&session, &Session::Connected, this, follow);
  connect(&session, &Session::Unlinked, this, follow);
  connect(&session, &Session::DownloadChanged, this, follow);
  connect(&session, &Session::RecordLogged, this, [this](const QByteArray&, bool bad) {
    m_recordsLogged.Increment();
    if (bad) m_recordsFlagged.Increment();
    m_lastRecord.Set(Seconds());
  });
  connect(&session, &Session::FrameReceived, this, [this] { m_lastAnswer.Set(Seconds()); });
  connect(&session, &Session::RecordsAlreadyLogged, this,
          [this] { m_repliesRepeated.Increment(); });
  connect(&session, &Session::LogFileFailed, this, [this] { m_logOpenFailures.Increment(); });
  connect(&session, &Session::LogWriteFailed, this, [this] { m_logWriteFailures.Increment(); });
  connect(&collector, &Collector::ConnectAttempted, this, [this] { m_attempts.Increment(); });
  connect(&collector, &Collector::ConnectFailed, this, [this](const QString& kind) {
    const auto failure = m_failures.find(kind);
    (failure != m_failures.end() ? failure : m_failures.find(QStringLiteral("error")))
        ->second->Increment();
  });
}

void Metrics::SetStore(const StoreStatus& status) {
  if (!m_withStore) return;
  m_storeUp->Set(status.reachable ? 1 : 0);
  if (status.rowsLoaded > m_store.rowsLoaded) {
    m_rowsLoaded->Increment(double(status.rowsLoaded - m_store.rowsLoaded));
  }
  m_backlogBytes->Set(double(status.backlogBytes));
  m_store = status;
  Tick();
}

void Metrics::Tick() {
  if (!m_withStore) return;
  const qint64 age = m_store.oldestSince ? std::max<qint64>(0, m_now() - *m_store.oldestSince) : 0;
  m_backlogAge->Set(double(age) / 1000.0);
}

std::string Metrics::Scrape() const {
  return prometheus::TextSerializer().Serialize(m_registry->Collect());
}

}  // namespace vorlan::collect
