// Window helpers of the client: windows of this and the companion processes looked up by
// title, and text conversion between UTF-8 and the system code page.
//
// The look-ups open their own X connection (platform/system/x11_windows.h), so any thread
// may call them, before or after SDL starts; without a display no window exists.
#pragma once

#include <cstddef>

// 1 when a top-level window titled exactly `title` exists (it is raised and shown), else 0.
int raise_window(const char* title);
// 1 when a top-level window titled exactly `title` exists, else 0. Nothing is changed.
int window_exists(const char* title);
// 0 when the window titled `title` belongs to process `pid` and was raised, else -1 (a
// window of another process is left alone).
int raise_own_window(const char* title, int pid);
// Asks the window titled `title` of process `pid` to close (as its close button would).
// Returns 0 whether or not such a window exists.
int close_own_window(const char* title, int pid);
// Records this process on an SDL window of ours, so that the look-ups by process find it.
// `x_window` is the X id of the window (SDL_GetWMInfo). 0, or -1 when it is gone.
int mark_own_window(unsigned long x_window);
// Moves the window last marked by mark_own_window by (dx, dy) pixels (dragging a frameless
// window). 0, or -1 when there is none or it is gone.
int move_window_by(int dx, int dy);

// Output volume of the audio device (platform/system/wave_out.h: the client's own gain, so
// other programs keep their sound). set: both channels to percent * 65535 / 100; 0, or -1
// without a device. get: the mean of the two channels in percent (integer), 0 without one.
int set_wave_volume(int percent);
int get_wave_volume();

// Modal file chooser opening in `initial_dir` ('\' read as '/'), centred on the screen, with
// the recorded-file filters: the GTK+ 2 program `filechooser` of the program directory
// (platform/filechooser). 0 and the chosen existing file in `out` (cap bytes, at most 520
// used), or -1 and "" when the operator cancels, no display or chooser is there, or the path
// does not fit. It blocks the calling thread (the window loop) until the operator answers:
// it holds a ModalWait (config/utils.h), so the watchdog does not count that time.
int open_file_dialog(const char* initial_dir, char* out, size_t cap);

// Machine load (host_load.cpp, over platform/system/host_stats.h). Each may run on its own
// thread; the waits end early once app_quit is set.
// Busy share of all processors in percent, sampled over 1000 ms (truncated); 0 when it
// cannot be read or the client is quitting. `counter_path` is accepted and not used.
int read_perf_counter(const char* counter_path);
// The network monitor loop: prints "There are %d adapters.\n" (loopback left out) and, with
// one, "There first adapter is %s.\n" with the first's name (in place of `description`);
// then once a second stores that interface's load in percent of its link speed in
// ctx->net_load (no update while the speed is unknown) until app_quit. 0.
struct APP_CONTEXT;
int watch_net_adapter(const char* description, APP_CONTEXT* ctx);
// Free share of the file system holding `path`, in percent (truncated); 0 when it cannot be
// read or its size is 0.
int get_disk_free_percent(const char* path);

// Conversions between UTF-8 and the system code page (the locale's character set; the C
// locale and UTF-8 locales copy the text). Return a new text that the caller releases
// with free(), or nullptr for a null text or when memory ran out. A byte that cannot be
// converted becomes '?'.
char* utf8_to_ansi(const char* text);
char* ansi_to_utf8(const char* text);
