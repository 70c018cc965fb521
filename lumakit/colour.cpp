// Colour operations: brightness, hue, saturation and contrast in place through 256-entry
// tables, and the conversion of palettised SDL surfaces (rendered text) into YUV frames.
#include <cmath>
#include <cstring>

#include "lumakit/frame.h"
#include "lumakit/lumakit.h"

using namespace lumakit;

namespace {

bool frame_args_ok(const unsigned char* frame, int width, int height) {
  return frame && width >= 0 && height >= 0;
}

// Chroma bytes of a whole frame: planar the w*h/2 bytes after Y, packed every odd (even for
// UYVY) byte.
template <class F>
void for_each_chroma(uint8_t* frame, i64 w, i64 h, int format, F&& f) {
  const i64 n = w * h;
  if (is_packed(format)) {
    uint8_t* p = frame + 1 - packed_y(format);
    for (i64 i = 0; i < n; ++i) f(p[2 * i]);
  } else {
    uint8_t* p = frame + n;
    for (i64 i = 0; i < n / 2; ++i) f(p[i]);
  }
}

}  // namespace

extern "C" {

LUMAKIT_API int yuv_brightness(unsigned char* frame, int width, int height, int amount,
                               int format) {
  if (amount == 0) return 0;
  if (amount < -255 || amount > 255 || !frame_args_ok(frame, width, height)) return -1;
  uint8_t table[256];
  brightness_table(amount, table);
  for_each_y(frame, width, height, format, [&](uint8_t& s) { s = table[s]; });
  return 0;
}

LUMAKIT_API int yuv_saturation(unsigned char* frame, int width, int height, double factor,
                               int format) {
  if (factor == 1.0) return 0;
  if (!(factor >= 0.0) || !frame_args_ok(frame, width, height)) return -1;
  uint8_t table[256];
  for (int v = 0; v < 256; ++v) table[v] = clamp_byte(factor * (v - 128) + 128);
  for_each_chroma(frame, width, height, format, [&](uint8_t& c) { c = table[c]; });
  return 0;
}

LUMAKIT_API int yuv_hue(unsigned char* frame, int width, int height, double angle, int format) {
  if (angle == 0.0 || std::isnan(angle)) return 0;
  if (angle < 0.0 || angle > 6.283185307179586 || !frame_args_ok(frame, width, height)) return -1;
  if (!is_layout(format)) return 0;
  const double c = std::cos(angle), s = std::sin(angle);
  auto turn = [c, s](uint8_t& U, uint8_t& V) {
    const double u = U - 128, v = V - 128;
    U = clamp_byte(c * u - s * v + 128);
    V = clamp_byte(c * v + s * u + 128);
  };
  const i64 n = area(width, height);
  if (is_packed(format)) {
    const int uo = packed_u(format), vo = packed_v(format);
    for (i64 g = 0; g < n / 2; ++g) turn(frame[4 * g + uo], frame[4 * g + vo]);
  } else {
    uint8_t* u = frame + planar_component(format, 0, width, height);
    uint8_t* v = frame + planar_component(format, 1, width, height);
    for (i64 i = 0; i < n / 4; ++i) turn(u[i], v[i]);
  }
  return 0;
}

LUMAKIT_API int yuv_contrast(unsigned char* frame, int width, int height, int percent, int format) {
  if (percent == 0 || format > 4) return 0;
  if (!frame_args_ok(frame, width, height)) return -1;
  const i64 n = area(width, height) / 4;
  if (n == 0) return 0;
  i64 bins[256] = {};
  if (is_packed(format)) {
    for (i64 r = 0; r < height; r += 2) {
      const uint8_t* row = frame + 2 * area(r, width) + packed_y(format);
      for (i64 g = 0; g < width / 2; ++g) ++bins[row[4 * g]];
    }
  } else {
    for (i64 r = 0; r < height; r += 2) {
      const uint8_t* row = frame + area(r, width);
      for (i64 c = 0; c < width; c += 2) ++bins[row[c]];
    }
  }
  uint8_t table[256];
  i64 cum = 0;
  for (int v = 0; v < 256; ++v) {
    cum += bins[v];
    i64 t = std::min<i64>(cum * 255 / n, 255);
    if (percent < 100) t = i64{percent} * (t - v) / 100 + v;
    table[v] = clamp_byte(t);
  }
  for_each_y(frame, width, height, format, [&](uint8_t& s) { s = table[s]; });
  return 0;
}

LUMAKIT_API int sdl2yuv(SDL_Surface* surface, unsigned char* frame, int format) {
  if (!surface || !surface->format) return -1;
  if (surface->format->BitsPerPixel >= 9) return 0;
  const SDL_Palette* pal = surface->format->palette;
  if (!pal || !frame) return -1;
  // Quarters and halves of each palette entry's channels, as the block and pair means take
  // them term by term; entries beyond the palette read as black.
  struct Entry {
    int r, g, b;
    uint8_t y;
  } e[256] = {};
  for (int i = 0; i < 256 && i < pal->ncolors; ++i) {
    const SDL_Color& c = pal->colors[i];
    e[i] = {c.r, c.g, c.b, static_cast<uint8_t>(0.299 * c.r + 0.587 * c.g + 0.114 * c.b)};
  }
  auto u_of = [](int r, int g, int b) {
    return static_cast<uint8_t>(-0.1687 * r - 0.3313 * g + 0.5 * b + 128);
  };
  auto v_of = [](int r, int g, int b) {
    return static_cast<uint8_t>(0.5 * r - 0.4187 * g - 0.0813 * b + 128);
  };
  const bool locked = SDL_MUSTLOCK(surface);
  if (locked && SDL_LockSurface(surface) != 0) return -1;
  const i64 pitch = surface->pitch, h = surface->h;
  const uint8_t* src = static_cast<const uint8_t*>(surface->pixels);
  const i64 n = area(pitch, h);
  if (is_packed(format)) {
    const int yo = packed_y(format), co = 1 - yo, uo = packed_u(format), vo = packed_v(format);
    // Pairs run through the frame as its groups do; a lone last pixel pairs with itself.
    for (i64 i = 0; i < n; i += 2) {
      const Entry& a = e[src[i]];
      const Entry& b = e[src[i + 1 < n ? i + 1 : i]];
      const int r = a.r / 2 + b.r / 2, g = a.g / 2 + b.g / 2, bl = a.b / 2 + b.b / 2;
      uint8_t* q = frame + 2 * i;
      q[yo] = a.y;
      if (i + 1 < n) {
        q[2 + yo] = b.y;
        q[uo] = u_of(r, g, bl);
        q[vo] = v_of(r, g, bl);
      } else {
        q[co] = co == uo ? u_of(r, g, bl) : v_of(r, g, bl);
      }
    }
  } else {
    for (i64 i = 0; i < n; ++i) frame[i] = e[src[i]].y;
    const i64 cw = pitch / 2, ch = h / 2;
    uint8_t* up = frame + (format == 0 ? plane2(pitch, h) : plane1(pitch, h));
    uint8_t* vp = frame + (format == 0 ? plane1(pitch, h) : plane2(pitch, h));
    for (i64 r = 0; r < ch; ++r) {
      const uint8_t* s0 = src + area(2 * r, pitch);
      const uint8_t* s1 = s0 + pitch;
      for (i64 c = 0; c < cw; ++c) {
        const Entry &a = e[s0[2 * c]], &b = e[s0[2 * c + 1]], &d = e[s1[2 * c]],
                    &f = e[s1[2 * c + 1]];
        const int rr = a.r / 4 + b.r / 4 + d.r / 4 + f.r / 4;
        const int gg = a.g / 4 + b.g / 4 + d.g / 4 + f.g / 4;
        const int bb = a.b / 4 + b.b / 4 + d.b / 4 + f.b / 4;
        up[r * cw + c] = u_of(rr, gg, bb);
        vp[r * cw + c] = v_of(rr, gg, bb);
      }
    }
  }
  if (locked) SDL_UnlockSurface(surface);
  return 0;
}

}  // extern "C"
