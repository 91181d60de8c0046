#pragma once

#include <chrono>

namespace vorlan::collect {

using namespace std::chrono_literals;

inline constexpr std::chrono::milliseconds kFirstReconnectDelay = 1s;
inline constexpr std::chrono::milliseconds kLongestReconnectDelay = 60s;
// Each pause is stretched or shortened by up to this share, so that collectors that lost the
// same exchange at the same moment do not all come back in the same second.
inline constexpr double kReconnectJitter = 0.2;

// The pause before connection attempt number `failures` + 1, after `failures` attempts in a row
// that carried no reply: 1 s, 2 s, 4 s, ... up to 60 s, then with `random` (0 to 1) the jitter.
std::chrono::milliseconds ReconnectDelay(int failures, double random);

}  // namespace vorlan::collect
