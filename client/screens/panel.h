// Main window panel: statistics and camera information, indicators and meters, the layout
// strip and user menu, the PTZ pad, the channel pop-up pad, the DVR / group / camera lists,
// tooltip and message line, and the audio routing between channels.
//
// Threads: the window loop, except where a line says otherwise. Drawing functions take the
// display mutex themselves unless marked "display mutex held". Negative results name the
// step that refused (full screen, no skin, a widget missing from the skin).
//
// The panel's drawing is not built yet: everything below the audio routing has a weak
// stand-in in pending/panel.cpp that the panel's own module replaces.
#pragma once

#include <SDL/SDL.h>

#include <cstdint>

struct APP_CONTEXT;
struct NC_PRESET_TABLE;

// --- Audio routing (panel_audio.cpp) ---
// Clears every channel's audio-on flag.
void clear_channel_audio(APP_CONTEXT* ctx);
// Turns the channel's audio on: 0; -2 unknown receiver; -3 unknown channel.
int set_channel_audio(APP_CONTEXT* ctx, int32_t id);
// Turns the channel's audio off and that of the first selected channel (receivers and
// channels in order) on: 0; -1 in picture-in-picture; -2 / -3 unknown receiver / channel.
int move_audio_to_selected(APP_CONTEXT* ctx, int32_t id);

// --- Start-up ---
int convert_tile_images(APP_CONTEXT* ctx);
void setup_main_panel(APP_CONTEXT* ctx);

// --- Statistics, camera information, event list ---
int draw_receive_stats(APP_CONTEXT* ctx);
int hide_receive_stats(APP_CONTEXT* ctx);
void show_event_list(APP_CONTEXT* ctx);
void hide_event_list(APP_CONTEXT* ctx);
int draw_cam_info(APP_CONTEXT* ctx, int32_t id);
int hide_cam_info(APP_CONTEXT* ctx);

// --- Indicators and meters ---
void show_network_indicator(APP_CONTEXT* ctx);
void hide_wait_indicator(APP_CONTEXT* ctx);
void draw_cpu_meter(APP_CONTEXT* ctx);
void draw_network_meter(APP_CONTEXT* ctx);
void draw_disk_meter(APP_CONTEXT* ctx);
void volume_up(APP_CONTEXT* ctx);
void volume_down(APP_CONTEXT* ctx);

// --- Layout strip and user menu ---
void scroll_layout_strip_left(APP_CONTEXT* ctx);
void scroll_layout_strip_right(APP_CONTEXT* ctx);
void scroll_user_menu_left(APP_CONTEXT* ctx);
void scroll_user_menu_right(APP_CONTEXT* ctx);
void mirror_user_menu(APP_CONTEXT* ctx);
int register_layout_in_menu(APP_CONTEXT* ctx);
int select_menu_layout(APP_CONTEXT* ctx, int slot_widget);

// --- PTZ pad (`open_flags`: zoom, focus, iris groups open) ---
void toggle_zoom_group(SDL_Surface* display, int kind, uint8_t open_flags[3]);
void toggle_focus_group(SDL_Surface* display, int kind, uint8_t open_flags[3]);
void toggle_iris_group(SDL_Surface* display, int kind, uint8_t open_flags[3]);
void show_preset_controls(SDL_Surface* display);
void show_speed_controls(SDL_Surface* display);
void fill_preset_list(APP_CONTEXT* ctx, const NC_PRESET_TABLE* presets);
int send_ptz_to_current(APP_CONTEXT* ctx, int command, int argument);

// --- Channel pop-up pad and the enlarged window's close button ---
void place_popup_panel(APP_CONTEXT* ctx, int x, int y);
void draw_popup_panel(APP_CONTEXT* ctx);   // refresh timer thread, display mutex held
int hide_popup_panel(APP_CONTEXT* ctx);
int in_popup_frame(int widget);
void hide_pip_close(APP_CONTEXT* ctx);

// --- Lists ---
void draw_dvr_list(APP_CONTEXT* ctx);
void draw_group_list(APP_CONTEXT* ctx);
void select_list_tab(APP_CONTEXT* ctx);
int show_listed_camera(APP_CONTEXT* ctx);

// --- Tooltip and message line ---
int show_tooltip(APP_CONTEXT* ctx);
void hide_tooltip(APP_CONTEXT* ctx);
int set_message(APP_CONTEXT* ctx, const char* text);
void show_message(APP_CONTEXT* ctx);       // refresh timer thread, display mutex held
int hide_message(APP_CONTEXT* ctx);

// --- Other ---
void post_disconnect_request(APP_CONTEXT* ctx);
