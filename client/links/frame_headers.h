// Ring record and frame header layouts shared by the receive threads (writers), the decoder
// threads (readers) and the recorded-file code. All four are little-endian records with fixed
// offsets; they are built and parsed here byte by byte, never by casting a struct over a buffer.
// Every function is pure and may be called from any thread. Callers pass a buffer that holds
// at least the record's size (the *_SIZE constants); nothing here reads or writes past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/wire/byte_reader.h"

constexpr uint16_t FRAME_START_KEY = 0xFFFF;

// ---- FRAME_RECORD_HEADER: 12 bytes in front of every ring record and ".zol" record ---------
//  0 u16 start key 0xFFFF | 2 u8 protocol 'I','Q','S','W' | 3 reserved | 4 u8 media 'Y'/'A'
//  5..7 reserved | 8 u32 size of what follows (frame header + data)
constexpr size_t FRAME_RECORD_HEADER_SIZE = 12;
struct FRAME_RECORD_HEADER {
  uint16_t start_key = FRAME_START_KEY;
  uint8_t protocol = 0;   // 'I', 'Q', 'S' or 'W'
  uint8_t reserved1 = 0;  // carried, ignored by readers
  uint8_t media = 0;      // 'Y' video, 'A' audio
  uint8_t reserved2[3] = {0, 0, 0};
  uint32_t size = 0;  // bytes that follow: frame header plus data
};
inline void encode_frame_record_header(const FRAME_RECORD_HEADER& h, uint8_t* p) {
  put_le16(p + 0, h.start_key);
  p[2] = h.protocol;
  p[3] = h.reserved1;
  p[4] = h.media;
  p[5] = h.reserved2[0];
  p[6] = h.reserved2[1];
  p[7] = h.reserved2[2];
  put_le32(p + 8, h.size);
}
inline FRAME_RECORD_HEADER decode_frame_record_header(const uint8_t* p) {
  FRAME_RECORD_HEADER h;
  h.start_key = get_le16(p + 0);
  h.protocol = p[2];
  h.reserved1 = p[3];
  h.media = p[4];
  h.reserved2[0] = p[5];
  h.reserved2[1] = p[6];
  h.reserved2[2] = p[7];
  h.size = get_le32(p + 8);
  return h;
}

// Writes one whole record at p: the FRAME_RECORD_HEADER, fh_len bytes of frame header, then
// data_len bytes of data padded with zeros to `body` bytes (body >= data_len). p holds
// FRAME_RECORD_HEADER_SIZE + fh_len + body bytes.
inline void put_record(uint8_t* p, uint8_t protocol, uint8_t media, const uint8_t* fh,
                       size_t fh_len, const uint8_t* data, size_t data_len, size_t body) {
  FRAME_RECORD_HEADER rh;
  rh.protocol = protocol;
  rh.media = media;
  rh.size = static_cast<uint32_t>(fh_len + body);
  encode_frame_record_header(rh, p);
  p += FRAME_RECORD_HEADER_SIZE;
  if (fh_len) std::memcpy(p, fh, fh_len);
  p += fh_len;
  if (data_len) std::memcpy(p, data, data_len);
  if (body > data_len) std::memset(p + data_len, 0, body - data_len);
}

// ---- PICTURE_HEADER: 32 bytes, written by the 'I' and 'W' receivers -----------------------
//  0 u16 start key | 2 u8 video_type | 3 u8 interval | 4 u32 bits: 0-19 size, 20 page,
//  21-22 vop_type, 23 field, 24-27 channel, 28-31 scale | 8 u16 hsize | 10 u16 vsize
//  12 u32 sec | 16 u32 usec | 20 u32 carried | 24 u32 carried | 28 u16 seq_cnt
//  30 u16 receiver index
constexpr size_t PICTURE_HEADER_SIZE = 32;
struct PICTURE_HEADER {
  uint16_t start_key = FRAME_START_KEY;
  uint8_t video_type = 0;
  uint8_t interval = 0;
  uint32_t size = 0;     // 20 bits
  uint8_t page = 0;      // 1 bit
  uint8_t vop_type = 0;  // 2 bits: 0 key frame, 1 predicted
  uint8_t field = 0;     // 1 bit
  uint8_t channel = 0;   // 4 bits
  uint8_t scale = 0;     // 4 bits: 9 or 2
  uint16_t hsize = 0;
  uint16_t vsize = 0;
  uint32_t sec = 0;
  uint32_t usec = 0;
  uint32_t word20 = 0;  // carried, not interpreted
  uint32_t word24 = 0;  // carried, not interpreted
  uint16_t seq_cnt = 0;
  uint16_t receiver = 0;  // index of the RECEIVER_INFO in the application context
};
inline void encode_picture_header(const PICTURE_HEADER& h, uint8_t* p) {
  put_le16(p + 0, h.start_key);
  p[2] = h.video_type;
  p[3] = h.interval;
  uint32_t bits = (h.size & 0xFFFFFu) | (uint32_t(h.page & 1u) << 20) |
                  (uint32_t(h.vop_type & 3u) << 21) | (uint32_t(h.field & 1u) << 23) |
                  (uint32_t(h.channel & 0xFu) << 24) | (uint32_t(h.scale & 0xFu) << 28);
  put_le32(p + 4, bits);
  put_le16(p + 8, h.hsize);
  put_le16(p + 10, h.vsize);
  put_le32(p + 12, h.sec);
  put_le32(p + 16, h.usec);
  put_le32(p + 20, h.word20);
  put_le32(p + 24, h.word24);
  put_le16(p + 28, h.seq_cnt);
  put_le16(p + 30, h.receiver);
}
inline PICTURE_HEADER decode_picture_header(const uint8_t* p) {
  PICTURE_HEADER h;
  h.start_key = get_le16(p + 0);
  h.video_type = p[2];
  h.interval = p[3];
  uint32_t bits = get_le32(p + 4);
  h.size = bits & 0xFFFFFu;
  h.page = (bits >> 20) & 1u;
  h.vop_type = (bits >> 21) & 3u;
  h.field = (bits >> 23) & 1u;
  h.channel = (bits >> 24) & 0xFu;
  h.scale = (bits >> 28) & 0xFu;
  h.hsize = get_le16(p + 8);
  h.vsize = get_le16(p + 10);
  h.sec = get_le32(p + 12);
  h.usec = get_le32(p + 16);
  h.word20 = get_le32(p + 20);
  h.word24 = get_le32(p + 24);
  h.seq_cnt = get_le16(p + 28);
  h.receiver = get_le16(p + 30);
  return h;
}

// ---- FRAME_HEADER: 36 bytes, the header the decoders read ('Q' and 'S' write it directly) --
//  0 u16 start key | 2 u8 receiver index | 3 u8 carried | 4 u32: bits 0-7 carried, 8-31 size
//  8 u16: bits 0-7 channel, 8-9 frame type, 10-15 kind | 10 2 bytes carried
//  12 u32: bits 0-13 width, 14-27 height, 28-31 carried | 16 u32 seconds | 20 u16 milliseconds
//  22 2 bytes carried | 24 u32 carried word | 28 u32 carried word | 32 u16 seq count
//  34 2 bytes carried
// Frame type marks a key frame when it is 1 for 'Q', 0 for 'I' and 'W'; every 'S' frame is key.
constexpr size_t FRAME_HEADER_SIZE = 36;
constexpr uint32_t FRAME_HEADER_MAX_SIZE = 0xFFFFFFu;  // 24-bit size field
struct FRAME_HEADER {
  uint16_t start_key = FRAME_START_KEY;
  uint8_t receiver = 0;
  uint8_t byte3 = 0;     // carried
  uint8_t size_low = 0;  // low byte of the word at 4, carried
  uint32_t size = 0;     // 24 bits: compressed bytes that follow
  uint8_t channel = 0;
  uint8_t frame_type = 0;  // 2 bits
  uint8_t kind = 0;        // 6 bits: scale ('I','W') or resolution code ('Q')
  uint8_t bytes10[2] = {0, 0};
  uint16_t width = 0;    // 14 bits
  uint16_t height = 0;   // 14 bits
  uint8_t dim_high = 0;  // bits 28-31 of the word at 12, carried
  uint32_t sec = 0;
  uint16_t msec = 0;
  uint8_t bytes22[2] = {0, 0};
  uint32_t word24 = 0;
  uint32_t word28 = 0;
  uint16_t seq_cnt = 0;
  uint8_t bytes34[2] = {0, 0};
};
inline void encode_frame_header(const FRAME_HEADER& h, uint8_t* p) {
  put_le16(p + 0, h.start_key);
  p[2] = h.receiver;
  p[3] = h.byte3;
  put_le32(p + 4, (uint32_t(h.size & FRAME_HEADER_MAX_SIZE) << 8) | h.size_low);
  put_le16(p + 8, static_cast<uint16_t>(h.channel | ((h.frame_type & 3u) << 8) |
                                        ((h.kind & 0x3Fu) << 10)));
  p[10] = h.bytes10[0];
  p[11] = h.bytes10[1];
  put_le32(p + 12, (uint32_t(h.width) & 0x3FFFu) | ((uint32_t(h.height) & 0x3FFFu) << 14) |
                       (uint32_t(h.dim_high & 0xFu) << 28));
  put_le32(p + 16, h.sec);
  put_le16(p + 20, h.msec);
  p[22] = h.bytes22[0];
  p[23] = h.bytes22[1];
  put_le32(p + 24, h.word24);
  put_le32(p + 28, h.word28);
  put_le16(p + 32, h.seq_cnt);
  p[34] = h.bytes34[0];
  p[35] = h.bytes34[1];
}
inline FRAME_HEADER decode_frame_header(const uint8_t* p) {
  FRAME_HEADER h;
  h.start_key = get_le16(p + 0);
  h.receiver = p[2];
  h.byte3 = p[3];
  uint32_t w4 = get_le32(p + 4);
  h.size_low = static_cast<uint8_t>(w4);
  h.size = w4 >> 8;
  uint16_t w8 = get_le16(p + 8);
  h.channel = static_cast<uint8_t>(w8);
  h.frame_type = (w8 >> 8) & 3u;
  h.kind = (w8 >> 10) & 0x3Fu;
  h.bytes10[0] = p[10];
  h.bytes10[1] = p[11];
  uint32_t w12 = get_le32(p + 12);
  h.width = w12 & 0x3FFFu;
  h.height = (w12 >> 14) & 0x3FFFu;
  h.dim_high = (w12 >> 28) & 0xFu;
  h.sec = get_le32(p + 16);
  h.msec = get_le16(p + 20);
  h.bytes22[0] = p[22];
  h.bytes22[1] = p[23];
  h.word24 = get_le32(p + 24);
  h.word28 = get_le32(p + 28);
  h.seq_cnt = get_le16(p + 32);
  h.bytes34[0] = p[34];
  h.bytes34[1] = p[35];
  return h;
}

// ---- AUDIO_FRAME_HEADER: 32 bytes, 'Q' and ".dat" audio ---------------------------------
//  2 u8 receiver index | 4 u16 mu-law sample count | 6 u16 channel | 8 u16 (".dat": 1)
//  10 u16 (".dat": sample rate 8000) | 16 u32 seconds | 20 u16 milliseconds
//  every other byte is carried as received.
constexpr size_t AUDIO_FRAME_HEADER_SIZE = 32;
constexpr size_t AUDIO_PAYLOAD_SLOT = 512;  // data bytes every audio record reserves
constexpr uint32_t AUDIO_RECORD_SIZE =
    uint32_t(AUDIO_FRAME_HEADER_SIZE + AUDIO_PAYLOAD_SLOT);  // 544, size field
constexpr size_t AUDIO_RING_RECORD = FRAME_RECORD_HEADER_SIZE + AUDIO_RECORD_SIZE;  // 556
struct AUDIO_FRAME_HEADER {
  uint8_t raw[AUDIO_FRAME_HEADER_SIZE] = {};  // carried bytes; the named fields overlay them
  uint8_t receiver = 0;
  uint16_t samples = 0;
  uint16_t channel = 0;
  uint16_t word8 = 0;
  uint16_t rate = 0;
  uint32_t sec = 0;
  uint16_t msec = 0;
};
inline void encode_audio_frame_header(const AUDIO_FRAME_HEADER& h, uint8_t* p) {
  for (size_t i = 0; i < AUDIO_FRAME_HEADER_SIZE; ++i) p[i] = h.raw[i];
  p[2] = h.receiver;
  put_le16(p + 4, h.samples);
  put_le16(p + 6, h.channel);
  put_le16(p + 8, h.word8);
  put_le16(p + 10, h.rate);
  put_le32(p + 16, h.sec);
  put_le16(p + 20, h.msec);
}
inline AUDIO_FRAME_HEADER decode_audio_frame_header(const uint8_t* p) {
  AUDIO_FRAME_HEADER h;
  for (size_t i = 0; i < AUDIO_FRAME_HEADER_SIZE; ++i) h.raw[i] = p[i];
  h.receiver = p[2];
  h.samples = get_le16(p + 4);
  h.channel = get_le16(p + 6);
  h.word8 = get_le16(p + 8);
  h.rate = get_le16(p + 10);
  h.sec = get_le32(p + 16);
  h.msec = get_le16(p + 20);
  return h;
}

static_assert(FRAME_RECORD_HEADER_SIZE == 12);
static_assert(PICTURE_HEADER_SIZE == 32);
static_assert(FRAME_HEADER_SIZE == 36);
static_assert(AUDIO_FRAME_HEADER_SIZE == 32);
static_assert(AUDIO_RECORD_SIZE == 544 && AUDIO_RING_RECORD == 556);
