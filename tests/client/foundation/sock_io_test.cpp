// Socket transfers with time-outs against loopback peers, the links' buffered reader, and the
// ring fill rule.
#include "client/foundation/sock_io.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include "client/foundation/config/utils.h"
#include "client/links/link_common.h"
#include "platform/net/net.h"

namespace {

// A connected loopback pair: `client` non-blocking as the receive threads use it.
struct Pair {
  int listen_fd = -1, client = -1, server = -1;
  Pair() {
    uint16_t port = 0;
    listen_fd = net_listen_loopback(0, &port);
    client = net_tcp_socket();
    uint32_t a = 0;
    net_parse_ipv4("127.0.0.1", &a);
    EXPECT_EQ(0, net_connect(client, a, port, 2000, {}));
    server = net_accept(listen_fd, 2000);
    EXPECT_GE(server, 0);
  }
  ~Pair() {
    net_close(client);
    net_close(server);
    net_close(listen_fd);
  }
};

TEST(SockIo, recv_collects_bytes_that_arrive_in_pieces) {
  Pair p;
  std::thread writer([&] {
    for (int i = 0; i < 4; ++i) {
      uint8_t b[3] = {uint8_t(i), uint8_t(i), uint8_t(i)};
      ::send(p.server, b, 3, 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  std::atomic<int> status{4};
  uint8_t buf[12] = {};
  EXPECT_EQ(12, recv_timeout(p.client, buf, 12, 3, &status));
  writer.join();
  EXPECT_EQ(5, status.load());
  EXPECT_EQ(3, buf[11]);
}

TEST(SockIo, transfers_keep_a_failed_stopped_or_ended_status) {
  // The logout sent after a drop must not make the link look up again, nor may a transfer
  // under way undo a stop.
  Pair p;
  for (int held : {-1, 0, 2}) {
    std::atomic<int> status{held};
    uint8_t b[4] = {1, 2, 3, 4};
    EXPECT_EQ(4, send_timeout(p.client, b, 4, 2, &status));
    EXPECT_EQ(4, recv_timeout(p.server, b, 4, 2, nullptr));
    ::send(p.server, b, 4, 0);
    EXPECT_EQ(4, recv_timeout(p.client, b, 4, 2, &status));
    EXPECT_EQ(held, status.load());
  }
}

TEST(SockIo, silent_peer_times_out_and_marks_status_stalled) {
  Pair p;
  std::atomic<int> status{5};
  uint8_t buf[4];
  uint64_t t0 = net_now_ms();
  EXPECT_EQ(-1, recv_timeout(p.client, buf, 4, 2, &status));
  uint64_t took = net_now_ms() - t0;
  EXPECT_GE(took, 2000u);
  EXPECT_LT(took, 3000u);
  EXPECT_EQ(4, status.load());
}

TEST(SockIo, closed_peer_and_stop_flags_end_waits_at_once) {
  {
    Pair p;
    net_close(p.server);
    uint8_t buf[4];
    uint64_t t0 = net_now_ms();
    EXPECT_EQ(-1, recv_timeout(p.client, buf, 4, 10, nullptr));
    EXPECT_LT(net_now_ms() - t0, 5000u);  // half the time-out: it was not waited out
  }
  {
    Pair p;
    std::thread stopper([] {
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
      app_quit.store(1);
    });
    uint8_t buf[4];
    uint64_t t0 = net_now_ms();
    EXPECT_EQ(-1, recv_timeout(p.client, buf, 4, 10, nullptr));
    stopper.join();
    app_quit.store(0);
    EXPECT_LT(net_now_ms() - t0, 5000u);
  }
  {
    Pair p;
    receivers_stop.store(1);
    uint8_t b = 1;
    EXPECT_EQ(-1, send_timeout(p.client, &b, 1, 5, nullptr));
    receivers_stop.store(0);
  }
}

TEST(SockIo, hold_condition_returns_no_data_without_error) {
  Pair p;
  uint8_t buf[4];
  int calls = 0;
  EXPECT_EQ(0, recv_timeout_hold(p.client, buf, 4, 10, nullptr, 100, [&] { return ++calls > 1; }));
}

TEST(SockIo, send_refuses_zero_timeout_and_survives_a_closed_peer) {
  Pair p;
  uint8_t b[8] = {};
  EXPECT_EQ(-1, send_timeout(p.client, b, 8, 0, nullptr));
  uint8_t got[8];
  ASSERT_EQ(8, send_timeout(p.client, b, 8, 5, nullptr));
  ASSERT_EQ(8, ::recv(p.server, got, 8, MSG_WAITALL));
  net_close(p.server);
  // Writing into a closed connection must fail with -1, never raise SIGPIPE.
  std::vector<uint8_t> big(1 << 20);
  int r = 0;
  for (int i = 0; i < 20 && r >= 0; ++i)
    r = send_timeout(p.client, big.data(), int(big.size()), 2, nullptr);
  EXPECT_EQ(-1, r);
}

TEST(SockIo, large_send_completes_through_a_slow_reader) {
  Pair p;
  std::vector<uint8_t> data(4 << 20);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 31);
  std::vector<uint8_t> got(data.size());
  std::thread reader([&] {
    size_t have = 0;
    while (have < got.size()) {
      ssize_t n = ::recv(p.server, got.data() + have, got.size() - have, 0);
      if (n <= 0) break;
      have += size_t(n);
    }
  });
  EXPECT_GT(send_timeout(p.client, data.data(), int(data.size()), 10, nullptr), 0);
  reader.join();
  EXPECT_EQ(data, got);
}

TEST(SockIo, link_reader_takes_packets_of_every_size_in_stream_order) {
  // Small packets, then ones past the first read-ahead (taken while bytes behind them are
  // buffered), one past the largest read-ahead (read straight into the caller's buffer).
  const uint32_t sizes[] = {8, 100, 70000, 3, 300000, 5, (1u << 20) + 1, 40, 1u << 20, 2};
  std::vector<uint8_t> stream;
  for (uint32_t n : sizes)
    for (uint32_t i = 0; i < n; ++i) stream.push_back(uint8_t(n + i * 7));
  Pair p;
  std::thread writer([&] {
    send_timeout(p.server, stream.data(), int(stream.size()), 10, nullptr);
    ::shutdown(p.server, SHUT_WR);
  });
  auto rx = std::make_unique<RECEIVER_INFO>();
  rx->sock_timeout = 10;
  rx->status.store(RX_RECEIVING);
  LinkReader rd(p.client, rx.get());
  std::vector<uint8_t> got((1u << 20) + 1);
  size_t at = 0;
  for (size_t k = 0; k < std::size(sizes); ++k) {
    const uint32_t n = sizes[k];
    const uint8_t* bytes = got.data();
    int r = 0;
    if (k % 2 && n <= (1u << 20))
      bytes = rd.view(n, &r);
    else
      r = rd.read(got.data(), n);
    ASSERT_EQ(1, r) << n;
    ASSERT_TRUE(std::equal(bytes, bytes + n, stream.begin() + long(at))) << n;
    at += n;
  }
  uint8_t one;
  EXPECT_EQ(-1, rd.read(&one, 1));  // the peer ended after the last packet
  writer.join();
}

TEST(SockIo, ring_fill_counts_equal_indexes_as_full) {
  struct Case {
    uint32_t size, w, r;
    int pct, want;
  } cases[] = {
      {1000, 500, 500, 80, 1}, {1000, 900, 0, 80, 1}, {1000, 700, 0, 80, 0},
      {1000, 100, 900, 80, 0}, {1000, 0, 100, 80, 1}, {1000, 801, 0, 80, 1},
      {1000, 800, 0, 80, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.want, ring_fill_above(c.size, c.w, c.r, c.pct)) << c.w << " " << c.r;
  EXPECT_EQ(32, count_bits(0xFFFFFFFFu));
  EXPECT_EQ(0, count_bits(0));
}

}  // namespace
