#pragma once

#include <functional>

#include "platform/platform.h"

namespace vorlan::collect {

// The platform, passed through, counting the waits in progress. The main window's handlers
// wait while serving events, so code that runs from the event loop can find itself inside one
// of them, between two of its steps. The collector presses the window's buttons only when no
// wait is in progress, that is with no handler half done.
class WaitCountingPlatform : public Platform {
 public:
  explicit WaitCountingPlatform(Platform& platform) : m_platform(platform) {}

  std::unique_ptr<Timer> CreateTimer() override;
  std::unique_ptr<Socket> CreateSocket() override;
  void DoEvents() override;
  bool WaitUntil(const std::function<bool()>& done,
                 std::chrono::milliseconds limit = kForever) override;
  QDateTime Now() const override { return m_platform.Now(); }
  void Post(QObject* context, std::function<void()> task) override {
    m_platform.Post(context, std::move(task));
  }

  bool Waiting() const { return m_depth > 0; }
  // Called each time the last wait in progress has ended.
  void SetOnIdle(std::function<void()> onIdle) { m_onIdle = std::move(onIdle); }

 private:
  void Leave();

  Platform& m_platform;
  int m_depth = 0;
  std::function<void()> m_onIdle;
};

}  // namespace vorlan::collect
