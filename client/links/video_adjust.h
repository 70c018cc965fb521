// Picture adjustments applied by the decoder threads to each decoded picture, in this order:
// brightness, histogram equalisation, hue, contrast; and the halving of wide pictures for
// small tiles. Pixels are interleaved, `bpp` bytes each; the decoders always pass 4. Any
// thread; no state. Each is a no-op at amount 0; only the stated refusals return -1.
#pragma once

#include <SDL/SDL.h>

#include <cstdint>

// Every byte (a 4-byte pixel's fourth too) through a table towards 0 or 255: 0; -1 for an
// amount outside -255..255. 2-byte pixels are left alone.
int adjust_brightness(uint8_t* pixels, int width, int height, int amount, int bpp);
// Moves each pixel from its luma towards the equalised luma (amount 50: half-way). Pictures
// of fewer than 4 pixels and 2-byte pixels are left alone. 0.
int equalize_histogram(uint8_t* pixels, int width, int height, int amount, int bpp);
// Scales the three colour bytes by the factors of the hue's 60-degree sector; a hue of 0 or
// less, or 360 or more, changes nothing. 0.
int adjust_hue(uint8_t* pixels, int width, int height, float hue, int bpp);
// Negative: each colour byte moves towards its pixel's mean; positive: away from the mean of
// the first width x height bytes. 0; -1 for fewer than 3 bytes per pixel.
int adjust_contrast(uint8_t* pixels, int width, int height, int amount, int bpp);

// Halves the height of `from` (every other row) when it exceeds `height_limit`, and its
// width (every other pixel, into `to` at (0, 0)) when it exceeds `width_limit`; `width` and
// `height` are updated. 0.
int shrink_picture(SDL_Surface* from, SDL_Surface* to, uint16_t* width, uint16_t* height,
                   int width_limit, int height_limit);
