// The file commands of the main window: clean-up of empty log files, and Import.
#include <QDir>
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
  request.flags = 4100;  // the file must exist (4096); no read-only box (4)
  request.filter = QStringLiteral("All Files (*.*)|*.*|Text Files (*.txt)|*.txt");
  request.filterIndex = 2;
  request.title = kImportTitle;
  request.defaultExtension = QStringLiteral("txt");
  ImportFile(m_services.dialogs.OpenFile(request));
}

// Reads the file as a log file of this program and hands its records to the front end as a
// table. Only reads: the link, the current log file and the record count are not touched.
void FormMain::ImportFile(const QString& fileName) {
  if (fileName.isEmpty() || m_fileCommandRunning) return;
  m_fileCommandRunning = true;
  const auto done = qScopeGuard([this] { m_fileCommandRunning = false; });
  const QString shownName = QDir::toNativeSeparators(fileName);

  WorkProgress progress(m_services.platform, m_services.dialogs, kImportTitle,
                        QStringLiteral("Importing %1 ...").arg(shownName));
  QByteArray bytes;
  QString error;
  // Reading is the quicker part of the work; the records take the rest.
  constexpr double kReadShare = 0.3;
  constexpr qint64 kScale = 1000000;
  const auto step = [&progress](double part) {
    return progress.Step(qint64(part * kScale), kScale);
  };
  switch (ReadWholeFile(
      fileName, [&](double read) { return step(read * kReadShare); }, bytes, error)) {
    case ReadResult::Cancelled: return;
    case ReadResult::Failed:
      m_services.dialogs.MessageBox(
          QStringLiteral("%1 cannot be read:\r\n%2").arg(shownName, error), Dialogs::Icon::Warning,
          kImportTitle);
      return;
    case ReadResult::Read: break;
  }

  auto imported = std::make_shared<ImportedRecords>(fileName, std::move(bytes), TxtMaxTime.Text());
  const qint64 size = std::max<qint64>(imported->FileSize(), 1);
  while (imported->ReadSome(kImportStep)) {
    if (!step(kReadShare + (1 - kReadShare) * double(imported->BytesRead()) / double(size))) return;
  }
  if (!imported->IsLogFile()) {
    const qsizetype lines = imported->RecordTotal() + imported->OtherLineTotal();
    const QString why =
        lines == 0 ? QStringLiteral("The file is empty.")
                   : QStringLiteral("%1 of its %2 lines are not call records (STX ... ETX).")
                         .arg(imported->OtherLineTotal())
                         .arg(lines);
    m_services.dialogs.MessageBox(
        QStringLiteral("%1 is not a log file of this program.\r\n%2").arg(shownName, why),
        Dialogs::Icon::Warning, kImportTitle);
    return;
  }
  // The "over max" column follows the maximum call time as the operator changes it.
  ImportedRecords* table = imported.get();
  connect(&TxtMaxTime, &Control::Changed, table,
          [this, table] { table->SetMaxTime(TxtMaxTime.Text()); });
  emit RecordsImported(imported);
}

}  // namespace vorlan
