#include "collect/wait_counting_platform.h"

#include "platform/socket.h"
#include "platform/timer.h"

namespace vorlan::collect {

std::unique_ptr<Timer> WaitCountingPlatform::CreateTimer() { return m_platform.CreateTimer(); }

std::unique_ptr<Socket> WaitCountingPlatform::CreateSocket() { return m_platform.CreateSocket(); }

void WaitCountingPlatform::DoEvents() {
  ++m_depth;
  m_platform.DoEvents();
  Leave();
}

bool WaitCountingPlatform::WaitUntil(const std::function<bool()>& done,
                                     std::chrono::milliseconds limit) {
  ++m_depth;
  const bool held = m_platform.WaitUntil(done, limit);
  Leave();
  return held;
}

void WaitCountingPlatform::Leave() {
  if (--m_depth == 0 && m_onIdle) m_onIdle();
}

}  // namespace vorlan::collect
