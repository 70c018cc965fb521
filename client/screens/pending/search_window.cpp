// Stand-ins until the search window lands; that module replaces this file.
#include "client/screens/pending/wait_for_quit.h"
#include "client/screens/search_window.h"

#define PENDING [[gnu::weak]]

PENDING void draw_search_window(APP_CONTEXT*) {}
PENDING int search_event_loop(APP_OPTIONS*) { return pending_wait_for_quit(); }
PENDING void enable_days(APP_CONTEXT*, const uint8_t[31]) {}
PENDING void enable_cameras_by_mask(APP_CONTEXT*, uint32_t) {}
PENDING void paint_hour_bars(APP_CONTEXT*, const uint8_t[24]) {}
PENDING void paint_minute_bars(APP_CONTEXT*, const uint8_t[60]) {}
PENDING void resume_playback() {}
PENDING void pause_playback() {}
PENDING int jump_playback(int, int) { return -1; }
PENDING void restart_playback() {}
PENDING void stop_playback() {}
PENDING void slower_playback() {}
PENDING void faster_playback() {}
