// The SDK's periodic timer: start and stop results, periods on the monotonic clock, OnTimer
// calls never overlapping, and stopping while (or from inside) OnTimer runs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "sdk/MultimediaTimer.h"
#include "tests/sdk/sdk_test_util.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Recorder : CMultimediaTimer {
  std::mutex lock;
  std::vector<Clock::time_point> ticks;
  std::atomic<int> running{0};
  std::atomic<int> overlaps{0};
  std::atomic<int> busy_ms{0};
  std::atomic<bool> stop_inside{false};
  std::atomic<int> stopped_inside{-1};
  static std::atomic<int> in_any;  // OnTimer calls running across every timer

  void OnTimer() override {
    if (in_any.fetch_add(1) != 0) overlaps++;
    running = 1;
    {
      std::lock_guard<std::mutex> lk(lock);
      ticks.push_back(Clock::now());
    }
    if (busy_ms) std::this_thread::sleep_for(std::chrono::milliseconds(busy_ms));
    if (stop_inside) stopped_inside = Stop();
    running = 0;
    in_any.fetch_sub(1);
  }
  size_t count() {
    std::lock_guard<std::mutex> lk(lock);
    return ticks.size();
  }
};
std::atomic<int> Recorder::in_any{0};

TEST(MultimediaTimer, StartAndStopResults) {
  Recorder t, probe;
  EXPECT_EQ(t.Stop(), 1);  // not active
  const auto t0 = Clock::now();
  ASSERT_EQ(t.Start(20), 1);
  EXPECT_EQ(t.Start(1), 0);  // keeps the first period
  EXPECT_EQ(t.IsActive(), 1);
  ASSERT_TRUE(sdktest::wait_until([&] { return t.count() >= 6; }, 20000));
  ASSERT_EQ(t.Stop(), 1);
  EXPECT_EQ(t.IsActive(), 0);
  const size_t stopped_at = t.count();
  // Stopped means no more ticks: a probe of the same period on the same service thread ticks
  // three times, so a tick still due would have come by then.
  ASSERT_EQ(probe.Start(20), 1);
  ASSERT_TRUE(sdktest::wait_until([&] { return probe.count() >= 3; }, 20000));
  probe.Stop();
  EXPECT_EQ(t.count(), stopped_at);
  // The period is the first Start's: tick k (from 0) comes no sooner than k + 1 periods after
  // the start.
  std::lock_guard<std::mutex> lk(t.lock);
  for (size_t k = 0; k < t.ticks.size(); ++k)
    EXPECT_GE(t.ticks[k] - t0, std::chrono::milliseconds(20 * int(k + 1))) << k;
}

TEST(MultimediaTimer, PeriodsHoldOnTheMonotonicClock) {
  Recorder t;
  const auto t0 = Clock::now();
  ASSERT_EQ(t.Start(10), 1);
  ASSERT_TRUE(sdktest::wait_until([&] { return t.count() >= 30; }, 20000));
  t.Stop();
  std::lock_guard<std::mutex> lk(t.lock);
  // Deadlines are absolute: tick k never comes before t0 + k x period, and a slow tick does
  // not push the later ones back.
  for (size_t k = 0; k < t.ticks.size(); ++k)
    EXPECT_GE(t.ticks[k] - t0, std::chrono::milliseconds(10 * int(k + 1))) << k;
}

TEST(MultimediaTimer, CallsNeverOverlapAndStopWaitsForARunningCall) {
  Recorder a, b;
  a.busy_ms = 30;
  b.busy_ms = 30;
  ASSERT_EQ(a.Start(5), 1);
  ASSERT_EQ(b.Start(5), 1);
  ASSERT_TRUE(sdktest::wait_until([&] { return a.count() >= 3 && b.count() >= 3; }, 5000));
  ASSERT_TRUE(sdktest::wait_until([&] { return a.running == 1; }, 5000));
  EXPECT_EQ(a.Stop(), 1);
  EXPECT_EQ(a.running, 0);  // the running call had returned
  const size_t after = a.count();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(a.count(), after);
  b.Stop();
  EXPECT_EQ(a.overlaps + b.overlaps, 0);
}

TEST(MultimediaTimer, StopFromInsideOnTimerAndLateCallsDoNothing) {
  Recorder t;
  t.stop_inside = true;
  ASSERT_EQ(t.Start(5), 1);
  ASSERT_TRUE(sdktest::wait_until([&] { return t.stopped_inside != -1; }, 3000));
  EXPECT_EQ(t.stopped_inside, 1);
  EXPECT_EQ(t.IsActive(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(t.count(), 1u);

  // A call for an id no longer in the table reaches nobody.
  Recorder u;
  ASSERT_EQ(u.Start(1000), 1);
  u.Stop();
  for (unsigned id = 1; id < 1000; ++id) CMultimediaTimer::TimerProc(id);
  EXPECT_EQ(u.count(), 0u);
}

}  // namespace
