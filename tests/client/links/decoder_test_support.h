// Test rig of the decoder tests: an application context with one receiver and one ring,
// ring writers that follow the receivers' rules, record bodies, encoded clips and a fake clock.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "client/foundation/app_state.h"
#include "client/foundation/stats.h"
#include "client/links/decoder_thread.h"
#include "client/links/frame_headers.h"
#include "client/links/video_decoders.h"
#include "peers/media/media_gen.h"
#include "tests/client/links/record_files.h"
#include "platform/sync/test_clock.h"

namespace dtest {

// Fake clock: sleeping advances it, so pacing is checked without waiting.
inline uint32_t fake_now = 1000;
inline uint64_t slept = 0;
inline uint32_t fake_clock() { return fake_now; }
inline void fake_sleep(uint32_t ms) {
  fake_now += ms;
  slept += ms;
}
inline uint32_t frozen_stats_clock() { return 5; }

struct Link {
  std::unique_ptr<APP_CONTEXT> ctx{new APP_CONTEXT()};
  DECODER_STATE st;

  explicit Link(uint8_t protocol, int channels = 4, uint32_t ring_size = 0x400000) {
    EXPECT_EQ(init_app_context(ctx.get()), 0);
    ctx->ring_size = ring_size;
    ctx->num_slots = 1;
    ctx->slots[0].ring = static_cast<uint8_t*>(std::calloc(((ring_size >> 10) + 1) << 10, 1));
    ctx->slots[0].mutex = SDL_CreateMutex();
    ctx->num_receivers = 1;
    RECEIVER_INFO& rx = ctx->receivers[0];
    EXPECT_EQ(init_receiver(&rx), 0);
    rx.protocol = protocol;
    rx.num_video = uint32_t(channels);
    rx.context = ctx.get();
    for (int k = 0; k < channels; ++k) {
      rx.channels[k].id = k;
      rx.channels[k].slot = k;
      rx.channels[k].audio_on = 1;
    }
    ctx->layout = 1;
    ctx->layouts[1].num_cells = 16;
    ctx->playback_speed = 1.0;
    ctx->decoder_state = DECODER_RUNNING;
    set_test_clock(TEST_CLOCK_DECODERS, fake_clock, fake_sleep);
    set_test_clock(TEST_CLOCK_STATS, frozen_stats_clock);
    reset_all_decoders();
    reset_decoder_slots();
    EXPECT_EQ(decoder_begin(ctx.get(), &st), 0);
    slept = 0;
  }
  ~Link() {
    decoder_end(&st);
    free_app_context(ctx.get());
    set_test_clock(TEST_CLOCK_DECODERS, nullptr, nullptr);
  }

  RECEIVER_INFO& rx() { return ctx->receivers[0]; }
  CHANNEL_INFO& ch(int k) { return ctx->receivers[0].channels[k]; }
  DISPLAY_SLOT& slot() { return ctx->slots[0]; }
  int pass() { return decoder_pass(&st); }

  // Ring write as the receive threads do it: wrap (zeroing the tail) when the record does
  // not fit behind the write offset, then count it as pending.
  void write(uint8_t protocol, uint8_t media, const std::vector<uint8_t>& body, uint32_t size_field,
             uint16_t start_key = FRAME_START_KEY, bool count_pending = true) {
    DISPLAY_SLOT& s = slot();
    uint32_t len = uint32_t(FRAME_RECORD_HEADER_SIZE + body.size());
    if (s.write_pos + len > ctx->ring_size) {
      std::memset(s.ring + s.write_pos, 0, ctx->ring_size - s.write_pos);
      s.write_pos = 0;
    }
    FRAME_RECORD_HEADER rh;
    rh.start_key = start_key;
    rh.protocol = protocol;
    rh.media = media;
    rh.size = size_field;
    encode_frame_record_header(rh, s.ring + s.write_pos);
    std::memcpy(s.ring + s.write_pos + FRAME_RECORD_HEADER_SIZE, body.data(), body.size());
    s.write_pos += len;
    if (!count_pending) return;
    rx().pending_frames++;
    rx().pending_bytes += len;
  }
  void write(uint8_t protocol, uint8_t media, const std::vector<uint8_t>& body) {
    write(protocol, media, body, uint32_t(body.size()));
  }
};

// 'Q' video record body: FRAME_HEADER + Annex-B unit.
inline std::vector<uint8_t> q_video(const std::vector<uint8_t>& au, bool key, int channel, int w,
                                    int h, uint32_t sec, uint16_t msec) {
  return rectest::q_video(channel, key, sec, msec, au, w, h).body;
}

// 'I' video record body: PICTURE_HEADER + VOP.
inline std::vector<uint8_t> i_video(const std::vector<uint8_t>& vop, uint16_t seq, int channel,
                                    int w, int h, uint32_t sec, uint32_t usec, uint8_t scale = 2,
                                    uint16_t receiver = 0) {
  PICTURE_HEADER ph;
  ph.size = uint32_t(vop.size());
  ph.vop_type = seq == 0 ? 0 : 1;
  ph.channel = uint8_t(channel);
  ph.scale = scale;
  ph.hsize = uint16_t(w);
  ph.vsize = uint16_t(h);
  ph.sec = sec;
  ph.usec = usec;
  ph.seq_cnt = seq;
  ph.receiver = receiver;
  std::vector<uint8_t> body(PICTURE_HEADER_SIZE + vop.size());
  encode_picture_header(ph, body.data());
  std::memcpy(body.data() + PICTURE_HEADER_SIZE, vop.data(), vop.size());
  return body;
}

struct Clip {
  std::vector<std::vector<uint8_t>> units;
  std::vector<bool> keys;
  std::vector<media_gen::Yuv420> pictures;
};

// `frames` synthetic pictures of `channel` through the encoder Enc(w, h, 30 fps, args...).
template <class Enc, class... Args>
Clip encode_clip(int w, int h, int frames, int channel, Args... args) {
  Clip c;
  Enc enc(w, h, 30, args...);
  EXPECT_TRUE(enc.ok());
  for (int i = 0; i < frames; ++i) {
    c.pictures.push_back(media_gen::synth_picture(w, h, channel, i));
    std::vector<uint8_t> unit;
    bool key = false;
    EXPECT_EQ(enc.encode(c.pictures.back(), unit, key), 0);
    c.units.push_back(unit);
    c.keys.push_back(key);
  }
  return c;
}

inline Clip h264_clip(int w, int h, int frames, int channel, int gop = 25) {
  return encode_clip<media_gen::H264Encoder>(w, h, frames, channel, gop);
}

inline Clip mpeg4_clip(int w, int h, int frames, int channel, int gop = 25,
                       bool interlaced = false) {
  return encode_clip<media_gen::Mpeg4Encoder>(w, h, frames, channel, gop, interlaced);
}

// PSNR of a 32-bit B, G, R, X picture against a source picture, from row `skip` on.
inline double psnr_bgra(const uint8_t* bgra, int pitch, const media_gen::Yuv420& src,
                        int skip = 0) {
  int h = src.height - skip;
  auto y = media_gen::bgra_to_y(bgra + size_t(skip) * pitch, src.width, h, pitch);
  return media_gen::psnr_y(y.data(), src.y.data() + size_t(skip) * src.width, src.width, h,
                           src.width, src.width);
}

}  // namespace dtest
