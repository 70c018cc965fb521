// File playback window (mode 4, skin window 4 "playback"): the recorded ".zol" or ".dat" file
// of `-f` plays in the tiles; the operator seeks by fixed steps, pauses, changes the speed
// between 1/16 and 16 times, selects, zooms and pans tiles, and drags the borderless window.
//
// Threads: everything here runs on the window loop. Drawing takes the display mutex; the
// playback speed is a word the decoder threads read.
#pragma once

#include <SDL/SDL.h>

struct APP_CONTEXT;
struct APP_OPTIONS;

// At start: `play` switched on, and the speed written into `speed` as "%4.1fX".
void draw_speed_label(APP_OPTIONS* opts);
// The window's loop: 0 when the quit flag is set; -1 when the options' run flag is no longer 1.
int playback_event_loop(APP_OPTIONS* opts);

int handle_playback_window_event(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts);
int handle_playback_key(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts);
int handle_playback_mouse(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts);
int handle_playback_user_event(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts);

// The first receiver's seek time becomes `seconds` (absolute 1) or its latest decoded time +
// `seconds`; the file is positioned at the key frame for it and playback runs. 0; -1 without
// a receiver.
int seek_playback(APP_CONTEXT* ctx, double seconds, int absolute);
// Halve (down to 1/16) or double (up to 16) the playback speed and write the label again.
void speed_slower(APP_CONTEXT* ctx);
void speed_faster(APP_CONTEXT* ctx);
