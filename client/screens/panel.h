// Main window panel: statistics and camera information, indicators, meters and the clock,
// the layout strip and user menu, the PTZ pad, the channel pop-up pad, the DVR / group /
// camera lists, tooltip and message line, and the audio routing between channels.
//
// Threads: the window loop, except where a line says otherwise. Drawing takes the display
// mutex (SDL's mutexes are recursive, so callers that hold it may call in). Negative results
// name the step that refused (full screen, no skin, a widget missing from the skin); a skin
// without a widget is skipped by every operation.
#pragma once

#include <SDL/SDL.h>

#include <atomic>
#include <cstdint>

struct APP_CONTEXT;
struct APP_OPTIONS;
struct NC_PRESET_TABLE;
struct RECT16;

// --- Audio routing (panel_audio.cpp) ---
// Clears every channel's audio-on flag.
void clear_channel_audio(APP_CONTEXT* ctx);
// Turns the channel's audio on: 0; -2 unknown receiver; -3 unknown channel.
int set_channel_audio(APP_CONTEXT* ctx, int32_t id);
// Turns the channel's audio off and that of the first selected channel (receivers and
// channels in order) on: 0; -1 in picture-in-picture; -2 / -3 unknown receiver / channel.
int move_audio_to_selected(APP_CONTEXT* ctx, int32_t id);
// Tells every 'Q' DVR with a selected channel that local recording started / stopped.
void switch_q_dvrs_on(APP_CONTEXT* ctx);
void switch_q_dvrs_off(APP_CONTEXT* ctx);

// --- Start-up ---
// The tile pictures of the mode's window in the screen's format: 0, -1 without a screen.
int convert_tile_images(APP_CONTEXT* ctx);
// Event list column widths by window size, the volume meter, the three speed labels.
void setup_main_panel(APP_CONTEXT* ctx);

// --- Statistics, camera information, event list ---
// "Frames received/displayed", "KBytes received" of the last second: 0; -1 full screen;
// -2 no skin; -3 at 1024 x 768 while the event list holds their place.
int draw_receive_stats(APP_CONTEXT* ctx);
int hide_receive_stats(APP_CONTEXT* ctx);  // 0; -1; -2
void show_event_list(APP_CONTEXT* ctx);
void hide_event_list(APP_CONTEXT* ctx);
// Camera information box of channel `id`: 0; -1; -2; -3 unknown receiver; -1 no channel.
int draw_cam_info(APP_CONTEXT* ctx, int32_t id);
int hide_cam_info(APP_CONTEXT* ctx);  // 0; -1; -2
// The lines of the box for channel k of rx, in the order of the small (1024 x 768) or the
// large window. Returns the count (at most 9 of 128 bytes).
int cam_info_lines(APP_CONTEXT* ctx, struct RECEIVER_INFO* rx, int k, bool small,
                   char lines[][128]);

// --- Indicators, meters, clock ---
void show_wait_indicator(APP_CONTEXT* ctx);  // busy (search window: by the variant)
void hide_wait_indicator(APP_CONTEXT* ctx);  // and the variant back to 0
void show_network_indicator(APP_CONTEXT* ctx);
void hide_network_indicator(APP_CONTEXT* ctx);
void show_drag_cursor(APP_CONTEXT* ctx);  // the film-frame cursor while a widget is dragged
void hide_drag_cursor(APP_CONTEXT* ctx);
// Clock thread body: every second the 15 clock digits from the local time, set under the
// display mutex, until *stop is set (returns within 50 ms of it).
void clock_loop(APP_CONTEXT* ctx, const std::atomic<int>* stop);
// Meter state of a percentage: 0 for 0, 1 for 1..10, ... 10 for 91..100; -1 outside 0..100.
int meter_step(int level);
// "%d%%" of the monitors' values on the CPU, network and disk meters (nothing in full
// screen or for a value outside 0..100): 0; -2 without a skin (CPU and disk).
int draw_cpu_meter(APP_CONTEXT* ctx);
int draw_network_meter(APP_CONTEXT* ctx);
int draw_disk_meter(APP_CONTEXT* ctx);
// The output volume by 10 (clamped to 0..100), shown on the volume meter; nothing without a
// sound device.
void volume_up(APP_CONTEXT* ctx);
void volume_down(APP_CONTEXT* ctx);

// --- Layout strip (13 buttons, 9 visible at 1024 x 768; layout_menu.cpp) ---
void init_layout_strip(APP_CONTEXT* ctx);
void draw_layout_strip(APP_CONTEXT* ctx);
void scroll_layout_strip_left(APP_CONTEXT* ctx);
void scroll_layout_strip_right(APP_CONTEXT* ctx);
int layout_strip_first();  // the strip's first index f (0..12)

// --- User menu: 15 slots (widgets 164..178) of layouts or panel buttons (layout_menu.cpp) ---
void init_user_menu();
void draw_user_menu(APP_CONTEXT* ctx);
void scroll_user_menu_left(APP_CONTEXT* ctx);
void scroll_user_menu_right(APP_CONTEXT* ctx);
// The slot widget now showing `widget`; -1 for 0; 0 when that panel button is already in
// the menu; -2 when the looks differ in size ("Unable to register ..." to debug_message).
int add_user_menu_entry(APP_CONTEXT* ctx, int widget);
int remove_user_menu_entry(APP_CONTEXT* ctx, int slot);  // 0; -1 for 0; -2 empty menu
int user_menu_source(int slot);  // the widget a slot shows; -1 for 0; -2 empty menu
int user_menu_layout(int slot);  // the layout a slot stands for (-1 none, 0 removed)
int user_menu_count();
int mirror_user_menu_entry(APP_CONTEXT* ctx, int slot);  // 0, -1 for an empty slot
void mirror_user_menu(APP_CONTEXT* ctx);
// 0; -1 the current layout is an entry already (silenced); -2 "Maximum register in user
// menu." when 15 entries exist.
int register_layout_in_menu(APP_CONTEXT* ctx);
int select_menu_layout(APP_CONTEXT* ctx, int slot_widget);  // 0
void reset_user_menu();                                     // forgets the menu (tests)

// --- PTZ pad (ptz_pad.cpp; `kind` 117 zoom, 118 focus, 119 iris; `open_flags`: the three
// groups open) ---
void open_ptz_group(SDL_Surface* display, int kind);
void close_ptz_group(SDL_Surface* display, int kind);
void toggle_zoom_group(SDL_Surface* display, int kind, uint8_t open_flags[3]);
void toggle_focus_group(SDL_Surface* display, int kind, uint8_t open_flags[3]);
void toggle_iris_group(SDL_Surface* display, int kind, uint8_t open_flags[3]);
void show_preset_controls(SDL_Surface* display);
void show_speed_controls(SDL_Surface* display);
// ptz_preset_list gets the name of every preset present, in table order.
void fill_preset_list(APP_CONTEXT* ctx, const NC_PRESET_TABLE* presets);
// The DVR's number of the preset on the selected line, -1 when none is selected.
int selected_preset_number();
// 0; -1 "Please select a channel." (not layout 1 and nothing selected); -2 unknown channel.
// Only 'Q' DVRs are sent the command.
int send_ptz_to_current(APP_CONTEXT* ctx, int command, int argument);

// --- Channel pop-up pad and the enlarged window's close button ---
void place_popup_panel(APP_CONTEXT* ctx, int x, int y);  // window coordinates
void draw_popup_panel(APP_CONTEXT* ctx);                 // refresh timer thread, display mutex held
void show_popup_panel(APP_CONTEXT* ctx);  // asks the refresh timer to show the placed pad
int hide_popup_panel(APP_CONTEXT* ctx);   // 0, -1 unless shown
int in_popup_frame(int widget);
void place_pip_close(APP_CONTEXT* ctx);
void draw_pip_close(APP_CONTEXT* ctx);
void hide_pip_close(APP_CONTEXT* ctx);

// --- Lists (panel_lists.cpp) ---
void draw_dvr_list(APP_CONTEXT* ctx);
void draw_group_list(APP_CONTEXT* ctx);
void select_list_tab(APP_CONTEXT* ctx);
// The connected DVR's cameras, or the group's DVRs with their enabled cameras.
void draw_camera_list(APP_OPTIONS* opts, APP_CONTEXT* ctx);
// Layout 1 with the camera of the selected line: 0; -1 no "CAMERA" line; -2 a number or
// DVR header that names no connected camera.
int show_listed_camera(APP_CONTEXT* ctx);

// --- Tooltip and message line ---
// 0; -1 shown already; -2 no widget under the pointer; -3 no tooltip widget; -4/-5 no or
// an empty caption; -6 nothing rendered.
int show_tooltip(APP_CONTEXT* ctx);
void hide_tooltip(APP_CONTEXT* ctx);
// Where a w x h tip at the pointer (x, y) stands in a win_w x win_h window: inside the
// window and off the video area `v`, cut where it would reach either.
SDL_Rect place_tooltip(int x, int y, int w, int h, int win_w, int win_h, const RECT16& v);
int set_message(APP_CONTEXT* ctx, const char* text);  // 0; -1/-2 no message widget
void show_message(APP_CONTEXT* ctx);                  // refresh timer thread, display mutex held
int hide_message(APP_CONTEXT* ctx);                   // 0; -1 hidden already; -2 no widget

// --- Other ---
// Starts a disconnection from the window loop: wait indicator, views, audio, recording and
// camera box reset, then user event 24 with the disconnect command.
void post_disconnect_request(APP_CONTEXT* ctx);
