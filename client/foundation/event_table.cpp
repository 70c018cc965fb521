// The event table of the last DVR events.
#include "client/foundation/event_table.h"

#include <atomic>
#include <cstring>

#include "client/foundation/config/utils.h"

namespace {
EVENT_RECORD records[MAX_EVENT_RECORDS];
// Written by the worker only; other threads may poll it (how many events were taken so far).
std::atomic<int> record_count{0};
}  // namespace

void clear_event_records() {
  memset(records, 0, sizeof records);
  record_count.store(0, std::memory_order_release);
}

void add_event_record(uint8_t channel, const char* dvr_name, uint32_t time_lo, uint32_t time_hi,
                      uint8_t kind) {
  int n = record_count.load(std::memory_order_relaxed);
  if (n >= MAX_EVENT_RECORDS) {
    clear_event_records();
    n = 0;
  }
  EVENT_RECORD& r = records[n];
  memset(&r, 0, sizeof r);
  r.time = (static_cast<uint64_t>(time_hi) << 32) | time_lo;
  copy_field(r.dvr_name, dvr_name);
  r.channel = channel;
  r.kind = kind;
  record_count.store(n + 1, std::memory_order_release);
}

const EVENT_RECORD* get_event_record(int index) {
  if (index < 0 || index >= record_count.load(std::memory_order_acquire)) return nullptr;
  return &records[index];
}

int get_event_record_count() { return record_count.load(std::memory_order_acquire); }
