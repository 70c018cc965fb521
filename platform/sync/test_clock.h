// The one seam through which tests steer time: each module that paces itself by a
// millisecond clock (statistics, decoder threads, master/slave link) reads its own slot
// here, and an empty slot leaves the module on its own clock (SDL ticks, a steady clock, the
// monotonic clock) and its real sleep. The slots are words of this header, so no library
// has to own them.
//
// Threads: set_test_clock from the test's thread while the module's threads may run (each
// read is one atomic load, as cheap as the module's own pointer was); the functions given
// must be callable from any thread. Nothing fails.
#pragma once

#include <atomic>
#include <cstdint>

enum TEST_CLOCK : int {
  TEST_CLOCK_STATS = 0,     // statistics rolls and the once-a-second print
  TEST_CLOCK_DECODERS = 1,  // decoder pacing, buffering waits and their sleeps
  TEST_CLOCK_LINK = 2,      // keep-alives and silence of the master/slave link
  NUM_TEST_CLOCKS = 3,
};

namespace test_clock_slots {
inline std::atomic<uint32_t (*)()> now[NUM_TEST_CLOCKS]{};
inline std::atomic<void (*)(uint32_t)> sleep[NUM_TEST_CLOCKS]{};
}  // namespace test_clock_slots

// Steers `which`: `now_ms` (null: the module's clock) and `sleep_ms` (null: a real sleep;
// only the decoders sleep by it).
inline void set_test_clock(TEST_CLOCK which, uint32_t (*now_ms)(),
                           void (*sleep_ms)(uint32_t) = nullptr) {
  test_clock_slots::now[which].store(now_ms);
  test_clock_slots::sleep[which].store(sleep_ms);
}

// The clock a test gave `which`, or null.
inline uint32_t (*test_clock_now(TEST_CLOCK which))() {
  return test_clock_slots::now[which].load();
}
// The sleep a test gave `which`, or null.
inline void (*test_clock_sleep(TEST_CLOCK which))(uint32_t) {
  return test_clock_slots::sleep[which].load();
}
