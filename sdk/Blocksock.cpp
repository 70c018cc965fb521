#include "sdk/Blocksock.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/net/net.h"

namespace {
std::atomic<bool> g_bWinSockStarted{false};

constexpr int WSAESOCKTNOSUPPORT = 10044;
constexpr int WSAEADDRNOTAVAIL = 10049;
constexpr int WSAENOTSOCK = 10038;
constexpr int WSAETIMEDOUT = 10060;
constexpr int WSAHOST_NOT_FOUND = 11001;

struct ErrorText {
  int number;
  const char* text;
};

constexpr ErrorText kErrorTexts[] = {
    {10004, "WSAEINTR : Interrupted function call."},
    {10013, "WSAEACCES : Permission denied"},
    {10014, "WSAEFAULT : Bad address"},
    {10022, "WSAEINVAL : Invalid argument."},
    {10024, "WSAEMFILE : Too many open sockets."},
    {10035, "WSAEWOULDBLOCK : Resource temporarily unavailable."},
    {10036, "WSAEINPROGRESS : Operation now in progress"},
    {10037, "WSAEALREADY : Operation already in progress"},
    {10038, "WSAENOTSOCK : Socket operation on non-socket."},
    {10039, "WSAEDESTADDRREQ : Destination address required"},
    {10040, "WSAEMSGSIZE : Message too long."},
    {10041, "WSAEPROTOTYPE : Protocol wrong type for socket."},
    {10042, "WSAENOPROTOOPT : Bad protocol option."},
    {10043, "WSAEPROTONOSUPPORT : Protocol not supported."},
    {10044, "WSAESOCKTNOSUPPORT : Socket type not supported."},
    {10045, "WSAEOPNOTSUPP : Operation not supported."},
    {10046, "WSAEPFNOSUPPORT : Protocol family not supported."},
    {10047, "WSAEAFNOSUPPORT : Address family not supported by protocol family"},
    {10048, "WSAEADDRINUSE : Address already in use"},
    {10049, "WSAEADDRNOTAVAIL : Cannot assign requested address"},
    {10050, "WSAENETDOWN : Network is down."},
    {10051, "WSAENETUNREACH : Network is unreachable."},
    {10052, "WSAENETRESET : Network dropped connection on reset."},
    {10053, "WSAECONNABORTED : Software caused connection abort"},
    {10054, "WSAECONNRESET : Connection reset by peer"},
    {10055, "WSAENOBUFS : No buffer space available."},
    {10056, "WSAEISCONN : Socket is already connected."},
    {10057, "WSAENOTCONN : Socket is not connected."},
    {10058, "WSAESHUTDOWN : Cannot send after socket shutdown."},
    {10060, "WSAETIMEDOUT : Connection timed out."},
    {10061, "WSAECONNREFUSED : Connection refused"},
    {10064, "WSAEHOSTDOWN : Host is down"},
    {10065, "WSAEHOSTUNREACH : No route to host"},
    {10067, "WSAEPROCLIM : Too many processes."},
    {10091, "WSASYSNOTREADY : Network subsystem is unavailable."},
    {10092, "WSAVERNOTSUPPORTED : WINSOCK.DLL version out of range."},
    {10093, "WSANOTINITIALISED : Successful WSAStartup not yet performed."},
    {10101, "WSAEDISCON : Graceful shutdown in progress."},
    {11001, "WSAHOST_NOT_FOUND : Host not found."},
};
}  // namespace

CBlockingSocketException::CBlockingSocketException(const char* operation)
    : m_strOperation(operation), m_nError(net_last_wsa_error()) {}

CBlockingSocketException::CBlockingSocketException(const char* operation, int error)
    : m_strOperation(operation), m_nError(error) {}

std::string CBlockingSocketException::GetWSAErrorText(int error) {
  for (const ErrorText& e : kErrorTexts)
    if (e.number == error) return e.text;
  char buf[48];
  std::snprintf(buf, sizeof buf, "Unknown socket error : #%d", error);
  return buf;
}

std::string CBlockingSocketException::GetErrorMessage() const {
  if (m_nError == 0) return m_strOperation + " error";
  return m_strOperation + ", " + GetWSAErrorText(m_nError);
}

int CBlockingSocketException::GetErrorMessage(char* text, unsigned size) const {
  if (!text || size == 0) return 1;
  std::snprintf(text, size, "%s", GetErrorMessage().c_str());
  return 1;
}

int InitWinSock() {
  g_bWinSockStarted = true;
  return 1;
}

void CleanupWinSock() { g_bWinSockStarted = false; }

bool WinSockStarted() { return g_bWinSockStarted; }

void CBlockingSocket::Create(int nType, int nProtocol) {
  if (nType != 1 || (nProtocol != 0 && nProtocol != 6))
    throw CBlockingSocketException("Create", WSAESOCKTNOSUPPORT);
  if (m_hSocket.create() != 0) throw CBlockingSocketException("Create");
}

void CBlockingSocket::Bind(const CSockAddr& sa) {
  if (m_hSocket.bind_ipv4(sa.addr_be, sa.port) != 0) throw CBlockingSocketException("Bind");
}

void CBlockingSocket::Listen() {
  if (m_hSocket.listen(0x7FFFFFFF) != 0) throw CBlockingSocketException("Listen");
}

bool CBlockingSocket::Accept(CBlockingSocket& s, CSockAddr* peer) {
  uint32_t addr = 0;
  uint16_t port = 0;
  const int r = m_hSocket.accept(s.m_hSocket, &addr, &port);
  if (r < 0) throw CBlockingSocketException("Accept");
  if (r == 0) return false;
  if (peer) {
    peer->addr_be = addr;
    peer->port = port;
  }
  return true;
}

void CBlockingSocket::Connect(const CSockAddr& sa, int timeout_ms) {
  if (m_hSocket.connect(sa.addr_be, sa.port, timeout_ms) != 0)
    throw CBlockingSocketException("Connect");
}

void CBlockingSocket::Close() { m_hSocket.close(); }

void CBlockingSocket::Cleanup() { m_hSocket.close(); }

int CBlockingSocket::Send(const void* data, int n) {
  if (!m_hSocket.is_open()) throw CBlockingSocketException("Send, Invalid socket", WSAENOTSOCK);
  if (n <= 0) return 0;
  const long sent = m_hSocket.send(data, size_t(n));
  if (sent < 0) {
    const int err = net_last_wsa_error();
    throw CBlockingSocketException(err == WSAETIMEDOUT ? "TimeOut" : "Send", err);
  }
  return int(sent);
}

int CBlockingSocket::Write(const void* data, int n) {
  const auto* p = static_cast<const uint8_t*>(data);
  int done = 0;
  while (done < n) done += Send(p + done, n - done);
  return done;
}

int CBlockingSocket::ReceiveAll(void* buffer, int n) {
  if (n <= 0) return 0;
  const long got = m_hSocket.recv(buffer, size_t(n));
  if (got < 0) {
    const int err = net_last_wsa_error();
    throw CBlockingSocketException(err == WSAETIMEDOUT ? "TimeOut" : "Receive", err);
  }
  if (got == 0) throw CBlockingSocketException("Connection gracefully closed", 0);
  return int(got);
}

int CBlockingSocket::WaitReadable(int timeout_ms, NetWaker* waker) {
  const int r = m_hSocket.wait_readable(timeout_ms, waker);
  if (r < 0) throw CBlockingSocketException("Receive", net_last_wsa_error());
  return r;
}

int CBlockingSocket::Read(void* buffer, int n) {
  auto* p = static_cast<uint8_t*>(buffer);
  int done = 0;
  while (done < n && m_hSocket.is_open()) done += ReceiveAll(p + done, n - done);
  return done;
}

void CBlockingSocket::SetReceiveTimeOut(int ms) {
  if (m_hSocket.set_timeout(true, ms) != 0) throw CBlockingSocketException("SetReceiveTimeOut");
}

void CBlockingSocket::SetSendTimeOut(int ms) {
  if (m_hSocket.set_timeout(false, ms) != 0) throw CBlockingSocketException("SetReceiveTimeOut");
}

int CBlockingSocket::SetOption(int level, int name, const void* value, int size) {
  return m_hSocket.set_option(level, name, value, size);
}

void CBlockingSocket::GetHostByName(const char* name, uint16_t port, CSockAddr* out) {
  uint32_t addr = 0;
  if (net_resolve_ipv4(name, &addr) != 0)
    throw CBlockingSocketException("GetHostByName", WSAHOST_NOT_FOUND);
  out->addr_be = addr;
  out->port = port;
}

void CBlockingSocket::ResolveHost(const char* host, uint16_t port, CSockAddr* out) {
  if (!host) throw CBlockingSocketException("GetHostByName", WSAHOST_NOT_FOUND);
  if (std::atoi(host) != 0) {
    uint32_t addr = 0;
    if (net_parse_ipv4(host, &addr) != 0)
      throw CBlockingSocketException("Connect", WSAEADDRNOTAVAIL);
    out->addr_be = addr;
    out->port = port;
    return;
  }
  GetHostByName(host, port, out);
}
