#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

// Which lines of the log files hold the records of the data reply logged last. The exchange
// repeats at most that reply (when it never read our acknowledgement), so a reply that may be a
// repetition is compared with it and nothing else. Its place is kept in a small file beside the
// log files and put on disk before the reply's lines are written, so that after a restart it is
// found whatever the files' times, the reply's length or its records' lengths.
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

// Writes the runs in place and puts them on disk. False, with `failure` set, when it cannot.
bool SaveLastReply(const QString& logsFolder, const std::vector<ReplyRun>& runs,
                   QString* failure);

// The runs saved last; empty when there are none or the file is not one this program wrote.
std::vector<ReplyRun> LoadLastReply(const QString& logsFolder);

// How many of `records` (as logged: STX to ETX, blanks made ".") are the lines the runs name,
// counted from the first: all the runs' records when `records` begins with them; those that
// are on disk when the last run's file ends early (its reply never got that far, so it was not
// acknowledged); 0 otherwise. The lines are read piece by piece, however long.
qsizetype RepeatedRecords(const QString& logsFolder, const std::vector<ReplyRun>& runs,
                          const std::vector<QByteArray>& records);

}  // namespace vorlan::logging
