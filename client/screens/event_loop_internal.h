// Internals of the window loops, shared by event_loop.cpp (the shared loop, the pointer
// state, the channel cells under the pointer, the tour), main_window_loop.cpp (the main
// window's handlers, widget actions and the pad) and event_playback_loop.cpp (the event
// playback window). Only those three files include it.
//
// Threads: everything here is the window thread's; the pointer state has no lock.
#pragma once

#include <SDL/SDL.h>

#include <cstdint>

#include "client/screens/event_loop.h"
#include "client/screens/skin_tables.h"

namespace event_loop_internal {

constexpr int kMainWindow = skin_tables::kMain;

// Main window widget ids of the built-in table.
enum : int {
  // clang-format off
  W_CONNECT = 1, W_DISCONNECT = 2, W_SETUP = 3, W_SEARCH = 4, W_POWER = 5,
  W_LAYOUT1 = 9, W_LAYOUT4 = 10, W_LAYOUT9 = 11, W_LAYOUT16 = 12, W_LAYOUT36 = 13,
  W_FULLSCREEN = 16, W_CYCLECAM = 17, W_SPLIT = 18, W_SWITCH = 19, W_RATIO43 = 20,
  W_ADD_LAYOUT = 21, W_LAYOUT_LEFT = 22, W_LAYOUT_RIGHT = 23, W_SCROLL_LEFT = 24,
  W_SCROLL_RIGHT = 25, W_SNAPSHOT = 26, W_SPOTOUT1 = 27, W_SPOTOUT2 = 28, W_PROBE = 29,
  W_BRIGHT_UP = 30, W_RESET_COLORS = 38, W_EMAP = 39, W_PIP1 = 40, W_PIP2 = 41,
  W_PIP_CLOSE = 42, W_RECORD = 43, W_BROWSE = 44, W_MUTE = 46, W_NO_MUTE = 47,
  W_DVR_LIST = 48, W_DVRTAB = 53, W_GROUPTAB = 54, W_EVT_LIST = 55, W_DVRSETUP = 61,
  W_VOLUME_UP = 67, W_VOLUME_DOWN = 68, W_PTZ_FIRST = 70, W_PTZ_LAST = 83,
  W_PTZ_PTSPEED_LBL = 96, W_PTZ_ZSPEED_LBL = 97, W_PTZ_FSPEED_LBL = 98,
  W_PTZ_AUTOPAN = 90, W_PTZ_PRESET_ON = 91, W_PTZ_PRESET_LIST = 92, W_PTZ_PRESET_GO = 93,
  W_PTZ_PRESET_SET = 94, W_PTZ_PRESET_CLEAR = 95, W_CPU_USAGE = 114, W_NETWORK_USAGE = 115,
  W_ZOOM_BUTTON = 117, W_FOCUS_BUTTON = 118, W_IRIS_BUTTON = 119, W_PTZ_LBL = 120, W_LOG_VIEW = 121, W_DIGITAL_ZOOM_IN = 142,
  W_DIGITAL_ZOOM_OUT = 143, W_EVT_BUTTON = 145, W_INFO_BUTTON = 146, W_MINIMIZE = 147,
  W_USER_MENU_FIRST = 164, W_USER_MENU_LAST = 178,
  W_BRIGHT_DOWN = 31, W_CONTRAST_UP = 32, W_CONTRAST_DOWN = 33, W_HUE_UP = 34, W_HUE_DOWN = 35,
  W_SATURATION_UP = 36, W_SATURATION_DOWN = 37, W_SCROLLUP = 49, W_SCROLLDN = 50,
  W_PAGEUP = 51, W_PAGEDOWN = 52, W_EVT_SCRLUP = 56, W_EVT_SCRLDN = 57, W_EVT_PGUP = 58,
  W_EVT_PGDN = 59, W_PTZ_WN = 77, W_PTZ_ZOOM_OUT = 79, W_PTZ_FOCUS_FAR = 81,
  W_PTSPEED_UP = 84, W_PTSPEED_DOWN = 85, W_ZSPEED_UP = 86, W_ZSPEED_DOWN = 87,
  W_FSPEED_UP = 88, W_FSPEED_DOWN = 89,
  // clang-format on
};
// "play" of the playback and event windows' tables.
constexpr int W_WINDOW_PLAY = 4;

// Pointer state of the window loop (first thread only).
struct MouseState {
  uint32_t last_release_ticks = 0;
  int last_release_x = -1000, last_release_y = -1000;
  bool have_release = false;
  int pressed_pos = -1;  // channel position where button 1 went down
  int last_pos = -1;     // channel position of the last motion
  int hovered = 0;       // widget in hover state
  int pressed_widget = 0;
  int press_x = 0, press_y = 0;
  bool double_click = false;  // the last release completed a double click
  int previous_layout = 0;    // restored by the next double click in layout 1
  bool dragging_window = false;
  bool press_on_background = false;  // button 1 went down on the frameless window's background
  bool pad_placed = false;           // button 3 placed the pad; its release opens it
  bool merged = false;               // this release settled a merge
};
extern MouseState mouse;  // event_loop.cpp

// event_loop.cpp
bool english();  // the configured language is English
SDL_Surface* screen_of(APP_CONTEXT* ctx);
void show_access_box();  // the box of a widget the user has no right to
// Starts the tour, or stops it (its thread ends within a second; the next start joins it).
void toggle_tour(APP_CONTEXT* ctx);
// Hover and press states of the widgets outside the video rectangle; x < 0: none hovered.
void hover_widget(APP_CONTEXT* ctx, int window, int x, int y);
// Ends a window drag and settles a pending merge; every button-1 release.
void settle_button1_release(APP_CONTEXT* ctx);
// Channel cells under the pointer (main and event playback windows); `box_limit` shows the
// limit of selected cameras in a box rather than a line.
void mouse_on_cells(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts, bool box_limit);
// The receiver index of user event 25.
int receiver_of_notice(const SDL_Event& ev);

// main_window_loop.cpp
// The pad's widget `widget` acting on channel `id`: true when it is one of the pad's.
bool popup_pad_action(APP_CONTEXT* ctx, APP_OPTIONS* opts, int widget, int32_t id, int x, int y);

}  // namespace event_loop_internal
