#pragma once

#include <QWidget>

#include <memory>
#include <optional>

#include "format/call_summary.h"

class QBarSeries;
class QImage;
class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QPushButton;
class QTableView;

namespace vorlan {

class Dialogs;
class ImportedRecords;
class SummaryTable;

// The Summary tab of the "Imported records" window: calls per hour (or per day, beyond two
// days), a talk-time histogram with the maximum drawn on it, the calls grouped by the values of
// a data type the operator chooses, and one line of totals. It follows the table's filter and
// maximum. Charts save as PNG, the grouped table as CSV.
class SummaryPane : public QWidget {
 public:
  SummaryPane(std::shared_ptr<ImportedRecords> table, Dialogs& dialogs, QWidget* parent = nullptr);

  QLabel* totals() const { return m_totals; }
  QChart* callsChart() const { return m_callsChart; }
  QChart* talkChart() const { return m_talkChart; }
  QComboBox* groupType() const { return m_groupType; }
  QTableView* groups() const { return m_groupsView; }
  QPushButton* saveCallsChart() const { return m_saveCalls; }
  QPushButton* exportGroups() const { return m_exportGroups; }

  // Computes the figures anew from the table as it is shown now.
  void Refresh();

 private:
  void ShowCallsPerHour(const format::CallSummary& summary);
  void ShowTalkTimes(const format::CallSummary& summary);
  // The chart as saved: 1600 x 900 pixels.
  static QImage ChartImage(QChartView* view);
  void SaveChart(QChartView* view, const QString& name);
  void ExportGroups();
  // A file to write to, asked in the save dialog; never one of the imported files.
  QString AskTarget(const QString& title, const QString& filter, const QString& extension);

  std::shared_ptr<ImportedRecords> m_table;
  Dialogs& m_dialogs;
  SummaryTable* m_groupsModel;
  std::optional<format::CallSummary> m_summary;
  QLabel* m_totals;
  QChart* m_callsChart;
  QChart* m_talkChart;
  QChartView* m_callsView = nullptr;
  QChartView* m_talkView = nullptr;
  QComboBox* m_groupType;
  QTableView* m_groupsView;
  QPushButton* m_saveCalls = nullptr;
  QPushButton* m_saveTalk = nullptr;
  QPushButton* m_exportGroups;
};

}  // namespace vorlan
