// Internals of the main window panel shared by panel.cpp (start-up, statistics and camera
// box, indicators and meters, the channel pop-up pad, tooltip and message), layout_menu.cpp
// (the layout strip and the user menu), ptz_pad.cpp (the PTZ pad and its presets) and
// panel_lists.cpp (the DVR, group and camera lists). Only those four files include it; the
// rest of the client reaches the panel through panel.h.
//
// Threads: those of the panel.h functions that call these helpers; the helpers take no lock
// of their own (a caller that draws holds the display mutex where panel.h says so). The
// helpers are defined in panel.cpp.
#pragma once

#include <SDL/SDL.h>

#include "client/screens/skin_tables.h"

struct APP_CONTEXT;

namespace panel_internal {

constexpr int kMain = skin_tables::kMain;      // the main window's skin id
constexpr int kSearch = skin_tables::kSearch;  // the search window's

// Main window widget ids of the built-in table that the panel uses.
enum : int {
  // clang-format off
  W_POWER = 5, W_MENU_FRAME = 8, W_LAYOUT1 = 9, W_POPUP_FIRST = 28, W_POPUP_LAST = 38,
  W_PIP2 = 41, W_PIP_CLOSE = 42, W_EVT_LIST = 55, W_CAM_INFO = 62, W_FRAMES_RECEIVED = 63,
  W_VOLUME_METER = 69, W_PTZ_DIR_FIRST = 70, W_PTZ_DIR_LAST = 77, W_PTZ_FN_FIRST = 78,
  W_PTZ_FN_LAST = 89, W_PRESET_LIST = 92, W_PRESET_LAST = 95, W_PTSPEED_LBL = 96,
  W_ZSPEED_LBL = 97, W_FSPEED_LBL = 98, W_CPU = 114, W_NETWORK_USAGE = 115, W_HDD = 116,
  W_ZOOM_BUTTON = 117, W_PTZ_LBL = 120, W_CLOCK_FIRST = 122, W_DZOOM_IN = 142,
  W_DZOOM_OUT = 143, W_POPUP_FRAME = 144, W_ACTIVE_MENU1 = 148, W_INACTIVE_MENU = 163,
  W_USER_MENU1 = 164, W_LAYOUT64 = 14, W_LAYOUT144 = 15, W_EVT_PGDN = 59,
  // clang-format on
};

// The surface the panel draws on: the context's screen, else SDL's video surface.
SDL_Surface* screen_of(APP_CONTEXT* ctx);
// The 1024 x 768 skin packs the panel tighter (strip, event list and statistics share room).
bool small_window(APP_CONTEXT* ctx);
// Shows (attribute 1 to 0, redrawn) / hides (attribute 1 to 1, area restored) a widget of
// `window`; nothing for a widget the skin lacks.
void show_widget(SDL_Surface* display, int window, int widget);
void hide_widget(SDL_Surface* display, int window, int widget);

}  // namespace panel_internal
