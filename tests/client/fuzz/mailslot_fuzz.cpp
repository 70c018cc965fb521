// libFuzzer target: messages read from the mailslot: any datagram of up to 4 KiB is sent to
// a live reader, read back as a time-playback request or an event notice (as the first byte
// says) and decoded. Half the mutants are cut or padded to the size the first byte expects,
// so most reach the decoders; the others keep the sizes a reader must drop.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "client/foundation/config/mailslot.h"
#include "platform/net/local_dgram.h"
#include "tests/client/fuzz/fuzz_rig.h"

namespace {
int g_reader = -1;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_rig::quiet_stdout();
  setenv("VIGILO_MAILSLOT_DIR", "mailslot_dir", 1);  // beside the corpus
  g_reader = mailslot_create_reader();
  return g_reader >= 0 ? 0 : -1;
}

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t max_size);

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t max_size,
                                          unsigned seed) {
  size = LLVMFuzzerMutate(data, size, max_size);
  if ((seed & 1) && size >= 1) {
    const size_t want = 1 + (data[0] & 1 ? MAILSLOT_REQUEST_SIZE : EVENT_NOTICE_SIZE);
    if (want <= max_size) {
      if (size < want) std::memset(data + size, 0, want - size);
      size = want;
    }
  }
  return size;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  app_quit.store(0);
  if (size < 1 || size > 4096) return 0;
  if (local_dgram_send(MAILSLOT_NAME, data + 1, size - 1) != 0) return 0;
  uint8_t buf[EVENT_NOTICE_SIZE];
  if (data[0] & 1) {
    if (mailslot_read(g_reader, buf, MAILSLOT_REQUEST_SIZE) == 1) decode_mailslot_request(buf);
  } else {
    if (mailslot_read(g_reader, buf, EVENT_NOTICE_SIZE) == 1) decode_event_notice(buf);
  }
  for (int i = 0; i < 4 && mailslot_read(g_reader, buf, sizeof buf) != 0; ++i) {}
  return 0;
}
