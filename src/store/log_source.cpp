#include "store/log_source.h"

#include <QFile>
#include <QFileInfo>

namespace vorlan::store {

std::optional<Chunk> ReadChunk(const QString& path, qint64 offset, QString& error) {
  const QFileInfo info(path);
  if (info.isSymLink() || !info.isFile()) {
    error = QStringLiteral("not a regular file");
    return std::nullopt;
  }
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || !file.seek(offset)) {
    error = file.errorString();
    return std::nullopt;
  }
  Chunk chunk;
  chunk.bytes = file.read(kChunkLimit);
  if (file.error() != QFileDevice::NoError) {
    error = file.errorString();
    return std::nullopt;
  }
  chunk.toEnd = chunk.bytes.size() < kChunkLimit || file.atEnd();
  return chunk;
}

}  // namespace vorlan::store
