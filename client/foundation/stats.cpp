#include "client/foundation/stats.h"

#include <SDL/SDL.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/sync/test_clock.h"

// Counting is lock-free (atomic adds on the counter words), so sixteen receive threads and
// their decoders do not queue on one mutex for every frame. The mutex is taken only for the
// rare print and roll, which move the running words out with an atomic exchange so no count
// that lands meanwhile is lost. Every set keeps the time of its own last roll: one clock for
// all would let the first receiver to count after a second roll only its own sets and mark
// the second done for everyone, so the others' running words would span many seconds.
namespace {

std::mutex g_stats_mutex;
STATS_WORDS g_print;
std::atomic<uint32_t> g_last_print{0};
std::atomic<uint32_t> g_epoch{0};  // stats_init's time: sets never rolled count from it
uint32_t stats_now_ms() {
  uint32_t (*c)() = test_clock_now(TEST_CLOCK_STATS);
  return c ? c() : SDL_GetTicks();
}

// The time of a set's last roll; a set that never rolled counts from stats_init.
uint32_t rolled_at(const std::atomic<uint32_t>& at) {
  const uint32_t t = at.load();
  return t ? t : g_epoch.load();
}

// The periods of a set follow one another on a fixed grid from its first, so a 10 fps
// stream counts 10 a second however its frames fall against the boundaries. The running
// words hold what was counted since the period began, and every count first rolls a set
// that is due, so they all fell in the period that just ended - unless more than a whole
// period has passed since its end: then the period that just ended counted nothing, and the
// grid starts again from now.
void roll(STATS_WORDS& last, STATS_WORDS& running, std::atomic<uint32_t>& at, uint32_t now,
          uint32_t period) {
  const uint32_t began = rolled_at(at), since = now - began;
  if (since <= period) return;
  const bool stale = since > 2 * period;
  for (int i = 0; i < NUM_STATS; ++i) {
    const uint32_t v = running.count[i].exchange(0);
    last.count[i].store(stale ? 0 : v);
  }
  const uint32_t next = stale ? now : began + period;
  at.store(next ? next : 1);  // 0 is "never rolled"
}

bool due(const STATS_SETS* s, uint32_t now) {
  return s && (uint32_t(now - rolled_at(s->second_roll)) > 1000 ||
               uint32_t(now - rolled_at(s->minute_roll)) > 60000);
}

void roll_sets(STATS_SETS* s, uint32_t now) {
  if (!s) return;
  roll(s->last_second, s->second, s->second_roll, now, 1000);
  roll(s->last_minute, s->minute, s->minute_roll, now, 60000);
}

}  // namespace

void stats_init() {
  std::lock_guard<std::mutex> lock(g_stats_mutex);
  for (auto& c : g_print.count) c.store(0);
  uint32_t now = stats_now_ms();
  g_last_print.store(now);
  g_epoch.store(now);
}

void stats_free() {}

STATS_COUNTERS stats_snapshot() {
  STATS_COUNTERS out{};
  for (int i = 0; i < NUM_STATS; ++i) out.count[i] = g_print.count[i].load();
  return out;
}

void stats_add(int id, uint32_t value) {
  if (id >= 0 && id < NUM_STATS) g_print.count[id].fetch_add(value, std::memory_order_relaxed);
  uint32_t now = stats_now_ms();
  if (uint32_t(now - g_last_print.load()) <= 1000) return;
  std::lock_guard<std::mutex> lock(g_stats_mutex);
  if (uint32_t(now - g_last_print.load()) <= 1000) return;  // another thread printed
  uint32_t v[NUM_STATS];
  for (int i = 0; i < NUM_STATS; ++i) v[i] = g_print.count[i].exchange(0);
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
  const uint32_t now = stats_now_ms();
  bool any_due = due(ctx, now) || due(rx, now) || due(ch, now);
  for (int i = 0; !any_due && rx && rx_channels && i < n; ++i) any_due = due(rx_channels[i], now);
  if (any_due) {
    std::lock_guard<std::mutex> lock(g_stats_mutex);
    roll_sets(ctx, now);
    roll_sets(rx, now);
    for (int i = 0; rx && rx_channels && i < n; ++i) roll_sets(rx_channels[i], now);
    roll_sets(ch, now);
  }
  if (id < 0 || id >= NUM_STATS) return;
  for (STATS_SETS* s : {ctx, rx, ch}) {
    if (!s) continue;
    s->second.count[id].fetch_add(value, std::memory_order_relaxed);
    s->minute.count[id].fetch_add(value, std::memory_order_relaxed);
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
