// The default skin in the run tree, loaded with the client's own loader: every window of
// both resolutions, every picture, and the size and fit rules the screens rely on.
#include <SDL/SDL.h>
#include <SDL/SDL_ttf.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "client/foundation/config/utils.h"
#include "client/screens/skin.h"
#include "client/screens/skin_tables.h"
#include "client/screens/widget_text.h"
#include "tests/client/screens/run_tree.h"

namespace {

struct SkinCase {
  const char* file;
  int width, height;
};

class SkinCheck : public ::testing::TestWithParam<SkinCase> {
 protected:
  void SetUp() override {
    const std::string run = run_tree_dir().string();
    ASSERT_EQ(chdir(run.c_str()), 0) << run;
    setenv("VIGILO_BOX_ANSWER", "ok", 1);
    ASSERT_EQ(TTF_Init(), 0);
    init_skins();
  }
  void TearDown() override {
    free_skins();
    TTF_Quit();
  }

  // Loads window `id`, failing on any message of the loader.
  void load(int id) {
    testing::internal::CaptureStdout();
    int rc = load_skin(GetParam().file, id);
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(rc, 0) << out;
    EXPECT_EQ(out.find("not found"), std::string::npos) << out;
    EXPECT_EQ(out.find("failed"), std::string::npos) << out;
    ASSERT_NE(get_skin_window(id)->background, nullptr);
  }

  static SDL_Rect rect(int id, int w) {
    int x, y, cw, ch;
    get_widget_position(id, w, &x, &y);
    get_widget_size(id, w, &cw, &ch);
    return SDL_Rect{static_cast<Sint16>(x), static_cast<Sint16>(y), static_cast<Uint16>(cw),
                    static_cast<Uint16>(ch)};
  }
  static bool overlaps(const SDL_Rect& a, const SDL_Rect& b) {
    return a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
  }
  static bool inside(int x, int y, int w, int h, int W, int H) {
    return x >= 0 && y >= 0 && x + w <= W && y + h <= H;
  }
  bool small() const { return GetParam().width == 1024; }
};

TEST_P(SkinCheck, every_window_loads_with_all_pictures_inside_its_background) {
  for (int id = 1; id < skin_tables::kWindowCount; ++id) {
    SCOPED_TRACE(skin_tables::kWindowNames[id]);
    load(id);
    SKIN_WINDOW* win = get_skin_window(id);
    const int W = win->background->w, H = win->background->h;
    if (id == skin_tables::kMain || id == skin_tables::kSearch) {
      EXPECT_EQ(W, GetParam().width);
      EXPECT_EQ(H, GetParam().height);
    }
    SDL_Rect v = get_video_rect(id);
    EXPECT_TRUE(inside(v.x, v.y, v.w, v.h, W, H));
    for (int i = 1; i < win->num_widgets; ++i) {
      const SKIN_WIDGET& w = win->widgets[i];
      SCOPED_TRACE(w.name);
      ASSERT_GT(w.w, 0);
      ASSERT_GT(w.h, 0);
      EXPECT_TRUE(inside(w.x, w.y, w.w, w.h, W, H)) << w.x << "," << w.y;
      for (int s = 0; s < w.num_states; ++s) {
        ASSERT_NE(w.pictures[s], nullptr) << "state " << s;
        EXPECT_EQ(w.pictures[s]->w, w.w);
        EXPECT_EQ(w.pictures[s]->h, w.h);
      }
      for (int s = w.num_states; s < 12; ++s) EXPECT_EQ(w.pictures[s], nullptr) << s;
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(load_widget_captions("english.txt", id), 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("failed"), std::string::npos) << out;
    for (int i = 1; i < win->num_widgets; ++i)
      EXPECT_NE(win->widgets[i].caption[0], '\0') << win->widgets[i].name;
  }
}

// The key colour marks transparency only: rounded corners, or a wholly transparent picture.
TEST_P(SkinCheck, art_uses_the_key_colour_only_for_corners_or_whole_transparency) {
  for (int id = 1; id < skin_tables::kWindowCount; ++id) {
    load(id);
    SKIN_WINDOW* win = get_skin_window(id);
    for (int i = 1; i < win->num_widgets; ++i) {
      const SKIN_WIDGET& w = win->widgets[i];
      for (int s = 0; s < w.num_states; ++s) {
        SDL_Surface* p = w.pictures[s];
        ASSERT_NE(p, nullptr);
        int keyed = 0;
        SDL_LockSurface(p);
        for (int y = 0; y < p->h; ++y)
          for (int x = 0; x < p->w; ++x) {
            Uint8 r, g, b;
            SDL_GetRGB(get_pixel(p, x, y), p->format, &r, &g, &b);
            keyed += r == win->key_r && g == win->key_g && b == win->key_b;
          }
        SDL_UnlockSurface(p);
        EXPECT_TRUE(keyed <= 24 || keyed == p->w * p->h)
            << skin_tables::kWindowNames[id] << "." << w.name << " state " << s << ": " << keyed
            << " key pixels";
      }
    }
  }
}

TEST_P(SkinCheck, layout_strip_buttons_are_equal_and_fit_beside_the_video) {
  load(skin_tables::kMain);
  const int id = skin_tables::kMain;
  SDL_Rect first = rect(id, 9), video = get_video_rect(id);
  for (int w = 9; w <= 21; ++w) {
    SDL_Rect r = rect(id, w);
    EXPECT_EQ(r.w, first.w) << w;
    EXPECT_EQ(r.h, first.h) << w;
  }
  const int visible = small() ? 9 : 13;
  EXPECT_LE(first.x + visible * first.w, GetParam().width);
  EXPECT_LE(first.y + first.h, GetParam().height);
  SDL_Rect strip{first.x, first.y, static_cast<Uint16>(visible * first.w), first.h};
  EXPECT_FALSE(overlaps(strip, video));
  // The scroll arrows stand outside the visible strip.
  EXPECT_FALSE(overlaps(rect(id, 22), strip));
  EXPECT_FALSE(overlaps(rect(id, 23), strip));
  if (small()) {
    // layout64 and layout144 are never shown at 1024 x 768: they must not take clicks.
    for (int w : {14, 15}) {
      SDL_Rect r = rect(id, w);
      EXPECT_NE(find_widget_at(id, r.x + r.w / 2, r.y + r.h / 2), w);
    }
  }
}

TEST_P(SkinCheck, user_menu_slots_take_the_looks_of_menu_entries_and_tools) {
  load(skin_tables::kMain);
  const int id = skin_tables::kMain;
  for (int look = 148; look <= 163; ++look) EXPECT_EQ(copy_widget_look(id, look, 164), 0) << look;
  // Panel buttons dragged into the menu must have the slots' size too.
  for (const char* tool : {"setup", "emap", "snapshot", "record", "evt_button", "mute"})
    EXPECT_EQ(copy_widget_look(id, find_widget(id, tool), 170), 0) << tool;
  SDL_Rect slot = rect(id, 164), frame = rect(id, 8), video = get_video_rect(id);
  EXPECT_GE(frame.w / slot.w, 1);
  EXPECT_LE(slot.x + frame.w, GetParam().width);
  EXPECT_FALSE(overlaps(SDL_Rect{slot.x, slot.y, frame.w, slot.h}, video));
  EXPECT_FALSE(overlaps(SDL_Rect{slot.x, slot.y, frame.w, slot.h}, rect(id, 25)));
}

TEST_P(SkinCheck, popup_pad_holds_its_fourteen_buttons_inside_the_video) {
  load(skin_tables::kMain);
  const int id = skin_tables::kMain;
  SDL_Rect frame = rect(id, 144), pip2 = rect(id, 41), video = get_video_rect(id);
  for (int w : {28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 41, 142, 143}) {
    EXPECT_EQ(rect(id, w).w, pip2.w) << w;
    EXPECT_EQ(rect(id, w).h, pip2.h) << w;
  }
  EXPECT_LE(1 + 7 * (pip2.w + 1), frame.w);
  EXPECT_LE(2 * pip2.h + 9, frame.h);
  EXPECT_LE(frame.w, video.w);
  EXPECT_LE(frame.h, video.h);
}

TEST_P(SkinCheck, calendar_bars_and_cameras_fit_the_search_window) {
  load(skin_tables::kSearch);
  const int id = skin_tables::kSearch;
  const int W = GetParam().width, H = GetParam().height;
  SDL_Rect video = get_video_rect(id);
  SDL_Rect day = rect(id, 42);
  SDL_Rect calendar{day.x, day.y, static_cast<Uint16>(7 * (day.w + 2)),
                    static_cast<Uint16>(6 * day.h)};
  EXPECT_TRUE(inside(calendar.x, calendar.y, calendar.w, calendar.h, W, H));
  EXPECT_FALSE(overlaps(calendar, video));
  for (int w = 42; w <= 72; ++w) EXPECT_EQ(rect(id, w).x, day.x);  // all read one line
  SDL_Rect hour = rect(id, 73), minute = rect(id, 97);
  EXPECT_TRUE(inside(hour.x, hour.y, 24 * (hour.w + 1), hour.h, W, H));
  EXPECT_TRUE(inside(minute.x, minute.y, 60 * (minute.w + 1), minute.h, W, H));
  EXPECT_FALSE(
      overlaps(SDL_Rect{hour.x, hour.y, static_cast<Uint16>(24 * (hour.w + 1)), hour.h},
               SDL_Rect{minute.x, minute.y, static_cast<Uint16>(60 * (minute.w + 1)), minute.h}));
  SDL_Rect cam = rect(id, 157);
  if (cam.y < H / 2)
    EXPECT_TRUE(inside(cam.x, cam.y, 2 * cam.w, 16 * (cam.h + 1), W, H));
  else
    EXPECT_TRUE(inside(cam.x, cam.y, 16 * (cam.w + 1), 2 * cam.h, W, H));
  // Record bars paint pictures 0 to 3 of every hour and minute cell.
  for (int w : {73, 96, 97, 156})
    for (int s = 0; s < 4; ++s) EXPECT_NE(get_widget_state_image(id, w, s), nullptr);
}

TEST_P(SkinCheck, event_list_shows_its_page_of_lines_and_all_columns) {
  load(skin_tables::kMain);
  const int id = skin_tables::kMain;
  TTF_Font* list = TTF_OpenFont("ARIALUNI.ttf", small() ? 10 : 12);
  ASSERT_NE(list, nullptr);
  SDL_Rect evt = rect(id, 55);
  EXPECT_EQ((evt.h - 4) / TTF_FontHeight(list), small() ? 5 : 8);
  TTF_CloseFont(list);
  EXPECT_GE(evt.w - 4, small() ? 24 + 95 + 60 + 35 + 53 : 36 + 136 + 60 + 44 + 79);
  for (int w : {63, 64, 65, 62, 56, 57, 58, 59})
    EXPECT_TRUE(inside(rect(id, w).x, rect(id, w).y, rect(id, w).w, rect(id, w).h, GetParam().width,
                       GetParam().height));
}

INSTANTIATE_TEST_SUITE_P(Resolutions, SkinCheck,
                         ::testing::Values(SkinCase{"skin.cfg", 1280, 1024},
                                           SkinCase{"skin_1024x768.cfg", 1024, 768}),
                         [](const auto& info) { return info.param.width == 1280 ? "hd" : "sd"; });

// The skinned main window drawn off screen: widgets show over the background, the colour
// key leaves their rounded corners transparent, and the first click still hits.
TEST(SkinDraw, main_window_draws_and_stays_clickable_after_drawing) {
  const std::string run = run_tree_dir().string();
  ASSERT_EQ(chdir(run.c_str()), 0) << run;
  ASSERT_EQ(TTF_Init(), 0);
  init_skins();
  ASSERT_EQ(load_skin("skin.cfg", skin_tables::kMain), 0);
  SDL_Surface* screen =
      SDL_CreateRGBSurface(SDL_SWSURFACE, 1280, 1024, 32, 0xFF0000, 0xFF00, 0xFF, 0);
  ASSERT_EQ(draw_skin_window(screen, skin_tables::kMain), 0);
  const int id = skin_tables::kMain;
  int x, y, w, h;
  get_widget_position(id, 1, &x, &y);
  get_widget_size(id, 1, &w, &h);
  SKIN_WINDOW* win = get_skin_window(id);
  SDL_LockSurface(screen);
  Uint32 centre = get_pixel(screen, x + w / 2, y + h / 2);
  Uint32 corner = get_pixel(screen, x, y);
  SDL_UnlockSurface(screen);
  SDL_LockSurface(win->background);
  Uint8 br, bg, bb;
  SDL_GetRGB(get_pixel(win->background, x, y), win->background->format, &br, &bg, &bb);
  SDL_UnlockSurface(win->background);
  Uint8 r, g, b;
  SDL_GetRGB(corner, screen->format, &r, &g, &b);
  EXPECT_EQ(r, br);
  EXPECT_EQ(g, bg);
  EXPECT_EQ(b, bb);
  SDL_GetRGB(centre, screen->format, &r, &g, &b);
  EXPECT_FALSE(r == 255 && g == 0 && b == 255) << "the key colour must not show";
  EXPECT_EQ(find_widget_at(id, x + w / 2, y + h / 2), 1);
  EXPECT_EQ(find_widget_at(id, x + 1, y + 1), 0) << "transparent corner falls through";
  SDL_FreeSurface(screen);
  // VIGILO_SKIN_DUMP=<prefix> keeps a picture of every drawn window for a look by eye.
  if (const char* dump = std::getenv("VIGILO_SKIN_DUMP")) {
    for (const char* file : {"skin.cfg", "skin_1024x768.cfg"})
      for (int wid = 1; wid < skin_tables::kWindowCount; ++wid) {
        if (load_skin(file, wid) != 0) continue;
        SDL_Rect size = get_skin_size(wid);
        SDL_Surface* s =
            SDL_CreateRGBSurface(SDL_SWSURFACE, size.w, size.h, 32, 0xFF0000, 0xFF00, 0xFF, 0);
        draw_skin_window(s, wid);
        std::string name = std::string(dump) + "_" + skin_tables::kWindowNames[wid] + "_" +
                           std::to_string(size.w) + ".bmp";
        SDL_SaveBMP(s, name.c_str());
        SDL_FreeSurface(s);
      }
  }
  free_skins();
  TTF_Quit();
}

}  // namespace
