#include "client/links/video_adjust.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

inline uint8_t round_byte(double v) {
  long r = std::lround(v);
  return static_cast<uint8_t>(std::clamp<long>(r, 0, 255));
}

inline int luma(const uint8_t* p) {
  return p[0] * 299 / 1000 + p[1] * 587 / 1000 + p[2] * 114 / 1000;
}

}  // namespace

int adjust_brightness(uint8_t* pixels, int width, int height, int amount, int bpp) {
  if (amount < -255 || amount > 255) return -1;
  if (amount == 0 || !pixels || width <= 0 || height <= 0 || bpp < 3) return 0;
  const double d = amount / 255.0;
  uint8_t table[256];
  for (int i = 0; i < 256; ++i)
    table[i] = amount < 1 ? round_byte(i * (1 + d)) : round_byte(((i / 255.0) * (1 - d) + d) * 255);
  // Every byte goes through the table, the fourth of a 4-byte pixel included.
  const size_t n = static_cast<size_t>(width) * height * bpp;
  for (size_t i = 0; i < n; ++i) pixels[i] = table[pixels[i]];
  return 0;
}

int equalize_histogram(uint8_t* pixels, int width, int height, int amount, int bpp) {
  if (amount == 0 || !pixels || width <= 0 || height <= 0 || bpp < 3) return 0;
  const long n = static_cast<long>(width) * height;
  // The histogram samples every fourth pixel; fewer than 4 pixels give no sample to divide by.
  if (n < 4) return 0;
  long hist[256] = {};
  // Sampled in steps of 16 bytes whatever the pixel size, over the picture's 4-byte span.
  const long span = n * bpp;
  for (long off = 0; off + 2 < span; off += 16) ++hist[luma(pixels + off)];
  uint8_t map[256];
  long sum = 0;
  for (int i = 0; i < 256; ++i) {
    sum += hist[i];
    // Odd sizes sample one pixel more than n / 4: the map stays a byte, clamped, not wrapped.
    map[i] = static_cast<uint8_t>(std::min<long>(255, sum * 255 / (n / 4)));
  }
  const long weight = -100L * amount;
  if (weight < 10000)
    for (int i = 0; i < 256; ++i)
      map[i] = static_cast<uint8_t>(std::clamp<long>(i + ((map[i] - i) * weight) / 10000, 0, 255));
  const size_t step = bpp == 4 ? 4 : 3;
  const size_t total = static_cast<size_t>(n) * step;
  for (size_t off = 0; off + 2 < total; off += step) {
    uint8_t* p = pixels + off;
    const int y = luma(p), diff = y - map[y];
    if (diff == 0) continue;
    for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>(std::clamp(p[c] + diff, 0, 255));
  }
  return 0;
}

int adjust_hue(uint8_t* pixels, int width, int height, float hue, int bpp) {
  if (!(hue > 0.0f) || hue >= 360.0f || !pixels || width <= 0 || height <= 0 || bpp < 3) return 0;
  const float h = hue;
  float f[3];
  if (h < 60)
    f[0] = 1, f[1] = h / 60, f[2] = 0;
  else if (h < 120)
    f[0] = (120 - h) / 60, f[1] = 1, f[2] = 0;
  else if (h < 180)
    f[0] = 0, f[1] = 1, f[2] = (180 - h) / 60;
  else if (h < 240)
    f[0] = 0, f[1] = (240 - h) / 60, f[2] = 1;
  else if (h < 300)
    f[0] = (300 - h) / 60, f[1] = 0, f[2] = 1;
  else
    f[0] = 1, f[1] = 0, f[2] = (360 - h) / 60;
  uint8_t table[3][256];
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < 256; ++i) table[c][i] = round_byte(static_cast<float>(i) * f[c]);
  const size_t step = bpp == 4 ? 4 : 3;
  const size_t total = static_cast<size_t>(width) * height * step;
  for (size_t off = 0; off < total; off += step) {
    uint8_t* p = pixels + off;
    p[0] = table[0][p[0]];
    p[1] = table[1][p[1]];
    p[2] = table[2][p[2]];
  }
  return 0;
}

int adjust_contrast(uint8_t* pixels, int width, int height, int amount, int bpp) {
  if (bpp < 3) return -1;
  if (amount == 0 || !pixels || width <= 0 || height <= 0) return 0;
  const size_t n = static_cast<size_t>(width) * height;
  const size_t step = bpp == 4 ? 4 : 3;
  const size_t total = n * step;
  const int c = amount;
  if (c < 0) {
    // Each colour byte moves |c| towards its own pixel's mean, never past it.
    for (size_t off = 0; off < total; off += step) {
      uint8_t* p = pixels + off;
      const int m = (p[0] + p[1] + p[2]) / 3;
      for (int k = 0; k < 3; ++k) {
        const int v = p[k];
        p[k] = static_cast<uint8_t>(v > m ? std::max(m, v + c) : std::min(m, v - c));
      }
    }
    return 0;
  }
  // The mean is taken over the first width x height bytes, as the picture's brightness level.
  uint64_t sum = 0;
  for (size_t i = 0; i < n; ++i) sum += pixels[i];
  const int mean = static_cast<int>(sum / n);
  for (size_t off = 0; off < total; off += step) {
    uint8_t* p = pixels + off;
    for (int k = 0; k < 3; ++k) {
      const int v = p[k];
      p[k] = static_cast<uint8_t>(v > mean ? std::min(255, v + c) : std::max(0, v - c));
    }
  }
  return 0;
}

int shrink_picture(SDL_Surface* from, SDL_Surface* to, uint16_t* width, uint16_t* height,
                   int width_limit, int height_limit) {
  if (!from || !width || !height) return 0;
  const int bpp = from->format->BytesPerPixel;
  int row_step = 1;
  if (*height > height_limit) {
    *height = static_cast<uint16_t>(*height / 2);
    row_step = 2;
  }
  if (*width <= width_limit) return 0;
  if (*height != 0 && to) {
    const int half = *width / 2;
    // Never past either surface: the rows and pixels that exist on both sides.
    const int rows = std::min<int>(*height, std::min(to->h, from->h / row_step));
    const int cols = std::min(half, std::min<int>(to->w, from->w / 2));
    const int to_bpp = to->format->BytesPerPixel;
    if (to_bpp == bpp && rows > 0 && cols > 0) {
      SDL_LockSurface(from);
      SDL_LockSurface(to);
      for (int y = 0; y < rows; ++y) {
        const uint8_t* src = static_cast<const uint8_t*>(from->pixels) +
                             static_cast<size_t>(y) * row_step * from->pitch;
        uint8_t* dst = static_cast<uint8_t*>(to->pixels) + static_cast<size_t>(y) * to->pitch;
        if (bpp == 4) {
          const uint32_t* s = reinterpret_cast<const uint32_t*>(src);
          uint32_t* d = reinterpret_cast<uint32_t*>(dst);
          for (int x = 0; x < cols; ++x) d[x] = s[2 * x];
        } else {
          for (int x = 0; x < cols; ++x) std::memcpy(dst + x * bpp, src + 2 * x * bpp, bpp);
        }
      }
      SDL_UnlockSurface(to);
      SDL_UnlockSurface(from);
    }
  }
  *width = static_cast<uint16_t>(*width / 2);
  return 0;
}
