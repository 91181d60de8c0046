#include "store/log_batch.h"

#include <QCryptographicHash>

#include <algorithm>
#include <cstring>

#include "logging/log_reader.h"
#include "store/call_rows.h"

namespace vorlan::store {

LogBatch CutBatch(QByteArrayView chunk, LogPosition from, bool complete, bool full,
                  const QByteArray& exchange, const QByteArray& logFile) {
  LogBatch batch;
  batch.end = from;
  qint64 othersPending = 0;      // lines that are not records since the last record
  qint64 othersEnded = 0;        // of them, those that end in a line end
  LogPosition afterLine = from;  // after the last line that ended in a line end
  qint64 nextLine = from.line;
  QCryptographicHash hash(QCryptographicHash::Sha256);
  logging::LogReader reader(chunk);
  while (const std::optional<logging::LogLine> line = reader.Next()) {
    const qint64 number = from.line + line->line - 1;
    if (line->isRecord) {
      BatchRow row;
      hash.reset();
      hash.addData(line->bytes);
      std::memcpy(row.digest.data(), hash.resultView().data(), row.digest.size());
      row.offset = batch.copyRows.size();
      batch.copyRows += CopyRow(exchange, line->bytes, line->markedBad, logFile, number);
      row.length = batch.copyRows.size() - row.offset;
      batch.rows.push_back(row);
      ++batch.records;
      batch.others += othersPending;
      othersPending = othersEnded = 0;
      nextLine = number + std::count(line->bytes.begin(), line->bytes.end(), '\n') + 1;
      batch.end = afterLine = {from.offset + reader.Position(), nextLine};
    } else {
      ++othersPending;
      nextLine = number + 1;
      if (reader.Position() <= chunk.size()) {
        ++othersEnded;
        afterLine = {from.offset + reader.Position(), nextLine};
      }
    }
  }
  if (complete) {
    batch.others += othersPending;
    batch.end = {from.offset + chunk.size(), nextLine};
  } else if (full && batch.records == 0) {
    batch.others = othersEnded;
    batch.end = afterLine;
  }
  return batch;
}

}  // namespace vorlan::store
