#pragma once

#include <QWidget>

#include <functional>
#include <vector>

#include "platform/desktop.h"

class QScreen;

namespace vorlan {

class ViewWindow;
class TerminalView;

// The widget of a view window. It follows the model (shown, hidden, moved, retitled, discarded)
// and reports the operator's moves, resizes and closing back to it.
class ViewWindowWidget : public QWidget {
 public:
  // onClose runs the window's unload handler when the operator closes it.
  ViewWindowWidget(ViewWindow& model, std::function<void()> onClose);

  TerminalView* textBox() const { return m_view; }

  // Twips per pixel of the screen the widget is on: 1440 divided by its logical DPI.
  double TwipsPerPixel() const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void FollowGeometry();
  void ReportGeometry();

  ViewWindow& m_model;
  std::function<void()> m_onClose;
  TerminalView* m_view;
  bool m_applying = false;
};

double TwipsPerPixelOf(const QScreen* screen);

// The screens of the running application, for placing the view windows.
class QtDesktop : public Desktop {
 public:
  std::vector<Twips> Screens() const override;
};

}  // namespace vorlan
