#include "client/foundation/app_state.h"
#include "client/foundation/channel_table.h"
#include "client/screens/panel.h"

void clear_channel_audio(APP_CONTEXT* ctx) {
  for_each_channel(ctx, [](RECEIVER_INFO&, CHANNEL_INFO& ch, int) { ch.audio_on.store(0); });
}

int set_channel_audio(APP_CONTEXT* ctx, int32_t id) {
  RECEIVER_INFO* rx = find_receiver_by_channel(ctx, id);
  if (!rx) return -2;
  int k = find_channel(rx, id);
  if (k < 0) return -3;
  rx->channels[k].audio_on.store(1);
  return 0;
}

int move_audio_to_selected(APP_CONTEXT* ctx, int32_t id) {
  if (ctx->single_view == 1) return -1;
  RECEIVER_INFO* rx = find_receiver_by_channel(ctx, id);
  if (!rx) return -2;
  int k = find_channel(rx, id);
  if (k < 0) return -3;
  rx->channels[k].audio_on.store(0);
  bool moved = false;
  for_each_channel(ctx, [&](RECEIVER_INFO&, CHANNEL_INFO& ch, int) {
    if (!moved && ch.selected) {
      ch.audio_on.store(1);
      moved = true;
    }
  });
  return 0;
}
