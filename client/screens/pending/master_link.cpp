// Stand-ins until the master/slave link lands; that module replaces this file. No link
// exists, so the threads end at once and nothing is sent.
#include "client/screens/master_link.h"

#define PENDING [[gnu::weak]]

PENDING int master_thread(void*) { return 0; }
PENDING int slave_thread(void*) { return 0; }
PENDING void close_link_socket(APP_OPTIONS*) {}
PENDING void send_exit_to_slaves(APP_OPTIONS*) {}
PENDING void send_disconnect_to_slaves(APP_OPTIONS*) {}
PENDING void send_set_target(APP_OPTIONS*) {}
PENDING void send_layout_to_slaves(APP_OPTIONS*, int) {}
PENDING void send_step_layout_to_slaves(APP_OPTIONS*) {}
PENDING int send_add_channel_to_slave(APP_OPTIONS*, int32_t) { return -1; }
PENDING int send_add_channel(APP_OPTIONS*, int32_t) { return -1; }
