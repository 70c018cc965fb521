// Quellaud: the outside G.723.1 audio decoder the SDK drives, here on libavcodec's g723_1.
// It shares Sonpak's calling interface and records (set-up record, decode record, clear).
//
// Quellvid exports the same names Ex_Initialize and Ex_Decode, and on ELF one plain name would
// silently serve both. So each library exports its functions under a version of its own
// (Ex_Initialize@QUELLAUD_1.0 here), and callers reach them only through the names in
// namespace `quellaud` below, which this header binds to exactly that version.
//
// The calls carry no decoder handle, so the decoder state of a stream is kept per output
// buffer (the decode record's `output`, one per session) in a table under one lock: any
// thread may call, and streams with different output buffers never share state. Calls for one
// output buffer must not overlap.
#pragma once

#include "codecs/sonpak/sonpak.h"

#define QUELLAUD_API __attribute__((visibility("default")))

namespace quellaud {

// Checks that the decoder is available. The record's fields (the SDK sets 16 and 2) are not
// needed: G.723.1 is always 8000 samples per second, 16-bit, mono. 1, or 0 for a null record
// or no g723_1 decoder in libavcodec.
QUELLAUD_API int Ex_Initialize(AUDIO_DEC_INIT_PARAM* param) __asm__("quellaud_Ex_Initialize");

// Decodes the G.723.1 frames of `input_length` bytes at `input` (24-, 20-, 4- or 1-byte frames
// as their first byte says) into 240 samples per frame at `output`, as many whole frames as
// `output_length` (in: capacity in bytes) holds; `output_length` becomes the bytes written.
// The state of `output`'s stream is created on first use. 1 when samples were written; 0
// (output_length 0) for null records or buffers, a negative size, input without a whole
// frame, or more than 4096 streams at once. `info` is not read.
QUELLAUD_API int Ex_Decode(AUDIO_DEC_PARAM* param,
                           AUDIO_DEC_FRAME_INFO* info) __asm__("quellaud_Ex_Decode");

// Forgets the state kept for the record's output buffer (its stream restarts or ends; the
// SDK clears before it frees the buffer). 1; a null record or an unknown buffer changes nothing.
QUELLAUD_API int Ex_ClearBuf(AUDIO_DEC_PARAM* param) __asm__("quellaud_Ex_ClearBuf");

}  // namespace quellaud

__asm__(".symver quellaud_Ex_Initialize,Ex_Initialize@QUELLAUD_1.0");
__asm__(".symver quellaud_Ex_Decode,Ex_Decode@QUELLAUD_1.0");
__asm__(".symver quellaud_Ex_ClearBuf,Ex_ClearBuf@QUELLAUD_1.0");
