// The window loops: `main_event_loop` of the main, extension, spot and time playback
// windows and `event_playback_loop` of the event playback window, with their handlers of
// window, key, mouse and user events (24-42), the shared receiver notice and the tour.
//
// Threads: the loops and handlers run on the first thread; post_receiver_event on receive
// threads; sequence_thread on its own SDL thread. Drawing is done under the display mutex.
// Link messages arrive as COMM_MESSAGE bytes and are parsed with explicit offsets.
#pragma once

#include <SDL/SDL.h>

#include <cstddef>
#include <cstdint>

#include "client/foundation/app_state.h"

constexpr size_t COMM_MESSAGE_SIZE = 200;
constexpr uint16_t COMM_TAG = 0x6780;

enum : int {
  COMM_EXIT = 2,
  COMM_CONNECT = 3,
  COMM_ADD_CHANNEL = 4,
  COMM_DISCONNECT = 5,
  COMM_SET_LAYOUT = 6,
  COMM_CLOSE = 7,
  COMM_KEEP_ALIVE = 8,
  COMM_SET_TARGET = 9,
  COMM_ROTATE_SELECTED = 10,
  COMM_ACK = 11,
};

// A link message's fields as the window loop reads them.
struct COMM_FIELDS {
  uint16_t command;
  char msg[134];       // always NUL-terminated
  int32_t value[14];
};

// Reads the 200 bytes at `data`: 0, or -1 for a null pointer or a tag other than 0x6780.
int read_comm_message(const void* data, COMM_FIELDS* out);
// Writes a message (tag in network order, the rest little-endian) into 200 bytes at `out`.
void write_comm_message(const COMM_FIELDS& in, void* out);

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

// The double-click rule: two button releases less than 400 ms and at most 5 pixels apart.
// Fed every release in order; returns 1 when this release completes a double click.
int note_button_release(uint32_t ticks, int x, int y);
// The exit question in the configured language; Yes ends the program (disconnect first).
void ask_exit(APP_CONTEXT* ctx, APP_OPTIONS* opts);
