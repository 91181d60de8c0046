#include "support/test_platform.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <algorithm>

namespace vorlan {

void QtTestPlatform::DoEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

bool QtTestPlatform::WaitUntil(const std::function<bool()>& done,
                               std::chrono::milliseconds limit) {
  const bool bounded = limit != kForever;
  QDeadlineTimer deadline =
      bounded ? QDeadlineTimer(limit, Qt::PreciseTimer) : QDeadlineTimer(QDeadlineTimer::Forever);
  // Wakes the dispatcher when the limit runs out, so the loop below can always sleep.
  QTimer wake;
  if (bounded) {
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(std::chrono::milliseconds(deadline.remainingTime()));
  }
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (bounded && !wake.isActive() && !deadline.hasExpired()) {
      wake.start(std::chrono::milliseconds(std::max<qint64>(1, deadline.remainingTime())));
    }
  }
  return true;
}

}  // namespace vorlan
