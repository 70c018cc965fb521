#include "client/foundation/sock_io.h"

#include <cstdio>

#include "client/foundation/app_state.h"
#include "client/foundation/config/utils.h"
#include "platform/net/net.h"

std::atomic<int> receivers_stop{0};

namespace {
std::atomic<int> g_winsock_started{0};

// Progress (5) and a stall (4) are told only while the word says the link is live: a word
// that holds a failure, a stop or an end keeps it, so the logout sent after a drop does not
// make the link look up again, and a stop written meanwhile is never lost.
inline void set_status(std::atomic<int>* status, int v) {
  if (!status) return;
  int now = status->load();
  while ((now == 4 || now == 5) && now != v && !status->compare_exchange_weak(now, v)) {}
}
}  // namespace

int send_timeout(int sock, const void* buf, int len, int timeout_s, std::atomic<int>* status) {
  if (timeout_s <= 0 || sock < 0 || !buf || len < 0) return -1;
  const auto* p = static_cast<const uint8_t*>(buf);
  const uint64_t start = net_now_ms();
  int sent = 0;
  int last = 0;
  for (;;) {
    long n = net_send(sock, p + sent, size_t(len - sent));
    bool moved = n > 0;
    if (moved) {
      if (receivers_stop.load()) return -1;
      sent += int(n);
      last = int(n);
      set_status(status, 5);
    } else {
      if (receivers_stop.load()) return -1;
      if (net_now_ms() - start > 1000) set_status(status, 4);
      int err = n < 0 ? net_last_error() : 0;
      if (err != 0 && err != NET_WOULDBLOCK) {
        std::printf("socket_error %d\n", err);
        return -1;
      }
    }
    if (sent >= len) return len == 0 ? 0 : last;
    if (app_quit.load()) return -1;
    if (!moved) net_poll(sock, false, true, 100, nullptr, nullptr);
    if ((net_now_ms() - start) / 1000 >= uint64_t(timeout_s)) return -1;
  }
}

int recv_timeout_some(int sock, void* buf, int min_len, int max_len, int timeout_s,
                      std::atomic<int>* status, int pause_ms, const std::function<bool()>& hold,
                      int* partial, bool* drained_io) {
  if (partial) *partial = 0;
  if (sock < 0 || !buf || min_len < 0 || max_len < min_len) return -1;
  if (max_len == 0) return 0;
  auto* p = static_cast<uint8_t*>(buf);
  const uint64_t start = net_now_ms();
  int got = 0;
  bool drained = drained_io && *drained_io;  // the socket is empty: wait before asking
  for (;;) {
    if (drained) {
      net_poll(sock, true, false, pause_ms, nullptr, nullptr);
      drained = false;
    }
    const size_t want = size_t(max_len - got);
    long n = net_recv(sock, p + got, want);
    if (n > 0) {
      if (receivers_stop.load()) return -1;
      got += int(n);
      if (partial) *partial = got;
      set_status(status, 5);
      drained = size_t(n) < want;
    } else {
      if (receivers_stop.load()) return -1;
      if (net_now_ms() - start > 1000) set_status(status, 4);
      int err = n < 0 ? net_last_error() : 0;
      if (err != 0 && err != NET_WOULDBLOCK) {
        std::printf("socket error: %d\n", err);
        return -1;
      }
    }
    if (got >= min_len && got > 0) {
      if (drained_io) *drained_io = drained;
      return got;
    }
    if (app_quit.load()) return -1;
    if (n == 0) return -1;  // peer closed
    if (hold && hold()) return 0;
    if (n < 0) net_poll(sock, true, false, pause_ms, nullptr, nullptr);
    if ((net_now_ms() - start) / 1000 >= uint64_t(timeout_s)) return -1;
  }
}

int recv_timeout_hold(int sock, void* buf, int len, int timeout_s, std::atomic<int>* status,
                      int pause_ms, const std::function<bool()>& hold) {
  if (len == 0) return (sock < 0 || !buf) ? -1 : 0;
  return recv_timeout_some(sock, buf, len, len, timeout_s, status, pause_ms, hold, nullptr);
}

int recv_timeout(int sock, void* buf, int len, int timeout_s, std::atomic<int>* status) {
  return recv_timeout_hold(sock, buf, len, timeout_s, status, 60, {});
}

int recv_timeout_rx(int sock, void* buf, int len, RECEIVER_INFO* rx) {
  if (!rx) return -1;
  APP_CONTEXT* ctx = rx->context;
  return recv_timeout_hold(sock, buf, len, int(rx->sock_timeout), &rx->status, 100, [ctx] {
    return ctx && ctx->playback_flags.load() == 0 && ctx->search_state.load() == SEARCH_HOLD;
  });
}

int winsock_start() {
  int expected = 0;
  return g_winsock_started.compare_exchange_strong(expected, 1) ? 0 : 1;
}

int winsock_stop() {
  g_winsock_started.store(0);
  return 0;
}

int ring_fill_above(uint32_t size, uint32_t write_index, uint32_t read_index, int percent) {
  uint64_t fill = write_index > read_index ? uint64_t(write_index) - read_index
                                           : uint64_t(size) - read_index + write_index;
  return fill * 100u > uint64_t(size) * uint64_t(percent < 0 ? 0 : percent) ? 1 : 0;
}

int count_bits(uint32_t mask) { return __builtin_popcount(mask); }
