// File playback window (mode 4): the speed label and the window's event loop. Window loop.
//
// Not built yet: pending/playback_window.cpp shows nothing and runs until the window closes.
#pragma once

struct APP_OPTIONS;

void draw_speed_label(APP_OPTIONS* opts);
// 0 when the quit flag is set; -1 when the options' run flag is no longer 1.
int playback_event_loop(APP_OPTIONS* opts);
