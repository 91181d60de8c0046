#include "logging/record_log.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include "logging/log_files.h"

#if defined(Q_OS_WIN)
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace vorlan::logging {
namespace {

constexpr QByteArrayView kBadMarker = "<BAD>:";
constexpr QByteArrayView kLineEnd = "\r\n";

void Report(QString* failure, const QString& text) {
  if (failure) *failure = text;
}

QString Native(const QString& path) { return QDir::toNativeSeparators(path); }

}  // namespace

bool RecordLog::Open(const QString& path, QString* failure) {
  Close();
  m_file.setFileName(path);
  // Unbuffered: every write goes straight to the operating system, so nothing a record needs
  // is left in this process when the exchange is told it may forget it.
  if (m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) return true;
  Report(
      failure,
      QStringLiteral("Cannot open the log file %1: %2.").arg(Native(path), m_file.errorString()));
  return false;
}

QString RecordLog::Path() const { return IsOpen() ? m_file.fileName() : QString(); }

QByteArray RecordLine(QByteArrayView record, bool bad) {
  QByteArray line;
  line.reserve(kBadMarker.size() + record.size() + kLineEnd.size());
  if (bad) line.append(kBadMarker);
  line.append(record).append(kLineEnd);
  return line;
}

RecordLog::WriteResult RecordLog::WriteRecord(QByteArrayView record, bool bad, QString* failure) {
  return WriteLines(RecordLine(record, bad), failure);
}

RecordLog::WriteResult RecordLog::WriteLines(QByteArrayView lines, QString* failure) {
  if (!IsOpen()) return WriteResult::NotOpen;
  // One write: a failure can leave at most this one part behind, and that is cut off again.
  m_file.unsetError();
  const qint64 before = m_file.size();
  const qint64 written = m_file.write(lines.data(), lines.size());
  if (written != lines.size()) {
    // Whatever part got in is taken out again, so that the records the exchange sends again
    // start lines of their own.
    if (written > 0 || m_file.size() != before) m_file.resize(before);
    const QString reason =
        m_file.error() != QFileDevice::NoError
            ? m_file.errorString()
            : QStringLiteral("only %1 of %2 bytes were written").arg(written).arg(lines.size());
    Report(failure,
           QStringLiteral("Cannot write to the log file %1: %2.").arg(Native(Path()), reason));
    return WriteResult::Failed;
  }
  return WriteResult::Written;
}

bool RecordLog::Sync(QString* failure) {
  if (!IsOpen()) return true;
  const int fd = m_file.handle();
#if defined(Q_OS_WIN)
  const bool ok = FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) != 0;
#elif defined(Q_OS_MACOS)
  const bool ok = fcntl(fd, F_FULLFSYNC) == 0 || fsync(fd) == 0;
#else
  const bool ok = fdatasync(fd) == 0;
#endif
  if (!ok) {
    Report(failure, QStringLiteral("Cannot write to the log file %1: %2.")
                        .arg(Native(Path()), QString::fromLocal8Bit(strerror(errno))));
  }
  return ok;
}

void RecordLog::Close() {
  if (m_file.isOpen()) m_file.close();
}

bool OpenRecordLog(const QString& logsFolder, const QDateTime& now, RecordLog& log,
                   QString* failure, MissingFolder missingFolder) {
  const QString path = LogFilePath(logsFolder, now);
  if (log.Open(path, failure)) return true;

  const QString& folder = logsFolder;
  if (QFileInfo::exists(folder)) return false;  // the open's own description stands

  QString text =
      QStringLiteral("Path not found: the log folder %1 does not exist.").arg(Native(folder));
  if (missingFolder == MissingFolder::Create) {
    // One level only: a missing program folder is not ours to recreate.
    if (QDir().mkdir(folder))
      text += QStringLiteral(" It has now been created; press Connect again.");
    else
      text += QStringLiteral(" It could not be created either.");
  }
  Report(failure, text);
  return false;
}

}  // namespace vorlan::logging
