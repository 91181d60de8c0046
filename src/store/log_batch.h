#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <array>
#include <vector>

#include "logging/log_stream.h"
#include "store/call_rows.h"

// Reads the next batch of rows from a log file. Only whole lines go into a batch: the reader
// gives no line that bytes still to be written could change.
namespace vorlan::store {

using logging::LineKey;

struct LogPosition {
  qint64 offset = 0;  // bytes of the file already loaded; always the start of a line
  qint64 line = 1;    // the line that starts there
  LineKey key{};      // of the line before it (see logging::LineKey)
};

// Where a file's reading starts.
LogPosition FileStart(const QString& fileName);

// The SHA-256 of a record's bytes, as the table computes it. Compared as unsigned bytes.
using RecordDigest = std::array<unsigned char, 32>;

struct BatchRow {
  RecordDigest digest{};
  LineKey key{};
  RowFacts facts;
  bool flagged = false;  // marked bad
  qsizetype offset = 0;  // of its line in copyRows
  qsizetype length = 0;  // with its LF
};

struct LogBatch {
  QByteArray copyRows;         // COPY text of the records
  std::vector<BatchRow> rows;  // one per record, in the order of the file
  qint64 records = 0;
  qint64 others = 0;  // lines that are not records
  LogPosition end;    // where the next batch starts
  QByteArray journal;
  bool exhausted = false;  // the reader had no more lines to give
};

// Log bytes read into one batch at most (a little more for its last line).
inline constexpr qint64 kBatchBytes = qint64(4) * 1024 * 1024;

// The next lines of `stream`, which stands at `from`, up to `bytes` of them. `complete`: nobody
// appends to the file any more, so its last line is taken as it stands. `journal` names the
// log folder.
LogBatch ReadBatch(logging::LogStream& stream, LogPosition from, bool complete,
                   const QByteArray& exchange, const QByteArray& logFile,
                   const QByteArray& journal, qint64 bytes = kBatchBytes);

}  // namespace vorlan::store
