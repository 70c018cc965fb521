// The search window's drawing side: the selection, the calendar, the rows of day, camera,
// hour and minute widgets, the record bars and the routing of search replies to them.
#include "client/screens/search_window.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <utility>

#include "client/screens/search_window_parts.h"
#include "client/screens/skin.h"
#include "client/screens/widget_text.h"

namespace search_parts {

void use_text_style() {
  select_text_font("default");
  set_text_fg_color(SDL_Color{240, 240, 240, 0});
  set_text_bg_color(SDL_Color{16, 16, 16, 0});
}

RowBatch::RowBatch(APP_CONTEXT* ctx)
    : lock_(ctx->display_mutex),
      // Only the search window shows these widgets; the event playback window keeps their
      // records up to date without drawing them.
      screen_(can_draw(ctx) && ctx->skin_window == SEARCH_WINDOW ? screen_of(ctx) : nullptr),
      outer_(screen_update_enabled()) {
  if (outer_) disable_screen_update();
}

RowBatch::~RowBatch() {
  if (!outer_) return;
  enable_screen_update();
  if (screen_ && x1_ > x0_ && y1_ > y0_)
    update_display_rect(screen_, x0_, y0_, x1_ - x0_, y1_ - y0_);
}

void RowBatch::cover(int widget) {
  const SKIN_WIDGET* w = get_skin_widget(SEARCH_WINDOW, widget);
  if (w) cover(w->x, w->y, w->w, w->h);
}

void RowBatch::cover(int x, int y, int w, int h) {
  if (w <= 0 || h <= 0) return;
  if (x < x0_) x0_ = x;
  if (y < y0_) y0_ = y;
  if (x + w > x1_) x1_ = x + w;
  if (y + h > y1_) y1_ = y + h;
}

void erase_bar(APP_CONTEXT* ctx, int first, int count) {
  for (int w = first; w < first + count; ++w) set_widget_attr(SEARCH_WINDOW, w, 1, 1);
  const SKIN_WIDGET* w = get_skin_widget(SEARCH_WINDOW, first);
  RowBatch b(ctx);
  if (!w || !b.screen()) return;
  // The background code widens every repaint by 16 pixels; a bar asks for its own width.
  restore_background_rect(b.screen(), SEARCH_WINDOW, w->x, w->y, count * (w->w + 1) - 16, w->h);
  b.cover(w->x, w->y, count * (w->w + 1), w->h);
}

RECEIVER_INFO* search_receiver(APP_CONTEXT* ctx) {
  return ctx->num_receivers > 0 ? &ctx->receivers[0] : nullptr;
}

}  // namespace search_parts

using namespace search_parts;

namespace {

constexpr int kWin = SEARCH_WINDOW;
constexpr const char* kMonths[12] = {"January",   "February", "March",    "April",
                                     "May",       "June",     "July",     "August",
                                     "September", "October",  "November", "December"};

SEARCH_SELECTION g_sel = {0, 0, 0, 0, 0, 0, 0, 0, 6, 16, -1, -1};
int g_guard = 0;

// A widget's state, drawn when the batch draws; otherwise only its record changes.
void put_state(RowBatch& b, int widget, int state) {
  if (b.screen()) {
    set_widget_state(b.screen(), kWin, widget, state);
  } else if (SKIN_WIDGET* w = get_skin_widget(kWin, widget)) {
    if (state < 0 || state >= w->num_states) return;
    w->state = state;
    w->enabled = state == 4 ? 0 : 1;
  }
  b.cover(widget);
}

// A label's text, rendered in the window's style when the batch draws.
void put_text(RowBatch& b, int widget, const char* text) {
  if (b.screen()) {
    use_text_style();
    render_widget_text(b.screen(), kWin, widget, text);
  } else if (char* t = get_widget_text(kWin, widget)) {
    std::snprintf(t, 256, "%s", text);
  }
  b.cover(widget);
}

void states_of(APP_CONTEXT* ctx, std::initializer_list<std::pair<int, int>> ranges, int state) {
  RowBatch b(ctx);
  for (auto [first, last] : ranges)
    for (int w = first; w <= last; ++w) put_state(b, w, state);
}

void attrs_of(int first, int last, int attribute, uint8_t value) {
  for (int w = first; w <= last; ++w) set_widget_attr(kWin, w, attribute, value);
}

// Copies every pixel of `from` over `to` (same size), whatever colour key `from` carries.
void copy_all_pixels(SDL_Surface* from, SDL_Surface* to) {
  if (!from || !to) return;
  const Uint32 flags = from->flags & SDL_SRCCOLORKEY;
  const Uint32 key = from->format->colorkey;
  SDL_SetColorKey(from, 0, 0);
  SDL_BlitSurface(from, nullptr, to, nullptr);
  if (flags) SDL_SetColorKey(from, SDL_SRCCOLORKEY, key);
}

void paint_bars(APP_CONTEXT* ctx, int first, int count, const uint8_t* kinds) {
  RowBatch b(ctx);
  for (int i = 0; i < count; ++i) {
    SKIN_WIDGET* w = get_skin_widget(kWin, first + i);
    if (!w) continue;
    if (kinds[i] == 0) {
      w->hidden = 1;
      put_state(b, first + i, 4);
      if (b.screen()) restore_widget_area(b.screen(), kWin, first + i);
      continue;
    }
    // Radio pictures: 0 off, 1 on, 2 off and hovered, 3 on and hovered. The framed bar
    // marks a cell that is selected or under the pointer, not both.
    paint_record_bar(w->pictures[0], kinds[i], 0);
    copy_all_pixels(w->pictures[0], w->pictures[3]);
    paint_record_bar(w->pictures[1], kinds[i], 1);
    copy_all_pixels(w->pictures[1], w->pictures[2]);
    w->hidden = 0;
    put_state(b, first + i, 0);
  }
}

uint32_t host32_at(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

SEARCH_SELECTION& search_selection() { return g_sel; }
int& search_replay_guard() { return g_guard; }

// ---------------------------------------------------------------- selection and calendar

namespace {
// Date, hour and weekday of the selection from `when`; minute and second 0.
void take_date(time_t when) {
  std::tm t{};
  localtime_r(&when, &t);
  g_sel.year = t.tm_year;
  g_sel.month = t.tm_mon;
  g_sel.day = t.tm_mday;
  g_sel.hour = t.tm_hour;
  g_sel.minute = 0;
  g_sel.second = 0;
  g_sel.weekday = t.tm_wday;
}
}  // namespace

void set_search_date_now() { take_date(std::time(nullptr)); }

void set_search_date_from(time_t when) {
  take_date(when);
  g_sel.event_type = 6;
  g_sel.camera_mask = 0;
}

int days_in_month(int month, int year) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 0 || month > 11) return 0;
  return month == 1 && year % 4 == 0 ? 29 : kDays[month];
}

void draw_month_label(APP_CONTEXT* ctx) {
  char text[32];
  const int m = g_sel.month >= 0 && g_sel.month < 12 ? g_sel.month : 0;
  std::snprintf(text, sizeof text, "%s %d", kMonths[m], g_sel.year + 1900);
  RowBatch b(ctx);
  put_text(b, SW_MONTH_YEAR, text);
}

void draw_calendar(APP_CONTEXT* ctx, int month, int year) {
  std::tm t{};
  t.tm_year = year;
  t.tm_mon = month;
  t.tm_mday = 1;
  t.tm_hour = 12;
  t.tm_isdst = -1;
  const time_t first_day = std::mktime(&t);
  std::tm lt{};
  localtime_r(&first_day, &lt);
  const int f = lt.tm_wday, n = days_in_month(month, year);
  const SKIN_WIDGET* first = get_skin_widget(kWin, SW_DAY1);
  if (!first) return;
  if (g_sel.origin_x < 0) {
    g_sel.origin_x = first->x;
    g_sel.origin_y = first->y;
  }
  const int ox = g_sel.origin_x, oy = g_sel.origin_y, w = first->w, h = first->h;
  RowBatch b(ctx);
  if (b.screen()) restore_background_rect(b.screen(), kWin, ox, oy, 7 * w, 6 * h);
  b.cover(ox, oy, 7 * (w + 2) + 16, 6 * h);
  for (int d = 1; d <= 31; ++d) {
    const int widget = SW_DAY1 + d - 1;
    if (d > n) {
      set_widget_attr(kWin, widget, 1, 1);
      continue;
    }
    const int c = f + d - 1;
    set_widget_position(kWin, widget, ox + (c % 7) * (w + 2), oy + (c / 7) * h);
    set_widget_attr(kWin, widget, 1, 0);
    char text[4];
    std::snprintf(text, sizeof text, "%d", d);
    put_text(b, widget, text);
  }
}

void next_month(APP_CONTEXT* ctx) {
  g_sel.day = g_sel.hour = g_sel.minute = 255;
  g_sel.second = 0;
  g_sel.camera_mask = 0;
  if (++g_sel.month > 11) {
    g_sel.month = 0;
    ++g_sel.year;
  }
  draw_month_label(ctx);
  draw_calendar(ctx, g_sel.month, g_sel.year);
}

void previous_month(APP_CONTEXT* ctx) {
  g_sel.day = g_sel.hour = g_sel.minute = 255;
  g_sel.second = 0;
  g_sel.camera_mask = 0;
  if (g_sel.year < 100 || (g_sel.year == 100 && g_sel.month == 0)) return;  // 2000 is the first
  if (--g_sel.month < 0) {
    g_sel.month = 11;
    --g_sel.year;
  }
  draw_month_label(ctx);
  draw_calendar(ctx, g_sel.month, g_sel.year);
}

namespace {
// Places `count` widgets from `first` in one row, each w + 1 right of the previous, hidden.
void place_row(int first, int count) {
  int x, y, w, h;
  if (get_widget_position(kWin, first, &x, &y) != 0 || get_widget_size(kWin, first, &w, &h) != 0)
    return;
  for (int i = 0; i < count; ++i) {
    set_widget_position(kWin, first + i, x + i * (w + 1), y);
    set_widget_attr(kWin, first + i, 1, 1);
  }
}
}  // namespace

void place_hour_widgets() { place_row(SW_HOUR0, 24); }
void place_minute_widgets() { place_row(SW_MINUTE0, 60); }

void place_camera_widgets(APP_CONTEXT* ctx) {
  int x, y, w, h;
  if (get_widget_position(kWin, SW_CAMERA1, &x, &y) != 0 ||
      get_widget_size(kWin, SW_CAMERA1, &w, &h) != 0)
    return;
  SDL_Surface* s = screen_of(ctx);
  const int display_h = s ? s->h : get_skin_size(kWin).h;
  const bool columns = y < display_h / 2;
  RowBatch b(ctx);
  for (int i = 0; i < 32; ++i) {
    const int widget = SW_CAMERA1 + i;
    if (columns)
      set_widget_position(kWin, widget, x + (i / 16) * w, y + (i % 16) * (h + 1));
    else
      set_widget_position(kWin, widget, x + (i % 16) * (w + 1), y + (i / 16) * h);
    set_widget_attr(kWin, widget, 1, i >= g_sel.camera_count ? 1 : 0);
    char text[4];
    std::snprintf(text, sizeof text, "%d", i + 1);
    put_text(b, widget, text);
  }
}

void show_camera_widgets(APP_CONTEXT* ctx) {
  RowBatch b(ctx);
  for (int i = 0; i < 32; ++i) {
    const int widget = SW_CAMERA1 + i;
    const bool shown = i < g_sel.camera_count;
    set_widget_attr(kWin, widget, 1, shown ? 0 : 1);
    if (!b.screen()) continue;
    if (shown)
      redraw_widget(b.screen(), kWin, widget);
    else
      restore_widget_area(b.screen(), kWin, widget);
    b.cover(widget);
  }
}

// ---------------------------------------------------------------- rows

void set_list_controls_state(APP_CONTEXT* ctx, int state) {
  states_of(ctx, {{SW_DVR_LIST, SW_DVR_LIST}, {SW_SCROLLUP, SW_PAGEDOWN}}, state);
}
void set_event_type_state(APP_CONTEXT* ctx, int state) {
  states_of(ctx, {{SW_EVENT_TYPE, SW_EVT_MINUS}}, state);
}
void set_month_controls_state(APP_CONTEXT* ctx, int state) {
  states_of(ctx, {{SW_MONTH_YEAR, SW_MONTH_MINUS}}, state);
}
void set_calendar_state(APP_CONTEXT* ctx, int state) {
  states_of(ctx, {{SW_MONTH_YEAR, SW_MONTH_MINUS}, {SW_DAY1, SW_DAY1 + 30}}, state);
}
void set_day_attr(APP_CONTEXT*, int attribute, uint8_t value) {
  attrs_of(SW_DAY1, SW_DAY1 + 30, attribute, value);
}
void set_camera_state(APP_CONTEXT* ctx, int state) {
  states_of(ctx, {{SW_CAMERA1, SW_CAMERA1 + 31}}, state);
}
void set_camera_attr(APP_CONTEXT*, int attribute, uint8_t value) {
  attrs_of(SW_CAMERA1, SW_CAMERA1 + 31, attribute, value);
  for (int i = g_sel.camera_count; i < 32; ++i) set_widget_attr(kWin, SW_CAMERA1 + i, 1, 1);
}
void set_hour_state(APP_CONTEXT* ctx, int state) {
  states_of(ctx, {{SW_HOUR0, SW_HOUR0 + 23}}, state);
}
void set_hour_attr(APP_CONTEXT*, int attribute, uint8_t value) {
  attrs_of(SW_HOUR0, SW_HOUR0 + 23, attribute, value);
}
void set_minute_state(APP_CONTEXT* ctx, int state) {
  states_of(ctx, {{SW_MINUTE0, SW_MINUTE0 + 59}}, state);
}
void set_minute_attr(APP_CONTEXT*, int attribute, uint8_t value) {
  attrs_of(SW_MINUTE0, SW_MINUTE0 + 59, attribute, value);
}
void set_play_controls_attr(APP_CONTEXT*, int attribute, uint8_t value) {
  attrs_of(SW_TOP, SW_FASTER, attribute, value);
  attrs_of(SW_RECORD, SW_SNAPSHOT, attribute, value);
}
void set_play_controls_state(APP_CONTEXT* ctx, int state) {
  RowBatch b(ctx);
  for (int w = SW_TOP; w <= SW_FASTER; ++w) put_state(b, w, state);
  put_state(b, SW_RECORD, state);
  put_state(b, SW_SNAPSHOT, state);
  char text[16];
  std::snprintf(text, sizeof text, "%4.1fX", ctx->playback_speed.load());
  put_text(b, SW_SPEED, text);
}

void reset_search_window(APP_CONTEXT* ctx) {
  ctx->playback_speed.store(1.0);
  set_event_type_state(ctx, 4);
  set_month_controls_state(ctx, 4);
  set_day_attr(ctx, 3, 0);
  states_of(ctx, {{SW_DAY1, SW_DAY1 + 30}}, 4);
  set_camera_attr(ctx, 3, 0);
  set_camera_state(ctx, 4);
  set_hour_attr(ctx, 3, 0);
  set_minute_attr(ctx, 3, 0);
  set_hour_state(ctx, 4);
  set_minute_state(ctx, 4);
  erase_bar(ctx, SW_HOUR0, 24);
  erase_bar(ctx, SW_MINUTE0, 60);
  set_play_controls_attr(ctx, 3, 0);
  set_play_controls_state(ctx, 4);
}

void draw_search_window(APP_CONTEXT* ctx) {
  set_search_date_now();
  use_text_style();
  {
    RowBatch b(ctx);
    draw_month_label(ctx);
    draw_calendar(ctx, g_sel.month, g_sel.year);
    place_hour_widgets();
    place_minute_widgets();
    place_camera_widgets(ctx);
    set_list_controls_state(ctx, 0);
    set_event_type_state(ctx, 4);
    set_calendar_state(ctx, 4);
    set_camera_state(ctx, 4);
    set_hour_state(ctx, 4);
    set_minute_state(ctx, 4);
    set_play_controls_state(ctx, 4);
    put_state(b, SW_NETWORK, 0);
  }
  SdlLock lock(ctx->display_mutex);
  if (can_draw(ctx)) update_surface(screen_of(ctx));
}

// ---------------------------------------------------------------- replies and bars

void enable_days(APP_CONTEXT* ctx, const uint8_t flags[31]) {
  RowBatch b(ctx);
  for (int i = 0; i < 31; ++i) put_state(b, SW_DAY1 + i, flags[i] ? 0 : 4);
}

void enable_cameras_by_mask(APP_CONTEXT* ctx, uint32_t mask) {
  RowBatch b(ctx);
  for (int i = 0; i < 32; ++i) put_state(b, SW_CAMERA1 + i, (mask >> i) & 1u ? 0 : 4);
}

void enable_cameras_by_flags(APP_CONTEXT* ctx, const uint8_t flags[16]) {
  RowBatch b(ctx);
  for (int i = 0; i < 16; ++i) put_state(b, SW_CAMERA1 + i, flags[i] == 1 ? 0 : 4);
}

void paint_hour_bars(APP_CONTEXT* ctx, const uint8_t kinds[24]) {
  paint_bars(ctx, SW_HOUR0, 24, kinds);
}
void paint_minute_bars(APP_CONTEXT* ctx, const uint8_t kinds[60]) {
  paint_bars(ctx, SW_MINUTE0, 60, kinds);
}

int paint_record_bar(SDL_Surface* picture, uint8_t kinds, int framed) {
  const int n = __builtin_popcount(kinds & 0x7Fu);
  if (!picture || n == 0) return -1;
  const int w = picture->w, h = picture->h;
  auto fill = [picture](int x, int y, int fw, int fh, Uint32 colour) {
    SDL_Rect r{Sint16(x), Sint16(y), Uint16(fw > 0 ? fw : 0), Uint16(fh > 0 ? fh : 0)};
    SDL_FillRect(picture, &r, colour);
  };
  if (framed) {
    fill(0, 0, w, h, SDL_MapRGB(picture->format, 255, 255, 255));
    fill(1, 1, w - 2, h - 2, SDL_MapRGB(picture->format, 2, 2, 2));
  }
  int j = 0;  // the stripe's place among the set bits keeps every kind inside the cell
  for (int k = 0; k < 7; ++k) {
    if (!(kinds & (1u << k))) continue;
    Uint32 colour = 0;
    if (k == 0)
      colour = SDL_MapRGB(picture->format, 0, 0, 255);
    else if (k == 1)
      colour = SDL_MapRGB(picture->format, 255, 255, 0);
    else if (k == 2)
      colour = SDL_MapRGB(picture->format, 0, 255, 255);
    if (framed)
      fill(2, j == 0 ? 2 : 2 + (h - 4) * j / n, w - 4, j == 0 ? h - 4 : (h - 4) / n, colour);
    else
      fill(0, j == 0 ? 0 : h * j / n, w, j == 0 ? h : h / n, colour);
    ++j;
  }
  return 0;
}

void dispatch_search_reply(APP_CONTEXT* ctx, const uint8_t* r, uint8_t protocol) {
  if (!r) return;
  if (protocol == 'W') {
    if (host32_at(r + 8) == 255)
      enable_days(ctx, r + 28);
    else if (host32_at(r + 12) == 0)
      enable_cameras_by_flags(ctx, r + 59);
    else if (host32_at(r + 16) != 255)
      paint_minute_bars(ctx, r + 99);
    else
      paint_hour_bars(ctx, r + 75);
    return;
  }
  if (r[3] == 255)
    enable_days(ctx, r + 16);
  else if (host32_at(r + 4) == 0)
    enable_cameras_by_mask(ctx, host32_at(r + 12));
  else if (r[8] == 255)
    paint_hour_bars(ctx, r + 47);
  else
    paint_minute_bars(ctx, r + 71);
}
