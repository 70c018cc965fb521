// YUV 4:2:0 (limited range, BT.601, as H.264 DVR streams come) to packed B, G, R rows.
// The per-pixel arithmetic of libswscale's default conversion within one level, in one pass
// over the picture, 16 pixels at a time where SSSE3 is there. Pure; any thread.
#pragma once

#include <cstdint>

// planes/strides: Y, U, V of a width x height picture (U and V of (width+1)/2 x
// (height+1)/2); out: height rows of width x 3 bytes, `out_stride` bytes apart.
void yuv420_to_bgr24(const uint8_t* const planes[3], const int strides[3], int width, int height,
                     uint8_t* out, int out_stride);
