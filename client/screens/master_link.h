// Master/slave link between the main window and its extension windows (TCP port 6780,
// COMM_MESSAGE). The link threads are SDL threads started by start-up with the options as
// argument; the senders run on the window loop.
//
// Not built yet: pending/master_link.cpp holds stand-ins that send nothing.
#pragma once

#include <cstdint>

struct APP_OPTIONS;

int master_thread(void* opts);   // mode 0 with the master flag: listens and accepts slaves
int slave_thread(void* opts);    // mode 1: connects to the master and follows it
void close_link_socket(APP_OPTIONS* opts);  // ends the master's wait in accept

void send_exit_to_slaves(APP_OPTIONS* opts);
void send_disconnect_to_slaves(APP_OPTIONS* opts);
void send_set_target(APP_OPTIONS* opts);
void send_layout_to_slaves(APP_OPTIONS* opts, int layout);
void send_step_layout_to_slaves(APP_OPTIONS* opts);
// 0 when at least one slave got it; -1 no listening socket; -2 unknown receiver; -3 / -4
// unknown channel or a failed send; -5 no slave.
int send_add_channel_to_slave(APP_OPTIONS* opts, int32_t id);
// From a slave to its master: 0 sent; -1 not connected; -2..-4 unknown channel or failed send.
int send_add_channel(APP_OPTIONS* opts, int32_t id);
