// Motion grid, deinterlace and mask against references that touch only pixels inside the
// frames, with rectangles reaching past every edge.
#include <climits>
#include <cmath>

#include "tests/lumakit/frames.h"

using namespace lk;

namespace {

bool inside(const Frame& F, long x, long y) { return x >= 0 && x < F.w && y >= 0 && y < F.h; }
bool inside_chroma(const Frame& F, long x, long y) {
  return x >= 0 && x < F.w / 2 && y >= 0 && y < F.h / 2;
}

// Copies pixel (sx, sy) of S to (dx, dy) of D: the Y byte planar, both bytes packed.
void copy_pixel(Frame& S, long sx, long sy, Frame& D, long dx, long dy) {
  if (!inside(S, sx, sy) || !inside(D, dx, dy)) return;
  if (packed(S.f))
    for (int b = 0; b < 2; ++b) D.at(2 * (dy * D.w + dx) + b) = S.at(2 * (sy * S.w + sx) + b);
  else
    D.Y(dx, dy) = S.Y(sx, sy);
}

int ref_black(Frame& F, long x, long y, long w, long h, int threshold, int samples) {
  const long n = long(std::sqrt(double(samples)));
  const long x0 = std::max(x, 0L), y0 = std::max(y, 0L);
  const long rw = std::min(x + w, long(F.w)) - x0, rh = std::min(y + h, long(F.h)) - y0;
  long sum = 0;
  if (F.f <= 4 && rw > 0 && rh > 0)
    for (long i = 0; i < n; ++i)
      for (long j = 0; j < n; ++j)
        sum += F.Y(x0 + rw * j / n + rw / (2 * n), y0 + rh * i / n + rh / (2 * n));
  return sum < long(samples) * (threshold & 255) ? 1 : 0;
}

void ref_blit(Frame& S, long sx, long sy, long w, long h, Frame& D, long dx, long dy) {
  if (S.f > 4) return;
  for (long i = 0; i < h; ++i)
    for (long j = 0; j < w; ++j) copy_pixel(S, sx + j, sy + i, D, dx + j, dy + i);
  if (!packed(S.f))
    for (long i = 0; i < h / 2; ++i)
      for (long j = 0; j < w / 2; ++j)
        if (inside_chroma(S, sx / 2 + j, sy / 2 + i) && inside_chroma(D, dx / 2 + j, dy / 2 + i))
          for (int p = 0; p < 2; ++p)
            D.P(p, dx / 2 + j, dy / 2 + i) = S.P(p, sx / 2 + j, sy / 2 + i);
}

// Copies line `from` over line `to` over columns [x, x + w) of the Y plane (planar) or of whole
// pixels (packed), or of chroma plane p when p >= 0; only when both lines are inside.
void copy_line(Frame& F, long from, long to, long x, long w, int p = -1) {
  const long rows = p < 0 ? F.h : F.h / 2, cols = p < 0 ? F.w : F.w / 2;
  if (from < 0 || to < 0 || from >= rows || to >= rows) return;
  for (long c = std::max(x, 0L); c < std::min(x + w, cols); ++c) {
    if (p >= 0)
      F.P(p, c, to) = F.P(p, c, from);
    else
      copy_pixel(F, c, from, F, c, to);
  }
}

}  // namespace

TEST(LumakitMotion, BlackBlitAndMergeMatchReference) {
  each_frame(
      [](int f, int w, int h, uint32_t seed) {
        std::mt19937 rng(seed);
        for (int i = 0; i < 20; ++i) {
          Frame A(f, w, h, seed + i), B(f, w, h, seed + 100 + i);
          const int x = int(rng() % (w + 6)) - 3, y = int(rng() % (h + 6)) - 3,
                    rw = int(rng() % (w + 3)), rh = int(rng() % (h + 3)),
                    samples = 1 + int(rng() % 30), threshold = int(rng() % 300);
          SCOPED_TRACE(::testing::Message()
                       << x << "," << y << " " << rw << "x" << rh << " samples " << samples);
          ASSERT_EQ(yuv_black(A.data(), w, h, f, x, y, rw, rh, threshold, samples),
                    ref_black(A, x, y, rw, rh, threshold, samples));
          const int dx = int(rng() % (w + 6)) - 3, dy = int(rng() % (h + 6)) - 3;
          Frame want = B;
          ASSERT_EQ(yuv_blit(A.data(), w, h, x, y, rw, rh, B.data(), w, h, dx, dy, rw, rh, f), 0);
          ref_blit(A, x, y, rw, rh, want, dx, dy);
          ASSERT_TRUE(same(B, want));
          const int cells = 1 + int(rng() % std::min(w, h));
          ASSERT_EQ(yuv_merge(A.data(), w, h, B.data(), w, h, cells, f, threshold, samples), 0);
          const int cw = w / cells, ch = h / cells;
          for (int ci = 0; ci < cells; ++ci)
            for (int cj = 0; cj < cells; ++cj)
              if (ref_black(want, cj * cw, ci * ch, cw, ch, threshold, samples) == 1)
                ref_blit(A, cj * cw, ci * ch, cw, ch, want, cj * cw, ci * ch);
          ASSERT_TRUE(same(B, want));
        }
      },
      true);
}

TEST(LumakitMotion, RefusalsLeaveFrames) {
  Frame A(2, 8, 6), B(2, 8, 6, 2), B0 = B, C(2, 8, 4);
  EXPECT_EQ(yuv_blit(A.data(), 8, 6, 0, 0, 4, 4, B.data(), 8, 6, 0, 0, 4, 3, 2), -1);
  EXPECT_EQ(yuv_merge(A.data(), 8, 6, C.data(), 8, 4, 2, 2, 255, 4), -1);
  for (int cells : {0, -1, 7})  // 7 cells leave cells 1 pixel wide but 0 high
    EXPECT_EQ(yuv_merge(A.data(), 8, 6, B.data(), 8, 6, cells, 2, 255, 4), -1);
  EXPECT_EQ(yuv_merge(A.data(), 8, 6, B.data(), 8, 6, 2, 2, 255, 0), -1);
  EXPECT_EQ(yuv_black(A.data(), 8, 6, 2, 0, 0, 8, 6, 255, 0), -1);
  const uint8_t mask[1] = {0xFF};
  EXPECT_EQ(yuv_selective_bob(B.data(), 8, 6, 2, mask, 0, 2), -1);
  EXPECT_EQ(yuv_selective_bob(B.data(), 8, 6, 2, mask, 4, 0), -1);
  EXPECT_TRUE(same(B, B0));
  // Equal frames merge to themselves.
  Frame D = B;
  EXPECT_EQ(yuv_merge(D.data(), 8, 6, B.data(), 8, 6, 3, 2, 255, 9), 0);
  EXPECT_TRUE(same(B, B0));
}

TEST(LumakitMotion, BlackSamplesTheGrid) {
  Frame F(0, 8, 8);
  std::fill(F.data(), F.data() + 64, 200);
  F.Y(4, 4) = 10;  // the centre of the whole frame
  EXPECT_EQ(yuv_black(F.data(), 8, 8, 0, 0, 0, 8, 8, 11, 1), 1);
  EXPECT_EQ(yuv_black(F.data(), 8, 8, 0, 0, 0, 8, 8, 10, 1), 0);
  // samples 10 sums 9 values (200 * 9 = 1800) against 10 * 181 = 1810.
  EXPECT_EQ(yuv_black(F.data(), 8, 8, 0, 0, 0, 8, 8, 181, 10), 1);
  // Format above 4 counts nothing: dark whenever samples x threshold > 0.
  EXPECT_EQ(yuv_black(F.data(), 8, 8, 5, 0, 0, 8, 8, 1, 4), 1);
  EXPECT_EQ(yuv_black(F.data(), 8, 8, 5, 0, 0, 8, 8, 0, 4), 0);
}

TEST(LumakitMotion, CentreAndDirection) {
  int x = -1, y = -1;
  const uint8_t m05[1] = {0x05}, zero[1] = {0}, m[2] = {0x80, 0x01};  // cells 7 and 8 of 3 x 3
  ASSERT_EQ(yuv_motion_center(m05, 4, 2, &x, &y), 0);
  EXPECT_EQ(std::pair(x, y), std::pair(1, 0));
  ASSERT_EQ(yuv_motion_center(zero, 4, 2, &x, &y), 0);
  EXPECT_EQ(std::pair(x, y), std::pair(0, 0));
  ASSERT_EQ(yuv_motion_center(m, 3, 3, &x, &y), 0);
  EXPECT_EQ(std::pair(x, y), std::pair(1, 2));  // columns 1 and 2, row 2
  int dx = 0, dy = 0;
  ASSERT_EQ(yuv_motion_direction(5, 9, 2, 20, &dx, &dy), 0);
  EXPECT_EQ(std::pair(dx, dy), std::pair(-3, 11));
  ASSERT_EQ(yuv_motion_direction(INT_MIN, 0, INT_MAX, 0, &dx, &dy), 0);  // wraps, no overflow
  EXPECT_EQ(dx, -1);
}

TEST(LumakitMotion, DeinterlaceAndMaskMatchReference) {
  each_frame(
      [](int f, int w, int h, uint32_t seed) {
        std::mt19937 rng(seed);
        for (int i = 0; i < 20; ++i) {
          const int x = int(rng() % (w + 6)) - 3, y = int(rng() % (h + 6)) - 3,
                    rw = int(rng() % (w + 4)) - 1, rh = int(rng() % (h + 5)) - 1,
                    field = int(rng() % 5) - 2;
          SCOPED_TRACE(::testing::Message()
                       << x << "," << y << " " << rw << "x" << rh << " field " << field);
          Frame got(f, w, h, seed + i), want = got;
          ASSERT_EQ(yuv_bob_region(got.data(), w, h, f, x, y, rw, rh, field), 0);
          if (packed(f)) {
            const bool odd = field % 2 != 0;
            for (long k = 0; k < (odd ? rh / 2 : rh / 2 - 1); ++k)
              copy_line(want, y + 2 * k + !odd, y + 2 * k + 1 + !odd, x, rw);
          } else if (f <= 4) {
            for (long k = 0; k < rh / 2; ++k)
              field ? copy_line(want, y + 2 * k, y + 2 * k + 1, x, rw)
                    : copy_line(want, y + 2 * k + 1, y + 2 * k, x, rw);
            for (int p = 0; p < 2; ++p)
              for (long k = 0; k < rh / 4; ++k)
                field ? copy_line(want, y / 2 + 2 * k, y / 2 + 2 * k + 1, x / 2, rw / 2, p)
                      : copy_line(want, y / 2 + 2 * k + 1, y / 2 + 2 * k, x / 2, rw / 2, p);
          }
          ASSERT_TRUE(same(got, want)) << "bob_region";

          const int cw = 1 + int(rng() % 4), ch = 1 + int(rng() % 4);
          uint8_t mask[16];  // one bit per cell: up to 12 x 8 cells
          for (uint8_t& m : mask) m = uint8_t(rng());
          ASSERT_EQ(yuv_selective_bob(got.data(), w, h, f, mask, cw, ch), 0);
          const int cols = w / cw, rows = h / ch;
          for (int n = 0; n < cols * rows && f <= 4; ++n)
            if ((mask[n / 8] >> (n % 8)) & 1)
              for (int k = 0; k < ch / 2; ++k)
                copy_line(want, n / cols * ch + 2 * k, n / cols * ch + 2 * k + 1, n % cols * cw,
                          cw);
          ASSERT_TRUE(same(got, want)) << "selective_bob " << cw << "x" << ch;

          const uint8_t c[4] = {uint8_t(i % 3 ? rng() : 0), uint8_t(rng()), uint8_t(rng()),
                                uint8_t(rng())};
          ASSERT_EQ(yuv_mask(got.data(), w, h, f, x, y, rw, rh, c), 0);
          auto add = [](uint8_t& v, int a) { v = uint8_t(std::min(255, v + a)); };
          auto push = [](uint8_t& v, int a) {
            v = uint8_t(v <= 128 ? std::max(0, v - a) : std::min(255, v + a));
          };
          if (packed(f)) {
            for (long r = y; r < y + rh; ++r)
              for (long g = 0; g < rw / 2; ++g)
                if (r >= 0 && r < h && x + 2 * g >= 0 && x + 2 * g + 1 < w)
                  for (int b = 0; b < 4; ++b)
                    ((b % 2 == 0) == (f == 3) ? +push : +add)(want.G(x + 2 * g, r, b), c[b]);
          } else if (f <= 4) {
            for (long r = y; r < y + rh; ++r)
              for (long q = x; q < x + rw; ++q)
                if (inside(want, q, r)) add(want.Y(q, r), c[0]);
            for (int p = 0; p < 2; ++p)
              for (long r = y / 2; r < y / 2 + rh / 2; ++r)
                for (long q = x / 2; q < x / 2 + rw / 2; ++q)
                  if (inside_chroma(want, q, r)) add(want.P(p, q, r), c[1 + p]);
          }
          ASSERT_TRUE(same(got, want)) << "mask";
        }
      },
      true);
}
