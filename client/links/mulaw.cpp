#include "client/links/mulaw.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

struct AudioRing {
  std::mutex lock;
  std::unique_ptr<int16_t[]> samples{new int16_t[AUDIO_RING_BYTES / 2]()};
  uint32_t write = 0, read = 0, available = 0;
  std::atomic<void (*)()> start_hook{nullptr};
};

AudioRing& ring() {
  static AudioRing r;
  return r;
}

}  // namespace

int16_t ulaw_to_linear(uint8_t code) {
  uint8_t b = uint8_t(~code);
  int e = (b >> 4) & 7, m = b & 15;
  int magnitude = (m << (e + 3)) + 132 * ((1 << e) - 1);
  return int16_t((b & 0x80) ? -magnitude : magnitude);
}

void ulaw_expand(const uint8_t* ulaw, size_t count, int16_t* pcm) {
  for (size_t i = 0; i < count; ++i) pcm[i] = ulaw_to_linear(ulaw[i]);
}

int queue_audio_data(const int16_t* pcm, int len) {
  if (!pcm || len < 2) return 0;
  AudioRing& r = ring();
  uint32_t k = uint32_t(len) / 2;
  {
    std::lock_guard<std::mutex> g(r.lock);
    if (k > AUDIO_RING_SAMPLES) {  // only the newest ring-full can be kept
      pcm += k - AUDIO_RING_SAMPLES;
      k = AUDIO_RING_SAMPLES;
    }
    uint32_t first = AUDIO_RING_SAMPLES - r.write;
    if (k <= first) {
      std::memcpy(&r.samples[r.write], pcm, k * 2);
      r.write += k;
      if (r.write == AUDIO_RING_SAMPLES) r.write = 0;
    } else {
      std::memcpy(&r.samples[r.write], pcm, first * 2);
      std::memcpy(&r.samples[0], pcm + first, (k - first) * 2);
      r.write = k - first;
    }
    r.available += k;
    if (r.available > AUDIO_RING_SAMPLES) {
      // The writer overtook the reader: what is left starts at the write index.
      r.available = AUDIO_RING_SAMPLES;
      r.read = r.write;
    }
  }
  if (auto hook = r.start_hook.load()) hook();
  return 0;
}

int audio_ring_read(int16_t* out, int n) {
  if (!out || n <= 0) return 0;
  AudioRing& r = ring();
  std::lock_guard<std::mutex> g(r.lock);
  if (r.available < uint32_t(n)) return 0;
  uint32_t count = uint32_t(n);
  if (r.read + count >= AUDIO_RING_SAMPLES) {
    count = AUDIO_RING_SAMPLES - r.read;
    std::memcpy(out, &r.samples[r.read], count * 2);
    r.read = 0;
  } else {
    std::memcpy(out, &r.samples[r.read], count * 2);
    r.read += count;
  }
  r.available -= count;
  return int(count);
}

uint32_t audio_ring_available() {
  std::lock_guard<std::mutex> g(ring().lock);
  return ring().available;
}
uint32_t audio_ring_write_index() {
  std::lock_guard<std::mutex> g(ring().lock);
  return ring().write;
}
uint32_t audio_ring_read_index() {
  std::lock_guard<std::mutex> g(ring().lock);
  return ring().read;
}

void audio_ring_reset(uint32_t read_index, uint32_t write_index) {
  AudioRing& r = ring();
  std::lock_guard<std::mutex> g(r.lock);
  r.read = read_index % AUDIO_RING_SAMPLES;
  r.write = write_index % AUDIO_RING_SAMPLES;
  r.available = 0;
}

void set_audio_start_hook(void (*hook)()) { ring().start_hook = hook; }
