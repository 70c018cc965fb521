// Launcher of companion programs: copies of vigilo in other window modes, the setup tool
// auxdesk, the sibling programs beside vigilo, and the desktop's opener for saved pictures
// and films; with the bookkeeping of what this process started.
//
// Every start is an argument vector (platform/system's start_process): the program is a
// fixed path in the program's directory, never looked up in PATH and never run through a
// shell, and each value is one word whatever it holds. A sibling that is not installed
// gives one line naming the path looked at, and -1. Process ids are those of children of
// this process; a window is looked up by its title and its process (_NET_WM_PID).
//
// Threads: the window loop, except start_event_spot_window (the alarm pop-up thread) and
// start_time_playback_window (the mailslot timer); one lock guards the records, and no box
// is shown while it is held.
#pragma once

#include <cstddef>
#include <cstdint>

struct APP_OPTIONS;
struct APP_CONTEXT;

// Each returns 0 (or the entry index) when started or raised, negative when refused or failed.
// One extension window: a running one is raised. 16 listed: the limit box and -1.
int start_extension_window(APP_OPTIONS* opts, APP_CONTEXT* ctx);
// Spot window of the first selected channel at the desktop's bottom-right: its entry index;
// -1 limit box, none selected or failed start; -2 no receiver; -3 channel not in it.
int start_spot_window(APP_OPTIONS* opts, APP_CONTEXT* ctx);
// The same for the alarm pop-up channel (APP_CONTEXT::alarm_channel), but the window's
// process id on success: the pop-up ends that process later, when its table slot may
// already belong to another window. The pop-up thread calls it: the limit box is posted
// to the window loop (post_link_error_box), never shown here.
int start_event_spot_window(APP_OPTIONS* opts, APP_CONTEXT* ctx);
int start_search_window(APP_OPTIONS* opts);  // -2 when a running one was raised
// The input file of the options: ".avi" and ".bmp" through xdg-open, anything else in a
// playback window (a running one is raised instead). 0 or -1.
int start_playback_window(APP_OPTIONS* opts);
// The browse button: raises the playback window started earlier, then lets the operator
// choose a recorded file in `record_dir` with `choose` (null: open_file_dialog, which
// blocks the window loop) and opens it with start_playback_window. A playback window that
// has closed counts as none. 0 started or raised; 1 cancelled; -1 failed.
using FILE_CHOOSER = int (*)(const char* initial_dir, char* out, size_t cap);
int browse_recorded_file(APP_OPTIONS* opts, const char* record_dir, FILE_CHOOSER choose = nullptr);
// A time playback window (mode 7) of `target` from the given start; its pid is kept so
// that shutdown ends it. 0, or -1 (with a line, never a box) for an empty target, 16 such
// windows still showing, or a failed start.
int start_time_playback_window(const char* target, uint32_t mask, int year, int month, int day,
                               int hour, int minute);
// "setup", "emap", "dvrsetup" or "logview": a running one is raised. dvrsetup: -1 "No
// selected DVR.", -2 "Can't open dvr setup in group mode.".
int start_auxdesk(const char* mode_word, APP_OPTIONS* opts);
// "CPU" or "Network" (else -1); a second start within 500 ms is refused (-1).
int start_monitor_program(APP_OPTIONS* opts, const char* which);
// DVR status of the pop-up pad's channel: -1 running (raised) or failed; -2 no pad channel;
// -3 "No connected channel".
int start_probe(APP_OPTIONS* opts, APP_CONTEXT* ctx);
int start_refresher(APP_OPTIONS* opts, APP_CONTEXT* ctx);

// The single-instance window `title` this process started: 0 raised, or none recorded (or
// not a title kept here); -1 its window is gone.
int raise_child_window(const char* title);
// Asks the windows of the programs this process started to close, then ends the spot,
// extension and time playback windows still running.
void close_child_windows();
// Waits up to `timeout_ms` each for the search window and the E-Map this process started.
void wait_search_and_emap(int timeout_ms);
