#pragma once

#include <QCategoryAxis>
#include <QStringList>

#include <vector>

class QAbstractSeries;
class QChart;

namespace vorlan {

// The axis under a chart's bars (bar i at i, on a scale from -0.5 to the bar count - 0.5) that
// labels only as many bars as fit whole: a label under every step-th bar, the step the smallest
// of the given ones whose labels stand side by side at the plot's width. Chosen again whenever
// the plot is resized, so the window and a picture of it show the same labels.
class BarAxis : public QCategoryAxis {
 public:
  // `labels`: one per bar. A bar i is labelled when (i + anchor) is a multiple of the step, so
  // that hours are labelled at 00, 03, 06 whatever the first bar's hour.
  BarAxis(QStringList labels, std::vector<int> steps, int anchor = 0);

  // Adds the axis at the chart's bottom and attaches the series to it.
  void AttachTo(QChart* chart, QAbstractSeries* series);
  int Step() const { return m_step; }

 private:
  void Fit(qreal plotWidth);

  QStringList m_labels;
  std::vector<int> m_steps;
  int m_anchor;
  int m_step = 0;
};

}  // namespace vorlan
