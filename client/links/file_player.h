// Steps shared by the two file players (recorded ".zol" files and ".dat" frame files): the run
// test, sleeps that end when the player must stop, pacing by time stamps, the grid of the
// channels seen, and the table through which the window loop's seeks reach a running player.
//
// Threads: a player runs on its receiver's thread; seeks come from the window loop. A player's
// index and seek requests are reached only under the table's lock, the file position only
// under the receiver's mutex (lock order: table, then receiver).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "client/foundation/app_state.h"
#include "client/links/recording.h"

// True while the player may go on: its receiver is in state 5 and no stop was asked.
bool player_running(const RECEIVER_INFO* rx);
// Sleeps up to `ms` in short steps; returns early once the player must stop.
void player_sleep(const RECEIVER_INFO* rx, uint32_t ms);
// Any of the pause values the controls set (2 pause, 7 pause and hold).
bool player_paused(const APP_CONTEXT* ctx);
// Milliseconds of a steady clock.
int64_t player_now_ms();

// Paces records by their time stamps (ms) against the playback speed. `pass_start` is the
// clock when the pass began. With `compensate`, a sleep rounds to the nearest ms and the
// oversleep is carried into the next delay; else it is truncated.
struct PLAYER_PACER {
  double prev_ms = 0;
  bool compensate = false;
  void pace(const RECEIVER_INFO* rx, double frame_ms, int64_t pass_start);
  void skip(double frame_ms) { prev_ms = frame_ms; }
};
// Bench-only: players feed as fast as the rings take records.
void set_player_pacing(bool on);

// What a seek needs of a running player.
struct PLAYER_STATE {
  std::vector<KEY_FRAME_ENTRY> index;
  int count = 0;
  uint8_t key_request[4] = {0, 0, 0, 0};  // ".dat": each channel resumes at a key frame
};
// The player of rx makes its state reachable for seeks, and withdraws it before freeing it.
void register_player(RECEIVER_INFO* rx, PLAYER_STATE* state);
void unregister_player(RECEIVER_INFO* rx);
// Runs fn(state) under the table's lock when rx has a player: true, else false.
bool with_player(RECEIVER_INFO* rx, const std::function<void(PLAYER_STATE&)>& fn);

// The frame of both players: allocates the read buffer (PLAYER_BUFFER_SIZE) and an index of
// `index_max` entries ("Not enough memory." fatal box, -1), builds the index with `build_index`
// ("Error in creating index file.\n" posted for a box on the window loop when it fails, -2;
// a stop meanwhile ends the player with 0), then, in state 5 and reachable for seeks, runs
// `pass` until the receiver stops, pausing while the controls say so: 0. A pass returns false
// when the receiver stopped while it waited.
int run_file_player(RECEIVER_INFO* rx, int index_max,
                    const std::function<int(PLAYER_STATE& st, uint8_t* buf)>& build_index,
                    const std::function<bool()>& pass);

// Asks the window loop for the g x g grid (layout g): request_layout of connection.h. The
// players never change the layout themselves.
void show_grid(int side);
