// libFuzzer target: the 'S' link as the receive thread reads it: when bit 0 of the first
// byte is set, the MD5 login's replies first (read from the link by their header lengths),
// then the stream scanner on what follows: video frames through tir_get_info into the rings,
// audio sections, control packets and their replies. The scanner is fed in pieces of the
// size bits 1-3 pick and, once more, whole without a receiver: any split must count the same
// frames, refusals, drops and replies. Work per input is bounded by the input (64 KiB).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "client/links/tir_receiver.h"
#include "platform/net/net.h"
#include "tests/client/fuzz/fuzz_rig.h"

namespace {
APP_CONTEXT* g_ctx = nullptr;
TIR_TIME_BASE g_bases[TIR_CHANNELS];

TIR_SCANNER* g_split = nullptr;
TIR_SCANNER* g_whole = nullptr;

// A fresh scanner state on the buffers made once: init_tir_scanner clears 129 KiB, which
// was most of each input's time.
void restart(TIR_SCANNER* sc, TIR_TIME_BASE* bases) {
  std::vector<uint8_t> video = std::move(sc->video), control = std::move(sc->control);
  *sc = TIR_SCANNER{};
  sc->bases = bases;
  sc->video = std::move(video);
  sc->control = std::move(control);
}

bool same_counts(const TIR_SCANNER& a, const TIR_SCANNER& b) {
  return a.frames == b.frames && a.refused == b.refused && a.oversized == b.oversized &&
         a.replies == b.replies && a.dropped_control == b.dropped_control && a.kind == b.kind &&
         a.video_count == b.video_count && a.control_count == b.control_count;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_rig::quiet_stdout();
  g_ctx = fuzz_rig::make_context('S');
  std::snprintf(g_ctx->receivers[0].password, sizeof g_ctx->receivers[0].password, "secret");
  g_split = new TIR_SCANNER();
  g_whole = new TIR_SCANNER();
  if (init_tir_scanner(g_split, g_bases) != 0 || init_tir_scanner(g_whole, nullptr) != 0)
    std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 65536) return 0;
  fuzz_rig::reset(g_ctx);
  RECEIVER_INFO* rx = &g_ctx->receivers[0];
  std::vector<uint8_t> stream;
  if (data[0] & 1) {
    int reader = -1, writer = -1;
    if (fuzz_rig::feed(data + 1, size - 1, &reader, &writer) != 0) return 0;
    net_set_nonblocking(reader, true);
    rx->status.store(RX_RECEIVING);
    if (send_login_info(reader, rx) == 0) {
      uint8_t buf[4096];
      for (long n; (n = net_recv(reader, buf, sizeof buf)) > 0;)
        stream.insert(stream.end(), buf, buf + n);
    }
    ::close(reader);
    ::close(writer);
  } else {
    stream.assign(data + 1, data + size);
  }
  static const size_t kPieces[8] = {1, 3, 12, 64, 500, 4096, TIR_READ_SIZE, 65536};
  const size_t piece = kPieces[(data[0] >> 1) & 7];
  restart(g_split, g_bases);
  restart(g_whole, nullptr);
  TIR_SCANNER& split = *g_split;
  TIR_SCANNER& whole = *g_whole;
  for (size_t at = 0; at < stream.size(); at += piece)
    parse_tir_stream(rx, stream.data() + at, std::min(piece, stream.size() - at), &split);
  parse_tir_stream(nullptr, stream.data(), stream.size(), &whole);
  if (!same_counts(split, whole)) {
    std::fprintf(stderr,
                 "pieces of %zu bytes: %llu frames, %llu refused, %llu oversized, %llu replies; "
                 "whole: %llu, %llu, %llu, %llu\n",
                 piece, (unsigned long long)split.frames, (unsigned long long)split.refused,
                 (unsigned long long)split.oversized, (unsigned long long)split.replies,
                 (unsigned long long)whole.frames, (unsigned long long)whole.refused,
                 (unsigned long long)whole.oversized, (unsigned long long)whole.replies);
    std::abort();
  }
  return 0;
}
