#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <QString>

#include <vector>

#include "format/call_csv.h"
#include "logging/log_reader.h"

namespace vorlan {

// The records of one imported log file as a table: one row per record, with its line, call
// type, start, end, talk time, whether it runs over the maximum call time now and whether the
// file marked it "<BAD>:". It holds the file's bytes once; a row is a few numbers and a view
// into them. Sorting and the flagged-only filter reorder an index, never the rows, so a file
// of a hundred thousand records sorts in a blink.
class ImportedRecords : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { Line, CallType, Start, End, TalkTime, OverMax, MarkedBad, ColumnCount };

  ImportedRecords(QString fileName, QByteArray bytes, QString maxTime);

  // Building, before the table is shown: reads lines until `budget` bytes more are read or the
  // file ends. Returns false at the end.
  bool ReadSome(qsizetype budget);
  qsizetype BytesRead() const { return m_reader.Position(); }
  qsizetype FileSize() const { return m_bytes.size(); }
  bool IsLogFile() const { return logging::IsLogFile(m_rows.size(), size_t(m_otherTotal)); }

  // A file that is no log may hold millions of lines: only the first of them are kept to be
  // shown, each cut to its first bytes; the rest are counted.
  static constexpr size_t kOtherLinesKept = 1000;
  static constexpr qsizetype kOtherLineBytesKept = 1024;

  const QString& FileName() const { return m_fileName; }
  qsizetype RecordTotal() const { return qsizetype(m_rows.size()); }
  const std::vector<logging::OtherLine>& OtherLines() const { return m_others; }
  qsizetype OtherLineTotal() const { return m_otherTotal; }
  // "1,234 records: 3 over the maximum now, 2 marked <BAD>:. 1 line is not a record."
  QString Summary() const;

  // The maximum call time (the TxtMaxTime text) that "over max" is judged by; judged anew.
  void SetMaxTime(const QString& maxTime);
  // Shows only the rows over the maximum or marked "<BAD>:".
  void SetFlaggedOnly(bool flaggedOnly);
  bool FlaggedOnly() const { return m_flaggedOnly; }

  // The shown row's record as the Formatted Output window shows it; empty for no such row.
  QString FormattedText(int row) const;
  // The shown row as a CSV row's fields: flagged_now empty while no maximum is set.
  format::CsvRecord CsvRecordAt(int row) const;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

 private:
  struct Row {
    qint64 line;
    qsizetype offset;  // of the record in the file's bytes
    qsizetype size;
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

  QString m_fileName;
  const QByteArray m_bytes;  // never changed: the reader and the rows view it
  logging::LogReader m_reader;
  QString m_maxTime;
  std::vector<Row> m_rows;
  std::vector<logging::OtherLine> m_others;
  qsizetype m_otherTotal = 0;
  int m_sortColumn = Line;
  Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
  bool m_flaggedOnly = false;
  std::vector<qint32> m_shown;  // indexes into m_rows, in the order shown
};

}  // namespace vorlan
