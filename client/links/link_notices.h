// Notices of the receive and link threads to the window loop: link messages (user event
// 24), preset lists (30), search replies (27) and error messages for the operator's box.
// DVR events (29) do not come here while the main window's event worker runs: the receive
// threads queue them to it (queue_dvr_event of dvr_events.h), whose queue is theirs alone;
// only while no worker runs (the other windows, which act on no DVR event) do they post
// them here, where the loops pass them over.
//
// A first-in first-out queue of copies owned by this module: a thread posts and never
// waits, the window loop takes them in order, a slice per turn (after every event it
// handles; each post also wakes it with an SDL user event of code 0, which no handler
// takes). A notice handed out stays valid until the window loop takes the next one. When
// the loop falls 256 notices behind, new ones are dropped and counted, with one line per
// run of drops.
// Threads: post_* from any thread; take_link_notice and rewake_link_notices from the window
// loop only.
#pragma once

#include <SDL/SDL.h>

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr size_t LINK_NOTICE_CAPACITY = 256;
// Kind of a notice that is no user event: an error message to show in a box.
constexpr int LINK_ERROR_BOX = 1000;

struct LINK_NOTICE {
  int number = 0;               // user event number, or LINK_ERROR_BOX
  int receiver = -1;            // index of the receiver that posted it, -1 none
  std::vector<uint8_t> record;  // the record's bytes; for LINK_ERROR_BOX the text with its 0
  const void* data() const { return record.empty() ? nullptr : record.data(); }
  const char* text() const { return static_cast<const char*>(data()); }
};

// Queues a copy of record[size] as user event `number`: 0, or -1 dropped (queue full).
int post_link_notice(int number, const void* record, size_t size, int receiver = -1);
// Queues an error message for a box the window loop shows (receiver -1: none, as from a
// worker thread of the screens): 0 or -1.
int post_link_error_box(int receiver, const char* text);
// Takes the oldest notice into *out: true, or false when none is waiting.
bool take_link_notice(LINK_NOTICE* out);
// After a slice that left notices waiting: wakes the window loop again, so it comes back
// for them once it has handled what SDL holds.
void rewake_link_notices();
// The user event for `n`: SDL_USEREVENT with its number and data1 = its record.
SDL_Event link_notice_event(const LINK_NOTICE& n);
// Notices dropped since the program started.
uint64_t link_notices_dropped();
// Forgets every queued notice (tests, and a window loop that starts anew).
void clear_link_notices();
