// Internals of the video tiles shared by tiles.cpp (surfaces, window, cells, views,
// selection, the decoder and connection hooks), tile_adjust.cpp (picture adjustment steps,
// digital zoom and pan), tile_save.cpp (saving the display and the selected pictures) and
// refresh_timer.cpp (the 25 ms refresh timer). Only those four files include it; tiles.cpp
// defines all of it.
//
// Threads: none of these keeps state or takes a lock; each runs on its caller's thread (the
// window loop, a decoder thread or SDL's timer thread). A caller that uses the surface
// video_surface returns holds the display mutex, as tiles.h says for every drawing.
#pragma once

#include <SDL/SDL.h>

#include <cstdint>

#include "client/foundation/app_state.h"

namespace tiles_internal {

SDL_Rect to_sdl(const RECT16& r);
// The video surface of APP_CONTEXT (nullptr before the first video mode).
SDL_Surface* video_surface(APP_CONTEXT* ctx);
// Looks a channel up by id: 0 and the pair, -2 without receiver, -3 without channel.
int lookup(APP_CONTEXT* ctx, int32_t id, RECEIVER_INFO** rx_out, CHANNEL_INFO** ch_out);
// `v` clamped into [lo, hi].
int clamp_int(int v, int lo, int hi);

}  // namespace tiles_internal
