// The synchronisation layer under the SDK: events that never lose a signal, worker threads
// joined by their owner (never by themselves), the timer service's kill semantics, and the
// names threads give themselves.
#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/sync/sync.h"
#include "platform/sync/thread_name.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(SyncEvent, SignalsAreKeptUntilTakenByReset) {
  SyncEvent autoev(false, false);
  autoev.Set();  // before the wait: not lost
  EXPECT_TRUE(autoev.Wait(0));
  EXPECT_FALSE(autoev.Wait(20));  // consumed by the first wait
  SyncEvent manual(true, true);
  EXPECT_TRUE(manual.Wait(0));
  EXPECT_TRUE(manual.Wait(0));  // stays set
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

// The calling thread's name as the kernel keeps it.
std::string own_name() {
  char name[64] = {};
  pthread_getname_np(pthread_self(), name, sizeof name);
  return name;
}

// The name `name` gives a new thread, read back on that thread.
std::string named(const char* name) {
  std::string got;
  std::thread([&] {
    set_current_thread_name(name);
    got = own_name();
  }).join();
  return got;
}

TEST(ThreadName, NamesTheThreadCutTo15BytesAtACharacterStart) {
  EXPECT_EQ(named("decoder 3"), "decoder 3");
  EXPECT_EQ(named("exactly15bytes!"), "exactly15bytes!");
  EXPECT_EQ(named("rx a DVR of a long name"), "rx a DVR of a l");
  // "rx " and Hangul of three bytes each: the fifth character would end at byte 18, so the
  // name keeps four (15 bytes) ...
  EXPECT_EQ(named("rx \xEC\xA0\x9C\xEC\xA0\x9C\xEC\xA0\x9C\xEC\xA0\x9C\xEC\xA0\x9C"),
            "rx \xEC\xA0\x9C\xEC\xA0\x9C\xEC\xA0\x9C\xEC\xA0\x9C");
  // Four of them after "rx-" fill the 15 bytes exactly; after "rx--" the fourth would be cut
  // after two of its bytes: it goes whole.
  EXPECT_EQ(named("rx-\xEC\xA0\x9C\xEC\xA0\x9C\xEC\xA0\x9C\xEC\xA0\x9C"),
            "rx-\xEC\xA0\x9C\xEC\xA0\x9C\xEC\xA0\x9C\xEC\xA0\x9C");
  EXPECT_EQ(named("rx--\xEC\xA0\x9C\xEC\xA0\x9C\xEC\xA0\x9C\xEC\xA0\x9C"),
            "rx--\xEC\xA0\x9C\xEC\xA0\x9C\xEC\xA0\x9C");
}

TEST(ThreadName, TheMainThreadKeepsTheProgramsName) {
  const std::string before = own_name();
  set_current_thread_name("not the program");  // gtest runs tests on the main thread
  EXPECT_EQ(own_name(), before);
  set_current_thread_name(nullptr);
  EXPECT_EQ(own_name(), before);
}

TEST(ThreadName, ACallbackThreadIsNamedByItsFirstCallOnly) {
  std::string first, later;
  std::thread([&] {
    name_callback_thread("sdl timer");
    first = own_name();
    name_callback_thread("another");
    later = own_name();
  }).join();
  EXPECT_EQ(first, "sdl timer");
  EXPECT_EQ(later, "sdl timer");
}

TEST(ThreadName, TheTimerServiceThreadIsNamed) {
  std::atomic<bool> done{false};
  std::string seen;
  const unsigned id = SyncTimerSetEvent(1, [&](unsigned) {
    if (done) return;
    seen = own_name();
    done = true;
  });
  ASSERT_NE(id, 0u);
  const auto t0 = Clock::now();
  while (!done && Clock::now() - t0 < std::chrono::seconds(3))
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(SyncTimerKillEvent(id), 0);
  EXPECT_EQ(seen, "sdk timer");
}

}  // namespace
