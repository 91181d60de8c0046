#include "read_ahead.h"

#include <QFileInfo>

#include <QFile>

#include <algorithm>

#include "logging/file_access.h"
#include "logging/log_stream.h"

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
  // The database waits for the first piece alone: the pieces start small and double to a
  // whole batch, each read while the database stores the one before, which takes longer.
  qint64 pieceBytes = kBatchBytes / 16;
  for (qsizetype file = 0; file < files.size(); ++file) {
    const QFileInfo info(files[file]);
    const QByteArray name = info.fileName().toUtf8();
    // The folder names the journal, as the collector's forwarder names its own.
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    const QByteArray journal = (folder.isEmpty() ? info.absolutePath() : folder).toUtf8();
    QString error;
    const vorlan::logging::OpenedFile opened =
        vorlan::logging::OpenRegularFile(files[file], vorlan::logging::Access::Read, &error);
    QFile device;
    if (opened.fd < 0 ||
        !device.open(opened.fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
      if (opened.fd >= 0) {
        vorlan::logging::CloseFile(opened.fd);
        error = device.errorString();
      }
      Piece piece;
      piece.file = file;
      piece.error = error;
      piece.last = true;
      if (!Hand(std::move(piece))) return;
      continue;
    }
    LogPosition position = FileStart(info.fileName());
    vorlan::logging::LogStream stream(device, position.offset, position.line, position.key);
    for (bool last = false; !last;) {
      Piece piece;
      piece.file = file;
      piece.batch = ReadBatch(stream, position, true, exchange, name, journal, pieceBytes);
      pieceBytes = std::min(pieceBytes * 2, kBatchBytes);
      position = piece.batch.end;
      if (!stream.Error().isEmpty()) piece.error = stream.Error();
      last = piece.last = piece.batch.exhausted || piece.error.has_value();
      if (!Hand(std::move(piece))) return;
    }
  }
  const std::lock_guard lock(m_mutex);
  m_done = true;
  m_changed.notify_all();
}
