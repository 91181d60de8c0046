#include "ui/summary_pane.h"

#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineSeries>
#include <QLocale>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QStackedBarSeries>
#include <QTableView>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>

#include "app/imported_records.h"
#include "app/summary_table.h"
#include "format/leading_number.h"
#include "format/record_fields.h"
#include "format/record_formatter.h"
#include "platform/dialogs.h"
#include "ui/bar_axis.h"

namespace vorlan {
namespace {

const QString kSummaryTitle = QStringLiteral("Summary");
constexpr qint64 kHourMsecs = qint64{3600} * 1000;
constexpr qint64 kDayMsecs = 24 * kHourMsecs;
// Calls per hour up to this range of starts, per day beyond it.
constexpr qint64 kHourlyRange = 2 * kDayMsecs;
// More bars than this are no chart: then only the hours or days with calls are shown.
constexpr qint64 kMostBars = 400;
constexpr int kHistogramBars = 20;

QChartView* ChartView(QChart* chart, const QString& name, QWidget* parent) {
  chart->setObjectName(name);
  chart->legend()->setAlignment(Qt::AlignBottom);
  chart->setMargins(QMargins(4, 4, 4, 4));
  auto* view = new QChartView(chart, parent);
  view->setObjectName(name + QStringLiteral("View"));
  view->setRenderHint(QPainter::Antialiasing);
  view->setMinimumSize(320, 220);
  return view;
}

void Clear(QChart* chart) {
  chart->removeAllSeries();
  for (QAbstractAxis* axis : chart->axes()) {
    chart->removeAxis(axis);
    delete axis;
  }
}

QValueAxis* CountAxis(QChart* chart, qint64 most) {
  // Ticks on whole calls only (fractions would all read as their whole part): one every 1, 2
  // or 5 times a power of ten, five or fewer.
  qint64 step = 0;
  for (qint64 power = 1; step == 0; power *= 10) {
    for (const qint64 s : {1, 2, 5}) {
      if (step == 0 && s * power * 5 >= most) step = s * power;
    }
  }
  auto* axis = new QValueAxis;
  const qint64 top = (std::max<qint64>(most, 1) + step - 1) / step * step;
  axis->setRange(0, double(top));
  axis->setTickType(QValueAxis::TicksDynamic);
  axis->setTickAnchor(0);
  axis->setTickInterval(double(step));
  axis->setLabelFormat(QStringLiteral("%d"));
  axis->setTitleText(QStringLiteral("Calls"));
  chart->addAxis(axis, Qt::AlignLeft);
  return axis;
}

// A bin width that gives at most `bins` bars up to `upTo` seconds and starts every bar on a
// whole minute, or on a round part of one.
qint64 TalkBinWidth(qint64 upTo, int bins) {
  const qint64 span = std::max<qint64>(upTo, 0) + 1;
  const auto enough = [&](qint64 width) { return (span + width - 1) / width <= bins; };
  for (const qint64 width : {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800}) {
    if (enough(width)) return width;
  }
  qint64 width = 3600;
  while (!enough(width)) width *= 2;
  return width;
}

QString Time(qint64 msecs, const char* format) {
  return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC).toString(QLatin1String(format));
}

}  // namespace

SummaryPane::SummaryPane(std::shared_ptr<ImportedRecords> table, Dialogs& dialogs, QWidget* parent)
    : QWidget(parent),
      m_table(std::move(table)),
      m_dialogs(dialogs),
      m_groupsModel(new SummaryTable(this)),
      m_totals(new QLabel(this)),
      m_callsChart(new QChart),
      m_talkChart(new QChart) {
  setObjectName("SummaryPane");
  auto* layout = new QVBoxLayout(this);
  m_totals->setObjectName("lblTotals");
  m_totals->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(m_totals);

  auto* split = new QSplitter(Qt::Vertical, this);
  auto* charts = new QWidget(split);
  auto* chartRow = new QHBoxLayout(charts);
  chartRow->setContentsMargins(0, 0, 0, 0);
  const auto chartColumn = [&](QChart* chart, const QString& name, QChartView*& view,
                               QPushButton*& save) {
    auto* column = new QVBoxLayout;
    view = ChartView(chart, name, charts);
    column->addWidget(view, 1);
    save = new QPushButton(QStringLiteral("Save as PNG..."), charts);
    save->setObjectName(QStringLiteral("cmdSave") + name);
    column->addWidget(save, 0, Qt::AlignRight);
    chartRow->addLayout(column, 1);
  };
  chartColumn(m_callsChart, QStringLiteral("CallsChart"), m_callsView, m_saveCalls);
  chartColumn(m_talkChart, QStringLiteral("TalkChart"), m_talkView, m_saveTalk);

  auto* grouped = new QWidget(split);
  auto* groupedLayout = new QVBoxLayout(grouped);
  groupedLayout->setContentsMargins(0, 0, 0, 0);
  auto* bar = new QHBoxLayout;
  auto* label = new QLabel(QStringLiteral("Group by the data of data type"), grouped);
  bar->addWidget(label);
  m_groupType = new QComboBox(grouped);
  m_groupType->setObjectName("cbGroupType");
  m_groupType->setToolTip(QStringLiteral("The data types that the records hold"));
  label->setBuddy(m_groupType);
  bar->addWidget(m_groupType);
  bar->addStretch();
  m_exportGroups = new QPushButton(QStringLiteral("Export CSV..."), grouped);
  m_exportGroups->setObjectName("cmdExportGroups");
  m_exportGroups->setToolTip(QStringLiteral("Write the grouped table to a CSV file"));
  bar->addWidget(m_exportGroups);
  groupedLayout->addLayout(bar);
  m_groupsView = new QTableView(grouped);
  m_groupsView->setObjectName("tblGroups");
  m_groupsView->setModel(m_groupsModel);
  m_groupsView->setSortingEnabled(true);
  // The values that make the most calls first.
  m_groupsView->sortByColumn(SummaryTable::Calls, Qt::DescendingOrder);
  m_groupsView->verticalHeader()->hide();
  m_groupsView->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_groupsView->horizontalHeader()->setStretchLastSection(true);
  m_groupsView->setColumnWidth(SummaryTable::Value, 160);
  groupedLayout->addWidget(m_groupsView, 1);
  split->setStretchFactor(0, 3);
  split->setStretchFactor(1, 2);
  layout->addWidget(split, 1);

  connect(m_groupType, &QComboBox::activated, this, [this] { Refresh(); });
  connect(m_saveCalls, &QPushButton::clicked, this,
          [this] { SaveChart(m_callsView, QStringLiteral("calls per hour")); });
  connect(m_saveTalk, &QPushButton::clicked, this,
          [this] { SaveChart(m_talkView, QStringLiteral("talk time")); });
  connect(m_exportGroups, &QPushButton::clicked, this, [this] { ExportGroups(); });
  // The filter and the maximum reset the table.
  connect(m_table.get(), &QAbstractItemModel::modelReset, this, [this] { Refresh(); });
  Refresh();
}

void SummaryPane::Refresh() {
  const QVariant chosen = m_groupType->currentData();
  const auto summaryBy = [this](double type) {
    return m_table->SummaryOf({format::Grouping::By::Type, type});
  };
  format::CallSummary summary = summaryBy(chosen.isValid() ? chosen.toDouble() : -1);
  const std::set<double>& types = summary.TypesPresent();
  if (!chosen.isValid() || !types.contains(chosen.toDouble())) {
    // The first time, or the type is gone with the filter: the lowest type present.
    if (!types.empty()) summary = summaryBy(*types.begin());
  }
  m_groupType->clear();
  for (const double type : summary.TypesPresent()) {
    m_groupType->addItem(format::TypeText(type), type);
  }
  m_groupType->setCurrentIndex(m_groupType->findData(summary.GroupingUsed().type));

  const format::SummaryTotals& totals = summary.Totals();
  const QLocale locale;
  QString text =
      QStringLiteral("%1 calls, %2 flagged, total talk %3")
          .arg(locale.toString(totals.figures.calls), locale.toString(totals.figures.flagged),
               format::TalkTimeText(totals.figures.totalTalkSeconds));
  if (totals.firstStart) {
    text += QStringLiteral("; first call %1, last call %2")
                .arg(format::SummaryTimeText(*totals.firstStart),
                     format::SummaryTimeText(*totals.lastStart));
  }
  m_totals->setText(text + QLatin1Char('.'));

  ShowCallsPerHour(summary);
  ShowTalkTimes(summary);
  m_groupsModel->SetGroups(summary.Groups(), QStringLiteral("Type %1").arg(
                                                 format::TypeText(summary.GroupingUsed().type)));
  m_exportGroups->setEnabled(m_groupsModel->rowCount() > 0);
  m_summary = std::move(summary);
}

void SummaryPane::ShowCallsPerHour(const format::CallSummary& summary) {
  Clear(m_callsChart);
  const format::SummaryTotals& totals = summary.Totals();
  const bool hourly = !totals.firstStart || *totals.lastStart - *totals.firstStart <= kHourlyRange;
  const qint64 unit = hourly ? kHourMsecs : kDayMsecs;
  std::vector<format::SummaryGroup> groups =
      summary.TimeGroups(hourly ? format::Grouping::By::Hour : format::Grouping::By::Day);
  if (!groups.empty() && !groups.back().at) groups.pop_back();  // no start: no bar
  // Hours and days without calls are bars of their own, unless there would be too many.
  if (!groups.empty() && (*groups.back().at - *groups.front().at) / unit < kMostBars) {
    std::vector<format::SummaryGroup> all;
    for (qint64 at = *groups.front().at; at <= *groups.back().at; at += unit) {
      all.push_back({QByteArray(), at, {}});
    }
    for (const format::SummaryGroup& group : groups) {
      all[size_t((*group.at - *groups.front().at) / unit)] = group;
    }
    groups = std::move(all);
  }
  const auto same = [&](const char* format) {
    return groups.empty() || Time(*groups.front().at, format) == Time(*groups.back().at, format);
  };
  const bool oneDay = same("yyyyMMdd");
  const char* labelFormat = hourly         ? (oneDay ? "HH" : "MM-dd HH")
                            : same("yyyy") ? "MM-dd"
                                           : "yyyy-MM-dd";
  auto* plain = new QBarSet(QStringLiteral("Not flagged"));
  auto* flagged = new QBarSet(QStringLiteral("Flagged calls"));
  QStringList labels;
  qint64 most = 0;
  for (const format::SummaryGroup& group : groups) {
    *plain << double(group.figures.calls - group.figures.flagged);
    *flagged << double(group.figures.flagged);
    most = std::max(most, group.figures.calls);
    labels << Time(*group.at, labelFormat);
  }
  auto* series = new QStackedBarSeries;
  series->append(plain);
  series->append(flagged);
  series->setBarWidth(0.9);
  m_callsChart->addSeries(series);
  // Hours labelled on the clock's round hours, days from the first.
  const int anchor = hourly && !groups.empty() ? Time(*groups.front().at, "H").toInt() : 0;
  auto* axisX = hourly ? new BarAxis(labels, BarAxis::Place::Bars, {1, 2, 3, 4, 6, 12, 24}, anchor)
                       : new BarAxis(labels, BarAxis::Place::Bars, {1, 2, 7, 14, 28});
  QString title = hourly ? QStringLiteral("Calls per hour") : QStringLiteral("Calls per day");
  if (!groups.empty()) {
    title += QStringLiteral(", ") + Time(*groups.front().at, "yyyy-MM-dd");
    if (!oneDay) title += QStringLiteral(" to ") + Time(*groups.back().at, "yyyy-MM-dd");
  }
  m_callsChart->setTitle(title);
  axisX->setTitleText(hourly ? QStringLiteral("Hour of the start") : QStringLiteral("Day"));
  axisX->AttachTo(m_callsChart, series);
  series->attachAxis(CountAxis(m_callsChart, most));
}

void SummaryPane::ShowTalkTimes(const format::CallSummary& summary) {
  Clear(m_talkChart);
  const QString maxText = m_table->MaxTime();
  const bool hasMaximum = !maxText.isEmpty();
  const auto maximum =
      hasMaximum ? qint64(std::clamp(format::LeadingNumber(maxText), 0.0, double(INT32_MAX))) : 0;
  const qint64 longest = summary.Totals().figures.longestTalkSeconds.value_or(0);
  const qint64 width = TalkBinWidth(std::max(longest, maximum), kHistogramBars);
  std::vector<format::HistogramBin> bins = summary.TalkHistogram(width);
  if (hasMaximum) {
    while (qint64(bins.size()) * width <= maximum) bins.push_back({qint64(bins.size()) * width, 0});
  }
  auto* set = new QBarSet(QStringLiteral("Calls"));
  qint64 most = 0;
  for (const format::HistogramBin& bin : bins) {
    *set << double(bin.calls);
    most = std::max(most, bin.calls);
  }
  // The bins' bounds, read as on a clock's face: in minutes, with seconds where bins are short.
  const bool minutes = width % 60 == 0;
  QStringList labels;
  for (qint64 from = 0; from <= qint64(bins.size()) * width && !bins.empty(); from += width) {
    labels << (minutes ? QString::number(from / 60)
                       : QStringLiteral("%1:%2").arg(from / 60).arg(from % 60, 2, 10,
                                                                    QLatin1Char('0')));
  }
  auto* series = new QBarSeries;
  series->append(set);
  series->setBarWidth(1.0);
  m_talkChart->addSeries(series);
  auto* axisX = new BarAxis(labels, BarAxis::Place::Edges, {1, 2, 5, 10, 20});
  axisX->setTitleText(
      minutes ? QStringLiteral("Talk time in minutes, bars of %1 min").arg(width / 60)
              : QStringLiteral("Talk time in minutes:seconds, bars of %1 s").arg(width));
  axisX->AttachTo(m_talkChart, series);
  QValueAxis* axisY = CountAxis(m_talkChart, most);
  series->attachAxis(axisY);
  m_talkChart->setTitle(QStringLiteral("Talk time"));
  if (!hasMaximum || bins.empty()) return;
  // The maximum as a line across the bars: bar i spans i - 0.5 to i + 0.5 on the category
  // scale, so a talk time t sits at t / width - 0.5.
  auto* line = new QLineSeries;
  line->setName(QStringLiteral("Maximum %1 s").arg(maximum));
  const double x = double(maximum) / double(width) - 0.5;
  line->append(x, 0);
  line->append(x, axisY->max());
  QPen pen(Qt::red);
  pen.setWidth(2);
  line->setPen(pen);
  m_talkChart->addSeries(line);
  line->attachAxis(axisX);
  line->attachAxis(axisY);
}

QString SummaryPane::AskTarget(const QString& title, const QString& filter,
                               const QString& extension) {
  Dialogs::OpenFileRequest request;
  request.filter = filter;
  request.filterIndex = 1;
  request.title = title;
  request.defaultExtension = extension;
  request.folder =
      m_table->FileCount() > 0 ? QFileInfo(m_table->FileName()).absolutePath() : QString();
  QString target = m_dialogs.SaveFile(request);
  if (target.isEmpty()) return {};
  const QString canonical = QFileInfo(target).canonicalFilePath();
  for (const QString& source : m_table->FileNames()) {
    if (!canonical.isEmpty() && canonical == QFileInfo(source).canonicalFilePath()) {
      m_dialogs.MessageBox(QStringLiteral("%1 is an imported log file; choose a file of its own.")
                               .arg(QDir::toNativeSeparators(target)),
                           Dialogs::Icon::Warning, kSummaryTitle);
      return {};
    }
  }
  return target;
}

QImage SummaryPane::ChartImage(QChartView* view) {
  // At a size where axis labels and the legend are whole, whatever the window's size now.
  const QSize size(1600, 900);
  const QSize shown = view->size();
  view->resize(size);
  QImage image(size, QImage::Format_ARGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  view->render(&painter);
  painter.end();
  view->resize(shown);
  return image;
}

void SummaryPane::SaveChart(QChartView* view, const QString& name) {
  const QString target =
      AskTarget(QStringLiteral("Save the chart of %1").arg(name),
                QStringLiteral("PNG Images (*.png)|*.png"), QStringLiteral("png"));
  if (target.isEmpty()) return;
  QSaveFile file(target);
  if (!file.open(QIODevice::WriteOnly) || !ChartImage(view).save(&file, "PNG") || !file.commit()) {
    m_dialogs.MessageBox(QStringLiteral("%1 cannot be written:\r\n%2")
                             .arg(QDir::toNativeSeparators(target), file.errorString()),
                         Dialogs::Icon::Critical, kSummaryTitle);
  }
}

void SummaryPane::ExportGroups() {
  if (!m_summary) return;
  const QString target = AskTarget(QStringLiteral("Export the grouped table to CSV"),
                                   QStringLiteral("CSV Files (*.csv)|*.csv|All Files (*.*)|*.*"),
                                   QStringLiteral("csv"));
  if (target.isEmpty()) return;
  QSaveFile file(target);
  const QByteArray csv = format::SummaryCsv(*m_summary);
  if (!file.open(QIODevice::WriteOnly) || file.write(csv) != csv.size() || !file.commit()) {
    m_dialogs.MessageBox(QStringLiteral("%1 cannot be written:\r\n%2")
                             .arg(QDir::toNativeSeparators(target), file.errorString()),
                         Dialogs::Icon::Critical, kSummaryTitle);
  }
}

}  // namespace vorlan
