#include "platform/net/net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {
thread_local int t_last_error = 0;

int map_errno(int e) {
  if (e == EAGAIN || e == EWOULDBLOCK) return NET_WOULDBLOCK;
  if (e == EINPROGRESS) return NET_INPROGRESS;
  return e;
}
}  // namespace

uint64_t net_now_ms() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
}

int net_tcp_socket() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    t_last_error = map_errno(errno);
    return NET_NO_SOCKET;
  }
  return fd;
}

void net_close(int& fd) {
  if (fd < 0) return;
  ::shutdown(fd, SHUT_RDWR);
  ::close(fd);
  fd = NET_NO_SOCKET;
}

void net_shutdown(int fd) {
  if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

int net_set_nonblocking(int fd, bool on) {
  int fl = ::fcntl(fd, F_GETFL, 0);
  if (fl < 0) return -1;
  fl = on ? (fl | O_NONBLOCK) : (fl & ~O_NONBLOCK);
  return ::fcntl(fd, F_SETFL, fl) == 0 ? 0 : -1;
}

long net_send(int fd, const void* buf, size_t len) {
  ssize_t n = ::send(fd, buf, len, MSG_NOSIGNAL);
  if (n < 0)
    t_last_error = map_errno(errno);
  else
    t_last_error = 0;
  return static_cast<long>(n);
}

long net_recv(int fd, void* buf, size_t len) {
  ssize_t n = ::recv(fd, buf, len, 0);
  if (n < 0)
    t_last_error = map_errno(errno);
  else
    t_last_error = 0;
  return static_cast<long>(n);
}

int net_last_error() { return t_last_error; }

int net_socket_error(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return -1;
  return map_errno(err);
}

int net_poll(int fd, bool want_read, bool want_write, int timeout_ms, bool* readable,
             bool* writable) {
  pollfd p{};
  p.fd = fd;
  p.events = static_cast<short>((want_read ? POLLIN : 0) | (want_write ? POLLOUT : 0));
  int r;
  do { r = ::poll(&p, 1, timeout_ms); } while (r < 0 && errno == EINTR);
  if (readable) *readable = r > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR));
  if (writable) *writable = r > 0 && (p.revents & (POLLOUT | POLLERR));
  if (r < 0) {
    t_last_error = map_errno(errno);
    return -1;
  }
  return r > 0 ? 1 : 0;
}

int net_parse_ipv4(const char* text, uint32_t* addr_be) {
  in_addr a{};
  if (!text || ::inet_pton(AF_INET, text, &a) != 1) return -1;
  *addr_be = a.s_addr;
  return 0;
}

int net_resolve_ipv4(const char* host, uint32_t* addr_be) {
  if (!host || !*host) return -1;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (::getaddrinfo(host, nullptr, &hints, &res) != 0 || !res) return -1;
  *addr_be = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(res);
  return 0;
}

void net_format_ipv4(uint32_t addr_be, char* out, size_t cap) {
  if (!out || cap == 0) return;
  in_addr a{};
  a.s_addr = addr_be;
  char tmp[INET_ADDRSTRLEN] = {0};
  ::inet_ntop(AF_INET, &a, tmp, sizeof tmp);
  std::snprintf(out, cap, "%s", tmp);
}

int net_connect(int fd, uint32_t addr_be, uint16_t port, int timeout_ms,
                const std::function<bool()>& should_stop) {
  if (net_set_nonblocking(fd, true) != 0) return -1;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = addr_be;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return 0;
  if (errno != EINPROGRESS && errno != EINTR) {
    t_last_error = map_errno(errno);
    return -1;
  }
  const uint64_t start = net_now_ms();
  for (;;) {
    if (should_stop && should_stop()) return -3;
    bool wr = false;
    int r = net_poll(fd, false, true, 50, nullptr, &wr);
    if (r < 0) return -1;
    if (r > 0 && wr) {
      int err = net_socket_error(fd);
      if (err == 0) return 0;
      t_last_error = err;
      return -1;
    }
    if (net_now_ms() - start >= uint64_t(timeout_ms)) return -2;
  }
}

int net_listen_loopback(uint16_t port, uint16_t* bound_port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 16) != 0) {
    ::close(fd);
    return -1;
  }
  if (bound_port) {
    socklen_t len = sizeof sa;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    *bound_port = ntohs(sa.sin_port);
  }
  return fd;
}

int net_accept(int listen_fd, int timeout_ms) {
  bool rd = false;
  if (net_poll(listen_fd, true, false, timeout_ms, &rd, nullptr) <= 0 || !rd) return -1;
  int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
  return fd < 0 ? -1 : fd;
}

int net_listen_on(int fd, uint32_t addr_be, uint16_t port, int backlog) {
  int one = 1;
  if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) {
    t_last_error = map_errno(errno);
    return -1;
  }
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = addr_be;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    t_last_error = map_errno(errno);
    return -2;
  }
  if (::listen(fd, backlog) != 0) {
    t_last_error = map_errno(errno);
    return -3;
  }
  return 0;
}

int net_accept_wait(int listen_fd, int timeout_ms) {
  bool rd = false;
  int r = net_poll(listen_fd, true, false, timeout_ms, &rd, nullptr);
  if (r < 0) return -2;
  if (r == 0 || !rd) return -1;
  int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) {
    t_last_error = map_errno(errno);
    return -2;
  }
  return fd;
}

bool net_send_all(int fd, const uint8_t* p, size_t n, const std::atomic<bool>& stop) {
  while (n > 0) {
    const ssize_t k = ::send(fd, p, n, MSG_NOSIGNAL);
    if (k > 0) {
      p += k;
      n -= size_t(k);
      continue;
    }
    if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      if (stop.load()) return false;
      pollfd pf{fd, POLLOUT, 0};
      ::poll(&pf, 1, 20);
      continue;
    }
    return false;
  }
  return true;
}
