// The 25 ms refresh timer of the video tiles (tiles.h): the only code that writes the video
// area of the screen.
#include "client/screens/tiles.h"

#include "client/foundation/sdl_lock.h"
#include "client/foundation/stats.h"
#include "client/screens/panel.h"
#include "client/screens/skin.h"
#include "client/screens/tiles_internal.h"

using namespace tiles_internal;

std::atomic<int> pending_update{0};

static void blit_centred(SDL_Surface* screen, SDL_Surface* pic, const RECT16& area) {
  if (!pic) return;
  SDL_SetColorKey(pic, SDL_SRCCOLORKEY, SDL_MapRGB(pic->format, 0, 0, 0));
  SDL_SetAlpha(pic, 0, SDL_ALPHA_OPAQUE);
  SDL_Rect dst{static_cast<Sint16>(area.x + (area.w - pic->w) / 2),
               static_cast<Sint16>(area.y + (area.h - pic->h) / 2), 0, 0};
  SDL_BlitSurface(pic, nullptr, screen, &dst);
}

// Carries out a show (4 -> 2) or hide (8 -> 1) request: 1 when the word moved. The window
// thread writes these words without the display mutex (a merge settles the selection word
// from the mouse handler): only a word still holding what was read is moved, so a request
// made meanwhile is never overwritten and is left for the next tick.
static int advance_state_word(std::atomic<int32_t>& word) {
  int32_t v = word.load();
  const int32_t next = (v & 4) ? 2 : (v & 8) ? 1 : v;
  return next != v && word.compare_exchange_strong(v, next) ? 1 : 0;
}

Uint32 refresh_timer(Uint32 interval, void* param) {
  APP_CONTEXT* ctx = static_cast<APP_CONTEXT*>(param);
  if (!ctx || (ctx->playback_flags.load() & PB_DRAG)) return interval;
  static unsigned tick = 0;
  SdlLock display(ctx->display_mutex);
  SDL_Surface* screen = ctx->surfaces[SURF_SCREEN];
  SDL_Surface* video = video_surface(ctx);
  if (!screen || !video) return interval;
  SDL_Rect area = to_sdl(ctx->video_rect);
  SDL_SetClipRect(screen, &area);
  const int popup = ctx->popup_state.load(), message = ctx->message_state.load();
  const int selection = ctx->selection_state.load();
  if ((popup & 12) || (message & 12) || (selection & 14) || pending_update.load())
    ctx->dirty.store(1);
  if (ctx->dirty.load()) {
    SDL_Rect dst = area;
    SDL_BlitSurface(video, nullptr, screen, &dst);
    ctx->dirty.store(0);
    pending_update.store(1);
  }
  if ((ctx->playback_flags.load() & PB_HOLD) && ctx->skin_window == SKIN_MAIN) {
    blit_centred(screen, find_widget_by_name(SKIN_MAIN, "freeze"), ctx->video_rect);
    pending_update.store(1);
  }
  if (ctx->single_view != VIEW_TILES) {
    SdlLock enlarged(ctx->enlarged_mutex);
    if (SDL_Surface* s = ctx->surfaces[SURF_ENLARGED]) {
      SDL_Rect dst = to_sdl(ctx->enlarged_rect);
      SDL_BlitSurface(s, nullptr, screen, &dst);
      const int close = find_widget(ctx->skin_window, "pip_close");
      int bw = 0, bh = 0;
      if (close > 0 && get_widget_size(ctx->skin_window, close, &bw, &bh) == 0) {
        set_widget_position(ctx->skin_window, close,
                            ctx->enlarged_rect.x + ctx->enlarged_rect.w - bw - 4,
                            ctx->enlarged_rect.y + 4);
        set_widget_attr(ctx->skin_window, close, 1, 0);
        redraw_widget(screen, ctx->skin_window, close);
      }
      pending_update.store(1);
    }
  }
  if ((selection & 2) && pending_update.load()) {
    SdlLock sel(ctx->selection_mutex);
    if (SDL_Surface* f = ctx->surfaces[SURF_SELECTION]) {
      SDL_SetColorKey(f, SDL_SRCCOLORKEY, SDL_MapRGB(f->format, 0, 0, 0));
      SDL_Rect dst{static_cast<Sint16>(ctx->merge_rect.x + area.x),
                   static_cast<Sint16>(ctx->merge_rect.y + area.y), 0, 0};
      SDL_BlitSurface(f, nullptr, screen, &dst);
      pending_update.store(1);
    }
  }
  int busy = 0;
  if (ctx->skin_window == SKIN_MAIN)
    busy = find_widget(SKIN_MAIN, "busy");
  else if (ctx->skin_window == SKIN_SEARCH)
    busy = ctx->wait_variant == 1 ? 25 : 27;
  if (busy > 0 && get_skin_widget(ctx->skin_window, busy) &&
      get_widget_attr(ctx->skin_window, busy, 1) == 0) {
    const int state = get_widget_state(ctx->skin_window, busy);
    blit_centred(screen, get_widget_state_image(ctx->skin_window, busy, state), ctx->video_rect);
    pending_update.store(1);
    if (tick % 4 == 0) {
      const int count = get_widget_state_count(ctx->skin_window, busy);
      if (count > 0) set_widget_state(screen, ctx->skin_window, busy, (state + 1) % count);
    }
  }
  ++tick;
  // The pad and the message line are hidden under the display mutex, which this tick holds
  // throughout: what it read at its start still stands here.
  if (popup == 2 && pending_update.load()) draw_popup_panel(ctx);
  if (message == 2 && pending_update.load()) show_message(ctx);
  if (pending_update.load()) {
    if (screen == SDL_GetVideoSurface()) SDL_UpdateRect(screen, area.x, area.y, area.w, area.h);
    stats_add(STAT_REFRESHED, 1);
    pending_update.store(0);
  }
  int changed = advance_state_word(ctx->popup_state);
  changed |= advance_state_word(ctx->selection_state);
  changed |= advance_state_word(ctx->message_state);
  if (changed) pending_update.store(1);
  // The window loop draws widgets outside the video area on the same screen surface.
  SDL_SetClipRect(screen, nullptr);
  return interval;
}
