#pragma once

#if defined(__unix__) || defined(__APPLE__)
#include <sys/resource.h>

#include <csignal>

// While it lives, a write that would take a file past `bytes` fails (EFBIG) as on a full disk,
// root included: the file size limit, with SIGXFSZ ignored so that the write fails instead.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) : m_handler(std::signal(SIGXFSZ, SIG_IGN)) {
    rlimit limit{};
    m_active = getrlimit(RLIMIT_FSIZE, &m_old) == 0 &&
               (limit = m_old, limit.rlim_cur = bytes, setrlimit(RLIMIT_FSIZE, &limit) == 0);
  }
  ~FileSizeLimit() { (void)(m_active && setrlimit(RLIMIT_FSIZE, &m_old)), std::signal(SIGXFSZ, m_handler); }
  bool Active() const { return m_active; }

 private:
  void (*m_handler)(int);
  rlimit m_old{};
  bool m_active = false;
};
#else
struct FileSizeLimit { explicit FileSizeLimit(long long) {} bool Active() const { return false; } };  // no such limit
#endif
