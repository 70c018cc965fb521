#include "platform/net/shared_socket.h"

#include "platform/net/net.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {
thread_local int t_wsa_error = 0;

int fail(int wsa) {
  t_wsa_error = wsa;
  return -1;
}
int fail_errno() { return fail(net_wsa_from_errno(errno)); }

constexpr int WSA_EINTR = 10004;
constexpr int WSA_ENOTSOCK = 10038;
constexpr int WSA_ETIMEDOUT = 10060;
}  // namespace

const int NET_SOL_SOCKET = SOL_SOCKET;
const int NET_SO_RCVBUF = SO_RCVBUF;
const int NET_SO_REUSEADDR = SO_REUSEADDR;

int net_wsa_from_errno(int e) {
  switch (e) {
    case EINTR: return 10004;
    case EACCES:
    case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE:
    case ENFILE: return 10024;
    case EAGAIN: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK:
    case EBADF: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    case ECONNRESET: return 10054;
    case ENOBUFS:
    case ENOMEM: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case EPIPE:
    case ESHUTDOWN: return 10058;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    default: return e;
  }
}

int net_last_wsa_error() { return t_wsa_error; }

// The descriptor lives as long as any call holds its holder; close() only shuts it down.
struct NetSharedSocket::Holder {
  explicit Holder(int f) : fd(f) {}
  ~Holder() { ::close(fd); }
  const int fd;
  std::atomic<bool> closed{false};
};

std::shared_ptr<NetSharedSocket::Holder> NetSharedSocket::take() const {
  std::lock_guard<std::mutex> lk(m_lock);
  return m_holder;
}

int NetSharedSocket::create() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return fail_errno();
  close();
  std::lock_guard<std::mutex> lk(m_lock);
  m_holder = std::make_shared<Holder>(fd);
  return 0;
}

bool NetSharedSocket::is_open() const { return take() != nullptr; }

int NetSharedSocket::handle() const {
  auto h = take();
  return h ? h->fd : -1;
}

uint16_t NetSharedSocket::local_port() const {
  auto h = take();
  if (!h) return 0;
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (::getsockname(h->fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

int NetSharedSocket::bind_ipv4(uint32_t addr_be, uint16_t port) {
  auto h = take();
  if (!h) return fail(WSA_ENOTSOCK);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = addr_be;
  if (::bind(h->fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return fail_errno();
  return 0;
}

int NetSharedSocket::listen(int backlog) {
  auto h = take();
  if (!h) return fail(WSA_ENOTSOCK);
  if (::listen(h->fd, backlog) != 0) return fail_errno();
  return 0;
}

int NetSharedSocket::accept(NetSharedSocket& into, uint32_t* peer_addr_be, uint16_t* peer_port) {
  auto h = take();
  if (!h) return fail(WSA_ENOTSOCK);
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  int fd;
  do {
    fd = ::accept4(h->fd, reinterpret_cast<sockaddr*>(&sa), &len, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR && !h->closed);
  if (fd < 0) {
    // A listening socket shut down by close() fails its waiting accept with EINVAL.
    if (h->closed) {
      t_wsa_error = WSA_EINTR;
      return 0;
    }
    return fail_errno();
  }
  if (h->closed) {
    ::close(fd);
    t_wsa_error = WSA_EINTR;
    return 0;
  }
  into.close();
  {
    std::lock_guard<std::mutex> lk(into.m_lock);
    into.m_holder = std::make_shared<Holder>(fd);
  }
  if (peer_addr_be) *peer_addr_be = sa.sin_addr.s_addr;
  if (peer_port) *peer_port = ntohs(sa.sin_port);
  return 1;
}

int NetSharedSocket::connect(uint32_t addr_be, uint16_t port, int timeout_ms) {
  auto h = take();
  if (!h) return fail(WSA_ENOTSOCK);
  const int fl = ::fcntl(h->fd, F_GETFL, 0);
  if (fl < 0 || ::fcntl(h->fd, F_SETFL, fl | O_NONBLOCK) != 0) return fail_errno();
  auto restore = [&] { ::fcntl(h->fd, F_SETFL, fl & ~O_NONBLOCK); };
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = addr_be;
  if (::connect(h->fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
    restore();
    return 0;
  }
  if (errno != EINPROGRESS && errno != EINTR) {
    int e = errno;
    restore();
    return fail(net_wsa_from_errno(e));
  }
  const uint64_t start = net_now_ms();
  for (;;) {
    if (h->closed) return fail(WSA_EINTR);
    pollfd p{h->fd, POLLOUT, 0};
    int r = ::poll(&p, 1, 20);
    if (r < 0 && errno != EINTR) {
      int e = errno;
      restore();
      return fail(net_wsa_from_errno(e));
    }
    if (r > 0) {
      if (h->closed) return fail(WSA_EINTR);
      int err = 0;
      socklen_t len = sizeof err;
      ::getsockopt(h->fd, SOL_SOCKET, SO_ERROR, &err, &len);
      restore();
      if (err == 0) return 0;
      return fail(net_wsa_from_errno(err));
    }
    if (timeout_ms >= 0 && net_now_ms() - start >= uint64_t(timeout_ms)) {
      restore();
      return fail(WSA_ETIMEDOUT);
    }
  }
}

long NetSharedSocket::send(const void* data, size_t len) {
  auto h = take();
  if (!h) return fail(WSA_ENOTSOCK);
  ssize_t n;
  do { n = ::send(h->fd, data, len, MSG_NOSIGNAL); } while (n < 0 && errno == EINTR && !h->closed);
  if (n < 0) return fail(errno == EAGAIN ? WSA_ETIMEDOUT : net_wsa_from_errno(errno));
  return static_cast<long>(n);
}

long NetSharedSocket::recv(void* buf, size_t len) {
  auto h = take();
  if (!h) return fail(WSA_ENOTSOCK);
  ssize_t n;
  do { n = ::recv(h->fd, buf, len, 0); } while (n < 0 && errno == EINTR && !h->closed);
  if (n < 0) return fail(errno == EAGAIN ? WSA_ETIMEDOUT : net_wsa_from_errno(errno));
  return static_cast<long>(n);
}

int NetSharedSocket::wait_readable(int timeout_ms, NetWaker* waker) {
  auto h = take();
  if (!h) return fail(WSA_ENOTSOCK);
  pollfd p[2] = {{h->fd, POLLIN, 0}, {waker ? waker->fd() : -1, POLLIN, 0}};
  const uint64_t end = net_now_ms() + uint64_t(timeout_ms > 0 ? timeout_ms : 0);
  for (;;) {
    if (h->closed) return 1;  // the recv that follows reports the close
    const uint64_t now = net_now_ms();
    const int left = now >= end ? 0 : int(end - now);
    const int r = ::poll(p, 2, left);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return fail_errno();
    if (r == 0) return 0;
    if (p[1].revents & POLLIN) {
      uint64_t n;
      (void)!::read(p[1].fd, &n, sizeof n);
      return 2;
    }
    return 1;
  }
}

NetWaker::NetWaker() : m_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

NetWaker::~NetWaker() {
  if (m_fd >= 0) ::close(m_fd);
}

void NetWaker::signal() {
  if (m_fd < 0) return;
  const uint64_t one = 1;
  (void)!::write(m_fd, &one, sizeof one);
}

int NetSharedSocket::set_timeout(bool receive, int ms) {
  auto h = take();
  if (!h) return fail(WSA_ENOTSOCK);
  timeval tv{};
  if (ms > 0) {
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
  }
  if (::setsockopt(h->fd, SOL_SOCKET, receive ? SO_RCVTIMEO : SO_SNDTIMEO, &tv, sizeof tv) != 0)
    return fail_errno();
  return 0;
}

int NetSharedSocket::set_option(int level, int name, const void* value, int size) {
  auto h = take();
  if (!h) return fail(WSA_ENOTSOCK);
  if (::setsockopt(h->fd, level, name, value, socklen_t(size)) != 0) return fail_errno();
  return 0;
}

void NetSharedSocket::close() {
  std::shared_ptr<Holder> h;
  {
    std::lock_guard<std::mutex> lk(m_lock);
    h.swap(m_holder);
  }
  if (!h) return;
  h->closed = true;
  ::shutdown(h->fd, SHUT_RDWR);
}
