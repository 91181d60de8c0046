#include "store/folder_watch.h"

#include <QByteArrayView>
#include <QFile>
#include <QThread>

#if defined(Q_OS_LINUX)
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace vorlan::store {

// Without notifications, and while the folder is away, the folder is looked at this often.
constexpr std::chrono::milliseconds kPollEvery{200};

#if defined(Q_OS_LINUX)

FolderWatch::FolderWatch(QString folder)
    : m_folder(std::move(folder)), m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
  Watch();
}

FolderWatch::~FolderWatch() {
  if (m_fd >= 0) close(m_fd);
}

bool FolderWatch::Watch() {
  if (m_fd < 0) return false;
  m_watch =
      inotify_add_watch(m_fd, QFile::encodeName(m_folder).constData(),
                        IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM |
                            IN_DELETE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR);
  return m_watch >= 0;
}

FolderWatch::Changes FolderWatch::Wait(std::chrono::milliseconds limit, const WakeUp& wakeUp) {
  Changes changes;
  if (m_watch < 0) {
    // The folder is away (the collector makes it again) or cannot be watched.
    if (limit > kPollEvery || limit.count() < 0) limit = kPollEvery;
    static_cast<void>(WaitForSocket(wakeUp.ReadEnd(), true, false, nullptr, limit));
    changes.all = Watch() || m_fd < 0;
    return changes;
  }
  pollfd entries[2] = {};
  entries[0].fd = m_fd;
  entries[0].events = POLLIN;
  entries[1].fd = wakeUp.ReadEnd();
  entries[1].events = POLLIN;
  if (poll(entries, 2, int(limit.count())) <= 0) return changes;
  alignas(inotify_event) char buffer[16384];
  for (;;) {
    const ssize_t got = read(m_fd, buffer, sizeof buffer);
    if (got <= 0) break;
    const QByteArrayView events(buffer, got);
    for (qsizetype at = 0; at + qsizetype(sizeof(inotify_event)) <= events.size();) {
      inotify_event event{};
      std::memcpy(&event, events.sliced(at).data(), sizeof event);
      const qsizetype nameAt = at + qsizetype(sizeof event);
      if (event.len > 0 && nameAt + qsizetype(event.len) <= events.size()) {
        // The kernel pads the name with NULs up to its length.
        const QByteArrayView name = events.sliced(nameAt, event.len);
        const qsizetype end = name.indexOf('\0');
        changes.names.insert(
            QFile::decodeName(name.first(end < 0 ? name.size() : end).toByteArray()));
      }
      if (event.mask & IN_Q_OVERFLOW) changes.all = true;
      if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
        if (m_watch >= 0 && !(event.mask & IN_IGNORED)) inotify_rm_watch(m_fd, m_watch);
        m_watch = -1;
        changes.all = true;
      }
      at = nameAt + qsizetype(event.len);
    }
  }
  return changes;
}

#else

FolderWatch::FolderWatch(QString folder) : m_folder(std::move(folder)) {}
FolderWatch::~FolderWatch() = default;
bool FolderWatch::Watch() { return false; }

FolderWatch::Changes FolderWatch::Wait(std::chrono::milliseconds limit, const WakeUp& wakeUp) {
  if (limit > kPollEvery || limit.count() < 0) limit = kPollEvery;
  for (auto left = limit; left.count() > 0 && !wakeUp.Raised();
       left -= std::chrono::milliseconds(20)) {
    QThread::msleep(20);
  }
  Changes changes;
  changes.all = true;
  return changes;
}

#endif

}  // namespace vorlan::store
