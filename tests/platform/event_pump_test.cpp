#include <gtest/gtest.h>

#include <QTimer>

#include <ctime>

#include "support/test_platform.h"
#include "platform/timer.h"
#include "support/loop_guard.h"
#include "support/virtual_platform.h"

#ifdef __unix__
#include <sys/resource.h>
#endif

namespace vorlan {
namespace {

using namespace std::chrono_literals;

TEST(VirtualPump, WaitJumpsStraightToTheNextDueEvent) {
  VirtualPlatform platform;
  bool flag = false;
  platform.At(2500ms, [&] { flag = true; });
  EXPECT_TRUE(platform.WaitUntil([&] { return flag; }));
  EXPECT_EQ(platform.Elapsed(), 2500ms);
  EXPECT_EQ(platform.Now(), QDateTime(QDate(2026, 1, 1), QTime(12, 0, 2, 500)));
}

TEST(VirtualPump, BoundedWaitEndsAtItsLimit) {
  VirtualPlatform platform;
  bool flag = false;
  platform.At(5000ms, [&] { flag = true; });
  EXPECT_FALSE(platform.WaitUntil([&] { return flag; }, 3000ms));
  EXPECT_EQ(platform.Elapsed(), 3000ms);
  EXPECT_FALSE(flag);
  EXPECT_EQ(platform.Stalls(), 0);
}

TEST(VirtualPump, AnEndlessWaitWithNothingLeftToRunIsReportedNotHung) {
  VirtualPlatform platform;
  EXPECT_FALSE(platform.WaitUntil([] { return false; }));
  EXPECT_EQ(platform.Stalls(), 1);
}

TEST(VirtualPump, DoEventsServesWhatIsPendingAndDoesNotMoveTime) {
  VirtualPlatform platform;
  std::vector<int> order;
  QObject context;
  platform.Post(&context, [&] {
    order.push_back(1);
    platform.Post(&context, [&] { order.push_back(3); });  // posted later: next pump
  });
  platform.Post(&context, [&] { order.push_back(2); });
  platform.At(1ms, [&] { order.push_back(9); });
  platform.DoEvents();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  platform.DoEvents();
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(platform.Elapsed(), 0ms);
}

TEST(VirtualPump, PostedTaskOfADestroyedObjectIsDropped) {
  VirtualPlatform platform;
  bool ran = false;
  {
    QObject context;
    platform.Post(&context, [&] { ran = true; });
  }
  platform.DoEvents();
  EXPECT_FALSE(ran);
}

// The day starts at the given moment; an hour of virtual time passes instantly.
TEST(VirtualPump, ClockFollowsVirtualTimeAcrossMidnight) {
  VirtualPlatform platform(QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59)));
  platform.RunFor(1500ms);
  EXPECT_EQ(platform.Now(), QDateTime(QDate(2027, 1, 1), QTime(0, 0, 0, 500)));
  platform.RunFor(std::chrono::hours(1));
  EXPECT_EQ(platform.Now().time(), QTime(1, 0, 0, 500));
}

// Nested waits: a timer handler that waits runs inside the outer wait and time moves on for both.
TEST(VirtualPump, NestedWaitsEndInTheirOwnTime) {
  const loop_guard::Allow nested;  // the layer under a handler that waits
  VirtualPlatform platform;
  auto timer = platform.CreateTimer();
  std::chrono::milliseconds innerEnded{0};
  QObject::connect(timer.get(), &Timer::Tick, [&] {
    timer->SetEnabled(false);
    platform.WaitUntil([] { return false; }, 50ms);
    innerEnded = platform.Elapsed();
  });
  timer->SetInterval(100);
  timer->SetEnabled(true);
  bool outerDone = false;
  platform.At(120ms, [&] { outerDone = true; });
  EXPECT_TRUE(platform.WaitUntil([&] { return outerDone; }));
  EXPECT_EQ(innerEnded, 150ms);
  EXPECT_GE(platform.Elapsed(), 150ms);
}

double ProcessCpuMs() {
#ifdef __unix__
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 + usage.ru_stime.tv_sec * 1e3 +
         usage.ru_stime.tv_usec / 1e3;
#else
  return 1e3 * double(std::clock()) / CLOCKS_PER_SEC;
#endif
}

// Waiting sleeps in the dispatcher: one second of nothing costs (almost) no processor.
TEST(QtPump, IdleWaitOfOneSecondUsesUnder20MsOfProcessor) {
  QtTestPlatform platform;
  platform.DoEvents();
  const double before = ProcessCpuMs();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(platform.WaitUntil([] { return false; }, 1000ms));
  const auto waited = std::chrono::steady_clock::now() - start;
  const double used = ProcessCpuMs() - before;
  EXPECT_GE(waited, 1000ms);
  EXPECT_LT(waited, 1500ms);
  EXPECT_LT(used, 20.0) << "processor time used by a 1 s idle wait, ms";
  RecordProperty("IdleWaitCpuMs", std::to_string(used));
}

// Twenty 50 ms waits on a timer, as the activity lamps make them, sleep as well.
TEST(QtPump, TimerDrivenWaitsDoNotSpin) {
  QtTestPlatform platform;
  auto lamp = platform.CreateTimer();
  QObject::connect(lamp.get(), &Timer::Tick, [&] { lamp->SetInterval(0); });
  const double before = ProcessCpuMs();
  for (int i = 0; i < 20; ++i) {
    lamp->SetEnabled(true);
    lamp->SetInterval(50);
    ASSERT_TRUE(platform.WaitUntil([&] { return lamp->Interval() < 1; }, 1000ms));
    lamp->SetEnabled(false);
  }
  EXPECT_LT(ProcessCpuMs() - before, 20.0);
}

TEST(QtPump, WaitEndsWhenAnEventMakesItsConditionHold) {
  QtTestPlatform platform;
  bool flag = false;
  QTimer::singleShot(30, [&] { flag = true; });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(platform.WaitUntil([&] { return flag; }, 5000ms));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
}

TEST(QtPump, DoEventsRunsPostedTasksAndReturns) {
  QtTestPlatform platform;
  QObject context;
  int runs = 0;
  platform.Post(&context, [&] { ++runs; });
  platform.DoEvents();
  EXPECT_EQ(runs, 1);
}

}  // namespace
}  // namespace vorlan
