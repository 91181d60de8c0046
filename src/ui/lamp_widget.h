#pragma once

#include <QWidget>

namespace vorlan {

class Lamp;

// A lamp: a small filled circle, green when its "on" shape is in front, red otherwise.
class LampWidget : public QWidget {
 public:
  LampWidget(Lamp& lamp, QWidget* parent);
  QSize sizeHint() const override { return {12, 12}; }

 protected:
  void paintEvent(QPaintEvent*) override;

 private:
  Lamp& m_lamp;
};

}  // namespace vorlan
