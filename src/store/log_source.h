#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Reads a log file in bounded chunks, so that no file is ever read whole into memory.
namespace vorlan::store {

// Bigger than the longest line the collector writes (a 1 MiB record, its marker and CR LF).
inline constexpr qint64 kChunkLimit = qint64(4) * 1024 * 1024;

struct Chunk {
  QByteArray bytes;
  bool toEnd = false;  // the chunk reaches the file's end
};

// The file's bytes from `offset` on, at most kChunkLimit of them. Symbolic links and anything
// but a regular file are refused. Nothing on failure, with the reason in `error`.
std::optional<Chunk> ReadChunk(const QString& path, qint64 offset, QString& error);

}  // namespace vorlan::store
