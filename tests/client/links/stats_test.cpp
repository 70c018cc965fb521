// Statistics: the once-a-second line and the rolling per-second sets.
#include "client/foundation/stats.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

std::atomic<uint32_t> g_now{0};
uint32_t fake_clock() { return g_now.load(); }

class Stats : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now = 100000;
    stats_set_clock(fake_clock);
    stats_init();
  }
  void TearDown() override { stats_set_clock(nullptr); }
};

TEST_F(Stats, line_prints_once_a_second_with_kbytes_rounded_down) {
  testing::internal::CaptureStdout();
  stats_add(STAT_BYTES, 2047);
  stats_add(STAT_RECEIVED, 3);
  g_now += 1000;
  stats_add(STAT_DECODED, 1);  // exactly 1000 ms: not yet
  EXPECT_EQ("", testing::internal::GetCapturedStdout());
  testing::internal::CaptureStdout();
  g_now += 1;
  stats_add(7, 99);  // unknown id adds nothing but still prints
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(std::string(118, '\b') + "3 recvd, 1 decd, 0 disp, 0 refr, 1 KBps, 0 missing, 0 ignored.",
            out);
  EXPECT_EQ(0u, stats_snapshot().count[STAT_BYTES]);
}

TEST_F(Stats, rolling_sets_move_running_second_to_last_second) {
  STATS_SETS ctx{}, rx{}, ch0{}, ch1{};
  STATS_SETS* chans[] = {&ch0, &ch1};
  stats_add_sets(&ctx, &rx, chans, 2, &ch0, STAT_RECEIVED, 5);
  EXPECT_EQ(5u, rx.second.count[STAT_RECEIVED]);
  EXPECT_EQ(5u, ch0.minute.count[STAT_RECEIVED]);
  g_now += 1001;
  stats_add_sets(nullptr, &rx, chans, 2, &ch1, STAT_RECEIVED, 2);
  EXPECT_EQ(5u, rx.last_second.count[STAT_RECEIVED]);
  EXPECT_EQ(2u, rx.second.count[STAT_RECEIVED]);
  EXPECT_EQ(5u, ch0.last_second.count[STAT_RECEIVED]);
  EXPECT_EQ(0u, ch0.second.count[STAT_RECEIVED]);
  // The context was not given, so it keeps its running second until its own next call.
  EXPECT_EQ(5u, ctx.second.count[STAT_RECEIVED]);
  EXPECT_EQ(7u, rx.minute.count[STAT_RECEIVED]);
  g_now += 60000;
  stats_add_sets(nullptr, &rx, chans, 2, nullptr, STAT_BYTES, 1);
  EXPECT_EQ(7u, rx.last_minute.count[STAT_RECEIVED]);
  EXPECT_EQ(0u, rx.minute.count[STAT_RECEIVED]);
}

TEST_F(Stats, counts_from_many_threads_survive_concurrent_rolls) {
  STATS_SETS rx{};
  STATS_SETS* none[1] = {nullptr};
  constexpr int kThreads = 8, kAdds = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < kAdds; ++i) stats_add_sets(nullptr, &rx, none, 0, nullptr, STAT_RECEIVED, 1);
    });
  for (int i = 0; i < 50; ++i) {  // second rolls while they count; no minute roll
    g_now += 1001;
    std::this_thread::yield();
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(uint32_t(kThreads * kAdds), rx.minute.count[STAT_RECEIVED]);
}

}  // namespace
