#include "peers/qdvr/qdvr_peer.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>

#include <zlib.h>

#include "peers/media/media_gen.h"
#include "peers/peer_io.h"
#include "platform/net/net.h"
#include "platform/wire/byte_reader.h"

namespace qdvr {

namespace {

using Clock = std::chrono::steady_clock;

// G.711 mu-law encoding of one 16-bit sample (the client expands it with its own table).
uint8_t linear_to_ulaw(int sample) {
  const int sign = sample < 0 ? 0x80 : 0;
  int magnitude = (sample < 0 ? -sample : sample) + 132;
  if (magnitude > 32635 + 132) magnitude = 32635 + 132;
  int exponent = 7;
  for (int mask = 0x4000; exponent > 0 && !(magnitude & mask); mask >>= 1) --exponent;
  const int mantissa = (magnitude >> (exponent + 3)) & 0x0F;
  return uint8_t(~(sign | (exponent << 4) | mantissa));
}

}  // namespace

const std::vector<uint8_t>& tone_block(int k) {
  static const std::vector<std::vector<uint8_t>> blocks = [] {
    std::vector<std::vector<uint8_t>> b(4, std::vector<uint8_t>(512));
    for (int c = 0; c < 4; ++c)
      for (int i = 0; i < 512; ++i)
        b[size_t(c)][size_t(i)] = linear_to_ulaw(
            int(std::lround(8000 * std::sin(2 * M_PI * (500 + 250 * c) * i / 8000.0))));
    return b;
  }();
  return blocks[size_t(k & 3)];
}

namespace {

// Resolution code of a picture size in the DVRs' table (family follows from the code).
int resolution_code(int w, int h) {
  if (w == 1920) return 1;
  if (w == 1280) return 2;
  if (w == 720 && (h == 480 || h == 576)) return 4;
  if (w == 720) return 5;
  if (w == 352) return 6;
  if (w == 176) return 7;
  if (w == 640) return 8;
  if (w == 320) return 9;
  if (w == 160) return 10;
  return 7;
}

}  // namespace

std::vector<uint8_t> packet(uint8_t type, uint8_t mode, const std::vector<uint8_t>& body,
                            bool size_counts_header) {
  std::vector<uint8_t> p(8 + body.size());
  p[0] = 0x54;
  p[1] = 0x71;
  p[2] = type;
  p[3] = mode;
  put_be32(p.data() + 4, uint32_t(body.size() + (size_counts_header ? 8 : 0)));
  if (!body.empty()) std::memcpy(p.data() + 8, body.data(), body.size());  // a request without body
  return p;
}

namespace {

// A type-238 error packet carrying `code`.
std::vector<uint8_t> error_packet(uint16_t code) {
  std::vector<uint8_t> body(2);
  put_be16(body.data(), code);
  return packet(238, 0, body, false);
}

}  // namespace

std::vector<uint8_t> build_fsh(int layout, int channel, int width, int height, uint32_t size,
                               bool key, uint32_t sec, uint16_t msec, int seq, bool audio,
                               int audio_channel) {
  std::vector<uint8_t> f(layout == 3 ? 40 : 32, 0);
  f[0] = 0xFF;
  f[1] = 0x01;
  int code = resolution_code(width, height);
  bool tall = height == 576 || height == 288;
  if (layout <= 1) {
    f[4] = uint8_t(code & 0x1F);  // family 0: the code alone gives the size
    put_le32(f.data() + 8, sec);
    f[13] = uint8_t(seq);
    f[16] = uint8_t((key ? 0x80 : 0) | (tall ? 0x40 : 0) | 0x20);
    f[17] = uint8_t(size);
    f[18] = uint8_t(size >> 8);
    f[19] = uint8_t(size >> 16);
    f[20] = uint8_t(channel & 3);
  } else {
    f[7] = uint8_t(layout == 2 ? (seq & 0x3F) : seq);
    f[8] = uint8_t(channel & 0x0F);
    f[9] = uint8_t(code);
    put_le32(f.data() + 12, sec);
    f[18] = uint8_t(tall ? 0x80 : 0);
    f[20] = uint8_t(size);
    f[21] = uint8_t(size >> 8);
    f[22] = uint8_t((size >> 16) & 0x0F);
    if (layout == 3) {
      if (audio) {
        f[23] = 1;
        f[24] = uint8_t(1 << (audio_channel & 3));
      }
      put_le16(f.data() + 26, msec);
    }
    f[28] = uint8_t(key ? 1 : 0);
  }
  return f;
}

int64_t wall_seconds(int year, int month0, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month0;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return int64_t(timegm(&t));
}

bool parse_record_span(const std::string& text, RecordSpan* out) {
  RecordSpan r;
  const size_t comma = text.find(',');
  const std::string times = text.substr(0, comma);
  const size_t slash = times.find('/');
  if (slash == std::string::npos) return false;
  int y = 0, mo = 0, d = 0, h = 0, mi = 0;
  char tail = 0;
  if (std::sscanf(times.c_str(), "%d-%d-%dT%d:%d%c", &y, &mo, &d, &h, &mi, &tail) != 6 ||
      tail != '/')
    return false;
  r.start = wall_seconds(y, mo - 1, d, h, mi, 0);
  const std::string end = times.substr(slash + 1);
  int eh = 0, emi = 0;
  if (end.find('T') != std::string::npos) {
    if (std::sscanf(end.c_str(), "%d-%d-%dT%d:%d", &y, &mo, &d, &eh, &emi) != 5) return false;
  } else if (std::sscanf(end.c_str(), "%d:%d", &eh, &emi) != 2) {
    return false;
  }
  r.end = wall_seconds(y, mo - 1, d, eh, emi, 0);
  for (size_t at = comma; at != std::string::npos;) {
    const size_t next = text.find(',', at + 1);
    const std::string opt =
        text.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
    int a = 0, b = 0;
    const int cams = std::sscanf(opt.c_str(), "cams=%d-%d", &a, &b);
    if (cams == 1) b = a;
    if (cams >= 1) {
      if (a < 0 || b < a || b > 31) return false;
      r.cameras = 0;
      for (int k = a; k <= b; ++k) r.cameras |= 1u << k;
    } else if (std::sscanf(opt.c_str(), "kind=%i", &a) == 1 && a > 0 && a <= 0x0F) {
      r.kinds = uint8_t(a);
    } else {
      return false;
    }
    at = next;
  }
  if (r.end <= r.start || r.cameras == 0) return false;
  *out = r;
  return true;
}

namespace {

// Kinds of the spans of `mask`'s cameras that meet [from, to), and their cameras.
uint8_t kinds_in(const std::vector<RecordSpan>& spans, int64_t from, int64_t to, uint32_t mask,
                 uint32_t* cameras = nullptr) {
  uint8_t k = 0;
  for (const RecordSpan& s : spans) {
    if (s.start >= to || s.end <= from || !(s.cameras & mask)) continue;
    k |= s.kinds;
    if (cameras) *cameras |= s.cameras;
  }
  return k;
}

}  // namespace

std::vector<uint8_t> search_answer(const std::vector<RecordSpan>& spans, const uint8_t req[124],
                                   uint16_t* error) {
  *error = 0;
  const int year = get_le16(req), month = req[2], day = req[3], hour = req[6];
  const uint32_t mask = get_le16(req + 4);
  std::vector<uint8_t> a(124, 0);
  std::memcpy(a.data(), req, 7);  // year, month, day, channel mask, hour echoed
  if (day == 255) {
    for (int d = 1; d <= 31; ++d) {
      const int64_t from = wall_seconds(year, month, d, 0, 0, 0);
      const time_t t = time_t(from);
      std::tm tm{};
      gmtime_r(&t, &tm);
      if (tm.tm_mon != month % 12) break;  // past the month's last day
      a[size_t(7 + d - 1)] = kinds_in(spans, from, from + 86400, 0xFFFFFFFFu);
    }
    return a;
  }
  const int64_t day0 = wall_seconds(year, month, day, 0, 0, 0);
  uint32_t cameras = 0;
  if (kinds_in(spans, day0, day0 + 86400, 0xFFFFFFFFu, &cameras) == 0) {
    *error = 0x3021;
    return {};
  }
  if (mask == 0) {
    put_le16(a.data() + 38, uint16_t(cameras));
  } else if (hour == 255) {
    for (int h = 0; h < 24; ++h)
      a[size_t(40 + h)] = kinds_in(spans, day0 + h * 3600, day0 + (h + 1) * 3600, mask);
  } else {
    const int64_t h0 = day0 + int64_t(hour) * 3600;
    for (int m = 0; m < 60; ++m)
      a[size_t(64 + m)] = kinds_in(spans, h0 + m * 60, h0 + (m + 1) * 60, mask);
  }
  return a;
}

int64_t recorded_until(const std::vector<RecordSpan>& spans, int64_t position) {
  int64_t end = -1;
  for (const RecordSpan& s : spans)
    if (s.start <= position && position < s.end && s.end > end) end = s.end;
  // Spans that start before the end reached so far carry the recording on.
  for (bool grew = end >= 0; grew;) {
    grew = false;
    for (const RecordSpan& s : spans)
      if (s.start <= end && s.end > end) {
        end = s.end;
        grew = true;
      }
  }
  return end;
}

std::vector<uint8_t> login_reply(uint32_t version, uint32_t sub_version, bool ok) {
  std::vector<uint8_t> b(84, 0);
  b[0] = ok ? 1 : 0;
  put_be32(b.data() + 1, sub_version);
  put_be32(b.data() + 5, 0x12345678u);
  put_be32(b.data() + 9, version);
  b[17] = 16;  // NC_SYSTEM_INFO: cameras, audio channels
  b[18] = 4;
  std::memcpy(b.data() + 33, "SIMULATED-HDD", 13);
  return b;
}

uint32_t settings_crc(const uint8_t* p, size_t n) { return uint32_t(::crc32(0L, p, uInt(n))); }

std::vector<uint8_t> synthetic_settings(int channels) {
  const int n = channels < 1 ? 1 : (channels > 16 ? 16 : channels);
  std::vector<uint8_t> img(5818);
  uint8_t* ed = img.data() + 4;
  for (size_t i = 0; i < 5810; ++i) ed[i] = uint8_t(i * 7 % 251 + 1);
  ed[16] = 0;   // NTSC
  ed[68] = 0;   // English
  ed[82] = 10;  // screen saver 10 minutes
  static const uint8_t kDur[6] = {0, 1, 5, 10, 30, 60};
  static const uint8_t kModes[4] = {1, 2, 0x10, 4};
  for (int k = 0; k < n; ++k) {
    uint8_t* c = ed + 84 + 135 * k;
    std::memset(c, 0, 9);
    char name[16];
    std::snprintf(name, sizeof name, "CAM%02d", k + 1);
    std::memcpy(c, name, std::strlen(name));
    c[9] = k % 4 == 0 ? 0xFE : uint8_t(k % 3);  // PTZ protocol
    c[10] = uint8_t(k + 1);
    for (int j = 0; j < 4; ++j) c[11 + j] = uint8_t((k + j) % 5 * 25);
    c[15] = uint8_t(k & 1);
    c[17] = uint8_t(k % 5 + 1);
    for (int r = 0; r < 24; ++r)
      put_le32(c + 21 + 4 * r, (r + k) % 3 == 0 ? 0x3F0000FFu >> (k % 4) : 0);
    c[117] = kDur[k % 6];
    c[119] = kDur[(k + 1) % 6];
    c[120] = uint8_t(k & 1);
    c[121] = uint8_t((k >> 1) & 1);
    c[122] = uint8_t((k >> 2) & 1);
    c[123] = k % 2 ? 20 : 10;  // 15 a camera on average: within the 352x240 budget
    c[124] = uint8_t(k % 4);
    c[125] = k == 2 ? 2 : 0xFF;  // record audio: the camera's own index
    c[126] = kModes[k % 4];
    c[131] = uint8_t((k >> 1) & 1);
    c[132] = k == 1 ? 1 : 0;  // one camera carries audio
    c[133] = uint8_t(k % 4);
  }
  // Record N takes what the all-cameras rows show when nothing is changed.
  uint8_t* all = ed + 84 + 135 * n;
  all[123] = 30;
  all[124] = 0;
  all[125] = 0xFF;
  all[126] = 1;
  all[131] = 0;
  for (int k = 0; k < 16; ++k) {
    uint8_t* s = ed + 2379 + 7 * k;
    s[0] = uint8_t(k & 1);
    s[1] = kDur[(k + 2) % 6];
    s[3] = kDur[(k + 3) % 6];
    s[4] = uint8_t((k >> 1) & 1);
    s[5] = uint8_t((k >> 2) & 1);
  }
  static const uint8_t kHour[4] = {0, 1, 2, 4};
  for (int k = 0; k <= 16; ++k)
    for (int i = 0; i < 168; ++i) ed[2497 + 168 * k + i] = kHour[(i / 6 + k) % 4];
  ed[5357] = 6;  // 352x240
  ed[5358] = 1;  // static address
  put_le16(ed + 5359, 2200);
  const uint8_t quads[4][4] = {
      {192, 168, 1, 100}, {255, 255, 255, 0}, {192, 168, 1, 1}, {8, 8, 8, 8}};
  for (int q = 0; q < 4; ++q) std::memcpy(ed + 5369 + 4 * q, quads[q], 4);
  ed[5389] = 1;
  auto text = [&](int at, const char* t) { std::memcpy(ed + at, t, std::strlen(t) + 1); };
  text(5390, "dvr.example.net");
  text(5414, "ddnsuser");
  text(5429, "ddnspass");
  text(5445, "pppoeuser");
  text(5460, "pppoepass");
  put_le32(img.data(), 5810);
  put_le32(img.data() + 5814, settings_crc(ed, 5810));
  return img;
}

struct QdvrPeer::Session {
  int fd = -1;
  std::mutex out_lock;
  std::vector<std::vector<uint8_t>> out;
  std::atomic<bool> closed{false};
  uint32_t mask = 0;
  bool logged_in = false;
  bool streaming = false;
  bool playback = false;  // type-17 playback stream instead of live type 3
  // Playback from the calendar: armed by type 6, started by type 17 code 17.
  bool armed = false;
  int64_t pb_position = 0;  // seconds
  int64_t pb_end = 0;       // end of the recording from the position
  double pb_speed = 1.0;
  long pb_rounds = 0;  // frame rounds sent since the start
  // The session thread's loop: bytes read and not parsed yet, the packets sent, each
  // channel's next clip frame and when the next frame round is due.
  std::vector<uint8_t> in;
  long serial = 0;
  std::vector<long> frame_no;  // [channel]
  Clock::time_point next_tick;
  // The DVR's clock: the wall clock, or one a test set at the session's start that runs on
  // with it.
  int64_t clock_ms = 0;
  int64_t clock_skew_ms = 0;
  // Live frames carry the clock's time when their round goes out, as a DVR stamps what it
  // captures, whichever channels were asked for before; each round's later than the last.
  int64_t last_round_ms = 0;
  // The client files every audio set under each channel it has mapped, whichever channel's
  // frame carried it, so the sets go out at real time for the session as a whole: 64 ms of
  // audio per set against the frame rounds' time, each set on the next audio channel's frame
  // in turn so every channel gets mapped.
  long rounds = 0;
  long audio_sets = 0;
  int audio_last = -1;  // channel whose frame carried the last set
  uint32_t garbage_seed = 12345;
};

QdvrPeer::QdvrPeer(const PeerConfig& cfg) : cfg_(cfg), video_loss_(cfg.video_loss ? 1 : 0) {
  if (cfg_.channels < 1) cfg_.channels = 1;
  if (cfg_.channels > 16) cfg_.channels = 16;
  if (cfg_.clip_frames < 1) cfg_.clip_frames = 1;
  settings_ = cfg_.settings.empty() ? synthetic_settings(cfg_.channels) : cfg_.settings;
}

std::vector<uint8_t> QdvrPeer::settings() const {
  std::lock_guard<std::mutex> g(lock_);
  return settings_;
}

QdvrPeer::~QdvrPeer() { stop(); }

int QdvrPeer::layout() const {
  uint32_t v = cfg_.version, s = cfg_.sub_version;
  if (v == 0x2200) return s < 0x0303 ? 0 : 3;
  if (v == 0x22F0) return s == 0x0101 ? 1 : (s == 0x0202 ? 2 : 3);
  if (v == 0x3211 && s == 0x0503) return 3;
  return -1;
}

const std::vector<uint8_t>& QdvrPeer::clip_frame(int channel, int index) const {
  const auto& c = *clips_[size_t(channel)];
  return c[size_t(index) % c.size()];
}

bool QdvrPeer::clip_key(int channel, int index) const {
  const auto& k = *keys_[size_t(channel)];
  return k[size_t(index) % k.size()];
}

bool QdvrPeer::start() {
  clips_.assign(size_t(cfg_.channels), {});
  keys_.assign(size_t(cfg_.channels), {});
  for (int ch = 0; ch < cfg_.channels && cfg_.shared_clip && cfg_.shared_keys; ++ch) {
    clips_[size_t(ch)] = cfg_.shared_clip;
    keys_[size_t(ch)] = cfg_.shared_keys;
  }
  for (int ch = 0; ch < cfg_.channels && !(cfg_.shared_clip && cfg_.shared_keys); ++ch) {
    media_gen::H264Encoder enc(cfg_.width, cfg_.height, cfg_.fps > 0 ? cfg_.fps : 30, cfg_.gop);
    auto clip = std::make_shared<std::vector<std::vector<uint8_t>>>();
    auto keys = std::make_shared<std::vector<bool>>();
    for (int i = 0; i < cfg_.clip_frames; ++i) {
      std::vector<uint8_t> au;
      bool key = false;
      if (!enc.ok() ||
          enc.encode(media_gen::synth_picture(cfg_.width, cfg_.height, ch, i), au, key) != 0) {
        // No encoder: stand-in bytes keep the stream shape (start code, key every gop).
        au.assign(64 + size_t(ch), uint8_t(ch));
        au[0] = au[1] = au[2] = 0;
        au[3] = 1;
        key = i % cfg_.gop == 0;
      }
      clip->push_back(std::move(au));
      keys->push_back(key);
    }
    clips_[size_t(ch)] = clip;
    keys_[size_t(ch)] = keys;
  }
  listen_fd_ = net_listen_loopback(cfg_.port, &port_);
  if (listen_fd_ < 0) return false;
  stop_.store(false);
  accept_thread_ = std::thread([this] { accept_loop(); });
  return true;
}

void QdvrPeer::stop() {
  stop_.store(true);
  if (accept_thread_.joinable()) accept_thread_.join();
  peer_io::join_all(lock_, session_threads_);
  peer_io::close_listener(listen_fd_);
}

void QdvrPeer::accept_loop() {
  peer_io::accept_loop(listen_fd_, stop_, lock_, sessions_, session_threads_, &connections_,
                       [this](std::shared_ptr<Session> s) { run_session(s); });
}

bool QdvrPeer::carries_audio(int channel) const {
  return cfg_.audio && (layout() < 0 ? 3 : layout()) == 3 && channel < 4;
}

std::vector<uint8_t> QdvrPeer::stream_packet(int channel, long frame_no, long serial,
                                             bool* drop_half, bool playback, int64_t stamp_ms,
                                             bool audio) {
  const int lay = layout() < 0 ? 3 : layout();
  const std::vector<uint8_t>& au = clip_frame(channel, int(frame_no));
  const bool key = clip_key(channel, int(frame_no));
  const bool with_audio = audio && carries_audio(channel);
  uint32_t claimed = uint32_t(au.size());
  if (cfg_.truncate_every > 0 && serial % cfg_.truncate_every == cfg_.truncate_every - 1)
    claimed += 100000;  // the header claims more video than the packet holds
  const uint32_t sec = uint32_t(stamp_ms / 1000);
  const uint16_t msec = uint16_t(stamp_ms % 1000);
  std::vector<uint8_t> fsh = build_fsh(lay, channel, cfg_.width, cfg_.height, claimed, key, sec,
                                       msec, int(frame_no % cfg_.gop), with_audio, channel);
  // Status prefix, FSH, video, then four audio blocks; block k sits at (3 - k) x 512 and
  // carries audio channel k's tone.
  const size_t audio_bytes = with_audio ? 4 * 512 : 0;
  std::vector<uint8_t> body(14 + fsh.size() + au.size() + audio_bytes, 0);
  const uint16_t loss = video_loss_.load();  // loss mask, network order
  put_be16(body.data(), loss);
  std::memcpy(body.data() + 14, fsh.data(), fsh.size());
  std::memcpy(body.data() + 14 + fsh.size(), au.data(), au.size());
  uint8_t* blocks = body.data() + 14 + fsh.size() + au.size();
  for (size_t slot = 0; slot < audio_bytes / 512; ++slot)
    std::memcpy(blocks + slot * 512, tone_block(int(3 - slot)).data(), 512);
  if (cfg_.oversize_every > 0 && serial % cfg_.oversize_every == cfg_.oversize_every - 1)
    body.resize(600000, 0xEE);
  if (drop_half) *drop_half = cfg_.drop_after > 0 && serial + 1 >= cfg_.drop_after;
  return packet(playback ? 17 : 3, playback ? 2 : 1, body, true);
}

std::vector<uint8_t> QdvrPeer::audio_packet(int audio_channel, int64_t stamp_ms) const {
  // Byte 8 names the camera the audio belongs to: camera k has audio channel k.
  std::vector<uint8_t> body =
      build_fsh(3, audio_channel, cfg_.width, cfg_.height, 0, false, uint32_t(stamp_ms / 1000),
                uint16_t(stamp_ms % 1000), 0, true, audio_channel);
  for (int slot = 0; slot < 4; ++slot) {
    const std::vector<uint8_t>& tone = tone_block(3 - slot);
    body.insert(body.end(), tone.begin(), tone.end());
  }
  return packet(3, 64, body, true);
}

void QdvrPeer::send_settings(const std::shared_ptr<Session>& s) {
  std::vector<uint8_t> image = settings();
  uint8_t command = 0xA1;
  switch (cfg_.setup_fault) {
    case SetupFault::Silent: return;
    case SetupFault::WrongCommand: command = 0xA2; break;
    case SetupFault::BadCrc: image[5814] ^= 0x5A; break;
    case SetupFault::ShortImage: image.resize(2000); break;
    default: break;
  }
  std::vector<uint8_t> p = packet(command, 0x10, image, false);
  if (cfg_.setup_fault == SetupFault::Oversize) {
    put_be32(p.data() + 4, 40000);  // announces 40000 bytes, sends them
    p.resize(8 + 40000, 0x33);
  }
  if (cfg_.setup_fault != SetupFault::Split) {
    if (!net_send_all(s->fd, p.data(), p.size(), stop_)) s->closed.store(true);
    return;
  }
  for (size_t at = 0; at < p.size() && !stop_.load(); at += 97) {
    const size_t n = std::min<size_t>(97, p.size() - at);
    if (!net_send_all(s->fd, p.data() + at, n, stop_)) {
      s->closed.store(true);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
  }
}

void QdvrPeer::reply_error(const std::shared_ptr<Session>& s, uint16_t code) {
  std::vector<uint8_t> p = error_packet(code);
  if (!net_send_all(s->fd, p.data(), p.size(), stop_)) peer_io::cut(s->fd, s->closed);
}

void QdvrPeer::answer_login(const std::shared_ptr<Session>& s, const Request& r) {
  bool ok = r.body.size() >= 20;
  if (ok && !cfg_.user.empty()) {
    std::string user(reinterpret_cast<const char*>(r.body.data() + 4),
                     strnlen(reinterpret_cast<const char*>(r.body.data() + 4), 8));
    std::string pass(reinterpret_cast<const char*>(r.body.data() + 12),
                     strnlen(reinterpret_cast<const char*>(r.body.data() + 12), 8));
    ok = user == cfg_.user && pass == cfg_.password && r.body[0] == (user == "tovek" ? 1 : 0);
  }
  std::vector<uint8_t> reply;
  if (cfg_.login == Login::Silent) return;
  if (cfg_.login == Login::Error || (!ok && cfg_.login == Login::Accept)) {
    reply = error_packet(cfg_.login_error);
    std::vector<uint8_t> no =
        packet(2, 1, login_reply(cfg_.version, cfg_.sub_version, false), false);
    reply.insert(reply.end(), no.begin(), no.end());
  } else {
    bool accept = cfg_.login != Login::Refuse;
    reply = packet(2, 1, login_reply(cfg_.version, cfg_.sub_version, accept), false);
    if (accept && layout() >= 0) {
      s->logged_in = true;
      logins_.fetch_add(1);
    }
  }
  if (!net_send_all(s->fd, reply.data(), reply.size(), stop_)) peer_io::cut(s->fd, s->closed);
}

void QdvrPeer::answer_request(const std::shared_ptr<Session>& s, const Request& r) {
  if (r.type == 2) {
    answer_login(s, r);
  } else if (r.type == 0xA0 && r.mode == 0x10 && s->logged_in) {
    send_settings(s);
  } else if (r.type == 0xA1 && r.mode == 0x10 && s->logged_in) {
    const bool whole = r.body.size() == 5818 && r.body[0] == 0xB2 && r.body[1] == 0x16 &&
                       r.body[2] == 0 && r.body[3] == 0;
    const uint8_t* c = r.body.data() + 5814;
    if (whole && settings_crc(r.body.data() + 4, 5810) == get_le32(c)) {
      std::lock_guard<std::mutex> g(lock_);
      settings_ = r.body;
      uploads_.fetch_add(1);
    } else {
      refused_uploads_.fetch_add(1);
    }
  } else if (r.type == 0xA9 && r.mode == 0x80 && s->logged_in) {
    std::vector<uint8_t> info(120);
    for (size_t i = 0; i < info.size(); ++i) info[i] = uint8_t(0xA0 + i % 16);
    std::vector<uint8_t> p = packet(0xAA, 0x80, info, false);
    if (!net_send_all(s->fd, p.data(), p.size(), stop_)) peer_io::cut(s->fd, s->closed);
  } else if (r.type == 162 && r.body.size() >= 124 && s->logged_in && !cfg_.recordings.empty()) {
    uint16_t error = 0;
    std::vector<uint8_t> a = search_answer(cfg_.recordings, r.body.data(), &error);
    if (error) {
      reply_error(s, error);
    } else {
      std::vector<uint8_t> p = packet(162, 0, a, false);
      if (!net_send_all(s->fd, p.data(), p.size(), stop_)) peer_io::cut(s->fd, s->closed);
    }
  } else if (r.type == 3 && r.mode == 1 && r.body.size() >= 12 && s->logged_in) {
    s->mask = get_be32(r.body.data());
    s->streaming = s->mask != 0;
    s->next_tick = Clock::now();
  } else if (r.type == 6 && r.mode == 2 && r.body.size() >= 12 && s->logged_in) {
    s->mask = get_be32(r.body.data());
    if (cfg_.recordings.empty()) {
      // No calendar: the same clips at once, sent as playback packets.
      s->playback = true;
      s->streaming = s->mask != 0;
      s->next_tick = Clock::now();
      return;
    }
    const int64_t pos = get_be32(r.body.data() + 4);
    const int exponent = (r.body[10] & 0x80) ? -(r.body[10] & 0x7F) : r.body[10];
    const int64_t end = recorded_until(cfg_.recordings, pos);
    s->armed = end >= 0;
    if (!s->armed) {
      reply_error(s, 0x3021);
      return;
    }
    s->pb_position = pos;
    s->pb_end = end;
    s->pb_speed = std::ldexp(1.0, exponent < -8 ? -8 : (exponent > 8 ? 8 : exponent));
  } else if (r.type == 17 && r.body.size() >= 12 && !cfg_.recordings.empty() && s->logged_in) {
    if (r.body[8] == 17 && s->armed) {
      s->playback = true;
      s->streaming = s->mask != 0;
      s->pb_rounds = 0;
      std::fill(s->frame_no.begin(), s->frame_no.end(), 0);  // every camera starts at a key frame
      s->next_tick = Clock::now();
    } else if (r.body[8] == 20) {
      s->streaming = false;
    }
  } else if (r.type == 7 && r.mode == 2 && r.body.size() >= 12 && r.body[8] == 4) {
    s->streaming = false;
    s->armed = false;
  } else if (r.type == 7 && r.mode == 4) {
    s->streaming = false;
  }
}

void QdvrPeer::parse_requests(const std::shared_ptr<Session>& s, bool answer) {
  std::vector<uint8_t>& in = s->in;
  while (in.size() >= 8) {
    if (in[0] != 0x54 || in[1] != 0x71) {
      in.erase(in.begin());
      continue;
    }
    uint32_t size = get_be32(in.data() + 4);
    if (size > 32768) {  // the largest request is a settings upload
      in.clear();
      break;
    }
    if (in.size() < 8 + size) break;
    Request r;
    r.type = in[2];
    r.mode = in[3];
    r.body.assign(in.begin() + 8, in.begin() + 8 + size);
    r.at = std::chrono::steady_clock::now();
    in.erase(in.begin(), in.begin() + 8 + size);
    {
      std::lock_guard<std::mutex> g(lock_);
      requests_.push_back(r);
    }
    cv_.notify_all();
    if (cfg_.stall || !answer) continue;
    answer_request(s, r);
  }
}

void QdvrPeer::send_queued(const std::shared_ptr<Session>& s) {
  std::vector<std::vector<uint8_t>> out;
  {
    std::lock_guard<std::mutex> g(s->out_lock);
    out.swap(s->out);
  }
  for (auto& p : out)
    if (!net_send_all(s->fd, p.data(), p.size(), stop_)) peer_io::cut(s->fd, s->closed);
}

void QdvrPeer::stream_round(const std::shared_ptr<Session>& s) {
  if (!s->streaming || cfg_.stall) return;
  if (cfg_.fps > 0 && !peer_io::round_due(s->next_tick)) return;
  if (cfg_.fps > 0) s->next_tick += std::chrono::microseconds(1000000 / cfg_.fps);
  // Calendar playback: stamps from the position, advancing by the speed each frame period.
  int64_t stamp_ms = -1;
  if (s->armed && s->playback) {
    const int fps = cfg_.fps > 0 ? cfg_.fps : 30;
    stamp_ms = s->pb_position * 1000 + int64_t(double(s->pb_rounds++) * 1000.0 * s->pb_speed / fps);
    if (stamp_ms >= s->pb_end * 1000) {
      s->streaming = false;
      s->armed = false;
      reply_error(s, 0x3025);
      return;
    }
  }
  const int base_fps = cfg_.fps > 0 ? cfg_.fps : 30;
  const int64_t round_end_ms = int64_t(++s->rounds) * 1000 / base_fps;
  const int64_t round_ms =
      std::max(peer_io::wall_clock_ms() + s->clock_skew_ms, s->last_round_ms + 1);
  s->last_round_ms = round_ms;
  // Time without an audio channel on the stream is skipped, not made up in a burst.
  s->audio_sets = std::max<long>(s->audio_sets, long(round_end_ms / 64) - 2);
  // Audio-only packets: each set on the next of audio channels 0-3, whatever is selected.
  const int audio_channels = std::min(4, cfg_.channels);
  while (cfg_.audio_packets && !s->playback && carries_audio(0) &&
         s->audio_sets * 64 < round_end_ms && !s->closed.load()) {
    s->audio_last = (s->audio_last + 1) % audio_channels;
    const std::vector<uint8_t> p =
        audio_packet(s->audio_last, s->clock_ms + int64_t(s->audio_sets++) * 64);
    if (!net_send_all(s->fd, p.data(), p.size(), stop_)) peer_io::cut(s->fd, s->closed);
  }
  for (int ch = 0; ch < cfg_.channels && !s->closed.load(); ++ch) {
    if (!((s->mask >> ch) & 1u)) continue;
    bool audio = false;
    if (!cfg_.audio_packets && s->audio_sets * 64 < round_end_ms && carries_audio(ch)) {
      int next = -1;
      for (int i = 1; i <= 4 && next < 0; ++i) {
        const int c = (s->audio_last + i + 4) % 4;
        if (c < cfg_.channels && ((s->mask >> c) & 1u)) next = c;
      }
      audio = next == ch;
    }
    if (audio) {
      ++s->audio_sets;
      s->audio_last = ch;
    }
    if (cfg_.garbage_every > 0 && s->serial % cfg_.garbage_every == 0) {
      std::vector<uint8_t> junk(37);
      for (auto& b : junk) {
        s->garbage_seed = s->garbage_seed * 1103515245u + 12345u;
        b = uint8_t((s->garbage_seed >> 16) % 0x50);  // never the magic's first byte 0x54
      }
      if (!net_send_all(s->fd, junk.data(), junk.size(), stop_)) peer_io::cut(s->fd, s->closed);
    }
    bool drop_half = false;
    const long no = s->frame_no[size_t(ch)]++;
    const int64_t at_ms = stamp_ms >= 0 ? stamp_ms : round_ms;
    std::vector<uint8_t> p =
        stream_packet(ch, no, s->serial++, &drop_half, s->playback, at_ms, audio);
    if (cfg_.on_frame) cfg_.on_frame(ch, no);
    if (drop_half) {
      net_send_all(s->fd, p.data(), p.size() / 2, stop_);
      peer_io::cut(s->fd, s->closed);
      break;
    }
    if (!net_send_all(s->fd, p.data(), p.size(), stop_)) {
      peer_io::cut(s->fd, s->closed);
      break;
    }
    frames_sent_.fetch_add(1);
    bytes_sent_.fetch_add(static_cast<long long>(p.size()));
  }
  cv_.notify_all();
}

void QdvrPeer::run_session(std::shared_ptr<Session> s) {
  uint8_t buf[4096];
  s->frame_no.assign(size_t(cfg_.channels), 0);
  s->next_tick = Clock::now();
  s->clock_ms = cfg_.clock_start_ms > 0 ? cfg_.clock_start_ms : peer_io::wall_clock_ms();
  s->clock_skew_ms = s->clock_ms - peer_io::wall_clock_ms();
  while (!stop_.load() && !s->closed.load()) {
    // 1. Requests from the client.
    if (!peer_io::read_some(s->fd, s->streaming ? 0 : 10, s->in)) break;
    if (held_.load()) continue;
    parse_requests(s, true);
    if (s->closed.load()) break;
    // 2. Queued pushes.
    send_queued(s);
    // 3. Frames for the selected channels, one round per frame period.
    stream_round(s);
  }
  // The client's last requests (its leaving packet) may still wait in the socket.
  for (int i = 0; i < 64; ++i) {
    ssize_t n = ::recv(s->fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n <= 0) break;
    s->in.insert(s->in.end(), buf, buf + n);
  }
  parse_requests(s, false);
  peer_io::close_session(s->fd, s->closed);
  std::lock_guard<std::mutex> g(lock_);
  for (size_t i = 0; i < sessions_.size(); ++i)
    if (sessions_[i] == s) {
      sessions_.erase(sessions_.begin() + long(i));
      break;
    }
}

std::vector<Request> QdvrPeer::requests() const {
  std::lock_guard<std::mutex> g(lock_);
  return requests_;
}

bool QdvrPeer::wait_request(int type, int nth, int timeout_ms, Request* out) const {
  std::unique_lock<std::mutex> g(lock_);
  auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int seen = 0;
    for (const Request& r : requests_) {
      if (r.type != type) continue;
      if (seen++ == nth) {
        if (out) *out = r;
        return true;
      }
    }
    if (cv_.wait_until(g, deadline) == std::cv_status::timeout && Clock::now() >= deadline)
      return false;
  }
}

bool QdvrPeer::wait_frames(long n, int timeout_ms) const {
  std::unique_lock<std::mutex> g(lock_);
  return cv_.wait_for(g, std::chrono::milliseconds(timeout_ms),
                      [&] { return frames_sent_.load() >= n; });
}

void QdvrPeer::queue_all(const std::vector<uint8_t>& pkt) {
  std::lock_guard<std::mutex> g(lock_);
  for (auto& s : sessions_) {
    std::lock_guard<std::mutex> o(s->out_lock);
    s->out.push_back(pkt);
  }
}

void QdvrPeer::send_event(uint32_t time, uint32_t mask, uint8_t type) {
  std::vector<uint8_t> b(9);
  put_le32(b.data(), time);
  put_le32(b.data() + 4, mask);
  b[8] = type;
  queue_all(packet(163, 0, b, false));
}

void QdvrPeer::set_video_loss(uint16_t mask) { video_loss_.store(mask); }

void QdvrPeer::send_presets(const std::vector<int>& numbers) {
  std::vector<uint8_t> b(256, 0);
  for (int n : numbers)
    if (n > 0 && n < 256) b[size_t(n)] = 1;
  queue_all(packet(164, 0, b, false));
}

void QdvrPeer::send_search_reply(const uint8_t info[124]) {
  queue_all(packet(162, 0, std::vector<uint8_t>(info, info + 124), false));
}

void QdvrPeer::send_error(uint16_t code) { queue_all(error_packet(code)); }

void QdvrPeer::send_raw(const std::vector<uint8_t>& bytes) { queue_all(bytes); }

void QdvrPeer::drop_connections() { peer_io::cut_all(lock_, sessions_); }

}  // namespace qdvr
