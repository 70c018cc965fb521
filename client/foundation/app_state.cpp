#include "client/foundation/app_state.h"

#include <cstdlib>
#include <cstring>
#include <memory>

APP_CONTEXT app_context;

namespace {

void destroy_mutex(SDL_mutex*& m) {
  if (m) SDL_DestroyMutex(m);
  m = nullptr;
}

}  // namespace

void free_surface(SDL_Surface*& s) {
  if (s) SDL_FreeSurface(s);
  s = nullptr;
}

int init_app_context(APP_CONTEXT* ctx) {
  if (!ctx) return -1;
  // Value-initialise the whole record, so fields appended later start at zero too.
  std::destroy_at(ctx);
  std::construct_at(ctx);
  SDL_mutex** mutexes[] = {&ctx->display_mutex,   &ctx->popup_mutex, &ctx->enlarged_mutex,
                           &ctx->selection_mutex, &ctx->text_mutex,  &ctx->record_mutex};
  int rc = 0;
  for (SDL_mutex** m : mutexes) {
    *m = SDL_CreateMutex();
    if (!*m) rc = -1;
  }
  ctx->zoom = 1.0;
  ctx->timeout = 30;
  ctx->decoder_state.store(DECODER_STOPPED);
  ctx->single_channel = -1;
  ctx->popup_channel = -1;
  ctx->win_left = ctx->win_top = -1;
  ctx->skin = 1;
  ctx->skin_window = SKIN_MAIN;
  ctx->ring_size = DEFAULT_RING_SIZE;
  return rc;
}

void free_app_context(APP_CONTEXT* ctx) {
  if (!ctx) return;
  int n = ctx->num_receivers;
  if (n < 0) n = 0;
  if (n > MAX_RECEIVERS) n = MAX_RECEIVERS;
  for (int i = 0; i < n; ++i) free_receiver(&ctx->receivers[i]);
  ctx->num_receivers = 0;
  for (DISPLAY_SLOT& slot : ctx->slots) {
    free(slot.ring);
    slot.ring = nullptr;
    destroy_mutex(slot.mutex);
  }
  destroy_mutex(ctx->display_mutex);
  destroy_mutex(ctx->popup_mutex);
  destroy_mutex(ctx->enlarged_mutex);
  destroy_mutex(ctx->selection_mutex);
  destroy_mutex(ctx->text_mutex);
  destroy_mutex(ctx->record_mutex);
  // SDL_FreeSurface ignores the video mode's own surface, which SDL_Quit releases.
  for (SDL_Surface*& s : ctx->surfaces) free_surface(s);
  if (ctx->cursor) SDL_FreeCursor(ctx->cursor);
  ctx->cursor = nullptr;
}

void clear_layout_table(DISPLAY_LAYOUT* layouts) {
  if (!layouts) return;
  for (int i = 0; i < NUM_LAYOUTS; ++i) {
    memset(&layouts[i], 0, sizeof(layouts[i]));
    layouts[i].id = static_cast<uint32_t>(i);
  }
}

void free_layout_table(DISPLAY_LAYOUT*) {}

int init_receiver(RECEIVER_INFO* rx) {
  if (!rx) return -1;
  std::destroy_at(rx);
  std::construct_at(rx);
  int rc = 0;
  rx->mutex = SDL_CreateMutex();
  if (!rx->mutex) rc = -1;
  rx->status.store(RX_ENDED);
  snprintf(rx->host_type, sizeof(rx->host_type), "%s", "IP");
  rx->live_port = 9201;
  rx->pb_port = 9203;
  rx->ctrl_port = 9203;
  rx->sock_timeout = 30;
  rx->channel_mask = 0xFFFFFFFFu;
  rx->flag2 = 1;
  for (int k = 0; k < MAX_CHANNELS; ++k) {
    CHANNEL_INFO& ch = rx->channels[k];
    ch.id = -1;
    ch.slot = -1;
    ch.position = static_cast<float>(k);
    ch.hidden = 1;
    ch.flag = 1;
    ch.mutex = SDL_CreateMutex();
    if (!ch.mutex) rc = -1;
  }
  return rc;
}

void free_receiver(RECEIVER_INFO* rx) {
  if (!rx) return;
  if (rx->file) fclose(rx->file);
  rx->file = nullptr;
  destroy_mutex(rx->mutex);
  for (CHANNEL_INFO& ch : rx->channels) {
    ch.hidden = 1;
    ch.shown = 0;
    if (ch.record_file) fclose(ch.record_file);
    ch.record_file = nullptr;
    free(ch.record_index);
    ch.record_index = nullptr;
    free_surface(ch.surface);
    destroy_mutex(ch.mutex);
  }
}

int alloc_pair_buffers(PAIR_BUFFERS* pair) {
  if (!pair) return -1;
  pair->first = calloc(1, PAIR_BLOCK_SIZE);
  pair->second = calloc(1, PAIR_BLOCK_SIZE);
  if (pair->first && pair->second) return 0;
  free_pair_buffers(pair);
  return -1;
}

void free_pair_buffers(PAIR_BUFFERS* pair) {
  if (!pair) return;
  free(pair->first);
  free(pair->second);
  pair->first = pair->second = nullptr;
}
