#pragma once

#include <QtGlobal>

#include <atomic>
#include <chrono>

// Lets one thread end another's wait on a socket at once: the forwarder's stop, while it waits
// for a database that does not answer. The only part of the store that knows the operating
// system's waits.
namespace vorlan::store {

class WakeUp {
 public:
  WakeUp();
  WakeUp(const WakeUp&) = delete;
  WakeUp& operator=(const WakeUp&) = delete;
  ~WakeUp();

  // From any thread; once raised it stays raised, and every wait on it ends.
  void Raise();
  bool Raised() const { return m_raised; }

#if !defined(Q_OS_WIN)
  // What a wait watches besides its socket: readable once raised; -1 when there is none.
  int ReadEnd() const { return m_pipe[0]; }
#endif

 private:
  std::atomic<bool> m_raised{false};
#if !defined(Q_OS_WIN)
  int m_pipe[2] = {-1, -1};
#endif
};

enum class SocketReady { Ready, Woken, TimedOut };

inline constexpr std::chrono::milliseconds kNoLimit{-1};

// Waits until `socket` can be read (`read`) or written (`write`), or has failed; or `wakeUp`
// (when given) is raised; or `limit` has passed (kNoLimit: none).
SocketReady WaitForSocket(qintptr socket, bool read, bool write, const WakeUp* wakeUp,
                          std::chrono::milliseconds limit);

}  // namespace vorlan::store
