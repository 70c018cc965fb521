// Stand-ins until the launcher lands; that module replaces this file. Nothing is started,
// so there is nothing to close or wait for.
#include "client/screens/launcher.h"

#define PENDING [[gnu::weak]]

PENDING int start_extension_window(APP_OPTIONS*, APP_CONTEXT*) { return -1; }
PENDING int start_spot_window(APP_OPTIONS*, APP_CONTEXT*) { return -1; }
PENDING int start_search_window(APP_OPTIONS*) { return -1; }
PENDING int start_auxdesk(const char*, APP_OPTIONS*) { return -1; }
PENDING int start_monitor_program(APP_OPTIONS*, const char*) { return -1; }
PENDING int start_probe(APP_OPTIONS*, APP_CONTEXT*) { return -1; }
PENDING int start_refresher(APP_OPTIONS*, APP_CONTEXT*) { return -1; }
PENDING void close_child_windows() {}
PENDING void wait_search_and_emap(int) {}
