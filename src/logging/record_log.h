#pragma once

#include <QByteArrayView>
#include <QDateTime>
#include <QFile>
#include <QString>

// The program's current log file: one file at most, records appended as raw bytes.
namespace vorlan::logging {

class RecordLog {
 public:
  enum class WriteResult {
    Written,  // the line is in the file (handed to the operating system)
    NotOpen,  // no log file is open; records are not logged then, and that is no failure
    Failed,   // the line may be missing or partial: do not acknowledge the record
  };

  RecordLog() = default;
  ~RecordLog() = default;
  RecordLog(const RecordLog&) = delete;
  RecordLog& operator=(const RecordLog&) = delete;

  // Closes the file held so far, then opens `path` for appending: created when absent, earlier
  // contents never truncated or rewritten. On failure nothing is open and `failure` (when given)
  // gets a description for the operator.
  bool Open(const QString& path, QString* failure);

  bool IsOpen() const { return m_file.isOpen(); }

  // The open file's path as given to Open; empty when none is open.
  QString Path() const;

  // Appends "<BAD>:" (when `bad`), the record's bytes unchanged, CR LF, in one write. On Written
  // the bytes have left this process; Sync puts them on disk. A line is whole or absent: after a
  // failed or short write the file is cut back to its last complete line. The file stays open
  // after a failure; the caller decides what follows.
  [[nodiscard]] WriteResult WriteRecord(QByteArrayView record, bool bad,
                                        QString* failure = nullptr);

  // Appends lines made by RecordLine in one write; whole or, after a failure, not at all.
  [[nodiscard]] WriteResult WriteLines(QByteArrayView lines, QString* failure = nullptr);

  // Puts every line written so far on disk (fdatasync, or the platform's equal). True when no
  // file is open.
  [[nodiscard]] bool Sync(QString* failure = nullptr);

  void Close();

 private:
  QFile m_file;
};

// "<BAD>:" (when `bad`), the record's bytes unchanged, CR LF.
QByteArray RecordLine(QByteArrayView record, bool bad);

enum class MissingFolder {
  Create,  // Connect: create the logs folder, still report the failed open
  Leave,   // the hourly switch
};

// Opens the file named after `now` in the logs folder as `log`. When the folder is
// missing the open fails with "Path not found"; with MissingFolder::Create the folder is made so
// that the next attempt succeeds, but this one is not repeated.
bool OpenRecordLog(const QString& logsFolder, const QDateTime& now, RecordLog& log,
                   QString* failure, MissingFolder missingFolder);

}  // namespace vorlan::logging
