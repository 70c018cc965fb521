// Dewarp maps against a double-precision reference of each type, and warps through valid and
// out-of-range maps (entries are clamped to the source).
#include <cmath>

#include "tests/lumakit/frames.h"

using namespace lk;

namespace {

constexpr YUV_POINT kUnset = {0xABCD, 0x1234};

std::vector<YUV_POINT> ref_map(SDL_Rect R, int W, int H, double angle, int type) {
  std::vector<YUV_POINT> M(size_t(W) * H, kUnset);
  const long cx = R.w / 2, cy = R.h / 2;
  auto put = [&](long i, long j, long a, long b) {
    M[i * W + j] = {uint16_t(R.x + a), uint16_t(R.y + b)};
  };
  auto keep = [&](long i, long j, double A, double B) {
    const double a = std::trunc(A), b = std::trunc(B);
    if (a >= 0 && a < R.w && b >= 0 && b < R.h) put(i, j, long(a), long(b));
  };
  for (long i = 0; i < H; ++i)
    for (long j = 0; j < W; ++j) {
      const double theta = angle + (j + 1) * (2 * M_PI) / W, phi = angle + (j + 1) * M_PI / W;
      if (type == 1) put(i, j, j, H - 1 - i);
      if (type == 6) keep(i, j, long(R.w) * j / W, long(R.h) * i / H);
      if (type == 7 || type == 8) {
        const double s = R.h / (2.0 * H);
        const long r = type == 7 ? i : H - 1 - i;
        keep(i, j, cx + r * s * std::cos(theta), cy + r * s * std::sin(theta));
      }
      if ((type == 9 || type == 16) && i < H / 2 * 2) {
        const double s2 = double(R.h) / H;
        const long half = i < H / 2 ? i : i - H / 2;
        const long r = (type == 9 ? half : H / 2 - 1 - half) * (i < H / 2 ? 1 : -1);
        keep(i, j, cx + r * s2 * std::cos(phi), cy + r * s2 * std::sin(phi));
      }
    }
  return M;
}

bool same_map(const std::vector<YUV_POINT>& a, const std::vector<YUV_POINT>& b) {
  for (size_t k = 0; k < a.size(); ++k)
    if (a[k].x != b[k].x || a[k].y != b[k].y) return false;
  return true;
}

}  // namespace

TEST(LumakitDewarp, MapsMatchReference) {
  const SDL_Rect regions[] = {{0, 0, 64, 64}, {10, 4, 50, 37}, {-3, 2, 9, 8}, {0, 0, 1, 1}};
  for (int type : {1, 6, 7, 8, 9, 16, 3})
    for (const SDL_Rect& R : regions)
      for (auto [W, H] : {std::pair(16, 12), std::pair(7, 9), std::pair(1, 1)})
        for (double angle : {0.0, 0.7, -2.0}) {
          std::vector<YUV_POINT> got(size_t(W) * H, kUnset);
          ASSERT_EQ(yuv_image_map(got.data(), R, uint16_t(W), uint16_t(H), angle, type), 0);
          EXPECT_TRUE(same_map(got, ref_map(R, W, H, angle, type)))
              << "type " << type << " region " << R.x << "," << R.y << " " << R.w << "x" << R.h
              << " W " << W << " H " << H << " angle " << angle;
        }
}

TEST(LumakitDewarp, FixedMaps) {
  std::vector<YUV_POINT> m(8, kUnset);
  ASSERT_EQ(yuv_image_map(m.data(), {0, 0, 4, 2}, 4, 2, 0, 1), 0);
  const uint16_t flip[8][2] = {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {0, 0}, {1, 0}, {2, 0}, {3, 0}};
  for (int k = 0; k < 8; ++k)
    EXPECT_EQ(std::pair(m[k].x, m[k].y), std::pair(flip[k][0], flip[k][1]));
  m.assign(16, kUnset);
  ASSERT_EQ(yuv_image_map(m.data(), {0, 0, 8, 8}, 4, 4, 0, 6), 0);
  for (int k = 0; k < 16; ++k) {
    EXPECT_EQ(m[k].x, 2 * (k % 4));
    EXPECT_EQ(m[k].y, 2 * (k / 4));
  }
  // Type 7: row 0 is the centre, the last row lies on the circle of radius (H-1)*h/(2H).
  m.assign(64 * 8, kUnset);
  ASSERT_EQ(yuv_image_map(m.data(), {0, 0, 100, 100}, 64, 8, 0, 7), 0);
  for (int j = 0; j < 64; ++j) {
    EXPECT_EQ(m[j].x + 1000 * m[j].y, 50 + 1000 * 50);
    EXPECT_NEAR(std::hypot(m[7 * 64 + j].x - 50, m[7 * 64 + j].y - 50), 7 * 100 / 16.0, 1.5);
  }
  // W or H 0 is refused without writing.
  m.assign(4, kUnset);
  EXPECT_EQ(yuv_image_map(m.data(), {0, 0, 8, 8}, 0, 4, 0, 6), -1);
  EXPECT_EQ(yuv_image_map(m.data(), {0, 0, 8, 8}, 4, 0, 0, 7), -1);
  EXPECT_TRUE(same_map(m, std::vector<YUV_POINT>(4, kUnset)));
}

TEST(LumakitDewarp, WarpMatchesReferenceAndClampsEntries) {
  for (int f : {0, 1, 3})
    for (const Size& s : kSizes)
      for (const Size& d : {Size{6, 4}, Size{5, 3}}) {
        SCOPED_TRACE(::testing::Message()
                     << "format " << f << " " << s.w << "x" << s.h << " -> " << d.w << "x" << d.h);
        Frame S(f, s.w, s.h, 3), got(f, d.w, d.h, 4), want = got;
        std::mt19937 rng(s.w * 31 + s.h);
        // Entries up to 4 past the source: those beyond are clamped to its edge.
        std::vector<YUV_POINT> map(size_t(d.w) * d.h);
        for (YUV_POINT& p : map) p = {uint16_t(rng() % (s.w + 4)), uint16_t(rng() % (s.h + 4))};
        ASSERT_EQ(yuv_warp({S.data(), uint16_t(s.w), uint16_t(s.h)},
                           {got.data(), uint16_t(d.w), uint16_t(d.h)}, map.data(), f),
                  0);
        auto cx = [&](long v, long n) { return std::min(v, n - 1); };
        const long n = long(d.w) * d.h, sn = long(s.w) * s.h;
        for (long k = 0; k < n; ++k) {
          const long mx = cx(map[k].x, s.w), my = cx(map[k].y, s.h);
          if (f != 3) {
            want.at(k) = S.Y(mx, my);
            continue;
          }
          const long si = mx + my * s.w;
          want.at(2 * k + 1) = S.at(2 * si + 1);
          want.at(4 * (k / 2)) = S.at(4 * (si / 2));
          if (4 * (k / 2) + 2 < 2 * n && 4 * (si / 2) + 2 < 2 * sn)
            want.at(4 * (k / 2) + 2) = S.at(4 * (si / 2) + 2);
        }
        if (f != 3 && s.w >= 2 && s.h >= 2)
          for (int p = 0; p < 2; ++p)
            for (long r = 0; r < d.h / 2; ++r)
              for (long c = 0; c < d.w / 2; ++c) {
                const YUV_POINT m = map[2 * r * d.w + 2 * c];
                want.P(p, c, r) = S.P(p, cx(m.x / 2, s.w / 2), cx(m.y / 2, s.h / 2));
              }
        EXPECT_TRUE(same(got, want));
      }
}

TEST(LumakitDewarp, WarpDoesNothingForOtherFormats) {
  Frame S(2, 4, 4), D(2, 4, 4, 2), D0 = D;
  std::vector<YUV_POINT> map(16, YUV_POINT{1, 1});
  testing::internal::CaptureStdout();
  EXPECT_EQ(yuv_warp({S.data(), 4, 4}, {D.data(), 4, 4}, map.data(), 2), 0);
  EXPECT_EQ(yuv_warp({S.data(), 4, 4}, {D.data(), 4, 4}, map.data(), 4), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  testing::internal::CaptureStdout();
  EXPECT_EQ(yuv_warp({S.data(), 4, 4}, {D.data(), 4, 4}, map.data(), 5), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Do nothing!\n");
  EXPECT_EQ(yuv_warp({S.data(), 0, 4}, {D.data(), 4, 4}, map.data(), 3), -1);  // nothing to read
  EXPECT_TRUE(same(D, D0));
}
