#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

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
  QApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                          .arg(VORLAN_VERSION_MAJOR)
                                          .arg(VORLAN_VERSION_MINOR)
                                          .arg(VORLAN_VERSION_PATCH));
  QApplication::setQuitOnLastWindowClosed(false);  // the program ends when its unload has run

  // Qt's own options (-platform, -style, ...) are taken by QApplication before this.
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Downloads, shows and logs the call records of a telephone exchange.\n"
                     "Everything else is set in the window; Qt's own options (-platform,\n"
                     "-style, ...) are taken too."));
  parser.addHelpOption();
  parser.addVersionOption();
  if (!parser.parse(QCoreApplication::arguments()) || !parser.positionalArguments().isEmpty()) {
    const QString error = parser.errorText().isEmpty()
                              ? QStringLiteral("unknown argument \"%1\"")
                                    .arg(parser.positionalArguments().constFirst())
                              : parser.errorText();
    std::fprintf(stderr, "vorlan: %s\nTry 'vorlan --help'.\n", qPrintable(error));
    return 2;
  }
  parser.process(app);  // --help, --help-all, --version: printed, and the program ends

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
