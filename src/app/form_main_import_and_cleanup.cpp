// The file commands of the main window: clean-up of empty log files, and Import.
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QScopeGuard>

#include <chrono>

#include "app/form_main.h"
#include "app/imported_records.h"
#include "app/log_file_walk.h"
#include "app/texts.h"
#include "app/work_progress.h"
#include "logging/log_cleanup.h"
#include "logging/log_stream.h"
#include "logging/record_log.h"
#include "platform/dialogs.h"
#include "platform/platform.h"

namespace vorlan {
namespace {

const QString kImportTitle = QStringLiteral("Import File");
const QString kCleanUpSkipped =
    QStringLiteral("%1 empty log file(s) left in place: another program is writing to them.");
// Files of the logs folder looked at in one step of the clean-up.
constexpr qsizetype kCleanUpStepFiles = 64;

QString Shown(const QString& path) { return QDir::toNativeSeparators(path); }

// An import under way: the files in the order of their names (the hours of hourly log files),
// each read through a bounded window, its records added to one table.
class Import {
 public:
  Import(QStringList files, const QString& maxTime)
      : m_walk(std::move(files)), m_table(std::make_shared<ImportedRecords>(maxTime)) {}

  std::optional<SteppedWork::Progress> Step() {
    return m_walk.Step(
        [this](const QString* error) {
          if (error) {
            m_refused.emplace_back(m_walk.Current(),
                                   QStringLiteral("cannot be read:\r\n%1").arg(*error));
          } else {
            m_table->BeginFile(m_walk.Current());
          }
        },
        [this](const logging::LogLine& line) {
          if (!m_table->Add(line)) {
            Refuse(QStringLiteral("was not imported: with it the table would hold more than "
                                  "%1 MiB of records. Import fewer files at a time.")
                       .arg(m_table->KeptBytesLimit() >> 20));
          }
        },
        [this] { EndFile(); });
  }

  const QStringList& Files() const { return m_walk.Files(); }
  const std::shared_ptr<ImportedRecords>& Table() const { return m_table; }
  const std::vector<std::pair<QString, QString>>& Refused() const { return m_refused; }

 private:
  void EndFile() {
    if (!m_walk.Reader().Error().isEmpty()) {
      Refuse(QStringLiteral("cannot be read:\r\n%1").arg(m_walk.Reader().Error()));
      return;
    }
    m_table->EndFile();
    if (!m_table->IsLogFile()) {
      const qsizetype others = m_table->LastFileOtherLines();
      const qsizetype lines = m_table->LastFileRecords() + others;
      Refuse(QStringLiteral("is not a log file of this program.\r\n") +
             (lines == 0 ? QStringLiteral("The file is empty.")
                         : QStringLiteral("%1 of its %2 lines are not call records "
                                          "(STX ... ETX).")
                               .arg(others)
                               .arg(lines)));
      return;
    }
    m_walk.Next();
  }

  void Refuse(const QString& why) {
    m_refused.emplace_back(m_walk.Current(), why);
    m_table->DropLastFile();
    m_walk.Next();
  }

  LogFileWalk m_walk;
  std::shared_ptr<ImportedRecords> m_table;
  std::vector<std::pair<QString, QString>> m_refused;  // file, why
};

// One message for all the files left out, the others still open.
QString RefusedText(const Import& import) {
  const auto& refused = import.Refused();
  if (import.Files().size() == 1) {
    return Shown(refused[0].first) + QLatin1Char(' ') + refused[0].second;
  }
  QString text = (refused.size() == 1 ? QStringLiteral("%1 of the %2 files was not imported:")
                                      : QStringLiteral("%1 of the %2 files were not imported:"))
                     .arg(refused.size())
                     .arg(import.Files().size());
  for (const auto& [name, why] : refused) {
    text += QStringLiteral("\r\n\r\n") + Shown(name) + QLatin1Char(' ') + why;
  }
  return text;
}

}  // namespace

void FormMain::Command1_Click() {
  if (m_cleanUpWork) return;
  auto run = std::make_shared<logging::EmptyLogCleanUp>(m_logsFolder);
  m_cleanUpWork = std::make_unique<SteppedWork>(
      m_services.platform, m_services.dialogs, QString(), QString(), this,
      [this, run]() -> std::optional<SteppedWork::Progress> {
        // Asked at every step: a handler served in between may have switched the log.
        if (run->Step(m_session->Log(), kCleanUpStepFiles)) return SteppedWork::Progress{};
        return std::nullopt;
      },
      [this, run](bool /*cancelled*/) {
        if (!m_cleanUpWork) return;  // ended with the program meanwhile
        m_cleanUpWork.reset();
        // Otherwise quiet; but a file left because another program writes to it is worth a word.
        if (run->Result().skippedInUse > 0) {
          m_services.dialogs.MessageBox(kCleanUpSkipped.arg(run->Result().skippedInUse),
                                        Dialogs::Icon::Information, text::kTitle);
        }
      });
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
// table, files in the order of their names, each in its line order. Only reads: the link, the
// current log file and the record count are not touched. Cancelled, it leaves nothing.
void FormMain::ImportFiles(const QStringList& fileNames) {
  if (fileNames.isEmpty() || m_fileCommandRunning || m_fileWork) return;
  QStringList files = fileNames;
  files.removeDuplicates();
  std::sort(files.begin(), files.end());
  auto import = std::make_shared<Import>(files, TxtMaxTime.Text());
  m_fileWork = std::make_unique<SteppedWork>(
      m_services.platform, m_services.dialogs, kImportTitle,
      files.size() == 1 ? QStringLiteral("Importing %1 ...").arg(Shown(files.front()))
                        : QStringLiteral("Importing %1 files ...").arg(files.size()),
      this, [import] { return import->Step(); },
      [this, import](bool cancelled) {
        if (!m_fileWork) return;  // ended with the program meanwhile
        m_fileWork.reset();
        if (cancelled) return;
        if (!import->Refused().empty()) {
          m_services.dialogs.MessageBox(RefusedText(*import), Dialogs::Icon::Warning, kImportTitle);
        }
        const std::shared_ptr<ImportedRecords>& table = import->Table();
        if (table->FileCount() == 0) return;
        // The "over max" column follows the maximum call time as the operator changes it.
        connect(&TxtMaxTime, &Control::Changed, table.get(),
                [this, t = table.get()] { t->SetMaxTime(TxtMaxTime.Text()); });
        emit RecordsImported(table);
      });
}

}  // namespace vorlan
