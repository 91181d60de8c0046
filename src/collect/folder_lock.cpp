#include "collect/folder_lock.h"

#include <QCoreApplication>
#include <QDir>
#include <QSysInfo>

#include <algorithm>

#include "logging/file_access.h"

namespace vorlan::collect {

FolderLock::~FolderLock() {
  if (m_fd >= 0) logging::CloseFile(m_fd);
}

std::optional<QString> FolderLock::Take(const QString& folder) {
  const QString path = QDir(folder).filePath(QString::fromLatin1(kFolderLockName));
  QString reason;
  const logging::OpenedFile opened =
      logging::OpenRegularFile(path, logging::Access::Append, &reason);
  if (opened.fd < 0) {
    return QStringLiteral("cannot lock the log folder %1 (%2)")
        .arg(QDir::toNativeSeparators(folder), reason);
  }
  if (!logging::TryLockExclusive(opened.fd)) {
    QByteArray holder(256, '\0');
    const qint64 size = logging::FileSize(opened.fd);
    holder.truncate(qsizetype(std::clamp<qint64>(size, 0, holder.size())));
    if (!logging::ReadAt(opened.fd, 0, holder)) holder.clear();
    logging::CloseFile(opened.fd);
    return QStringLiteral("the log folder %1 is held by another collector (%2)")
        .arg(QDir::toNativeSeparators(folder), holder.trimmed().isEmpty()
                                                   ? QStringLiteral("holder unknown")
                                                   : QString::fromUtf8(holder.trimmed()));
  }
  // Who holds it, for the next one to name.
  const QByteArray holder = QStringLiteral("process %1 on %2")
                                .arg(QCoreApplication::applicationPid())
                                .arg(QSysInfo::machineHostName())
                                .toUtf8();
  logging::Truncate(opened.fd, 0);
  logging::AppendOnce(opened.fd, holder.constData(), holder.size());
  m_fd = opened.fd;
  return std::nullopt;
}

}  // namespace vorlan::collect
