// CPU, network and disk load for the panel's meters.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "client/foundation/app_state.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/win_helpers.h"
#include "platform/system/host_stats.h"

namespace {

// Sleeps `ms` in short steps: false when app_quit cut it short.
bool pause_unless_quitting(int ms) {
  for (int slept = 0; slept < ms; slept += 50) {
    if (app_quit.load()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return !app_quit.load();
}

}  // namespace

int read_perf_counter(const char*) {
  uint64_t busy0, total0, busy1, total1;
  if (read_cpu_times(&busy0, &total0) != 0) return 0;
  if (!pause_unless_quitting(1000)) return 0;
  if (read_cpu_times(&busy1, &total1) != 0 || total1 <= total0 || busy1 < busy0) return 0;
  return int(double(busy1 - busy0) * 100.0 / double(total1 - total0));
}

int watch_net_adapter(const char*, APP_CONTEXT* ctx) {
  const std::vector<std::string> adapters = list_net_interfaces();
  std::printf("There are %d adapters.\n", int(adapters.size()));
  if (adapters.empty()) return 0;
  const std::string& name = adapters.front();
  std::printf("There first adapter is %s.\n", name.c_str());
  uint64_t prev_in = 0, prev_out = 0;
  if (read_net_octets(name.c_str(), &prev_in, &prev_out) != 0) return 0;
  while (pause_unless_quitting(1000)) {
    uint64_t in, out;
    if (read_net_octets(name.c_str(), &in, &out) != 0) return 0;
    const uint64_t mbps = read_net_speed_mbps(name.c_str());
    // Counters that went back (the interface was reset) say nothing about this second.
    if (mbps != 0 && in >= prev_in && out >= prev_out) {
      const double bits = double((in - prev_in) + (out - prev_out)) * 8;
      ctx->net_load.store(int(bits / (double(mbps) * 1e6) * 100));
    }
    prev_in = in;
    prev_out = out;
  }
  return 0;
}

int get_disk_free_percent(const char* path) {
  uint64_t free_bytes, total_bytes;
  if (read_disk_space(path, &free_bytes, &total_bytes) != 0 || total_bytes == 0) return 0;
  return int(double(free_bytes) / double(total_bytes) * 100);
}
