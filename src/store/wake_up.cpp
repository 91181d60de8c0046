#include "store/wake_up.h"

#include <algorithm>

#if defined(Q_OS_WIN)
#include <winsock2.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace vorlan::store {

// Where no pipe can be watched with the socket (Windows, or a pipe that could not be made), the
// wait looks at the flag between slices of this length.
inline constexpr std::chrono::milliseconds kWakeSlice{50};

#if defined(Q_OS_WIN)

WakeUp::WakeUp() = default;
WakeUp::~WakeUp() = default;

void WakeUp::Raise() { m_raised = true; }

SocketReady WaitForSocket(qintptr socket, bool read, bool write, const WakeUp* wakeUp,
                          std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (wakeUp && wakeUp->Raised()) return SocketReady::Woken;
    auto slice = kWakeSlice;
    if (limit >= std::chrono::milliseconds(0)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left <= std::chrono::milliseconds(0)) return SocketReady::TimedOut;
      slice = std::min(slice, left);
    }
    WSAPOLLFD entry = {};
    entry.fd = SOCKET(socket);
    entry.events = short((read ? POLLRDNORM : 0) | (write ? POLLWRNORM : 0));
    if (WSAPoll(&entry, 1, int(slice.count())) != 0) return SocketReady::Ready;
  }
}

#else

WakeUp::WakeUp() {
  if (pipe(m_pipe) != 0) return;
  for (const int end : m_pipe) {
    fcntl(end, F_SETFL, fcntl(end, F_GETFL) | O_NONBLOCK);
    fcntl(end, F_SETFD, FD_CLOEXEC);
  }
}

WakeUp::~WakeUp() {
  for (const int end : m_pipe) {
    if (end >= 0) close(end);
  }
}

void WakeUp::Raise() {
  m_raised = true;
  // Never read: the byte keeps the read end readable for every wait that follows.
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(m_pipe[1], &byte, 1);
}

SocketReady WaitForSocket(qintptr socket, bool read, bool write, const WakeUp* wakeUp,
                          std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (wakeUp && wakeUp->Raised()) return SocketReady::Woken;
    int timeout = -1;
    if (limit >= std::chrono::milliseconds(0)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      timeout = int(std::max<qint64>(0, left.count()));
    }
    // Without its pipe, the flag is looked at between slices.
    if (wakeUp && wakeUp->ReadEnd() < 0 && (timeout < 0 || timeout > kWakeSlice.count())) {
      timeout = int(kWakeSlice.count());
    }
    pollfd entries[2] = {};
    entries[0].fd = int(socket);
    entries[0].events = short((read ? POLLIN : 0) | (write ? POLLOUT : 0));
    entries[1].fd = wakeUp ? wakeUp->ReadEnd() : -1;  // poll skips a negative descriptor
    entries[1].events = POLLIN;
    const int ready = poll(entries, 2, timeout);
    if (ready < 0 && errno == EINTR) continue;
    if (wakeUp && wakeUp->Raised()) return SocketReady::Woken;
    // A failed poll is the socket's to report: the caller's next read or write says why.
    if (ready > 0 ? entries[0].revents != 0 : ready < 0) return SocketReady::Ready;
    if (limit >= std::chrono::milliseconds(0) && std::chrono::steady_clock::now() >= deadline) {
      return SocketReady::TimedOut;
    }
  }
}

#endif

}  // namespace vorlan::store
