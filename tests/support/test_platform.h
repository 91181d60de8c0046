#pragma once

#include <chrono>
#include <functional>

#include "platform/platform.h"
#include "platform/qt_platform.h"
#include "platform/socket.h"
#include "platform/timer.h"

namespace vorlan {

// The platform as a test drives it: besides what the program gets, a pump that the test body
// (never a handler) runs until what it waits for has happened.
class TestPlatform : public Platform {
 public:
  static constexpr std::chrono::milliseconds kForever = std::chrono::milliseconds::max();

  // Serves every event that is pending, running its handler to completion, then returns.
  virtual void DoEvents() = 0;
  // Serves events until `done` holds, sleeping while none is pending. Returns false when `limit`
  // ran out first (or, in virtual time, when no event is left that could ever make it hold).
  virtual bool WaitUntil(const std::function<bool()>& done,
                         std::chrono::milliseconds limit = kForever) = 0;
};

// The real platform, with waits that sleep in Qt's event dispatcher until the next event.
class QtTestPlatform final : public TestPlatform {
 public:
  std::unique_ptr<Timer> CreateTimer() override { return m_qt.CreateTimer(); }
  std::unique_ptr<Socket> CreateSocket() override { return m_qt.CreateSocket(); }
  QDateTime Now() const override { return m_qt.Now(); }
  void Post(QObject* context, std::function<void()> task) override {
    m_qt.Post(context, std::move(task));
  }
  void DoEvents() override;
  bool WaitUntil(const std::function<bool()>& done,
                 std::chrono::milliseconds limit = kForever) override;

 private:
  QtPlatform m_qt;
};

}  // namespace vorlan
