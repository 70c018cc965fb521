// Stand-in until local recording lands; that module replaces this file.
#include "client/links/recording.h"

[[gnu::weak]] int toggle_recording(APP_CONTEXT*) { return 0; }
[[gnu::weak]] int stop_recording(APP_CONTEXT*) { return 0; }
