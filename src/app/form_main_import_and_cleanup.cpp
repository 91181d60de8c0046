// The file commands of the main window: clean-up of empty log files, and Import.
#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>

#include "app/form_main.h"
#include "app/imported_records.h"
#include "app/texts.h"
#include "app/work_progress.h"
#include "logging/log_cleanup.h"
#include "logging/record_log.h"
#include "platform/dialogs.h"
#include "platform/platform.h"

namespace vorlan {
namespace {

const QString kImportTitle = QStringLiteral("Import File");
const QString kCleanUpSkipped =
    QStringLiteral("%1 empty log file(s) left in place: another program is writing to them.");
// Lines of a log file read between two looks at the clock (and, past half a second, at the
// progress box): a few milliseconds' work.
constexpr qsizetype kImportStep = qsizetype{256} * 1024;

}  // namespace

void FormMain::Command1_Click() {
  const logging::CleanUpResult result =
      logging::CleanUpEmptyLogs(m_logsFolder, m_session->Log(), [this] { m_services.platform.DoEvents(); });
  // Otherwise quiet; but a file left because another program writes to it is worth a word.
  if (result.skippedInUse > 0) {
    m_services.dialogs.MessageBox(kCleanUpSkipped.arg(result.skippedInUse),
                                  Dialogs::Icon::Information, text::kTitle);
  }
}

void FormMain::mnuImport_Click() {
  Dialogs::OpenFileRequest request;
  request.flags = 4100;  // the files must exist (4096); no read-only box (4)
  request.filter = QStringLiteral("All Files (*.*)|*.*|Text Files (*.txt)|*.txt");
  request.filterIndex = 2;
  request.title = kImportTitle;
  request.defaultExtension = QStringLiteral("txt");
  ImportFiles(m_services.dialogs.OpenFiles(request));
}

// Reads the files as log files of this program and hands their records to the front end as one
// table, files in the order of their names (the hours of hourly log files), each in its line
// order. Only reads: the link, the current log file and the record count are not touched.
void FormMain::ImportFiles(const QStringList& fileNames) {
  if (fileNames.isEmpty() || m_fileCommandRunning) return;
  m_fileCommandRunning = true;
  const auto done = qScopeGuard([this] { m_fileCommandRunning = false; });
  QStringList files = fileNames;
  files.removeDuplicates();
  std::sort(files.begin(), files.end());
  const auto shown = [](const QString& path) { return QDir::toNativeSeparators(path); };

  qint64 totalBytes = 0;
  std::vector<qint64> sizes;
  for (const QString& name : files) {
    sizes.push_back(std::max<qint64>(QFileInfo(name).size(), 1));
    totalBytes += sizes.back();
  }
  WorkProgress progress(m_services.platform, m_services.dialogs, kImportTitle,
                        files.size() == 1
                            ? QStringLiteral("Importing %1 ...").arg(shown(files.front()))
                            : QStringLiteral("Importing %1 files ...").arg(files.size()));
  auto imported = std::make_shared<ImportedRecords>(TxtMaxTime.Text());
  std::vector<std::pair<QString, QString>> refused;  // file, why
  qint64 bytesBefore = 0;
  for (qsizetype f = 0; f < files.size(); ++f) {
    const QString& name = files[f];
    const qint64 size = sizes[size_t(f)];
    // Reading is the quicker part of the work; the records take the rest.
    constexpr double kReadShare = 0.3;
    constexpr qint64 kScale = 1000000;
    const auto step = [&](double part) {
      const double done = (double(bytesBefore) + part * double(size)) / double(totalBytes);
      return progress.Step(qint64(done * kScale), kScale);
    };
    QByteArray bytes;
    QString error;
    switch (ReadWholeFile(
        name, [&](double read) { return step(read * kReadShare); }, bytes, error)) {
      case ReadResult::Cancelled: return;
      case ReadResult::Failed:
        refused.emplace_back(name, QStringLiteral("cannot be read:\r\n%1").arg(error));
        bytesBefore += size;
        continue;
      case ReadResult::Read: break;
    }
    imported->AddFile(name, std::move(bytes));
    while (imported->ReadSome(kImportStep)) {
      if (!step(kReadShare + (1 - kReadShare) * double(imported->BytesRead()) /
                                 double(std::max<qint64>(imported->FileSize(), 1)))) {
        return;
      }
    }
    if (!imported->IsLogFile()) {
      const qsizetype others = imported->LastFileOtherLines();
      const qsizetype lines = imported->LastFileRecords() + others;
      refused.emplace_back(
          name, QStringLiteral("is not a log file of this program.\r\n") +
                    (lines == 0 ? QStringLiteral("The file is empty.")
                                : QStringLiteral("%1 of its %2 lines are not call records "
                                                 "(STX ... ETX).")
                                      .arg(others)
                                      .arg(lines)));
      imported->DropLastFile();
    }
    bytesBefore += size;
  }
  // One message for all the files left out, the others still open.
  if (!refused.empty()) {
    QString text;
    if (files.size() == 1) {
      text = shown(refused[0].first) + QLatin1Char(' ') + refused[0].second;
    } else {
      text = (refused.size() == 1 ? QStringLiteral("%1 of the %2 files was not imported:")
                                  : QStringLiteral("%1 of the %2 files were not imported:"))
                 .arg(refused.size())
                 .arg(files.size());
      for (const auto& [name, why] : refused) {
        text += QStringLiteral("\r\n\r\n") + shown(name) + QLatin1Char(' ') + why;
      }
    }
    m_services.dialogs.MessageBox(text, Dialogs::Icon::Warning, kImportTitle);
  }
  if (imported->FileCount() == 0) return;
  // The "over max" column follows the maximum call time as the operator changes it.
  ImportedRecords* table = imported.get();
  connect(&TxtMaxTime, &Control::Changed, table,
          [this, table] { table->SetMaxTime(TxtMaxTime.Text()); });
  emit RecordsImported(imported);
}

}  // namespace vorlan
