// Remap and histograms of one component (Y, U or V) of a frame or a rectangle, mapping tables
// built from histograms, and the value stack that picks the most extreme of a series.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "lumakit/frame.h"
#include "lumakit/lumakit.h"

using namespace lumakit;

namespace {

enum Component { kY = -1, kU = 0, kV = 1 };

// Calls f on every sample of the component within the rectangle (x, y, w, h) of a fw x fh
// frame, clipped to the frame.
template <class F>
void for_each_in_rect(uint8_t* frame, i64 x, i64 y, i64 w, i64 h, i64 fw, i64 fh, int format,
                      Component comp, F&& f) {
  if (comp == kY) {
    const Span rows = clip(y, h, fh), cols = clip(x, w, fw);
    const i64 step = is_packed(format) ? 2 : 1;
    uint8_t* base = frame + (is_packed(format) ? packed_y(format) : 0);
    for (i64 r = rows.lo; r < rows.hi; ++r) {
      const i64 row = (y + r) * fw + x;
      for (i64 c = cols.lo; c < cols.hi; ++c) f(base[step * (row + c)]);
    }
  } else if (is_packed(format)) {
    const Span rows = clip(y, h, fh), groups = clip_pairs(x, w / 2, fw);
    const int off = comp == kU ? packed_u(format) : packed_v(format);
    for (i64 r = rows.lo; r < rows.hi; ++r) {
      const i64 row = 2 * ((y + r) * fw + x) + off;
      for (i64 g = groups.lo; g < groups.hi; ++g) f(frame[row + 4 * g]);
    }
  } else {
    const i64 cw = fw / 2;
    const Span rows = clip(y / 2, h / 2, fh / 2), cols = clip(x / 2, w / 2, cw);
    uint8_t* plane = frame + planar_component(format, comp, fw, fh);
    for (i64 r = rows.lo; r < rows.hi; ++r) {
      const i64 row = (y / 2 + r) * cw + x / 2;
      for (i64 c = cols.lo; c < cols.hi; ++c) f(plane[row + c]);
    }
  }
}

// The whole-frame component: Y as the colour operations, U and V w*h/4 plane bytes (planar)
// or one byte of each of the w*h/2 groups (packed).
template <class F>
void for_each_in_frame(uint8_t* frame, i64 w, i64 h, int format, Component comp, F&& f) {
  if (comp == kY) return for_each_y(frame, w, h, format, f);
  const i64 n = w * h;
  if (is_packed(format)) {
    uint8_t* p = frame + (comp == kU ? packed_u(format) : packed_v(format));
    for (i64 g = 0; g < n / 2; ++g) f(p[4 * g]);
  } else {
    uint8_t* p = frame + planar_component(format, comp, w, h);
    for (i64 i = 0; i < n / 4; ++i) f(p[i]);
  }
}

int remap(unsigned char* frame, int w, int h, int format, const unsigned char* table,
          Component comp) {
  if (!frame || !table || w < 0 || h < 0) return -1;
  if (!is_layout(format)) return 0;
  for_each_in_frame(frame, w, h, format, comp, [table](uint8_t& s) { s = table[s]; });
  return 0;
}

int remap_region(unsigned char* frame, int x, int y, int w, int h, int fw, int fh, int format,
                 const unsigned char* table, Component comp) {
  if (!frame || !table || fw < 0 || fh < 0) return -1;
  if (!is_layout(format)) return 0;
  for_each_in_rect(frame, x, y, w, h, fw, fh, format, comp, [table](uint8_t& s) { s = table[s]; });
  return 0;
}

int histogram(const unsigned char* frame, int w, int h, int format, int* bins, Component comp) {
  if (!bins) return -1;
  std::memset(bins, 0, 256 * sizeof(int));
  if (!frame || w < 0 || h < 0) return -1;
  if (!is_layout(format)) return 0;
  for_each_in_frame(const_cast<uint8_t*>(frame), w, h, format, comp,
                    [bins](uint8_t s) { ++bins[s]; });
  return 0;
}

int histogram_region(const unsigned char* frame, int x, int y, int w, int h, int fw, int fh,
                     int format, int* bins, Component comp) {
  if (!bins) return -1;
  std::memset(bins, 0, 256 * sizeof(int));
  if (!frame || fw < 0 || fh < 0) return -1;
  if (!is_layout(format)) return 0;
  for_each_in_rect(const_cast<uint8_t*>(frame), x, y, w, h, fw, fh, format, comp,
                   [bins](uint8_t s) { ++bins[s]; });
  return 0;
}

// Percentile stretch (modes 3-5) into out; false when there is nothing to stretch.
bool stretch_map(const int* hist, int mode, int param, uint8_t* out) {
  i64 total = 0;
  for (int v = 0; v < 256; ++v) total += hist[v];
  const i64 P = param * total / 100;
  int lo = 0, hi = 255;
  if (P > 0) {
    i64 sum = 0;
    for (lo = 0; lo < 256 && sum < P; ++lo) sum += hist[lo];
    sum = 0;
    int taken = 0;
    for (; taken < 256 && sum < P; ++taken) sum += hist[255 - taken];
    hi = 255 - taken;
  }
  if (lo >= hi || (lo == 0 && hi == 255)) return false;
  const i64 R = hi - lo + 1;
  std::memset(out, 0, 256);
  for (i64 k = 0; k < 256; ++k) {
    i64 p;
    if (mode == 3)
      p = lo + k * R / 255;
    else if (mode == 4)
      p = lo + k * k * R / 65025;
    else
      p = lo + static_cast<i64>(std::sqrt(static_cast<double>(k)) * R / std::sqrt(255.0));
    out[p & 255] = static_cast<uint8_t>(k);
  }
  if (mode == 3) {
    for (int v = 0; v < lo; ++v) out[v] = out[lo];
    if (hi < 255)
      for (int v = hi + 1; v < 256; ++v) out[v] = out[hi];
  } else {
    for (int v = 1; v < 256; ++v)
      if (out[v] == 0 && out[v - 1] != 0) out[v] = out[v - 1];
  }
  return true;
}

}  // namespace

extern "C" {

LUMAKIT_API int yuv_remap_y(unsigned char* f, int w, int h, int format, const unsigned char* t) {
  return remap(f, w, h, format, t, kY);
}
LUMAKIT_API int yuv_remap_u(unsigned char* f, int w, int h, int format, const unsigned char* t) {
  return remap(f, w, h, format, t, kU);
}
LUMAKIT_API int yuv_remap_v(unsigned char* f, int w, int h, int format, const unsigned char* t) {
  return remap(f, w, h, format, t, kV);
}

LUMAKIT_API int yuv_remap_region_y(unsigned char* f, int x, int y, int w, int h, int fw, int fh,
                                   int format, const unsigned char* t) {
  return remap_region(f, x, y, w, h, fw, fh, format, t, kY);
}
LUMAKIT_API int yuv_remap_region_u(unsigned char* f, int x, int y, int w, int h, int fw, int fh,
                                   int format, const unsigned char* t) {
  return remap_region(f, x, y, w, h, fw, fh, format, t, kU);
}
LUMAKIT_API int yuv_remap_region_v(unsigned char* f, int x, int y, int w, int h, int fw, int fh,
                                   int format, const unsigned char* t) {
  return remap_region(f, x, y, w, h, fw, fh, format, t, kV);
}

LUMAKIT_API int yuv_histogram_y(const unsigned char* f, int w, int h, int format, int* bins) {
  return histogram(f, w, h, format, bins, kY);
}
LUMAKIT_API int yuv_histogram_u(const unsigned char* f, int w, int h, int format, int* bins) {
  return histogram(f, w, h, format, bins, kU);
}
LUMAKIT_API int yuv_histogram_v(const unsigned char* f, int w, int h, int format, int* bins) {
  return histogram(f, w, h, format, bins, kV);
}

LUMAKIT_API int yuv_histogram_region_y(const unsigned char* f, int x, int y, int w, int h, int fw,
                                       int fh, int format, int* bins) {
  return histogram_region(f, x, y, w, h, fw, fh, format, bins, kY);
}
LUMAKIT_API int yuv_histogram_region_u(const unsigned char* f, int x, int y, int w, int h, int fw,
                                       int fh, int format, int* bins) {
  return histogram_region(f, x, y, w, h, fw, fh, format, bins, kU);
}
LUMAKIT_API int yuv_histogram_region_v(const unsigned char* f, int x, int y, int w, int h, int fw,
                                       int fh, int format, int* bins) {
  return histogram_region(f, x, y, w, h, fw, fh, format, bins, kV);
}

LUMAKIT_API int yuv_build_map(const int* hist, unsigned char* table, int mode, int param) {
  if (!table || mode < 0 || mode > 5) return table ? 0 : -1;
  uint8_t out[256];
  if (mode == 2) {
    if (param < -255 || param > 255) return -1;
    brightness_table(param, out);
    std::memcpy(table, out, 256);
    return 0;
  }
  if (!hist) return -1;
  for (int v = 0; v < 256; ++v)
    if (hist[v] < 0) return -1;
  if (mode == 0) {
    if (param < 0 || param > 100) return -1;
    i64 S = 0, cum = 0;
    for (int v = 0; v < 256; ++v) S += hist[v];
    if (S == 0) return -1;
    for (int v = 0; v < 256; ++v) {
      cum += hist[v];
      i64 t = cum * 255 / S;
      if (param < 100) t = v + param * (t - v) / 100;
      out[v] = static_cast<uint8_t>(t);
    }
  } else if (mode == 1) {
    i64 SU = 0, SL = 0;
    for (int v = 129; v < 256; ++v) SU += hist[v];
    for (int v = 0; v < 128; ++v) SL += hist[v];
    // Each half is equalised by its own count; an empty half cannot be.
    if (SU == 0 || SL == 0) return -1;
    out[128] = 128;
    i64 cum = 0;
    for (int v = 129; v < 256; ++v)
      cum += hist[v], out[v] = static_cast<uint8_t>(cum * 128 / SU + 127);
    cum = 0;
    for (int v = 127; v >= 0; --v)
      cum += hist[v], out[v] = static_cast<uint8_t>(128 - cum * 128 / SL);
  } else {
    if (param < 0 || param > 100 || !stretch_map(hist, mode, param, out)) return -1;
  }
  std::memcpy(table, out, 256);
  return 0;
}

LUMAKIT_API int yuv_print_mapping(const unsigned char* table) {
  if (!table) return -1;
  std::printf("\n-OLD- -NEW-\n");
  for (int v = 0; v < 256; ++v) std::printf("%5d %5d\n", v, table[v]);
  std::printf("\n");
  return 0;
}

namespace {
uint8_t stack_values[257];
int stack_top = -1;
}  // namespace

LUMAKIT_API int yuv_pushpop(int value, int pop) {
  if (pop == 0) {
    if (stack_top < 256) stack_values[++stack_top] = static_cast<uint8_t>(value & 0xFF);
    return 0;
  }
  if (stack_top < 0) return 0;
  int mn = 255, mx = 0;
  for (int i = 0; i <= stack_top; ++i)
    mn = std::min<int>(mn, stack_values[i]), mx = std::max<int>(mx, stack_values[i]);
  stack_top = -1;
  return 128 - mn > mx - 128 ? mn : mx;
}

}  // extern "C"
