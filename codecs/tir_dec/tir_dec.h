// tir_dec: decoder of the 'S' DVRs' intra block-DCT video frames (MPEG-style 8x8 intra blocks
// in a framing of their own: frame header, one slice per macroblock row, raw 8-bit DC) into
// an I420 picture or one of six RGB layouts. Only 640x224 (14 slices) and 640x272 (17 slices)
// frames are accepted.
// Threads: any; every call runs under one library-wide lock, so calls never overlap.
// Pictures: a frame may code only some macroblocks; the others keep what the previous frame
// of the same stream left there. A stream is one destination buffer together with the
// frame's format code (the DVR's channel), so two channels decoded into one buffer, or one
// channel into two buffers, never show each other's macroblocks. Up to 64 such pictures are
// kept; the least recently used one is dropped beyond that and starts again from black.
#pragma once

#include <cstdint>

#if defined(TIR_DEC_BUILD)
#define TIR_DEC_API __attribute__((visibility("default")))
#else
#define TIR_DEC_API
#endif

// What tir_get_info reports of a frame (8 bytes).
struct TIR_FRAME_INFO {
  uint16_t format_code;
  uint16_t width;
  uint16_t height;
  uint16_t extra_value;
};
static_assert(sizeof(TIR_FRAME_INFO) == 8, "TIR_FRAME_INFO is four 16-bit values");

// Output layouts of tir_decode; any value outside 1..6 means TIR_OUT_I420.
enum TIR_OUTPUT_TYPE {
  TIR_OUT_I420 = 0,      // Y plane, then U, then V: width x height x 3/2 bytes
  TIR_OUT_BGR24 = 1,     // B, G, R per pixel, rows top to bottom
  TIR_OUT_BGR24_UP = 2,  // B, G, R per pixel, last picture row first
  TIR_OUT_BGRX32 = 3,    // 0x00RRGGBB per pixel (bytes B, G, R, 0)
  TIR_OUT_BGR565 = 4,    // 16 bits: blue 11-15, green 5-10, red 0-4
  TIR_OUT_RGB565 = 5,    // 16 bits: red 11-15, green 5-10, blue 0-4
  TIR_OUT_RGB555 = 6,    // 16 bits: 0 in 15, red 10-14, green 5-9, blue 0-4
};

extern "C" {
// Chooses the header dialect (0 unless called) and clears the frame size, extra value,
// quantiser scale and bit reader. Returns 0.
TIR_DEC_API int tir_init(int mode);
// Decodes `length` bytes at `frame` and writes the whole picture to `dst` in layout `type`;
// `dst` must hold width x height pixels of that layout (640x272 BGRX32 at most: 696320 bytes).
// Returns 0; -1 when the header or slice count is rejected (also for a null frame or dst);
// -2 when a slice breaks the syntax or is cut short, in which case nothing is written to dst.
TIR_DEC_API int tir_decode(const uint8_t* frame, unsigned length, void* dst, int type);
// Parses the header only. Returns 0 with `info` filled; -1 when the header or slice count is
// rejected or `info` is null.
TIR_DEC_API int tir_get_info(const uint8_t* frame, unsigned length, TIR_FRAME_INFO* info);
}
