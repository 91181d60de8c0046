#include "logging/log_cleanup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "logging/file_access.h"
#include "logging/record_log.h"

namespace vorlan::logging {
namespace {

enum class Outcome { Kept, Deleted, Skipped, InUse, Stop };

bool IsCurrent(const QFileInfo& file, const RecordLog& current) {
  if (!current.IsOpen()) return false;
  const QString currentPath = QFileInfo(current.Path()).canonicalFilePath();
  return !currentPath.isEmpty() && currentPath == file.canonicalFilePath();
}

// A writer holds a shared lock on its log file; the exclusive one taken here, kept while the
// file is deleted, tells that no other program has it open as its log.
Outcome DeleteUnlessLocked(const QString& path) {
  const OpenedFile opened = OpenRegularFile(path, Access::Read, nullptr);
  if (opened.fd < 0) return Outcome::Kept;  // a link, a FIFO...: not ours to delete
  Outcome outcome = Outcome::InUse;
  if (TryLockExclusive(opened.fd)) {
    // Only the file that was looked at, and only while it is still empty.
    const bool same = IdAtPath(path) == IdOfOpenFile(opened.fd) && FileSize(opened.fd) == 0;
    outcome = !same ? Outcome::Kept : QFile::remove(path) ? Outcome::Deleted : Outcome::Stop;
  }
  CloseFile(opened.fd);
  return outcome;
}

Outcome CleanUpOne(const QString& path, const RecordLog& current) {
  const QFileInfo file(path);
  // Asked afresh for every file: a handler served between files may have switched the log.
  if (IsCurrent(file, current)) return Outcome::Skipped;
  if (!file.exists()) return Outcome::Stop;
  if (file.size() != 0) return Outcome::Kept;
  // Checked by hand: on Linux deleting depends on the folder's permissions, not the file's, so
  // removal would succeed. A read-only log file must end the run, as it does where it is refused.
  if (!file.permissions().testFlag(QFileDevice::WriteOwner)) return Outcome::Stop;
  return DeleteUnlessLocked(path);
}

}  // namespace

EmptyLogCleanUp::EmptyLogCleanUp(const QString& logsFolder)
    : m_folder(logsFolder),
      // Name order, so that which files a stop leaves alone does not depend on the file system.
      m_names(QDir(logsFolder).entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name)) {}

bool EmptyLogCleanUp::Step(const RecordLog& current, qsizetype files) {
  const QDir folder(m_folder);
  for (qsizetype i = 0; i < files && m_next < m_names.size() && !m_result.stopped; ++i) {
    const QString& name = m_names[m_next++];
    switch (CleanUpOne(folder.filePath(name), current)) {
      case Outcome::Kept: break;
      case Outcome::Deleted: ++m_result.deleted; break;
      case Outcome::Skipped: m_result.skippedCurrent = true; break;
      case Outcome::InUse: ++m_result.skippedInUse; break;
      case Outcome::Stop:
        m_result.stopped = true;
        m_result.stoppedAt = name;
        break;
    }
  }
  return m_next < m_names.size() && !m_result.stopped;
}

CleanUpResult CleanUpEmptyLogs(const QString& logsFolder, const RecordLog& current,
                               const std::function<void()>& between) {
  EmptyLogCleanUp run(logsFolder);
  for (bool first = true; run.Step(current, 1); first = false) {
    if (!first && between) between();
  }
  return run.Result();
}

}  // namespace vorlan::logging
