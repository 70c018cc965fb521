// The process's X session: private X connections of the platform layer (message boxes,
// window look-ups), Xlib's thread locking, and the end of the process when its X server goes
// away.
//
// Each caller opens its own Display so it may run on any thread, before or after SDL.
// X protocol errors on these connections (a window that vanished between look-up and raise)
// are recorded instead of ending the process; errors on other connections (SDL's) go to the
// handler that was installed before ours.
#pragma once

#include <X11/Xlib.h>

class X11Session {
 public:
  // Opens the default display ($DISPLAY). ok() is false when there is none.
  X11Session();
  ~X11Session();
  X11Session(const X11Session&) = delete;
  X11Session& operator=(const X11Session&) = delete;

  bool ok() const { return dpy_ != nullptr; }
  Display* dpy() const { return dpy_; }
  // Flushes the request queue and reports whether any X error arrived since the last call.
  bool sync_had_error();

 private:
  Display* dpy_ = nullptr;
};

// Called once per process before the first X connection (ours or SDL's): enables Xlib's
// locking so several threads may each use their own connection.
void x11_init_threads_once();

// The end of the process when its X server goes away. Xlib's own handler of a broken
// connection calls exit() on every thread that meets it, so several threads ran the exit
// handlers and static destructors at once. Ours lets the first such thread run the program's
// last step and end the process with _exit; every other thread that meets a broken connection
// (any connection, SDL's included: the handler is process-wide) waits there for that end.
// Installed on the first thread before anything opens the display, and again once SDL's video
// has started: SDL puts a handler of its own in front, which takes SDL's display away from
// every thread before it passes the loss on, so a thread still drawing would crash. `on_lost`
// runs on the first thread to meet a broken connection and must not use X; the process then
// ends with _exit(exit_code), also when `on_lost` has not returned within X11_LOST_GRACE_MS.
// exit_code must not be 0.
void x11_on_connection_lost(void (*on_lost)(), int exit_code);

constexpr int X11_LOST_GRACE_MS = 10000;
