#include "read_ahead.h"

#include <QFileInfo>

#include "store/log_source.h"

using namespace vorlan::store;

ReadAhead::ReadAhead(const QStringList& files, const QByteArray& exchange)
    : m_thread([this, files, exchange] { Run(files, exchange); }) {}

ReadAhead::~ReadAhead() {
  {
    const std::lock_guard lock(m_mutex);
    m_stopping = true;
  }
  m_changed.notify_all();
  m_thread.join();
}

std::optional<ReadAhead::Piece> ReadAhead::Next() {
  std::unique_lock lock(m_mutex);
  m_changed.wait(lock, [this] { return m_ready || m_done; });
  std::optional<Piece> piece = std::move(m_ready);
  m_ready.reset();
  m_changed.notify_all();
  return piece;
}

bool ReadAhead::Hand(Piece piece) {
  std::unique_lock lock(m_mutex);
  m_changed.wait(lock, [this] { return !m_ready || m_stopping; });
  if (m_stopping) return false;
  m_ready = std::move(piece);
  m_changed.notify_all();
  return true;
}

void ReadAhead::Run(const QStringList& files, const QByteArray& exchange) {
  for (qsizetype file = 0; file < files.size(); ++file) {
    const QByteArray name = QFileInfo(files[file]).fileName().toUtf8();
    LogPosition position;
    for (bool last = false; !last;) {
      Piece piece;
      piece.file = file;
      QString error;
      const std::optional<Chunk> chunk = ReadChunk(files[file], position.offset, error);
      if (chunk) {
        piece.batch = CutBatch(chunk->bytes, position, chunk->toEnd, !chunk->toEnd, exchange, name);
        piece.stuck = !chunk->toEnd && piece.batch.end.offset == position.offset;
        position = piece.batch.end;
      } else {
        piece.error = error;
      }
      last = piece.last = !chunk || chunk->toEnd || piece.stuck;
      if (!Hand(std::move(piece))) return;
    }
  }
  const std::lock_guard lock(m_mutex);
  m_done = true;
  m_changed.notify_all();
}
