#include "logging/file_access.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#if defined(Q_OS_WIN)
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vorlan::logging {
namespace {

void Report(QString* reason, const QString& text) {
  if (reason) *reason = text;
}

}  // namespace

QString SystemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

#if !defined(Q_OS_WIN)

namespace {

QString KindText(mode_t mode) {
  if (S_ISLNK(mode)) return QStringLiteral("it is a symbolic link");
  if (S_ISDIR(mode)) return QStringLiteral("it is a folder");
  if (S_ISFIFO(mode)) return QStringLiteral("it is a named pipe");
  if (S_ISCHR(mode) || S_ISBLK(mode)) return QStringLiteral("it is a device");
  if (S_ISSOCK(mode)) return QStringLiteral("it is a socket");
  return QStringLiteral("it is not a regular file");
}

int OpenRetrying(const QByteArray& path, int flags, mode_t mode = 0) {
  int fd = -1;
  do {
    fd = ::open(path.constData(), flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

OpenedFile OpenRegularFile(const QString& path, Access access, QString* reason) {
  const QByteArray native = QFile::encodeName(path);
  // Looked at first: merely opening a device or a FIFO can block or have effects of its own.
  struct stat info {};
  if (::lstat(native.constData(), &info) == 0 && !S_ISREG(info.st_mode)) {
    Report(reason, KindText(info.st_mode));
    return {};
  }
  // O_NONBLOCK: what slips in between the look and the open must not hold it.
  const int mode = access == Access::Append   ? O_RDWR | O_APPEND
                   : access == Access::Update ? O_RDWR
                                              : O_RDONLY;
  const int flags = mode | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  OpenedFile opened;
  opened.fd = OpenRetrying(native, flags);
  if (opened.fd < 0 && errno == ENOENT && access != Access::Read) {
    opened.fd = OpenRetrying(native, flags | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR);
    opened.created = opened.fd >= 0;
    // Another writer made it in between.
    if (opened.fd < 0 && errno == EEXIST) opened.fd = OpenRetrying(native, flags);
  }
  if (opened.fd < 0) {
    Report(reason, errno == ELOOP ? KindText(S_IFLNK) : SystemError(errno));
    return {};
  }
  if (::fstat(opened.fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    Report(reason, KindText(info.st_mode));
    ::close(opened.fd);
    return {};
  }
  ::fcntl(opened.fd, F_SETFL, ::fcntl(opened.fd, F_GETFL) & ~O_NONBLOCK);
  return opened;
}

void CloseFile(int fd) {
  if (fd >= 0) ::close(fd);
}

std::optional<FileId> IdOfOpenFile(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return std::nullopt;
  return FileId{quint64(info.st_dev), quint64(info.st_ino)};
}

std::optional<FileId> IdAtPath(const QString& path) {
  struct stat info {};
  if (::lstat(QFile::encodeName(path).constData(), &info) != 0) return std::nullopt;
  return FileId{quint64(info.st_dev), quint64(info.st_ino)};
}

qint64 FileSize(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 ? qint64(info.st_size) : -1;
}

bool ReadAt(int fd, qint64 offset, QByteArray& bytes) {
  qsizetype done = 0;
  while (done < bytes.size()) {
    const ssize_t got =
        ::pread(fd, &bytes[done], size_t(bytes.size() - done), off_t(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += got;
  }
  return true;
}

qint64 AppendOnce(int fd, const char* data, qint64 size) {
  ssize_t written = -1;
  do {
    written = ::write(fd, data, size_t(size));
  } while (written < 0 && errno == EINTR);
  return written;
}

bool WriteAt(int fd, qint64 offset, const QByteArray& bytes) {
  qsizetype done = 0;
  while (done < bytes.size()) {
    const QByteArrayView rest = QByteArrayView(bytes).sliced(done);
    const ssize_t put = ::pwrite(fd, rest.data(), size_t(rest.size()), off_t(offset + done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += put;
  }
  return true;
}

bool Truncate(int fd, qint64 size) {
  int result = -1;
  do {
    result = ::ftruncate(fd, off_t(size));
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

bool SyncData(int fd) {
#if defined(Q_OS_MACOS)
  return ::fcntl(fd, F_FULLFSYNC) == 0 || ::fsync(fd) == 0;
#else
  return ::fdatasync(fd) == 0;
#endif
}

bool SyncFolder(const QString& folder) {
  const int fd = OpenRetrying(QFile::encodeName(folder), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  // EINVAL: the file system does not sync folders; there is nothing more to be had.
  const bool synced = ::fsync(fd) == 0 || errno == EINVAL;
  const int error = errno;
  ::close(fd);
  errno = error;
  return synced;
}

bool MakePrivateFolder(const QString& folder) {
  return ::mkdir(QFile::encodeName(folder).constData(), S_IRWXU) == 0;
}

bool LockShared(int fd) { return ::flock(fd, LOCK_SH | LOCK_NB) == 0; }

bool TryLockExclusive(int fd) { return ::flock(fd, LOCK_EX | LOCK_NB) == 0; }

#else  // Windows: files open here cannot be deleted or replaced, and there are no inodes.

OpenedFile OpenRegularFile(const QString& path, Access access, QString* reason) {
  const QFileInfo look(path);
  if (look.isSymLink() || look.isJunction()) {
    Report(reason, QStringLiteral("it is a symbolic link"));
    return {};
  }
  if (look.exists() && !look.isFile()) {
    Report(reason, QStringLiteral("it is not a regular file"));
    return {};
  }
  const std::wstring native = QDir::toNativeSeparators(path).toStdWString();
  const int mode = access == Access::Append   ? _O_RDWR | _O_APPEND
                   : access == Access::Update ? _O_RDWR
                                              : _O_RDONLY;
  const int flags = mode | _O_BINARY | _O_NOINHERIT;
  OpenedFile opened;
  if (_wsopen_s(&opened.fd, native.c_str(), flags, _SH_DENYNO, 0) != 0 &&
      access != Access::Read && errno == ENOENT) {
    opened.created = _wsopen_s(&opened.fd, native.c_str(), flags | _O_CREAT | _O_EXCL, _SH_DENYNO,
                               _S_IREAD | _S_IWRITE) == 0;
  }
  if (opened.fd < 0) {
    Report(reason, SystemError(errno));
    return {};
  }
  return opened;
}

void CloseFile(int fd) {
  if (fd >= 0) _close(fd);
}

std::optional<FileId> IdOfOpenFile(int) { return std::nullopt; }
std::optional<FileId> IdAtPath(const QString&) { return std::nullopt; }

qint64 FileSize(int fd) { return _filelengthi64(fd); }

bool ReadAt(int fd, qint64 offset, QByteArray& bytes) {
  if (_lseeki64(fd, offset, SEEK_SET) != offset) return false;
  return _read(fd, bytes.data(), unsigned(bytes.size())) == int(bytes.size());
}

qint64 AppendOnce(int fd, const char* data, qint64 size) {
  return _write(fd, data, unsigned(size));
}

bool WriteAt(int fd, qint64 offset, const QByteArray& bytes) {
  if (_lseeki64(fd, offset, SEEK_SET) != offset) return false;
  return _write(fd, bytes.constData(), unsigned(bytes.size())) == int(bytes.size());
}

bool Truncate(int fd, qint64 size) { return _chsize_s(fd, size) == 0; }

bool SyncData(int fd) { return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(fd))); }

bool SyncFolder(const QString&) { return true; }  // NTFS journals its folder entries

bool MakePrivateFolder(const QString& folder) {
  return QDir().mkdir(folder,
                      QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

bool LockShared(int) { return true; }
bool TryLockExclusive(int) { return true; }

#endif

}  // namespace vorlan::logging
