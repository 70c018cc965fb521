// Stand-ins until the 'W' link lands; that module replaces this file.
#include "client/links/sdk_receiver.h"

#define PENDING [[gnu::weak]]

PENDING int sdk_set_playback_date(int, int, int, int, int, int) { return 0; }
PENDING int sdk_set_playback_time(APP_CONTEXT*, int) { return 0; }
