// The main window panel's rules on the run tree's skin, without a display: meter steps, the
// layout strip's jumps, the user menu's registrations and removals, the camera information
// lines of both window sizes, the tooltip kept off the video area, and hides of the pad and
// the message line that hold against the refresh timer's thread.
#include <SDL/SDL_ttf.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "client/foundation/config/utils.h"
#include "client/foundation/sdl_lock.h"
#include "client/screens/panel.h"
#include "client/screens/skin.h"
#include "tests/client/screens/eventually.h"
#include "tests/client/screens/run_tree.h"
#include "tests/client/screens/screens_fixture.h"

namespace {

constexpr int kMain = 2, kActiveMenu1 = 148, kInactiveMenu = 163, kSlot1 = 164;

std::vector<std::string> boxes;
BoxAnswer note_box(const char*, const char* text, BoxButtons) {
  boxes.push_back(text);
  return BoxAnswer::ok;
}

class Panel : public ScreensTest {
 protected:
  void SetUp() override {
    ScreensTest::SetUp();
    ASSERT_EQ(chdir(run_tree_dir().c_str()), 0);
    ASSERT_EQ(TTF_Init(), 0);
    init_skins();
    ASSERT_EQ(load_skin("skin.cfg", kMain), 0);
    ctx->skin_window = kMain;
    reset_user_menu();
    boxes.clear();
    set_message_box_hook(note_box);
  }
  void TearDown() override {
    set_message_box_hook(nullptr);
    reset_user_menu();
    free_skins();
    TTF_Quit();
    ScreensTest::TearDown();
  }
  // Two widgets show the same look: their first state pictures match pixel for pixel.
  static bool same_look(int a, int b) {
    SDL_Surface* p = get_widget_state_image(kMain, a, 0);
    SDL_Surface* q = get_widget_state_image(kMain, b, 0);
    if (!p || !q || p->w != q->w || p->h != q->h ||
        p->format->BytesPerPixel != q->format->BytesPerPixel)
      return false;
    for (int y = 0; y < p->h; ++y)
      if (memcmp(static_cast<Uint8*>(p->pixels) + y * p->pitch,
                 static_cast<Uint8*>(q->pixels) + y * q->pitch,
                 size_t(p->w) * p->format->BytesPerPixel) != 0)
        return false;
    return true;
  }
};

TEST(PanelRules, meter_steps_by_tens_and_refuses_outside_0_to_100) {
  const int table[][2] = {{0, 0},   {1, 1},    {10, 1},   {11, 2}, {55, 6},
                          {91, 10}, {100, 10}, {101, -1}, {-1, -1}};
  for (const auto& row : table) EXPECT_EQ(meter_step(row[0]), row[1]) << row[0];
}

TEST(PanelRules, layout_strip_jumps_over_the_two_missing_buttons_of_the_small_window) {
  APP_CONTEXT* ctx = &app_context;
  ctx->skin = 0;  // the index alone; nothing is drawn
  while (layout_strip_first() != 0) scroll_layout_strip_right(ctx);
  for (int i = 0; i < 5; ++i) scroll_layout_strip_right(ctx);
  EXPECT_EQ(layout_strip_first(), 5);
  scroll_layout_strip_right(ctx);
  EXPECT_EQ(layout_strip_first(), 8);
  scroll_layout_strip_left(ctx);
  EXPECT_EQ(layout_strip_first(), 7);
  scroll_layout_strip_left(ctx);
  EXPECT_EQ(layout_strip_first(), 4);
  while (layout_strip_first() != 0) scroll_layout_strip_left(ctx);
  scroll_layout_strip_left(ctx);
  EXPECT_EQ(layout_strip_first(), 12);
}

TEST_F(Panel, user_menu_holds_15_layouts_refuses_a_16th_and_a_repeat) {
  for (int layout = 1; layout <= 15; ++layout) {
    ctx->layout = layout;
    ASSERT_EQ(register_layout_in_menu(ctx), 0) << layout;
  }
  EXPECT_EQ(user_menu_count(), 15);
  EXPECT_TRUE(boxes.empty());
  ctx->layout = 3;
  EXPECT_EQ(register_layout_in_menu(ctx), -1);
  EXPECT_TRUE(boxes.empty()) << "a repeat is only a diagnostic";
  ctx->layout = 16;
  EXPECT_EQ(register_layout_in_menu(ctx), -2);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "Maximum register in user menu.");
  // Slot 3 recalls its layout.
  ctx->layout = 1;
  EXPECT_EQ(select_menu_layout(ctx, kSlot1 + 2), 0);
  EXPECT_EQ(ctx->layout, 3);
}

TEST_F(Panel, removing_the_first_of_three_moves_the_rest_left_and_empties_slot_3) {
  for (int layout = 1; layout <= 3; ++layout) {
    ctx->layout = layout;
    ASSERT_EQ(register_layout_in_menu(ctx), 0);
  }
  ASSERT_EQ(remove_user_menu_entry(ctx, kSlot1), 0);
  EXPECT_EQ(user_menu_count(), 2);
  EXPECT_EQ(user_menu_layout(kSlot1), 2);
  EXPECT_EQ(user_menu_layout(kSlot1 + 1), 3);
  EXPECT_EQ(user_menu_source(kSlot1 + 1), kActiveMenu1 + 2);
  EXPECT_EQ(user_menu_source(kSlot1 + 2), 0);
  EXPECT_TRUE(same_look(kSlot1 + 2, kInactiveMenu));
  EXPECT_TRUE(same_look(kSlot1 + 1, kActiveMenu1 + 2));
  // The freed look serves the next registration.
  ctx->layout = 4;
  ASSERT_EQ(register_layout_in_menu(ctx), 0);
  EXPECT_EQ(user_menu_source(kSlot1 + 2), kActiveMenu1);
  EXPECT_EQ(remove_user_menu_entry(ctx, 0), -1);
}

TEST_F(Panel, a_refused_registration_leaves_its_look_free) {
  SKIN_WIDGET* first_look = get_skin_widget(kMain, kActiveMenu1);
  ASSERT_NE(first_look, nullptr);
  first_look->w += 1;  // a look of another size cannot be copied into a slot
  ctx->layout = 1;
  register_layout_in_menu(ctx);
  first_look->w -= 1;
  EXPECT_EQ(user_menu_count(), 0);
  ASSERT_EQ(register_layout_in_menu(ctx), 0);
  EXPECT_EQ(user_menu_source(kSlot1), kActiveMenu1);
}

TEST_F(Panel, camera_information_lines_of_the_small_and_the_large_window) {
  add_channels(4);
  RECEIVER_INFO& rx = ctx->receivers[0];
  snprintf(rx.address, sizeof rx.address, "10.0.0.7");
  CHANNEL_INFO& ch = rx.channels[2];
  snprintf(ch.camera_name, sizeof ch.camera_name, "Gate");
  ch.stats.last_second.count[STAT_RECEIVED] = 25;
  ch.stats.last_second.count[STAT_BYTES] = 40 * 1024;
  ch.zoom_factor = 2.0;
  ch.scale_factor = 1.5;
  char lines[9][128];
  ASSERT_EQ(cam_info_lines(ctx, &rx, 2, true, lines), 3) << "no size line without a picture";
  ch.surface = create_tile_surface(ctx, 352, 240);
  const std::vector<std::string> small{"Cam No.: 3", "DVR: DVR-1",
                                       "Size: 352x240 / Fps: 25 fps / 40 kBps", "IP: 10.0.0.7"};
  ASSERT_EQ(cam_info_lines(ctx, &rx, 2, true, lines), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(lines[i], small[i]);
  const std::vector<std::string> large{"DVR: DVR-1",        "Cam No.: 3",    "Cam Label: Gate",
                                       "IP: 10.0.0.7",      "Size: 352x240", "FPS: 25 fps",
                                       "Bit Rate: 40 kBps", "Zoom:   2.0X",  "Scale:   1.5X"};
  ASSERT_EQ(cam_info_lines(ctx, &rx, 2, false, lines), 9);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(lines[i], large[i]);
}

// The refresh timer runs on its own thread while the window loop hides the pad and the
// message line: a hide made while a tick that found them shown is under way must hold, and
// neither be drawn back (widgets shown again) nor have its word set back to shown.
TEST_F(Panel, pad_and_message_hidden_during_a_refresh_tick_stay_hidden) {
  ctx->skin = 1;
  set_window_geometry(ctx, 0, 0);  // the skin's window and video area
  ctx->surfaces[SURF_SCREEN] = create_tile_surface(ctx, ctx->win_w, ctx->win_h);
  make_video_surface();
  place_popup_panel(ctx, ctx->video_rect.x + 8, ctx->video_rect.y + 8);
  ASSERT_EQ(set_message(ctx, "Recording started."), 0);
  std::vector<int> pad{find_widget(kMain, "popup_frame"), find_widget(kMain, "pip2"),
                       find_widget(kMain, "digital_zoom_in"),
                       find_widget(kMain, "digital_zoom_out")};
  for (int w = 28; w <= 38; ++w) pad.push_back(w);
  const int message = find_widget(kMain, "message");
  ASSERT_GT(message, 0);
  std::atomic<bool> stop{false};
  std::thread timer([&] {  // live video keeps every tick drawing
    while (!stop.load()) {
      ctx->dirty.store(1);
      refresh_timer(25, ctx);
    }
  });
  int undone = 0;
  for (int i = 0; i < 150; ++i) {
    const auto spin = [i] {  // the hide lands at another point of the tick each time
      for (auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(i % 10 * 70);
           std::chrono::steady_clock::now() < end;) {}
    };
    show_popup_panel(ctx);
    ASSERT_TRUE(eventually([&] { return ctx->popup_state.load() == 2; }, 5000, 1));
    spin();
    ASSERT_EQ(hide_popup_panel(ctx), 0);
    {
      SdlLock lock(ctx->display_mutex);
      show_message(ctx);
    }
    spin();
    ASSERT_EQ(hide_message(ctx), 0);
    const bool settled = eventually(
        [&] { return ctx->popup_state.load() == 1 && ctx->message_state.load() == 1; }, 1000, 1);
    int shown = get_widget_attr(kMain, message, 1) == 0;
    for (int w : pad) shown += get_widget_attr(kMain, w, 1) == 0;
    undone += !settled || shown > 0;
  }
  stop = true;
  timer.join();
  EXPECT_EQ(undone, 0) << "of 150 hides";
  SDL_FreeSurface(ctx->surfaces[SURF_SCREEN]);
  ctx->surfaces[SURF_SCREEN] = nullptr;
}

TEST(PanelRules, tooltip_stays_in_the_window_and_off_the_video_area) {
  const RECT16 v{100, 100, 800, 600};
  auto same = [](const SDL_Rect& r, int x, int y, int w, int h) {
    return r.x == x && r.y == y && r.w == w && r.h == h;
  };
  EXPECT_TRUE(same(place_tooltip(950, 500, 100, 20, 1280, 1024, v), 950, 500, 100, 20));
  EXPECT_TRUE(same(place_tooltip(1250, 50, 100, 20, 1280, 1024, v), 1180, 50, 100, 20));
  EXPECT_TRUE(same(place_tooltip(60, 300, 100, 20, 1280, 1024, v), 0, 300, 100, 20));
  // Pushed left off the window's edge it would land on the video: it starts after the
  // video and is cut at the window's edge.
  EXPECT_TRUE(same(place_tooltip(950, 300, 150, 20, 1000, 1024, v), 900, 300, 100, 20));
  // Wherever the pointer stands on the panel, the tip never covers the video.
  for (int y = 0; y < 1024; y += 37)
    for (int x = 0; x < 1280; x += 41) {
      if (x >= v.x && x < v.x + v.w && y >= v.y && y < v.y + v.h) continue;
      const SDL_Rect r = place_tooltip(x, y, 150, 24, 1280, 1024, v);
      SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
      EXPECT_TRUE(r.x >= 0 && r.y >= 0 && r.x + r.w <= 1280 && r.y + r.h <= 1024);
      EXPECT_FALSE(r.x < v.x + v.w && r.x + r.w > v.x && r.y < v.y + v.h && r.y + r.h > v.y);
    }
}

}  // namespace
