#include "logging/record_log.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "logging/file_access.h"
#include "logging/log_files.h"
#include "logging/log_reader.h"

namespace vorlan::logging {
namespace {

constexpr QByteArrayView kBadMarker = "<BAD>:";
constexpr QByteArrayView kLineEnd = "\r\n";
// How much of a file's end is read to see whether its last line is whole: far more than a
// record's line, and nothing in a file of hundreds of megabytes.
constexpr qint64 kEndLook = qint64{64} * 1024;

void Report(QString* failure, const QString& text) {
  if (failure) *failure = text;
}

QString Native(const QString& path) { return QDir::toNativeSeparators(path); }

}  // namespace

RecordLog::RecordLog() : RecordLog(DiskSync{SyncData, SyncFolder}) {}

RecordLog::RecordLog(DiskSync sync) : m_sync(std::move(sync)) {}

RecordLog::~RecordLog() { DropFile(); }

bool RecordLog::Open(const QString& path, QString* failure) {
  Close();
  m_path = path;
  if (OpenPath(failure)) return true;
  m_path.clear();
  return false;
}

bool RecordLog::OpenPath(QString* failure) {
  QString reason;
  const OpenedFile opened = OpenRegularFile(m_path, Access::Append, &reason);
  if (opened.fd < 0) {
    Report(failure, QStringLiteral("Cannot open the log file %1: %2.").arg(Native(m_path), reason));
    return false;
  }
  // A new file's name lives in its folder: unsynced, a power cut takes the file with every
  // record synced into it.
  if (opened.created && !m_sync.folder(QFileInfo(m_path).path())) {
    const int error = errno;
    CloseFile(opened.fd);
    Report(failure, QStringLiteral("Cannot open the log file %1: its folder entry cannot be put on "
                                   "disk: %2.")
                        .arg(Native(m_path), SystemError(error)));
    return false;
  }
  // Only advice to a clean-up: should it delete the file all the same, the next write makes
  // it again.
  LockShared(opened.fd);
  m_fd = opened.fd;
  m_id = IdOfOpenFile(m_fd);
  m_endChecked = false;
  return true;
}

QString RecordLog::Path() const { return m_path; }

qint64 RecordLog::Size() const { return m_fd < 0 ? -1 : FileSize(m_fd); }

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
  m_unsynced.clear();
  m_lengthBefore = -1;
  // "On disk" means in the file the path names now: a file deleted or replaced under the open
  // descriptor would take the lines with it.
  if (!StillNamed() && !Reopen(failure)) return WriteResult::Failed;
  return Append(lines, failure);
}

bool RecordLog::StillNamed() const {
  if (m_fd < 0) return false;
  if (!m_id) return true;  // no identities on this system: an open file cannot be replaced
  const std::optional<FileId> named = IdAtPath(m_path);
  return named && *named == *m_id;
}

bool RecordLog::Reopen(QString* failure) {
  DropFile();
  const QString folder = QFileInfo(m_path).path();
  QString notice = QStringLiteral(
                       "The log file %1 was deleted or replaced while open; it has been opened "
                       "again.")
                       .arg(Native(m_path));
  if (!QFileInfo::exists(folder)) {
    // One level only, as at Connect: a missing program folder is not ours to make.
    if (!MakePrivateFolder(folder)) {
      Report(failure, QStringLiteral("Cannot write to the log file %1: its folder %2 is gone and "
                                     "cannot be made again: %3.")
                          .arg(Native(m_path), Native(folder), SystemError(errno)));
      return false;
    }
    notice = QStringLiteral(
                 "The log folder %1 was deleted; it has been made again, with the log "
                 "file %2 in it.")
                 .arg(Native(folder), Native(m_path));
  }
  if (!OpenPath(failure)) return false;
  if (!m_notice.isEmpty()) m_notice += QLatin1Char('\n');
  m_notice += notice;
  qWarning("%s", qPrintable(notice));
  return true;
}

RecordLog::WriteResult RecordLog::Append(QByteArrayView lines, QString* failure) {
  const qint64 before = FileSize(m_fd);
  QByteArray data;
  if (!m_endChecked && before > 0) {
    // A file that ends in a line cut short (a crash mid-write) gets it ended first, or the
    // record would be read as part of it.
    const qint64 look = std::min(before, kEndLook);
    QByteArray end(look, Qt::Uninitialized);
    if (ReadAt(m_fd, before - look, end)) {
      data = LineEndBeforeAppending(end, look == before).toByteArray();
    } else {
      data = LineEndBeforeAppending({}, false).toByteArray();  // unknown: end whatever is open
    }
  }
  // One write: a failure can leave at most this one part behind, and that is cut off again.
  data.append(lines);
  errno = 0;
  const qint64 written = before < 0 ? -1 : AppendOnce(m_fd, data.constData(), data.size());
  if (written != data.size()) {
    const int error = errno;
    m_lengthBefore = before;
    m_lengthAfter = before + std::max<qint64>(written, 0);
    // Whatever part got in is taken out again, so that the records the exchange sends again
    // start lines of their own.
    CutBack();
    const QString reason =
        error != 0
            ? SystemError(error)
            : QStringLiteral("only %1 of %2 bytes were written").arg(written).arg(data.size());
    Report(failure,
           QStringLiteral("Cannot write to the log file %1: %2.").arg(Native(m_path), reason));
    return WriteResult::Failed;
  }
  m_endChecked = true;
  m_linesAt = before + data.size() - lines.size();
  m_lengthBefore = before;
  m_lengthAfter = before + written;
  m_unsynced = lines.toByteArray();
  return WriteResult::Written;
}

void RecordLog::CutBack() {
  // Only while the lines are still the file's last bytes: another program appending to the
  // same file must not lose its own.
  if (m_fd >= 0 && m_lengthBefore >= 0 && FileSize(m_fd) == m_lengthAfter &&
      m_lengthAfter != m_lengthBefore) {
    Truncate(m_fd, m_lengthBefore);
    m_endChecked = false;
  }
  m_lengthBefore = -1;
}

bool RecordLog::Sync(QString* failure) {
  if (!IsOpen() || m_fd < 0) return true;
  for (int round = 0;; ++round) {
    if (!m_sync.file(m_fd)) {
      const int error = errno;
      // Not acknowledged, the lines come again: left here they would be logged twice.
      CutBack();
      m_unsynced.clear();
      Report(failure, QStringLiteral("Cannot write to the log file %1: %2.")
                          .arg(Native(m_path), SystemError(error)));
      return false;
    }
    if (m_unsynced.isEmpty() || StillNamed()) break;
    // Deleted, moved or replaced between the write and now: the lines go to the file the path
    // names, and a moved file does not keep them as well.
    CutBack();
    const QByteArray lines = std::exchange(m_unsynced, {});
    if (round > 0) {
      Report(failure, QStringLiteral("Cannot write to the log file %1: it was replaced while "
                                     "being written.")
                          .arg(Native(m_path)));
      return false;
    }
    if (!Reopen(failure) || Append(lines, failure) != WriteResult::Written) return false;
  }
  m_unsynced.clear();
  m_lengthBefore = -1;
  return true;
}

void RecordLog::DropFile() {
  CloseFile(m_fd);
  m_fd = -1;
}

void RecordLog::Close() {
  DropFile();
  m_path.clear();
  m_unsynced.clear();
  m_lengthBefore = -1;
  m_linesAt = -1;
}

QString RecordLog::TakeNotice() { return std::exchange(m_notice, {}); }

bool OpenRecordLog(const QString& logsFolder, const QDateTime& now, RecordLog& log,
                   QString* failure, MissingFolder missingFolder) {
  const QString path = LogFilePath(logsFolder, now);
  if (!MoveAsideEarlierYearsFile(path, failure)) {
    log.Close();
    return false;
  }
  if (log.Open(path, failure)) return true;

  const QString& folder = logsFolder;
  if (QFileInfo::exists(folder)) return false;  // the open's own description stands
  // One level only, as at any write: a missing program folder is not ours to recreate.
  if (missingFolder == MissingFolder::Remake && MakePrivateFolder(folder)) {
    if (log.Open(path, failure)) {
      qWarning("The log folder %s was deleted; it has been made again.",
               qPrintable(Native(folder)));
      return true;
    }
    return false;
  }

  QString text =
      QStringLiteral("Path not found: the log folder %1 does not exist.").arg(Native(folder));
  if (missingFolder == MissingFolder::Create) {
    if (MakePrivateFolder(folder))
      text += QStringLiteral(" It has now been created; press Connect again.");
    else
      text += QStringLiteral(" It could not be created either.");
  }
  Report(failure, text);
  return false;
}

}  // namespace vorlan::logging
