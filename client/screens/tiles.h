// Video tiles: the screen and video surfaces of APP_CONTEXT, the window geometry, drawing
// each channel's picture into its cell of the current layout, the picture-in-picture and
// single views, selection, picture adjustment steps, digital zoom and pan (and the wheel over
// the video area), saving pictures, and the 25 ms refresh timer, the only code that writes
// the video area of the screen. In tiles.cpp, tile_adjust.cpp (adjustments, zoom),
// tile_save.cpp and refresh_timer.cpp.
//
// Threads: drawing runs on the window loop, the decoder threads and the receive notices,
// always under the display mutex (then the enlarged-picture mutex, then a channel's picture
// mutex); the refresh timer runs on SDL's timer thread. Surface failures print their text
// and return a negative number; a failed video mode ends the program through fatal_box.
#pragma once

#include <SDL/SDL.h>

#include "client/foundation/app_state.h"

// Indexes of APP_CONTEXT::surfaces.
enum : int {
  SURF_SCREEN = 0,
  SURF_VIDEO = 1,
  SURF_FRAME = 2,      // the frame of one tile
  SURF_ENLARGED = 3,   // floating window of the picture-in-picture and single views
  SURF_WORK = 4,       // window-sized, wide pictures are halved into it
  SURF_SELECTION = 5,  // dashed frame of a pending merge
};

// View modes (APP_CONTEXT::single_view).
enum : int { VIEW_TILES = 0, VIEW_PIP = 1, VIEW_SINGLE = 2 };

// --- Surfaces and small drawing helpers (any thread; caller holds what guards `dst`) ---
// A w x h 32-bit software surface with the screen's masks (default masks before the
// screen exists). nullptr on failure or for a size below 1.
SDL_Surface* create_tile_surface(const APP_CONTEXT* ctx, int w, int h);
// Fills (x, y, w, h) clamped to `dst`; nothing for an empty or outside rectangle.
void fill_rect(SDL_Surface* dst, int x, int y, int w, int h, Uint32 colour);
// Clamps `src` to `from` and `dst` to `to` (and keeps each non-empty): true when both are
// still non-empty afterwards. Every stretch goes through it, as pictures change size while
// a tile is zoomed.
bool clamp_stretch_rects(const SDL_Surface* from, SDL_Rect* src, const SDL_Surface* to,
                         SDL_Rect* dst);
// Clamped SDL_SoftStretch between two 32-bit surfaces: 0, or -1 when nothing is left to
// draw or SDL refused. Both surfaces are locked while the pixels are read.
int stretch_blit(SDL_Surface* from, SDL_Rect src, SDL_Surface* to, SDL_Rect dst);

// --- Window and surfaces (window loop) ---
void set_window_geometry(APP_CONTEXT* ctx, int width, int height);
// Whether window point (x, y) lies in the video area (right and bottom edges outside).
bool in_video_rect(const APP_CONTEXT* ctx, int x, int y);
// 0; -1 video mode or video surface failed; -2 not 32 bits deep; -3 work surface failed.
// The three failures go through fatal_box.
int create_video_mode(APP_CONTEXT* ctx);
void set_window_size(APP_CONTEXT* ctx, int width, int height, int keep43);
// A decoder notice (user event 42) carries the size of a decoded picture: the window takes
// its width at 4:3 (set_window_size); a notice without a size changes nothing.
void fit_window_to_decoder_notice(APP_CONTEXT* ctx, const SDL_Event& ev);
// 0, or -1 when full screen cannot be entered (window unknown or maximised).
int toggle_fullscreen(APP_CONTEXT* ctx);
// Darkens the video area in 20 steps 25 ms apart (after a connection closed).
void fade_display(APP_CONTEXT* ctx);

// --- Channels and cells ---
void place_channel_cell(APP_CONTEXT* ctx, CHANNEL_INFO* ch);
// 0, or -1 "SDL_CreateRGBSurface() failed.\n". Caller holds the display mutex.
int create_display_frame(APP_CONTEXT* ctx, int w, int h, Uint32 border_rgb, Uint32 inner_rgb);
// Draws one tile (display mutex taken here): 0; -1 "find_channel() failed.\n"; -4 the frame
// of a selected tile could not be made.
int draw_channel(RECEIVER_INFO* rx, int32_t id);
// 0; -1 not on the current page; -2 no receiver; -3 no channel; -4 frame failure.
int draw_channel_state(APP_CONTEXT* ctx, int32_t id);
// 0, or -1 when the skin has no "connecting" picture.
int draw_connecting_marks(int receiver_index, APP_CONTEXT* ctx);
int redraw_all_channels(APP_CONTEXT* ctx);
int redraw_all_channels_plain(APP_CONTEXT* ctx);
// 0; -1 view mode 0; -2/-3 the enlarged channel is unknown. Caller holds the display mutex.
int draw_pip_window(APP_CONTEXT* ctx);
int create_pip_surface(APP_CONTEXT* ctx, int pic_w, int pic_h, Uint32 border_rgb, Uint32 inner_rgb);
int toggle_pip(APP_CONTEXT* ctx);                      // 0, -1 without channels
int toggle_single_view(APP_CONTEXT* ctx, int32_t id);  // 0, -1 without channels

// --- Selection (window loop) ---
int select_channel(APP_CONTEXT* ctx, int32_t id);    // 1; -1 PIP view; -2/-3 unknown id
int deselect_channel(APP_CONTEXT* ctx, int32_t id);  // 1; same failures
int clear_channel_selection(APP_CONTEXT* ctx);       // 0
int select_channels_in_rect(APP_CONTEXT* ctx, int32_t a, int32_t b);  // 1; -1, -2, -3
void save_channel_selection(APP_CONTEXT* ctx);
void restore_channel_selection(APP_CONTEXT* ctx);
int disable_channel(APP_CONTEXT* ctx, int32_t id);  // 0; -1/-2 unknown

// --- Picture adjustments: the channel with that id, or every shown channel for id < 0 ---
int brightness_up(APP_CONTEXT* ctx, int32_t id);
int brightness_down(APP_CONTEXT* ctx, int32_t id);
int contrast_up(APP_CONTEXT* ctx, int32_t id);
int contrast_down(APP_CONTEXT* ctx, int32_t id);
int hue_up(APP_CONTEXT* ctx, int32_t id);
int hue_down(APP_CONTEXT* ctx, int32_t id);
int saturation_up(APP_CONTEXT* ctx, int32_t id);
int saturation_down(APP_CONTEXT* ctx, int32_t id);
int reset_adjustments(APP_CONTEXT* ctx, int32_t id);  // also channels not shown

// --- Digital zoom: 0; -2 unknown receiver; -3 unknown channel; -4 no picture; -5 limit ---
int zoom_picture_in(APP_CONTEXT* ctx, int32_t id, int x, int y);
int zoom_picture_out(APP_CONTEXT* ctx, int32_t id, int x, int y);
int pan_zoomed_picture(APP_CONTEXT* ctx, int32_t id, int dx, int dy);
// A wheel turn (`button` SDL_BUTTON_WHEELUP or WHEELDOWN) at window point (x, y) over the
// video area: with Ctrl the layout steps (up: the previous one); else the picture of the
// channel at `pos` zooms around the point (up: out). True when a picture was zoomed, so the
// caller redraws that channel's marks; false with Ctrl or with no channel there (pos < 0).
bool wheel_over_video(APP_CONTEXT* ctx, int button, bool ctrl, int pos, int x, int y);

// --- Saving: 0, -1 ---
int save_display(APP_CONTEXT* ctx, const char* path);
int save_selected_pictures(const char* directory, APP_CONTEXT* ctx);

// Hands draw_channel and the held-receiver redraw to the decoder threads. Window loop, while
// no decoder runs; create_video_mode calls it the first time.
void install_tile_hooks();

// --- Refresh timer (SDL timer thread), added with 25 ms; `param` is the context ---
Uint32 refresh_timer(Uint32 interval, void* param);
// Set by the timer when it blitted to the screen in a tick; cleared after SDL_UpdateRect.
extern std::atomic<int> pending_update;
