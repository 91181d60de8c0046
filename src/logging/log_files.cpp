#include "logging/log_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "logging/file_access.h"

namespace vorlan::logging {

QString LogFileName(const QDateTime& local) {
  const QDate date = local.date();
  const QTime time = local.time();
  return QString::asprintf("%02d%02d%02d%02d.log", date.month(), date.day(), time.hour(),
                           time.minute());
}

QString LogsFolder(const QString& programFolder) { return programFolder + QStringLiteral("/logs"); }

QString DefaultLogsFolder(const QString& programFolder) {
  QString beside = LogsFolder(programFolder);
  const QFileInfo folder(QFileInfo::exists(beside) ? beside : programFolder);
  bool installed = !folder.isWritable();
#if defined(Q_OS_UNIX)
  installed = installed || QDir::cleanPath(programFolder).startsWith(QStringLiteral("/usr/"));
#endif
  if (!installed) return beside;
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/VORLAN/logs");
}

bool MakeLogsFolder(const QString& logsFolder) {
  if (QFileInfo(logsFolder).isDir()) return true;
  const QString parent = QFileInfo(logsFolder).absolutePath();
  return QDir().mkpath(parent) && (MakePrivateFolder(logsFolder) || QFileInfo(logsFolder).isDir());
}

QString LogFilePath(const QString& logsFolder, const QDateTime& local) {
  return logsFolder + QLatin1Char('/') + LogFileName(local);
}

bool IsSwitchSecond(const QTime& time) { return time.minute() == 0 && time.second() == 0; }

bool IsEarlierYearsFile(const QFileInfo& file) {
  return file.lastModified() < QDateTime::currentDateTime().addDays(-1);
}

bool IsSwitchDue(const QString& logsFolder, const QDateTime& local) {
  // The clock first: it spares a file-system look-up on all but four ticks an hour.
  if (!IsSwitchSecond(local.time())) return false;
  const QFileInfo file(LogFilePath(logsFolder, local));
  return !file.exists() || IsEarlierYearsFile(file);
}

bool MoveAsideEarlierYearsFile(const QString& path, QString* failure) {
  const QFileInfo file(path);
  // Links and other things than files are the open's to refuse.
  if (file.isSymLink() || !file.isFile() || !IsEarlierYearsFile(file)) return true;
  const QString year = QString::number(file.lastModified().date().year());
  constexpr int kTries = 100;
  for (int n = 1; n <= kTries; ++n) {
    const QString aside = path + QLatin1Char('.') + year +
                          (n == 1 ? QString() : QLatin1Char('.') + QString::number(n));
    if (QFileInfo(aside).exists() || QFileInfo(aside).isSymLink()) continue;
    // Never onto an existing name: rename refuses to replace one.
    if (QFile::rename(path, aside)) return true;
    break;
  }
  if (failure) {
    *failure = QStringLiteral(
                   "Cannot open the log file %1: it holds the records of %2 and cannot "
                   "be moved aside.")
                   .arg(QDir::toNativeSeparators(path), year);
  }
  return false;
}

}  // namespace vorlan::logging
