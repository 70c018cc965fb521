// Writes seed frames for the tir_decode fuzzer into the folder given: both picture sizes,
// partial and all-blocks frames, from the test encoder. Each file starts with the fuzzer's
// selector byte (dialect 0, a varying output type).
#include <cstdio>
#include <string>
#include <vector>

#include "peers/media/media_gen.h"
#include "peers/tirenc/tirenc.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  int n = 0;
  for (int h : {224, 272})
    for (int variant = 0; variant < 3; ++variant) {
      const media_gen::Yuv420 p = media_gen::synth_picture(640, h, variant, variant * 5);
      std::vector<uint8_t> i420(p.y);
      i420.insert(i420.end(), p.u.begin(), p.u.end());
      i420.insert(i420.end(), p.v.begin(), p.v.end());
      std::vector<uint8_t> flags(static_cast<size_t>(40 * (h / 16)), 0);
      for (size_t i = 0; i < flags.size(); i += 3)
        flags[i] = tirenc::kCoded | static_cast<uint8_t>(i % 16);
      tirenc::Options o;
      o.quant_scale = 14;
      o.all_blocks = variant == 1;
      o.mb_flags = variant == 2 ? flags.data() : nullptr;
      tirenc::Frame f;
      if (tirenc::encode_frame(i420.data(), 640, h, o, f) != 0) return 1;
      const std::string name = std::string(argv[1]) + "/seed" + std::to_string(n);
      FILE* out = std::fopen(name.c_str(), "wb");
      if (!out) return 1;
      const unsigned char selector = static_cast<unsigned char>(n % 8);
      std::fwrite(&selector, 1, 1, out);
      std::fwrite(f.bytes.data(), 1, f.bytes.size(), out);
      std::fclose(out);
      std::printf("%s: %zu bytes\n", name.c_str(), f.bytes.size() + 1);
      ++n;
    }
  return 0;
}
