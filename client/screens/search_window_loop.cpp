// The search window's event loop and its key, mouse, window and user-event handlers.
#include <SDL/SDL.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "client/foundation/channel_table.h"
#include "client/foundation/config/setup_config.h"
#include "client/foundation/config/setup_lookup.h"
#include "client/foundation/config/system_log.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/user_events.h"
#include "client/foundation/win_helpers.h"
#include "client/links/connection.h"
#include "client/links/recording.h"
#include "client/screens/event_loop.h"
#include "client/screens/layouts.h"
#include "client/screens/master_link.h"
#include "client/screens/panel.h"
#include "client/screens/screen_state.h"
#include "client/screens/search_window.h"
#include "client/screens/search_window_parts.h"
#include "client/screens/skin.h"
#include "client/screens/widget_text.h"

using namespace search_parts;

namespace {

constexpr int kWin = SEARCH_WINDOW;

// Pointer state of the search window's loop.
struct SearchMouse {
  int pressed_widget = 0;
  int hovered = 0;
  bool double_click = false;
  bool dragging = false;         // the frameless window follows the pointer
  int press_x = 0, press_y = 0;  // where button 1 went down: it stays under the pointer
  int pressed_pos = -1;          // channel position where button 1 went down
  int previous_layout = 0;       // restored by the next double click in layout 1
} g_mouse;

// Channel position under a window point, -1 outside every cell.
int channel_at(APP_CONTEXT* ctx, int x, int y) {
  const int cell = cell_at_point(ctx, x - ctx->video_rect.x, y - ctx->video_rect.y, true);
  return cell < 0 ? -1 : cell + ctx->page * get_layout_cells(ctx, ctx->layout);
}

void log_search(int code) { write_system_log(code, "SEARCH", app_options.auto_start); }

// A connection is about to be asked for: the window waits for the login, unless the DVR is
// an 'I' DVR, which never answers a search and so is never waited on.
void connect_target(APP_CONTEXT* ctx, const char* name) {
  uint8_t protocol = 0;
  {
    auto read = setup_read_lock();
    if (const RC_DVR_INFO* d = find_dvr_info(name)) protocol = d->protocol;
  }
  if (protocol != 'I') ctx->search_state.store(SEARCH_HOLD);
  show_wait_indicator(ctx);
  post_dvr_request(name);
}

void update_all(APP_CONTEXT* ctx) {
  if (ctx->fullscreen) return;
  SdlLock lock(ctx->display_mutex);
  if (can_draw(ctx)) SDL_UpdateRect(screen_of(ctx), 0, 0, 0, 0);
}

void hover(APP_CONTEXT* ctx, int x, int y) {
  const int w = x < 0 ? 0 : find_widget_at(kWin, x, y);
  if (w == g_mouse.hovered) return;
  SdlLock lock(ctx->display_mutex);
  if (!can_draw(ctx)) return;
  if (g_mouse.hovered > 0 && get_widget_state(kWin, g_mouse.hovered) == 2)
    set_widget_state(screen_of(ctx), kWin, g_mouse.hovered, 0);
  g_mouse.hovered = 0;
  if (w > 0 && w != SW_GROUPTAB && get_widget_state(kWin, w) == 0) {
    set_widget_state(screen_of(ctx), kWin, w, 2);
    g_mouse.hovered = w;
  }
}

void dvr_list_click(APP_CONTEXT* ctx, APP_OPTIONS* opts, int x, int y) {
  {
    SdlLock lock(ctx->display_mutex);
    if (can_draw(ctx)) select_line_at(screen_of(ctx), kWin, x, y);
  }
  const char* line = get_selected_line(kWin, SW_DVR_LIST);
  const bool connected = opts->conn_state.load() != CONN_DISCONNECTED;
  // A connected window keeps its DVR: the requests and the disconnection name it.
  if (line && line[0] && !connected) {
    std::snprintf(opts->auto_start, sizeof opts->auto_start, "%s", line);
    const int cameras = get_dvr_num_video(line);
    search_selection().camera_count = cameras > 0 ? (cameras > 32 ? 32 : cameras) : 16;
    show_camera_widgets(ctx);
  }
  if (!g_mouse.double_click || connected) return;
  if (line && line[0])
    connect_target(ctx, line);
  else
    error_box("Please select a DVR.");
}

void month_click(APP_CONTEXT* ctx, APP_OPTIONS* opts, bool next) {
  SEARCH_SELECTION& s = search_selection();
  if (s.day >= 1 && s.day <= 31) {
    const int day = SW_DAY1 + s.day - 1;
    set_widget_attr(kWin, day, 3, 0);
    SdlLock lock(ctx->display_mutex);
    if (can_draw(ctx)) redraw_widget(screen_of(ctx), kWin, day);
  }
  if (next)
    next_month(ctx);
  else
    previous_month(ctx);
  s.day = s.hour = -1;
  s.camera_mask = 0;
  set_camera_state(ctx, 0);
  erase_bar(ctx, SW_HOUR0, 24);
  erase_bar(ctx, SW_MINUTE0, 60);
  request_search(ctx, opts);
}

void day_click(APP_CONTEXT* ctx, APP_OPTIONS* opts, int widget) {
  int& guard = search_replay_guard();
  select_day(ctx, opts, widget);
  // After a playback the DVR's first answer is not the one asked for: ask twice.
  if (guard == 1) {
    select_day(ctx, opts, widget);
    guard = 2;
  }
  set_camera_state(ctx, 0);
}

// Button 1 released on widget `w` of the search window.
void widget_action(APP_CONTEXT* ctx, APP_OPTIONS* opts, int w, int x, int y) {
  switch (w) {
    case SW_DVRTAB:
      set_widget_attr(kWin, SW_DVRTAB, 3, 1);
      set_widget_attr(kWin, SW_GROUPTAB, 3, 0);
      {
        SdlLock lock(ctx->display_mutex);
        if (can_draw(ctx)) redraw_widget(screen_of(ctx), kWin, SW_GROUPTAB);
      }
      draw_dvr_list(ctx);
      break;
    case SW_DVR_LIST: dvr_list_click(ctx, opts, x, y); break;
    case SW_CONNECT: {
      const char* line = get_selected_line(kWin, SW_DVR_LIST);
      if (line && line[0])
        connect_target(ctx, line);
      else
        error_box("Please select a DVR.");
      break;
    }
    case SW_DISCONNECT:
      reset_search_window(ctx);
      post_disconnect_request(ctx);
      break;
    case SW_SCROLLUP:
    case SW_SCROLLDN:
    case SW_PAGEUP:
    case SW_PAGEDOWN: {
      SdlLock lock(ctx->display_mutex);
      if (!can_draw(ctx)) break;
      if (w == SW_SCROLLUP)
        scroll_list_up(screen_of(ctx), kWin, SW_DVR_LIST);
      else if (w == SW_SCROLLDN)
        scroll_list_down(screen_of(ctx), kWin, SW_DVR_LIST);
      else if (w == SW_PAGEUP)
        page_list_up(screen_of(ctx), kWin, SW_DVR_LIST);
      else
        page_list_down(screen_of(ctx), kWin, SW_DVR_LIST);
      break;
    }
    case SW_TOP: start_playback_at_selection(ctx); break;
    case SW_LEFT: jump_playback(-30, 0); break;
    case SW_PREV: jump_playback(-10, 0); break;
    case SW_RIGHT: jump_playback(30, 0); break;
    case SW_PLAY:
      if (get_widget_attr(kWin, SW_PLAY, 3))
        resume_playback();
      else
        pause_playback();
      break;
    case SW_NEXT: stop_playback(); break;
    case SW_SLOWER:
      slower_playback();
      restart_playback();
      break;
    case SW_FASTER:
      faster_playback();
      restart_playback();
      break;
    case SW_POWER:
      disconnect_dvr(opts);
      app_quit.store(1);
      break;
    case SW_FULLSCREEN: toggle_fullscreen(ctx); break;
    case SW_RECORD:
      if (get_widget_attr(kWin, SW_RECORD, 3))
        start_recording(ctx);
      else
        stop_recording(ctx);
      break;
    case SW_SNAPSHOT: take_snapshot(ctx, opts); break;
    case SW_OK: take_typed_time(ctx, opts); break;
    case SW_MONTH_PLUS: month_click(ctx, opts, true); break;
    case SW_MONTH_MINUS: month_click(ctx, opts, false); break;
    case SW_MINIMIZE: SDL_WM_IconifyWindow(); break;
    default:
      if (w >= SW_DAY1 && w < SW_HOUR0)
        day_click(ctx, opts, w);
      else if (w >= SW_HOUR0 && w < SW_MINUTE0)
        select_hour(ctx, opts, w);
      else if (w >= SW_MINUTE0 && w < SW_CAMERA1)
        select_minute(ctx, opts, w);
      else if (w >= SW_CAMERA1 && w < SW_CAMERA1 + 32)
        select_cameras(ctx, opts, w);
      break;
  }
}

// The video area: selection, single-cell view, zoom and layouts.
void mouse_on_cells(const SDL_Event& ev, APP_CONTEXT* ctx) {
  const bool motion = ev.type == SDL_MOUSEMOTION;
  const int x = motion ? ev.motion.x : ev.button.x, y = motion ? ev.motion.y : ev.button.y;
  const int pos = channel_at(ctx, x, y);
  const bool ctrl = (held_modifiers() & KMOD_CTRL) != 0;
  int limit = get_max_select();
  if (limit <= 0) limit = 144;
  if (motion) {
    if (!(ev.motion.state & SDL_BUTTON(1)) || pos < 0 || g_mouse.pressed_pos < 0) return;
    if (pos == g_mouse.pressed_pos) {
      pan_zoomed_picture(ctx, pos, ev.motion.xrel, ev.motion.yrel);
      if (ctx->playback_flags.load() != 0) draw_channel_state(ctx, pos);
    } else if (!is_channel_selected(ctx, pos) && count_selected_channels(ctx) < limit) {
      select_channels_in_rect(ctx, g_mouse.pressed_pos, pos);
    }
    return;
  }
  const int b = ev.button.button;
  if (ev.type == SDL_MOUSEBUTTONDOWN) {
    if (b == SDL_BUTTON_RIGHT) {
      if (ctx->fullscreen) toggle_fullscreen(ctx);
    } else if (b == SDL_BUTTON_WHEELUP || b == SDL_BUTTON_WHEELDOWN) {
      if (wheel_over_video(ctx, b, ctrl, pos, x, y)) draw_channel_state(ctx, pos);
    } else if (b == SDL_BUTTON_LEFT && pos >= 0) {
      g_mouse.pressed_pos = pos;
      const bool selected = is_channel_selected(ctx, pos) != 0;
      if (ctrl && selected) {
        deselect_channel(ctx, pos);
      } else if (ctrl && count_selected_channels(ctx) >= limit) {
        error_box("Exceeded maximum number of selected cameras.");
      } else {
        if (!ctrl) clear_channel_selection(ctx);
        select_channel(ctx, pos);
      }
      if (ctx->playback_flags.load() != 0) draw_channel_state(ctx, pos);
    }
    return;
  }
  if (b != SDL_BUTTON_LEFT) return;
  if (g_mouse.double_click && pos >= 0) {
    if (ctx->layout == 1 && g_mouse.previous_layout > 0) {
      set_layout(ctx, g_mouse.previous_layout);
      g_mouse.previous_layout = 0;
    } else {
      g_mouse.previous_layout = ctx->layout;
      set_layout(ctx, 1);
    }
    set_layout_page(ctx, page_of_index(ctx, pos));
  }
  g_mouse.pressed_pos = -1;
}

}  // namespace

int handle_search_window_event(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS*) {
  if (ev.type == SDL_VIDEORESIZE) set_window_size(ctx, ev.resize.w, ev.resize.h, 1);
  return 0;
}

int handle_search_key(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts) {
  if (ev.type != SDL_KEYDOWN) return 0;
  int key = ev.key.keysym.sym;
  if (key == SDLK_ESCAPE) {
    if (ctx->fullscreen) toggle_fullscreen(ctx);
    return 0;
  }
  if (key == SDLK_f) {
    toggle_fullscreen(ctx);
    return 0;
  }
  if (key == SDLK_q) {
    disconnect_dvr(opts);
    app_quit.store(1);
    return 0;
  }
  if (key >= SDLK_KP0 && key <= SDLK_KP9) key = '0' + (key - SDLK_KP0);
  if (key == SDLK_SEMICOLON && (ev.key.keysym.mod & KMOD_SHIFT)) key = ':';
  const bool passes = key == SDLK_BACKSPACE || key == SDLK_TAB || key == SDLK_SPACE ||
                      key == SDLK_SLASH || (key >= '0' && key <= '9') || key == SDLK_DELETE;
  if (!passes || !accepts_time_key(key)) return 0;
  SdlLock lock(ctx->display_mutex);
  if (!can_draw(ctx)) return 0;
  SDL_Surface* screen = screen_of(ctx);
  use_text_style();
  // Delete and Backspace both take the last character off.
  if (edit_widget_key(screen, kWin, key == SDLK_DELETE ? SDLK_BACKSPACE : key) != 0) return 0;
  if (key == SDLK_BACKSPACE || key == SDLK_DELETE) return 0;
  const char* text = get_widget_text(kWin, SW_TIME_SEARCH);
  const size_t len = text ? std::strlen(text) : 0;
  // The separator the form needs next comes at once.
  const char sep = len == 4 || len == 7 ? '/' : len == 10 ? ' ' : len == 13 || len == 16 ? ':' : 0;
  if (sep) edit_widget_key(screen, kWin, sep);
  return 0;
}

int handle_search_mouse(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts) {
  ctx->last_mouse_ticks.store(SDL_GetTicks());
  const bool motion = ev.type == SDL_MOUSEMOTION;
  const int x = motion ? ev.motion.x : ev.button.x, y = motion ? ev.motion.y : ev.button.y;
  const bool up = ev.type == SDL_MOUSEBUTTONUP;
  if (up && ev.button.button == SDL_BUTTON_LEFT)
    g_mouse.double_click = note_button_release(SDL_GetTicks(), x, y) != 0;
  if (ctx->fullscreen || (in_video_rect(ctx, x, y) && !g_mouse.dragging)) {
    if (motion && !ctx->fullscreen) hover(ctx, -1, -1);
    screen_state.tooltip_widget = -1;
    if (g_mouse.pressed_widget == 0) {
      mouse_on_cells(ev, ctx);
      return 0;
    }
  }
  if (!ctx->skin) return 0;
  if (motion) {
    if (ev.motion.state & SDL_BUTTON(1)) {
      if (g_mouse.pressed_widget == 0 && (g_mouse.dragging || find_widget_at(kWin, x, y) == 0)) {
        g_mouse.dragging = true;
        move_window_by(x - g_mouse.press_x, y - g_mouse.press_y);
      }
      return 0;
    }
    hover(ctx, x, y);
    screen_state.tooltip_widget = find_widget_at(kWin, x, y);
    screen_state.mouse_x = x;
    screen_state.mouse_y = y;
    return 0;
  }
  if (!up) {
    if (ev.button.button == SDL_BUTTON_LEFT) {
      g_mouse.press_x = x;
      g_mouse.press_y = y;
    }
    const int w = find_widget_at(kWin, x, y);
    // Only "disconnect" and "power" answer while a request waits for its reply.
    const bool busy = ctx->search_state.load() == SEARCH_HOLD;
    g_mouse.pressed_widget = 0;
    if (w > 0 && w != SW_GROUPTAB && (!busy || w == SW_DISCONNECT || w == SW_POWER)) {
      SdlLock lock(ctx->display_mutex);
      if (can_draw(ctx)) set_widget_state(screen_of(ctx), kWin, w, 1);
      g_mouse.pressed_widget = w;
    }
    return 0;
  }
  g_mouse.dragging = false;
  const int pressed = g_mouse.pressed_widget;
  g_mouse.pressed_widget = 0;
  const int w = find_widget_at(kWin, x, y);
  {
    SdlLock lock(ctx->display_mutex);
    if (!can_draw(ctx)) return 0;
    if (w <= 0 || w != pressed || get_widget_state(kWin, w) != 1) {
      if (pressed > 0 && get_widget_state(kWin, pressed) == 1)
        set_widget_state(screen_of(ctx), kWin, pressed, 0);
      return 0;
    }
    press_widget(screen_of(ctx), kWin, w);
    set_widget_state(screen_of(ctx), kWin, w, 0);
  }
  const int b = ev.button.button;
  if (b == SDL_BUTTON_WHEELUP || b == SDL_BUTTON_WHEELDOWN) {
    if (w == SW_DVR_LIST) {
      SdlLock lock(ctx->display_mutex);
      if (b == SDL_BUTTON_WHEELUP)
        scroll_list_up(screen_of(ctx), kWin, w);
      else
        scroll_list_down(screen_of(ctx), kWin, w);
    }
    return 0;
  }
  if (b != SDL_BUTTON_LEFT) return 0;
  widget_action(ctx, opts, w, x, y);
  update_all(ctx);
  return 0;
}

int handle_search_user_event(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts) {
  switch (user_event_number(ev)) {
    case UE_LINK_COMMAND: {
      COMM_FIELDS m;
      if (read_link_command(ev, &m) != 0) break;
      const int is_group = m.value[5] == 1;
      if (m.command == COMM_CONNECT) {
        get_target_name(opts->auto_start, sizeof opts->auto_start, is_group, m.value[6]);
        if (opts->conn_state.load() != CONN_DISCONNECTED) {
          disconnect_dvr(opts);
          ctx->search_state.store(SEARCH_IDLE);
          log_search(is_group ? SYSLOG_DISCONNECT_GROUP : SYSLOG_DISCONNECT_DVR);
        } else {
          connect_dvr(opts);
          log_search(is_group ? SYSLOG_CONNECT_GROUP : SYSLOG_CONNECT_DVR);
        }
      } else if (m.command == COMM_DISCONNECT) {
        disconnect_dvr(opts);
        ctx->search_state.store(SEARCH_IDLE);
        log_search(is_group ? SYSLOG_DISCONNECT_GROUP : SYSLOG_DISCONNECT_DVR);
      } else if (m.command == COMM_SET_LAYOUT) {
        // set_layout refuses a layout outside 1..27 and set_layout_page a negative page.
        if (set_layout(ctx, m.value[3]) == 0) set_layout_page(ctx, m.value[4]);
      }
      break;
    }
    case UE_RECEIVER_NOTICE: {
      const int index = ev.user.data1 ? static_cast<const std::atomic<int>*>(ev.user.data1)->load()
                                      : int(reinterpret_cast<intptr_t>(ev.user.data2));
      draw_connecting_marks(index, ctx);
      break;
    }
    case UE_RECORD_STATE: {
      // Recording ended: the button goes off, and stays disabled when playback is over.
      set_widget_attr(kWin, SW_RECORD, 3, 0);
      SdlLock lock(ctx->display_mutex);
      if (SKIN_WIDGET* w = get_skin_widget(kWin, SW_RECORD); w && w->state != 4) w->state = 0;
      if (can_draw(ctx) && !ctx->fullscreen) redraw_widget(screen_of(ctx), kWin, SW_RECORD);
      break;
    }
    case UE_SEARCH_DATA: {
      ctx->search_state.store(SEARCH_IDLE);
      const RECEIVER_INFO* rx = search_receiver(ctx);
      dispatch_search_reply(ctx, static_cast<const uint8_t*>(ev.user.data1),
                            rx ? rx->protocol : 'Q');
      int& guard = search_replay_guard();
      if (guard == 2)
        guard = 0;
      else
        hide_wait_indicator(ctx);
      redraw_all_channels_plain(ctx);
      break;
    }
    case UE_LOGGED_IN: {
      ctx->search_state.store(SEARCH_IDLE);
      show_network_indicator(ctx);
      hide_wait_indicator(ctx);
      set_event_type_state(ctx, 0);
      set_month_controls_state(ctx, 0);
      SEARCH_SELECTION& s = search_selection();
      s.day = s.hour = -1;
      s.camera_mask = 0;
      request_search(ctx, opts);
      log_search(SYSLOG_CONNECTED);
      break;
    }
    case UE_SHOW_TOOLTIP: show_tooltip(ctx); break;
    case UE_HIDE_TOOLTIP: hide_tooltip(ctx); break;
    case UE_DECODER_NOTICE: fit_window_to_decoder_notice(ctx, ev); break;
    default: break;
  }
  return 0;
}

int search_event_loop(APP_OPTIONS* opts) {
  static const WindowLoop loop{handle_search_window_event,
                               handle_search_key,
                               handle_search_mouse,
                               handle_search_user_event,
                               [](int n) {
                                 return (n >= UE_LINK_COMMAND && n <= UE_LOGGED_IN) ||
                                        n == UE_SHOW_TOOLTIP || n == UE_HIDE_TOOLTIP ||
                                        n == UE_DECODER_NOTICE;
                               },
                               false,
                               "exiting event loop ..."};
  return run_window_loop(opts, loop);
}
