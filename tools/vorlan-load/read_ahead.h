#pragma once

#include <QString>
#include <QStringList>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "store/log_batch.h"

// Reads and cuts the batches of the log files, file after file, on a thread of its own and one
// batch ahead of the one being stored: the reading and the database's work overlap.
class ReadAhead {
 public:
  struct Piece {
    qsizetype file = 0;  // its index among the files
    vorlan::store::LogBatch batch;
    bool last = false;             // the file's last piece
    std::optional<QString> error;  // the file could not be read: the last, with no batch
  };

  ReadAhead(const QStringList& files, const QByteArray& exchange);
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;
  ~ReadAhead();

  // The next piece, in the files' order; nothing after the last.
  std::optional<Piece> Next();

 private:
  void Run(const QStringList& files, const QByteArray& exchange);
  bool Hand(Piece piece);  // false once the reader is to stop

  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::optional<Piece> m_ready;
  bool m_done = false;
  bool m_stopping = false;
  std::thread m_thread;
};
