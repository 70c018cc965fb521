// ".dat" frame files written here from synthetic pictures: the header rules, every FSH layout
// played through the rings and decoded into the channel pictures (with zero-size frames,
// garbage, an impossible size and a cut tail in the way), and seeks that resume each channel
// at its key frame.
#include "client/links/dat_file.h"

#include "client/links/decoder_thread.h"
#include "client/links/video_decoders.h"
#include "peers/qdvr/qdvr_peer.h"
#include "tests/client/links/decoder_test_support.h"
#include "tests/client/links/record_files.h"
#include "platform/sync/test_clock.h"

namespace {

using namespace rectest;

TEST(DatHeader, version_and_sub_version_choose_the_layout) {
  struct Case {
    std::vector<uint8_t> bytes;
    int known, layout, fsh;
  } cases[] = {
      {{0x00, 0x22, 0x03, 0x03, 0, 0, 0, 0}, 1, 3, 40},
      {{0x01, 0x22, 0x05, 0x00, 0, 0, 0, 0}, 1, 0, 32},
      {{0x02, 0x22, 0x02, 0x02, 0, 0, 0, 0}, 1, 2, 32},
      {{0x00, 0x22, 0x01, 0x01, 0, 0, 0, 0}, 1, 1, 32},
      {{0x00, 0x30, 0x03, 0x03, 0, 0, 0, 0}, 0, 3, 40},  // unknown version: layout 3
      {{0x00, 0x30, 0x01, 0x01, 0, 0, 0, 0}, 0, 3, 40},
      {{0x00, 0x22, 0x03}, 0, 3, 40},  // shorter than a header
  };
  for (const Case& c : cases) {
    FILE* f = tmpfile();
    fwrite(c.bytes.data(), 1, c.bytes.size(), f);
    rewind(f);
    DAT_FILE_INFO info;
    info.layout = -1;
    EXPECT_EQ(read_dat_file_header(f, &info), c.known);
    EXPECT_EQ(info.layout, c.layout);
    EXPECT_EQ(info.fsh_size, c.fsh);
    fclose(f);
  }
}

TEST(DatSeek, backward_steps_go_three_key_frames_of_the_channel_back) {
  // Channels 0 and 1 alternate, one key frame per second each.
  auto idx =
      entries({{0, 10}, {1, 10.5}, {0, 11}, {1, 11.5}, {0, 12}, {1, 12.5}, {0, 13}, {1, 13.5}});
  const int n = int(idx.size());
  struct Case {
    double t, step;
    int expect;
  } cases[] = {
      {13.2, 10, 6},   // forwards: the plain search
      {13.2, -10, 6},  // backwards, but not more than 1 s past the entry found
      {14.9, -10, 1},  // 1.4 s past entry 7 (channel 1): three channel-1 entries back
      {12.6, -10, 5},  // past entry 5 by 0.1 s only
      {13.1, -1, 6},  {9, -10, -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(find_dat_key_frame(idx.data(), n, c.t, c.step), c.expect) << c.t << " " << c.step;
  // Fewer than three earlier key frames of that channel: the entry found stays.
  auto sparse = entries({{0, 10}, {1, 15}, {0, 20}});
  EXPECT_EQ(find_dat_key_frame(sparse.data(), 3, 25, -10), 2);
}

constexpr int kW = 352, kH = 288;

struct DatFile {
  std::vector<uint8_t> bytes;
  int keys = 0;        // key frames an index must list
  size_t rest_at = 0;  // where playback rests: the cut frame's pattern
  std::vector<int> video_fed = {0, 0};
  int audio_frames = 0;  // frames carrying audio blocks (each also to every mapped channel)
};

std::vector<uint8_t> header_of(int layout) {
  static const uint16_t subs[] = {0x0000, 0x0101, 0x0202, 0x0303};
  std::vector<uint8_t> h(8, 0);
  put_le16(h.data(), 0x2200);
  put_le16(h.data() + 2, subs[layout]);
  return h;
}

void add(std::vector<uint8_t>& out, const std::vector<uint8_t>& b) {
  out.insert(out.end(), b.begin(), b.end());
}

// Two channels of `frames` pictures each, interleaved, 40 ms apart, plus the damage.
DatFile build_dat(int layout, const std::vector<dtest::Clip>& clips, int frames) {
  DatFile d;
  d.bytes = header_of(layout);
  const bool audio = layout == 3;
  for (int i = 0; i < frames; ++i) {
    const uint32_t sec = 1000 + uint32_t(i / 25);
    const uint16_t msec = uint16_t(i % 25 * 40);
    for (int c = 0; c < 2; ++c) {
      const auto& au = clips[size_t(c)].units[size_t(i)];
      const bool key = clips[size_t(c)].keys[size_t(i)];
      add(d.bytes, qdvr::build_fsh(layout, c, kW, kH, uint32_t(au.size()), key, sec, msec, i % 64,
                                   audio, c));
      add(d.bytes, au);
      if (audio) {
        for (int k = 0; k < 4; ++k) add(d.bytes, std::vector<uint8_t>(512, uint8_t(0x10 + 3 - k)));
        ++d.audio_frames;
      }
      d.keys += key;
      d.video_fed[size_t(c)]++;
    }
    if (i == 3) {
      // A zero-size frame, garbage, and (layout 3) a frame claiming more than can exist.
      add(d.bytes, qdvr::build_fsh(layout, 0, kW, kH, 0, false, sec, msec, 0, false, 0));
      add(d.bytes, {0x00, 0xFF, 0x01, 0x00, 0x07, 0x42, 0x99, 0xFF, 0x01});
      if (layout == 3)
        add(d.bytes, qdvr::build_fsh(3, 1, kW, kH, 0xFFFFF, true, sec, msec, 0, true, 1));
    }
    if (i == 5) {
      // A channel the player keeps no state for (layouts 2 and 3 carry 16).
      if (layout >= 2) {
        add(d.bytes, qdvr::build_fsh(layout, 9, kW, kH, 4, true, sec, msec, 0, false, 0));
        add(d.bytes, {0, 0, 0, 1});
      }
    }
  }
  // The cut tail: an FSH whose data ends early.
  d.rest_at = d.bytes.size();
  add(d.bytes, qdvr::build_fsh(layout, 0, kW, kH, 5000, true, 2000, 0, 0, false, 0));
  add(d.bytes, std::vector<uint8_t>(100, 0x66));
  return d;
}

class DatPlayback : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(init_video_decoders(), 0);
    for (int c = 0; c < 2; ++c) clips.push_back(dtest::h264_clip(kW, kH, kFrames, c, 10));
  }
  static void TearDownTestSuite() { free_video_decoders(); }
  static constexpr int kFrames = 40;
  static std::vector<dtest::Clip> clips;
  ScratchDir dir;
};
std::vector<dtest::Clip> DatPlayback::clips;

TEST_F(DatPlayback, every_layout_decodes_into_the_channel_pictures) {
  set_test_clock(TEST_CLOCK_DECODERS, dtest::fake_clock, dtest::fake_sleep);
  for (int layout = 0; layout < 4; ++layout) {
    SCOPED_TRACE(layout);
    DatFile d = build_dat(layout, clips, kFrames);
    const fs::path path = dir.path / ("l" + std::to_string(layout) + ".dat");
    write_file(path, d.bytes);

    PlayerRig rig(2, 0x400000);
    std::vector<KEY_FRAME_ENTRY> index(DAT_INDEX_MAX);
    int count = 0;
    DAT_FILE_INFO info;
    std::snprintf(rig.rx->file_name, sizeof rig.rx->file_name, "%s", path.c_str());
    rig.rx->file = std::fopen(path.c_str(), "rb");
    EXPECT_EQ(read_dat_file_header(rig.rx->file, &info), 1);
    ASSERT_EQ(index_dat_file(index.data(), &count, rig.rx, info), 0);
    EXPECT_EQ(count, d.keys);
    for (int i = 0; i < count; ++i) EXPECT_EQ(d.bytes[index[size_t(i)].offset + 2], 0xFF);
    std::fclose(rig.rx->file);
    rig.rx->file = nullptr;

    APP_CONTEXT* ctx = rig.ctx.get();
    for (int k = 0; k < 2; ++k) rig.rx->channels[k].slot = k;
    ctx->layout = 1;
    ctx->layouts[1].num_cells = 16;
    rig.start(path, play_dat_file);
    EXPECT_TRUE(wait_for(
        [&] {
          SDL_mutexP(rig.rx->mutex);
          const bool at = rig.rx->file && ftello(rig.rx->file) == off_t(d.rest_at);
          SDL_mutexV(rig.rx->mutex);
          return at;
        },
        10000));
    rig.stop();

    // What went into the rings: each channel's pictures, and in layout 3 its audio.
    int video[2] = {0, 0}, audio = 0;
    for (uint32_t s = 0; s < 2; ++s) {
      const DISPLAY_SLOT& slot = ctx->slots[s];
      for (uint32_t p = 0; p != slot.write_pos;) {
        FRAME_RECORD_HEADER rh = decode_frame_record_header(slot.ring + p);
        const uint8_t* body = slot.ring + p + FRAME_RECORD_HEADER_SIZE;
        if (rh.media == 'Y') video[decode_frame_header(body).channel]++;
        if (rh.media == 'A') {
          ++audio;
          EXPECT_EQ(decode_audio_frame_header(body).channel, s);
          EXPECT_EQ(body[AUDIO_FRAME_HEADER_SIZE], 0x10 + s)
              << "the block of the channel's own audio";
        }
        p += uint32_t(FRAME_RECORD_HEADER_SIZE + rh.size);
      }
    }
    EXPECT_EQ(video[0], d.video_fed[0]);
    EXPECT_EQ(video[1], d.video_fed[1]);
    // Every frame's audio goes to each channel mapped so far: one channel after the first frame.
    EXPECT_EQ(audio, d.audio_frames ? 2 * d.audio_frames - 1 : 0);

    // The decoder threads' passes turn them into the channels' pictures.
    ctx->decoder_state = DECODER_RUNNING;
    ctx->playback_speed = 1.0;
    reset_all_decoders();
    reset_decoder_slots();
    DECODER_STATE st[2];
    for (auto& s : st) ASSERT_EQ(decoder_begin(ctx, &s), 0);
    for (auto& s : st)
      while (ctx->slots[s.slot].read_pos != ctx->slots[s.slot].write_pos) decoder_pass(&s);
    for (auto& s : st) decoder_end(&s);
    for (int c = 0; c < 2; ++c) {
      SCOPED_TRACE(c);
      SDL_Surface* pic = rig.rx->channels[c].surface;
      ASSERT_NE(pic, nullptr);
      ASSERT_EQ(pic->w, kW);
      EXPECT_GT(dtest::psnr_bgra(static_cast<uint8_t*>(pic->pixels), pic->pitch,
                                 clips[size_t(c)].pictures.back(), 8),
                30.0);
    }
  }
  set_test_clock(TEST_CLOCK_DECODERS, nullptr, nullptr);
}

TEST_F(DatPlayback, seeks_resume_each_channel_at_its_key_frame) {
  DatFile d = build_dat(3, clips, kFrames);
  const fs::path path = dir.path / "seek.dat";
  write_file(path, d.bytes);
  // Key frames every 10 pictures, in file order channel 0 then 1 at 1000.0, 1000.4, 1000.8 and
  // 1001.2. The first picture fed is the key frame sought to; each channel starts at a key frame.
  struct Case {
    double t, step;
    uint32_t sec;
    uint16_t msec;
  } cases[] = {
      {1000.5, 10, 1000, 400},  // the last key frame at or before the target
      {1000.1, -10, 1000, 0},
      {1002.5, -10, 1000, 0},  // past the last by more than 1 s: three of its channel back
      {0, 0, 1000, 0},         // before the first: the start of the file
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.t);
    PlayerRig rig(1, 0x400000);   // one ring: the records in file order
    rig.ctx->playback_flags = 2;  // paused: nothing is read before the seek
    rig.start(path, play_dat_file);
    ASSERT_TRUE(wait_for([&] { return rig.running(); }, 5000));
    rig.rx->position = c.t;
    EXPECT_EQ(seek_dat_file(rig.rx, c.step), 0);
    rig.ctx->playback_flags = 0;
    auto fed = rig.take_until(80, 5000);
    bool first[2] = {true, true}, any = false;
    for (const Rec& r : fed) {
      if (r.media != 'Y') continue;
      FRAME_HEADER fh = decode_frame_header(r.body.data());
      if (!any) {
        EXPECT_EQ(fh.sec, c.sec);
        EXPECT_EQ(fh.msec, c.msec);
        any = true;
      }
      if (!first[fh.channel]) continue;
      first[fh.channel] = false;
      EXPECT_EQ(fh.frame_type, 1) << "channel " << int(fh.channel);
    }
    EXPECT_FALSE(first[0] || first[1]);
  }
}

}  // namespace
