// Search window (mode 3): calendar, record bars and remote playback, whose bar painters and
// playback controls also serve the event playback window. Window loop only.
//
// Not built yet: pending/search_window.cpp paints nothing, sends nothing and runs the
// window until it is closed.
#pragma once

#include <cstdint>

struct APP_OPTIONS;
struct APP_CONTEXT;

void draw_search_window(APP_CONTEXT* ctx);
// 0 when the quit flag is set; -1 when the options' run flag is no longer 1.
int search_event_loop(APP_OPTIONS* opts);

// Bars and calendar from a search reply.
void enable_days(APP_CONTEXT* ctx, const uint8_t flags[31]);
void enable_cameras_by_mask(APP_CONTEXT* ctx, uint32_t mask);
void paint_hour_bars(APP_CONTEXT* ctx, const uint8_t kinds[24]);
void paint_minute_bars(APP_CONTEXT* ctx, const uint8_t kinds[60]);

// Remote playback controls.
void resume_playback();
void pause_playback();
// Plays from the current frame time + `seconds`, or from `seconds` when `absolute` is 1:
// 0, or -1 when not connected.
int jump_playback(int seconds, int absolute);
void restart_playback();
void stop_playback();
void slower_playback();
void faster_playback();
