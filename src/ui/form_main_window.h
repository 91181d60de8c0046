#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QSet>

#include <memory>

#include "about/frm_about.h"
#include "ui/imported_records_window.h"

namespace vorlan {

class Dialogs;
class FormMain;
class ProgramLauncher;
class Registry;
class ViewWindowWidget;

// The main window's widgets, laid out as the operator knows them. Each mirrors its control's
// model and forwards clicks, edits and keys to the handler of the same name.
class FormMainWindow : public QMainWindow {
 public:
  FormMainWindow(FormMain& form, Dialogs& dialogs, QWidget* parent = nullptr);
  ~FormMainWindow() override;
  Q_DISABLE_COPY_MOVE(FormMainWindow)

  ViewWindowWidget* rawDataWindow() const { return m_output; }
  ViewWindowWidget* formattedWindow() const { return m_display; }
  frmAbout* aboutBox() const { return m_about; }
  // The "Imported records" window opened last, while it is open.
  ImportedRecordsWindow* importedWindow() const { return m_imported; }

  // Centres the window on its screen, its size unchanged.
  void Centre();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  QWidget* BuildControls();
  void BuildStatusBar();
  void ShowAbout();

  FormMain& m_form;
  Dialogs& m_dialogs;
  ViewWindowWidget* m_output = nullptr;
  ViewWindowWidget* m_display = nullptr;
  std::unique_ptr<Registry> m_registry;
  std::unique_ptr<ProgramLauncher> m_launcher;
  AboutServices m_aboutServices;
  QPointer<frmAbout> m_about;
  QPointer<ImportedRecordsWindow> m_imported;
  // The keys pressed while the maximum-time box had the focus and not yet released.
  QSet<int> m_maxTimePresses;
};

}  // namespace vorlan
