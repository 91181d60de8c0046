// Import of many log files, measured from the dialog's OK to the Imported records window shown
// with its summary; and the files to measure it on, made by the simulator's record generator.
//
//   import_bench --make DIR --records N [--files K] [--seed S]
//       N generated calls from 2026-12-07 00:00 on, as the tool logs them: by the hour of
//       their start, or with --files in K files of equal share.
//   import_bench [--show SECONDS] [--summary] FILE...
//       imports the files as File > Import does and prints the time and the peak memory;
//       --show keeps the window up (--summary: on its Summary tab) for a screenshot.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <map>

#include "app/form_main.h"
#include "platform/dialogs.h"
#include "platform/settings_store.h"
#include "record_generator.h"
#include "support/virtual_platform.h"
#include "ui/form_main_window.h"
#include "ui/imported_records_window.h"

namespace {

class NoDialogs : public vorlan::Dialogs {
 public:
  void MessageBox(const QString& text, Icon, const QString&) override {
    std::fprintf(stderr, "message: %s\n", qPrintable(text));
  }
  QString OpenFile(const OpenFileRequest&) override { return {}; }
};

// Peak resident memory of this process in KiB (Linux); 0 where it cannot be read.
long PeakKiB() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').front().toLong();
  }
  return 0;
}

int Make(const QString& dir, qint64 records, int files, quint32 seed) {
  QDir().mkpath(dir);
  pbxsim::GeneratorSettings settings;
  settings.firstStart = QDateTime(QDate(2026, 12, 7), QTime(0, 0, 5));
  settings.longShare = 0.2;
  settings.longSeconds = 300;
  pbxsim::RecordGenerator generator(settings, seed);
  std::map<QString, QByteArray> out;
  QString name;
  for (qint64 i = 0; i < records; ++i) {
    const pbxsim::GeneratedCall call = generator.Next();
    const QByteArray start = call.record.right(32).left(14);  // the last item's start stamp
    if (files <= 0 || i % ((records + files - 1) / files) == 0) {
      name = QString::fromLatin1(start.mid(4, 6)) + QStringLiteral("00.log");
    }
    // Marked as the tool marks them against a maximum of 600 s; blanks logged as ".".
    out[name] += (call.talkSeconds > 600 ? "<BAD>:" : "") +
                 QByteArray(call.record).replace(' ', '.') + "\r\n";
  }
  for (const auto& [file, bytes] : out) {
    QFile f(QDir(dir).filePath(file));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) return 1;
  }
  std::printf("%lld records in %zu files in %s\n", static_cast<long long>(records), out.size(),
              qPrintable(dir));
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QStringList arguments = QCoreApplication::arguments().mid(1);
  if (arguments.value(0) == QLatin1String("--make")) {
    const QString dir = arguments.value(1);
    const qint64 records = arguments.value(arguments.indexOf("--records") + 1).toLongLong();
    const int files = arguments.contains("--files")
                          ? arguments.value(arguments.indexOf("--files") + 1).toInt()
                          : 0;
    const quint32 seed = arguments.contains("--seed")
                             ? arguments.value(arguments.indexOf("--seed") + 1).toUInt()
                             : 7;
    return Make(dir, records, files, seed);
  }
  int showSeconds = 0;
  if (arguments.value(0) == QLatin1String("--show")) {
    showSeconds = arguments.value(1).toInt();
    arguments = arguments.mid(2);
  }
  const bool summaryTab = arguments.removeAll(QStringLiteral("--summary")) > 0;

  QTemporaryDir dir;
  QDir(dir.path()).mkdir("logs");
  vorlan::VirtualPlatform platform(QDateTime(QDate(2026, 12, 8), QTime(9, 0)));
  vorlan::SettingsStore settings(dir.filePath("VORLAN.ini"));
  NoDialogs dialogs;
  vorlan::FormMain form({platform, settings, dialogs, dir.path()});
  vorlan::FormMainWindow window(form, dialogs);
  form.Form_Load();
  form.TxtMaxTime.SetText("600");
  QCoreApplication::processEvents();

  const long before = PeakKiB();
  QElapsedTimer timer;
  timer.start();
  form.ImportFiles(arguments);
  platform.WaitUntil([&] { return !form.FileWorkRunning(); });
  vorlan::ImportedRecordsWindow* imported = window.importedWindow();
  if (!imported) return 1;
  // Shown and painted.
  QCoreApplication::processEvents();
  const qint64 elapsed = timer.elapsed();
  std::printf("%lld records from %lld files: %lld ms, peak RSS %ld MiB (%ld MiB before)\n",
              static_cast<long long>(imported->table()->model()->rowCount()),
              static_cast<long long>(arguments.size()), static_cast<long long>(elapsed),
              PeakKiB() / 1024, before / 1024);
  if (showSeconds <= 0) return 0;
  if (summaryTab) imported->pages()->setCurrentIndex(1);
  imported->resize(1560, 960);
  imported->move(0, 0);
  QTimer::singleShot(showSeconds * 1000, &app, &QApplication::quit);
  return app.exec();
}
