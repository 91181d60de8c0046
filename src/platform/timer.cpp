#include "platform/timer.h"

#include <algorithm>

namespace vorlan {

void Timer::SetEnabled(bool enabled) {
  if (enabled == m_enabled) return;
  m_enabled = enabled;
  Rearm();
}

void Timer::SetInterval(int milliseconds) {
  m_interval = std::max(0, milliseconds);
  if (m_enabled) Rearm();
}

void Timer::Rearm() {
  if (Running()) {
    StartCountdown();
  } else {
    StopCountdown();
  }
}

void Timer::Expired() {
  if (!Running()) return;
  StartCountdown();
  emit Tick();
}

}  // namespace vorlan
