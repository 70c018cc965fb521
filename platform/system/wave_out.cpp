#include "platform/system/wave_out.h"

#include <atomic>

namespace {
std::atomic<bool> present{false};
// Both channels packed in one word, so a reader never sees half of a change.
std::atomic<uint32_t> volume{0xFFFFFFFFu};
}  // namespace

void wave_out_set_present(bool p) { present.store(p); }
bool wave_out_present() { return present.load(); }

int wave_out_set_volume(uint16_t left, uint16_t right) {
  if (!present.load()) return -1;
  volume.store(uint32_t(left) << 16 | right);
  return 0;
}

int wave_out_get_volume(uint16_t* left, uint16_t* right) {
  if (!present.load()) return -1;
  const uint32_t v = volume.load();
  if (left) *left = uint16_t(v >> 16);
  if (right) *right = uint16_t(v);
  return 0;
}
