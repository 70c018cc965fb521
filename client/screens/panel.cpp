#include "client/screens/panel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "client/foundation/app_state.h"
#include "client/foundation/channel_table.h"
#include "client/foundation/config/setup_lookup.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/sdl_lock.h"
#include "client/foundation/stats.h"
#include "client/foundation/user_events.h"
#include "client/foundation/win_helpers.h"
#include "client/links/connection.h"
#include "client/links/nc_receiver.h"
#include "client/links/recording.h"
#include "client/screens/event_loop.h"
#include "client/screens/panel_internal.h"
#include "client/screens/screen_state.h"
#include "client/screens/skin.h"
#include "client/screens/tiles.h"
#include "client/screens/widget_text.h"

// The layout strip and the user menu are in layout_menu.cpp, the PTZ pad in ptz_pad.cpp, the
// lists in panel_lists.cpp, the audio routing in panel_audio.cpp.

namespace panel_internal {

SDL_Surface* screen_of(APP_CONTEXT* ctx) {
  return ctx->surfaces[SURF_SCREEN] ? ctx->surfaces[SURF_SCREEN] : SDL_GetVideoSurface();
}

bool small_window(APP_CONTEXT* ctx) {
  const SDL_Rect s = get_skin_size(ctx->skin_window);
  return s.w == 1024 && s.h == 768;
}

void show_widget(SDL_Surface* display, int window, int widget) {
  if (!get_skin_widget(window, widget)) return;
  set_widget_attr(window, widget, 1, 0);
  redraw_widget(display, window, widget);
}

void hide_widget(SDL_Surface* display, int window, int widget) {
  if (!get_skin_widget(window, widget)) return;
  set_widget_attr(window, widget, 1, 1);
  restore_widget_area(display, window, widget);
}

}  // namespace panel_internal

using namespace panel_internal;

namespace {

constexpr SDL_Color kLight{240, 240, 240, 0};
constexpr SDL_Color kDark{16, 16, 16, 0};
constexpr SDL_Color kYellow{255, 255, 0, 0};
constexpr SDL_Color kRed{255, 0, 0, 0};

bool shown(int window, int widget) {
  return widget > 0 && get_skin_widget(window, widget) && get_widget_attr(window, widget, 1) == 0;
}

void set_colours(SDL_Color fg, SDL_Color bg) {
  set_text_fg_color(fg);
  set_text_bg_color(bg);
  select_text_font("default");
}

}  // namespace

// ---------------------------------------------------------------- start-up

int convert_tile_images(APP_CONTEXT* ctx) {
  SDL_Surface* screen = SDL_GetVideoSurface();
  if (!screen) return -1;
  // The tiles blit these pictures many times a second: once in the screen's format.
  const int window = ctx->skin_window;
  if (window == kMain) {
    for (const char* name : {"background", "cam_disabled", "cam_nosignal", "cam_secret"})
      if (int w = find_widget(kMain, name)) convert_widget_states(screen->format, kMain, w);
  } else if (window == kSearch) {
    convert_widget_states(screen->format, kSearch, 28);
  } else if (window == SKIN_PLAYBACK) {
    convert_widget_states(screen->format, SKIN_PLAYBACK, 14);
  }
  return 0;
}

void setup_main_panel(APP_CONTEXT* ctx) {
  if (!ctx->skin) return;
  SDL_Surface* display = screen_of(ctx);
  SdlLock lock(ctx->display_mutex);
  static const int widths[3][5] = {
      {24, 95, 60, 35, 53}, {36, 136, 60, 44, 79}, {36, 136, 240, 44, 79}};
  const SDL_Rect size = get_skin_size(kMain);
  const int row = small_window(ctx) ? 0 : (size.w == 1280 && size.h == 1024) ? 1 : 2;
  for (int c = 0; c < 5; ++c) set_list_column_width(kMain, W_EVT_LIST, c, widths[row][c]);
  const int level = get_wave_volume();
  set_widget_attr(kMain, W_VOLUME_METER, 3, static_cast<uint8_t>(level));
  draw_widget_text(display, kMain, W_VOLUME_METER, "", meter_step(level), kLight);
  set_colours(kLight, kDark);
  for (int w = W_PTZ_PTSPEED_LBL; w <= W_PTZ_FSPEED_LBL; ++w) {
    char text[16];
    snprintf(text, sizeof text, "%d", get_widget_attr(kMain, w, 3));
    render_widget_text(display, kMain, w, text);
  }
  // The strip and the menu set themselves up on their first drawing.
  draw_layout_strip(ctx);
  draw_user_menu(ctx);
}

// ---------------------------------------------------------------- statistics, camera box

int draw_receive_stats(APP_CONTEXT* ctx) {
  if (ctx->fullscreen) return -1;
  if (!ctx->skin) return -2;
  if (small_window(ctx) && shown(kMain, W_EVT_LIST)) return -3;
  SdlLock lock(ctx->display_mutex);
  // Roll every set to this second, then read the second just ended.
  stats_add_rx(ctx, nullptr, nullptr, STAT_RECEIVED, 0);
  uint32_t displayed = 0;
  for (int r = 0; r < ctx->num_receivers && r < MAX_RECEIVERS; ++r) {
    RECEIVER_INFO& rx = ctx->receivers[r];
    stats_add_rx(nullptr, &rx, nullptr, STAT_DISPLAYED, 0);
    displayed += rx.stats.last_second.count[STAT_DISPLAYED];
  }
  const STATS_WORDS& last = ctx->stats.last_second;
  char text[3][64];
  snprintf(text[0], sizeof text[0], "Frames received: %u", last.count[STAT_RECEIVED].load());
  // The decoders count shown frames per receiver; the window's figure is their sum.
  snprintf(text[1], sizeof text[1], "Frames displayed: %u", displayed);
  snprintf(text[2], sizeof text[2], "KBytes received: %u", last.count[STAT_BYTES].load() / 1024);
  set_colours(kLight, kDark);
  for (int k = 0; k < 3; ++k) {
    const int w = W_FRAMES_RECEIVED + k;
    set_widget_attr(kMain, w, 1, 0);
    set_widget_attr(kMain, w, 6, 0);
    render_widget_text(screen_of(ctx), kMain, w, text[k]);
  }
  return 0;
}

int hide_receive_stats(APP_CONTEXT* ctx) {
  if (ctx->fullscreen) return -1;
  if (!ctx->skin) return -2;
  SdlLock lock(ctx->display_mutex);
  for (int w = W_FRAMES_RECEIVED; w < W_FRAMES_RECEIVED + 3; ++w)
    hide_widget(screen_of(ctx), kMain, w);
  return 0;
}

void show_event_list(APP_CONTEXT* ctx) {
  hide_receive_stats(ctx);
  if (ctx->fullscreen || !ctx->skin) return;
  SdlLock lock(ctx->display_mutex);
  for (int w : {int(W_EVT_LIST), 59, 58, 57, 56}) show_widget(screen_of(ctx), kMain, w);
}

void hide_event_list(APP_CONTEXT* ctx) {
  if (!ctx->fullscreen && ctx->skin) {
    SdlLock lock(ctx->display_mutex);
    for (int w = W_EVT_LIST; w <= W_EVT_PGDN; ++w) hide_widget(screen_of(ctx), kMain, w);
  }
  draw_receive_stats(ctx);
}

int cam_info_lines(APP_CONTEXT* ctx, RECEIVER_INFO* rx, int k, bool small, char lines[][128]) {
  CHANNEL_INFO& ch = rx->channels[k];
  int pw = 0, ph = 0;
  {
    SdlLock picture(ch.mutex);
    if (ch.surface) pw = ch.surface->w, ph = ch.surface->h;
  }
  const STATS_WORDS& last = ch.stats.last_second;
  const unsigned fps = last.count[STAT_RECEIVED], kbps = last.count[STAT_BYTES] / 1024;
  int n = 0;
  auto add = [&](const char* fmt, auto... args) { snprintf(lines[n++], 128, fmt, args...); };
  (void)ctx;
  if (small) {
    add("Cam No.: %d", k + 1);
    add("DVR: %s", rx->name);
    if (pw > 0) add("Size: %dx%d / Fps: %u fps / %u kBps", pw, ph, fps, kbps);
    add("IP: %s", rx->address);
  } else {
    add("DVR: %s", rx->name);
    add("Cam No.: %d", k + 1);
    add("Cam Label: %s", ch.camera_name);
    add("IP: %s", rx->address);
    if (pw > 0) add("Size: %dx%d", pw, ph);
    add("FPS: %u fps", fps);
    add("Bit Rate: %u kBps", kbps);
    add("Zoom: %5.1fX", ch.zoom_factor);
    add("Scale: %5.1fX", ch.scale_factor);
  }
  return n;
}

int draw_cam_info(APP_CONTEXT* ctx, int32_t id) {
  if (ctx->fullscreen) return -1;
  if (!ctx->skin) return -2;
  RECEIVER_INFO* rx = find_receiver_by_channel(ctx, id);
  if (!rx) return -3;
  const int k = find_channel(rx, id);
  if (k < 0) return k;
  SdlLock lock(ctx->display_mutex);
  stats_add_rx(nullptr, rx, &rx->channels[k], STAT_RECEIVED, 0);
  screen_state.cam_info_shown.store(1);
  screen_state.cam_info_channel = id;
  const bool small = small_window(ctx) || ctx->win_w == 1024 || ctx->win_h == 768;
  SDL_Surface* display = screen_of(ctx);
  if (!(small_window(ctx) && shown(kMain, W_EVT_LIST))) {
    set_widget_attr(kMain, W_CAM_INFO, 1, 0);
    SKIN_WIDGET* box = get_skin_widget(kMain, W_CAM_INFO);
    if (box) {
      // Cleared without a draw: the lines below end with the one draw of the box.
      box->num_lines = 0;
      box->first_line = 0;
      box->selected = -1;
    }
  }
  char lines[9][128];
  const int n = cam_info_lines(ctx, rx, k, small, lines);
  for (int i = 0; i < n; ++i) add_widget_line(display, kMain, W_CAM_INFO, lines[i], 0, i == n - 1);
  return 0;
}

int hide_cam_info(APP_CONTEXT* ctx) {
  if (ctx->fullscreen) return -1;
  if (!ctx->skin) return -2;
  SdlLock lock(ctx->display_mutex);
  if (shown(kMain, W_CAM_INFO)) hide_widget(screen_of(ctx), kMain, W_CAM_INFO);
  screen_state.cam_info_shown.store(0);
  return 0;
}

// ---------------------------------------------------------------- indicators and meters

namespace {
int wait_widget(APP_CONTEXT* ctx, int* second) {
  *second = 0;
  if (ctx->skin_window == kSearch) {
    *second = 27;
    return 25;
  }
  return ctx->skin_window == kMain ? find_widget(kMain, "busy") : 0;
}
}  // namespace

// The refresh timer animates the indicator that is not hidden: its attribute changes under
// the display mutex the timer holds.
void show_wait_indicator(APP_CONTEXT* ctx) {
  if (!ctx->skin) return;
  SdlLock lock(ctx->display_mutex);
  int second;
  const int first = wait_widget(ctx, &second);
  const int w = ctx->skin_window == kSearch ? (ctx->wait_variant == 2 ? second : first) : first;
  if (w > 0) set_widget_attr(ctx->skin_window, w, 1, 0);
}

void hide_wait_indicator(APP_CONTEXT* ctx) {
  SdlLock lock(ctx->display_mutex);
  int second;
  const int first = wait_widget(ctx, &second);
  if (ctx->skin) {
    if (first > 0) set_widget_attr(ctx->skin_window, first, 1, 1);
    if (second > 0) set_widget_attr(ctx->skin_window, second, 1, 1);
  }
  ctx->wait_variant = 0;
  ctx->dirty.store(1);  // the next refresh copies the video area over the animation
}

void show_network_indicator(APP_CONTEXT* ctx) {
  if (!ctx->skin) return;
  if (int w = find_widget(ctx->skin_window, "network")) {
    SdlLock lock(ctx->display_mutex);
    set_widget_state(screen_of(ctx), ctx->skin_window, w, 1);
  }
}

void hide_network_indicator(APP_CONTEXT* ctx) {
  if (!ctx->skin) return;
  if (int w = find_widget(ctx->skin_window, "network")) {
    SdlLock lock(ctx->display_mutex);
    set_widget_state(screen_of(ctx), ctx->skin_window, w, 0);
  }
}

namespace {
SDL_Cursor* arrow_cursor = nullptr;  // SDL's own, put back when the drag ends
}  // namespace

void show_drag_cursor(APP_CONTEXT* ctx) {
  if (screen_state.drag_cursor) return;
  screen_state.drag_cursor = create_skin_cursor(1);
  if (!screen_state.drag_cursor) return;
  arrow_cursor = SDL_GetCursor();
  SDL_SetCursor(screen_state.drag_cursor);
}

void hide_drag_cursor(APP_CONTEXT* ctx) {
  if (!screen_state.drag_cursor) return;
  if (arrow_cursor) SDL_SetCursor(arrow_cursor);
  SDL_FreeCursor(screen_state.drag_cursor);
  screen_state.drag_cursor = nullptr;
}

void clock_loop(APP_CONTEXT* ctx, const std::atomic<int>* stop) {
  while (!stop->load()) {
    int digits[15];
    clock_digits(digits);
    if (!ctx->fullscreen && ctx->skin) {
      // The refresh timer draws on the same screen: the digits change under its lock.
      SdlLock lock(ctx->display_mutex);
      if (SDL_Surface* display = screen_of(ctx))
        for (int i = 0; i < 15; ++i) set_widget_state(display, kMain, W_CLOCK_FIRST + i, digits[i]);
    }
    for (int waited = 0; waited < 1000 && !stop->load(); waited += 50) SDL_Delay(50);
  }
}

int meter_step(int level) {
  if (level < 0 || level > 100) return -1;
  return (level + 9) / 10;
}

namespace {
// "%d%%" on a meter in the state of its value; nothing for a value outside 0..100.
void draw_meter(APP_CONTEXT* ctx, int widget, int value) {
  const int step = meter_step(value);
  if (step < 0 || !get_skin_widget(kMain, widget)) return;
  char text[16];
  snprintf(text, sizeof text, "%d%%", value);
  SdlLock lock(ctx->display_mutex);
  set_widget_attr(kMain, widget, 3, static_cast<uint8_t>(value));
  draw_widget_text(screen_of(ctx), kMain, widget, text, step, kLight);
}
}  // namespace

int draw_cpu_meter(APP_CONTEXT* ctx) {
  if (ctx->fullscreen) return 0;
  if (!ctx->skin) return -2;
  draw_meter(ctx, W_CPU_USAGE, screen_state.cpu_load.load());
  return 0;
}

int draw_network_meter(APP_CONTEXT* ctx) {
  if (ctx->fullscreen || !ctx->skin) return 0;
  draw_meter(ctx, W_NETWORK_USAGE, ctx->net_load.load());
  return 0;
}

int draw_disk_meter(APP_CONTEXT* ctx) {
  if (ctx->fullscreen) return 0;
  if (!ctx->skin) return -2;
  draw_meter(ctx, W_HDD_USAGE, screen_state.disk_free.load());
  return 0;
}

namespace {
void step_volume(APP_CONTEXT* ctx, int delta) {
  const int level = std::clamp(get_wave_volume() + delta, 0, 100);
  // Without a sound device there is no volume: the meter keeps showing 0.
  if (set_wave_volume(level) != 0) return;
  if (ctx->skin && !ctx->fullscreen) {
    SdlLock lock(ctx->display_mutex);
    set_widget_attr(kMain, W_VOLUME_METER, 3, static_cast<uint8_t>(level));
    draw_widget_text(screen_of(ctx), kMain, W_VOLUME_METER, "", meter_step(level), kLight);
  }
}
}  // namespace

void volume_up(APP_CONTEXT* ctx) { step_volume(ctx, 10); }
void volume_down(APP_CONTEXT* ctx) { step_volume(ctx, -10); }

// ---------------------------------------------------------------- channel pop-up pad

namespace {
const int kPadColumns[7][2] = {
    {W_PIP2, 28}, {W_DIGITAL_ZOOM_IN, W_DIGITAL_ZOOM_OUT}, {32, 33}, {30, 31}, {34, 35}, {36, 37},
    {38, 29}};
}  // namespace

void place_popup_panel(APP_CONTEXT* ctx, int x, int y) {
  if (!ctx->skin) return;
  // The refresh timer may be drawing a shown pad from these positions.
  SdlLock lock(ctx->display_mutex);
  int fw = 0, fh = 0, bw = 0, bh = 0;
  get_widget_size(kMain, W_POPUP_FRAME, &fw, &fh);
  get_widget_size(kMain, W_PIP2, &bw, &bh);
  const RECT16& v = ctx->video_rect;
  // The pad stays inside the video area, where its widgets lie.
  if (x + fw > v.x + v.w) x = v.x + v.w - fw;
  if (y + fh > v.y + v.h) y = v.y + v.h - fh;
  disable_screen_update();
  set_widget_position(kMain, W_POPUP_FRAME, x, y);
  for (int k = 0; k < 7; ++k) {
    const int cx = x + 1 + k * (bw + 1);
    set_widget_position(kMain, kPadColumns[k][0], cx, y + 3);
    set_widget_position(kMain, kPadColumns[k][1], cx, y + bh + 6);
  }
  enable_screen_update();
}

void draw_popup_panel(APP_CONTEXT* ctx) {
  SDL_Surface* display = screen_of(ctx);
  if (!display || !ctx->skin) return;
  SdlLock lock(ctx->display_mutex);
  const bool updates = screen_update_enabled();
  disable_screen_update();
  set_widget_attr(kMain, W_POPUP_FRAME, 1, 0);
  redraw_widget(display, kMain, W_POPUP_FRAME);
  for (int w : {int(W_PIP2), int(W_DIGITAL_ZOOM_IN), int(W_DIGITAL_ZOOM_OUT)}) {
    set_widget_attr(kMain, w, 1, 0);
    redraw_widget(display, kMain, w);
  }
  for (int w = W_POPUP_FIRST; w <= W_POPUP_LAST; ++w) {
    set_widget_attr(kMain, w, 1, 0);
    redraw_widget(display, kMain, w);
  }
  if (updates) enable_screen_update();
}

void show_popup_panel(APP_CONTEXT* ctx) {
  if (!ctx->skin) return;
  SdlLock lock(ctx->display_mutex);
  ctx->popup_state.store(4);
}

int hide_popup_panel(APP_CONTEXT* ctx) {
  // The refresh timer holds the display mutex for its whole tick: a tick that found the pad
  // shown would otherwise draw it again, un-hiding the widgets hidden here.
  SdlLock lock(ctx->display_mutex);
  if (!(ctx->popup_state.load() & 2)) return -1;
  ctx->popup_state.store(8);
  set_widget_attr(kMain, W_POPUP_FRAME, 1, 1);
  for (int w : {int(W_PIP2), int(W_DIGITAL_ZOOM_IN), int(W_DIGITAL_ZOOM_OUT)})
    set_widget_attr(kMain, w, 1, 1);
  for (int w = W_POPUP_FIRST; w <= W_POPUP_LAST; ++w) set_widget_attr(kMain, w, 1, 1);
  return 0;
}

int in_popup_frame(int widget) {
  int fx, fy, fw, fh, x, y;
  if (get_widget_position(kMain, W_POPUP_FRAME, &fx, &fy) != 0 ||
      get_widget_size(kMain, W_POPUP_FRAME, &fw, &fh) != 0 ||
      get_widget_position(kMain, widget, &x, &y) != 0)
    return 0;
  return x >= fx && x <= fx + fw && y >= fy && y <= fy + fh ? 1 : 0;
}

void place_pip_close(APP_CONTEXT* ctx) {
  int w = 0, h = 0;
  if (get_widget_size(ctx->skin_window, W_PIP_CLOSE, &w, &h) != 0) return;
  set_widget_position(ctx->skin_window, W_PIP_CLOSE,
                      ctx->enlarged_rect.x + ctx->enlarged_rect.w - w - 4,
                      ctx->enlarged_rect.y + 4);
}

void draw_pip_close(APP_CONTEXT* ctx) {
  if (!ctx->skin) return;
  SdlLock lock(ctx->display_mutex);
  show_widget(screen_of(ctx), ctx->skin_window, W_PIP_CLOSE);
}

void hide_pip_close(APP_CONTEXT* ctx) {
  if (ctx->skin) set_widget_attr(ctx->skin_window, W_PIP_CLOSE, 1, 1);
  ctx->dirty.store(1);
}
// ---------------------------------------------------------------- tooltip and message

SDL_Rect place_tooltip(int x, int y, int w, int h, int win_w, int win_h, const RECT16& v) {
  auto axis = [](int p, int size, int limit, int v0, int vlen) {
    if (p + size > limit) {
      p = limit - size;
      if (p >= v0 && p < v0 + vlen) p = v0 + vlen;
    }
    if (p < v0 && p + size > v0) p = std::max(0, v0 - size);
    return p;
  };
  x = axis(x, w, win_w, v.x, v.w);
  y = axis(y, h, win_h, v.y, v.h);
  w = std::min(w, win_w - x);
  h = std::min(h, win_h - y);
  // Still over the video area: cut the tip where the video begins.
  if (x < v.x + v.w && x + w > v.x && y < v.y + v.h && y + h > v.y) {
    if (x < v.x)
      w = v.x - x;
    else if (y < v.y)
      h = v.y - y;
  }
  return SDL_Rect{Sint16(x), Sint16(y), Uint16(std::max(0, w)), Uint16(std::max(0, h))};
}

namespace {
// The tooltip text of a widget: its caption, or the DVR, channel and kind of the selected
// event line (fields 3, 4 and 5 of an event-log line); a line with fewer fields keeps the
// caption.
std::string tooltip_text(int window, int widget) {
  const char* caption = get_widget_caption(window, widget);
  std::string text = " " + std::string(caption ? caption : "") + " ";
  if (window == kMain && widget == W_EVT_LIST) {
    if (const char* line = get_selected_line(window, widget)) {
      std::string fields[6];
      int n = 0;
      for (const char* p = line; n < 6; ++n) {
        const char* bar = strchr(p, '|');
        fields[n] = bar ? std::string(p, bar) : std::string(p);
        if (!bar) {
          ++n;
          break;
        }
        p = bar + 1;
      }
      if (n >= 6) text = " " + fields[3] + " " + "  " + fields[4] + "  " + "  " + fields[5] + "  ";
    }
  }
  return text;
}
}  // namespace

int show_tooltip(APP_CONTEXT* ctx) {
  if (screen_state.tooltip_shown) return -1;
  const int window = ctx->skin_window;
  const int widget = screen_state.tooltip_widget;
  if (widget <= 0 || !ctx->skin) return -2;
  const int tip = find_widget(window, "tooltip");
  if (tip <= 0) return -3;
  const char* caption = get_widget_caption(window, widget);
  if (!caption) return -4;
  if (!caption[0] || !get_widget_state_image(window, tip, 0)) return -5;
  SDL_Surface* display = screen_of(ctx);
  SdlLock lock(ctx->display_mutex);
  set_widget_attr(window, tip, 6, 0);
  set_colours(kDark, kYellow);
  render_widget_text(display, window, tip, tooltip_text(window, widget).c_str());
  SDL_Surface* text = get_widget_text_surface(window, tip);
  if (!text) return -6;
  const SDL_Rect r = place_tooltip(screen_state.mouse_x, screen_state.mouse_y, text->w, text->h,
                                   display->w, display->h, ctx->video_rect);
  if (r.w == 0 || r.h == 0) return -6;
  SDL_Rect src{0, 0, r.w, r.h}, dst = r;
  SDL_SetColorKey(text, 0, 0);
  SDL_SetClipRect(display, &dst);
  SDL_BlitSurface(text, &src, display, &dst);
  SDL_SetClipRect(display, nullptr);
  SDL_UpdateRect(display, r.x, r.y, r.w, r.h);
  screen_state.tooltip_rect = RECT16{r.x, r.y, r.w, r.h};
  screen_state.tooltip_shown = 1;
  return 0;
}

void hide_tooltip(APP_CONTEXT* ctx) {
  if (!screen_state.tooltip_shown) return;
  screen_state.tooltip_shown = 0;
  SKIN_WINDOW* win = get_skin_window(ctx->skin_window);
  SDL_Surface* display = screen_of(ctx);
  if (!win || !win->background || !display) return;
  SdlLock lock(ctx->display_mutex);
  SDL_Rect r{screen_state.tooltip_rect.x, screen_state.tooltip_rect.y, screen_state.tooltip_rect.w,
             screen_state.tooltip_rect.h};
  SDL_Rect dst = r;
  SDL_SetClipRect(display, &dst);
  SDL_BlitSurface(win->background, &r, display, &dst);
  SDL_SetClipRect(display, nullptr);
  const bool updates = screen_update_enabled();
  disable_screen_update();
  redraw_widgets_in_rect(display, &r, ctx->skin_window);
  if (updates) enable_screen_update();
  SDL_UpdateRect(display, r.x, r.y, r.w, r.h);
}

int set_message(APP_CONTEXT* ctx, const char* text) {
  const int w = find_widget(ctx->skin_window, "message");
  if (w <= 0) return -1;
  SDL_Surface* pic = get_widget_state_image(ctx->skin_window, w, 0);
  if (!pic) return -2;
  SdlLock lock(ctx->display_mutex);
  SDL_FillRect(pic, nullptr, SDL_MapRGB(pic->format, 255, 0, 0));
  set_widget_attr(ctx->skin_window, w, 1, 1);
  set_widget_attr(ctx->skin_window, w, 6, 1);
  set_colours(kDark, kRed);
  render_widget_text(screen_of(ctx), ctx->skin_window, w, text);
  screen_state.message_timeout.store(5);
  return 0;
}

void show_message(APP_CONTEXT* ctx) {
  const int w = find_widget(ctx->skin_window, "message");
  int mw = 0, mh = 0;
  if (w <= 0 || get_widget_size(ctx->skin_window, w, &mw, &mh) != 0) return;
  SdlLock lock(ctx->display_mutex);
  const RECT16& v = ctx->video_rect;
  set_widget_position(ctx->skin_window, w, v.x + (v.w - mw) / 2, v.y + (v.h - mh) / 2);
  set_widget_attr(ctx->skin_window, w, 1, 0);
  redraw_widget(screen_of(ctx), ctx->skin_window, w);
  ctx->message_state.store(2);
}

int hide_message(APP_CONTEXT* ctx) {
  // As for the pad: a tick that found the line shown would show it again.
  SdlLock lock(ctx->display_mutex);
  if (ctx->message_state.load() & 1) return -1;
  const int w = find_widget(ctx->skin_window, "message");
  if (w <= 0) return -2;
  ctx->message_state.store(8);
  set_widget_attr(ctx->skin_window, w, 1, 1);
  return 0;
}

// ---------------------------------------------------------------- 'Q' notices

void switch_q_dvrs_on(APP_CONTEXT* ctx) {
  for (int r = 0; r < ctx->num_receivers && r < MAX_RECEIVERS; ++r) {
    RECEIVER_INFO& rx = ctx->receivers[r];
    bool selected = false;
    for (const CHANNEL_INFO& ch : rx.channels) selected |= ch.selected.load() != 0;
    if (rx.protocol == 'Q' && selected) nc_send_record_state(&rx, 1);
  }
}

void switch_q_dvrs_off(APP_CONTEXT* ctx) {
  for (int r = 0; r < ctx->num_receivers && r < MAX_RECEIVERS; ++r) {
    RECEIVER_INFO& rx = ctx->receivers[r];
    bool selected = false;
    for (const CHANNEL_INFO& ch : rx.channels) selected |= ch.selected.load() != 0;
    if (rx.protocol == 'Q' && selected) nc_send_record_state(&rx, 0);
  }
}

// ---------------------------------------------------------------- disconnect request

void post_disconnect_request(APP_CONTEXT* ctx) {
  // The record outlives the push: the window loop reads it later.
  static CONN_REQUEST request;
  ctx->wait_variant = 1;
  show_wait_indicator(ctx);
  ctx->playback_flags.store(0);
  if (ctx->single_view != VIEW_TILES) toggle_pip(ctx);
  clear_channel_audio(ctx);
  stop_recording(ctx);
  hide_cam_info(ctx);
  int is_group = 0, index = 0;
  find_target(app_options.auto_start, &is_group, &index);
  request = CONN_REQUEST{COMM_DISCONNECT, is_group, index, 0};
  push_user_event(UE_LINK_COMMAND, &request);
}
