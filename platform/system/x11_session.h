// Private X connections of the platform layer (message boxes, window look-ups).
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
