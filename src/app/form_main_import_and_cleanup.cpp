// The two file commands of the main window: clean-up of empty log files, and Import.
#include "app/form_main.h"
#include "logging/log_cleanup.h"
#include "logging/record_log.h"
#include "platform/dialogs.h"
#include "platform/platform.h"

namespace vorlan {

void FormMain::Command1_Click() {
  logging::CleanUpEmptyLogs(m_logsFolder, *m_log, [this] { m_services.platform.DoEvents(); });
}

void FormMain::mnuImport_Click() {
  Dialogs::OpenFileRequest request;
  request.flags = 4100;  // the file must exist (4096); no read-only box (4)
  request.filter = QStringLiteral("All Files (*.*)|*.*|Text Files (*.txt)|*.txt");
  request.filterIndex = 2;
  request.title = QStringLiteral("Import File");
  request.defaultExtension = QStringLiteral("txt");
  ImportFile(m_services.dialogs.OpenFile(request));
}

// A stub for now; importing will need the form.
// NOLINTNEXTLINE(readability-convert-member-functions-to-static)
void FormMain::ImportFile(const QString& fileName) {
  // Importing a file is not defined yet: the chosen file is neither opened nor read.
  (void)fileName;
}

}  // namespace vorlan
