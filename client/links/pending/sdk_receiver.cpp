// Stand-ins until the 'W' link lands; that module replaces this file.
#include "client/links/sdk_receiver.h"

#define PENDING [[gnu::weak]]

PENDING int sdk_set_playback_date(int, int, int, int, uint32_t, int) { return 0; }
PENDING int sdk_set_playback_time(void*, int) { return 0; }
