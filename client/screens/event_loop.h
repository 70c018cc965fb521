// The window loops: `main_event_loop` of the main, extension, spot and time playback
// windows and `event_playback_loop` of the event playback window, with their handlers of
// window, key, mouse and user events (24-42), the shared receiver notice and the tour.
//
// Threads: the loops and handlers run on the first thread; post_receiver_event on receive
// threads; sequence_thread on its own SDL thread. Drawing is done under the display mutex.
// Link messages (user event 24) are carried out by the link module (master_link.h).
#pragma once

#include <SDL/SDL.h>

#include <cstddef>
#include <cstdint>

#include "client/foundation/app_state.h"
#include "client/screens/master_link.h"

using EventHandler = int (*)(const SDL_Event&, APP_CONTEXT*, APP_OPTIONS*);

// What sets one window loop apart from another; the dispatch itself is shared.
struct WindowLoop {
  EventHandler window, key, mouse, user;
  bool (*takes_user_event)(int number);
  bool tells_slaves;      // SDL_QUIT also closes the slave processes when this one is master
  const char* exit_line;  // printed when the loop ends by app_quit
};
// Waits for events and hands them to the loop's handlers until app_quit is set (by a handler
// or SDL_QUIT, which disconnects first): 0; -1 when the options are not logged in.
int run_window_loop(APP_OPTIONS* opts, const WindowLoop& loop);

// 0 when it ends by app_quit or SDL_QUIT; -1 when the options are not logged in.
int main_event_loop(APP_OPTIONS* opts);
int event_playback_loop(APP_OPTIONS* opts);  // 0

int handle_main_window_event(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts);
int handle_main_key(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts);
int handle_main_mouse(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts);
int handle_main_user_event(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts);
int handle_event_playback_window_event(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts);
int handle_event_playback_key(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts);
int handle_event_playback_mouse(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts);
int handle_event_playback_user_event(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts);

// Stores `value` (the receiver index) in the one shared notice and pushes user event 25.
// Any thread: 0, or -1 when SDL refused the event.
int post_receiver_event(int value);

// The tour: steps pages (key Page Up) every cycle time while the tour flag is set. `param`
// is the context. Ends with 0 within about a second of the flag being cleared.
int sequence_thread(void* param);
// Clears the tour flag and joins the last tour thread (window thread, at shutdown).
void stop_tour(APP_CONTEXT* ctx);

// Without selected channels the whole video area as one "allchannel" picture, else each
// selected channel's picture.
void take_snapshot(APP_CONTEXT* ctx, APP_OPTIONS* opts);

// The double-click rule: two button releases less than 400 ms and at most 5 pixels apart.
// Fed every release in order; returns 1 when this release completes a double click.
int note_button_release(uint32_t ticks, int x, int y);
// Ctrl, Shift and Alt as of the event the window loop is handling, kept from the key events
// in their order (window thread). Mouse handlers use it instead of SDL_GetModState, which
// may already count key events still queued behind the click.
SDLMod held_modifiers();
// The exit question in the configured language; Yes ends the program (disconnect first).
void ask_exit(APP_CONTEXT* ctx, APP_OPTIONS* opts);
