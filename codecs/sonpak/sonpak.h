// Sonpak: 4-bit IMA/DVI ADPCM audio codec.
// Owns one codec object for the whole process. Decoding keeps no state between calls, so any
// number of threads may decode at once; the encoder state is shared and guarded by a lock, so
// encoder calls from several threads are serialised (their streams then interleave in one
// state, which is only meaningful for a single encoding stream).
// Every function returns 1 on success and 0 when its records are unusable (null pointers,
// negative sizes, a block shorter than its trailer); nothing is written on failure beyond the
// output length being set to 0.
//
// The records below carry pointers, so on x86_64 their sizes differ from the 16- and 20-byte
// layouts of 32-bit builds; their fields and field order are the contract, not their size.
// ADPCM_Initialize is overloaded on its record type and therefore has C++ linkage; the other
// exports have C linkage and plain names.
#pragma once

#include <cstdint>

#if defined(SONPAK_BUILD)
#define SONPAK_API __attribute__((visibility("default")))
#else
#define SONPAK_API
#endif

// Set-up record of the shared decoder interface; Sonpak reads none of its fields.
struct AUDIO_DEC_INIT_PARAM {
  int32_t field1;  // the SDK sets 16
  int32_t field2;
  int32_t field3;  // the SDK sets 2
};

// Per-frame information of the shared decoder interface; Sonpak never reads it (pass null).
struct AUDIO_DEC_FRAME_INFO;

// One ADPCM block to decode: `input_length` bytes (4-byte trailer included) at `input`.
// `output_length` is in: the capacity of `output` in bytes; out: the bytes written.
struct AUDIO_DEC_PARAM {
  int32_t input_length;
  uint8_t* input;
  int32_t output_length;
  int16_t* output;
};

// The encoder's set-up argument; not read.
struct AUDIO_ENC_INIT_PARAM {
  int32_t reserved;
};

// Samples to encode: `sample_count` 16-bit samples at `input` into `output`, which must hold
// (sample_count + 1) / 2 + 4 bytes; `output_length` is set to that count.
struct AUDIO_ENC_PARAM {
  int16_t* input;
  int32_t reserved;  // not read
  int32_t sample_count;
  uint8_t* output;
  int32_t output_length;
};

// Decoder set-up: nothing to do; returns 1.
SONPAK_API int ADPCM_Initialize(AUDIO_DEC_INIT_PARAM* param);
// Encoder set-up: zeroes the shared encoder predictor and step index; returns 1.
SONPAK_API int ADPCM_Initialize(AUDIO_ENC_INIT_PARAM* param);

extern "C" {
// Decodes one block: L bytes give 2 x (L - 4) samples, each block starting from the predictor
// and step index of its own trailer (bytes L-4..L-2). Writes at most `output_length` bytes
// (whole samples); a block of exactly 4 bytes yields none. Returns 1, or 0 (output_length 0)
// for a null record or buffer, a block under 4 bytes or a negative capacity. `info` is unused.
SONPAK_API int ADPCM_Decode(AUDIO_DEC_PARAM* param, AUDIO_DEC_FRAME_INFO* info);
// Encodes `sample_count` samples from the persistent encoder state (first sample of a pair in
// the high nibble) and appends the trailer: int16 predictor and int8 index after the last
// sample, then a 0 byte. Returns 1, or 0 for a null record or buffer or a negative count.
SONPAK_API int ADPCM_Encode(AUDIO_ENC_PARAM* param);
// Nothing to clear; returns 1.
SONPAK_API int ADPCM_ClearBuf();
}
