#include "logging/log_cleanup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "logging/record_log.h"

namespace vorlan::logging {
namespace {

enum class Outcome { Kept, Deleted, Skipped, Stop };

bool IsCurrent(const QFileInfo& file, const RecordLog& current) {
  if (!current.IsOpen()) return false;
  const QString currentPath = QFileInfo(current.Path()).canonicalFilePath();
  return !currentPath.isEmpty() && currentPath == file.canonicalFilePath();
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
  return QFile::remove(path) ? Outcome::Deleted : Outcome::Stop;
}

}  // namespace

CleanUpResult CleanUpEmptyLogs(const QString& logsFolder, const RecordLog& current,
                               const std::function<void()>& doEvents) {
  CleanUpResult result;
  const QDir folder(logsFolder);
  // Name order, so that which files a stop leaves alone does not depend on the file system.
  const QStringList names = folder.entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name);

  for (qsizetype i = 0; i < names.size(); ++i) {
    switch (CleanUpOne(folder.filePath(names[i]), current)) {
      case Outcome::Kept: break;
      case Outcome::Deleted: ++result.deleted; break;
      case Outcome::Skipped: result.skippedCurrent = true; break;
      case Outcome::Stop:
        result.stopped = true;
        result.stoppedAt = names[i];
        return result;
    }
    if (i > 0 && doEvents) doEvents();
  }
  return result;
}

}  // namespace vorlan::logging
