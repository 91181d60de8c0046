#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <vector>

// Cuts the next batch of rows out of a log file's bytes from a known position. Pure.
//
// The bytes after the last whole record may be a line still being written, or the start of a
// record cut off by the reader's chunk: only a record's ETX CR LF proves a line whole, so a
// batch ends after its last record, unless the file is known to be complete.
namespace vorlan::store {

struct LogPosition {
  qint64 offset = 0;  // bytes of the file already loaded; always the start of a line
  qint64 line = 1;    // the line that starts there
};

// The SHA-256 of a record's bytes, as the table's uniqueness rule computes it. Compared as
// unsigned bytes, so that its order is the order of the rule's index.
using RecordDigest = std::array<unsigned char, 32>;

struct BatchRow {
  RecordDigest digest{};
  qsizetype offset = 0;  // of its line in copyRows
  qsizetype length = 0;  // with its LF
};

struct LogBatch {
  QByteArray copyRows;         // COPY text of the records
  std::vector<BatchRow> rows;  // one per record, in the order of the file
  qint64 records = 0;
  qint64 others = 0;  // lines that are not records
  LogPosition end;    // where the next batch starts
};

// `chunk` is the file's bytes from `from.offset` on. `complete`: the chunk runs to the end of
// a file that nobody appends to any more, so its last lines are whole whatever they are. A
// chunk that is full (the reader's limit) and holds no record is taken up to its last line
// end, so that a run of lines that are not records cannot stop the reader.
LogBatch CutBatch(QByteArrayView chunk, LogPosition from, bool complete, bool full,
                  const QByteArray& exchange, const QByteArray& logFile);

}  // namespace vorlan::store
