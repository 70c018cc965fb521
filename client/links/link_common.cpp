#include "client/links/link_common.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "client/foundation/config/utils.h"
#include "client/foundation/sock_io.h"
#include "platform/net/net.h"
#include "platform/sync/thread_name.h"

bool rx_stopping(const RECEIVER_INFO* rx) {
  return receivers_stop.load() != 0 || app_quit.load() != 0 || rx->status.load() == RX_STOP;
}

void rx_pause_ms(const RECEIVER_INFO* rx, int ms) {
  for (int t = 0; t < ms && !rx_stopping(rx); t += 20)
    std::this_thread::sleep_for(std::chrono::milliseconds(ms - t < 20 ? ms - t : 20));
}

void rx_fail_status(RECEIVER_INFO* rx, int32_t from) {
  int32_t expected = from;
  rx->status.compare_exchange_strong(expected, RX_FAILED);
}

int rx_timeout_s(const RECEIVER_INFO* rx) { return rx->sock_timeout ? int(rx->sock_timeout) : 30; }

int resolve_interruptible(const char* host, uint32_t* addr, RECEIVER_INFO* rx) {
  struct Job {
    std::mutex m;
    bool done = false;
    int rc = -1;
    uint32_t addr = 0;
    char host[129] = {};
  };
  auto job = std::make_shared<Job>();
  std::snprintf(job->host, sizeof job->host, "%s", host);
  std::thread([job] {
    set_current_thread_name("host lookup");
    uint32_t a = 0;
    int rc = net_resolve_ipv4(job->host, &a);
    std::lock_guard<std::mutex> g(job->m);
    job->rc = rc;
    job->addr = a;
    job->done = true;
  }).detach();
  for (;;) {
    {
      std::lock_guard<std::mutex> g(job->m);
      if (job->done) {
        *addr = job->addr;
        return job->rc;
      }
    }
    if (rx_stopping(rx)) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

int rx_direct_address(RECEIVER_INFO* rx, uint32_t* addr) {
  if (std::strcmp(rx->host_type, "NAME") == 0) return resolve_interruptible(rx->address, addr, rx);
  return net_parse_ipv4(rx->address, addr);
}
