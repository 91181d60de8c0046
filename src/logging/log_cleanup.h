#pragma once

#include <QString>
#include <QStringList>

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

// Deletes the empty "*.log" files of a logs folder, in name order, a few files a step, so that
// the window carries it on from a timer. The file `current` holds open is never deleted,
// whatever its length, nor one that another program (a collector sharing the folder) holds open
// as its log, nor anything but a regular file. Any other failure (a file that vanished, a
// read-only file, a refused deletion) ends the run quietly; what was deleted stays deleted. A
// missing folder lists nothing. Between steps other handlers may open or close `current` or
// change the folder: each file is looked at when its step comes.
class EmptyLogCleanUp {
 public:
  explicit EmptyLogCleanUp(const QString& logsFolder);
  // Looks at up to `files` more files; false once the run is over.
  bool Step(const RecordLog& current, qsizetype files);
  // For tests; the program shows nothing but the files left to another program.
  const CleanUpResult& Result() const { return m_result; }

 private:
  QString m_folder;
  QStringList m_names;
  qsizetype m_next = 0;
  CleanUpResult m_result;
};

// The whole run at once; `between` runs after each file from the second on (and may do what
// other handlers would do between steps).
CleanUpResult CleanUpEmptyLogs(const QString& logsFolder, const RecordLog& current,
                               const std::function<void()>& between);

}  // namespace vorlan::logging
