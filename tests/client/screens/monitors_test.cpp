// Status timer ticks and the watchdog, the mailslot timer, and the alarm pop-up driven
// in-process.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "client/foundation/config/mailslot.h"
#include "client/foundation/config/setup_config.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/user_events.h"
#include "client/screens/monitors.h"
#include "client/screens/panel.h"
#include "client/screens/screen_state.h"
#include "platform/net/local_dgram.h"
#include "platform/system/process.h"
#include "tests/client/screens/screens_fixture.h"

namespace {

std::vector<int> drain_user_events() {
  std::vector<int> got;
  SDL_Event ev;
  while (SDL_PeepEvents(&ev, 1, SDL_GETEVENT, SDL_ALLEVENTS) > 0)
    if (user_event_number(ev) > 0) got.push_back(user_event_number(ev));
  return got;
}

int count(const std::vector<int>& v, int n) { return int(std::count(v.begin(), v.end(), n)); }

class Monitors : public ScreensTest {
 protected:
  void SetUp() override {
    ScreensTest::SetUp();
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0);
    reboot_log_ = std::string(testing::TempDir()) + "reboots-" + std::to_string(getpid());
    std::remove(reboot_log_.c_str());
    setenv("VIGILO_REBOOT_COMMAND", VIGILO_REBOOT_RECORDER, 1);  // never the real restart
    setenv("VIGILO_REBOOT_LOG", reboot_log_.c_str(), 1);
    reset_status_timer();
    drain_user_events();
  }
  void TearDown() override {
    drain_user_events();
    SDL_Quit();
    std::remove(reboot_log_.c_str());
    ScreensTest::TearDown();
  }
  // The watchdog does not wait for the restart command: count once every child has ended.
  int reboots() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (reap_children() > 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::ifstream f(reboot_log_);
    std::string line;
    int n = 0;
    while (std::getline(f, line)) ++n;
    return n;
  }
  void watchdog(int w) {
    ASSERT_EQ(0, load_system_info(("[SYSTEM]\nwatchdog=" + std::to_string(w) +
                                   "\nevent_popup_type=0\nevent_popup_time=1\n")
                                      .c_str()));
    ctx->watchdog.store(get_watchdog());
  }
  std::string reboot_log_;
};

TEST_F(Monitors, first_tick_pushes_the_panel_events_together) {
  watchdog(0);
  screen_state.message_timeout.store(0);
  ctx->last_mouse_ticks.store(SDL_GetTicks());
  EXPECT_EQ(500u, status_timer(500, ctx));
  EXPECT_EQ((std::vector<int>{33, 34, 35, 36, 41, 39}), drain_user_events());
  screen_state.cam_info_shown.store(1);
  screen_state.message_timeout.store(2);
  status_timer(500, ctx);  // 500 ms: tooltip only
  EXPECT_EQ((std::vector<int>{39}), drain_user_events());
  ctx->last_mouse_ticks.store(SDL_GetTicks() - 5000);
  status_timer(500, ctx);  // 1000 ms: meters, no disk, the message counts down
  EXPECT_EQ((std::vector<int>{32, 34, 35, 38}), drain_user_events());
  EXPECT_EQ(1, screen_state.message_timeout.load());
  EXPECT_EQ(0, reboots());
}

TEST_F(Monitors, watchdog_restarts_only_a_loop_that_stopped_answering) {
  // Start-up (the loop not running yet) takes no time off the count.
  watchdog(10);
  for (int tick = 0; tick < 40; ++tick) status_timer(500, ctx);
  EXPECT_EQ(0, reboots());
  EXPECT_EQ(10, ctx->watchdog.load());
  ctx->main_loop_running.store(1);

  // Answered: the loop reloads the counter on every 37, and nothing restarts.
  for (int tick = 0; tick < 40; ++tick) {
    status_timer(500, ctx);
    if (count(drain_user_events(), UE_WATCHDOG)) ctx->watchdog.store(get_watchdog());
  }
  EXPECT_EQ(0, reboots());

  // Not answered: the 11th tick restarts.
  for (int tick = 1; tick <= 10; ++tick) status_timer(500, ctx);
  EXPECT_EQ(0, reboots());
  status_timer(500, ctx);
  EXPECT_EQ(1, reboots());

  // A modal wait does not count, however long; the loop has its whole time after it.
  watchdog(2);
  {
    ModalWait box;
    for (int tick = 0; tick < 20; ++tick) status_timer(500, ctx);
  }
  for (int tick = 0; tick < 2; ++tick) status_timer(500, ctx);
  EXPECT_EQ(1, reboots());
  status_timer(500, ctx);
  EXPECT_EQ(2, reboots());

  // Watchdog 0: no 37 and the counter untouched.
  watchdog(0);
  ctx->watchdog.store(7);
  drain_user_events();
  for (int tick = 0; tick < 30; ++tick) status_timer(500, ctx);
  EXPECT_EQ(0, count(drain_user_events(), UE_WATCHDOG));
  EXPECT_EQ(7, ctx->watchdog.load());
  EXPECT_EQ(2, reboots());
}

TEST_F(Monitors, mailslot_timer_keeps_its_period_and_the_reader) {
  char dir[] = "/tmp/vigilo-monitors-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dir));
  setenv("VIGILO_MAILSLOT_DIR", dir, 1);
  ctx->mailslot.store(mailslot_create_reader());
  ASSERT_GE(ctx->mailslot.load(), 0);
  app_options.context = ctx;
  EXPECT_EQ(500u, mailslot_timer(500, nullptr));  // empty: no failure
  uint8_t msg[MAILSLOT_REQUEST_SIZE] = {1};
  ASSERT_EQ(0, local_dgram_send(MAILSLOT_NAME, msg, 159));
  EXPECT_EQ(500u, mailslot_timer(500, nullptr));
  EXPECT_GE(ctx->mailslot.load(), 0) << "another size is ignored, the mailslot stays open";
  ASSERT_EQ(0, local_dgram_send(MAILSLOT_NAME, msg, sizeof msg));
  EXPECT_EQ(500u, mailslot_timer(500, nullptr));
  uint8_t buf[MAILSLOT_REQUEST_SIZE];
  EXPECT_EQ(0, mailslot_read(ctx->mailslot.load(), buf, sizeof buf)) << "the request was taken";
  // A reader that fails is closed; the timer keeps its period.
  int broken = ctx->mailslot.load();
  local_dgram_close(broken, MAILSLOT_NAME);
  ctx->mailslot.store(broken + 1000);  // a descriptor that is not open
  EXPECT_EQ(500u, mailslot_timer(500, nullptr));
  EXPECT_EQ(-1, ctx->mailslot.load());
  app_options.context = nullptr;
  unsetenv("VIGILO_MAILSLOT_DIR");
  rmdir(dir);
}

TEST_F(Monitors, popup_single_view_shows_the_channel_and_restores_the_view) {
  add_channels(16);
  make_video_surface();
  set_layout(ctx, 4);
  select_channel(ctx, 3);
  set_channel_audio(ctx, 3);
  auto request = [&](int action, int type, int id) {
    handle_popup_request(
        user_event(UE_POPUP, reinterpret_cast<void*>(intptr_t((action << 8) | type)),
                   reinterpret_cast<void*>(intptr_t(id))),
        ctx, &app_options);
  };
  request(1, 0, 9);
  EXPECT_EQ(1, ctx->layout.load());
  EXPECT_EQ(9, ctx->page.load());
  EXPECT_EQ(1, channel(9).selected.load());
  EXPECT_EQ(1, channel(9).audio_on.load());
  EXPECT_EQ(0, channel(3).selected.load());
  request(2, 0, 9);
  EXPECT_EQ(4, ctx->layout.load());
  EXPECT_EQ(0, ctx->page.load());
  EXPECT_EQ(1, channel(3).selected.load());
  EXPECT_EQ(1, channel(3).audio_on.load());
  EXPECT_EQ(0, channel(9).selected.load());

  // Enlarged view: the alarm channel replaces the enlarged one, which comes back after.
  toggle_single_view(ctx, 2);
  request(1, 2, 9);
  EXPECT_EQ(VIEW_SINGLE, ctx->single_view.load());
  EXPECT_EQ(9, ctx->single_channel.load());
  request(2, 2, 9);
  EXPECT_EQ(VIEW_SINGLE, ctx->single_view.load());
  EXPECT_EQ(2, ctx->single_channel.load());
}

TEST_F(Monitors, popup_thread_asks_the_loop_and_ends_on_quit) {
  watchdog(0);  // event_popup_type 0, event_popup_time 1
  app_options.context = ctx;
  app_quit.store(0);
  std::thread popup([] { event_popup_thread(nullptr); });
  ctx->alarm_channel.store(6);
  std::vector<std::pair<intptr_t, intptr_t>> asked;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (asked.size() < 2 && std::chrono::steady_clock::now() < deadline) {
    SDL_Event ev;
    if (SDL_PeepEvents(&ev, 1, SDL_GETEVENT, SDL_ALLEVENTS) > 0 &&
        user_event_number(ev) == UE_POPUP)
      asked.emplace_back(reinterpret_cast<intptr_t>(ev.user.data1),
                         reinterpret_cast<intptr_t>(ev.user.data2));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ((std::vector<std::pair<intptr_t, intptr_t>>{{0x100, 6}, {0x200, 6}}), asked);
  while (ctx->alarm_channel.load() != -1 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(-1, ctx->alarm_channel.load());
  const auto quit = std::chrono::steady_clock::now();
  app_quit.store(1);
  popup.join();
  EXPECT_LT(std::chrono::steady_clock::now() - quit, std::chrono::seconds(1));
  app_quit.store(0);
  app_options.context = nullptr;
}

}  // namespace
