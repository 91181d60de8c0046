#pragma once

#include <QWidget>

#include <functional>
#include <vector>

#include "platform/desktop.h"

class QCheckBox;
class QLabel;
class QScreen;

namespace vorlan {

class ViewWindow;
class TerminalView;

// The widget of a view window. It follows the model (shown, hidden, moved, retitled, discarded)
// and reports the operator's moves, resizes and closing back to it.
class ViewWindowWidget : public QWidget {
 public:
  // onClose runs the window's unload handler when the operator closes it. A pausable window has
  // a "Pause" check box that holds its text box still.
  ViewWindowWidget(ViewWindow& model, std::function<void()> onClose, bool pausable = false);

  TerminalView* textBox() const { return m_view; }
  QCheckBox* pauseBox() const { return m_pause; }
  QLabel* pauseNote() const { return m_pauseNote; }

  // Twips per pixel of the screen the widget is on: 1440 divided by its logical DPI.
  double TwipsPerPixel() const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void FollowGeometry();
  void ReportGeometry();
  void ShowPauseNote();

  ViewWindow& m_model;
  std::function<void()> m_onClose;
  TerminalView* m_view;
  QCheckBox* m_pause = nullptr;
  QLabel* m_pauseNote = nullptr;
  bool m_applying = false;
};

double TwipsPerPixelOf(const QScreen* screen);

// The screens of the running application, for placing the view windows.
class QtDesktop : public Desktop {
 public:
  std::vector<Twips> Screens() const override;
};

}  // namespace vorlan
