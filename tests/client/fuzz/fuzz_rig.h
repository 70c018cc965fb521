// What the client's fuzz targets share: an application context with one receiver and small
// rings, quiet standard output, a socket pair that carries an input to a reader, and an input
// opened as the receiver's file.
#pragma once

#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client/foundation/app_state.h"
#include "client/foundation/config/utils.h"
#include "client/links/link_notices.h"

namespace fuzz_rig {

constexpr uint32_t kRingSize = 1u << 20;  // more than one input (at most 64 KiB) can fill
constexpr int kSlots = 4;

// The parsers print a line per step; at fuzzing speed that only costs time. Boxes answer
// themselves (a fatal one also sets app_quit, which each input clears again).
inline void quiet_stdout() {
  if (!std::freopen("/dev/null", "w", stdout)) std::abort();
  setenv("VIGILO_BOX_ANSWER", "ok", 1);
}

// A context with one receiver of `protocol` (4 channels, all selected and shown) and rings.
inline APP_CONTEXT* make_context(uint8_t protocol) {
  auto* ctx = new APP_CONTEXT();
  init_app_context(ctx);
  ctx->ring_size = kRingSize;
  ctx->num_slots = kSlots;
  for (int i = 0; i < kSlots; ++i) {
    ctx->slots[i].ring = static_cast<uint8_t*>(std::calloc(1, kRingSize + 1024));
    ctx->slots[i].mutex = SDL_CreateMutex();
  }
  ctx->layout = 1;
  ctx->layouts[1].num_cells = 16;
  ctx->num_receivers = 1;
  RECEIVER_INFO* rx = &ctx->receivers[0];
  init_receiver(rx);
  rx->protocol = protocol;
  std::snprintf(rx->name, sizeof rx->name, "DVR-F");
  rx->num_video = 4;
  rx->channel_mask = 0xF;
  rx->shown_mask = 0xF;
  rx->sel_vid_ch.store(0xF);
  rx->audio_mask.store(0xF);
  rx->op_mode = 1;
  rx->sock_timeout = 1;
  rx->context = ctx;
  for (int k = 0; k < 4; ++k) {
    rx->channels[k].id = k;
    rx->channels[k].slot = k;
    rx->channels[k].audio_on.store(1);
  }
  return ctx;
}

// Empties every ring and the notice queue: each input starts from the same state.
inline void reset(APP_CONTEXT* ctx) {
  for (uint32_t i = 0; i < ctx->num_slots; ++i)
    ctx->slots[i].read_pos = ctx->slots[i].write_pos = 0;
  for (int r = 0; r < ctx->num_receivers; ++r) {
    ctx->receivers[r].pending_frames = 0;
    ctx->receivers[r].pending_bytes = 0;
  }
  clear_link_notices();
  app_quit.store(0);
}

// A connected pair: the input waits in `reader`'s receive queue, then the writer's side is
// shut, so the reader meets the end of the stream after the input. 0, or -1.
inline int feed(const uint8_t* data, size_t size, int* reader, int* writer) {
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return -1;
  int big = 1 << 20;
  ::setsockopt(sv[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  ::setsockopt(sv[0], SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
  size_t off = 0;
  while (off < size) {
    ssize_t n = ::send(sv[1], data + off, size - off, MSG_NOSIGNAL);
    if (n <= 0) break;
    off += size_t(n);
  }
  ::shutdown(sv[1], SHUT_WR);
  *reader = sv[0];
  *writer = sv[1];
  return off == size ? 0 : -1;
}

// `data` as a file in memory, opened for reading as `rx`'s file (its name a path to it). 0, or -1
// with nothing left open.
inline int open_as_file(RECEIVER_INFO* rx, const uint8_t* data, size_t size) {
  const int fd = memfd_create("input", MFD_CLOEXEC);
  if (fd < 0) return -1;
  if (size && ::write(fd, data, size) != ssize_t(size)) {
    ::close(fd);
    return -1;
  }
  std::snprintf(rx->file_name, sizeof rx->file_name, "/proc/self/fd/%d", fd);
  rx->file = fdopen(fd, "rb");
  if (!rx->file) {
    ::close(fd);
    return -1;
  }
  std::rewind(rx->file);
  return 0;
}

// Closes what open_as_file opened.
inline void close_file(RECEIVER_INFO* rx) {
  std::fclose(rx->file);
  rx->file = nullptr;
}

}  // namespace fuzz_rig
