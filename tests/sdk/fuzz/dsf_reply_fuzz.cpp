// libFuzzer target: CDSFProtocol::ParseReply on arbitrary payloads; the first byte picks the
// reply number. The payload is copied into an exactly sized buffer so overreads are caught.
#include <cstdint>
#include <cstring>
#include <memory>

#include "sdk/Protocol/DSFProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const uint32_t kNumbers[] = {0xA0000002, 0xA0080001, 0xA0031000, 0xA0060009,
                                      0x00050001, 0x00050201, 0xA0020003, 0x00020102};
  if (size < 1) return 0;
  const uint32_t number = kNumbers[data[0] % (sizeof kNumbers / sizeof kNumbers[0])];
  const size_t n = size - 1;
  std::unique_ptr<uint8_t[]> payload(new uint8_t[n ? n : 1]);
  if (n) std::memcpy(payload.get(), data + 1, n);
  static CDSFProtocol proto;  // kept across inputs, as a session keeps it
  auto setup = std::make_unique<_SDK_DVRSETUP>();
  DSF_CHANNEL_INFO info;
  DSF_RELAY_STATE relays;
  DSF_SENSOR_EVENT sensor;
  DSF_SHUTDOWN_EVENT shutdown;
  DSF_STREAM_BLOCK block;
  DSF_STREAM_DATA frame;
  uint32_t word;
  void* records[] = {&info, setup.get(), &relays, &word, &sensor, &shutdown, &block, &frame};
  proto.ParseReply(number, payload.get(), n, records[data[0] % 8]);
  if (proto.PresetNames().size() > 100000) proto.ResetSession();
  return 0;
}
