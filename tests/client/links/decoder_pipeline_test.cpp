// End to end: simulated 'Q', 'I' and 'S' DVRs over loopback -> their receive threads -> one
// ring -> one decoder thread -> each channel's 32-bit picture, compared with the DVR's source.
#include <gtest/gtest.h>

#include <thread>

#include "client/links/decoder_thread.h"
#include "client/links/pic_receiver.h"
#include "client/links/tir_receiver.h"
#include "peers/idvr/idvr_peer.h"
#include "peers/media/media_gen.h"
#include "peers/qdvr/qdvr_peer.h"
#include "peers/sdvr/sdvr_peer.h"
#include "tests/client/links/link_harness.h"

namespace {

// PSNR of a channel's surface against a synthetic picture of `number` inside `r`.
double region_psnr(const CHANNEL_INFO& ch, int number, media_gen::Rect r) {
  const int w = ch.surface->w, h = ch.surface->h;
  auto y = media_gen::bgra_to_y(static_cast<uint8_t*>(ch.surface->pixels), w, h, ch.surface->pitch);
  media_gen::Yuv420 src = media_gen::synth_picture(w, h, number, 0);
  return media_gen::psnr_y(y.data() + size_t(r.y) * w + r.x, src.y.data() + size_t(r.y) * w + r.x,
                           r.w, r.h, w, w);
}

// The decoder thread over the harness's one ring: every channel goes through one decoder.
struct Decoding {
  explicit Decoding(LinkHarness& link) : ctx(link.ctx.get()) {
    EXPECT_EQ(init_video_decoders(), 0);
    reset_all_decoders();
    ctx->layout = 1;
    ctx->layouts[1].num_cells = 16;
    ctx->playback_speed = 1.0;
    ctx->buf_level = 0;
    ctx->decoder_state = DECODER_RUNNING;
    reset_decoder_slots();
    thread = std::thread([c = ctx] { decoder_thread(c); });
  }
  void stop() {
    ctx->decoder_state = DECODER_STOPPED;
    if (thread.joinable()) thread.join();
  }
  ~Decoding() {
    stop();
    free_video_decoders();
  }
  APP_CONTEXT* ctx;
  std::thread thread;
};

void number_channel(RECEIVER_INFO* rx, int k, int id) {
  rx->channels[k].id = id;
  rx->channels[k].slot = id;
  rx->channels[k].waiting = 1;
}

// A channel has shown a picture once its waiting flag is cleared.
bool all_shown(const RECEIVER_INFO* rx, int channels) {
  for (int k = 0; k < channels; ++k)
    if (rx->channels[k].waiting.load() != 0) return false;
  return true;
}

// Each channel's picture matches its source from row `top` down to the moving square, and
// its digits are its own, not another channel's.
void expect_own_pictures(const RECEIVER_INFO* rx, int channels, int w, int h, int top) {
  for (int k = 0; k < channels; ++k) {
    SCOPED_TRACE(k);
    const CHANNEL_INFO& ch = rx->channels[k];
    ASSERT_NE(ch.surface, nullptr);
    EXPECT_EQ(ch.surface->format->BitsPerPixel, 32);
    ASSERT_EQ(w, ch.surface->w);
    ASSERT_EQ(h, ch.surface->h);
    EXPECT_GT(region_psnr(ch, k, {0, top, w, media_gen::square_rect(w, h, 0).y - top}), 30.0);
    const media_gen::Rect d = media_gen::digits_rect(w, h, k);
    EXPECT_GT(region_psnr(ch, k, d), region_psnr(ch, (k + 1) % channels, d) + 10.0);
  }
}

TEST(DecoderPipeline, SimulatedDvrChannelsArriveAsTheirOwnPictures) {
  const int w = 352, h = 288, channels = 4;
  qdvr::PeerConfig cfg;
  cfg.channels = channels;
  cfg.width = w;
  cfg.height = h;
  cfg.fps = 25;
  cfg.audio = false;
  qdvr::QdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  LinkHarness link(1);
  for (int k = 0; k < channels; ++k) number_channel(link.rx, k, k);
  Decoding dec(link);
  link.start(peer.port());
  // A few more frames after the first pictures put them past their first key frame.
  EXPECT_TRUE(LinkHarness::wait_for([&] { return all_shown(link.rx, channels); }, 10000))
      << "frames sent " << peer.frames_sent();
  peer.wait_frames(peer.frames_sent() + 4 * channels, 3000);
  link.stop();
  dec.stop();
  expect_own_pictures(link.rx, channels, w, h, 8);  // 'Q' pictures lose their top 8 rows
}

TEST(DecoderPipelineIS, mpeg4_pictures_of_an_i_dvr_match_their_sources) {
  const int w = 176, h = 144, channels = 2;
  idvr::PeerConfig cfg;
  cfg.channels = channels;
  cfg.width = w;
  cfg.height = h;
  cfg.fps = 25;
  idvr::IdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  LinkHarness link(1);
  for (int k = 0; k < channels; ++k) number_channel(link.rx, k, k);
  Decoding dec(link);
  link.rx->protocol = 'I';
  link.start_entry(recv_data, peer.live_port());
  EXPECT_TRUE(LinkHarness::wait_for([&] { return all_shown(link.rx, channels); }, 10000));
  peer.wait_frames(peer.frames_sent() + 4 * channels, 3000);
  link.stop();
  dec.stop();
  expect_own_pictures(link.rx, channels, w, h, 0);
}
TEST(DecoderPipelineIS, two_s_dvrs_with_one_channel_number_on_one_slot_show_their_own_pictures) {
  // DVR B codes only its top row after its first frame: the rest of its picture must stay
  // its own, not what DVR A's channel 0 left in a buffer the slot shares.
  sdvr::PeerConfig a_cfg, b_cfg;
  a_cfg.channels = b_cfg.channels = 1;
  a_cfg.clip_frames = b_cfg.clip_frames = 2;
  b_cfg.picture_offset = 5;
  b_cfg.full_every = 1000;
  sdvr::SdvrPeer a(a_cfg), b(b_cfg);
  ASSERT_TRUE(a.start());
  ASSERT_TRUE(b.start());
  LinkHarness link(1);
  APP_CONTEXT* ctx = link.ctx.get();
  RECEIVER_INFO* rb = &ctx->receivers[1];
  init_receiver(rb);
  rb->protocol = 'S';
  rb->index = 1;
  std::snprintf(rb->address, sizeof rb->address, "127.0.0.1");
  std::snprintf(rb->password, sizeof rb->password, "secret");
  rb->num_video = 4;
  rb->shown_mask = 0x1;
  rb->sel_vid_ch = 0x1;
  rb->sock_timeout = 3;
  rb->context = ctx;
  rb->op_mode = 1;
  ctx->num_receivers = 2;
  link.rx->protocol = 'S';
  number_channel(link.rx, 0, 0);
  number_channel(rb, 0, 1);
  Decoding dec(link);
  link.start_entry(recv_tir_data, a.port());
  rb->live_port = b.port();
  rb->thread = std::thread([rb] { recv_tir_data(rb); });
  EXPECT_TRUE(LinkHarness::wait_for(
      [&] {
        return link.rx->channels[0].waiting.load() == 0 && rb->channels[0].waiting.load() == 0;
      },
      10000));
  b.wait_frames(b.frames_sent() + 10, 3000);
  receivers_stop.store(1);
  rb->status.store(RX_STOP);
  if (rb->thread.joinable()) rb->thread.join();
  link.stop();
  dec.stop();
  const media_gen::Rect d0 = media_gen::digits_rect(640, 272, 0),
                        d5 = media_gen::digits_rect(640, 272, 5);
  ASSERT_NE(link.rx->channels[0].surface, nullptr);
  ASSERT_NE(rb->channels[0].surface, nullptr);
  EXPECT_GT(region_psnr(link.rx->channels[0], 0, d0),
            region_psnr(link.rx->channels[0], 5, d0) + 10.0);
  EXPECT_GT(region_psnr(rb->channels[0], 5, d5), region_psnr(rb->channels[0], 0, d5) + 10.0);
  EXPECT_GT(region_psnr(rb->channels[0], 5, d5), 20.0);
}

}  // namespace
