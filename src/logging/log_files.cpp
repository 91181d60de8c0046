#include "logging/log_files.h"

#include <QDir>
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

bool IsSwitchDue(const QString& logsFolder, const QDateTime& local) {
  // The clock first: it spares a file-system look-up on all but four ticks an hour.
  return IsSwitchSecond(local.time()) && !QFileInfo::exists(LogFilePath(logsFolder, local));
}

}  // namespace vorlan::logging
