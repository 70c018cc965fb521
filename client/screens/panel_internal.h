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

// Main window widget ids: skin_tables.h.
using namespace skin_tables::main_widgets;

// The surface the panel draws on: the context's screen, else SDL's video surface.
SDL_Surface* screen_of(APP_CONTEXT* ctx);
// The 1024 x 768 skin packs the panel tighter (strip, event list and statistics share room).
bool small_window(APP_CONTEXT* ctx);
// Shows (attribute 1 to 0, redrawn) / hides (attribute 1 to 1, area restored) a widget of
// `window`; nothing for a widget the skin lacks.
void show_widget(SDL_Surface* display, int window, int widget);
void hide_widget(SDL_Surface* display, int window, int widget);

}  // namespace panel_internal
