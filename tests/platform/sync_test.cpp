// The synchronisation layer under the SDK: events that never lose a signal, worker threads
// joined by their owner (never by themselves), and the timer service's kill semantics.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/sync/sync.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(SyncEvent, SignalsAreKeptUntilTakenByReset) {
  SyncEvent autoev(false, false);
  autoev.Set();                    // before the wait: not lost
  EXPECT_TRUE(autoev.Wait(0));
  EXPECT_FALSE(autoev.Wait(20));   // consumed by the first wait
  SyncEvent manual(true, true);
  EXPECT_TRUE(manual.Wait(0));
  EXPECT_TRUE(manual.Wait(0));     // stays set
  manual.Reset();
  const auto t0 = Clock::now();
  EXPECT_FALSE(manual.Wait(30));
  EXPECT_GE(Clock::now() - t0, std::chrono::milliseconds(30));
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    autoev.Set();
  });
  EXPECT_TRUE(autoev.Wait(SYNC_INFINITE));
  setter.join();
}

TEST(WorkerThread, JoinFromItselfReturnsAndTheOwnerJoinsLater) {
  WorkerThread t;
  std::atomic<bool> joined_self{false};
  ASSERT_TRUE(t.Start([&] {
    t.Join();  // an owner torn down on its own thread must not deadlock
    joined_self = true;
  }));
  EXPECT_FALSE(t.Start([] {}));  // one thread at a time
  t.Join();
  EXPECT_TRUE(joined_self);
  EXPECT_FALSE(t.Exists());
  EXPECT_FALSE(t.Running());
  ASSERT_TRUE(t.Start([] {}));  // restartable once joined
  t.Join();
}

TEST(SyncTimer, KillWaitsForARunningCallButNotForItself) {
  std::atomic<int> calls{0};
  std::atomic<bool> inside{false};
  const unsigned id = SyncTimerSetEvent(5, [&](unsigned) {
    inside = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    calls++;
    inside = false;
  });
  ASSERT_NE(id, 0u);
  while (!inside) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(SyncTimerKillEvent(id), 0);
  EXPECT_FALSE(inside);
  const int after = calls;
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(calls, after);
  EXPECT_EQ(SyncTimerKillEvent(id), -1);

  std::atomic<int> self_kill{1};
  unsigned self_id = 0;
  std::atomic<bool> ready{false};
  self_id = SyncTimerSetEvent(5, [&](unsigned me) {
    while (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    self_kill = SyncTimerKillEvent(me);
  });
  ready = true;
  const auto t0 = Clock::now();
  while (self_kill == 1 && Clock::now() - t0 < std::chrono::seconds(3))
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(self_kill, 0);
  EXPECT_EQ(SyncTimerKillEvent(self_id), -1);
}

}  // namespace
