// End to end: the simulated 'Q' DVR over loopback -> the 'Q' receive thread -> the ring ->
// the decoder thread -> each channel's 32-bit picture, compared with the DVR's source.
#include <gtest/gtest.h>

#include <thread>

#include "client/foundation/stats.h"
#include "client/links/decoder_thread.h"
#include "peers/media/media_gen.h"
#include "peers/qdvr/qdvr_peer.h"
#include "tests/peers/link_harness.h"

namespace {

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
    ASSERT_EQ(init_video_decoders(), 0);
    reset_all_decoders();

    LinkHarness link(1);  // one ring: every channel goes through one decoder thread
    APP_CONTEXT* ctx = link.ctx.get();
    for (int k = 0; k < channels; ++k) {
        link.rx->channels[k].id = k;
        link.rx->channels[k].slot = k;
        link.rx->channels[k].waiting = 1;
    }
    ctx->layout = 1;
    ctx->layouts[1].num_cells = 16;
    ctx->playback_speed = 1.0;
    ctx->buf_level = 0;
    ctx->decoder_state = DECODER_RUNNING;
    reset_decoder_slots();
    std::thread decoder([ctx] { decoder_thread(ctx); });
    link.start(peer.port());

    // Each channel has shown a picture once its waiting flag is cleared; wait for a few more
    // frames so the pictures are past their first key frame.
    bool all = LinkHarness::wait_for(
        [&] {
            for (int k = 0; k < channels; ++k)
                if (link.rx->channels[k].waiting.load() != 0) return false;
            return true;
        },
        10000);
    EXPECT_TRUE(all) << "frames sent " << peer.frames_sent();
    peer.wait_frames(peer.frames_sent() + 4 * channels, 3000);
    link.stop();
    ctx->decoder_state = DECODER_STOPPED;
    decoder.join();
    peer.stop();

    for (int k = 0; k < channels; ++k) {
        SCOPED_TRACE(k);
        CHANNEL_INFO& ch = link.rx->channels[k];
        ASSERT_NE(ch.surface, nullptr);
        EXPECT_EQ(ch.surface->format->BitsPerPixel, 32);
        ASSERT_EQ(ch.surface->w, w);
        ASSERT_EQ(ch.surface->h, h);
        auto y = media_gen::bgra_to_y(static_cast<uint8_t*>(ch.surface->pixels), w, h, ch.surface->pitch);
        // Rows 8 to the moving square's top do not change from frame to frame: compare them.
        media_gen::Yuv420 src = media_gen::synth_picture(w, h, k, 0);
        int top = 8, rows = media_gen::square_rect(w, h, 0).y - top;
        double psnr = media_gen::psnr_y(y.data() + size_t(top) * w, src.y.data() + size_t(top) * w, w, rows, w, w);
        EXPECT_GT(psnr, 30.0);
        // And the digits are this channel's, not another's.
        media_gen::Rect d = media_gen::digits_rect(w, h, k);
        media_gen::Yuv420 other = media_gen::synth_picture(w, h, (k + 1) % channels, 0);
        double own = media_gen::psnr_y(y.data() + size_t(d.y) * w + d.x, src.y.data() + size_t(d.y) * w + d.x, d.w,
                                       d.h, w, w);
        double wrong = media_gen::psnr_y(y.data() + size_t(d.y) * w + d.x,
                                         other.y.data() + size_t(d.y) * w + d.x, d.w, d.h, w, w);
        EXPECT_GT(own, wrong + 10.0);
    }
    free_video_decoders();
}

}  // namespace
