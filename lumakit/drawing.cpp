// Drawing and text: lines, boxes, fills, pasting one frame into another (key colour or
// constant alpha), text into an SDL overlay, and outlines of key-coloured areas. Everything
// is clipped to the frame it draws into.
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "lumakit/frame.h"
#include "lumakit/lumakit.h"

using namespace lumakit;

namespace {

// A frame being drawn into with one colour.
struct Pen {
  uint8_t* frame;
  i64 w, h;
  int format;
  const uint8_t* colour;

  // count macropixels at columns col, col + 2, ... of row.
  void macro_run(i64 row, i64 col, i64 count) const {
    if (row < 0 || row >= h) return;
    const Span g = clip_pairs(col, count, w);
    const i64 at = 2 * (row * w + col);
    for (i64 k = g.lo; k < g.hi; ++k) std::memcpy(frame + (at + 4 * k), colour, 4);
  }
  void y_run(i64 row, i64 col, i64 count) const {
    if (row < 0 || row >= h) return;
    const Span s = clip(col, count, w);
    if (!s.empty()) std::memset(frame + (row * w + col + s.lo), colour[0], s.hi - s.lo);
  }
  void chroma_run(i64 crow, i64 ccol, i64 count) const {
    const i64 cw = w / 2;
    if (crow < 0 || crow >= h / 2) return;
    const Span s = clip(ccol, count, cw);
    if (s.empty()) return;
    const i64 at = crow * cw + ccol + s.lo;
    std::memset(frame + plane1(w, h) + at, colour[1], s.hi - s.lo);
    std::memset(frame + plane2(w, h) + at, colour[2], s.hi - s.lo);
  }
  void point(i64 row, i64 col) const {
    if (is_packed(format))
      macro_run(row, col & ~i64{1}, 1);
    else
      y_run(row, col, 1);
  }
};

using i128 = __int128;

void draw_line(const Pen& pen, i64 x0, i64 y0, i64 x1, i64 y1, i64 t) {
  if (y0 == y1 || x0 == x1) {
    const bool horizontal = y0 == y1;
    if (x0 > x1) std::swap(x0, x1);
    if (y0 > y1) std::swap(y0, y1);
    x0 = even(x0), x1 = even(x1), y0 = even(y0), y1 = even(y1), t = even(t);
    // Only rows inside the frame can draw, so the loops never run past it.
    const i64 r0 = std::max<i64>(y0, 0);
    const i64 r1 = std::min<i64>(horizontal ? y0 + t : y1, pen.h);
    for (i64 r = r0; r < r1; ++r) {
      if (is_packed(pen.format)) {
        pen.macro_run(r, x0, horizontal ? (x1 - x0) / 2 : t / 2);
      } else {
        pen.y_run(r, x0, horizontal ? x1 - x0 : t);
        if ((r & 1) == 0) pen.chroma_run(r / 2, x0 / 2, horizontal ? (x1 - x0) / 2 : t / 2);
      }
    }
    return;
  }
  // One sample wide: walk the columns, then the rows, between the ends (end exclusive).
  const i64 xa = std::max<i64>(std::min(x0, x1 + 1), 0),
            xb = std::min<i64>(std::max(x0, x1 - 1), pen.w - 1);
  for (i64 x = xa; x <= xb; ++x)
    pen.point(static_cast<i64>(y0 + i128(y1 - y0) * (x - x0) / (x1 - x0)), x);
  const i64 ya = std::max<i64>(std::min(y0, y1 + 1), 0),
            yb = std::min<i64>(std::max(y0, y1 - 1), pen.h - 1);
  for (i64 y = ya; y <= yb; ++y)
    pen.point(y, static_cast<i64>(x0 + i128(x1 - x0) * (y - y0) / (y1 - y0)));
}

// Destination planes of a paste: a contiguous frame or an SDL overlay.
struct Planes {
  uint8_t* p[3];
  i64 pitch[3];
};

int paste(const uint8_t* src, i64 sw, i64 sh, const Planes& d, i64 dw, i64 dh, int format, i64 x,
          i64 y, uint8_t alpha) {
  if (y < 0 || sh < 0 || sh + y > dh) return -1;
  if (x < 0 || sw < 0 || sw + x > dw) return -2;
  if (!src) return -3;
  if (!d.p[0]) return -4;
  // The source keeps its own stride and plane offsets; only the pasted area is evened.
  const i64 stride = sw, rows = sh;
  x = even(x), y = even(y), sw = even(sw), sh = even(sh);
  if (is_packed(format)) {
    const int yo = packed_y(format);
    for (i64 r = 0; r < sh; ++r) {
      const uint8_t* s = src + 2 * area(r, stride);
      uint8_t* q = d.p[0] + (y + r) * d.pitch[0] + 2 * x;
      if (alpha == 255) {
        std::memcpy(q, s, 2 * sw);
      } else if (alpha == 0) {
        for (i64 i = 0; i < sw; ++i)
          if (s[2 * i + yo] != ColorKey[yo]) q[2 * i] = s[2 * i], q[2 * i + 1] = s[2 * i + 1];
      } else {
        for (i64 b = 0; b < 2 * sw; ++b)
          if (s[b] != ColorKey[b & 3]) q[b] = s[b];
      }
    }
    return 0;
  }
  for (i64 r = 0; r < sh; ++r) {
    const uint8_t* s = src + area(r, stride);
    uint8_t* q = d.p[0] + (y + r) * d.pitch[0] + x;
    if (alpha == 255) {
      std::memcpy(q, s, sw);
    } else {
      for (i64 i = 0; i < sw; ++i) {
        if (s[i] == ColorKey[0]) continue;
        q[i] = alpha == 0
                   ? s[i]
                   : static_cast<uint8_t>(alpha * s[i] / 255.0 + (255 - alpha) * q[i] / 255.0);
      }
    }
  }
  const i64 src_plane[2] = {plane1(stride, rows), plane2(stride, rows)};
  for (int k = 0; k < 2; ++k)
    for (i64 r = 0; r < sh / 2; ++r)
      std::memcpy(d.p[1 + k] + (y / 2 + r) * d.pitch[1 + k] + x / 2,
                  src + src_plane[k] + area(r, stride / 2), sw / 2);
  return 0;
}

Planes frame_planes(uint8_t* frame, i64 w, i64 h, int format) {
  if (is_packed(format)) return {{frame, nullptr, nullptr}, {2 * w, 0, 0}};
  if (!frame) return {{nullptr, nullptr, nullptr}, {w, w / 2, w / 2}};
  return {{frame, frame + plane1(w, h), frame + plane2(w, h)}, {w, w / 2, w / 2}};
}

struct SurfaceFree {
  void operator()(SDL_Surface* s) const { SDL_FreeSurface(s); }
};

int layout_of_fourcc(Uint32 fourcc) {
  switch (fourcc) {
    case SDL_YV12_OVERLAY: return 0;
    case SDL_IYUV_OVERLAY: return 1;
    case SDL_YUY2_OVERLAY: return 2;
    case SDL_UYVY_OVERLAY: return 3;
    case SDL_YVYU_OVERLAY: return 4;
    default: return -1;
  }
}

// Whether the overlay's planes and pitches can hold a frame of its size in the layout.
bool overlay_holds(const SDL_Overlay* o, int layout) {
  if (o->w < 0 || o->h < 0 || !o->pixels || !o->pitches) return false;
  if (is_packed(layout)) return o->planes >= 1 && o->pixels[0] && o->pitches[0] >= 2 * o->w;
  return o->planes >= 3 && o->pixels[0] && o->pixels[1] && o->pixels[2] && o->pitches[0] >= o->w &&
         o->pitches[1] >= o->w / 2 && o->pitches[2] >= o->w / 2;
}

}  // namespace

extern "C" {

LUMAKIT_API int yuv_line(unsigned char* frame, int width, int height, int format, int x0, int y0,
                         int x1, int y1, const unsigned char* colour, int thickness) {
  if (!frame || !colour || width < 0 || height < 0) return -1;
  draw_line({frame, width, height, format, colour}, x0, y0, x1, y1, thickness);
  return 0;
}

LUMAKIT_API int yuv_box(unsigned char* frame, int width, int height, int format, int x0, int y0,
                        int x1, int y1, const unsigned char* colour, int thickness) {
  if (!frame || !colour || width < 0 || height < 0) return -1;
  const Pen pen{frame, width, height, format, colour};
  const i64 t = thickness;
  draw_line(pen, x0, y0, x0, y1 - t, t);
  draw_line(pen, x0, y1 - t, x1 - t, y1 - t, t);
  draw_line(pen, x1 - t, y0 + t, x1 - t, y1, t);
  draw_line(pen, x0 + t, y0, x1, y0, t);
  return 0;
}

LUMAKIT_API int yuv_fill(unsigned char* frame, int width, int height, int format, int x, int y,
                         int w, int h, const unsigned char* macropixel) {
  if (!frame || !macropixel || width < 0 || height < 0) return -1;
  if (!is_packed(format)) return 0;
  const Pen pen{frame, width, height, format, macropixel};
  const Span rows = clip(y, h, height);
  for (i64 r = rows.lo; r < rows.hi; ++r) pen.macro_run(y + r, x, w / 2);
  return 0;
}

LUMAKIT_API int yuv_render(const unsigned char* src, int sw, int sh, unsigned char* dst, int dw,
                           int dh, int format, int x, int y, unsigned char alpha) {
  return paste(src, sw, sh, frame_planes(dst, dw, dh, format), dw, dh, format, x, y, alpha);
}

LUMAKIT_API int yuv_print(SDL_Overlay* overlay, const char* text, TTF_Font* font, int, SDL_Color fg,
                          SDL_Color bg, int x, int y, unsigned char alpha) {
  if (!text || !font) return -1;
  std::unique_ptr<SDL_Surface, SurfaceFree> surface(TTF_RenderText_Shaded(font, text, fg, bg));
  if (!surface) return -1;
  const int layout = overlay ? layout_of_fourcc(overlay->format) : -1;
  if (layout < 0 || !overlay_holds(overlay, layout)) return -2;
  const i64 pitch = surface->pitch, h = surface->h;
  const size_t size = is_packed(layout) ? area(pitch, h) * 2 : area(pitch, h) * 3 / 2;
  std::unique_ptr<uint8_t[]> scratch(new (std::nothrow) uint8_t[size ? size : 1]);
  if (!scratch) return -2;
  sdl2yuv(surface.get(), scratch.get(), layout);
  if (SDL_LockYUVOverlay(overlay) != 0) return -2;
  Planes planes{{overlay->pixels[0], nullptr, nullptr}, {overlay->pitches[0], 0, 0}};
  if (!is_packed(layout))
    for (int k = 1; k < 3; ++k)
      planes.p[k] = overlay->pixels[k], planes.pitch[k] = overlay->pitches[k];
  // Text that does not fit is simply not drawn; the call still succeeds.
  paste(scratch.get(), pitch, h, planes, overlay->w, overlay->h, layout, x, y, alpha);
  SDL_UnlockYUVOverlay(overlay);
  return 0;
}

LUMAKIT_API int yuv_outline(unsigned char* frame, int width, int height, int format, int colour) {
  if (!frame || width < 0 || height < 0) return -1;
  if (!is_layout(format)) return 0;
  const int M = colour & 0xFF, K1 = ColorKey[1], K3 = ColorKey[3];
  const i64 step = is_packed(format) ? 2 : 1;
  uint8_t* base = frame + (is_packed(format) ? packed_y(format) : 0);
  const i64 w = width, h = height;
  // -1 stands for a neighbour outside the frame: equal to no key and no mark.
  auto at = [&](i64 r, i64 c) -> int {
    return r >= 0 && r < h && c >= 0 && c < w ? base[step * (r * w + c)] : -1;
  };
  auto set = [&](i64 r, i64 c) { base[step * (r * w + c)] = static_cast<uint8_t>(M); };
  for (i64 r = 0; r < h; ++r) {
    const bool inner = r > 0;
    for (i64 c = 0; c < w; ++c) {
      int s = at(r, c);
      const int p = at(r, c - 1), n = at(r, c + 1);
      if (s == K1 && n != K3 && p != M && n != M)
        set(r, c);
      else if (s != K1 && n == K3 && p != K1 && (inner ? n != M : p != M) && s != M)
        set(r, c + 1);
      if (!inner) continue;
      s = at(r, c);
      const int b = at(r + 1, c), a = at(r - 1, c);
      if (s != K1 && b == K1 && s != M)
        set(r + 1, c);
      else if (s == K1 && b != K1 && a == K1)
        set(r, c);
    }
  }
  return 0;
}

}  // extern "C"
