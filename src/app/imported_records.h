#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

#include "format/call_csv.h"
#include "format/call_summary.h"
#include "logging/log_reader.h"

namespace vorlan {

// The records of one or more imported log files as one table, in file order then line order:
// one row per record, with its line, call type, start, end, talk time, whether it runs over the
// maximum call time now, whether the file marked it "<BAD>:", and its file. It keeps the records'
// bytes, never a file's: a row is a few numbers and a view into them. Sorting and the
// flagged-only filter reorder an index, never the rows, so a file of a hundred thousand records
// sorts in a blink.
class ImportedRecords : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { Line, CallType, Start, End, TalkTime, OverMax, MarkedBad, File, ColumnCount };

  // What the table keeps at most, records and rows together: a file that would take it further
  // is not imported (an hour of a busy exchange takes a few megabytes).
  static constexpr qint64 kKeptBytesDefault = qint64{512} << 20;

  explicit ImportedRecords(QString maxTime, qint64 keptBytesLimit = kKeptBytesDefault);
  // One file of these bytes, read whole.
  ImportedRecords(QString fileName, QByteArrayView bytes, QString maxTime);
  // A file of these bytes, read whole and kept (false, and nothing kept, over the limit).
  bool AddFile(QString fileName, QByteArrayView bytes);

  // Building, before the table is shown: a file is begun, its lines added in order, then it is
  // ended, and kept or dropped.
  void BeginFile(QString fileName);
  // False when the line's record would take the table over its limit: the file must be dropped.
  bool Add(const logging::LogLine& line);
  void EndFile() { Arrange(); }
  qint64 KeptBytes() const { return m_recordBytes + qint64(m_rows.size() * sizeof(Row)); }
  qint64 KeptBytesLimit() const { return m_keptBytesLimit; }
  // Whether the file begun last is a log file.
  bool IsLogFile() const;
  qsizetype LastFileRecords() const;
  qsizetype LastFileOtherLines() const;
  // Takes the file begun last out again, with its rows and lines.
  void DropLastFile();

  // A file that is no log may hold millions of lines: only the first of them are kept to be
  // shown, each cut to its first bytes; the rest are counted.
  static constexpr size_t kOtherLinesKept = 1000;
  static constexpr qsizetype kOtherLineBytesKept = 1024;

  qsizetype FileCount() const { return qsizetype(m_files.size()); }
  const QString& FileName(qsizetype file = 0) const { return m_files[size_t(file)].name; }
  QStringList FileNames() const;
  qsizetype RecordTotal() const { return qsizetype(m_rows.size()); }
  const std::vector<logging::OtherLine>& OtherLines() const { return m_others; }
  // The file (its index) of OtherLines()[i].
  qsizetype OtherLineFile(size_t i) const { return m_otherFiles[i]; }
  qsizetype OtherLineTotal() const { return m_otherTotal; }
  // "1,234 records: 3 over the maximum now, 2 marked <BAD>:. 1 line is not a record."
  QString Summary() const;

  // The maximum call time (the TxtMaxTime text) that "over max" is judged by; judged anew.
  void SetMaxTime(const QString& maxTime);
  // Shows only the rows over the maximum or marked "<BAD>:".
  void SetFlaggedOnly(bool flaggedOnly);

  // The shown row's record as the Formatted Output window shows it; empty for no such row.
  QString FormattedText(int row) const;
  // The shown row as a CSV row's fields: flagged_now empty while no maximum is set.
  format::CsvRecord CsvRecordAt(int row) const;
  // The summary of the shown rows (it follows the filter and the maximum, not the order).
  format::CallSummary SummaryOf(const format::Grouping& grouping) const;
  const QString& MaxTime() const { return m_maxTime; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

 private:
  struct Row {
    qint32 file;
    qint64 line;
    qint32 block;  // the record is m_blocks[block] from offset on
    qint32 offset;
    qint32 size;
    bool markedBad;
    bool overMax;
    bool hasTimes;
    qint64 start;  // msecs since the epoch of the stamps read as UTC calendar values
    qint64 end;
    qint64 talkSeconds;
  };

  QByteArrayView RecordOf(const Row& row) const;
  static bool Flagged(const Row& row) { return row.overMax || row.markedBad; }
  bool Less(const Row& a, const Row& b) const;
  void Arrange();

  struct LoadedFile {
    QString name;
    size_t firstRow;  // where its rows, records and other lines begin, to drop them again
    size_t firstBlock;
    qsizetype firstBlockSize;
    qint64 recordBytesBefore;
    size_t firstOther;
    qsizetype otherTotalBefore;
  };

  std::vector<LoadedFile> m_files;
  // The records of all rows, one after the other, in blocks that are never moved or grown, so
  // that a large import needs no copy of all it holds while it grows.
  std::vector<QByteArray> m_blocks;
  qint64 m_recordBytes = 0;
  qint64 m_keptBytesLimit;
  QString m_maxTime;
  std::vector<Row> m_rows;
  std::vector<logging::OtherLine> m_others;
  std::vector<qsizetype> m_otherFiles;
  qsizetype m_otherTotal = 0;
  int m_sortColumn = Line;
  Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
  bool m_flaggedOnly = false;
  std::vector<qint32> m_shown;  // indexes into m_rows, in the order shown
};

}  // namespace vorlan
