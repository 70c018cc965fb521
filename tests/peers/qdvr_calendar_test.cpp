// The simulated DVR's recording calendar: search answers by what the request names, spans
// from the command line, and playback from a chosen position through the client's link.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "client/links/nc_receiver.h"
#include "tests/client/links/link_harness.h"

namespace {

using qdvr::RecordSpan;
using qdvr::wall_seconds;

// 2024-03-05: cameras 0-3 from 10:00 to 11:30 (kind 1), camera 5 from 10:20 to 10:25 (kind 2);
// 2024-03-07: camera 1 from 23:50 to 00:10 the next day (kind 4).
std::vector<RecordSpan> calendar() {
  return {{wall_seconds(2024, 2, 5, 10, 0, 0), wall_seconds(2024, 2, 5, 11, 30, 0), 0x0F, 0x01},
          {wall_seconds(2024, 2, 5, 10, 20, 0), wall_seconds(2024, 2, 5, 10, 25, 0), 0x20, 0x02},
          {wall_seconds(2024, 2, 7, 23, 50, 0), wall_seconds(2024, 2, 8, 0, 10, 0), 0x02, 0x04}};
}

std::vector<uint8_t> request(int day, uint16_t mask, int hour, int month0 = 2) {
  std::vector<uint8_t> r(124, 0);
  r[0] = uint8_t(2024 & 0xFF);
  r[1] = uint8_t(2024 >> 8);
  r[2] = uint8_t(month0);
  r[3] = uint8_t(day);
  r[4] = uint8_t(mask);
  r[5] = uint8_t(mask >> 8);
  r[6] = uint8_t(hour);
  return r;
}

TEST(QdvrCalendar, search_answers_follow_what_the_request_names) {
  struct Case {
    const char* what;
    int day, hour;
    uint16_t mask;
    uint16_t error;
    std::vector<std::pair<int, uint8_t>> bytes;  // offset, value
  };
  const Case cases[] = {
      {"month: days 5, 7 and 8",
       255,
       255,
       0,
       0,
       {{7 + 4, 0x03}, {7 + 5, 0}, {7 + 6, 0x04}, {7 + 7, 0x04}, {7 + 0, 0}}},
      {"day: its cameras", 5, 255, 0, 0, {{38, 0x2F}, {39, 0}}},
      {"cameras 0-1: hours 10 and 11",
       5,
       255,
       0x03,
       0,
       {{40 + 10, 0x01}, {40 + 11, 0x01}, {40 + 12, 0}}},
      {"camera 5 alone: hour 10 of kind 2", 5, 255, 0x20, 0, {{40 + 10, 0x02}, {40 + 11, 0}}},
      {"hour 10, cameras 0 and 5: minutes 20-24 both kinds",
       5,
       10,
       0x21,
       0,
       {{64 + 19, 0x01}, {64 + 20, 0x03}, {64 + 24, 0x03}, {64 + 25, 0x01}}},
      {"hour 11: minutes up to 29", 5, 11, 0x01, 0, {{64 + 29, 0x01}, {64 + 30, 0}}},
      {"a span past midnight", 8, 0, 0x02, 0, {{64 + 9, 0x04}, {64 + 10, 0}}},
      {"a day without recordings", 6, 255, 0, 0x3021, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    uint16_t error = 0;
    const std::vector<uint8_t> req = request(c.day, c.mask, c.hour);
    std::vector<uint8_t> a = qdvr::search_answer(calendar(), req.data(), &error);
    EXPECT_EQ(c.error, error);
    if (c.error) {
      EXPECT_TRUE(a.empty());
      continue;
    }
    ASSERT_EQ(124u, a.size());
    EXPECT_EQ(0, std::memcmp(a.data(), req.data(), 7)) << "year, month, day, mask, hour echoed";
    for (auto [at, v] : c.bytes) EXPECT_EQ(v, a[size_t(at)]) << "byte " << at;
  }
  // February 2024 has 29 days: nothing is flagged past them, though March 1 records.
  std::vector<RecordSpan> feb = {
      {wall_seconds(2024, 1, 28, 0, 0, 0), wall_seconds(2024, 2, 2, 0, 0, 0), 1, 1}};
  uint16_t error = 0;
  std::vector<uint8_t> a = qdvr::search_answer(feb, request(255, 0, 255, 1).data(), &error);
  EXPECT_EQ(0x01, a[7 + 28]);
  EXPECT_EQ(0, a[7 + 29]);
  EXPECT_EQ(0, a[7 + 30]);
}

TEST(QdvrCalendar, recording_runs_on_through_touching_spans) {
  const int64_t t0 = wall_seconds(2024, 2, 5, 10, 0, 0);
  const std::vector<RecordSpan> spans = {
      {t0, t0 + 600, 1, 1}, {t0 + 600, t0 + 900, 2, 2}, {t0 + 1000, t0 + 1100, 1, 1}};
  EXPECT_EQ(t0 + 900, qdvr::recorded_until(spans, t0));
  EXPECT_EQ(t0 + 900, qdvr::recorded_until(spans, t0 + 899));
  EXPECT_EQ(-1, qdvr::recorded_until(spans, t0 + 900));
  EXPECT_EQ(t0 + 1100, qdvr::recorded_until(spans, t0 + 1000));
  EXPECT_EQ(-1, qdvr::recorded_until(spans, t0 - 1));
}

TEST(QdvrCalendar, spans_from_the_command_line) {
  struct Case {
    const char* text;
    bool ok;
    int64_t start, end;
    uint32_t cameras;
    uint8_t kinds;
  };
  const Case cases[] = {
      {"2024-03-05T10:00/11:30,cams=0-3,kind=1", true, wall_seconds(2024, 2, 5, 10, 0, 0),
       wall_seconds(2024, 2, 5, 11, 30, 0), 0x0F, 1},
      {"2024-03-05T22:00/2024-03-06T02:00,cams=5,kind=0x0A", true,
       wall_seconds(2024, 2, 5, 22, 0, 0), wall_seconds(2024, 2, 6, 2, 0, 0), 0x20, 0x0A},
      {"2024-03-05T10:00/10:05", true, wall_seconds(2024, 2, 5, 10, 0, 0),
       wall_seconds(2024, 2, 5, 10, 5, 0), 0xFFFF, 1},
      {"2024-03-05T10:00/09:00", false, 0, 0, 0, 0},  // ends before it starts
      {"2024-03-05T10:00", false, 0, 0, 0, 0},        // no end
      {"2024-03-05T10:00/11:00,kind=16", false, 0, 0, 0, 0},
      {"2024-03-05T10:00/11:00,cams=3-1", false, 0, 0, 0, 0},
      {"2024-03-05T10:00/11:00,colour=red", false, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    RecordSpan s;
    ASSERT_EQ(c.ok, qdvr::parse_record_span(c.text, &s));
    if (!c.ok) continue;
    EXPECT_EQ(c.start, s.start);
    EXPECT_EQ(c.end, s.end);
    EXPECT_EQ(c.cameras, s.cameras);
    EXPECT_EQ(c.kinds, s.kinds);
  }
}

qdvr::PeerConfig recording_peer(int64_t start, int64_t end) {
  qdvr::PeerConfig c;
  c.channels = 4;
  c.width = 176;
  c.height = 144;
  c.fps = 25;
  c.clip_frames = 25;
  c.recordings = {{start, end, 0x0F, 0x01}};
  return c;
}

// Takes the video records of the rings (in order per slot) until `n` came; false on time-out.
bool take_video(LinkHarness& h, size_t n, std::vector<RingRecord>* recs) {
  return LinkHarness::wait_for(
      [&] {
        for (uint32_t s = 0; s < h.ctx->num_slots; ++s)
          for (RingRecord& r : h.take(s))
            if (r.rh.media == 'Y') recs->push_back(std::move(r));
        return recs->size() >= n;
      },
      5000);
}

uint32_t be32_at(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

TEST(QdvrCalendar, playback_from_a_position_of_the_calendar) {
  const int64_t start = wall_seconds(2024, 2, 5, 10, 0, 0);
  qdvr::QdvrPeer peer(recording_peer(start, start + 3));
  ASSERT_TRUE(peer.start());
  LinkHarness h;
  h.rx->op_mode = 2;  // search window: nothing is asked for after the login
  h.start(peer.port());
  ASSERT_TRUE(LinkHarness::wait_for([&] { return h.rx->logged_in.load() == 1; }, 5000));

  // The day's cameras, then a day without recordings.
  nc_request_playback(h.rx, 2024, 2, 5, 0, 255);
  auto replies = h.notices(UE_SEARCH_DATA, 1, 3000);
  ASSERT_EQ(1u, replies.size());
  const auto* rec = static_cast<const NC_SEARCH_RECORD*>(replies[0].data());
  EXPECT_EQ(5, rec->day);
  EXPECT_EQ(0x0Fu, rec->ch_info);
  nc_request_playback(h.rx, 2024, 2, 6, 0, 255);
  auto boxes = h.notices(LINK_ERROR_BOX, 1, 3000);
  ASSERT_EQ(1u, boxes.size());
  EXPECT_STREQ("There is not a search data.", boxes[0].text());

  // A position outside the calendar is refused; one inside plays camera 2 from a key frame
  // with stamps from the position, until the recording ends.
  h.rx->sel_vid_ch.store(0x4);
  h.rx->position = double(start - 60);
  nc_send_playback_command(h.rx, 80, 0);
  qdvr::Request play;
  ASSERT_TRUE(peer.wait_request(6, 0, 3000, &play));
  EXPECT_EQ(uint32_t(start - 60), be32_at(play.body, 4));
  EXPECT_EQ(3, play.body[8]);
  ASSERT_TRUE(peer.wait_request(17, 1, 3000));
  EXPECT_EQ(1u, h.notices(LINK_ERROR_BOX, 1, 3000).size());
  EXPECT_EQ(0, peer.frames_sent());

  h.rx->position = double(start + 1);
  nc_send_playback_command(h.rx, 80, 0);
  std::vector<RingRecord> recs;
  ASSERT_TRUE(take_video(h, 10, &recs));
  const FRAME_HEADER first = decode_frame_header(recs[0].body.data());
  EXPECT_EQ(2, first.channel);
  EXPECT_EQ(1, first.frame_type) << "playback starts at a key frame";
  EXPECT_EQ(uint32_t(start + 1), first.sec);
  EXPECT_EQ(0, first.msec);
  const FRAME_HEADER tenth = decode_frame_header(recs[9].body.data());
  EXPECT_EQ(uint32_t(start + 1), tenth.sec);
  EXPECT_EQ(360, tenth.msec);  // nine frame periods of 40 ms
  auto last = h.notices(LINK_ERROR_BOX, 1, 5000);
  ASSERT_EQ(1u, last.size());
  EXPECT_STREQ("It is the last position of recorded data.", last[0].text());
  const long sent = peer.frames_sent();
  EXPECT_GE(sent, 45);
  EXPECT_LE(sent, 51);  // two seconds at 25 frames a second, then nothing more
}

TEST(QdvrCalendar, speed_and_stop_reach_the_stream) {
  const int64_t start = wall_seconds(2024, 2, 5, 10, 0, 0);
  qdvr::QdvrPeer peer(recording_peer(start, start + 3600));
  ASSERT_TRUE(peer.start());
  LinkHarness h;
  h.rx->op_mode = 2;
  h.rx->sel_vid_ch.store(0x1);
  h.start(peer.port());
  ASSERT_TRUE(LinkHarness::wait_for([&] { return h.rx->logged_in.load() == 1; }, 5000));
  h.rx->position = double(start);
  nc_send_playback_command(h.rx, 80, 2);  // four times real time
  std::vector<RingRecord> recs;
  ASSERT_TRUE(take_video(h, 2, &recs));
  const FRAME_HEADER a = decode_frame_header(recs[0].body.data());
  const FRAME_HEADER b = decode_frame_header(recs[1].body.data());
  EXPECT_EQ(160, (int(b.sec) - int(a.sec)) * 1000 + int(b.msec) - int(a.msec));
  nc_send_playback_command(h.rx, 85, 0);  // type 17 code 20
  ASSERT_TRUE(peer.wait_request(17, 1, 3000));
  const long stopped = peer.frames_sent() + 2;  // a round may be under way
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LE(peer.frames_sent(), stopped);
}

}  // namespace
