// The event table: the last DVR events (at most 1024) for the event list and event playback.
//
// One global table, changed only by the DVR event worker (handle_dvr_event, dvr_events.h);
// a reader gets pointers that stay valid until the worker's next change. The count may be
// read from any thread while the worker runs: it is published after its record.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int MAX_EVENT_RECORDS = 1024;

struct EVENT_RECORD {
  uint64_t time;  // seconds since 1970 as the event gave it
  char dvr_name[131];
  uint8_t channel;  // 1-based
  uint8_t kind;     // event kind bits (event_type_name)
  uint8_t unused[3];
};
static_assert(sizeof(EVENT_RECORD) == 144, "EVENT_RECORD is 144 bytes");
static_assert(offsetof(EVENT_RECORD, channel) == 139 && offsetof(EVENT_RECORD, kind) == 140,
              "EVENT_RECORD field offsets");

// Zeroes all records and the count.
void clear_event_records();
// Appends one record; a full table is cleared first, so the new record is then the only one.
void add_event_record(uint8_t channel, const char* dvr_name, uint32_t time_lo, uint32_t time_hi,
                      uint8_t kind);
// The record at `index`, or nullptr when index < 0 or index >= the count.
const EVENT_RECORD* get_event_record(int index);
int get_event_record_count();
