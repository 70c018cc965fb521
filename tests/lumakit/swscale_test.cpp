// libswscale as a second, independent check where the maths is the same: colour conversion
// of a palettised picture, area downscaling and point upscaling. Tolerances follow from how
// each side rounds and are stated per check.
#include <cmath>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include "tests/lumakit/frames.h"

using namespace lk;

namespace {

constexpr int W = 64, H = 48;

// Runs libswscale from contiguous frame src (planar 4:2:0 as IYUV, or packed) to dst.
void sws(const uint8_t* src, int sw, int sh, AVPixelFormat sf, uint8_t* dst, int dw, int dh,
         AVPixelFormat df, int flags, const uint32_t* palette = nullptr) {
  SwsContext* ctx = sws_getContext(sw, sh, sf, dw, dh, df, flags, nullptr, nullptr, nullptr);
  ASSERT_NE(ctx, nullptr);
  if (palette) {  // palettised input converts to full-range BT.601, as sdl2yuv does
    const int* co = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(ctx, co, 1, co, 1, 0, 1 << 16, 1 << 16);
  }
  auto planes = [](const uint8_t* f, int w, int h, AVPixelFormat pf, const uint8_t* p[4],
                   int ls[4]) {
    if (pf == AV_PIX_FMT_YUV420P) {
      p[0] = f, p[1] = f + w * h, p[2] = f + w * h * 5 / 4, ls[0] = w, ls[1] = ls[2] = w / 2;
    } else {
      p[0] = f, ls[0] = pf == AV_PIX_FMT_PAL8 ? w : 2 * w;
    }
  };
  const uint8_t* sp[4] = {};
  const uint8_t* dp[4] = {};
  int sl[4] = {}, dl[4] = {};
  planes(src, sw, sh, sf, sp, sl);
  planes(dst, dw, dh, df, dp, dl);
  if (palette) sp[1] = reinterpret_cast<const uint8_t*>(palette), sl[1] = 4;
  sws_scale(ctx, sp, sl, 0, sh, const_cast<uint8_t**>(dp), dl);
  sws_freeContext(ctx);
}

// Camera-like content: shaded luma, and chroma that changes ten times slower across the
// picture (about half a level per pixel), as colour does in camera pictures.
void fill_scene(Frame& F) {
  auto shade = [](double x, double y, double phase) {
    return uint8_t(128 + 60 * std::sin(x * 0.07 + phase) * std::cos(y * 0.09) +
                   30 * std::sin((x + y) * 0.03));
  };
  for (long y = 0; y < F.h; ++y)
    for (long x = 0; x < F.w; ++x) {
      F.Y(x, y) = shade(x, y, 0);
      if (packed(F.f) && x % 2 == 0)
        F.G(x, y, u_byte(F.f)) = shade(x * 0.1, y, 1),
                  F.G(x, y, v_byte(F.f)) = shade(x * 0.1, y, 2);
      if (!packed(F.f) && x < F.w / 2 && y < F.h / 2)
        F.U(x, y) = shade(x * 0.2, 2 * y, 1), F.V(x, y) = shade(x * 0.2, 2 * y, 2);
    }
}

struct Diff {
  int max = 0;
  double mean = 0;
};
Diff diff(const uint8_t* a, const uint8_t* b, size_t n, size_t step = 1, size_t offset = 0) {
  Diff d;
  size_t count = 0;
  for (size_t i = offset; i < n; i += step, ++count) {
    const int e = std::abs(int(a[i]) - int(b[i]));
    d.max = std::max(d.max, e), d.mean += e;
  }
  d.mean /= double(count ? count : 1);
  return d;
}

}  // namespace

TEST(LumakitSwscale, Sdl2yuvAgreesWithFullRangeBt601) {
  // A palettised picture of 64 smooth colours in smooth bands, as rendered text would be.
  std::vector<uint8_t> idx(W * H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) idx[y * W + x] = uint8_t((x + y) / 2);
  SDL_Surface* s = SDL_CreateRGBSurfaceFrom(idx.data(), W, H, 8, W, 0, 0, 0, 0);
  SDL_Color colours[64];
  uint32_t palette[256] = {};
  for (int i = 0; i < 64; ++i) {
    colours[i] = {uint8_t(4 * i), uint8_t(255 - 3 * i), uint8_t(64 + 2 * i), 0};
    palette[i] = 0xFF000000u | colours[i].r << 16 | colours[i].g << 8 | colours[i].b;
  }
  SDL_SetColors(s, colours, 0, 64);
  for (auto [format, pf] : {std::pair(1, AV_PIX_FMT_YUV420P), std::pair(2, AV_PIX_FMT_YUYV422)}) {
    SCOPED_TRACE(format);
    Frame ours(format, W, H), theirs(format, W, H);
    ASSERT_EQ(sdl2yuv(s, ours.data(), format), 0);
    sws(idx.data(), W, H, AV_PIX_FMT_PAL8, theirs.data(), W, H, pf, SWS_AREA, palette);
    // Y: we truncate, libswscale rounds in fixed point: at most 1 apart.
    const size_t ny = packed(format) ? ours.size() : size_t(W * H);
    EXPECT_LE(diff(ours.data(), theirs.data(), ny, packed(format) ? 2 : 1).max, 1);
    // Chroma: we convert the block's mean colour and truncate; libswscale converts each
    // pixel, rounds, and subsamples with its own filter taps. Smooth content keeps the
    // difference to a couple of levels at most, and near zero on average.
    const Diff c = packed(format) ? diff(ours.data(), theirs.data(), ours.size(), 2, 1)
                                  : diff(ours.data() + W * H, theirs.data() + W * H, W * H / 2);
    EXPECT_LE(c.max, 3) << c.mean;
    EXPECT_LT(c.mean, 1.0);
  }
  SDL_FreeSurface(s);
}

TEST(LumakitSwscale, DownscalingAgreesWithAreaScaling) {
  for (auto [format, pf] : {std::pair(1, AV_PIX_FMT_YUV420P), std::pair(2, AV_PIX_FMT_YUYV422)}) {
    SCOPED_TRACE(format);
    Frame src(format, W, H);
    fill_scene(src);
    // Half size: our 2x2 means drop each term's fraction (up to 3/4 each, under 3 in all);
    // libswscale rounds the exact mean. So ours is 0..3 below.
    Frame half(format, W / 2, H / 2), area(format, W / 2, H / 2);
    ASSERT_EQ(yuv_shrink(src.data(), W, H, half.data(), W / 2, H / 2, format), 0);
    sws(src.data(), W, H, pf, area.data(), W / 2, H / 2, pf, SWS_AREA);
    const Diff d = diff(half.data(), area.data(), half.size());
    EXPECT_LE(d.max, 3);
    EXPECT_LT(d.mean, 2.0);
    // Quarter size: one sum divided once, so within one level of the rounded mean (Y; the
    // planar chroma planes are not written by yuv_downscale). Packed chroma takes the block
    // of each pair's first pixel, whose centre lies 2 pixels left of the centre of the
    // pair's footprint that libswscale averages: about one more level on this content.
    Frame quarter(format, W / 4, H / 4), qarea(format, W / 4, H / 4);
    YUV_IMAGE s{src.data(), W, H, uint32_t(format)},
        q{quarter.data(), W / 4, H / 4, uint32_t(format)};
    ASSERT_EQ(yuv_downscale(&s, &q), 0);
    sws(src.data(), W, H, pf, qarea.data(), W / 4, H / 4, pf, SWS_AREA);
    const size_t n = packed(format) ? quarter.size() : size_t(W / 4 * H / 4);
    EXPECT_LE(diff(quarter.data(), qarea.data(), n, packed(format) ? 2 : 1).max, 1);
    if (packed(format)) { EXPECT_LE(diff(quarter.data(), qarea.data(), n, 2, 1).max, 3); }
  }
}

TEST(LumakitSwscale, DoublingAgreesWithPointScaling) {
  // Point scaling by exactly 2 repeats each sample: no rounding on either side.
  Frame src(1, W, H);
  fill_scene(src);
  const struct {
    int dw, dh;
    bool expand;
  } cases[] = {{2 * W, 2 * H, false}, {2 * W, H, false}, {W, 2 * H, false}, {2 * W, 2 * H, true}};
  for (const auto& c : cases) {
    Frame ours(1, c.dw, c.dh), theirs(1, c.dw, c.dh);
    ASSERT_EQ((c.expand ? yuv_expand : yuv_stretch)(src.data(), W, H, ours.data(), c.dw, c.dh, 1),
              0);
    sws(src.data(), W, H, AV_PIX_FMT_YUV420P, theirs.data(), c.dw, c.dh, AV_PIX_FMT_YUV420P,
        SWS_POINT);
    EXPECT_EQ(diff(ours.data(), theirs.data(), ours.size()).max, 0) << c.dw << "x" << c.dh;
  }
  Frame psrc(2, W, H), ours(2, 2 * W, 2 * H), theirs(2, 2 * W, 2 * H);
  fill_scene(psrc);
  ASSERT_EQ(yuv_expand(psrc.data(), W, H, ours.data(), 2 * W, 2 * H, 2), 0);
  sws(psrc.data(), W, H, AV_PIX_FMT_YUYV422, theirs.data(), 2 * W, 2 * H, AV_PIX_FMT_YUYV422,
      SWS_POINT);
  EXPECT_EQ(diff(ours.data(), theirs.data(), ours.size()).max, 0);
}
