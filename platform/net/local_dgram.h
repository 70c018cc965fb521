// One-reader local datagram channel (AF_UNIX datagram socket) that stands in for a Windows
// mailslot. The channel lives as a socket file in a per-user directory of mode 0700
// ($VIGILO_MAILSLOT_DIR, else $XDG_RUNTIME_DIR/vigilo, else /tmp/vigilo-<uid>). Messages keep
// their boundaries. One process reads (the creator); any process may write.
// Thread use: a reader handle belongs to one thread; writes may come from any thread.
#pragma once

#include <cstddef>

// Directory that holds the channels (created 0700 when missing): 0, or -1 when it cannot be
// made or is not private to this user. The path goes to out[cap].
int local_dgram_dir(char* out, size_t cap);

// Creates channel `name` for reading: the socket, -2 while another live process holds it,
// or -1 on any other failure. A stale socket file left by a dead reader is taken over.
int local_dgram_create(const char* name);
// Reads one message without waiting: its full length (> cap when it was cut to cap bytes,
// which the caller must treat as bad), 0 when none is waiting, -1 on failure.
long local_dgram_read(int fd, void* buf, size_t cap);
// Waits up to `timeout_ms` (-1: without limit) for a message: 1 one is waiting, 0 none came,
// -1 on failure. A signal does not end the wait early.
int local_dgram_wait(int fd, int timeout_ms);
// Closes the reader and removes its socket file. Sets fd to -1.
void local_dgram_close(int& fd, const char* name);
// Sends one message to channel `name`, waiting up to `wait_ms` for room while the reader's
// queue is full: 0 sent, 1 no reader holds the channel, 2 send failed, 3 the reader's queue
// stayed full.
int local_dgram_send(const char* name, const void* buf, size_t len, int wait_ms = 0);
