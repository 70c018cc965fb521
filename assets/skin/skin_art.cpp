// The default skin's looks: a dark control-room console with a blue accent.
#include "assets/skin/skin_art.h"

#include <cmath>
#include <cstdio>

namespace art {

namespace {

Uint32 map(SDL_Surface* s, Rgb c) { return SDL_MapRGB(s->format, c.r, c.g, c.b); }

Rgb mix(Rgb a, Rgb b, int num, int den) {
  auto m = [&](int x, int y) { return static_cast<Uint8>(x + (y - x) * num / den); };
  return {m(a.r, b.r), m(a.g, b.g), m(a.b, b.b)};
}

void put(SDL_Surface* s, int x, int y, Rgb c) {
  if (x < 0 || y < 0 || x >= s->w || y >= s->h) return;
  Uint8* p = static_cast<Uint8*>(s->pixels) + y * s->pitch + x * s->format->BytesPerPixel;
  Uint32 v = map(s, c);
  for (int i = 0; i < s->format->BytesPerPixel; ++i) p[i] = static_cast<Uint8>(v >> (8 * i));
}

// Faces of a push button.
enum Face { kNormal, kPressed, kHover, kOn, kOnHot, kDisabled };

int button_face_of(int state) {
  switch (state) {
    case 1: return kPressed;
    case 2: return kHover;
    case 3: return kPressed;
    case 4: return kDisabled;
    default: return kNormal;
  }
}

int toggle_face_of(int state) {
  switch (state) {
    case 1: return kOn;
    case 2: return kHover;
    case 3: return kOnHot;
    case 4: return kDisabled;
    default: return kNormal;
  }
}

Rgb label_colour(int face) {
  switch (face) {
    case kDisabled: return kDimText;
    case kOn:
    case kOnHot: return {255, 255, 255};
    case kHover: return {255, 255, 255};
    default: return kText;
  }
}

}  // namespace

Painter::Painter(const std::string& font_dir) : dir_(font_dir) {
  if (TTF_Init() != 0) ok_ = false;
  if (!font(10, true) || !font(10, false)) ok_ = false;
}

Painter::~Painter() {
  for (auto& f : bold_) TTF_CloseFont(f.second);
  for (auto& f : regular_) TTF_CloseFont(f.second);
  TTF_Quit();
}

TTF_Font* Painter::font(int pt, bool bold) {
  auto& cache = bold ? bold_ : regular_;
  auto it = cache.find(pt);
  if (it != cache.end()) return it->second;
  std::string path = dir_ + (bold ? "/DejaVuSans-Bold.ttf" : "/DejaVuSans.ttf");
  TTF_Font* f = TTF_OpenFont(path.c_str(), pt);
  if (!f) std::fprintf(stderr, "skin_gen: cannot open %s: %s\n", path.c_str(), TTF_GetError());
  cache[pt] = f;
  return f;
}

int Painter::line_height(int pt) {
  TTF_Font* f = font(pt, false);
  return f ? TTF_FontHeight(f) : pt + 3;
}

void Painter::fill(SDL_Surface* s, SDL_Rect r, Rgb c) { SDL_FillRect(s, &r, map(s, c)); }

void Painter::gradient(SDL_Surface* s, SDL_Rect r, Rgb top, Rgb bottom) {
  for (int i = 0; i < r.h; ++i) {
    SDL_Rect row{r.x, static_cast<Sint16>(r.y + i), r.w, 1};
    fill(s, row, mix(top, bottom, i, r.h > 1 ? r.h - 1 : 1));
  }
}

void Painter::outline(SDL_Surface* s, SDL_Rect r, Rgb c, int t) {
  fill(s, {r.x, r.y, r.w, static_cast<Uint16>(t)}, c);
  fill(s, {r.x, static_cast<Sint16>(r.y + r.h - t), r.w, static_cast<Uint16>(t)}, c);
  fill(s, {r.x, r.y, static_cast<Uint16>(t), r.h}, c);
  fill(s, {static_cast<Sint16>(r.x + r.w - t), r.y, static_cast<Uint16>(t), r.h}, c);
}

void Painter::round_corners(SDL_Surface* s, SDL_Rect r, Rgb outside) {
  SDL_LockSurface(s);
  const int x0 = r.x, y0 = r.y, x1 = r.x + r.w - 1, y1 = r.y + r.h - 1;
  const int pts[6][2] = {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {2, 0}, {0, 2}};
  for (auto& p : pts) {
    put(s, x0 + p[0], y0 + p[1], outside);
    put(s, x1 - p[0], y0 + p[1], outside);
    put(s, x0 + p[0], y1 - p[1], outside);
    put(s, x1 - p[0], y1 - p[1], outside);
  }
  SDL_UnlockSurface(s);
}

void Painter::text(SDL_Surface* s, SDL_Rect r, const std::string& t, Rgb c, int pt, bool bold,
                   int align) {
  if (t.empty()) return;
  TTF_Font* f = nullptr;
  int w = 0, h = 0;
  for (int size = pt; size >= 6; --size) {
    f = font(size, bold);
    if (!f) return;
    TTF_SizeUTF8(f, t.c_str(), &w, &h);
    if (w <= r.w - 4 && h <= r.h + 2) break;
  }
  SDL_Color col{c.r, c.g, c.b, 0};
  SDL_Surface* g = TTF_RenderUTF8_Blended(f, t.c_str(), col);
  if (!g) return;
  SDL_Rect dst{static_cast<Sint16>(align == 1 ? r.x + (r.w - g->w) / 2 : r.x + 4),
               static_cast<Sint16>(r.y + (r.h - g->h) / 2), 0, 0};
  SDL_SetClipRect(s, &r);
  SDL_BlitSurface(g, nullptr, s, &dst);
  SDL_SetClipRect(s, nullptr);
  SDL_FreeSurface(g);
}

void Painter::panel(SDL_Surface* s, SDL_Rect r) {
  gradient(s, r, mix(kPanel, {255, 255, 255}, 1, 40), kPanel);
  outline(s, r, kPanelEdge);
}

void Painter::button_face(SDL_Surface* s, SDL_Rect r, int face) {
  Rgb edge, top, bottom;
  switch (face) {
    // clang-format off
    case kPressed: edge = kAccent; top = {28, 34, 44}; bottom = {40, 48, 62}; break;
    case kHover: edge = {96, 170, 240}; top = {66, 78, 96}; bottom = {48, 58, 74}; break;
    case kOn: edge = {110, 186, 255}; top = {36, 110, 196}; bottom = {22, 76, 142}; break;
    case kOnHot: edge = {160, 210, 255}; top = {52, 132, 220}; bottom = {30, 92, 166}; break;
    case kDisabled: edge = {44, 50, 60}; top = {32, 36, 44}; bottom = {28, 32, 40}; break;
    default: edge = {72, 84, 102}; top = {54, 63, 78}; bottom = {36, 43, 54}; break;
      // clang-format on
  }
  fill(s, r, edge);
  SDL_Rect in{static_cast<Sint16>(r.x + 1), static_cast<Sint16>(r.y + 1),
              static_cast<Uint16>(r.w - 2), static_cast<Uint16>(r.h - 2)};
  gradient(s, in, top, bottom);
  if (face == kNormal || face == kHover) {  // a thin highlight along the top edge
    fill(s, {in.x, in.y, in.w, 1}, mix(top, {255, 255, 255}, 1, 5));
  }
  round_corners(s, r, kKey);
}

void Painter::disc(SDL_Surface* s, int cx, int cy, int rad, Rgb c) {
  SDL_LockSurface(s);
  for (int y = -rad; y <= rad; ++y)
    for (int x = -rad; x <= rad; ++x)
      if (x * x + y * y <= rad * rad) put(s, cx + x, cy + y, c);
  SDL_UnlockSurface(s);
}

void Painter::arrow(SDL_Surface* s, SDL_Rect r, int dir, Rgb c) {
  const double pi = 3.14159265358979;
  double ang = -pi / 2 + dir * pi / 4;  // 0 = up, clockwise
  double cx = r.x + r.w / 2.0, cy = r.y + r.h / 2.0;
  double len = (r.w < r.h ? r.w : r.h) * 0.36;
  double ux = std::cos(ang), uy = std::sin(ang);  // along the arrow
  double vx = -uy, vy = ux;                       // across it
  SDL_LockSurface(s);
  for (int y = r.y; y < r.y + r.h; ++y)
    for (int x = r.x; x < r.x + r.w; ++x) {
      double dx = x + 0.5 - cx, dy = y + 0.5 - cy;
      double along = (dx * ux + dy * uy) / len, across = (dx * vx + dy * vy) / len;
      if (across < 0) across = -across;
      bool head = along >= 0 && along <= 1.0 && across <= 0.65 * (1.0 - along);
      bool shaft = along < 0 && along >= -0.85 && across <= 0.2;
      if (head || shaft) put(s, x, y, c);
    }
  SDL_UnlockSurface(s);
}

void Painter::paint(SDL_Surface* s, SDL_Rect r, Look look, int state, const std::string& label,
                    int param) {
  const int pt = r.h >= 30 ? 11 : r.h >= 22 ? 10 : 8;
  switch (look) {
    case Look::button: {
      int face = button_face_of(state);
      button_face(s, r, face);
      SDL_Rect t = r;
      if (face == kPressed) ++t.y;
      text(s, t, label, label_colour(face), pt);
      break;
    }
    case Look::toggle: {
      int face = toggle_face_of(state);
      button_face(s, r, face);
      text(s, r, label, label_colour(face), pt);
      break;
    }
    case Look::cell: {
      int face = toggle_face_of(state);
      Rgb edge = face == kOn || face == kOnHot ? kAccent
                 : face == kHover              ? Rgb{96, 170, 240}
                 : face == kDisabled           ? Rgb{34, 38, 46}
                                               : Rgb{58, 68, 84};
      fill(s, r, edge);
      SDL_Rect in{static_cast<Sint16>(r.x + 1), static_cast<Sint16>(r.y + 1),
                  static_cast<Uint16>(r.w - 2), static_cast<Uint16>(r.h - 2)};
      fill(s, in, face == kOn || face == kOnHot ? Rgb{22, 70, 130} : kFieldBg);
      text(s, r, label, face == kDisabled ? kDimText : kText, pt);
      break;
    }
    case Look::field: {
      Rgb edge = state == 1 || state == 3 ? kAccent
                 : state == 2             ? Rgb{96, 170, 240}
                 : state == 4             ? Rgb{38, 42, 50}
                                          : Rgb{62, 72, 88};
      fill(s, r, edge);
      fill(s,
           {static_cast<Sint16>(r.x + 1), static_cast<Sint16>(r.y + 1),
            static_cast<Uint16>(r.w - 2), static_cast<Uint16>(r.h - 2)},
           kFieldBg);
      text(s, r, label, kDimText, pt, false);
      break;
    }
    case Look::meter: {
      fill(s, r, {52, 60, 74});
      SDL_Rect in{static_cast<Sint16>(r.x + 1), static_cast<Sint16>(r.y + 1),
                  static_cast<Uint16>(r.w - 2), static_cast<Uint16>(r.h - 2)};
      fill(s, in, kFieldBg);
      int seg_w = (in.w - 2) / 10;
      for (int k = 0; k < 10; ++k) {
        Rgb on = k < 6 ? Rgb{60, 190, 110} : k < 8 ? Rgb{230, 190, 60} : Rgb{230, 70, 60};
        Rgb c = k < state ? on : Rgb{34, 40, 50};
        fill(s,
             {static_cast<Sint16>(in.x + 1 + k * seg_w), static_cast<Sint16>(in.y + 2),
              static_cast<Uint16>(seg_w - 1), static_cast<Uint16>(in.h - 4)},
             c);
      }
      break;
    }
    case Look::digits:
    case Look::weekday:
    case Look::speed: {
      static const char* days[7] = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
      std::string t = look == Look::digits    ? std::to_string(state % 10)
                      : look == Look::weekday ? days[state % 7]
                                              : std::to_string(state + 1);
      fill(s, r, look == Look::speed ? kFieldBg : kTopBar);
      if (look == Look::speed) outline(s, r, kAccent);
      text(s, r, t, look == Look::weekday ? Rgb{150, 200, 255} : Rgb{120, 200, 255}, r.h, true);
      break;
    }
    case Look::list: {
      Rgb edge = state == 1 || state == 3 ? kAccent
                 : state == 2             ? Rgb{80, 110, 150}
                 : state == 4             ? Rgb{38, 42, 50}
                                          : Rgb{58, 68, 84};
      fill(s, r, edge);
      fill(s,
           {static_cast<Sint16>(r.x + 1), static_cast<Sint16>(r.y + 1),
            static_cast<Uint16>(r.w - 2), static_cast<Uint16>(r.h - 2)},
           kListBg);
      break;
    }
    case Look::frame: {
      fill(s, r, kAccent);
      gradient(s,
               {static_cast<Sint16>(r.x + 1), static_cast<Sint16>(r.y + 1),
                static_cast<Uint16>(r.w - 2), static_cast<Uint16>(r.h - 2)},
               {34, 41, 52}, {24, 29, 37});
      break;
    }
    case Look::icon: {
      fill(s, r, {0, 0, 0});  // the tiles blit marks with black transparent
      int rad = (r.w < r.h ? r.w : r.h) / 2 - 1;
      int cx = r.x + r.w / 2, cy = r.y + r.h / 2;
      static const char* letters[4] = {"", "", "M", "S"};
      Rgb c = param == 0   ? Rgb{230, 40, 40}
              : param == 1 ? Rgb{80, 170, 255}
              : param == 2 ? Rgb{255, 160, 40}
                           : Rgb{240, 70, 200};
      if (param == 1) {  // magnifier
        disc(s, cx - rad / 4, cy - rad / 4, rad * 3 / 4, c);
        disc(s, cx - rad / 4, cy - rad / 4, rad * 3 / 4 - (rad > 6 ? 2 : 1), {10, 20, 34});
        SDL_LockSurface(s);
        for (int k = 0; k < rad; ++k)
          for (int t = 0; t < (rad > 6 ? 3 : 2); ++t)
            put(s, cx + rad / 4 + k / 2 + t, cy + rad / 4 + k / 2, c);
        SDL_UnlockSurface(s);
      } else {
        disc(s, cx, cy, rad, c);
        if (param == 0 && rad > 6) disc(s, cx, cy, rad / 2, {255, 140, 140});
        if (rad > 6) text(s, r, letters[param & 3], {255, 255, 255}, r.h * 2 / 3);
      }
      break;
    }
    case Look::spinner: {
      fill(s, r, {0, 0, 0});
      int cx = r.x + r.w / 2, cy = r.y + r.h / 2, rad = (r.w < r.h ? r.w : r.h) / 2 - 8;
      for (int k = 0; k < 8; ++k) {
        double a = k * 3.14159265358979 / 4;
        int age = (state - k + 8) % 8;
        Rgb c = mix(kAccent, {30, 40, 56}, age, 8);
        disc(s, cx + int(std::sin(a) * rad), cy - int(std::cos(a) * rad), age == 0 ? 6 : 5, c);
      }
      break;
    }
    case Look::plate: {
      Rgb tint = param == 1   ? Rgb{150, 40, 40}
                 : param == 2 ? Rgb{150, 110, 30}
                 : param == 3 ? Rgb{60, 60, 150}
                              : Rgb{40, 90, 150};
      if (param == 4 || param == 5) {  // overlays on black (transparent in the tiles)
        fill(s, r, {0, 0, 0});
        SDL_Rect in{static_cast<Sint16>(r.x + 1), static_cast<Sint16>(r.y + 1),
                    static_cast<Uint16>(r.w - 2), static_cast<Uint16>(r.h - 2)};
        fill(s, in, param == 4 ? Rgb{30, 90, 160} : Rgb{170, 120, 30});
        text(s, in, label, {255, 255, 255}, r.h - 4);
      } else {
        gradient(s, r, mix(tint, {10, 12, 16}, 3, 5), {10, 12, 16});
        outline(s, r, tint, 2);
        text(s, r, label, {235, 235, 240}, r.h / 6 > 8 ? r.h / 6 : 8);
      }
      break;
    }
    case Look::tile_bg: {
      gradient(s, r, {22, 27, 34}, {10, 12, 16});
      int cx = r.x + r.w / 2, cy = r.y + r.h / 2;
      // A faint camera silhouette says "no picture yet" without words.
      fill(s, {static_cast<Sint16>(cx - 18), static_cast<Sint16>(cy - 10), 28, 20}, {40, 48, 60});
      fill(s, {static_cast<Sint16>(cx + 10), static_cast<Sint16>(cy - 6), 8, 12}, {40, 48, 60});
      disc(s, cx - 4, cy, 6, {24, 29, 37});
      break;
    }
    case Look::progress: {
      fill(s, r, {52, 60, 74});
      SDL_Rect in{static_cast<Sint16>(r.x + 1), static_cast<Sint16>(r.y + 1),
                  static_cast<Uint16>(r.w - 2), static_cast<Uint16>(r.h - 2)};
      fill(s, in, kFieldBg);
      fill(s, {in.x, in.y, static_cast<Uint16>(in.w * state / 4), in.h}, kAccent);
      break;
    }
    case Look::indicator: {
      fill(s, r, kTopBar);
      int rad = r.h / 2 - 3;
      disc(s, r.x + rad + 3, r.y + r.h / 2, rad, state ? Rgb{60, 210, 110} : Rgb{70, 76, 86});
      text(s,
           {static_cast<Sint16>(r.x + 2 * rad + 6), r.y, static_cast<Uint16>(r.w - 2 * rad - 6),
            r.h},
           label, state ? kText : kDimText, pt, true, 0);
      break;
    }
    case Look::tooltip: fill(s, r, {255, 255, 0}); break;
    case Look::message: fill(s, r, {255, 0, 0}); break;
    case Look::clear: fill(s, r, kKey); break;
    case Look::grid: {
      int face = param < 0 ? toggle_face_of(state) : button_face_of(state);
      int g = param < 0 ? -param : param;
      button_face(s, r, face);
      int side = r.h - 14;
      if (side < 8) side = 8;
      int ox = r.x + (r.w - side) / 2, oy = r.y + 3;
      Rgb c = label_colour(face);
      outline(s,
              {static_cast<Sint16>(ox), static_cast<Sint16>(oy), static_cast<Uint16>(side),
               static_cast<Uint16>(side)},
              c);
      for (int k = 1; k < g; ++k) {
        int off = side * k / g;
        fill(s,
             {static_cast<Sint16>(ox + off), static_cast<Sint16>(oy), 1, static_cast<Uint16>(side)},
             c);
        fill(s,
             {static_cast<Sint16>(ox), static_cast<Sint16>(oy + off), static_cast<Uint16>(side), 1},
             c);
      }
      text(s, {r.x, static_cast<Sint16>(oy + side), r.w, static_cast<Uint16>(r.h - side - 4)},
           label, c, 7);
      break;
    }
    case Look::arrow: {
      int face = button_face_of(state);
      button_face(s, r, face);
      arrow(s, r, param, label_colour(face));
      break;
    }
    case Look::menu_slot: {
      fill(s, r, {40, 46, 56});
      fill(s,
           {static_cast<Sint16>(r.x + 1), static_cast<Sint16>(r.y + 1),
            static_cast<Uint16>(r.w - 2), static_cast<Uint16>(r.h - 2)},
           {22, 26, 33});
      for (int x = r.x + 4; x < r.x + r.w - 4; x += 6)
        fill(s, {static_cast<Sint16>(x), static_cast<Sint16>(r.y + r.h / 2), 3, 1}, {60, 68, 80});
      round_corners(s, r, kKey);
      break;
    }
  }
}

}  // namespace art
