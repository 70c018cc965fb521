// The walk down a DVR's recordings (month, day, cameras, hour, minute, typed time) and the
// remote playback of the search receiver.
#include <SDL/SDL.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <thread>

#include "client/foundation/channel_table.h"
#include "client/foundation/config/setup_config.h"
#include "client/foundation/config/setup_lookup.h"
#include "client/foundation/config/utils.h"
#include "client/links/nc_receiver.h"
#include "client/links/sdk_receiver.h"
#include "client/screens/layouts.h"
#include "client/screens/panel.h"
#include "client/screens/search_window.h"
#include "client/screens/search_window_parts.h"
#include "client/screens/skin.h"
#include "client/screens/widget_text.h"

using namespace search_parts;

namespace {

constexpr int kWin = SEARCH_WINDOW;

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

APP_CONTEXT* context() { return app_options.context ? app_options.context : &app_context; }

// Playback position of a local date: the DVR counts its wall clock as seconds since 1970, so
// the zone's offset west of UTC comes off the UTC seconds mktime gives.
double playback_time(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year;
  t.tm_mon = month;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  const time_t local = std::mktime(&t);
  tzset();
  return double(local) - double(timezone);
}

bool is_q(const RECEIVER_INFO* rx) { return rx && rx->protocol == 'Q'; }

int speed_exponent(APP_CONTEXT* ctx) { return log2_floor(ctx->playback_speed.load()); }

// Where playback goes on from: the latest frame's time, or the requested position before
// any frame came.
double current_time(const RECEIVER_INFO* rx) {
  const double t = rx->last_frame_time.load();
  return t > 0 ? t : rx->position;
}

// Empties every receive ring with the receiver's pending counts (all rings held at once, so
// no writer counts a record that is then dropped), and has each channel's decoder start
// again at a key frame, as the stream now jumps. Until a frame of the new stream is shown,
// the controls go on from the receiver's position, not from the picture left on screen.
void drop_received(APP_CONTEXT* ctx, RECEIVER_INFO* rx) {
  const uint32_t n =
      ctx->num_slots < uint32_t(MAX_DISPLAY_SLOTS) ? ctx->num_slots : MAX_DISPLAY_SLOTS;
  for (uint32_t i = 0; i < n; ++i)
    if (ctx->slots[i].mutex) SDL_mutexP(ctx->slots[i].mutex);
  for (uint32_t i = 0; i < n; ++i) ctx->slots[i].read_pos = ctx->slots[i].write_pos;
  rx->pending_frames.store(0);
  rx->pending_bytes.store(0);
  rx->last_frame_time.store(0);
  for (uint32_t i = n; i-- > 0;)
    if (ctx->slots[i].mutex) SDL_mutexV(ctx->slots[i].mutex);
  const uint32_t channels = rx->num_video < uint32_t(MAX_CHANNELS) ? rx->num_video : MAX_CHANNELS;
  for (uint32_t k = 0; k < channels; ++k) rx->channels[k].key_request.store(1);
  pause_ms(10);
}

// Plays from the receiver's position: the DVR stops and leaves the old stream, what was
// received of it is dropped, and the new one starts at the current speed.
void reposition(APP_CONTEXT* ctx, RECEIVER_INFO* rx) {
  ctx->playback_flags.store(7);
  if (is_q(rx)) {
    nc_send_playback_command(rx, 85, 0);
    pause_ms(10);
    nc_send_playback_command(rx, 83, 0);
    pause_ms(10);
  }
  drop_received(ctx, rx);
  if (is_q(rx)) nc_send_playback_command(rx, 80, speed_exponent(ctx));
  ctx->playback_flags.store(0);
}

// The rows below the camera row (or below the hour row): off, disabled and erased.
void clear_below(APP_CONTEXT* ctx, bool hours) {
  if (hours) {
    set_hour_attr(ctx, 3, 0);
    set_hour_state(ctx, 4);
    erase_bar(ctx, SW_HOUR0, 24);
  }
  set_minute_attr(ctx, 3, 0);
  set_minute_state(ctx, 4);
  erase_bar(ctx, SW_MINUTE0, 60);
}

void play_buttons_off(APP_CONTEXT* ctx) {
  set_play_controls_attr(ctx, 3, 0);
  set_play_controls_state(ctx, 4);
}

void play_buttons_on(APP_CONTEXT* ctx) {
  set_widget_attr(kWin, SW_PLAY, 3, 1);
  set_play_controls_state(ctx, 0);
}

}  // namespace

// ---------------------------------------------------------------- the walk

int request_search(APP_CONTEXT* ctx, APP_OPTIONS* opts) {
  if (!opts->auto_start[0]) {
    error_box("Please select a DVR.");
    return -1;
  }
  {
    auto read = setup_read_lock();
    if (!find_dvr_info(opts->auto_start)) {
      std::printf("Please select a DVR.\n");
      return -2;
    }
  }
  RECEIVER_INFO* rx = search_receiver(ctx);
  if (opts->conn_state.load() != CONN_CONNECTED || !rx) {
    std::printf("Not connected to a DVR\n");
    return -3;
  }
  // An 'I' DVR is asked nothing, so it must not leave the window waiting for an answer.
  if (rx->protocol == 'I') return 0;
  if (rx->protocol != 'Q' && rx->protocol != 'W') {
    error_box("Playback is not supported by the selected DVR model.");
    return -1;
  }
  SEARCH_SELECTION& s = search_selection();
  const int day = s.day >= 1 && s.day <= 31 ? s.day : 255;
  const int hour = s.hour >= 0 && s.hour <= 23 ? s.hour : 255;
  ctx->search_state.store(SEARCH_HOLD);
  show_wait_indicator(ctx);
  if (rx->protocol == 'Q')
    nc_request_playback(rx, s.year + 1900, s.month, day, int(s.camera_mask), hour);
  else
    sdk_set_playback_date(0, s.year + 1900, s.month, day, s.camera_mask, hour);
  return 0;
}

void select_day(APP_CONTEXT* ctx, APP_OPTIONS* opts, int widget) {
  SEARCH_SELECTION& s = search_selection();
  s.day = s.hour = s.minute = 255;
  s.second = 0;
  s.camera_mask = 0;
  set_camera_attr(ctx, 3, 0);
  set_camera_state(ctx, 4);
  clear_below(ctx, true);
  play_buttons_off(ctx);
  if (get_widget_attr(kWin, widget, 3)) {
    s.day = widget - SW_DAY1 + 1;
    request_search(ctx, opts);
  }
}

void select_cameras(APP_CONTEXT* ctx, APP_OPTIONS* opts, int) {
  SEARCH_SELECTION& s = search_selection();
  s.hour = s.minute = 255;
  s.second = 0;
  RECEIVER_INFO* rx = search_receiver(ctx);
  if (rx) rx->sel_vid_ch.store(0xFFFFFFFFu);
  clear_below(ctx, true);
  play_buttons_off(ctx);
  uint32_t mask = 0;
  for (int i = 0; i < 32; ++i)
    if (get_widget_attr(kWin, SW_CAMERA1 + i, 3)) mask |= 1u << i;
  s.camera_mask = mask;
  if (mask == 0) {
    pause_playback();
    return;
  }
  const int lowest = __builtin_ctz(mask), highest = 31 - __builtin_clz(mask);
  set_layout(ctx, layout_for_cells(ctx, highest - lowest + 1));
  const int32_t id = rx && lowest < MAX_CHANNELS ? rx->channels[lowest].id.load() : -1;
  if (id >= 0) set_layout_page(ctx, page_of_index(ctx, id));
  request_search(ctx, opts);
}

void select_hour(APP_CONTEXT* ctx, APP_OPTIONS* opts, int widget) {
  SEARCH_SELECTION& s = search_selection();
  s.minute = 255;
  s.second = 0;
  clear_below(ctx, false);
  play_buttons_off(ctx);
  if (get_widget_attr(kWin, widget, 3)) {
    s.hour = widget - SW_HOUR0;
    request_search(ctx, opts);
  }
}

void select_minute(APP_CONTEXT* ctx, APP_OPTIONS*, int widget) {
  SEARCH_SELECTION& s = search_selection();
  s.minute = 255;
  s.second = 0;
  play_buttons_off(ctx);
  if (!get_widget_attr(kWin, widget, 3)) return;
  s.minute = widget - SW_MINUTE0;
  play_buttons_on(ctx);
  RECEIVER_INFO* rx = search_receiver(ctx);
  if (rx && rx->protocol == 'W') {
    sdk_set_playback_time(ctx, s.minute);
    return;
  }
  start_playback_at_selection(ctx);
  clear_channel_selection(ctx);
  select_channel(ctx, 0);
  search_replay_guard() = 1;
}

int accepts_time_key(int key) {
  if (key == 8 || key == 127) return 1;
  const char* text = get_widget_text(kWin, SW_TIME_SEARCH);
  const size_t len = text ? std::strlen(text) : 0;
  const bool digit = key >= '0' && key <= '9';
  switch (len) {
    case 0: return key == '1' || key == '2';
    case 1:
    case 2:
    case 3:
    case 6:
    case 9:
    case 12:
    case 15:
    case 18: return digit;
    case 4:
    case 7: return key == '/';
    case 5: return key == '0' || key == '1';
    case 8: return key >= '0' && key <= '3';
    case 10: return key == ' ';
    case 11: return key >= '0' && key <= '2';
    case 13:
    case 16: return key == ':';
    case 14:
    case 17: return key >= '0' && key <= '5';
    default: return 0;
  }
}

void take_typed_time(APP_CONTEXT* ctx, APP_OPTIONS*) {
  const char* text = get_widget_text(kWin, SW_TIME_SEARCH);
  if (!text || !is_valid_datetime(text)) return;
  int y, mo, d, h, mi, sec;
  if (std::sscanf(text, "%d/%d/%d %d:%d:%d", &y, &mo, &d, &h, &mi, &sec) != 6) return;
  SEARCH_SELECTION& s = search_selection();
  s.year = y - 1900;
  s.month = mo - 1;
  s.day = d;
  s.hour = h;
  s.minute = mi;
  s.second = sec;
  play_buttons_on(ctx);
  s.camera_mask = 0xFFFFFFFFu;
  start_playback_at_selection(ctx);
}

// ---------------------------------------------------------------- playback

int start_playback_at_selection(APP_CONTEXT* ctx) {
  const SEARCH_SELECTION& s = search_selection();
  if (s.camera_mask == 0) {
    error_box("Select camera");
    return -2;
  }
  RECEIVER_INFO* rx = search_receiver(ctx);
  if (!rx) return -3;
  // The hour goes one up, as the DVRs expect it.
  rx->position = playback_time(s.year, s.month, s.day, s.hour + 1, s.minute, s.second);
  rx->sel_vid_ch.store(s.camera_mask);
  rx->op_mode = 5;
  if (ctx->playback_flags.load() == 0 && is_q(rx)) {
    nc_send_playback_command(rx, 85, 0);
    pause_ms(10);
  }
  reposition(ctx, rx);
  return 0;
}

void start_search_at_time(APP_CONTEXT* ctx) {
  RECEIVER_INFO* rx = search_receiver(ctx);
  if (!rx) return;
  const APP_OPTIONS& o = app_options;
  rx->position = playback_time(int(o.start_year) - 1900, int(o.start_month) - 1, int(o.start_day),
                               int(o.start_hour), int(o.start_minute), 0);
  if (o.video_mask) rx->sel_vid_ch.store(o.video_mask);
  rx->op_mode = 5;
  drop_received(ctx, rx);
  if (is_q(rx)) nc_send_playback_command(rx, 80, speed_exponent(ctx));
  ctx->playback_flags.store(0);
}

void install_search_hooks() {
  NC_HOOKS hooks{};
  hooks.start_search_at_time = [](RECEIVER_INFO* rx) {
    start_search_at_time(rx && rx->context ? rx->context : &app_context);
  };
  set_nc_hooks(hooks);
}

void resume_playback() {
  APP_CONTEXT* ctx = context();
  ctx->playback_flags.store(0);
  RECEIVER_INFO* rx = search_receiver(ctx);
  if (!is_q(rx)) return;
  // Play on from the paused picture, not from where the playback first started.
  rx->position = std::floor(current_time(rx));
  nc_send_playback_command(rx, 80, speed_exponent(ctx));
}

void pause_playback() {
  APP_CONTEXT* ctx = context();
  ctx->playback_flags.store(7);
  RECEIVER_INFO* rx = search_receiver(ctx);
  if (is_q(rx)) nc_send_playback_command(rx, 85, 0);
}

int jump_playback(int seconds, int absolute) {
  APP_CONTEXT* ctx = context();
  RECEIVER_INFO* rx = search_receiver(ctx);
  if (app_options.conn_state.load() != CONN_CONNECTED || !rx) return -1;
  rx->position = absolute ? double(seconds) : std::floor(current_time(rx)) + seconds;
  reposition(ctx, rx);
  return 0;
}

void restart_playback() {
  APP_CONTEXT* ctx = context();
  RECEIVER_INFO* rx = search_receiver(ctx);
  if (!rx) return;
  rx->position = current_time(rx);
  // The time-playback and event playback windows choose no cameras: theirs stay.
  if (search_selection().camera_mask) rx->sel_vid_ch.store(search_selection().camera_mask);
  ctx->playback_flags.store(7);
  drop_received(ctx, rx);
  if (is_q(rx)) nc_send_playback_command(rx, 80, speed_exponent(ctx));
  ctx->playback_flags.store(0);
}

void stop_playback() {
  APP_CONTEXT* ctx = context();
  const int win = ctx->skin_window;
  if (const int play = find_widget(win, "play")) {
    set_widget_attr(win, play, 3, 0);
    SdlLock lock(ctx->display_mutex);
    if (can_draw(ctx)) set_widget_state(screen_of(ctx), win, play, 0);
  }
  ctx->playback_flags.store(0);
  ctx->single_step.store(1);
}

namespace {
void draw_speed(APP_CONTEXT* ctx) {
  const int win = ctx->skin_window;
  const int label = find_widget(win, "speed");
  SdlLock lock(ctx->display_mutex);
  if (!label || !can_draw(ctx)) return;
  char text[16];
  std::snprintf(text, sizeof text, "%5.2fX", ctx->playback_speed.load());
  use_text_style();
  render_widget_text(screen_of(ctx), win, label, text);
}
}  // namespace

void slower_playback() {
  APP_CONTEXT* ctx = context();
  if (ctx->playback_speed.load() > 0.0625)
    ctx->playback_speed.store(ctx->playback_speed.load() / 2);
  draw_speed(ctx);
}

void faster_playback() {
  APP_CONTEXT* ctx = context();
  if (ctx->playback_speed.load() < 16) ctx->playback_speed.store(ctx->playback_speed.load() * 2);
  draw_speed(ctx);
}
