// libFuzzer target for Lumakit: the input picks an operation, a layout (5 = none of them), the
// frame sizes (up to 40 x 40), coordinates, rectangles, thicknesses, ratios, cell masks, tables
// and map entries. Every frame, mask and map is allocated exactly as its sizes require, so
// AddressSanitizer sees any stray access; tables, bins and results carry canaries.
#include <SDL/SDL.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lumakit/lumakit.h"

namespace {

// Reads the input front to back; past its end every value is 0.
struct Input {
  const uint8_t* p;
  size_t n;
  uint8_t u8() { return n ? (--n, *p++) : 0; }
  int size(int limit) { return u8() % (limit + 1); }
  // Mostly small values around a frame; 0x7F..0x81 reach the extremes of int.
  int coord() {
    const uint8_t v = u8();
    if (v == 0x7F) return INT_MAX;
    if (v == 0x80) return INT_MIN;
    if (v == 0x81)
      return int(uint32_t(u8()) << 24 | uint32_t(u8()) << 16 | uint32_t(u8()) << 8 | u8());
    return int8_t(v);
  }
};

size_t bytes_of(int format, int w, int h) {
  return format >= 2 && format <= 4 ? size_t(2) * w * h : size_t(w) * h * 3 / 2;
}

// A buffer of exactly its size, filled from the input.
struct Buffer {
  std::vector<uint8_t> storage;
  uint8_t* data;
  Buffer(size_t n, Input& in) : storage(n) {
    for (uint8_t& b : storage) b = in.u8();
    data = storage.data();
  }
};

constexpr uint8_t kCanary = 0xA7;
constexpr int kGuard = 16;

// A table or result array between canaries.
template <class T>
struct Guarded {
  std::vector<uint8_t> raw;
  explicit Guarded(size_t count) : raw(count * sizeof(T) + 2 * kGuard, kCanary) {}
  T* get() { return reinterpret_cast<T*>(raw.data() + kGuard); }
  void check() const {
    for (int i = 0; i < kGuard; ++i)
      if (raw[i] != kCanary || raw[raw.size() - 1 - i] != kCanary) std::abort();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  const int op = in.u8() % 24, format = in.u8() % 6;
  const int w = in.size(40), h = in.size(40);
  Buffer frame(bytes_of(format, w, h), in);
  uint8_t colour[4] = {in.u8(), in.u8(), in.u8(), in.u8()};
  uint8_t key[4] = {in.u8(), in.u8(), in.u8(), in.u8()};
  yuv_colorkey(key);
  const int x = in.coord(), y = in.coord(), rw = in.coord(), rh = in.coord();
  unsigned char* f = frame.data;
  switch (op) {
    case 0: yuv_line(f, w, h, format, x, y, rw, rh, colour, in.coord()); break;
    case 1: yuv_box(f, w, h, format, x, y, rw, rh, colour, in.coord()); break;
    case 2: yuv_fill(f, w, h, format, x, y, rw, rh, colour); break;
    case 3: {
      const int sw = in.size(40), sh = in.size(40);
      Buffer src(bytes_of(format, sw, sh), in);
      yuv_render(src.data, sw, sh, f, w, h, format, x, y, in.u8());
      break;
    }
    case 4: yuv_outline(f, w, h, format, in.u8()); break;
    case 5:
    case 6: {
      Guarded<uint8_t> table(256);
      Guarded<int> bins(256);
      for (int i = 0; i < 256; ++i) table.get()[i] = in.u8();
      const int comp = in.u8() % 3, fh = in.u8() % 2 ? h : h / 2;  // also a shorter frame height
      using Region =
          int (*)(unsigned char*, int, int, int, int, int, int, int, const unsigned char*);
      using Hist = int (*)(const unsigned char*, int, int, int, int, int, int, int, int*);
      const Region remap[3] = {yuv_remap_region_y, yuv_remap_region_u, yuv_remap_region_v};
      const Hist hist[3] = {yuv_histogram_region_y, yuv_histogram_region_u, yuv_histogram_region_v};
      if (op == 5)
        remap[comp](f, x, y, rw, rh, w, fh, format, table.get());
      else
        hist[comp](f, x, y, rw, rh, w, fh, format, bins.get());
      table.check(), bins.check();
      break;
    }
    case 7: yuv_black(f, w, h, format, x, y, rw, rh, in.u8(), in.size(400)); break;
    case 8: {
      const int sw = in.size(40), sh = in.size(40);
      Buffer src(bytes_of(format, sw, sh), in);
      const int cw = in.coord(), ch = in.coord();
      yuv_blit(src.data, sw, sh, in.coord(), in.coord(), cw, ch, f, w, h, x, y, cw, ch, format);
      break;
    }
    case 9: {
      Buffer a(bytes_of(format, w, h), in);
      yuv_merge(a.data, w, h, f, w, h, in.coord(), format, in.u8(), in.size(100));
      break;
    }
    case 10: {
      const int cw = in.coord(), ch = in.coord();
      const size_t cells = cw > 0 && ch > 0 ? size_t(w / cw) * size_t(h / ch) : 0;
      Buffer mask((cells + 7) / 8, in);
      yuv_selective_bob(f, w, h, format, mask.data, cw, ch);
      break;
    }
    case 11: yuv_bob_region(f, w, h, format, x, y, rw, rh, in.coord()); break;
    case 12: yuv_mask(f, w, h, format, x, y, rw, rh, colour); break;
    case 13: yuv_crop(f, w, h, x, y, rw, rh, format); break;
    case 14:
    case 15:
    case 16:
    case 17: {
      const int dw = in.size(80), dh = in.size(80);
      Buffer dst(bytes_of(format, dw, dh), in);
      using Two = int (*)(const unsigned char*, int, int, unsigned char*, int, int, int);
      const Two two[4] = {yuv_shrink, yuv_shrink_any, yuv_stretch, yuv_expand};
      two[op - 14](f, w, h, dst.data, dw, dh, format);
      break;
    }
    case 18: yuv_zoom(f, w, h, format, x, y, in.u8() % 4 ? 2 : in.coord()); break;
    case 19: yuv_extrapolate(f, w, h, format); break;
    case 20: {
      const int dw = in.size(40), dh = in.size(40);
      Buffer dst(bytes_of(format, dw, dh), in);
      YUV_IMAGE s{f, uint16_t(w), uint16_t(h), uint32_t(format)};
      YUV_IMAGE d{dst.data, uint16_t(dw), uint16_t(dh), uint32_t(in.u8() % 2 ? format : in.u8())};
      if (bytes_of(int(d.format), dw, dh) <= dst.storage.size() &&
          bytes_of(int(d.format), w, h) <= frame.storage.size())
        yuv_downscale(&s, &d);
      break;
    }
    case 21: {
      // A dewarp map of W x H entries from the input, partly rewritten by yuv_image_map,
      // then applied from this frame to a W x H frame.
      const int W = in.size(40), H = in.size(40);
      std::vector<YUV_POINT> map(size_t(W) * H);
      for (YUV_POINT& p : map)
        p = {uint16_t(in.u8() | in.u8() << 8), uint16_t(in.u8() | in.u8() << 8)};
      const int types[] = {1, 6, 7, 8, 9, 16, 2};
      const SDL_Rect region{int16_t(x), int16_t(y), uint16_t(in.u8()), uint16_t(in.u8())};
      yuv_image_map(map.data(), region, uint16_t(W), uint16_t(H), in.coord() / 16.0,
                    types[in.u8() % 7]);
      Buffer dst(bytes_of(format, W, H), in);
      yuv_warp({f, uint16_t(w), uint16_t(h)}, {dst.data, uint16_t(W), uint16_t(H)}, map.data(),
               format);
      break;
    }
    case 22: {
      // An 8-bit surface over exactly pitch x height bytes, with up to 256 palette entries.
      const int sw = in.size(40), sh = in.size(40), pitch = sw + in.size(5);
      Buffer pixels(size_t(pitch) * sh, in);
      SDL_Surface* s = SDL_CreateRGBSurfaceFrom(pixels.data, sw, sh, 8, pitch, 0, 0, 0, 0);
      if (!s) break;
      SDL_Color colours[256];
      const int n = in.size(256);
      for (int i = 0; i < n; ++i) colours[i] = {in.u8(), in.u8(), in.u8(), 0};
      if (n) SDL_SetColors(s, colours, 0, n);
      s->format->palette->ncolors = n;  // indexes past the palette must read safely
      Buffer out(bytes_of(format, pitch, sh), in);
      sdl2yuv(s, out.data, format);
      s->format->palette->ncolors = 256;
      SDL_FreeSurface(s);
      break;
    }
    case 23: {
      Guarded<int> hist(256);
      Guarded<uint8_t> table(256);
      for (int i = 0; i < 256; ++i) hist.get()[i] = int(in.u8() % 8 == 0 ? in.coord() : in.u8());
      yuv_build_map(hist.get(), table.get(), in.u8() % 7, in.coord());
      int cx = 0, cy = 0;
      Buffer mask((size_t(w) * h + 7) / 8, in);
      yuv_motion_center(mask.data, w, h, &cx, &cy);
      yuv_brightness(f, w, h, in.coord(), format);
      yuv_contrast(f, w, h, in.coord(), format);
      hist.check(), table.check();
      break;
    }
  }
  return 0;
}
