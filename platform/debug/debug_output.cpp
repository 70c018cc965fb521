#include "platform/debug/debug_output.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {
std::mutex g_lock;
DebugOutputSink g_sink;

bool to_stderr() {
  static const bool on = [] {
    const char* v = std::getenv("VIGILO_DEBUG_OUTPUT");
    return v && std::strcmp(v, "1") == 0;
  }();
  return on;
}
}  // namespace

void debug_output(const char* text) {
  if (!text) return;
  std::lock_guard<std::mutex> lk(g_lock);
  if (g_sink) g_sink(text);
  if (to_stderr()) std::fputs(text, stderr);
}

void debug_outputf(const char* format, ...) {
  char buf[4096];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  debug_output(buf);
}

DebugOutputSink debug_output_set_sink(DebugOutputSink sink) {
  std::lock_guard<std::mutex> lk(g_lock);
  DebugOutputSink old = std::move(g_sink);
  g_sink = std::move(sink);
  return old;
}
