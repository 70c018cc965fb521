// Socket steps the simulated DVRs share: taking a client from a listening socket, joining
// the session threads at stop, and reading what a client sends last before its session ends.
// Called from the peers' accept, session and stopping threads; failures are plain returns.
#pragma once

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace peer_io {

// A client of `listen_fd` (non-blocking, no Nagle delay) when one arrives within 50 ms, else -1,
// so an accept loop sees its stop flag often.
inline int accept_client(int listen_fd) {
  pollfd pf{listen_fd, POLLIN, 0};
  if (::poll(&pf, 1, 50) <= 0) return -1;
  const int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return -1;
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

// Joins every thread of `threads`, taken out under `lock` (the accept loops add to it).
inline void join_all(std::mutex& lock, std::vector<std::thread>& threads) {
  std::vector<std::thread> taken;
  {
    std::lock_guard<std::mutex> g(lock);
    taken.swap(threads);
  }
  for (auto& t : taken)
    if (t.joinable()) t.join();
}

// Appends to `in` what the client still sends within about half a second (its closing
// packet), stopping at its close.
inline void read_tail(int fd, std::vector<uint8_t>& in) {
  uint8_t buf[4096];
  for (int i = 0; i < 50; ++i) {
    pollfd pf{fd, POLLIN, 0};
    if (::poll(&pf, 1, 10) <= 0) continue;
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    in.insert(in.end(), buf, buf + n);
  }
}

}  // namespace peer_io
