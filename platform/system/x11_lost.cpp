#include "platform/system/x11_lost.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include <X11/Xlib.h>

namespace {

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

void x11_on_connection_lost(void (*on_lost)(), int exit_code) {
  g_on_lost.store(on_lost);
  g_exit_code.store(exit_code ? exit_code : 1);
  XSetIOErrorHandler(on_io_error);
}
