// Writes the starting corpus of one client fuzz target into a directory, from what the
// simulated peers and the test encoders put out:
//   client_fuzz_seeds nc|ddns|ring|setup|skin|mailslot|files <dir> [files...]
// nc: bytes a simulated 'Q' DVR sends after a login and a channel selection, in every FSH
// layout, with events, presets, a search reply and an error; ddns: the simulated DDNS
// server's replies; ring: ring records of every protocol with real coded frames; setup,
// skin: the given files (skin: skin.cfg, then the language file); mailslot: both messages;
// files: recorded files (the ring seeds, which are ".zol" files too) and ".dat" files of
// every frame stream header layout.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "client/foundation/config/mailslot.h"
#include "client/links/ddns.h"
#include "client/links/frame_headers.h"
#include "client/links/nc_packets.h"
#include "peers/ddns/ddns_peer.h"
#include "peers/media/media_gen.h"
#include "peers/qdvr/qdvr_peer.h"
#include "peers/tirenc/tirenc.h"
#include "platform/net/net.h"

namespace {

using Bytes = std::vector<uint8_t>;
std::string g_dir;
int g_count = 0;

void write_seed(const Bytes& b) {
  std::ofstream(g_dir + "/seed-" + std::to_string(g_count++), std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

// What arrives on a link to 127.0.0.1:port within `ms` after `request` went out.
Bytes capture(uint16_t port, const Bytes& request, int ms, const std::function<void()>& during = {}) {
  Bytes out;
  int fd = net_tcp_socket();
  uint32_t lo = 0;
  net_parse_ipv4("127.0.0.1", &lo);
  if (fd < 0 || net_connect(fd, lo, port, 2000, [] { return false; }) != 0) {
    net_close(fd);
    return out;
  }
  net_set_nonblocking(fd, false);
  net_send(fd, request.data(), request.size());
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  bool pushed = false;
  while (std::chrono::steady_clock::now() < end) {
    if (!pushed && during && !out.empty()) {
      during();
      pushed = true;
    }
    if (net_poll(fd, true, false, 20, nullptr, nullptr) <= 0) continue;
    uint8_t buf[65536];
    long n = net_recv(fd, buf, sizeof buf);
    if (n <= 0) break;
    out.insert(out.end(), buf, buf + n);
  }
  net_close(fd);
  return out;
}

void nc_seeds() {
  struct Pair { uint32_t v, s; int layout; } pairs[] = {
      {0x2200, 0x0300, 0}, {0x22F0, 0x0101, 1}, {0x22F0, 0x0202, 2}, {0x22F0, 0x0303, 3}};
  for (const Pair& p : pairs) {
    qdvr::PeerConfig cfg;
    cfg.channels = 4;
    cfg.width = 176;
    cfg.height = 144;
    cfg.clip_frames = 4;
    cfg.gop = 2;
    cfg.version = p.v;
    cfg.sub_version = p.s;
    cfg.video_loss = p.layout == 1;
    qdvr::QdvrPeer peer(cfg);
    if (!peer.start()) continue;
    uint8_t login[20], select[12];
    nc_login_body("admin", "secret", login);
    nc_select_body(0xF, 4, select);
    Bytes req = qdvr::packet(2, 1, Bytes(login, login + 20), false);
    Bytes sel = qdvr::packet(3, 1, Bytes(select, select + 12), false);
    req.insert(req.end(), sel.begin(), sel.end());
    Bytes got = capture(peer.port(), req, 400, [&] {
      peer.send_event(1000, 0x3, 0x06);
      peer.send_presets({1, 2, 9});
      uint8_t info[124] = {};
      info[0] = 0xE9;
      info[1] = 0x07;
      info[3] = 255;
      peer.send_search_reply(info);
      peer.send_error(0x3021);
    });
    peer.stop();
    // First byte: the FSH layout the login would select, logged in.
    for (size_t at = 0; at < got.size() && at < 4 * 60000; at += 60000) {
      Bytes seed{uint8_t(p.layout | 4)};
      seed.insert(seed.end(), got.begin() + long(at), got.begin() + long(std::min(got.size(), at + 60000)));
      write_seed(seed);
    }
  }
}

void ddns_seeds() {
  const ddns::Mode modes[] = {ddns::Mode::Answer, ddns::Mode::NoMagic, ddns::Mode::Short};
  for (ddns::Mode m : modes) {
    ddns::DdnsPeer peer(m);
    peer.add("DVR-FUZZ", "10.1.2.3", 9101);
    if (!peer.start()) continue;
    uint8_t req[DDNS_REQUEST_SIZE];
    ddns_build_request("DVR-FUZZ", req);
    write_seed(capture(peer.port(), Bytes(req, req + sizeof req), 300));
    peer.stop();
  }
}

void put_record(Bytes& ring, uint8_t protocol, uint8_t media, const Bytes& body) {
  FRAME_RECORD_HEADER rh;
  rh.start_key = FRAME_START_KEY;
  rh.protocol = protocol;
  rh.media = media;
  rh.size = uint32_t(body.size());
  uint8_t h[FRAME_RECORD_HEADER_SIZE];
  encode_frame_record_header(rh, h);
  ring.insert(ring.end(), h, h + sizeof h);
  ring.insert(ring.end(), body.begin(), body.end());
}

Bytes frame_body(uint8_t protocol, const Bytes& data, bool key, int channel, int w, int h, int seq) {
  Bytes body;
  if (protocol == 'I' || protocol == 'W') {
    PICTURE_HEADER ph;
    ph.size = uint32_t(data.size());
    ph.vop_type = key ? 0 : 1;
    ph.channel = uint8_t(channel);
    ph.scale = 2;
    ph.hsize = uint16_t(w);
    ph.vsize = uint16_t(h);
    ph.sec = 100;
    ph.usec = uint32_t(seq) * 40000;
    ph.seq_cnt = uint16_t(seq);
    body.resize(PICTURE_HEADER_SIZE);
    encode_picture_header(ph, body.data());
  } else {
    FRAME_HEADER fh;
    fh.size = uint32_t(data.size());
    fh.channel = uint8_t(channel);
    fh.frame_type = key ? 1 : 0;
    fh.width = uint16_t(w);
    fh.height = uint16_t(h);
    fh.sec = 100;
    fh.msec = uint16_t(seq * 40);
    body.resize(FRAME_HEADER_SIZE);
    encode_frame_header(fh, body.data());
  }
  body.insert(body.end(), data.begin(), data.end());
  return body;
}

void ring_seeds() {
  const int w = 64, h = 48;
  media_gen::H264Encoder avc(w, h, 25, 3);
  media_gen::Mpeg4Encoder m4v(w, h, 25, 3, false);
  Bytes q, i;
  for (int n = 0; n < 3; ++n) {
    media_gen::Yuv420 pic = media_gen::synth_picture(w, h, 1, n);
    Bytes unit;
    bool key = false;
    if (avc.encode(pic, unit, key) == 0) put_record(q, 'Q', 'Y', frame_body('Q', unit, key, n % 2, w, h, n));
    if (m4v.encode(pic, unit, key) == 0) put_record(i, 'I', 'Y', frame_body('I', unit, key, n % 2, w, h, n));
  }
  AUDIO_FRAME_HEADER ah;
  ah.samples = 64;
  ah.channel = 1;
  Bytes audio(AUDIO_FRAME_HEADER_SIZE + AUDIO_PAYLOAD_SLOT, 0x7F);
  encode_audio_frame_header(ah, audio.data());
  put_record(q, 'Q', 'A', audio);
  write_seed(q);
  write_seed(i);
  media_gen::Yuv420 big = media_gen::synth_picture(640, 224, 2, 0);
  Bytes planes(big.y);
  planes.insert(planes.end(), big.u.begin(), big.u.end());
  planes.insert(planes.end(), big.v.begin(), big.v.end());
  tirenc::Frame f;
  if (tirenc::encode_frame(planes.data(), 640, 224, tirenc::Options{}, f) == 0) {
    Bytes s;
    put_record(s, 'S', 'Y', frame_body('S', f.bytes, true, 0, 640, 224, 0));
    write_seed(s);
  }
}

void file_seed(const char* path, int first_byte) {
  std::ifstream in(path, std::ios::binary);
  Bytes b;
  if (first_byte >= 0) b.push_back(uint8_t(first_byte));
  b.insert(b.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  write_seed(b);
}

void dat_seeds() {
  const int w = 64, h = 48;
  static const uint16_t subs[] = {0x0000, 0x0101, 0x0202, 0x0303};
  for (int layout = 0; layout < 4; ++layout) {
    media_gen::H264Encoder avc(w, h, 25, 2);
    Bytes d = {0x00, 0x22, uint8_t(subs[layout]), uint8_t(subs[layout] >> 8), 0, 0, 0, 0};
    for (int n = 0; n < 3; ++n) {
      Bytes unit;
      bool key = false;
      if (avc.encode(media_gen::synth_picture(w, h, 1, n), unit, key) != 0) continue;
      Bytes fsh = qdvr::build_fsh(layout, n % 2, w, h, uint32_t(unit.size()), key, 100, uint16_t(n * 40), n,
                                  layout == 3, n % 2);
      d.insert(d.end(), fsh.begin(), fsh.end());
      d.insert(d.end(), unit.begin(), unit.end());
      if (layout == 3) d.insert(d.end(), 4 * 512, uint8_t(0x10 + n));
    }
    write_seed(d);
  }
}

void mailslot_seeds() {
  EVENT_NOTICE n;
  n.time = 1700000000;
  std::snprintf(n.dvr_name, sizeof n.dvr_name, "DVR-1");
  n.kind = 0x22;
  n.mask_motion = n.mask_sensor = 5;
  Bytes e(1 + EVENT_NOTICE_SIZE, 0);
  encode_event_notice(n, e.data() + 1);
  write_seed(e);
  MAILSLOT_REQUEST r;
  r.kind = 1;
  r.year = 2025;
  r.month = 11;
  r.day = 30;
  r.channel_mask = 3;
  std::snprintf(r.target, sizeof r.target, "DVR-1");
  Bytes m(1 + MAILSLOT_REQUEST_SIZE, 0);
  m[0] = 1;
  encode_mailslot_request(r, m.data() + 1);
  write_seed(m);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s nc|ddns|ring|setup|skin|mailslot|files <dir> [files...]\n", argv[0]);
    return 2;
  }
  const std::string kind = argv[1];
  g_dir = argv[2];
  if (kind == "nc") nc_seeds();
  else if (kind == "ddns") ddns_seeds();
  else if (kind == "ring") ring_seeds();
  else if (kind == "mailslot") mailslot_seeds();
  else if (kind == "files") {
    ring_seeds();
    dat_seeds();
  }
  else if (kind == "setup" || kind == "skin")
    for (int a = 3; a < argc; ++a) file_seed(argv[a], kind == "skin" ? (a - 3) & 1 : -1);
  else return 2;
  std::printf("%d seeds\n", g_count);
  return g_count > 0 ? 0 : 1;
}
