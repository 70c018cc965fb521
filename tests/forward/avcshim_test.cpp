// Avcshim over pixtree_h264_dec: result codes pass through unchanged, pictures come out in the
// documented B, G, R order and never past the caller's buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "forward/avcshim/avcshim.h"
#include "peers/media/media_gen.h"
#include "platform/pixtree/pixtree_h264_dec.h"

namespace {

struct Record {
  alignas(8) uint8_t bytes[PT_RECORD_SIZE] = {};
  void set(int off, uint32_t v) { std::memcpy(bytes + off, &v, 4); }
  uint32_t get(int off) const {
    uint32_t v;
    std::memcpy(&v, bytes + off, 4);
    return v;
  }
  Record(uint32_t capacity = 0) {
    set(PT_OFF_CREATED, 1);
    set(PT_OFF_FORMAT, PT_FORMAT_RGB24);
    set(PT_OFF_CAPACITY, capacity);
  }
};

struct Stream {
  std::vector<std::vector<uint8_t>> units;
  std::vector<media_gen::Yuv420> pictures;
};

Stream make_stream(int w, int h, int frames, int channel) {
  Stream s;
  media_gen::H264Encoder enc(w, h, 30, 25);
  EXPECT_TRUE(enc.ok());
  for (int i = 0; i < frames; ++i) {
    s.pictures.push_back(media_gen::synth_picture(w, h, channel, i));
    std::vector<uint8_t> au;
    bool key = false;
    EXPECT_EQ(enc.encode(s.pictures.back(), au, key), 0);
    s.units.push_back(au);
  }
  return s;
}

// Luma of a packed 24-bit B, G, R picture, via the 32-bit helper.
std::vector<uint8_t> bgr24_luma(const uint8_t* p, int w, int h) {
  std::vector<uint8_t> bgra(size_t(w) * h * 4);
  for (size_t i = 0; i < size_t(w) * h; ++i) {
    std::memcpy(&bgra[i * 4], p + i * 3, 3);
    bgra[i * 4 + 3] = 0;
  }
  return media_gen::bgra_to_y(bgra.data(), w, h, w * 4);
}

TEST(AvcshimResults, RecordsWithoutDecoderOrWithBadArgumentsAreRefused) {
  uint8_t data[8] = {0, 0, 0, 1, 0x65, 0, 0, 0};
  std::vector<uint8_t> out(64);
  Record none(64);
  EXPECT_EQ(AvcshimDecOnFrame(none.bytes, data, sizeof data, out.data()),
            PT_REINIT);  // -5 comes back as is

  Record wrong_format(64);
  wrong_format.set(PT_OFF_FORMAT, 2);
  EXPECT_EQ(AvcshimDecOnFrame(wrong_format.bytes, data, sizeof data, out.data()), PT_BAD_ARGS);
  EXPECT_EQ(AvcshimDecOnFrame(nullptr, data, sizeof data, out.data()), PT_BAD_ARGS);

  Record r(64);
  ASSERT_EQ(PT_H264dec_Init(r.bytes), 0);
  EXPECT_EQ(AvcshimDecOnFrame(r.bytes, data, -1, out.data()), PT_BAD_ARGS);
  EXPECT_EQ(AvcshimDecOnFrame(r.bytes, nullptr, 8, out.data()), PT_BAD_ARGS);
  EXPECT_EQ(PT_H264dec_Uninit(r.bytes), 0);
  EXPECT_EQ(AvcshimDecOnFrame(r.bytes, data, sizeof data, out.data()), PT_REINIT);
  EXPECT_EQ(PT_H264dec_Uninit(r.bytes), 0);  // twice is harmless
}

TEST(AvcshimDecode, CifAndD1PicturesMatchTheSourceInBgrOrder) {
  for (auto [w, h] : {std::pair{352, 288}, std::pair{704, 576}}) {
    SCOPED_TRACE(w);
    Stream s = make_stream(w, h, 30, 7);
    std::vector<uint8_t> out(size_t(w) * h * 3);
    Record r(uint32_t(out.size()));
    ASSERT_EQ(PT_H264dec_Init(r.bytes), 0);
    for (size_t i = 0; i < s.units.size(); ++i) {
      int rc = AvcshimDecOnFrame(r.bytes, s.units[i].data(), int(s.units[i].size()), out.data());
      ASSERT_TRUE(rc == PT_OK || rc == PT_OK_NEW_SIZE) << "frame " << i << " rc " << rc;
      EXPECT_EQ(r.get(PT_OFF_WIDTH), uint32_t(w));
      EXPECT_EQ(r.get(PT_OFF_HEIGHT), uint32_t(h));
      if (i % 10 == 0 || i == s.units.size() - 1) {
        auto y = bgr24_luma(out.data(), w, h);
        EXPECT_GT(media_gen::psnr_y(y.data(), s.pictures[i].y.data(), w, h, w, w), 32.0) << i;
      }
    }
    // The moving square is red: byte 2 (R) must lead byte 0 (B) there.
    media_gen::Rect sq = media_gen::square_rect(w, h, 29);
    const uint8_t* px = &out[(size_t(sq.y + sq.h / 2) * w + sq.x + sq.w / 2) * 3];
    EXPECT_GT(int(px[2]), int(px[0]) + 60);
    PT_H264dec_Uninit(r.bytes);
  }
}

TEST(AvcshimDecode, PictureLargerThanCapacityIsRefusedWithoutWriting) {
  const int w = 352, h = 288;
  Stream s = make_stream(w, h, 1, 3);
  std::vector<uint8_t> out(size_t(w) * h * 3 + 16, 0xA5);
  Record r(uint32_t(w * h * 3 - 1));
  ASSERT_EQ(PT_H264dec_Init(r.bytes), 0);
  EXPECT_EQ(AvcshimDecOnFrame(r.bytes, s.units[0].data(), int(s.units[0].size()), out.data()),
            PT_TOO_LARGE);
  for (uint8_t b : out) ASSERT_EQ(b, 0xA5);
  PT_H264dec_Uninit(r.bytes);
}

TEST(AvcshimDecode, GarbageAndPredictedFramesBeforeAnyKeyDoNotProducePictures) {
  const int w = 352, h = 288;
  Stream s = make_stream(w, h, 3, 3);
  std::vector<uint8_t> out(size_t(w) * h * 3);
  Record r(uint32_t(out.size()));
  ASSERT_EQ(PT_H264dec_Init(r.bytes), 0);
  std::vector<uint8_t> junk(500);
  for (size_t i = 0; i < junk.size(); ++i) junk[i] = uint8_t(i * 37 + 11);
  int rc = AvcshimDecOnFrame(r.bytes, junk.data(), int(junk.size()), out.data());
  EXPECT_TRUE(rc == PT_NO_PICTURE || rc == PT_DECODE_ERROR) << rc;
  rc = AvcshimDecOnFrame(r.bytes, s.units[1].data(), int(s.units[1].size()), out.data());
  EXPECT_TRUE(rc == PT_NO_PICTURE || rc == PT_DECODE_ERROR) << rc;
  // The decoder is still usable: the key frame decodes.
  rc = AvcshimDecOnFrame(r.bytes, s.units[0].data(), int(s.units[0].size()), out.data());
  EXPECT_TRUE(rc == PT_OK || rc == PT_OK_NEW_SIZE) << rc;
  PT_H264dec_Uninit(r.bytes);
}

}  // namespace
