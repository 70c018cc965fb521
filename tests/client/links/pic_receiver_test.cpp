// The 'I' receive thread against the simulated 'I' DVR: login, pictures in the rings with
// their PICTURE_HEADER, channel changes, the playback commands, and the faults after which
// the link is made again.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "client/links/pic_receiver.h"
#include "peers/idvr/idvr_peer.h"
#include "tests/client/links/link_harness.h"

namespace {

idvr::PeerConfig peer_config() {
  idvr::PeerConfig c;
  c.channels = 4;
  c.width = 176;
  c.height = 144;
  c.clip_frames = 20;
  c.gop = 10;
  return c;
}

void start_i(LinkHarness& h, const idvr::IdvrPeer& peer) {
  h.rx->protocol = 'I';
  h.rx->pb_port = peer.pb_port();
  h.rx->ctrl_port = peer.ctrl_port();
  h.start_entry(recv_data, peer.live_port());
}

// Every record is a picture of the DVR's clip in order per channel, with its header.
void expect_clip_pictures(const std::vector<RingRecord>& recs, const idvr::IdvrPeer& peer,
                          int receiver, int scale) {
  std::vector<int> seen(16, 0);
  for (const RingRecord& r : recs) {
    ASSERT_EQ('I', r.rh.protocol);
    ASSERT_EQ('Y', r.rh.media);
    PICTURE_HEADER ph = decode_picture_header(r.body.data());
    ASSERT_LT(ph.channel, 4);
    EXPECT_EQ(receiver, ph.receiver);
    EXPECT_EQ(scale, ph.scale);
    EXPECT_EQ(176, ph.hsize);
    EXPECT_EQ(144, ph.vsize);
    const int i = seen[ph.channel]++;
    EXPECT_EQ(peer.clip_key(ph.channel, i) ? 0 : 1, ph.vop_type);
    EXPECT_EQ(uint16_t(i % 10), ph.seq_cnt);
    EXPECT_LT(std::llabs(int64_t(ph.sec) - dvr_wall_seconds()), 300) << "stamped today";
    const std::vector<uint8_t>& sent = peer.clip_frame(ph.channel, i);
    ASSERT_EQ(sent.size(), ph.size);
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), r.body.begin() + PICTURE_HEADER_SIZE));
  }
}

TEST(IdvrLink, login_then_pictures_with_their_headers_and_receiver_index) {
  for (bool interlaced : {false, true}) {
    SCOPED_TRACE(interlaced);
    idvr::PeerConfig cfg = peer_config();
    cfg.interlaced = interlaced;
    // The second DVR answers the login again before every picture: still one login event.
    cfg.login_every = interlaced ? 1 : 0;
    idvr::IdvrPeer peer(cfg);
    ASSERT_TRUE(peer.start());
    testing::internal::CaptureStdout();
    std::vector<RingRecord> recs;
    {
      LinkHarness h;
      h.rx->index = 2;
      start_i(h, peer);
      ASSERT_TRUE(h.take_until(40, 10000, &recs));
      EXPECT_EQ(1u, h.events(UE_LOGGED_IN, 2, 300).size());
      EXPECT_EQ(RX_RECEIVING, h.rx->status.load());
    }
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("ctrl_pid = 4242"), std::string::npos);
    EXPECT_EQ(std::string::npos, out.find("secret"));
    idvr::Record login;
    ASSERT_TRUE(peer.wait_record(1, 0, 1000, &login));
    EXPECT_EQ(1u, login.sub);
    EXPECT_EQ("admin", std::string(reinterpret_cast<const char*>(login.bytes.data() + 16)));
    EXPECT_EQ("secret", std::string(reinterpret_cast<const char*>(login.bytes.data() + 24)));
    EXPECT_TRUE(peer.wait_record(1, 1, 2000, &login));  // the logout
    EXPECT_EQ(2u, login.sub);
    expect_clip_pictures(recs, peer, 2, interlaced ? 9 : 2);
    EXPECT_EQ(1, peer.connections());
  }
}

TEST(IdvrLink, channel_change_goes_after_login_and_again_when_the_shown_mask_changes) {
  {
    idvr::IdvrPeer peer(peer_config());
    ASSERT_TRUE(peer.start());
    LinkHarness h;
    start_i(h, peer);
    idvr::Record change;
    ASSERT_TRUE(peer.wait_record(5, 0, 5000, &change));
    EXPECT_EQ(0xFu, get_le32(change.bytes.data() + 16));
    EXPECT_EQ(0u, get_le32(change.bytes.data() + 20));
    const auto recs = peer.records();
    ASSERT_GE(recs.size(), 2u);
    EXPECT_EQ(1u, recs[0].kind);  // the login came first
    h.rx->shown_mask = 0x3;
    ASSERT_TRUE(peer.wait_record(5, 1, 5000, &change));
    EXPECT_EQ(0x3u, get_le32(change.bytes.data() + 16));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(peer.wait_record(5, 2, 0));  // nothing changed: nothing sent
  }

  // A DVR that closes without kind 1: no channel change, a new attempt 500 ms later.
  idvr::PeerConfig cfg = peer_config();
  cfg.refuse = true;
  idvr::IdvrPeer refusing(cfg);
  ASSERT_TRUE(refusing.start());
  LinkHarness r;
  start_i(r, refusing);
  ASSERT_TRUE(refusing.wait_record(1, 0, 5000));
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(LinkHarness::wait_for([&] { return refusing.connections() >= 3; }, 5000));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(900));
  EXPECT_FALSE(refusing.wait_record(5, 0, 0));
  EXPECT_EQ(0u, r.events(UE_LOGGED_IN, 1, 10).size());
}

TEST(IdvrLink, playback_sends_its_three_commands_in_order_and_drops_the_extra_blocks) {
  idvr::PeerConfig cfg = peer_config();
  cfg.extra_block = 3000;  // more than one read of the record loop
  idvr::IdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  LinkHarness h;
  std::snprintf(h.rx->file_name, sizeof h.rx->file_name, "2024-03-05_10.mp4");
  h.rx->position = 17;
  h.rx->op_mode = 2;
  start_i(h, peer);
  ASSERT_TRUE(peer.wait_commands(3, 10000));
  std::vector<RingRecord> recs;
  ASSERT_TRUE(h.take_until(20, 10000, &recs));
  expect_clip_pictures(recs, peer, 0, 2);
  const auto c = peer.commands();
  ASSERT_EQ(3u, c.size());
  for (const auto& cmd : c) EXPECT_TRUE(cmd.prefixed) << cmd.text;
  EXPECT_EQ("msgqtype\n4242", c[0].text);
  EXPECT_EQ("requestfile2024-03-05_10.mp4", c[1].text);
  EXPECT_EQ("seek17", c[2].text);
  EXPECT_GE(c[1].at_ms - c[0].at_ms, 490);
  EXPECT_GE(c[2].pictures_before, 1);
  EXPECT_EQ(1, peer.connections());
}

TEST(IdvrLink, each_fault_ends_only_its_attempt_and_pictures_flow_again) {
  const struct {
    const char* name;
    idvr::Oversize oversize;
    int drop_after;
    bool playback;
    const char* line;
  } cases[] = {
      {"frame", idvr::Oversize::Frame, 0, false, "MP4 data size exceeds maximum: 262145/262144."},
      {"drop", idvr::Oversize::Drop, 0, false, "data block of 49 bytes exceeds 48."},
      {"extra", idvr::Oversize::Extra, 0, true, "playback block of"},
      {"cut", idvr::Oversize::None, 6, false, "Error receiving data from socket."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    idvr::PeerConfig cfg = peer_config();
    cfg.oversize = c.oversize;
    cfg.oversize_after = 5;
    cfg.drop_after = c.drop_after;
    idvr::IdvrPeer peer(cfg);
    ASSERT_TRUE(peer.start());
    testing::internal::CaptureStdout();
    {
      LinkHarness h;
      if (c.playback) std::snprintf(h.rx->file_name, sizeof h.rx->file_name, "f.mp4");
      start_i(h, peer);
      ASSERT_TRUE(LinkHarness::wait_for([&] { return peer.connections() >= 2; }, 10000));
      std::vector<RingRecord> recs;
      EXPECT_TRUE(h.take_until(8, 10000, &recs));
      for (const RingRecord& r : recs)
        ASSERT_LE(decode_picture_header(r.body.data()).size, PIC_MAX_FRAME);
      EXPECT_GE(h.events(UE_RECEIVER_NOTICE, 1, 2000).size(), 1u);
    }
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find(c.line), std::string::npos);
  }
}

TEST(IdvrLink, unknown_kinds_print_a_bounded_text_and_keep_the_connection) {
  idvr::PeerConfig cfg = peer_config();
  cfg.unknown_every = 3;
  idvr::IdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  testing::internal::CaptureStdout();
  {
    LinkHarness h;
    start_i(h, peer);
    std::vector<RingRecord> recs;
    ASSERT_TRUE(h.take_until(20, 10000, &recs));
    expect_clip_pictures(recs, peer, 0, 2);
  }
  const std::string out = testing::internal::GetCapturedStdout();
  const size_t at = out.find("Unknown data received: ");
  ASSERT_NE(at, std::string::npos);
  const std::string line = out.substr(at, out.find('\n', at) - at);
  EXPECT_EQ(std::string("Unknown data received: ").size() + PIC_RECORD_SIZE, line.size());
  EXPECT_NE(line.find("GARBAGE.."), std::string::npos);
  EXPECT_EQ(1, peer.connections());
}

TEST(IdvrLink, stalled_dvr_lets_go_within_half_a_second) {
  idvr::PeerConfig cfg = peer_config();
  cfg.stall = true;
  idvr::IdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  LinkHarness h;
  h.rx->sock_timeout = 30;
  start_i(h, peer);
  ASSERT_TRUE(peer.wait_record(1, 0, 5000));
  h.expect_quick_stop();
}

TEST(IdvrPictures, size_limit_interval_vop_type_and_selection_are_checked) {
  LinkHarness h;
  std::vector<uint8_t> data(0x40001, 0x22);
  auto wire = [](uint32_t size, uint32_t channel, uint32_t interval, uint32_t vop) {
    std::vector<uint8_t> r =
        idvr::video_record(size, vop == 0, 0, int(channel), 176, 144, false, interval, 0, 5, 0);
    put_le32(r.data() + 16, vop);
    return std::vector<uint8_t>(r.begin() + 12, r.end());
  };
  testing::internal::CaptureStdout();
  EXPECT_EQ(0, recv_picture_frame(wire(0x40000, 1, 30, 0).data(), data.data(), h.rx));
  EXPECT_EQ(-1, recv_picture_frame(wire(0x40001, 1, 30, 0).data(), data.data(), h.rx));
  EXPECT_EQ(-1, recv_picture_frame(wire(100, 1, 31, 0).data(), data.data(), h.rx));
  EXPECT_EQ(-1, recv_picture_frame(wire(100, 1, 30, 2).data(), data.data(), h.rx));
  h.rx->sel_vid_ch = 0x1;
  EXPECT_EQ(-1, recv_picture_frame(wire(100, 1, 30, 0).data(), data.data(), h.rx));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("MP4 data size exceeds maximum: 262145/262144."), std::string::npos);
  EXPECT_NE(out.find("Invalid header! (-4)"), std::string::npos);
  EXPECT_NE(out.find("Invalid header! (-5)"), std::string::npos);
  EXPECT_NE(out.find("received an unselected video channel."), std::string::npos);
  auto recs = h.take_all();
  ASSERT_EQ(1u, recs.size());
  EXPECT_EQ(0x40000u, decode_picture_header(recs[0].body.data()).size);
  EXPECT_EQ(12u + PICTURE_HEADER_SIZE + 0x40000, 12u + recs[0].rh.size);

  uint8_t rec[PIC_RECORD_SIZE] = {};
  std::memset(rec + 16, '9', 60);     // digits to the end of the body: no read beyond it
  EXPECT_EQ(0, parse_ctrl_pid(rec));  // too large for an id
  std::memcpy(rec + 16, "1234", 5);
  EXPECT_EQ(1234, parse_ctrl_pid(rec));
}

}  // namespace
