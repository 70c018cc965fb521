// Picture adjustments applied by the decoder threads to each decoded picture, in this order:
// brightness, histogram equalisation, hue, contrast; and the halving of wide pictures for
// small tiles. Pixels are interleaved, `bpp` bytes each; the decoders always pass 4. Any
// thread; no state.
//
// Not built yet: pending/picture_adjust.cpp leaves every picture as it is.
#pragma once

#include <SDL/SDL.h>

#include <cstdint>

int adjust_brightness(uint8_t* pixels, int width, int height, int amount, int bpp);
int equalize_histogram(uint8_t* pixels, int width, int height, int amount, int bpp);
int adjust_hue(uint8_t* pixels, int width, int height, float hue, int bpp);
int adjust_contrast(uint8_t* pixels, int width, int height, int amount, int bpp);

// Halves the height of `from` (every other row) when it exceeds `height_limit`, and its
// width (every other pixel, into `to` at (0, 0)) when it exceeds `width_limit`; `width` and
// `height` are updated. 0.
int shrink_picture(SDL_Surface* from, SDL_Surface* to, uint16_t* width, uint16_t* height,
                   int width_limit, int height_limit);
