#pragma once

#include "platform/platform.h"

namespace vorlan {

// The platform on Qt's event loop: precise timers, a QTcpSocket, and waits that sleep in the
// event dispatcher until the next event instead of polling. Needs a QCoreApplication.
class QtPlatform : public Platform {
 public:
  std::unique_ptr<Timer> CreateTimer() override;
  std::unique_ptr<Socket> CreateSocket() override;
  void DoEvents() override;
  bool WaitUntil(const std::function<bool()>& done,
                 std::chrono::milliseconds limit = kForever) override;
  QDateTime Now() const override;
  void Post(QObject* context, std::function<void()> task) override;
};

}  // namespace vorlan
