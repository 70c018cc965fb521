#include "platform/net/local_dgram.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Full socket path of channel `name`: 0, or -1 when it does not fit sockaddr_un.
int channel_path(const char* name, sockaddr_un* sa) {
  char dir[sizeof(sa->sun_path)];
  if (!name || !*name || local_dgram_dir(dir, sizeof dir) != 0) return -1;
  std::memset(sa, 0, sizeof *sa);
  sa->sun_family = AF_UNIX;
  int n = std::snprintf(sa->sun_path, sizeof sa->sun_path, "%s/%s", dir, name);
  return (n < 0 || size_t(n) >= sizeof sa->sun_path) ? -1 : 0;
}

// A channel is held when a datagram socket is bound to its path; a stale file refuses.
bool channel_is_live(const sockaddr_un& sa) {
  int probe = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (probe < 0) return true;  // cannot tell: do not steal it
  bool live = ::connect(probe, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
  ::close(probe);
  return live;
}

}  // namespace

int local_dgram_dir(char* out, size_t cap) {
  const char* env = std::getenv("VIGILO_MAILSLOT_DIR");
  int n;
  if (env && *env) {
    n = std::snprintf(out, cap, "%s", env);
  } else if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg) {
    n = std::snprintf(out, cap, "%s/vigilo", xdg);
  } else {
    n = std::snprintf(out, cap, "/tmp/vigilo-%u", unsigned(::getuid()));
  }
  if (n < 0 || size_t(n) >= cap) return -1;
  if (::mkdir(out, 0700) != 0 && errno != EEXIST) return -1;
  struct stat st {};
  if (::lstat(out, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return -1;
  if ((st.st_mode & 077) != 0 && ::chmod(out, 0700) != 0) return -1;
  return 0;
}

int local_dgram_create(const char* name) {
  sockaddr_un sa{};
  if (channel_path(name, &sa) != 0) return -1;
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return fd;
  if (errno != EADDRINUSE) {
    ::close(fd);
    return -1;
  }
  if (channel_is_live(sa)) {
    ::close(fd);
    return -2;
  }
  ::unlink(sa.sun_path);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return fd;
  ::close(fd);
  return -1;
}

long local_dgram_read(int fd, void* buf, size_t cap) {
  if (fd < 0) return -1;
  ssize_t n = ::recv(fd, buf, cap, MSG_TRUNC | MSG_DONTWAIT);
  if (n < 0) return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
  return static_cast<long>(n);
}

int local_dgram_wait(int fd, int timeout_ms) {
  if (fd < 0) return -1;
  pollfd p{fd, POLLIN, 0};
  for (;;) {
    int r = ::poll(&p, 1, timeout_ms);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || (p.revents & (POLLERR | POLLNVAL))) return -1;
    return r > 0 ? 1 : 0;
  }
}

void local_dgram_close(int& fd, const char* name) {
  if (fd < 0) return;
  sockaddr_un sa{};
  if (channel_path(name, &sa) == 0) ::unlink(sa.sun_path);
  ::close(fd);
  fd = -1;
}

int local_dgram_send(const char* name, const void* buf, size_t len, int wait_ms) {
  sockaddr_un sa{};
  if (channel_path(name, &sa) != 0) return 1;
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    ::close(fd);
    return 1;
  }
  ssize_t n = ::send(fd, buf, len, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && wait_ms > 0) {
    // A connected datagram socket polls writable once the reader's queue has room.
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, wait_ms) > 0) n = ::send(fd, buf, len, MSG_NOSIGNAL | MSG_DONTWAIT);
  }
  const bool full = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  ::close(fd);
  if (n == ssize_t(len)) return 0;
  return full ? 3 : 2;
}
