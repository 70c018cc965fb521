// Video decoder adapters: per-decoder-index pools of MPEG-4 decoders (Xvid, protocols 'I' and
// 'W') and H.264 decoders (pixtree_h264_dec through Avcshim, protocol 'Q' and ".dat" files).
// Pools are set up once at program start (init_*) and freed at shutdown (free_*), both from
// the window thread while no decoder thread runs. decode_* / reset_* run on the decoder
// threads; each entry has its own mutex, so a decoder is never entered by two threads at once.
// Pictures are written as 32-bit pixels B, G, R, 0 (an SDL surface with masks 0x00FF0000,
// 0x0000FF00, 0x000000FF) into the caller's picture buffer of `capacity` bytes; nothing is
// written past it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "client/links/frame_headers.h"

constexpr int DECODER_POOL_SIZE = 144;            // decoder indexes 0..143
constexpr uint32_t XVID_WAIT_KEY = 0xFFFFFFFFu;   // expected sequence count while waiting
constexpr uint32_t XVID_API_VERSION = 0x010103u;  // version word of every Xvid record
constexpr size_t MPEG4_VOL_TEMPLATE_SIZE = 30;
constexpr int PIXTREE_MAX_RETRIES = 8;  // bound on "call again" / re-init loops

// The 30-byte video object + VOL header placed in front of every MPEG-4 key frame, with the
// width, height and interlace bit (scale >= 9) written in.
void build_mpeg4_vol(uint8_t out[MPEG4_VOL_TEMPLATE_SIZE], int width, int height, int scale);

// ---- MPEG-4 (Xvid) -----------------------------------------------------------------------
// 0 set up (or already); -1 n < 1 ("Invalid number of decoders assigned.\n"); -2 a table
// could not be allocated ("Not enough memory." fatal box). n is capped at DECODER_POOL_SIZE.
int init_xvid(int n);
// Creates entry's decoder: 0; -1 global init failed; -2 XVID_DEC_CREATE failed; -4 bad entry.
// The caller holds the entry's lock (decode_xvid does).
int create_xvid(int entry);
// Decodes one frame (`data` holds ph.size bytes) into `picture`:
//  0 decoded; 1 ignored (predicted frame while waiting for a key frame); 2 missing (gap in
//  seq_cnt, now waiting for a key frame); -1 pool not set up or bad entry; -2 creation failed
//  ("create_xvid() failed.\n"); -3 picture does not fit `capacity`, or its size differs from
//  the decoder's stream (now waiting for a key frame); -4 no picture came out of the data.
int decode_xvid(int entry, const PICTURE_HEADER& ph, const uint8_t* data, uint8_t* picture,
                size_t capacity);
// The entry waits for its next key frame. Safe from any thread.
void reset_xvid(int entry);
// Destroys every created decoder and frees the pool.
void free_xvid();
// Expected sequence count of an entry (XVID_WAIT_KEY while waiting), for tests.
uint32_t xvid_expected(int entry);

// ---- H.264 (pixtree_h264_dec via Avcshim) -----------------------------------------------
// 0 set up (or already); -1 n < 1; -2 allocation failed ("Not enough memory." fatal box).
int init_pixtree(int n);
// Marks entry's record created (word 5 = 1, word 6 = 3) and PT_H264dec_Init's it: 0, or -1
// ("PT)H264dec_Init() failed.\n"; the mark is cleared again so the next frame retries).
int create_pixtree(int entry);
// Decodes one Annex-B frame (`fh` the 36-byte FRAME_HEADER, `data` its size bytes) into a
// 32-bit picture: 0 picture ready, its real size in *out_w, *out_h; -1 not decoded (empty or
// not Annex-B, decoder failure, or the picture does not fit `capacity`); -2 creation failed
// ("create_pixtree() failed.\n"); -3 record not in state 3; -4 pool not set up or bad entry.
int decode_pixtree(int entry, const uint8_t* fh, const uint8_t* data, uint8_t* picture,
                   size_t capacity, int* out_w, int* out_h);
// decode_pixtree without the widening: the picture is left as the decoder wrote it, packed
// 3-byte B, G, R pixels (rows width x 3 bytes), for callers that widen it on the way to its
// destination. Same results and capacity rule.
int decode_pixtree_rgb24(int entry, const uint8_t* fh, const uint8_t* data, uint8_t* picture,
                         size_t capacity, int* out_w, int* out_h);
// Writes the entry's reset word (decoding is unaffected: H.264 recovers on its own).
void reset_pixtree(int entry);
// PT_H264dec_Uninit for every created record, frees the pool.
void free_pixtree();
uint32_t pixtree_reset_word(int entry);

// ---- helpers ------------------------------------------------------------------------------
int is_xvid_key_frame(int frame_type);  // 1 when 0
int is_h264_key_frame(int frame_type);  // 1 when 1
// 1 when the first min(length, 20) bytes are all zero (also for length 0).
int is_empty_frame(const uint8_t* data, size_t length);
// Widens width x height packed 3-byte pixels in place to 4 bytes (the three kept in order,
// the fourth 0), working backwards; `buffer` must hold width x height x 4 bytes.
void rgb24_to_rgb32(uint8_t* buffer, int width, int height);
// The same widening from `src` (count 3-byte pixels) into a separate `dst` (count x 4 bytes).
void rgb24_to_rgb32_copy(const uint8_t* src, uint8_t* dst, size_t count);
