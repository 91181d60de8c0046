#pragma once

#include <QString>

#include <functional>

namespace vorlan::logging {

class RecordLog;

struct CleanUpResult {
  int deleted = 0;
  bool skippedCurrent = false;  // the program's own open log file was met and left alone
  int skippedInUse = 0;         // empty files another program's log holds open, left alone
  bool stopped = false;         // a failure ended the run before the listing was done
  QString stoppedAt;            // the name of the file that ended it
};

// Deletes the empty "*.log" files of `logsFolder`, in name order. The file `current` holds open
// is never deleted, whatever its length, nor one that another program (a collector sharing the
// folder) holds open as its log, nor anything but a regular file. Any other failure (a file that
// vanished, a read-only file, a refused deletion) ends the run quietly; what was deleted stays
// deleted. A missing folder lists nothing. `doEvents` runs after each file from the second on, and
// handlers it runs may open or close `current`. The result is for tests; the program shows nothing.
CleanUpResult CleanUpEmptyLogs(const QString& logsFolder, const RecordLog& current,
                               const std::function<void()>& doEvents);

}  // namespace vorlan::logging
