// Stand-ins until the picture adjustments land; that module replaces this file. Pictures
// stay as decoded, and wide pictures are stretched whole instead of halved first.
#include "client/links/video_adjust.h"

#define PENDING [[gnu::weak]]

PENDING int adjust_brightness(uint8_t*, int, int, int amount, int) {
  return amount < -255 || amount > 255 ? -1 : 0;
}
PENDING int equalize_histogram(uint8_t*, int, int, int, int) { return 0; }
PENDING int adjust_hue(uint8_t*, int, int, float, int) { return 0; }
PENDING int adjust_contrast(uint8_t*, int, int, int, int bpp) { return bpp < 3 ? -1 : 0; }
PENDING int shrink_picture(SDL_Surface*, SDL_Surface*, uint16_t*, uint16_t*, int, int) {
  return -1;
}
