// The link's network side: message bytes, the secret and its key file, the master's
// listening socket, accept and the pool of connections owing their hello, the slaves' slots,
// sockets and readers, the senders, and the slave thread's connection to its master. What
// the messages do to the window is in master_link_commands.cpp.
#include "client/screens/master_link.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "client/foundation/app_state.h"
#include "client/foundation/channel_table.h"
#include "client/foundation/config/app_options.h"
#include "client/foundation/config/setup_lookup.h"
#include "client/foundation/config/system_log.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/sdl_lock.h"
#include "client/foundation/sock_io.h"
#include "client/foundation/user_events.h"
#include "client/links/connection.h"
#include "client/links/link_notices.h"
#include "client/screens/layouts.h"
#include "client/screens/master_link_internal.h"
#include "client/screens/skin.h"
#include "client/screens/tiles.h"
#include "client/screens/widget_text.h"
#include "platform/net/local_dgram.h"
#include "platform/net/net.h"
#include "platform/sync/thread_name.h"
#include "platform/system/file_replace.h"
#include "platform/sync/test_clock.h"
#include "platform/wire/byte_reader.h"

namespace {

constexpr uint32_t kSilenceMs = 50000;   // a slave silent this long is dropped
constexpr uint32_t kKeepAliveMs = 5000;  // a slave speaks at least this often
constexpr int kSendTimeoutMs = 2000;     // a peer that takes no data this long is dropped
constexpr int kSliceMs = 100;            // waits re-test the quit flag this often
constexpr int kHelloSliceMs = 10;        // the master's wait while connections owe a hello

// ---------------------------------------------------------------- message bytes

// ---------------------------------------------------------------- clock and waits

uint32_t monotonic_ms() { return static_cast<uint32_t>(net_now_ms()); }
uint32_t link_now_ms() {
  uint32_t (*c)() = test_clock_now(TEST_CLOCK_LINK);
  return c ? c() : monotonic_ms();
}

// Sleeps `ms` in slices; returns early once `stop` says so.
template <typename Stop>
void pause_ms(int ms, Stop stop) {
  for (int waited = 0; waited < ms && !stop(); waited += kSliceMs) SDL_Delay(kSliceMs);
}

// Sends all of buf[len] on a non-blocking socket within kSendTimeoutMs: 0, or -1.
int send_all(int fd, const uint8_t* buf, size_t len) {
  const uint64_t start = net_now_ms();
  size_t sent = 0;
  while (sent < len) {
    long n = net_send(fd, buf + sent, len - sent);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && net_last_error() != NET_WOULDBLOCK && net_last_error() != EINTR) return -1;
    const uint64_t used = net_now_ms() - start;
    if (used >= uint64_t(kSendTimeoutMs)) return -1;
    bool writable = false;
    if (net_poll(fd, false, true, int(kSendTimeoutMs - used), nullptr, &writable) < 0) return -1;
  }
  return 0;
}

// Gathers exactly one message (a peer may deliver it in parts) from a non-blocking socket:
// 0, or -1 when the peer closed, the read failed or `stop` said so.
template <typename Stop>
int recv_message(int fd, uint8_t* buf, Stop stop) {
  size_t got = 0;
  while (got < COMM_MESSAGE_SIZE) {
    if (stop()) return -1;
    bool readable = false;
    int r = net_poll(fd, true, false, kSliceMs, &readable, nullptr);
    if (r < 0) return -1;
    if (r == 0 || !readable) continue;
    long n = net_recv(fd, buf + got, COMM_MESSAGE_SIZE - got);
    if (n == 0) return -1;
    if (n < 0) {
      if (net_last_error() == NET_WOULDBLOCK || net_last_error() == EINTR) continue;
      return -1;
    }
    got += static_cast<size_t>(n);
  }
  return 0;
}

bool has_tag(const uint8_t* buf) { return get_be16(buf) == COMM_TAG; }

// A message of one command with its words; everything else 0.
void build(uint8_t* out, int command, const char* msg = nullptr,
           std::initializer_list<std::pair<int, int32_t>> values = {}) {
  COMM_FIELDS m{};
  m.command = static_cast<uint16_t>(command);
  if (msg) snprintf(m.msg, sizeof m.msg, "%s", msg);
  for (const auto& [i, v] : values) m.value[i] = v;
  write_comm_message(m, out);
}

// Hands a message to the window loop as user event 24, carrying its own copy.
void post_to_loop(const uint8_t* buf) { post_link_notice(UE_LINK_COMMAND, buf, COMM_MESSAGE_SIZE); }

// ---------------------------------------------------------------- the link secret

struct SecretState {
  std::mutex lock;
  std::string from_env;  // VIGILO_LINK_SECRET, "" when unset or refused
  std::string random;    // made once, for a master without VIGILO_LINK_SECRET
};
SecretState g_secret;

// link-<port>.key in the per-user directory: "" when that directory is not private to us.
std::string key_path(uint16_t port) {
  char dir[512];
  if (local_dgram_dir(dir, sizeof dir) != 0) return "";
  return std::string(dir) + "/link-" + std::to_string(port) + ".key";
}

// The secret a master demands: VIGILO_LINK_SECRET, else 256 random bits as hex digits.
// "" only when the system has no random source.
std::string master_secret() {
  std::lock_guard<std::mutex> g(g_secret.lock);
  if (!g_secret.from_env.empty()) return g_secret.from_env;
  if (g_secret.random.empty()) {
    try {
      std::random_device rd;
      static const char kHex[] = "0123456789abcdef";
      for (int i = 0; i < 8; ++i)
        for (uint32_t w = rd(), k = 0; k < 8; ++k, w >>= 4) g_secret.random += kHex[w & 15];
    } catch (const std::exception&) { g_secret.random.clear(); }
  }
  return g_secret.random;
}

// The first message of a connection admits it when it is COMM_HELLO carrying exactly
// `secret`; the whole field is compared, whatever differs first, so the time taken tells
// nothing about the secret.
bool admits(const uint8_t* buf, const std::string& secret) {
  if (secret.empty() || !has_tag(buf) || get_le16(buf + 8) != COMM_HELLO) return false;
  uint8_t want[134] = {};
  memcpy(want, secret.data(), std::min(secret.size(), LINK_SECRET_MAX));
  uint8_t diff = 0;
  for (size_t k = 0; k < sizeof want; ++k) diff |= uint8_t(buf[10 + k] ^ want[k]);
  return diff == 0;
}

// COMM_ADD_CHANNEL messages of one slave on their way to the window loop: one post per
// LINK_POST_GAP_MS at most; what comes in between waits here, merged per DVR name, so a
// slave that floods the link cannot fill the loop's queue. Reader thread only.
class AddChannelGate {
 public:
  explicit AddChannelGate(int slave) : slave_(slave) {}

  void take(const uint8_t* buf) {
    COMM_FIELDS m;
    if (read_comm_message(buf, &m) != 0) return;
    merge(m.msg, static_cast<uint32_t>(m.value[8]), static_cast<uint32_t>(m.value[9]));
    flush_if_due();
  }
  void flush_if_due() {
    if (count_ > 0 && (!posted_ || net_now_ms() - last_post_ >= uint64_t(LINK_POST_GAP_MS)))
      flush();
  }
  // Posts everything waiting, in the order the names first came (value[13] is 0).
  void flush() {
    for (int k = 0; k < count_; ++k) {
      uint8_t out[COMM_MESSAGE_SIZE];
      build(out, COMM_ADD_CHANNEL, waiting_[k].name,
            {{8, static_cast<int32_t>(waiting_[k].video)},
             {9, static_cast<int32_t>(waiting_[k].audio)}});
      post_to_loop(out);
    }
    if (count_ > 0) {
      posted_ = true;
      last_post_ = net_now_ms();
    }
    count_ = 0;
    if (dropped_ > 0)
      printf("Channels of %d more DVR names from slave %d dropped: at most %d wait at a time.\n",
             dropped_, slave_, LINK_PENDING_NAMES);
    dropped_ = 0;
  }

 private:
  struct Waiting {
    char name[134];
    uint32_t video, audio;
  };
  void merge(const char* name, uint32_t video, uint32_t audio) {
    for (int k = 0; k < count_; ++k)
      if (strcmp(waiting_[k].name, name) == 0) {
        waiting_[k].video |= video;
        waiting_[k].audio |= audio;
        return;
      }
    if (count_ >= LINK_PENDING_NAMES) {
      ++dropped_;
      return;
    }
    Waiting& w = waiting_[count_++];
    snprintf(w.name, sizeof w.name, "%s", name);
    w.video = video;
    w.audio = audio;
  }

  int slave_;
  Waiting waiting_[LINK_PENDING_NAMES];
  int count_ = 0, dropped_ = 0;
  bool posted_ = false;
  uint64_t last_post_ = 0;
};

// ---------------------------------------------------------------- master state

struct SlaveSlot {
  std::mutex lock;        // the peer's socket, `admitted` and `buffer`; held for sends
  bool admitted = false;  // the connection presented the secret
  std::thread reader;     // started and joined by the master thread only
  std::atomic<uint32_t> last_alive{0};  // last good message (or the accept), link_now_ms()
  uint8_t buffer[COMM_MESSAGE_SIZE];    // the message being sent to this slave
};

struct MasterState {
  std::atomic<APP_OPTIONS*> opts{nullptr};
  std::atomic<int> listen_fd{-1};
  std::atomic<bool> closing{false};  // close_link_socket was called
  std::string secret;                // set by the master thread before any reader starts
  std::atomic<uint64_t> refused{0};  // connections closed without the secret
  std::atomic<uint64_t> refused_line_ms{0};
  SlaveSlot slots[NUM_PEER_ENDPOINTS];
};
MasterState g_master;

struct SlaveState {
  std::mutex lock;                            // slot 0's socket; held for sends
  std::atomic<bool> exit_received{false};     // COMM_EXIT came: no COMM_CLOSE, no hand-back
  std::atomic<bool> master_commanded{false};  // the disconnect under way came from the master
  bool no_secret_told = false;                // slave thread only: the line of a missing secret
};
SlaveState g_slave;

APP_CONTEXT* context_of(APP_OPTIONS* opts) {
  return opts && opts->context ? opts->context : &app_context;
}

bool quitting() { return app_quit.load() != 0; }

// Sends the slot's buffer; the caller holds the slot's lock. On failure the slot is freed
// and its socket shut down, which ends its reader (the reader closes it).
int send_to_slave(PEER_ENDPOINT* peer) {
  SlaveSlot& s = g_master.slots[peer->index];
  if (peer->socket < 0) return 0;
  if (send_all(peer->socket, s.buffer, COMM_MESSAGE_SIZE) == 0) return 0;
  printf("send() failed. closing slave %d connection.\n", int(peer->index));
  net_shutdown(peer->socket);
  peer->socket = -1;
  return -2;
}

// Sends one command to every slave; per slot value[1] = its index and, with `slot_value`,
// value[2] = its slot value. Returns the slaves reached; *failed is set by a failed send,
// and with `stop_at_failure` the sending ends there.
int send_to_slaves(APP_OPTIONS* opts, int command, const char* msg,
                   std::initializer_list<std::pair<int, int32_t>> values, bool slot_value,
                   bool stop_at_failure = false, bool* failed = nullptr) {
  int reached = 0;
  for (int i = 0; i < NUM_PEER_ENDPOINTS; ++i) {
    PEER_ENDPOINT* peer = &opts->peers[i];
    SlaveSlot& s = g_master.slots[i];
    std::lock_guard<std::mutex> g(s.lock);
    if (peer->socket < 0 || !s.admitted) continue;
    COMM_FIELDS m{};
    m.command = static_cast<uint16_t>(command);
    if (msg) snprintf(m.msg, sizeof m.msg, "%s", msg);
    for (const auto& [k, v] : values) m.value[k] = v;
    m.value[1] = i;
    if (slot_value) m.value[2] = static_cast<int32_t>(peer->timeout);
    write_comm_message(m, s.buffer);
    if (send_to_slave(peer) == 0) {
      ++reached;
    } else {
      if (failed) *failed = true;
      if (stop_at_failure) break;
    }
  }
  return reached;
}

// Frees slot `i` whose slave went silent or must go: shuts its socket down so the reader
// wakes, closes it and ends. Returns 1 when the slot was in use.
int release_slot(APP_OPTIONS* opts, int i) {
  SlaveSlot& s = g_master.slots[i];
  std::lock_guard<std::mutex> g(s.lock);
  PEER_ENDPOINT* peer = &opts->peers[i];
  if (peer->socket < 0) return 0;
  net_shutdown(peer->socket);
  peer->socket = -1;
  return 1;
}

void join_reader(int i) {
  std::thread& t = g_master.slots[i].reader;
  if (t.joinable()) t.join();
}

// Listening socket on slot 0's address and port. Returns it, or -1 after the fatal box.
int open_listener(APP_OPTIONS* opts) {
  int fd = net_tcp_socket();
  if (fd < 0) {
    fatal_box("Unable to create master socket.socket() failed.\n");
    return -1;
  }
  uint32_t addr = 0;
  if (net_parse_ipv4(opts->peers[0].address, &addr) != 0) net_parse_ipv4("127.0.0.1", &addr);
  // Room for a burst of connections while the master thread reads hellos: a connection the
  // queue has no room for waits a second for the retry of its handshake.
  const int rc = net_listen_on(fd, addr, opts->peers[0].port, 128);
  if (rc != 0) {
    net_close(fd);
    fatal_box(
        rc == -1 ? "Unable to set socket options on master socket.setsockopt() failed.\n"
        : rc == -2
            ? "Unable to bind master socket to the specified port.bind() failed.\n"
            : "Unable to listen on the specified port of the master socket.listen() failed.\n");
    return -1;
  }
  return fd;
}

// Gives a connection that presented the secret the first free slot and its reader: 0, or
// -1 when all 16 are taken (the connection is closed).
int add_slave(APP_OPTIONS* opts, int fd) {
  int free_slot = -1;
  for (int i = 0; i < NUM_PEER_ENDPOINTS && free_slot < 0; ++i) {
    bool used;
    {
      std::lock_guard<std::mutex> g(g_master.slots[i].lock);
      used = opts->peers[i].socket >= 0;
    }
    if (used) continue;
    join_reader(i);  // a reader of a freed slot that has not ended yet
    free_slot = i;
  }
  if (free_slot < 0) {
    net_close(fd);
    return -1;
  }
  SlaveSlot& s = g_master.slots[free_slot];
  PEER_ENDPOINT* peer = &opts->peers[free_slot];
  {
    std::lock_guard<std::mutex> g(s.lock);
    peer->index = static_cast<uint32_t>(free_slot);
    peer->socket = fd;
    s.admitted = true;
    s.last_alive.store(link_now_ms());
  }
  s.reader = std::thread([peer] { slave_reader_thread(peer); });
  return 0;
}

// One line for the first refused connection and then at most one a second, with the count:
// a flood of strangers must not flood the output as well.
void note_refused() {
  const uint64_t n = ++g_master.refused;
  const uint64_t now = net_now_ms();
  uint64_t last = g_master.refused_line_ms.load();
  if (n > 1 && now - last < 1000) return;
  if (!g_master.refused_line_ms.compare_exchange_strong(last, now)) return;
  printf("Link connection closed: it did not present the link secret (%llu refused so far).\n",
         static_cast<unsigned long long>(n));
}

// A connection that has not presented the secret yet. The master thread reads its hello,
// so such connections cost no slot and no thread; at most LINK_PENDING_HELLOS wait, and the
// oldest makes room for a new one, so silent connections never keep a window out.
struct PendingHello {
  int fd = -1;
  uint64_t deadline = 0;  // net_now_ms() by which the whole hello must have come
  size_t got = 0;
  uint8_t buf[COMM_MESSAGE_SIZE];
};

// Takes a new connection into the pool of those waiting for their hello.
void add_pending(std::vector<PendingHello>& pending, int fd) {
  net_set_nonblocking(fd, true);
  if (pending.size() >= size_t(LINK_PENDING_HELLOS)) {
    net_close(pending.front().fd);
    pending.erase(pending.begin());
    note_refused();
  }
  PendingHello p;
  p.fd = fd;
  p.deadline = net_now_ms() + LINK_HELLO_MS;
  pending.push_back(p);
}

// Reads what the waiting connections sent: one whose hello carries the secret becomes a
// slave; one that sent anything else, closed, or let its time pass is closed, having been
// sent nothing. What has arrived is read before the time is judged, so a hello that came in
// time counts however late this thread runs.
void read_hellos(APP_OPTIONS* opts, std::vector<PendingHello>& pending) {
  const uint64_t now = net_now_ms();
  for (size_t k = 0; k < pending.size();) {
    PendingHello& p = pending[k];
    bool failed = false;
    while (p.got < COMM_MESSAGE_SIZE) {
      const long n = net_recv(p.fd, p.buf + p.got, COMM_MESSAGE_SIZE - p.got);
      if (n > 0) {
        p.got += static_cast<size_t>(n);
        continue;
      }
      failed = n == 0 || (net_last_error() != NET_WOULDBLOCK && net_last_error() != EINTR);
      break;
    }
    const bool whole = p.got == COMM_MESSAGE_SIZE;
    if (!whole && !failed && now < p.deadline) {
      ++k;
      continue;
    }
    if (whole && admits(p.buf, g_master.secret)) {
      add_slave(opts, p.fd);
    } else {
      net_close(p.fd);
      note_refused();
    }
    memset(p.buf, 0, sizeof p.buf);
    pending.erase(pending.begin() + std::ptrdiff_t(k));
  }
}

// Publishes the secret for the windows of this account on this machine.
void write_key_file(uint16_t port, const std::string& secret) {
  const std::string path = key_path(port);
  std::string why = "the per-user directory is not private";
  if (!path.empty() && replace_file(path.c_str(), secret, &why) == 0) return;
  printf(
      "The link secret could not be written to %s (%s): extension windows need "
      "VIGILO_LINK_SECRET.\n",
      path.empty() ? "link-<port>.key" : path.c_str(), why.c_str());
}

// Accepts slaves until app_quit or close_link_socket. A failed accept (interrupted, an
// aborted connection, no descriptors left) is tried again after a pause; only a socket
// that can no longer accept ends the loop.
void accept_slaves(APP_OPTIONS* opts, int listen_fd) {
  auto stop = [] { return quitting() || g_master.closing.load(); };
  std::vector<PendingHello> pending;
  pending.reserve(LINK_PENDING_HELLOS);
  while (!stop()) {
    // Silent slaves go before each wait for a new one.
    for (int i = 0; i < NUM_PEER_ENDPOINTS; ++i) {
      bool silent;
      {
        std::lock_guard<std::mutex> g(g_master.slots[i].lock);
        silent = opts->peers[i].socket >= 0 &&
                 link_now_ms() - g_master.slots[i].last_alive.load() > kSilenceMs;
      }
      if (silent && release_slot(opts, i)) join_reader(i);
    }
    // While connections owe their hello the wait is cut short, so a hello is read soon
    // after it comes.
    int fd = -1;
    while (!stop()) {
      read_hellos(opts, pending);
      if ((fd = net_accept_wait(listen_fd, pending.empty() ? kSliceMs : kHelloSliceMs)) != -1)
        break;
    }
    if (fd >= 0) {
      // A hello that came meanwhile is read before the oldest is closed to make room.
      if (pending.size() >= size_t(LINK_PENDING_HELLOS)) read_hellos(opts, pending);
      add_pending(pending, fd);
      continue;
    }
    if (stop()) break;
    const int e = net_last_error();
    if (e == EINVAL || e == EBADF || e == ENOTSOCK) break;
    printf("accept() failed (%d); trying again.\n", e);
    pause_ms(e == EINTR || e == ECONNABORTED ? kSliceMs : 1000, stop);
  }
  for (PendingHello& p : pending) net_close(p.fd);
}

}  // namespace

// ---------------------------------------------------------------- message bytes

int read_comm_message(const void* data, COMM_FIELDS* out) {
  if (!data || !out) return -1;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  if (!has_tag(p)) return -1;
  out->command = get_le16(p + 8);
  memcpy(out->msg, p + 10, sizeof out->msg);
  out->msg[sizeof out->msg - 1] = '\0';
  for (int i = 0; i < 14; ++i) out->value[i] = int32_t(get_le32(p + 144 + 4 * i));
  return 0;
}

void write_comm_message(const COMM_FIELDS& in, void* out) {
  uint8_t* p = static_cast<uint8_t*>(out);
  memset(p, 0, COMM_MESSAGE_SIZE);
  put_be16(p, COMM_TAG);
  put_le16(p + 8, uint16_t(in.command));
  memcpy(p + 10, in.msg, strnlen(in.msg, sizeof in.msg - 1));
  for (int i = 0; i < 14; ++i) put_le32(p + 144 + 4 * i, uint32_t(in.value[i]));
}

// ---------------------------------------------------------------- configuration

void read_link_environment(APP_OPTIONS* opts) {
  if (const char* text = getenv("VIGILO_LINK_PORT"); text && *text) {
    char* end = nullptr;
    const long port = strtol(text, &end, 10);
    if (*end || port < 1 || port > 65535) {
      printf("VIGILO_LINK_PORT=%s is not a port; the link uses %u.\n", text,
             unsigned(opts->peers[0].port));
    } else {
      for (PEER_ENDPOINT& p : opts->peers) p.port = static_cast<uint16_t>(port);
    }
  }
  {
    std::lock_guard<std::mutex> g(g_secret.lock);
    g_secret.from_env.clear();
    if (const char* text = getenv("VIGILO_LINK_SECRET"); text && *text) {
      const size_t n = strlen(text);
      if (n < LINK_SECRET_MIN || n > LINK_SECRET_MAX)
        printf("VIGILO_LINK_SECRET is not %zu to %zu characters long; it is not used.\n",
               LINK_SECRET_MIN, LINK_SECRET_MAX);
      else
        g_secret.from_env = text;
    }
  }
  // Only the main window listens; a slave takes its master's address from -i.
  if (opts->mode != 0) return;
  if (const char* text = getenv("VIGILO_LINK_ADDRESS"); text && *text) {
    uint32_t addr = 0;
    if (strlen(text) >= sizeof opts->peers[0].address || net_parse_ipv4(text, &addr) != 0)
      printf("VIGILO_LINK_ADDRESS=%s is not an IPv4 address; the link listens on %s.\n", text,
             opts->peers[0].address);
    else
      copy_field(opts->peers[0].address, text);
  }
}

int read_link_secret(uint16_t port, char* out, size_t cap) {
  if (!out || cap == 0) return -1;
  std::string secret;
  {
    std::lock_guard<std::mutex> g(g_secret.lock);
    secret = g_secret.from_env;
  }
  if (secret.empty()) {
    const std::string path = key_path(port);
    FILE* f = path.empty() ? nullptr : fopen(path.c_str(), "rb");
    if (f) {
      char text[LINK_SECRET_MAX + 2];
      const size_t n = fread(text, 1, sizeof text, f);
      fclose(f);
      if (n >= LINK_SECRET_MIN && n <= LINK_SECRET_MAX && !memchr(text, 0, n))
        secret.assign(text, n);
    }
  }
  if (secret.empty() || secret.size() >= cap) return -1;
  memcpy(out, secret.c_str(), secret.size() + 1);
  return 0;
}

// ---------------------------------------------------------------- master

int master_thread(void* arg) {
  set_current_thread_name("master");
  APP_OPTIONS* opts = static_cast<APP_OPTIONS*>(arg);
  g_master.opts.store(opts);
  g_master.closing.store(false);
  if (winsock_start() < 0) {
    fatal_box("Unable to initialize windows sockets.");
    return -1;
  }
  g_master.secret = master_secret();
  if (g_master.secret.empty()) {
    fatal_box("Unable to make the link secret: the system has no random source.\n");
    return -1;
  }
  const uint16_t port = opts->peers[0].port;
  for (;;) {
    const int fd = open_listener(opts);
    if (fd < 0) return -1;
    g_master.listen_fd.store(fd);
    // Only once the port is ours: a second main window that failed to bind must not
    // overwrite the key of the one listening.
    write_key_file(port, g_master.secret);
    accept_slaves(opts, fd);
    for (int i = 0; i < NUM_PEER_ENDPOINTS; ++i) release_slot(opts, i);
    for (int i = 0; i < NUM_PEER_ENDPOINTS; ++i) join_reader(i);
    int closing_fd = g_master.listen_fd.exchange(-1);
    net_close(closing_fd);
    // A window that connects to whoever takes the port next must find no key to hand it.
    if (const std::string path = key_path(port); !path.empty()) remove(path.c_str());
    if (quitting() || g_master.closing.load()) break;
    pause_ms(1000, [] { return quitting() || g_master.closing.load(); });
  }
  printf("Exiting master thread...\n");
  return 0;
}

int slave_reader_thread(void* arg) {
  PEER_ENDPOINT* peer = static_cast<PEER_ENDPOINT*>(arg);
  const int i = static_cast<int>(peer->index);
  set_current_thread_name(("slave reader " + std::to_string(i)).c_str());
  SlaveSlot& s = g_master.slots[i];
  int fd;
  {
    std::lock_guard<std::mutex> g(s.lock);
    fd = peer->socket;
  }
  APP_OPTIONS* opts = g_master.opts.load();
  uint8_t buf[COMM_MESSAGE_SIZE];
  printf("added slave %d %d\n", i, fd);
  AddChannelGate gate(i);
  // The socket is shut down by whoever frees the slot, which ends the wait at once.
  while (fd >= 0 && recv_message(fd, buf, [&gate] {
                      gate.flush_if_due();
                      return false;
                    }) == 0) {
    if (!has_tag(buf)) break;
    const int command = get_le16(buf + 8);
    if (command == COMM_CLOSE) break;
    // Any good message shows the slave alive: a busy slave answering with acknowledgements
    // is not dropped as silent.
    s.last_alive.store(link_now_ms());
    switch (command) {
      case COMM_ADD_CHANNEL:
        printf("Received COMM_ADD_CHANNEL from %d\n", i);
        gate.take(buf);
        break;
      case COMM_KEEP_ALIVE: printf("Received COMM_KEEP_ALIVE from %d\n", i); break;
      case COMM_SET_TARGET:
        printf("Received COMM_SET_TARGET from %d\n", i);
        if (opts) context_of(opts)->layout_target.store(2);
        break;
      case COMM_ACK: printf("Received COMM_ACK from %d\n", i); break;
      case COMM_HELLO: break;
      default: printf("Unknown command %d\n", command); break;
    }
  }
  // Channels a closing slave hands back come just before its COMM_CLOSE.
  gate.flush();
  {
    std::lock_guard<std::mutex> g(s.lock);
    if (peer->socket == fd) peer->socket = -1;
    s.admitted = false;
    net_close(fd);
  }
  printf("removed slave %d\n", i);
  return 0;
}

void close_link_socket(APP_OPTIONS*) {
  g_master.closing.store(true);
  net_shutdown(g_master.listen_fd.load());
}

int count_slaves(APP_OPTIONS* opts) {
  int n = 0;
  for (int i = 0; i < NUM_PEER_ENDPOINTS; ++i) {
    std::lock_guard<std::mutex> g(g_master.slots[i].lock);
    if (opts->peers[i].socket >= 0 && g_master.slots[i].admitted) ++n;
  }
  return n;
}

void send_exit_to_slaves(APP_OPTIONS* opts) {
  if (send_to_slaves(opts, COMM_EXIT, nullptr, {}, true) > 0) SDL_Delay(1000);
}

void send_disconnect_to_slaves(APP_OPTIONS* opts) {
  send_to_slaves(opts, COMM_DISCONNECT, nullptr, {}, false);
}

void send_layout_to_slaves(APP_OPTIONS* opts, int layout) {
  send_to_slaves(opts, COMM_SET_LAYOUT, nullptr, {{3, layout}, {4, 0}}, true);
}

void send_step_layout_to_slaves(APP_OPTIONS* opts) {
  send_to_slaves(opts, COMM_ROTATE_SELECTED, nullptr, {}, false);
}

int send_add_channel_to_slave(APP_OPTIONS* opts, int32_t id) {
  if (g_master.listen_fd.load() < 0) return -1;
  APP_CONTEXT* ctx = context_of(opts);
  RECEIVER_INFO* rx = find_receiver_by_channel(ctx, id);
  if (!rx) return -2;
  const int k = find_channel(rx, id);
  if (k < 0 || k >= 32) return -3;
  const int32_t mask = static_cast<int32_t>(1u << k);
  bool failed = false;
  const int reached = send_to_slaves(opts, COMM_ADD_CHANNEL, rx->name, {{8, mask}, {9, mask}},
                                     false, true, &failed);
  if (failed) return -4;
  return reached > 0 ? 0 : -5;
}

// ---------------------------------------------------------------- slave

namespace {

// Sends one message to the master: the result of send_all, -1 without a connection. A
// failed send shuts the socket down so the slave thread reconnects.
int send_to_master(APP_OPTIONS* opts, const uint8_t* buf) {
  std::lock_guard<std::mutex> g(g_slave.lock);
  PEER_ENDPOINT* peer = &opts->peers[0];
  if (peer->socket < 0) return -1;
  if (send_all(peer->socket, buf, COMM_MESSAGE_SIZE) == 0) return 0;
  net_shutdown(peer->socket);
  return -2;
}

int send_keep_alive(APP_OPTIONS* opts) {
  uint8_t buf[COMM_MESSAGE_SIZE];
  build(buf, COMM_KEEP_ALIVE, nullptr, {{2, static_cast<int32_t>(opts->peers[0].timeout)}});
  return send_to_master(opts, buf);
}

// One connection to the master, from connect to its end.
void run_slave_connection(APP_OPTIONS* opts) {
  PEER_ENDPOINT* peer = &opts->peers[0];
  // Without the secret the master would only close the connection.
  char secret[LINK_SECRET_MAX + 1];
  if (read_link_secret(peer->port, secret, sizeof secret) != 0) {
    if (!g_slave.no_secret_told)
      printf(
          "No link secret for port %u: no main window of this account listens on it here, "
          "and VIGILO_LINK_SECRET is not set.\n",
          unsigned(peer->port));
    g_slave.no_secret_told = true;
    return;
  }
  g_slave.no_secret_told = false;
  int fd = net_tcp_socket();
  if (fd < 0) {
    fatal_box("Unable to create slave socket.socket() failed.\n");
    return;
  }
  uint32_t addr = 0;
  if (net_parse_ipv4(peer->address, &addr) != 0 ||
      net_connect(fd, addr, peer->port, 3000, [] { return quitting(); }) != 0) {
    net_close(fd);
    return;
  }
  {
    std::lock_guard<std::mutex> g(g_slave.lock);
    peer->socket = fd;
  }
  uint8_t ack[COMM_MESSAGE_SIZE], buf[COMM_MESSAGE_SIZE];
  build(buf, COMM_HELLO, secret);
  memset(secret, 0, sizeof secret);
  const bool said_hello = send_to_master(opts, buf) == 0;
  memset(buf, 0, sizeof buf);
  build(ack, COMM_ACK);
  uint32_t last = link_now_ms();
  while (said_hello && !quitting()) {
    if (link_now_ms() - last >= kKeepAliveMs) {
      if (send_keep_alive(opts) != 0) break;
      last = link_now_ms();
    }
    bool readable = false;
    const int r = net_poll(fd, true, false, kSliceMs, &readable, nullptr);
    if (r < 0) break;
    if (r == 0 || !readable) continue;
    last = link_now_ms();
    if (recv_message(fd, buf, [] { return quitting(); }) != 0 || !has_tag(buf)) break;
    if (send_to_master(opts, ack) != 0) break;
    printf("sent acknowledgement.\n");
    switch (const int command = get_le16(buf + 8)) {
      case COMM_EXIT: {
        g_slave.exit_received.store(true);
        SDL_Event quit{};
        quit.type = SDL_QUIT;
        SDL_PushEvent(&quit);
        break;
      }
      case COMM_CONNECT:
      case COMM_ADD_CHANNEL:
      case COMM_DISCONNECT:
      case COMM_SET_LAYOUT:
      case COMM_ROTATE_SELECTED:
        (void)command;
        post_to_loop(buf);
        break;
      default: break;
    }
  }
  if (said_hello && quitting() && !g_slave.exit_received.load()) {
    build(buf, COMM_CLOSE);
    send_to_master(opts, buf);
  }
  std::lock_guard<std::mutex> g(g_slave.lock);
  peer->socket = -1;
  net_close(fd);
}

}  // namespace

namespace master_link_internal {

MasterCommand::MasterCommand(bool on) : on_(on) {
  if (on_) g_slave.master_commanded.store(true);
}
MasterCommand::~MasterCommand() {
  if (on_) g_slave.master_commanded.store(false);
}

}  // namespace master_link_internal

int slave_thread(void* arg) {
  set_current_thread_name("slave");
  APP_OPTIONS* opts = static_cast<APP_OPTIONS*>(arg);
  g_slave.exit_received.store(false);
  if (winsock_start() < 0) {
    fatal_box("Unable to initialize windows sockets.");
    return -1;
  }
  while (!quitting()) {
    run_slave_connection(opts);
    if (quitting()) break;
    pause_ms(1000, quitting);
  }
  printf("Exiting slave thread...\n");
  return 0;
}

int send_add_channel(APP_OPTIONS* opts, int32_t id) {
  {
    std::lock_guard<std::mutex> g(g_slave.lock);
    if (opts->peers[0].socket < 0) return -1;
  }
  RECEIVER_INFO* rx = find_receiver_by_channel(context_of(opts), id);
  if (!rx) return -2;
  const int k = find_channel(rx, id);
  if (k < 0 || k >= 32) return -3;
  const int32_t mask = static_cast<int32_t>(1u << k);
  uint8_t buf[COMM_MESSAGE_SIZE];
  build(buf, COMM_ADD_CHANNEL, rx->name, {{8, mask}, {9, mask}});
  const int rc = send_to_master(opts, buf);
  return rc == 0 ? 0 : rc == -1 ? -1 : -4;
}

int send_channels_to_master(APP_OPTIONS* opts) {
  {
    std::lock_guard<std::mutex> g(g_slave.lock);
    if (opts->peers[0].socket < 0) return -1;
  }
  APP_CONTEXT* ctx = context_of(opts);
  const int n = ctx->num_receivers.load();
  for (int r = 0; r < n && r < MAX_RECEIVERS; ++r) {
    const RECEIVER_INFO& rx = ctx->receivers[r];
    uint8_t buf[COMM_MESSAGE_SIZE];
    build(buf, COMM_ADD_CHANNEL, rx.name,
          {{8, static_cast<int32_t>(rx.sel_vid_ch.load())},
           {9, static_cast<int32_t>(rx.audio_mask.load())}});
    if (r > 0) SDL_Delay(100);
    if (send_to_master(opts, buf) != 0) return -2;
  }
  return 0;
}

void send_set_target(APP_OPTIONS* opts) {
  uint8_t buf[COMM_MESSAGE_SIZE];
  build(buf, COMM_SET_TARGET);
  send_to_master(opts, buf);
}

void hand_back_channels(APP_OPTIONS* opts) {
  if (g_slave.master_commanded.load() || g_slave.exit_received.load()) return;
  send_channels_to_master(opts);
}
