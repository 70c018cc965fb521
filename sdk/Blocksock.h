// CBlockingSocket: one TCP stream socket for the SDK's worker threads. Every call blocks,
// bounded by the socket's time-outs (a connect by its own limit), and every failure throws a
// CBlockingSocketException by value carrying the operation's name and the WinSock error
// number. Close may be called from any thread: it ends a blocked Accept (which then returns
// false with no exception), Connect, ReceiveAll or Send on another thread at once.
// InitWinSock/CleanupWinSock keep the library's started flag.
#pragma once

#include <cstdint>
#include <string>

#include "platform/net/shared_socket.h"

// An IPv4 socket address: address in network order, port in host order.
struct CSockAddr {
  uint32_t addr_be = 0;
  uint16_t port = 0;
};

class CBlockingSocketException {
 public:
  // Takes the error number of the calling thread's last failed socket call.
  explicit CBlockingSocketException(const char* operation);
  CBlockingSocketException(const char* operation, int error);

  // "%s, %s" (operation, error text), or "%s error" when the error number is 0, cut to
  // size - 1 bytes and terminated. Returns 1.
  int GetErrorMessage(char* text, unsigned size) const;
  std::string GetErrorMessage() const;
  int GetErrorNumber() const { return m_nError; }
  // The text of a WinSock error number; "Unknown socket error : #%d" for others.
  static std::string GetWSAErrorText(int error);

 private:
  std::string m_strOperation;
  int m_nError;
};

// Starts the socket layer for the library: sets the started flag; cannot fail. Returns 1.
int InitWinSock();
// Clears the started flag when it is set.
void CleanupWinSock();
// The started flag.
bool WinSockStarted();

class CBlockingSocket {
 public:
  // The connect limit where the owner sets none.
  static constexpr int kDefaultConnectTimeOut = 4000;

  CBlockingSocket() = default;
  CBlockingSocket(const CBlockingSocket&) = delete;
  CBlockingSocket& operator=(const CBlockingSocket&) = delete;

  void Create(int nType = 1, int nProtocol = 0);
  void Bind(const CSockAddr& sa);
  void Listen();
  // true: a connection now held by `s`; false: the wait was ended by Close (s stays empty).
  bool Accept(CBlockingSocket& s, CSockAddr* peer);
  // Connects within `timeout_ms`; past it the failure is 10060.
  void Connect(const CSockAddr& sa, int timeout_ms = kDefaultConnectTimeOut);
  void Close();
  // As Close; never throws.
  void Cleanup();
  int Send(const void* data, int n);
  int Write(const void* data, int n);
  int ReceiveAll(void* buffer, int n);
  // Waits up to `timeout_ms` for something to receive: 1 a ReceiveAll would not block (it may
  // then report the end of the stream or a failure), 0 the time passed, 2 `waker` signalled.
  // Throws "Receive" when there is no socket.
  int WaitReadable(int timeout_ms, NetWaker* waker);
  // Repeats ReceiveAll until n bytes arrived; fewer only when the socket was closed meanwhile.
  int Read(void* buffer, int n);
  void SetReceiveTimeOut(int ms);
  void SetSendTimeOut(int ms);
  int SetOption(int level, int name, const void* value, int size);

  // The first IPv4 address of `name` with `port`; "GetHostByName" 11001 when none.
  static void GetHostByName(const char* name, uint16_t port, CSockAddr* out);
  // How the SDK reaches a DVR: when the text before the first '.' reads as a nonzero number
  // the text must be a dotted IPv4 address (else "Connect" 10049, never 255.255.255.255);
  // otherwise the name is looked up.
  static void ResolveHost(const char* host, uint16_t port, CSockAddr* out);

  bool IsOpen() const { return m_hSocket.is_open(); }
  int GetHandle() const { return m_hSocket.handle(); }
  uint16_t GetLocalPort() const { return m_hSocket.local_port(); }

 private:
  NetSharedSocket m_hSocket;
};
