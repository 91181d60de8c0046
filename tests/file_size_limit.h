#pragma once

#if defined(__unix__) || defined(__APPLE__)
#include <sys/resource.h>

#include <csignal>
#endif

// While it lives, every write that would take a file past `bytes` fails (EFBIG), as on a full
// disk, and root is held to it too: the process's file size limit, with SIGXFSZ ignored so that
// the write fails instead of ending the process. Not Active() where there is no such limit.
class FileSizeLimit {
 public:
#if defined(__unix__) || defined(__APPLE__)
  explicit FileSizeLimit(rlim_t bytes) : m_handler(std::signal(SIGXFSZ, SIG_IGN)) {
    m_active = getrlimit(RLIMIT_FSIZE, &m_old) == 0;
    rlimit limit = m_old;
    limit.rlim_cur = bytes;
    m_active = m_active && setrlimit(RLIMIT_FSIZE, &limit) == 0;
  }
  ~FileSizeLimit() {
    if (m_active) setrlimit(RLIMIT_FSIZE, &m_old);
    std::signal(SIGXFSZ, m_handler);
  }
#else
  explicit FileSizeLimit(long long) {}
#endif
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;
  bool Active() const { return m_active; }

 private:
#if defined(__unix__) || defined(__APPLE__)
  void (*m_handler)(int);
  rlimit m_old{};
#endif
  bool m_active = false;
};
