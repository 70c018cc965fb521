// Decoder thread passes over a real ring: pictures against their source, key-frame waits,
// pacing, playback flags, and records that must be refused without losing the ring.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "client/foundation/user_events.h"
#include "client/links/decoder_thread.h"
#include "client/links/mulaw.h"
#include "client/links/video_decoders.h"
#include "decoder_test_support.h"
#include "peers/tirenc/tirenc.h"

using dtest::Link;

namespace {

class DecoderThread : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(init_video_decoders(), 0); }
  static void TearDownTestSuite() { free_video_decoders(); }
};

constexpr int CW = 352, CH = 288;

// Writes frames [from, to) of an H.264 clip for channel `ch` at 25 fps time stamps.
void write_q(Link& l, const dtest::Clip& c, int from, int to, int ch = 0) {
  for (int i = from; i < to; ++i) {
    uint32_t ms = uint32_t(i) * 40;
    l.write(
        'Q', 'Y',
        dtest::q_video(c.units[i], c.keys[i], ch, CW, CH, 100 + ms / 1000, uint16_t(ms % 1000)));
  }
}

void write_i(Link& l, const dtest::Clip& c, int from, int to, int ch = 0, int gop = 25) {
  for (int i = from; i < to; ++i) {
    uint32_t us = uint32_t(i) * 40000;
    l.write('I', 'Y',
            dtest::i_video(c.units[i], uint16_t(i % gop), ch, CW, CH, 100 + us / 1000000,
                           us % 1000000));
  }
}

TEST_F(DecoderThread, H264RecordsBecomeTheChannelsPictureWithBlackTopRows) {
  Link l('Q');
  dtest::Clip c = dtest::h264_clip(CW, CH, 6, 2);
  write_q(l, c, 0, 6, 1);
  for (int i = 0; i < 6; ++i) ASSERT_EQ(l.pass(), PASS_SHOWN) << i;
  EXPECT_EQ(l.pass(), PASS_EMPTY);
  SDL_Surface* s = l.ch(1).surface;
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->format->BitsPerPixel, 32);
  EXPECT_EQ(s->w, CW);
  EXPECT_EQ(s->h, CH);
  auto* px = static_cast<uint8_t*>(s->pixels);
  EXPECT_GT(dtest::psnr_bgra(px, s->pitch, c.pictures[5], 8), 30.0);
  for (int r = 0; r < 8; ++r)
    for (int x = 0; x < CW * 4; ++x) ASSERT_EQ(px[r * s->pitch + x], 0);
  auto y = media_gen::bgra_to_y(px, CW, CH, s->pitch);
  EXPECT_GT(media_gen::mean_y(y.data(), CW, media_gen::digits_rect(CW, CH, 2)), 60.0);
  EXPECT_EQ(l.rx().pending_frames.load(), 0);
  EXPECT_EQ(l.rx().pending_bytes.load(), 0u);
  EXPECT_DOUBLE_EQ(l.ch(1).frame_time2, 100.0);
  EXPECT_DOUBLE_EQ(l.ch(1).frame_time, 100.2);
}

TEST_F(DecoderThread, BlockDctRecordsAreDecodedAsKeyFramesAtTheirOwnSize) {
  Link l('S');
  const int w = 640, h = 224;
  media_gen::Yuv420 src = media_gen::synth_picture(w, h, 1, 0);
  std::vector<uint8_t> i420(src.y);
  i420.insert(i420.end(), src.u.begin(), src.u.end());
  i420.insert(i420.end(), src.v.begin(), src.v.end());
  tirenc::Frame f;
  tirenc::Options opt;
  opt.all_blocks = true;
  ASSERT_EQ(tirenc::encode_frame(i420.data(), w, h, opt, f), 0);
  FRAME_HEADER fh;
  fh.size = uint32_t(f.bytes.size());
  fh.channel = 1;
  fh.frame_type = 2;  // any type: every 'S' frame is a key frame
  fh.width = 320;     // the header's size is not what the decoder writes
  fh.height = 240;
  std::vector<uint8_t> body(FRAME_HEADER_SIZE + f.bytes.size());
  encode_frame_header(fh, body.data());
  std::memcpy(body.data() + FRAME_HEADER_SIZE, f.bytes.data(), f.bytes.size());
  l.write('S', 'Y', body);
  ASSERT_EQ(l.pass(), PASS_SHOWN);
  SDL_Surface* s = l.ch(1).surface;
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->w, w);
  EXPECT_EQ(s->h, h);
  EXPECT_GT(dtest::psnr_bgra(static_cast<uint8_t*>(s->pixels), s->pitch, src), 28.0);
}

TEST_F(DecoderThread, PredictedFramesWaitForAKeyFrameAfterIndexChangeHidingOrRequest) {
  dtest::Clip c = dtest::h264_clip(CW, CH, 30, 1);
  struct Case {
    const char* name;
    void (*disturb)(Link&);
    bool shown_while_disturbed;
  } cases[] = {
      {"decoder index passes to another channel id", [](Link& l) { l.ch(0).id = 9; }, true},
      {"key-frame request", [](Link& l) { l.ch(0).key_request = 1; }, true},
      {"channel hidden", [](Link& l) { l.ctx->page = 1; }, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Link l('Q');
    write_q(l, c, 0, 3);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(l.pass(), PASS_SHOWN);
    k.disturb(l);
    write_q(l, c, 3, 4);
    EXPECT_EQ(l.pass(), k.shown_while_disturbed ? PASS_WAIT_KEY : PASS_HIDDEN);
    l.ctx->page = 0;
    write_q(l, c, 4, 26);
    for (int i = 4; i < 25; ++i) ASSERT_EQ(l.pass(), PASS_WAIT_KEY) << i;
    EXPECT_EQ(l.pass(), PASS_SHOWN);  // frame 25 is the next IDR
  }
}

TEST_F(DecoderThread, Mpeg4SequenceGapCountsMissingThenIgnoredUntilKeyFrame) {
  Link l('I');
  dtest::Clip c = dtest::mpeg4_clip(CW, CH, 27, 1);
  write_i(l, c, 0, 3);
  write_i(l, c, 4, 27);  // frame 3 is lost
  STATS_COUNTERS before = stats_snapshot();
  for (int i = 0; i < 3; ++i) ASSERT_EQ(l.pass(), PASS_SHOWN);
  EXPECT_EQ(l.pass(), PASS_NO_PICTURE);  // seq 4 after 2: missing
  for (int i = 5; i < 25; ++i) ASSERT_EQ(l.pass(), PASS_NO_PICTURE) << i;
  EXPECT_EQ(l.pass(), PASS_SHOWN);  // key frame 25
  EXPECT_EQ(l.pass(), PASS_SHOWN);
  STATS_COUNTERS after = stats_snapshot();
  EXPECT_EQ(after.count[STAT_MISSING] - before.count[STAT_MISSING], 1u);
  EXPECT_EQ(after.count[STAT_IGNORED] - before.count[STAT_IGNORED], 20u);
}

TEST_F(DecoderThread, PacingFollowsTimeStampsSpeedAndLimits) {
  struct Case {
    double speed;
    uint32_t step_ms;  // time stamp step between frames
    uint64_t expect;   // milliseconds from the first frame's pacing to the second's
  } cases[] = {
      {1.0, 40, 40},  {2.0, 40, 20}, {0.5, 40, 80},
      {1.0, 2500, 2},  // a jump of more than 2 s is not waited for: only the 1 ms rests
      {1.0, 0, 1},     // the same moment: no rest after the second frame
  };
  dtest::Clip c = dtest::h264_clip(CW, CH, 2, 1);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.speed);
    SCOPED_TRACE(k.step_ms);
    Link l('Q');
    l.ctx->playback_speed = k.speed;
    l.write('Q', 'Y', dtest::q_video(c.units[0], true, 0, CW, CH, 50, 0));
    uint32_t t1 = k.step_ms;
    l.write('Q', 'Y',
            dtest::q_video(c.units[1], false, 0, CW, CH, 50 + t1 / 1000, uint16_t(t1 % 1000)));
    ASSERT_EQ(l.pass(), PASS_SHOWN);
    EXPECT_EQ(dtest::slept, 1u);  // first frame: nothing to pace against, 1 ms rest
    ASSERT_EQ(l.pass(), PASS_SHOWN);
    EXPECT_EQ(dtest::slept, k.expect);
  }
}

// A slot carrying several channels keeps to its rounds' stamps (each round counted from its
// first frame), and a live slot that fell behind shows what waits at once and is on time again
// from the next frame on. Fake time moves only by the decoder's sleeps and the arrivals.
TEST_F(DecoderThread, PacedSlotsKeepToTheirStampsAndLiveOnesCatchUp) {
  dtest::Clip c = dtest::h264_clip(CW, CH, 6, 1);
  {
    Link l('Q');
    for (int i = 0; i < 6; ++i)
      for (int ch = 0; ch < 4; ++ch) write_q(l, c, i, i + 1, ch);
    for (int n = 0; n < 24; ++n) ASSERT_EQ(l.pass(), PASS_SHOWN) << n;
    EXPECT_EQ(dtest::slept, 200u) << "five rounds of 40 ms; not a round's work more each time";
  }
  Link l('Q');
  l.rx().op_mode = 1;
  // Frame i arrives 40 i ms after frame 0; the thread stalls 110 ms after frame 1.
  const struct {
    uint32_t arrives;  // ms after frame 0
    int frames;        // written at that moment
  } steps[] = {{0, 1}, {40, 1}, {150, 2}, {160, 1}, {200, 1}};
  const uint32_t t0 = dtest::fake_now;
  std::vector<uint32_t> drawn;
  int next = 0;
  for (const auto& step : steps) {
    dtest::fake_now = std::max(dtest::fake_now, t0 + step.arrives);
    for (int f = 0; f < step.frames; ++f, ++next) write_q(l, c, next, next + 1);
    for (int f = 0; f < step.frames; ++f) {
      drawn.push_back(dtest::fake_now - t0);
      ASSERT_EQ(l.pass(), PASS_SHOWN);
    }
  }
  EXPECT_EQ(drawn, (std::vector<uint32_t>{0, 40, 150, 150, 160, 200}));
}

TEST_F(DecoderThread, HiddenChannelOnTheSlotNeverHoldsBackAShownOnesFrames) {
  Link l('Q', 2);
  l.ctx->layouts[1].num_cells = 1;  // channel 0 shown, channel 1 on the next page
  dtest::Clip c = dtest::h264_clip(CW, CH, 6, 1);
  for (int i = 0; i < 6; ++i) {
    write_q(l, c, i, i + 1, 0);
    write_q(l, c, i, i + 1, 1);
  }
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(l.pass(), PASS_SHOWN) << i;
    EXPECT_EQ(l.pass(), PASS_HIDDEN) << i;
  }
}

TEST_F(DecoderThread, ResizeNoticeCarriesTheFrameSizeNotThePicture) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0);
  {
    Link l('Q');
    dtest::Clip c = dtest::h264_clip(CW, CH, 1, 1);
    l.ctx->resize_request = 1;
    write_q(l, c, 0, 1);
    ASSERT_EQ(l.pass(), PASS_SHOWN);
    EXPECT_EQ(l.ctx->resize_request.load(), 0);
    // The decoder may replace the picture before the window loop reads the event.
    SDL_FreeSurface(l.ch(0).surface);
    l.ch(0).surface = nullptr;
    SDL_Event ev;
    ASSERT_EQ(SDL_PeepEvents(&ev, 1, SDL_GETEVENT, SDL_EVENTMASK(SDL_USEREVENT)), 1);
    EXPECT_EQ(user_event_number(ev), UE_DECODER_NOTICE);
    int w = 0, h = 0;
    frame_size_of(ev, &w, &h);
    EXPECT_EQ(w, CW);
    EXPECT_EQ(h, CH);
  }
  SDL_Quit();
}

TEST_F(DecoderThread, BufferingDelayHoldsTheSlotsFirstDrawnFrameOnly) {
  Link l('Q');
  l.ctx->buf_level = 0.5;
  dtest::Clip c = dtest::h264_clip(CW, CH, 2, 1);
  // Hidden frames neither wait nor start the stream's pacing.
  l.ctx->page = 1;
  write_q(l, c, 0, 2);
  EXPECT_EQ(l.pass(), PASS_HIDDEN);
  EXPECT_EQ(l.pass(), PASS_HIDDEN);
  EXPECT_EQ(dtest::slept, 0u);
  l.ctx->page = 0;
  write_q(l, c, 0, 2);
  ASSERT_EQ(l.pass(), PASS_SHOWN);
  EXPECT_EQ(dtest::slept, 501u);
  ASSERT_EQ(l.pass(), PASS_SHOWN);  // paced 40 ms after the first, not delayed again
  EXPECT_EQ(dtest::slept, 540u);
}

TEST_F(DecoderThread, BufferingDelayIsNotRepeatedForFramesStampedZero) {
  Link l('W');
  l.ctx->buf_level = 0.5;
  dtest::Clip c = dtest::mpeg4_clip(CW, CH, 3, 1);
  for (int i = 0; i < 3; ++i)
    l.write('W', 'Y', dtest::i_video(c.units[i], uint16_t(i), 0, CW, CH, 0, 0));
  for (int i = 0; i < 3; ++i) ASSERT_EQ(l.pass(), PASS_SHOWN) << i;
  EXPECT_LT(dtest::slept, 600u);  // one delay of 500 ms and the 1 ms steps, not three delays
}

TEST_F(DecoderThread, PauseHoldAndSingleStep) {
  Link l('Q');
  dtest::Clip c = dtest::h264_clip(CW, CH, 4, 1);
  write_q(l, c, 0, 4);
  // Paused: nothing is taken from the ring.
  l.ctx->playback_flags = 2;
  uint32_t read = l.slot().read_pos;
  EXPECT_EQ(l.pass(), PASS_PAUSED);
  EXPECT_EQ(dtest::slept, 100u);
  EXPECT_EQ(l.slot().read_pos, read);
  // Held: frames are taken but not decoded; a pending redraw runs once.
  static int redraws = 0;
  redraws = 0;
  set_decoder_hooks(DECODER_HOOKS{nullptr, [](APP_CONTEXT*, RECEIVER_INFO*) { ++redraws; }});
  l.ctx->playback_flags = 4;
  l.ctx->hold_state = 4;
  EXPECT_EQ(l.pass(), PASS_NO_PICTURE);
  EXPECT_EQ(redraws, 1);
  EXPECT_EQ(l.ctx->hold_state.load(), 1);
  EXPECT_EQ(l.ch(0).surface, nullptr);
  set_decoder_hooks(DECODER_HOOKS{});
}

TEST_F(DecoderThread, SingleStepPausesAfterTheShownFrame) {
  Link l('Q');
  dtest::Clip c = dtest::h264_clip(CW, CH, 2, 1);
  write_q(l, c, 0, 2);
  l.ctx->single_step = 1;
  EXPECT_EQ(l.pass(), PASS_SHOWN);
  EXPECT_EQ(l.ctx->playback_flags.load(), 2u);
  EXPECT_EQ(l.ctx->single_step.load(), 0);
  EXPECT_EQ(l.pass(), PASS_PAUSED);
}

TEST_F(DecoderThread, DrawHookGetsTheDecodedChannelAndCountsDisplayed) {
  Link l('Q');
  dtest::Clip c = dtest::h264_clip(CW, CH, 1, 1);
  write_q(l, c, 0, 1, 3);
  static CHANNEL_INFO* drawn = nullptr;
  drawn = nullptr;
  set_decoder_hooks(DECODER_HOOKS{[](APP_CONTEXT*, RECEIVER_INFO*, CHANNEL_INFO* ch) {
                                    drawn = ch;
                                    return 0;
                                  },
                                  nullptr});
  STATS_COUNTERS before = stats_snapshot();
  EXPECT_EQ(l.pass(), PASS_SHOWN);
  set_decoder_hooks(DECODER_HOOKS{});
  EXPECT_EQ(drawn, &l.ch(3));
  EXPECT_EQ(stats_snapshot().count[STAT_DISPLAYED] - before.count[STAT_DISPLAYED], 1u);
  EXPECT_EQ(l.ch(3).waiting.load(), 0);
}

// Bad records are skipped whole, and the good record behind them is still decoded.
TEST_F(DecoderThread, UntrustedRecordsAreSkippedAndTheRingStaysReadable) {
  dtest::Clip c = dtest::h264_clip(CW, CH, 1, 1);
  auto good = dtest::q_video(c.units[0], true, 0, CW, CH, 10, 0);
  struct Case {
    const char* name;
    void (*bad)(Link&, const std::vector<uint8_t>&);
  } cases[] = {
      {"receiver index beyond the receivers",
       [](Link& l, const std::vector<uint8_t>& g) {
         auto b = g;
         b[2] = 1;  // its writer's counts belong to no receiver here
         l.write('Q', 'Y', b, uint32_t(b.size()), FRAME_START_KEY, false);
       }},
      {"channel beyond num_video",
       [](Link& l, const std::vector<uint8_t>& g) {
         auto b = g;
         b[8] = 4;
         l.write('Q', 'Y', b);
       }},
      {"frame size beyond its record",
       [](Link& l, const std::vector<uint8_t>& g) {
         auto b = g;
         put_le32(b.data() + 4, uint32_t(b.size()) << 8);
         l.write('Q', 'Y', b);
       }},
      {"record shorter than its frame header",
       [](Link& l, const std::vector<uint8_t>&) {
         std::vector<uint8_t> b(20, 0xFF);
         b[2] = 0;
         l.write('Q', 'Y', b);
       }},
      {"picture header size beyond its record",
       [](Link& l, const std::vector<uint8_t>&) {
         auto b = dtest::i_video(std::vector<uint8_t>(100, 1), 0, 0, CW, CH, 1, 0);
         b.resize(90);
         l.write('I', 'Y', b);
       }},
      {"audio sample count beyond its slot",
       [](Link& l, const std::vector<uint8_t>&) {
         std::vector<uint8_t> a(AUDIO_RECORD_SIZE, 0xFF);
         AUDIO_FRAME_HEADER ah;
         ah.samples = 600;
         encode_audio_frame_header(ah, a.data());
         l.write('Q', 'A', a);
       }},
      {"unknown media kind", [](Link& l, const std::vector<uint8_t>& g) { l.write('Q', 'X', g); }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Link l('Q');
    k.bad(l, good);
    l.write('Q', 'Y', good);
    EXPECT_EQ(l.pass(), PASS_SKIPPED);
    EXPECT_EQ(l.pass(), PASS_SHOWN);
    EXPECT_EQ(l.slot().read_pos, l.slot().write_pos);
    EXPECT_EQ(l.rx().pending_frames.load(), 0);
    EXPECT_EQ(l.rx().pending_bytes.load(), 0u);
  }
}

TEST_F(DecoderThread, BadStartKeyOrRunawaySizeResynchronises) {
  dtest::Clip c = dtest::h264_clip(CW, CH, 1, 1);
  auto good = dtest::q_video(c.units[0], true, 0, CW, CH, 10, 0);
  {
    // A zeroed tail (the writer wrapped) sends the reader to the ring's start.
    Link l('Q', 4, 0x10000);
    l.slot().read_pos = l.slot().write_pos = 0x10000 - 100;
    l.write('Q', 'Y', good);  // does not fit: tail zeroed, written at 0
    EXPECT_EQ(l.slot().write_pos, uint32_t(FRAME_RECORD_HEADER_SIZE + good.size()));
    EXPECT_EQ(l.pass(), PASS_SHOWN);
    EXPECT_EQ(l.slot().read_pos, l.slot().write_pos);
  }
  {
    // A size running past the writer drops what is queued instead of reading stale bytes.
    Link l('Q');
    l.write('Q', 'Y', good, uint32_t(good.size() + 5000));
    l.write('Q', 'Y', good);
    EXPECT_EQ(l.pass(), PASS_SKIPPED);
    EXPECT_EQ(l.slot().read_pos, l.slot().write_pos);
    EXPECT_EQ(l.pass(), PASS_EMPTY);
  }
  {
    // Garbage at the start of the ring too: nothing is decoded, the reader catches up.
    Link l('Q');
    l.write('Q', 'Y', good, uint32_t(good.size()), 0x1234);
    EXPECT_EQ(l.pass(), PASS_SKIPPED);
    EXPECT_EQ(l.slot().read_pos, l.slot().write_pos);
  }
  {
    // A bad start key while the writer has not wrapped: the records at the ring's start
    // were shown already and are not replayed.
    Link l('Q');
    l.write('Q', 'Y', good);
    ASSERT_EQ(l.pass(), PASS_SHOWN);
    l.write('Q', 'Y', good, uint32_t(good.size()), 0x1234);
    l.write('Q', 'Y', good);
    EXPECT_EQ(l.pass(), PASS_SKIPPED);
    EXPECT_EQ(l.slot().read_pos, l.slot().write_pos);
  }
}

TEST_F(DecoderThread, PicturesLargerThanTheBufferAreRefused) {
  Link l('I');
  // Claims 4000 x 4000: more than the picture buffer holds.
  l.write('I', 'Y', dtest::i_video(std::vector<uint8_t>(64, 0x11), 0, 0, 4000, 4000, 1, 0));
  EXPECT_EQ(l.pass(), PASS_FAILED);
  EXPECT_EQ(l.ch(0).surface, nullptr);
}

TEST_F(DecoderThread, SecondChannelOnAClaimedDecoderIndexIsRefused) {
  Link l('Q');
  l.ch(2).slot = 0;  // as a 145th channel would get
  dtest::Clip a = dtest::h264_clip(CW, CH, 1, 1);
  write_q(l, a, 0, 1, 0);
  write_q(l, a, 0, 1, 2);
  EXPECT_EQ(l.pass(), PASS_SHOWN);
  EXPECT_EQ(l.pass(), PASS_SKIPPED);
  EXPECT_EQ(l.ch(2).surface, nullptr);
  reset_all_decoders();  // receivers stopped: the index is free again
  write_q(l, a, 0, 1, 2);
  EXPECT_EQ(l.pass(), PASS_SHOWN);
}

TEST_F(DecoderThread, AudioRecordsAreExpandedIntoTheQueueUnlessMutedOrOff) {
  Link l('Q');
  std::vector<uint8_t> a(AUDIO_RECORD_SIZE, 0);
  AUDIO_FRAME_HEADER ah;
  ah.samples = 160;
  ah.channel = 1;
  encode_audio_frame_header(ah, a.data());
  for (int i = 0; i < 160; ++i) a[AUDIO_FRAME_HEADER_SIZE + size_t(i)] = uint8_t(i);
  audio_ring_reset();
  l.write('Q', 'A', a);
  EXPECT_EQ(l.pass(), PASS_AUDIO);
  ASSERT_EQ(audio_ring_available(), 160u);
  std::vector<int16_t> out(160);
  ASSERT_EQ(audio_ring_read(out.data(), 160), 160);
  for (int i = 0; i < 160; ++i) ASSERT_EQ(out[size_t(i)], ulaw_to_linear(uint8_t(i)));

  l.ctx->mute = 1;
  l.write('Q', 'A', a);
  EXPECT_EQ(l.pass(), PASS_AUDIO_SKIPPED);
  l.ctx->mute = 0;
  l.ch(1).audio_on = 0;
  l.write('Q', 'A', a);
  EXPECT_EQ(l.pass(), PASS_AUDIO_SKIPPED);
  EXPECT_EQ(audio_ring_available(), 0u);
  EXPECT_EQ(l.rx().pending_bytes.load(), 0u);
}

TEST(DecoderHeaders, WirePictureHeaderConvertsThroughToFrameHeader) {
  uint8_t wire[64] = {};
  put_le32(wire + 0, 0x123456);  // size: low 20 bits
  put_le32(wire + 4, 0x5);       // vop type: low 2 bits
  put_le16(wire + 8, 7);         // sequence count
  put_le32(wire + 20, 0x13);     // channel: low 4 bits
  put_le32(wire + 24, 704);
  put_le32(wire + 28, 480);
  put_le32(wire + 32, 1);  // MPEG-4: scale 9
  wire[36] = 0x44;
  wire[40] = 15;
  put_le32(wire + 48, 0xAAAA0001);
  put_le32(wire + 52, 0xBBBB0002);
  put_le32(wire + 56, 1700000000);
  put_le32(wire + 60, 987654);
  PICTURE_HEADER ph = make_picture_header(wire);
  EXPECT_EQ(ph.size, 0x23456u);
  EXPECT_EQ(ph.vop_type, 1);
  EXPECT_EQ(ph.seq_cnt, 7);
  EXPECT_EQ(ph.channel, 3);
  EXPECT_EQ(ph.scale, 9);
  EXPECT_EQ(ph.video_type, 0x44);
  EXPECT_EQ(ph.interval, 15);
  EXPECT_EQ(ph.word20, 0xBBBB0002u);
  EXPECT_EQ(ph.word24, 0xAAAA0001u);
  put_le32(wire + 32, 0);
  EXPECT_EQ(make_picture_header(wire).scale, 2);

  ph.receiver = 5;
  FRAME_HEADER fh = picture_to_frame_header(ph);
  EXPECT_EQ(fh.receiver, 5);
  EXPECT_EQ(fh.size, 0x23456u);
  EXPECT_EQ(fh.frame_type, 1);
  EXPECT_EQ(fh.channel, 3);
  EXPECT_EQ(fh.kind, 9);
  EXPECT_EQ(fh.width, 704);
  EXPECT_EQ(fh.height, 480);
  EXPECT_EQ(fh.sec, 1700000000u);
  EXPECT_EQ(fh.msec, 987);
  EXPECT_EQ(fh.word24, 0xBBBB0002u);
  EXPECT_EQ(fh.word28, 0xAAAA0001u);
  EXPECT_EQ(fh.seq_cnt, 7);
  EXPECT_EQ(is_key_frame(0, 'I'), 1);
  EXPECT_EQ(is_key_frame(1, 'Q'), 1);
  EXPECT_EQ(is_key_frame(0, 'Q'), 0);
  EXPECT_EQ(is_key_frame(3, 'S'), 1);
}

TEST(DecoderWeave, QPicturesLoseTopRowsAndTallOnesAreBlendedFromTheirFields) {
  struct Case {
    int w, h, channels;
    int rows_written, black_rows;
  } cases[] = {{352, 240, 4, 240, 8}, {720, 576, 8, 288, 16}, {720, 576, 16, 288, 16}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.h);
    SCOPED_TRACE(k.channels);
    RECEIVER_INFO rx;
    rx.num_video = uint32_t(k.channels);
    std::vector<uint8_t> pic(size_t(k.w) * k.h * 4);
    // Row r holds the value 2r (mod 256) in every byte.
    for (int r = 0; r < k.h; ++r)
      std::memset(&pic[size_t(r) * k.w * 4], (2 * r) & 0xFF, size_t(k.w) * 4);
    int pitch = k.w * 4 + 16;
    std::vector<uint8_t> surf(size_t(pitch) * k.h, 0xC3);
    weave_fields(&rx, 'Q', pic.data(), surf.data(), pitch, k.w, k.h);
    for (int r = 0; r < k.h; ++r) {
      int expect;
      if (r < k.black_rows)
        expect = 0;
      else if (r >= k.rows_written)
        expect = 0xC3;
      else if (k.h <= 288)
        expect = (2 * r) & 0xFF;
      else if (k.channels == 8)  // even row 2r with odd row 2r+1
        expect = (((4 * r) & 0xFF) + ((4 * r + 2) & 0xFF)) / 2;
      else  // row r with row r + h/2
        expect = (((2 * r) & 0xFF) + ((2 * (r + k.h / 2)) & 0xFF)) / 2;
      ASSERT_EQ(surf[size_t(r) * pitch + 5], expect) << "row " << r;
      ASSERT_EQ(surf[size_t(r) * pitch + k.w * 4], 0xC3) << "pitch padding, row " << r;
    }
  }
}

// The decoder thread widens H.264 pictures on their way into the surface: the result must be
// the surface that widening first and weaving after gives, byte for byte.
TEST(DecoderWeave, PackedPicturesWeaveAsTheirWidenedSelves) {
  struct Case {
    int w, h, channels, rows;
  } cases[] = {{352, 240, 4, 240},
               {349, 288, 16, 288},
               {720, 576, 8, 288},
               {722, 577, 16, 288},
               {64, 4, 4, 4}};
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.w << "x" << k.h << ", " << k.channels << " channels");
    RECEIVER_INFO rx;
    rx.num_video = uint32_t(k.channels);
    std::vector<uint8_t> packed(size_t(k.w) * k.h * 3);
    uint32_t x = 12345;
    for (auto& b : packed) b = uint8_t((x = x * 1103515245u + 12345u) >> 24);
    std::vector<uint8_t> wide(size_t(k.w) * k.h * 4);
    std::memcpy(wide.data(), packed.data(), packed.size());
    rgb24_to_rgb32(wide.data(), k.w, k.h);
    int pitch = k.w * 4 + 8;
    std::vector<uint8_t> expect(size_t(pitch) * k.h, 0xC3), got(expect);
    weave_fields(&rx, 'Q', wide.data(), expect.data(), pitch, k.w, k.h);
    EXPECT_EQ(weave_packed_fields(&rx, packed.data(), got.data(), pitch, k.w, k.h), k.rows);
    for (int r = 0; r < k.h; ++r)
      ASSERT_EQ(std::memcmp(&got[size_t(r) * pitch], &expect[size_t(r) * pitch], size_t(pitch)), 0)
          << "row " << r;
  }
}

}  // namespace
