// The 'W' receive thread against the simulated SDK DVR, through the real OrvoLib and
// libOrvoSDK on loopback: live frames in the rings as PICTURE_HEADER records, log-on refusal,
// retries and reconnection, the record calendar and the playback selection.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "client/foundation/config/app_options.h"
#include "client/links/connection.h"
#include "client/links/sdk_receiver.h"
#include "peers/wdvr/wdvr_peer.h"
#include "tests/client/links/link_harness.h"

namespace {

wdvr::PeerConfig small_peer(int channels = 4) {
  wdvr::PeerConfig c;
  c.channels = channels;
  c.width = 176;
  c.height = 144;
  c.fps = 30;
  c.clip_frames = 15;
  c.gop = 5;
  return c;
}

class SdkLink : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_mode_ = app_options.mode;
    app_options.mode = 0;
    sdk_init();
  }
  void TearDown() override {
    sdk_term();
    app_options.mode = saved_mode_;
  }

  static void start(LinkHarness& h, uint16_t port) {
    h.rx->protocol = 'W';
    h.rx->live_port = port;
    h.rx->thread = std::thread([&h] { recv_sdk_data(h.rx); });
  }

  // Takes every record from the rings until `done` holds for what was taken (or 30 s pass).
  static bool take_until(LinkHarness& h, std::vector<RingRecord>* recs,
                         const std::function<bool(const std::vector<RingRecord>&)>& done) {
    return LinkHarness::wait_for(
        [&] {
          auto more = h.take_all();
          recs->insert(recs->end(), more.begin(), more.end());
          return done(*recs);
        },
        30000);
  }
  static std::set<int> channels_of(const std::vector<RingRecord>& recs) {
    std::set<int> out;
    for (const RingRecord& r : recs) out.insert(decode_picture_header(r.body.data()).channel);
    return out;
  }

  int saved_mode_ = 0;
};

TEST_F(SdkLink, live_frames_of_channels_0_to_8_land_in_the_rings_with_their_bytes_and_stamps) {
  // The DVR's clock: the wall clock's local time counted as UTC, as the tiles show it.
  auto local_now = [] {
    const time_t now = time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    return int64_t(now) + t.tm_gmtoff;
  };
  const int64_t before = local_now();
  wdvr::WdvrPeer peer(small_peer(10));
  ASSERT_TRUE(peer.start());
  LinkHarness h;
  h.rx->num_video = 10;
  start(h, peer.base_port());
  std::vector<RingRecord> recs;
  ASSERT_TRUE(take_until(h, &recs, [](const std::vector<RingRecord>& r) {
    std::map<int, int> per;
    for (const RingRecord& x : r) per[decode_picture_header(x.body.data()).channel]++;
    if (per.size() < 9) return false;
    for (auto& [ch, n] : per)
      if (n < 6) return false;
    return true;
  })) << recs.size();
  EXPECT_EQ(channels_of(recs), (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}));  // never 9

  const int64_t after = local_now();
  std::map<int, int> seen;
  for (const RingRecord& r : recs) {
    ASSERT_EQ(r.rh.protocol, 'W');
    ASSERT_EQ(r.rh.media, 'Y');
    const PICTURE_HEADER ph = decode_picture_header(r.body.data());
    ASSERT_EQ(r.body.size(), PICTURE_HEADER_SIZE + ph.size);
    EXPECT_EQ(ph.hsize, 176);
    EXPECT_EQ(ph.vsize, 144);
    EXPECT_EQ(ph.scale, 9);
    EXPECT_EQ(ph.receiver, 0);
    EXPECT_EQ(ph.usec % 1000, 0u);
    // Stamped with the DVR's clock, running from the stream's start at the frame rate.
    EXPECT_GE(int64_t(ph.sec), before - 1);
    EXPECT_LE(int64_t(ph.sec), after + 1);
    const int n = seen[ph.channel]++;
    if (n == 0) { EXPECT_EQ(ph.vop_type, 0) << "a stream starts at a key frame"; }
    // Key frames restart the count; the data is a frame of the channel's clip.
    if (ph.vop_type == 0) { EXPECT_EQ(ph.seq_cnt, 0); }
    bool known = false;
    for (int i = 0; i < 15 && !known; ++i) {
      const auto& f = peer.video_frame(ph.channel, i);
      known = f.size() == ph.size &&
              std::equal(f.begin(), f.end(), r.body.begin() + PICTURE_HEADER_SIZE);
    }
    EXPECT_TRUE(known) << "channel " << int(ph.channel) << " frame " << n;
  }
}

TEST_F(SdkLink, refused_logon_ends_the_thread_without_retrying) {
  wdvr::PeerConfig cfg = small_peer();
  cfg.user = "admin";
  cfg.password = "other";
  wdvr::WdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  LinkHarness h;
  h.rx->status.store(RX_CONNECTING);
  start(h, peer.base_port());
  ASSERT_TRUE(peer.wait_request(0x00000001, 0, 30000));
  // The thread ends by itself (the harness would stop it only at the end of the test).
  ASSERT_TRUE(LinkHarness::wait_for([&] { return h.rx->status.load() == RX_ENDED; }, 30000));
  EXPECT_EQ(peer.count(0x00000001), 1);
}

TEST_F(SdkLink, unreachable_dvr_is_retried_until_it_answers) {
  // A port block that nobody serves yet.
  uint16_t base = 0;
  {
    wdvr::WdvrPeer probe(small_peer());
    ASSERT_TRUE(probe.start());
    base = probe.base_port();
  }
  LinkHarness h;
  start(h, base);
  ASSERT_TRUE(LinkHarness::wait_for([&] { return h.rx->status.load() == RX_FAILED; }, 30000));
  wdvr::PeerConfig cfg = small_peer();
  cfg.base_port = base;
  wdvr::WdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  std::vector<RingRecord> recs;
  EXPECT_TRUE(take_until(h, &recs, [](const std::vector<RingRecord>& r) { return r.size() >= 8; }));
}

TEST_F(SdkLink, dropped_dvr_is_connected_again_and_its_frames_come_back) {
  wdvr::WdvrPeer peer(small_peer());
  ASSERT_TRUE(peer.start());
  LinkHarness h;
  start(h, peer.base_port());
  std::vector<RingRecord> recs;
  ASSERT_TRUE(take_until(h, &recs, [](const std::vector<RingRecord>& r) { return r.size() >= 8; }));
  const int logons = peer.count(0x00000001);
  peer.drop_connections();
  ASSERT_TRUE(LinkHarness::wait_for([&] { return peer.count(0x00000001) > logons; }, 30000));
  // What the new connection streams.
  const long sent = peer.frames_sent();
  ASSERT_TRUE(peer.wait_frames(sent + 8, 30000));
  recs.clear();
  EXPECT_TRUE(take_until(h, &recs, [](const std::vector<RingRecord>& r) { return r.size() >= 8; }));
}

// A stop closes the nine sessions and joins their packet threads, which wait in the SDK's
// live GetPacket (20 s): the close wakes them, so the receive thread ends at once, before
// the SDK is terminated (as a disconnect that found the thread quick does).
TEST_F(SdkLink, stop_while_streaming_ends_the_receive_thread_and_its_packet_threads_at_once) {
  wdvr::WdvrPeer peer(small_peer(9));
  ASSERT_TRUE(peer.start());
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    LinkHarness h;
    start(h, peer.base_port());
    std::vector<RingRecord> recs;
    ASSERT_TRUE(take_until(h, &recs, [](const std::vector<RingRecord>& r) {
      return channels_of(r).size() == 9 && r.size() >= 40;
    })) << recs.size();
    const auto t0 = std::chrono::steady_clock::now();
    h.stop();
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_LT(took, std::chrono::seconds(5))
        << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
  }
}

TEST_F(SdkLink, calendar_fills_from_the_peer_and_a_playback_selection_opens_sessions_at_its_time) {
  app_options.mode = 3;
  wdvr::WdvrPeer peer(small_peer());
  ASSERT_TRUE(peer.start());
  LinkHarness h;
  start(h, peer.base_port());
  ASSERT_EQ(h.events(UE_LOGGED_IN, 1, 30000).size(), 1u);

  // The month: days 1-4, 15 and 16 of January 2024 hold recordings.
  sdk_set_playback_date(0, 2024, 0, 255, 0, 255);
  auto month = h.notices(UE_SEARCH_DATA, 1, 30000);
  ASSERT_EQ(month.size(), 1u);
  ASSERT_EQ(month[0].record.size(), SDK_CALENDAR_SIZE);
  const uint8_t* r = month[0].record.data();
  for (int d = 1; d <= 31; ++d)
    EXPECT_EQ(r[28 + d - 1], (d <= 4 || d == 15 || d == 16) ? 1 : 0) << "day " << d;
  EXPECT_EQ(sdk_take_calendar_done(), 1);

  // Day 2, cameras 1 and 2, hour 7: channel c records from 6 + c o'clock to 18 o'clock.
  sdk_set_playback_date(0, 2024, 0, 2, 0x3, 7);
  auto day = h.notices(UE_SEARCH_DATA, 1, 30000);
  ASSERT_EQ(day.size(), 1u);
  r = day[0].record.data();
  uint32_t words[5];
  std::memcpy(words, r, sizeof words);
  EXPECT_EQ(words[0], 2024u);
  EXPECT_EQ(words[2], 2u);
  EXPECT_EQ(words[3], 0x3u);
  EXPECT_EQ(words[4], 7u);
  for (int c = 0; c < 4; ++c) EXPECT_EQ(r[59 + c], 1) << "camera " << c;
  for (int hour = 0; hour < 24; ++hour)
    EXPECT_EQ(r[75 + hour], hour >= 6 && hour < 18 ? 1 : 0) << "hour " << hour;
  for (int m = 0; m < 60; ++m) EXPECT_EQ(r[99 + m], 1) << "minute " << m;

  // Minute 12: cameras 1 and 2 play from 07:12:00 of 2024-01-02.
  sdk_set_playback_time(nullptr, 12);
  wdvr::Request req[2];
  ASSERT_TRUE(peer.wait_request(0x00020003, 0, 30000, &req[0]));
  ASSERT_TRUE(peer.wait_request(0x00020003, 1, 30000, &req[1]));
  std::set<int> opened;
  for (const wdvr::Request& q : req) {
    const size_t alen = size_t(q.body[0] << 8 | q.body[1]);
    ASSERT_GE(q.body.size(), 2 + alen + 11);
    const uint8_t* b = q.body.data() + 2 + alen;
    EXPECT_EQ(uint32_t(b[0] << 24 | b[1] << 16 | b[2] << 8 | b[3]), 20240102u);
    EXPECT_EQ(uint32_t(b[4] << 24 | b[5] << 16 | b[6] << 8 | b[7]), 71200u);
    opened.insert(b[9]);
  }
  EXPECT_EQ(opened, (std::set<int>{0, 1}));
  std::vector<RingRecord> recs;
  ASSERT_TRUE(take_until(h, &recs, [](const std::vector<RingRecord>& x) {
    std::set<int> ch;
    for (const RingRecord& y : x) ch.insert(decode_picture_header(y.body.data()).channel);
    return ch == std::set<int>{0, 1};
  }));

  // Another minute closes both sessions and opens them again there.
  sdk_set_playback_time(nullptr, 30);
  ASSERT_TRUE(peer.wait_request(0x00020003, 3, 30000, &req[0]));
  const uint8_t* b = req[0].body.data() + 2 + size_t(req[0].body[0] << 8 | req[0].body[1]);
  EXPECT_EQ(uint32_t(b[4] << 24 | b[5] << 16 | b[6] << 8 | b[7]), 73000u);
  EXPECT_EQ(peer.count(0x00020003), 4);
}

}  // namespace
