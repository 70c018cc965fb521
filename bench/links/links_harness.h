// Steps links_bench's 'Q' and 'I'/'S' cases share: CPU and wall clocks, the raw loopback copy
// that is each case's floor, and the rings the receive threads write into, drained as
// decoders would. Called from the bench's main thread; the raw copy runs one reader thread
// per socket and joins them before it returns.
#pragma once

#include <pthread.h>
#include <sys/socket.h>
#include <time.h>

#include <SDL/SDL.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "client/foundation/app_state.h"
#include "client/foundation/sock_io.h"
#include "client/links/frame_headers.h"
#include "platform/net/net.h"

namespace links_bench {

inline double thread_cpu_s(pthread_t t) {
  clockid_t cid;
  if (pthread_getcpuclockid(t, &cid) != 0) return 0;
  timespec ts{};
  clock_gettime(cid, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}
inline double self_cpu_s() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}
inline double now_s() { return double(net_now_ms()) / 1000.0; }

struct RawResult {
  double mbps, ns_per_byte;
};

// Reads the DVRs' streams on `fds` (logged in already) by plain recv() calls into one buffer
// of `buf_size` bytes a socket, throwing them away, for `seconds` once frames flow; then
// shuts and closes the sockets. What the link costs without any parsing.
inline RawResult read_raw(std::vector<int>& fds, size_t buf_size, double seconds) {
  std::atomic<long long> got{0};
  std::atomic<bool> stop{false};
  std::vector<double> cpu(fds.size(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));  // frames flowing
  std::vector<std::thread> readers;
  const double t0 = now_s();
  for (size_t d = 0; d < fds.size(); ++d)
    readers.emplace_back([&, d] {
      std::vector<uint8_t> buf(buf_size);
      const double c0 = self_cpu_s();
      while (!stop.load()) {
        ssize_t n = ::recv(fds[d], buf.data(), buf.size(), 0);
        if (n <= 0) break;
        got.fetch_add(n);
      }
      cpu[d] = self_cpu_s() - c0;
    });
  std::this_thread::sleep_for(std::chrono::milliseconds(int(seconds * 1000)));
  const double wall = now_s() - t0;
  const long long bytes = got.load();
  stop.store(true);
  for (int fd : fds) ::shutdown(fd, SHUT_RDWR);
  for (auto& t : readers) t.join();
  for (int fd : fds) net_close(fd);
  fds.clear();
  double total = 0;
  for (double c : cpu) total += c;
  return {double(bytes) / wall / 1e6, total * 1e9 / double(bytes ? bytes : 1)};
}

// A blocking socket connected to 127.0.0.1:`port`, or -1.
inline int connect_loopback(uint16_t port) {
  int fd = net_tcp_socket();
  uint32_t a = 0;
  net_parse_ipv4("127.0.0.1", &a);
  net_connect(fd, a, port, 5000, {});
  net_set_nonblocking(fd, false);
  return fd;
}

// Gives `ctx` `slots` rings of the default size. They are touched up front, as
// alloc_receive_buffers zeroes its rings, so page faults of a fresh ring are not charged to
// the receive threads.
inline void alloc_rings(APP_CONTEXT* ctx, int slots) {
  ctx->ring_size = DEFAULT_RING_SIZE;
  ctx->num_slots = uint32_t(slots);
  for (int i = 0; i < slots; ++i) {
    ctx->slots[i].ring = static_cast<uint8_t*>(std::malloc(DEFAULT_RING_SIZE + 1024));
    std::memset(ctx->slots[i].ring, 0, DEFAULT_RING_SIZE + 1024);
    ctx->slots[i].mutex = SDL_CreateMutex();
  }
}

inline void free_rings(APP_CONTEXT* ctx) {
  for (uint32_t i = 0; i < ctx->num_slots; ++i) {
    std::free(ctx->slots[i].ring);
    ctx->slots[i].ring = nullptr;
  }
}

// Takes every record of ring `slot` as a decoder would: `owner(header, body)` names the
// receiver whose pending counts it releases (nullptr: none).
template <class Owner>
void drain_slot(APP_CONTEXT* ctx, uint32_t slot, Owner owner) {
  DISPLAY_SLOT& s = ctx->slots[slot];
  SDL_mutexP(s.mutex);
  while (s.read_pos != s.write_pos) {
    if (s.read_pos + 12 > ctx->ring_size) s.read_pos = 0;
    FRAME_RECORD_HEADER rh = decode_frame_record_header(s.ring + s.read_pos);
    if (rh.start_key != 0xFFFF) {
      s.read_pos = 0;
      continue;
    }
    if (RECEIVER_INFO* rx = owner(rh, s.ring + s.read_pos + 12)) {
      rx->pending_frames.fetch_sub(1);
      rx->pending_bytes.fetch_sub(12 + rh.size);
    }
    s.read_pos += 12 + rh.size;
  }
  SDL_mutexV(s.mutex);
}

// Stops and joins every receive thread of `ctx`.
inline void stop_bench_receivers(APP_CONTEXT* ctx) {
  receivers_stop.store(1);
  for (int d = 0; d < ctx->num_receivers; ++d) {
    ctx->receivers[d].status.store(RX_STOP);
    if (ctx->receivers[d].thread.joinable()) ctx->receivers[d].thread.join();
  }
}

}  // namespace links_bench
