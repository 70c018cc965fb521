// Dewarp maps: yuv_image_map builds, for each destination pixel, the source pixel to take (a
// flip, a scale, or an unwrap of a circular picture), and yuv_warp applies such a map.
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>

#include "lumakit/frame.h"
#include "lumakit/lumakit.h"

using namespace lumakit;

extern "C" {

LUMAKIT_API int yuv_image_map(YUV_POINT* map, SDL_Rect region, uint16_t W, uint16_t H, double angle,
                              int type) {
  if (!map || W == 0 || H == 0) return -1;
  const i64 rx = region.x, ry = region.y, rw = region.w, rh = region.h, cx = rw / 2, cy = rh / 2;
  auto put = [&](i64 i, i64 j, i64 a, i64 b) {
    map[i * W + j] = {static_cast<uint16_t>(rx + a), static_cast<uint16_t>(ry + b)};
  };
  // "keep": only sources inside the region are written (truncated toward zero first).
  auto keep = [&](i64 i, i64 j, double a, double b) {
    const double ta = std::trunc(a), tb = std::trunc(b);
    if (ta >= 0 && ta < rw && tb >= 0 && tb < rh)
      put(i, j, static_cast<i64>(ta), static_cast<i64>(tb));
  };
  if (type == 1) {
    for (i64 i = 0; i < H; ++i)
      for (i64 j = 0; j < W; ++j) put(i, j, j, H - 1 - i);
    return 0;
  }
  if (type == 6) {
    for (i64 i = 0; i < H; ++i)
      for (i64 j = 0; j < W; ++j) keep(i, j, rw * j / W, rh * i / H);
    return 0;
  }
  if (type != 7 && type != 8 && type != 9 && type != 16) return 0;
  std::unique_ptr<double[]> cs(new (std::nothrow) double[W]), sn(new (std::nothrow) double[W]);
  if (!cs || !sn) return -1;
  const bool whole_turn = type == 7 || type == 8;
  for (i64 j = 0; j < W; ++j) {
    const double a = angle + (j + 1) * (whole_turn ? 2 * M_PI : M_PI) / W;
    cs[j] = std::cos(a), sn[j] = std::sin(a);
  }
  // Row i at radius index r along the angles of its columns.
  auto ring = [&](i64 i, double radius) {
    for (i64 j = 0; j < W; ++j) keep(i, j, cx + radius * cs[j], cy + radius * sn[j]);
  };
  if (whole_turn) {
    const double s = static_cast<double>(rh) / (2.0 * H);
    for (i64 i = 0; i < H; ++i) ring(i, (type == 7 ? i : H - 1 - i) * s);
  } else {
    const double s2 = static_cast<double>(rh) / H;
    const i64 half = H / 2;
    for (i64 i = 0; i < half; ++i) {
      const i64 r = type == 9 ? i : half - 1 - i;
      ring(i, r * s2);
      ring(half + i, -r * s2);
    }
  }
  return 0;
}

LUMAKIT_API int yuv_warp(YUV_VIEW src, YUV_VIEW dst, const YUV_POINT* map, int format) {
  if (format > 4) {
    std::printf("Do nothing!\n");
    return 0;
  }
  if (!src.pixels || !dst.pixels || !map || src.width == 0 || src.height == 0) return -1;
  if (format != 0 && format != 1 && format != 3) return 0;
  const i64 sw = src.width, sh = src.height, dw = dst.width, dh = dst.height;
  // Entries are clamped to the source view, so no map can reach outside it.
  auto sx = [sw](const YUV_POINT& p) { return std::min<i64>(p.x, sw - 1); };
  auto sy = [sh](const YUV_POINT& p) { return std::min<i64>(p.y, sh - 1); };
  const uint8_t* s = src.pixels;
  uint8_t* d = dst.pixels;
  if (format == 3) {
    const i64 s_bytes = 2 * sw * sh, d_bytes = 2 * dw * dh;
    for (i64 k = 0; k < dw * dh; ++k) {
      const i64 si = sx(map[k]) + sy(map[k]) * sw;
      d[2 * k + 1] = s[2 * si + 1];
      // The pair's U and V; a lone last pixel of an odd frame has a U byte only.
      const i64 sg = 4 * (si / 2), dg = 4 * (k / 2);
      d[dg] = s[sg];
      if (dg + 2 < d_bytes && sg + 2 < s_bytes) d[dg + 2] = s[sg + 2];
    }
    return 0;
  }
  for (i64 k = 0; k < dw * dh; ++k) d[k] = s[sy(map[k]) * sw + sx(map[k])];
  const i64 scw = sw / 2, sch = sh / 2, dcw = dw / 2, dch = dh / 2;
  if (scw == 0 || sch == 0) return 0;
  for (const bool second : {false, true}) {
    const uint8_t* sp = s + (second ? plane2(sw, sh) : plane1(sw, sh));
    uint8_t* dp = d + (second ? plane2(dw, dh) : plane1(dw, dh));
    for (i64 r = 0; r < dch; ++r)
      for (i64 c = 0; c < dcw; ++c) {
        const YUV_POINT& p = map[2 * r * dw + 2 * c];
        dp[r * dcw + c] =
            sp[std::min<i64>(p.y / 2, sch - 1) * scw + std::min<i64>(p.x / 2, scw - 1)];
      }
  }
  return 0;
}

}  // extern "C"
