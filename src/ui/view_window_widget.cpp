#include "ui/view_window_widget.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

#include <cmath>

#include "app/view_window.h"
#include "format/terminal.h"
#include "ui/terminal_view.h"

namespace vorlan {

ViewWindowWidget::ViewWindowWidget(ViewWindow& model, std::function<void()> onClose, bool pausable)
    : QWidget(nullptr),
      m_model(model),
      m_onClose(std::move(onClose)),
      m_view(new TerminalView(m_model.TextBox(), this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  if (pausable) {
    auto* row = new QHBoxLayout;
    row->setContentsMargins(4, 2, 4, 2);
    m_pause = new QCheckBox(QStringLiteral("Pause"), this);
    m_pause->setToolTip(
        QStringLiteral("Hold the view still to scroll, select and copy; lines "
                       "that come meanwhile are shown when the pause ends"));
    m_pauseNote = new QLabel(this);
    row->addWidget(m_pause);
    row->addWidget(m_pauseNote, 1);
    layout->addLayout(row);
    connect(m_pause, &QCheckBox::toggled, this, [this](bool on) {
      m_view->SetPaused(on);
      ShowPauseNote();
    });
    connect(&m_model.TextBox(), &TerminalText::Replaced, this, [this] {
      if (m_view->Paused()) ShowPauseNote();
    });
  }
  // The text box fills the window, whatever its size.
  layout->addWidget(m_view);
  // The stored place was checked against the screens when it was restored: the window goes
  // where its model says, and a caption or a record does not move it.
  connect(&m_model, &ViewWindow::CaptionChanged, this,
          [this] { setWindowTitle(m_model.Caption()); });
  connect(&m_model, &ViewWindow::GeometryChanged, this, &ViewWindowWidget::FollowGeometry);
  connect(&m_model, &ViewWindow::StateChanged, this, [this] { setVisible(m_model.Visible()); });
  setWindowTitle(m_model.Caption());
  FollowGeometry();
  setVisible(m_model.Visible());
}

void ViewWindowWidget::ShowPauseNote() {
  const qsizetype left = m_view->LeftOutLines();
  if (m_view->Paused()) {
    m_pauseNote->setText(
        QStringLiteral("%1 new lines held").arg(m_view->HeldLines()) +
        (left > 0 ? QStringLiteral(", %1 of them beyond the view's size").arg(left) : QString()));
  } else {
    m_pauseNote->setText(
        left > 0 ? QStringLiteral("%1 lines that came while paused were left out").arg(left)
                 : QString());
  }
}

double ViewWindowWidget::TwipsPerPixel() const {
  const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
  return TwipsPerPixelOf(s);
}

void ViewWindowWidget::FollowGeometry() {
  m_applying = true;
  const double tpp = TwipsPerPixel();
  const Twips& g = m_model.Geometry();
  move(int(std::lround(g.left / tpp)), int(std::lround(g.top / tpp)));
  resize(int(std::lround(g.width / tpp)), int(std::lround(g.height / tpp)));
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

double TwipsPerPixelOf(const QScreen* screen) {
  const double dpi = screen ? screen->logicalDotsPerInch() : 96.0;
  return 1440.0 / (dpi > 0 ? dpi : 96.0);
}

std::vector<Twips> QtDesktop::Screens() const {
  // One scale for all screens, the one the view windows are placed with.
  const double tpp = TwipsPerPixelOf(QGuiApplication::primaryScreen());
  std::vector<Twips> screens;
  for (const QScreen* s : QGuiApplication::screens()) {
    const QRect a = s->availableGeometry();
    screens.push_back(
        {float(a.x() * tpp), float(a.y() * tpp), float(a.width() * tpp), float(a.height() * tpp)});
  }
  return screens;
}

}  // namespace vorlan
