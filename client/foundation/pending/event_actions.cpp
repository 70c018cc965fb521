// Stand-in until the DVR event actions land; that module replaces this file.
#include "client/foundation/event_log.h"

[[gnu::weak]] int handle_dvr_event(APP_OPTIONS*, APP_CONTEXT*, const EVENT_NOTICE*) { return 0; }
