// Test frames for Lumakit: random content between canary bytes, and sample accessors written
// from the layout table (independent of the library's own layout code).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "lumakit/lumakit.h"

namespace lk {

constexpr int kGuard = 16;
constexpr uint8_t kCanary = 0xA7;
// Even and odd sizes, including a one-pixel-high and a three-pixel-wide frame.
struct Size {
  int w, h;
};
inline const std::vector<Size> kSizes = {{8, 6}, {12, 8}, {7, 5}, {9, 4}, {3, 7}, {6, 1}};

inline bool packed(int f) { return f >= 2 && f <= 4; }
inline size_t bytes_of(int f, int w, int h) {
  return packed(f) ? size_t(2) * w * h : size_t(w) * h * 3 / 2;
}

struct Frame {
  int f, w, h;
  std::vector<uint8_t> buf;  // guard, frame, guard

  Frame(int format, int width, int height, uint32_t seed = 1) : f(format), w(width), h(height) {
    buf.assign(bytes_of(f, w, h) + 2 * kGuard, kCanary);
    std::mt19937 rng(seed);
    for (size_t i = 0; i < size(); ++i) data()[i] = uint8_t(rng());
  }
  size_t size() const { return buf.size() - 2 * kGuard; }
  uint8_t* data() { return buf.data() + kGuard; }
  bool guards_ok() const {
    for (int i = 0; i < kGuard; ++i)
      if (buf[i] != kCanary || buf[buf.size() - 1 - i] != kCanary) return false;
    return true;
  }
  uint8_t& at(long i) { return data()[i]; }
  // Y of pixel (x, y): planar Y plane; packed the Y byte of the pixel's two bytes.
  uint8_t& Y(long x, long y) { return packed(f) ? at(2 * (y * w + x) + (f == 3)) : at(y * w + x); }
  // Planar chroma plane p (0: the one at w*h, 1: at w*h*5/4).
  uint8_t& P(int p, long cx, long cy) {
    return at((p ? long(w) * h * 5 / 4 : long(w) * h) + cy * (w / 2) + cx);
  }
  // Planar U and V by layout: YV12 keeps V first, IYUV U first.
  uint8_t& U(long cx, long cy) { return P(f == 0 ? 1 : 0, cx, cy); }
  uint8_t& V(long cx, long cy) { return P(f == 0 ? 0 : 1, cx, cy); }
  // Byte b of the packed group that starts at pixel x of row y.
  uint8_t& G(long x, long y, int b) { return at(2 * (y * w + x) + b); }
};

// Packed byte of U and V within a group, Y0 and Y1.
inline int u_byte(int f) { return f == 2 ? 1 : f == 3 ? 0 : 3; }
inline int v_byte(int f) { return f == 2 ? 3 : f == 3 ? 2 : 1; }

// Both frames must agree byte for byte, canaries included.
inline ::testing::AssertionResult same(const Frame& got, const Frame& want) {
  if (!got.guards_ok()) return ::testing::AssertionFailure() << "canary overwritten";
  for (size_t i = 0; i < got.buf.size(); ++i)
    if (got.buf[i] != want.buf[i])
      return ::testing::AssertionFailure()
             << "byte " << long(i) - kGuard << " is " << int(got.buf[i]) << ", expected "
             << int(want.buf[i]) << " (format " << got.f << ", " << got.w << "x" << got.h << ")";
  return ::testing::AssertionSuccess();
}

// Runs check(format, w, h, seed) over the five layouts (and format 5 when asked) and every size.
template <class F>
void each_frame(F&& check, bool with_invalid = false) {
  uint32_t seed = 7;
  for (int f = 0; f <= (with_invalid ? 5 : 4); ++f)
    for (const Size& s : kSizes) {
      SCOPED_TRACE(::testing::Message() << "format " << f << " " << s.w << "x" << s.h);
      check(f, s.w, s.h, seed++);
    }
}

}  // namespace lk
