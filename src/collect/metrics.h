#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "collect/store_status.h"

namespace prometheus {
class Counter;
class Exposer;
class Gauge;
class Registry;
}  // namespace prometheus

namespace vorlan::session {
class Session;
}

namespace vorlan::collect {

class Collector;

// What the civetweb server behind the endpoint may spend on its clients: two threads, a
// request's head of at most 8 KiB, 5 s to send it, no keep-alive, a short queue. Fixed, so
// that no client can make it hold more.
inline constexpr int kMetricsThreads = 2;
inline constexpr int kMetricsRequestLimit = 8192;
inline constexpr int kMetricsRequestTimeoutMs = 5000;
inline constexpr int kMetricsQueue = 8;

// The collector's health for Prometheus, every series labelled with the exchange's name. It
// follows the session's and the collector's signals and the forwarder's status on the event
// loop's thread; the server reads the figures on threads of its own, and every figure is an
// atomic, so a scrape never waits for the download nor the download for a scrape.
class Metrics : public QObject {
  Q_OBJECT

 public:
  // `now`: milliseconds since the epoch (the real clock unless a test gives its own).
  Metrics(const QString& exchange, const QString& version, bool withStore,
          std::function<qint64()> now = {});
  ~Metrics() override;
  Q_DISABLE_COPY_MOVE(Metrics)

  // Serves /metrics at ADDRESS:PORT; what went wrong when it cannot.
  std::optional<QString> Listen(const QString& address);
  // The port listened on (the one chosen when 0 was asked for), 0 before Listen.
  int Port() const;

  void Follow(session::Session& session, Collector& collector);
  // The forwarder's figures as they are now.
  void SetStore(const StoreStatus& status);
  // Brings the figures that age with time up to now; called every second.
  void Tick();

  // The text a scrape gets, for tests without a server.
  std::string Scrape() const;

 private:
  prometheus::Gauge& AddGauge(const std::string& name, const std::string& help);
  prometheus::Counter& AddCounter(const std::string& name, const std::string& help);
  double Seconds() const;

  std::function<qint64()> m_now;
  std::string m_exchange;
  std::shared_ptr<prometheus::Registry> m_registry;
  std::unique_ptr<prometheus::Exposer> m_exposer;

  prometheus::Gauge& m_linkUp;
  prometheus::Gauge& m_downloadRunning;
  prometheus::Counter& m_recordsLogged;
  prometheus::Counter& m_recordsFlagged;
  prometheus::Counter& m_repliesRepeated;
  prometheus::Gauge& m_lastRecord;
  prometheus::Gauge& m_lastAnswer;
  prometheus::Counter& m_attempts;
  std::map<QString, prometheus::Counter*> m_failures;
  prometheus::Counter& m_logOpenFailures;
  prometheus::Counter& m_logWriteFailures;

  bool m_withStore;
  StoreStatus m_store;
  prometheus::Gauge* m_storeUp = nullptr;
  prometheus::Counter* m_rowsLoaded = nullptr;
  prometheus::Gauge* m_backlogBytes = nullptr;
  prometheus::Gauge* m_backlogAge = nullptr;
};

}  // namespace vorlan::collect
