#include <QApplication>

#include "app/form_main.h"
#include "logging/log_files.h"
#include "platform/qt_platform.h"
#include "platform/settings_store.h"
#include "ui/form_main_window.h"
#include "ui/qt_dialogs.h"
#include "ui/view_window_widget.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("VORLAN"));
  QApplication::setQuitOnLastWindowClosed(false);  // the program ends when its unload has run

  vorlan::QtPlatform platform;
  vorlan::SettingsStore settings;
  vorlan::QtDialogs dialogs;
  vorlan::QtDesktop desktop;
  const QString programFolder = QCoreApplication::applicationDirPath();
  const QString logs = vorlan::logging::DefaultLogsFolder(programFolder);
  // The user's data folder is ours to make; the folder beside the program is made at Connect.
  if (logs != vorlan::logging::LogsFolder(programFolder)) vorlan::logging::MakeLogsFolder(logs);
  vorlan::FormMain form({platform, settings, dialogs, programFolder, &desktop, logs});
  vorlan::FormMainWindow window(form, dialogs);
  dialogs.SetParent(&window);

  form.Form_Load();
  window.adjustSize();
  window.Centre();
  window.show();
  return QApplication::exec();
}
