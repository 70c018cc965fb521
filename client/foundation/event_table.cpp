// The event table of the last DVR events.
#include "client/foundation/event_table.h"

#include <cstring>

#include "client/foundation/config/utils.h"

namespace {
EVENT_RECORD records[MAX_EVENT_RECORDS];
int record_count = 0;
}  // namespace

void clear_event_records() {
  memset(records, 0, sizeof records);
  record_count = 0;
}

void add_event_record(uint8_t channel, const char* dvr_name, uint32_t time_lo, uint32_t time_hi,
                      uint8_t kind) {
  if (record_count >= MAX_EVENT_RECORDS) clear_event_records();
  EVENT_RECORD& r = records[record_count];
  memset(&r, 0, sizeof r);
  r.time = (static_cast<uint64_t>(time_hi) << 32) | time_lo;
  copy_field(r.dvr_name, dvr_name);
  r.channel = channel;
  r.kind = kind;
  ++record_count;
}

const EVENT_RECORD* get_event_record(int index) {
  if (index < 0 || index >= record_count) return nullptr;
  return &records[index];
}

int get_event_record_count() { return record_count; }
