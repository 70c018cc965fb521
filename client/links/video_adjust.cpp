#include "client/links/video_adjust.h"

int adjust_brightness(uint8_t*, int, int, int amount, int) { return amount < -255 || amount > 255 ? -1 : 0; }
int equalize_histogram(uint8_t*, int, int, int, int) { return 0; }
int adjust_hue(uint8_t*, int, int, float, int) { return 0; }
int adjust_contrast(uint8_t*, int, int, int, int bpp) { return bpp < 3 ? -1 : 0; }
