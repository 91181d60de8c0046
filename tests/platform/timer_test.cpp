#include "platform/timer.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "support/test_platform.h"
#include "support/loop_guard.h"
#include "support/virtual_platform.h"

namespace vorlan {
namespace {

using namespace std::chrono_literals;

// Records the virtual times at which a timer ticked.
struct TickLog {
  TickLog(VirtualPlatform& platform, Timer& timer) {
    QObject::connect(&timer, &Timer::Tick,
                     [&platform, this] { ticks.push_back(platform.Elapsed().count()); });
  }
  std::vector<qint64> ticks;
};

class TimerTest : public ::testing::Test {
 protected:
  VirtualPlatform m_platform;
  std::unique_ptr<Timer> m_timer = m_platform.CreateTimer();
  TickLog m_log{m_platform, *m_timer};
};

TEST_F(TimerTest, TicksEveryIntervalWhileEnabled) {
  m_timer->SetInterval(2500);
  m_timer->SetEnabled(true);
  m_platform.RunFor(10'000ms);
  EXPECT_EQ(m_log.ticks, (std::vector<qint64>{2500, 5000, 7500, 10000}));
}

TEST_F(TimerTest, IntervalZeroOrNegativeNeverTicks) {
  m_timer->SetEnabled(true);
  m_platform.RunFor(1000ms);
  m_timer->SetInterval(-5);
  EXPECT_EQ(m_timer->Interval(), 0);
  m_platform.RunFor(1000ms);
  EXPECT_TRUE(m_log.ticks.empty());
}

TEST_F(TimerTest, EnablingOrSettingTheIntervalStartsAFreshCountdown) {
  m_timer->SetInterval(1000);
  m_timer->SetEnabled(true);
  m_platform.RunFor(600ms);
  m_timer->SetInterval(1000);  // same value, still a fresh countdown
  m_platform.RunFor(600ms);
  EXPECT_TRUE(m_log.ticks.empty());
  m_timer->SetEnabled(false);
  m_platform.RunFor(5000ms);
  m_timer->SetEnabled(true);  // at 6200
  m_platform.RunFor(1000ms);
  EXPECT_EQ(m_log.ticks, (std::vector<qint64>{7200}));
}

TEST_F(TimerTest, EnablingAnEnabledTimerKeepsItsCountdown) {
  m_timer->SetInterval(3000);
  m_timer->SetEnabled(true);
  m_platform.RunFor(2000ms);
  m_timer->SetEnabled(true);
  m_platform.RunFor(1000ms);
  EXPECT_EQ(m_log.ticks, (std::vector<qint64>{3000}));
}

TEST_F(TimerTest, DisablingOrZeroIntervalStopsIt) {
  m_timer->SetInterval(100);
  m_timer->SetEnabled(true);
  m_platform.RunFor(250ms);
  m_timer->SetInterval(0);
  m_platform.RunFor(1000ms);
  EXPECT_EQ(m_log.ticks, (std::vector<qint64>{100, 200}));
  EXPECT_TRUE(m_timer->Enabled());
}

TEST_F(TimerTest, AHandlerThatDisablesItsTimerMakesAOneShot) {
  QObject::connect(m_timer.get(), &Timer::Tick, [this] { m_timer->SetEnabled(false); });
  m_timer->SetInterval(100);
  m_timer->SetEnabled(true);
  m_platform.RunFor(1000ms);
  EXPECT_EQ(m_log.ticks, (std::vector<qint64>{100}));
}

// A handler that waits lets its own timer tick again inside the wait, as any event may.
TEST_F(TimerTest, TicksAgainInsideItsOwnHandlersWait) {
  const loop_guard::Allow nested;  // the layer under a handler that waits
  int depth = 0, deepest = 0;
  QObject::connect(m_timer.get(), &Timer::Tick, [&] {
    ++depth;
    deepest = std::max(deepest, depth);
    if (depth == 1) m_platform.WaitUntil([] { return false; }, 250ms);
    --depth;
  });
  m_timer->SetInterval(100);
  m_timer->SetEnabled(true);
  m_platform.RunFor(100ms);
  EXPECT_EQ(deepest, 2);
  EXPECT_EQ(m_log.ticks.front(), 100);
  EXPECT_EQ(m_log.ticks.at(1), 200);
}

// The real timer, briefly: no tick comes before its interval has passed.
TEST(QtTimer, NeverTicksEarly) {
  QtTestPlatform platform;
  auto timer = platform.CreateTimer();
  QElapsedTimer clock;
  std::vector<qint64> gapsNs;  // since the timer was enabled
  QObject::connect(timer.get(), &Timer::Tick, [&] { gapsNs.push_back(clock.nsecsElapsed()); });
  timer->SetInterval(20);
  clock.start();
  timer->SetEnabled(true);
  ASSERT_TRUE(platform.WaitUntil([&] { return gapsNs.size() >= 8; }, 5s));
  timer->SetEnabled(false);
  for (size_t i = 0; i < gapsNs.size(); ++i) {
    // Each period starts no earlier than the tick before it, so tick i is at least (i+1) periods in.
    EXPECT_GE(gapsNs[i], qint64(i + 1) * 20'000'000) << "tick " << i << " at " << gapsNs[i] << " ns";
  }
}

}  // namespace
}  // namespace vorlan
