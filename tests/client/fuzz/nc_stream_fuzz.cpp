// libFuzzer target: the 'Q' packet stream as the receive thread reads it after its login
// request: headers, the magic search, every reply reader and the frame streams with their
// FSH in each layout. The first byte picks the login state (FSH layout and logged-in flag);
// the rest arrives on the link, which ends after it. Work per input is bounded by the input
// (at most 64 KiB) and the rings are emptied before each one.
#include <cstdint>
#include <vector>

#include "client/foundation/sock_io.h"
#include "client/links/nc_packets.h"
#include "client/links/nc_receiver.h"
#include "platform/net/net.h"
#include "tests/client/fuzz/fuzz_rig.h"

namespace {
APP_CONTEXT* g_ctx = nullptr;
std::vector<uint8_t>* g_buf = nullptr;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_rig::quiet_stdout();
  g_ctx = fuzz_rig::make_context('Q');
  g_buf = new std::vector<uint8_t>(NC_RECV_ALLOC);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 65536) return 0;
  fuzz_rig::reset(g_ctx);
  RECEIVER_INFO* rx = &g_ctx->receivers[0];
  int reader = -1, writer = -1;
  if (fuzz_rig::feed(data + 1, size - 1, &reader, &writer) != 0) return 0;
  net_set_nonblocking(reader, true);
  NC_LOGIN_STATE st;
  const int layouts[4] = {0, 1, 2, 3};
  st.fsh_layout = layouts[data[0] & 3];
  st.fsh_size = st.fsh_layout == 3 ? 40 : 32;
  rx->logged_in.store((data[0] >> 2) & 1);
  rx->sock.store(reader);
  rx->status.store(RX_RECEIVING);
  nc_read_packets(rx, reader, &st, g_buf->data(), g_buf->size());
  rx->sock.store(-1);
  ::close(reader);
  ::close(writer);
  return 0;
}
