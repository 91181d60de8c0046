#include "app.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>

#include "options.h"
#include "record_file.h"
#include "server.h"

#ifdef Q_OS_UNIX
#include <unistd.h>
#include <QSocketNotifier>
#endif

namespace pbxsim {
namespace {

void PrintLine(std::FILE* stream, const QString& text) {
  std::fputs(text.toLocal8Bit().constData(), stream);
  std::fputc('\n', stream);
  std::fflush(stream);  // a test reads our output through a pipe, line by line
}

#ifdef Q_OS_UNIX
// A signal handler may only write to a pipe; the event loop reads the other end and quits.
// Global because a handler reaches nothing else.
int g_signalPipe[2] = {-1, -1};  // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

void OnSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const auto written = ::write(g_signalPipe[1], &byte, 1);
}

void QuitOnSignals(QCoreApplication& app) {
  if (::pipe(g_signalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
}
#else
volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

void QuitOnSignals(QCoreApplication& app) {
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  auto* poll = new QTimer(&app);
  QObject::connect(poll, &QTimer::timeout, &app, [&app] {
    if (g_stop) app.quit();
  });
  poll->start(200);
}
#endif

}  // namespace

int Run(QCoreApplication& app) {
  const ParsedOptions parsed =
      ParseOptions(QCoreApplication::arguments(), QRandomGenerator::system()->generate(),
                   QDateTime::currentDateTime());
  if (parsed.outcome == ParsedOptions::Outcome::Help) {
    PrintLine(stdout, parsed.text);
    return 0;
  }
  if (parsed.outcome == ParsedOptions::Outcome::Error) {
    PrintLine(stderr, QStringLiteral("pbxsim: %1 (see --help)").arg(parsed.text));
    return 2;
  }
  const Options& options = parsed.options;
  const bool quiet = options.quiet;
  auto print = [quiet](const QString& line) {
    if (!quiet) {
      PrintLine(stdout, QDateTime::currentDateTime().toString("HH:mm:ss.zzz ") + line);
    }
  };

  // Two streams from one seed: misbehaving differently must not change the records.
  Exchange exchange(options.behaviour, options.seed ^ 0x9E3779B9u);
  RecordGenerator generator(options.generator, options.seed);
  if (!options.recordFile.isEmpty()) {
    QString error;
    const auto records = ReadRecordFile(options.recordFile, &error);
    if (!records) {
      PrintLine(stderr, QStringLiteral("pbxsim: %1: %2").arg(options.recordFile, error));
      return 1;
    }
    for (const QByteArray& record : *records) exchange.Enqueue(record);
  } else {
    for (int i = 0; i < options.records; ++i) exchange.Enqueue(generator.Next().record);
  }

  std::unique_ptr<QFile> transcriptFile;
  if (!options.transcriptPath.isEmpty()) {
    transcriptFile = std::make_unique<QFile>(options.transcriptPath);
    if (!transcriptFile->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
      PrintLine(stderr, QStringLiteral("pbxsim: %1: %2")
                            .arg(options.transcriptPath, transcriptFile->errorString()));
      return 1;
    }
  }
  Transcript transcript(transcriptFile.get());
  Server server(exchange, transcript, print);

  const QString where = QStringLiteral("%1:%2").arg(options.address).arg(options.port);
  if (options.refuse) {
    print(QStringLiteral("refusing connections on %1 (not listening)").arg(where));
  } else {
    QString error;
    if (!server.Listen(QHostAddress(options.address), options.port, &error)) {
      PrintLine(stderr, QStringLiteral("pbxsim: cannot listen on %1: %2").arg(where, error));
      return 1;
    }
    print(QStringLiteral("listening on %1, %2 records queued, seed %3")
              .arg(where)
              .arg(exchange.Queued())
              .arg(options.seed));
  }

  QTimer newCalls;
  if (options.newEveryMs > 0 && options.recordFile.isEmpty()) {
    QObject::connect(&newCalls, &QTimer::timeout, &app,
                     [&] { exchange.Enqueue(generator.Next().record); });
    newCalls.start(options.newEveryMs);
  }

  QuitOnSignals(app);
  const int code = QCoreApplication::exec();
  print(QStringLiteral("stopped: %1 records delivered, %2 still queued")
            .arg(server.Delivered())
            .arg(exchange.Queued()));
  return code;
}

}  // namespace pbxsim
