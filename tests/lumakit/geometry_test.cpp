// Geometry against plain per-sample references: means truncate term by term, packed
// resampling runs in single precision as the operation specifies; destinations carry canaries.
#include <functional>

#include "tests/lumakit/frames.h"

using namespace lk;

namespace {

int y0_byte(int f) { return f == 3 ? 1 : 0; }
int y1_byte(int f) { return f == 3 ? 3 : 2; }
int c_bytes(int f, int k) { return f == 3 ? 2 * k : 2 * k + 1; }  // first and second chroma byte

// Packed resampling by float ratios: trunc(fy) rows of trunc(fx) samples plus a weighted next.
void ref_resample(Frame& S, Frame& D) {
  const float fx = float(S.w) / float(D.w), fy = float(S.h) / float(D.h);
  const long ix = long(fx), iy = long(fy);
  const float frac = (fx - float(ix)) / fx;
  auto sample = [&](long r0, long u0, long units, const std::function<int(long, long)>& at) {
    long acc = 0;
    for (long rr = 0; rr < iy && r0 + rr < S.h; ++rr) {
      long total = 0;
      for (long t = 0; t < ix && u0 + t < units; ++t) total += long(at(r0 + rr, u0 + t) / fx);
      if (u0 + ix < units) total += long(at(r0 + rr, u0 + ix) * frac);
      acc += total / iy;
    }
    return uint8_t(acc);
  };
  for (long i = 0; i < D.h; ++i) {
    const long r0 = long(fy * float(i));
    for (long j = 0; j < D.w; ++j)
      D.Y(j, i) = sample(r0, long(fx * float(j)), S.w, [&](long r, long c) { return S.Y(c, r); });
    for (long g = 0; g < D.w / 2; ++g)
      for (int k = 0; k < 2; ++k)
        D.G(2 * g, i, c_bytes(D.f, k)) =
            sample(r0, long(fx * float(2 * g)) / 2, S.w / 2,
                   [&](long r, long q) { return S.G(2 * q, r, c_bytes(S.f, k)); });
  }
}

void ref_shrink(Frame& S, Frame& D) {
  const long sw = S.w, sh = S.h, dw = D.w, dh = D.h;
  if (packed(S.f)) {
    if (dw == sw / 2 && (dh == sh / 2 || dh == sh)) {
      const int rows = dh == sh ? 1 : 2;
      for (long r = 0; r < dh; ++r) {
        for (long c = 0; c < dw; ++c) {
          int v = 0;
          for (int a = 0; a < rows; ++a)
            v += S.Y(2 * c, rows * r + a) / (2 * rows) + S.Y(2 * c + 1, rows * r + a) / (2 * rows);
          D.Y(c, r) = uint8_t(v);
        }
        for (long g = 0; g < dw / 2; ++g)
          for (int k = 0; k < 2; ++k) {
            const int b = c_bytes(S.f, k);
            int v = 0;
            for (int a = 0; a < rows; ++a)
              v += S.G(4 * g, rows * r + a, b) / (2 * rows) +
                   S.G(4 * g + 2, rows * r + a, b) / (2 * rows);
            D.G(2 * g, r, b) = uint8_t(v);
          }
      }
    } else if (2 * dw < sw && 2 * dh < sh) {
      const long rx = sw / dw, ry = sh / dh;
      auto box = [&](long r, long u, const std::function<int(long, long)>& at) {
        long acc = 0;
        for (long rr = 0; rr < ry; ++rr) {
          long row = 0;
          for (long t = 0; t < rx; ++t) row += at(r * ry + rr, u * rx + t) / rx;
          acc += row / ry;
        }
        return uint8_t(acc);
      };
      for (long r = 0; r < dh; ++r) {
        for (long c = 0; c < dw; ++c)
          D.Y(c, r) = box(r, c, [&](long y, long x) { return S.Y(x, y); });
        for (long g = 0; g < dw / 2; ++g)
          for (int k = 0; k < 2; ++k)
            D.G(2 * g, r, c_bytes(S.f, k)) =
                box(r, g, [&](long y, long q) { return S.G(2 * q, y, c_bytes(S.f, k)); });
      }
    } else {
      ref_resample(S, D);
    }
    return;
  }
  if (dw == sw / 2 && dh == sh / 2) {
    for (long r = 0; r < dh; ++r)
      for (long c = 0; c < dw; ++c)
        D.Y(c, r) = uint8_t(S.Y(2 * c, 2 * r) / 4 + S.Y(2 * c + 1, 2 * r) / 4 +
                            S.Y(2 * c, 2 * r + 1) / 4 + S.Y(2 * c + 1, 2 * r + 1) / 4);
    for (int p = 0; p < 2; ++p)
      for (long r = 0; r < dh / 2; ++r)
        for (long c = 0; c < dw / 2; ++c)
          D.P(p, c, r) = uint8_t(S.P(p, 2 * c, 2 * r) / 4 + S.P(p, 2 * c + 1, 2 * r) / 4 +
                                 S.P(p, 2 * c, 2 * r + 1) / 4 + S.P(p, 2 * c + 1, 2 * r + 1) / 4);
  } else if (dw == sw / 2 && dh == sh) {
    for (long r = 0; r < dh; ++r)
      for (long c = 0; c < dw; ++c) D.Y(c, r) = uint8_t(S.Y(2 * c, r) / 2 + S.Y(2 * c + 1, r) / 2);
    for (int p = 0; p < 2; ++p)
      for (long r = 0; r < sh / 2; ++r)
        for (long c = 0; c < dw / 2; ++c)
          D.P(p, c, r) = uint8_t(S.P(p, 2 * c, r) / 2 + S.P(p, 2 * c + 1, r) / 2);
  }
}

// Each sample of S repeated rx times across and ry times down into D (planar Y and planes).
void ref_repeat(Frame& S, Frame& D, int rx, int ry) {
  for (long r = 0; r < S.h; ++r)
    for (long c = 0; c < S.w; ++c)
      for (int a = 0; a < ry; ++a)
        for (int b = 0; b < rx; ++b) D.Y(rx * c + b, ry * r + a) = S.Y(c, r);
  for (int p = 0; p < 2; ++p)
    for (long r = 0; r < S.h / 2; ++r)
      for (long c = 0; c < S.w / 2; ++c)
        for (int a = 0; a < ry; ++a)
          for (int b = 0; b < rx; ++b) D.P(p, rx * c + b, ry * r + a) = S.P(p, c, r);
}

void ref_stretch(Frame& S, Frame& D) {
  if (S.f > 1) return;
  const bool wide = D.w == 2 * S.w, tall = D.h == 2 * S.h;
  if (wide && tall)
    ref_repeat(S, D, 2, 2);
  else if (wide && D.h == S.h)
    ref_repeat(S, D, 2, 1);
  else if (tall && D.w == S.w)
    ref_repeat(S, D, 1, 2);
}

void ref_expand(Frame& S, Frame& D) {
  const bool doubled = D.w == 2 * S.w && D.h == 2 * S.h;
  if (!packed(S.f)) {
    if (doubled && S.f <= 4) ref_repeat(S, D, 2, 2);
    return;
  }
  for (long r = 0; r < S.h; ++r) {
    if (doubled) {
      for (long g = 0; g < S.w / 2; ++g)
        for (int a = 0; a < 2; ++a)
          for (int half = 0; half < 2; ++half) {
            for (int b = 0; b < 4; ++b) D.G(4 * g + 2 * half, 2 * r + a, b) = S.G(2 * g, r, b);
            const uint8_t y = S.G(2 * g, r, half ? y1_byte(S.f) : y0_byte(S.f));
            D.G(4 * g + 2 * half, 2 * r + a, y0_byte(S.f)) = y;
            D.G(4 * g + 2 * half, 2 * r + a, y1_byte(S.f)) = y;
          }
    } else if (D.w == S.w && D.h == 2 * S.h) {
      for (long c = 0; c < 2 * S.w; ++c) D.G(0, 2 * r, c) = D.G(0, 2 * r + 1, c) = S.G(0, r, c);
    }
  }
}

}  // namespace

TEST(LumakitGeometry, TwoFrameOperationsMatchReference) {
  using Op = int (*)(const unsigned char*, int, int, unsigned char*, int, int, int);
  const struct {
    const char* name;
    Op op;
    void (*ref)(Frame&, Frame&);
  } ops[] = {{"shrink", yuv_shrink, ref_shrink},
             {"shrink_any", yuv_shrink_any,
              [](Frame& S, Frame& D) {
                if (packed(S.f)) ref_resample(S, D);
              }},
             {"stretch", yuv_stretch, ref_stretch},
             {"expand", yuv_expand, ref_expand}};
  const Size sources[] = {{8, 6}, {12, 8}, {7, 5}, {9, 9}, {16, 12}};
  for (const auto& op : ops)
    for (int f = 0; f <= 5; ++f)
      for (const Size& s : sources) {
        const Size dests[] = {
            {s.w / 2, s.h / 2}, {s.w / 2, s.h}, {s.w / 3, s.h / 3}, {s.w * 2 / 3, s.h * 3 / 4},
            {s.w - 1, s.h},     {2 * s.w, s.h}, {s.w, 2 * s.h},     {2 * s.w, 2 * s.h}};
        for (const Size& d : dests) {
          SCOPED_TRACE(::testing::Message() << op.name << " format " << f << " " << s.w << "x"
                                            << s.h << " -> " << d.w << "x" << d.h);
          Frame S(f, s.w, s.h, s.w + f), got(f, d.w, d.h, 9), want = got;
          const int rc = op.op(S.data(), s.w, s.h, got.data(), d.w, d.h, f);
          const bool refused = (op.op == yuv_shrink && d.w * d.h > s.w * s.h) ||
                               (op.op == yuv_stretch && d.w != 2 * s.w && d.h != 2 * s.h);
          ASSERT_EQ(rc, refused ? -1 : 0);
          if (!refused) op.ref(S, want);
          ASSERT_TRUE(same(got, want));
        }
      }
}

TEST(LumakitGeometry, TermByTermMeansAndRefusals) {
  Frame S(0, 4, 4), D(0, 2, 2);
  S.Y(0, 0) = 10, S.Y(1, 0) = 11, S.Y(0, 1) = 12, S.Y(1, 1) = 13;
  ASSERT_EQ(yuv_shrink(S.data(), 4, 4, D.data(), 2, 2, 0), 0);
  EXPECT_EQ(D.Y(0, 0), 10);
  Frame E(2, 4, 4), E0 = E;
  EXPECT_EQ(yuv_shrink(S.data(), 4, 4, E.data(), 0, 4, 2), -1);
  EXPECT_EQ(yuv_shrink_any(S.data(), 4, 4, E.data(), 4, 0, 2), -1);
  YUV_IMAGE src{S.data(), 4, 4, 2}, dst{E.data(), 4, 4, 2}, big{E.data(), 8, 4, 2},
      none{E.data(), 0, 4, 2};
  EXPECT_EQ(yuv_downscale(&src, &dst), -1);   // packed N = 1
  EXPECT_EQ(yuv_downscale(&src, &big), -1);   // ratio 0
  EXPECT_EQ(yuv_downscale(&src, &none), -1);  // zero size
  EXPECT_TRUE(same(E, E0));
}

TEST(LumakitGeometry, CropMatchesReference) {
  each_frame(
      [](int f, int w, int h, uint32_t seed) {
        std::mt19937 rng(seed);
        for (int i = 0; i < 12; ++i) {
          const int l = int(rng() % 6), t = int(rng() % 4), r = int(rng() % 6), b = int(rng() % 4);
          SCOPED_TRACE(::testing::Message() << "margins " << l << " " << t << " " << r << " " << b);
          Frame got(f, w, h, seed + i), want = got, old = got;
          const int rc = yuv_crop(got.data(), w, h, l, t, r, b, f);
          const int L = packed(f) ? l & ~3 : l & ~1, R = packed(f) ? r & ~3 : r & ~1;
          const int T = packed(f) ? t : t & ~1, B = packed(f) ? b : b & ~1, nw = w - L - R,
                    nh = h - T - B;
          if (f > 4) {
            ASSERT_EQ(rc, 0);
          } else if (nw <= 0 || nh <= 0) {
            ASSERT_EQ(rc, -1);  // nothing would be left: the frame stays as it was
          } else {
            ASSERT_EQ(rc, 0);
            Frame n(f, nw, nh);  // the new frame's accessors over the same bytes
            n.buf = want.buf;
            for (long y = 0; y < nh; ++y)
              for (long x = 0; x < nw; ++x) {
                if (packed(f))
                  for (int k = 0; k < 2; ++k)
                    n.at(2 * (y * nw + x) + k) = old.at(2 * ((T + y) * w + L + x) + k);
                else
                  n.Y(x, y) = old.Y(L + x, T + y);
              }
            if (!packed(f))
              for (int p = 0; p < 2; ++p)
                for (long y = 0; y < nh / 2; ++y)
                  for (long x = 0; x < nw / 2; ++x) n.P(p, x, y) = old.P(p, L / 2 + x, T / 2 + y);
            want.buf = n.buf;
          }
          ASSERT_TRUE(same(got, want));
        }
      },
      true);
  Frame got(1, 8, 8), want = got;
  EXPECT_EQ(yuv_crop(got.data(), 8, 8, 1, 1, 1, 1, 1), 0);  // margins round down to 0
  EXPECT_EQ(yuv_crop(got.data(), 8, 8, -2, 0, 0, 0, 1), -1);
  EXPECT_TRUE(same(got, want));
}

TEST(LumakitGeometry, ZoomExtrapolateAndDownscaleMatchReference) {
  each_frame(
      [](int f, int w, int h, uint32_t seed) {
        std::mt19937 rng(seed);
        for (int i = 0; i < 6; ++i) {
          const int cx = int(rng() % (w + 4)) - 2, cy = int(rng() % (h + 4)) - 2,
                    factor = i ? 2 : 3;
          Frame got(f, w, h, seed + i), want = got, old = got;
          ASSERT_EQ(yuv_zoom(got.data(), w, h, f, cx, cy, factor), 0);
          const long left = std::clamp(cx, w / 4, 3 * w / 4) - w / 4,
                     top = std::clamp(cy, h / 4, 3 * h / 4) - h / 4;
          if (factor == 2 && packed(f)) {
            const long x0 = left - left % 2;
            for (long r = 0; r < h / 2; ++r)
              for (long g = 0; g < w / 4; ++g)
                for (int a = 0; a < 4; ++a)
                  for (int b = 0; b < 4; ++b)
                    want.G(4 * g + 2 * (a % 2), 2 * r + a / 2, b) = old.G(x0 + 2 * g, top + r, b);
          } else if (factor == 2 && f <= 4) {
            for (long r = 0; r < h / 2; ++r)
              for (long c = 0; c < w / 2; ++c)
                for (int a = 0; a < 4; ++a)
                  want.Y(2 * c + a % 2, 2 * r + a / 2) = old.Y(left + c, top + r);
            for (int p = 0; p < 2; ++p)
              for (long r = 0; r < h / 4; ++r)
                for (long c = 0; c < w / 4; ++c)
                  for (int a = 0; a < 4; ++a)
                    want.P(p, 2 * c + a % 2, 2 * r + a / 2) = old.P(p, left / 2 + c, top / 2 + r);
          }
          ASSERT_TRUE(same(got, want)) << "zoom " << cx << "," << cy << " factor " << factor;
        }

        Frame got(f, w, h, seed), want = got;
        ASSERT_EQ(yuv_extrapolate(got.data(), w, h, f), 0);
        if (f <= 4) {
          for (long r = 0; r < h; r += 2)
            for (long c = 1; c <= (packed(f) ? w - 2 : w - 3); c += 2)
              want.Y(c, r) = uint8_t(want.Y(c - 1, r) / 2 + want.Y(c + 1, r) / 2);
          for (long r = 1; r < h; r += 2)
            for (long c = 0; c < w; ++c)
              want.Y(c, r) = r + 1 < h ? uint8_t(want.Y(c, r - 1) / 2 + want.Y(c, r + 1) / 2)
                                       : want.Y(c, r - 1);
        }
        ASSERT_TRUE(same(got, want)) << "extrapolate";

        for (auto [dw, dh] : {std::pair(w, h / 2), std::pair(w / 2, h / 2), std::pair(w / 3, h),
                              std::pair(w / 2, h / 3), std::pair(w / 4, h / 4)}) {
          if (dw == 0 || dh == 0) continue;
          const int rx = w / dw, ry = h / dh, N = rx * ry;
          if (packed(f) && N == 1) continue;
          Frame S(f, w, h, seed), D(f, dw, dh, seed + 1), want = D;
          YUV_IMAGE src{S.data(), uint16_t(w), uint16_t(h), uint32_t(f == 2 ? 3 : 0)},
              dst{D.data(), uint16_t(dw), uint16_t(dh), uint32_t(f)};
          ASSERT_EQ(yuv_downscale(&src, &dst), 0);
          for (long r = 0; r < dh; ++r) {
            for (long c = 0; c < dw; ++c) {
              long sum = 0;
              for (long a = 0; a < ry; ++a)
                for (long b = 0; b < rx; ++b) sum += S.Y(c * rx + b, r * ry + a);
              want.Y(c, r) = uint8_t(sum / N);
            }
            for (long g = 0; g < dw / 2 && packed(f); ++g)
              for (int k = 0; k < 2; ++k) {
                // Each pixel of the block of the pair's first pixel counts its group.
                long sum = 0;
                for (long a = 0; a < ry; ++a)
                  for (long b = 0; b < rx; ++b)
                    sum += S.G(2 * std::min((2 * g * rx + b) / 2, long(w / 2 - 1)), r * ry + a,
                               c_bytes(f, k));
                want.G(2 * g, r, c_bytes(f, k)) = uint8_t(sum / N);
              }
          }
          ASSERT_TRUE(same(D, want)) << "downscale to " << dw << "x" << dh;
        }
      },
      true);
}
