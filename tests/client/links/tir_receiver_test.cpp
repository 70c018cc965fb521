// The 'S' receive thread against the simulated 'S' DVR: the MD5 login and its refusals,
// frames in the rings with their made-up clocks (re-based at each session), polls and the closing
// packet, and the faults after which the link is made again.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "client/links/tir_receiver.h"
#include "peers/sdvr/sdvr_peer.h"
#include "tests/client/links/link_harness.h"

namespace {

sdvr::PeerConfig peer_config() {
  sdvr::PeerConfig c;
  c.channels = 4;
  c.password = "secret";
  c.clip_frames = 3;
  return c;
}

void start_s(LinkHarness& h, uint16_t port) {
  h.rx->protocol = 'S';
  h.start_entry(recv_tir_data, port);
}

int64_t wall_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

TEST(SdvrLink, digest_login_then_frames_of_every_channel_with_their_own_clocks) {
  sdvr::PeerConfig cfg = peer_config();
  cfg.garbage = true;
  sdvr::SdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  testing::internal::CaptureStdout();
  std::vector<RingRecord> recs, later;
  int64_t up_ms = 0, taken_ms = 0;
  size_t outage_notices = 0;
  {
    LinkHarness h;
    h.rx->index = 3;
    start_s(h, peer.port());
    ASSERT_TRUE(h.take_until(24, 10000, &recs));
    EXPECT_EQ(RX_RECEIVING, h.rx->status.load());
    EXPECT_EQ(1u, h.events(UE_LOGGED_IN, 1, 2000).size());
    EXPECT_EQ(1, peer.connections());
    // Down for three more attempts, half a second apart, then up again.
    peer.set_offline(true);
    outage_notices = h.events(UE_RECEIVER_NOTICE, 4, 10000).size();
    h.take_all();
    up_ms = wall_ms();
    peer.set_offline(false);
    h.take_until(8, 10000, &later);
    taken_ms = wall_ms();
    h.stop();
    EXPECT_EQ(RX_ENDED, h.rx->status.load());
  }
  const std::string out = testing::internal::GetCapturedStdout();
  // The clocks of the session after the outage start from the wall clock, not from where the
  // outage left them.
  EXPECT_EQ(4u, outage_notices);
  EXPECT_GE(later.size(), 8u);
  for (const RingRecord& r : later) {
    const FRAME_HEADER fh = decode_frame_header(r.body.data());
    const int64_t ms = int64_t(fh.sec) * 1000 + fh.msec;
    EXPECT_GE(ms, up_ms) << "channel " << int(fh.channel);
    EXPECT_LE(ms, taken_ms + 1000) << "channel " << int(fh.channel);
  }
  sdvr::Packet login;
  ASSERT_TRUE(peer.wait_packet("0081", 0, 1000, &login));
  EXPECT_EQ(sdvr::md5_hex("secret"), std::string(login.bytes.begin() + 12, login.bytes.end()));
  EXPECT_EQ(std::string::npos, out.find("secret"));
  EXPECT_EQ(std::string::npos, out.find(sdvr::md5_hex("secret")));

  std::vector<int> seen(4, 0);
  std::vector<int64_t> last_ms(4, -1);
  for (const RingRecord& r : recs) {
    ASSERT_EQ('S', r.rh.protocol);
    ASSERT_EQ('Y', r.rh.media);
    FRAME_HEADER fh = decode_frame_header(r.body.data());
    ASSERT_LT(fh.channel, 4);
    EXPECT_EQ(3, fh.receiver);
    EXPECT_EQ(640, fh.width);
    EXPECT_EQ(272, fh.height);
    const std::vector<uint8_t>& sent = peer.clip_frame(fh.channel, seen[fh.channel]++);
    ASSERT_EQ(sent.size(), fh.size);
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), r.body.begin() + FRAME_HEADER_SIZE));
    const int64_t ms = int64_t(fh.sec) * 1000 + fh.msec;
    if (last_ms[fh.channel] >= 0) { EXPECT_EQ(40, ms - last_ms[fh.channel]); }
    last_ms[fh.channel] = ms;
  }
  for (int ch = 0; ch < 4; ++ch) EXPECT_GE(seen[ch], 4) << ch;
}

TEST(SdvrLink, refused_logins_print_why_and_retry_every_half_second) {
  const struct {
    sdvr::Answer answer;
    const char* password;
  } cases[] = {
      {sdvr::Answer::Two, "secret"},         {sdvr::Answer::Four, "secret"},
      {sdvr::Answer::OneThenFour, "secret"}, {sdvr::Answer::BadMagic, "secret"},
      {sdvr::Answer::OneThenThree, "wrong"},  // the DVR answers 2 to a wrong digest
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.password);
    SCOPED_TRACE(int(c.answer));
    sdvr::PeerConfig cfg = peer_config();
    cfg.answer = c.answer;
    cfg.channels = 1;
    cfg.clip_frames = 1;
    sdvr::SdvrPeer peer(cfg);
    ASSERT_TRUE(peer.start());
    testing::internal::CaptureStdout();
    {
      LinkHarness h;
      std::snprintf(h.rx->password, sizeof h.rx->password, "%s", c.password);
      start_s(h, peer.port());
      ASSERT_TRUE(peer.wait_packet("0081", 1, 5000));  // a second attempt
      const auto t0 = std::chrono::steady_clock::now();
      ASSERT_TRUE(peer.wait_packet("0081", 2, 5000));
      EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(400));
      EXPECT_EQ(0u, h.events(UE_LOGGED_IN, 1, 10).size());
    }
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("recv_login_resp() failed."), std::string::npos);
    EXPECT_NE(out.find("send_login_info() failed."), std::string::npos);
    EXPECT_EQ(0, peer.logins());
  }
}

TEST(SdvrLink, lower_case_replies_and_code_3_alone_log_in) {
  for (sdvr::Answer a : {sdvr::Answer::Three, sdvr::Answer::OneThenThree}) {
    sdvr::PeerConfig cfg = peer_config();
    cfg.answer = a;
    cfg.lower_case = true;
    sdvr::SdvrPeer peer(cfg);
    ASSERT_TRUE(peer.start());
    LinkHarness h;
    start_s(h, peer.port());
    std::vector<RingRecord> recs;
    EXPECT_TRUE(h.take_until(4, 10000, &recs));
    EXPECT_EQ(1, peer.logins());
  }
}

TEST(SdvrLink, polls_go_out_once_a_second_and_the_closing_packet_at_the_end) {
  sdvr::PeerConfig cfg = peer_config();
  cfg.fps = 2;  // a quiet DVR still gets its polls
  sdvr::SdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  {
    LinkHarness h;
    start_s(h, peer.port());
    sdvr::Packet poll;
    ASSERT_TRUE(peer.wait_packet("0085", 0, 5000, &poll));
    EXPECT_EQ("000A", std::string(poll.bytes.begin() + 12, poll.bytes.end()));
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(peer.wait_packet("0085", 2, 5000));
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(took, std::chrono::milliseconds(1900));
    EXPECT_LE(took, std::chrono::milliseconds(3500));
  }
  EXPECT_TRUE(peer.wait_packet(TIR_CLOSING_CODE, 0, 2000));
}

TEST(SdvrLink, garbage_oversized_frames_and_bad_control_lengths_keep_the_connection) {
  sdvr::PeerConfig cfg = peer_config();
  cfg.oversize_every = 5;
  cfg.bad_control_every = 7;
  cfg.fps = -1;
  sdvr::SdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  testing::internal::CaptureStdout();
  {
    LinkHarness h;
    start_s(h, peer.port());
    std::vector<RingRecord> recs;
    EXPECT_TRUE(h.take_until(60, 15000, &recs));
    for (const RingRecord& r : recs)
      ASSERT_LE(decode_frame_header(r.body.data()).size, TIR_VIDEO_BUFFER_SIZE);
  }
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("exceeds its buffer; dropped."), std::string::npos);
  EXPECT_EQ(1, peer.connections());
}

TEST(SdvrLink, drop_mid_frame_reconnects_and_frames_flow_again) {
  sdvr::PeerConfig cfg = peer_config();
  cfg.drop_after = 10;
  sdvr::SdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  LinkHarness h;
  start_s(h, peer.port());
  ASSERT_TRUE(LinkHarness::wait_for([&] { return peer.connections() >= 3; }, 15000));
  std::vector<RingRecord> recs;
  EXPECT_TRUE(h.take_until(12, 10000, &recs));
  EXPECT_GE(h.events(UE_RECEIVER_NOTICE, 2, 2000).size(), 2u);
}

TEST(SdvrLink, stalled_dvr_and_refused_connect_let_go_within_half_a_second) {
  sdvr::PeerConfig cfg = peer_config();
  cfg.stall = true;
  sdvr::SdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  {
    LinkHarness h;
    h.rx->sock_timeout = 30;
    start_s(h, peer.port());
    ASSERT_TRUE(peer.wait_packet("0081", 0, 5000));
    h.expect_quick_stop();
  }
  // Nobody listens: every attempt fails at once and the next comes 500 ms later.
  const uint16_t closed_port = peer.port();
  peer.stop();
  LinkHarness h;
  start_s(h, closed_port);
  const auto t0 = std::chrono::steady_clock::now();
  auto notices = h.events(UE_RECEIVER_NOTICE, 3, 5000);
  ASSERT_GE(notices.size(), 3u);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(900));
  EXPECT_EQ(RX_FAILED, h.rx->status.load());
}

TEST(SdvrLink, ddns_host_type_is_not_tried_and_waits_between_attempts) {
  LinkHarness h;
  std::snprintf(h.rx->host_type, sizeof h.rx->host_type, "DDNS");
  start_s(h, 1);
  const auto t0 = std::chrono::steady_clock::now();
  auto notices = h.events(UE_RECEIVER_NOTICE, 3, 5000);
  ASSERT_GE(notices.size(), 3u);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(900));
}

}  // namespace
