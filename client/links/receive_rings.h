// Receive rings: one per decoder slot, written by the receive threads and file players,
// read by the decoder threads, both under the slot's mutex.
//
// A record is FRAME_RECORD_HEADER (12) + frame header + data. Writers never overwrite unread
// records: the space test runs under the slot mutex on the real positions, counts the tail
// skipped at a wrap, and always leaves one byte free (equal positions mean "empty"). A record
// that could never fit the ring is dropped with a message instead of waiting forever.
// Readers treat a record header without 0xFFFF at the read position as "restart at 0".
#pragma once

#include <cstddef>
#include <cstdint>

#include "client/foundation/app_state.h"
#include "client/links/frame_headers.h"

struct APP_OPTIONS;

// Allocates one ring per slot (see alloc_receive_buffers) and clears the positions.
// Sizes: 4 MiB in the main window (skin window 2), else 512 KiB.
int alloc_receive_buffers(APP_OPTIONS* opts);
// Frees every ring and its mutex: 0, or -1 when no slots exist.
int free_receive_buffers(APP_OPTIONS* opts);

// How a writer waits for room.
enum RING_WAIT : int {
  RING_WAIT_ROOM = 0,  // wait 1 ms at a time until room, the receiver leaving 5, or a drop rule
  RING_NO_WAIT = 1,    // drop when there is no room
};

// Writes one record into slot `slot` for receiver `rx`: header bytes `fh[fh_len]` then
// `data[data_len]`, the record's data area padded with zeros to `reserve` bytes when larger
// (audio: 512). Returns 1 written, 0 dropped (no room without waiting, record larger than
// the ring, or the search window asked 'Q' readers to hold), -1 the receiver stopped while
// waiting. Pending counts of `rx` grow by one record and its bytes. Receive threads only.
int ring_write_record(APP_CONTEXT* ctx, uint32_t slot, RECEIVER_INFO* rx, uint8_t protocol,
                      uint8_t media, const uint8_t* fh, size_t fh_len, const uint8_t* data,
                      size_t data_len, size_t reserve, RING_WAIT wait);

// Room test on raw positions (the rule above): 1 when a record of `len` bytes fits now; sets
// *wrap when it must start at 0. Exposed for tests and the decoders' own checks.
int ring_has_room(uint32_t size, uint32_t write_pos, uint32_t read_pos, uint32_t len, bool* wrap);
