// libFuzzer target: ADPCM_Decode on arbitrary blocks with an arbitrary output capacity, and
// ADPCM_Encode on arbitrary samples. Buffers are exactly sized so overruns are caught.
#include <cstdint>
#include <cstring>
#include <memory>

#include "codecs/sonpak/sonpak.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > (1u << 16)) return 0;
  const int capacity = (data[0] | (data[1] << 8)) % 70000;
  const size_t n = size - 2;
  std::unique_ptr<uint8_t[]> block(new uint8_t[n ? n : 1]);
  if (n) std::memcpy(block.get(), data + 2, n);
  std::unique_ptr<int16_t[]> out(new int16_t[capacity / 2 ? capacity / 2 : 1]);
  AUDIO_DEC_PARAM p{};
  p.input_length = static_cast<int32_t>(n);
  p.input = block.get();
  p.output_length = capacity;
  p.output = out.get();
  ADPCM_Decode(&p, nullptr);

  const int count = static_cast<int>(n / 2);
  std::unique_ptr<int16_t[]> pcm(new int16_t[count ? count : 1]);
  for (int i = 0; i < count; ++i)
    pcm[i] = static_cast<int16_t>(block[2 * i] | (block[2 * i + 1] << 8));
  std::unique_ptr<uint8_t[]> coded(new uint8_t[(count + 1) / 2 + 4]);
  AUDIO_ENC_PARAM e{};
  e.input = pcm.get();
  e.sample_count = count;
  e.output = coded.get();
  ADPCM_Encode(&e);
  return 0;
}
