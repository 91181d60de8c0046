#include "logging/log_stream.h"

#include <QCryptographicHash>
#include <QFileInfo>

#include <algorithm>
#include <cstring>

#include "logging/file_access.h"

namespace vorlan::logging {
namespace {

LineKey Digest(const QCryptographicHash& hash) {
  LineKey key{};
  std::memcpy(key.data(), hash.resultView().data(), key.size());
  return key;
}

QByteArrayView View(const LineKey& key) { return {key.data(), qsizetype(key.size())}; }

}  // namespace

LineKey FirstLineKey(const QString& fileName) {
  QCryptographicHash hash(QCryptographicHash::Sha256);
  hash.addData("vorlan log file ");
  hash.addData(QFileInfo(fileName).fileName().section('.', 0, 0).toUtf8());
  return Digest(hash);
}

LogStream::LogStream(QIODevice& file, qint64 offset, qint64 line, std::optional<LineKey> key)
    : m_file(file),
      m_keyed(key.has_value()),
      m_key(key.value_or(LineKey{})),
      m_bufferStart(offset),
      m_offset(offset),
      m_line(line) {
  if (!m_file.seek(offset)) m_error = m_file.errorString();
}

bool LogStream::Fill() {
  m_buffer.remove(0, m_used);
  m_bufferStart += m_used;
  m_used = 0;
  m_reader.reset();
  const qsizetype before = m_buffer.size();
  // A small file or a few new lines take a small read; the window grows to its full size
  // only for long lines, doubling, so that no byte is searched more than about twice.
  constexpr qint64 kFirstRead = qint64{64} * 1024;
  const qint64 wanted = std::min<qint64>(kWindow - before, std::max<qint64>(kFirstRead, before));
  m_buffer.resize(before + wanted);
  // NOLINTNEXTLINE(cppcoreguidelines-pro-bounds-pointer-arithmetic)
  const qint64 got = m_file.read(m_buffer.data() + before, wanted);
  if (got < 0) {
    m_error = m_file.errorString();
    m_buffer.resize(before);
    return false;
  }
  m_buffer.resize(before + got);
  m_atEnd = got < wanted;
  return true;
}

void LogStream::AddKey(QByteArrayView lineBytes) {
  if (!m_keyed) return;
  QCryptographicHash hash(QCryptographicHash::Sha256);
  hash.addData(View(m_key));
  hash.addData(lineBytes);
  m_key = Digest(hash);
}

std::optional<LogLine> LogStream::Next(bool complete) {
  if (!m_error.isEmpty() || m_stuck) return std::nullopt;
  for (;;) {
    const bool whole = m_atEnd && complete;
    if (!m_reader || m_readerWhole != whole) {
      m_reader.emplace(QByteArrayView(m_buffer).sliced(m_used), whole);
      m_readerBase = m_used;
      m_readerWhole = whole;
    }
    if (std::optional<LogLine> line = m_reader->Next()) {
      const qsizetype end =
          std::min<qsizetype>(m_readerBase + m_reader->Position(), m_buffer.size());
      const QByteArrayView bytes = QByteArrayView(m_buffer).sliced(m_used, end - m_used);
      AddKey(bytes);
      line->line = m_line;
      m_line += std::count(bytes.begin(), bytes.end(), '\n');
      m_used = end;
      m_offset = m_bufferStart + end;
      return line;
    }
    if (m_atEnd) return std::nullopt;
    if (m_reader->Undecided() && m_used == 0 && m_buffer.size() >= kWindow) {
      return StepOverLongLine(complete);
    }
    if (!Fill()) return std::nullopt;
  }
}

// A line with no LF in a whole window is no record (no record is that long): it runs to its LF,
// and only its first bytes are kept.
std::optional<LogLine> LogStream::StepOverLongLine(bool complete) {
  QCryptographicHash hash(QCryptographicHash::Sha256);
  if (m_keyed) hash.addData(View(m_key));
  m_kept = m_buffer.first(kKeptOfLongLine);
  qint64 length = 0;
  for (;;) {
    const qsizetype lf = m_buffer.indexOf('\n');
    const qsizetype taken = lf < 0 ? m_buffer.size() : lf + 1;
    if (m_keyed) hash.addData(QByteArrayView(m_buffer).first(taken));
    length += taken;
    if (lf >= 0 || (m_atEnd && complete)) {
      m_used = taken;
      break;
    }
    if (m_atEnd) {
      m_stuck = true;  // its end is still to come; read again from its start
      return std::nullopt;
    }
    m_used = taken;
    if (!Fill()) return std::nullopt;
  }
  if (m_keyed) m_key = Digest(hash);
  m_offset += length;
  const LogLine line{m_line, false, false, m_kept};
  if (m_buffer.size() >= m_used && m_used > 0 && m_buffer[m_used - 1] == '\n') ++m_line;
  m_reader.reset();
  return line;
}

bool LogFileReader::Open(const QString& path, QString& error) {
  m_stream.reset();
  if (m_file.isOpen()) m_file.close();
  const OpenedFile opened = OpenRegularFile(path, Access::Read, &error);
  if (opened.fd < 0) return false;
  if (!m_file.open(opened.fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    CloseFile(opened.fd);
    error = m_file.errorString();
    return false;
  }
  m_size = m_file.size();
  m_stream.emplace(m_file, 0, 1);
  if (!m_stream->Error().isEmpty()) {
    error = m_stream->Error();
    return false;
  }
  return true;
}

std::optional<LogLine> LogFileReader::Next() {
  if (!m_stream || m_stream->Offset() >= m_size) return std::nullopt;
  return m_stream->Next(true);
}

}  // namespace vorlan::logging
