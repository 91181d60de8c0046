#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The file-system calls that log files need beyond what Qt offers: opening without following a
// symbolic link and without waiting on a FIFO or a device, the identity of an open file,
// advisory locks, putting a folder's entries on disk. POSIX calls; elsewhere the nearest the
// platform has (no identity and no locks where it has none).
namespace vorlan::logging {

// Device and inode: two equal ids are one file.
struct FileId {
  quint64 device = 0;
  quint64 inode = 0;
  bool operator==(const FileId&) const = default;
};

enum class Access {
  Read,    // read only; never created
  Append,  // read and append; created with mode 0600 when absent
  Update,  // read and write anywhere; created with mode 0600 when absent
};

struct OpenedFile {
  int fd = -1;           // -1 when the open failed
  bool created = false;  // the file did not exist before this open
};

// Opens `path` only if it is a regular file: a symbolic link, a folder, a FIFO or a device is
// refused before anything is read or written. On failure `reason` says why.
OpenedFile OpenRegularFile(const QString& path, Access access, QString* reason);
void CloseFile(int fd);

// The open file, and the file the path names now (a link at the path is not followed).
std::optional<FileId> IdOfOpenFile(int fd);
std::optional<FileId> IdAtPath(const QString& path);

qint64 FileSize(int fd);  // -1 on failure
// Fills `bytes` from `offset` on; false unless all of it was read.
bool ReadAt(int fd, qint64 offset, QByteArray& bytes);
// One write at the end of the file; the count written, or -1 (errno tells why).
qint64 AppendOnce(int fd, const char* data, qint64 size);
// Writes all of `bytes` at `offset` (a file opened for Update); false otherwise (errno tells why).
bool WriteAt(int fd, qint64 offset, const QByteArray& bytes);
bool Truncate(int fd, qint64 size);
// The file's data on disk (fdatasync or the platform's equal); errno tells why not.
bool SyncData(int fd);
// The folder's entries on disk, so that a file created in it survives a power cut.
bool SyncFolder(const QString& folder);
// Makes one folder level, readable and writable by its owner only.
bool MakePrivateFolder(const QString& folder);

// A writer holds a shared lock on its open log file; the clean-up of empty files tries for an
// exclusive one and leaves the file alone when another holds it. Both only advise.
bool LockShared(int fd);
bool TryLockExclusive(int fd);

QString SystemError(int error);

}  // namespace vorlan::logging
