// libFuzzer target: the two file players on arbitrary file contents, as a file playback
// window runs them: the key-frame index, then playback (records rewritten for the rings, the
// grid following the channels seen) and, each time playback rests at the end of the file or
// at damage, the next seek of a short script (a position near the first key frame, a step,
// a speed). Bit 0 of the first byte picks the ".dat" player, the next 8 bytes are the
// script (up to four seeks), the rest is the file. The players' pauses return at once (their
// sleep is wrapped at link time) and pacing is off; the rings are emptied at every rest, and
// a file of at most 16 KiB leaves them room for one pass.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "client/links/connection.h"
#include "client/links/dat_file.h"
#include "client/links/file_player.h"
#include "client/links/recording.h"
#include "client/screens/layouts.h"
#include "client/screens/tiles.h"
#include "tests/client/fuzz/fuzz_rig.h"

namespace {
APP_CONTEXT* g_ctx = nullptr;
const uint8_t* g_script = nullptr;
int g_seeks_left = 0;
bool g_dat = false;

constexpr size_t kScript = 8;

void empty_rings() {
  for (uint32_t i = 0; i < g_ctx->num_slots; ++i)
    g_ctx->slots[i].read_pos = g_ctx->slots[i].write_pos = 0;
  g_ctx->receivers[0].pending_frames = 0;
  g_ctx->receivers[0].pending_bytes = 0;
}
}  // namespace

// The players' sleep (player_sleep, wrapped by the linker): called where playback rests; the
// window's next seek comes here, and after the last one the window closes.
extern "C" void __wrap__Z12player_sleepPK13RECEIVER_INFOj(const RECEIVER_INFO* crx, uint32_t) {
  auto* rx = const_cast<RECEIVER_INFO*>(crx);
  empty_rings();
  if (g_seeks_left-- <= 0) {
    rx->status.store(RX_STOP);
    return;
  }
  const uint8_t* s = g_script;
  g_script += 2;
  uint32_t first = 0;
  with_player(rx, [&](PLAYER_STATE& st) {
    if (st.count > 0) first = st.index[0].sec;
  });
  rx->position = first + int8_t(s[0]) * 2.5;
  static const double kSpeeds[4] = {1.0, 1.0 / 16, 2.0, 16.0};
  g_ctx->playback_speed.store(kSpeeds[s[1] & 3]);
  static const double kSteps[4] = {-30, -10, 10, 30};
  if (g_dat)
    seek_dat_file(rx, kSteps[s[1] >> 2 & 3]);
  else
    seek_record_file(rx);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_rig::quiet_stdout();
  g_ctx = fuzz_rig::make_context('Q');
  clear_layout_table(g_ctx->layouts);
  set_window_geometry(g_ctx, 640, 480);
  build_grid_layouts(g_ctx);
  CONNECTION_HOOKS hooks{};
  hooks.set_layout = [](APP_CONTEXT* ctx, int layout) { set_layout(ctx, layout); };
  set_connection_hooks(hooks);
  set_player_pacing(false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 + kScript || size > 1 + kScript + 16384) return 0;
  fuzz_rig::reset(g_ctx);
  g_ctx->layout = 1;
  g_ctx->playback_speed.store(1.0);
  g_dat = data[0] & 1;
  g_script = data + 1;
  g_seeks_left = kScript / 2;
  RECEIVER_INFO* rx = &g_ctx->receivers[0];
  if (fuzz_rig::open_as_file(rx, data + 1 + kScript, size - 1 - kScript) != 0) return 0;
  rx->status.store(RX_CONNECTING);
  if (g_dat)
    play_dat_file(rx);
  else
    play_record_file(rx);
  fuzz_rig::close_file(rx);
  app_quit.store(0);
  return 0;
}
