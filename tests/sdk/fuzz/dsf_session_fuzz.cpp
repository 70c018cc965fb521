// libFuzzer target: the session connections' framing (log-on, control and data) on arbitrary
// bytes that arrive in arbitrary pieces. The first byte picks the connection and the framer's
// limits, the second seeds the piece sizes. Every packet handed out is checked against a
// plain reading of the same bytes: its header, and its body byte for byte.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "sdk/DSFSource.h"

namespace {
uint32_t BE32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int kind = data[0] % 3;  // log-on, control, data
  static const CDSFFramer::BodyRule kRules[] = {CDSFSource::LogOnBody, CDSFSource::ControlBody,
                                                CDSFSource::DataBody};
  const CDSFFramer::BodyRule rule = kRules[kind];
  // Small limits as well as the connections' own, so short inputs reach the read-past path.
  const size_t max_body = data[0] & 0x40 ? 64 : size_t(CDSFSource::kFrameBuffer - 12);
  const size_t read_ahead = data[0] & 0x80 ? 0 : 4096;
  CDSFFramer f(max_body, read_ahead);
  const uint8_t* in = data + 2;
  const size_t n = size - 2;
  size_t fed = 0, at = 0;  // bytes given to the framer; where the next packet starts in them
  uint32_t seed = data[1] * 2654435761u + 1;
  int state = kind == 1 ? 1 : 0;
  for (int packets = 0; packets < 4096;) {
    CDSFFramer::Header h;
    const uint8_t* body;
    uint32_t length;
    const CDSFFramer::Result r = f.Next(rule, state, &h, &body, &length);
    if (r == CDSFFramer::NEED_MORE) {
      if (fed == n) break;
      size_t room;
      uint8_t* to = f.Space(&room);
      if (room == 0) __builtin_trap();
      seed = seed * 1103515245u + 12345u;
      const size_t piece = std::min({n - fed, room, size_t(1 + (seed >> 16) % 3000)});
      std::memcpy(to, in + fed, piece);
      f.Commit(piece);
      fed += piece;
      continue;
    }
    ++packets;
    // The packet as a plain reading sees it.
    if (at + 12 > fed) __builtin_trap();
    const CDSFFramer::Header want{BE32(in + at), BE32(in + at + 4), BE32(in + at + 8)};
    if (h.number != want.number || h.result != want.result || h.length != want.length)
      __builtin_trap();
    const uint32_t expected = rule(want, state);
    if (expected == CDSFFramer::kNoBody) {
      if (r != CDSFFramer::PACKET || body) __builtin_trap();
      break;  // the connection ends here
    }
    if (r == CDSFFramer::SKIPPED) {
      if (expected <= max_body) __builtin_trap();
    } else {
      if (length != expected || length > max_body || at + 12 + length > fed) __builtin_trap();
      if (length && std::memcmp(body, in + at + 12, length) != 0) __builtin_trap();
    }
    at += 12 + size_t(expected);
    if (kind == 1) state = 2;  // past the control log-on's reply
    if (kind == 2) state = 1;  // past the data log-on's reply
  }
  return 0;
}
