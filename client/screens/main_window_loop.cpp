// The main window's handlers of window, key, mouse and user events, its widget actions
// and the pad of a channel; main_event_loop runs them through the shared loop
// (event_loop.cpp). The main, extension, spot and time playback windows use them.
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
#include "client/screens/screen_state.h"
#include "client/screens/search_window.h"
#include "client/screens/skin.h"
#include "client/screens/tiles.h"
#include "client/screens/widget_text.h"

using namespace event_loop_internal;

namespace {

void request_selected_dvr(APP_CONTEXT* ctx);

void choose_layout(APP_CONTEXT* ctx, APP_OPTIONS* opts, int n) {
  if (ctx->layout_target == 2) {
    send_layout_to_slaves(opts, n);
    return;
  }
  set_layout(ctx, n);
}

// Moves the pad's channel to the other window of the link.
void move_channel_to_other_window(APP_CONTEXT* ctx, APP_OPTIONS* opts, int32_t id) {
  if (opts->master) {
    if (!window_exists("ZOL Extension Window")) {
      if (start_extension_window(opts, ctx) != 0) return;
      ModalWait modal;
      for (int waited = 0;
           waited < 3000 && !(window_exists("ZOL Extension Window") && count_slaves(opts) > 0);
           waited += 10)
        SDL_Delay(10);
    }
    if (count_enabled_channels(ctx) < 2) {
      debug_message("Can't remove last channel!");
      set_layout(ctx, ctx->layout);
      return;
    }
    if (send_add_channel_to_slave(opts, id) == 0) {
      disable_channel(ctx, id);
      renumber_channel_ids(ctx);
      set_layout(ctx, ctx->layout);
      hide_popup_panel(ctx);
    }
    return;
  }
  if (send_add_channel(opts, id) == 0) {
    disable_channel(ctx, id);
    if (count_enabled_channels(ctx) > 0)
      renumber_channel_ids(ctx);
    else
      post_disconnect_request(ctx);
    set_layout(ctx, ctx->layout);
  }
}

int ptz_speed(int widget) {
  if (widget <= W_PTZ_WN) return get_widget_attr(kMainWindow, W_PTZ_PTSPEED_LBL, 3);
  if (widget <= W_PTZ_ZOOM_OUT) return get_widget_attr(kMainWindow, W_PTZ_ZSPEED_LBL, 3);
  if (widget <= W_PTZ_FOCUS_FAR) return get_widget_attr(kMainWindow, W_PTZ_FSPEED_LBL, 3);
  return 0;
}

// A speed keeps its value on its label; the digit of the open group shows on ptz_lbl.
void step_speed(APP_CONTEXT* ctx, int label, int delta, int top) {
  int v = get_widget_attr(kMainWindow, label, 3) + delta;
  if (v < 1) v = 1;
  if (v > top) v = top;
  set_widget_attr(kMainWindow, label, 3, static_cast<uint8_t>(v));
  SdlLock lock(ctx->display_mutex);
  char text[8];
  snprintf(text, sizeof text, "%d", v);
  set_text_fg_color(SDL_Color{240, 240, 240, 0});
  set_text_bg_color(SDL_Color{16, 16, 16, 0});
  select_text_font("default");
  render_widget_text(screen_of(ctx), kMainWindow, label, text);
  set_widget_state(screen_of(ctx), kMainWindow, W_PTZ_LBL, v - 1);
}

void show_mute_widget(APP_CONTEXT* ctx, int hide, int show, int mute) {
  SdlLock lock(ctx->display_mutex);
  set_widget_attr(kMainWindow, hide, 1, 1);
  set_widget_attr(kMainWindow, show, 1, 0);
  redraw_widget(screen_of(ctx), kMainWindow, show);
  ctx->mute = mute;
}

void open_log_viewer(APP_CONTEXT* ctx, APP_OPTIONS* opts) {
  // The log viewer's requests come back on the mailslot; open it once.
  const bool live = ctx->num_receivers > 0 && ctx->receivers[0].status.load() == RX_RECEIVING;
  if (ctx->mailslot < 0 && !live) {
    // mailslot_create_reader prints its own line when another process holds the name.
    ctx->mailslot = mailslot_create_reader();
  }
  start_auxdesk("logview", opts);
}

// Scroll buttons of a panel list: scroll up, scroll down, page up, page down.
void scroll_panel_list(APP_CONTEXT* ctx, int list, int action) {
  static int (*const step[4])(SDL_Surface*, int, int) = {scroll_list_up, scroll_list_down,
                                                         page_list_up, page_list_down};
  SdlLock lock(ctx->display_mutex);
  step[action](screen_of(ctx), kMainWindow, list);
}

// The line under the pointer in the list just pressed (press_widget gave it the focus).
void select_list_line(APP_CONTEXT* ctx, int x, int y) {
  SdlLock lock(ctx->display_mutex);
  select_line_at(screen_of(ctx), kMainWindow, x, y);
}

// Zoom, focus and iris groups of the PTZ pad: at most one is open at a time.
uint8_t ptz_groups_open[3];

void open_ptz_group_of(APP_CONTEXT* ctx, int button) {
  static void (*const toggle[3])(SDL_Surface*, int, uint8_t[3]) = {
      toggle_zoom_group, toggle_focus_group, toggle_iris_group};
  SdlLock lock(ctx->display_mutex);
  for (int b = W_ZOOM_BUTTON; b <= W_IRIS_BUTTON; ++b)
    if (b != button) set_widget_state(screen_of(ctx), kMainWindow, b, 0);
  toggle[button - W_ZOOM_BUTTON](screen_of(ctx), button, ptz_groups_open);
}

// Button 1 released on widget `id` of the main window (rights already tested).
void main_widget_action(APP_CONTEXT* ctx, APP_OPTIONS* opts, int id, bool double_click, int x,
                        int y) {
  switch (id) {
    case W_CONNECT: request_selected_dvr(ctx); break;
    case W_DISCONNECT: post_disconnect_request(ctx); break;
    case W_SETUP: start_auxdesk("setup", opts); break;
    case W_SEARCH:
      if (start_search_window(opts) == 0) write_system_log(SYSLOG_START, opts->user_id, "SEARCH");
      break;
    case W_POWER: ask_exit(ctx, opts); break;
    case W_LAYOUT1: choose_layout(ctx, opts, 1); break;
    case W_LAYOUT4: choose_layout(ctx, opts, 2); break;
    case W_LAYOUT9: choose_layout(ctx, opts, 3); break;
    case W_LAYOUT16: choose_layout(ctx, opts, 4); break;
    case W_LAYOUT36: choose_layout(ctx, opts, 6); break;
    case W_FULLSCREEN: toggle_fullscreen(ctx); break;
    case W_CYCLECAM: toggle_tour(ctx); break;
    case W_SPLIT: split_selected_cells(ctx); break;
    case W_SWITCH:
      if (ctx->layout_target == 2)
        send_step_layout_to_slaves(opts);
      else
        rotate_selected_channels(ctx);
      break;
    case W_RATIO43:
      ctx->aspect43 = !ctx->aspect43;
      redraw_all_channels(ctx);
      break;
    case W_ADD_LAYOUT: register_layout_in_menu(ctx); break;
    case W_LAYOUT_LEFT: scroll_layout_strip_left(ctx); break;
    case W_LAYOUT_RIGHT: scroll_layout_strip_right(ctx); break;
    case W_SCROLL_LEFT: scroll_user_menu_left(ctx); break;
    case W_SCROLL_RIGHT: scroll_user_menu_right(ctx); break;
    case W_SNAPSHOT: take_snapshot(ctx, opts); break;
    case W_SPOTOUT1: start_spot_window(opts, ctx); break;
    case W_EMAP:
      if (start_auxdesk("emap", opts) == 0) write_system_log(SYSLOG_START, opts->user_id, "EMAP");
      break;
    case W_PIP1: toggle_pip(ctx); break;
    case W_RECORD: toggle_recording(ctx); break;
    case W_BROWSE: browse_recorded_file(opts, get_rec_path()); break;
    case W_MUTE: show_mute_widget(ctx, W_MUTE, W_NO_MUTE, 0); break;
    case W_NO_MUTE: show_mute_widget(ctx, W_NO_MUTE, W_MUTE, 1); break;
    case W_DVR_LIST:
      select_list_line(ctx, x, y);
      if (double_click) {
        if (opts->conn_state.load() == CONN_CONNECTED)
          show_listed_camera(ctx);
        else
          request_selected_dvr(ctx);
      }
      break;
    case W_SCROLLUP:
    case W_SCROLLDN:
    case W_PAGEUP:
    case W_PAGEDOWN: scroll_panel_list(ctx, W_DVR_LIST, id - W_SCROLLUP); break;
    case W_DVRTAB: {
      SdlLock lock(ctx->display_mutex);
      set_widget_attr(kMainWindow, W_DVRTAB, 3, 1);
      set_widget_attr(kMainWindow, W_GROUPTAB, 3, 0);
      redraw_widget(screen_of(ctx), kMainWindow, W_DVRTAB);
      redraw_widget(screen_of(ctx), kMainWindow, W_GROUPTAB);
    }
      draw_dvr_list(ctx);
      break;
    case W_GROUPTAB:
      if (ctx->skin_window != SKIN_SEARCH) {
        SdlLock lock(ctx->display_mutex);
        set_widget_attr(kMainWindow, W_GROUPTAB, 3, 1);
        set_widget_attr(kMainWindow, W_DVRTAB, 3, 0);
        redraw_widget(screen_of(ctx), kMainWindow, W_DVRTAB);
        redraw_widget(screen_of(ctx), kMainWindow, W_GROUPTAB);
      }
      if (ctx->skin_window != SKIN_SEARCH) draw_group_list(ctx);
      break;
    case W_EVT_LIST:
      select_list_line(ctx, x, y);
      if (double_click) {
        if (has_right(opts, W_LOG_VIEW))
          start_auxdesk("logview", opts);
        else
          show_access_box();
      }
      break;
    case W_EVT_SCRLUP:
    case W_EVT_SCRLDN:
    case W_EVT_PGUP:
    case W_EVT_PGDN: scroll_panel_list(ctx, W_EVT_LIST, id - W_EVT_SCRLUP); break;
    case W_DVRSETUP: start_auxdesk("dvrsetup", opts); break;
    case W_VOLUME_UP: volume_up(ctx); break;
    case W_VOLUME_DOWN: volume_down(ctx); break;
    case W_PTSPEED_UP: step_speed(ctx, W_PTZ_PTSPEED_LBL, 1, 9); break;
    case W_PTSPEED_DOWN: step_speed(ctx, W_PTZ_PTSPEED_LBL, -1, 9); break;
    case W_ZSPEED_UP: step_speed(ctx, W_PTZ_ZSPEED_LBL, 1, 3); break;
    case W_ZSPEED_DOWN: step_speed(ctx, W_PTZ_ZSPEED_LBL, -1, 3); break;
    case W_FSPEED_UP: step_speed(ctx, W_PTZ_FSPEED_LBL, 1, 3); break;
    case W_FSPEED_DOWN: step_speed(ctx, W_PTZ_FSPEED_LBL, -1, 3); break;
    case W_PTZ_AUTOPAN: send_ptz_to_current(ctx, 20, 0); break;
    case W_PTZ_PRESET_ON:
      if (get_widget_attr(kMainWindow, W_PTZ_PRESET_ON, 3)) {
        show_preset_controls(screen_of(ctx));
        send_ptz_to_current(ctx, 24, 0);
      } else {
        show_speed_controls(screen_of(ctx));
      }
      break;
    case W_PTZ_PRESET_LIST: select_list_line(ctx, x, y); break;
    case W_PTZ_PRESET_GO:
    case W_PTZ_PRESET_CLEAR:
      // The DVR's own number of the preset: lines skip the numbers it has not set.
      if (const int number = selected_preset_number(); number >= 0)
        send_ptz_to_current(ctx, id == W_PTZ_PRESET_GO ? 21 : 23, number);
      break;
    case W_PTZ_PRESET_SET: send_ptz_to_current(ctx, 22, 0); break;
    case W_CPU_USAGE:
    case W_NETWORK_USAGE:
      if (get_widget_attr(kMainWindow, W_CPU_USAGE, 3) < 90)
        start_monitor_program(opts, id == W_CPU_USAGE ? "CPU" : "Network");
      break;
    case W_ZOOM_BUTTON:
    case W_FOCUS_BUTTON:
    case W_IRIS_BUTTON: open_ptz_group_of(ctx, id); break;
    case W_LOG_VIEW: open_log_viewer(ctx, opts); break;
    case W_EVT_BUTTON: show_event_list(ctx); break;
    case W_INFO_BUTTON: hide_event_list(ctx); break;
    case W_MINIMIZE: SDL_WM_IconifyWindow(); break;
    default:
      if (id >= W_PTZ_FIRST && id <= W_PTZ_LAST)
        send_ptz_to_current(ctx, id - W_PTZ_FIRST, ptz_speed(id));
      else if (id >= W_USER_MENU_FIRST && id <= W_USER_MENU_LAST)
        select_menu_layout(ctx, id);
      break;
  }
}

// A slot pressed and released on itself acts as the widget it shows: a layout entry
// recalls its layout; a panel button is mirrored and then clicked.
void user_menu_click(APP_CONTEXT* ctx, APP_OPTIONS* opts, int slot, bool dbl, int x, int y) {
  const int source = user_menu_source(slot);
  if (source <= 0) return;
  if (is_active_menu_item(source)) {
    select_menu_layout(ctx, slot);
    return;
  }
  mirror_user_menu_entry(ctx, slot);
  if (!has_right(opts, source)) {
    show_access_box();
    return;
  }
  main_widget_action(ctx, opts, source, dbl, x, y);
}

// The end of a drag that carried the drag cursor: a panel widget dropped on a slot joins
// the menu; a slot dropped elsewhere than on a slot leaves it. True when it was one of those.
bool user_menu_drop(APP_CONTEXT* ctx, APP_OPTIONS* opts, int from, int to, bool dbl, int x, int y) {
  const bool from_slot = from >= W_USER_MENU_FIRST && from <= W_USER_MENU_LAST;
  const bool to_slot = to >= W_USER_MENU_FIRST && to <= W_USER_MENU_LAST;
  {
    SdlLock lock(ctx->display_mutex);
    set_widget_state(screen_of(ctx), kMainWindow, from, 0);
  }
  if (!from_slot && to_slot) {
    add_user_menu_entry(ctx, from);
    return true;
  }
  if (from_slot && to_slot) {
    user_menu_click(ctx, opts, from, dbl, x, y);
    return true;
  }
  if (from_slot) {
    if (user_menu_source(from) > 0) remove_user_menu_entry(ctx, from);
    return true;
  }
  return false;
}

// The line selected in dvr_list, the name a connect request is made for.
void request_selected_dvr(APP_CONTEXT*) {
  SKIN_WIDGET* list = get_skin_widget(kMainWindow, W_DVR_LIST);
  if (!list || list->selected < 0 || list->selected >= list->num_lines || list->selected >= 1024 ||
      !list->lines[list->selected])
    return;
  post_dvr_request(list->lines[list->selected]);
}

}  // namespace

namespace event_loop_internal {

// The pad of a channel: widgets over the video rectangle that act on that channel.
bool popup_pad_action(APP_CONTEXT* ctx, APP_OPTIONS* opts, int widget, int32_t id, int x, int y) {
  switch (widget) {
    case W_SPOTOUT2: move_channel_to_other_window(ctx, opts, id); return true;
    case W_PROBE:
      hide_popup_panel(ctx);
      start_probe(opts, ctx);
      return true;
    case W_BRIGHT_UP: brightness_up(ctx, id); return true;
    case W_BRIGHT_DOWN: brightness_down(ctx, id); return true;
    case W_CONTRAST_UP: contrast_up(ctx, id); return true;
    case W_CONTRAST_DOWN: contrast_down(ctx, id); return true;
    case W_HUE_UP: hue_up(ctx, id); return true;
    case W_HUE_DOWN: hue_down(ctx, id); return true;
    case W_SATURATION_UP: saturation_up(ctx, id); return true;
    case W_SATURATION_DOWN: saturation_down(ctx, id); return true;
    case W_RESET_COLORS: reset_adjustments(ctx, id); return true;
    case W_PIP2:
      hide_popup_panel(ctx);
      toggle_single_view(ctx, id);
      if (ctx->single_view == VIEW_TILES) hide_pip_close(ctx);
      return true;
    case W_PIP_CLOSE:
      hide_popup_panel(ctx);
      if (ctx->single_view != VIEW_TILES) {
        toggle_single_view(ctx, id);
        hide_pip_close(ctx);
      }
      return true;
    case W_DIGITAL_ZOOM_IN:
      zoom_picture_in(ctx, id, x - ctx->video_rect.x, y - ctx->video_rect.y);
      return true;
    case W_DIGITAL_ZOOM_OUT:
      zoom_picture_out(ctx, id, x - ctx->video_rect.x, y - ctx->video_rect.y);
      return true;
    default: return false;
  }
}

}  // namespace event_loop_internal

// ---------------------------------------------------------------- main window handlers

int handle_main_window_event(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts) {
  if (ev.type == SDL_ACTIVEEVENT) {
    if (ev.active.gain == 1 && (ev.active.state & (SDL_APPINPUTFOCUS | SDL_APPACTIVE))) {
      char path[512];
      snprintf(path, sizeof path, "%s%s", opts->program_dir, "setup.cfg");
      if (setup_changed(path) == 1) {
        reload_setup_info();  // prints the reload, or shows the error box
        if (opts->conn_state.load() != CONN_CONNECTED) select_list_tab(ctx);
      }
    }
  } else if (ev.type == SDL_VIDEORESIZE) {
    set_window_size(ctx, ev.resize.w, ev.resize.h, 1);
  }
  return 0;
}

int handle_main_key(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts) {
  const SDLKey key = ev.key.keysym.sym;
  const bool shift = (ev.key.keysym.mod & KMOD_SHIFT) != 0;
  switch (key) {
    case SDLK_ESCAPE:
      // Esc backs out one step: full screen, then the selection, then the program (after
      // the exit question).
      if (ctx->fullscreen) {
        toggle_fullscreen(ctx);
      } else if (count_selected_channels(ctx) > 0) {
        clear_channel_selection(ctx);
        clear_channel_audio(ctx);
      } else {
        ask_exit(ctx, opts);
      }
      break;
    case SDLK_SPACE:
      if (opts->conn_state.load() == CONN_CONNECTED)
        ctx->playback_flags.store(ctx->playback_flags.load() == 0 ? uint32_t{PB_HOLD} : 0u);
      break;
    case SDLK_1:
    case SDLK_2:
    case SDLK_3:
    case SDLK_4:
    case SDLK_5:
    case SDLK_6: set_layout(ctx, key - SDLK_0); break;
    case SDLK_a: start_extension_window(opts, ctx); break;
    case SDLK_b: shift ? brightness_up(ctx, -1) : brightness_down(ctx, -1); break;
    case SDLK_c: shift ? contrast_up(ctx, -1) : contrast_down(ctx, -1); break;
    case SDLK_d: toggle_recording(ctx); break;
    case SDLK_f: toggle_fullscreen(ctx); break;
    case SDLK_h: shift ? hue_up(ctx, -1) : hue_down(ctx, -1); break;
    case SDLK_q: ask_exit(ctx, opts); break;
    case SDLK_r: reset_adjustments(ctx, -1); break;
    case SDLK_s: shift ? saturation_up(ctx, -1) : saturation_down(ctx, -1); break;
    case SDLK_w: start_spot_window(opts, ctx); break;
    case SDLK_UP: layout_up(ctx); break;
    case SDLK_DOWN: layout_down(ctx); break;
    case SDLK_PAGEUP: next_page(ctx); break;
    case SDLK_PAGEDOWN: prev_page(ctx); break;
    case SDLK_PRINT: {
      // The screen dump goes beside the program; there is no drive C: here.
      char path[512];
      snprintf(path, sizeof path, "%s%s", opts->program_dir, "scrndmp.bmp");
      SdlLock lock(ctx->display_mutex);
      if (SDL_Surface* s = screen_of(ctx)) {
        if (SDL_RWops* rw = SDL_RWFromFile(path, "wb")) SDL_SaveBMP_RW(s, rw, 1);
      }
      break;
    }
    default: break;
  }
  return 0;
}

int handle_main_mouse(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts) {
  ctx->last_mouse_ticks.store(SDL_GetTicks());
  const bool motion = ev.type == SDL_MOUSEMOTION;
  const int x = motion ? ev.motion.x : ev.button.x;
  const int y = motion ? ev.motion.y : ev.button.y;
  bool released = false, dbl = false;
  mouse.merged = false;
  if (ev.type == SDL_MOUSEBUTTONUP && ev.button.button == SDL_BUTTON_LEFT) {
    released = true;
    dbl = note_button_release(SDL_GetTicks(), x, y) != 0;
    if (!opts->master) send_set_target(opts);
    settle_button1_release(ctx);
  }
  if (ev.type == SDL_MOUSEBUTTONUP && ev.button.button == SDL_BUTTON_RIGHT && mouse.pad_placed) {
    mouse.pad_placed = false;
    show_popup_panel(ctx);
  }
  if (ctx->fullscreen) {
    // No widgets are shown in full screen; button 3 leaves it and opens the pad.
    if (ev.type == SDL_MOUSEBUTTONDOWN && ev.button.button == SDL_BUTTON_RIGHT)
      mouse_on_cells(ev, ctx, opts, false);
    return 0;
  }
  const int window = ctx->skin_window;
  if (in_video_rect(ctx, x, y) && !mouse.dragging_window) {
    // The pointer left the panel: no widget stays hovered, no tooltip is due.
    if (motion && ctx->skin) hover_widget(ctx, window, -1, -1);
    screen_state.tooltip_widget = -1;
    // A panel widget pressed and released over the video (a drag) is finished below.
    if (!(released && mouse.pressed_widget > 0 && !in_popup_frame(mouse.pressed_widget))) {
      mouse_on_cells(ev, ctx, opts, false);
      return 0;
    }
  }
  if (!ctx->skin) return 0;
  if (motion) {
    if (ev.motion.state & SDL_BUTTON(1)) {
      // Only a press on the background moves the frameless window.
      if (mouse.press_on_background || mouse.dragging_window) {
        // The window follows the pointer: the point pressed stays under it.
        mouse.dragging_window = true;
        move_window_by(x - mouse.press_x, y - mouse.press_y);
      } else if (mouse.pressed_widget > 0 && window == kMainWindow &&
                 find_widget_at(window, x, y) != mouse.pressed_widget) {
        show_drag_cursor(ctx);
      }
      return 0;
    }
    hover_widget(ctx, window, x, y);
    screen_state.tooltip_widget = find_widget_at(window, x, y);
    screen_state.mouse_x = x;
    screen_state.mouse_y = y;
    return 0;
  }
  if (ev.type == SDL_MOUSEBUTTONDOWN && ev.button.button == SDL_BUTTON_LEFT) {
    const int w = find_widget_at(window, x, y);
    mouse.pressed_widget = w;
    mouse.press_on_background = w == 0 && !ctx->frame;
    mouse.press_x = x;
    mouse.press_y = y;
    if (w > 0) {
      SdlLock lock(ctx->display_mutex);
      set_widget_state(screen_of(ctx), window, w, 1);
    }
    return 0;
  }
  if (!released) return 0;
  const int w = mouse.pressed_widget;
  mouse.pressed_widget = 0;
  const int target = find_widget_at(window, x, y);
  // The pointer rests where the button came up: the tooltip due is that widget's, shown
  // there. After a drag it is no longer the pressed one at the press point.
  if (!in_video_rect(ctx, x, y)) {
    screen_state.tooltip_widget = target;
    screen_state.mouse_x = x;
    screen_state.mouse_y = y;
  }
  if (window == kMainWindow && w > 0 && screen_state.drag_cursor) {
    hide_drag_cursor(ctx);
    if (user_menu_drop(ctx, opts, w, target, dbl, x, y)) return 0;
  }
  hide_drag_cursor(ctx);
  if (w <= 0 || target != w) {
    if (w > 0) {
      SdlLock lock(ctx->display_mutex);
      set_widget_state(screen_of(ctx), window, w, 0);
    }
    return 0;
  }
  {
    SdlLock lock(ctx->display_mutex);
    press_widget(screen_of(ctx), window, w);
    set_widget_state(screen_of(ctx), window, w, 0);
  }
  const int target_before = ctx->layout_target;
  if (window == kMainWindow && w >= W_USER_MENU_FIRST && w <= W_USER_MENU_LAST) {
    user_menu_click(ctx, opts, w, dbl, x, y);
  } else if (!has_right(opts, w)) {
    show_access_box();
    return 0;
  } else {
    main_widget_action(ctx, opts, w, dbl, x, y);
  }
  // Only layout choices and the camera switch go on addressing the slaves.
  if (!(target_before == 2 && ((w >= W_LAYOUT1 && w <= W_LAYOUT36) || w == W_SWITCH)))
    ctx->layout_target = 1;
  return 0;
}

int handle_main_user_event(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts) {
  switch (user_event_number(ev)) {
    case UE_LINK_COMMAND: handle_link_command(ev, ctx, opts); break;
    case UE_RECEIVER_NOTICE: draw_connecting_marks(receiver_of_notice(ev), ctx); break;
    case UE_RECORD_STATE: {
      const int rec = find_widget(kMainWindow, "record");
      if (rec > 0) {
        SdlLock lock(ctx->display_mutex);
        if (ctx->fullscreen)
          get_skin_widget(kMainWindow, rec)->state = 0;
        else
          reset_widget_state(screen_of(ctx), kMainWindow, rec, 1);
      }
      break;
    }
    case UE_LOGGED_IN:
      show_network_indicator(ctx);
      hide_wait_indicator(ctx);
      // The first login offers channel 0 and its sound; a DVR that logs in again later
      // (it reconnects every few seconds when its link is poor) leaves the operator's
      // selection and audio where they are.
      if (count_selected_channels(ctx) == 0 && select_channel(ctx, 0) > 0)
        set_channel_audio(ctx, 0);
      write_system_log(SYSLOG_CONNECTED, opts->user_id, opts->auto_start);
      break;
    case UE_DVR_EVENT: show_event_news(ctx); break;
    case UE_POPUP: handle_popup_request(ev, ctx, opts); break;
    case UE_PRESET_LIST:
      fill_preset_list(ctx, static_cast<const NC_PRESET_TABLE*>(ev.user.data1));
      break;
    case UE_SHOW_CAM_INFO:
      hide_receive_stats(ctx);
      draw_cam_info(ctx, screen_state.cam_info_channel);
      break;
    case UE_SHOW_RECEIVE_STATS:
      hide_cam_info(ctx);
      draw_receive_stats(ctx);
      break;
    case UE_CPU_METER: draw_cpu_meter(ctx); break;
    case UE_NETWORK_METER: draw_network_meter(ctx); break;
    case UE_DISK_METER: draw_disk_meter(ctx); break;
    case UE_WATCHDOG: ctx->watchdog.store(get_watchdog()); break;
    case UE_SHOW_TOOLTIP: show_tooltip(ctx); break;
    case UE_HIDE_TOOLTIP: hide_tooltip(ctx); break;
    case UE_SHOW_MESSAGE:
      if (ev.user.data1 && set_message(ctx, static_cast<const char*>(ev.user.data1)) == 0) {
        SdlLock lock(ctx->display_mutex);
        show_message(ctx);
      }
      break;
    case UE_HIDE_MESSAGE: hide_message(ctx); break;
    default: break;  // 27 and 42 are for the search and event playback windows
  }
  return 0;
}

int main_event_loop(APP_OPTIONS* opts) {
  static const WindowLoop loop{handle_main_window_event,
                               handle_main_key,
                               handle_main_mouse,
                               handle_main_user_event,
                               [](int n) { return n >= 24 && n <= 42 && n != UE_SEARCH_DATA; },
                               true,
                               "Exiting event loop ..."};
  return run_window_loop(opts, loop);
}
