// Widget text, list widgets, input fields and cursors.
#include "client/screens/widget_text.h"

#include <SDL/SDL_ttf.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "client/foundation/sdl_lock.h"
#include "client/screens/skin_tables.h"

namespace {

constexpr int kEvtList = 55;  // the main window's event list widget

enum class Preset { text, time, date };

struct FontSlot {
  const char* file;
  int size;
  TTF_Font* font;
};

// text, time, date fonts; the list font is separate because its size follows the display.
FontSlot g_fonts[3] = {{"ARIALUNI.ttf", 12, nullptr},
                       {"impact.ttf", 20, nullptr},
                       {"MyriadPro-Semibold.otf", 12, nullptr}};
TTF_Font* g_list_font = nullptr;
Preset g_preset = Preset::text;
SDL_Color g_fg = {0, 0, 0, 0};
SDL_Color g_bg = {0, 0, 0, 0};
std::atomic<SDL_mutex*> g_text_mutex{nullptr};

const SDL_Color kFieldFg = {240, 240, 240, 0};
const SDL_Color kFieldBg = {16, 16, 16, 0};
const SDL_Color kSelFg = {16, 16, 16, 0};
const SDL_Color kSelBg = {187, 111, 28, 0};

int open_fonts_locked() {
  for (FontSlot& s : g_fonts) {
    if (s.font) continue;
    s.font = TTF_OpenFont(s.file, s.size);
    if (!s.font) {
      std::printf("Couldn't load %d pt font from %s: %s\n", s.size, s.file, SDL_GetError());
      return -1;
    }
    if (&s == &g_fonts[0]) g_preset = Preset::text;  // a fresh text font is the current one
  }
  return 0;
}

void open_fonts_if_needed() {
  SdlLock lock(g_text_mutex.load());  // the font pointers are read under the lock too
  if (g_fonts[0].font && g_fonts[1].font && g_fonts[2].font) return;
  open_fonts_locked();
}

TTF_Font* current_font_locked() {
  switch (g_preset) {
    case Preset::time: return g_fonts[1].font;
    case Preset::date: return g_fonts[2].font;
    default: return g_fonts[0].font;
  }
}

void free_text_picture(SKIN_WIDGET* w) {
  if (w->text_picture) SDL_FreeSurface(w->text_picture);
  w->text_picture = nullptr;
}

void copy_text(char* dst, size_t size, const char* src) {
  std::snprintf(dst, size, "%s", src ? src : "");
}

SKIN_WIDGET* focused_field(int id, int* rc) {
  int f = get_focused_widget();
  SKIN_WIDGET* w = f > 0 ? get_skin_widget(id, f) : nullptr;
  if (!w) {
    *rc = -2;
    return nullptr;
  }
  if (w->kind != 4 || w->edit <= 0) {
    *rc = -3;
    return nullptr;
  }
  *rc = 0;
  return w;
}

bool is_password_field(const SKIN_WIDGET* w) {
  return w->edit == 2 || std::strcmp(w->name, "password") == 0;
}

// Renders the field's text (or its stars), plus the cursor when asked, as its picture.
int render_field(SDL_Surface* display, SKIN_WINDOW* win, SKIN_WIDGET* w, bool cursor,
                 bool blank_when_empty) {
  char shown[kSkinLineSize + 2] = {};
  size_t len = std::strlen(w->text);
  if (is_password_field(w))
    std::memset(shown, '*', len);
  else
    std::memcpy(shown, w->text, len);
  if (cursor) shown[len++] = '|';
  if (len == 0 && blank_when_empty) shown[len++] = ' ';
  if (len == 0) {
    draw_widget(display, win, w);
    return 0;
  }
  SDL_Surface* pic = nullptr;
  bool have_font;
  {
    SdlLock lock(g_text_mutex.load());
    have_font = g_fonts[0].font != nullptr;
    if (have_font) pic = TTF_RenderText_Shaded(g_fonts[0].font, shown, kFieldFg, kFieldBg);
  }
  if (!have_font) {  // no font: the field is drawn without its text
    draw_widget(display, win, w);
    return 0;
  }
  if (!pic) {
    std::printf("TTF_RenderText_Solid() failed.\n");
    draw_widget(display, win, w);
    return -3;
  }
  w->text_picture = pic;
  draw_widget(display, win, w);
  return 0;
}

bool is_list(const SKIN_WIDGET* w) { return w && (w->kind == 5 || w->kind == 8); }

int list_page(const SKIN_WIDGET* w) { return (w->h - 4) / w->line_height; }

// Common checks of the scroll operations; 0 when the list may move.
int scroll_checks(SDL_Surface* display, int id, int widget, SKIN_WIDGET** out) {
  if (!display || !get_skin_window(id)) return -1;
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  if (!is_list(w)) return -2;
  if (w->line_height == 0) return -3;
  if (w->num_lines == 0) return -4;
  if (w->num_lines < list_page(w)) return -5;
  *out = w;
  return 0;
}

int draw_list(SDL_Surface* display, SKIN_WINDOW* win, SKIN_WIDGET* w, bool columns) {
  if (!display || !win || !w || w->w <= 4 || w->h <= 4 || !w->lines[0]) return -1;
  const int W = w->w - 4, H = w->h;
  const SDL_PixelFormat* f = display->format;
  SDL_Surface* off = SDL_CreateRGBSurface(SDL_SWSURFACE, W, 2 * H, f->BitsPerPixel, f->Rmask,
                                          f->Gmask, f->Bmask, f->Amask);
  if (!off) {
    std::printf("SDL_CreateRGBSurface() failed.\n");
    return -1;
  }
  SDL_Rect area{static_cast<Sint16>(w->x + 2), static_cast<Sint16>(w->y + 2),
                static_cast<Uint16>(W), static_cast<Uint16>(H - 4)};
  {
    SDL_Rect src = area, dst{0, 0, 0, 0};
    SDL_BlitSurface(display, &src, off, &dst);
  }

  TTF_Font* font = nullptr;
  if (!columns) {
    open_fonts_if_needed();
    SdlLock lock(g_text_mutex.load());
    font = g_fonts[0].font;
  } else {
    SdlLock lock(g_text_mutex.load());
    if (!g_list_font) {
      int pt = (display->w == 1024 && display->h == 768) ? 10 : 12;
      g_list_font = TTF_OpenFont("ARIALUNI.ttf", pt);
      if (!g_list_font)
        std::printf("Couldn't load %d pt font from %s: %s\n", pt, "ARIALUNI.ttf", SDL_GetError());
    }
    font = g_list_font;
  }
  if (!font) {
    SDL_FreeSurface(off);
    return -1;
  }
  int font_height;
  {
    SdlLock lock(g_text_mutex.load());
    font_height = TTF_FontHeight(font);
  }

  const int from = w->shown_first_line < w->first_line ? w->shown_first_line : w->first_line;
  const int dir = w->shown_first_line < w->first_line ? 1 : -1;
  const int d = w->shown_first_line > w->first_line ? w->shown_first_line - w->first_line
                                                    : w->first_line - w->shown_first_line;
  const Uint32 sel_fill = SDL_MapRGB(off->format, kSelBg.r, kSelBg.g, kSelBg.b);
  int start = -1, end = -1, y = 0, i = from < 0 ? 0 : from;

  auto put_text = [&](const char* text, int dx, int dw, bool selected) -> int {
    if (!text[0] || dw <= 0) return 0;
    SDL_Surface* t;
    {
      SdlLock lock(g_text_mutex.load());
      t = TTF_RenderUTF8_Shaded(font, text, selected ? kSelFg : kFieldFg,
                                selected ? kSelBg : kFieldBg);
    }
    if (!t) {
      std::printf("TTF_RenderUTF8_Shaded() failed.\n");
      return 0;
    }
    int th = t->h;
    SDL_Rect dst{static_cast<Sint16>(dx), static_cast<Sint16>(y), static_cast<Uint16>(dw),
                 static_cast<Uint16>(th)};
    SDL_SetClipRect(off, &dst);
    SDL_SetColorKey(t, SDL_SRCCOLORKEY, 0);  // the shaded background becomes transparent
    if (selected) SDL_FillRect(off, &dst, sel_fill);
    SDL_Rect at = dst;
    SDL_BlitSurface(t, nullptr, off, &at);
    SDL_SetClipRect(off, nullptr);
    SDL_FreeSurface(t);
    return th;
  };

  for (; i < w->num_lines && i < kSkinLines; ++i) {
    if (y >= 2 * H) break;  // never more than two widget heights of text
    if (i == w->shown_first_line) start = y;
    if (i == w->first_line) end = y;
    const bool selected = i == w->selected;
    int height = 0;
    if (!columns) {
      int dx = w->indent[i] * 12;
      height = put_text(w->lines[i], dx, W - dx, selected);
    } else {
      char copy[kSkinLineSize];
      copy_text(copy, sizeof copy, w->lines[i]);
      int col = 0, x = 0;
      char* p = copy;
      while (p && col < 16) {
        char* bar = std::strchr(p, '|');
        if (bar) *bar = '\0';
        int hgt = put_text(p, x, w->column_width[col], selected);
        if (hgt > height) height = hgt;
        x += w->column_width[col];
        ++col;
        p = bar ? bar + 1 : nullptr;
      }
    }
    if (height == 0) height = font_height;  // an empty line still takes a row
    y += height;
    w->line_height = height;
  }
  // Positions of lines that were not drawn follow at one line height each.
  const int step_h = w->line_height > 0 ? w->line_height : font_height;
  if (start < 0) start = y + (w->shown_first_line - i) * step_h;
  if (end < 0) end = y + (w->first_line - i) * step_h;
  // Keep the shown window inside the off-screen picture so the animation stays bounded.
  const int max_p = 2 * H - (H - 4);
  auto clampp = [&](int p) { return p < 0 ? 0 : p > max_p ? max_p : p; };
  start = clampp(start);
  end = clampp(end);

  SDL_SetColorKey(off, SDL_SRCCOLORKEY, 0);
  auto frame = [&](int p) {
    if (win->background) {
      SDL_Rect src = area, dst = area;
      SDL_BlitSurface(win->background, &src, display, &dst);
    }
    SDL_Rect src{0, static_cast<Sint16>(clampp(p)), static_cast<Uint16>(W),
                 static_cast<Uint16>(H - 4)};
    SDL_Rect dst = area;
    SDL_BlitSurface(off, &src, display, &dst);
    if (screen_update_enabled()) update_display_rect(display, area.x, area.y, W, H - 4);
  };

  if (w->shown_first_line == w->first_line || start == end) {
    frame(end);
  } else {
    const Uint32 delay = d < 2 ? 10 : static_cast<Uint32>(300 / (8 * d));
    int step = w->line_height / 8;
    if (step <= 0) step = 1;  // lines under 8 pixels still scroll to the end
    int p = start;
    for (;;) {
      frame(p);
      SDL_Delay(delay);
      p += step * dir;
      if (dir > 0 ? p >= end : p <= end) break;
    }
    frame(end);  // land exactly on the target line, whatever the step
  }
  SDL_FreeSurface(off);
  w->shown_first_line = w->first_line;
  return 0;
}

}  // namespace

// ---------------------------------------------------------------- fonts and colours

int open_skin_fonts() {
  SdlLock lock(g_text_mutex.load());
  return open_fonts_locked();
}

void close_skin_fonts() {
  SdlLock lock(g_text_mutex.load());
  for (FontSlot& s : g_fonts) {
    if (s.font) TTF_CloseFont(s.font);
    s.font = nullptr;
  }
  // The list font goes too: nothing draws after the skins are freed, and it must not leak.
  if (g_list_font) TTF_CloseFont(g_list_font);
  g_list_font = nullptr;
  g_preset = Preset::text;
}

void select_text_font(const char* preset) {
  SdlLock lock(g_text_mutex.load());
  if (preset && std::strcmp(preset, "date") == 0)
    g_preset = Preset::date;
  else if (preset && std::strcmp(preset, "time") == 0)
    g_preset = Preset::time;
  else
    g_preset = Preset::text;
}

void set_text_fg_color(SDL_Color colour) {
  SdlLock lock(g_text_mutex.load());
  g_fg = colour;
}

void set_text_bg_color(SDL_Color colour) {
  SdlLock lock(g_text_mutex.load());
  g_bg = colour;
}

void set_text_mutex(SDL_mutex* mutex) { g_text_mutex = mutex; }

// ---------------------------------------------------------------- text on widgets

namespace {

// Takes `text` as the widget's text (null keeps the old one) and renders it as the widget's
// picture with `render(font, text)`, run under the text lock on the font `pick()` returns.
// 0, also without a font (the widget then shows no text); -3 when the font could not render
// (`what` names the call in the message).
template <class Pick, class Render>
int set_text_picture(SKIN_WIDGET* w, const char* text, const char* what, Pick pick, Render render) {
  if (text) copy_text(w->text, sizeof w->text, text);
  free_text_picture(w);
  open_fonts_if_needed();
  if (!w->text[0]) return 0;
  SDL_Surface* pic = nullptr;
  bool have_font;
  {
    SdlLock lock(g_text_mutex.load());
    TTF_Font* font = pick();
    have_font = font != nullptr;
    if (font) pic = render(font, w->text);
  }
  if (have_font && !pic) {
    std::printf("%s() failed.\n", what);
    return -3;
  }
  w->text_picture = pic;
  return 0;
}

}  // namespace

int render_widget_text(SDL_Surface* display, int id, int widget, const char* text) {
  SKIN_WINDOW* win = get_skin_window(id);
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  if (!display || !win || !w) return -1;
  const int rc = set_text_picture(
      w, text, "TTF_RenderUTF8_Shaded", current_font_locked,
      [](TTF_Font* font, const char* s) { return TTF_RenderUTF8_Shaded(font, s, g_fg, g_bg); });
  draw_widget(display, win, w);
  return rc;
}

int draw_widget_text(SDL_Surface* display, int id, int widget, const char* text, int state,
                     SDL_Color colour) {
  SKIN_WINDOW* win = get_skin_window(id);
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  if (!display || !win || !w) return -1;
  const int rc = set_text_picture(
      w, text, "TTF_RenderUTF8_Blended", [] { return g_fonts[0].font; },
      [colour](TTF_Font* font, const char* s) { return TTF_RenderUTF8_Blended(font, s, colour); });
  w->state = state;
  draw_widget(display, win, w);
  return rc;
}

int clear_widget_text(SDL_Surface* display, int id, int widget) {
  SKIN_WINDOW* win = get_skin_window(id);
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  if (!win || !w) return -1;
  w->text[0] = '\0';
  free_text_picture(w);
  draw_widget(display, win, w);
  return 0;
}

// ---------------------------------------------------------------- lists

int add_widget_line(SDL_Surface* display, int id, int widget, const char* text, int indent,
                    int draw) {
  SKIN_WINDOW* win = get_skin_window(id);
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  if (!is_list(w) || !w->lines[0]) return -1;
  if (w->num_lines >= kSkinLines) return -2;
  if (text) {
    copy_text(w->lines[w->num_lines], kSkinLineSize, text);  // longer lines are cut at 255
    w->indent[w->num_lines] = static_cast<uint8_t>(indent);
    w->num_lines += 1;
    if (id == skin_tables::kMain && widget == kEvtList) {
      // The event list keeps its newest line in view.
      bool small = win->background && win->background->w == 1024 && win->background->h == 768;
      int visible = small ? 5 : 8;
      if (w->num_lines - visible > 0) w->first_line = w->num_lines - visible;
    }
  }
  if (draw) draw_widget(display, win, w);
  return 0;
}

int clear_widget_lines(SDL_Surface* display, int id, int widget) {
  SKIN_WINDOW* win = get_skin_window(id);
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  if (!is_list(w)) return -1;
  if (w->line_store) std::memset(w->line_store.get(), 0, size_t(kSkinLines) * kSkinLineSize);
  std::memset(w->indent, 0, sizeof w->indent);
  w->num_lines = 0;
  w->first_line = 0;
  w->selected = -1;
  draw_widget(display, win, w);
  return 0;
}

const char* get_selected_line(int id, int widget) {
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  if (!is_list(w) || w->selected < 0 || w->selected >= kSkinLines || !w->lines[0]) return nullptr;
  return w->lines[w->selected];
}

int get_selected_index(int id, int widget) {
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  return w ? w->selected : -1;
}

const char* get_line_header(int id, int widget, int line) {
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  if (!is_list(w) || !w->lines[0] || line < 0 || line >= w->num_lines) return nullptr;
  for (int i = line; i >= 0; --i)
    if (w->indent[i] == 0) return w->lines[i];
  return nullptr;
}

int select_line_at(SDL_Surface* display, int id, int x, int y) {
  SKIN_WINDOW* win = get_skin_window(id);
  if (!display || !win) return -1;
  int f = get_focused_widget();
  SKIN_WIDGET* w = f > 0 ? get_skin_widget(id, f) : nullptr;
  if (!w) return -2;
  if (!is_list(w)) return -3;
  if (w->line_height == 0) return -4;
  if (w->num_lines == 0) return -5;
  int line = (y - w->y) / w->line_height + w->first_line;
  // Empty rows below the last line may be selected (callers treat them as "no DVR"), but
  // never a row beyond the line buffers.
  if (line < 0 || line >= kSkinLines) return -6;
  w->selected = line;
  draw_widget(display, win, w);
  return 0;
}

int scroll_list_down(SDL_Surface* display, int id, int widget) {
  SKIN_WIDGET* w = nullptr;
  int rc = scroll_checks(display, id, widget, &w);
  if (rc) return rc;
  if (w->num_lines - w->first_line < list_page(w)) return -6;
  w->first_line += 1;
  draw_widget(display, get_skin_window(id), w);
  return 0;
}

int scroll_list_up(SDL_Surface* display, int id, int widget) {
  SKIN_WIDGET* w = nullptr;
  int rc = scroll_checks(display, id, widget, &w);
  if (rc) return rc;
  if (w->first_line > 0) w->first_line -= 1;
  draw_widget(display, get_skin_window(id), w);
  return 0;
}

int page_list_down(SDL_Surface* display, int id, int widget) {
  SKIN_WIDGET* w = nullptr;
  int rc = scroll_checks(display, id, widget, &w);
  if (rc) return rc;
  int page = list_page(w);
  if (w->num_lines - w->first_line < page) return -6;
  if (w->first_line + page >= w->num_lines) return -7;
  w->first_line += page;
  draw_widget(display, get_skin_window(id), w);
  return 0;
}

int page_list_up(SDL_Surface* display, int id, int widget) {
  SKIN_WIDGET* w = nullptr;
  int rc = scroll_checks(display, id, widget, &w);
  if (rc) return rc;
  int page = list_page(w);
  if (w->first_line < page) return -6;
  w->first_line -= page;
  draw_widget(display, get_skin_window(id), w);
  return 0;
}

int set_list_column_width(int id, int widget, int column, int width) {
  SKIN_WIDGET* w = get_skin_widget(id, widget);
  if (!w || column < 0 || column >= 16) return -1;
  w->column_width[column] = width < 0 ? 0 : width;
  return 0;
}

int draw_indented_list(SDL_Surface* display, SKIN_WINDOW* window, SKIN_WIDGET* widget) {
  return draw_list(display, window, widget, false);
}

int draw_column_list(SDL_Surface* display, SKIN_WINDOW* window, SKIN_WIDGET* widget) {
  return draw_list(display, window, widget, true);
}

// ---------------------------------------------------------------- input fields

int edit_widget_key(SDL_Surface* display, int id, int key) {
  SKIN_WINDOW* win = get_skin_window(id);
  if (!display || !win) return -1;
  if (key == 9) {
    focus_next_edit_widget(display, id);
    return 0;
  }
  int rc;
  SKIN_WIDGET* w = focused_field(id, &rc);
  if (!w) return rc;
  size_t len = std::strlen(w->text);
  if (key == 8) {
    if (len > 0) w->text[len - 1] = '\0';
  } else if ((key & 0xFF) != 0 && len < 255) {
    w->text[len] = static_cast<char>(key & 0xFF);
    w->text[len + 1] = '\0';
  }
  free_text_picture(w);
  open_fonts_if_needed();
  if (!w->text[0]) {
    draw_widget(display, win, w);
    return 0;
  }
  return render_field(display, win, w, false, false);
}

int edit_widget_key_with_cursor(SDL_Surface* display, int id, int key, int* blink) {
  SKIN_WINDOW* win = get_skin_window(id);
  if (!display || !win) return -1;
  int rc;
  SKIN_WIDGET* w = focused_field(id, &rc);
  if (!w) return rc;
  int local_blink = 0;
  if (!blink) blink = &local_blink;
  size_t len = std::strlen(w->text);
  if (key == 8) {
    if (len > 0) w->text[len - 1] = '\0';
  } else if (key != 323 && key != 9 && (key & 0xFF) != 0 && len < 255) {
    w->text[len] = static_cast<char>(key & 0xFF);
    w->text[len + 1] = '\0';
  }
  free_text_picture(w);
  open_fonts_if_needed();
  if (key == 9) {
    render_field(display, win, w, false, true);
    *blink = 1;
    focus_next_edit_widget(display, id);
    return 0;
  }
  int r = render_field(display, win, w, *blink == 1, true);
  *blink = *blink ? 0 : 1;
  return r;
}

int focus_next_edit_widget(SDL_Surface* display, int id) {
  SKIN_WINDOW* win = get_skin_window(id);
  if (!win || !win->widgets) return -1;
  int n = win->num_widgets;
  int f = get_focused_widget();
  if (f < 0 || f >= n) f = 0;
  for (int k = 1; k < n; ++k) {
    int i = (f + k) % n;
    if (win->widgets[i].edit <= 0) continue;
    set_focused_widget(i);
    if (f > 0) reset_widget(display, &win->widgets[f]);
    draw_widget(display, win, &win->widgets[i]);
    return 0;
  }
  return 0;
}

// ---------------------------------------------------------------- cursors

namespace {

// clang-format off
const char* const kArrow[] = {
    "    32    32        3            1", "X c #000000", ". c #ffffff", "  c None",
    "X", "XX", "X.X", "X..X", "X...X", "X....X", "X.....X", "X......X", "X.......X",
    "X........X", "X.....XXXXX", "X..X..X", "X.X X..X", "XX  X..X", "X    X..X", "     X..X",
    "      X..X", "      X..X", "       XX", "", "", "", "", "", "", "", "", "", "", "", "", "",
    "0,0"};

const char* const kFilmFrame[] = {
    "    32    32        3            1", "X c #000000", ". c #ffffff", "  c None",
    "XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX",
    "X......X................X......X",
    "X.XXXX.X.XXXXXXXXXXXXXX.X.XXXX.X",
    "X.XXXX.X.X            X.X.XXXX.X",
    "X......X.X            X.X......X",
    "XXXXXXXX.X            X.XXXXXXXX",
    "X......X.X            X.X......X",
    "X.XXXX.X.X            X.X.XXXX.X",
    "X.XXXX.X.X            X.X.XXXX.X",
    "X......X.X            X.X......X",
    "XXXXXXXX.X            X.XXXXXXXX",
    "X......X.X     XXX    X.X......X",
    "X.XXXX.X.X XXXX...XXX XXX.XXXX.X",
    "X.XXXX.X.XX...X...X..X..X.XXXX.X",
    "X......XXXX...X...X..X..X......X",
    "XXXXXXXX..XX..X...X..X..XXXXXXXX",
    "       X..X.............X",
    "       X................X",
    "       X................X",
    "       X................X",
    "        X..............X",
    "         X............X",
    "          X..........X",
    "           XXXXXXXXXX",
    "", "", "", "", "", "", "", "",
    "0,0"};
// clang-format on

static_assert(sizeof kArrow / sizeof kArrow[0] == 37, "4 header lines, 32 rows, hot spot");
static_assert(sizeof kFilmFrame / sizeof kFilmFrame[0] == 37, "4 header lines, 32 rows, hot spot");

}  // namespace

SDL_Cursor* create_cursor_from_picture(const char* const* picture) {
  if (!picture || !SDL_WasInit(SDL_INIT_VIDEO)) return nullptr;
  Uint8 data[4 * 32] = {};
  Uint8 mask[4 * 32] = {};
  for (int row = 0; row < 32; ++row) {
    const char* line = picture[4 + row];
    size_t len = line ? std::strlen(line) : 0;
    for (int col = 0; col < 32; ++col) {
      char c = col < static_cast<int>(len) ? line[col] : ' ';  // short rows are blank-padded
      int byte = row * 4 + col / 8;
      Uint8 bit = static_cast<Uint8>(0x80 >> (col % 8));
      if (c == 'X') {
        data[byte] |= bit;
        mask[byte] |= bit;
      } else if (c == '.') {
        mask[byte] |= bit;
      }
    }
  }
  int hx = 0, hy = 0;
  if (picture[36]) std::sscanf(picture[36], "%d,%d", &hx, &hy);
  return SDL_CreateCursor(data, mask, 32, 32, hx, hy);
}

SDL_Cursor* create_skin_cursor(int kind) {
  return create_cursor_from_picture(kind == 1 ? kFilmFrame : kArrow);
}
