// Recording from the simulated DVRs through the real receive threads: the files hold whole
// 'Q' video and audio records whose sizes agree with their headers and whose times rise per
// kind; the record switch deletes a short recording, stop_recording keeps what it closes.
// 'I' and 'S' channels record their frames byte for byte as the DVR sent them.
#include <gtest/gtest.h>

#include "client/links/pic_receiver.h"
#include "client/links/recording.h"
#include "client/links/tir_receiver.h"
#include "peers/idvr/idvr_peer.h"
#include "peers/sdvr/sdvr_peer.h"
#include "tests/client/links/record_files.h"
#include "tests/client/links/link_harness.h"

namespace {

using namespace rectest;

TEST(RecordingLink, simulated_dvr_channels_record_whole_q_records) {
  ScratchDir dir;
  qdvr::PeerConfig cfg;
  cfg.channels = 4;
  cfg.fps = 25;
  qdvr::QdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  LinkHarness link;
  APP_CONTEXT* ctx = link.ctx.get();
  for (int k = 0; k < 4; ++k) link.rx->channels[k].id = k;
  link.rx->channels[0].selected = link.rx->channels[1].selected = 1;
  ASSERT_EQ(start_recording(ctx), 2);
  link.start(peer.port());
  // Drain the rings as the decoders would, until both files hold a few seconds.
  auto grown = [&] {
    for (uint32_t s = 0; s < ctx->num_slots; ++s) link.take(s);
    auto files = dir.files();
    if (files.size() != 2) return false;
    for (const auto& f : files)
      if (fs::file_size(f) < 64 * 1024) return false;
    return true;
  };
  ASSERT_TRUE(LinkHarness::wait_for(grown, 20000)) << "frames sent " << peer.frames_sent();

  // A channel switched on and off at once leaves nothing behind.
  for (int k = 0; k < 4; ++k) link.rx->channels[k].selected = k == 2;
  ASSERT_EQ(toggle_recording(ctx), 3);
  const std::string short_one = link.rx->channels[2].record_name;
  EXPECT_EQ(toggle_recording(ctx), 2);

  stop_recording(ctx);
  link.stop();
  end_recordings(ctx);
  EXPECT_FALSE(fs::exists(short_one));

  auto files = dir.files();
  ASSERT_EQ(files.size(), 2u);
  for (const auto& f : files) {
    SCOPED_TRACE(f);
    const int channel = f.filename().string().find("-01-") != std::string::npos ? 1 : 0;
    bool whole = false;
    auto recs = parse_zol(read_file(f), &whole);
    EXPECT_TRUE(whole);
    double last_video = 0, last_audio = 0;
    int video = 0, audio = 0;
    for (const Rec& r : recs) {
      ASSERT_EQ(r.protocol, 'Q');
      if (r.media == 'Y') {
        FRAME_HEADER fh = decode_frame_header(r.body.data());
        EXPECT_EQ(r.body.size(), fh.size + FRAME_HEADER_SIZE);
        EXPECT_EQ(fh.channel, channel);
        const double t = fh.sec + fh.msec / 1000.0;
        EXPECT_GT(t, last_video);
        last_video = t;
        ++video;
      } else {
        ASSERT_EQ(r.media, 'A');
        AUDIO_FRAME_HEADER ah = decode_audio_frame_header(r.body.data());
        EXPECT_EQ(r.body.size(), AUDIO_RECORD_SIZE);
        EXPECT_LE(ah.samples, AUDIO_PAYLOAD_SLOT);
        EXPECT_EQ(ah.channel, channel);
        const double t = ah.sec + ah.msec / 1000.0;
        EXPECT_GT(t, last_audio);
        last_audio = t;
        ++audio;
      }
    }
    EXPECT_GT(video, 10);
    EXPECT_GT(audio, 10);
  }
  peer.stop();
}

// Records one channel of `rx` (the receive thread started by `start`) until its file holds
// `frames` records; the records of the file.
std::vector<Rec> record_one_channel(const ScratchDir& dir, LinkHarness& link, int channel,
                                    size_t frames, const std::function<void()>& start) {
  APP_CONTEXT* ctx = link.ctx.get();
  for (int k = 0; k < 4; ++k) {
    link.rx->channels[k].id = k;
    link.rx->channels[k].selected = k == channel;
  }
  EXPECT_EQ(start_recording(ctx), 1);
  const std::string name = link.rx->channels[channel].record_name;
  start();
  auto enough = [&] {
    for (uint32_t s = 0; s < ctx->num_slots; ++s) link.take(s);
    return fs::exists(name) && parse_zol(read_file(name)).size() >= frames;
  };
  EXPECT_TRUE(LinkHarness::wait_for(enough, 30000)) << name;
  stop_recording(ctx);
  link.stop();
  end_recordings(ctx);
  EXPECT_EQ(dir.files().size(), 1u);
  bool whole = false;
  auto recs = parse_zol(read_file(name), &whole);
  EXPECT_TRUE(whole) << name;
  fs::remove(name);
  return recs;
}

TEST(RecordingLink, i_and_s_channels_record_their_frames_as_sent) {
  ScratchDir dir;
  testing::internal::CaptureStdout();
  {
    idvr::PeerConfig cfg;
    cfg.channels = 4;
    cfg.width = 176;
    cfg.height = 144;
    cfg.clip_frames = 20;
    cfg.gop = 10;
    idvr::IdvrPeer peer(cfg);
    ASSERT_TRUE(peer.start());
    LinkHarness link;
    link.rx->protocol = 'I';
    link.rx->pb_port = peer.pb_port();
    link.rx->ctrl_port = peer.ctrl_port();
    auto recs = record_one_channel(dir, link, 1, 12,
                                   [&] { link.start_entry(recv_data, peer.live_port()); });
    ASSERT_GE(recs.size(), 12u);
    // The first record is the channel's first picture, a key frame; the rest follow in order.
    for (size_t i = 0; i < recs.size(); ++i) {
      SCOPED_TRACE(i);
      ASSERT_EQ(recs[i].protocol, 'I');
      ASSERT_EQ(recs[i].media, 'Y');
      PICTURE_HEADER ph = decode_picture_header(recs[i].body.data());
      EXPECT_EQ(ph.channel, 1);
      EXPECT_EQ(ph.vop_type, peer.clip_key(1, int(i)) ? 0 : 1);
      const std::vector<uint8_t>& sent = peer.clip_frame(1, int(i));
      ASSERT_EQ(recs[i].body.size(), PICTURE_HEADER_SIZE + sent.size());
      EXPECT_TRUE(std::equal(sent.begin(), sent.end(), recs[i].body.begin() + PICTURE_HEADER_SIZE));
    }
    peer.stop();
  }
  {
    // Audio sections and control packets, one inside a frame, never reach the file.
    sdvr::PeerConfig cfg;
    cfg.channels = 4;
    cfg.clip_frames = 3;
    sdvr::SdvrPeer peer(cfg);
    ASSERT_TRUE(peer.start());
    LinkHarness link;
    link.rx->protocol = 'S';
    auto recs =
        record_one_channel(dir, link, 2, 8, [&] { link.start_entry(recv_tir_data, peer.port()); });
    ASSERT_GE(recs.size(), 8u);
    int64_t last_ms = -1;
    for (size_t i = 0; i < recs.size(); ++i) {
      SCOPED_TRACE(i);
      ASSERT_EQ(recs[i].protocol, 'S');
      ASSERT_EQ(recs[i].media, 'Y');
      FRAME_HEADER fh = decode_frame_header(recs[i].body.data());
      EXPECT_EQ(fh.channel, 2);
      EXPECT_EQ(fh.frame_type, 1) << "an 'S' frame is recorded as the key frame it is";
      const std::vector<uint8_t>& sent = peer.clip_frame(2, int(i));
      ASSERT_EQ(fh.size, sent.size());
      ASSERT_EQ(recs[i].body.size(), FRAME_HEADER_SIZE + sent.size());
      EXPECT_TRUE(std::equal(sent.begin(), sent.end(), recs[i].body.begin() + FRAME_HEADER_SIZE));
      const int64_t ms = int64_t(fh.sec) * 1000 + fh.msec;
      if (last_ms >= 0) { EXPECT_EQ(ms - last_ms, 40); }
      last_ms = ms;
    }
    peer.stop();
  }
  testing::internal::GetCapturedStdout();
}

}  // namespace
