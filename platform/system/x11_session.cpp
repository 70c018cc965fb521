#include "platform/system/x11_session.h"

#include <mutex>
#include <vector>

#include <X11/Xlib.h>

namespace {

std::mutex g_mutex;  // guards the two lists below
// g_ours: open connections owned by X11Session; g_errored: those that received an error since
// their last sync. Never destroyed, so a helper thread that still opens or closes a session
// while exit() runs the program's destructors never meets freed lists.
std::vector<Display*>& g_ours = *new std::vector<Display*>;
std::vector<Display*>& g_errored = *new std::vector<Display*>;
XErrorHandler g_previous = nullptr;

int on_x_error(Display* dpy, XErrorEvent* ev) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (Display* d : g_ours) {
      if (d == dpy) {
        g_errored.push_back(dpy);
        return 0;
      }
    }
  }
  return g_previous ? g_previous(dpy, ev) : 0;
}

void install_handler_once() {
  static std::once_flag once;
  std::call_once(once, [] { g_previous = XSetErrorHandler(on_x_error); });
}

}  // namespace

void x11_init_threads_once() {
  static std::once_flag once;
  std::call_once(once, [] { XInitThreads(); });
}

X11Session::X11Session() {
  x11_init_threads_once();
  install_handler_once();
  dpy_ = XOpenDisplay(nullptr);
  if (dpy_) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_ours.push_back(dpy_);
  }
}

X11Session::~X11Session() {
  if (!dpy_) return;
  XSync(dpy_, False);
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::erase(g_ours, dpy_);
    std::erase(g_errored, dpy_);
  }
  XCloseDisplay(dpy_);
}

bool X11Session::sync_had_error() {
  if (!dpy_) return true;
  XSync(dpy_, False);
  std::lock_guard<std::mutex> lock(g_mutex);
  return std::erase(g_errored, dpy_) > 0;
}
