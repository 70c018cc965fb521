// Geometry: crop in place, shrink and enlarge into a second buffer, zoom a quarter of a frame,
// fill in a frame known on a half grid, and downscale by integer ratios. Means are formed term
// by term (each sample divided by the count before adding), as the fast paths need.
#include <bit>
#include <cstring>
#include <memory>
#include <new>

#include "lumakit/frame.h"
#include "lumakit/lumakit.h"

using namespace lumakit;

namespace {

bool two_frames_ok(const unsigned char* src, int sw, int sh, const unsigned char* dst, int dw,
                   int dh) {
  return src && dst && sw >= 0 && sh >= 0 && dw >= 0 && dh >= 0;
}

// Planes of a planar frame: Y, then the two chroma planes in memory order.
struct Plane {
  i64 offset, w, h;
};
void planes_of(i64 w, i64 h, Plane out[3]) {
  out[0] = {0, w, h};
  out[1] = {plane1(w, h), w / 2, h / 2};
  out[2] = {plane2(w, h), w / 2, h / 2};
}

// 2x2 means of a plane into one of half its size (dw x dh samples written).
void half_plane(const uint8_t* s, i64 s_stride, uint8_t* d, i64 dw, i64 dh) {
  for (i64 r = 0; r < dh; ++r) {
    const uint8_t* a = s + 2 * r * s_stride;
    const uint8_t* b = a + s_stride;
    uint8_t* q = d + r * dw;
    for (i64 c = 0; c < dw; ++c)
      q[c] = static_cast<uint8_t>((a[2 * c] >> 2) + (a[2 * c + 1] >> 2) + (b[2 * c] >> 2) +
                                  (b[2 * c + 1] >> 2));
  }
}
// Means of horizontal neighbours (dw x rows samples written).
void half_width_plane(const uint8_t* s, i64 s_stride, uint8_t* d, i64 dw, i64 rows) {
  for (i64 r = 0; r < rows; ++r) {
    const uint8_t* a = s + r * s_stride;
    uint8_t* q = d + r * dw;
    for (i64 c = 0; c < dw; ++c) q[c] = static_cast<uint8_t>((a[2 * c] >> 1) + (a[2 * c + 1] >> 1));
  }
}
// Repeats each sample of an sw x sh area (row stride s_stride) rx times across and ry times
// down (rx, ry 1 or 2).
void repeat_plane(const uint8_t* s, i64 s_stride, i64 sw, i64 sh, uint8_t* d, i64 d_stride, int rx,
                  int ry) {
  for (i64 r = 0; r < sh; ++r) {
    uint8_t* q = d + ry * r * d_stride;
    const uint8_t* a = s + r * s_stride;
    if (rx == 2)
      for (i64 c = 0; c < sw; ++c) q[2 * c] = q[2 * c + 1] = a[c];
    else
      std::memcpy(q, a, sw);
    if (ry == 2) std::memcpy(q + d_stride, q, rx * sw);
  }
}

// Byte offsets within a packed group of the two Y samples and the two chroma bytes.
struct Group {
  int y0, y1, c0, c1;
};
Group group_of(int format) { return format == 3 ? Group{1, 3, 0, 2} : Group{0, 2, 1, 3}; }

// Packed resampling by the single-precision ratios sw/dw and sh/dh: per destination sample,
// trunc(fy) rows of trunc(fx) whole samples plus the next one weighted by the fraction; a next
// sample past the row's end (weight 0 for whole ratios) is skipped. -1 when the column table
// cannot be allocated (nothing written).
int resample_packed(const uint8_t* src, i64 sw, i64 sh, uint8_t* dst, i64 dw, i64 dh, int format) {
  const float fx = static_cast<float>(sw) / static_cast<float>(dw);
  const float fy = static_cast<float>(sh) / static_cast<float>(dh);
  const i64 ix = static_cast<i64>(fx), iy = static_cast<i64>(fy);
  const float frac = (fx - static_cast<float>(ix)) / fx;
  // Every term depends only on the sample's value: a whole sample / fx, the next * frac; a
  // row's total never exceeds 255, so its share / iy is a table too.
  // (With fewer than one source row per destination row, no row contributes.)
  int whole[256], part[256], share[256];
  for (int v = 0; v < 256; ++v)
    whole[v] = static_cast<int>(v / fx), part[v] = static_cast<int>(v * frac),
    share[v] = iy ? int(v / iy) : 0;
  // First source column of each destination pixel, and first source group of each pair.
  std::unique_ptr<i64[]> first(new (std::nothrow) i64[dw + dw / 2 + 1]);
  if (!first) return -1;
  i64* group_first = first.get() + dw;
  for (i64 j = 0; j < dw; ++j) first[j] = static_cast<i64>(fx * static_cast<float>(j));
  for (i64 g = 0; g < dw / 2; ++g)
    group_first[g] = static_cast<i64>(fx * static_cast<float>(2 * g)) / 2;
  const Group gp = group_of(format);
  // One row's share of destination sample u0 (units per row `units`, unit u at row[step*u]).
  auto row_share = [&](const uint8_t* row, i64 u0, i64 units, i64 step) {
    int total = 0;
    for (i64 t = 0; t < ix && u0 + t < units; ++t) total += whole[row[step * (u0 + t)]];
    if (u0 + ix < units) total += part[row[step * (u0 + ix)]];
    return share[std::min(total, 255)];
  };
  // Ratios between 1 and 2 (the common downscales) take one whole sample and the next.
  auto row_share_1 = [&](const uint8_t* row, i64 u0, i64 units, i64 step) {
    const int total = whole[row[step * u0]] + (u0 + 1 < units ? part[row[step * (u0 + 1)]] : 0);
    return iy == 1 ? total : share[std::min(total, 255)];
  };
  std::unique_ptr<int[]> acc(new (std::nothrow) int[dw + 2 * (dw / 2) + 1]);
  if (!acc) return -1;
  for (i64 i = 0; i < dh; ++i) {
    const i64 r0 = static_cast<i64>(fy * static_cast<float>(i));
    if (iy == 1 && ix == 1 && r0 < sh) {
      // One source row of one whole sample and the next (ratios between 1 and 2, the
      // usual downscales): each sample is its row's share, written as it is formed.
      const uint8_t* row = src + 2 * r0 * sw;
      uint8_t* q = dst + 2 * i * dw;
      for (i64 j = 0; j < dw; ++j)
        q[2 * j + gp.y0] = static_cast<uint8_t>(row_share_1(row + gp.y0, first[j], sw, 2));
      for (i64 g = 0; g < dw / 2; ++g) {
        q[4 * g + gp.c0] =
            static_cast<uint8_t>(row_share_1(row + gp.c0, group_first[g], sw / 2, 4));
        q[4 * g + gp.c1] =
            static_cast<uint8_t>(row_share_1(row + gp.c1, group_first[g], sw / 2, 4));
      }
      continue;
    }
    std::fill(acc.get(), acc.get() + dw + 2 * (dw / 2), 0);
    int* yacc = acc.get();
    int* cacc = acc.get() + dw;
    for (i64 rr = 0; rr < iy && r0 + rr < sh; ++rr) {
      const uint8_t* row = src + 2 * (r0 + rr) * sw;
      if (ix == 1) {
        for (i64 j = 0; j < dw; ++j) yacc[j] += row_share_1(row + gp.y0, first[j], sw, 2);
        for (i64 g = 0; g < dw / 2; ++g)
          cacc[2 * g] += row_share_1(row + gp.c0, group_first[g], sw / 2, 4),
              cacc[2 * g + 1] += row_share_1(row + gp.c1, group_first[g], sw / 2, 4);
      } else {
        for (i64 j = 0; j < dw; ++j) yacc[j] += row_share(row + gp.y0, first[j], sw, 2);
        for (i64 g = 0; g < dw / 2; ++g)
          cacc[2 * g] += row_share(row + gp.c0, group_first[g], sw / 2, 4),
              cacc[2 * g + 1] += row_share(row + gp.c1, group_first[g], sw / 2, 4);
      }
    }
    uint8_t* q = dst + 2 * i * dw;
    for (i64 j = 0; j < dw; ++j) q[2 * j + gp.y0] = static_cast<uint8_t>(yacc[j]);
    for (i64 g = 0; g < dw / 2; ++g)
      q[4 * g + gp.c0] = static_cast<uint8_t>(cacc[2 * g]),
                q[4 * g + gp.c1] = static_cast<uint8_t>(cacc[2 * g + 1]);
  }
  return 0;
}

int shrink_packed(const uint8_t* src, i64 sw, i64 sh, uint8_t* dst, i64 dw, i64 dh, int format) {
  const Group gp = group_of(format);
  auto Y = [&](i64 r, i64 c) { return src[2 * (r * sw + c) + gp.y0]; };
  auto G = [&](i64 r, i64 g, int b) { return src[2 * r * sw + 4 * g + b]; };
  if (dw == sw / 2 && (dh == sh / 2 || dh == sh)) {
    const bool rows_too = dh == sh / 2;
    for (i64 r = 0; r < dh; ++r) {
      uint8_t* q = dst + 2 * r * dw;
      if (rows_too) {
        const i64 a = 2 * r, b = a + 1;
        for (i64 c = 0; c < dw; ++c)
          q[2 * c + gp.y0] = static_cast<uint8_t>((Y(a, 2 * c) >> 2) + (Y(a, 2 * c + 1) >> 2) +
                                                  (Y(b, 2 * c) >> 2) + (Y(b, 2 * c + 1) >> 2));
        for (i64 g = 0; g < dw / 2; ++g)
          for (const int k : {gp.c0, gp.c1})
            q[4 * g + k] = static_cast<uint8_t>((G(a, 2 * g, k) >> 2) + (G(a, 2 * g + 1, k) >> 2) +
                                                (G(b, 2 * g, k) >> 2) + (G(b, 2 * g + 1, k) >> 2));
      } else {
        for (i64 c = 0; c < dw; ++c)
          q[2 * c + gp.y0] = static_cast<uint8_t>((Y(r, 2 * c) >> 1) + (Y(r, 2 * c + 1) >> 1));
        for (i64 g = 0; g < dw / 2; ++g)
          for (const int k : {gp.c0, gp.c1})
            q[4 * g + k] = static_cast<uint8_t>((G(r, 2 * g, k) >> 1) + (G(r, 2 * g + 1, k) >> 1));
      }
    }
    return 0;
  }
  if (2 * dw < sw && 2 * dh < sh) {
    const i64 rx = sw / dw, ry = sh / dh;
    // Each of the ry rows adds (its rx samples each divided by rx) divided by ry.
    auto box = [&](i64 r0, i64 u0, auto at) {
      i64 acc = 0;
      for (i64 rr = 0; rr < ry; ++rr) {
        i64 row = 0;
        for (i64 t = 0; t < rx; ++t) row += at(r0 + rr, u0 + t) / rx;
        acc += row / ry;
      }
      return static_cast<uint8_t>(acc);
    };
    for (i64 r = 0; r < dh; ++r) {
      uint8_t* q = dst + 2 * r * dw;
      for (i64 c = 0; c < dw; ++c) q[2 * c + gp.y0] = box(r * ry, c * rx, Y);
      for (i64 g = 0; g < dw / 2; ++g)
        for (const int k : {gp.c0, gp.c1})
          q[4 * g + k] = box(r * ry, g * rx, [&](i64 rr, i64 gg) { return G(rr, gg, k); });
    }
    return 0;
  }
  return resample_packed(src, sw, sh, dst, dw, dh, format);
}

}  // namespace

extern "C" {

LUMAKIT_API int yuv_crop(unsigned char* frame, int width, int height, int left, int top, int right,
                         int bottom, int format) {
  if (!frame || width < 0 || height < 0) return -1;
  if (!is_layout(format)) return 0;
  if (left < 0 || top < 0 || right < 0 || bottom < 0) return -1;
  const i64 w = width, h = height;
  if (is_packed(format)) {
    const i64 L = left & ~3, R = right & ~3, nw = w - L - R, nh = h - top - bottom;
    if (nw <= 0 || nh <= 0) return -1;
    // Forward copies: every row moves to an offset no later than its own.
    for (i64 r = 0; r < nh; ++r)
      std::memmove(frame + 2 * r * nw, frame + 2 * ((top + r) * w + L), 2 * nw);
    return 0;
  }
  const i64 L = even(left), T = even(top), R = even(right), B = even(bottom), nw = w - L - R,
            nh = h - T - B;
  if (nw <= 0 || nh <= 0) return -1;
  Plane from[3], to[3];
  planes_of(w, h, from);
  planes_of(nw, nh, to);
  // The planes are moved in memory order, each to an offset no later than its own, so no
  // plane is overwritten before it is read.
  for (int k = 0; k < 3; ++k) {
    const i64 x = k ? L / 2 : L, y = k ? T / 2 : T;
    for (i64 r = 0; r < to[k].h; ++r)
      std::memmove(frame + to[k].offset + r * to[k].w,
                   frame + from[k].offset + (y + r) * from[k].w + x, to[k].w);
  }
  return 0;
}

LUMAKIT_API int yuv_shrink(const unsigned char* src, int sw, int sh, unsigned char* dst, int dw,
                           int dh, int format) {
  if (!two_frames_ok(src, sw, sh, dst, dw, dh) || dw == 0 || dh == 0 || i64{dw} * dh > i64{sw} * sh)
    return -1;
  if (is_packed(format)) return shrink_packed(src, sw, sh, dst, dw, dh, format);
  Plane s[3], d[3];
  planes_of(sw, sh, s);
  planes_of(dw, dh, d);
  if (dw == sw / 2 && dh == sh / 2) {
    for (int k = 0; k < 3; ++k)
      half_plane(src + s[k].offset, s[k].w, dst + d[k].offset, d[k].w, d[k].h);
  } else if (dw == sw / 2 && dh == sh) {
    for (int k = 0; k < 3; ++k)
      half_width_plane(src + s[k].offset, s[k].w, dst + d[k].offset, d[k].w, d[k].h);
  }
  return 0;
}

LUMAKIT_API int yuv_shrink_any(const unsigned char* src, int sw, int sh, unsigned char* dst, int dw,
                               int dh, int format) {
  if (!two_frames_ok(src, sw, sh, dst, dw, dh) || dw == 0 || dh == 0) return -1;
  return is_packed(format) ? resample_packed(src, sw, sh, dst, dw, dh, format) : 0;
}

LUMAKIT_API int yuv_stretch(const unsigned char* src, int sw, int sh, unsigned char* dst, int dw,
                            int dh, int format) {
  if (!two_frames_ok(src, sw, sh, dst, dw, dh)) return -1;
  const bool wide = dw == 2 * i64{sw}, tall = dh == 2 * i64{sh};
  if (!wide && !tall) return -1;
  if (format != 0 && format != 1) return 0;
  int rx, ry;
  if (wide && tall)
    rx = 2, ry = 2;
  else if (wide && dh == sh)
    rx = 2, ry = 1;
  else if (tall && dw == sw)
    rx = 1, ry = 2;
  else
    return 0;
  Plane s[3], d[3];
  planes_of(sw, sh, s);
  planes_of(dw, dh, d);
  for (int k = 0; k < 3; ++k)
    repeat_plane(src + s[k].offset, s[k].w, s[k].w, s[k].h, dst + d[k].offset, d[k].w, rx, ry);
  return 0;
}

LUMAKIT_API int yuv_expand(const unsigned char* src, int sw, int sh, unsigned char* dst, int dw,
                           int dh, int format) {
  if (!two_frames_ok(src, sw, sh, dst, dw, dh)) return -1;
  if (!is_layout(format)) return 0;
  const bool doubled = dw == 2 * i64{sw} && dh == 2 * i64{sh};
  if (!is_packed(format)) {
    if (!doubled) return 0;
    Plane s[3], d[3];
    planes_of(sw, sh, s);
    planes_of(dw, dh, d);
    for (int k = 0; k < 3; ++k)
      repeat_plane(src + s[k].offset, s[k].w, s[k].w, s[k].h, dst + d[k].offset, d[k].w, 2, 2);
    return 0;
  }
  if (doubled) {
    static_assert(std::endian::native == std::endian::little,
                  "groups are read as little-endian words");
    // Each group as one little-endian word: the first copy repeats Y0 in both Y places,
    // the second Y1.
    const Group gp = group_of(format);
    const int s0 = 8 * gp.y0, s1 = 8 * gp.y1;
    const uint32_t keep0 = ~(0xFFu << s1), keep1 = ~(0xFFu << s0);
    for (i64 r = 0; r < sh; ++r) {
      const uint8_t* a = src + 2 * r * sw;
      uint8_t* q = dst + 4 * r * dw;
      for (i64 g = 0; g < sw / 2; ++g) {
        uint32_t v;
        std::memcpy(&v, a + 4 * g, 4);
        const uint32_t y0 = (v >> s0) & 0xFF, y1 = (v >> s1) & 0xFF;
        const uint64_t pair = uint64_t((v & keep0) | y0 << s1) | uint64_t((v & keep1) | y1 << s0)
                                                                     << 32;
        std::memcpy(q + 8 * g, &pair, 8);
      }
      std::memcpy(q + 2 * dw, q, 8 * (sw / 2));
    }
  } else if (dw == sw && dh == 2 * i64{sh}) {
    for (i64 r = 0; r < sh; ++r) {
      std::memcpy(dst + 4 * r * dw, src + 2 * r * sw, 2 * sw);
      std::memcpy(dst + 4 * r * dw + 2 * dw, src + 2 * r * sw, 2 * sw);
    }
  }
  return 0;
}

LUMAKIT_API int yuv_zoom(unsigned char* frame, int width, int height, int format, int cx, int cy,
                         int factor) {
  if (!frame || width < 0 || height < 0) return -1;
  if (!is_layout(format) || factor != 2) return 0;
  const i64 w = width, h = height;
  const i64 size = is_packed(format) ? 2 * w * h : w * h * 3 / 2;
  std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[size ? size : 1]);
  if (!copy) return -1;
  std::memcpy(copy.get(), frame, size);
  const i64 left = std::clamp<i64>(cx, w / 4, 3 * w / 4) - w / 4;
  const i64 top = std::clamp<i64>(cy, h / 4, 3 * h / 4) - h / 4;
  if (is_packed(format)) {
    // The window starts on a group; each of its groups fills a 2x2 block of groups.
    const i64 x0 = left & ~i64{1};
    for (i64 r = 0; r < h / 2; ++r) {
      const uint8_t* a = copy.get() + 2 * ((top + r) * w + x0);
      uint8_t* q = frame + 4 * r * w;
      for (i64 g = 0; g < w / 4; ++g) {
        std::memcpy(q + 8 * g, a + 4 * g, 4);
        std::memcpy(q + 8 * g + 4, a + 4 * g, 4);
      }
      std::memcpy(q + 2 * w, q, 8 * (w / 4));
    }
    return 0;
  }
  Plane p[3];
  planes_of(w, h, p);
  for (int k = 0; k < 3; ++k) {
    const i64 x = k ? left / 2 : left, y = k ? top / 2 : top;
    repeat_plane(copy.get() + p[k].offset + y * p[k].w + x, p[k].w, p[k].w / 2, p[k].h / 2,
                 frame + p[k].offset, p[k].w, 2, 2);
  }
  return 0;
}

LUMAKIT_API int yuv_extrapolate(unsigned char* frame, int width, int height, int format) {
  if (!frame || width < 0 || height < 0) return -1;
  if (!is_layout(format)) return 0;
  const bool packed = is_packed(format);
  const i64 w = width, h = height, step = packed ? 2 : 1;
  uint8_t* base = frame + (packed ? packed_y(format) : 0);
  auto Y = [&](i64 r, i64 c) -> uint8_t& { return base[step * (r * w + c)]; };
  // Odd columns with both neighbours known: 1..w-3 planar, up to w-2 packed.
  const i64 last_col = packed ? w - 2 : w - 3;
  for (i64 r = 0; r < h; r += 2)
    for (i64 c = 1; c <= last_col; c += 2)
      Y(r, c) = static_cast<uint8_t>((Y(r, c - 1) >> 1) + (Y(r, c + 1) >> 1));
  for (i64 r = 1; r < h; r += 2)
    for (i64 c = 0; c < w; ++c)
      Y(r, c) =
          r + 1 < h ? static_cast<uint8_t>((Y(r - 1, c) >> 1) + (Y(r + 1, c) >> 1)) : Y(r - 1, c);
  return 0;
}

LUMAKIT_API int yuv_downscale(const YUV_IMAGE* src, YUV_IMAGE* dst) {
  if (!src || !dst || !src->pixels || !dst->pixels || dst->width == 0 || dst->height == 0)
    return -1;
  const i64 sw = src->width, sh = src->height, dw = dst->width, dh = dst->height;
  const i64 rx = sw / dw, ry = sh / dh, N = rx * ry;
  const int format = dst->format > 4 ? 5 : static_cast<int>(dst->format);
  if (N == 0 || (is_packed(format) && N == 1)) return -1;
  const bool packed = is_packed(format);
  // Each block row's bytes are first summed down the ry rows, then across the block.
  const i64 row_bytes = packed ? 2 * sw : sw;
  std::unique_ptr<uint32_t[]> column(new (std::nothrow) uint32_t[row_bytes + 1]);
  if (!column) return -1;
  // Power-of-two blocks (the usual ratios) divide by a shift.
  const int shift = (N & (N - 1)) == 0 ? __builtin_ctzll(static_cast<uint64_t>(N)) : -1;
  auto mean = [&](uint64_t sum) {
    return static_cast<uint8_t>(shift >= 0 ? sum >> shift : sum / N);
  };
  const Group gp = group_of(format);
  const i64 last_group = sw / 2 - 1;
  for (i64 r = 0; r < dh; ++r) {
    uint32_t* col = column.get();
    std::fill(col, col + row_bytes, 0u);
    for (i64 rr = 0; rr < ry; ++rr) {
      const uint8_t* row = src->pixels + (r * ry + rr) * row_bytes;
      for (i64 b = 0; b < row_bytes; ++b) col[b] += row[b];
    }
    if (!packed) {
      uint8_t* q = dst->pixels + r * dw;
      for (i64 c = 0; c < dw; ++c) {
        uint64_t sum = 0;
        for (i64 t = 0; t < rx; ++t) sum += col[c * rx + t];
        q[c] = mean(sum);
      }
      continue;
    }
    uint8_t* q = dst->pixels + 2 * r * dw;
    for (i64 c = 0; c < dw; ++c) {
      uint64_t sum = 0;
      for (i64 t = 0; t < rx; ++t) sum += col[2 * (c * rx + t) + gp.y0];
      q[2 * c + gp.y0] = mean(sum);
    }
    // Chroma: the block of the pair's first pixel, each pixel counting its group's byte.
    for (i64 g = 0; g < dw / 2; ++g) {
      uint64_t sum0 = 0, sum1 = 0;
      for (i64 t = 0; t < rx; ++t) {
        const uint32_t* grp = col + 4 * std::min((2 * g * rx + t) / 2, last_group);
        sum0 += grp[gp.c0], sum1 += grp[gp.c1];
      }
      q[4 * g + gp.c0] = mean(sum0);
      q[4 * g + gp.c1] = mean(sum1);
    }
  }
  return 0;
}

}  // extern "C"
