// Master/slave link between the main window (the master) and its extension windows (the
// slaves): COMM_MESSAGE, 200 bytes, over TCP.
//
// The master listens on peer slot 0's address and port (127.0.0.1:6780 unless
// VIGILO_LINK_ADDRESS / VIGILO_LINK_PORT say otherwise) and keeps one peer slot per slave;
// a slave connects to slot 0's address and port. Messages for the window loop travel as
// owned copies through the links notice queue (client/links/link_notices.h) and reach the
// loop as user event 24, so a message is never overwritten while it waits in SDL's queue.
//
// Threads: master_thread, one slave_reader_thread per slave and slave_thread are SDL
// threads (start-up starts and joins them); the senders and handle_link_command run on
// the window loop. Every write of a slot's socket, and every send on it, holds that slot's
// lock; only a slot's reader (or the slave thread) closes its socket, after clearing the
// slot, so a late send or close never reaches a descriptor that was reused meanwhile.
// A failure on one connection ends that connection only.
#pragma once

#include <SDL/SDL.h>

#include <cstddef>
#include <cstdint>

struct APP_OPTIONS;
struct APP_CONTEXT;
struct PEER_ENDPOINT;

constexpr size_t COMM_MESSAGE_SIZE = 200;
constexpr uint16_t COMM_TAG = 0x6780;
constexpr uint16_t LINK_DEFAULT_PORT = 6780;

enum : int {
  COMM_EXIT = 2,
  COMM_CONNECT = 3,
  COMM_ADD_CHANNEL = 4,
  COMM_DISCONNECT = 5,
  COMM_SET_LAYOUT = 6,
  COMM_CLOSE = 7,
  COMM_KEEP_ALIVE = 8,
  COMM_SET_TARGET = 9,
  COMM_ROTATE_SELECTED = 10,
  COMM_ACK = 11,
};

// A link message's fields. Masks travel as signed words and are used unsigned.
struct COMM_FIELDS {
  uint16_t command;
  char msg[134];       // always NUL-terminated
  int32_t value[14];
};

// Reads the 200 bytes at `data`: 0, or -1 for a null pointer or a tag other than 0x6780.
int read_comm_message(const void* data, COMM_FIELDS* out);
// Writes a message (tag in network order, the rest little-endian) into 200 bytes at `out`.
void write_comm_message(const COMM_FIELDS& in, void* out);

// Start-up, once, after the command line: VIGILO_LINK_PORT (1-65535) becomes the port of
// every peer slot; in the main window VIGILO_LINK_ADDRESS (a local IPv4 address, or
// 0.0.0.0 for every address) becomes slot 0's address, the one the master listens on.
// A value that is not one prints a line and leaves the default.
void read_link_environment(APP_OPTIONS* opts);

// Thread bodies; `opts` / `peer` as named. Each ends with 0 once app_quit is set (the master
// also when close_link_socket was called); master_thread ends with -1 after its fatal box
// when it cannot listen.
int master_thread(void* opts);
int slave_reader_thread(void* peer);  // the master's PEER_ENDPOINT of one slave
int slave_thread(void* opts);
// Ends the master's wait for slaves (shutdown; the master thread closes the socket).
void close_link_socket(APP_OPTIONS* opts);
// Slaves connected to this master now.
int count_slaves(APP_OPTIONS* opts);

// Master to every slave; each returns at once without slaves.
void send_exit_to_slaves(APP_OPTIONS* opts);  // then waits 1 s when at least one got it
void send_disconnect_to_slaves(APP_OPTIONS* opts);
void send_layout_to_slaves(APP_OPTIONS* opts, int layout);
void send_step_layout_to_slaves(APP_OPTIONS* opts);
// 0 when at least one slave got it; -1 no listening socket; -2 unknown receiver; -3 / -4
// unknown channel; -4 a failed send; -5 no slave.
int send_add_channel_to_slave(APP_OPTIONS* opts, int32_t id);

// Slave to its master.
// 0 sent; -1 not connected; -2 unknown receiver; -3 unknown channel; -4 the send failed.
int send_add_channel(APP_OPTIONS* opts, int32_t id);
// One COMM_ADD_CHANNEL per receiver (video and audio masks), 100 ms apart: 0; -1 not
// connected; -2 a send failed.
int send_channels_to_master(APP_OPTIONS* opts);
void send_set_target(APP_OPTIONS* opts);
// The connection hook of disconnect_dvr in a slave: hands the channels back to the master
// with send_channels_to_master, unless the master itself commanded this disconnect
// (COMM_DISCONNECT, COMM_CONNECT, COMM_EXIT), which would only echo back to it.
void hand_back_channels(APP_OPTIONS* opts);

// User event 24 in the main, extension, spot and time playback windows: a link message or
// the connection code's request (CONN_REQUEST), carried out by its command. Window loop.
int handle_link_command(const SDL_Event& ev, APP_CONTEXT* ctx, APP_OPTIONS* opts);
// The command of user event 24 into *m: 0, or -1 when data1 is neither a link message nor
// a connect or disconnect request. *from_link (may be null) tells a message of the link.
int read_link_command(const SDL_Event& ev, COMM_FIELDS* m, bool* from_link = nullptr);

// Tests: the millisecond clock of keep-alives and silence (null: the monotonic clock).
void set_link_clock(uint32_t (*now_ms)());
