// libFuzzer target: tir_get_info and tir_decode on arbitrary frames. The first input byte
// picks the header dialect and the output type; the rest is the frame. The destination is
// exactly the layout's size for the largest picture, so any write past it is caught.
#include <cstdint>
#include <cstring>
#include <memory>

#include "codecs/tir_dec/tir_dec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  static const int modes[4] = {0, 0, 1, 2};
  const int mode = modes[(data[0] >> 4) & 3];
  const int type = data[0] & 7;
  tir_init(mode);
  // A copy of exactly the frame's bytes, so a read past the length is caught.
  std::unique_ptr<uint8_t[]> frame(new uint8_t[size - 1 ? size - 1 : 1]);
  if (size > 1) std::memcpy(frame.get(), data + 1, size - 1);
  TIR_FRAME_INFO info;
  tir_get_info(frame.get(), static_cast<unsigned>(size - 1), &info);
  const size_t need = (type == 1 || type == 2)   ? 640 * 272 * 3
                      : type == 3                ? 640 * 272 * 4
                      : (type >= 4 && type <= 6) ? 640 * 272 * 2
                                                 : 640 * 272 * 3 / 2;
  std::unique_ptr<uint8_t[]> out(new uint8_t[need]);
  tir_decode(frame.get(), static_cast<unsigned>(size - 1), out.get(), type);
  return 0;
}
