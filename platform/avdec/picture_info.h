// PICTUREINFO: the 40-byte picture description that the SDK hands the outside video decoders
// (Quellvid, Tessra) at set-up. Pointer-free; its first field is its own size.
#pragma once

#include <cstdint>

struct PICTUREINFO {
  int32_t size;   // 40; a record with another size is refused
  int32_t width;  // in: the stream's picture size; out: the size the decoder will deliver
  int32_t height;
  uint16_t planes;       // out: 3 (Y, U, V)
  uint16_t bit_count;    // out: 12 (4:2:0)
  uint32_t compression;  // out: 'I420' as a little-endian four-character code
  uint32_t image_size;   // out: width x height x 3 / 2
  int32_t reserved[4];   // left as the caller set them
};
static_assert(sizeof(PICTUREINFO) == 40);

constexpr int PICTUREINFO_SIZE = 40;
constexpr uint32_t PICTUREINFO_I420 = 0x30323449;  // "I420"
