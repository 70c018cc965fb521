// The DVR event worker: the main window's actions on DVR events, from the receive thread's
// notice to the log line and index, event list, event table, pop-up channel, alarm sound,
// snapshot, alert e-mail and the notice on the mailslot; video-loss marks. (The log's writer
// and line form are the system log's, config/system_log.h.)
//
// In the main window the receive threads queue their DVR event notices here themselves
// (queue_dvr_event), and two workers, one behind the other, do the per-event work in arrival
// order. The event stage does what must not wait: log line and index, event table, pop-up
// channel, what the window shows, a copy of each marked channel's picture taken at the event,
// and the notice on the mailslot; once no notice waits, or the copies held pass 64 MiB, it
// saves them as BMP (one picture for the motion and sensor events of a channel in one notice)
// and frees them, so in a longer burst the event stage goes at the disk's pace. The snapshot
// stage behind it (snapshot_stage.h) runs up to DVR_SNAPSHOT_CONVERTERS cjpeg at a time on the
// saved pictures, each picture once (its second event gets a link of its own name to the
// JPEG), and queues the mails in event order as their conversions end, so a slow conversion
// delays only later mails, never an alarm. A JPEG is deleted only when cjpeg failed or
// overran, or by mail_enqueue for a repeat within the delay or with attachment off; a mail
// refused otherwise keeps it in the record folder. A picture that cannot be saved or converted
// is mailed without it, and each run of such losses is one system log line with its count and
// reason. The window loop gets only what it shows (event list lines, alarm sounds, video-loss
// redraws), gathered while it is busy: it is woken with user event 29 and takes everything
// that came since it last looked in one show_event_news, so a burst costs it one redraw. What
// it shows goes through hooks the screens register (set_event_action_hooks); without them
// those steps are skipped.
//
// Bounds: the event queue holds DVR_EVENT_QUEUE_CAPACITY notices; a notice refused when it is
// full is counted, and each run of refusals is written to the event log and the system log
// with its count. What waits in the snapshot stage is bounded by its bytes (each picture
// from its copy until its conversion ended, most of them on disk, and a little per mail); a
// picture that does not fit is not copied: its event is mailed without one, and each run of
// such skips is written once to the system log with its count. Memory holds at most 64 MiB
// of copies and those of one more notice. A notice that a DVR sent while connected is
// carried out whole even when the DVR is disconnected before the event stage reaches it,
// only without pictures.
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
  void (*play_alarm)(uint8_t kind);                      // 0x02 motion, 0x20 sensor
  void (*redraw_channel)(APP_CONTEXT* ctx, int32_t id);  // picture, text and cell
};
// Window loop, before events arrive. Null members skip their step.
void set_event_action_hooks(const EVENT_ACTION_HOOKS& hooks);

// 16 MiB of notices: minutes of a storm from many DVRs while the event stage is held up.
constexpr size_t DVR_EVENT_QUEUE_CAPACITY = (16u << 20) / 176;
// 512 MiB of pictures waiting for cjpeg, as BMP on the record disk: some 390 of 704x480, a
// burst of 16 notices of 16 channels.
constexpr size_t DVR_SNAPSHOT_BYTES = size_t(512) << 20;
// Conversions at a time: one a core, at most this many.
constexpr int DVR_SNAPSHOT_CONVERTERS = 8;
// How long stop_event_actions lets the conversions go on.
constexpr int DVR_SNAPSHOT_STOP_MS = 2000;

// Starts the two stages for the main window: from now on queue_dvr_event takes notices for
// `ctx`, and snapshots are named with `opts`. `capacity` notices may wait, and
// `snapshot_bytes` in the snapshot stage. Window thread, at start (tests give small bounds).
// 0, or -1 when it already runs.
int start_event_actions(APP_OPTIONS* opts, APP_CONTEXT* ctx,
                        size_t capacity = DVR_EVENT_QUEUE_CAPACITY,
                        size_t snapshot_bytes = DVR_SNAPSHOT_BYTES);
// Queues a copy of `notice`. `receiver`, when it is the index of the context's receiver of
// the notice's DVR, marks it as sent while that DVR was connected: it is then logged,
// listed, mailed and forwarded even when the DVR is disconnected before the event stage
// reaches it. Callers: the receive thread of `receiver` (whose receiver stays while it runs),
// or any thread with `receiver` -1. Never waits on the workers. 0 queued; -1 no worker runs
// (only the main window acts on DVR events); -2 refused, the queue being full (counted, and
// logged once the run of refusals ends).
int queue_dvr_event(const EVENT_NOTICE& notice, int receiver = -1);
// Notices refused since the program started.
uint64_t dvr_events_dropped();
// Notices waiting for the event stage, without the one it works on.
size_t dvr_events_waiting();
// Event snapshots saved and handed to cjpeg, and snapshots skipped because the snapshot
// stage was full, since the program started (one picture shared by two events counts twice).
uint64_t dvr_snapshots_done();
uint64_t dvr_snapshots_skipped();
// Events of the workers whose picture was copied but could not be saved or converted (mailed
// without it; each run of them is one system log line), since the program started.
uint64_t dvr_snapshots_failed();

// Both stages for one notice, on the calling thread: the log line and index, the event
// table, the pop-up channel, the snapshot and the mail of each marked channel, and what the
// window shows queued for show_event_news. 0; -1 when the notice's time has no local time;
// -2 when no receiver has its DVR name. (The workers forward the notice on the mailslot
// whatever the event stage returned.)
int handle_dvr_event(APP_OPTIONS* opts, APP_CONTEXT* ctx, const EVENT_NOTICE* notice);

// Window loop: applies what the events handled since the last call left for the screen:
// the event list's clear and new lines drawn once, one alarm sound per kind, the redraw of
// shown channels that lost their video. Returns the number of lines added.
int show_event_news(APP_CONTEXT* ctx);

// Held by the event stage while it reads a receiver's channels and copies their pictures.
// Whoever frees receivers holds it around that, so the stage never meets a receiver half gone.
std::mutex& event_receivers_lock();

// The copy of the last notice handled (its name always terminated). Event stage, or the
// thread that called handle_dvr_event.
const EVENT_NOTICE& last_dvr_event();
// Forgets the event numbers given so far: the next line is number 1 again (tests).
void reset_event_numbers();

// Waits until the event stage (and, with `snapshots`, the snapshot stage too) has finished
// everything handed to it: true, or false after `timeout_ms`. Any thread.
bool wait_event_actions_idle(int timeout_ms, bool snapshots = true);
// Finishes the notices handed over (copying no more pictures), lets the conversions go on
// for DVR_SNAPSHOT_STOP_MS, ends those still running and mails what is left without its
// picture, in event order, and ends both stages; the snapshots not converted are counted in
// one system log line. Shutdown, before mail_queue_stop; queue_dvr_event refuses with -1
// until they are started again.
void stop_event_actions();
