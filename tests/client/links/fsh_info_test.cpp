// Frame stream header parsing for the four layouts the 'Q' DVRs send.
#include "client/links/fsh_info.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint8_t> fsh(int layout) {
  std::vector<uint8_t> f(size_t(fsh_size_of_layout(layout)), 0);
  f[0] = 0xFF;
  f[1] = 0x01;
  return f;
}

TEST(FshInfo, resolution_follows_code_family_and_standard) {
  struct Case {
    int layout;
    uint8_t b4_or_b9;
    uint8_t std_byte;
    uint16_t w, h;
  } cases[] = {
      {0, 0x00, 0x40, 720, 288},  // code 0 family 0, 576-line standard
      {0, 0x80, 0x00, 720, 480},  // code 0 family 2, 480 lines
      {1, 0x40, 0x40, 720, 576},  // family 1 in layout 1 always means code 14
      {0, 0x06, 0x00, 352, 240},   {0, 0x07, 0x00, 176, 144},
      {0, 0x01, 0x00, 1920, 1080}, {0, 0x03, 0x00, 0, 0},  // invalid code keeps no size
      {0, 0xC4, 0x00, 0, 0},                               // family 3 is invalid
  };
  for (const Case& c : cases) {
    auto f = fsh(c.layout);
    f[4] = c.b4_or_b9;
    f[16] = c.std_byte;
    f[17] = 10;  // data size 10
    FRAME_HEADER fh;
    int st = 0;
    EXPECT_EQ(1 << c.layout, get_fsh_info(f.data(), f.size(), &st, c.layout, &fh, nullptr));
    EXPECT_EQ(c.w, fh.width) << int(c.b4_or_b9);
    EXPECT_EQ(c.h, fh.height) << int(c.b4_or_b9);
    EXPECT_EQ(1, st);
  }
  auto f = fsh(2);
  f[9] = 6;
  f[18] = 0x80;
  f[20] = 1;
  FRAME_HEADER fh;
  EXPECT_EQ(4, get_fsh_info(f.data(), f.size(), nullptr, 2, &fh, nullptr));
  EXPECT_EQ(352, fh.width);
  EXPECT_EQ(288, fh.height);
}

TEST(FshInfo, layout3_fills_sizes_time_and_audio) {
  auto f = fsh(3);
  f[7] = 200;           // sequence count, whole byte
  f[8] = 0x1B;          // channel 11
  f[9] = 4;             // 720 x full height
  f[12] = 0x10;         // seconds
  f[18] = 0x80 | 0x60;  // 576 lines, both carried flags
  f[20] = 0x34;
  f[21] = 0x12;
  f[22] = 0x1F;  // size 0xF1234 (low nibble), audio present (byte 22 >= 16)
  f[24] = 0x04;  // audio channel 2
  f[26] = 0xE7;
  f[27] = 0x03;  // 999 ms
  f[28] = 0x01 | (0x15 << 2);
  FRAME_HEADER fh;
  AUDIO_FRAME_HEADER ah;
  int st = 0;
  ASSERT_EQ(8, get_fsh_info(f.data(), f.size(), &st, 3, &fh, &ah));
  EXPECT_EQ(0xF1234u, fh.size);
  EXPECT_EQ(11, fh.channel);
  EXPECT_EQ(1, fh.frame_type);
  EXPECT_EQ(720, fh.width);
  EXPECT_EQ(576, fh.height);
  EXPECT_EQ(3, fh.dim_high);
  EXPECT_EQ(0x10u, fh.sec);
  EXPECT_EQ(999, fh.msec);
  EXPECT_EQ(200, fh.seq_cnt);
  EXPECT_EQ(512, ah.samples);
  EXPECT_EQ(2, ah.channel);
  EXPECT_EQ(1, ah.word8);
  EXPECT_EQ(8000, ah.rate);
  EXPECT_EQ(999, ah.msec);
}

TEST(FshInfo, no_data_and_bad_input_results) {
  for (int layout = 0; layout < 4; ++layout) {
    auto f = fsh(layout);
    FRAME_HEADER fh;
    int st = 0;
    int want = layout == 1 ? 2 : FSH_NO_VIDEO;
    EXPECT_EQ(want, get_fsh_info(f.data(), f.size(), &st, layout, &fh, nullptr)) << layout;
    EXPECT_EQ(2, st);
    // A short buffer or a missing start pattern is refused, never read past.
    EXPECT_EQ(0, get_fsh_info(f.data(), f.size() - 1, &st, layout, &fh, nullptr));
    f[1] = 0x02;
    EXPECT_EQ(0, get_fsh_info(f.data(), f.size(), &st, layout, &fh, nullptr));
  }
  auto f = fsh(3);
  FRAME_HEADER fh;
  EXPECT_EQ(0, get_fsh_info(f.data(), f.size(), nullptr, -1, &fh, nullptr));  // not logged in
  // Layout 0 takes the sequence count only when the flag bit says so.
  auto g = fsh(0);
  g[13] = 9;
  g[17] = 1;
  FRAME_HEADER a, b;
  get_fsh_info(g.data(), g.size(), nullptr, 0, &a, nullptr);
  g[16] = 0x20;
  get_fsh_info(g.data(), g.size(), nullptr, 0, &b, nullptr);
  EXPECT_EQ(0, a.seq_cnt);
  EXPECT_EQ(9, b.seq_cnt);
}

}  // namespace
