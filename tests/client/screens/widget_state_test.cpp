// skin.cfg parsing, widget states, drawing and hit-testing on a small synthetic skin
// written into a temporary directory (software surfaces, no display needed).
#include <SDL/SDL.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/screens/skin.h"
#include "client/screens/skin_tables.h"
#include "tests/client/screens/skin_dir.h"

namespace {

const Uint8 kStateColour[5][3] = {
    {200, 0, 0}, {0, 200, 0}, {0, 0, 200}, {200, 200, 0}, {100, 100, 100}};

std::string g_dir;

void write(const std::string& name, const std::string& text) {
  FILE* f = std::fopen((g_dir + "/" + name).c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

SDL_Surface* rgb(int w, int h) {
  return SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 24, 0xFF, 0xFF00, 0xFF0000, 0);
}

// atlas.bmp: five 20 x 10 cells in the state colours at x = 0, 20, ... 80; at x = 100 a
// cell whose left half is the key colour (255, 0, 255) and right half white.
void write_pictures() {
  SDL_Surface* a = rgb(120, 10);
  for (int s = 0; s < 5; ++s) {
    SDL_Rect r{static_cast<Sint16>(20 * s), 0, 20, 10};
    SDL_FillRect(a, &r,
                 SDL_MapRGB(a->format, kStateColour[s][0], kStateColour[s][1], kStateColour[s][2]));
  }
  SDL_Rect key{100, 0, 10, 10}, white{110, 0, 10, 10};
  SDL_FillRect(a, &key, SDL_MapRGB(a->format, 255, 0, 255));
  SDL_FillRect(a, &white, SDL_MapRGB(a->format, 255, 255, 255));
  ASSERT_EQ(SDL_SaveBMP(a, (g_dir + "/atlas.bmp").c_str()), 0);
  SDL_FreeSurface(a);
  SDL_Surface* bg = rgb(320, 240);
  SDL_FillRect(bg, nullptr, SDL_MapRGB(bg->format, 10, 20, 30));
  ASSERT_EQ(SDL_SaveBMP(bg, (g_dir + "/bg.bmp").c_str()), 0);
  SDL_FreeSurface(bg);
}

const char* kStates5 = "0, 0, 20, 0, 40, 0, 60, 0, 80, 0";

std::string skins_block() {
  return "[SKINS]\n"
         "login = 1, bg.bmp, 0, 0, 0, 0, 255, 0, 255\n"
         "search = 3, bg.bmp, 0, 100, 320, 140, 255, 0, 255\n";
}

class WidgetState : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_NO_FATAL_FAILURE(make_skin_dir("widget_state_", &g_dir));
    write_pictures();
  }
  static void TearDownTestSuite() { remove_skin_dir(g_dir); }
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(enter_skin_dir(g_dir));
    screen = SDL_CreateRGBSurface(SDL_SWSURFACE, 320, 240, 32, 0xFF0000, 0xFF00, 0xFF, 0);
  }
  void TearDown() override {
    SDL_FreeSurface(screen);
    free_skins();
  }
  // A login window: ok and cancel side by side, the fields below, the tooltip hidden.
  int load_login(const std::string& extra = "") {
    std::string cfg = skins_block() + "[login]\n" + extra + "ok = atlas.bmp, 20, 10, " + kStates5 +
                      ", 10, 10\n" + "cancel = atlas.bmp, 20, 10, " + kStates5 + ", 40, 10\n" +
                      "username = atlas.bmp, 20, 10, " + kStates5 + ", 10, 30\n" +
                      "password = atlas.bmp, 20, 10, " + kStates5 + ", 40, 30\n" +
                      "tooltip = atlas.bmp, 20, 10, 0, 0, 70, 30\n";
    write("skin.cfg", cfg);
    return load_skin("skin.cfg", skin_tables::kLogin);
  }
  Uint32 screen_pixel(int x, int y) {
    SDL_LockSurface(screen);
    Uint32 p = get_pixel(screen, x, y);
    SDL_UnlockSurface(screen);
    return p;
  }
  bool shows(int x, int y, const Uint8 c[3]) {
    Uint8 r, g, b;
    SDL_GetRGB(screen_pixel(x, y), screen->format, &r, &g, &b);
    return r == c[0] && g == c[1] && b == c[2];
  }
  SDL_Surface* screen = nullptr;
};

TEST_F(WidgetState, widget_line_needs_exactly_two_fields_per_state_plus_six) {
  WIDGET_PROPS p;
  const std::string head = "[login]\nok = atlas.bmp, 20, 10, ";
  // 5 states: 2 names, width, height, 5 pairs and the destination = 16 fields.
  std::string full = head + kStates5 + ", 7, 9\n";
  ASSERT_EQ(config_to_props("ok", 5, full.c_str(), "login", &p), 0);
  EXPECT_EQ(p.dest_x, 7);
  EXPECT_EQ(p.dest_y, 9);
  EXPECT_EQ(p.src_x[4], 80);
  // The destination pair is not a sixth source: no picture is cut from it.
  EXPECT_EQ(p.src_x[5], -1);
  EXPECT_EQ(p.src_y[5], -1);
  std::string short_line = head + kStates5 + ", 7\n";
  testing::internal::CaptureStdout();
  EXPECT_EQ(config_to_props("ok", 5, short_line.c_str(), "login", &p), -3);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("sscanf() failed.\n"), std::string::npos);
}

TEST_F(WidgetState, overlong_fields_in_skin_cfg_stay_inside_their_records) {
  const std::string huge(400, 'x');
  WIDGET_PROPS p;
  testing::internal::CaptureStdout();
  std::string name_line = "[login]\n" + huge + " = atlas.bmp, 20, 10, 0, 0, 1, 1\n";
  EXPECT_LT(config_to_props(huge.c_str(), 1, name_line.c_str(), "login", &p), 0);
  std::string pic_line = "[login]\nok = " + huge + ".bmp, 20, 10, 0, 0, 1, 1\n";
  EXPECT_LT(config_to_props("ok", 1, pic_line.c_str(), "login", &p), 0);
  SKIN_WINDOW* win = get_skin_window(skin_tables::kLogin);
  std::string skins = "[SKINS]\nlogin = 1, " + huge + ", 0, 0, 0, 0, 1, 2, 3\n";
  EXPECT_EQ(parse_skins_line("login", skins.c_str(), win), -4);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(std::strlen(win->image), 0u);
}

TEST_F(WidgetState, skin_without_skins_block_has_no_background_and_fails) {
  write("skin.cfg", "[login]\nok = atlas.bmp, 20, 10, 0, 0, 1, 1\n");
  testing::internal::CaptureStdout();
  EXPECT_EQ(load_skin("skin.cfg", skin_tables::kLogin), -1);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("[SKINS] not found in skin.cfg.\n"),
            std::string::npos);
  EXPECT_EQ(load_skin("no_such.cfg", skin_tables::kLogin), -1);
}

TEST_F(WidgetState, loaded_widget_has_one_picture_per_state_and_takes_the_focus) {
  ASSERT_EQ(load_login(), 0);
  SKIN_WIDGET* ok = get_skin_widget(skin_tables::kLogin, 1);
  EXPECT_EQ(ok->x, 10);
  EXPECT_EQ(ok->y, 10);
  for (int s = 0; s < 5; ++s) ASSERT_NE(ok->pictures[s], nullptr);
  EXPECT_EQ(ok->pictures[5], nullptr);
  EXPECT_EQ(get_focused_widget(), 3) << "the first input field gets the focus";
}

TEST_F(WidgetState, missing_and_unknown_pictures_leave_widgets_blank_without_crashing) {
  std::string cfg = skins_block() + "[login]\nok = missing.bmp, 20, 10, " + kStates5 +
                    ", 10, 10\ncancel = picture.gif, 20, 10, " + kStates5 + ", 40, 10\n";
  write("skin.cfg", cfg);
  testing::internal::CaptureStdout();
  ASSERT_EQ(load_skin("skin.cfg", skin_tables::kLogin), 0);
  EXPECT_EQ(draw_skin_window(screen, skin_tables::kLogin), 0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("ok.0.1 is NULL.\n"), std::string::npos) << out;
  EXPECT_NE(out.find("cancel.0.2 is NULL.\n"), std::string::npos) << out;
  EXPECT_EQ(find_widget_by_name(skin_tables::kLogin, "ok"), nullptr);
  EXPECT_EQ(find_widget_at(skin_tables::kLogin, 15, 15), 1) << "the rectangle still counts";
}

TEST_F(WidgetState, out_of_range_window_and_widget_are_refused_everywhere) {
  ASSERT_EQ(load_login(), 0);
  struct Case {
    int id, widget;
  } cases[] = {{0, 1}, {6, 1}, {-1, 1}, {1, -1}, {1, 6}, {1, 1000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.id) + "/" + std::to_string(c.widget));
    EXPECT_EQ(get_skin_widget(c.id, c.widget), nullptr);
    EXPECT_EQ(set_widget_state(screen, c.id, c.widget, 1), -1);
    EXPECT_EQ(set_widget_attr(c.id, c.widget, 1, 1), -1);
    EXPECT_EQ(get_widget_attr(c.id, c.widget, 0), 0);
    EXPECT_EQ(redraw_widget(screen, c.id, c.widget), -1);
    EXPECT_EQ(press_widget(screen, c.id, c.widget), -1);
    EXPECT_EQ(get_widget_state_image(c.id, c.widget, 0), nullptr);
    EXPECT_EQ(copy_widget_look(c.id, c.widget, 1), -1);
    EXPECT_EQ(restore_widget_area(screen, c.id, c.widget), -1);
  }
  EXPECT_EQ(get_skin_window(6), nullptr);
  EXPECT_EQ(find_widget_at(7, 15, 15), 0);
  EXPECT_EQ(get_video_rect(9).w, 0);
  EXPECT_EQ(get_widget_state_image(1, 1, 12), nullptr);
}

TEST_F(WidgetState, each_state_draws_its_own_picture_and_out_of_range_states_change_nothing) {
  ASSERT_EQ(load_login(), 0);
  const int id = skin_tables::kLogin;
  for (int s : {0, 1, 2, 3, 4}) {
    ASSERT_EQ(set_widget_state(screen, id, 2, s), 0);
    EXPECT_TRUE(shows(45, 15, kStateColour[s])) << "state " << s;
  }
  EXPECT_EQ(get_skin_widget(id, 2)->enabled, 0) << "state 4 disables";
  EXPECT_EQ(find_widget_at(id, 45, 15), 0);
  set_widget_state(screen, id, 2, 0);
  EXPECT_EQ(set_widget_state(screen, id, 2, 5), 0);  // num_states is 5
  EXPECT_EQ(get_widget_state(id, 2), 0);
  EXPECT_TRUE(shows(45, 15, kStateColour[0]));
  // The focused input field is drawn with picture 1 whatever its state.
  set_focused_widget(3);
  redraw_widget(screen, id, 3);
  EXPECT_TRUE(shows(15, 35, kStateColour[1]));
}

TEST_F(WidgetState, key_coloured_pixels_fall_through_even_after_the_widget_was_drawn) {
  // ok shows the half-transparent cell in every state.
  std::string cell = "100, 0, 100, 0, 100, 0, 100, 0, 100, 0";
  std::string cfg = skins_block() + "[login]\ncancel = atlas.bmp, 20, 10, " + kStates5 +
                    ", 10, 10\nok = atlas.bmp, 20, 10, " + cell + ", 10, 10\n";
  write("skin.cfg", cfg);
  ASSERT_EQ(load_skin("skin.cfg", skin_tables::kLogin), 0);
  const int id = skin_tables::kLogin;
  // In the display's format a colour-keyed blit may be run-length encoded by SDL, which
  // frees the plain pixels the hit test reads.
  ASSERT_EQ(convert_widget_states(screen->format, id, 1), 0);
  ASSERT_EQ(convert_widget_states(screen->format, id, 2), 0);
  for (int round = 0; round < 3; ++round) {  // drawing must not make the pixels unreadable
    SCOPED_TRACE(round);
    EXPECT_EQ(find_widget_at(id, 25, 15), 1) << "white half hits ok";
    EXPECT_EQ(find_widget_at(id, 15, 15), 2) << "key half falls through to cancel";
    draw_skin_window(screen, id);
  }
  EXPECT_TRUE(shows(15, 15, kStateColour[0])) << "cancel shows through the key colour";
  // Edges are outside (the test is strict on all four sides).
  EXPECT_EQ(find_widget_at(id, 10, 15), 0);
  EXPECT_EQ(find_widget_at(id, 30, 15), 0);
}

TEST_F(WidgetState, radio_press_leaves_exactly_one_widget_of_its_name_on) {
  std::string cfg = skins_block() + "[search]\nday = atlas.bmp, 20, 10, " + kStates5 +
                    ", 5, 120\ndvrtab = atlas.bmp, 20, 10, " + kStates5 + ", 200, 120\n";
  write("skin.cfg", cfg);
  testing::internal::CaptureStdout();  // the other search widgets have no line
  ASSERT_EQ(load_skin("skin.cfg", skin_tables::kSearch), 0);
  testing::internal::GetCapturedStdout();
  const int id = skin_tables::kSearch;
  EXPECT_EQ(get_skin_widget(id, 60)->x, 5) << "widgets of one name share the first line";
  for (int d = 42; d <= 72; ++d) set_widget_position(id, d, 5 + (d - 42) % 7 * 21, 100);
  for (int pressed : {45, 50, 45}) {
    ASSERT_EQ(set_widget_state(screen, id, pressed, 1), 0);
    ASSERT_EQ(press_widget(screen, id, pressed), 0);
    int on = 0;
    for (int d = 42; d <= 72; ++d) on += get_widget_attr(id, d, 3);
    EXPECT_EQ(on, 1);
    EXPECT_EQ(get_widget_attr(id, pressed, 3), 1);
  }
  EXPECT_EQ(press_widget(screen, id, 50), -1) << "only a widget in state 1 can be pressed";
  // Toggle pictures follow (state, on): 0/on -> 1, 0/off -> 0, hover/on -> 3, 4 -> 4.
  const int tab = 1;
  ASSERT_EQ(get_widget_attr(id, tab, 3), 1);
  struct Case {
    int state, on, picture;
  } cases[] = {{0, 1, 1}, {0, 0, 0}, {1, 1, 3}, {2, 0, 2}, {4, 1, 4}};
  for (const Case& c : cases) {
    set_widget_attr(id, tab, 3, static_cast<Uint8>(c.on));
    set_widget_state(screen, id, tab, c.state);
    EXPECT_TRUE(shows(205, 125, kStateColour[c.picture])) << c.state << "/" << c.on;
  }
  set_widget_state(screen, id, tab, 1);
  press_widget(screen, id, tab);
  EXPECT_EQ(get_widget_attr(id, tab, 3), 0) << "a toggle flips on each press";
}

TEST_F(WidgetState, background_restore_repaints_sixteen_extra_pixels) {
  ASSERT_EQ(load_login(), 0);
  SDL_FillRect(screen, nullptr, SDL_MapRGB(screen->format, 255, 255, 255));
  ASSERT_EQ(restore_background_rect(screen, skin_tables::kLogin, 10, 10, 20, 5), 0);
  const Uint8 bg[3] = {10, 20, 30}, white[3] = {255, 255, 255};
  EXPECT_TRUE(shows(10, 10, bg));
  EXPECT_TRUE(shows(10 + 20 + 15, 14, bg));
  EXPECT_TRUE(shows(10 + 20 + 16, 14, white));
  EXPECT_TRUE(shows(10, 15, white));
  // A rectangle hanging off the window is clipped, not written past the surfaces.
  EXPECT_EQ(restore_background_rect(screen, skin_tables::kLogin, 310, 230, 100, 100), 0);
  EXPECT_EQ(restore_background_rect(screen, skin_tables::kLogin, -50, -50, 60, 60), 0);
}

TEST_F(WidgetState, looks_copy_only_between_widgets_of_one_size) {
  std::string cfg = skins_block() + "[login]\nok = atlas.bmp, 20, 10, " + kStates5 +
                    ", 10, 10\ncancel = atlas.bmp, 10, 10, " + kStates5 + ", 40, 10\n" +
                    "username = atlas.bmp, 20, 10, 100, 0, 100, 0, 100, 0, 100, 0, 100, 0, "
                    "10, 30\n";
  write("skin.cfg", cfg);
  testing::internal::CaptureStdout();
  ASSERT_EQ(load_skin("skin.cfg", skin_tables::kLogin), 0);
  testing::internal::GetCapturedStdout();
  const int id = skin_tables::kLogin;
  EXPECT_EQ(copy_widget_look(id, 1, 2), -2);
  std::strcpy(get_skin_widget(id, 1)->caption, "Log in");
  set_focused_widget(0);
  draw_skin_window(screen, id);  // sets the colour key on ok's pictures
  // username's pictures now carry a colour key; the copy must still take their key-coloured
  // pixels, so ok becomes transparent on its left half.
  ASSERT_EQ(copy_widget_look(id, 3, 1), 0);
  EXPECT_STREQ(get_widget_caption(id, 1), "");
  EXPECT_EQ(find_widget_at(id, 15, 15), 0);
  EXPECT_EQ(find_widget_at(id, 25, 15), 1);
}

TEST_F(WidgetState, captions_are_cut_at_63_characters) {
  ASSERT_EQ(load_login(), 0);
  std::string long_caption(100, 'c');
  write("english.txt", "[login]\nok = Log in\ncancel = " + long_caption + "\n[main]\n");
  ASSERT_EQ(load_widget_captions("english.txt", skin_tables::kLogin), 0);
  EXPECT_STREQ(get_widget_caption(skin_tables::kLogin, 1), "Log in");
  EXPECT_EQ(std::strlen(get_widget_caption(skin_tables::kLogin, 2)), 63u);
  EXPECT_EQ(load_widget_captions("absent.lng", skin_tables::kLogin), -1);
}

}  // namespace
