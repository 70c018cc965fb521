// Writes seed inputs for the SDK's fuzz targets from the simulated SDK DVR's builders:
//   sdk_fuzz_seeds
//   dsf_reply|dsf_stream|cms_reply|dsf_session|frame_list|event_message|blocksock_read <folder>
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
void append(std::vector<uint8_t>* to, const std::vector<uint8_t>& bytes) {
  to->insert(to->end(), bytes.begin(), bytes.end());
}

// A session text as the DVR writes it: u16 length + 1, the text, its NUL.
void text16(std::vector<uint8_t>* to, const std::string& t) {
  to->push_back(uint8_t((t.size() + 1) >> 8));
  to->push_back(uint8_t(t.size() + 1));
  to->insert(to->end(), t.begin(), t.end());
  to->push_back(0);
}

// The data packets of a few frames of one channel: a key frame, a later one, and one sent in
// two parts (small, so seeds stay within the targets' input limit).
std::vector<uint8_t> frames(int channel) {
  std::vector<uint8_t> out;
  wdvr::FrameSpec f;
  f.key = true;
  for (int i = 0; i < 2; ++i) {
    const std::vector<uint8_t> data(300 + 100 * i, uint8_t(0x10 + i));
    for (const auto& p : wdvr::frame_packets(channel, f, data)) append(&out, p);
    f.key = false;
    f.time_offset += 33;
  }
  const std::vector<uint8_t> half(250, 0x33);
  f.parts = 2;
  f.whole = 500;
  for (f.index = 0; f.index < 2; ++f.index) {
    std::vector<uint8_t> payload{uint8_t(channel)};
    append(&payload, wdvr::frame_object(f, half.data(), half.size()));
    append(&out, wdvr::dsf_packet(0x00020102, 1, payload));
  }
  return out;
}

// One record of the frame list target: operation, 16-bit length, bytes.
void record(std::vector<uint8_t>* to, uint8_t op, const std::vector<uint8_t>& bytes) {
  to->push_back(op);
  to->push_back(uint8_t(bytes.size() >> 8));
  to->push_back(uint8_t(bytes.size()));
  append(to, bytes);
}
}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <target> <folder>\n", argv[0]);
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
    write(dir, 1,
          wdvr::cms_packet(0xA0070200, 1,
                           wdvr::cms_health_body({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12})));
    write(dir, 2, wdvr::cms_packet(0xA0070101, 1, {1, 0, 0, 0}));
    write(dir, 3, wdvr::cms_packet(0xA0070002, 1, wdvr::cms_a0070002_body(3)));
    write(dir, 4, wdvr::cms_packet(0xA0070003, 1, wdvr::cms_a0070003_body(3)));
  } else if (kind == "dsf_session") {
    // Selector (connection; limits), piece seed, then the DVR's bytes on that connection.
    std::vector<uint8_t> logon{7};
    std::vector<uint8_t> reply;
    text16(&reply, "WDVR-1");
    text16(&reply, "wdvr");
    reply.push_back(1);
    text16(&reply, "0.0.0.0");
    append(&logon, wdvr::dsf_packet(0xA0000001, 1, reply));
    write(dir, 0, logon);
    write(dir, 0, {3, 0xA0, 0, 0, 1, 0xF0, 0x01, 0, 3, 0, 0, 0, 0});
    std::vector<uint8_t> control{11};
    append(&control, wdvr::dsf_packet(0xA0000002, 1, wdvr::channel_info_payload(1, 4, {{"Door"}})));
    append(&control, wdvr::dsf_packet(0xA0020001, 1, wdvr::header_block(wdvr::HeaderSpec{})));
    append(&control, wdvr::dsf_packet(0xA0030201, 0xF00F0001, {1, 2, 3}));
    append(&control, wdvr::dsf_packet(0xA0031000, 1, {4, 0, 1, 0, 1}));
    write(dir, 1, control);
    write(dir, 0x43, control);  // control again, small limits
    std::vector<uint8_t> stream{29};
    append(&stream, wdvr::dsf_packet(0xA07F0002, 1, {}));
    append(&stream, frames(0));
    append(&stream, wdvr::dsf_packet(0x00020102, 0xF0030003, {}));
    stream.push_back(0);
    append(&stream, wdvr::dsf_packet(0x00020102, 0xF00A0006, {}));
    append(&stream, wdvr::dsf_packet(0x00020102, 0xF00F0002, {}));
    write(dir, 2, stream);
    write(dir, 2 | 0x40 | 0x80, stream);
  } else if (kind == "frame_list") {
    // Audio on; the stream header in band, frames (one split), then reads.
    std::vector<uint8_t> in;
    wdvr::HeaderSpec h;
    h.audio = wdvr::Audio::Adpcm;
    record(&in, 1, wdvr::header_block(h));
    std::vector<uint8_t> all = frames(0);
    for (size_t at = 0; at + 12 <= all.size();) {
      const size_t n = size_t(all[at + 8]) << 24 | size_t(all[at + 9]) << 16 |
                       size_t(all[at + 10]) << 8 | all[at + 11];
      record(
          &in, 0,
          std::vector<uint8_t>(all.begin() + long(at) + 13, all.begin() + long(at) + 12 + long(n)));
      at += 12 + n;
    }
    wdvr::FrameSpec a;
    a.kind = 1;
    record(&in, 0, wdvr::frame_object(a, all.data(), 256));
    record(&in, 2 | 8, {});
    write(dir, 0, in);
    h.h264 = true;
    h.height = 480;
    in.clear();
    record(&in, 1, wdvr::header_block(h));
    wdvr::FrameSpec t;
    t.key = true;
    const std::vector<uint8_t> nal{0, 0, 0, 1, 0x65, 1, 2, 3};
    record(&in, 0, wdvr::frame_object(t, nal.data(), nal.size()));
    t.field = true;
    record(&in, 0, wdvr::frame_object(t, nal.data(), nal.size()));
    record(&in, 2, {});
    write(dir, 1, in);
  } else if (kind == "event_message") {
    for (uint32_t number : {0x00050001u, 0x00050201u, 0x00050202u, 0x00050701u, 0x00050705u,
                            0x00050801u, 0x00050802u, 0x00050803u}) {
      const std::vector<uint8_t> p =
          wdvr::dsf_packet(number, 1, wdvr::event_payload(number, 1, 3, 1));
      write(dir, p[0], std::vector<uint8_t>(p.begin() + 1, p.end()));
    }
  } else if (kind == "blocksock_read") {
    // Reads (count, then one byte each: size and kind), then the peer's bytes.
    std::vector<uint8_t> in{6, 0x41, 0x40, 0xFF, 0x22, 0x03, 0x80};
    append(&in, frames(0));
    write(dir, in[0], std::vector<uint8_t>(in.begin() + 1, in.end()));
  } else {
    return 2;
  }
  return 0;
}
