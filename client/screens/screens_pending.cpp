// Stand-ins for functions of areas that have not landed yet (see screens_pending.h). All are
// weak: the area that brings the real function defines it and the linker takes that one.
//
// Waiting for:
//   picture adjustments ........ shrink_picture (wide pictures are then stretched whole)
//   main window panel .......... select_list_tab, draw_cam_info, hide_cam_info,
//                                draw_receive_stats, hide_receive_stats, show/hide_event_list,
//                                place/draw/hide_popup_panel, in_popup_frame, hide_pip_close,
//                                show_network_indicator, hide_wait_indicator, fill_preset_list,
//                                draw_cpu/network/disk_meter, show/hide_tooltip,
//                                set/show/hide_message,
//                                post_disconnect_request, user menu and layout strip, volume,
//                                PTZ, group list, listed camera, list scrolling
//                                (clear_channel_audio, set_channel_audio and
//                                move_audio_to_selected are complete here)
//   DVR event actions .......... handle_dvr_event
//   recording and playback ..... toggle_recording, jump/resume/pause/stop/slower/faster_playback
//   search window .............. update_search_bars
//   launcher ................... start_extension_window, start_spot_window, start_auxdesk,
//                                start_search_window, start_probe, start_monitor_program
//   master/slave link .......... send_exit_to_slaves, send_disconnect_to_slaves,
//                                send_set_target, send_layout_to_slaves,
//                                send_step_layout_to_slaves, send_add_channel_to_slave,
//                                send_add_channel
//   platform windows ........... move_window_by (dragging the frameless window)
#include "client/screens/screens_pending.h"

#include "client/foundation/app_state.h"
#include "client/foundation/channel_table.h"

#define PENDING __attribute__((weak))

// ---------------------------------------------------------------- picture adjustments
PENDING int shrink_picture(SDL_Surface*, const SDL_Rect*, SDL_Surface*) { return -1; }

// ---------------------------------------------------------------- main window panel
PENDING void select_list_tab(APP_CONTEXT*) {}
PENDING void clear_channel_audio(APP_CONTEXT* ctx) {
  for_each_channel(ctx, [](RECEIVER_INFO&, CHANNEL_INFO& ch, int) { ch.audio_on.store(0); });
}
PENDING int set_channel_audio(APP_CONTEXT* ctx, int32_t id) {
  RECEIVER_INFO* rx = find_receiver_by_channel(ctx, id);
  if (!rx) return -2;
  int k = find_channel(rx, id);
  if (k < 0) return -3;
  rx->channels[k].audio_on.store(1);
  return 0;
}
PENDING int move_audio_to_selected(APP_CONTEXT* ctx, int32_t id) {
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
PENDING int draw_cam_info(APP_CONTEXT*, int32_t) { return -2; }
PENDING int hide_cam_info(APP_CONTEXT*) { return -2; }
PENDING int draw_receive_stats(APP_CONTEXT*) { return -2; }
PENDING int hide_receive_stats(APP_CONTEXT*) { return -2; }
PENDING void show_event_list(APP_CONTEXT*) {}
PENDING void hide_event_list(APP_CONTEXT*) {}
PENDING void place_popup_panel(APP_CONTEXT*, int, int) {}
PENDING void draw_popup_panel(APP_CONTEXT*) {}
PENDING int hide_popup_panel(APP_CONTEXT*) { return -1; }
PENDING int in_popup_frame(int) { return 0; }
PENDING void hide_pip_close(APP_CONTEXT*) {}
PENDING void show_network_indicator(APP_CONTEXT*) {}
PENDING void hide_wait_indicator(APP_CONTEXT*) {}
PENDING void fill_preset_list(APP_CONTEXT*, const void*) {}
PENDING void draw_cpu_meter(APP_CONTEXT*) {}
PENDING void draw_network_meter(APP_CONTEXT*) {}
PENDING void draw_disk_meter(APP_CONTEXT*) {}
PENDING int show_tooltip(APP_CONTEXT*) { return -3; }
PENDING void hide_tooltip(APP_CONTEXT*) {}
PENDING int set_message(APP_CONTEXT*, const char*) { return -1; }
PENDING void show_message(APP_CONTEXT*) {}
PENDING int hide_message(APP_CONTEXT*) { return -2; }
PENDING void post_disconnect_request(APP_CONTEXT*) {}
PENDING void mirror_user_menu(APP_CONTEXT*) {}
PENDING int register_layout_in_menu(APP_CONTEXT*) { return -1; }
PENDING void scroll_layout_strip_left(APP_CONTEXT*) {}
PENDING void scroll_layout_strip_right(APP_CONTEXT*) {}
PENDING void scroll_user_menu_left(APP_CONTEXT*) {}
PENDING void scroll_user_menu_right(APP_CONTEXT*) {}
PENDING int select_menu_layout(APP_CONTEXT*, int) { return -1; }
PENDING void volume_up(APP_CONTEXT*) {}
PENDING void volume_down(APP_CONTEXT*) {}
PENDING int send_ptz_to_current(APP_CONTEXT*, int, int) { return -2; }
PENDING void show_preset_controls(SDL_Surface*) {}
PENDING void show_speed_controls(SDL_Surface*) {}
PENDING void toggle_ptz_group(SDL_Surface*, int) {}
PENDING void draw_group_list(APP_CONTEXT*) {}
PENDING int show_listed_camera(APP_CONTEXT*) { return -1; }
PENDING void scroll_list(APP_CONTEXT*, int, int) {}

// ---------------------------------------------------------------- DVR event actions
PENDING void handle_dvr_event(const void*) {}

// ---------------------------------------------------------------- recording and playback
PENDING void toggle_recording(APP_CONTEXT*) {}
PENDING void jump_playback(APP_CONTEXT*, int, int) {}
PENDING void resume_playback(APP_CONTEXT*) {}
PENDING void pause_playback(APP_CONTEXT*) {}
PENDING void stop_playback(APP_CONTEXT*) {}
PENDING void slower_playback(APP_CONTEXT*) {}
PENDING void faster_playback(APP_CONTEXT*) {}

// ---------------------------------------------------------------- search window
PENDING void update_search_bars(APP_CONTEXT*, const int32_t*) {}

// ---------------------------------------------------------------- launcher
PENDING int start_extension_window(APP_OPTIONS*) { return -1; }
PENDING int start_spot_window(APP_OPTIONS*) { return -1; }
PENDING int start_auxdesk(APP_OPTIONS*, const char*) { return -1; }
PENDING int start_search_window(APP_OPTIONS*) { return -1; }
PENDING int start_probe(APP_OPTIONS*, int32_t) { return -1; }
PENDING int start_monitor_program(const char*) { return -1; }

// ---------------------------------------------------------------- master/slave link
PENDING void send_exit_to_slaves(APP_OPTIONS*) {}
PENDING void send_disconnect_to_slaves(APP_OPTIONS*) {}
PENDING void send_set_target(APP_OPTIONS*) {}
PENDING void send_layout_to_slaves(APP_OPTIONS*, int) {}
PENDING void send_step_layout_to_slaves(APP_OPTIONS*) {}
PENDING int send_add_channel_to_slave(APP_OPTIONS*, int32_t) { return -1; }
PENDING int send_add_channel(APP_OPTIONS*, int32_t) { return -1; }

// ---------------------------------------------------------------- platform windows
PENDING void move_window_by(int, int) {}
