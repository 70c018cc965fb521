// Picture adjustments applied by the decoder threads to each decoded picture, in this order:
// brightness, histogram equalisation, hue, contrast. Pixels are interleaved, `bpp` bytes
// each; the decoders always pass 4. Any thread; no state.
// The adjustments are not applied yet: every call leaves the pixels as they are.
#pragma once

#include <cstdint>

int adjust_brightness(uint8_t* pixels, int width, int height, int amount, int bpp);
int equalize_histogram(uint8_t* pixels, int width, int height, int amount, int bpp);
int adjust_hue(uint8_t* pixels, int width, int height, float hue, int bpp);
int adjust_contrast(uint8_t* pixels, int width, int height, int amount, int bpp);
