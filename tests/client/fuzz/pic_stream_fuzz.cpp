// libFuzzer target: the 'I' picture stream as the receive thread reads it after its login:
// 76-byte control records of every kind, the wire picture headers and frames behind them into
// the rings, and in playback the control process id, the text commands it makes and the
// blocks behind the frames. Bit 0 of the first byte picks live or playback, the rest of the
// byte the seek position; the rest of the input arrives on the picture link, which ends after
// it. Work per input is bounded by the input (at most 64 KiB); the rings are emptied first.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "client/links/pic_receiver.h"
#include "platform/net/net.h"
#include "tests/client/fuzz/fuzz_rig.h"

// The receive thread's pauses (rx_pause_ms, wrapped by the linker) return at once: the 500 ms
// after a playback request would otherwise be most of the run.
extern "C" void __wrap__Z11rx_pause_msPK13RECEIVER_INFOi(const RECEIVER_INFO*, int) {}

namespace {
APP_CONTEXT* g_ctx = nullptr;
std::vector<uint8_t>* g_frame = nullptr;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_rig::quiet_stdout();
  g_ctx = fuzz_rig::make_context('I');
  g_frame = new std::vector<uint8_t>(PIC_MAX_FRAME);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 65536) return 0;
  fuzz_rig::reset(g_ctx);
  RECEIVER_INFO* rx = &g_ctx->receivers[0];
  const bool playback = data[0] & 1;
  std::snprintf(rx->file_name, sizeof rx->file_name, "%s",
                playback ? "/rec/20251130/ch01.avi" : "");
  rx->position = double(data[0] >> 1) * 7.5;
  rx->logged_in.store(0);
  int reader = -1, writer = -1, ctrl = -1, ctrl_peer = -1;
  if (fuzz_rig::feed(data + 1, size - 1, &reader, &writer) != 0) return 0;
  // The control link takes the text commands; nothing arrives on it.
  if (playback && fuzz_rig::feed(nullptr, 0, &ctrl, &ctrl_peer) != 0) {
    ::close(reader);
    ::close(writer);
    return 0;
  }
  net_set_nonblocking(reader, true);
  rx->status.store(RX_RECEIVING);
  read_pic_records(rx, reader, ctrl, g_frame->data(), g_frame->size());
  for (int fd : {reader, writer, ctrl, ctrl_peer})
    if (fd >= 0) ::close(fd);
  return 0;
}
