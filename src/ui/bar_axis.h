#pragma once

#include <QCategoryAxis>
#include <QStringList>

#include <vector>

class QAbstractSeries;
class QChart;

namespace vorlan {

// The axis under a chart's bars (bar i at i, on a scale from -0.5 to the bar count - 0.5) that
// labels only as many places as fit whole: every step-th label, the step the smallest of the
// given ones whose labels stand side by side at the plot's width. Chosen again whenever the plot
// is resized, so the window and a picture of it show the same labels.
class BarAxis : public QCategoryAxis {
 public:
  enum class Place {
    Bars,   // one label per bar, under its middle
    Edges,  // one label per edge between bars and at both ends: a histogram's bin bounds
  };
  // Label i is shown when (i + anchor) is a multiple of the step, so that hours are labelled
  // at 00, 03, 06 whatever the first bar's hour.
  BarAxis(QStringList labels, Place place, std::vector<int> steps, int anchor = 0);

  // Adds the axis at the chart's bottom and attaches the series to it.
  void AttachTo(QChart* chart, QAbstractSeries* series);

 private:
  void Fit(qreal plotWidth);

  qreal At(int label) const { return m_place == Place::Bars ? label : label - 0.5; }

  QStringList m_labels;
  Place m_place;
  int m_bars;
  std::vector<int> m_steps;
  int m_anchor;
  int m_step = 0;
};

}  // namespace vorlan
