// CBlockingSocket on loopback: the failure texts threads choose their status by, and Close
// from another thread releasing blocked calls.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "platform/net/net.h"
#include "sdk/Blocksock.h"
#include "tests/sdk/sdk_test_util.h"

namespace {

using Clock = std::chrono::steady_clock;

CSockAddr loopback(uint16_t port) {
  CSockAddr sa;
  CBlockingSocket::ResolveHost("127.0.0.1", port, &sa);
  return sa;
}

// A listening socket on a free loopback port.
struct Listener {
  CBlockingSocket s;
  uint16_t port = 0;
  Listener() {
    s.Create();
    s.Bind(loopback(0));
    s.Listen();
    port = s.GetLocalPort();
  }
};

std::string message_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const CBlockingSocketException& e) { return e.GetErrorMessage(); }
  return "(no exception)";
}

TEST(BlockingSocketException, MessageForms) {
  struct Case {
    const char* op;
    int error;
    const char* text;
  } cases[] = {
      {"Receive", 0, "Receive error"},
      {"Send", 12345, "Send, Unknown socket error : #12345"},
      {"TimeOut", 10060, "TimeOut, WSAETIMEDOUT : Connection timed out."},
      {"GetHostByName", 11001, "GetHostByName, WSAHOST_NOT_FOUND : Host not found."},
      {"Accept", 10004, "Accept, WSAEINTR : Interrupted function call."},
  };
  for (const Case& c : cases) {
    const CBlockingSocketException e(c.op, c.error);
    EXPECT_EQ(e.GetErrorMessage(), c.text);
    char small[8];
    e.GetErrorMessage(small, sizeof small);
    EXPECT_EQ(std::string(small), std::string(c.text).substr(0, 7));
  }
}

TEST(BlockingSocket, FailuresCarryTheirWinSockTexts) {
  // A refused connect.
  uint16_t closed_port;
  {
    Listener l;
    closed_port = l.port;
  }
  CBlockingSocket c;
  c.Create();
  EXPECT_EQ(message_of([&] { c.Connect(loopback(closed_port)); }),
            "Connect, WSAECONNREFUSED : Connection refused");

  // A receive that outlives its time-out, then the peer closing during a Read.
  Listener l;
  CBlockingSocket a, b;
  a.Create();
  a.Connect(loopback(l.port));
  ASSERT_TRUE(l.s.Accept(b, nullptr));
  a.SetReceiveTimeOut(100);
  char buf[16];
  EXPECT_EQ(message_of([&] { a.Read(buf, 4); }), "TimeOut, WSAETIMEDOUT : Connection timed out.");
  b.Write("ab", 2);
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    b.Close();
  });
  a.SetReceiveTimeOut(5000);
  EXPECT_EQ(message_of([&] { a.Read(buf, 4); }), "Connection gracefully closed error");
  closer.join();

  // Sending to a vanished peer fails with an exception, never a signal.
  const std::string sent = message_of([&] {
    std::vector<char> chunk(65536, 'x');
    for (int i = 0; i < 200; ++i) a.Write(chunk.data(), int(chunk.size()));
  });
  EXPECT_TRUE(sent.rfind("Send, ", 0) == 0) << sent;
}

// Waits until thread `tid` sleeps in the kernel: the blocked call has been entered (a close
// before that would be a call on no socket, not a release).
bool sleeping(const std::atomic<pid_t>& tid) {
  return sdktest::wait_until(
      [&] {
        if (tid == 0) return false;
        std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
        std::string line;
        std::getline(stat, line);
        const size_t paren = line.rfind(')');
        return paren != std::string::npos && paren + 2 < line.size() && line[paren + 2] == 'S';
      },
      5000);
}

TEST(BlockingSocket, CloseFromAnotherThreadReleasesBlockedCalls) {
  const int fds_before = sdktest::open_descriptors();
  {
    Listener l;
    std::atomic<int> accepted{-1};
    std::atomic<pid_t> tid{0};
    CBlockingSocket peer;
    std::thread t([&] {
      tid = ::gettid();
      accepted = l.s.Accept(peer, nullptr) ? 1 : 0;
    });
    ASSERT_TRUE(sleeping(tid));
    auto t0 = Clock::now();
    l.s.Close();
    t.join();
    // Neither blocked call has a time-out of its own: returning at all is the release.
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
    EXPECT_EQ(accepted.load(), 0);
    EXPECT_FALSE(peer.IsOpen());

    Listener l2;
    CBlockingSocket a, b;
    a.Create();
    a.Connect(loopback(l2.port));
    ASSERT_TRUE(l2.s.Accept(b, nullptr));
    std::string failure;
    tid = 0;
    std::thread r([&] {
      tid = ::gettid();
      failure = message_of([&] {
        char c;
        a.ReceiveAll(&c, 1);
      });
    });
    ASSERT_TRUE(sleeping(tid));
    t0 = Clock::now();
    a.Close();
    r.join();
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(5));
    EXPECT_NE(failure, "(no exception)");
    EXPECT_FALSE(a.IsOpen());
  }
  EXPECT_EQ(sdktest::open_descriptors(), fds_before);
}

TEST(BlockingSocket, ResolveHostTakesDottedTextsAsGiven) {
  CSockAddr sa;
  CBlockingSocket::ResolveHost("127.0.0.1", 7000, &sa);
  EXPECT_EQ(sa.port, 7000);
  uint32_t lo;
  net_parse_ipv4("127.0.0.1", &lo);
  EXPECT_EQ(sa.addr_be, lo);
  CBlockingSocket::ResolveHost("localhost", 1, &sa);
  EXPECT_EQ(sa.addr_be, lo);
  // A number before the first '.' makes it an address text: a bad one fails, never becoming
  // the broadcast address.
  EXPECT_EQ(message_of([&] { CBlockingSocket::ResolveHost("1abc.example", 1, &sa); }),
            "Connect, WSAEADDRNOTAVAIL : Cannot assign requested address");
  EXPECT_EQ(message_of([&] { CBlockingSocket::ResolveHost("no-such-host.invalid", 1, &sa); }),
            "GetHostByName, WSAHOST_NOT_FOUND : Host not found.");
}

}  // namespace
