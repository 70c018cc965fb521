// The simulated SDK DVR's exchanges that the library's application object relies on: events
// sent to the SDK's event port, the recording-information requests (the day mask request
// announces 12 body bytes and sends 8) and the alive test's bare connect; and the event server
// against peers that hold its connections or leave it no descriptor.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "peers/wdvr/wdvr_peer.h"
#include "sdk/Blocksock.h"
#include "sdk/EventServer.h"
#include "platform/wire/byte_reader.h"
#include "sdk/Protocol/DSFProtocol.h"
#include "tests/sdk/sdk_test_util.h"

namespace {

using sdktest::hex;

CSockAddr loopback(uint16_t port) {
  CSockAddr sa;
  CBlockingSocket::ResolveHost("127.0.0.1", port, &sa);
  return sa;
}

// Reads one packet: its three header words and payload.
std::vector<uint8_t> read_packet(CBlockingSocket& s, uint32_t* number, uint32_t* flag) {
  uint8_t h[12];
  s.Read(h, 12);
  CByteReader r(h, 12);
  *number = r.U32BE();
  *flag = r.U32BE();
  std::vector<uint8_t> payload(r.U32BE());
  if (!payload.empty()) s.Read(payload.data(), int(payload.size()));
  return payload;
}

TEST(WdvrExchanges, EventsReachTheEventPort) {
  CBlockingSocket listener;
  listener.Create();
  listener.Bind(loopback(0));
  listener.Listen();
  ASSERT_TRUE(wdvr::send_event(listener.GetLocalPort(), 0x00050001,
                               wdvr::event_payload(0x00050001, 2, 5, 0)));
  CBlockingSocket conn;
  ASSERT_TRUE(listener.Accept(conn, nullptr));
  uint32_t number, flag;
  const auto payload = read_packet(conn, &number, &flag);
  EXPECT_EQ(number, 0x00050001u);
  EXPECT_EQ(flag, 1u);
  CDSFProtocol p;
  DSF_SENSOR_EVENT ev{};
  ASSERT_EQ(p.ParseReply(number, payload.data(), payload.size(), &ev), 1);
  EXPECT_EQ(ev.b, 2);
  EXPECT_EQ(ev.flags[5], 1);
  EXPECT_EQ(wdvr::event_payload(0x00050803, 0, 3, 1), hex("00000000 00000000 03 01"));
  EXPECT_EQ(wdvr::event_payload(0x00050201, 7, 0, 0), hex("00000000 00000007"));
}

TEST(WdvrExchanges, RecordingInformationAndTheBareConnect) {
  wdvr::PeerConfig cfg;
  cfg.width = 64;
  cfg.height = 48;
  cfg.clip_frames = 1;
  wdvr::WdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  const CSockAddr multi = loopback(uint16_t(peer.base_port() + 7));
  struct Case {
    const char* request;
    uint32_t reply;
    std::vector<uint8_t> payload;
  } cases[] = {
      {"00040006 00000000 0000000c 0134d6e5 00000004", 0xA0040006, hex("0000c00f")},
      {"00040006 00000000 0000000c 0134d749 00000004", 0xA0040006, hex("00000000")},
      {"00040004 00000000 00000008 0134d6f3 00000006", 0xA0040004, {}},
  };
  cases[2].payload = wdvr::record_table(cfg, 20240115, 1);
  const auto ch2 = wdvr::record_table(cfg, 20240115, 2);
  cases[2].payload.insert(cases[2].payload.end(), ch2.begin(), ch2.end());
  for (const Case& c : cases) {
    CBlockingSocket s;
    s.Create();
    s.Connect(multi);
    s.SetReceiveTimeOut(2000);
    const auto req = hex(c.request);
    s.Write(req.data(), int(req.size()));
    uint32_t number, flag;
    EXPECT_EQ(read_packet(s, &number, &flag), c.payload) << c.request;
    EXPECT_EQ(number, c.reply);
    EXPECT_EQ(flag, 1u);
  }
  EXPECT_EQ(cases[2].payload[size_t(60 + 10 * 1)], 1);
  EXPECT_EQ(cases[2].payload[240 + 60 + 10 * 1], 0);

  {
    CBlockingSocket bare;
    bare.Create();
    bare.Connect(multi);
  }
  wdvr::Request r;
  ASSERT_TRUE(peer.wait_request(wdvr::kBareConnect, 0, 2000, &r));
  EXPECT_EQ(r.port, peer.base_port() + 7);
}

// An event server on a free port of every address that counts its deliveries.
std::atomic<int> g_events{0};
struct Server {
  CEventServer server;
  Server() {
    g_events = 0;
    EXPECT_EQ(server.Start(
                  [](int, int, void*, const char*, int, int) {
                    ++g_events;
                    return 0;
                  },
                  nullptr, 0),
              1);
  }
  // A client connection to it (-1 when refused).
  int client() const {
    CSockAddr sa = loopback(server.Port());
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(sa.port);
    in.sin_addr.s_addr = sa.addr_be;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&in), sizeof in) != 0) {
      ::close(fd);
      return -1;
    }
    return fd;
  }
};

// The read limit holds for a connection's whole message: a peer trickling bytes faster than
// the limit still loses its connection once the limit has passed.
TEST(EventServer, ATricklingPeerLosesItsConnectionAtTheMessageDeadline) {
  Server s;
  s.server.SetReadTimeOut(300);
  const int fd = s.client();
  ASSERT_GE(fd, 0);
  const auto header = hex("00050202 00000001 00000800");
  ASSERT_EQ(::send(fd, header.data(), header.size(), MSG_NOSIGNAL), ssize_t(header.size()));
  ASSERT_TRUE(sdktest::wait_until([&] { return s.server.OpenConnections() == 1; }, 5000));
  std::atomic<bool> stop{false};
  std::thread trickle([&] {  // a byte every 50 ms, for far longer than the limit
    for (int i = 0; i < 100 && !stop; ++i) {
      if (::send(fd, "x", 1, MSG_NOSIGNAL) != 1) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  EXPECT_TRUE(sdktest::wait_until([&] { return s.server.OpenConnections() == 0; }, 3000));
  stop = true;
  trickle.join();
  ::close(fd);
  EXPECT_EQ(g_events, 0);
}

// Peers that connect and say nothing take every slot; a DVR's event still gets through, in
// the place of the oldest of them.
TEST(EventServer, ADvrGetsInWhenSilentPeersHoldEverySlot) {
  Server s;
  std::vector<int> idle;
  for (int i = 0; i < CEventServer::kMaxConnections; ++i) {
    idle.push_back(s.client());
    ASSERT_GE(idle.back(), 0);
  }
  ASSERT_TRUE(sdktest::wait_until(
      [&] { return s.server.OpenConnections() == CEventServer::kMaxConnections; }, 5000));
  ASSERT_TRUE(wdvr::send_event(s.server.Port(), 0x00050202, {}));
  EXPECT_TRUE(sdktest::wait_until([&] { return g_events == 1; }, 5000));
  uint8_t c;
  EXPECT_EQ(::recv(idle.front(), &c, 1, 0), 0);  // the oldest was closed
  EXPECT_EQ(s.server.OpenConnections(), CEventServer::kMaxConnections - 1);
  for (int fd : idle) ::close(fd);
}

// With no descriptor left, accept fails at once for as long as the connection waits: the
// server pauses between attempts (longer each time) instead of spinning a core, and serves
// the connection once descriptors are free again.
TEST(EventServer, AFailingAcceptPausesInsteadOfSpinning) {
  Server s;
  // Two events first. The listener is then surely running, and the sanitizer has seen a
  // connection thread start and end: its first look at an object of a new type opens a pipe,
  // which the low limit below would refuse (a false report of a bad object), and a pipe
  // opened while the limit is taken would free descriptors inside the window. The second
  // accept joins the first connection's thread; the second ends on types already seen.
  for (int i = 1; i <= 2; ++i) {
    ASSERT_TRUE(wdvr::send_event(s.server.Port(), 0x00050202, {}));
    ASSERT_TRUE(sdktest::wait_until(
        [&] { return g_events == i && s.server.OpenConnections() == 0; }, 5000));
  }
  sdktest::TraceCapture trace;
  // The socket is made before the limit drops and connected after, so the server cannot
  // have taken the connection while a descriptor was still free.
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  const int lowest = ::dup(0);
  ASSERT_GE(lowest, 0);
  ::close(lowest);
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &old), 0);
  rlimit low = old;
  low.rlim_cur = rlim_t(lowest);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  const CSockAddr sa = loopback(s.server.Port());
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_port = htons(sa.port);
  in.sin_addr.s_addr = sa.addr_be;
  const int connected = ::connect(fd, reinterpret_cast<sockaddr*>(&in), sizeof in);
  const char* failed = "[SDK TRACE]-EventServer Exception: Accept";
  const bool seen = sdktest::wait_until([&] { return trace.count_starting(failed) >= 1; }, 10000);
  // A short window from the first failure: spinning fails thousands of times in it, pausing
  // a handful.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &old), 0);
  ASSERT_EQ(connected, 0);
  ASSERT_TRUE(seen);
  EXPECT_LE(trace.count_starting(failed), 10);
  ASSERT_TRUE(sdktest::wait_until([&] { return s.server.OpenConnections() == 1; }, 5000));
  ::close(fd);
}

}  // namespace
