#include "client/foundation/stats.h"

#include <SDL/SDL.h>

#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

std::mutex g_stats_mutex;
STATS_COUNTERS g_print;
uint32_t g_last_print = 0;
uint32_t g_last_second_roll = 0;
uint32_t g_last_minute_roll = 0;
uint32_t (*g_clock)() = nullptr;

uint32_t now_ms() { return g_clock ? g_clock() : SDL_GetTicks(); }

void roll_second(STATS_SETS* s) {
  if (!s) return;
  s->last_second = s->second;
  s->second = STATS_COUNTERS{};
}
void roll_minute(STATS_SETS* s) {
  if (!s) return;
  s->last_minute = s->minute;
  s->minute = STATS_COUNTERS{};
}
void add(STATS_SETS* s, int id, uint32_t v) {
  if (!s) return;
  s->second.count[id] += v;
  s->minute.count[id] += v;
}

}  // namespace

void stats_init() {
  std::lock_guard<std::mutex> lock(g_stats_mutex);
  g_print = STATS_COUNTERS{};
  g_last_print = g_last_second_roll = g_last_minute_roll = now_ms();
}

void stats_free() {}

void stats_set_clock(uint32_t (*clock)()) {
  std::lock_guard<std::mutex> lock(g_stats_mutex);
  g_clock = clock;
}

STATS_COUNTERS stats_snapshot() {
  std::lock_guard<std::mutex> lock(g_stats_mutex);
  return g_print;
}

void stats_add(int id, uint32_t value) {
  std::lock_guard<std::mutex> lock(g_stats_mutex);
  if (id >= 0 && id < NUM_STATS) g_print.count[id] += value;
  uint32_t now = now_ms();
  if (uint32_t(now - g_last_print) <= 1000) return;
  char back[60];
  std::memset(back, 0x08, 59);
  back[59] = 0;
  const uint32_t* v = g_print.count;
  std::printf("%s%s%d recvd, %d decd, %d disp, %d refr, %d KBps, %d missing, %d ignored.", back,
              back, int(v[0]), int(v[1]), int(v[2]), int(v[3]), int(v[4] / 1024), int(v[5]),
              int(v[6]));
  std::fflush(stdout);
  g_print = STATS_COUNTERS{};
  g_last_print = now;
}

void stats_add_sets(STATS_SETS* ctx, STATS_SETS* rx, STATS_SETS* const* rx_channels, int n,
                    STATS_SETS* ch, int id, uint32_t value) {
  std::lock_guard<std::mutex> lock(g_stats_mutex);
  uint32_t now = now_ms();
  if (uint32_t(now - g_last_second_roll) > 1000) {
    roll_second(ctx);
    roll_second(rx);
    for (int i = 0; rx && rx_channels && i < n; ++i) roll_second(rx_channels[i]);
    g_last_second_roll = now;
  }
  if (uint32_t(now - g_last_minute_roll) > 60000) {
    roll_minute(ctx);
    roll_minute(rx);
    for (int i = 0; rx && rx_channels && i < n; ++i) roll_minute(rx_channels[i]);
    g_last_minute_roll = now;
  }
  if (id < 0 || id >= NUM_STATS) return;
  add(ctx, id, value);
  add(rx, id, value);
  add(ch, id, value);
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
