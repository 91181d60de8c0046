#include "app/summary_table.h"

#include <algorithm>

#include "format/record_fields.h"

namespace vorlan {
namespace {

qint64 Figure(const format::SummaryGroup& group, int column) {
  const format::SummaryFigures& f = group.figures;
  switch (column) {
    case SummaryTable::Calls: return f.calls;
    case SummaryTable::Flagged: return f.flagged;
    case SummaryTable::TotalTalk: return f.totalTalkSeconds;
    default: return f.longestTalkSeconds.value_or(-1);
  }
}

}  // namespace

void SummaryTable::SetGroups(std::vector<format::SummaryGroup> groups, QString valueHeader) {
  beginResetModel();
  m_inOrder = std::move(groups);
  m_valueHeader = std::move(valueHeader);
  Arrange();
  endResetModel();
  emit headerDataChanged(Qt::Horizontal, Value, Value);
}

int SummaryTable::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(m_groups.size());
}

int SummaryTable::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant SummaryTable::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  if (role == Qt::TextAlignmentRole) {
    return int(Qt::AlignVCenter | (index.column() == Value ? Qt::AlignLeft : Qt::AlignRight));
  }
  if (role != Qt::DisplayRole) return {};
  const format::SummaryGroup& group = m_groups[size_t(index.row())];
  switch (index.column()) {
    case Value:
      return group.key.isEmpty() ? QStringLiteral("(none)") : QString::fromLatin1(group.key);
    case Calls: return QString::number(group.figures.calls);
    case Flagged: return QString::number(group.figures.flagged);
    case TotalTalk: return format::TalkTimeText(group.figures.totalTalkSeconds);
    case Longest:
      return group.figures.longestTalkSeconds
                 ? format::TalkTimeText(*group.figures.longestTalkSeconds)
                 : QString();
    default: return {};
  }
}

QVariant SummaryTable::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
  switch (section) {
    case Value: return m_valueHeader;
    case Calls: return QStringLiteral("Calls");
    case Flagged: return QStringLiteral("Flagged");
    case TotalTalk: return QStringLiteral("Total talk");
    case Longest: return QStringLiteral("Longest call");
    default: return {};
  }
}

void SummaryTable::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= ColumnCount) return;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  m_sortColumn = column;
  m_sortOrder = order;
  Arrange();
  // Whole rows move; nothing holds on to one, so the persistent indexes are let go.
  for (const QModelIndex& index : persistentIndexList()) {
    changePersistentIndex(index, QModelIndex());
  }
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

// The value column sorts in the summary's order (digits by number); the empty value stays last.
void SummaryTable::Arrange() {
  m_groups = m_inOrder;
  if (m_sortColumn < 0) return;
  const bool descending = m_sortOrder == Qt::DescendingOrder;
  if (m_sortColumn == Value) {
    const auto named = std::partition_point(m_groups.begin(), m_groups.end(),
                                            [](const auto& g) { return !g.key.isEmpty(); });
    if (descending) std::reverse(m_groups.begin(), named);
    return;
  }
  std::stable_sort(m_groups.begin(), m_groups.end(), [&](const auto& a, const auto& b) {
    return descending ? Figure(b, m_sortColumn) < Figure(a, m_sortColumn)
                      : Figure(a, m_sortColumn) < Figure(b, m_sortColumn);
  });
}

}  // namespace vorlan
