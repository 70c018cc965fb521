// A TCP socket that one thread may close while others are blocked on it, for the SDK's
// blocking sockets. close() shuts the socket down at once, which wakes a thread blocked in
// accept, recv or send (connect notices within 20 ms), but the descriptor number is released
// only when the last call using it has returned, so no thread ever goes on with a number the
// kernel has meanwhile given to another socket.
//
// Failures come back as -1 with a WinSock-numbered cause in net_last_wsa_error(): a receive
// or send that ran into its SO_RCVTIMEO / SO_SNDTIMEO is 10060, a call on no socket 10038,
// a call ended by close() 10004. Every send uses MSG_NOSIGNAL. Any thread may call anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

// setsockopt level and name of the receive buffer size, for set_option.
extern const int NET_SOL_SOCKET;
extern const int NET_SO_RCVBUF;
extern const int NET_SO_REUSEADDR;

// WinSock number of an errno value (EINTR 10004 ... EHOSTUNREACH 10065); others unchanged.
int net_wsa_from_errno(int e);
// The last failure of a NetSharedSocket call on this thread, WinSock-numbered.
int net_last_wsa_error();

// A wake-up another thread can give to a NetSharedSocket::wait_readable under way (an eventfd).
// signal() from any thread; a signal given while nobody waits ends the next wait at once.
class NetWaker {
 public:
  NetWaker();
  ~NetWaker();
  NetWaker(const NetWaker&) = delete;
  NetWaker& operator=(const NetWaker&) = delete;
  void signal();
  int fd() const { return m_fd; }  // -1 when it could not be made: waits are then not woken

 private:
  int m_fd;
};

class NetSharedSocket {
 public:
  NetSharedSocket() = default;
  ~NetSharedSocket() { close(); }
  NetSharedSocket(const NetSharedSocket&) = delete;
  NetSharedSocket& operator=(const NetSharedSocket&) = delete;

  // A new blocking TCP socket in place of any held one: 0, or -1.
  int create();
  bool is_open() const;
  // The descriptor, or -1 (for diagnostics and tests only).
  int handle() const;
  // The locally bound port (host order), or 0.
  uint16_t local_port() const;

  int bind_ipv4(uint32_t addr_be, uint16_t port);
  int listen(int backlog);
  // 1: a connection, now held by `into`, with the peer's address; 0: ended by close() (no
  // error); -1: failure.
  int accept(NetSharedSocket& into, uint32_t* peer_addr_be, uint16_t* peer_port);
  // Connects within `timeout_ms` (10060 past it); the socket stays blocking. 0 or -1.
  int connect(uint32_t addr_be, uint16_t port, int timeout_ms);
  // One send / recv: bytes moved, 0 from recv when the peer closed, or -1.
  long send(const void* data, size_t len);
  long recv(void* buf, size_t len);
  // Waits up to `timeout_ms` until a recv would not block: 1 readable (data, end of stream or
  // an error waiting to be read, or the socket closed), 0 time out, 2 `waker` signalled (the
  // signal is consumed), -1 no socket.
  int wait_readable(int timeout_ms, NetWaker* waker);
  // SO_RCVTIMEO (receive) or SO_SNDTIMEO in milliseconds (0: no limit): 0 or -1.
  int set_timeout(bool receive, int ms);
  // Raw setsockopt: its result (0 or -1).
  int set_option(int level, int name, const void* value, int size);
  // Shuts down and releases the socket (see above). Safe when there is none.
  void close();

 private:
  struct Holder;
  std::shared_ptr<Holder> take() const;
  mutable std::mutex m_lock;
  std::shared_ptr<Holder> m_holder;
};
