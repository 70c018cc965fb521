#include "client/screens/panel_hooks.h"

#include <SDL/SDL.h>

#include "client/foundation/app_state.h"
#include "client/foundation/config/app_options.h"
#include "client/foundation/config/setup_lookup.h"
#include "client/foundation/sdl_lock.h"
#include "client/screens/panel.h"
#include "client/screens/skin.h"
#include "client/screens/tiles.h"

// The connection buttons and list tabs of a skinned window once connected (panel_hooks.h).
void panel_after_connect(APP_OPTIONS* opts) {
  APP_CONTEXT* ctx = opts->context ? opts->context : &app_context;
  if (!ctx->skin) return;
  const int id = ctx->skin_window;
  const int connect = find_widget(id, "connect"), disconnect = find_widget(id, "disconnect");
  const int dvrtab = find_widget(id, "dvrtab"), grouptab = find_widget(id, "grouptab");
  int is_group = 0, index = 0;
  find_target(opts->auto_start, &is_group, &index);
  {
    SdlLock display(ctx->display_mutex);
    SDL_Surface* screen = ctx->surfaces[SURF_SCREEN];
    if (!screen) return;
    if (connect) set_widget_attr(id, connect, 1, 1);
    if (disconnect) set_widget_attr(id, disconnect, 1, 0);
    if (connect) restore_widget_area(screen, id, connect);
    for (int tab : {dvrtab, grouptab})
      if (tab) set_widget_state(screen, id, tab, 4);
    if (disconnect) set_widget_state(screen, id, disconnect, 0);
    const int reset = is_group ? dvrtab : grouptab;
    if (reset) reset_widget_state(screen, id, reset, 1);
  }
  if (id == SKIN_MAIN) draw_camera_list(opts, ctx);
}

void panel_after_disconnect(APP_OPTIONS* opts) {
  APP_CONTEXT* ctx = opts->context ? opts->context : &app_context;
  if (!ctx->skin) return;
  const int id = ctx->skin_window;
  const int connect = find_widget(id, "connect"), disconnect = find_widget(id, "disconnect");
  {
    SdlLock display(ctx->display_mutex);
    SDL_Surface* screen = ctx->surfaces[SURF_SCREEN];
    if (!screen) return;
    if (disconnect) set_widget_attr(id, disconnect, 1, 1);
    if (connect) set_widget_attr(id, connect, 1, 0);
    if (disconnect) restore_widget_area(screen, id, disconnect);
    for (const char* name : {"connect", "grouptab", "dvrtab"})
      if (int w = find_widget(id, name)) set_widget_state(screen, id, w, 0);
  }
  select_list_tab(ctx);
}
