// Socket transfers with time-outs for every TCP link of the client (DVR protocols, DDNS,
// master/slave link), the receive-thread stop flag, and two small counting helpers.
//
// The transfers run on the caller's thread over a non-blocking socket. Instead of the fixed
// pauses between attempts they wait on the socket with poll() for at most that pause, so
// data is taken as soon as it arrives while stop flags and time-outs are seen as before.
// The status word (5 progressed, 4 stalled for more than a second) is shared with the
// window thread, hence atomic. A transfer changes it only while it holds 4 or 5: a failure
// (-1), stop (0) or end (2) written by anyone stays.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

// Set to 1 by stop_receivers, cleared when a network receive thread starts; every transfer
// gives up (-1) when it sees it set.
extern std::atomic<int> receivers_stop;

// Sends all `len` bytes within `timeout_s` seconds: the count of the last send() call, or
// -1 on time-out, socket error ("socket_error %d\n"), stop, quit, or a time-out <= 0.
int send_timeout(int sock, const void* buf, int len, int timeout_s, std::atomic<int>* status);
// Receives exactly `len` bytes within `timeout_s` seconds: len, or -1 on time-out, socket
// error ("socket error: %d\n"), stop, quit or a peer that closed.
int recv_timeout(int sock, void* buf, int len, int timeout_s, std::atomic<int>* status);
// recv_timeout with pause `pause_ms` and an extra exit: returns 0 at once when `hold`
// answers true (the caller's "stop reading for now" condition). `hold` may be empty.
int recv_timeout_hold(int sock, void* buf, int len, int timeout_s, std::atomic<int>* status,
                      int pause_ms, const std::function<bool()>& hold);

struct RECEIVER_INFO;
// recv_timeout with the receiver's time-out and status word and 100 ms pauses; returns 0 at
// once (no data) while the search window asks readers to hold (playback flags 0, search
// state 2). Receive threads only.
int recv_timeout_rx(int sock, void* buf, int len, RECEIVER_INFO* rx);

// Receives at least `min_len` and at most `max_len` bytes (taking whatever else is already
// waiting, so a reader can buffer ahead): the count, 0 when `hold` answered true before
// min_len arrived (nothing is lost: the count so far is in *partial), or -1 as recv_timeout.
// `drained` says the caller's last read emptied the socket, so the first step waits for
// data instead of asking for it; on return it says whether this read emptied it.
int recv_timeout_some(int sock, void* buf, int min_len, int max_len, int timeout_s,
                      std::atomic<int>* status, int pause_ms, const std::function<bool()>& hold,
                      int* partial, bool* drained = nullptr);

// 1 when already started; 0 after starting. Sockets need no start-up here, so it never
// fails; the flag is kept so start/stop pair up as callers expect.
int winsock_start();
// Clears the started flag; 0.
int winsock_stop();

// 1 when the ring's fill exceeds percent% of size (equal indexes count as full), else 0.
int ring_fill_above(uint32_t size, uint32_t write_index, uint32_t read_index, int percent);
// Number of set bits of `mask`.
int count_bits(uint32_t mask);
