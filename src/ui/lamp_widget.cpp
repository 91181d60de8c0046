#include "ui/lamp_widget.h"

#include <QPainter>

#include "app/controls.h"

namespace vorlan {

LampWidget::LampWidget(Lamp& lamp, QWidget* parent) : QWidget(parent), m_lamp(lamp) {
  setFixedSize(12, 12);
  // Repaint at once: a flash lasts 50 ms and the wait serves the paint event.
  connect(&m_lamp, &Lamp::Changed, this, [this] { repaint(); });
}

void LampWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(Qt::black, 1));
  painter.setBrush(m_lamp.On() ? QColor(0, 200, 0) : QColor(220, 0, 0));
  painter.drawEllipse(QRectF(1, 1, width() - 2, height() - 2));
}

}  // namespace vorlan
