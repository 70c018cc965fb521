// Frame stream header (FSH) parser of the 'Q' DVRs: the header in front of every frame of
// their live and playback packets (and of ".dat" files). Pure functions, any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "client/links/frame_headers.h"

// FSH sizes: 40 bytes in layout 3, 32 in layouts 0 to 2.
constexpr int FSH_SIZE_SMALL = 32;
constexpr int FSH_SIZE_LARGE = 40;
inline int fsh_size_of_layout(int layout) { return layout == 3 ? FSH_SIZE_LARGE : FSH_SIZE_SMALL; }

// Result of get_fsh_info for a header without video data (layouts 0, 2, 3).
constexpr int FSH_NO_VIDEO = 160;

// Parses one FSH of `layout` (0..3) from fsh[len]. Returns 0 when the bytes do not start with
// the pattern FF 01 00 00, the layout is unknown or `len` is shorter than the layout's FSH;
// else fills `fh` (start key and receiver left as they are) and `audio` and returns 1, 2, 4
// or 8 for layouts 0..3 (status 1), or FSH_NO_VIDEO with a data size of 0 (status 2; layout 1
// returns 2 then). An unknown resolution code leaves width and height 0.
int get_fsh_info(const uint8_t* fsh, size_t len, int* status, int layout, FRAME_HEADER* fh,
                 AUDIO_FRAME_HEADER* audio);

// Frame size of a resolution code: 0 on success, -1 for a code/family without a size.
// `layout` matters only for family 1 in layout 1 (always code 14).
int fsh_resolution(int layout, int code, int family, bool tall, uint16_t* width, uint16_t* height);
