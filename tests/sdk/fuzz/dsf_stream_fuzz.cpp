// libFuzzer target: a stream header block followed by frame objects. The first two bytes give
// the header block's length; the objects after it are walked by their own length words.
#include <cstdint>
#include <cstring>
#include <memory>

#include "sdk/Protocol/DSFProtocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t n = size - 2;
  std::unique_ptr<uint8_t[]> buf(new uint8_t[n ? n : 1]);
  if (n) std::memcpy(buf.get(), data + 2, n);
  size_t head = size_t(data[0] | (data[1] << 8));
  if (head > n) head = n;
  CDSFProtocol proto;
  proto.ParseStreamHeader(buf.get(), head);
  size_t at = head;
  for (int i = 0; i < 64 && at < n; ++i) {
    const uint32_t kind = proto.ParseFrame(buf.get() + at, n - at);
    if (kind != DSF_FRAME_KIND) break;
    const DSF_FRAME_OBJECT& f = proto.Frame();
    if (f.data && f.dataLength) {
      volatile uint8_t sink = f.data[f.dataLength - 1];
      (void)sink;
    }
    at += f.length;
  }
  return 0;
}
