// Drawing against references that paint only inside the frame: lines, boxes and fills with
// coordinates around and beyond the edges, pasting with key and alpha, and outlines.
#include <functional>

#include "tests/lumakit/frames.h"

using namespace lk;

namespace {

long ev(long v) { return v % 2 ? v - 1 : v; }

// Writes only what lies inside the frame.
struct Painter {
  Frame& F;
  const uint8_t* c;
  void macro(long x, long y) {
    if (y >= 0 && y < F.h && x >= 0 && x + 1 < F.w)
      for (int b = 0; b < 4; ++b) F.G(x, y, b) = c[b];
  }
  void luma(long x, long y) {
    if (x >= 0 && x < F.w && y >= 0 && y < F.h) F.Y(x, y) = c[0];
  }
  void chroma(long cx, long cy) {
    if (cx >= 0 && cx < F.w / 2 && cy >= 0 && cy < F.h / 2)
      F.P(0, cx, cy) = c[1], F.P(1, cx, cy) = c[2];
  }
  void point(long x, long y) { packed(F.f) ? macro(x - (x & 1), y) : luma(x, y); }
};

void ref_line(Frame& F, long x0, long y0, long x1, long y1, const uint8_t* c, long t) {
  Painter p{F, c};
  if (y0 == y1 || x0 == x1) {
    const bool hor = y0 == y1;
    if (x0 > x1) std::swap(x0, x1);
    if (y0 > y1) std::swap(y0, y1);
    x0 = ev(x0), x1 = ev(x1), y0 = ev(y0), y1 = ev(y1), t = ev(t);
    const long rows_end = hor ? y0 + t : y1;
    for (long r = y0; r < rows_end; ++r) {
      if (packed(F.f)) {
        const long xs = x0 % 2 ? x0 + 1 : x0;
        if (hor)
          for (long x = xs; x < x1; x += 2) p.macro(x, r);
        else
          for (long k = 0; k < t / 2; ++k) p.macro(xs + 2 * k, r);
        continue;
      }
      for (long x = x0; x < (hor ? x1 : x0 + t); ++x) p.luma(x, r);
      if (r % 2 == 0)
        for (long k = 0; k < (hor ? (x1 - x0) / 2 : t / 2); ++k) p.chroma(x0 / 2 + k, r / 2);
    }
    return;
  }
  for (long x = x0; x != x1; x += x1 > x0 ? 1 : -1)
    p.point(x, y0 + (y1 - y0) * (x - x0) / (x1 - x0));
  for (long y = y0; y != y1; y += y1 > y0 ? 1 : -1)
    p.point(x0 + (x1 - x0) * (y - y0) / (y1 - y0), y);
}

void ref_box(Frame& F, long x0, long y0, long x1, long y1, const uint8_t* c, long t) {
  ref_line(F, x0, y0, x0, y1 - t, c, t);
  ref_line(F, x0, y1 - t, x1 - t, y1 - t, c, t);
  ref_line(F, x1 - t, y0 + t, x1 - t, y1, c, t);
  ref_line(F, x0 + t, y0, x1, y0, c, t);
}

}  // namespace

TEST(LumakitDrawing, LinesBoxesAndFillsStayInsideAndMatchReference) {
  each_frame(
      [](int f, int w, int h, uint32_t seed) {
        std::mt19937 rng(seed);
        auto coord = [&](int n) { return int(rng() % (n + 13)) - 6; };
        for (int i = 0; i < 40; ++i) {
          const uint8_t c[4] = {uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), uint8_t(rng())};
          int x0 = coord(w), y0 = coord(h), x1 = coord(w), y1 = coord(h), t = int(rng() % 8) - 1;
          if (i % 3 == 0) y1 = y0;
          if (i % 3 == 1) x1 = x0;
          SCOPED_TRACE(::testing::Message()
                       << "(" << x0 << "," << y0 << ")-(" << x1 << "," << y1 << ") t " << t);
          Frame got(f, w, h, seed + i), want = got;
          ASSERT_EQ(yuv_line(got.data(), w, h, f, x0, y0, x1, y1, c, t), 0);
          ref_line(want, x0, y0, x1, y1, c, t);
          ASSERT_TRUE(same(got, want)) << "line";
          ASSERT_EQ(yuv_box(got.data(), w, h, f, x0, y0, x1, y1, c, t), 0);
          ref_box(want, x0, y0, x1, y1, c, t);
          ASSERT_TRUE(same(got, want)) << "box";
          const int fw = int(rng() % 12) - 3, fh = int(rng() % 12) - 3;
          ASSERT_EQ(yuv_fill(got.data(), w, h, f, x0, y0, fw, fh, c), 0);
          if (packed(f)) {
            Painter p{want, c};
            for (long r = y0; r < y0 + fh; ++r)
              for (long k = 0; k < fw / 2; ++k) p.macro(x0 + 2 * k, r);
          }
          ASSERT_TRUE(same(got, want)) << "fill";
        }
      },
      true);
}

TEST(LumakitDrawing, EvenedPlanarLine) {
  // (1, 2)-(6, 2), thickness 3 evens to (0, 2)-(6, 2), thickness 2.
  Frame got(1, 8, 8), want = got;
  const uint8_t c[4] = {200, 50, 60, 0};
  ASSERT_EQ(yuv_line(got.data(), 8, 8, 1, 1, 2, 6, 2, c, 3), 0);
  for (int y = 2; y <= 3; ++y)
    for (int x = 0; x < 6; ++x) want.Y(x, y) = 200;
  for (int cx = 0; cx < 3; ++cx) want.P(0, cx, 1) = 50, want.P(1, cx, 1) = 60;
  EXPECT_TRUE(same(got, want));
}

namespace {

void ref_render(const Frame& S0, Frame& D, long x, long y, int alpha, const uint8_t* key) {
  Frame S = S0;
  x = ev(x), y = ev(y);
  const long sw = ev(S.w), sh = ev(S.h);
  for (long r = 0; r < sh; ++r)
    for (long i = 0; i < sw; ++i) {
      if (packed(S.f)) {
        const int yb = S.f == 3;
        for (int b = 0; b < 2; ++b) {
          const uint8_t s = S.at(2 * (r * S.w + i) + b);
          const bool copy = alpha == 255 ? true
                            : alpha == 0 ? S.Y(i, r) != key[yb]
                                         : s != key[(2 * (r * sw + i) + b) % 4];
          if (copy) D.at(2 * ((y + r) * D.w + x + i) + b) = s;
        }
        continue;
      }
      const uint8_t s = S.Y(i, r);
      uint8_t& d = D.Y(x + i, y + r);
      if (alpha == 255 || (alpha == 0 && s != key[0]))
        d = s;
      else if (alpha != 0 && s != key[0])
        d = uint8_t(alpha * s / 255.0 + (255 - alpha) * d / 255.0);
    }
  if (!packed(S.f))
    for (int p = 0; p < 2; ++p)
      for (long r = 0; r < sh / 2; ++r)
        for (long c = 0; c < sw / 2; ++c) D.P(p, x / 2 + c, y / 2 + r) = S.P(p, c, r);
}

}  // namespace

TEST(LumakitDrawing, RenderMatchesReferenceWithKeyAndAlpha) {
  const Size sources[] = {{4, 2}, {3, 3}, {5, 4}, {6, 5}};
  each_frame(
      [&](int f, int w, int h, uint32_t seed) {
        std::mt19937 rng(seed);
        for (const Size& s : sources) {
          if (s.w > w || s.h > h) continue;
          Frame S(f, s.w, s.h, seed);
          for (size_t i = 0; i < S.size(); ++i) S.at(i) = uint8_t(100 + S.at(i) % 3);  // key hits
          const uint8_t key[4] = {100, 101, 102, 100};
          ASSERT_EQ(yuv_colorkey(key), 0);
          for (int alpha : {0, 255, 128}) {
            const int x = int(rng() % (w - s.w + 1)), y = int(rng() % (h - s.h + 1));
            Frame got(f, w, h, seed + alpha), want = got;
            ASSERT_EQ(yuv_render(S.data(), s.w, s.h, got.data(), w, h, f, x, y, uint8_t(alpha)), 0);
            ref_render(S, want, x, y, alpha, key);
            ASSERT_TRUE(same(got, want))
                << s.w << "x" << s.h << " at " << x << "," << y << " alpha " << alpha;
          }
        }
      },
      true);
}

TEST(LumakitDrawing, RenderRefusals) {
  Frame S(0, 10, 10), D(0, 100, 20), D0 = D;
  struct Row {
    int x, y, rc;
    bool null_src = false, null_dst = false;
  };
  // Out of bounds is judged before evening (91 + 10 > 100, though 90 + 10 would fit).
  const Row rows[] = {{95, 0, -2},
                      {91, 0, -2},
                      {-2, 0, -2},
                      {0, -1, -1},
                      {0, 11, -1},
                      {0, 0, -3, true, false},
                      {0, 0, -4, false, true}};
  for (const Row& r : rows) {
    EXPECT_EQ(yuv_render(r.null_src ? nullptr : S.data(), 10, 10, r.null_dst ? nullptr : D.data(),
                         100, 20, 0, r.x, r.y, 255),
              r.rc);
    EXPECT_TRUE(same(D, D0));
  }
}

namespace {

void ref_outline(Frame& F, int M, int K1, int K3) {
  auto at = [&](long r, long c) {
    return r >= 0 && r < F.h && c >= 0 && c < F.w ? int(F.Y(c, r)) : -1;
  };
  for (long r = 0; r < F.h; ++r)
    for (long c = 0; c < F.w; ++c) {
      int s = at(r, c);
      const int p = at(r, c - 1), n = at(r, c + 1);
      if (s == K1 && n != K3 && p != M && n != M)
        F.Y(c, r) = uint8_t(M);
      else if (s != K1 && n == K3 && p != K1 && (r > 0 ? n != M : p != M) && s != M)
        F.Y(c + 1, r) = uint8_t(M);
      if (r == 0) continue;
      s = at(r, c);
      if (s != K1 && at(r + 1, c) == K1 && s != M)
        F.Y(c, r + 1) = uint8_t(M);
      else if (s == K1 && at(r + 1, c) != K1 && at(r - 1, c) == K1)
        F.Y(c, r) = uint8_t(M);
    }
}

}  // namespace

TEST(LumakitDrawing, OutlineMatchesReference) {
  const uint8_t key[4] = {0, 16, 0, 32};
  ASSERT_EQ(yuv_colorkey(key), 0);
  each_frame([&](int f, int w, int h, uint32_t seed) {
    Frame got(f, w, h, seed);
    const uint8_t values[4] = {16, 32, 235, 90};
    for (long y = 0; y < h; ++y)
      for (long x = 0; x < w; ++x) got.Y(x, y) = values[(got.Y(x, y) >> 3) % 4];
    Frame want = got;
    ASSERT_EQ(yuv_outline(got.data(), w, h, f, 0x1EB), 0);
    ref_outline(want, 0xEB, 16, 32);
    EXPECT_TRUE(same(got, want));
  });
}
