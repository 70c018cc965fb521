// Stand-ins until the background monitors land; that module replaces this file. The timers
// keep their period and do nothing; the threads end at once.
#include "client/screens/monitors.h"

#define PENDING [[gnu::weak]]

PENDING Uint32 status_timer(Uint32 interval, void*) { return interval; }
PENDING Uint32 mailslot_timer(Uint32 interval, void*) { return interval; }
PENDING int cpu_monitor_thread(void*) { return 0; }
PENDING int adapter_monitor_thread(void*) { return 0; }
PENDING int clock_thread(void*) { return 0; }
PENDING int event_popup_thread(void*) { return 0; }
