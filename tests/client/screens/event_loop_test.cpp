// Window loop handlers without a display: double clicks, layout numbers from another
// process range-checked, the layout keys, the exit question, a later login that keeps the
// selection, and the tour's end.
#include <cstring>
#include <filesystem>
#include <string>

#include "client/foundation/config/app_options.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/user_events.h"
#include "client/links/link_notices.h"
#include "client/screens/event_loop.h"
#include "client/screens/panel.h"
#include "tests/client/screens/screens_fixture.h"

namespace {

class Loop : public ScreensTest {
 protected:
  void SetUp() override {
    ScreensTest::SetUp();
    init_app_options(&app_options);
    app_options.context = ctx;
    app_options.conn_state.store(CONN_DISCONNECTED);
    app_quit.store(0);
  }
  void TearDown() override {
    set_message_box_hook(nullptr);
    app_quit.store(0);
    ScreensTest::TearDown();
  }
  SDL_Event key(SDLKey sym, SDLMod mod = KMOD_NONE) {
    SDL_Event ev{};
    ev.type = SDL_KEYDOWN;
    ev.key.keysym.sym = sym;
    ev.key.keysym.mod = mod;
    return ev;
  }
};

TEST(DoubleClick, needs_two_releases_within_400_ms_and_5_pixels) {
  struct Step {
    uint32_t t;
    int x, y, dbl;
  } steps[] = {
      {10000, 100, 100, 0}, {10300, 103, 104, 1},  // 300 ms, within 5 pixels
      {10600, 103, 104, 1},  // a third release 300 ms later is a second double click
      {11000, 103, 104, 0},  // 400 ms is too late
      {11100, 109, 104, 0},  // 6 pixels away
      {11200, 109, 110, 0},
  };
  note_button_release(0, -5000, -5000);
  for (const Step& s : steps) EXPECT_EQ(note_button_release(s.t, s.x, s.y), s.dbl) << s.t;
}

TEST_F(Loop, link_layout_numbers_are_range_checked) {
  add_channels(16);
  ASSERT_EQ(set_layout(ctx, 4), 0);
  uint8_t buf[COMM_MESSAGE_SIZE];
  struct Case {
    int layout, page, want_layout, want_page;
  } cases[] = {{99, 0, 4, 0}, {-1, 0, 4, 0}, {0, 0, 4, 0},         {13, 0, 4, 0},
               {2, -5, 2, 0}, {2, 3, 2, 3},  {1, 2000000000, 1, 0}};
  for (const Case& c : cases) {
    testing::internal::CaptureStdout();
    handle_main_user_event(layout_command(c.layout, c.page, buf), ctx, &app_options);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(ctx->layout, c.want_layout) << c.layout << "/" << c.page;
    EXPECT_EQ(ctx->page, c.want_page) << c.layout << "/" << c.page;
  }
}

TEST_F(Loop, layout_and_page_keys) {
  add_channels(16);
  for (int n = 1; n <= 6; ++n) {
    handle_main_key(key(SDLKey(SDLK_0 + n)), ctx, &app_options);
    EXPECT_EQ(ctx->layout, n);
  }
  handle_main_key(key(SDLK_DOWN), ctx, &app_options);
  EXPECT_EQ(ctx->layout, 5);
  handle_main_key(key(SDLK_UP), ctx, &app_options);
  EXPECT_EQ(ctx->layout, 6);
  handle_main_key(key(SDLK_2), ctx, &app_options);
  handle_main_key(key(SDLK_PAGEUP), ctx, &app_options);
  EXPECT_EQ(ctx->page, 1);
  handle_main_key(key(SDLK_PAGEDOWN), ctx, &app_options);
  EXPECT_EQ(ctx->page, 0);
  handle_main_key(key(SDLK_PAGEDOWN), ctx, &app_options);
  EXPECT_EQ(ctx->page, 3);
  handle_main_key(key(SDLK_b, KMOD_LSHIFT), ctx, &app_options);
  EXPECT_EQ(channel(12).brightness, 16);
  EXPECT_EQ(channel(0).brightness, 0);  // not on the page
}

std::string last_box;
BoxAnswer answer = BoxAnswer::no;
BoxAnswer fake_box(const char* title, const char* text, BoxButtons) {
  last_box = std::string(title) + "|" + text;
  return answer;
}

TEST_F(Loop, escape_backs_out_to_the_exit_question) {
  add_channels(4);
  ASSERT_EQ(set_layout(ctx, 2), 0);
  set_message_box_hook(fake_box);
  channel(1).selected = 1;
  last_box.clear();
  handle_main_key(key(SDLK_ESCAPE), ctx, &app_options);
  EXPECT_EQ(count_selected_channels(ctx), 0);  // first the selection goes
  EXPECT_TRUE(last_box.empty());
  answer = BoxAnswer::no;
  handle_main_key(key(SDLK_ESCAPE), ctx, &app_options);
  EXPECT_EQ(last_box.rfind("Warning MessageBox|", 0), 0u);
  EXPECT_EQ(app_quit.load(), 0);
  answer = BoxAnswer::yes;
  handle_main_key(key(SDLK_q), ctx, &app_options);
  EXPECT_EQ(app_quit.load(), 1);
}

// A DVR that reconnects every few seconds logs in again each time: only a login that finds
// nothing selected offers channel 0 and its sound.
TEST_F(Loop, a_later_login_keeps_the_operators_selection_and_audio) {
  add_channels(8);
  const std::filesystem::path here = std::filesystem::current_path();
  char tmpl[] = "/tmp/vigilo-login-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  std::filesystem::current_path(tmpl);  // the system log's ./logs goes there
  RECEIVER_INFO* rx = &ctx->receivers[0];
  handle_main_user_event(user_event(UE_LOGGED_IN, rx), ctx, &app_options);
  EXPECT_EQ(channel(0).selected, 1);
  EXPECT_EQ(channel(0).audio_on.load(), 1);

  // The operator moves the selection and the sound to channel 5.
  clear_channel_selection(ctx);
  clear_channel_audio(ctx);
  select_channel(ctx, 5);
  set_channel_audio(ctx, 5);
  handle_main_user_event(user_event(UE_LOGGED_IN, rx), ctx, &app_options);
  EXPECT_EQ(channel(0).selected, 0);
  EXPECT_EQ(channel(0).audio_on.load(), 0);
  EXPECT_EQ(channel(5).selected, 1);
  EXPECT_EQ(channel(5).audio_on.load(), 1);
  std::filesystem::current_path(here);
  std::filesystem::remove_all(tmpl);
}

TEST_F(Loop, tour_ends_soon_after_its_flag_is_cleared) {
  ctx->tour.store(1);
  SDL_Thread* t = SDL_CreateThread(sequence_thread, ctx);
  ASSERT_NE(t, nullptr);
  SDL_Delay(150);
  const Uint32 start = SDL_GetTicks();
  ctx->tour.store(0);
  SDL_WaitThread(t, nullptr);
  EXPECT_LT(SDL_GetTicks() - start, 1500u);
}

}  // namespace

namespace {

// The loop takes a slice of the notices per turn and shows a DVR's error box once that
// slice is done: notices behind the box are not held by it, and a backlog leaves the loop
// free for SDL's events.
TEST_F(Loop, notices_drain_in_slices_and_error_boxes_come_after_the_slice) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0);
  add_channels(16);
  ASSERT_EQ(set_layout(ctx, 1), 0);
  static int layout_at_box;
  layout_at_box = -1;
  set_message_box_hook([](const char* title, const char* text, BoxButtons) {
    last_box = std::string(title) + "|" + text;
    layout_at_box = app_context.layout.load();
    return BoxAnswer::ok;
  });
  last_box.clear();
  clear_link_notices();
  app_options.logged_in = 1;
  uint8_t buf[COMM_MESSAGE_SIZE];
  ASSERT_EQ(0, post_link_error_box(0, "The passwordd was incorrect."));
  layout_command(4, 0, buf);
  ASSERT_EQ(0, post_link_notice(UE_LINK_COMMAND, buf, sizeof buf));
  layout_command(2, 0, buf);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(0, post_link_notice(UE_LINK_COMMAND, buf, sizeof buf));
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  SDL_PushEvent(&quit);
  testing::internal::CaptureStdout();
  EXPECT_EQ(0, main_event_loop(&app_options));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ("ZOL Main|The passwordd was incorrect.", last_box);
  EXPECT_NE(1, layout_at_box) << "the box waited for the slice behind it";
  LINK_NOTICE left;
  EXPECT_TRUE(take_link_notice(&left)) << "a slice, not the whole backlog, in one turn";
  clear_link_notices();
  SDL_Quit();
}

}  // namespace
