// yuv_print under SDL's dummy video driver: software overlays of each FOURCC whose planes are
// swapped for our own buffers with padded pitches and canaries, and the DejaVu font that the
// build copies into build/run/.
#include <cstdlib>
#include <string>

#include "tests/lumakit/frames.h"

using namespace lk;

namespace {

constexpr uint8_t kBackground = 0x10;

class LumakitPrint : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    screen_ = SDL_SetVideoMode(160, 120, 32, SDL_SWSURFACE);
    ASSERT_NE(screen_, nullptr) << SDL_GetError();
    ASSERT_EQ(TTF_Init(), 0);
    const char* run = std::getenv("VIGILO_RUN_DIR");
    font_ = TTF_OpenFont((std::string(run ? run : "build/run") + "/ARIALUNI.ttf").c_str(), 18);
    ASSERT_NE(font_, nullptr) << TTF_GetError();
  }
  static void TearDownTestSuite() {
    TTF_CloseFont(font_);
    TTF_Quit();
    SDL_Quit();
  }
  static inline SDL_Surface* screen_ = nullptr;
  static inline TTF_Font* font_ = nullptr;
};

// An SDL software overlay whose planes are our own: each plane has pitch padding and guard
// bytes around it, so any write outside a plane's rows shows.
struct GuardedOverlay {
  SDL_Overlay* o;
  Uint8** sdl_pixels;
  Uint16* sdl_pitches;
  std::vector<uint8_t> planes[3];
  Uint8* pixels[3] = {};
  Uint16 pitches[3] = {};
  int layout;

  GuardedOverlay(Uint32 fourcc, int layout_, int w, int h, SDL_Surface* screen) : layout(layout_) {
    o = SDL_CreateYUVOverlay(w, h, fourcc, screen);
    sdl_pixels = o->pixels, sdl_pitches = o->pitches;
    const int n = packed(layout) ? 1 : 3;
    for (int p = 0; p < n; ++p) {
      pitches[p] = Uint16(packed(layout) ? 2 * w + 6 : p ? w / 2 + 3 : w + 5);
      planes[p].assign(size_t(pitches[p]) * (p ? h / 2 : h) + 2 * kGuard, kBackground);
      std::fill_n(planes[p].begin(), kGuard, kCanary);
      std::fill_n(planes[p].end() - kGuard, kGuard, kCanary);
      pixels[p] = planes[p].data() + kGuard;
    }
    o->pixels = pixels, o->pitches = pitches;
  }
  ~GuardedOverlay() {
    o->pixels = sdl_pixels, o->pitches = sdl_pitches;
    SDL_FreeYUVOverlay(o);
  }
  bool guards_ok() const {
    for (const auto& p : planes)
      for (int i = 0; i < kGuard && !p.empty(); ++i)
        if (p[i] != kCanary || p[p.size() - 1 - i] != kCanary) return false;
    return true;
  }
  // Y of pixel (x, y) in the overlay.
  uint8_t Y(int x, int y) const {
    return packed(layout) ? pixels[0][y * pitches[0] + 2 * x + (layout == 3)]
                          : pixels[0][y * pitches[0] + x];
  }
  // Bytes that no paste at (x, y) of w x h may change: padding and everything outside.
  int changed_outside(int x0, int y0, int w, int h) const {
    int changed = 0;
    for (int p = 0; p < 3; ++p) {
      if (planes[p].empty()) continue;
      const int div = p ? 2 : 1, rows = o->h / div, unit = packed(layout) ? 2 : 1;
      for (int y = 0; y < rows; ++y)
        for (int b = 0; b < pitches[p]; ++b) {
          const int x = b / unit;
          const bool in =
              y >= y0 / div && y < (y0 + h) / div && x >= x0 / div && x < (x0 + w) / div;
          changed += !in && pixels[p][y * pitches[p] + b] != kBackground;
        }
    }
    return changed;
  }
};

}  // namespace

TEST_F(LumakitPrint, DrawsGlyphsInsideEachOverlayLayout) {
  const std::pair<Uint32, int> fourccs[] = {{SDL_YV12_OVERLAY, 0},
                                            {SDL_IYUV_OVERLAY, 1},
                                            {SDL_YUY2_OVERLAY, 2},
                                            {SDL_UYVY_OVERLAY, 3},
                                            {SDL_YVYU_OVERLAY, 4}};
  const SDL_Color fg = {200, 180, 40, 0}, bg = {0, 0, 0, 0};
  const uint8_t fg_y = uint8_t(0.299 * fg.r + 0.587 * fg.g + 0.114 * fg.b);
  int text_w = 0, text_h = 0;
  ASSERT_EQ(TTF_SizeText(font_, "Hi", &text_w, &text_h), 0);
  for (const auto& [fourcc, layout] : fourccs) {
    SCOPED_TRACE(::testing::Message() << "layout " << layout);
    GuardedOverlay ov(fourcc, layout, 90, 41, screen_);
    ASSERT_EQ(yuv_print(ov.o, "Hi", font_, 0, fg, bg, 5, 3, 255), 0);
    int glyph = 0;
    for (int y = 4; y < 3 + text_h; ++y)
      for (int x = 4; x < 4 + text_w; ++x) glyph += ov.Y(x, y) == fg_y;
    EXPECT_GT(glyph, 10);
    // Pasted at the evened position (4, 2), at most the rendered surface's size.
    EXPECT_EQ(ov.changed_outside(4, 2, (text_w + 3) / 4 * 4, text_h), 0);
    EXPECT_TRUE(ov.guards_ok());
    // Text that does not fit is not drawn, and the call still succeeds.
    GuardedOverlay small(fourcc, layout, 12, 8, screen_);
    EXPECT_EQ(yuv_print(small.o, "Hi", font_, 0, fg, bg, 0, 0, 255), 0);
    EXPECT_EQ(small.changed_outside(0, 0, 0, 0), 0);
    EXPECT_TRUE(small.guards_ok());
  }
}

TEST_F(LumakitPrint, RefusesOverlaysItCannotHonour) {
  const SDL_Color fg = {255, 255, 255, 0}, bg = {0, 0, 0, 0};
  GuardedOverlay ov(SDL_YUY2_OVERLAY, 2, 90, 41, screen_);
  // An unknown FOURCC gives -2 after rendering; the rendered surface is freed (LeakSanitizer).
  ov.o->format = 0x34324942;
  EXPECT_EQ(yuv_print(ov.o, "Hi", font_, 0, fg, bg, 0, 0, 255), -2);
  ov.o->format = SDL_YUY2_OVERLAY;
  // A pitch too small for the overlay's width.
  ov.pitches[0] = 100;
  EXPECT_EQ(yuv_print(ov.o, "Hi", font_, 0, fg, bg, 0, 0, 255), -2);
  ov.pitches[0] = 2 * 90 + 6;
  EXPECT_EQ(ov.changed_outside(0, 0, 0, 0), 0);
  EXPECT_EQ(yuv_print(ov.o, "Hi", nullptr, 0, fg, bg, 0, 0, 255), -1);
}
