#include "store/log_batch.h"

#include <QCryptographicHash>

#include <cstring>

#include "store/call_rows.h"

namespace vorlan::store {

LogPosition FileStart(const QString& fileName) { return {0, 1, logging::FirstLineKey(fileName)}; }

LogBatch ReadBatch(logging::LogStream& stream, LogPosition from, bool complete,
                   const QByteArray& exchange, const QByteArray& logFile,
                   const QByteArray& journal, qint64 bytes) {
  LogBatch batch;
  batch.end = from;
  batch.journal = journal;
  QCryptographicHash hash(QCryptographicHash::Sha256);
  while (stream.Offset() - from.offset < bytes) {
    const std::optional<logging::LogLine> line = stream.Next(complete);
    if (!line) {
      batch.exhausted = true;
      break;
    }
    if (line->isRecord) {
      BatchRow row;
      hash.reset();
      hash.addData(line->bytes);
      std::memcpy(row.digest.data(), hash.resultView().data(), row.digest.size());
      row.key = stream.Key();
      row.offset = batch.copyRows.size();
      const QByteArrayView key(row.key.data(), qsizetype(row.key.size()));
      batch.copyRows += CopyRow(exchange, line->bytes, line->markedBad, logFile, line->line, key,
                                journal, &row.facts);
      row.flagged = line->markedBad;
      row.length = batch.copyRows.size() - row.offset;
      batch.rows.push_back(row);
      ++batch.records;
    } else {
      ++batch.others;
    }
    batch.end = {stream.Offset(), stream.Line(), stream.Key()};
  }
  return batch;
}

}  // namespace vorlan::store
