#include "ui/view_window_widget.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>

#include <cmath>

#include "app/view_window.h"
#include "ui/terminal_view.h"

namespace vorlan {

ViewWindowWidget::ViewWindowWidget(ViewWindow& model, std::function<void()> onClose)
    : QWidget(nullptr), m_model(model), m_onClose(std::move(onClose)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  // The text box fills the window, whatever its size.
  m_view = new TerminalView(m_model.TextBox(), this);
  layout->addWidget(m_view);
  m_model.OnChanged([this] { Follow(); });
  Follow();
}

double ViewWindowWidget::TwipsPerPixel() const {
  const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
  const double dpi = s ? s->logicalDotsPerInch() : 96.0;
  return 1440.0 / (dpi > 0 ? dpi : 96.0);
}

void ViewWindowWidget::Follow() {
  m_applying = true;
  setWindowTitle(m_model.Caption());
  std::vector<Twips> screens;
  const double tpp = TwipsPerPixel();
  for (const QScreen* s : QGuiApplication::screens()) {
    const QRect a = s->availableGeometry();
    screens.push_back(
        {float(a.x() * tpp), float(a.y() * tpp), float(a.width() * tpp), float(a.height() * tpp)});
  }
  const Twips g = FitOnScreens(m_model.Geometry(), screens);
  move(int(std::lround(g.left / tpp)), int(std::lround(g.top / tpp)));
  resize(int(std::lround(g.width / tpp)), int(std::lround(g.height / tpp)));
  setVisible(m_model.Visible());
  m_applying = false;
}

void ViewWindowWidget::ReportGeometry() {
  if (m_applying || !m_model.Loaded()) return;
  const double tpp = TwipsPerPixel();
  m_applying = true;
  m_model.Move({float(x() * tpp), float(y() * tpp), float(width() * tpp), float(height() * tpp)});
  m_applying = false;
}

void ViewWindowWidget::closeEvent(QCloseEvent* event) {
  // Closing discards the window; the model hides it and will bring it back when used.
  if (m_model.Loaded() && m_onClose) m_onClose();
  event->accept();
}

void ViewWindowWidget::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  ReportGeometry();
}

void ViewWindowWidget::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ReportGeometry();
}

}  // namespace vorlan
