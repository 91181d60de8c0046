// File, Export...: call records as CSV, from log files or from an imported table.
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QScopeGuard>

#include "app/form_main.h"
#include "app/imported_records.h"
#include "app/work_progress.h"
#include "format/call_csv.h"
#include "logging/log_reader.h"
#include "logging/record_log.h"
#include "platform/dialogs.h"

namespace vorlan {
namespace {

const QString kExportTitle = QStringLiteral("Export");
constexpr qint64 kScale = 1000000;
// Rows written between two looks at the clock and the progress box.
constexpr int kRowsPerStep = 2000;

QString Shown(const QString& path) { return QDir::toNativeSeparators(path); }

void ReportUnwritable(Dialogs& dialogs, const QString& path, const QString& error) {
  dialogs.MessageBox(QStringLiteral("%1 cannot be written:\r\n%2").arg(Shown(path), error),
                     Dialogs::Icon::Critical, kExportTitle);
}

bool SameFile(const QString& a, const QString& b) {
  const QString canonical = QFileInfo(a).canonicalFilePath();
  return !canonical.isEmpty() && canonical == QFileInfo(b).canonicalFilePath();
}

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

void FormMain::ExportFiles(const QStringList& files) {
  if (files.isEmpty() || m_fileCommandRunning) return;
  m_fileCommandRunning = true;
  const auto done = qScopeGuard([this] { m_fileCommandRunning = false; });
  const std::unique_ptr<QSaveFile> target = OpenCsvTarget(files);
  if (!target) return;

  WorkProgress progress(m_services.platform, m_services.dialogs, kExportTitle,
                        QStringLiteral("Exporting to %1 ...").arg(Shown(target->fileName())));
  const std::optional<QString> maxTime =
      TxtMaxTime.Text().isEmpty() ? std::nullopt : std::optional(TxtMaxTime.Text());
  qint64 records = 0;
  qint64 others = 0;
  QStringList skipped;
  for (qsizetype f = 0; f < files.size(); ++f) {
    const QString& name = files[f];
    const auto step = [&](double part) {
      return progress.Step(qint64((double(f) + part) * kScale), files.size() * kScale);
    };
    QByteArray bytes;
    QString error;
    // Reading is about a fifth of the work of a file.
    constexpr double kReadShare = 0.2;
    const ReadResult read = ReadWholeFile(
        name, [&](double part) { return step(part * kReadShare); }, bytes, error);
    if (read == ReadResult::Cancelled) {
      target->cancelWriting();
      return;
    }
    if (read == ReadResult::Failed) {
      skipped << QStringLiteral("%1 (%2)").arg(Shown(name), error);
      continue;
    }
    size_t fileRecords = 0;
    size_t fileOthers = 0;
    logging::LogReader count(bytes);
    while (const std::optional<logging::LogLine> line = count.Next()) {
      ++(line->isRecord ? fileRecords : fileOthers);
    }
    if (!logging::IsLogFile(fileRecords, fileOthers)) {
      skipped << QStringLiteral("%1 (not a log file)").arg(Shown(name));
      continue;
    }
    logging::LogReader reader(bytes);
    qint64 rows = 0;
    while (const std::optional<logging::LogLine> line = reader.Next()) {
      if (!line->isRecord) continue;
      target->write(format::CsvRow(
          format::JudgedCsvRecord(name, line->line, line->markedBad, line->bytes, maxTime)));
      if (++rows % kRowsPerStep == 0 &&
          !step(kReadShare + (1 - kReadShare) * double(reader.Position()) / double(bytes.size()))) {
        target->cancelWriting();
        return;
      }
    }
    records += qint64(fileRecords);
    others += qint64(fileOthers);
  }
  if (records == 0) {
    target->cancelWriting();
    m_services.dialogs.MessageBox(QStringLiteral("Nothing was exported. Not exported:\r\n") +
                                      skipped.join(QStringLiteral("\r\n")),
                                  Dialogs::Icon::Warning, kExportTitle);
    return;
  }
  QString report =
      QStringLiteral("%1 records written to %2.").arg(records).arg(Shown(target->fileName()));
  if (others > 0) {
    report += others == 1
                  ? QStringLiteral("\r\n1 line that is not a record was left out.")
                  : QStringLiteral("\r\n%1 lines that are not records were left out.").arg(others);
  }
  if (!skipped.isEmpty()) {
    report += QStringLiteral("\r\nNot exported:\r\n") + skipped.join(QStringLiteral("\r\n"));
  }
  CommitCsv(*target, report);
}

// By value: the window that owns the table may close while events are served.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void FormMain::ExportImported(std::shared_ptr<const ImportedRecords> table) {
  if (!table || m_fileCommandRunning) return;
  m_fileCommandRunning = true;
  const auto done = qScopeGuard([this] { m_fileCommandRunning = false; });
  const std::unique_ptr<QSaveFile> target = OpenCsvTarget({table->FileName()});
  if (!target) return;
  // The rows as shown now: the table may be filtered or judged anew while events are served.
  // The views in them stay valid, as `table` keeps the file's bytes.
  std::vector<format::CsvRecord> rows;
  rows.reserve(size_t(table->rowCount()));
  for (int row = 0; row < table->rowCount(); ++row) rows.push_back(table->CsvRecordAt(row));

  WorkProgress progress(m_services.platform, m_services.dialogs, kExportTitle,
                        QStringLiteral("Exporting to %1 ...").arg(Shown(target->fileName())));
  const auto total = qint64(rows.size());
  for (qint64 row = 0; row < total; ++row) {
    target->write(format::CsvRow(rows[size_t(row)]));
    if ((row + 1) % kRowsPerStep == 0 && !progress.Step(row + 1, total)) {
      target->cancelWriting();
      return;
    }
  }
  CommitCsv(*target,
            QStringLiteral("%1 records written to %2.").arg(total).arg(Shown(target->fileName())));
}

}  // namespace vorlan
