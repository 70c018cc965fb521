// Wire builders of the simulated SDK DVR, written from the layouts of the DVR's protocols.
#include <cstdio>
#include <cstring>

#include "peers/wdvr/wdvr_peer.h"
#include "platform/net/net.h"
#include "platform/wire/byte_reader.h"

namespace wdvr {

namespace {

struct Buf {
  std::vector<uint8_t> v;
  void u8(uint32_t x) { v.push_back(uint8_t(x)); }
  // The low 16 or all 32 bits of x, appended.
  void be16(uint32_t x) { put_be16(grow(2), uint16_t(x)); }
  void be32(uint32_t x) { put_be32(grow(4), x); }
  void le16(uint32_t x) { put_le16(grow(2), uint16_t(x)); }
  void le32(uint32_t x) { put_le32(grow(4), x); }
  void bytes(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    v.insert(v.end(), b, b + n);
  }
  void zeros(size_t n) { v.insert(v.end(), n, 0); }
  // DSF string16: length and text, no terminator.
  void str16(const std::string& s) {
    be16(uint32_t(s.size()));
    bytes(s.data(), s.size());
  }
  // CMS string16: length + 1, text and its NUL.
  void str16nul(const std::string& s) {
    be16(uint32_t(s.size() + 1));
    bytes(s.data(), s.size());
    u8(0);
  }
  // Stream object text: u8 length and text.
  void text8(const std::string& s) {
    u8(uint32_t(s.size()));
    bytes(s.data(), s.size());
  }
  // Words written over bytes already appended.
  void set_le32(size_t at, uint32_t x) { put_le32(v.data() + at, x); }
  void set_le16(size_t at, uint32_t x) { put_le16(v.data() + at, uint16_t(x)); }

 private:
  // n new bytes at the end: their start.
  uint8_t* grow(size_t n) {
    v.resize(v.size() + n);
    return v.data() + v.size() - n;
  }
};

// The bit field of `count` bits of which bit i is set when pred(i), MSB first.
template <class Pred>
void bit_field(Buf& b, int bytes, int count, Pred pred) {
  std::vector<uint8_t> f(size_t(bytes), 0);
  for (int i = 0; i < count && i < bytes * 8; ++i)
    if (pred(i)) f[size_t(i / 8)] |= uint8_t(0x80 >> (i % 8));
  b.bytes(f.data(), f.size());
}

const uint8_t kAdpcmId[16] = {0x1B, 0x4B, 0x3C, 0x26, 0xEC, 0xE7, 0x44, 0x48,
                              0x85, 0x36, 0x31, 0xB8, 0xC6, 0x69, 0x3B, 0x95};
const uint8_t kG723Id[16] = {'G', '7', '2', '3', '.', '1', ' ', 'A',
                             'U', 'D', 'I', 'O', 0,   0,   0,   1};
const uint8_t kNoAudioId[16] = {};

}  // namespace

std::vector<uint8_t> dsf_packet(uint32_t number, uint32_t flag,
                                const std::vector<uint8_t>& payload) {
  Buf b;
  b.be32(number);
  b.be32(flag);
  b.be32(uint32_t(payload.size()));
  b.bytes(payload.data(), payload.size());
  return b.v;
}

std::vector<uint8_t> cms_packet(uint32_t command, uint32_t flag, const std::vector<uint8_t>& body) {
  return dsf_packet(command, flag, body);
}

std::vector<uint8_t> channel_info_payload(uint32_t data_request, int count,
                                          const std::vector<std::vector<std::string>>& presets,
                                          int announced, int name_length) {
  Buf b;
  b.be32(data_request);
  b.be16(uint32_t(announced >= 0 ? announced : count));
  bit_field(b, 4, count, [](int) { return true; });
  bit_field(b, 4, count, [](int) { return false; });
  bit_field(b, 4, count, [](int i) { return i % 2 == 0; });
  bit_field(b, 4, count, [](int i) { return i == 1; });
  bit_field(b, 4, count, [](int i) { return i < 4; });
  if (count == 0) {
    b.zeros(32 * 12 + 32);
    return b.v;
  }
  for (int i = 0; i < 16; ++i) {
    b.be32(0x100u + uint32_t(i));
    b.be32(uint32_t(i * 2));
    b.u8(uint32_t(i));
    b.u8(1);
    b.u8(2);
    b.u8(3);
  }
  b.zeros(16 * 12);
  for (int ch = 0; ch < 16; ++ch) {
    const std::vector<std::string> none;
    const auto& names = ch < int(presets.size()) ? presets[size_t(ch)] : none;
    b.u8(uint32_t(names.size()));
    for (const std::string& n : names) {
      b.be16(uint32_t(name_length >= 0 ? name_length : int(n.size())));
      b.bytes(n.data(), n.size());
    }
  }
  b.zeros(16);
  return b.v;
}

const uint8_t* audio_codec_id(Audio audio) {
  switch (audio) {
    case Audio::Adpcm: return kAdpcmId;
    case Audio::G723: return kG723Id;
    default: return kNoAudioId;
  }
}

std::vector<uint8_t> header_block(const HeaderSpec& s) {
  Buf b;
  if (s.vqz) {
    b.bytes("VQZ", 3);
    b.zeros(29);
  }
  size_t at = b.v.size();
  b.le32(0xFFF10000);
  b.le32(0);
  b.u8(1);         // 8
  b.le32(2);       // 9
  b.le32(3);       // 13
  b.le16(4);       // 17
  b.le16(s.year);  // 19
  b.u8(s.month);
  b.u8(s.day);
  b.u8(s.hour);
  b.u8(s.minute);
  b.u8(s.second);
  b.u8(0x85);  // 26: date value 5, flag set
  b.le16(6);   // 27
  b.u8(7);     // 29
  b.le32(8);   // 30
  b.le32(9);   // 34
  b.le32(10);  // 38
  b.u8(11);
  b.u8(12);
  b.le16(13);
  b.u8(14);
  b.text8("WDVR");
  b.text8("simulated");
  b.set_le32(at + 4, uint32_t(b.v.size() - at));

  at = b.v.size();
  b.le32(0xFFF20000);
  b.le32(0);
  const char* vid = s.h264 ? "H264 VIDEO" : "MPEG4 VIDEO";
  uint8_t codec[16] = {};
  std::memcpy(codec, vid, std::strlen(vid));
  b.bytes(codec, 16);
  b.u8(0);  // track
  b.u8(0);
  b.le16(s.width);
  b.le16(s.height);
  b.u8(0);
  b.u8(0);
  b.u8(0);
  b.le16(uint32_t(s.motion_bits));
  if (s.motion_bits > 0)
    bit_field(b, (s.motion_bits + 7) / 8, s.motion_bits, [](int i) { return i % 3 == 0; });
  b.text8("video");
  b.text8("");
  b.set_le32(at + 4, uint32_t(b.v.size() - at));

  if (s.audio != Audio::None) {
    at = b.v.size();
    b.le32(0xFFF30000);
    b.le32(0);
    b.bytes(audio_codec_id(s.audio), 16);
    b.u8(1);
    b.le16(s.audio_rate);
    b.u8(0);
    b.u8(s.audio_setup);
    b.le16(16);
    b.text8(s.audio == Audio::Adpcm ? "adpcm" : "g723");
    b.set_le32(at + 4, uint32_t(b.v.size() - at));
  }
  if (s.info) {
    at = b.v.size();
    b.le32(0xFFF40000);
    b.le32(0);
    b.le32(1);
    b.text8("wdvr");
    b.set_le32(at + 4, uint32_t(b.v.size() - at));
  }
  b.le32(0xFFFF0000);
  b.le32(0);
  return b.v;
}

std::vector<uint8_t> frame_object(const FrameSpec& s, const uint8_t* data, size_t n) {
  Buf b;
  b.le16(0);
  b.u8(uint32_t((s.key ? 0x80 : 0) | (s.parts > 0 ? 0x40 : 0) | (s.field ? 0x20 : 0) |
                (s.kind & 0x0F)));
  b.le32(s.time_offset);
  if (s.parts > 0) {
    b.u8(uint32_t((s.parts << 4) | (s.index & 0x0F)));
    b.le32(s.whole);
  }
  b.u8(s.motion_bits > 0 ? 1 : 0);
  if (s.motion_bits > 0) {
    b.u8(0);
    b.u8(0);
    b.le16(uint32_t(s.motion_bits));
    bit_field(b, (s.motion_bits + 7) / 8, s.motion_bits, [](int i) { return i % 2 == 1; });
    b.text8("");
  }
  b.text8(s.text);
  if (n) b.bytes(data, n);
  b.set_le16(0, uint32_t(b.v.size()));
  return b.v;
}

std::vector<std::vector<uint8_t>> frame_packets(int channel, FrameSpec spec,
                                                const std::vector<uint8_t>& data) {
  constexpr size_t kPayload = 65524;
  std::vector<std::vector<uint8_t>> out;
  auto packet_of = [&](const std::vector<uint8_t>& object) {
    std::vector<uint8_t> payload;
    payload.reserve(object.size() + 1);
    payload.push_back(uint8_t(channel));
    payload.insert(payload.end(), object.begin(), object.end());
    out.push_back(dsf_packet(0x00020102, 1, payload));
  };
  spec.parts = 0;
  std::vector<uint8_t> whole = frame_object(spec, data.data(), data.size());
  if (whole.size() + 1 <= kPayload) {
    packet_of(whole);
    return out;
  }
  // Parts carry no motion group or text: 14 header bytes each.
  constexpr size_t kPart = kPayload - 1 - 14;
  const size_t parts = (data.size() + kPart - 1) / kPart;
  spec.motion_bits = 0;
  spec.text.clear();
  spec.parts = int(parts);
  spec.whole = uint32_t(data.size() + 14 * parts);
  for (size_t i = 0; i < parts; ++i) {
    spec.index = int(i);
    const size_t off = i * kPart;
    const size_t n = std::min(kPart, data.size() - off);
    packet_of(frame_object(spec, data.data() + off, n));
  }
  return out;
}

std::vector<uint8_t> setup_payload(int count, uint32_t seed, int announced, int text_extra) {
  Buf b;
  uint32_t v = seed;
  auto u32 = [&] { b.be32(v++ * 2654435761u); };
  auto u16 = [&] { b.be16(v++ & 0xFFFF); };
  auto bytes = [&](int n) {
    for (int i = 0; i < n; ++i) b.u8(v++);
  };
  auto flag = [&] { b.u8(v++ & 1); };
  // Texts alternate between full length (size - 1, or text_extra bytes longer) and short.
  auto text = [&](int size) {
    const int n = (v++ % 2) ? size - 1 + text_extra : (size / 3);
    std::string s;
    for (int i = 0; i < n; ++i) s.push_back(char('a' + (v + uint32_t(i)) % 26));
    b.str16(s);
  };
  b.be32(uint32_t(announced >= 0 ? announced : count));
  bytes(6);
  u32();
  text(32);
  for (int i = 0; i < 15; ++i) u32();
  bytes(4);
  u32();
  u32();
  bytes(6);
  for (int i = 0; i < 16; ++i) {
    flag();
    text(16);
    text(16);
    text(16);
    bytes(11);
    u32();
  }
  for (int i = 0; i < 32; ++i) {
    flag();
    u32();
    u32();
    text(32);
  }
  for (int i = 0; i < count; ++i) {
    text(16);
    for (int k = 0; k < 4; ++k) u32();
    flag();
    for (int k = 0; k < 5; ++k) u32();
    bytes(7 * 24);
    bytes(24);
    u32();
    flag();
    flag();
    u32();
    bytes(144);
    for (int k = 0; k < 5; ++k) u32();
  }
  flag();
  for (int k = 0; k < 3; ++k) u32();
  for (int k = 0; k < 2; ++k) {
    flag();
    bytes(2);
  }
  bytes(1);
  text(32);
  bytes(16);
  u16();
  u16();
  flag();
  text(33);
  u16();
  for (int i = 0; i < count; ++i) {
    flag();
    u32();
    u32();
    u16();
    u16();
  }
  for (int i = 0; i < count; ++i) {
    flag();
    u32();
    u32();
  }
  for (int k = 0; k < 14; ++k) {
    if (k == 0 || k == 3 || k == 7 || k == 10 || k == 13)
      flag();
    else
      u32();
  }
  for (int i = 0; i < 5; ++i) {
    bytes(4);
    u32();
    bytes(10);
  }
  flag();
  text(64);
  text(64);
  for (int i = 0; i < 5; ++i) {
    text(64);
    bytes(10);
  }
  b.be32(1234);
  return b.v;
}

std::vector<uint8_t> cms_system_info_body(int channels, int announced) {
  Buf b;
  b.u8(1);
  b.be32(20240115);
  b.be32(4160);
  b.u8(uint32_t(announced >= 0 ? announced : channels));
  b.u8(2);
  b.u8(3);
  b.u8(4);
  b.be32(0x11223344);
  b.u8(5);
  b.u8(6);
  b.be16(0x0708);
  for (uint32_t k = 9; k <= 11; ++k) b.be32(k);
  for (uint32_t k = 12; k <= 17; ++k) b.u8(k);
  b.u8(18);
  for (uint32_t k = 0; k < 5; ++k) {
    b.u8(192);
    b.u8(168);
    b.u8(1);
    b.u8(10 + k);
  }
  b.be16(9000);
  b.be16(9001);
  b.str16nul("WDVR-SIM");
  b.u8(19);
  b.str16nul("wdvr firmware 1.0");
  b.be16(0x2021);
  for (uint32_t k = 0; k < 4; ++k) b.be32(100 + k);
  for (int i = 0; i < channels; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "CH%02d", i + 1);
    b.str16nul(name);
    b.u8(uint32_t(i));
    b.u8(1);
    b.u8(2);
    b.u8(i == 0 ? 4 : 1);  // the kind byte: 4 is delivered as 3
    b.u8(5);
    b.u8(6);
    b.u8(7);
    for (uint32_t k = 0; k < 4; ++k) b.be32(k);
  }
  for (uint32_t k = 0; k < 4; ++k) b.be32(200 + k);
  return b.v;
}

std::vector<uint8_t> cms_health_body(const std::vector<uint32_t>& values) {
  Buf b;
  auto at = [&](size_t i) { return i < values.size() ? values[i] : 0u; };
  for (size_t i = 0; i < 6; ++i) b.be32(at(i));
  b.be16(at(6));
  b.be16(at(7));
  for (size_t i = 8; i < 12; ++i) b.be32(at(i));
  return b.v;
}

std::vector<uint8_t> cms_a0070002_body(int count) {
  Buf b;
  b.u8(1);
  b.str16nul("model");
  b.be32(2);
  b.be32(3);
  b.str16nul("serial");
  b.str16nul("version");
  b.u8(4);
  b.u8(uint32_t(count));
  for (uint32_t k = 0; k < 7; ++k) b.u8(5 + k);
  b.be32(12);
  for (uint32_t k = 0; k < 8; ++k) b.u8(13 + k);
  b.zeros(20);
  for (int i = 0; i < count; ++i) {
    b.str16nul("entry" + std::to_string(i));
    for (uint32_t k = 0; k < 4; ++k) b.u8(uint32_t(i) + k);
  }
  return b.v;
}

std::vector<uint8_t> cms_a0070003_body(int count) {
  Buf b;
  b.u8(1);
  b.u8(2);
  b.be32(3);
  for (uint32_t k = 0; k < 5; ++k) b.u8(4 + k);
  b.str16nul("first");
  b.str16nul("second");
  for (uint32_t k = 0; k < 5; ++k) b.be32(9 + k);
  b.u8(uint32_t(count));
  for (int i = 0; i < count; ++i) {
    for (uint32_t k = 0; k < 4; ++k) b.u8(uint32_t(i) + k);
    b.be32(uint32_t(i) * 10);
    b.be32(uint32_t(i) * 20);
    b.str16nul("a" + std::to_string(i));
    b.str16nul("b" + std::to_string(i));
  }
  return b.v;
}

std::vector<uint8_t> event_payload(uint32_t number, uint32_t value, int index, int state) {
  Buf b;
  switch (number) {
    case 0x00050001:
      b.be32(0);
      b.u8(value);
      bit_field(b, 4, 32, [&](int i) { return i == index; });
      b.be32(0);
      break;
    case 0x00050201:
      b.be32(0);
      b.be32(value);
      break;
    case 0x00050701:
    case 0x00050705:
      b.be32(0);
      b.be32(value);
      break;
    case 0x00050702:
    case 0x00050703:
      b.be32(0);
      b.be32(value);
      b.be16(0);
      b.str16nul("admin");
      break;
    case 0x00050801:
    case 0x00050803:
      b.be32(0);
      b.be32(0);
      b.u8(uint32_t(index));
      b.u8(uint32_t(state));
      break;
    case 0x00050802:
      b.be32(0);
      b.be32(0);
      b.u8(uint32_t(index));
      b.be32(value);
      break;
    default:  // 0x00050202, 0x00050301, 0x00050302 carry nothing
      break;
  }
  return b.v;
}

bool send_event(uint16_t port, uint32_t number, const std::vector<uint8_t>& payload) {
  int fd = net_tcp_socket();
  if (fd < 0) return false;
  uint32_t lo = 0;
  net_parse_ipv4("127.0.0.1", &lo);
  bool ok = net_connect(fd, lo, port, 2000, {}) == 0 && net_set_nonblocking(fd, false) == 0;
  if (ok) {
    const std::vector<uint8_t> p = dsf_packet(number, 1, payload);
    size_t done = 0;
    while (ok && done < p.size()) {
      const long n = net_send(fd, p.data() + done, p.size() - done);
      ok = n > 0;
      if (ok) done += size_t(n);
    }
  }
  net_close(fd);
  return ok;
}

std::vector<uint8_t> record_table(const PeerConfig& cfg, uint32_t date, int channel) {
  std::vector<uint8_t> t(240, 0);
  const int year = int(date / 10000), month = int(date / 100 % 100), day = int(date % 100);
  if (year != cfg.record_year || month != cfg.record_month || day < 1 || day > 31) return t;
  if (!(cfg.record_days >> (day - 1) & 1) || channel < 0 || channel >= cfg.channels) return t;
  for (int s = 60 + 10 * channel; s < 180; ++s) t[size_t(s)] = 1;
  return t;
}

}  // namespace wdvr
