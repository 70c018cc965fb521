#include "peers/wdvr/wdvr_peer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <random>

#include "peers/media/media_gen.h"
#include "peers/peer_io.h"
#include "platform/net/net.h"
#include "platform/wire/byte_reader.h"

namespace wdvr {

namespace {

using Clock = std::chrono::steady_clock;

void append_be16(std::vector<uint8_t>& v, uint16_t x) {
  v.resize(v.size() + 2);
  put_be16(v.data() + v.size() - 2, x);
}
void append_be32(std::vector<uint8_t>& v, uint32_t x) {
  v.resize(v.size() + 4);
  put_be32(v.data() + v.size() - 4, x);
}
// The DVR's clock now as the stream header's date (YYYYMMDD) and time (HHMMSS): the wall
// clock every simulated DVR shares, local time counted as UTC.
void wall_date_time(uint32_t* date, uint32_t* time) {
  const time_t now = time_t(peer_io::wall_clock_ms() / 1000);
  std::tm t{};
  gmtime_r(&now, &t);
  *date = uint32_t((t.tm_year + 1900) * 10000 + (t.tm_mon + 1) * 100 + t.tm_mday);
  *time = uint32_t(t.tm_hour * 10000 + t.tm_min * 100 + t.tm_sec);
}
void put_text16nul(std::vector<uint8_t>& v, const std::string& s) {
  append_be16(v, uint16_t(s.size() + 1));
  v.insert(v.end(), s.begin(), s.end());
  v.push_back(0);
}

// The peer's sockets block, so the send never waits on a full buffer and nothing stops it.
bool send_all(int fd, const uint8_t* p, size_t n) {
  static const std::atomic<bool> never{false};
  return net_send_all(fd, p, n, never);
}
bool send_all(int fd, const std::vector<uint8_t>& v) { return send_all(fd, v.data(), v.size()); }

// A text16 with its NUL at `p` of `n` bytes: the text, and the bytes used (0 when short).
size_t take_text16(const uint8_t* p, size_t n, std::string* out) {
  if (n < 2) return 0;
  const size_t len = get_be16(p);
  if (2 + len > n) return 0;
  const char* s = reinterpret_cast<const char*>(p + 2);
  out->assign(s, strnlen(s, len));
  return 2 + len;
}

// Even and odd rows of a picture: the two fields of a tall picture.
media_gen::Yuv420 field_of(const media_gen::Yuv420& p, int field) {
  media_gen::Yuv420 f;
  f.width = p.width;
  f.height = p.height / 2;
  const int cw = p.width / 2;
  for (int r = field; r < p.height; r += 2)
    f.y.insert(f.y.end(), p.y.begin() + long(r) * p.width, p.y.begin() + long(r + 1) * p.width);
  for (int r = field; r < p.height / 2; r += 2) {
    f.u.insert(f.u.end(), p.u.begin() + long(r) * cw, p.u.begin() + long(r + 1) * cw);
    f.v.insert(f.v.end(), p.v.begin() + long(r) * cw, p.v.begin() + long(r + 1) * cw);
  }
  // Chroma of a field has half the field's rows; repeat the last row when the count is odd.
  const size_t want = size_t(cw) * size_t(f.height / 2);
  while (f.u.size() < want) {
    f.u.insert(f.u.end(), f.u.end() - cw, f.u.end());
    f.v.insert(f.v.end(), f.v.end() - cw, f.v.end());
  }
  f.u.resize(want);
  f.v.resize(want);
  return f;
}

}  // namespace

struct WdvrPeer::Clip {
  std::vector<std::vector<uint8_t>> video[2];  // [field][frame]; field 1 only for tall H.264
  std::vector<bool> keys;
  std::vector<std::vector<uint8_t>> audio;
  std::vector<uint32_t> audio_ms;
  uint32_t clip_ms = 1000;
};

struct WdvrPeer::Session {
  uint32_t id = 0;
  int channel = 0;
  bool live = true;
  uint32_t date = 0, time = 0;
  std::mutex m;
  std::condition_variable cv;
  bool streaming = false;
  bool held = false;
  uint64_t generation = 0;
};

WdvrPeer::WdvrPeer(const PeerConfig& cfg) : cfg_(cfg) {
  if (cfg_.channels < 1) cfg_.channels = 1;
  if (cfg_.channels > 16) cfg_.channels = 16;
}

WdvrPeer::~WdvrPeer() { stop(); }

bool WdvrPeer::start() {
  const bool tall = cfg_.video == Video::H264 && cfg_.height > 479;
  const int fps = cfg_.fps > 0 ? cfg_.fps : 30;
  for (int ch = 0; ch < cfg_.channels; ++ch) {
    auto clip = std::make_shared<Clip>();
    const int fields = tall ? 2 : 1;
    const int h = tall ? cfg_.height / 2 : cfg_.height;
    for (int f = 0; f < fields; ++f) {
      if (cfg_.video == Video::H264) {
        media_gen::H264Encoder enc(cfg_.width, h, fps, cfg_.gop);
        if (!enc.ok()) return false;
        for (int i = 0; i < cfg_.clip_frames; ++i) {
          media_gen::Yuv420 pic = media_gen::synth_picture(cfg_.width, cfg_.height, ch, i);
          if (cfg_.noise > 0) media_gen::add_sensor_noise(pic, cfg_.noise, uint32_t(ch * 1000 + i));
          if (tall) pic = field_of(pic, f);
          std::vector<uint8_t> au;
          bool key = false;
          if (enc.encode(pic, au, key) != 0) return false;
          clip->video[f].push_back(std::move(au));
          if (f == 0) clip->keys.push_back(key);
        }
      } else {
        media_gen::Mpeg4Encoder enc(cfg_.width, cfg_.height, fps, cfg_.gop);
        if (!enc.ok()) return false;
        for (int i = 0; i < cfg_.clip_frames; ++i) {
          media_gen::Yuv420 pic = media_gen::synth_picture(cfg_.width, cfg_.height, ch, i);
          if (cfg_.noise > 0) media_gen::add_sensor_noise(pic, cfg_.noise, uint32_t(ch * 1000 + i));
          // Key frames carry their VOL in front, as the session's decoder set-up expects.
          std::vector<uint8_t> frame;
          bool key = false;
          if (enc.encode_with_headers(pic, frame, key) != 0) return false;
          clip->video[0].push_back(std::move(frame));
          clip->keys.push_back(key);
        }
      }
    }
    clip->clip_ms = uint32_t(cfg_.clip_frames * 1000 / fps);
    const int samples = int(uint64_t(clip->clip_ms) * 8000 / 1000);
    const std::vector<int16_t> pcm = media_gen::tone(samples, 400.0 + 100.0 * ch, 8000.0);
    if (cfg_.audio == Audio::Adpcm) {
      clip->audio = media_gen::adpcm_blocks(pcm, 256);
      for (size_t k = 0; k < clip->audio.size(); ++k) clip->audio_ms.push_back(uint32_t(k * 32));
    } else if (cfg_.audio == Audio::G723) {
      // 6.3 kbit/s: a 24-byte frame every 30 ms.
      const std::vector<uint8_t> g723 = media_gen::g723_encode(pcm);
      for (size_t at = 0; at + 24 <= g723.size(); at += 24) {
        clip->audio.emplace_back(g723.begin() + long(at), g723.begin() + long(at) + 24);
        clip->audio_ms.push_back(uint32_t(at / 24 * 30));
      }
    }
    clips_.push_back(std::move(clip));
  }
  setup_ = wdvr::setup_payload(4, 7, cfg_.faults.setup_count);

  static const int kOffsets[] = {0, 1, 2, 3, 4, 7};
  std::mt19937 rng(std::random_device{}() ^ uint32_t(::getpid()));
  for (int attempt = 0; attempt < 200 && listeners_.empty(); ++attempt) {
    const uint16_t base = cfg_.base_port ? cfg_.base_port : uint16_t(20000 + rng() % 40000);
    std::vector<std::pair<int, uint16_t>> got;
    for (int off : kOffsets) {
      const uint16_t port = uint16_t(base + off);
      const int fd = net_listen_loopback(port, nullptr);
      if (fd < 0) break;
      got.emplace_back(fd, port);
    }
    if (got.size() == std::size(kOffsets)) {
      listeners_ = std::move(got);
      base_ = base;
    } else {
      for (auto& l : got) ::close(l.first);
      if (cfg_.base_port) return false;
    }
  }
  if (listeners_.empty()) return false;
  stop_ = false;
  accept_thread_ = std::thread([this] { accept_loop(); });
  return true;
}

void WdvrPeer::stop() {
  stop_ = true;
  if (accept_thread_.joinable()) accept_thread_.join();
  drop_connections();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lk(lock_);
    threads.swap(threads_);
    for (auto& s : sessions_) s.second->cv.notify_all();
  }
  for (auto& t : threads) t.join();
  for (auto& l : listeners_) ::close(l.first);
  listeners_.clear();
}

void WdvrPeer::drop_connections() {
  std::lock_guard<std::mutex> lk(lock_);
  for (int fd : open_fds_) ::shutdown(fd, SHUT_RDWR);
}

int WdvrPeer::open_connections() const {
  std::lock_guard<std::mutex> lk(lock_);
  return int(open_fds_.size());
}

std::vector<Request> WdvrPeer::requests() const {
  std::lock_guard<std::mutex> lk(lock_);
  return requests_;
}

int WdvrPeer::count(uint32_t number) const {
  std::lock_guard<std::mutex> lk(lock_);
  int n = 0;
  for (const Request& r : requests_) n += r.number == number;
  return n;
}

bool WdvrPeer::wait_request(uint32_t number, int nth, int timeout_ms, Request* out) const {
  std::unique_lock<std::mutex> lk(lock_);
  auto found = [&]() -> const Request* {
    int k = 0;
    for (const Request& r : requests_)
      if (r.number == number && k++ == nth) return &r;
    return nullptr;
  };
  if (!cv_.wait_for(lk, std::chrono::milliseconds(timeout_ms), [&] { return found() != nullptr; }))
    return false;
  if (out) *out = *found();
  return true;
}

bool WdvrPeer::wait_frames(long n, int timeout_ms) const {
  const auto end = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (frames_sent_.load() < n) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::vector<uint8_t> WdvrPeer::setup_payload() const {
  std::lock_guard<std::mutex> lk(lock_);
  return setup_;
}

const std::vector<uint8_t>& WdvrPeer::video_frame(int channel, int index, int field) const {
  const Clip& c = *clips_.at(size_t(channel));
  const auto& frames = c.video[field && !c.video[1].empty() ? 1 : 0];
  return frames.at(size_t(index) % frames.size());
}

bool WdvrPeer::video_key(int channel, int index) const {
  const Clip& c = *clips_.at(size_t(channel));
  return c.keys.at(size_t(index) % c.keys.size());
}

const std::vector<std::vector<uint8_t>>& WdvrPeer::audio_units(int channel) const {
  return clips_.at(size_t(channel))->audio;
}

void WdvrPeer::log(uint16_t port, uint32_t number, uint32_t flag, uint32_t length,
                   const std::vector<uint8_t>& body) {
  {
    std::lock_guard<std::mutex> lk(lock_);
    requests_.push_back(Request{port, number, flag, length, body});
  }
  cv_.notify_all();
}

bool WdvrPeer::strike(Stage stage, Fault* fault) {
  if (cfg_.faults.stage != stage || cfg_.faults.fault == Fault::None) return false;
  if (cfg_.faults.times >= 0 && strikes_.fetch_add(1) >= cfg_.faults.times) return false;
  *fault = cfg_.faults.fault;
  return true;
}

void WdvrPeer::accept_loop() {
  while (!stop_) {
    std::vector<pollfd> pfds;
    for (auto& l : listeners_) pfds.push_back(pollfd{l.first, POLLIN, 0});
    if (::poll(pfds.data(), pfds.size(), 50) <= 0) continue;
    for (size_t i = 0; i < pfds.size(); ++i) {
      if (!(pfds[i].revents & POLLIN)) continue;
      const int fd = net_accept(listeners_[i].first, 0);
      if (fd < 0) continue;
      const uint16_t port = listeners_[i].second;
      std::lock_guard<std::mutex> lk(lock_);
      open_fds_.insert(fd);
      threads_.emplace_back([this, fd, port] { serve(fd, port); });
    }
  }
}

void WdvrPeer::serve(int fd, uint16_t port) {
  switch (port - base_) {
    case 0: serve_logon(fd, port); break;
    case 1:
    case 3: serve_control(fd, port); break;
    case 2:
    case 4: serve_data(fd, port); break;
    default: serve_multi(fd, port); break;
  }
  std::lock_guard<std::mutex> lk(lock_);
  open_fds_.erase(fd);
  ::shutdown(fd, SHUT_RDWR);
  ::close(fd);
}

bool WdvrPeer::read_exact(int fd, void* buf, size_t n) const {
  auto* p = static_cast<uint8_t*>(buf);
  while (n > 0) {
    if (stop_) return false;
    pollfd pf{fd, POLLIN, 0};
    const int r = ::poll(&pf, 1, 50);
    if (r < 0 && errno != EINTR) return false;
    if (r <= 0) continue;
    const ssize_t k = ::recv(fd, p, n, 0);
    if (k <= 0) {
      if (k < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      return false;
    }
    p += k;
    n -= size_t(k);
  }
  return true;
}

bool WdvrPeer::read_request(int fd, uint16_t port, uint32_t* number, uint32_t* flag,
                            uint32_t* length, std::vector<uint8_t>* body, bool first) {
  uint8_t h[12];
  if (!read_exact(fd, h, 1)) {
    // A connection closed before its first request: the alive test's bare connect.
    if (first) log(port, kBareConnect, 0, 0, {});
    return false;
  }
  if (!read_exact(fd, h + 1, 11)) return false;
  *number = get_be32(h);
  *flag = get_be32(h + 4);
  *length = get_be32(h + 8);
  // The day-mask request announces 12 body bytes and sends 8.
  const uint32_t n = *number == 0x00040006 ? 8 : *length;
  if (n > (16u << 20)) return false;
  body->assign(n, 0);
  if (n && !read_exact(fd, body->data(), n)) return false;
  log(port, *number, *flag, *length, *body);
  return true;
}

void WdvrPeer::hold_open(int fd) const {
  uint8_t scratch[4096];
  while (!stop_) {
    pollfd pf{fd, POLLIN, 0};
    const int r = ::poll(&pf, 1, 50);
    if (r < 0 && errno != EINTR) return;
    if (r > 0 && ::recv(fd, scratch, sizeof scratch, 0) <= 0) return;
  }
}

bool WdvrPeer::reply(int fd, Stage stage, uint32_t number, uint32_t result,
                     const std::vector<uint8_t>& payload) {
  Fault fault = Fault::None;
  if (!strike(stage, &fault)) return send_all(fd, dsf_packet(number, result, payload));
  std::vector<uint8_t> p = dsf_packet(number, result, payload);
  switch (fault) {
    case Fault::Silent: hold_open(fd); return false;
    case Fault::DropMidHeader: send_all(fd, p.data(), 6); return false;
    case Fault::DropMidBody: send_all(fd, p.data(), 12 + payload.size() / 2); return false;
    case Fault::ShortBody: {
      const uint32_t more = uint32_t(payload.size() + 8);
      put_be32(p.data() + 8, more);
      send_all(fd, p);
      hold_open(fd);
      return false;
    }
    case Fault::Oversized: {
      const size_t n = stage == Stage::Cms ? 20000 : stage == Stage::Frame ? 70000 : 9000;
      const Faults& f = cfg_.faults;
      return send_all(fd, dsf_packet(f.oversized_number ? f.oversized_number : number,
                                     f.oversized_flag >= 0 ? uint32_t(f.oversized_flag) : result,
                                     std::vector<uint8_t>(n, 0x5A)));
    }
    default: return send_all(fd, p);
  }
}

void WdvrPeer::serve_logon(int fd, uint16_t port) {
  uint32_t number, flag, length;
  std::vector<uint8_t> body;
  if (!read_request(fd, port, &number, &flag, &length, &body, true)) return;
  if (number != 0x00000001) {
    reply(fd, Stage::None, 0xA0000000 | number, 0xF00F0001, {});
    return;
  }
  std::string user, password, address;
  size_t at = 0, n;
  const uint8_t* p = body.data();
  bool ok = (n = take_text16(p, body.size(), &user)) > 0;
  at += n;
  ok = ok && (n = take_text16(p + at, body.size() - at, &password)) > 0;
  at += n + 1;
  ok = ok && at <= body.size() && (n = take_text16(p + at, body.size() - at, &address)) > 0;
  at += n;
  ok = ok && at + 14 <= body.size();
  uint32_t result = cfg_.faults.logon_result;
  if (!ok)
    result = 0xF00F0003;
  else if (!cfg_.user.empty() && user != cfg_.user)
    result = 0xF0010001;
  else if (!cfg_.user.empty() && password != cfg_.password)
    result = 0xF0010003;
  std::vector<uint8_t> payload;
  if (result == 1) {
    auto s = std::make_shared<Session>();
    s->date = get_be32(p + at);
    s->time = get_be32(p + at + 4);
    s->channel = p[at + 9];
    s->live = s->date == 0xFFFFFFFF;
    {
      std::lock_guard<std::mutex> lk(lock_);
      s->id = next_session_++;
      sessions_[s->id] = s;
    }
    put_text16nul(payload, "WDVR-" + std::to_string(s->id));
    put_text16nul(payload, "wdvr");
    payload.push_back(1);
    put_text16nul(payload, cfg_.own_address);
    if (cfg_.faults.logon_text_length >= 0) {
      put_be16(payload.data(), uint16_t(cfg_.faults.logon_text_length));
    }
  }
  if (reply(fd, Stage::LogOn, 0xA0000001, result, payload)) hold_open(fd);
}

void WdvrPeer::serve_control(int fd, uint16_t port) {
  uint32_t number, flag, length;
  std::vector<uint8_t> body;
  if (!read_request(fd, port, &number, &flag, &length, &body, true)) return;
  std::shared_ptr<Session> s;
  std::string user, token;
  if (number == 0x00000002 && body.size() > 3) {
    const size_t n = take_text16(body.data() + 3, body.size() - 3, &user);
    if (n) take_text16(body.data() + 3 + n, body.size() - 3 - n, &token);
    if (token.rfind("WDVR-", 0) == 0) {
      std::lock_guard<std::mutex> lk(lock_);
      auto it = sessions_.find(uint32_t(std::atoi(token.c_str() + 5)));
      if (it != sessions_.end()) s = it->second;
    }
  }
  const uint32_t result = s ? cfg_.faults.control_logon_result : 0xF00F0003;
  std::vector<uint8_t> info;
  if (result == 1)
    info = channel_info_payload(s->id, cfg_.channels, cfg_.presets, cfg_.faults.channel_count,
                                cfg_.faults.preset_name_length);
  if (!reply(fd, Stage::ControlLogOn, 0xA0000002, result, info) || result != 1) return;

  for (;;) {
    if (!read_request(fd, port, &number, &flag, &length, &body, false)) return;
    const uint32_t answer = 0xA0000000 | number;
    const uint8_t* b = body.data();
    bool ok = true;
    switch (number) {
      case 0x00020001: {
        const uint32_t r = cfg_.faults.stream_result;
        uint32_t date = cfg_.live_date, time = cfg_.live_time;
        if (date == 0) wall_date_time(&date, &time);
        ok = reply(fd, Stage::StreamRequest, answer, r,
                   r == 1 ? stream_header(date, time) : std::vector<uint8_t>{});
        if (ok && r == 1) {
          std::lock_guard<std::mutex> lk(s->m);
          s->streaming = true;
          s->cv.notify_all();
        }
        break;
      }
      case 0x00020003: {
        uint32_t r = cfg_.faults.stream_result;
        const size_t alen = body.size() >= 2 ? get_be16(b) : 0;
        if (body.size() < 2 + alen + 11) {
          r = 0xF00F0003;
        } else {
          const uint32_t date = get_be32(b + 2 + alen), time = get_be32(b + 6 + alen);
          const int ch = b[2 + alen + 9];
          if (!recorded(date, time, ch)) r = 0xF00A0001;
          std::lock_guard<std::mutex> lk(s->m);
          s->date = date;
          s->time = time;
        }
        std::vector<uint8_t> payload;
        if (r == 1) {
          append_be32(payload, 0);
          const std::vector<uint8_t> block = stream_header(s->date, s->time);
          payload.insert(payload.end(), block.begin(), block.end());
        }
        ok = reply(fd, Stage::StreamRequest, answer, r, payload);
        if (ok && r == 1) {
          std::lock_guard<std::mutex> lk(s->m);
          s->streaming = true;
          s->cv.notify_all();
        }
        break;
      }
      case 0x00020008: {
        {
          std::lock_guard<std::mutex> lk(s->m);
          s->held = !body.empty() && body[0] == 0;
          s->cv.notify_all();
        }
        ok = reply(fd, Stage::Reply, answer, 1, {});
        break;
      }
      case 0x00031000: {
        std::vector<uint8_t> payload{uint8_t(
            cfg_.faults.relay_count >= 0 ? cfg_.faults.relay_count : int(cfg_.relays.size()))};
        {
          std::lock_guard<std::mutex> lk(lock_);
          payload.insert(payload.end(), cfg_.relays.begin(), cfg_.relays.end());
        }
        ok = reply(fd, Stage::Reply, answer, 1, payload);
        break;
      }
      case 0x00031001: {
        if (body.size() >= 2) {
          std::lock_guard<std::mutex> lk(lock_);
          if (b[0] < cfg_.relays.size()) cfg_.relays[b[0]] = b[1];
        }
        ok = reply(fd, Stage::Reply, answer, 1, {});
        break;
      }
      case 0x00060005:
      case 0x00060007:
      case 0x00060009: {
        std::vector<uint8_t> payload;
        {
          std::lock_guard<std::mutex> lk(s->m);
          if (number == 0x00060009 && body.size() >= 8) {
            s->date = get_be32(b);
            s->time = get_be32(b + 4);
          }
          ++s->generation;
          s->held = false;
          s->cv.notify_all();
        }
        append_be32(payload, body.size() >= 8 && number == 0x00060009 ? get_be32(b + 4)
                             : body.size() >= 4                       ? get_be32(b)
                                                                      : 0);
        ok = reply(fd, Stage::Reply, answer, 1, payload);
        break;
      }
      case 0x00020006:
      case 0x00030201:
      case 0x00030202:
      case 0x00030205:
      case 0x00030207:
      case 0x0003020B:
      case 0x0003020F:
      case 0x00060008:
      case 0x007F0001: ok = reply(fd, Stage::Reply, answer, 1, {}); break;
      default: ok = reply(fd, Stage::Reply, answer, 0xF00F0001, {}); break;
    }
    if (!ok) return;
  }
}

void WdvrPeer::serve_data(int fd, uint16_t port) {
  uint32_t number, flag, length;
  std::vector<uint8_t> body;
  if (!read_request(fd, port, &number, &flag, &length, &body, true)) return;
  std::shared_ptr<Session> s;
  if (number == 0x007F0002 && body.size() >= 4) {
    std::lock_guard<std::mutex> lk(lock_);
    auto it = sessions_.find(get_be32(body.data()));
    if (it != sessions_.end()) s = it->second;
  }
  const uint32_t result = s ? cfg_.faults.data_logon_result : 0xF00F0002;
  if (!reply(fd, Stage::DataLogOn, 0xA07F0002, result, {}) || result != 1) return;
  stream(fd, s);
}

void WdvrPeer::stream(int fd, std::shared_ptr<Session> s) {
  {
    std::unique_lock<std::mutex> lk(s->m);
    while (!s->streaming && !stop_) {
      s->cv.wait_for(lk, std::chrono::milliseconds(50));
      pollfd pf{fd, POLLIN, 0};
      if (::poll(&pf, 1, 0) > 0) {
        uint8_t c;
        if (::recv(fd, &c, 1, MSG_DONTWAIT) == 0) return;
      }
    }
  }
  const Clip& clip = *clips_.at(size_t(s->channel) % clips_.size());
  const int fps = cfg_.fps > 0 ? cfg_.fps : 30;
  const bool tall = !clip.video[1].empty();
  long i = 0, audio_j = 0, sent = 0;
  uint64_t generation = 0;
  bool ended = false;
  auto t0 = Clock::now();
  while (!stop_) {
    {
      std::unique_lock<std::mutex> lk(s->m);
      if (s->generation != generation) {
        generation = s->generation;
        i = audio_j = 0;
        ended = false;
        t0 = Clock::now();
      }
      if (s->held || ended) {
        s->cv.wait_for(lk, std::chrono::milliseconds(20));
        continue;
      }
    }
    if (sent == cfg_.faults.after_frames) {
      Fault fault = Fault::None;
      if (strike(Stage::Frame, &fault)) {
        const std::vector<uint8_t> first =
            frame_packets(s->channel, FrameSpec{}, clip.video[0][0])[0];
        if (fault == Fault::Silent) {
          hold_open(fd);
          return;
        }
        if (fault == Fault::DropMidHeader) {
          send_all(fd, first.data(), 6);
          return;
        }
        if (fault == Fault::DropMidBody) {
          send_all(fd, first.data(), first.size() / 2);
          return;
        }
        if (fault == Fault::ShortBody) {
          std::vector<uint8_t> p = first;
          p[11] = uint8_t(p[11] + 8);
          send_all(fd, p);
          hold_open(fd);
          return;
        }
        if (fault == Fault::Oversized &&
            !send_all(fd, dsf_packet(0x00020102, 1, std::vector<uint8_t>(70000, 0x5A))))
          return;
      }
    }
    if (!s->live && cfg_.skip_every > 0 && i > 0 && i % cfg_.skip_every == 0) {
      std::vector<uint8_t> skip = dsf_packet(0x00020102, 0xF0030003, {});
      skip.push_back(0);
      if (!send_all(fd, skip)) return;
    }
    const uint32_t ms = uint32_t(uint64_t(i) * 1000 / uint64_t(fps));
    const size_t k = size_t(i) % clip.keys.size();
    for (int f = 0; f < (tall ? 2 : 1); ++f) {
      FrameSpec spec;
      spec.key = clip.keys[k];
      spec.field = f == 1;
      spec.time_offset = ms;
      for (const auto& pkt : frame_packets(s->channel, spec, clip.video[f][k]))
        if (!send_all(fd, pkt)) return;
    }
    while (!clip.audio.empty()) {
      const size_t u = size_t(audio_j) % clip.audio.size();
      const uint32_t at =
          uint32_t(audio_j / long(clip.audio.size())) * clip.clip_ms + clip.audio_ms[u];
      if (at > ms) break;
      FrameSpec spec;
      spec.kind = 1;
      spec.time_offset = at;
      for (const auto& pkt : frame_packets(s->channel, spec, clip.audio[u]))
        if (!send_all(fd, pkt)) return;
      ++audio_j;
    }
    ++i;
    ++sent;
    frames_sent_.fetch_add(1);
    if (!s->live && i >= cfg_.playback_frames) {
      if (!send_all(fd, dsf_packet(0x00020102, 0xF00A0006, {}))) return;
      ended = true;
    }
    if (cfg_.fps > 0) {
      const auto due = t0 + std::chrono::milliseconds(uint64_t(i) * 1000 / uint64_t(cfg_.fps));
      while (!stop_ && Clock::now() < due) {
        std::unique_lock<std::mutex> lk(s->m);
        s->cv.wait_until(lk, std::min(due, Clock::now() + std::chrono::milliseconds(20)));
        if (s->generation != generation) break;
      }
    }
  }
}

std::vector<uint8_t> WdvrPeer::stream_header(uint32_t date, uint32_t time) const {
  HeaderSpec h;
  h.vqz = cfg_.vqz;
  h.year = uint16_t(date / 10000);
  h.month = uint8_t(date / 100 % 100);
  h.day = uint8_t(date % 100);
  h.hour = uint8_t(time / 10000);
  h.minute = uint8_t(time / 100 % 100);
  h.second = uint8_t(time % 100);
  h.h264 = cfg_.video == Video::H264;
  h.width = uint16_t(cfg_.width);
  h.height = uint16_t(cfg_.height);
  h.motion_bits = cfg_.faults.motion_bits > 0 ? cfg_.faults.motion_bits : 0;
  h.audio = cfg_.audio;
  if (cfg_.faults.audio_setup >= 0) h.audio_setup = uint8_t(cfg_.faults.audio_setup);
  return header_block(h);
}

bool WdvrPeer::recorded(uint32_t date, uint32_t time, int channel) const {
  const std::vector<uint8_t> t = record_table(cfg_, date, channel);
  const uint32_t slot = (time / 10000) * 10 + (time / 100 % 100) / 6;
  return slot < 240 && t[slot];
}

void WdvrPeer::serve_multi(int fd, uint16_t port) {
  uint32_t number, flag, length;
  std::vector<uint8_t> body;
  for (bool first = true;; first = false) {
    if (!read_request(fd, port, &number, &flag, &length, &body, first)) return;
    const uint8_t* b = body.data();
    if ((number & 0xFFFF0000) == 0x00070000) {
      const uint32_t answer = 0xA0000000 | number;
      bool ok;
      switch (number) {
        case 0x7000F:
          ok = reply(fd, Stage::Cms, answer, 1,
                     cms_system_info_body(cfg_.channels, cfg_.faults.cms_channel_count));
          break;
        case 0x70200: ok = reply(fd, Stage::Cms, answer, 1, cms_health_body(cfg_.health)); break;
        case 0x70101:
          if (cfg_.faults.search_status_flag0) {
            ok = reply(fd, Stage::Cms, answer, 0, {});
          } else {
            std::vector<uint8_t> st;
            {
              std::lock_guard<std::mutex> lk(lock_);
              st = {cfg_.search_status[0], cfg_.search_status[1], 0, 0};
            }
            ok = reply(fd, Stage::Cms, answer, 1, st);
          }
          break;
        case 0x70102:
          if (!body.empty()) {
            std::lock_guard<std::mutex> lk(lock_);
            cfg_.search_status[0] = b[0];
          }
          ok = reply(fd, Stage::Cms, answer, 1, {});
          break;
        case 0x70100: ok = reply(fd, Stage::Cms, answer, 1, {}); break;
        case 0x70002: ok = reply(fd, Stage::Cms, answer, 1, cms_a0070002_body(3)); break;
        case 0x70003: ok = reply(fd, Stage::Cms, answer, 1, cms_a0070003_body(3)); break;
        default: ok = reply(fd, Stage::Cms, answer, 0, {}); break;
      }
      if (!ok) return;
      continue;
    }
    switch (number) {
      case 0x00040006: {
        std::vector<uint8_t> payload;
        const uint32_t date = body.size() >= 4 ? get_be32(b) : 0;
        const bool match =
            int(date / 10000) == cfg_.record_year && int(date / 100 % 100) == cfg_.record_month;
        append_be32(payload, match ? cfg_.record_days : 0);
        reply(fd, Stage::RecordInfo, 0xA0040006, 1, payload);
        break;
      }
      case 0x00040004: {
        std::vector<uint8_t> payload;
        const uint32_t date = body.size() >= 4 ? get_be32(b) : 0;
        const uint32_t mask = body.size() >= 8 ? get_be32(b + 4) : 0;
        for (int ch = 0; ch < 16; ++ch)
          if (mask >> ch & 1) {
            const std::vector<uint8_t> t = record_table(cfg_, date, ch);
            payload.insert(payload.end(), t.begin(), t.end());
          }
        reply(fd, Stage::RecordInfo, 0xA0040004, 1, payload);
        break;
      }
      case 0x00080001: {
        const std::vector<uint8_t> payload = setup_payload();
        reply(fd, Stage::Setup, 0xA0080001, 1, payload);
        break;
      }
      case 0x00080002: {
        {
          std::lock_guard<std::mutex> lk(lock_);
          setup_ = body;
        }
        reply(fd, Stage::Setup, 0xA0080002, 1, {});
        break;
      }
      default: reply(fd, Stage::None, 0xA0000000 | number, 0xF00F0001, {}); break;
    }
    hold_open(fd);
    return;
  }
}

}  // namespace wdvr
