// The daily event log and the actions of the main window on a DVR event: log line, event
// list, event table, pop-up channel, alarm sound, snapshot and alert e-mail; video-loss marks.
//
// handle_dvr_event runs on the main window's event loop only. What it shows on screen or
// plays goes through hooks the screens register (set_event_action_hooks); without them those
// steps are skipped. The BMP snapshot is saved at the event; its JPEG conversion (cjpeg) and
// the e-mail are handed to one worker thread of this module, which takes them in event order,
// so a burst of events never holds the window loop.
#pragma once

#include <cstdint>

// write_event_log and the event line form live with the system log.
#include "client/foundation/config/system_log.h"

struct APP_OPTIONS;
struct APP_CONTEXT;
struct EVENT_NOTICE;


struct EVENT_ACTION_HOOKS {
  void (*add_event_line)(APP_CONTEXT* ctx, const char* line);  // append to "evt_list", unseen
  void (*draw_event_list)(APP_CONTEXT* ctx);                   // once the notice's lines are in
  void (*clear_event_list)(APP_CONTEXT* ctx);                  // empty "evt_list"
  void (*play_alarm)(uint8_t kind);                            // 0x02 motion, 0x20 sensor
  void (*redraw_channel)(APP_CONTEXT* ctx, int32_t id);        // picture, text and cell
};
// Window loop, before events arrive. Null members skip their step.
void set_event_action_hooks(const EVENT_ACTION_HOOKS& hooks);

// 0; -1 when the notice's time has no local time; -2 when no receiver has its DVR name.
int handle_dvr_event(APP_OPTIONS* opts, APP_CONTEXT* ctx, const EVENT_NOTICE* notice);

// The copy of the last notice handled (its name always terminated). Window loop.
const EVENT_NOTICE& last_dvr_event();
// Forgets the event numbers given so far: the next line is number 1 again (tests).
void reset_event_numbers();

// Waits until the worker has finished every snapshot and mail handed to it: true, or false
// after `timeout_ms`. Any thread.
bool wait_event_actions_idle(int timeout_ms);
// Finishes the jobs handed to the worker and ends it (shutdown, before mail_queue_stop).
// The next event starts it again.
void stop_event_actions();
