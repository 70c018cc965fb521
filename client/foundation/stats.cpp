#include "client/foundation/stats.h"

#include <SDL/SDL.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

// Counting is lock-free (atomic adds on the counter words), so sixteen receive threads and
// their decoders do not queue on one mutex for every frame. The mutex is taken only for the
// rare print and roll, which move the running words out with an atomic exchange so no count
// that lands meanwhile is lost.
namespace {

std::mutex g_stats_mutex;
STATS_COUNTERS g_print;
std::atomic<uint32_t> g_last_print{0};
std::atomic<uint32_t> g_last_second_roll{0};
std::atomic<uint32_t> g_last_minute_roll{0};
std::atomic<uint32_t (*)()> g_clock{nullptr};

uint32_t now_ms() {
  uint32_t (*c)() = g_clock.load();
  return c ? c() : SDL_GetTicks();
}

inline uint32_t take(uint32_t& word) { return std::atomic_ref<uint32_t>(word).exchange(0); }
inline void bump(uint32_t& word, uint32_t v) {
  std::atomic_ref<uint32_t>(word).fetch_add(v, std::memory_order_relaxed);
}

void roll_second(STATS_SETS* s) {
  if (!s) return;
  for (int i = 0; i < NUM_STATS; ++i) s->last_second.count[i] = take(s->second.count[i]);
}
void roll_minute(STATS_SETS* s) {
  if (!s) return;
  for (int i = 0; i < NUM_STATS; ++i) s->last_minute.count[i] = take(s->minute.count[i]);
}

}  // namespace

void stats_init() {
  std::lock_guard<std::mutex> lock(g_stats_mutex);
  for (uint32_t& c : g_print.count) take(c);
  uint32_t now = now_ms();
  g_last_print.store(now);
  g_last_second_roll.store(now);
  g_last_minute_roll.store(now);
}

void stats_free() {}

void stats_set_clock(uint32_t (*clock)()) { g_clock.store(clock); }

STATS_COUNTERS stats_snapshot() {
  STATS_COUNTERS out{};
  for (int i = 0; i < NUM_STATS; ++i) out.count[i] = std::atomic_ref<uint32_t>(g_print.count[i]).load();
  return out;
}

void stats_add(int id, uint32_t value) {
  if (id >= 0 && id < NUM_STATS) bump(g_print.count[id], value);
  uint32_t now = now_ms();
  if (uint32_t(now - g_last_print.load()) <= 1000) return;
  std::lock_guard<std::mutex> lock(g_stats_mutex);
  if (uint32_t(now - g_last_print.load()) <= 1000) return;  // another thread printed
  uint32_t v[NUM_STATS];
  for (int i = 0; i < NUM_STATS; ++i) v[i] = take(g_print.count[i]);
  char back[60];
  std::memset(back, 0x08, 59);
  back[59] = 0;
  std::printf("%s%s%d recvd, %d decd, %d disp, %d refr, %d KBps, %d missing, %d ignored.", back,
              back, int(v[0]), int(v[1]), int(v[2]), int(v[3]), int(v[4] / 1024), int(v[5]),
              int(v[6]));
  std::fflush(stdout);
  g_last_print.store(now);
}

void stats_add_sets(STATS_SETS* ctx, STATS_SETS* rx, STATS_SETS* const* rx_channels, int n,
                    STATS_SETS* ch, int id, uint32_t value) {
  uint32_t now = now_ms();
  bool second_due = uint32_t(now - g_last_second_roll.load()) > 1000;
  bool minute_due = uint32_t(now - g_last_minute_roll.load()) > 60000;
  if (second_due || minute_due) {
    std::lock_guard<std::mutex> lock(g_stats_mutex);
    if (uint32_t(now - g_last_second_roll.load()) > 1000) {
      roll_second(ctx);
      roll_second(rx);
      for (int i = 0; rx && rx_channels && i < n; ++i) roll_second(rx_channels[i]);
      g_last_second_roll.store(now);
    }
    if (uint32_t(now - g_last_minute_roll.load()) > 60000) {
      roll_minute(ctx);
      roll_minute(rx);
      for (int i = 0; rx && rx_channels && i < n; ++i) roll_minute(rx_channels[i]);
      g_last_minute_roll.store(now);
    }
  }
  if (id < 0 || id >= NUM_STATS) return;
  for (STATS_SETS* s : {ctx, rx, ch}) {
    if (!s) continue;
    bump(s->second.count[id], value);
    bump(s->minute.count[id], value);
  }
}

void stats_add_rx(APP_CONTEXT* ctx, RECEIVER_INFO* rx, CHANNEL_INFO* ch, int id, uint32_t value) {
  STATS_SETS* chans[MAX_CHANNELS];
  int n = 0;
  if (rx) {
    n = int(rx->num_video < uint32_t(MAX_CHANNELS) ? rx->num_video : MAX_CHANNELS);
    for (int i = 0; i < n; ++i) chans[i] = &rx->channels[i].stats;
  }
  stats_add_sets(ctx ? &ctx->stats : nullptr, rx ? &rx->stats : nullptr, chans, n,
                 ch ? &ch->stats : nullptr, id, value);
}
