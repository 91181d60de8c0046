#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

#include "logging/file_access.h"

// Which lines of the log files hold the records of the data reply logged last. The exchange
// repeats at most that reply (when it never read our acknowledgement), so a reply that may be a
// repetition is compared with it and nothing else. Its place is kept in a small file beside the
// log files, so that after a restart it is found whatever the files' times, the reply's length
// or its records' lengths. The file is put on disk before any later lines are written: after
// its reply's acknowledgement, or before the reply's own lines where they extend the reply
// named or go to another file. A stop can thus leave it one reply behind, and then that reply's
// lines are those after the last run in its file.
namespace vorlan::logging {

// One run of the reply's lines in one log file; a reply sent again with more records than the
// one logged has its first run where that one was.
struct ReplyRun {
  QString fileName;   // a log file in the same folder
  qint64 offset = 0;  // where its lines start (the end of a line cut short may come first)
  qint64 count = 0;   // records
  bool operator==(const ReplyRun&) const = default;
};

// The file in `logsFolder` that names the runs; no "*.log" listing matches it.
QString LastReplyPath(const QString& logsFolder);

// The list's file, kept open from one save to the next, so that a save is one write and one
// sync.
class LastReplyFile {
 public:
  explicit LastReplyFile(QString logsFolder) : m_folder(std::move(logsFolder)) {}
  ~LastReplyFile();
  LastReplyFile(const LastReplyFile&) = delete;
  LastReplyFile& operator=(const LastReplyFile&) = delete;

  // Writes the runs in place and puts them on disk. False, with `failure` set, when it cannot.
  bool Save(const std::vector<ReplyRun>& runs, QString* failure);

 private:
  void Drop();

  QString m_folder;
  int m_fd = -1;
  std::optional<FileId> m_id;
  qint64 m_length = 0;
};

// The runs of the reply logged last: those saved last, or the lines logged after them in the
// last run's file when there are any; empty when there are none or the file is not one this
// program wrote.
std::vector<ReplyRun> LoadLastReply(const QString& logsFolder);

// How many of `records` (as logged: STX to ETX, blanks made ".") are the lines the runs name,
// counted from the first: all the runs' records when `records` begins with them; those that
// are on disk when the last run's file ends early (its reply never got that far, so it was not
// acknowledged); 0 otherwise. The lines are read piece by piece, however long.
qsizetype RepeatedRecords(const QString& logsFolder, const std::vector<ReplyRun>& runs,
                          const std::vector<QByteArray>& records);

}  // namespace vorlan::logging
