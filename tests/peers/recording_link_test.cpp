// Recording from the simulated 'Q' DVR through the real receive thread: the files hold whole
// 'Q' video and audio records whose sizes agree with their headers and whose times rise per
// kind; the record switch deletes a short recording, stop_recording keeps what it closes.
#include <gtest/gtest.h>

#include "client/links/recording.h"
#include "tests/client/links/record_files.h"
#include "tests/peers/link_harness.h"

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

}  // namespace
