// Local recording of the selected channels to ".zol" files and recorded-file playback.
// The switches run on the window loop.
//
// Not built yet: pending/recording.cpp records nothing.
#pragma once

struct APP_CONTEXT;

// Switches recording of every selected channel: 0, or the number of channels that still
// record.
int toggle_recording(APP_CONTEXT* ctx);
// Closes every open recording and tells the window loop (user event 26): 0.
int stop_recording(APP_CONTEXT* ctx);
