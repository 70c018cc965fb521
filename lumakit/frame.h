// Layout arithmetic shared by Lumakit's operations: where each sample of the five layouts
// lives, and clipping of ranges to a frame. Internal; every size is widened to 64 bits so that
// no caller value can overflow an offset.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace lumakit {

using i64 = int64_t;

inline bool is_packed(int format) { return format >= 2 && format <= 4; }
inline bool is_layout(int format) { return format >= 0 && format <= 4; }

// Byte of the Y sample within a packed pixel's two bytes.
inline int packed_y(int format) { return format == 3 ? 1 : 0; }
// Byte of U and of V within a packed 4-byte group.
inline int packed_u(int format) { return format == 2 ? 1 : format == 3 ? 0 : 3; }
inline int packed_v(int format) { return format == 2 ? 3 : format == 3 ? 2 : 1; }

// Sizes and offsets stay signed so that an index built from a clipped negative coordinate
// never wraps; pointers are formed only from whole, non-negative indexes.
inline i64 area(i64 w, i64 h) { return w * h; }
// Offsets of the two chroma planes (memory order) of a planar frame.
inline i64 plane1(i64 w, i64 h) { return w * h; }
inline i64 plane2(i64 w, i64 h) { return w * h * 5 / 4; }
// Offset of the plane holding U (component 0) or V (component 1) of a planar layout.
inline i64 planar_component(int format, int component, i64 w, i64 h) {
  const bool u_first = format == 1;
  return (component == 0) == u_first ? plane1(w, h) : plane2(w, h);
}

// Lowers an odd value by one (5 -> 4, -3 -> -4).
inline i64 even(i64 v) { return v & ~i64{1}; }

inline i64 floor_div2(i64 v) { return v >> 1; }

// [lo, hi) of the offsets k in [0, count) with 0 <= start + k < limit.
struct Span {
  i64 lo, hi;
  bool empty() const { return hi <= lo; }
};
inline Span clip(i64 start, i64 count, i64 limit) {
  const i64 lo = std::max<i64>(0, -start);
  const i64 hi = std::min<i64>(count, limit - start);
  return {lo, std::max(lo, hi)};
}
// [lo, hi) of the pairs k in [0, count) whose members x + 2k and x + 2k + 1 both lie in
// [0, width): the groups of a packed row, or the line pairs of a deinterlace.
inline Span clip_pairs(i64 x, i64 count, i64 width) {
  const i64 lo = std::max<i64>(0, floor_div2(-x + 1));
  const i64 hi = std::min<i64>(count, floor_div2(width - x));
  return {lo, std::max(lo, hi)};
}

inline Span operator&(Span a, Span b) {
  const i64 lo = std::max(a.lo, b.lo);
  return {lo, std::max(lo, std::min(a.hi, b.hi))};
}

inline uint8_t clamp_byte(i64 v) { return static_cast<uint8_t>(std::clamp<i64>(v, 0, 255)); }
inline uint8_t clamp_byte(double v) {
  return static_cast<uint8_t>(!(v > 0.0) ? 0 : v >= 255.0 ? 255 : static_cast<int>(v));
}

// The brightness curve shared by yuv_brightness and yuv_build_map mode 2.
inline void brightness_table(int amount, uint8_t* table) {
  const double k = amount / 255.0;
  for (int v = 0; v < 256; ++v) {
    const double t = amount <= 0 ? v * (1.0 + k) : (k + (v / 255.0) * (1.0 - k)) * 255.0;
    table[v] = static_cast<uint8_t>(t);
  }
}

// The Y samples of a whole frame: planar, the first w*h bytes; packed every second byte.
template <class F>
void for_each_y(uint8_t* frame, i64 w, i64 h, int format, F&& f) {
  const i64 n = w * h;
  if (is_packed(format)) {
    uint8_t* p = frame + packed_y(format);
    for (i64 i = 0; i < n; ++i) f(p[2 * i]);
  } else {
    for (i64 i = 0; i < n; ++i) f(frame[i]);
  }
}

}  // namespace lumakit
