// libFuzzer target: the DDNS login as the receive thread runs it: the request goes out, one
// reply of up to 32 KiB comes back on the link and is checked for its magic and address.
#include <cstdint>

#include "client/links/ddns.h"
#include "tests/client/fuzz/fuzz_rig.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_rig::quiet_stdout();
  set_ddns_timeouts(100, 100);
  return 0;
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
