// Tiles on software surfaces: pictures land in their cells pixel for pixel, 'Q' pictures
// lose their padding, zoom steps and adjustment bounds, stretches that would leave either
// surface are clamped, the refresh timer copies the video surface and gives the screen its
// clipping back, and a fatal box leaves the display mutex free.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "client/foundation/config/setup_config.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/sdl_lock.h"
#include "client/screens/skin.h"
#include "tests/client/foundation/config_test_support.h"
#include "tests/client/screens/eventually.h"
#include "tests/platform/env_guard.h"
#include "tests/platform/private_x.h"

#include "tests/client/screens/screens_fixture.h"

namespace {

using Tiles = ScreensTest;

// A picture of `w` x `h` filled with `colour`, given to channel `id`.
SDL_Surface* give_picture(APP_CONTEXT* ctx, CHANNEL_INFO& ch, int w, int h, Uint32 colour) {
  SDL_Surface* s = create_tile_surface(ctx, w, h);
  SDL_FillRect(s, nullptr,
               SDL_MapRGB(s->format, colour >> 16, (colour >> 8) & 0xFF, colour & 0xFF));
  ch.surface = s;
  ch.pic_rect = {0, 0, uint16_t(w), uint16_t(h)};
  return s;
}

TEST_F(Tiles, picture_fills_its_cell_and_a_stretched_selected_one_is_framed) {
  add_channels(4);
  make_video_surface();
  ASSERT_EQ(set_layout(ctx, 2), 0);  // 320 x 240 cells
  give_picture(ctx, channel(1), 320, 240, 0x2080C0);
  ASSERT_EQ(draw_channel(find_receiver_by_channel(ctx, 1), 1), 0);
  SDL_Surface* v = ctx->surfaces[SURF_VIDEO];
  EXPECT_EQ(rgb_at(v, 320, 0), 0x2080C0u);
  EXPECT_EQ(rgb_at(v, 639, 239), 0x2080C0u);
  EXPECT_NE(rgb_at(v, 319, 0), 0x2080C0u);
  EXPECT_NE(rgb_at(v, 320, 240), 0x2080C0u);
  EXPECT_EQ(ctx->dirty.load(), 1);
  give_picture(ctx, channel(0), 352, 240, 0x30A040);
  channel(0).selected = 1;
  ASSERT_EQ(draw_channel(find_receiver_by_channel(ctx, 0), 0), 0);
  EXPECT_EQ(rgb_at(v, 0, 0), 0xFFFF00u);  // yellow frame
  EXPECT_EQ(rgb_at(v, 319, 239), 0xFFFF00u);
  EXPECT_EQ(rgb_at(v, 1, 1), 0x30A040u);  // picture inset by one pixel
  EXPECT_EQ(rgb_at(v, 318, 238), 0x30A040u);
}

// SNAP of two selected channels: the record folder of a fresh installation is made, both
// pictures are saved, and one box shows while the channels' picture locks are free (a
// decoder drawing that channel must not wait for the operator).
TEST_F(Tiles, snap_makes_the_folder_and_shows_one_box_with_no_picture_lock_held) {
  cfgtest::TempDir dir;
  const std::string rec = dir.path() + "/fresh/rec/";
  ASSERT_EQ(
      load_setup_info(dir.write("setup.cfg", cfgtest::replace(cfgtest::base_text(),
                                                              "rec_path=./rec/", "rec_path=" + rec))
                          .c_str()),
      0);
  add_channels(2);
  for (int id = 0; id < 2; ++id) {
    give_picture(ctx, channel(id), 32, 24, 0x406080);
    select_channel(ctx, id);
  }
  static CHANNEL_INFO* watched;
  static std::thread* taker;
  static std::atomic<bool> taken;
  static int boxes;
  watched = &channel(1);
  taken = false;
  boxes = 0;
  std::thread t;
  taker = &t;
  set_message_box_hook([](const char*, const char*, BoxButtons) {
    if (boxes++ == 0) {
      *taker = std::thread([] {
        SdlLock lock(watched->mutex);
        taken = true;
      });
      eventually([] { return taken.load(); }, 5000);
    }
    return BoxAnswer::ok;
  });
  EXPECT_EQ(save_selected_pictures(get_rec_path(), ctx), 0);
  set_message_box_hook(nullptr);
  const bool free_during_box = taken.load();
  if (t.joinable()) t.join();
  EXPECT_TRUE(free_during_box);
  EXPECT_EQ(boxes, 1);
  int jpegs = 0, bmps = 0;
  for (const auto& e : std::filesystem::directory_iterator(rec)) {
    jpegs += e.path().extension() == ".jpg";
    bmps += e.path().extension() == ".bmp";
  }
  EXPECT_EQ(jpegs, 2);
  EXPECT_EQ(bmps, 0);
}

// Size changes while a decoder draws through the work surface under the display lock, as it
// halves wide pictures: the surface is replaced inside that lock, so the decoder never writes
// into a freed one (AddressSanitizer reports it if it does).
TEST_F(Tiles, size_changes_never_free_the_work_surface_under_a_drawing_decoder) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0);
  ASSERT_EQ(create_video_mode(ctx), 0);
  std::atomic<bool> done{false};
  std::atomic<long> draws{0};
  std::thread decoder([&] {
    while (!done.load()) {
      SdlLock display(ctx->display_mutex);
      if (SDL_Surface* work = ctx->surfaces[SURF_WORK]) SDL_FillRect(work, nullptr, 0x404040);
      ++draws;
    }
  });
  for (int i = 0; i < 40; ++i) {
    const long seen = draws.load();
    set_window_size(ctx, i % 2 ? 800 : 704, 0, 1);
    eventually([&] { return draws.load() > seen; }, 5000);  // the decoder drew in between
  }
  done = true;
  decoder.join();
  ASSERT_NE(ctx->surfaces[SURF_WORK], nullptr);
  EXPECT_EQ(ctx->surfaces[SURF_WORK]->w, 800);
  ctx->surfaces[SURF_SCREEN] = nullptr;  // SDL_Quit releases the mode's own surface
  SDL_Quit();
}

// A fatal box waits for the operator: the refresh timer and the decoders must not wait
// behind it for the display mutex (here the video mode refuses a 16-bit display).
TEST_F(Tiles, a_fatal_box_is_shown_with_the_display_mutex_free) {
  PrivateX x16(16);
  if (x16.display().empty()) GTEST_FAIL() << "Xvfb did not start";
  EnvGuard display("DISPLAY", x16.display().c_str()), driver("SDL_VIDEODRIVER", "x11");
  ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
  static APP_CONTEXT* watched;
  static std::thread* taker;
  static std::atomic<bool> taken;
  static std::string text;
  watched = ctx;
  taken = false;
  std::thread t;
  taker = &t;
  set_message_box_hook([](const char*, const char* box, BoxButtons) {
    text = box;
    *taker = std::thread([] {
      SdlLock lock(watched->display_mutex);
      taken = true;
    });
    eventually([] { return taken.load(); }, 5000);
    return BoxAnswer::ok;
  });
  EXPECT_EQ(create_video_mode(ctx), -2);
  set_message_box_hook(nullptr);
  const bool free_during_box = taken.load();
  if (t.joinable()) t.join();
  EXPECT_TRUE(free_during_box);
  EXPECT_EQ(text, "The bit depth of the display is not supported.\n");
  app_quit.store(0);
  ctx->surfaces[SURF_SCREEN] = nullptr;  // SDL_Quit releases the mode's own surface
  SDL_Quit();
}

TEST_F(Tiles, q_picture_loses_its_padding) {
  add_channels(8, 'Q');
  make_video_surface();
  ASSERT_EQ(set_layout(ctx, 1), 0);
  // 720 x 576: the padding (12 left, 16 top) is red, the picture green; its top half (280
  // lines from line 16) is stretched over the cell.
  SDL_Surface* p = give_picture(ctx, channel(0), 720, 576, 0xFF0000);
  SDL_Rect inner{12, 16, 704, 280};
  SDL_FillRect(p, &inner, SDL_MapRGB(p->format, 0, 255, 0));
  ASSERT_EQ(draw_channel(&ctx->receivers[0], 0), 0);
  SDL_Surface* v = ctx->surfaces[SURF_VIDEO];
  for (int y : {0, 240, 479})
    for (int x : {0, 320, 639}) EXPECT_EQ(rgb_at(v, x, y), 0x00FF00u) << x << "," << y;
}

TEST_F(Tiles, zoom_steps_and_limits) {
  add_channels(1);
  make_video_surface();
  ASSERT_EQ(set_layout(ctx, 1), 0);
  EXPECT_EQ(zoom_picture_in(ctx, 0, 10, 10), -4);  // no picture yet
  give_picture(ctx, channel(0), 352, 240, 0x808080);
  place_channel_cell(ctx, &channel(0));
  ASSERT_EQ(zoom_picture_in(ctx, 0, 320, 240), 0);
  EXPECT_EQ(channel(0).pic_rect.w, 320);
  EXPECT_EQ(channel(0).pic_rect.h, 219);
  EXPECT_GT(channel(0).pic_rect.x, 0);  // the step keeps the pointer's point in place
  ASSERT_EQ(zoom_picture_out(ctx, 0, 320, 240), 0);
  EXPECT_EQ(channel(0).pic_rect.w, 352);
  EXPECT_EQ(channel(0).pic_rect.h, 240);
  EXPECT_EQ(channel(0).pic_rect.x, 0);
  EXPECT_EQ(zoom_picture_out(ctx, 0, 320, 240), -5);
  for (int i = 0; i < 20 && zoom_picture_in(ctx, 0, 0, 0) == 0; ++i) {}
  EXPECT_EQ(zoom_picture_in(ctx, 0, 0, 0), -5);
  EXPECT_LE(channel(0).pic_rect.w, 64);
  EXPECT_EQ(zoom_picture_in(ctx, 7, 0, 0), -2);
  // Panning stays inside the picture.
  ASSERT_EQ(pan_zoomed_picture(ctx, 0, 1000, 1000), 0);
  EXPECT_EQ(channel(0).pic_rect.x, 0);
  EXPECT_EQ(channel(0).pic_rect.y, 0);
  ASSERT_EQ(pan_zoomed_picture(ctx, 0, -1000, -1000), 0);
  EXPECT_EQ(channel(0).pic_rect.x, 352 - channel(0).pic_rect.w);
  EXPECT_EQ(channel(0).pic_rect.y, 240 - channel(0).pic_rect.h);
  // The wheel over the video area: down zooms in, up out; with Ctrl it steps the layout.
  channel(0).pic_rect = {0, 0, 352, 240};
  const int px = ctx->video_rect.x + 320, py = ctx->video_rect.y + 240;
  EXPECT_TRUE(wheel_over_video(ctx, SDL_BUTTON_WHEELDOWN, false, 0, px, py));
  EXPECT_EQ(channel(0).pic_rect.w, 320);
  EXPECT_TRUE(wheel_over_video(ctx, SDL_BUTTON_WHEELUP, false, 0, px, py));
  EXPECT_EQ(channel(0).pic_rect.w, 352);
  EXPECT_FALSE(wheel_over_video(ctx, SDL_BUTTON_WHEELDOWN, false, -1, px, py));
  EXPECT_FALSE(wheel_over_video(ctx, SDL_BUTTON_WHEELDOWN, true, 0, px, py));
  EXPECT_EQ(channel(0).pic_rect.w, 352);
  EXPECT_EQ(ctx->layout, 2);
}

TEST_F(Tiles, picture_that_shrank_while_zoomed_is_still_drawn_safely) {
  add_channels(1);
  make_video_surface();
  ASSERT_EQ(set_layout(ctx, 1), 0);
  give_picture(ctx, channel(0), 176, 120, 0x4060A0);
  channel(0).pic_rect = {300, 200, 320, 219};  // left from a bigger picture
  EXPECT_EQ(draw_channel(&ctx->receivers[0], 0), 0);
  // A cell that reaches past the video surface is clamped, not written past its end.
  ctx->layouts[1].cells[0] = {600, 440, 320, 240};
  channel(0).pic_rect = {0, 0, 176, 120};
  EXPECT_EQ(draw_channel(&ctx->receivers[0], 0), 0);
  EXPECT_EQ(rgb_at(ctx->surfaces[SURF_VIDEO], 639, 479), 0x4060A0u);
}

TEST_F(Tiles, clamp_stretch_rects_table) {
  SDL_Surface* a = create_tile_surface(ctx, 100, 50);
  SDL_Surface* b = create_tile_surface(ctx, 40, 40);
  struct Case {
    SDL_Rect src, dst;
    bool ok;
    SDL_Rect src_out, dst_out;
  } cases[] = {
      {{0, 0, 100, 50}, {0, 0, 40, 40}, true, {0, 0, 100, 50}, {0, 0, 40, 40}},
      {{90, 40, 50, 50}, {-10, -10, 30, 30}, true, {90, 40, 10, 10}, {0, 0, 20, 20}},
      {{100, 0, 10, 10}, {0, 0, 10, 10}, false, {}, {}},
      {{0, 0, 10, 10}, {40, 0, 10, 10}, false, {}, {}},
  };
  for (const Case& c : cases) {
    SDL_Rect s = c.src, d = c.dst;
    ASSERT_EQ(clamp_stretch_rects(a, &s, b, &d), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(s.x, c.src_out.x);
    EXPECT_EQ(s.w, c.src_out.w);
    EXPECT_EQ(s.h, c.src_out.h);
    EXPECT_EQ(d.x, c.dst_out.x);
    EXPECT_EQ(d.w, c.dst_out.w);
  }
  SDL_FreeSurface(a);
  SDL_FreeSurface(b);
}

TEST_F(Tiles, adjustment_steps_and_bounds) {
  add_channels(2);
  ASSERT_EQ(set_layout(ctx, 2), 0);
  CHANNEL_INFO& ch = channel(0);
  ch.hue = 351.0f;
  hue_up(ctx, 0);
  EXPECT_FLOAT_EQ(ch.hue, 360.0f);
  hue_up(ctx, 0);
  EXPECT_FLOAT_EQ(ch.hue, 9.0f);
  ch.hue = 0.0f;
  hue_down(ctx, 0);
  EXPECT_FLOAT_EQ(ch.hue, 351.0f);
  for (int i = 0; i < 40; ++i) {
    brightness_up(ctx, -1);
    contrast_down(ctx, -1);
    saturation_up(ctx, -1);
  }
  EXPECT_EQ(ch.brightness, 255);
  EXPECT_EQ(ch.contrast, -100);
  EXPECT_EQ(ch.saturation, 128);
  EXPECT_EQ(channel(1).brightness, 255);  // negative id: every shown channel
  // A channel off the page is not adjusted, but reset reaches it.
  ASSERT_EQ(set_layout(ctx, 1), 0);
  brightness_down(ctx, -1);
  EXPECT_EQ(channel(1).brightness, 255);
  reset_adjustments(ctx, -1);
  EXPECT_EQ(channel(1).brightness, 0);
  EXPECT_FLOAT_EQ(channel(0).hue, 0.0f);
}

TEST_F(Tiles, selection_rules) {
  add_channels(16);
  make_video_surface();
  ASSERT_EQ(set_layout(ctx, 4), 0);
  EXPECT_EQ(select_channel(ctx, 99), -2);
  ASSERT_EQ(select_channels_in_rect(ctx, 5, 0), 1);  // b before a: cells 0, 1, 4, 5
  EXPECT_EQ(count_selected_channels(ctx), 4);
  EXPECT_TRUE(is_channel_selected(ctx, 4));
  EXPECT_FALSE(is_channel_selected(ctx, 2));
  save_channel_selection(ctx);
  clear_channel_selection(ctx);
  EXPECT_EQ(count_selected_channels(ctx), 0);
  restore_channel_selection(ctx);
  EXPECT_EQ(count_selected_channels(ctx), 4);
  // From top right to bottom left: the same square.
  clear_channel_selection(ctx);
  ASSERT_EQ(select_channels_in_rect(ctx, 2, 5), 1);
  EXPECT_EQ(count_selected_channels(ctx), 4);
  EXPECT_TRUE(is_channel_selected(ctx, 1) && is_channel_selected(ctx, 6));
  ctx->single_view = VIEW_PIP;
  EXPECT_EQ(select_channel(ctx, 3), -1);
}

TEST_F(Tiles, disabled_channel_leaves_the_count_and_shows_blank) {
  add_channels(4);
  make_video_surface();
  ASSERT_EQ(set_layout(ctx, 2), 0);
  ASSERT_EQ(disable_channel(ctx, 3), 0);
  EXPECT_EQ(ctx->num_channels, 3);
  EXPECT_EQ(ctx->receivers[0].channel_mask & 8u, 0u);
  EXPECT_EQ(rgb_at(ctx->surfaces[SURF_VIDEO], 320, 240), 0x808080u);  // blank frame border
  EXPECT_EQ(rgb_at(ctx->surfaces[SURF_VIDEO], 400, 300), 0x404040u);
  EXPECT_EQ(disable_channel(ctx, 40), -1);
}

TEST_F(Tiles, pip_view_toggles) {
  add_channels(4);
  ASSERT_EQ(set_layout(ctx, 2), 0);
  EXPECT_EQ(toggle_pip(ctx), 0);
  EXPECT_EQ(ctx->single_view, VIEW_TILES);  // only in a one-cell layout
  ASSERT_EQ(set_layout(ctx, 1), 0);
  ASSERT_EQ(toggle_pip(ctx), 0);
  EXPECT_EQ(ctx->single_view, VIEW_PIP);
  EXPECT_EQ(ctx->single_channel, 1);
  ASSERT_EQ(set_layout(ctx, 2), 0);  // two or more cells end the picture-in-picture
  EXPECT_EQ(ctx->single_view, VIEW_TILES);
  ASSERT_EQ(toggle_single_view(ctx, 3), 0);
  EXPECT_EQ(ctx->single_view, VIEW_SINGLE);
  EXPECT_TRUE(is_channel_shown(ctx, 3));
  ASSERT_EQ(toggle_single_view(ctx, 3), 0);
  EXPECT_EQ(ctx->single_view, VIEW_TILES);
}

TEST_F(Tiles, enlarged_window_is_half_the_video_width_at_the_bottom_right) {
  add_channels(2);
  make_video_surface();
  ASSERT_EQ(set_layout(ctx, 1), 0);
  give_picture(ctx, channel(1), 352, 240, 0x405060);
  EXPECT_EQ(draw_pip_window(ctx), -1);  // tiles only
  ASSERT_EQ(toggle_pip(ctx), 0);
  ASSERT_EQ(ctx->single_channel, 1);
  ASSERT_EQ(draw_pip_window(ctx), 0);
  SDL_Surface* e = ctx->surfaces[SURF_ENLARGED];
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->w, 320 + 8);  // wider than half the video area: 320
  EXPECT_EQ(e->h, 320 * 240 / 352 + 8);
  EXPECT_EQ(rgb_at(e, 0, 0), 0xFFFFFFu);  // white border
  EXPECT_EQ(rgb_at(e, 4, 4), 0x405060u);
  EXPECT_EQ(rgb_at(e, e->w - 5, e->h - 5), 0x405060u);
  EXPECT_EQ(ctx->enlarged_rect.x, 640 - e->w - 44);
  EXPECT_EQ(ctx->enlarged_rect.y, 480 - e->h - 44);
  ASSERT_EQ(toggle_pip(ctx), 0);  // back to tiles frees the window
  EXPECT_EQ(ctx->surfaces[SURF_ENLARGED], nullptr);
}

TEST_F(Tiles, refresh_copies_the_video_area_and_releases_the_clip) {
  add_channels(1);
  // A window-sized software surface stands in for the screen.
  ctx->win_w = 800;
  ctx->win_h = 600;
  ctx->video_rect = {100, 50, 640, 480};
  build_grid_layouts(ctx);
  ctx->surfaces[SURF_SCREEN] = create_tile_surface(ctx, 800, 600);
  make_video_surface();
  SDL_FillRect(ctx->surfaces[SURF_VIDEO], nullptr,
               SDL_MapRGB(ctx->surfaces[SURF_VIDEO]->format, 9, 99, 199));
  ctx->dirty.store(1);
  refresh_timer(25, ctx);
  SDL_Surface* s = ctx->surfaces[SURF_SCREEN];
  EXPECT_EQ(rgb_at(s, 100, 50), 0x0963C7u);
  EXPECT_EQ(rgb_at(s, 739, 529), 0x0963C7u);
  EXPECT_EQ(rgb_at(s, 99, 50), 0x000000u);
  EXPECT_EQ(ctx->dirty.load(), 0);
  SDL_Rect clip;
  SDL_GetClipRect(s, &clip);
  EXPECT_EQ(clip.w, 800);  // widgets outside the video area can be drawn again
  EXPECT_EQ(clip.h, 600);
  // A window drag skips the whole tick.
  ctx->dirty.store(1);
  ctx->playback_flags.store(PB_DRAG);
  refresh_timer(25, ctx);
  EXPECT_EQ(ctx->dirty.load(), 1);
  ctx->playback_flags.store(0);
  // Overlay words: "show requested" becomes shown, and forces a full copy next tick.
  ctx->selection_state.store(4);
  refresh_timer(25, ctx);
  EXPECT_EQ(ctx->selection_state.load(), 2);
  SDL_FreeSurface(ctx->surfaces[SURF_SCREEN]);
  ctx->surfaces[SURF_SCREEN] = nullptr;
}

// The window loop settles a merge (selection word 8) without the display mutex while the
// timer carries out the show request (4 -> 2) it read: the hide must never be overwritten,
// or the frame stays up and the next release merges again.
TEST_F(Tiles, a_hide_made_while_the_timer_shows_the_selection_is_not_undone) {
  set_window_geometry(ctx, 8, 8);  // short ticks: the timer spends more of each in the words
  ctx->surfaces[SURF_SCREEN] = create_tile_surface(ctx, 8, 8);
  make_video_surface();
  std::atomic<bool> stop{false};
  std::thread timer([&] {
    while (!stop.load()) refresh_timer(25, ctx);
  });
  // The hide lands at every point of a tick in turn; the timer's read-then-write of the word
  // is short, so many rounds are needed to meet it.
  long rounds = 0;
  bool undone = false;
  using Clock = std::chrono::steady_clock;
  for (const auto end = Clock::now() + std::chrono::seconds(5); !undone && Clock::now() < end;
       ++rounds) {
    ctx->selection_state.store(4);
    for (const auto t = Clock::now() + std::chrono::nanoseconds(rounds % 64 * 50);
         Clock::now() < t;) {}
    ctx->selection_state.store(8);
    // The timer takes the hide (8) to hidden (1) at its next tick, however late that comes on
    // a busy machine; a show written over the hide leaves 2, which no tick moves.
    EXPECT_TRUE(eventually([&] { return ctx->selection_state.load() != 8; }, 20000, 0));
    undone = ctx->selection_state.load() != 1;
  }
  stop = true;
  timer.join();
  EXPECT_FALSE(undone) << "after " << rounds << " hides";
  SDL_FreeSurface(ctx->surfaces[SURF_SCREEN]);
  ctx->surfaces[SURF_SCREEN] = nullptr;
}

TEST_F(Tiles, redraw_all_fills_empty_cells_with_blank_frames) {
  add_channels(2);
  make_video_surface();
  ASSERT_EQ(set_layout(ctx, 2), 0);
  give_picture(ctx, channel(0), 320, 240, 0x112233);
  ASSERT_EQ(redraw_all_channels(ctx), 0);
  SDL_Surface* v = ctx->surfaces[SURF_VIDEO];
  EXPECT_EQ(rgb_at(v, 10, 10), 0x112233u);
  EXPECT_EQ(rgb_at(v, 0, 240), 0x808080u);  // cell 2 has no channel
  EXPECT_EQ(rgb_at(v, 10, 250), 0x404040u);
}

}  // namespace

namespace {

// Marks need the skin's pictures: the default skin of the run tree.
class TileMarks : public ScreensTest {
 protected:
  void SetUp() override {
    ScreensTest::SetUp();
    const char* run = getenv("VIGILO_RUN_DIR");
    if (!run || chdir(run) != 0) GTEST_FAIL() << "no run tree";
    setenv("VIGILO_BOX_ANSWER", "ok", 1);
    init_skins();
    if (load_skin("skin.cfg", 2) != 0) GTEST_FAIL() << "default skin not loadable";
    ctx->skin_window = 2;
  }
  void TearDown() override {
    free_skins();
    ScreensTest::TearDown();
  }
  // Pixels of the picture colour in columns [x0, x1) of the cell's mark row.
  int picture_pixels(int x0, int x1, int y0, int h, Uint32 colour) {
    int n = 0;
    for (int y = y0; y < y0 + h; ++y)
      for (int x = x0; x < x1; ++x) n += rgb_at(ctx->surfaces[SURF_VIDEO], x, y) == colour;
    return n;
  }
};

TEST_F(TileMarks, motion_mark_blinks_with_the_frame_time_and_shrinks_with_the_grid) {
  SDL_Surface* full = find_widget_by_name(2, "motion_icon");
  SDL_Surface* small = find_widget_by_name(2, "motion_icon_22");
  if (!full || !small) GTEST_FAIL() << "skin without motion marks";
  add_channels(25);
  make_video_surface();
  const Uint32 colour = 0x206040;
  give_picture(ctx, channel(0), 352, 240, colour);
  channel(0).event_marks.store(0x02);
  struct Case {
    int layout;
    double time;
    SDL_Surface* mark;  // nullptr: no mark expected
  } cases[] = {{2, 100.5, full}, {2, 100.8, nullptr}, {5, 7.25, small}, {5, 7.75, nullptr}};
  for (const Case& c : cases) {
    ASSERT_EQ(set_layout(ctx, c.layout), 0);
    channel(0).frame_time = c.time;
    ASSERT_EQ(draw_channel(find_receiver_by_channel(ctx, 0), 0), 0);
    const RECT16 cell = channel(0).rect;
    const int right = cell.x + cell.w - 2;
    const int w = full->w, h = full->h < cell.h - 2 ? full->h : cell.h - 2;
    const int area = (right - (right - w)) * h;
    const int plain = picture_pixels(right - w, right, cell.y + 2, h, colour);
    if (!c.mark) {
      EXPECT_EQ(plain, area) << c.layout << " " << c.time;
      continue;
    }
    const int mark_plain = picture_pixels(right - c.mark->w, right, cell.y + 2, c.mark->h, colour);
    EXPECT_LT(mark_plain, c.mark->w * c.mark->h) << c.layout << " " << c.time;
    if (c.mark == small && small->w < full->w) {  // left of the small mark: picture only
      EXPECT_EQ(picture_pixels(right - full->w, right - small->w, cell.y + 2, small->h, colour),
                (full->w - small->w) * small->h);
    }
  }
}

}  // namespace
