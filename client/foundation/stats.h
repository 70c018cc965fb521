// Run-time statistics: the global set printed once a second (`stats_add`) and the rolling
// per-second/per-minute sets of the context, each receiver and each channel (`stats_add_rx`).
// Counting is lock-free; one mutex serialises the print and the rolls. Any thread may count.
// Every set rolls on its own clock when it is counted into or handed in; readers in the
// display code hand in the sets they show (a count of 0) before they read the last-second
// words, so a DVR that sends nothing shows 0 rather than its last busy second.
#pragma once

#include <cstdint>

#include "client/foundation/app_state.h"

// STATS_COUNTERS, STATS_SETS and the counter ids STAT_* are the application state's.
// Set up / tear down the statistics (the clock and counters start fresh).
void stats_init();
void stats_free();

// Adds `value` to global counter `id` (ids outside 0..6 add nothing); prints and clears the
// global set when more than 1000 ms passed since the last print:
// "%d recvd, %d decd, %d disp, %d refr, %d KBps, %d missing, %d ignored." after 2x59 BS.
void stats_add(int id, uint32_t value);

// Rolls each given set whose second/minute is due (ctx, rx, rx's channels, ch), then adds
// `value` to the running sets of id in each of ctx, rx and ch that is given (null pointers
// are skipped). A roll after more than a whole idle period gives that period 0.
void stats_add_rx(APP_CONTEXT* ctx, RECEIVER_INFO* rx, CHANNEL_INFO* ch, int id, uint32_t value);

// The same on plain sets, for callers without the application records. `rx_channels` are the
// receiver's channel sets rolled along with it (may be null with n 0).
void stats_add_sets(STATS_SETS* ctx, STATS_SETS* rx, STATS_SETS* const* rx_channels, int n,
                    STATS_SETS* ch, int id, uint32_t value);

// A copy of the global print set (for tests and the window's status line).
STATS_COUNTERS stats_snapshot();
