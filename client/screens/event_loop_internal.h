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

// Main window widget ids: skin_tables.h.
using namespace skin_tables::main_widgets;
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
