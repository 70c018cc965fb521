// Search window (mode 3, skin window 3): the operator picks a DVR, connects, and walks its
// recordings down month, day, camera, hour and minute; a minute (or a typed date and time)
// starts remote playback in the tiles, steered by the playback controls. The bar painters
// and the playback controls also serve the event playback window, start_search_at_time the
// time-playback window.
//
// Threads: everything runs on the window loop, except start_search_at_time, which the 'Q'
// receive thread calls through its hook once the time-playback link is ready. The selection
// is process-wide and touched by the loop alone. Drawing takes the display mutex; rows of
// widgets are redrawn with screen updates off and updated once. A missing skin or widget
// skips the drawing, never the protocol side.
#pragma once

#include <SDL/SDL.h>

#include <cstddef>
#include <cstdint>
#include <ctime>

#include "client/screens/skin_tables.h"

struct APP_OPTIONS;
struct APP_CONTEXT;

constexpr int SEARCH_WINDOW = skin_tables::kSearch;
// Widgets of the search window's table.
enum : int {
  // clang-format off
  SW_DVRTAB = 1, SW_GROUPTAB = 2, SW_DVR_LIST = 3, SW_CONNECT = 4, SW_DISCONNECT = 5,
  SW_SCROLLUP = 6, SW_SCROLLDN = 7, SW_PAGEUP = 8, SW_PAGEDOWN = 9, SW_TOP = 10, SW_LEFT = 11,
  SW_PREV = 12, SW_PLAY = 13, SW_NEXT = 14, SW_RIGHT = 15, SW_BOTTOM = 16, SW_SLOWER = 17,
  SW_FASTER = 18, SW_SPEED = 19, SW_POWER = 20, SW_FULLSCREEN = 21, SW_RECORD = 22,
  SW_SNAPSHOT = 23, SW_TIME_SEARCH = 29, SW_OK = 30, SW_NETWORK = 31, SW_EVENT_TYPE = 32,
  SW_EVT_PLUS = 33, SW_EVT_MINUS = 34, SW_MONTH_YEAR = 35, SW_MONTH_PLUS = 36,
  SW_MONTH_MINUS = 37, SW_MINIMIZE = 38,
  SW_DAY1 = 42,     // days 1..31: 42..72
  SW_HOUR0 = 73,    // hours 0..23: 73..96
  SW_MINUTE0 = 97,  // minutes 0..59: 97..156
  SW_CAMERA1 = 157, // cameras 1..32: 157..188
  // clang-format on
};

// The window's selection. Day and hour use 255 (or -1) for none, minute 255.
struct SEARCH_SELECTION {
  int32_t year;   // since 1900
  int32_t month;  // 0..11
  int32_t day;
  int32_t hour;
  int32_t minute;
  int32_t second;
  int32_t weekday;             // 0 Sunday
  uint32_t camera_mask;        // bit i = camera i + 1
  int32_t event_type;          // 0..6
  int32_t camera_count;        // cameras of the DVR chosen in the list
  int32_t origin_x, origin_y;  // first day widget, taken from the skin on first use
};
SEARCH_SELECTION& search_selection();
// Playback guard: 1 after a minute started playback on a DVR that is not 'W', 2 while the
// first reply after a day click keeps the wait indicator up.
int& search_replay_guard();

// --- Selection and calendar ---
void set_search_date_now();
// The selection from `t`, hour included; minute 0, event type 6, no camera.
void set_search_date_from(time_t t);
void draw_search_window(APP_CONTEXT* ctx);
void draw_month_label(APP_CONTEXT* ctx);
// Lays the day widgets of month (0..11) of year (since 1900) out as a calendar.
void draw_calendar(APP_CONTEXT* ctx, int month, int year);
// Days in month (0..11) of year (since 1900); February has 29 in years divisible by 4.
int days_in_month(int month, int year);
void next_month(APP_CONTEXT* ctx);
void previous_month(APP_CONTEXT* ctx);  // nothing before January 2000
void place_hour_widgets();
void place_minute_widgets();
void place_camera_widgets(APP_CONTEXT* ctx);
void show_camera_widgets(APP_CONTEXT* ctx);
void reset_search_window(APP_CONTEXT* ctx);

// --- Rows of widgets (state: 0 normal, 4 disabled; attribute as in skin.h) ---
void set_list_controls_state(APP_CONTEXT* ctx, int state);
void set_event_type_state(APP_CONTEXT* ctx, int state);
void set_month_controls_state(APP_CONTEXT* ctx, int state);
void set_calendar_state(APP_CONTEXT* ctx, int state);
void set_day_attr(APP_CONTEXT* ctx, int attribute, uint8_t value);
void set_camera_state(APP_CONTEXT* ctx, int state);
void set_camera_attr(APP_CONTEXT* ctx, int attribute, uint8_t value);
void set_hour_state(APP_CONTEXT* ctx, int state);
void set_hour_attr(APP_CONTEXT* ctx, int attribute, uint8_t value);
void set_minute_state(APP_CONTEXT* ctx, int state);
void set_minute_attr(APP_CONTEXT* ctx, int attribute, uint8_t value);
void set_play_controls_attr(APP_CONTEXT* ctx, int attribute, uint8_t value);
void set_play_controls_state(APP_CONTEXT* ctx, int state);  // and the "%4.1fX" speed label

// --- Bars and calendar from a search reply (also the event playback window) ---
void enable_days(APP_CONTEXT* ctx, const uint8_t flags[31]);
void enable_cameras_by_mask(APP_CONTEXT* ctx, uint32_t mask);
void enable_cameras_by_flags(APP_CONTEXT* ctx, const uint8_t flags[16]);
void paint_hour_bars(APP_CONTEXT* ctx, const uint8_t kinds[24]);
void paint_minute_bars(APP_CONTEXT* ctx, const uint8_t kinds[60]);
// Paints one bar of `kinds` (bits 0..6) over `picture`: 0, or -1 for no kinds or picture.
// Stripe j of the n set bits, in bit order, covers the j-th n-th of the height; the first
// fills the whole area. Bit values 1, 2, 4 are blue, yellow, cyan; the higher ones pixel 0.
int paint_record_bar(SDL_Surface* picture, uint8_t kinds, int framed);
// Routes a search record (user event 27) to the bar it answers, reading it by byte
// position: a 160-byte record of a 'W' DVR, else the 132-byte 'Q' record.
void dispatch_search_reply(APP_CONTEXT* ctx, const uint8_t* record, uint8_t protocol);
constexpr size_t SEARCH_RECORD_SIZE_Q = 132;
constexpr size_t SEARCH_RECORD_SIZE_W = 160;

// --- The walk ---
// 0 asked (or an 'I' DVR, which is asked nothing); -1 no DVR chosen (box) or a model without
// playback (box); -2 no DVR of that name; -3 not connected.
int request_search(APP_CONTEXT* ctx, APP_OPTIONS* opts);
void select_day(APP_CONTEXT* ctx, APP_OPTIONS* opts, int widget);
void select_cameras(APP_CONTEXT* ctx, APP_OPTIONS* opts, int widget);
void select_hour(APP_CONTEXT* ctx, APP_OPTIONS* opts, int widget);
void select_minute(APP_CONTEXT* ctx, APP_OPTIONS* opts, int widget);
// 1 when `key` may be typed at the current length of the "time_search" text.
int accepts_time_key(int key);
// "ok": a valid typed date and time starts playback of every camera from it.
void take_typed_time(APP_CONTEXT* ctx, APP_OPTIONS* opts);

// --- Remote playback of the search receiver (receiver 0) ---
// 0; -2 no camera chosen ("Select camera"); -3 not connected.
int start_playback_at_selection(APP_CONTEXT* ctx);
// Time-playback window: plays from the options' start time and -v cameras.
void start_search_at_time(APP_CONTEXT* ctx);
// Registers start_search_at_time as the 'Q' receive thread's hook. Start-up, before links.
void install_search_hooks();
void resume_playback();
void pause_playback();
// Plays from the current frame time + `seconds`, or from `seconds` when `absolute` is 1:
// 0, or -1 when not connected.
int jump_playback(int seconds, int absolute);
void restart_playback();
void stop_playback();
void slower_playback();
void faster_playback();

// --- The loop and its handlers ---
int handle_search_key(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts);
int handle_search_window_event(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts);
int handle_search_mouse(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts);
int handle_search_user_event(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts);
// 0 when the quit flag is set; -1 when the options' run flag is no longer 1.
int search_event_loop(APP_OPTIONS* opts);
