// Motion grid, deinterlace and mask: dark-rectangle tests, rectangle copies, refilling dark
// cells from another frame, the centre and direction of marked motion, line doubling of marked
// cells or one rectangle, and tinting a rectangle. Rectangles are clipped to their frames.
#include <cmath>
#include <cstring>

#include "lumakit/frame.h"
#include "lumakit/lumakit.h"

using namespace lumakit;

namespace {

// Copies line `from` over line `to` (both inside the frame) for the columns cols of a row of
// `unit` bytes per column.
void copy_line(uint8_t* base, i64 stride, i64 from, i64 to, i64 x, Span cols, i64 unit) {
  if (cols.empty() || from == to) return;
  std::memcpy(base + (to * stride + unit * (x + cols.lo)),
              base + (from * stride + unit * (x + cols.lo)), unit * (cols.hi - cols.lo));
}

// Line doubling of `count` pairs from line `first`: pair k copies line first + 2k + src_off
// over first + 2k + (1 - src_off); pairs reaching outside the rows are skipped.
void double_lines(uint8_t* base, i64 stride, i64 rows, i64 first, i64 count, bool upper_down, i64 x,
                  Span cols, i64 unit) {
  const Span pairs = clip_pairs(first, count, rows);
  for (i64 k = pairs.lo; k < pairs.hi; ++k) {
    const i64 upper = first + 2 * k;
    if (upper_down)
      copy_line(base, stride, upper, upper + 1, x, cols, unit);
    else
      copy_line(base, stride, upper + 1, upper, x, cols, unit);
  }
}

}  // namespace

extern "C" {

LUMAKIT_API int yuv_black(const unsigned char* frame, int width, int height, int format, int x,
                          int y, int w, int h, int threshold, int samples) {
  if (samples <= 0 || !frame || width < 0 || height < 0) return -1;
  const i64 n = static_cast<i64>(std::sqrt(static_cast<double>(samples)));
  // The grid spans the part of the rectangle inside the frame.
  const Span cols = clip(x, w, width), rows = clip(y, h, height);
  const i64 rx = x + cols.lo, rw = cols.hi - cols.lo, ry = y + rows.lo, rh = rows.hi - rows.lo;
  i64 sum = 0;
  if (is_layout(format) && rw > 0 && rh > 0) {
    const i64 step = is_packed(format) ? 2 : 1, off = is_packed(format) ? packed_y(format) : 0;
    for (i64 i = 0; i < n; ++i) {
      const i64 row = ry + rh * i / n + rh / (2 * n);
      for (i64 j = 0; j < n; ++j)
        sum += frame[step * (row * width + rx + rw * j / n + rw / (2 * n)) + off];
    }
  }
  return sum < i64{samples} * (threshold & 0xFF) ? 1 : 0;
}

LUMAKIT_API int yuv_blit(const unsigned char* src, int sw, int sh, int sx, int sy, int w, int h,
                         unsigned char* dst, int dst_width, int dst_height, int dx, int dy, int dw,
                         int dh, int format) {
  if (!src || !dst || sw < 0 || sh < 0 || dst_width < 0 || dst_height < 0 || w != dw || h != dh)
    return -1;
  if (!is_layout(format)) return 0;
  // Only pixels inside both frames are copied.
  auto copy = [&](const uint8_t* s, i64 s_w, i64 s_h, i64 s_x, i64 s_y, uint8_t* d, i64 d_w,
                  i64 d_h, i64 d_x, i64 d_y, i64 cw, i64 ch, i64 unit) {
    const Span rows = clip(s_y, ch, s_h) & clip(d_y, ch, d_h);
    const Span cols = clip(s_x, cw, s_w) & clip(d_x, cw, d_w);
    if (cols.empty()) return;
    for (i64 i = rows.lo; i < rows.hi; ++i)
      std::memmove(d + unit * ((d_y + i) * d_w + d_x + cols.lo),
                   s + unit * ((s_y + i) * s_w + s_x + cols.lo), unit * (cols.hi - cols.lo));
  };
  if (is_packed(format)) {
    copy(src, sw, sh, sx, sy, dst, dst_width, dst_height, dx, dy, w, h, 2);
    return 0;
  }
  copy(src, sw, sh, sx, sy, dst, dst_width, dst_height, dx, dy, w, h, 1);
  const i64 sp[2] = {plane1(sw, sh), plane2(sw, sh)},
            dp[2] = {plane1(dst_width, dst_height), plane2(dst_width, dst_height)};
  for (int k = 0; k < 2; ++k)
    copy(src + sp[k], sw / 2, sh / 2, sx / 2, sy / 2, dst + dp[k], dst_width / 2, dst_height / 2,
         dx / 2, dy / 2, w / 2, h / 2, 1);
  return 0;
}

LUMAKIT_API int yuv_merge(const unsigned char* a, int aw, int ah, unsigned char* b, int bw, int bh,
                          int cells, int format, int threshold, int samples) {
  if (!a || !b || aw != bw || ah != bh || aw < 0 || ah < 0 || cells <= 0 || samples <= 0) return -1;
  const int cw = aw / cells, ch = ah / cells;
  if (cw <= 0 || ch <= 0) return -1;
  for (int i = 0; i < cells; ++i)
    for (int j = 0; j < cells; ++j)
      if (yuv_black(b, bw, bh, format, j * cw, i * ch, cw, ch, threshold, samples) == 1)
        yuv_blit(a, aw, ah, j * cw, i * ch, cw, ch, b, bw, bh, j * cw, i * ch, cw, ch, format);
  return 0;
}

LUMAKIT_API int yuv_motion_center(const unsigned char* mask, int columns, int rows, int* x,
                                  int* y) {
  if (!x || !y || columns < 0 || rows < 0 || (!mask && columns > 0 && rows > 0)) return -1;
  i64 sx = 0, sy = 0, count = 0;
  for (i64 r = 0; r < rows; ++r)
    for (i64 c = 0; c < columns; ++c) {
      const i64 n = r * columns + c;
      if ((mask[n >> 3] >> (n & 7)) & 1) sx += c, sy += r, ++count;
    }
  *x = count ? static_cast<int>(sx / count) : 0;
  *y = count ? static_cast<int>(sy / count) : 0;
  return 0;
}

LUMAKIT_API int yuv_motion_direction(int x0, int y0, int x1, int y1, int* dx, int* dy) {
  if (!dx || !dy) return -1;
  *dx = static_cast<int>(static_cast<unsigned>(x1) - static_cast<unsigned>(x0));
  *dy = static_cast<int>(static_cast<unsigned>(y1) - static_cast<unsigned>(y0));
  return 0;
}

LUMAKIT_API int yuv_selective_bob(unsigned char* frame, int width, int height, int format,
                                  const unsigned char* mask, int cell_width, int cell_height) {
  if (!frame || !mask || width < 0 || height < 0 || cell_width <= 0 || cell_height <= 0) return -1;
  if (!is_layout(format)) return 0;
  const i64 cols = width / cell_width, rows = height / cell_height;
  const i64 unit = is_packed(format) ? 2 : 1;
  for (i64 n = 0; n < cols * rows; ++n) {
    if (!((mask[n >> 3] >> (n & 7)) & 1)) continue;
    const i64 top = n / cols * cell_height, left = n % cols * cell_width;
    double_lines(frame, unit * width, height, top, cell_height / 2, true, left, {0, cell_width},
                 unit);
  }
  return 0;
}

LUMAKIT_API int yuv_bob_region(unsigned char* frame, int width, int height, int format, int x,
                               int y, int w, int h, int field) {
  if (!frame || width < 0 || height < 0) return -1;
  if (!is_layout(format)) return 0;
  if (is_packed(format)) {
    const Span cols = clip(x, w, width);
    if (field % 2 != 0)
      double_lines(frame, 2 * i64{width}, height, y, h / 2, true, x, cols, 2);
    else
      double_lines(frame, 2 * i64{width}, height, i64{y} + 1, h / 2 - 1, true, x, cols, 2);
    return 0;
  }
  double_lines(frame, width, height, y, h / 2, field != 0, x, clip(x, w, width), 1);
  const i64 cw = width / 2, ch = height / 2;
  for (const i64 plane : {plane1(width, height), plane2(width, height)})
    double_lines(frame + plane, cw, ch, y / 2, h / 4, field != 0, x / 2, clip(x / 2, w / 2, cw), 1);
  return 0;
}

LUMAKIT_API int yuv_mask(unsigned char* frame, int width, int height, int format, int x, int y,
                         int w, int h, const unsigned char* colour) {
  if (!frame || !colour || width < 0 || height < 0) return -1;
  if (!is_layout(format)) return 0;
  // "add" saturates at 255; "push" moves a chroma byte away from 128 by the amount.
  auto add_table = [](uint8_t* t, int a) {
    for (int v = 0; v < 256; ++v) t[v] = static_cast<uint8_t>(std::min(255, v + a));
  };
  auto push_table = [](uint8_t* t, int a) {
    for (int v = 0; v < 256; ++v)
      t[v] = static_cast<uint8_t>(v <= 128 ? std::max(0, v - a) : std::min(255, v + a));
  };
  auto apply = [](uint8_t* base, i64 stride, i64 rows_limit, i64 cols_limit, i64 rx, i64 ry, i64 rw,
                  i64 rh, const uint8_t* t) {
    const Span rows = clip(ry, rh, rows_limit), cols = clip(rx, rw, cols_limit);
    for (i64 r = rows.lo; r < rows.hi; ++r)
      for (i64 c = cols.lo; c < cols.hi; ++c) {
        uint8_t& s = base[(ry + r) * stride + rx + c];
        s = t[s];
      }
  };
  uint8_t t[4][256];
  if (!is_packed(format)) {
    const i64 cw = width / 2, ch = height / 2;
    if (colour[0]) add_table(t[0], colour[0]), apply(frame, width, height, width, x, y, w, h, t[0]);
    if (colour[1])
      add_table(t[1], colour[1]),
          apply(frame + plane1(width, height), cw, ch, cw, x / 2, y / 2, w / 2, h / 2, t[1]);
    if (colour[2])
      add_table(t[2], colour[2]),
          apply(frame + plane2(width, height), cw, ch, cw, x / 2, y / 2, w / 2, h / 2, t[2]);
    return 0;
  }
  const bool uyvy = format == 3;
  for (int k = 0; k < 4; ++k) {
    if ((k % 2 == 0) == uyvy)
      push_table(t[k], colour[k]);
    else
      add_table(t[k], colour[k]);
  }
  const Span rows = clip(y, h, height), groups = clip_pairs(x, w / 2, width);
  for (i64 r = rows.lo; r < rows.hi; ++r) {
    const i64 row = 2 * ((y + r) * i64{width} + x);
    for (i64 g = groups.lo; g < groups.hi; ++g)
      for (int k = 0; k < 4; ++k) {
        uint8_t& s = frame[row + 4 * g + k];
        s = t[k][s];
      }
  }
  return 0;
}

}  // extern "C"
