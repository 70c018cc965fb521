// POSIX TCP sockets in the shape the client's links use: -1 is "no socket", error codes come
// back WinSock-numbered where the callers test them (10035 would-block, 10036 in progress),
// every send uses MSG_NOSIGNAL so a DVR that closes never kills the process, and closing
// shuts the socket down first so a thread blocked on it wakes. Any thread may call these;
// a socket itself must not be closed by one thread while another still uses it (callers
// hold their own send lock for that). All waits use the monotonic clock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

constexpr int NET_NO_SOCKET = -1;
constexpr int NET_WOULDBLOCK = 10035;  // WSAEWOULDBLOCK
constexpr int NET_INPROGRESS = 10036;  // WSAEINPROGRESS

// Milliseconds of the monotonic clock; never jumps with the wall clock.
uint64_t net_now_ms();

// A new TCP socket (blocking), or -1 with the cause in net_last_error().
int net_tcp_socket();
// Shuts down both directions, closes and sets `fd` to -1. Safe on -1.
void net_close(int& fd);
// Shuts down both directions but keeps the descriptor, so the thread reading it sees the
// link end and closes it itself. Safe on -1.
void net_shutdown(int fd);
// 0, or -1 when the mode cannot be set.
int net_set_nonblocking(int fd, bool on);
// One send() with MSG_NOSIGNAL: bytes sent (may be short), or -1 (see net_last_error()).
long net_send(int fd, const void* buf, size_t len);
// One recv(): bytes read, 0 when the peer closed, -1 on error or nothing ready.
long net_recv(int fd, void* buf, size_t len);
// The last failure of this thread: NET_WOULDBLOCK for EAGAIN, NET_INPROGRESS for
// EINPROGRESS, otherwise errno.
int net_last_error();
// The pending error of a socket (SO_ERROR) in the same numbering; -1 when it cannot be read.
int net_socket_error(int fd);
// Waits up to `timeout_ms` for the socket: 1 ready (flags set), 0 timed out, -1 failure.
int net_poll(int fd, bool want_read, bool want_write, int timeout_ms, bool* readable,
             bool* writable);

// Parses a dotted IPv4 address into network order: 0, or -1 when it is not one.
int net_parse_ipv4(const char* text, uint32_t* addr_be);
// Resolves a host name (getaddrinfo, thread-safe) to its first IPv4 address: 0 or -1.
int net_resolve_ipv4(const char* host, uint32_t* addr_be);
// Writes the dotted form of `addr_be` into out[cap] (always terminated).
void net_format_ipv4(uint32_t addr_be, char* out, size_t cap);

// Connects `fd` (left non-blocking on return) to addr:port without ever blocking: polls in
// 50 ms slices until connected (0), refused/failed (-1), `timeout_ms` passed (-2) or
// `should_stop` says so (-3). `should_stop` may be empty.
int net_connect(int fd, uint32_t addr_be, uint16_t port, int timeout_ms,
                const std::function<bool()>& should_stop);

// Listens on 127.0.0.1:port (0 picks a free port): the socket, or -1. The bound port goes
// to *bound_port when given. For the simulated peers and tests.
int net_listen_loopback(uint16_t port, uint16_t* bound_port);
// Accepts one connection within `timeout_ms`: the socket (blocking), or -1.
int net_accept(int listen_fd, int timeout_ms);

// Sets SO_REUSEADDR on `fd`, binds it to addr:port and listens with `backlog`. Returns 0, or
// the step that failed with its cause in net_last_error(): -1 the option, -2 bind, -3 listen.
int net_listen_on(int fd, uint32_t addr_be, uint16_t port, int backlog);
// Waits up to `timeout_ms` for a connection and accepts it (blocking, close-on-exec):
// the socket; -1 when none came in time; -2 when accept failed, the cause (errno
// numbering: EINTR, ECONNABORTED, EMFILE, EINVAL once the socket was shut down...) in
// net_last_error().
int net_accept_wait(int listen_fd, int timeout_ms);

// Sends all n bytes on a socket that may be non-blocking, waiting in 20 ms polls while its
// buffer is full: true once everything went out; false on a send error or, while waiting,
// once `stop` is set. For peers and tests that serve one client per thread.
bool net_send_all(int fd, const uint8_t* p, size_t n, const std::atomic<bool>& stop);
