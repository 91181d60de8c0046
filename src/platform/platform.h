#pragma once

#include <QDateTime>
#include <QObject>

#include <chrono>
#include <functional>
#include <memory>

namespace vorlan {

class Socket;
class Timer;

// What the program needs from its platform: timers and a socket whose events arrive on the one
// thread, the event pump that lets a handler wait while other handlers run, and the wall clock.
// QtPlatform is the real thing; VirtualPlatform runs the same code in virtual time for tests.
class Platform {
 public:
  static constexpr std::chrono::milliseconds kForever = std::chrono::milliseconds::max();

  virtual ~Platform() = default;

  virtual std::unique_ptr<Timer> CreateTimer() = 0;
  virtual std::unique_ptr<Socket> CreateSocket() = 0;

  // Serves every event that is pending, running its handler to completion, then returns.
  virtual void DoEvents() = 0;

  // Serves events until `done` holds, sleeping while none is pending. Returns false when `limit`
  // ran out first (or, in virtual time, when no event is left that could ever make it hold).
  virtual bool WaitUntil(const std::function<bool()>& done,
                         std::chrono::milliseconds limit = kForever) = 0;

  // Local date and time.
  virtual QDateTime Now() const = 0;

  // Runs `task` later from the event loop, unless `context` has been destroyed by then.
  virtual void Post(QObject* context, std::function<void()> task) = 0;
};

}  // namespace vorlan
