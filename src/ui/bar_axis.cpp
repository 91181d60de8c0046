#include "ui/bar_axis.h"

#include <QAbstractSeries>
#include <QChart>
#include <QFontMetricsF>

#include <algorithm>

namespace vorlan {
namespace {

// What the charts library keeps around each label: its padding on both sides and the text
// item's margins. A label given less room is drawn as "...".
constexpr qreal kRoundLabel = 2 * 5.0 + 2 * 2.0 + 4.0;

}  // namespace

BarAxis::BarAxis(QStringList labels, Place place, std::vector<int> steps, int anchor)
    : m_labels(std::move(labels)),
      m_place(place),
      // Without bars, a scale of one bar's width: a range of none is no range.
      m_bars(std::max(1, int(m_labels.size()) - (place == Place::Edges ? 1 : 0))),
      m_steps(std::move(steps)),
      m_anchor(anchor) {
  if (m_steps.empty()) m_steps.push_back(1);
  setRange(-0.5, double(m_bars) - 0.5);
  setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  // Ticks mark the labelled bars; lines through the bars would only clutter them.
  setGridLineVisible(false);
}

void BarAxis::AttachTo(QChart* chart, QAbstractSeries* series) {
  chart->addAxis(this, Qt::AlignBottom);
  series->attachAxis(this);
  // Attaching lets the series widen the range to its own; the bars stay where they are.
  setRange(-0.5, double(m_bars) - 0.5);
  QObject::connect(chart, &QChart::plotAreaChanged, this,
                   [this](const QRectF& plot) { Fit(plot.width()); });
  Fit(chart->plotArea().width());
}

void BarAxis::Fit(qreal plotWidth) {
  const QFontMetricsF metrics(labelsFont());
  qreal widest = 0;
  for (const QString& label : m_labels) widest = std::max(widest, metrics.horizontalAdvance(label));
  const auto labelled = [this](int step) {
    int count = 0;
    for (int i = 0; i < m_labels.size(); ++i) count += (i + m_anchor) % step == 0 ? 1 : 0;
    return count;
  };
  // The library gives each label an equal share of the axis, one share more than labels.
  const auto fits = [&](int step) {
    return plotWidth / (labelled(step) + 1) >= widest + kRoundLabel;
  };
  const auto found = std::find_if(m_steps.begin(), m_steps.end(), fits);
  int step = found != m_steps.end() ? *found : m_steps.back();
  // Past the given steps, doubled until the labels fit or one is left.
  while (!fits(step) && labelled(step) > 1) step *= 2;
  if (step == m_step) return;
  m_step = step;
  for (const QString& label : categoriesLabels()) remove(label);
  // A label stands at the end of its category: the first begins before the first place.
  setStartValue(At(0) - 1);
  for (int i = 0; i < m_labels.size(); ++i) {
    if ((i + m_anchor) % step == 0) append(m_labels[i], At(i));
  }
}

}  // namespace vorlan
