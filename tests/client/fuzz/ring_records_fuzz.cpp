// libFuzzer target: the decoder thread's ring reader on arbitrary ring contents: record
// headers, FRAME_HEADER / PICTURE_HEADER / AUDIO_FRAME_HEADER records of every protocol,
// their sizes against the ring and the frame buffer, and the decoders behind them (H.264,
// MPEG-4, block-DCT, mu-law). The input is the ring from offset 0; the writer stands at its
// end. At most 64 passes per input, with a clock that never sleeps.
#include <cstdint>
#include <cstring>

#include "client/links/decoder_thread.h"
#include "client/links/video_decoders.h"
#include "tests/client/fuzz/fuzz_rig.h"
#include "platform/sync/test_clock.h"

namespace {
APP_CONTEXT* g_ctx = nullptr;
DECODER_STATE* g_st = nullptr;
uint32_t g_now = 1000;
uint32_t fake_now() { return g_now; }
void fake_sleep(uint32_t ms) { g_now += ms; }
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_rig::quiet_stdout();
  if (init_video_decoders() != 0) return -1;
  g_ctx = fuzz_rig::make_context('Q');
  g_ctx->num_slots = 1;
  g_ctx->decoder_state = DECODER_RUNNING;
  set_test_clock(TEST_CLOCK_DECODERS, fake_now, fake_sleep);
  reset_decoder_slots();
  g_st = new DECODER_STATE();
  return decoder_begin(g_ctx, g_st);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size >= fuzz_rig::kRingSize) return 0;
  fuzz_rig::reset(g_ctx);
  DISPLAY_SLOT& slot = g_ctx->slots[0];
  std::memset(slot.ring, 0, fuzz_rig::kRingSize);
  std::memcpy(slot.ring, data, size);
  slot.write_pos = uint32_t(size);
  for (int pass = 0; pass < 64 && slot.read_pos != slot.write_pos; ++pass) decoder_pass(g_st);
  return 0;
}
