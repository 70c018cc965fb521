// The daily event log and the main window's actions on DVR events: log line and index,
// event list, event table, pop-up channel, alarm sound, snapshot, alert e-mail and the
// notice on the mailslot; video-loss marks.
//
// In the main window the receive threads' DVR event notices go to the queue of this module
// (queue_dvr_event), and one worker does the per-event work in arrival order. The window
// loop gets only what it shows (event list lines, alarm sounds, video-loss redraws),
// gathered while it is busy: it is woken with user event 29 and takes everything that came
// since it last looked in one show_event_news, so a burst costs it one redraw. What it
// shows goes through hooks the screens register (set_event_action_hooks); without them
// those steps are skipped. The queue holds DVR_EVENT_QUEUE_CAPACITY notices (memory, not
// a count of events the window can take); a notice refused when it is full is counted, and
// each run of refusals is written to the event log and the system log with its count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

// write_event_log and the event line form live with the system log.
#include "client/foundation/config/system_log.h"

struct APP_OPTIONS;
struct APP_CONTEXT;
struct EVENT_NOTICE;

struct EVENT_ACTION_HOOKS {
  // Empties "evt_list" first when `clear`, appends lines[0..count) and draws the list once:
  // one pass under the display lock, which the refresh and the decoders contend for.
  void (*show_event_lines)(APP_CONTEXT* ctx, bool clear, const char* const* lines, size_t count);
  void (*play_alarm)(uint8_t kind);                        // 0x02 motion, 0x20 sensor
  void (*redraw_channel)(APP_CONTEXT* ctx, int32_t id);    // picture, text and cell
};
// Window loop, before events arrive. Null members skip their step.
void set_event_action_hooks(const EVENT_ACTION_HOOKS& hooks);

// 16 MiB of notices: minutes of a storm from many DVRs while the worker is held up.
constexpr size_t DVR_EVENT_QUEUE_CAPACITY = (16u << 20) / 176;

// Starts the worker for the main window: from now on queue_dvr_event takes notices for
// `ctx`, and snapshots are named with `opts`. `capacity` notices may wait. Window thread, at
// start (tests give a small capacity). 0, or -1 when it already runs.
int start_event_actions(APP_OPTIONS* opts, APP_CONTEXT* ctx,
                        size_t capacity = DVR_EVENT_QUEUE_CAPACITY);
// Queues a copy of `notice` for the worker. Any thread; never waits on the worker. 0
// queued; -1 no worker runs (only the main window acts on DVR events); -2 refused, the
// queue being full (counted, and logged once the run of refusals ends).
int queue_dvr_event(const EVENT_NOTICE& notice);
// Notices refused since the program started.
uint64_t dvr_events_dropped();
// Notices waiting for the worker, without the one it works on.
size_t dvr_events_waiting();

// The worker's step for one notice, on the calling thread: the log line and index, the
// event table, the pop-up channel, the snapshot and the mail of each marked channel, and
// what the window shows queued for show_event_news. 0; -1 when the notice's time has no
// local time; -2 when no receiver has its DVR name. (The worker then forwards the notice on
// the mailslot whatever this returned.)
int handle_dvr_event(APP_OPTIONS* opts, APP_CONTEXT* ctx, const EVENT_NOTICE* notice);

// Window loop: applies what the events handled since the last call left for the screen:
// the event list's clear and new lines drawn once, one alarm sound per kind, the redraw of
// shown channels that lost their video. Returns the number of lines added.
int show_event_news(APP_CONTEXT* ctx);

// Held by the worker while it reads a receiver's channels. Whoever frees receivers holds it
// around that, so the worker never meets a receiver half gone.
std::mutex& event_receivers_lock();

// The copy of the last notice handled (its name always terminated). Worker, or the thread
// that called handle_dvr_event.
const EVENT_NOTICE& last_dvr_event();
// Forgets the event numbers given so far: the next line is number 1 again (tests).
void reset_event_numbers();

// Waits until the worker has finished every notice handed to it: true, or false after
// `timeout_ms`. Any thread.
bool wait_event_actions_idle(int timeout_ms);
// Finishes the notices handed to the worker and ends it (shutdown, before mail_queue_stop);
// queue_dvr_event refuses with -1 until it is started again.
void stop_event_actions();
