#include "collect/reconnect_delay.h"

#include <algorithm>

namespace vorlan::collect {

std::chrono::milliseconds ReconnectDelay(int failures, double random) {
  std::chrono::milliseconds base = kFirstReconnectDelay;
  for (int i = 0; i < failures && base < kLongestReconnectDelay; ++i) base *= 2;
  base = std::min(base, kLongestReconnectDelay);
  const double stretch = 1.0 + kReconnectJitter * (2.0 * std::clamp(random, 0.0, 1.0) - 1.0);
  return std::chrono::milliseconds(static_cast<long long>(double(base.count()) * stretch));
}

}  // namespace vorlan::collect
