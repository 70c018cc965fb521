// libFuzzer target: the DDNS login as the receive thread runs it: the request goes out, one
// reply of up to 32 KiB comes back on the link and is checked for its magic and address.
// Half the mutants get the magic put back at their start, so the address and port behind it
// are read and formatted as often as the refusals are taken.
#include <cstdint>

#include "client/links/ddns.h"
#include "tests/client/fuzz/fuzz_rig.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_rig::quiet_stdout();
  set_ddns_timeouts(100, 100);
  return 0;
}

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t max_size);

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t max_size,
                                          unsigned seed) {
  size = LLVMFuzzerMutate(data, size, max_size);
  if ((seed & 1) && size >= 4)
    for (int i = 0; i < 4; ++i) data[i] = uint8_t(DDNS_MAGIC >> (8 * i));
  return size;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  app_quit.store(0);
  if (size > 32768) return 0;
  int reader = -1, writer = -1;
  if (fuzz_rig::feed(data, size, &reader, &writer) != 0) return 0;
  char dotted[32];
  loginDDNS(reader, "DVR-FUZZ", dotted, sizeof dotted);  // closes `reader`
  ::close(writer);
  uint32_t addr = 0;
  uint16_t port = 0;
  ddns_parse_reply(data, size, &addr, &port);
  return 0;
}
