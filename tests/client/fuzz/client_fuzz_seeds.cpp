// Writes the starting corpus of one fuzz target of the client or the setup tool into a
// directory, from what the simulated peers, the test encoders and the writers put out:
//   client_fuzz_seeds <kind> <dir> [files...]
// nc: bytes a simulated 'Q' DVR sends after a login and a channel selection, in every FSH
// layout, with events, presets, a search reply and an error; ddns: the simulated DDNS
// server's replies for addresses at their extremes, refusals and a reply with bytes behind
// it; ring: ring records of every protocol with real coded frames; setup,
// skin: the given files (skin: skin.cfg, then the language file); mailslot: notices of
// every kind and name length, requests, and messages of the sizes next to the right ones;
// files: recorded files (the ring seeds, which are ".zol" files too) and ".dat" files of
// every frame stream header layout; copy: the given files as they are; emap: the given
// emap.cfg, device.cfg and remote-emap-buttons.cfg behind the byte that picks their reader;
// eeprom: the simulated DVR's settings images, whole and as bare records; logs: the day files
// and indexes the client's log writers make; dvrsetup: the simulated DVR's answers to a
// login, a settings fetch and an information request, also with each setup fault; pic and
// tir: what the simulated 'I' and 'S' DVRs send after a login (live and playback; login
// answers, lower-case digits, garbage, faults); sdk: recording calendars and MPEG-4 packets
// as OrvoLib hands them over; link: the messages the main and extension windows send each
// other; players: the "files" seeds, each behind a seek script.
#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "client/foundation/config/mailslot.h"
#include "client/foundation/config/system_log.h"
#include "client/links/ddns.h"
#include "client/links/frame_headers.h"
#include "client/links/nc_packets.h"
#include "client/links/pic_receiver.h"
#include "client/links/tir_receiver.h"
#include "client/screens/master_link.h"
#include "peers/ddns/ddns_peer.h"
#include "peers/idvr/idvr_peer.h"
#include "peers/sdvr/sdvr_peer.h"
#include "peers/media/media_gen.h"
#include "peers/qdvr/qdvr_peer.h"
#include "peers/tirenc/tirenc.h"
#include "platform/net/net.h"

namespace {

using Bytes = std::vector<uint8_t>;
std::string g_dir;
int g_count = 0;
Bytes g_prefix;  // put before every seed (the players' choice and script)

void write_seed(const Bytes& b) {
  std::ofstream out(g_dir + "/seed-" + std::to_string(g_count++), std::ios::binary);
  out.write(reinterpret_cast<const char*>(g_prefix.data()), std::streamsize(g_prefix.size()));
  out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

// `first` and at most 64 KiB - 1 of `body`: what a target of 64 KiB inputs takes.
void write_capped(uint8_t first, const Bytes& body) {
  Bytes seed{first};
  seed.insert(seed.end(), body.begin(), body.begin() + long(std::min<size_t>(body.size(), 65535)));
  write_seed(seed);
}

// What arrives on a link to 127.0.0.1:port within `ms` after `request` went out.
Bytes capture(uint16_t port, const Bytes& request, int ms,
              const std::function<void()>& during = {}) {
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
  struct Pair {
    uint32_t v, s;
    int layout;
  } pairs[] = {{0x2200, 0x0300, 0}, {0x22F0, 0x0101, 1}, {0x22F0, 0x0202, 2}, {0x22F0, 0x0303, 3}};
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
      seed.insert(seed.end(), got.begin() + long(at),
                  got.begin() + long(std::min(got.size(), at + 60000)));
      write_seed(seed);
    }
  }
}

void ddns_seeds() {
  // Every answer the server gives (refusals too), for addresses and ports at their extremes;
  // and an answer with bytes behind it.
  const struct {
    ddns::Mode mode;
    const char* address;
    uint16_t port;
  } answers[] = {{ddns::Mode::Answer, "10.1.2.3", 9101},
                 {ddns::Mode::Answer, "255.255.255.255", 65535},
                 {ddns::Mode::Answer, "0.0.0.0", 0},
                 {ddns::Mode::NoMagic, "10.1.2.3", 9101},
                 {ddns::Mode::Short, "10.1.2.3", 9101}};
  uint8_t req[DDNS_REQUEST_SIZE];
  ddns_build_request("DVR-FUZZ", req);
  for (const auto& a : answers) {
    ddns::DdnsPeer peer(a.mode);
    peer.add("DVR-FUZZ", a.address, a.port);
    if (!peer.start()) continue;
    Bytes got = capture(peer.port(), Bytes(req, req + sizeof req), 300);
    peer.stop();
    write_seed(got);
    if (a.mode == ddns::Mode::Answer && a.port == 9101) {
      got.resize(got.size() + 100, 0x5A);
      write_seed(got);
    }
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

Bytes frame_body(uint8_t protocol, const Bytes& data, bool key, int channel, int w, int h,
                 int seq) {
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
    if (avc.encode(pic, unit, key) == 0)
      put_record(q, 'Q', 'Y', frame_body('Q', unit, key, n % 2, w, h, n));
    if (m4v.encode(pic, unit, key) == 0)
      put_record(i, 'I', 'Y', frame_body('I', unit, key, n % 2, w, h, n));
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
      Bytes fsh = qdvr::build_fsh(layout, n % 2, w, h, uint32_t(unit.size()), key, 100,
                                  uint16_t(n * 40), n, layout == 3, n % 2);
      d.insert(d.end(), fsh.begin(), fsh.end());
      d.insert(d.end(), unit.begin(), unit.end());
      if (layout == 3) d.insert(d.end(), 4 * 512, uint8_t(0x10 + n));
    }
    write_seed(d);
  }
}

void mailslot_seeds() {
  // Event notices of every kind (a video-loss change too), names of every length up to an
  // unterminated field; playback requests; messages of the sizes next to the right ones.
  const struct {
    uint8_t kind, marker;
    int name_len;
  } notices[] = {{0x02, 0, 5}, {0x20, 0, 12}, {0x40, 0, 0}, {0x80, 1, 130}, {0xE2, 0, 131}};
  for (const auto& k : notices) {
    EVENT_NOTICE n;
    n.time = 1700000000;
    std::memset(n.dvr_name, 'D', size_t(k.name_len < 130 ? k.name_len : 130));
    n.kind = k.kind;
    n.marker = k.marker;
    n.mask_motion = n.mask_sensor = 5;
    n.mask_40 = 0x80000001u;
    n.mask_80 = 0xFFFFFFFFu;
    Bytes e(1 + EVENT_NOTICE_SIZE, 0);
    encode_event_notice(n, e.data() + 1);
    if (k.name_len == 131) std::memset(e.data() + 1 + 8, 'N', 131);
    write_seed(e);
  }
  for (int target_len : {5, 127, 128}) {
    MAILSLOT_REQUEST r;
    r.kind = 1;
    r.year = 2025;
    r.month = 11;
    r.day = 30;
    r.hour = 23;
    r.minute = 59;
    r.channel_mask = target_len == 5 ? 3 : 0xFFFFFFFFu;
    std::memset(r.target, 'G', size_t(target_len < 127 ? target_len : 127));
    Bytes m(1 + MAILSLOT_REQUEST_SIZE, 0);
    m[0] = 1;
    encode_mailslot_request(r, m.data() + 1);
    if (target_len == 128) std::memset(m.data() + 1 + 32, 'T', 128);
    write_seed(m);
  }
  for (size_t size : {size_t(0), MAILSLOT_REQUEST_SIZE - 1, MAILSLOT_REQUEST_SIZE + 1,
                      EVENT_NOTICE_SIZE - 1, EVENT_NOTICE_SIZE + 1}) {
    Bytes odd(1 + size, 0x41);
    odd[0] = size < MAILSLOT_REQUEST_SIZE + 2 ? 1 : 0;
    write_seed(odd);
  }
}

void eeprom_seeds() {
  for (int channels : {1, 4, 16}) {
    Bytes image = qdvr::synthetic_settings(channels);
    // Whole file, then the bare record whose file the target completes (odd first byte);
    // the camera count rides in bits 1-5.
    Bytes whole{uint8_t(channels << 1)};
    whole.insert(whole.end(), image.begin(), image.end());
    write_seed(whole);
    Bytes record{uint8_t(channels << 1 | 1)};
    record.insert(record.end(), image.begin() + 4, image.end() - 4);
    write_seed(record);
  }
}

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void log_seeds() {
  char tmp[] = "/tmp/vigilo-log-seeds-XXXXXX";
  char here[4096];
  if (!mkdtemp(tmp) || !getcwd(here, sizeof here) || chdir(tmp) != 0) return;
  for (int code = SYSLOG_START; code <= SYSLOG_CONNECTED; ++code)
    write_system_log(code, "admin", "DVR-1");
  write_system_log(SYSLOG_LOGIN, "\xC3\xA9l\xC3\xA8ve", "Caf\xC3\xA9 \xE2\x80\x94 north");
  const uint64_t now = uint64_t(time(nullptr));
  for (int n = 1; n <= 6; ++n) {
    char line[256];
    format_event_log_line(line, sizeof line, n, "2025-11-30 12:00:00",
                          n & 1 ? "DVR-1"
                                : "Entr\xC3\xA9"
                                  "e",
                          n, n & 1 ? 0x02 : 0x04);
    const uint64_t t = now - uint64_t(n / 3) * 86400;  // two days, so the index has neighbours
    write_event_log(line, &t);
  }
  std::vector<std::pair<int, std::string>> files;
  if (DIR* d = opendir("logs")) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.')
        files.emplace_back(std::strncmp(e->d_name, "sys", 3) == 0, e->d_name);
    closedir(d);
  }
  for (const auto& [system, name] : files) {
    Bytes seed{uint8_t(system)};
    const Bytes text = read_file("logs/" + name);
    seed.insert(seed.end(), text.begin(), text.end());
    const std::string at = std::string(tmp) + "/logs/" + name;
    std::remove(at.c_str());
    if (chdir(here) != 0) return;
    write_seed(seed);
    if (chdir(tmp) != 0) return;
  }
  if (chdir(here) == 0) {
    rmdir((std::string(tmp) + "/logs").c_str());
    rmdir(tmp);
  }
}

void dvrsetup_seeds() {
  using qdvr::SetupFault;
  for (SetupFault fault : {SetupFault::NoFault, SetupFault::WrongCommand, SetupFault::BadCrc,
                           SetupFault::ShortImage, SetupFault::Oversize}) {
    qdvr::PeerConfig cfg;
    cfg.channels = 16;
    cfg.clip_frames = 1;
    cfg.fps = 1;
    cfg.setup_fault = fault;
    qdvr::QdvrPeer peer(cfg);
    if (!peer.start()) continue;
    uint8_t login[20];
    nc_login_body("admin", "1234", login);
    Bytes req = qdvr::packet(0x02, 0x01, Bytes(login, login + 20), false);
    for (const Bytes& r :
         {qdvr::packet(0xA0, 0x10, {}, false), qdvr::packet(0xA9, 0x80, {}, false)})
      req.insert(req.end(), r.begin(), r.end());
    Bytes got = capture(peer.port(), req, 500);
    peer.stop();
    // First byte odd: the client also sends the fetched file back.
    got.insert(got.begin(), uint8_t(fault == SetupFault::NoFault));
    write_seed(got);
  }
}

void pic_seeds() {
  idvr::PeerConfig cfg;
  cfg.width = 176;
  cfg.height = 144;
  cfg.clip_frames = 4;
  cfg.gop = 2;
  cfg.unknown_every = 5;
  idvr::IdvrPeer peer(cfg);
  if (!peer.start()) return;
  uint8_t body[16] = {};
  std::memcpy(body, "admin", 5);
  std::memcpy(body + 8, "secret", 6);
  uint8_t login[PIC_RECORD_SIZE];
  build_pic_record(CMD_LOGIN_LOGOUT, 1, body, sizeof body, login);
  for (int playback = 0; playback < 2; ++playback) {
    const Bytes got = capture(playback ? peer.pb_port() : peer.live_port(),
                              Bytes(login, login + sizeof login), 300);
    write_capped(playback ? 5 : 0, got);  // playback seeks to 15 s
  }
  peer.stop();
}

void tir_seeds() {
  struct Variant {
    sdvr::Answer answer;
    bool lower, garbage;
    int bad_control;
  } variants[] = {
      {sdvr::Answer::OneThenThree, false, false, 0},
      {sdvr::Answer::Three, true, true, 0},
      {sdvr::Answer::OneThenThree, false, false, 2},
  };
  uint8_t login[TIR_LOGIN_SIZE];
  build_tir_login("secret", login);
  int n = 0;
  for (const Variant& v : variants) {
    sdvr::PeerConfig cfg;
    cfg.height = 224;
    cfg.clip_frames = 2;
    cfg.answer = v.answer;
    cfg.lower_case = v.lower;
    cfg.garbage = v.garbage;
    cfg.bad_control_every = v.bad_control;
    sdvr::SdvrPeer peer(cfg);
    if (!peer.start()) continue;
    const Bytes got = capture(peer.port(), Bytes(login, login + sizeof login), 300);
    peer.stop();
    // Logged in, fed in pieces of 12, 500 and 4096 bytes in turn.
    write_capped(uint8_t(1 | (2 + 2 * (n++ % 3)) << 1), got);
  }
}

void sdk_seeds() {
  media_gen::Mpeg4Encoder m4v(64, 48, 25, 3, false);
  for (int run = 0; run < 2; ++run) {
    // Flags: channel 1 or 8; calendar: 2025-11 (month 10), day 30, cameras 0-1, hour 12,
    // minute 30, days 1 and 30, both requests answered, slots of hour 12 recorded.
    Bytes seed{uint8_t(run ? 8 : 1),
               uint8_t((2025 - 1970) & 0xFF),
               0,
               10,
               30,
               3,
               0,
               0,
               0,
               12,
               30,
               1,
               0,
               0,
               0x20,
               3};
    seed.resize(1 + 135, 0);
    for (int k = 120; k < 130; ++k) seed[1 + 15 + size_t(k / 8)] |= uint8_t(1 << (k % 8));
    for (int f = 0; f < 4; ++f) {
      Bytes vop;
      bool key = false;
      if (m4v.encode(media_gen::synth_picture(64, 48, 1, f), vop, key) != 0) continue;
      const uint32_t len = uint32_t(vop.size());
      // clang-format off
      Bytes head = {0, uint8_t(run == 1 && f == 2), uint8_t(key), 64, 0, 48, 0,
                    uint8_t(len), uint8_t(len >> 8), uint8_t(len >> 16), uint8_t(len >> 24),
                    0xE9, 0x07, 11, 30, 12, 30, uint8_t(f), uint8_t(f * 40), 0,
                    uint8_t(len), uint8_t(len >> 8)};
      // clang-format on
      seed.insert(seed.end(), head.begin(), head.end());
      seed.insert(seed.end(), vop.begin(), vop.end());
    }
    write_seed(seed);
  }
}

void link_seeds() {
  auto message = [](int command, const char* name,
                    std::initializer_list<std::pair<int, int32_t>> values) {
    COMM_FIELDS m{};
    m.command = uint16_t(command);
    std::snprintf(m.msg, sizeof m.msg, "%s", name);
    for (const auto& [i, v] : values) m.value[i] = v;
    Bytes b(COMM_MESSAGE_SIZE);
    write_comm_message(m, b.data());
    return b;
  };
  // An extension window's words to the main window: keep-alive, its channels, its view.
  Bytes from_slave{1};
  for (const Bytes& m :
       {message(COMM_KEEP_ALIVE, "", {{2, 30}}),
        message(COMM_ADD_CHANNEL, "DVR-1", {{8, 5}, {9, 1}}), message(COMM_SET_TARGET, "", {}),
        message(COMM_ACK, "", {}), message(COMM_ADD_CHANNEL, "DVR-4", {{8, 3}, {9, 3}}),
        message(COMM_CLOSE, "", {})})
    from_slave.insert(from_slave.end(), m.begin(), m.end());
  write_seed(from_slave);
  // The main window's commands to an extension window.
  Bytes from_master{0};
  for (const Bytes& m :
       {message(COMM_CONNECT, "", {{1, 0}, {2, 30}, {5, 0}, {6, 0}}),
        message(COMM_SET_LAYOUT, "", {{1, 0}, {3, 4}, {4, 1}}),
        message(COMM_ADD_CHANNEL, "DVR-5", {{8, 2}, {9, 2}}), message(COMM_ROTATE_SELECTED, "", {}),
        message(COMM_DISCONNECT, "", {{1, 0}}), message(COMM_CONNECT, "", {{5, 1}, {6, 0}}),
        message(COMM_EXIT, "", {})})
    from_master.insert(from_master.end(), m.begin(), m.end());
  write_seed(from_master);
}

void player_seeds() {
  // Seek to the first key frame, back 10 s at 1/16, forward at 2x, to the start at 16x.
  const Bytes script = {0, 0, 0xFC, 5, 8, 10, 0x80, 3};
  g_prefix = {0};
  g_prefix.insert(g_prefix.end(), script.begin(), script.end());
  ring_seeds();
  g_prefix[0] = 1;
  dat_seeds();
  g_prefix.clear();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <kind> <dir> [files...]\n", argv[0]);
    return 2;
  }
  const std::string kind = argv[1];
  g_dir = argv[2];
  if (kind == "nc")
    nc_seeds();
  else if (kind == "ddns")
    ddns_seeds();
  else if (kind == "ring")
    ring_seeds();
  else if (kind == "mailslot")
    mailslot_seeds();
  else if (kind == "files") {
    ring_seeds();
    dat_seeds();
  } else if (kind == "eeprom")
    eeprom_seeds();
  else if (kind == "pic")
    pic_seeds();
  else if (kind == "tir")
    tir_seeds();
  else if (kind == "sdk")
    sdk_seeds();
  else if (kind == "link")
    link_seeds();
  else if (kind == "players")
    player_seeds();
  else if (kind == "logs")
    log_seeds();
  else if (kind == "dvrsetup")
    dvrsetup_seeds();
  else if (kind == "copy")
    for (int a = 3; a < argc; ++a) file_seed(argv[a], -1);
  else if (kind == "emap")
    for (int a = 3; a < argc; ++a) file_seed(argv[a], a - 3);
  else if (kind == "setup" || kind == "skin")
    for (int a = 3; a < argc; ++a) file_seed(argv[a], kind == "skin" ? (a - 3) & 1 : -1);
  else
    return 2;
  std::printf("%d seeds\n", g_count);
  return g_count > 0 ? 0 : 1;
}
