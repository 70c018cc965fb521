// Connection lifecycle: connect the current selection (one DVR or one group), start its
// rings, decoder threads and one receive thread per DVR, and tear it all down again.
//
// connect_dvr / disconnect_dvr / run_deferred_connect / add_receiver / post_dvr_request /
// reload_setup_info run on the window thread; the receive threads of a disconnect that do
// not end at once are joined by a teardown worker of this module. Window-side effects (skin
// widgets, fades, fonts, master reports, layout switches) are hooks the screens register; receive
// threads and file players other than 'Q' register their entries as their modules arrive.
#pragma once

#include <SDL/SDL.h>

#include <cstdint>

#include "client/foundation/app_state.h"
#include "client/foundation/config/app_options.h"

// Thread entry of a receive thread or file player, given its receiver.
using RECEIVE_ENTRY = int (*)(RECEIVER_INFO* rx);
// Registers the receive thread of protocol letter 'I', 'Q', 'S' or 'W' (all four are built in;
// a registered entry takes their place).
void set_receive_entry(uint8_t protocol, RECEIVE_ENTRY entry);

struct CONNECTION_HOOKS {
  void (*after_connect)(APP_OPTIONS* opts);  // skin: hide "connect", show "disconnect"...
  void (*send_channels_to_master)(APP_OPTIONS* opts);
  void (*after_stop)(APP_OPTIONS* opts);        // fade, indicators, redraw (CONN_DISCONNECTING)
  void (*after_disconnect)(APP_OPTIONS* opts);  // skin: show "connect"... (CONN_DISCONNECTED)
  void (*load_receiver_fonts)(RECEIVER_INFO* rx);
  void (*set_layout)(APP_CONTEXT* ctx, int layout);  // make current and redraw
};
void set_connection_hooks(const CONNECTION_HOOKS& hooks);

// A file player (its own thread) asks the window loop for layout `layout`, the grid the
// channels of its file call for: the latest request waits in one word, and UE_LINK_COMMAND
// carrying the request record (command CONN_SET_LAYOUT) wakes the loop. Any thread.
constexpr int32_t CONN_SET_LAYOUT = 6;
void request_layout(int layout);
// Window loop: the layout asked for since the last call, or 0.
int take_layout_request();
// True when `ev` is the wake-up of request_layout.
bool is_layout_request(const SDL_Event& ev);

// Acts only in CONN_DISCONNECTED: CONN_CONNECTING, rings, decoders, receivers,
// CONN_CONNECTED. While the worker of the last disconnect still runs 100 ms after the call,
// the connect is left for run_deferred_connect (state stays CONN_DISCONNECTED) and the call
// returns: the window never waits on that worker.
void connect_dvr(APP_OPTIONS* opts);
// Window loop, every turn: the connect that connect_dvr left waiting, once the worker of the
// last disconnect has ended (that worker wakes the loop with UE_LINK_COMMAND carrying the
// record of command CONN_TEARDOWN_OVER). Nothing when none waits, the worker still runs, or
// the program quits.
void run_deferred_connect();
constexpr int32_t CONN_TEARDOWN_OVER = 7;
// Drops a connect still waiting; then acts only outside CONN_DISCONNECTED:
// CONN_DISCONNECTING, decoders, receivers, rings stopped/freed, CONN_DISCONNECTED. A receive
// thread still running 100 ms after being told to stop is most likely held in an SDK call:
// the SDK is terminated then (its sockets closed, so the call returns). Threads that have not
// ended after 500 ms (one held by a DVR that stopped answering) are joined by a worker, which
// then frees what they used: the window goes on at once and sees no receiver.
void disconnect_dvr(APP_OPTIONS* opts);
// Waits up to `timeout_ms` (-1: without a bound) for the worker of the last disconnect:
// true once its threads are joined and their receivers and rings freed (or none runs),
// false when it still runs. Window thread.
bool wait_receivers_stopped(int timeout_ms);
// 0, or -1 without slots. Starts one decoder_thread per slot, 100 ms apart.
int start_decoders(APP_OPTIONS* opts);
// Decoder state DECODER_STOPPED and every decoder thread joined: 0.
int stop_decoders(APP_OPTIONS* opts);
// Fills the receivers of the selection and starts their threads; initialises the SDK.
void start_receivers(APP_OPTIONS* opts);
// Widens a connected DVR's masks, or appends and starts one more DVR.
void add_receiver(APP_OPTIONS* opts, const char* name, uint32_t video_mask, uint32_t audio_mask);
// Drops a connect still waiting, stops every receive thread, terminates the SDK, joins the
// threads and frees the receivers (after the worker of an earlier disconnect has finished).
// Blocks: shutdown and tests.
void stop_receivers(APP_OPTIONS* opts);

// Connection request record pushed with UE_LINK_COMMAND (command CONN_CONNECT).
constexpr int32_t CONN_CONNECT = 3;
struct CONN_REQUEST {
  int32_t command;
  int32_t is_group;
  int32_t index;
  int32_t reserved;
};
// Clears the eight request records and the two texts: 0. Once at program start.
int reset_connection_info();
// Posts a connect request for `name` (UE_LINK_COMMAND) when it names a DVR or group.
void post_dvr_request(const char* name);
// Reloads the program directory's setup.cfg (never the -C file): "setup_info reloaded.\n",
// or the error box on failure.
void reload_setup_info();
