// Master/slave link between the main window (the master) and its extension windows (the
// slaves): COMM_MESSAGE, 200 bytes, over TCP.
//
// The master listens on peer slot 0's address and port (127.0.0.1:6780 unless
// VIGILO_LINK_ADDRESS / VIGILO_LINK_PORT say otherwise) and keeps one peer slot per slave;
// a slave connects to slot 0's address and port. Messages for the window loop travel as
// owned copies through the links notice queue (client/links/link_notices.h) and reach the
// loop as user event 24, so a message is never overwritten while it waits in SDL's queue.
//
// Threads: master_thread, one slave_reader_thread per admitted slave and slave_thread are
// SDL threads (start-up starts and joins them); the senders and handle_link_command run on
// the window loop. Every write of a slot's socket, and every send on it, holds that slot's
// lock; only a slot's reader (or the slave thread) closes its socket, after clearing the
// slot, so a late send or close never reaches a descriptor that was reused meanwhile.
// A failure on one connection ends that connection only.
//
// Admission: only the operator's own windows may steer the main window. A slave opens
// every connection with COMM_HELLO, whose msg carries the link secret. Until then a
// connection holds no peer slot and no thread: the master thread keeps at most
// LINK_PENDING_HELLOS of them, the oldest making room for a new one, reads their hellos
// itself and closes one whose first message is anything else, or whose hello has not come
// whole within LINK_HELLO_MS of its accept, having sent it nothing; what arrived is read
// before that time is judged. So connections that never say hello cannot keep a window
// out. A window whose hello carries the secret takes a free slot and its reader; with all
// 16 slots taken it is closed. The secret travels in a message of its own kind so that
// COMM_MESSAGE keeps its 200-byte layout and every other command stays as it was. It is
// plain text on plain TCP: enough for the loopback address and a trusted network, not for
// an open one.
// The secret is VIGILO_LINK_SECRET when that is set, else a random one the master makes
// once per process; the master writes it to link-<port>.key in the private per-user
// directory the mailslot uses (platform/net/local_dgram.h), where the windows it starts
// and the ones its operator starts by hand on this machine read it, and removes it when
// it stops listening.
//
// Flood control: COMM_ADD_CHANNEL messages of one slave reach the window loop at most once
// per LINK_POST_GAP_MS; those arriving in between are merged per DVR name (masks or-ed) and
// posted when the gap has passed, so a slave that floods the link costs the loop a few
// messages per gap. More than LINK_PENDING_NAMES names waiting are dropped, with a line.
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
constexpr size_t LINK_SECRET_MIN = 16;   // characters of a secret given in the environment
constexpr size_t LINK_SECRET_MAX = 133;  // what msg holds with its NUL
constexpr int LINK_HELLO_MS = 1000;      // a new connection's time to present the secret
constexpr int LINK_PENDING_HELLOS = 16;  // connections waiting for their hello at most
constexpr int LINK_POST_GAP_MS = 100;    // one slave's COMM_ADD_CHANNEL posts at most this often
constexpr int LINK_PENDING_NAMES = 32;   // DVR names one slave may have waiting for the gap

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
  COMM_HELLO = 12,  // slave -> master, first on every connection: msg the link secret
};

// A link message's fields. Masks travel as signed words and are used unsigned.
struct COMM_FIELDS {
  uint16_t command;
  char msg[134];  // always NUL-terminated
  int32_t value[14];
};

// Reads the 200 bytes at `data`: 0, or -1 for a null pointer or a tag other than 0x6780.
int read_comm_message(const void* data, COMM_FIELDS* out);
// Writes a message (tag in network order, the rest little-endian) into 200 bytes at `out`.
void write_comm_message(const COMM_FIELDS& in, void* out);

// Start-up, once, after the command line: VIGILO_LINK_PORT (1-65535) becomes the port of
// every peer slot; in the main window VIGILO_LINK_ADDRESS (a local IPv4 address, or
// 0.0.0.0 for every address) becomes slot 0's address, the one the master listens on;
// VIGILO_LINK_SECRET (LINK_SECRET_MIN to LINK_SECRET_MAX characters) becomes the link
// secret of either side. A value that is not one prints a line and leaves the default.
void read_link_environment(APP_OPTIONS* opts);
// The secret a slave presents to the master on `port`: VIGILO_LINK_SECRET as read at
// start-up, else the master's key file. 0 with the text in out[cap], or -1 when there is
// none (no master of this account listens on that port here). Any thread.
int read_link_secret(uint16_t port, char* out, size_t cap);

// Thread bodies; `opts` / `peer` as named. Each ends with 0 once app_quit is set (the master
// also when close_link_socket was called); master_thread ends with -1 after its fatal box
// when it cannot listen.
int master_thread(void* opts);
int slave_reader_thread(void* peer);  // the master's PEER_ENDPOINT of one admitted slave
int slave_thread(void* opts);
// Ends the master's wait for slaves (shutdown; the master thread closes the socket).
void close_link_socket(APP_OPTIONS* opts);
// Slaves connected to this master now and admitted by their secret.
int count_slaves(APP_OPTIONS* opts);

// Master to every admitted slave; each returns at once without slaves.
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

