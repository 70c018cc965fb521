// MPEG-4 and H.264 adapters: the VOL template, Xvid's sequence checks, pictures against their
// source, and refusals that keep the caller's buffer intact.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "client/links/video_decoders.h"
#include "decoder_test_support.h"
#include "peers/media/media_gen.h"

namespace {

class VideoAdapters : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_EQ(init_xvid(DECODER_POOL_SIZE), 0);
    ASSERT_EQ(init_pixtree(DECODER_POOL_SIZE), 0);
  }
  static void TearDownTestSuite() {
    free_xvid();
    free_pixtree();
  }
};

PICTURE_HEADER header_for(const std::vector<uint8_t>& vop, uint16_t seq, int w, int h,
                          uint8_t scale = 2) {
  PICTURE_HEADER ph;
  ph.size = uint32_t(vop.size());
  ph.seq_cnt = seq;
  ph.vop_type = seq == 0 ? 0 : 1;
  ph.hsize = uint16_t(w);
  ph.vsize = uint16_t(h);
  ph.scale = scale;
  return ph;
}

std::vector<uint8_t> fh_bytes(uint32_t size, int w, int h) {
  FRAME_HEADER fh;
  fh.size = size;
  fh.width = uint16_t(w);
  fh.height = uint16_t(h);
  fh.frame_type = 1;
  std::vector<uint8_t> b(FRAME_HEADER_SIZE);
  encode_frame_header(fh, b.data());
  return b;
}

TEST(Mpeg4VolTemplate, SizeAndInterlaceBitsAreWrittenIntoBytes23To27) {
  struct Case {
    int w, h, scale;
    uint8_t expect[5];
  } cases[] = {
      {704, 480, 9, {0x0A, 0x2C, 0x08, 0x78, 0x38}},
      {704, 480, 2, {0x0A, 0x2C, 0x08, 0x78, 0x28}},
      {352, 288, 2, {0x0A, 0x16, 0x08, 0x48, 0x28}},
      {720, 576, 8, {0x0A, 0x2D, 0x08, 0x90, 0x28}},
      {1920, 1080, 2, {0x0A, 0x78, 0x09, 0x0E, 0x28}},
  };
  for (const Case& c : cases) {
    uint8_t vol[MPEG4_VOL_TEMPLATE_SIZE];
    build_mpeg4_vol(vol, c.w, c.h, c.scale);
    EXPECT_EQ(0, std::memcmp(vol + 23, c.expect, 5)) << c.w << "x" << c.h << " scale " << c.scale;
  }
}

TEST_F(VideoAdapters, XvidSequenceCountsGateDecodingUntilKeyFrames) {
  const int w = 352, h = 288;
  dtest::Clip clip = dtest::mpeg4_clip(w, h, 8, 1);
  std::vector<uint8_t> pic(size_t(w) * h * 4);
  const int e = 3;
  reset_xvid(e);
  // (frame index in the clip, seq_cnt sent, expected result)
  struct Step {
    int frame;
    uint16_t seq;
    int result;
  } steps[] = {
      {1, 1, 1},                                   // predicted frame before any key frame: ignored
      {2, 2, 1}, {0, 0, 0},                        // key frame
      {1, 1, 0}, {2, 2, 0}, {3, 3, 0}, {3, 3, 0},  // a repeat of 3 after 3 is decoded
      {5, 5, 2},                                   // 5 after 3: missing, then waiting again
      {6, 6, 1},                                   // ignored until the next key frame
      {7, 7, 1},
  };
  for (const Step& s : steps) {
    PICTURE_HEADER ph = header_for(clip.units[s.frame], s.seq, w, h);
    EXPECT_EQ(decode_xvid(e, ph, clip.units[s.frame].data(), pic.data(), pic.size()), s.result)
        << "seq " << s.seq;
  }
  EXPECT_EQ(xvid_expected(e), XVID_WAIT_KEY);
}

TEST_F(VideoAdapters, XvidPicturesMatchTheSourceAtCifAndD1) {
  for (auto [w, h] : {std::pair{352, 288}, std::pair{704, 576}}) {
    SCOPED_TRACE(w);
    dtest::Clip clip = dtest::mpeg4_clip(w, h, 30, 12);
    std::vector<uint8_t> pic(size_t(w) * h * 4);
    const int e = w == 352 ? 10 : 11;
    reset_xvid(e);
    for (int i = 0; i < 30; ++i) {
      PICTURE_HEADER ph = header_for(clip.units[i], uint16_t(i % 25), w, h);
      ASSERT_EQ(decode_xvid(e, ph, clip.units[i].data(), pic.data(), pic.size()), 0) << i;
      if (i % 7 == 0 || i == 29) {
        EXPECT_GT(dtest::psnr_bgra(pic.data(), w * 4, clip.pictures[i]), 30.0) << i;
      }
    }
    auto y = media_gen::bgra_to_y(pic.data(), w, h, w * 4);
    EXPECT_GT(media_gen::mean_y(y.data(), w, media_gen::digits_rect(w, h, 12)), 60.0);
  }
}

TEST_F(VideoAdapters, XvidInterlacedKeyFramesDecodeWithScale9) {
  const int w = 704, h = 480;
  dtest::Clip clip = dtest::mpeg4_clip(w, h, 3, 5, 25, true);
  std::vector<uint8_t> pic(size_t(w) * h * 4);
  reset_xvid(12);
  for (int i = 0; i < 3; ++i) {
    PICTURE_HEADER ph = header_for(clip.units[i], uint16_t(i), w, h, 9);
    ASSERT_EQ(decode_xvid(12, ph, clip.units[i].data(), pic.data(), pic.size()), 0);
  }
  EXPECT_GT(dtest::psnr_bgra(pic.data(), w * 4, clip.pictures[2]), 30.0);
}

TEST_F(VideoAdapters, XvidRefusesPicturesThatDoNotFitOrChangeSizeWithoutKeyFrame) {
  const int w = 352, h = 288;
  dtest::Clip clip = dtest::mpeg4_clip(w, h, 2, 2);
  std::vector<uint8_t> pic(size_t(w) * h * 4 + 64, 0x5A);
  reset_xvid(20);
  // The capacity is one pixel short: nothing may be written.
  PICTURE_HEADER key = header_for(clip.units[0], 0, w, h);
  EXPECT_EQ(decode_xvid(20, key, clip.units[0].data(), pic.data(), size_t(w) * h * 4 - 4), -3);
  for (uint8_t b : pic) ASSERT_EQ(b, 0x5A);
  // A predicted frame whose header claims a larger size than its stream is refused.
  ASSERT_EQ(decode_xvid(20, key, clip.units[0].data(), pic.data(), pic.size()), 0);
  PICTURE_HEADER wider = header_for(clip.units[1], 1, 1920, 16);
  std::vector<uint8_t> big(size_t(1920) * 1080 * 4);
  EXPECT_EQ(decode_xvid(20, wider, clip.units[1].data(), big.data(), big.size()), -3);
  EXPECT_EQ(xvid_expected(20), XVID_WAIT_KEY);
  // Below one macroblock Xvid's output conversion writes outside the picture: refused,
  // whatever the capacity, with nothing written.
  std::vector<uint8_t> tiny(7 * 48 * 4 + 64, 0x5A);
  EXPECT_EQ(decode_xvid(20, header_for(clip.units[0], 0, 7, 48), clip.units[0].data(), tiny.data(),
                        7 * 48 * 4),
            -3);
  for (uint8_t b : tiny) ASSERT_EQ(b, 0x5A);
}

TEST_F(VideoAdapters, H264PicturesAreWidenedAtTheDecodersRealSize) {
  const int w = 352, h = 288;
  dtest::Clip clip = dtest::h264_clip(w, h, 5, 4);
  std::vector<uint8_t> pic(size_t(w) * h * 4);
  reset_pixtree(30);
  for (int i = 0; i < 5; ++i) {
    // The header lies about the size; the decoder's own size is what counts.
    auto fh = fh_bytes(uint32_t(clip.units[i].size()), 176, 144);
    int ow = 0, oh = 0;
    ASSERT_EQ(decode_pixtree(30, fh.data(), clip.units[i].data(), pic.data(), pic.size(), &ow, &oh),
              0)
        << i;
    EXPECT_EQ(ow, w);
    EXPECT_EQ(oh, h);
  }
  EXPECT_GT(dtest::psnr_bgra(pic.data(), w * 4, clip.pictures[4]), 32.0);
  for (size_t i = 3; i < pic.size(); i += 4) ASSERT_EQ(pic[i], 0);
  EXPECT_EQ(pixtree_reset_word(30), 0xFFFFFFFFu);
}

TEST_F(VideoAdapters, H264RefusesEmptyForeignAndOversizedFrames) {
  const int w = 352, h = 288;
  dtest::Clip clip = dtest::h264_clip(w, h, 1, 4);
  std::vector<uint8_t> zeros(64, 0);
  std::vector<uint8_t> foreign = clip.units[0];
  foreign[0] = 0x47;
  std::vector<uint8_t> pic(size_t(w) * h * 4 + 64, 0x33);
  int ow = -7, oh = -7;
  auto fh = fh_bytes(64, w, h);
  EXPECT_EQ(decode_pixtree(31, fh.data(), zeros.data(), pic.data(), pic.size(), &ow, &oh), -1);
  fh = fh_bytes(uint32_t(foreign.size()), w, h);
  EXPECT_EQ(decode_pixtree(31, fh.data(), foreign.data(), pic.data(), pic.size(), &ow, &oh), -1);
  fh = fh_bytes(uint32_t(clip.units[0].size()), w, h);
  // Room for the 24-bit picture but not for its widening: refused, nothing written.
  EXPECT_EQ(
      decode_pixtree(31, fh.data(), clip.units[0].data(), pic.data(), size_t(w) * h * 3, &ow, &oh),
      -1);
  for (uint8_t b : pic) ASSERT_EQ(b, 0x33);
  EXPECT_EQ(ow, -7);
  EXPECT_EQ(decode_pixtree(DECODER_POOL_SIZE, fh.data(), clip.units[0].data(), pic.data(),
                           pic.size(), &ow, &oh),
            -4);
}

TEST(VideoHelpers, WideningKeepsByteOrderAndZeroesTheFourthByte) {
  // Sizes below, at and across the 16-pixel and block steps of the in-place widening.
  for (auto [w, h] : {std::pair{3, 2}, std::pair{16, 1}, std::pair{37, 5}, std::pair{257, 3}}) {
    SCOPED_TRACE(w);
    std::vector<uint8_t> buf(size_t(w) * h * 4 + 8, 0xEE);
    for (int i = 0; i < w * h * 3; ++i) buf[size_t(i)] = uint8_t(i * 7 + 1);
    rgb24_to_rgb32(buf.data(), w, h);
    for (int p = 0; p < w * h; ++p) {
      ASSERT_EQ(buf[size_t(p) * 4 + 0], uint8_t((p * 3) * 7 + 1)) << p;
      ASSERT_EQ(buf[size_t(p) * 4 + 1], uint8_t((p * 3 + 1) * 7 + 1)) << p;
      ASSERT_EQ(buf[size_t(p) * 4 + 2], uint8_t((p * 3 + 2) * 7 + 1)) << p;
      ASSERT_EQ(buf[size_t(p) * 4 + 3], 0) << p;
    }
    for (size_t i = size_t(w) * h * 4; i < buf.size(); ++i) ASSERT_EQ(buf[i], 0xEE);
  }
}

TEST(VideoHelpers, EmptyFrameLooksAtTheFirstTwentyBytesOnly) {
  std::vector<uint8_t> d(40, 0);
  EXPECT_EQ(is_empty_frame(d.data(), d.size()), 1);
  EXPECT_EQ(is_empty_frame(d.data(), 0), 1);
  d[20] = 1;
  EXPECT_EQ(is_empty_frame(d.data(), d.size()), 1);
  d[19] = 1;
  EXPECT_EQ(is_empty_frame(d.data(), d.size()), 0);
  EXPECT_EQ(is_empty_frame(d.data(), 19), 1);
}

}  // namespace
