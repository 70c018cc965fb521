#include "tool/kpt4100/client/dvrsetup_client.h"

#include <iconv.h>
#include <langinfo.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "client/foundation/config/setup_config.h"
#include "client/links/nc_packets.h"
#include "platform/net/net.h"
#include "platform/sync/thread_name.h"
#include "tool/kpt4100/eeprom_file.h"

namespace {

std::atomic<int> client_socket{NET_NO_SOCKET};
std::atomic<bool> stopping{false};
std::atomic<bool> fetched{false};
uint8_t dvr_info_store[120];

int env_timeout() {
  const char* v = getenv("VIGILO_DVRSETUP_TIMEOUT_MS");
  const int ms = v ? atoi(v) : 0;
  return ms > 0 ? ms : 8000;
}
std::atomic<int> step_timeout_ms{env_timeout()};
std::atomic<int> start_delay_ms{1000};
std::atomic<int (*)(const char*, uint32_t*)> resolver{net_resolve_ipv4};

struct Deadline {
  uint64_t end;
  explicit Deadline(int ms) : end(net_now_ms() + uint64_t(ms)) {}
  int left() const {
    const uint64_t now = net_now_ms();
    return now >= end ? 0 : int(end - now);
  }
};

// Waits in short slices so that a stop request ends the wait soon.
bool wait_ready(int fd, bool write, const Deadline& d) {
  for (;;) {
    if (stopping.load()) return false;
    const int left = d.left();
    if (left == 0) return false;
    bool r = false, w = false;
    const int rc = net_poll(fd, !write, write, left < 50 ? left : 50, &r, &w);
    if (rc < 0) return false;
    if (rc > 0) return true;
  }
}

bool send_all(int fd, const uint8_t* p, size_t n) {
  Deadline d(step_timeout_ms.load());
  while (n > 0) {
    const long k = net_send(fd, p, n);
    if (k > 0) {
      p += k;
      n -= size_t(k);
      continue;
    }
    if (k < 0 && net_last_error() != NET_WOULDBLOCK && net_last_error() != EINTR) return false;
    if (!wait_ready(fd, true, d)) return false;
  }
  return true;
}

bool recv_all(int fd, uint8_t* p, size_t n) {
  Deadline d(step_timeout_ms.load());
  while (n > 0) {
    const long k = net_recv(fd, p, n);
    if (k > 0) {
      p += k;
      n -= size_t(k);
      continue;
    }
    if (k == 0) return false;  // the DVR closed
    if (net_last_error() != NET_WOULDBLOCK && net_last_error() != EINTR) return false;
    if (!wait_ready(fd, false, d)) return false;
  }
  return true;
}

// Reads a reply header; false when none came whole.
bool recv_header(int fd, NC_PACKET_HEADER* h) {
  uint8_t raw[NC_HEADER_SIZE];
  if (!recv_all(fd, raw, sizeof raw)) return false;
  *h = decode_nc_header(raw);
  return true;
}

// Reads a reply's body by its length: the first `cap` bytes into out (the rest of out
// zeroed), the others read and dropped. False when it is longer than any reply of the
// exchange or does not come whole: the stream is then out of step.
bool recv_body(int fd, uint32_t len, uint8_t* out, size_t cap) {
  if (len > uint32_t(DVRSETUP_RECV_BUFFER)) return false;
  if (cap) memset(out, 0, cap);
  const size_t kept = len < cap ? len : cap;
  if (!recv_all(fd, out, kept)) return false;
  uint8_t scratch[4096];
  for (size_t rest = len - kept; rest > 0;) {
    const size_t n = rest < sizeof scratch ? rest : sizeof scratch;
    if (!recv_all(fd, scratch, n)) return false;
    rest -= n;
  }
  return true;
}

bool send_request(int fd, uint8_t type, uint8_t mode, const uint8_t* body, uint32_t len) {
  std::unique_ptr<uint8_t[]> p(new uint8_t[NC_HEADER_SIZE + len]);
  NC_PACKET_HEADER h;
  h.cmd_type = type;
  h.cmd_mode = mode;
  h.packet_size = len;
  encode_nc_header(h, p.get());
  if (len) memcpy(p.get() + NC_HEADER_SIZE, body, len);
  return send_all(fd, p.get(), NC_HEADER_SIZE + len);
}

// Resolves `host` within the step's time-out. getaddrinfo has no time-out of its own and
// cannot be interrupted, so it runs on a thread of its own: a stop (Close) or the time-out
// ends the wait at once and the look-up finishes alone, its answer dropped. 0 with the
// address, or -1.
int resolve_bounded(const char* host, uint32_t* addr) {
  struct Lookup {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    int rc = -1;
    uint32_t addr = 0;
  };
  auto l = std::make_shared<Lookup>();
  try {
    std::thread([l, name = std::string(host), resolve = resolver.load()] {
      set_current_thread_name("host lookup");
      uint32_t a = 0;
      const int rc = resolve(name.c_str(), &a);
      std::lock_guard<std::mutex> g(l->m);
      l->rc = rc;
      l->addr = a;
      l->done = true;
      l->cv.notify_all();
    }).detach();
  } catch (const std::system_error&) { return -1; }
  const Deadline d(step_timeout_ms.load());
  std::unique_lock<std::mutex> lock(l->m);
  // Short slices: a stop only sets a flag.
  while (!l->done && !stopping.load() && d.left() > 0)
    l->cv.wait_for(lock, std::chrono::milliseconds(std::min(d.left(), 50)));
  if (!l->done || l->rc != 0) return -1;
  *addr = l->addr;
  return 0;
}

// The DVR's name in the locale's code page, as the command line carries it.
std::string to_locale(const char* utf8) {
  const char* codeset = nl_langinfo(CODESET);
  if (!codeset || !strcmp(codeset, "UTF-8")) return utf8;
  iconv_t cd = iconv_open(codeset, "UTF-8");
  if (cd == iconv_t(-1)) return utf8;
  std::string out(strlen(utf8) * 4 + 4, '\0');
  char* in = const_cast<char*>(utf8);
  size_t in_left = strlen(utf8), out_left = out.size();
  char* o = out.data();
  const size_t rc = iconv(cd, &in, &in_left, &o, &out_left);
  iconv_close(cd);
  if (rc == size_t(-1)) return utf8;
  out.resize(out.size() - out_left);
  return out;
}

struct Target {
  char address[129] = "";
  uint16_t port = 0;
  int host_type = 0;  // 1 IP, 2 NAME, 3 DDNS
};

Target find_target_dvr(const char* dvr_name) {
  Target t;
  if (load_setup_info("setup.cfg") < 0) printf("load_setup_info() failed.\n");
  auto lock = setup_read_lock();
  const RC_DVR_INFO* table = get_dvr_table();
  const int n = get_num_dvr();
  for (int i = 0; i < n && table && dvr_name; ++i) {
    if (to_locale(table[i].name) != dvr_name) continue;
    // The last entry of that name wins.
    snprintf(t.address, sizeof t.address, "%s", table[i].ipaddress);
    t.port = table[i].port[DVR_PORT_CONNECTION];
    const char* type = table[i].host_type;
    t.host_type = !strcmp(type, "IP")     ? 1
                  : !strcmp(type, "NAME") ? 2
                  : !strcmp(type, "DDNS") ? 3
                                          : 0;
  }
  return t;
}

int login(const char* dvr_name, const char* user, const char* password) {
  const Target t = find_target_dvr(dvr_name);
  close_dvr_socket();
  int fd = net_tcp_socket();
  if (fd < 0) {
    printf("[%s:%d] ERROR Opening Socket\n", ".\\kpt4100\\client", 171);
    return -5;
  }
  client_socket.store(fd);
  uint32_t addr = 0;
  switch (t.host_type) {
    case 1:
      if (net_parse_ipv4(t.address, &addr) != 0) addr = 0xFFFFFFFFu;  // connects nowhere
      break;
    case 2:
      if (resolve_bounded(t.address, &addr) != 0) return -4;
      break;
    case 3: return 3;
    default: return 2;
  }
  if (net_connect(fd, addr, t.port, step_timeout_ms.load(), [] { return stopping.load(); }) != 0) {
    printf("Error on connecting on port %d\n", t.port);
    return -3;
  }
  // The password is masked: standard output may end up in a log.
  printf("User:\t%s\nPass:\t%s\nType:\t%d\n", user ? user : "", "********", 0);
  printf("initialize sending\n");
  printf("sending..\n");
  uint8_t body[20];
  nc_login_body(user, password, body);
  NC_PACKET_HEADER h;
  uint8_t reply[84];
  // Accepted only from a login reply with a nonzero first byte: an error reply (238) ahead
  // of a refusal is a refusal.
  const bool ok = send_request(fd, 0x02, 0x01, body, sizeof body) && recv_header(fd, &h) &&
                  h.cmd_type == 0x02 && h.packet_size >= 1 &&
                  recv_body(fd, h.packet_size, reply, sizeof reply) && reply[0] != 0;
  fflush(stdout);
  if (!ok) {
    printf("login() failed.\n");
    return 0;
  }
  printf("login() ok!\n");
  return 1;
}

int fetch_settings(int fd) {
  NC_PACKET_HEADER h;
  if (!send_request(fd, 0xA0, 0x10, nullptr, 0)) return 0;
  if (!recv_header(fd, &h)) {
    close_dvr_socket();  // a late reply would put the next exchange out of step
    return 0;
  }
  if (h.cmd_type != 0xA1) {
    if (!recv_body(fd, h.packet_size, nullptr, 0)) close_dvr_socket();
    return 0;
  }
  if (h.packet_size > uint32_t(DVRSETUP_RECV_BUFFER)) {
    // Nothing after this header can be trusted to start a packet.
    close_dvr_socket();
    return 0;
  }
  std::unique_ptr<uint8_t[]> buf(new uint8_t[DVRSETUP_RECV_BUFFER]());
  if (!recv_all(fd, buf.get(), h.packet_size)) {
    close_dvr_socket();
    return 0;
  }
  printf("PACKET_SIZE = %d \n", int(h.packet_size));
  // An image shorter than size, record and CRC cannot be whole: the old file stays.
  if (h.packet_size < uint32_t(EEPROM_FILE_SIZE)) return 0;
  // Stored, a damaged record would take the place of a good file and end the next read.
  if (!eeprom_image_valid(buf.get(), h.packet_size)) {
    printf("The settings received fail their CRC check: %s is kept.\n", kEepromFile);
    return DVRSETUP_BAD_CRC;
  }
  if (write_whole_file(kEepromFile, buf.get(), DVRSETUP_RECV_BUFFER) != 0) return 0;
  fetched.store(true);
  return 1;
}

int send_settings(int fd) {
  struct stat st;
  if (stat(kEepromFile, &st) != 0) {
    printf("File does not exist");
    return -1;
  }
  FILE* f = fopen(kEepromFile, "rb");
  if (!f) {
    printf("fopen() failed.\n");
    return -2;
  }
  std::unique_ptr<uint8_t[]> file(new uint8_t[DVRSETUP_FILE_BUFFER]());
  const size_t n = fread(file.get(), 1, DVRSETUP_FILE_BUFFER, f);
  fclose(f);
  if (fd < 0) return 0;
  // Exactly the bytes read, announced as such.
  return send_request(fd, 0xA1, 0x10, file.get(), uint32_t(n)) ? 1 : 0;
}

// 1 once the DVR answered (an answer of another command keeps the store as it was); 0 when
// the request did not go out or no whole answer came, the connection then being dropped.
int fetch_info(int fd) {
  NC_PACKET_HEADER h;
  if (!send_request(fd, 0xA9, 0x80, nullptr, 0) || !recv_header(fd, &h)) {
    close_dvr_socket();
    return 0;
  }
  if (h.cmd_type == 0xAA ? !recv_body(fd, h.packet_size, dvr_info_store, sizeof dvr_info_store)
                         : !recv_body(fd, h.packet_size, nullptr, 0)) {
    close_dvr_socket();
    return 0;
  }
  return 1;
}

}  // namespace

int dvrsetup_client(const char* dvr_name, const char* user, const char* password, int mode) {
  for (Deadline d(start_delay_ms.load()); d.left() > 0 && !stopping.load();)
    std::this_thread::sleep_for(std::chrono::milliseconds(d.left() < 20 ? d.left() : 20));
  if (mode == DVRSETUP_LOGIN) return login(dvr_name, user, password);
  if (mode == DVRSETUP_SEND) return send_settings(client_socket.load());
  const int fd = client_socket.load();
  if (fd < 0) return 0;
  if (mode == DVRSETUP_FETCH) return fetch_settings(fd);
  if (mode == DVRSETUP_INFO) return fetch_info(fd);
  return 0;
}

int close_dvr_socket() {
  int fd = client_socket.exchange(NET_NO_SOCKET);
  net_close(fd);
  return 0;
}

void dvrsetup_client_stop() {
  stopping.store(true);
  net_shutdown(client_socket.load());
}

bool dvrsetup_fetched() { return fetched.load(); }

const uint8_t* dvrsetup_dvr_info() { return dvr_info_store; }

void dvrsetup_set_timeouts(int step_ms, int delay_ms) {
  step_timeout_ms.store(step_ms);
  start_delay_ms.store(delay_ms);
}

void dvrsetup_set_resolver(int (*resolve)(const char* host, uint32_t* addr_be)) {
  resolver.store(resolve ? resolve : net_resolve_ipv4);
}

void dvrsetup_client_reset() {
  close_dvr_socket();
  stopping.store(false);
  fetched.store(false);
}
