// Widget text, lists, input fields and cursors, with the run tree's fonts, on a small
// synthetic skin (software surfaces; the dummy video driver serves the cursors).
#include <SDL/SDL.h>
#include <SDL/SDL_ttf.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/screens/skin.h"
#include "client/screens/skin_tables.h"
#include "tests/client/screens/skin_dir.h"
#include "client/screens/widget_text.h"
#include "tests/client/screens/run_tree.h"

namespace {

std::string g_dir;
int g_lh = 0;  // line height of the 12 pt text font

const SDL_Color kLight = {240, 240, 240, 0}, kDark = {16, 16, 16, 0};

void write(const std::string& name, const std::string& text) {
  FILE* f = std::fopen((g_dir + "/" + name).c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

void save_filled(const std::string& name, int w, int h, Uint8 r, Uint8 g, Uint8 b) {
  SDL_Surface* s = SDL_CreateRGBSurface(SDL_SWSURFACE, w, h, 24, 0xFF, 0xFF00, 0xFF0000, 0);
  SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, r, g, b));
  ASSERT_EQ(SDL_SaveBMP(s, (g_dir + "/" + name).c_str()), 0);
  SDL_FreeSurface(s);
}

std::string states(int n, int x, int y) {
  std::string s;
  for (int i = 0; i < n; ++i) s += ", " + std::to_string(x) + ", " + std::to_string(y);
  return s;
}

int text_width(const char* text) {
  TTF_Font* f = TTF_OpenFont("ARIALUNI.ttf", 12);
  int w = 0, h = 0;
  if (f) TTF_SizeText(f, text, &w, &h);
  if (f) TTF_CloseFont(f);
  return w;
}

class WidgetText : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string run = run_tree_dir().string();
    ASSERT_NO_FATAL_FAILURE(make_skin_dir("widget_text_", &g_dir));
    for (const char* font : {"ARIALUNI.ttf", "impact.ttf", "MyriadPro-Semibold.otf"})
      ASSERT_EQ(symlink((run + "/" + font).c_str(), (g_dir + "/" + font).c_str()), 0);
    ASSERT_EQ(chdir(g_dir.c_str()), 0);
    ASSERT_EQ(TTF_Init(), 0);
    TTF_Font* f = TTF_OpenFont("ARIALUNI.ttf", 12);
    ASSERT_NE(f, nullptr);
    g_lh = TTF_FontHeight(f);
    TTF_CloseFont(f);
    save_filled("list.bmp", 300, 8 * 30 + 4, 16, 19, 24);
    save_filled("field.bmp", 120, 24, 16, 16, 16);
    save_filled("bg1280.bmp", 1280, 1024, 30, 30, 40);
    save_filled("bg1024.bmp", 1024, 768, 30, 30, 40);
  }
  static void TearDownTestSuite() {
    TTF_Quit();
    remove_skin_dir(g_dir);
  }
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(enter_skin_dir(g_dir));
    set_text_fg_color(kLight);
    set_text_bg_color(kDark);
    select_text_font("default");
    screen = SDL_CreateRGBSurface(SDL_SWSURFACE, 1280, 1024, 32, 0xFF0000, 0xFF00, 0xFF, 0);
  }
  void TearDown() override {
    SDL_FreeSurface(screen);
    free_skins();
  }
  // Login window: ok at (10, 10), the two fields below it.
  void load_login() {
    write("skin.cfg",
          "[SKINS]\nlogin = 1, bg1024.bmp, 0, 0, 0, 0, 255, 0, 255\n[login]\n"
          "ok = field.bmp, 120, 24" +
              states(5, 0, 0) +
              ", 10, 10\n"
              "cancel = field.bmp, 120, 24" +
              states(5, 0, 0) +
              ", 140, 10\n"
              "username = field.bmp, 120, 24" +
              states(5, 0, 0) +
              ", 10, 40\n"
              "password = field.bmp, 120, 24" +
              states(5, 0, 0) +
              ", 10, 70\n"
              "tooltip = field.bmp, 120, 24, 0, 0, 10, 100\n");
    ASSERT_EQ(load_skin("skin.cfg", skin_tables::kLogin), 0);
  }
  // Main window with the DVR list (page of 8 text lines) and the event list.
  void load_main(const char* background) {
    const int h = 8 * g_lh + 4;
    write("skin.cfg", std::string("[SKINS]\nmain = 2, ") + background +
                          ", 0, 0, 100, 100, 255, 0, 255\n[main]\n"
                          "dvr_list = list.bmp, 300, " +
                          std::to_string(h) + states(5, 0, 0) +
                          ", 400, 100\n"
                          "evt_list = list.bmp, 300, 100" +
                          states(5, 0, 0) +
                          ", 400, 500\n"
                          "cam_info = list.bmp, 300, 100, 0, 0, 400, 700\n"
                          "frames_received = field.bmp, 120, 24, 0, 0, 10, 900\n");
    testing::internal::CaptureStdout();  // the other widgets have no line
    ASSERT_EQ(load_skin("skin.cfg", skin_tables::kMain), 0);
    testing::internal::GetCapturedStdout();
  }
  // Leftmost and rightmost column of the widget's area that differs from `bg`.
  std::pair<int, int> ink_columns(int x, int y, int w, int h, Uint8 bg) {
    int first = -1, last = -1;
    SDL_LockSurface(screen);
    for (int cx = x; cx < x + w; ++cx)
      for (int cy = y; cy < y + h; ++cy) {
        Uint8 r, g, b;
        SDL_GetRGB(get_pixel(screen, cx, cy), screen->format, &r, &g, &b);
        if (r > bg + 40) {
          if (first < 0) first = cx;
          last = cx;
          break;
        }
      }
    SDL_UnlockSurface(screen);
    return {first, last};
  }
  SDL_Surface* screen = nullptr;
};

TEST_F(WidgetText, label_text_is_bounded_and_placed_by_alignment) {
  load_login();
  const int id = skin_tables::kLogin;
  std::string long_text(300, 'a');
  ASSERT_EQ(render_widget_text(screen, id, 1, long_text.c_str()), 0);
  EXPECT_EQ(std::strlen(get_widget_text(id, 1)), 255u);
  ASSERT_NE(get_widget_text_surface(id, 1), nullptr);

  struct Case {
    int align;
  } cases[] = {{0}, {1}, {2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.align);
    set_widget_attr(id, 2, 6, static_cast<Uint8>(c.align));
    ASSERT_EQ(render_widget_text(screen, id, 2, "Abc"), 0);
    auto [first, last] = ink_columns(140, 10, 120, 24, 16);
    ASSERT_GE(first, 0) << "the text is on the widget";
    const int w = get_widget_text_surface(id, 2)->w;
    if (c.align == 0) { EXPECT_LE(first, 140 + 2 + 3); }
    if (c.align == 2) { EXPECT_GE(last, 140 + 120 - 2 - 4); }
    if (c.align == 1) { EXPECT_NEAR((first + last) / 2, 140 + 60, w / 2); }
  }
  ASSERT_EQ(clear_widget_text(screen, id, 2), 0);
  EXPECT_STREQ(get_widget_text(id, 2), "");
  EXPECT_EQ(get_widget_text_surface(id, 2), nullptr);
  EXPECT_EQ(ink_columns(140, 10, 120, 24, 16).first, -1);
  EXPECT_EQ(draw_widget_text(screen, id, 2, "X", 3, kLight), 0);
  EXPECT_EQ(get_widget_state(id, 2), 3) << "draw_widget_text sets the state unchecked";
  EXPECT_EQ(render_widget_text(nullptr, id, 2, "X"), -1);
  EXPECT_EQ(render_widget_text(screen, 9, 2, "X"), -1);
}

TEST_F(WidgetText, a_font_that_cannot_open_is_never_used) {
  load_login();
  close_skin_fonts();
  char empty[] = "/tmp/widget_nofont_XXXXXX";
  ASSERT_NE(mkdtemp(empty), nullptr);
  ASSERT_EQ(chdir(empty), 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(open_skin_fonts(), -1);
  EXPECT_EQ(render_widget_text(screen, skin_tables::kLogin, 1, "hello"), 0);
  set_focused_widget(3);
  EXPECT_EQ(edit_widget_key(screen, skin_tables::kLogin, 'a'), 0);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Couldn't load 12 pt font from ARIALUNI.ttf"), std::string::npos) << out;
  EXPECT_EQ(get_widget_text_surface(skin_tables::kLogin, 1), nullptr);
  EXPECT_STREQ(get_widget_text(skin_tables::kLogin, 1), "hello");
  ASSERT_EQ(chdir(g_dir.c_str()), 0);
  rmdir(empty);
}

TEST_F(WidgetText, list_takes_1024_lines_of_at_most_255_characters) {
  load_main("bg1280.bmp");
  const int id = skin_tables::kMain;
  std::string long_line(300, 'z');
  ASSERT_EQ(add_widget_line(screen, id, 48, long_line.c_str(), 0, 0), 0);
  EXPECT_EQ(std::strlen(get_skin_widget(id, 48)->lines[0]), 255u);
  for (int i = 1; i < 1024; ++i) ASSERT_EQ(add_widget_line(screen, id, 48, "line", 1, 0), 0);
  EXPECT_EQ(add_widget_line(screen, id, 48, "one too many", 0, 0), -2);
  EXPECT_EQ(get_skin_widget(id, 48)->num_lines, 1024);
  EXPECT_EQ(add_widget_line(screen, id, 63, "not a list", 0, 0), -1);
  EXPECT_EQ(clear_widget_lines(screen, id, 63), -1);
  ASSERT_EQ(clear_widget_lines(screen, id, 48), 0);
  EXPECT_EQ(get_skin_widget(id, 48)->num_lines, 0);
  EXPECT_EQ(get_selected_line(id, 48), nullptr);
}

TEST_F(WidgetText, event_list_keeps_its_newest_line_in_view) {
  struct Case {
    const char* background;
    int visible;
  } cases[] = {{"bg1280.bmp", 8}, {"bg1024.bmp", 5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.background);
    free_skins();
    init_skins();
    load_main(c.background);
    const int id = skin_tables::kMain;
    for (int i = 0; i < c.visible; ++i) add_widget_line(screen, id, 55, "1|t|dvr|1|Motion", 0, 0);
    EXPECT_EQ(get_skin_widget(id, 55)->first_line, 0);
    add_widget_line(screen, id, 55, "9|t|dvr|1|Sensor", 0, 1);
    EXPECT_EQ(get_skin_widget(id, 55)->first_line, 1);
    EXPECT_EQ(get_skin_widget(id, 55)->shown_first_line, 1) << "the draw scrolled to it";
  }
}

TEST_F(WidgetText, scrolling_stops_at_either_end_of_the_list) {
  load_main("bg1280.bmp");
  const int id = skin_tables::kMain;
  SKIN_WIDGET* list = get_skin_widget(id, 48);
  EXPECT_EQ(scroll_list_down(screen, id, 48), -3) << "nothing drawn yet";
  for (int i = 0; i < 20; ++i)
    add_widget_line(screen, id, 48, ("DVR " + std::to_string(i)).c_str(), 0, 0);
  redraw_widget(screen, id, 48);
  ASSERT_EQ(list->line_height, g_lh);
  ASSERT_EQ((list->h - 4) / list->line_height, 8);
  list->first_line = list->shown_first_line = 3;
  EXPECT_EQ(page_list_up(screen, id, 48), -6);
  EXPECT_EQ(list->first_line, 3);
  int rc = 0, steps = 0;
  while ((rc = scroll_list_down(screen, id, 48)) == 0 && steps < 100) ++steps;
  EXPECT_EQ(rc, -6);
  EXPECT_EQ(list->first_line, 20 - 8 + 1);
  EXPECT_EQ(page_list_down(screen, id, 48), -6);
  EXPECT_EQ(scroll_list_up(screen, id, 48), 0);
  EXPECT_EQ(list->first_line, 12);
  EXPECT_EQ(scroll_list_up(screen, 7, 48), -1);
  EXPECT_EQ(scroll_list_up(screen, id, 63), -2);
  // A clear far down the list animates back to the top and ends.
  list->first_line = list->shown_first_line = 15;
  clear_widget_lines(screen, id, 48);
  EXPECT_EQ(list->shown_first_line, 0);
}

TEST_F(WidgetText, click_selects_the_line_under_the_pointer_of_the_focused_list) {
  load_main("bg1280.bmp");
  const int id = skin_tables::kMain;
  set_focused_widget(0);
  EXPECT_EQ(select_line_at(screen, id, 410, 110), -2);
  set_focused_widget(63);
  EXPECT_EQ(select_line_at(screen, id, 410, 110), -3);
  set_focused_widget(48);
  EXPECT_EQ(select_line_at(screen, id, 410, 110), -4) << "no line drawn yet";
  const char* lines[] = {"DVR A", "CAMERA 1", "CAMERA 2", "DVR B", "CAMERA 1"};
  const int indent[] = {0, 1, 1, 0, 1};
  for (int i = 0; i < 5; ++i) add_widget_line(screen, id, 48, lines[i], indent[i], i == 4);
  ASSERT_EQ(select_line_at(screen, id, 410, 100 + 2 * g_lh + 1), 0);
  EXPECT_EQ(get_selected_index(id, 48), 2);
  EXPECT_STREQ(get_selected_line(id, 48), "CAMERA 2");
  EXPECT_STREQ(get_line_header(id, 48, 2), "DVR A");
  EXPECT_STREQ(get_line_header(id, 48, 4), "DVR B");
  EXPECT_EQ(get_line_header(id, 48, 5), nullptr);
  EXPECT_EQ(get_line_header(id, 48, -1), nullptr);
  ASSERT_EQ(select_line_at(screen, id, 410, 100 + 7 * g_lh + 1), 0);
  EXPECT_STREQ(get_selected_line(id, 48), "") << "an empty row below the lines";
  EXPECT_EQ(select_line_at(screen, id, 410, 100 + 2000 * g_lh), -6);
  EXPECT_EQ(get_selected_index(id, 48), 7);
  clear_widget_lines(screen, id, 48);
  EXPECT_EQ(select_line_at(screen, id, 410, 110), -5);
}

TEST_F(WidgetText, selected_column_line_is_filled_in_the_selection_colour) {
  load_main("bg1280.bmp");
  const int id = skin_tables::kMain;
  for (int k = 0; k < 5; ++k) set_list_column_width(id, 55, k, 50);
  EXPECT_EQ(set_list_column_width(id, 55, 16, 50), -1);
  add_widget_line(screen, id, 55, " |b|c", 0, 0);
  get_skin_widget(id, 55)->selected = 0;
  redraw_widget(screen, id, 55);
  SDL_LockSurface(screen);
  Uint8 r, g, b;
  SDL_GetRGB(get_pixel(screen, 402, 504), screen->format, &r, &g, &b);
  SDL_UnlockSurface(screen);
  EXPECT_EQ(r, 187);
  EXPECT_EQ(g, 111);
  EXPECT_EQ(b, 28);
}

TEST_F(WidgetText, input_field_edits_are_bounded_and_masked) {
  load_login();
  const int id = skin_tables::kLogin;
  set_focused_widget(3);
  EXPECT_EQ(edit_widget_key(screen, id, 8), 0);
  EXPECT_STREQ(get_widget_text(id, 3), "") << "backspace on an empty field";
  for (int i = 0; i < 260; ++i) edit_widget_key(screen, id, 'a' + i % 26);
  EXPECT_EQ(std::strlen(get_widget_text(id, 3)), 255u) << "the 256th character is refused";
  EXPECT_EQ(edit_widget_key(screen, id, 9), 0);
  EXPECT_EQ(get_focused_widget(), 4) << "Tab moves to the password field";
  edit_widget_key(screen, id, 0x100 + 'x');  // only the low 8 bits are typed
  edit_widget_key(screen, id, 'y');
  EXPECT_STREQ(get_widget_text(id, 4), "xy");
  EXPECT_EQ(get_widget_text_surface(id, 4)->w, text_width("**"));

  int blink = 1;
  ASSERT_EQ(edit_widget_key_with_cursor(screen, id, 323, &blink), 0);
  EXPECT_EQ(get_widget_text_surface(id, 4)->w, text_width("**|"));
  EXPECT_EQ(blink, 0);
  edit_widget_key_with_cursor(screen, id, 323, &blink);
  EXPECT_EQ(get_widget_text_surface(id, 4)->w, text_width("**"));
  EXPECT_EQ(blink, 1);
  edit_widget_key_with_cursor(screen, id, 8, &blink);
  edit_widget_key_with_cursor(screen, id, 8, &blink);
  blink = 0;
  edit_widget_key_with_cursor(screen, id, 323, &blink);
  EXPECT_EQ(get_widget_text_surface(id, 4)->w, text_width(" ")) << "empty field, cursor off";

  set_focused_widget(1);
  EXPECT_EQ(edit_widget_key(screen, id, 'a'), -3) << "ok is not an input field";
  set_focused_widget(0);
  EXPECT_EQ(edit_widget_key(screen, id, 'a'), -2);
  EXPECT_EQ(edit_widget_key_with_cursor(screen, id, 'a', &blink), -2);
  EXPECT_EQ(edit_widget_key(nullptr, id, 'a'), -1);
}

TEST_F(WidgetText, tab_with_a_single_input_field_keeps_the_focus) {
  write("skin.cfg",
        "[SKINS]\nsearch = 3, bg1024.bmp, 0, 0, 0, 0, 255, 0, 255\n[search]\n"
        "time_search = field.bmp, 120, 24" +
            states(5, 0, 0) + ", 10, 40\n");
  testing::internal::CaptureStdout();
  ASSERT_EQ(load_skin("skin.cfg", skin_tables::kSearch), 0);
  testing::internal::GetCapturedStdout();
  ASSERT_EQ(get_focused_widget(), 29);
  EXPECT_EQ(edit_widget_key(screen, skin_tables::kSearch, 9), 0);
  EXPECT_EQ(get_focused_widget(), 29);
}

TEST(SkinCursor, pictures_become_cursor_bits_with_their_hot_spot) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0);
  SDL_Cursor* arrow = create_skin_cursor(0);
  ASSERT_NE(arrow, nullptr);
  // Rows 1 and 3 of the arrow: "X" and "X.X".
  EXPECT_EQ(arrow->data[0], 0x80);
  EXPECT_EQ(arrow->mask[0], 0x80);
  EXPECT_EQ(arrow->data[8], 0xA0);
  EXPECT_EQ(arrow->mask[8], 0xE0);
  EXPECT_EQ(arrow->data[4 * 31], 0x00) << "blank rows are transparent";
  EXPECT_EQ(arrow->hot_x, 0);
  EXPECT_EQ(arrow->hot_y, 0);
  SDL_Cursor* film = create_skin_cursor(1);
  ASSERT_NE(film, nullptr);
  for (int b = 0; b < 4; ++b) EXPECT_EQ(film->data[b], 0xFF);
  EXPECT_EQ(film->data[4], 0x81) << "X......X starts the second row";
  EXPECT_EQ(film->mask[4], 0xFF);
  SDL_FreeCursor(arrow);
  SDL_FreeCursor(film);
  SDL_Quit();
}

}  // namespace
