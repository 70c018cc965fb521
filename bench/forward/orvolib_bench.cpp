// An ORVOSDK_ call beside the direct SDK_ call it forwards to, on the cheap path of each
// (a handle the library does not know, so the figure is the call itself plus the SDK's
// handle look-up), and an empty call through a function pointer as the floor.
#include <cstdio>

#include "bench/best_time.h"
#include "forward/orvolib/orvolib.h"

namespace {
__attribute__((noinline)) int empty_call(void*, unsigned long) { return 0; }
}  // namespace

int main() {
  int (*volatile floor_fn)(void*, unsigned long) = empty_call;
  int (*volatile direct)(void*, unsigned long) = SDK_SetWaitTimeout;
  int (*volatile forwarded)(void*, unsigned long) = ORVOSDK_SetWaitTimeout;
  volatile int sink = 0;
  constexpr int kCalls = 1000;
  auto per_call_ns = [&](int (*fn)(void*, unsigned long)) {
    return time_us([&] {
             for (int i = 0; i < kCalls; ++i) sink = sink + fn(nullptr, 1);
           }) *
           1000.0 / kCalls;
  };
  const double f = per_call_ns(floor_fn), d = per_call_ns(direct), o = per_call_ns(forwarded);
  std::printf("%-34s %10s\n", "call (unknown handle)", "ns/call");
  std::printf("%-34s %10.2f\n", "empty call through a pointer", f);
  std::printf("%-34s %10.2f\n", "SDK_SetWaitTimeout (direct)", d);
  std::printf("%-34s %10.2f\n", "ORVOSDK_SetWaitTimeout (OrvoLib)", o);
  std::printf("%-34s %10.2f\n", "added by OrvoLib", o - d);
  return 0;
}
