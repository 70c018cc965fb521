#include "peers/sdvr/sdvr_peer.h"

#include <openssl/evp.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "peers/media/media_gen.h"
#include "peers/peer_io.h"
#include "peers/tirenc/tirenc.h"
#include "platform/net/net.h"

namespace sdvr {

namespace {

using Clock = std::chrono::steady_clock;

std::string hex4(unsigned v, bool lower) {
  char t[8];
  std::snprintf(t, sizeof t, lower ? "%04x" : "%04X", v & 0xFFFFu);
  return t;
}

int hex_value(const uint8_t* p) {
  int v = 0;
  for (int i = 0; i < 4; ++i) {
    const int c = std::tolower(p[i]);
    const int d = std::isdigit(c) ? c - '0' : (c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1);
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

}  // namespace

std::vector<uint8_t> control_packet(const std::string& code, const std::string& body,
                                    bool lower_case) {
  std::string c = code;
  if (lower_case)
    for (char& ch : c) ch = char(std::tolower(static_cast<unsigned char>(ch)));
  std::vector<uint8_t> p = {0, 0, 1, 0xFE};
  const std::string len = hex4(unsigned(12 + body.size()), lower_case);
  p.insert(p.end(), len.begin(), len.end());
  p.insert(p.end(), c.begin(), c.end());
  p.insert(p.end(), body.begin(), body.end());
  return p;
}

std::string md5_hex(const std::string& text) {
  uint8_t d[16];
  unsigned n = 0;
  EVP_Digest(text.data(), text.size(), d, &n, EVP_md5(), nullptr);
  std::string out;
  char t[4];
  for (unsigned i = 0; i < n; ++i) {
    std::snprintf(t, sizeof t, "%02X", d[i]);
    out += t;
  }
  return out;
}

std::vector<std::vector<std::vector<uint8_t>>> encode_clips(int channels, int height, int frames,
                                                            int offset, bool top_row_only) {
  std::vector<std::vector<std::vector<uint8_t>>> clips(static_cast<size_t>(channels));
  std::vector<uint8_t> flags(size_t(40 * (height / 16)), 0);
  for (int x = 0; x < 40; ++x) flags[size_t(x)] = tirenc::kCoded | tirenc::kAllLuma;
  for (int ch = 0; ch < channels; ++ch) {
    for (int i = 0; i < frames; ++i) {
      media_gen::Yuv420 pic = media_gen::synth_picture(640, height, ch + offset, i);
      std::vector<uint8_t> i420 = pic.y;
      i420.insert(i420.end(), pic.u.begin(), pic.u.end());
      i420.insert(i420.end(), pic.v.begin(), pic.v.end());
      tirenc::Frame f;
      tirenc::Options o;
      o.format_code = ch;
      if (top_row_only) o.mb_flags = flags.data();
      // A coarser scale when the coded data happens to hold a start code of its own.
      for (int q = 4; q <= 14; ++q) {
        o.quant_scale = q;
        if (tirenc::encode_frame(i420.data(), 640, height, o, f) == 0) break;
        f.bytes.clear();
      }
      clips[size_t(ch)].push_back(std::move(f.bytes));
    }
  }
  return clips;
}

struct SdvrPeer::Session {
  int fd = -1;
  std::atomic<bool> closed{false};
  bool logged_in = false;
};

SdvrPeer::SdvrPeer(const PeerConfig& cfg) : cfg_(cfg) {
  if (cfg_.channels < 1) cfg_.channels = 1;
  if (cfg_.channels > 4) cfg_.channels = 4;
  if (cfg_.height != 224) cfg_.height = 272;
  if (cfg_.clip_frames < 1) cfg_.clip_frames = 1;
  if (cfg_.fps == 0) cfg_.fps = cfg_.height == 224 ? 30 : 25;
}

SdvrPeer::~SdvrPeer() { stop(); }

const std::vector<uint8_t>& SdvrPeer::clip_frame(int channel, int index) const {
  const auto& c = (*clips_)[size_t(channel)];
  return c[size_t(index) % c.size()];
}

int SdvrPeer::clip_size() const { return int((*clips_)[0].size()); }

bool SdvrPeer::start() {
  if (cfg_.shared_clips && int(cfg_.shared_clips->size()) >= cfg_.channels)
    clips_ = cfg_.shared_clips;
  else
    clips_ = std::make_shared<const std::vector<std::vector<std::vector<uint8_t>>>>(
        encode_clips(cfg_.channels, cfg_.height, cfg_.clip_frames, cfg_.picture_offset));
  if (cfg_.full_every > 1)
    partial_ =
        encode_clips(cfg_.channels, cfg_.height, cfg_.clip_frames, cfg_.picture_offset, true);
  listen_fd_ = net_listen_loopback(cfg_.port, &port_);
  if (listen_fd_ < 0) return false;
  stop_.store(false);
  accept_thread_ = std::thread([this] { accept_loop(); });
  return true;
}

void SdvrPeer::stop() {
  stop_.store(true);
  if (accept_thread_.joinable()) accept_thread_.join();
  peer_io::join_all(lock_, session_threads_);
  peer_io::close_listener(listen_fd_);
}

std::vector<Packet> SdvrPeer::packets() const {
  std::lock_guard<std::mutex> g(lock_);
  return packets_;
}

bool SdvrPeer::wait_packet(const std::string& code, int nth, int timeout_ms, Packet* out) const {
  std::unique_lock<std::mutex> g(lock_);
  auto found = [&] {
    int seen = 0;
    for (const Packet& p : packets_)
      if (p.code == code && seen++ == nth) {
        if (out) *out = p;
        return true;
      }
    return false;
  };
  return cv_.wait_for(g, std::chrono::milliseconds(timeout_ms), found);
}

bool SdvrPeer::wait_frames(long n, int timeout_ms) const {
  std::unique_lock<std::mutex> g(lock_);
  return cv_.wait_for(g, std::chrono::milliseconds(timeout_ms),
                      [&] { return frames_sent_.load() >= n; });
}

void SdvrPeer::drop_connections() { peer_io::cut_all(lock_, sessions_); }

void SdvrPeer::set_offline(bool down) {
  offline_.store(down);  // first, so that a client coming back meanwhile is refused
  if (down) drop_connections();
}

void SdvrPeer::accept_loop() {
  peer_io::accept_loop(
      listen_fd_, stop_, lock_, sessions_, session_threads_, &connections_,
      [this](std::shared_ptr<Session> s) { run_session(s); }, &offline_);
}

void SdvrPeer::run_session(std::shared_ptr<Session> s) {
  std::vector<uint8_t> in;
  const bool lc = cfg_.lower_case;
  auto out = [&](const std::vector<uint8_t>& p) {
    return peer_io::send_counted(s->fd, s->closed, p, stop_, bytes_sent_);
  };
  auto answer_login = [&](const Packet& p) {
    const bool digest_ok =
        p.bytes.size() == 44 &&
        std::string(p.bytes.begin() + 12, p.bytes.end()) == md5_hex(cfg_.password);
    Answer a = digest_ok ? cfg_.answer : Answer::Two;
    std::vector<uint8_t> r;
    auto add = [&](const char* code) {
      std::vector<uint8_t> c = control_packet(code, "", lc);
      r.insert(r.end(), c.begin(), c.end());
    };
    switch (a) {
      case Answer::OneThenThree:
        add("0001");
        add("0003");
        break;
      case Answer::Three: add("0003"); break;
      case Answer::Two: add("0002"); break;
      case Answer::Four: add("0004"); break;
      case Answer::OneThenFour:
        add("0001");
        add("0004");
        break;
      case Answer::BadMagic: r = {0, 0, 1, 0xFD, '0', '0', '0', 'C', '0', '0', '0', '3'}; break;
      case Answer::Silent: return;
    }
    const bool accepted = a == Answer::OneThenThree || a == Answer::Three;
    if (accepted && cfg_.garbage) {
      // Bytes before the first start code: text, zeros and lone 01s, never 00 00 01.
      static const char junk[] = "junk\x01\x00\x01\x00\x00\x02\x01\xF8 before the stream";
      r.insert(r.end(), junk, junk + sizeof junk - 1);
    }
    if (out(r) && accepted) {
      s->logged_in = true;
      logins_.fetch_add(1);
    }
  };
  // Takes every whole packet the client sent.
  auto parse = [&](bool answer) {
    while (in.size() >= 12) {
      if (!(in[0] == 0 && in[1] == 0 && in[2] == 1 && in[3] == 0xFE)) {
        in.erase(in.begin());
        continue;
      }
      const int len = hex_value(in.data() + 4);
      if (len < 12 || len > 1024) {
        in.erase(in.begin());
        continue;
      }
      if (in.size() < size_t(len)) break;
      Packet p;
      p.code.assign(in.begin() + 8, in.begin() + 12);
      p.bytes.assign(in.begin(), in.begin() + len);
      in.erase(in.begin(), in.begin() + len);
      {
        std::lock_guard<std::mutex> g(lock_);
        packets_.push_back(p);
      }
      cv_.notify_all();
      if (answer && !cfg_.stall && p.code == "0081") answer_login(p);
    }
  };

  const auto interval =
      cfg_.fps > 0 ? std::chrono::microseconds(1000000 / cfg_.fps) : std::chrono::microseconds(0);
  auto next_tick = Clock::now();
  long serial = 0;
  std::vector<long> frame_no(size_t(cfg_.channels), 0);
  while (!stop_.load() && !s->closed.load()) {
    const bool streaming = s->logged_in && !cfg_.stall;
    if (!peer_io::read_some(s->fd, streaming ? 0 : 10, in)) break;
    parse(true);
    if (!streaming || s->closed.load()) continue;
    if (cfg_.fps > 0 && !peer_io::round_due(next_tick)) continue;
    next_tick += interval;
    for (int ch = 0; ch < cfg_.channels && !s->closed.load(); ++ch, ++serial) {
      const long no = frame_no[size_t(ch)]++;
      std::vector<uint8_t> frame =
          cfg_.full_every > 1 && no % cfg_.full_every != 0
              ? partial_[size_t(ch)][size_t(no) % partial_[size_t(ch)].size()]
              : clip_frame(ch, int(no));
      if (cfg_.oversize_every > 0 && serial % cfg_.oversize_every == cfg_.oversize_every - 1) {
        frame.resize(0x20100, 0x55);  // the header's slices and then far too much
      }
      if (cfg_.control && serial % 5 == 2 && frame.size() > 1000) {
        // A control packet inside the frame, after a byte that is not 0.
        size_t at = frame.size() / 2;
        while (at < frame.size() - 1 && frame[at - 1] == 0) ++at;
        std::vector<uint8_t> c = control_packet("0007", "", lc);
        frame.insert(frame.begin() + long(at), c.begin(), c.end());
      }
      if (cfg_.drop_after > 0 && serial + 1 >= cfg_.drop_after) {
        net_send_all(s->fd, frame.data(), frame.size() / 2, stop_);
        peer_io::cut(s->fd, s->closed);
        break;
      }
      if (!out(frame)) break;
      if (cfg_.audio && serial % 3 == 1) {
        std::vector<uint8_t> a = {0, 0, 1, 0xFA, 0x01, 0x40};
        a.resize(a.size() + 320, 0x55);
        if (!out(a)) break;
      }
      if (cfg_.control && serial % 5 == 4) {
        std::vector<uint8_t> c = control_packet(serial % 10 == 4 ? "0008" : "000D",
                                                serial % 10 == 4 ? "" : "DVR-S READY.", lc);
        if (!out(c)) break;
      }
      if (cfg_.bad_control_every > 0 &&
          serial % cfg_.bad_control_every == cfg_.bad_control_every - 1) {
        std::vector<uint8_t> c = {0, 0, 1, 0xFE, 'F', 'F', 'F', 'F', '0', '0', '0', '7'};
        c.resize(c.size() + 2000, 'x');
        if (!out(c)) break;
      }
      frames_sent_.fetch_add(1);
    }
    cv_.notify_all();
  }
  // What the client sent last (its closing packet) is still recorded.
  peer_io::read_tail(s->fd, in);
  parse(false);
  peer_io::close_session(s->fd, s->closed);
  cv_.notify_all();
}

}  // namespace sdvr
