#include "app/imported_records.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <numeric>

#include "format/record_fields.h"
#include "format/record_formatter.h"

namespace vorlan {
namespace {

constexpr qsizetype kBlockBytes = qsizetype{4} << 20;

QString TimeText(qint64 msecs) {
  return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC)
      .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString Count(qsizetype n, const char* one, const char* many) {
  return QLocale().toString(n) + QLatin1Char(' ') + QLatin1String(n == 1 ? one : many);
}

}  // namespace

ImportedRecords::ImportedRecords(QString maxTime, qint64 keptBytesLimit)
    : m_keptBytesLimit(keptBytesLimit), m_maxTime(std::move(maxTime)) {}

ImportedRecords::ImportedRecords(QString fileName, QByteArrayView bytes, QString maxTime)
    : ImportedRecords(std::move(maxTime)) {
  AddFile(std::move(fileName), bytes);
}

bool ImportedRecords::AddFile(QString fileName, QByteArrayView bytes) {
  BeginFile(std::move(fileName));
  logging::LogReader reader(bytes);
  while (const std::optional<logging::LogLine> line = reader.Next()) {
    if (!Add(*line)) {
      DropLastFile();
      return false;
    }
  }
  EndFile();
  return true;
}

void ImportedRecords::BeginFile(QString fileName) {
  m_files.push_back({std::move(fileName), m_rows.size(), m_blocks.size() - (m_blocks.empty() ? 0 : 1),
                     m_blocks.empty() ? 0 : m_blocks.back().size(), m_recordBytes, m_others.size(),
                     m_otherTotal});
}

bool ImportedRecords::Add(const logging::LogLine& line) {
  const auto file = qint32(m_files.size() - 1);
  if (!line.isRecord) {
    if (m_others.size() < kOtherLinesKept) {
      m_others.push_back(
          {line.line,
           line.bytes.first(std::min(line.bytes.size(), kOtherLineBytesKept)).toByteArray()});
      m_otherFiles.push_back(file);
    }
    ++m_otherTotal;
    return true;
  }
  if (KeptBytes() + line.bytes.size() + qint64(sizeof(Row)) > m_keptBytesLimit) return false;
  const std::optional<format::CallTimes> times = format::RecordCallTimes(line.bytes);
  const qsizetype size = line.bytes.size();
  if (m_blocks.empty() || m_blocks.back().capacity() - m_blocks.back().size() < size) {
    m_blocks.emplace_back().reserve(std::max(kBlockBytes, size));
  }
  QByteArray& block = m_blocks.back();
  m_rows.push_back({file, line.line, qint32(m_blocks.size() - 1), qint32(block.size()),
                    qint32(size), line.markedBad,
                    format::FlaggedByAlarm(line.bytes, m_maxTime), times.has_value(),
                    times ? times->start.toMSecsSinceEpoch() : 0,
                    times ? times->end.toMSecsSinceEpoch() : 0, times ? times->talkSeconds : 0});
  block.append(line.bytes);
  m_recordBytes += size;
  return true;
}

qsizetype ImportedRecords::LastFileRecords() const {
  return m_files.empty() ? 0 : qsizetype(m_rows.size() - m_files.back().firstRow);
}

qsizetype ImportedRecords::LastFileOtherLines() const {
  return m_files.empty() ? 0 : m_otherTotal - m_files.back().otherTotalBefore;
}

bool ImportedRecords::IsLogFile() const {
  return logging::IsLogFile(size_t(LastFileRecords()), size_t(LastFileOtherLines()));
}

void ImportedRecords::DropLastFile() {
  if (m_files.empty()) return;
  const LoadedFile& last = m_files.back();
  m_rows.resize(last.firstRow);
  m_blocks.resize(std::min(m_blocks.size(), last.firstBlock + 1));
  if (last.firstBlock < m_blocks.size()) m_blocks[last.firstBlock].truncate(last.firstBlockSize);
  m_recordBytes = last.recordBytesBefore;
  m_others.resize(last.firstOther);
  m_otherFiles.resize(last.firstOther);
  m_otherTotal = last.otherTotalBefore;
  m_files.pop_back();
  Arrange();
}

QStringList ImportedRecords::FileNames() const {
  QStringList names;
  for (const LoadedFile& file : m_files) names << file.name;
  return names;
}

QByteArrayView ImportedRecords::RecordOf(const Row& row) const {
  return QByteArrayView(m_blocks[size_t(row.block)]).sliced(row.offset, row.size);
}

format::CallSummary ImportedRecords::SummaryOf(const format::Grouping& grouping) const {
  format::CallSummary summary(grouping);
  for (const qint32 i : m_shown) {
    const Row& row = m_rows[size_t(i)];
    summary.Add({row.hasTimes ? std::optional(row.start) : std::nullopt, row.talkSeconds,
                 Flagged(row), RecordOf(row)});
  }
  return summary;
}

QString ImportedRecords::Summary() const {
  const auto over =
      std::count_if(m_rows.begin(), m_rows.end(), [](const Row& r) { return r.overMax; });
  const auto marked =
      std::count_if(m_rows.begin(), m_rows.end(), [](const Row& r) { return r.markedBad; });
  QString text = Count(RecordTotal(), "record", "records") + QStringLiteral(": ") +
                 QLocale().toString(qsizetype(over)) + QStringLiteral(" over the maximum now, ") +
                 QLocale().toString(qsizetype(marked)) + QStringLiteral(" marked <BAD>:.");
  if (m_otherTotal > 0) {
    text +=
        QLatin1Char(' ') + Count(m_otherTotal, "line is not a record.", "lines are not records.");
  }
  return text;
}

void ImportedRecords::SetMaxTime(const QString& maxTime) {
  if (maxTime == m_maxTime) return;
  beginResetModel();
  m_maxTime = maxTime;
  for (Row& row : m_rows) row.overMax = format::FlaggedByAlarm(RecordOf(row), m_maxTime);
  Arrange();
  endResetModel();
  emit headerDataChanged(Qt::Horizontal, OverMax, OverMax);
}

void ImportedRecords::SetFlaggedOnly(bool flaggedOnly) {
  if (flaggedOnly == m_flaggedOnly) return;
  beginResetModel();
  m_flaggedOnly = flaggedOnly;
  Arrange();
  endResetModel();
}

QString ImportedRecords::FormattedText(int row) const {
  if (row < 0 || row >= rowCount()) return {};
  return format::FormatData(RecordOf(m_rows[size_t(m_shown[size_t(row)])]), m_maxTime);
}

format::CsvRecord ImportedRecords::CsvRecordAt(int row) const {
  const Row& r = m_rows[size_t(m_shown[size_t(row)])];
  format::CsvRecord record{FileName(r.file), r.line, std::nullopt, r.markedBad, RecordOf(r)};
  if (!m_maxTime.isEmpty()) record.flaggedNow = r.overMax;
  return record;
}

int ImportedRecords::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(m_shown.size());
}

int ImportedRecords::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant ImportedRecords::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const Row& row = m_rows[size_t(m_shown[size_t(index.row())])];
  if (role == Qt::TextAlignmentRole) {
    const bool number = index.column() == Line || index.column() == TalkTime;
    return int(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
  }
  if (role != Qt::DisplayRole) return {};
  switch (index.column()) {
    case Line: return QString::number(row.line);
    case CallType: return QString::fromLatin1(format::CallType(RecordOf(row)));
    case Start: return row.hasTimes ? TimeText(row.start) : QString();
    case End: return row.hasTimes ? TimeText(row.end) : QString();
    case TalkTime: return row.hasTimes ? format::TalkTimeText(row.talkSeconds) : QString();
    case OverMax: return row.overMax ? QStringLiteral("yes") : QString();
    case MarkedBad: return row.markedBad ? QStringLiteral("<BAD>:") : QString();
    case File: return QFileInfo(FileName(row.file)).fileName();
    default: return {};
  }
}

QVariant ImportedRecords::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Vertical) return {};
  switch (section) {
    case Line: return QStringLiteral("Line");
    case CallType: return QStringLiteral("Call type");
    case Start: return QStringLiteral("Start");
    case End: return QStringLiteral("End");
    case TalkTime: return QStringLiteral("Talk time");
    case OverMax:
      return m_maxTime.isEmpty() ? QStringLiteral("Over max")
                                 : QStringLiteral("Over %1 s").arg(m_maxTime);
    case MarkedBad: return QStringLiteral("Marked");
    case File: return QStringLiteral("File");
    default: return {};
  }
}

// Rows without a readable data type 6 item sort after those with one, in either order.
bool ImportedRecords::Less(const Row& a, const Row& b) const {
  switch (m_sortColumn) {
    case CallType: return format::CallType(RecordOf(a)) < format::CallType(RecordOf(b));
    case Start: return a.hasTimes && (!b.hasTimes || a.start < b.start);
    case End: return a.hasTimes && (!b.hasTimes || a.end < b.end);
    case TalkTime: return a.hasTimes && (!b.hasTimes || a.talkSeconds < b.talkSeconds);
    case OverMax: return a.overMax < b.overMax;
    case MarkedBad: return a.markedBad < b.markedBad;
    case File: return a.file < b.file;
    default: return a.file < b.file || (a.file == b.file && a.line < b.line);
  }
}

void ImportedRecords::sort(int column, Qt::SortOrder order) {
  if (column < 0 || column >= ColumnCount) return;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const std::vector<qint32> before = m_shown;
  m_sortColumn = column;
  m_sortOrder = order;
  Arrange();
  // The selection and the current row follow their records to where they are shown now.
  std::vector<int> shownAt(m_rows.size(), -1);
  for (size_t i = 0; i < m_shown.size(); ++i) shownAt[size_t(m_shown[i])] = int(i);
  const QModelIndexList from = persistentIndexList();
  QModelIndexList to;
  to.reserve(from.size());
  for (const QModelIndex& index : from) {
    const int row = shownAt[size_t(before[size_t(index.row())])];
    to << (row < 0 ? QModelIndex() : createIndex(row, index.column()));
  }
  changePersistentIndexList(from, to);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

// The shown rows: filtered, then sorted stably from file order, so equal keys stay in the
// order of the file whichever way the column is sorted.
void ImportedRecords::Arrange() {
  m_shown.clear();
  for (size_t i = 0; i < m_rows.size(); ++i) {
    if (!m_flaggedOnly || Flagged(m_rows[i])) m_shown.push_back(qint32(i));
  }
  if (m_sortColumn == Line && m_sortOrder == Qt::AscendingOrder) return;
  const bool descending = m_sortOrder == Qt::DescendingOrder;
  std::stable_sort(m_shown.begin(), m_shown.end(), [&](qint32 a, qint32 b) {
    const Row& ra = m_rows[size_t(a)];
    const Row& rb = m_rows[size_t(b)];
    if (!descending) return Less(ra, rb);
    // Descending, but rows without times still last.
    if (m_sortColumn == Start || m_sortColumn == End || m_sortColumn == TalkTime) {
      if (ra.hasTimes != rb.hasTimes) return ra.hasTimes;
    }
    return Less(rb, ra);
  });
}

}  // namespace vorlan
