// Picture adjustments on small pictures whose results can be worked out by hand.
#include <SDL/SDL.h>
#include <gtest/gtest.h>

#include <vector>

#include "client/links/video_adjust.h"

namespace {

using Px = std::vector<uint8_t>;

struct ByteCase {
  const char* what;
  Px in;
  int w, h, bpp;
  int (*op)(uint8_t*, int, int, int, int);
  int amount, rc;
  Px out;
};

TEST(VideoAdjust, brightness_contrast_and_histogram_by_hand) {
  const Px pix4{10, 200, 30, 77};
  // Contrast 10 over a picture whose first 4 bytes average 50: (40, 60, 255) spreads.
  const Px mean50{40, 60, 255, 55, 40, 60, 255, 55};
  const ByteCase cases[] = {
      // clang-format off
      {"brightness 255 lifts every byte", pix4, 1, 1, 4, adjust_brightness, 255, 0, {255, 255, 255, 255}},
      {"brightness -255 darkens every byte", pix4, 1, 1, 4, adjust_brightness, -255, 0, {0, 0, 0, 0}},
      {"brightness out of range", pix4, 1, 1, 4, adjust_brightness, 256, -1, pix4},
      {"brightness on 2-byte pixels", {10, 200}, 1, 1, 2, adjust_brightness, 100, 0, {10, 200}},
      {"brightness -128 halves", {200, 100, 0, 50}, 1, 1, 4, adjust_brightness, -128, 0, {100, 50, 0, 25}},
      {"contrast -10 meets the pixel mean", {100, 110, 120, 9}, 1, 1, 4, adjust_contrast, -10, 0, {110, 110, 110, 9}},
      {"contrast 10 spreads around the byte mean", mean50, 2, 1, 4, adjust_contrast, 10, 0,
       {30, 70, 255, 55, 30, 70, 255, 55}},
      {"contrast refuses 2-byte pixels", {1, 2}, 1, 1, 2, adjust_contrast, 10, -1, {1, 2}},
      {"histogram of 3 pixels is left alone", {9, 9, 9, 0, 200, 200, 200, 0, 50, 50, 50, 0}, 3, 1, 4,
       equalize_histogram, 50, 0, {9, 9, 9, 0, 200, 200, 200, 0, 50, 50, 50, 0}},
      // clang-format on
      {"histogram 0 is a no-op", pix4, 1, 1, 4, equalize_histogram, 0, 0, pix4},
  };
  for (const ByteCase& c : cases) {
    SCOPED_TRACE(c.what);
    Px p = c.in;
    EXPECT_EQ(c.op(p.data(), c.w, c.h, c.amount, c.bpp), c.rc);
    EXPECT_EQ(p, c.out);
  }
}

TEST(VideoAdjust, hue_sectors_scale_the_colour_bytes) {
  struct Case {
    float hue;
    Px out;
  } cases[] = {
      {30.0f, {200, 100, 0, 7}},   // factors (1, 0.5, 0)
      {90.0f, {100, 200, 0, 7}},   // (0.5, 1, 0)
      {330.0f, {200, 0, 100, 7}},  // (1, 0, 0.5)
      {0.0f, {200, 200, 200, 7}},  // 0 and out-of-range change nothing
      {360.0f, {200, 200, 200, 7}}, {-5.0f, {200, 200, 200, 7}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hue);
    Px p{200, 200, 200, 7};
    EXPECT_EQ(adjust_hue(p.data(), 1, 1, c.hue, 4), 0);
    EXPECT_EQ(p, c.out);
  }
}

TEST(VideoAdjust, histogram_at_50_moves_pixels_half_way_to_the_equalised_luma) {
  // Four grey pixels, one sampled (every fourth): grey 100 has the integer luma 98, which
  // equalises to 255; half-way is 98 + 78 (157 / 2, truncated), so every colour byte gains 78.
  Px p(16, 100);
  ASSERT_EQ(equalize_histogram(p.data(), 4, 1, 50, 4), 0);
  EXPECT_EQ(p[0], 178);
  EXPECT_EQ(p[3], 100) << "the fourth byte is no colour byte";
}

TEST(VideoAdjust, shrink_halves_height_and_width_by_the_limits) {
  SDL_Surface* from = SDL_CreateRGBSurface(SDL_SWSURFACE, 704, 480, 32, 0xFF0000, 0xFF00, 0xFF, 0);
  SDL_Surface* to = SDL_CreateRGBSurface(SDL_SWSURFACE, 704, 480, 32, 0xFF0000, 0xFF00, 0xFF, 0);
  ASSERT_TRUE(from && to);
  auto* px = static_cast<uint32_t*>(from->pixels);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 704; ++x) px[y * from->pitch / 4 + x] = uint32_t(y << 12 | x);
  uint16_t w = 704, h = 480;
  EXPECT_EQ(shrink_picture(from, to, &w, &h, 352, 240), 0);
  EXPECT_EQ(w, 352);
  EXPECT_EQ(h, 240);
  auto* out = static_cast<uint32_t*>(to->pixels);
  EXPECT_EQ(out[5 * to->pitch / 4 + 7], uint32_t(10 << 12 | 14)) << "every other row and pixel";
  out[0] = 0xDEAD;
  w = 704, h = 480;
  EXPECT_EQ(shrink_picture(from, to, &w, &h, 704, 240), 0);
  EXPECT_EQ(w, 704);
  EXPECT_EQ(h, 240);
  EXPECT_EQ(out[0], 0xDEADu) << "no copy when the width is within its limit";
  SDL_FreeSurface(from);
  SDL_FreeSurface(to);
}

}  // namespace
