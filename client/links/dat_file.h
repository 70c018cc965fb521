// ".dat" frame files of the 'Q' DVRs: an 8-byte file header, then frames, each behind the
// start pattern FF 01 00 00 and a frame stream header (FSH, see fsh_info.h), with its video
// data and, in FSH layout 3, four audio blocks. play_dat_file turns every frame into 'Q' ring
// records, so the decoders treat the file like a live 'Q' stream.
//
// Threads: play_dat_file runs on its receiver's thread; seek_dat_file on the window loop. Damaged
// regions (garbage, impossible sizes, channels the player has no state for) are skipped by
// the pattern scan; a cut tail ends the index and playback rests there until a seek.
#pragma once

#include <cstdint>
#include <cstdio>

#include "client/foundation/app_state.h"
#include "client/links/recording.h"

constexpr int DAT_INDEX_MAX = 14400;
constexpr int DAT_CHANNELS = 4;  // channels the player keeps state for
constexpr long DAT_MIN_FILE_SIZE = 129;

struct DAT_FILE_INFO {
  int layout = 3;  // FSH layout 0..3
  int fsh_size = 40;
};

// Reads the 8-byte header at the file position: 1 for a known version (0x2200..0x2202),
// else 0 (also for a file shorter than the header); sets the layout and the FSH size.
int read_dat_file_header(FILE* f, DAT_FILE_INFO* info);
// Builds the key-frame index of rx's file (at most DAT_INDEX_MAX entries; the offset of an
// entry is two bytes before its start pattern). 0 with the file back at 0; -1 "stat() failed.\n";
// -2 "invalid file size.\n" (below 129 bytes); -4 "get_fsh_info() failed.\n"; -7 the
// receiver was told to stop meanwhile. The "Too many key frames" box goes to the window loop.
int index_dat_file(KEY_FRAME_ENTRY* index, int* count, RECEIVER_INFO* rx,
                   const DAT_FILE_INFO& info);
// The entry to seek to for time t and a step of `step` seconds (negative: backwards), or -1
// for offset 0.
int find_dat_key_frame(const KEY_FRAME_ENTRY* index, int count, double t, double step);
// Positions rx's file for rx's seek time and asks every channel to resume at a key frame: 0.
int seek_dat_file(RECEIVER_INFO* rx, double step);
// Thread entry: 0 after the receiver stopped; -1 no memory; -2 no index.
int play_dat_file(RECEIVER_INFO* rx);
