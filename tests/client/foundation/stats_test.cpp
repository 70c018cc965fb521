// Statistics: the once-a-second line and the rolling per-second sets.
#include "client/foundation/stats.h"
#include "client/screens/panel.h"
#include "platform/sync/test_clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
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
    set_test_clock(TEST_CLOCK_STATS, fake_clock);
    stats_init();
  }
  void TearDown() override { set_test_clock(TEST_CLOCK_STATS, nullptr); }
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
  EXPECT_EQ(
      std::string(118, '\b') + "3 recvd, 1 decd, 0 disp, 0 refr, 1 KBps, 0 missing, 0 ignored.",
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

TEST_F(Stats, every_receiver_and_channel_rolls_its_own_second) {
  // Two DVRs at 10 fps (the second's frames 5 ms after the first's) and a third that sends
  // 10 fps for two seconds and then nothing; each frame counts as a receive thread counts it,
  // and the camera box reads each DVR as it does, with a count of 0.
  STATS_SETS a{}, b{}, c{}, a0{}, b0{}, c0{};
  STATS_SETS* ac[] = {&a0};
  STATS_SETS* bc[] = {&b0};
  STATS_SETS* cc[] = {&c0};
  auto frame = [](STATS_SETS* rx, STATS_SETS* const* chans, STATS_SETS* ch, uint32_t bytes) {
    stats_add_sets(nullptr, rx, chans, 1, ch, STAT_RECEIVED, 1);
    stats_add_sets(nullptr, rx, chans, 1, ch, STAT_BYTES, bytes);
  };
  for (uint32_t ms = 0; ms <= 5000; ms += 100) {
    g_now = 100000 + ms;
    frame(&a, ac, &a0, 2048);
    g_now += 5;
    frame(&b, bc, &b0, 4096);
    g_now += 45;
    if (ms < 2000) frame(&c, cc, &c0, 1024);
  }
  g_now = 105050;
  stats_add_sets(nullptr, &a, ac, 1, &a0, STAT_RECEIVED, 0);
  stats_add_sets(nullptr, &b, bc, 1, &b0, STAT_RECEIVED, 0);
  EXPECT_EQ(10u, a.last_second.count[STAT_RECEIVED]);
  EXPECT_EQ(10u, a0.last_second.count[STAT_RECEIVED]);
  EXPECT_EQ(20u * 1024, a0.last_second.count[STAT_BYTES]);
  EXPECT_EQ(10u, b.last_second.count[STAT_RECEIVED]);
  EXPECT_EQ(10u, b0.last_second.count[STAT_RECEIVED]);
  EXPECT_EQ(40u * 1024, b0.last_second.count[STAT_BYTES]);
  g_now = 106200;
  stats_add_sets(nullptr, &c, cc, 1, &c0, STAT_RECEIVED, 0);
  EXPECT_EQ(0u, c.last_second.count[STAT_RECEIVED]);
  EXPECT_EQ(0u, c0.last_second.count[STAT_RECEIVED]);
  EXPECT_EQ(0u, c0.last_second.count[STAT_BYTES]);
}

TEST_F(Stats, counts_from_many_threads_survive_concurrent_rolls_and_the_camera_box) {
  // Receive threads count one channel while the clock passes seconds and the camera box reads
  // the channel's last second as the window does.
  auto rx = std::make_unique<RECEIVER_INFO>();
  rx->num_video = 1;
  constexpr int kThreads = 8, kAdds = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < kAdds; ++i)
        stats_add_rx(nullptr, rx.get(), &rx->channels[0], STAT_RECEIVED, 1);
    });
  char lines[9][128];
  for (int i = 0; i < 50; ++i) {  // second rolls while they count; no minute roll
    g_now += 1001;
    EXPECT_EQ(8, cam_info_lines(nullptr, rx.get(), 0, false, lines));
    std::this_thread::yield();
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(uint32_t(kThreads * kAdds), rx->stats.minute.count[STAT_RECEIVED]);
  EXPECT_EQ(uint32_t(kThreads * kAdds), rx->channels[0].stats.minute.count[STAT_RECEIVED]);
}

}  // namespace
