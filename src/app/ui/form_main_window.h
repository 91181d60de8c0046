#pragma once

#include <QMainWindow>
#include <QPointer>

namespace vorlan {

class FormMain;
class ViewWindowWidget;
class QtDialogs;

// The main window's widgets, laid out as the operator knows them. Each mirrors its control's
// model and forwards clicks, edits and keys to the handler of the same name.
class FormMainWindow : public QMainWindow {
 public:
  explicit FormMainWindow(FormMain& form, QWidget* parent = nullptr);
  ~FormMainWindow() override;

  ViewWindowWidget* rawDataWindow() const { return m_output; }
  ViewWindowWidget* formattedWindow() const { return m_display; }

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
  ViewWindowWidget* m_output = nullptr;
  ViewWindowWidget* m_display = nullptr;
  QPointer<QWidget> m_about;
};

}  // namespace vorlan
