// The protocol client against the simulated 'Q' DVR: login, fetch, send and information,
// and every fault of the DVR ending in its result within the time-out with the settings
// file untouched and nothing sent.
#include "tool/kpt4100/client/dvrsetup_client.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "peers/qdvr/qdvr_peer.h"
#include "tests/client/screens/eventually.h"
#include "tests/tool/tool_fixture.h"
#include "tool/kpt4100/eeprom_file.h"

namespace {

class DvrSetupClient : public ToolDir {
 protected:
  void SetUp() override {
    ToolDir::SetUp();
    dvrsetup_set_timeouts(1500, 0);
    dvrsetup_client_reset();
  }
  void TearDown() override {
    dvrsetup_client_reset();
    if (peer_) peer_->stop();
    ToolDir::TearDown();
  }
  // A DVR "Site" (16 cameras, user "admin"/"1234") in setup.cfg, answered by a peer.
  void start_peer(qdvr::PeerConfig cfg, const char* host_type = "IP",
                  const char* address = "127.0.0.1") {
    cfg.channels = 16;
    cfg.clip_frames = 1;
    cfg.user = "admin";
    cfg.password = "1234";
    peer_ = std::make_unique<qdvr::QdvrPeer>(cfg);
    ASSERT_TRUE(peer_->start());
    const std::string p = std::to_string(peer_->port());
    std::string cfg_text = fixture_setup_cfg();
    const std::string line =
        "Site=MW-2606QTR14," + std::string(address) + "," + p + "," + p + "," + p + "," + p + "," +
        p + ",80," + p + "," + host_type +
        ",16,\"x\",\"y\",\"1\",\"2\",\"3\",C1,C2,C3,C4,C5,C6,C7,C8,C9,C10,C11,C12,"
        "C13,C14,C15,C16,admin," +
        enc("1234");
    cfg_text.replace(cfg_text.find("num_dvr=3"), 9, "num_dvr=4\n" + line);
    write("setup.cfg", cfg_text);
  }
  int run(int mode, const char* password = "1234") {
    testing::internal::CaptureStdout();
    const int rc = dvrsetup_client("Site", "admin", password, mode);
    out_ = testing::internal::GetCapturedStdout();
    return rc;
  }
  int uploads_seen() {
    int n = 0;
    for (const qdvr::Request& r : peer_->requests()) n += r.type == 0xA1;
    return n;
  }
  std::unique_ptr<qdvr::QdvrPeer> peer_;
  std::string out_;
};

TEST_F(DvrSetupClient, fetch_send_and_fetch_again_round_trip) {
  start_peer({});
  ASSERT_EQ(1, run(DVRSETUP_LOGIN));
  EXPECT_NE(out_.find("User:\tadmin\nPass:\t********\nType:\t0\n"), std::string::npos) << out_;
  EXPECT_EQ(out_.find("1234"), std::string::npos);
  ASSERT_EQ(1, run(DVRSETUP_FETCH));
  EXPECT_NE(out_.find("PACKET_SIZE = 5818 \n"), std::string::npos);
  const std::string file = read(kEepromFile);
  ASSERT_EQ(32768u, file.size());
  const std::vector<uint8_t> image = peer_->settings();
  EXPECT_EQ(0, memcmp(file.data(), image.data(), image.size()));
  EXPECT_EQ(std::string(32768 - 5818, '\0'), file.substr(5818));
  EXPECT_TRUE(dvrsetup_fetched());
  ASSERT_EQ(0, read_eeprom_file(kEepromFile));
  get_edata()[84] = 'Z';
  ASSERT_EQ(0, write_eeprom_file(get_edata()));
  ASSERT_EQ(1, run(DVRSETUP_SEND));
  ASSERT_TRUE(peer_->wait_request(0xA1, 0, 5000));
  EXPECT_TRUE(eventually([&] { return peer_->uploads() == 1; }, 5000));
  EXPECT_EQ('Z', peer_->settings()[4 + 84]);
  EXPECT_EQ(1, run(DVRSETUP_INFO));
  EXPECT_EQ(0xA0, dvrsetup_dvr_info()[0]);
  ASSERT_EQ(1, run(DVRSETUP_FETCH));
  EXPECT_EQ('Z', read(kEepromFile)[4 + 84]);
  close_dvr_socket();
  EXPECT_EQ(0, run(DVRSETUP_FETCH));  // no socket: fails, touches nothing
  EXPECT_EQ(0, run(DVRSETUP_SEND));
  EXPECT_EQ(0, run(DVRSETUP_INFO));
  EXPECT_EQ(1, uploads_seen());
}

TEST_F(DvrSetupClient, fetch_faults_leave_the_file_untouched) {
  struct Case {
    qdvr::SetupFault fault;
    int want;
    bool socket_kept;
  } cases[] = {
      {qdvr::SetupFault::WrongCommand, 0, true}, {qdvr::SetupFault::Oversize, 0, false},
      {qdvr::SetupFault::ShortImage, 0, true},   {qdvr::SetupFault::Silent, 0, false},
      {qdvr::SetupFault::Split, 1, true},        {qdvr::SetupFault::BadCrc, DVRSETUP_BAD_CRC, true},
  };
  for (const Case& c : cases) {
    dvrsetup_client_reset();
    write(kEepromFile, "old file");
    qdvr::PeerConfig cfg;
    cfg.setup_fault = c.fault;
    start_peer(cfg);
    ASSERT_EQ(1, run(DVRSETUP_LOGIN));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(c.want, run(DVRSETUP_FETCH)) << int(c.fault);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    EXPECT_EQ(c.want == 1, dvrsetup_fetched()) << int(c.fault);
    if (c.want != 1) { EXPECT_EQ("old file", read(kEepromFile)) << int(c.fault); }
    // A connection the client dropped cannot carry an upload.
    EXPECT_EQ(c.socket_kept ? 1 : 0, run(DVRSETUP_SEND)) << int(c.fault);
    peer_->stop();
  }
}

TEST_F(DvrSetupClient, refused_error_and_silent_logins_fail) {
  struct Case {
    qdvr::Login login;
    const char* password;
  } cases[] = {
      {qdvr::Login::Refuse, "1234"},
      {qdvr::Login::Accept, "wrong"},  // an error reply (238) ahead of the refusal
      {qdvr::Login::Error, "1234"},
      {qdvr::Login::Silent, "1234"},
  };
  for (const Case& c : cases) {
    dvrsetup_client_reset();
    qdvr::PeerConfig cfg;
    cfg.login = c.login;
    start_peer(cfg);
    EXPECT_EQ(0, run(DVRSETUP_LOGIN, c.password)) << int(c.login);
    EXPECT_NE(out_.find("login() failed.\n"), std::string::npos);
    peer_->stop();
  }
}

TEST_F(DvrSetupClient, host_types_and_unknown_names) {
  start_peer({}, "DDNS");
  EXPECT_EQ(3, run(DVRSETUP_LOGIN));
  peer_->stop();
  start_peer({}, "FOO");
  EXPECT_EQ(2, run(DVRSETUP_LOGIN));
  testing::internal::CaptureStdout();
  EXPECT_EQ(2, dvrsetup_client("Nowhere", "admin", "1234", DVRSETUP_LOGIN));
  testing::internal::GetCapturedStdout();
  peer_->stop();
  start_peer({}, "NAME", "localhost");
  EXPECT_EQ(1, run(DVRSETUP_LOGIN));
  peer_->stop();
  dvrsetup_client_reset();
  EXPECT_EQ(-1, run(DVRSETUP_SEND));
  EXPECT_EQ("File does not exist", out_);
}

// A resolver that hangs (until released, or 30 s at most).
std::atomic<bool> lookup_entered{false}, lookup_released{false};
int hanging_lookup(const char*, uint32_t*) {
  lookup_entered = true;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!lookup_released && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return -1;
}

TEST_F(DvrSetupClient, a_hanging_host_lookup_ends_with_the_time_out_and_at_once_on_a_stop) {
  dvrsetup_set_resolver(hanging_lookup);
  start_peer({}, "NAME", "hangs.example");
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(-4, run(DVRSETUP_LOGIN));  // the step's 1500 ms
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(15));

  // Close while the look-up hangs: the step's own time-out is far away.
  dvrsetup_set_timeouts(60000, 0);
  lookup_entered = false;
  std::thread stopper([] {
    eventually([] { return lookup_entered.load(); }, 20000);
    dvrsetup_client_stop();
  });
  t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(-4, run(DVRSETUP_LOGIN));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(15));
  stopper.join();
  lookup_released = true;
  dvrsetup_set_resolver(nullptr);
}

}  // namespace
