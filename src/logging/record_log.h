#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

#include "logging/file_access.h"

// The program's current log file: one file at most, records appended as raw bytes.
namespace vorlan::logging {

class RecordLog {
 public:
  enum class WriteResult {
    Written,  // the line is in the file (handed to the operating system)
    NotOpen,  // no log file is open; records are not logged then, and that is no failure
    Failed,   // the line may be missing or partial: do not acknowledge the record
  };

  // What puts written bytes on disk; tests put failing ones in its place. Each returns false
  // with errno set on failure.
  struct DiskSync {
    std::function<bool(int fd)> file;                   // the file's data (fdatasync)
    std::function<bool(const QString& folder)> folder;  // the entry of a file created there
  };

  RecordLog();
  explicit RecordLog(DiskSync sync);
  ~RecordLog();
  RecordLog(const RecordLog&) = delete;
  RecordLog& operator=(const RecordLog&) = delete;

  // Closes the file held so far, then opens `path` for appending: created when absent (mode
  // 0600, its folder entry put on disk), earlier contents never truncated or rewritten. A
  // symbolic link or anything but a regular file is refused. On failure nothing is open and
  // `failure` (when given) gets a description for the operator. Another program's clean-up
  // of empty files leaves the file alone while it is open here.
  bool Open(const QString& path, QString* failure);

  // A log is open from a successful Open until Close, even while its file is gone: writes
  // then make it again or fail, so that no record passes for logged.
  bool IsOpen() const { return !m_path.isEmpty(); }

  // The open file's path as given to Open; empty when none is open.
  QString Path() const;

  // Appends "<BAD>:" (when `bad`), the record's bytes unchanged, CR LF, in one write. On Written
  // the bytes have left this process; Sync puts them on disk. A line is whole or absent: after a
  // failed or short write the file is cut back to its last complete line. The file stays open
  // after a failure; the caller decides what follows. The lines go to the file the path names
  // now: a file deleted, moved or replaced since it was opened is opened again (made again,
  // and its folder too, one level, when gone). A file that ends in a line cut short gets that
  // line ended first, so that the record starts a line of its own.
  [[nodiscard]] WriteResult WriteRecord(QByteArrayView record, bool bad,
                                        QString* failure = nullptr);

  // Appends lines made by RecordLine in one write; whole or, after a failure, not at all.
  [[nodiscard]] WriteResult WriteLines(QByteArrayView lines, QString* failure = nullptr);

  // Puts every line written so far on disk (fdatasync, or the platform's equal). True when no
  // file is open. On failure the lines of the last WriteLines are cut off again, so that the
  // exchange's repetition of them is logged once. Lines whose file was deleted or replaced
  // between the write and now are written again to the file the path names.
  [[nodiscard]] bool Sync(QString* failure = nullptr);

  void Close();

  // The open file's length; -1 when none is open.
  qint64 Size() const;
  // Where the lines of the last WriteLines start in the file the path names; -1 before any.
  qint64 LastLinesAt() const { return m_linesAt; }

  // What the log did on its own since last asked, for the operator (a deleted file or folder
  // made again); empty when nothing.
  QString TakeNotice();

 private:
  bool OpenPath(QString* failure);
  bool StillNamed() const;
  bool Reopen(QString* failure);
  WriteResult Append(QByteArrayView lines, QString* failure);
  void CutBack();
  void DropFile();

  DiskSync m_sync;
  QString m_path;
  int m_fd = -1;
  std::optional<FileId> m_id;  // of the open file, to tell whether the path still names it
  bool m_endChecked = false;   // the first write after opening looks at how the file ends
  qint64 m_lengthBefore = -1;  // before the last WriteLines, until Sync
  qint64 m_lengthAfter = -1;   // and after it
  qint64 m_linesAt = -1;
  QByteArray m_unsynced;  // the last WriteLines' lines, until Sync
  QString m_notice;
};

// "<BAD>:" (when `bad`), the record's bytes unchanged, CR LF.
QByteArray RecordLine(QByteArrayView record, bool bad);

enum class MissingFolder {
  Create,  // Connect: create the logs folder, still report the failed open
  Leave,   // report the failed open only
  Remake,  // the hourly switch: made again and opened, as a write makes it again
};

// Opens the file named after `now` in the logs folder as `log`. When the folder is
// missing the open fails with "Path not found"; with MissingFolder::Create the folder is made so
// that the next attempt succeeds, but this one is not repeated; with MissingFolder::Remake it is
// made and the open repeated.
bool OpenRecordLog(const QString& logsFolder, const QDateTime& now, RecordLog& log,
                   QString* failure, MissingFolder missingFolder);

}  // namespace vorlan::logging
