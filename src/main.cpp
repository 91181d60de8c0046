#include <QApplication>

#include "app/form_main.h"
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
  vorlan::FormMain form(
      {platform, settings, dialogs, QCoreApplication::applicationDirPath(), &desktop});
  vorlan::FormMainWindow window(form, dialogs);
  dialogs.SetParent(&window);

  form.Form_Load();
  window.adjustSize();
  window.Centre();
  window.show();
  return QApplication::exec();
}
