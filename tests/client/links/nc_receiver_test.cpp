// The 'Q' receive thread against the simulated DVR: login per version pair, live frames in
// the rings, replies turned into notices, and the bad inputs a DVR can send.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "client/foundation/config/mailslot.h"
#include "client/foundation/stats.h"
#include "client/links/fsh_info.h"
#include "platform/net/net.h"
#include "platform/sync/test_clock.h"
#include "tests/client/links/link_harness.h"

namespace {

qdvr::PeerConfig small_peer() {
  qdvr::PeerConfig c;
  c.channels = 4;
  c.width = 176;
  c.height = 144;
  c.fps = 30;
  c.clip_frames = 30;
  return c;
}

int count_video(const std::vector<RingRecord>& recs) {
  int n = 0;
  for (const auto& r : recs) n += r.rh.media == 'Y';
  return n;
}

// Runs a link against `peer` until it tells the DVR it leaves (after it printed why the
// login failed) and checks that it never logged in; `out` gets what the link printed, its
// closing lines included.
void run_refused_login(qdvr::QdvrPeer& peer, std::string* out) {
  testing::internal::CaptureStdout();
  {
    LinkHarness h;
    h.start(peer.port());
    EXPECT_TRUE(peer.wait_request(7, 0, 20000));
    EXPECT_EQ(0, h.rx->logged_in.load());
  }
  *out = testing::internal::GetCapturedStdout();
}

// A link to a DVR of small_peer() that has logged in and asked for its channels.
class QdvrLive : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(peer.start());
    h.start(peer.port());
    ASSERT_TRUE(peer.wait_request(3, 0, 5000));
  }
  qdvr::QdvrPeer peer{small_peer()};
  LinkHarness h;
};

TEST(QdvrLink, live_frames_land_in_the_rings_with_their_headers_and_bytes) {
  qdvr::QdvrPeer peer(small_peer());
  ASSERT_TRUE(peer.start());
  LinkHarness h;
  h.rx->channels[3].audio_on.store(0);  // nobody listens to channel 3: no ring space for it
  h.start(peer.port());
  qdvr::Request sel;
  ASSERT_TRUE(peer.wait_request(3, 0, 5000, &sel));
  ASSERT_EQ(12u, sel.body.size());
  EXPECT_EQ(0x0Fu, uint32_t(sel.body[3]));
  EXPECT_EQ(17, sel.body[8]);
  EXPECT_EQ(4, sel.body[9]);
  EXPECT_EQ(1, sel.body[11]);
  ASSERT_TRUE(peer.wait_frames(16, 5000));
  std::vector<RingRecord> recs;
  ASSERT_TRUE(h.take_until(12, 5000, &recs, 'Y'));
  EXPECT_EQ(RX_RECEIVING, h.rx->status.load());
  int first_of[4] = {-1, -1, -1, -1};
  int audio = 0;
  for (const auto& r : recs) {
    ASSERT_EQ('Q', r.rh.protocol);
    if (r.rh.media == 'A') {
      ASSERT_EQ(AUDIO_RECORD_SIZE, r.rh.size);
      AUDIO_FRAME_HEADER ah = decode_audio_frame_header(r.body.data());
      EXPECT_EQ(512, ah.samples);
      EXPECT_EQ(8000, ah.rate);
      ASSERT_LT(ah.channel, 3);
      // The peer maps each channel to its own audio block, carrying that channel's tone.
      const std::vector<uint8_t>& tone = qdvr::tone_block(ah.channel);
      EXPECT_TRUE(std::equal(tone.begin(), tone.end(), r.body.begin() + AUDIO_FRAME_HEADER_SIZE))
          << "channel " << ah.channel;
      ++audio;
      continue;
    }
    ASSERT_EQ('Y', r.rh.media);
    FRAME_HEADER fh = decode_frame_header(r.body.data());
    ASSERT_EQ(FRAME_HEADER_SIZE + fh.size, r.rh.size);
    EXPECT_EQ(0xFFFF, fh.start_key);
    EXPECT_EQ(0, fh.receiver);
    EXPECT_EQ(176, fh.width);
    EXPECT_EQ(144, fh.height);
    EXPECT_EQ(7, fh.kind);
    EXPECT_LT(std::llabs(int64_t(fh.sec) - dvr_wall_seconds()), 300) << "stamped today";
    ASSERT_LT(fh.channel, 4);
    if (first_of[fh.channel] < 0) {
      first_of[fh.channel] = 1;
      // The first frame of each channel is the clip's first access unit, a key frame.
      EXPECT_EQ(1, fh.frame_type);
      const auto& au = peer.clip_frame(fh.channel, 0);
      ASSERT_EQ(au.size(), fh.size);
      EXPECT_EQ(0, std::memcmp(au.data(), r.body.data() + FRAME_HEADER_SIZE, au.size()));
    }
  }
  for (int c = 0; c < 4; ++c) EXPECT_EQ(1, first_of[c]) << "no frame of channel " << c;
  EXPECT_GT(audio, 0);
  h.stop();
  // Leaving the DVR says so before the link closes.
  EXPECT_TRUE(peer.wait_request(7, 0, 2000));
  EXPECT_EQ(RX_ENDED, h.rx->status.load());
}

// A DVR that sends each set of audio blocks in a packet of its own (mode 64, no frame, byte 8
// naming the camera and byte 24 its audio channel): every camera hears the audio channel
// its header names, the third one too.
TEST(QdvrLink, audio_only_packets_give_each_camera_the_audio_its_header_names) {
  {
    qdvr::PeerConfig cfg = small_peer();
    cfg.audio_packets = true;
    qdvr::QdvrPeer peer(cfg);
    ASSERT_TRUE(peer.start());
    LinkHarness h;
    for (int k = 0; k < 4; ++k) h.rx->channels[k].audio_on.store(k == 2 ? 1 : 0);
    h.start(peer.port());
    std::vector<RingRecord> recs;
    ASSERT_TRUE(h.take_until(6, 10000, &recs, 'A')) << "channel 3 hears nothing";
    const std::vector<uint8_t>& tone = qdvr::tone_block(2);
    for (const auto& r : recs) {
      if (r.rh.media != 'A') continue;
      EXPECT_EQ(2, decode_audio_frame_header(r.body.data()).channel);
      EXPECT_TRUE(std::equal(tone.begin(), tone.end(), r.body.begin() + AUDIO_FRAME_HEADER_SIZE));
    }
  }
  // A DVR whose camera 3 has audio channel 1 (and frames without audio): camera 3 hears
  // channel 1's block, and camera 1, of that channel's own number, hears nothing.
  qdvr::PeerConfig cfg = small_peer();
  cfg.audio = false;
  qdvr::QdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  LinkHarness h;
  h.start(peer.port());
  ASSERT_TRUE(peer.wait_request(3, 0, 5000));
  std::vector<uint8_t> body = qdvr::build_fsh(3, 3, 176, 144, 0, false, 1000, 0, 0, true, 1);
  for (int slot = 0; slot < 4; ++slot) {
    const std::vector<uint8_t>& tone = qdvr::tone_block(3 - slot);
    body.insert(body.end(), tone.begin(), tone.end());
  }
  peer.send_raw(qdvr::packet(3, 64, body, true));
  std::vector<RingRecord> recs;
  ASSERT_TRUE(h.take_until(1, 5000, &recs, 'A'));
  ASSERT_TRUE(h.take_until(8, 5000, &recs, 'Y'));  // frames read after the audio packet
  int audio = 0;
  const std::vector<uint8_t>& tone = qdvr::tone_block(1);
  for (const auto& r : recs) {
    if (r.rh.media != 'A') continue;
    ++audio;
    EXPECT_EQ(3, decode_audio_frame_header(r.body.data()).channel);
    EXPECT_TRUE(std::equal(tone.begin(), tone.end(), r.body.begin() + AUDIO_FRAME_HEADER_SIZE));
  }
  EXPECT_EQ(1, audio);
}

TEST(QdvrLink, every_version_pair_selects_its_frame_header_layout) {
  struct Case {
    uint32_t v, s;
    int layout;
  } cases[] = {
      {0x2200, 0x0302, 0}, {0x2200, 0x0303, 3}, {0x22F0, 0x0101, 1},
      {0x22F0, 0x0202, 2}, {0x22F0, 0x0404, 3}, {0x3211, 0x0503, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.v << "/" << c.s);
    qdvr::PeerConfig cfg = small_peer();
    cfg.version = c.v;
    cfg.sub_version = c.s;
    cfg.clip_frames = 5;
    qdvr::QdvrPeer peer(cfg);
    ASSERT_TRUE(peer.start());
    ASSERT_EQ(c.layout, peer.layout());
    LinkHarness h;
    h.start(peer.port());
    std::vector<RingRecord> recs;
    ASSERT_TRUE(h.take_until(4, 5000, &recs, 'Y'));
    for (const auto& r : recs) {
      if (r.rh.media != 'Y') continue;
      FRAME_HEADER fh = decode_frame_header(r.body.data());
      EXPECT_EQ(176, fh.width);
      EXPECT_EQ(144, fh.height);
      EXPECT_EQ(FRAME_HEADER_SIZE + fh.size, r.rh.size);
    }
    ASSERT_NE(nullptr, h.rx->nc_state);
    EXPECT_EQ(c.layout, h.rx->nc_state->fsh_layout);
  }
}

TEST(QdvrLink, login_body_carries_user_and_password_and_never_prints_them) {
  qdvr::PeerConfig cfg = small_peer();
  cfg.user = "admin";
  cfg.password = "secret";
  qdvr::QdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  testing::internal::CaptureStdout();
  {
    LinkHarness h;
    h.start(peer.port());
    ASSERT_TRUE(peer.wait_request(3, 0, 5000));  // the login was accepted
    EXPECT_EQ(1, peer.logins());
  }
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(std::string::npos, out.find("secret"));
}

TEST(QdvrLink, each_refused_login_prints_its_message_and_asks_for_no_channels) {
  // Code 0: a login reply of a version pair the client does not know.
  struct Case {
    uint16_t code;
    const char* line;
  } cases[] = {
      {0, "client software mismatched!\n"},
      {0x1021, "ERROR : There is not a valid accounts.\n"},
      {0x1022, "ERROR : The password was incorrect.\n"},
      {0x1023, "ERROR : The connection session was exceeded.\n"},
      {0x1024, "ERROR : While backup it will not be able to connect.!!\n"},
      {0x1002, "ERROR : UNKNOWN COMMAND!!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.code);
    qdvr::PeerConfig cfg = small_peer();
    cfg.clip_frames = 1;
    if (c.code == 0) {
      cfg.version = 0x3211;
      cfg.sub_version = 0x0502;
    } else {
      cfg.login = qdvr::Login::Error;
      cfg.login_error = c.code;
    }
    qdvr::QdvrPeer peer(cfg);
    ASSERT_TRUE(peer.start());
    std::string out;
    ASSERT_NO_FATAL_FAILURE(run_refused_login(peer, &out));
    EXPECT_NE(std::string::npos, out.find(c.line));
    if (c.code != 0) { EXPECT_NE(std::string::npos, out.find("login() failed.\n")); }
    EXPECT_FALSE(peer.wait_request(3, 0, 10));
  }
}

TEST(QdvrLink, garbage_oversized_and_truncated_packets_are_skipped_on_one_connection) {
  qdvr::PeerConfig cfg = small_peer();
  cfg.garbage_every = 3;
  cfg.oversize_every = 5;
  cfg.truncate_every = 7;
  qdvr::QdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  testing::internal::CaptureStdout();
  LinkHarness h;
  h.start(peer.port());
  std::vector<RingRecord> recs;
  EXPECT_TRUE(h.take_until(40, 8000, &recs, 'Y'));
  h.stop();
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(1, peer.connections());
  EXPECT_NE(std::string::npos, out.find("inside find_magic_code()"));
  for (const auto& r : recs) {
    if (r.rh.media != 'Y') continue;
    FRAME_HEADER fh = decode_frame_header(r.body.data());
    EXPECT_LT(fh.size, 100000u) << "a truncated frame was stored";
    EXPECT_EQ(FRAME_HEADER_SIZE + fh.size, r.rh.size);
  }
}

TEST(QdvrLink, drop_mid_frame_reconnects_and_keeps_what_was_stored) {
  qdvr::PeerConfig cfg = small_peer();
  cfg.drop_after = 10;
  qdvr::QdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  LinkHarness h;
  h.start(peer.port());
  ASSERT_TRUE(LinkHarness::wait_for([&] { return peer.connections() >= 2; }, 8000));
  ASSERT_TRUE(peer.wait_request(2, 1, 5000));  // logged in again
  std::vector<RingRecord> recs = h.take_all();
  for (const auto& r : recs) {
    ASSERT_EQ(0xFFFF, r.rh.start_key);
    if (r.rh.media == 'Y') {
      FRAME_HEADER fh = decode_frame_header(r.body.data());
      EXPECT_EQ(FRAME_HEADER_SIZE + fh.size, r.rh.size);
    }
  }
  EXPECT_GE(count_video(recs), 9);
  auto notices = h.events(UE_RECEIVER_NOTICE, 1, 2000);
  EXPECT_GE(notices.size(), 1u);
}

TEST(QdvrLink, silent_dvr_times_out_and_is_retried) {
  qdvr::PeerConfig cfg = small_peer();
  cfg.stall = true;
  cfg.clip_frames = 1;
  qdvr::QdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  LinkHarness h;
  h.rx->sock_timeout = 2;
  std::atomic<bool> saw4{false}, saw_fail{false}, done{false};
  std::thread watch([&] {
    while (!done.load()) {
      int s = h.rx->status.load();
      if (s == RX_CONNECTING) saw4 = true;
      if (s == RX_FAILED) saw_fail = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  h.start(peer.port());
  EXPECT_TRUE(LinkHarness::wait_for([&] { return peer.connections() >= 2; }, 9000));
  done = true;
  watch.join();
  // The stalled read leaves "stalled" (4) behind, which ends the receive loop.
  EXPECT_TRUE(saw4.load());
  auto t0 = std::chrono::steady_clock::now();
  h.stop();
  // The new link's 2 s read, just begun, is cut short rather than waited out.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1500));
}

// A DVR none of whose channels is on the current page is asked for nothing and sends
// nothing: the link outlives its read time-out, and the page that shows one of its channels
// asks for it on that same link, without waiting for the read to give up.
TEST(QdvrLink, quiet_unshown_dvr_stays_linked_and_a_page_change_asks_for_its_channels) {
  qdvr::QdvrPeer peer(small_peer());
  ASSERT_TRUE(peer.start());
  LinkHarness h;
  h.rx->sock_timeout = 2;
  h.rx->shown_mask = 0;
  h.start(peer.port());
  ASSERT_TRUE(LinkHarness::wait_for([&] { return h.rx->logged_in.load() == 1; }, 5000));
  EXPECT_FALSE(LinkHarness::wait_for([&] { return peer.connections() > 1; }, 3500))
      << "the quiet link was dropped and made again";
  EXPECT_FALSE(peer.wait_request(3, 0, 0)) << "asked for channels nobody sees";
  const int64_t shown_at = dvr_wall_seconds();
  h.rx->shown_mask = 0x2;  // the page moves to this DVR's second channel
  qdvr::Request sel;
  ASSERT_TRUE(peer.wait_request(3, 0, 5000, &sel));
  EXPECT_EQ(0x02u, uint32_t(sel.body[3]));
  EXPECT_EQ(1, peer.connections());
  std::vector<RingRecord> recs;
  ASSERT_TRUE(h.take_until(3, 5000, &recs, 'Y'));
  for (const auto& r : recs) {
    if (r.rh.media != 'Y') continue;
    const FRAME_HEADER fh = decode_frame_header(r.body.data());
    EXPECT_EQ(1, fh.channel);
    // Stamped with the DVR's clock when sent, not the seconds its link has been up.
    EXPECT_GE(int64_t(fh.sec), shown_at);
    EXPECT_LE(int64_t(fh.sec), dvr_wall_seconds());
  }
  EXPECT_EQ(1, peer.connections());
}

TEST(QdvrLink, refused_connection_is_retried_until_stopped) {
  uint16_t port = 0;
  {
    qdvr::QdvrPeer probe(small_peer());
    ASSERT_TRUE(probe.start());
    port = probe.port();
  }  // nothing listens there now
  testing::internal::CaptureStdout();
  LinkHarness h;
  h.start(port);
  EXPECT_TRUE(LinkHarness::wait_for([&] { return h.rx->status.load() == RX_FAILED; }, 10000));
  // Each failed attempt tells the window loop before the next one.
  EXPECT_EQ(2u, h.events(UE_RECEIVER_NOTICE, 2, 10000).size());
  auto t0 = std::chrono::steady_clock::now();
  h.stop();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));  // retried no more
  std::string out = testing::internal::GetCapturedStdout();
  size_t fails = 0;
  for (size_t p = out.find("0: connect(127.0.0.1) failed."); p != std::string::npos;
       p = out.find("0: connect(127.0.0.1) failed.", p + 1))
    ++fails;
  EXPECT_GE(fails, 2u);
  EXPECT_NE(std::string::npos, out.find("0: recv_stream() exited.\n"));
  EXPECT_EQ(RX_ENDED, h.rx->status.load());
}

TEST_F(QdvrLive, events_presets_search_and_errors_become_notices) {
  // Several alarms in a row: each keeps its own record until the loop has read it.
  for (uint32_t i = 0; i < 20; ++i) peer.send_event(1000 + i, 1u << (i % 4), 0x06);
  auto ev = h.notices(UE_DVR_EVENT, 20, 5000);
  ASSERT_EQ(20u, ev.size());
  tzset();
  for (uint32_t i = 0; i < 20; ++i) {
    auto* n = static_cast<const EVENT_NOTICE*>(ev[i].data());
    EXPECT_EQ(int64_t(1000 + i) + timezone, n->time);
    EXPECT_STREQ("DVR-A", n->dvr_name);
    EXPECT_EQ(0, n->marker);
    EXPECT_EQ(0x22, n->kind);
    EXPECT_EQ(1u << (i % 4), n->mask_motion);
    EXPECT_EQ(1u << (i % 4), n->mask_sensor);
  }
  // A 4-channel DVR's masks name channels 1-4 only: bits above them are no cameras to log,
  // mark or mail, however the DVR sets them.
  peer.send_event(2000, 0xFFFFFFFF, 0x06);
  peer.send_event(2001, 0xFFFFFFF0, 0x02);
  ev = h.notices(UE_DVR_EVENT, 2, 5000);
  ASSERT_EQ(2u, ev.size());
  auto* all = static_cast<const EVENT_NOTICE*>(ev[0].data());
  EXPECT_EQ(0x22, all->kind);
  EXPECT_EQ(0xFu, all->mask_motion);
  EXPECT_EQ(0xFu, all->mask_sensor);
  auto* beyond = static_cast<const EVENT_NOTICE*>(ev[1].data());
  EXPECT_EQ(0x02, beyond->kind);
  EXPECT_EQ(0u, beyond->mask_motion) << "only channels the DVR lacks";
  peer.send_presets({});
  peer.send_presets({1, 7, 255});
  auto pr = h.notices(UE_PRESET_LIST, 1, 3000);
  ASSERT_EQ(1u, pr.size());  // the empty reply pushed nothing
  auto* t = static_cast<const NC_PRESET_TABLE*>(pr[0].data());
  EXPECT_STREQ("PRESET 7", t->entry[7].preset_name);
  EXPECT_STREQ("DVR-A", t->entry[255].dvr_name);
  EXPECT_EQ(0, t->entry[2].number);
  EXPECT_EQ(0, t->entry[0].preset_name[0]);
  uint8_t info[124] = {};
  info[0] = 0xE9;
  info[1] = 0x07;  // 2025
  info[2] = 11;
  info[3] = 30;
  info[7 + 4] = 0x05;    // day 5: kinds 0x01 and 0x20
  info[40 + 23] = 0x08;  // hour 23: kind 0x40
  peer.send_search_reply(info);
  auto sr = h.notices(UE_SEARCH_DATA, 1, 3000);
  ASSERT_EQ(1u, sr.size());
  auto* rec = static_cast<const NC_SEARCH_RECORD*>(sr[0].data());
  EXPECT_EQ(2025, rec->year);
  EXPECT_EQ(30, rec->day);
  EXPECT_EQ(0x21, rec->day_info[4]);
  EXPECT_EQ(0x40, rec->hour_info[23]);
  testing::internal::CaptureStdout();
  peer.send_error(0x3021);
  const size_t boxes = h.notices(LINK_ERROR_BOX, 1, 10000).size();  // asked after the line
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(1u, boxes);
  EXPECT_NE(std::string::npos, out.find("INFO : There is not a search data.\n"));
  EXPECT_EQ(RX_RECEIVING, h.rx->status.load());  // error replies never end the link
}

TEST(QdvrLink, event_notice_reaches_a_mailslot_reader_unchanged) {
  char tmpl[] = "/tmp/vigilo-link-mailslot-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(tmpl));
  setenv("VIGILO_MAILSLOT_DIR", tmpl, 1);
  int reader = mailslot_create_reader();
  ASSERT_GE(reader, 0);
  qdvr::QdvrPeer peer(small_peer());
  ASSERT_TRUE(peer.start());
  LinkHarness h;
  h.start(peer.port());
  ASSERT_TRUE(peer.wait_request(3, 0, 5000));
  peer.send_event(5000, 0x3, 0x10);
  auto ev = h.notices(UE_DVR_EVENT, 1, 3000);
  ASSERT_EQ(1u, ev.size());
  auto* n = static_cast<const EVENT_NOTICE*>(ev[0].data());
  ASSERT_EQ(0, send_event_mailslot(*n));  // what the main window's handler does
  uint8_t buf[EVENT_NOTICE_SIZE];
  ASSERT_EQ(1, mailslot_read(reader, buf, sizeof buf));
  EXPECT_EQ(0x80, buf[140]);
  EXPECT_EQ(0x3u, get_le32(buf + 168));
  EXPECT_STREQ("DVR-A", reinterpret_cast<const char*>(buf + 8));
  mailslot_close_reader(reader);
  std::string rm = std::string("rm -rf ") + tmpl;
  (void)std::system(rm.c_str());
  unsetenv("VIGILO_MAILSLOT_DIR");
}

TEST(QdvrLink, video_loss_marks_channel_and_refuses_its_frames) {
  qdvr::QdvrPeer peer(small_peer());
  peer.set_video_loss(0xFFF1);  // a 4-channel DVR: bits above channel 3 mean nothing
  ASSERT_TRUE(peer.start());
  LinkHarness h;
  h.start(peer.port());
  auto ev = h.notices(UE_DVR_EVENT, 1, 5000);
  ASSERT_EQ(1u, ev.size());
  auto* n = static_cast<const EVENT_NOTICE*>(ev[0].data());
  EXPECT_EQ(1, n->marker);
  EXPECT_EQ(1u, n->mask_80) << "only the DVR's own channels";
  EXPECT_STREQ("DVR-A", n->dvr_name);
  EXPECT_EQ(3, h.rx->channels[0].video_state.load());
  ASSERT_TRUE(peer.wait_frames(20, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  for (const auto& r : h.take_all()) {
    if (r.rh.media == 'Y') { EXPECT_NE(0, decode_frame_header(r.body.data()).channel); }
  }
  // Packets the link skips, one too large for its buffer and one whose frame claims more
  // than it holds, both with a status of filler, change nothing: the event sent after them
  // is the next notice.
  std::vector<uint8_t> big(600000, 0xEE);
  big[0] = 0xF6;
  big[1] = 0xDE;
  peer.send_raw(qdvr::packet(3, 1, big, true));
  std::vector<uint8_t> cut(14, 0xEE);
  const std::vector<uint8_t> fsh =
      qdvr::build_fsh(3, 1, 176, 144, 5000, true, 1000, 0, 0, false, 0);
  cut.insert(cut.end(), fsh.begin(), fsh.end());
  cut.resize(cut.size() + 100, 0);
  peer.send_raw(qdvr::packet(3, 1, cut, true));
  peer.send_event(1000, 0x2, 0x02);
  ev = h.notices(UE_DVR_EVENT, 1, 5000);
  ASSERT_EQ(1u, ev.size());
  EXPECT_EQ(0, static_cast<const EVENT_NOTICE*>(ev[0].data())->marker) << "a false loss notice";
  EXPECT_EQ(3, h.rx->channels[0].video_state.load());
  EXPECT_EQ(0, h.rx->channels[1].video_state.load());
  EXPECT_EQ(1, peer.connections());
  // The picture comes back: one notice clears the loss.
  peer.set_video_loss(0);
  ev = h.notices(UE_DVR_EVENT, 1, 5000);
  ASSERT_EQ(1u, ev.size());
  n = static_cast<const EVENT_NOTICE*>(ev[0].data());
  EXPECT_EQ(1, n->marker);
  EXPECT_EQ(0u, n->mask_80);
  EXPECT_EQ(0, h.rx->channels[0].video_state.load());
}

TEST_F(QdvrLive, window_requests_never_interleave_with_the_receive_thread) {
  std::thread a([&] {
    for (int i = 0; i < 50; ++i) nc_send_ptz(h.rx, 1, 2, 10);
  });
  std::thread b([&] {
    for (int i = 0; i < 50; ++i) nc_send_record_state(h.rx, i & 1);
  });
  for (int i = 0; i < 20; ++i) nc_select_channels(h.rx);
  a.join();
  b.join();
  ASSERT_TRUE(peer.wait_request(164, 49, 5000));
  ASSERT_TRUE(peer.wait_request(171, 49, 5000));
  qdvr::Request ptz;
  ASSERT_TRUE(peer.wait_request(164, 0, 10, &ptz));
  EXPECT_EQ(112, ptz.mode);
  EXPECT_EQ('2', ptz.body[8]);
  EXPECT_EQ(10, ptz.body[10]);
  EXPECT_EQ(2u, get_le32(ptz.body.data()));
  qdvr::Request rec;
  ASSERT_TRUE(peer.wait_request(171, 1, 10, &rec));
  EXPECT_EQ('q', rec.body[8]);
  // After the link is gone, requests report "no link" instead of touching a closed socket.
  h.stop();
  EXPECT_EQ(-2, nc_send_ptz(h.rx, 1, 2, 10));
  EXPECT_EQ(-2, nc_send_request(h.rx, 7, 4, nullptr));
}

TEST_F(QdvrLive, playback_commands_send_their_packets) {
  h.rx->position = 3600.7;
  nc_send_playback_command(h.rx, 75, -2);
  qdvr::Request p6;
  ASSERT_TRUE(peer.wait_request(6, 0, 3000, &p6));
  EXPECT_EQ(23, p6.body[8]);     // speed below 1
  EXPECT_EQ(0x82, p6.body[10]);  // sign and magnitude
  EXPECT_EQ(3600u, (uint32_t(p6.body[4]) << 24 | uint32_t(p6.body[5]) << 16 |
                    uint32_t(p6.body[6]) << 8 | p6.body[7]));
  qdvr::Request last;
  ASSERT_TRUE(peer.wait_request(17, 1, 3000, &last));
  EXPECT_EQ(17, last.body[8]);
  nc_request_playback(h.rx, 2025, 10, 3, 2, 14);
  qdvr::Request search;
  ASSERT_TRUE(peer.wait_request(162, 0, 3000, &search));
  EXPECT_EQ(80, search.mode);
  ASSERT_EQ(124u, search.body.size());
  EXPECT_EQ(2025, search.body[0] | (search.body[1] << 8));
  EXPECT_EQ(14, search.body[6]);
  // A request that cannot have the link in time is not lost in silence: the operator gets a
  // box, and the rest of its sequence is not sent.
  std::atomic<bool> held{false}, release{false};
  std::thread holder([&] {
    std::lock_guard<std::timed_mutex> g(h.rx->send_lock);
    held = true;
    while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  ASSERT_TRUE(LinkHarness::wait_for([&] { return held.load(); }, 3000));
  const int sent = nc_send_playback_command(h.rx, 75, 1);
  release = true;
  holder.join();
  EXPECT_EQ(-3, sent);
  auto boxes = h.notices(LINK_ERROR_BOX, 2, 100);  // posted before the call returned
  ASSERT_EQ(1u, boxes.size());
  EXPECT_STREQ("The request could not be sent to the DVR.", boxes[0].text());
  EXPECT_FALSE(peer.wait_request(6, 1, 100)) << "the sequence went on after its first step failed";
}

TEST(QdvrLink, fast_playback_stores_only_key_frames_and_no_audio) {
  qdvr::PeerConfig cfg = small_peer();
  cfg.gop = 5;
  qdvr::QdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  LinkHarness h;
  h.rx->op_mode = 5;  // playback at a chosen time: the thread asks to play after login
  h.ctx->playback_speed = 2.0;
  h.start(peer.port());
  qdvr::Request play;
  ASSERT_TRUE(peer.wait_request(6, 0, 5000, &play));
  EXPECT_EQ(3, play.body[8]);
  EXPECT_FALSE(peer.wait_request(3, 0, 10));  // no live selection in this mode
  ASSERT_TRUE(peer.wait_frames(40, 5000));
  // The receiver stores what the peer sent a little later (much later on a busy machine).
  std::vector<RingRecord> recs;
  EXPECT_TRUE(h.take_until(4, 20000, &recs, 'Y')) << recs.size() << " records";
  // The peer goes on sending while the records are taken: bound them by what it had sent.
  const long sent = peer.frames_sent();
  int video = 0;
  for (const auto& r : recs) {
    ASSERT_EQ('Y', r.rh.media) << "audio stored above real-time speed";
    EXPECT_EQ(1, decode_frame_header(r.body.data()).frame_type);
    ++video;
  }
  EXPECT_GE(video, 4);
  EXPECT_LE(video, sent / 5 + 4) << sent << " frames sent";
}

TEST_F(QdvrLive, nothing_on_screen_keeps_reading_events_and_drops_only_video) {
  ASSERT_TRUE(peer.wait_frames(8, 5000));
  h.rx->shown_mask = 0;  // the page moved on: no channel of this DVR is shown
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  h.take_all();
  const long sent = peer.frames_sent();
  peer.send_event(1000, 0x1, 0x02);
  auto ev = h.notices(UE_DVR_EVENT, 1, 3000);
  ASSERT_EQ(1u, ev.size());
  EXPECT_EQ(0x1u, static_cast<const EVENT_NOTICE*>(ev[0].data())->mask_motion);
  ASSERT_TRUE(peer.wait_frames(sent + 12, 5000));
  EXPECT_EQ(0, count_video(h.take_all()));
  EXPECT_EQ(1, h.rx->channels[0].key_request.load());  // shown again, it starts at a key frame
}

TEST(QdvrLink, refused_login_backs_off_and_its_box_goes_once_to_the_window_loop) {
  static std::atomic<int> boxes_here{0};
  boxes_here = 0;
  set_message_box_hook([](const char*, const char*, BoxButtons) {
    boxes_here.fetch_add(1);
    return BoxAnswer::ok;
  });
  qdvr::PeerConfig cfg = small_peer();
  cfg.login = qdvr::Login::Error;
  cfg.login_error = 0x1022;
  cfg.clip_frames = 1;
  qdvr::QdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  testing::internal::CaptureStdout();
  LinkHarness h;
  // Attempts are counted by this receiver's own login requests (a name of its own), so a
  // client of another test that happens upon the port counts for nothing.
  const std::string user = "rl" + std::to_string(getpid() % 100000);
  std::snprintf(h.rx->username, sizeof h.rx->username, "%s", user.c_str());
  // When the peer read each of them.
  auto logins = [&] {
    std::vector<std::chrono::steady_clock::time_point> at;
    for (const qdvr::Request& r : peer.requests())
      if (r.type == 2 && r.body.size() >= 20 &&
          std::memcmp(r.body.data() + 4, user.data(), user.size()) == 0)
        at.push_back(r.at);
    return at;
  };
  h.start(peer.port());
  LinkHarness::wait_for([&] { return logins().size() >= 3; }, 20000);
  h.stop();
  testing::internal::GetCapturedStdout();
  set_message_box_hook(nullptr);
  const auto at = logins();
  ASSERT_GE(at.size(), 3u);
  // Each refusal doubles the pause before the next attempt (0.5 s, then 1 s), and a login
  // follows its connection by 0.5 s; a loaded machine only makes the gaps longer.
  EXPECT_GE(at[1] - at[0], std::chrono::milliseconds(500 + 500));
  EXPECT_GE(at[2] - at[1], std::chrono::milliseconds(1000 + 500));
  EXPECT_EQ(0, boxes_here.load()) << "no box may stall the receive thread";
  auto posted = h.notices(LINK_ERROR_BOX, 2, 100);
  ASSERT_EQ(1u, posted.size()) << "one box per DVR until its error changes";
  EXPECT_STREQ("The passwordd was incorrect.", posted[0].text());
}

TEST(QdvrLink, busy_search_drops_only_stream_frames_and_its_answer_ends_it) {
  qdvr::QdvrPeer peer(small_peer());
  ASSERT_TRUE(peer.start());
  LinkHarness h;
  h.rx->sel_vid_ch.store(0x1);
  h.start(peer.port());
  std::vector<RingRecord> recs;
  ASSERT_TRUE(h.take_until(3, 5000, &recs, 'Y'));
  h.ctx->playback_flags = 0;
  h.ctx->search_state = 2;  // the search window waits for an answer
  // The link reads in order: once an event sent after the word was set is posted, the frames
  // under way when it was set are in the rings, and are drained here.
  peer.send_event(0, 0x4, 0x02);
  ASSERT_EQ(1u, h.notices(UE_DVR_EVENT, 1, 3000).size());
  h.take_all();
  peer.send_event(0, 0x4, 0x02);
  ASSERT_EQ(1u, h.notices(UE_DVR_EVENT, 1, 3000).size()) << "replies are read while busy";
  EXPECT_EQ(0, count_video(h.take_all()));
  EXPECT_EQ(2, h.ctx->search_state.load());
  uint8_t info[124] = {};
  info[3] = 255;
  peer.send_search_reply(info);
  ASSERT_EQ(1u, h.notices(UE_SEARCH_DATA, 1, 3000).size());
  EXPECT_EQ(0, h.ctx->search_state.load());
  recs.clear();
  EXPECT_TRUE(h.take_until(3, 5000, &recs, 'Y')) << "frames flow again";
  h.ctx->search_state = 2;
  peer.send_error(0x3021);
  ASSERT_EQ(1u, h.notices(LINK_ERROR_BOX, 1, 3000).size());
  EXPECT_EQ(0, h.ctx->search_state.load()) << "an error reply ends the wait too";
  EXPECT_EQ(1, peer.connections());
}

TEST(QdvrLink, request_to_a_dvr_that_stops_reading_gives_up_within_two_seconds) {
  uint16_t port = 0;
  int lfd = net_listen_loopback(0, &port);
  ASSERT_GE(lfd, 0);
  int small = 4096;
  setsockopt(lfd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  LinkHarness h;
  h.rx->sock_timeout = 30;
  h.start(port);
  int cfd = net_accept(lfd, 5000);
  ASSERT_GE(cfd, 0);
  ASSERT_TRUE(LinkHarness::wait_for([&] { return h.rx->sock.load() >= 0; }, 3000));
  using Clock = std::chrono::steady_clock;
  Clock::duration longest{};
  for (int i = 0; i < 200000 && longest < std::chrono::milliseconds(900); ++i) {
    auto t0 = Clock::now();
    nc_send_ptz(h.rx, 0, 8, 1);
    longest = std::max(longest, Clock::now() - t0);
  }
  EXPECT_GE(longest, std::chrono::milliseconds(900)) << "the socket never filled";
  // 1 s for the send lock and 1 s for the socket, plus a busy machine's lateness: far short
  // of the 30 s socket time-out.
  EXPECT_LT(longest, std::chrono::milliseconds(4000));
  h.stop();
  net_close(cfd);
  net_close(lfd);
}

TEST_F(QdvrLive, corrupt_length_is_neither_read_through_nor_counted_the_link_is_made_anew) {
  // The statistics clock stands still, so the once-a-second print never clears the bytes.
  set_test_clock(TEST_CLOCK_STATS, [] { return uint32_t(1000); });
  stats_init();
  std::vector<uint8_t> pkt = qdvr::packet(164, 0, std::vector<uint8_t>(256, 0), false);
  pkt[4] = 0x40;  // packet_size 1 GiB
  pkt[5] = pkt[6] = pkt[7] = 0;
  peer.send_raw(pkt);
  EXPECT_TRUE(LinkHarness::wait_for([&] { return peer.connections() >= 2; }, 5000));
  // What came, not what the header announced: no more than the DVR sent since.
  const uint32_t counted = stats_snapshot().count[STAT_BYTES];
  set_test_clock(TEST_CLOCK_STATS, nullptr);
  EXPECT_LE(counted, uint64_t(peer.bytes_sent()) + 65536);
}

}  // namespace
