#include "client/links/ddns.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "client/foundation/config/utils.h"
#include "client/foundation/sock_io.h"
#include "platform/net/net.h"
#include "platform/wire/byte_reader.h"

namespace {
std::mutex g_ddns_lock;
bool g_ddns_loaded = false;    // the environment was read, or set_ddns_server named one
char g_ddns_address[64] = "";  // empty: no DDNS server
uint16_t g_ddns_port = 0;
std::atomic<int> g_connect_ms{5000};
std::atomic<int> g_reply_ms{15000};

// Caller holds g_ddns_lock. No default: whoever answered on a made-up address would learn
// the names of the DDNS-type DVRs, send the client wherever it likes and get their logins.
void load_default_server() {
  if (g_ddns_loaded) return;
  g_ddns_loaded = true;
  g_ddns_address[0] = '\0';
  g_ddns_port = DDNS_DEFAULT_PORT;
  const char* env = std::getenv("VIGILO_DDNS_SERVER");
  if (!env || !*env) return;
  std::string s(env);
  size_t colon = s.find(':');
  std::snprintf(g_ddns_address, sizeof g_ddns_address, "%s", s.substr(0, colon).c_str());
  if (colon != std::string::npos) {
    long p = std::strtol(s.c_str() + colon + 1, nullptr, 10);
    if (p > 0 && p < 65536) g_ddns_port = uint16_t(p);
  }
}

bool stopping() { return receivers_stop.load() != 0 || app_quit.load() != 0; }

}  // namespace

void set_ddns_server(const char* address, uint16_t port) {
  std::lock_guard<std::mutex> g(g_ddns_lock);
  g_ddns_loaded = address != nullptr;
  std::snprintf(g_ddns_address, sizeof g_ddns_address, "%s", address ? address : "");
  g_ddns_port = port;
}

const char* ddns_server_address() {
  std::lock_guard<std::mutex> g(g_ddns_lock);
  load_default_server();
  return g_ddns_address;
}

uint16_t ddns_server_port() {
  std::lock_guard<std::mutex> g(g_ddns_lock);
  load_default_server();
  return g_ddns_port;
}

void set_ddns_timeouts(int connect_ms, int reply_ms) {
  g_connect_ms.store(connect_ms);
  g_reply_ms.store(reply_ms);
}

void ddns_build_request(const char* name, uint8_t out[DDNS_REQUEST_SIZE]) {
  std::memset(out, 0, DDNS_REQUEST_SIZE);
  put_le32(out, DDNS_MAGIC);
  if (name) std::memcpy(out + 4, name, strnlen(name, 17));
}

int ddns_parse_reply(const uint8_t* r, size_t len, uint32_t* addr_be, uint16_t* port) {
  if (!r || len < DDNS_REPLY_MIN) return -1;
  CByteReader in(r, len);
  if (in.U32LE() != DDNS_MAGIC) return -1;
  in.Bytes(addr_be, 4);
  *port = in.U16BE();
  return 0;
}

int connectToDDNS(const char* address, uint16_t port) {
  std::printf("connectToDDNS\r\n");
  if (!address || !*address) {
    std::printf("No DDNS server is named (VIGILO_DDNS_SERVER): DDNS look-ups fail.\n");
    return -1;
  }
  int s = net_tcp_socket();
  if (s < 0) return -1;
  std::printf("DDns IP = %s Port = %d\r\n", address, port);
  uint32_t addr = 0;
  if (net_parse_ipv4(address, &addr) != 0 && net_resolve_ipv4(address, &addr) != 0) {
    net_close(s);
    return -1;
  }
  int r = net_connect(s, addr, port, g_connect_ms.load(), stopping);
  if (r != 0) {
    net_close(s);
    return -1;
  }
  std::printf("connectToDDNS Success\r\n");
  return s;
}

int loginDDNS(int sock, const char* name, char* out, size_t cap) {
  auto fail = [&]() {
    std::printf("DDns LOGIN ERROR\n\r");
    net_close(sock);
    return -1;
  };
  if (sock < 0) return fail();
  uint8_t req[DDNS_REQUEST_SIZE];
  ddns_build_request(name, req);
  std::atomic<int> status{0};
  if (send_timeout(sock, req, int(sizeof req), 10, &status) < 0) {
    std::printf("DDns Login Request Send Fail\r\n");
    return fail();
  }
  std::printf("DDns Login Request\r\n");
  const uint64_t start = net_now_ms();
  static thread_local uint8_t reply[32768];
  for (;;) {
    if (stopping()) return fail();
    bool rd = false;
    int r = net_poll(sock, true, false, 100, &rd, nullptr);
    if (r < 0) {
      std::printf("select error\r\n");
      return fail();
    }
    if (r == 0 || !rd) {
      if (net_now_ms() - start > uint64_t(g_reply_ms.load())) {
        std::printf("NO RESPONSE\r\n");
        return fail();
      }
      continue;
    }
    std::printf("ISSET\r\n");
    long n = net_recv(sock, reply, sizeof reply);
    uint32_t addr = 0;
    uint16_t port = 0;
    if (n <= 0 || ddns_parse_reply(reply, size_t(n), &addr, &port) != 0) return fail();
    char dotted[32];
    net_format_ipv4(addr, dotted, sizeof dotted);
    std::printf("DDns Connection OK\r\n");
    std::printf("DVR IP = %s  PORT = %d\r\n", dotted, port);
    std::printf("DDns Login Ok\r\n");
    if (out && cap) std::snprintf(out, cap, "%s", dotted);
    net_close(sock);
    return 0;
  }
}
