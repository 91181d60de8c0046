#pragma once

#include <QDateTime>
#include <QObject>

#include <functional>
#include <memory>

namespace vorlan {

class Socket;
class Timer;

// What the program needs from its platform: timers and a socket whose events arrive on the one
// thread, tasks run later from the event loop, and the wall clock. There is no way to wait or to
// serve events from inside a handler: work that must wait is a state that a timer or the next
// event carries on. QtPlatform is the real thing; VirtualPlatform runs the same code in virtual
// time for tests.
class Platform {
 public:
  virtual ~Platform() = default;

  virtual std::unique_ptr<Timer> CreateTimer() = 0;
  virtual std::unique_ptr<Socket> CreateSocket() = 0;

  // Local date and time.
  virtual QDateTime Now() const = 0;

  // Runs `task` later from the event loop, unless `context` has been destroyed by then.
  virtual void Post(QObject* context, std::function<void()> task) = 0;
};

}  // namespace vorlan
