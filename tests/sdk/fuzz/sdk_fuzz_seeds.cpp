// Writes seed inputs for the SDK's fuzz targets from the simulated SDK DVR's builders:
//   sdk_fuzz_seeds dsf_reply|dsf_stream|cms_reply <folder>
#include <cstdio>
#include <string>
#include <vector>

#include "peers/wdvr/wdvr_peer.h"

namespace {
int g_count = 0;

void write(const std::string& dir, uint8_t selector, const std::vector<uint8_t>& bytes) {
  const std::string name = dir + "/seed" + std::to_string(g_count++);
  FILE* f = std::fopen(name.c_str(), "wb");
  if (!f) return;
  std::fwrite(&selector, 1, 1, f);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s dsf_reply|dsf_stream|cms_reply <folder>\n", argv[0]);
    return 2;
  }
  const std::string kind = argv[1], dir = argv[2];
  if (kind == "dsf_reply") {
    write(dir, 0, wdvr::channel_info_payload(1, 4, {{"Door", "Gate"}, {}, {"Yard"}}));
    write(dir, 0, wdvr::channel_info_payload(1, 0, {}));
    write(dir, 1, wdvr::setup_payload(4, 7));
    write(dir, 1, wdvr::setup_payload(16, 3));
    write(dir, 2, {4, 0, 1, 0, 1});
    write(dir, 3, {0, 1, 0xD4, 0xC0});
    write(dir, 4, wdvr::event_payload(0x00050001, 2, 5, 0));
    write(dir, 5, wdvr::event_payload(0x00050201, 3, 0, 0));
  } else if (kind == "dsf_stream") {
    for (int variant = 0; variant < 4; ++variant) {
      wdvr::HeaderSpec h;
      h.vqz = variant & 1;
      h.motion_bits = variant & 2 ? 40 : 0;
      h.audio = variant & 2 ? wdvr::Audio::Adpcm : wdvr::Audio::None;
      std::vector<uint8_t> in = wdvr::header_block(h);
      const size_t head = in.size();
      const std::vector<uint8_t> data(100 + 50 * variant, uint8_t(variant));
      wdvr::FrameSpec f;
      f.key = true;
      f.motion_bits = variant & 2 ? 16 : 0;
      f.text = "t";
      std::vector<uint8_t> obj = wdvr::frame_object(f, data.data(), data.size());
      in.insert(in.end(), obj.begin(), obj.end());
      f.parts = 2;
      f.index = 1;
      f.whole = 500;
      obj = wdvr::frame_object(f, data.data(), data.size());
      in.insert(in.end(), obj.begin(), obj.end());
      std::vector<uint8_t> seed{uint8_t(head >> 8)};
      seed.insert(seed.end(), in.begin(), in.end());
      write(dir, uint8_t(head & 0xFF), seed);
    }
  } else if (kind == "cms_reply") {
    write(dir, 0, wdvr::cms_packet(0xA007000F, 1, wdvr::cms_system_info_body(4)));
    write(dir, 0, wdvr::cms_packet(0xA007000F, 1, wdvr::cms_system_info_body(18)));
    write(dir, 1, wdvr::cms_packet(0xA0070200, 1, wdvr::cms_health_body({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12})));
    write(dir, 2, wdvr::cms_packet(0xA0070101, 1, {1, 0, 0, 0}));
    write(dir, 3, wdvr::cms_packet(0xA0070002, 1, wdvr::cms_a0070002_body(3)));
    write(dir, 4, wdvr::cms_packet(0xA0070003, 1, wdvr::cms_a0070003_body(3)));
  } else {
    return 2;
  }
  return 0;
}
