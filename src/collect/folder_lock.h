#pragma once

#include <QString>

#include <optional>

// One collector per log folder: two would each log and store the other's records as their
// own. The collector holds an exclusive lock on a file in the folder for as long as it runs;
// the desktop tool takes none, so it may still share the folder with one collector.
namespace vorlan::collect {

inline constexpr const char* kFolderLockName = ".vorlan-collect.lock";

class FolderLock {
 public:
  FolderLock() = default;
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  ~FolderLock();

  // Takes the folder. Nothing when taken, else why not, naming the holder when known.
  std::optional<QString> Take(const QString& folder);

 private:
  int m_fd = -1;
};

}  // namespace vorlan::collect
