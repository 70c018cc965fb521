// Look-ups of top-level windows by title on the X display: find, raise, close.
//
// Each call opens its own X connection, so any thread may call, before or after SDL starts;
// a caller that asks often (the E-Map's raiser) may pass one session of its own instead.
// Window ids are X window ids (0 = none). No display counts as "no such window".
#pragma once

class X11Session;

// The first window titled exactly `title` (WM_NAME or _NET_WM_NAME); with pid > 0 only a
// window whose _NET_WM_PID is pid, and then a null title matches any window of that
// process. Returns its id, or 0 when there is none or no display.
unsigned long x11_find_window(const char* title, int pid = 0);

// The _NET_WM_PID of window `id`, or 0 when it has none or no longer exists.
int x11_window_pid(unsigned long id);

// Maps, raises and activates window `id`. Returns 0, or -1 when it is gone or no display.
int x11_raise_window(unsigned long id);

// Asks window `id` to close as its title-bar button would (WM_DELETE_WINDOW); a window that
// does not take that request is left alone. Returns 0, or -1 when it is gone or no display.
int x11_close_window(unsigned long id);

// Records our process id on window `id` (_NET_WM_PID), so that look-ups by process find it.
// Returns 0, or -1 when the window is gone or there is no display.
int x11_set_window_pid(unsigned long id, int pid);

// Moves top-level window `id` by (dx, dy) pixels from where it stands on the screen.
// Returns 0, or -1 when it is gone or there is no display.
int x11_move_window_by(unsigned long id, int dx, int dy);

// The top-level window that has the input focus: the window manager's _NET_ACTIVE_WINDOW
// when one runs, else the focus window's top-level. 0 when none or no display.
unsigned long x11_active_window(X11Session* session = nullptr);

// Restacks every viewable top-level window of process `pid` just above window `above`,
// without moving, resizing or focusing it. Returns the number restacked (0 when none or
// no display).
int x11_stack_windows_above(int pid, unsigned long above, X11Session* session = nullptr);
