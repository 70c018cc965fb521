// Colour operations against plain per-sample references in double precision, on random frames
// of every layout; refusals leave the frame untouched.
#include <cmath>
#include <functional>

#include "tests/lumakit/frames.h"

using namespace lk;

namespace {

uint8_t clamp_trunc(double v) { return v <= 0 ? 0 : v >= 255 ? 255 : uint8_t(v); }

void ref_brightness(Frame& F, int amount) {
  const double k = amount / 255.0;
  for (int y = 0; y < F.h; ++y)
    for (int x = 0; x < F.w; ++x) {
      const int v = F.Y(x, y);
      F.Y(x, y) = uint8_t(amount < 0 ? v * (1 + k) : (k + (v / 255.0) * (1 - k)) * 255);
    }
}

void ref_saturation(Frame& F, double factor) {
  const long n = long(F.w) * F.h;
  for (long i = 0; i < (packed(F.f) ? n : n / 2); ++i) {
    uint8_t& c = packed(F.f) ? F.at(2 * i + (F.f == 3 ? 0 : 1)) : F.at(n + i);
    c = clamp_trunc(factor * (c - 128) + 128);
  }
}

void ref_hue(Frame& F, double angle) {
  if (F.f > 4) return;
  const long n = long(F.w) * F.h;
  const double c = std::cos(angle), s = std::sin(angle);
  for (long i = 0; i < (packed(F.f) ? n / 2 : n / 4); ++i) {
    uint8_t& U = packed(F.f) ? F.at(4 * i + u_byte(F.f)) : F.at((F.f == 0 ? n * 5 / 4 : n) + i);
    uint8_t& V = packed(F.f) ? F.at(4 * i + v_byte(F.f)) : F.at((F.f == 0 ? n : n * 5 / 4) + i);
    const double u = U - 128, v = V - 128;
    U = clamp_trunc(c * u - s * v + 128);
    V = clamp_trunc(c * v + s * u + 128);
  }
}

void ref_contrast(Frame& F, int percent) {
  const long N = long(F.w) * F.h / 4;
  if (F.f > 4 || N == 0) return;
  long bins[256] = {};
  for (int r = 0; r < F.h; r += 2) {
    if (packed(F.f))
      for (int g = 0; g < F.w / 2; ++g) ++bins[F.Y(2 * g, r)];
    else
      for (int c = 0; c < F.w; c += 2) ++bins[F.Y(c, r)];
  }
  int table[256];
  long cum = 0;
  for (int v = 0; v < 256; ++v) {
    cum += bins[v];
    long t = std::min(255L, cum * 255 / N);
    if (percent < 100) t = percent * (t - v) / 100 + v;
    table[v] = int(std::clamp(t, 0L, 255L));
  }
  for (int y = 0; y < F.h; ++y)
    for (int x = 0; x < F.w; ++x) F.Y(x, y) = uint8_t(table[F.Y(x, y)]);
}

struct Case {
  const char* name;
  std::function<int(Frame&)> lib;
  std::function<void(Frame&)> ref;
};

}  // namespace

TEST(LumakitColour, OperationsMatchReference) {
  std::vector<Case> cases;
  for (int a : {-255, -100, -1, 1, 77, 255})
    cases.push_back({"brightness",
                     [a](Frame& F) { return yuv_brightness(F.data(), F.w, F.h, a, F.f); },
                     [a](Frame& F) { ref_brightness(F, a); }});
  for (double s : {0.0, 0.5, 1.7, 2.0})
    cases.push_back({"saturation",
                     [s](Frame& F) { return yuv_saturation(F.data(), F.w, F.h, s, F.f); },
                     [s](Frame& F) { ref_saturation(F, s); }});
  for (double a : {M_PI, 1.0, 5.5, 2 * M_PI})
    cases.push_back({"hue", [a](Frame& F) { return yuv_hue(F.data(), F.w, F.h, a, F.f); },
                     [a](Frame& F) { ref_hue(F, a); }});
  // Odd sizes sample more than N pixels and negative percents overshoot: both are clamped.
  for (int p : {1, 50, 100, 150, -60, -300})
    cases.push_back({"contrast", [p](Frame& F) { return yuv_contrast(F.data(), F.w, F.h, p, F.f); },
                     [p](Frame& F) { ref_contrast(F, p); }});
  for (const Case& c : cases)
    each_frame(
        [&](int f, int w, int h, uint32_t seed) {
          SCOPED_TRACE(c.name);
          Frame got(f, w, h, seed), want = got;
          EXPECT_EQ(c.lib(got), 0);
          c.ref(want);
          EXPECT_TRUE(same(got, want));
        },
        true);
}

TEST(LumakitColour, RefusalsAndNoOpsLeaveFrame) {
  const std::vector<std::pair<int, std::function<int(Frame&)>>> calls = {
      {-1, [](Frame& F) { return yuv_brightness(F.data(), F.w, F.h, 256, F.f); }},
      {-1, [](Frame& F) { return yuv_brightness(F.data(), F.w, F.h, -256, F.f); }},
      {0, [](Frame& F) { return yuv_brightness(F.data(), F.w, F.h, 0, F.f); }},
      {-1, [](Frame& F) { return yuv_saturation(F.data(), F.w, F.h, -0.5, F.f); }},
      {-1, [](Frame& F) { return yuv_saturation(F.data(), F.w, F.h, NAN, F.f); }},
      {0, [](Frame& F) { return yuv_saturation(F.data(), F.w, F.h, 1.0, F.f); }},
      {-1, [](Frame& F) { return yuv_hue(F.data(), F.w, F.h, 7.0, F.f); }},
      {-1, [](Frame& F) { return yuv_hue(F.data(), F.w, F.h, -0.1, F.f); }},
      {0, [](Frame& F) { return yuv_hue(F.data(), F.w, F.h, 0.0, F.f); }},
      {0, [](Frame& F) { return yuv_contrast(F.data(), F.w, F.h, 0, F.f); }},
      {0, [](Frame& F) { return yuv_contrast(F.data(), 1, 3, 100, F.f); }},  // no samples
  };
  for (const auto& [rc, call] : calls)
    each_frame([&](int f, int w, int h, uint32_t seed) {
      Frame got(f, w, h, seed), want = got;
      EXPECT_EQ(call(got), rc);
      EXPECT_TRUE(same(got, want));
    });
}

TEST(LumakitColour, FixedVectors) {
  // Hue by pi turns (200, 100) to about (56, 156).
  Frame F(1, 2, 2);
  F.U(0, 0) = 200, F.V(0, 0) = 100;
  ASSERT_EQ(yuv_hue(F.data(), 2, 2, 3.14159265358979, 1), 0);
  EXPECT_EQ(F.U(0, 0), 56);
  EXPECT_EQ(F.V(0, 0), 156);
  // Sampled Y (even columns of even rows) all 90: 90 and above map to 255, below to 0.
  Frame C(0, 4, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) C.Y(x, y) = (x % 2 || y % 2) ? uint8_t(10 * (x + y)) : 90;
  C.Y(3, 3) = 200;
  ASSERT_EQ(yuv_contrast(C.data(), 4, 4, 100, 0), 0);
  EXPECT_EQ(C.Y(0, 0), 255);
  EXPECT_EQ(C.Y(3, 2), 0);
  EXPECT_EQ(C.Y(3, 3), 255);
}

namespace {

struct SurfaceFree {
  void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};
using Surface = std::unique_ptr<SDL_Surface, SurfaceFree>;

// An 8-bit surface over exactly pitch x h bytes, so that a read past it is caught.
struct Palettised {
  std::vector<uint8_t> pixels;
  Surface s;
  Palettised(int w, int h, int pitch, uint32_t seed) : pixels(size_t(pitch) * h) {
    std::mt19937 rng(seed);
    for (uint8_t& p : pixels) p = uint8_t(rng() % 40);
    s.reset(SDL_CreateRGBSurfaceFrom(pixels.data(), w, h, 8, pitch, 0, 0, 0, 0));
    SDL_Color colours[40];
    for (SDL_Color& c : colours) c = {uint8_t(rng()), uint8_t(rng()), uint8_t(rng()), 0};
    SDL_SetColors(s.get(), colours, 0, 40);
  }
  SDL_Color colour(int x, int y) const {
    return s->format->palette->colors[pixels[size_t(y) * s->pitch + x]];
  }
};

void ref_sdl2yuv(const Palettised& P, Frame& F) {
  auto Y = [](SDL_Color c) { return uint8_t(0.299 * c.r + 0.587 * c.g + 0.114 * c.b); };
  auto U = [](int r, int g, int b) { return uint8_t(-0.1687 * r - 0.3313 * g + 0.5 * b + 128); };
  auto V = [](int r, int g, int b) { return uint8_t(0.5 * r - 0.4187 * g - 0.0813 * b + 128); };
  const int w = F.w, n = F.w * F.h;
  if (!packed(F.f)) {
    for (int y = 0; y < F.h; ++y)
      for (int x = 0; x < w; ++x) F.Y(x, y) = Y(P.colour(x, y));
    for (int cy = 0; cy < F.h / 2; ++cy)
      for (int cx = 0; cx < w / 2; ++cx) {
        SDL_Color q[4] = {P.colour(2 * cx, 2 * cy), P.colour(2 * cx + 1, 2 * cy),
                          P.colour(2 * cx, 2 * cy + 1), P.colour(2 * cx + 1, 2 * cy + 1)};
        int r = 0, g = 0, b = 0;
        for (SDL_Color c : q) r += c.r / 4, g += c.g / 4, b += c.b / 4;
        (F.f == 0 ? F.P(1, cx, cy) : F.P(0, cx, cy)) = U(r, g, b);
        (F.f == 0 ? F.P(0, cx, cy) : F.P(1, cx, cy)) = V(r, g, b);
      }
    return;
  }
  const int yo = F.f == 3;
  for (int i = 0; i < n; i += 2) {
    // Pairs run through the frame; a lone last pixel pairs with itself and has 2 bytes.
    const bool lone = i + 1 == n;
    const SDL_Color a = P.colour(i % w, i / w), b = lone ? a : P.colour((i + 1) % w, (i + 1) / w);
    const int r = a.r / 2 + b.r / 2, g = a.g / 2 + b.g / 2, bl = a.b / 2 + b.b / 2;
    auto put = [&](int byte, uint8_t v) {
      if (!lone || byte < 2) F.at(2 * i + byte) = v;
    };
    put(yo, Y(a)), put(2 + yo, Y(b)), put(u_byte(F.f), U(r, g, bl)), put(v_byte(F.f), V(r, g, bl));
  }
}

}  // namespace

TEST(LumakitColour, Sdl2yuvMatchesReferenceWithinSurface) {
  // Odd heights and pitches: chroma may use only rows and columns of the surface.
  const Size shapes[] = {{8, 4}, {5, 3}, {7, 5}, {6, 2}};
  uint32_t seed = 3;
  for (int f = 0; f <= 5; ++f)
    for (const Size& s : shapes) {
      SCOPED_TRACE(::testing::Message() << "format " << f << " pitch " << s.w << " h " << s.h);
      Palettised P(s.w, s.h, s.w, seed++);
      Frame got(f, s.w, s.h, seed), want = got;
      ASSERT_EQ(sdl2yuv(P.s.get(), got.data(), f), 0);
      ref_sdl2yuv(P, want);
      EXPECT_TRUE(same(got, want));
    }
}

TEST(LumakitColour, Sdl2yuvRefusesAndSkips) {
  // All-black palette: Y 0, chroma 128 everywhere.
  Palettised P(4, 2, 4, 1);
  SDL_Color black[40] = {};
  SDL_SetColors(P.s.get(), black, 0, 40);
  Frame F(2, 4, 2);
  ASSERT_EQ(sdl2yuv(P.s.get(), F.data(), 2), 0);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(F.at(i), i % 2 ? 128 : 0);
  // No palette: -1; 16 bits per pixel: 0 without work.
  SDL_Palette* pal = P.s->format->palette;
  P.s->format->palette = nullptr;
  Frame G(1, 4, 2), G0 = G;
  EXPECT_EQ(sdl2yuv(P.s.get(), G.data(), 1), -1);
  P.s->format->palette = pal;
  Surface rgb(SDL_CreateRGBSurface(SDL_SWSURFACE, 4, 2, 16, 0xF800, 0x7E0, 0x1F, 0));
  EXPECT_EQ(sdl2yuv(rgb.get(), G.data(), 1), 0);
  EXPECT_TRUE(same(G, G0));
}
