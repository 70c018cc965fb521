// Steps every DVR receive thread shares: the stop test, interruptible pauses, the status word
// after a failure and the address look-up by host type. Receive threads only; each works on
// its own receiver.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "client/foundation/app_state.h"
#include "client/foundation/sock_io.h"

// True once the receiver is told to stop (the global flag, its status word 0) or the
// program quits.
bool rx_stopping(const RECEIVER_INFO* rx);
// Sleeps up to `ms`, waking early (within 20 ms) when the receiver is told to stop.
void rx_pause_ms(const RECEIVER_INFO* rx, int ms);
// Status word -1 when it still holds `from` (a stop written meanwhile is kept).
void rx_fail_status(RECEIVER_INFO* rx, int32_t from);
// The receiver's socket time-out in seconds (30 when none is set).
int rx_timeout_s(const RECEIVER_INFO* rx);
// Resolves `host` on a helper thread so a slow name server never holds up a stop: 0 with
// the address (network order), -1 failed or stopped.
int resolve_interruptible(const char* host, uint32_t* addr, RECEIVER_INFO* rx);
// Address by host type "IP" or "NAME" (any other type: the text when it parses as an
// address): 0 with it, -1 none. "DDNS" is the caller's.
int rx_direct_address(RECEIVER_INFO* rx, uint32_t* addr);

// Buffered reads of one link: large recv() calls fill a read-ahead buffer and packets are
// taken from it, so a stream of small frames costs a few system calls, not several per frame.
// The read-ahead starts at 64 KiB and grows to the largest packet asked for (at most 1 MiB),
// so a link of small packets never allocates and clears a megabyte.
// Time-outs and stop flags keep their meaning. The search window's busy word never holds a
// read: the reply it waits for must get through; ring_write_record drops the stream frames
// that come meanwhile.
class LinkReader {
 public:
  LinkReader(int sock, RECEIVER_INFO* rx)
      : sock_(sock), rx_(rx), buf_(new uint8_t[kFirstReadAhead]) {}

  // Reads exactly n bytes into out: 1 read; -1 failed (time-out, error, closed peer, stop);
  // 0 when `hold` answered true before they came (what came is kept for the next read).
  int read(uint8_t* out, uint32_t n, const std::function<bool()>& hold = {}) {
    if (n == 0) return 1;
    size_t avail = tail_ - head_;
    if (avail >= n) {
      std::memcpy(out, buf_.get() + head_, n);
      head_ += n;
      return 1;
    }
    compact();
    if (n <= kReadAhead) {
      reserve(n);
      int r = fill(uint32_t(n - avail), hold);
      if (r > 0) {
        std::memcpy(out, buf_.get(), n);
        head_ = n;
        return 1;
      }
      return r == 0 ? 0 : -1;
    }
    // Larger than the read-ahead: what is buffered, then the rest straight into `out`.
    std::memcpy(out, buf_.get(), avail);
    head_ = tail_ = 0;
    int partial = 0;
    int r = recv_timeout_some(sock_, out + avail, int(n - avail), int(n - avail),
                              int(rx_->sock_timeout), &rx_->status, 100, {}, &partial);
    return r > 0 ? 1 : (r == 0 ? 0 : -1);
  }
  // Like read, but returns the n bytes in place (valid until the next call) instead of
  // copying them out; n must not exceed the read-ahead. Null with *result 0 or -1.
  const uint8_t* view(uint32_t n, int* result) {
    *result = -1;
    if (n > kReadAhead) return nullptr;
    size_t avail = tail_ - head_;
    if (avail < n) {
      compact();
      reserve(n);
      int r = fill(uint32_t(n - avail));
      if (r <= 0) {
        *result = r == 0 ? 0 : -1;
        return nullptr;
      }
    }
    const uint8_t* p = buf_.get() + head_;
    head_ += n;
    *result = 1;
    return p;
  }
  int sock() const { return sock_; }

 private:
  // Moves the unread bytes to the front of the read-ahead.
  void compact() {
    if (head_ == 0) return;
    const size_t avail = tail_ - head_;
    std::memmove(buf_.get(), buf_.get() + head_, avail);
    head_ = 0;
    tail_ = avail;
  }
  // Makes room for n bytes from the front (n <= kReadAhead); the buffered bytes are kept.
  void reserve(size_t n) {
    if (n <= cap_) return;
    const size_t cap = n > 2 * cap_ ? n : (2 * cap_ < kReadAhead ? 2 * cap_ : kReadAhead);
    std::unique_ptr<uint8_t[]> bigger(new uint8_t[cap]);
    std::memcpy(bigger.get(), buf_.get(), tail_);
    buf_ = std::move(bigger);
    cap_ = cap;
  }
  // Receives at least `need` bytes behind the buffered ones (more as they come, up to the
  // buffer's end): recv_timeout_some's result. The bytes of a short fill are kept too.
  int fill(uint32_t need, const std::function<bool()>& hold = {}) {
    int partial = 0;
    int r = recv_timeout_some(sock_, buf_.get() + tail_, int(need), int(cap_ - tail_),
                              int(rx_->sock_timeout), &rx_->status, 100, hold, &partial, &drained_);
    tail_ += size_t(r > 0 ? r : partial);
    return r;
  }

  static constexpr size_t kReadAhead = 1024 * 1024;  // holds the largest accepted packet
  static constexpr size_t kFirstReadAhead = 64 * 1024;
  int sock_;
  RECEIVER_INFO* rx_;
  // Not cleared: every byte is received before it is read.
  std::unique_ptr<uint8_t[]> buf_;
  size_t cap_ = kFirstReadAhead;
  size_t head_ = 0, tail_ = 0;
  bool drained_ = false;  // the last fill emptied the socket
};
