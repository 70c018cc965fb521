// The master/slave link in one process: the real master thread against raw sockets posing
// as slaves, the real slave thread against a raw listener posing as the master, and the
// window loop's handling of what arrives. The keep-alive clock is the test's own; the link
// secret's key files go to a per-user directory of the test's own.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "client/foundation/config/app_options.h"
#include "client/foundation/config/setup_config.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/user_events.h"
#include "client/links/connection.h"
#include "client/links/link_notices.h"
#include "client/screens/master_link.h"
#include "platform/net/local_dgram.h"
#include "tests/client/screens/eventually.h"
#include "tests/client/screens/run_tree.h"
#include "tests/client/screens/screens_fixture.h"
#include "platform/sync/test_clock.h"

namespace {

std::atomic<uint32_t> fake_now{100000};
// Clock reads by threads other than the master thread: a slave's reader reads it only when
// it notes that slave alive. The master thread sets its id before it starts any reader.
std::thread::id master_thread_id;
std::atomic<int> reader_clock_reads{0};
// The master thread's own reads: one when it admits a slave, one per listed slave in the
// silence check before each wait for a new connection.
std::atomic<int> master_clock_reads{0};
uint32_t fake_clock() {
  if (std::this_thread::get_id() != master_thread_id)
    ++reader_clock_reads;
  else
    ++master_clock_reads;
  return fake_now.load();
}

std::vector<uint8_t> message(int command, const char* name = "",
                             std::vector<std::pair<int, int32_t>> values = {}) {
  COMM_FIELDS m{};
  m.command = static_cast<uint16_t>(command);
  snprintf(m.msg, sizeof m.msg, "%s", name);
  for (auto [i, v] : values) m.value[i] = v;
  std::vector<uint8_t> buf(COMM_MESSAGE_SIZE);
  write_comm_message(m, buf.data());
  return buf;
}

// `address`:`port`, for connect and bind.
sockaddr_in loopback(int port, const char* address = "127.0.0.1") {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(uint16_t(port));
  inet_pton(AF_INET, address, &a.sin_addr);
  return a;
}
bool connect_fd(int fd, int port, const char* address = "127.0.0.1") {
  const sockaddr_in a = loopback(port, address);
  return connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
}

// A raw TCP end of the link, blocking, with a read deadline.
struct Peer {
  int fd = -1;
  ~Peer() {
    if (fd >= 0) close(fd);
  }
  bool connect_to(int port) {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    return connect_fd(fd, port);
  }
  bool send_bytes(const std::vector<uint8_t>& b) {
    return send(fd, b.data(), b.size(), MSG_NOSIGNAL) == long(b.size());
  }
  // One whole message: 1, 0 when the other end closed, -1 when nothing came in time.
  int read_message(COMM_FIELDS* m, int ms = 5000) {
    uint8_t buf[COMM_MESSAGE_SIZE];
    size_t got = 0;
    while (got < sizeof buf) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, ms) <= 0) return -1;
      long n = recv(fd, buf + got, sizeof buf - got, 0);
      if (n <= 0) return 0;
      got += size_t(n);
    }
    return read_comm_message(buf, m) == 0 ? 1 : -1;
  }
  // Reads until a message of `command` (skipping acknowledgements and the like).
  bool wait_for(int command, COMM_FIELDS* out = nullptr, int ms = 5000) {
    COMM_FIELDS m;
    while (read_message(&m, ms) == 1)
      if (m.command == command) {
        if (out) *out = m;
        return true;
      }
    return false;
  }
  bool closed_by_other_end(int ms = 5000) {
    COMM_FIELDS m;
    int r;
    while ((r = read_message(&m, ms)) == 1) {}
    return r == 0;
  }
};

// The link messages waiting for the window loop.
std::vector<COMM_FIELDS> take_link_messages() {
  std::vector<COMM_FIELDS> out;
  LINK_NOTICE n;
  while (take_link_notice(&n)) {
    COMM_FIELDS m;
    if (n.number == UE_LINK_COMMAND && read_comm_message(n.data(), &m) == 0) out.push_back(m);
  }
  return out;
}

std::string last_box;
BoxAnswer record_box(const char*, const char* text, BoxButtons) {
  last_box = text;
  return BoxAnswer::ok;
}

class Link : public ScreensTest {
 protected:
  void SetUp() override {
    ScreensTest::SetUp();
    char tmpl[] = "/tmp/link-keys-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    keys_ = tmpl;
    setenv("VIGILO_MAILSLOT_DIR", keys_.c_str(), 1);
    // A test that reads the environment again must find only what it set itself: a port or
    // address inherited from the shell would move the master off the test's own port.
    for (const char* name : {"VIGILO_LINK_SECRET", "VIGILO_LINK_PORT", "VIGILO_LINK_ADDRESS"})
      unsetenv(name);
    init_app_options(&opts);
    read_link_environment(&opts);  // no secret given by hand
    opts.context = ctx;
    app_quit.store(0);
    clear_link_notices();
    set_test_clock(TEST_CLOCK_LINK, fake_clock);
    set_message_box_hook(record_box);
    port = free_loopback_port();
    for (PEER_ENDPOINT& p : opts.peers) p.port = uint16_t(port);
  }
  void TearDown() override {
    stop_master();
    stop_slave();
    app_quit.store(0);
    set_test_clock(TEST_CLOCK_LINK, nullptr);
    set_message_box_hook(nullptr);
    set_connection_hooks(CONNECTION_HOOKS{});
    unsetenv("VIGILO_MAILSLOT_DIR");
    if (!keys_.empty()) std::filesystem::remove_all(keys_);
    ScreensTest::TearDown();
  }

  // The secret the running master demands, as the windows of its operator find it.
  std::string secret() {
    char text[LINK_SECRET_MAX + 1] = "";
    eventually([&] { return read_link_secret(uint16_t(port), text, sizeof text) == 0; });
    return text;
  }
  // What a master of this account leaves for its windows.
  void write_key(const std::string& text) {
    std::ofstream(keys_ + "/link-" + std::to_string(port) + ".key") << text;
  }

  void start_master() {
    master = std::thread([this] {
      master_thread_id = std::this_thread::get_id();
      master_rc = master_thread(&opts);
    });
  }
  void stop_master() {
    if (!master.joinable()) return;
    close_link_socket(&opts);
    master.join();
  }
  // A raw slave that presents the master's secret (or `key`), as every extension window
  // does first.
  bool connect_slave(Peer& p, int expect_count, const std::string& key = "") {
    // The master may still be opening its socket.
    auto attempt = [&] {
      if (p.connect_to(port)) return true;
      close(p.fd);
      p.fd = -1;
      return false;
    };
    if (!eventually(attempt) ||
        !p.send_bytes(message(COMM_HELLO, (key.empty() ? secret() : key).c_str())))
      return false;
    return eventually([&] { return count_slaves(&opts) == expect_count; });
  }

  // A raw listener posing as the master, and the real slave thread connecting to it.
  // With `key`, the key file a master of this account leaves for its windows.
  void listen_as_master(bool key = true) {
    if (key) write_key("the key of a master of ours");
    listener = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in a = loopback(port);
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(listener, 4), 0);
  }
  bool accept_slave(Peer& p, int ms = 10000) {
    pollfd pf{listener, POLLIN, 0};
    if (poll(&pf, 1, ms) <= 0) return false;
    p.fd = accept(listener, nullptr, nullptr);
    return p.fd >= 0;
  }
  void start_slave() {
    opts.master = 0;
    opts.mode = 1;
    slave = std::thread([this] { slave_thread(&opts); });
  }
  void stop_slave() {
    if (slave.joinable()) {
      app_quit.store(1);
      slave.join();
    }
    if (listener >= 0) close(listener);
    listener = -1;
  }

  APP_OPTIONS opts;
  APP_OPTIONS window;  // an extension window's, beside the master in `opts`
  int port = -1, listener = -1, master_rc = 0;
  std::thread master, slave;
  std::string keys_;
};

// ---------------------------------------------------------------- master

TEST(LinkMessage, fields_at_their_offsets) {
  auto buf = message(COMM_ADD_CHANNEL, "DVR-2", {{8, 0x10}, {13, -7}});
  EXPECT_EQ(buf[0], 0x67);
  EXPECT_EQ(buf[1], 0x80);
  EXPECT_EQ(buf[8], COMM_ADD_CHANNEL);
  EXPECT_STREQ(reinterpret_cast<char*>(buf.data() + 10), "DVR-2");
  EXPECT_EQ(buf[144 + 32], 0x10);
  COMM_FIELDS back{};
  ASSERT_EQ(read_comm_message(buf.data(), &back), 0);
  EXPECT_EQ(back.command, COMM_ADD_CHANNEL);
  EXPECT_STREQ(back.msg, "DVR-2");
  EXPECT_EQ(back.value[8], 0x10);
  EXPECT_EQ(back.value[13], -7);
  // An unterminated name is cut inside its field; a foreign tag is refused.
  memset(buf.data() + 10, 'A', 134);
  ASSERT_EQ(read_comm_message(buf.data(), &back), 0);
  EXPECT_EQ(strlen(back.msg), 133u);
  buf[0] = 0x12;
  EXPECT_EQ(read_comm_message(buf.data(), &back), -1);
  EXPECT_EQ(read_comm_message(nullptr, &back), -1);
}

TEST_F(Link, split_garbage_and_bad_tags_end_only_their_own_connection) {
  start_master();
  Peer a, b;
  ASSERT_TRUE(connect_slave(a, 1));
  ASSERT_TRUE(connect_slave(b, 2));

  // A message in three parts arrives whole, with value[13] cleared.
  auto add = message(COMM_ADD_CHANNEL, "DVR-1", {{8, int32_t(0x80000001u)}, {13, 55}});
  for (auto [from, to] : {std::pair{0, 7}, {7, 150}, {150, 200}}) {
    ASSERT_TRUE(a.send_bytes({add.begin() + from, add.begin() + to}));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  std::vector<COMM_FIELDS> got;
  ASSERT_TRUE(eventually([&] {
    auto more = take_link_messages();
    got.insert(got.end(), more.begin(), more.end());
    return !got.empty();
  }));
  EXPECT_EQ(got[0].command, COMM_ADD_CHANNEL);
  EXPECT_STREQ(got[0].msg, "DVR-1");
  EXPECT_EQ(uint32_t(got[0].value[8]), 0x80000001u);
  EXPECT_EQ(got[0].value[13], 0);

  // More messages than the window loop may fall behind by: each keeps its own bytes.
  for (int i = 0; i < 24; ++i)
    ASSERT_TRUE(a.send_bytes(
        message(COMM_ADD_CHANNEL, ("DVR-" + std::to_string(i)).c_str(), {{8, 1 << i}})));
  got.clear();
  ASSERT_TRUE(eventually([&] {
    auto more = take_link_messages();
    got.insert(got.end(), more.begin(), more.end());
    return got.size() >= 24;
  }));
  for (int i = 0; i < 24; ++i) {
    EXPECT_EQ(std::string(got[i].msg), "DVR-" + std::to_string(i));
    EXPECT_EQ(got[i].value[8], 1 << i);
  }

  // Random bytes behind a good tag are an unknown command; any other tag ends the link.
  std::mt19937 rng(7);
  std::vector<uint8_t> noise(COMM_MESSAGE_SIZE);
  for (auto& byte : noise) byte = uint8_t(rng());
  noise[0] = 0x67, noise[1] = 0x80, noise[8] = 99, noise[9] = 0;
  ASSERT_TRUE(a.send_bytes(noise));
  ASSERT_TRUE(a.send_bytes(message(COMM_SET_TARGET)));
  ASSERT_TRUE(eventually([&] { return ctx->layout_target.load() == 2; }));
  EXPECT_EQ(count_slaves(&opts), 2);
  noise[0] = 0x12;
  ASSERT_TRUE(a.send_bytes(noise));
  EXPECT_TRUE(a.closed_by_other_end());
  ASSERT_TRUE(eventually([&] { return count_slaves(&opts) == 1; }));
  // The other slave still hears the master.
  send_layout_to_slaves(&opts, 3);
  COMM_FIELDS m;
  ASSERT_TRUE(b.wait_for(COMM_SET_LAYOUT, &m));
  EXPECT_EQ(m.value[3], 3);
  EXPECT_EQ(m.value[2], 30);  // the slot value
}

// Only a connection whose first message carries this master's secret is a slave: any other
// is closed before anything of it reaches the window loop, and is sent nothing meanwhile.
TEST_F(Link, connections_without_the_secret_are_closed_before_they_post) {
  start_master();
  Peer own;
  ASSERT_TRUE(connect_slave(own, 1));
  const std::string key = secret();
  Peer quiet;  // says nothing at all
  ASSERT_TRUE(quiet.connect_to(port));
  auto foreign_tag = message(COMM_HELLO, key.c_str());
  foreign_tag[0] = 0x12;
  const std::vector<uint8_t> openers[] = {
      message(COMM_ADD_CHANNEL, "DVR-1", {{8, 1}, {9, 1}}),
      message(COMM_HELLO, "a secret of some other master"),
      message(COMM_HELLO, key.substr(0, key.size() - 1).c_str()),
      message(COMM_HELLO, (key + "x").c_str()),
      foreign_tag,
  };
  testing::internal::CaptureStdout();
  for (const auto& first : openers) {
    Peer p;
    ASSERT_TRUE(p.connect_to(port));
    ASSERT_TRUE(p.send_bytes(first));
    p.send_bytes(message(COMM_ADD_CHANNEL, "DVR-1", {{8, 1}, {9, 1}}));
    p.send_bytes(message(COMM_SET_TARGET));
    COMM_FIELDS m;
    EXPECT_EQ(p.read_message(&m), 0) << int(&first - openers);
  }
  send_layout_to_slaves(&opts, 3);
  COMM_FIELDS m;
  EXPECT_TRUE(own.wait_for(COMM_SET_LAYOUT, &m));
  EXPECT_EQ(m.value[1], 0);
  EXPECT_EQ(quiet.read_message(&m, LINK_HELLO_MS + 5000), 0)
      << "closed in its time, with nothing sent";
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_TRUE(take_link_messages().empty());
  EXPECT_NE(ctx->layout_target.load(), 2);
  EXPECT_EQ(count_slaves(&opts), 1);
  EXPECT_NE(out.find("did not present the link secret"), std::string::npos) << out;
  EXPECT_EQ(out.find("Received"), std::string::npos) << out;
  EXPECT_EQ(out.find(key), std::string::npos) << "the secret goes nowhere";
}

// Windows started by the main window, and those its operator starts by hand on the same
// machine, find the secret in the key file; it goes when the master stops listening.
// Connections that never say hello, opened again and again, keep no such window out.
TEST_F(Link, a_window_of_this_account_finds_the_secret_of_its_master) {
  start_master();
  const std::string key = secret();
  EXPECT_EQ(key.size(), 64u) << "256 random bits";
  // 64 connections that never say hello, each opened again as soon as the master closes it.
  std::atomic<bool> flooding{true};
  std::atomic<int> reopened{0};
  std::thread flood([&] {
    // Connects never wait: a handshake the master's queue has no room for is retried by the
    // system while the others go on.
    auto open_silent = [&] {
      const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      const sockaddr_in a = loopback(port);
      connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a);
      return fd;
    };
    std::vector<pollfd> silent(64);
    for (pollfd& p : silent) p = {open_silent(), POLLIN, 0};
    while (flooding.load()) {
      poll(silent.data(), silent.size(), 10);
      for (pollfd& p : silent)
        if (p.revents) {
          close(p.fd);
          p = {open_silent(), POLLIN, 0};
          ++reopened;
        }
    }
    for (pollfd& p : silent) close(p.fd);
  });
  const bool under_way = eventually([&] { return reopened.load() >= 64; });
  init_app_options(&window);
  window.context = ctx;
  window.mode = 1;
  window.master = 0;
  for (PEER_ENDPOINT& p : window.peers) p.port = uint16_t(port);
  testing::internal::CaptureStdout();
  const auto start = std::chrono::steady_clock::now();
  slave = std::thread([this] { slave_thread(&window); });
  const bool admitted = eventually([&] { return count_slaves(&opts) == 1; });
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  send_layout_to_slaves(&opts, 5);
  std::vector<COMM_FIELDS> got;
  const bool followed = eventually([&] { return !(got = take_link_messages()).empty(); });
  flooding.store(false);
  flood.join();
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(under_way);
  ASSERT_TRUE(admitted);
  EXPECT_LT(ms, 2000) << "admitted only after " << ms << " ms";
  ASSERT_TRUE(followed);
  EXPECT_EQ(got[0].command, COMM_SET_LAYOUT);
  EXPECT_EQ(got[0].value[3], 5);
  app_quit.store(1);
  slave.join();
  stop_master();
  char text[LINK_SECRET_MAX + 1];
  EXPECT_EQ(read_link_secret(uint16_t(port), text, sizeof text), -1);
}

// VIGILO_LINK_SECRET, given to the main window and to a window started by hand on another
// machine, where no key file is: the master demands it and the window presents it.
TEST_F(Link, a_secret_given_by_hand_admits_a_remote_window) {
  const std::string given = "our link's own secret, 42";
  setenv("VIGILO_LINK_SECRET", "too short", 1);
  testing::internal::CaptureStdout();
  read_link_environment(&opts);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("VIGILO_LINK_SECRET is not 16 to 133 characters long"), std::string::npos)
      << out;
  setenv("VIGILO_LINK_SECRET", given.c_str(), 1);
  read_link_environment(&opts);
  unsetenv("VIGILO_LINK_SECRET");
  start_master();
  Peer remote;
  ASSERT_TRUE(connect_slave(remote, 1, given));
  stop_master();

  listen_as_master(false);
  start_slave();
  Peer m;
  ASSERT_TRUE(accept_slave(m));
  COMM_FIELDS first;
  ASSERT_EQ(m.read_message(&first), 1);
  EXPECT_EQ(first.command, COMM_HELLO);
  EXPECT_EQ(first.msg, given);
}

// A slave that floods the link with channels costs the window loop a few merged messages
// per gap, whatever it sends; nothing of what it asked for is lost.
TEST_F(Link, a_flood_of_channels_from_one_slave_reaches_the_loop_merged) {
  start_master();
  Peer s;
  ASSERT_TRUE(connect_slave(s, 1));
  constexpr int kMessages = 20000;
  std::vector<uint8_t> flood;
  for (int i = 0; i < kMessages; ++i) {
    auto m = message(COMM_ADD_CHANNEL, i % 2 ? "DVR-2" : "DVR-1",
                     {{8, int32_t(1u << (i % 32))}, {9, i == 7}});
    flood.insert(flood.end(), m.begin(), m.end());
  }
  auto end = message(COMM_SET_TARGET);
  flood.insert(flood.end(), end.begin(), end.end());
  const uint64_t dropped = link_notices_dropped();
  testing::internal::CaptureStdout();
  const auto start = std::chrono::steady_clock::now();
  // Sent beside the window loop's side, which keeps taking what arrives.
  std::thread sender([&] { s.send_bytes(flood); });
  std::vector<COMM_FIELDS> got;
  uint32_t video[2] = {}, audio[2] = {};
  const bool all = eventually(
      [&] {
        for (const COMM_FIELDS& m : take_link_messages()) {
          got.push_back(m);
          const int k = std::string(m.msg) == "DVR-2";
          video[k] |= uint32_t(m.value[8]);
          audio[k] |= uint32_t(m.value[9]);
        }
        return ctx->layout_target.load() == 2 && video[0] == 0x55555555u && video[1] == 0xAAAAAAAAu;
      },
      60000);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start)
                      .count();
  sender.join();
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(all);
  EXPECT_EQ(audio[0], 0u);
  EXPECT_EQ(audio[1], 1u);
  EXPECT_EQ(link_notices_dropped(), dropped);
  // Two names, each at most once per gap, and the last gap's merge.
  EXPECT_LE(got.size(), size_t(2 * (ms / LINK_POST_GAP_MS + 2))) << ms << " ms";
}

TEST_F(Link, seventeenth_slave_is_closed_until_a_slot_frees) {
  start_master();
  std::vector<Peer> slaves(17);
  for (int i = 0; i < 16; ++i) ASSERT_TRUE(connect_slave(slaves[i], i + 1)) << i;
  // Its secret is right, but no slot is free.
  ASSERT_TRUE(slaves[16].connect_to(port));
  ASSERT_TRUE(slaves[16].send_bytes(message(COMM_HELLO, secret().c_str())));
  EXPECT_TRUE(slaves[16].closed_by_other_end());
  EXPECT_EQ(count_slaves(&opts), 16);
  // A slave that says goodbye frees its slot for the next one.
  ASSERT_TRUE(slaves[3].send_bytes(message(COMM_CLOSE)));
  ASSERT_TRUE(eventually([&] { return count_slaves(&opts) == 15; }));
  Peer late;
  ASSERT_TRUE(connect_slave(late, 16));
  send_step_layout_to_slaves(&opts);
  COMM_FIELDS m;
  ASSERT_TRUE(late.wait_for(COMM_ROTATE_SELECTED, &m));
  EXPECT_EQ(m.value[1], 3);  // the slot it took
}

TEST_F(Link, silent_slave_goes_when_another_connects_but_any_message_keeps_it) {
  start_master();
  Peer quiet, busy, third;
  ASSERT_TRUE(connect_slave(quiet, 1));
  ASSERT_TRUE(connect_slave(busy, 2));
  fake_now += 40000;
  // Acknowledgements alone keep a slave listed; the reader's clock read shows this one
  // noted at this time.
  const int reads = reader_clock_reads.load();
  ASSERT_TRUE(busy.send_bytes(message(COMM_ACK)));
  ASSERT_TRUE(eventually([&] { return reader_clock_reads.load() > reads; }));
  fake_now += 10001;  // quiet: 50001 ms of silence; busy: 10001 ms
  // Nothing to await: a sound master does nothing here. Two of its 100 ms accept-wait slices
  // give a drop made on a wake the time to show.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(count_slaves(&opts), 2) << "dropped only when another slave connects";
  ASSERT_TRUE(connect_slave(third, 2));
  EXPECT_TRUE(quiet.closed_by_other_end());
  // The two left: the third one's secret may be read after the silent one went.
  ASSERT_TRUE(eventually([&] { return count_slaves(&opts) == 2; }));
  send_disconnect_to_slaves(&opts);
  EXPECT_TRUE(busy.wait_for(COMM_DISCONNECT));
  EXPECT_TRUE(third.wait_for(COMM_DISCONNECT));
}

TEST_F(Link, failed_accept_is_tried_again_and_keeps_the_slaves) {
  master_clock_reads.store(0);
  start_master();
  Peer first, second;
  ASSERT_TRUE(connect_slave(first, 1));
  // Admitted from the master's wait for the next connection, which no silence check ends.
  ASSERT_TRUE(eventually([&] { return master_clock_reads.load() == 1; }));
  const std::string key = secret();  // read while descriptors are left
  second.fd = socket(AF_INET, SOCK_STREAM, 0);
  // No descriptor left for the master's next accept.
  rlimit old{};
  getrlimit(RLIMIT_NOFILE, &old);
  int highest = 0;
  for (int fd = 0; fd < 4096; ++fd)
    if (fcntl(fd, F_GETFD) != -1) highest = fd;
  rlimit tight = old;
  tight.rlim_cur = rlim_t(highest + 1);
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  std::vector<int> fillers;  // the free numbers below the limit
  for (int fd; (fd = dup(0)) >= 0;) fillers.push_back(fd);
  ASSERT_TRUE(connect_fd(second.fd, port));
  ASSERT_TRUE(second.send_bytes(message(COMM_HELLO, key.c_str())));
  // The next silence check comes only after the failed accept and its pause.
  const bool retried = eventually([&] { return master_clock_reads.load() >= 2; });
  EXPECT_EQ(count_slaves(&opts), 1);
  for (int fd : fillers) close(fd);
  setrlimit(RLIMIT_NOFILE, &old);
  ASSERT_TRUE(retried);
  send_step_layout_to_slaves(&opts);
  EXPECT_TRUE(first.wait_for(COMM_ROTATE_SELECTED));
  EXPECT_TRUE(eventually([&] { return count_slaves(&opts) == 2; }));
}

// A peer that takes no more data is given up after the send time-out: the master frees that
// slave's slot, and a slave's own send reports the failure and the slave connects again.
TEST_F(Link, peers_that_stop_reading_are_given_up) {
  auto small_buffer = [](int fd) {
    int size = 4096;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  };
  start_master();
  Peer deaf;
  ASSERT_TRUE(eventually([&] {
    if (deaf.fd >= 0) close(deaf.fd);
    deaf.fd = socket(AF_INET, SOCK_STREAM, 0);
    small_buffer(deaf.fd);
    return connect_fd(deaf.fd, port);
  }));
  ASSERT_TRUE(deaf.send_bytes(message(COMM_HELLO, secret().c_str())));
  ASSERT_TRUE(eventually([&] { return count_slaves(&opts) == 1; }));
  testing::internal::CaptureStdout();
  for (int i = 0; i < 200000 && count_slaves(&opts) == 1; ++i) send_step_layout_to_slaves(&opts);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(count_slaves(&opts), 0);
  EXPECT_NE(out.find("send() failed. closing slave 0 connection.\n"), std::string::npos);
  EXPECT_TRUE(deaf.closed_by_other_end());
  stop_master();

  add_channels(2);
  listen_as_master();
  small_buffer(listener);
  start_slave();
  Peer m;
  ASSERT_TRUE(accept_slave(m));
  ASSERT_TRUE(eventually([&] { return send_add_channel(&opts, 1) == 0; }));
  int rc = 0;
  for (int i = 0; i < 200000 && rc == 0; ++i) rc = send_add_channel(&opts, 1);
  EXPECT_EQ(rc, -4);
  Peer again;
  EXPECT_TRUE(accept_slave(again));
}

TEST_F(Link, taken_port_shows_the_bind_box_and_ends_the_window) {
  listen_as_master();
  start_master();
  master.join();
  EXPECT_EQ(master_rc, -1);
  EXPECT_EQ(last_box, "Unable to bind master socket to the specified port.bind() failed.\n");
  EXPECT_EQ(app_quit.load(), 1u);
}

TEST_F(Link, sends_without_slaves_or_listener_report_it) {
  add_channels(2);
  EXPECT_EQ(send_add_channel_to_slave(&opts, 1), -1);  // no listening socket
  start_master();
  ASSERT_TRUE(eventually([&] {
    return send_add_channel_to_slave(&opts, 1) == -5;  // listening, no slave
  }));
  EXPECT_EQ(send_add_channel_to_slave(&opts, 99), -2);
  Peer s;
  ASSERT_TRUE(connect_slave(s, 1));
  EXPECT_EQ(send_add_channel_to_slave(&opts, 1), 0);
  COMM_FIELDS m;
  ASSERT_TRUE(s.wait_for(COMM_ADD_CHANNEL, &m));
  EXPECT_STREQ(m.msg, "DVR-1");
  EXPECT_EQ(m.value[8], 2);
  EXPECT_EQ(m.value[9], 2);
}

// The link's address and port from the environment: a bad value keeps the default with one
// line; only the main window takes the address, and then listens on it alone.
TEST_F(Link, listener_address_and_port_come_from_the_environment) {
  struct Case {
    const char* port;
    const char* address;
    int mode;
    uint16_t want_port;
    const char* want_address;
    int lines;
  } cases[] = {
      {"7001", "127.0.0.2", 0, 7001, "127.0.0.2", 0},
      {"0", "localhost", 0, LINK_DEFAULT_PORT, "127.0.0.1", 2},
      {"65536", "0.0.0.0", 0, LINK_DEFAULT_PORT, "0.0.0.0", 1},
      {"12x", "127.0.0.2", 1, LINK_DEFAULT_PORT, "127.0.0.1", 1},
  };
  for (const Case& c : cases) {
    init_app_options(&opts);
    opts.mode = c.mode;
    setenv("VIGILO_LINK_PORT", c.port, 1);
    setenv("VIGILO_LINK_ADDRESS", c.address, 1);
    testing::internal::CaptureStdout();
    read_link_environment(&opts);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), c.lines)
        << c.port << " " << c.address << "\n"
        << out;
    for (const PEER_ENDPOINT& p : opts.peers) EXPECT_EQ(p.port, c.want_port) << c.port;
    EXPECT_STREQ(opts.peers[0].address, c.want_address) << c.address;
  }

  init_app_options(&opts);
  opts.context = ctx;
  setenv("VIGILO_LINK_PORT", std::to_string(port).c_str(), 1);
  setenv("VIGILO_LINK_ADDRESS", "127.0.0.2", 1);
  read_link_environment(&opts);
  unsetenv("VIGILO_LINK_PORT");
  unsetenv("VIGILO_LINK_ADDRESS");
  start_master();
  auto reaches = [&](const char* address) {
    Peer p;
    p.fd = socket(AF_INET, SOCK_STREAM, 0);
    return connect_fd(p.fd, port, address);
  };
  ASSERT_TRUE(eventually([&] { return reaches("127.0.0.2"); }));
  EXPECT_FALSE(reaches("127.0.0.1"));
}

// ---------------------------------------------------------------- slave

TEST_F(Link, slave_retries_every_second_until_a_master_listens) {
  start_slave();
  // Nothing to await: a refused connection leaves no trace here. Half a second covers the
  // slave's first attempt, made at once, even on a loaded machine; the connection accepted
  // is then one of its retries, a second apart.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  listen_as_master();
  Peer m;
  EXPECT_TRUE(accept_slave(m, 5000));
}

TEST_F(Link, slave_acknowledges_forwards_and_reconnects_after_a_bad_tag) {
  listen_as_master();
  start_slave();
  Peer m;
  ASSERT_TRUE(accept_slave(m));
  auto layout = message(COMM_SET_LAYOUT, "", {{3, 4}});
  ASSERT_TRUE(m.send_bytes({layout.begin(), layout.begin() + 100}));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_TRUE(m.send_bytes({layout.begin() + 100, layout.end()}));
  EXPECT_TRUE(m.wait_for(COMM_ACK));
  std::vector<COMM_FIELDS> got;
  ASSERT_TRUE(eventually([&] { return !(got = take_link_messages()).empty(); }));
  EXPECT_EQ(got[0].command, COMM_SET_LAYOUT);
  EXPECT_EQ(got[0].value[3], 4);
  // Silence on the link: a keep-alive with the slot value after 5 s of it.
  fake_now += 5000;
  COMM_FIELDS k;
  ASSERT_TRUE(m.wait_for(COMM_KEEP_ALIVE, &k));
  EXPECT_EQ(k.value[2], 30);
  // A bad tag ends the connection; the slave comes back.
  auto bad = message(COMM_SET_LAYOUT);
  bad[1] = 0;
  ASSERT_TRUE(m.send_bytes(bad));
  EXPECT_TRUE(m.closed_by_other_end());
  Peer again;
  EXPECT_TRUE(accept_slave(again));
}

TEST_F(Link, slave_hands_one_channel_to_its_master) {
  add_channels(4);
  opts.master = 0;
  EXPECT_EQ(send_add_channel(&opts, 2), -1);  // not connected
  listen_as_master();
  start_slave();
  Peer m;
  ASSERT_TRUE(accept_slave(m));
  ASSERT_TRUE(eventually([&] { return send_add_channel(&opts, 99) != -1; }));
  EXPECT_EQ(send_add_channel(&opts, 99), -2);
  EXPECT_EQ(send_add_channel(&opts, 2), 0);
  COMM_FIELDS got;
  ASSERT_TRUE(m.wait_for(COMM_ADD_CHANNEL, &got));
  EXPECT_STREQ(got.msg, "DVR-1");
  EXPECT_EQ(got.value[8], 4);
  EXPECT_EQ(got.value[9], 4);
  send_set_target(&opts);
  EXPECT_TRUE(m.wait_for(COMM_SET_TARGET));
}

// A slave closed by its operator says so and hands its channels back; one the master told
// to exit does neither, or the master, disconnecting too, would take them back.
TEST_F(Link, slave_says_close_and_hands_back_unless_the_master_told_it_to_exit) {
  CONNECTION_HOOKS hooks{};
  hooks.send_channels_to_master = hand_back_channels;
  set_connection_hooks(hooks);
  for (bool told_to_exit : {false, true}) {
    app_quit.store(0);
    add_channels(2);
    ctx->receivers[0].sel_vid_ch.store(3);
    opts.conn_state.store(CONN_CONNECTED);
    listen_as_master();
    start_slave();
    Peer m;
    ASSERT_TRUE(accept_slave(m));
    // The acknowledgement shows the slave connected and listening; the second one that it
    // is done with the first message.
    ASSERT_TRUE(m.send_bytes(message(told_to_exit ? COMM_EXIT : COMM_ROTATE_SELECTED)));
    ASSERT_TRUE(m.wait_for(COMM_ACK));
    ASSERT_TRUE(m.send_bytes(message(COMM_ROTATE_SELECTED)));
    ASSERT_TRUE(m.wait_for(COMM_ACK));
    // What the window loop does on SDL_QUIT.
    disconnect_dvr(&opts);
    app_quit.store(1);
    slave.join();
    close(listener);
    listener = -1;
    COMM_FIELDS last{};
    bool close_seen = false, channels_seen = false;
    while (m.read_message(&last) == 1) {
      close_seen |= last.command == COMM_CLOSE;
      channels_seen |= last.command == COMM_ADD_CHANNEL && last.value[8] == 3;
    }
    EXPECT_EQ(close_seen, !told_to_exit);
    EXPECT_EQ(channels_seen, !told_to_exit);
  }
}

// A slave hands its channels back when its operator disconnects or closes it, but not when
// its master commanded the disconnect: the master would only connect to them again.
TEST_F(Link, only_the_slaves_own_disconnect_hands_its_channels_back) {
  CONNECTION_HOOKS hooks{};
  hooks.send_channels_to_master = hand_back_channels;
  set_connection_hooks(hooks);
  listen_as_master();
  start_slave();
  Peer m;
  ASSERT_TRUE(accept_slave(m));
  ASSERT_TRUE(m.send_bytes(message(COMM_ROTATE_SELECTED)));
  ASSERT_TRUE(m.wait_for(COMM_ACK));
  struct Case {
    const char* what;
    bool from_master;
    bool hands_back;
  } cases[] = {{"master's COMM_DISCONNECT", true, false}, {"operator's disconnect", false, true}};
  for (const Case& c : cases) {
    add_channels(3);
    ctx->receivers[0].sel_vid_ch.store(5);
    ctx->receivers[0].audio_mask.store(1);
    opts.conn_state.store(CONN_CONNECTED);
    CONN_REQUEST local{COMM_DISCONNECT, 0, 0, 0};
    auto wire = message(COMM_DISCONNECT);
    handle_link_command(
        user_event(UE_LINK_COMMAND, c.from_master ? static_cast<void*>(wire.data()) : &local), ctx,
        &opts);
    EXPECT_EQ(opts.conn_state.load(), uint32_t(CONN_DISCONNECTED)) << c.what;
    COMM_FIELDS got;
    // Long enough for a hand-back on a busy machine; one that must not come gets a second.
    const bool handed = m.wait_for(COMM_ADD_CHANNEL, &got, c.hands_back ? 10000 : 1000);
    EXPECT_EQ(handed, c.hands_back) << c.what;
    if (handed) {
      EXPECT_STREQ(got.msg, "DVR-1");
      EXPECT_EQ(got.value[8], 5);
      EXPECT_EQ(got.value[9], 1);
    }
  }
}

// A slave's channels connect only a DVR of this station's setup, and choose the channels of
// that one connection: the operator's next connect of a DVR shows all of its channels.
TEST_F(Link, channels_from_a_slave_are_for_known_dvrs_and_that_connect_only) {
  const auto setup = run_tree_dir() / "setup.cfg";
  if (!std::filesystem::exists(setup)) GTEST_FAIL() << "no setup.cfg in the run tree";
  ASSERT_EQ(load_setup_info(setup.c_str()), 0);
  for (const char* name : {"a;touch x", "", "DVR-1x"}) {
    auto wire = message(COMM_ADD_CHANNEL, name, {{8, 1}, {9, 1}});
    handle_link_command(user_event(UE_LINK_COMMAND, wire.data()), ctx, &opts);
    EXPECT_EQ(opts.conn_state.load(), uint32_t(CONN_DISCONNECTED)) << name;
    EXPECT_STREQ(opts.auto_start, "") << name;
  }
  auto wire = message(COMM_ADD_CHANNEL, "DVR-1", {{8, 4}, {9, 4}});
  handle_link_command(user_event(UE_LINK_COMMAND, wire.data()), ctx, &opts);
  ASSERT_EQ(opts.conn_state.load(), uint32_t(CONN_CONNECTED));
  EXPECT_EQ(ctx->receivers[0].sel_vid_ch.load(), 4u);
  disconnect_dvr(&opts);
  CONN_REQUEST own{COMM_CONNECT, 0, 0, 0};  // the operator's double click on DVR-1
  handle_link_command(user_event(UE_LINK_COMMAND, &own), ctx, &opts);
  ASSERT_EQ(opts.conn_state.load(), uint32_t(CONN_CONNECTED));
  EXPECT_EQ(ctx->receivers[0].sel_vid_ch.load() & 0xFFFFu, 0xFFFFu) << "all 16 channels";
  disconnect_dvr(&opts);
}

}  // namespace
