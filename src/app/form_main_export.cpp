// File, Export...: call records as CSV, from log files or from an imported table.
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSaveFile>
#include <QScopeGuard>

#include <chrono>

#include "app/form_main.h"
#include "app/imported_records.h"
#include "app/log_file_walk.h"
#include "app/work_progress.h"
#include "format/call_csv.h"
#include "logging/log_reader.h"
#include "logging/log_stream.h"
#include "logging/record_log.h"
#include "platform/dialogs.h"

namespace vorlan {
namespace {

const QString kExportTitle = QStringLiteral("Export");
// One step of an export of a table's rows: this many rows or this much time, whichever ends
// first (log files go by the walk's steps).
constexpr qint64 kStepRows = 5000;
constexpr std::chrono::milliseconds kStepTime = LogFileWalk::kStepTime;

QString Shown(const QString& path) { return QDir::toNativeSeparators(path); }

void ReportUnwritable(Dialogs& dialogs, const QString& path, const QString& error) {
  dialogs.MessageBox(QStringLiteral("%1 cannot be written:\r\n%2").arg(Shown(path), error),
                     Dialogs::Icon::Critical, kExportTitle);
}

bool SameFile(const QString& a, const QString& b) {
  const QString canonical = QFileInfo(a).canonicalFilePath();
  return !canonical.isEmpty() && canonical == QFileInfo(b).canonicalFilePath();
}

// An export of log files under way: each file read through a bounded window, its records
// written as they come. A file that turns out not to be a log file is cut out of the CSV again.
class ExportOfFiles {
 public:
  ExportOfFiles(QStringList files, std::unique_ptr<QSaveFile> target,
                std::optional<QString> maxTime)
      : m_walk(std::move(files)), m_target(std::move(target)), m_maxTime(std::move(maxTime)) {}

  std::optional<SteppedWork::Progress> Step() {
    return m_walk.Step(
        [this](const QString* error) {
          if (error) {
            m_skipped << QStringLiteral("%1 (%2)").arg(Shown(m_walk.Current()), *error);
            return;
          }
          m_fileStart = m_target->pos();
          m_fileRecords = 0;
          m_fileOthers = 0;
        },
        [this](const logging::LogLine& line) {
          if (!line.isRecord) {
            ++m_fileOthers;
            return;
          }
          ++m_fileRecords;
          m_target->write(format::CsvRow(format::JudgedCsvRecord(
              m_walk.Current(), line.line, line.markedBad, line.bytes, m_maxTime)));
        },
        [this] { EndFile(); });
  }

  QSaveFile& Target() { return *m_target; }
  qint64 Records() const { return m_records; }
  qint64 Others() const { return m_others; }
  const QStringList& Skipped() const { return m_skipped; }

 private:
  void EndFile() {
    QString why;
    if (!m_walk.Reader().Error().isEmpty()) {
      why = m_walk.Reader().Error();
    } else if (!logging::IsLogFile(size_t(m_fileRecords), size_t(m_fileOthers))) {
      why = QStringLiteral("not a log file");
    }
    if (why.isEmpty()) {
      m_records += m_fileRecords;
      m_others += m_fileOthers;
    } else {
      m_skipped << QStringLiteral("%1 (%2)").arg(Shown(m_walk.Current()), why);
      m_target->flush();
      m_target->resize(m_fileStart);
      m_target->seek(m_fileStart);
    }
    m_walk.Next();
  }

  LogFileWalk m_walk;
  std::unique_ptr<QSaveFile> m_target;
  std::optional<QString> m_maxTime;
  qint64 m_fileStart = 0;  // where the rows of the file being read begin in the CSV
  qint64 m_fileRecords = 0;
  qint64 m_fileOthers = 0;
  qint64 m_records = 0;
  qint64 m_others = 0;
  QStringList m_skipped;
};

}  // namespace

void FormMain::mnuExport_Click() {
  Dialogs::OpenFileRequest request;
  request.flags = 4100;
  request.filter = QStringLiteral("Log Files (*.log)|*.log|All Files (*.*)|*.*");
  request.filterIndex = 1;
  request.title = QStringLiteral("Export Log Files");
  request.defaultExtension = QStringLiteral("log");
  request.folder = m_logsFolder;
  ExportFiles(m_services.dialogs.OpenFiles(request));
}

// Asks where the CSV goes. Never onto one of the files it is made from or onto the log file in
// use: the dialog's replace would swap that file for the CSV under the open log.
std::unique_ptr<QSaveFile> FormMain::OpenCsvTarget(const QStringList& sources) {
  Dialogs::OpenFileRequest request;
  request.filter = QStringLiteral("CSV Files (*.csv)|*.csv|All Files (*.*)|*.*");
  request.filterIndex = 1;
  request.title = QStringLiteral("Export to CSV");
  request.defaultExtension = QStringLiteral("csv");
  request.folder = sources.isEmpty() ? QString() : QFileInfo(sources.front()).absolutePath();
  const QString target = m_services.dialogs.SaveFile(request);
  if (target.isEmpty()) return nullptr;
  QStringList protectedFiles = sources;
  if (m_session->Log().IsOpen()) protectedFiles << m_session->Log().Path();
  for (const QString& source : protectedFiles) {
    if (SameFile(target, source)) {
      m_services.dialogs.MessageBox(
          QStringLiteral("%1 is a log file; the export must go to a file of its own.")
              .arg(Shown(target)),
          Dialogs::Icon::Warning, kExportTitle);
      return nullptr;
    }
  }
  auto file = std::make_unique<QSaveFile>(target);
  if (!file->open(QIODevice::WriteOnly)) {
    ReportUnwritable(m_services.dialogs, target, file->errorString());
    return nullptr;
  }
  file->write(format::CsvHeader());
  return file;
}

bool FormMain::CommitCsv(QSaveFile& file, const QString& report) {
  if (!file.commit()) {
    ReportUnwritable(m_services.dialogs, file.fileName(), file.errorString());
    return false;
  }
  m_services.dialogs.MessageBox(report, Dialogs::Icon::Information, kExportTitle);
  return true;
}

// Cancelled or ended with the program, an export leaves the chosen file as it was: the CSV is
// written beside it and takes its place only once it is whole.
void FormMain::ExportFiles(const QStringList& files) {
  if (files.isEmpty() || m_fileCommandRunning || m_fileWork) return;
  std::unique_ptr<QSaveFile> target;
  {
    m_fileCommandRunning = true;  // while the dialogs are open
    const auto chosen = qScopeGuard([this] { m_fileCommandRunning = false; });
    target = OpenCsvTarget(files);
  }
  if (!target) return;
  const QString label = QStringLiteral("Exporting to %1 ...").arg(Shown(target->fileName()));
  const std::optional<QString> maxTime =
      TxtMaxTime.Text().isEmpty() ? std::nullopt : std::optional(TxtMaxTime.Text());
  auto work = std::make_shared<ExportOfFiles>(files, std::move(target), maxTime);
  m_fileWork = std::make_unique<SteppedWork>(
      m_services.platform, m_services.dialogs, kExportTitle, label, this,
      [work] { return work->Step(); },
      [this, work](bool cancelled) {
        if (!m_fileWork) return;  // ended with the program meanwhile
        m_fileWork.reset();
        QSaveFile& csv = work->Target();
        if (cancelled) {
          csv.cancelWriting();
          return;
        }
        if (work->Records() == 0) {
          csv.cancelWriting();
          m_services.dialogs.MessageBox(QStringLiteral("Nothing was exported. Not exported:\r\n") +
                                            work->Skipped().join(QStringLiteral("\r\n")),
                                        Dialogs::Icon::Warning, kExportTitle);
          return;
        }
        QString report = QStringLiteral("%1 records written to %2.")
                             .arg(work->Records())
                             .arg(Shown(csv.fileName()));
        const qint64 others = work->Others();
        if (others > 0) {
          report +=
              others == 1
                  ? QStringLiteral("\r\n1 line that is not a record was left out.")
                  : QStringLiteral("\r\n%1 lines that are not records were left out.").arg(others);
        }
        if (!work->Skipped().isEmpty()) {
          report += QStringLiteral("\r\nNot exported:\r\n") +
                    work->Skipped().join(QStringLiteral("\r\n"));
        }
        CommitCsv(csv, report);
      });
}

// By value: the window that owns the table may close while the export runs.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void FormMain::ExportImported(std::shared_ptr<const ImportedRecords> table) {
  if (!table || m_fileCommandRunning || m_fileWork) return;
  std::shared_ptr<QSaveFile> target;
  {
    m_fileCommandRunning = true;  // while the dialogs are open
    const auto chosen = qScopeGuard([this] { m_fileCommandRunning = false; });
    target = OpenCsvTarget({table->FileName()});
  }
  if (!target) return;
  // The rows as shown now: the table may be filtered or judged anew while the export runs. The
  // views in them stay valid, as `table` keeps the records and adds none once shown.
  auto rows = std::make_shared<std::vector<format::CsvRecord>>();
  rows->reserve(size_t(table->rowCount()));
  for (int row = 0; row < table->rowCount(); ++row) rows->push_back(table->CsvRecordAt(row));
  auto written = std::make_shared<qint64>(0);
  const auto total = qint64(rows->size());
  m_fileWork = std::make_unique<SteppedWork>(
      m_services.platform, m_services.dialogs, kExportTitle,
      QStringLiteral("Exporting to %1 ...").arg(Shown(target->fileName())), this,
      [table, rows, target, written, total]() -> std::optional<SteppedWork::Progress> {
        QElapsedTimer clock;
        clock.start();
        const qint64 until = std::min(total, *written + kStepRows);
        while (*written < until && clock.elapsed() < kStepTime.count()) {
          target->write(format::CsvRow((*rows)[size_t((*written)++)]));
        }
        if (*written < total) return SteppedWork::Progress{*written, total};
        return std::nullopt;
      },
      [this, target, total](bool cancelled) {
        if (!m_fileWork) return;  // ended with the program meanwhile
        m_fileWork.reset();
        if (cancelled) {
          target->cancelWriting();
          return;
        }
        CommitCsv(
            *target,
            QStringLiteral("%1 records written to %2.").arg(total).arg(Shown(target->fileName())));
      });
}

}  // namespace vorlan
