// pixtree_h264_dec: the H.264 decoder library the client drives through Avcshim. This build
// decodes with libavcodec's H.264 decoder and converts with libswscale.
//
// Decoder record: 48 bytes owned by the caller, one per channel, zeroed before first use.
//   bytes 0-7   library: pointer to the decoder state (0 = none)
//   word 2 (8)  library: width of the last picture written
//   word 3 (12) library: height of the last picture written
//   word 4 (16) caller: capacity of the output buffer in bytes (0 = no picture is written)
//   word 5 (20) caller: created mark (the library does not read it)
//   word 6 (24) caller: output format; must be 3 (24-bit pictures)
//   words 7-11  reserved, left as the caller set them
// Output picture: width x height pixels of 3 bytes each, rows packed (stride width x 3), byte
// order B, G, R (BT.601, limited range). Widening each pixel to B, G, R, 0 gives the same
// 32-bit pixels as Xvid's XVID_CSP_BGRA output.
//
// Calls for one record must not overlap; separate records may be used from separate threads.
#pragma once

#include <cstdint>

constexpr int PT_RECORD_SIZE = 48;
constexpr int PT_FORMAT_RGB24 = 3;

// Record word offsets (bytes) used by this library and its callers.
constexpr int PT_OFF_WIDTH = 8;
constexpr int PT_OFF_HEIGHT = 12;
constexpr int PT_OFF_CAPACITY = 16;
constexpr int PT_OFF_CREATED = 20;
constexpr int PT_OFF_FORMAT = 24;

// Results of PT_H264dec_GetOneFrame.
constexpr int PT_OK = 0;            // picture written
constexpr int PT_AGAIN = 1;         // not produced by this build (callers retry on it)
constexpr int PT_NO_PICTURE = 2;    // frame taken, no picture yet (parameter sets only, ...)
constexpr int PT_DECODE_ERROR = 3;  // frame refused by the decoder
constexpr int PT_TOO_LARGE = 4;     // picture larger than the output capacity; nothing written
constexpr int PT_OK_NEW_SIZE = 5;   // picture written, its size differs from the last one
constexpr int PT_REINIT = -5;       // record holds no usable decoder: Uninit, Init, retry
constexpr int PT_BAD_ARGS = -1;     // null pointer, negative length or format not 3

extern "C" {
// Creates the decoder state in `record`. 0 on success, -1 for a null record, -2 when libavcodec
// has no H.264 decoder or cannot open one. A record that already holds a decoder is reused.
__attribute__((visibility("default"))) int PT_H264dec_Init(void* record);

// Decodes one Annex-B frame into `output` (see results above). The picture's size is written
// to words 2 and 3 of the record.
__attribute__((visibility("default"))) int PT_H264dec_GetOneFrame(void* record,
                                                                  const uint8_t* input,
                                                                  int input_length,
                                                                  uint8_t* output);

// Frees the decoder state and clears bytes 0-15 of the record; safe on a record without one.
__attribute__((visibility("default"))) int PT_H264dec_Uninit(void* record);
}
