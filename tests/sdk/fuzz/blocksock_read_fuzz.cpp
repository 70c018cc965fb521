// libFuzzer target: CBlockingSocket's reads on a loopback connection whose peer sends the
// input's bytes and closes. The first byte gives the number of reads, each of the next ones a
// read (Read or ReceiveAll, and its size); the rest is what the peer sends. Every read must
// return no more than asked, the bytes as sent and in order, and end with the peer's close.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "sdk/Blocksock.h"

namespace {
int g_listener = -1;
uint16_t g_port = 0;

bool Listen() {
  g_listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(g_listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(g_listener, 16) != 0 ||
      ::getsockname(g_listener, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    return false;
  g_port = ntohs(a.sin_port);
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool listening = Listen();
  if (!listening || size < 1) return 0;
  const size_t reads = std::min<size_t>(data[0] % 32, size - 1);
  const uint8_t* plan = data + 1;
  const uint8_t* sent = plan + reads;
  const size_t n = size - 1 - reads;

  CBlockingSocket s;
  s.Create();
  CSockAddr sa;
  CBlockingSocket::ResolveHost("127.0.0.1", g_port, &sa);
  s.Connect(sa);
  const int peer = ::accept(g_listener, nullptr, nullptr);
  if (peer < 0) return 0;
  // Everything fits the loopback buffers, so the peer has sent all and closed before the
  // first read: no read waits.
  for (size_t off = 0; off < n;) {
    const ssize_t w = ::send(peer, sent + off, n - off, MSG_NOSIGNAL);
    if (w <= 0) break;
    off += size_t(w);
  }
  ::close(peer);
  s.SetReceiveTimeOut(1000);

  std::vector<uint8_t> buf(4096);
  size_t got_all = 0;
  bool closed = false;
  for (size_t i = 0; i < reads && !closed; ++i) {
    const int want = int(plan[i] >> 1) * 32 - 64;  // -64 .. 4000: none, few and many bytes
    try {
      const int got = plan[i] & 1 ? s.Read(buf.data(), want) : s.ReceiveAll(buf.data(), want);
      if (got < 0 || got > (want > 0 ? want : 0)) __builtin_trap();
      if (got_all + size_t(got) > n || std::memcmp(buf.data(), sent + got_all, size_t(got)) != 0)
        __builtin_trap();
      got_all += size_t(got);
    } catch (const CBlockingSocketException& e) {
      // Only the close ends a read here, and only once everything sent has been read.
      if (e.GetErrorMessage() != "Connection gracefully closed error" || got_all > n)
        __builtin_trap();
      closed = true;
    }
  }
  s.Close();
  return 0;
}
