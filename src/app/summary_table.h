#pragma once

#include <QAbstractTableModel>

#include <vector>

#include "format/call_summary.h"

namespace vorlan {

// The calls of an imported table grouped by the values of one data type: calls, flagged calls,
// total talk time and longest call per value, sortable by every column.
class SummaryTable : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { Value, Calls, Flagged, TotalTalk, Longest, ColumnCount };

  using QAbstractTableModel::QAbstractTableModel;

  // The groups in their own order; the sort chosen last is applied to them.
  void SetGroups(std::vector<format::SummaryGroup> groups, QString valueHeader);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

 private:
  void Arrange();

  std::vector<format::SummaryGroup> m_groups;
  std::vector<format::SummaryGroup> m_inOrder;  // as the summary gives them
  QString m_valueHeader;
  int m_sortColumn = -1;  // none: the summary's order
  Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};

}  // namespace vorlan
