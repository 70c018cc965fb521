// libFuzzer target: an event connection's message as a DVR sends it (a 12-byte header, then
// the payload), taken as the event server takes it and decoded into a code, text and channel.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "sdk/EventServer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint32_t number, length;
  if (!CEventServer::ReadHeader(data, size, &number, &length)) return 0;
  // The payload in a buffer of exactly its size, so overreads are caught.
  const size_t n = size - 12 < length ? size - 12 : length;
  std::unique_ptr<uint8_t[]> payload(new uint8_t[n ? n : 1]);
  if (n) std::memcpy(payload.get(), data + 12, n);
  int code = 0, channel = 0;
  std::string text;
  if (CEventServer::Decode(number, payload.get(), n, &code, &text, &channel)) {
    if ((code & 0xF0000000) != 0x10000000 || channel < 0 || channel > 255) __builtin_trap();
    volatile size_t sink = std::strlen(text.c_str());
    (void)sink;
  }
  return 0;
}
