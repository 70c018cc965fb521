#include "client/links/file_player.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <new>
#include <mutex>
#include <thread>
#include <utility>

#include "client/foundation/config/utils.h"
#include "client/foundation/sock_io.h"
#include "client/links/connection.h"
#include "client/links/link_common.h"
#include "client/links/link_notices.h"

namespace {

std::atomic<bool> pacing{true};
std::mutex table_lock;
std::vector<std::pair<const RECEIVER_INFO*, PLAYER_STATE*>> table;

}  // namespace

bool player_running(const RECEIVER_INFO* rx) {
  return rx->status.load() == RX_RECEIVING && !receivers_stop.load() && !app_quit.load();
}

void player_sleep(const RECEIVER_INFO* rx, uint32_t ms) {
  const int64_t end = player_now_ms() + ms;
  for (int64_t now = player_now_ms(); now < end && player_running(rx); now = player_now_ms())
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min<int64_t>(end - now, 10)));
}

bool player_paused(const APP_CONTEXT* ctx) { return (ctx->playback_flags.load() & 7u) != 0; }

int64_t player_now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void set_player_pacing(bool on) { pacing.store(on); }

void PLAYER_PACER::pace(const RECEIVER_INFO* rx, double frame_ms, int64_t pass_start) {
  const APP_CONTEXT* ctx = rx->context;
  double speed = ctx ? ctx->playback_speed.load() : 1.0;
  if (!(speed > 0)) speed = 1.0;
  const double delay = (frame_ms - prev_ms - double(player_now_ms() - pass_start)) / speed;
  prev_ms = frame_ms;
  if (!pacing.load() || !(delay > 1 && delay < 1000)) return;
  if (!compensate) {
    player_sleep(rx, uint32_t(delay));
    return;
  }
  const int64_t start = player_now_ms();
  player_sleep(rx, uint32_t(std::lround(delay)));
  // Carried into the next delay, so rounding and late wake-ups do not add up.
  prev_ms = frame_ms + (double(player_now_ms() - start) - delay);
}

void register_player(RECEIVER_INFO* rx, PLAYER_STATE* state) {
  std::lock_guard<std::mutex> g(table_lock);
  for (auto& e : table)
    if (e.first == rx) {
      e.second = state;
      return;
    }
  table.emplace_back(rx, state);
}

void unregister_player(RECEIVER_INFO* rx) {
  std::lock_guard<std::mutex> g(table_lock);
  table.erase(std::remove_if(table.begin(), table.end(), [rx](auto& e) { return e.first == rx; }),
              table.end());
}

bool with_player(RECEIVER_INFO* rx, const std::function<void(PLAYER_STATE&)>& fn) {
  std::lock_guard<std::mutex> g(table_lock);
  for (auto& e : table)
    if (e.first == rx) {
      fn(*e.second);
      return true;
    }
  return false;
}

int run_file_player(RECEIVER_INFO* rx, int index_max,
                    const std::function<int(PLAYER_STATE& st, uint8_t* buf)>& build_index,
                    const std::function<bool()>& pass) {
  if (!rx || !rx->file || !rx->context) return -1;
  std::unique_ptr<uint8_t[]> buf(new (std::nothrow) uint8_t[PLAYER_BUFFER_SIZE]);
  auto state = std::make_unique<PLAYER_STATE>();
  try {
    state->index.resize(size_t(index_max));
  } catch (...) { buf.reset(); }
  if (!buf) {
    fatal_box("Not enough memory.");
    rx->status.store(RX_ENDED);
    return -1;
  }
  const int built = build_index(*state, buf.get());
  if (rx_stopping(rx)) return 0;
  if (built != 0) {
    post_link_error_box(rx->index, "Error in creating index file.\n");
    rx->status.store(RX_ENDED);
    return -2;
  }
  rx->status.store(RX_RECEIVING);
  register_player(rx, state.get());
  while (player_running(rx)) {
    if (player_paused(rx->context)) {
      player_sleep(rx, 100);
      continue;
    }
    if (!pass()) break;
  }
  unregister_player(rx);
  return 0;
}

void show_grid(int side) { request_layout(side); }
