#pragma once

#include "platform/platform.h"

namespace vorlan {

// The platform on Qt's event loop: precise timers and a QTcpSocket. Needs a QCoreApplication.
class QtPlatform : public Platform {
 public:
  std::unique_ptr<Timer> CreateTimer() override;
  std::unique_ptr<Socket> CreateSocket() override;
  QDateTime Now() const override;
  void Post(QObject* context, std::function<void()> task) override;
};

}  // namespace vorlan
