// Stand-ins until the file playback window lands; that module replaces this file.
#include "client/screens/pending/wait_for_quit.h"
#include "client/screens/playback_window.h"

[[gnu::weak]] void draw_speed_label(APP_OPTIONS*) {}
[[gnu::weak]] int playback_event_loop(APP_OPTIONS*) { return pending_wait_for_quit(); }
