// vorlan-collect: the desktop tool's record path as a program without windows, for a service
// manager to run beside an exchange.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cstdio>
#include <memory>

#include "collect/collector.h"
#include "collect/event_log.h"
#include "collect/folder_lock.h"
#include "collect/metrics.h"
#include "collect/options.h"
#include "logging/log_files.h"
#include "platform/qt_platform.h"
#include "platform/termination_signals.h"
#include "platform/timer.h"
#include "session/session.h"
#include "session/traffic_trace.h"
#include "store/forwarder.h"

using namespace vorlan;

int main(int argc, char* argv[]) {
  // No desktop to share a loop with: Qt's own event dispatcher, which, unlike the GLib one, does
  // not wake itself each time a socket's write notifier goes on or off (twice a frame).
  if (!qEnvironmentVariableIsSet("QT_NO_GLIB")) qputenv("QT_NO_GLIB", "1");
  QCoreApplication app(argc, argv);
  // First, so that no line on standard error can end the program (SIGPIPE) and no request to
  // stop is lost; requests are delivered once the event loop runs.
  TerminationSignals termination;
  const QString defaultLogs = logging::DefaultLogsFolder(QCoreApplication::applicationDirPath());
  const collect::ParsedArguments parsed =
      collect::ParseArguments(QCoreApplication::arguments().mid(1), defaultLogs);
  if (!parsed.options) {
    std::fprintf(stderr, "vorlan-collect: %s\nTry 'vorlan-collect --help'.\n",
                 qPrintable(parsed.error));
    return collect::kBadArguments;
  }
  const collect::Options& options = *parsed.options;
  if (options.help) {
    std::fputs(qPrintable(collect::HelpText(defaultLogs)), stdout);
    return collect::kCleanStop;
  }

  QtPlatform platform;
  collect::EventLog log(platform, stderr, options.quiet);

  // The service must not stop for a missing log folder: it makes it, and ends only when it
  // cannot have one to write in.
  if (!logging::MakeLogsFolder(options.logsFolder) || !QFileInfo(options.logsFolder).isWritable()) {
    log.Error(QStringLiteral("cannot create or write the log folder %1")
                  .arg(QDir::toNativeSeparators(options.logsFolder)));
    return collect::kCannotStart;
  }
  collect::FolderLock folderLock;
  if (const std::optional<QString> held = folderLock.Take(options.logsFolder)) {
    log.Error(*held);
    return collect::kCannotStart;
  }

  // Off by default; a port that cannot be had ends the start rather than leaving a collector
  // that nobody can watch.
  std::unique_ptr<collect::Metrics> metrics;
  std::unique_ptr<Timer> metricsTick;
  if (!options.metrics.isEmpty()) {
    metrics = std::make_unique<collect::Metrics>(options.exchange,
                                                 QStringLiteral("%1.%2.%3")
                                                     .arg(VORLAN_VERSION_MAJOR)
                                                     .arg(VORLAN_VERSION_MINOR)
                                                     .arg(VORLAN_VERSION_PATCH),
                                                 !options.store.isEmpty());
    if (const std::optional<QString> error = metrics->Listen(options.metrics)) {
      log.Error(*error);
      return collect::kCannotStart;
    }
    const QString host = options.metrics.left(options.metrics.lastIndexOf(':'));
    log.Info(QStringLiteral("metrics at http://%1:%2/metrics").arg(host).arg(metrics->Port()));
    metricsTick = platform.CreateTimer();
    metricsTick->SetInterval(1000);
    QObject::connect(metricsTick.get(), &Timer::Tick, metrics.get(), &collect::Metrics::Tick);
    metricsTick->SetEnabled(true);
  }

  // The store is fed from the log files on a thread of its own; its reports come to this
  // thread's event loop, which writes every line of the log.
  std::unique_ptr<store::Forwarder> forwarder;
  if (!options.store.isEmpty()) {
    if (const auto error = store::PgConnection::CheckConninfo(options.store.toUtf8())) {
      std::fprintf(stderr, "vorlan-collect: %s: %s\n", qPrintable(options.storeFrom),
                   qPrintable(*error));
      return collect::kBadArguments;
    }
    const QString zone = options.timeZone.isEmpty() ? store::LocalTimeZone() : options.timeZone;
    forwarder = std::make_unique<store::Forwarder>(
        store::ForwarderOptions{options.store.toUtf8(), options.exchange.toUtf8(), zone,
                                options.logsFolder},
        [&app, &log](store::Forwarder::Level level, const QString& text) {
          QMetaObject::invokeMethod(&app, [&log, level, text] {
            if (level == store::Forwarder::Level::Warning) {
              log.Warning(text);
            } else {
              log.Info(text);
            }
          });
        });
    forwarder->Start();
  }
  if (metrics) {
    QObject::connect(metricsTick.get(), &Timer::Tick, metrics.get(), [&metrics, &forwarder] {
      if (!forwarder) return;
      const store::ForwarderStatus now = forwarder->Status();
      metrics->SetStore({now.storeReachable, now.rowsLoaded, now.bytesNotLoaded,
                         now.oldestNotLoadedSince});
    });
  }

  session::Session session(platform, options.logsFolder, collect::CollectorSessionOptions());
  session::TrafficTrace trace(platform, session);
  QObject::connect(&trace, &session::TrafficTrace::Failed, &app,
                   [&log](const QString& why) { log.Error(why); });
  trace.SetEnabled(options.trace);
  collect::Collector running(session, platform, log, options,
                             [] { return QRandomGenerator::global()->generateDouble(); });
  if (metrics) metrics->Follow(session, running);
  QObject::connect(&running, &collect::Collector::Finished, &app, &QCoreApplication::exit);

  QObject::connect(&termination, &TerminationSignals::Requested, &running, [&](int number) {
    running.RequestStop(QString::fromLatin1(TerminationSignals::Name(number)));
  });

  running.Start();
  return QCoreApplication::exec();
}
