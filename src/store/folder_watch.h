#pragma once

#include <QString>

#include <chrono>
#include <set>

#include "store/wake_up.h"

// Waits for changes to the files of one folder through the system's notifications (inotify),
// so that a folder of thousands of finished files costs nothing while nothing is written.
// Where there are none, every wait ends after a short poll and says that anything may have
// changed.
namespace vorlan::store {

class FolderWatch {
 public:
  explicit FolderWatch(QString folder);
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;
  ~FolderWatch();

  struct Changes {
    std::set<QString> names;  // files made, written, moved or removed
    bool all = false;         // anything may have changed: look at every file
  };
  // Waits up to `limit`, or until `wakeUp` is raised; what changed meanwhile.
  Changes Wait(std::chrono::milliseconds limit, const WakeUp& wakeUp);

 private:
  bool Watch();  // (again) on the folder; false when it cannot

  QString m_folder;
  int m_fd = -1;
  int m_watch = -1;
};

}  // namespace vorlan::store
