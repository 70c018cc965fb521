// Screen-only state of the main window's panel and tooltip: words that only the screens read
// and write, kept out of APP_CONTEXT so the lower layers do not carry them.
//
// One global record, `screen_state`, living as long as the process. Start-up resets it right
// after init_app_context (reset_screen_state), before any thread starts. The status timer and
// the load monitor threads use the atomics; every plain word belongs to the window loop.
// Nothing here allocates except `drag_cursor`, which hide_drag_cursor frees; nothing fails.
#pragma once

#include <atomic>
#include <cstdint>

#include <SDL/SDL.h>

#include "client/foundation/app_state.h"

struct SCREEN_STATE {
  // Main window panel (client/screens/panel.h). The status timer reads the camera
  // information flag and counts the message time-out down; the monitors write the loads.
  std::atomic<int32_t> cam_info_shown{0};   // camera information box shown
  int32_t cam_info_channel = -1;            // its channel id (window loop)
  std::atomic<int32_t> message_timeout{0};  // status ticks left before the message hides
  std::atomic<int32_t> cpu_load{0};         // percent
  std::atomic<int32_t> disk_free{0};        // percent of the program's drive
  // Tooltip: the widget under the still pointer and where it stands (window loop).
  int32_t tooltip_widget = -1;
  int32_t mouse_x = 0, mouse_y = 0;
  RECT16 tooltip_rect{};
  int32_t tooltip_shown = 0;
  int32_t pad_channel = -1;           // channel of the pop-up pad (window loop)
  SDL_Cursor* drag_cursor = nullptr;  // shown while a widget is dragged
};

extern SCREEN_STATE screen_state;

// Puts every word back to its default, as init_app_context does for APP_CONTEXT (a shown drag
// cursor is not freed). First thread, before other threads start.
void reset_screen_state(SCREEN_STATE* state);
