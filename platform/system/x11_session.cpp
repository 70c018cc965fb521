#include "platform/system/x11_session.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
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

// The end at a lost X server: what the first thread to meet it runs, and the exit code.
std::atomic<void (*)()> g_on_lost{nullptr};
std::atomic<int> g_exit_code{1};
std::atomic<bool> g_ending{false};

[[noreturn]] void wait_for_the_end() {
  for (;;) pause();
}

// Never returns: Xlib calls exit() when its I/O error handler does.
int on_io_error(Display*) {
  if (g_ending.exchange(true)) wait_for_the_end();
  const int code = g_exit_code.load();
  // A last step that hangs (a disk that stalls) still ends the process.
  try {
    std::thread([code] {
      std::this_thread::sleep_for(std::chrono::milliseconds(X11_LOST_GRACE_MS));
      _exit(code);
    }).detach();
  } catch (...) {
    _exit(code);  // no thread to bound the last step: end without it
  }
  static const char kText[] = "The connection to the X server was lost.\n";
  if (::write(STDOUT_FILENO, kText, sizeof kText - 1) < 0) {
    // Nothing to tell: the process ends either way.
  }
  if (void (*fn)() = g_on_lost.load()) fn();
  std::fflush(stdout);
  _exit(code);
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

void x11_on_connection_lost(void (*on_lost)(), int exit_code) {
  g_on_lost.store(on_lost);
  g_exit_code.store(exit_code ? exit_code : 1);
  XSetIOErrorHandler(on_io_error);
}
