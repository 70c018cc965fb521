// The event playback window's handlers and its loop, run through the shared loop
// (event_loop.cpp).
#include "client/screens/event_loop.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "client/foundation/channel_table.h"
#include "client/foundation/config/mailslot.h"
#include "client/foundation/config/setup_config.h"
#include "client/foundation/config/setup_lookup.h"
#include "client/foundation/config/system_log.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/dvr_events.h"
#include "client/foundation/sdl_lock.h"
#include "client/foundation/user_events.h"
#include "client/foundation/win_helpers.h"
#include "client/links/connection.h"
#include "client/links/link_notices.h"
#include "client/links/nc_packets.h"
#include "client/links/recording.h"
#include "client/screens/event_loop_internal.h"
#include "client/screens/layouts.h"
#include "client/screens/launcher.h"
#include "client/screens/master_link.h"
#include "client/screens/monitors.h"
#include "client/screens/panel.h"
#include "client/screens/search_window.h"
#include "client/screens/skin.h"
#include "client/screens/tiles.h"
#include "client/screens/widget_text.h"

using namespace event_loop_internal;

namespace {

// A search reply (user event 27) goes to the bar it answers: month -> days, day -> cameras,
// cameras -> hours, hour -> minutes.
void show_search_reply(APP_CONTEXT* ctx, const NC_SEARCH_RECORD& r) {
  if (r.day == 255)
    enable_days(ctx, r.day_info);
  else if (r.channel == 0)
    enable_cameras_by_mask(ctx, r.ch_info);
  else if (r.hour == 255)
    paint_hour_bars(ctx, r.hour_info);
  else
    paint_minute_bars(ctx, r.min_info);
}

}  // namespace

// ---------------------------------------------------------------- event playback window

int handle_event_playback_window_event(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS*) {
  if (ev.type == SDL_VIDEORESIZE) set_window_size(ctx, ev.resize.w, ev.resize.h, 1);
  return 0;
}

int handle_event_playback_key(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts) {
  if (ev.key.keysym.sym == SDLK_f) {
    toggle_fullscreen(ctx);
  } else if (ev.key.keysym.sym == SDLK_q) {
    disconnect_dvr(opts);
    app_quit.store(1);
  }
  return 0;
}

int handle_event_playback_mouse(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts) {
  ctx->last_mouse_ticks.store(SDL_GetTicks());
  const bool motion = ev.type == SDL_MOUSEMOTION;
  const int x = motion ? ev.motion.x : ev.button.x;
  const int y = motion ? ev.motion.y : ev.button.y;
  mouse.merged = false;
  if (ev.type == SDL_MOUSEBUTTONUP && ev.button.button == SDL_BUTTON_LEFT) {
    note_button_release(SDL_GetTicks(), x, y);
    settle_button1_release(ctx);
  }
  if (in_video_rect(ctx, x, y) && !mouse.dragging_window) {
    mouse_on_cells(ev, ctx, opts, true);
    return 0;
  }
  if (!ctx->skin) return 0;
  const int window = ctx->skin_window;
  if (motion) {
    if ((ev.motion.state & SDL_BUTTON(1)) && (mouse.press_on_background || mouse.dragging_window)) {
      mouse.dragging_window = true;
      move_window_by(x - mouse.press_x, y - mouse.press_y);
    } else if (!(ev.motion.state & SDL_BUTTON(1))) {
      hover_widget(ctx, window, x, y);
    }
    return 0;
  }
  if (ev.type == SDL_MOUSEBUTTONDOWN && ev.button.button == SDL_BUTTON_LEFT) {
    mouse.pressed_widget = find_widget_at(window, x, y);
    mouse.press_on_background = mouse.pressed_widget == 0 && !ctx->frame;
    mouse.press_x = x;
    mouse.press_y = y;
    if (mouse.pressed_widget > 0) {
      SdlLock lock(ctx->display_mutex);
      set_widget_state(screen_of(ctx), window, mouse.pressed_widget, 1);
    }
    return 0;
  }
  if (ev.type != SDL_MOUSEBUTTONUP || ev.button.button != SDL_BUTTON_LEFT) return 0;
  const int w = mouse.pressed_widget;
  mouse.pressed_widget = 0;
  if (w <= 0) return 0;
  {
    SdlLock lock(ctx->display_mutex);
    press_widget(screen_of(ctx), window, w);
    set_widget_state(screen_of(ctx), window, w, 0);
  }
  const SKIN_WIDGET* widget = get_skin_widget(window, w);
  const char* name = widget ? widget->name : "";
  if (strcmp(name, "top") == 0)
    jump_playback(opts->seek, 1);
  else if (strcmp(name, "left") == 0)
    jump_playback(-30, 0);
  else if (strcmp(name, "prev") == 0)
    jump_playback(-10, 0);
  else if (strcmp(name, "play") == 0) {
    if (get_widget_attr(window, w, 3))
      resume_playback();
    else
      pause_playback();
  } else if (strcmp(name, "next") == 0)
    stop_playback();
  else if (strcmp(name, "right") == 0)
    jump_playback(30, 0);
  else if (strcmp(name, "slower") == 0) {
    slower_playback();
    restart_playback();
  } else if (strcmp(name, "faster") == 0) {
    faster_playback();
    restart_playback();
  } else if (strcmp(name, "power") == 0) {
    disconnect_dvr(opts);
    app_quit.store(1);
  } else if (strcmp(name, "minimize") == 0)
    SDL_WM_IconifyWindow();
  if (!ctx->fullscreen) {
    SdlLock lock(ctx->display_mutex);
    if (SDL_Surface* s = screen_of(ctx)) SDL_UpdateRect(s, 0, 0, 0, 0);
  }
  return 0;
}

int handle_event_playback_user_event(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts) {
  switch (user_event_number(ev)) {
    case UE_LINK_COMMAND: {
      COMM_FIELDS m;
      if (read_link_command(ev, &m) != 0) break;
      if (m.command == COMM_CONNECT) {
        get_target_name(opts->auto_start, sizeof opts->auto_start, m.value[5] == 1, m.value[6]);
        if (opts->conn_state.load() == CONN_DISCONNECTED)
          connect_dvr(opts);
        else
          disconnect_dvr(opts);
      } else if (m.command == COMM_DISCONNECT) {
        disconnect_dvr(opts);
      } else if (m.command == COMM_SET_LAYOUT) {
        // The same range checks as set_layout and set_layout_page.
        if (m.value[3] >= 1 && m.value[3] < NUM_LAYOUTS && get_layout_cells(ctx, m.value[3]) > 0 &&
            m.value[4] >= 0) {
          ctx->layout = m.value[3];
          ctx->page = m.value[4];
          update_shown_masks(ctx);
        }
      }
      break;
    }
    case UE_RECEIVER_NOTICE: draw_connecting_marks(receiver_of_notice(ev), ctx); break;
    case UE_SEARCH_DATA:
      if (ev.user.data1)
        show_search_reply(ctx, *static_cast<const NC_SEARCH_RECORD*>(ev.user.data1));
      hide_wait_indicator(ctx);
      redraw_all_channels(ctx);
      break;
    case UE_LOGGED_IN: {
      show_network_indicator(ctx);
      hide_wait_indicator(ctx);
      set_widget_attr(ctx->skin_window, W_WINDOW_PLAY, 3, 1);
      SdlLock lock(ctx->display_mutex);
      redraw_widget(screen_of(ctx), ctx->skin_window, W_WINDOW_PLAY);
      break;
    }
    case UE_DECODER_NOTICE: fit_window_to_decoder_notice(ctx, ev); break;
    default: break;
  }
  return 0;
}

int event_playback_loop(APP_OPTIONS* opts) {
  static const WindowLoop loop{
      handle_event_playback_window_event,
      handle_event_playback_key,
      handle_event_playback_mouse,
      handle_event_playback_user_event,
      [](int n) { return (n >= UE_LINK_COMMAND && n <= UE_LOGGED_IN) || n == UE_DECODER_NOTICE; },
      false,
      "exiting event loop ..."};
  return run_window_loop(opts, loop);
}
