// Quellvid: the outside MPEG-4 video decoder the SDK drives, here on libavcodec.
//
// Quellaud exports the same names Ex_Initialize and Ex_Decode, and on ELF one plain name would
// silently serve both. So each library exports its functions under a version of its own
// (Ex_Initialize@QUELLVID_1.0 here), and callers reach them only through the names in
// namespace `quellvid` below, which this header binds to exactly that version: a call can
// reach no other library, and a plain reference to Ex_Initialize does not link.
//
// Handles are independent: separate handles may be used from separate threads; calls for one
// handle must not overlap.
#pragma once

#include <cstdint>

#include "platform/avdec/picture_info.h"

// Bytes of the decoder configuration: the start of the stream's first key frame (VOL header
// included), zero-padded when the frame is shorter.
constexpr int QUELLVID_CONFIG_SIZE = 128;

#define QUELLVID_API __attribute__((visibility("default")))

namespace quellvid {

// Opens a decoder for the stream that `config` (QUELLVID_CONFIG_SIZE bytes) starts. `info`:
// size must be 40; width and height are the stream's size as the caller knows it, replaced by
// the VOL header's when the configuration holds one; the other output fields are filled.
// Returns the handle, or null for a null or wrong-sized record, no usable size (none in either)
// or a decoder libavcodec cannot open.
QUELLVID_API void* Ex_Initialize(const uint8_t* config,
                                 PICTUREINFO* info) __asm__("quellvid_Ex_Initialize");

// Decodes one frame. 1: a picture, whose planes (owned by the handle, valid until its next
// call) are stored in planes[0..2]: Y rows width + 32 bytes apart, U and V rows of width / 2
// bytes also width + 32 bytes apart. 0: no picture (not yet decodable, refused, or of
// another size than set up); planes untouched. A null handle, data or planes gives 0.
QUELLVID_API int Ex_Decode(void* handle, const uint8_t* data, int length,
                           uint8_t* planes[3]) __asm__("quellvid_Ex_Decode");

// Forgets the reference pictures (the stream jumped); the next key frame decodes afresh. 1, or 0
// for null.
QUELLVID_API int Ex_ClearBuffer(void* handle) __asm__("quellvid_Ex_ClearBuffer");

// Frees the decoder; the handle is invalid afterwards. 1, or 0 for null.
QUELLVID_API int Ex_Close(void* handle) __asm__("quellvid_Ex_Close");

}  // namespace quellvid

__asm__(".symver quellvid_Ex_Initialize,Ex_Initialize@QUELLVID_1.0");
__asm__(".symver quellvid_Ex_Decode,Ex_Decode@QUELLVID_1.0");
__asm__(".symver quellvid_Ex_ClearBuffer,Ex_ClearBuffer@QUELLVID_1.0");
__asm__(".symver quellvid_Ex_Close,Ex_Close@QUELLVID_1.0");
