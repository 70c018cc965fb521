// Socket steps the simulated DVRs share: taking clients on a listening socket, reading and
// sending in a session, pacing its frames, cutting sessions off, joining the session threads
// at stop, reading what a client sends last before its session ends, and the DVRs' clock.
// Called from the peers' accept, session and stopping threads; failures are plain returns.
#pragma once

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/net/net.h"

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

// Closes a client at once with a reset, as a DVR whose service is down answers.
inline void reset_client(int fd) {
  const linger hard{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  ::close(fd);
}

// Takes clients of `listen_fd` until `stop`: each gets a new S (its `fd` set), listed in
// `sessions` and run as `run(session)` on a thread added to `threads`, both under `lock`;
// `accepted`, when given, counts them. While `*offline` (when given) holds, each client is
// reset instead, neither listed nor counted.
template <class S, class Run>
void accept_loop(int listen_fd, const std::atomic<bool>& stop, std::mutex& lock,
                 std::vector<std::shared_ptr<S>>& sessions, std::vector<std::thread>& threads,
                 std::atomic<int>* accepted, Run run, const std::atomic<bool>* offline = nullptr) {
  while (!stop.load()) {
    const int fd = accept_client(listen_fd);
    if (fd < 0) continue;
    // Under `lock`, as cut_all() is: a peer going down (flag set, then every session cut)
    // either sees this session listed or this loop sees the flag.
    std::lock_guard<std::mutex> g(lock);
    if (offline && offline->load()) {
      reset_client(fd);
      continue;
    }
    auto s = std::make_shared<S>();
    s->fd = fd;
    if (accepted) accepted->fetch_add(1);
    sessions.push_back(s);
    threads.emplace_back([run, s] { run(s); });
  }
}

// Closes a listening socket of a stopped peer and marks it closed (-1); safe to repeat.
inline void close_listener(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Ends a session's link: marks it `closed` and shuts the socket down both ways, so its
// thread and the client both see the end. The thread still closes `fd`.
inline void cut(int fd, std::atomic<bool>& closed) {
  closed.store(true);
  ::shutdown(fd, SHUT_RDWR);
}

// Closes a session's socket once its thread is done with it, marked `closed` first so that
// cut_all() leaves the number alone.
inline void close_session(int fd, std::atomic<bool>& closed) {
  closed.store(true);
  ::close(fd);
}

// Cuts every session of `sessions` (S with `fd` and `closed`) not cut yet, under `lock`; a
// session already closed keeps its number, which may belong to a new socket by now.
template <class S>
void cut_all(std::mutex& lock, const std::vector<std::shared_ptr<S>>& sessions) {
  std::lock_guard<std::mutex> g(lock);
  for (auto& s : sessions)
    if (!s->closed.exchange(true)) ::shutdown(s->fd, SHUT_RDWR);
}

// Sends all of `p` unless the session is closed: true, adding its size to `sent`; false
// after cutting the session when the send fails or `stop` is set.
inline bool send_counted(int fd, std::atomic<bool>& closed, const std::vector<uint8_t>& p,
                         const std::atomic<bool>& stop, std::atomic<long long>& sent) {
  if (closed.load() || !net_send_all(fd, p.data(), p.size(), stop)) {
    cut(fd, closed);
    return false;
  }
  sent.fetch_add(static_cast<long long>(p.size()));
  return true;
}

// Waits up to `wait_ms` for the client's bytes and appends what one read brings to `in`:
// false when the client closed or the socket failed, true otherwise (nothing read included).
inline bool read_some(int fd, int wait_ms, std::vector<uint8_t>& in) {
  pollfd pf{fd, POLLIN, 0};
  if (::poll(&pf, 1, wait_ms) <= 0) return true;
  uint8_t buf[4096];
  const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return false;
  if (n > 0) in.insert(in.end(), buf, buf + n);
  return true;
}

// True when the frame round due at `next_tick` may go; else sleeps 1 to 5 ms towards it (so
// the session still reads its client often) and returns false.
inline bool round_due(std::chrono::steady_clock::time_point next_tick) {
  const auto now = std::chrono::steady_clock::now();
  if (now >= next_tick) return true;
  const auto rest = std::chrono::duration_cast<std::chrono::milliseconds>(next_tick - now).count();
  std::this_thread::sleep_for(std::chrono::milliseconds(rest > 5 ? 5 : (rest < 1 ? 1 : rest)));
  return false;
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

// The DVR's wall clock, ms since 1970: local time counted as UTC, as DVRs stamp their frames,
// calendars and events.
inline int64_t wall_clock_ms() {
  const int64_t now_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
  const time_t now = time_t(now_ms / 1000);
  std::tm local{};
  localtime_r(&now, &local);
  return now_ms + int64_t(local.tm_gmtoff) * 1000;
}

}  // namespace peer_io
