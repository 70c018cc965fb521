// Functions that the tiles and the window loops call whose own areas have not landed yet.
//
// Each is defined weak in screens_pending.cpp and does the least (nothing, or a failure
// result), so that the area that brings the real function simply defines it with the same
// signature and takes over; it then deletes the block here and in screens_pending.cpp.
// They run on the window loop unless their comment says otherwise.
#pragma once

#include <SDL/SDL.h>

#include <cstdint>

struct APP_OPTIONS;
struct APP_CONTEXT;

// --- picture adjustments: halves the width of src of `from` into `to` at (0, 0): 0 or -1.
int shrink_picture(SDL_Surface* from, const SDL_Rect* src, SDL_Surface* to);

// --- main window panel, indicators and menus.
void select_list_tab(APP_CONTEXT* ctx);
void clear_channel_audio(APP_CONTEXT* ctx);
int set_channel_audio(APP_CONTEXT* ctx, int32_t id);
int move_audio_to_selected(APP_CONTEXT* ctx, int32_t id);
int draw_cam_info(APP_CONTEXT* ctx, int32_t id);
int hide_cam_info(APP_CONTEXT* ctx);
int draw_receive_stats(APP_CONTEXT* ctx);
int hide_receive_stats(APP_CONTEXT* ctx);
void show_event_list(APP_CONTEXT* ctx);
void hide_event_list(APP_CONTEXT* ctx);
void place_popup_panel(APP_CONTEXT* ctx, int x, int y);
void draw_popup_panel(APP_CONTEXT* ctx);   // refresh timer thread, display mutex held
int hide_popup_panel(APP_CONTEXT* ctx);
int in_popup_frame(int widget);
void hide_pip_close(APP_CONTEXT* ctx);
void show_network_indicator(APP_CONTEXT* ctx);
void hide_wait_indicator(APP_CONTEXT* ctx);
void fill_preset_list(APP_CONTEXT* ctx, const void* presets);
void draw_cpu_meter(APP_CONTEXT* ctx);
void draw_network_meter(APP_CONTEXT* ctx);
void draw_disk_meter(APP_CONTEXT* ctx);
int show_tooltip(APP_CONTEXT* ctx);
void hide_tooltip(APP_CONTEXT* ctx);
int set_message(APP_CONTEXT* ctx, const char* text);
void show_message(APP_CONTEXT* ctx);       // refresh timer thread, display mutex held
int hide_message(APP_CONTEXT* ctx);
void post_disconnect_request(APP_CONTEXT* ctx);
void mirror_user_menu(APP_CONTEXT* ctx);
int register_layout_in_menu(APP_CONTEXT* ctx);
void scroll_layout_strip_left(APP_CONTEXT* ctx);
void scroll_layout_strip_right(APP_CONTEXT* ctx);
void scroll_user_menu_left(APP_CONTEXT* ctx);
void scroll_user_menu_right(APP_CONTEXT* ctx);
int select_menu_layout(APP_CONTEXT* ctx, int slot_widget);
void volume_up(APP_CONTEXT* ctx);
void volume_down(APP_CONTEXT* ctx);
int send_ptz_to_current(APP_CONTEXT* ctx, int command, int argument);
void show_preset_controls(SDL_Surface* display);
void show_speed_controls(SDL_Surface* display);
void toggle_ptz_group(SDL_Surface* display, int kind);
void draw_group_list(APP_CONTEXT* ctx);
int show_listed_camera(APP_CONTEXT* ctx);
void scroll_list(APP_CONTEXT* ctx, int widget, int action);  // scroll/page up/down


// --- event log and DVR event actions.
void handle_dvr_event(const void* notice);

// --- local recording and playback controls.
void toggle_recording(APP_CONTEXT* ctx);
void jump_playback(APP_CONTEXT* ctx, int seconds, int absolute);
void resume_playback(APP_CONTEXT* ctx);
void pause_playback(APP_CONTEXT* ctx);
void stop_playback(APP_CONTEXT* ctx);
void slower_playback(APP_CONTEXT* ctx);
void faster_playback(APP_CONTEXT* ctx);

// --- search window bars (event playback window).
void update_search_bars(APP_CONTEXT* ctx, const int32_t* record);

// --- launcher of companion programs: 0 when started, -1 otherwise.
int start_extension_window(APP_OPTIONS* opts);
int start_spot_window(APP_OPTIONS* opts);
int start_auxdesk(APP_OPTIONS* opts, const char* mode_word);
int start_search_window(APP_OPTIONS* opts);
int start_probe(APP_OPTIONS* opts, int32_t id);
int start_monitor_program(const char* which);

// --- master/slave link.
void send_exit_to_slaves(APP_OPTIONS* opts);
void send_disconnect_to_slaves(APP_OPTIONS* opts);
void send_set_target(APP_OPTIONS* opts);
void send_layout_to_slaves(APP_OPTIONS* opts, int layout);
void send_step_layout_to_slaves(APP_OPTIONS* opts);
int send_add_channel_to_slave(APP_OPTIONS* opts, int32_t id);
int send_add_channel(APP_OPTIONS* opts, int32_t id);

// --- platform windows: moves this program's window by (dx, dy) pixels.
void move_window_by(int dx, int dy);
