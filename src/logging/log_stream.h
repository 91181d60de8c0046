#pragma once

#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QString>

#include <array>
#include <optional>

#include "logging/log_reader.h"

// Reads a log file line by line through a bounded window, so that any file, of any size and
// with lines of any length, is read in constant memory and linear time; a line that is no
// record and longer than the window is stepped over and counted as one line.
namespace vorlan::logging {

// What identifies a line of a log file wherever it is read from: a digest of the file's name
// (up to its first dot, so that a file moved aside keeps it) and of every byte of the file up
// to the line's end. A line read again, by any reader, has the same key; two lines never share
// one, since the later one's covers the earlier one.
using LineKey = std::array<unsigned char, 32>;
LineKey FirstLineKey(const QString& fileName);

// Bytes of a file read at a time, and so the most held: more than the longest record line.
inline constexpr qint64 kWindow = qint64(4) * 1024 * 1024;
// Of a line stepped over, this much is kept to be shown.
inline constexpr qsizetype kKeptOfLongLine = 1024;

class LogStream {
 public:
  // Reads `file` (open for reading) from `offset`, the start of line `line`, whose key (that
  // of the line before) is `key` when keys are wanted.
  LogStream(QIODevice& file, qint64 offset, qint64 line, std::optional<LineKey> key = {});

  // The next line; its bytes stay valid until the next call. Nothing at the end of the file,
  // or before a last line that the bytes still to come would decide, unless `complete` (nothing
  // is appended any more: the last line is taken as it stands), or on a read error (Error()).
  std::optional<LogLine> Next(bool complete);

  qint64 Offset() const { return m_offset; }  // after the last line given
  qint64 Line() const { return m_line; }      // the line that starts there
  LineKey Key() const { return m_key; }       // of the last line given
  bool AtEnd() const { return m_atEnd; }      // every byte of the file was read
  QString Error() const { return m_error; }

 private:
  bool Fill();
  std::optional<LogLine> StepOverLongLine(bool complete);
  void AddKey(QByteArrayView lineBytes);

  QIODevice& m_file;
  bool m_keyed;
  LineKey m_key{};
  QByteArray m_buffer;                // the file's bytes from m_bufferStart
  qint64 m_bufferStart = 0;           // file offset of m_buffer[0]
  qsizetype m_used = 0;               // of m_buffer, given as lines
  std::optional<LogReader> m_reader;  // over m_buffer from m_readerBase
  qsizetype m_readerBase = 0;
  bool m_readerWhole = false;
  bool m_stuck = false;  // inside a long line whose end is not written yet
  qint64 m_offset = 0;
  qint64 m_line = 1;
  bool m_atEnd = false;
  QByteArray m_kept;
  QString m_error;
};

// A file read as a log file from its start: only a regular file (a link is not followed, a FIFO
// or a device is refused before it is read), and only up to the length it had when it was
// opened, so that a file that keeps growing cannot hold its reader for ever.
class LogFileReader {
 public:
  // False, with `error` saying why, when the file cannot be read.
  bool Open(const QString& path, QString& error);
  // The next line; its bytes stay valid until the next call. Nothing at the end, or on a read
  // error (Error()).
  std::optional<LogLine> Next();
  qint64 Position() const { return m_stream ? m_stream->Offset() : 0; }
  qint64 Size() const { return m_size; }
  QString Error() const { return m_stream ? m_stream->Error() : QString(); }

 private:
  QFile m_file;
  std::optional<LogStream> m_stream;
  qint64 m_size = 0;
};

}  // namespace vorlan::logging
