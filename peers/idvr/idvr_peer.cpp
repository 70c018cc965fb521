#include "peers/idvr/idvr_peer.h"

#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstring>

#include "peers/media/media_gen.h"
#include "peers/peer_io.h"
#include "platform/net/net.h"
#include "platform/wire/byte_reader.h"

namespace idvr {

namespace {

using Clock = std::chrono::steady_clock;
constexpr char kPrefix[] = "QX-27391-TORMEKA";

void le32(std::vector<uint8_t>& v, size_t at, uint32_t x) { put_le32(v.data() + at, x); }

long long now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
      .count();
}

std::vector<uint8_t> plain_record(uint32_t kind, uint32_t len) {
  std::vector<uint8_t> r(76, 0);
  for (int i = 0; i < 8; ++i) r[size_t(i)] = uint8_t(i + 1);
  le32(r, 8, kind);
  le32(r, 12, len);
  return r;
}

}  // namespace

void encode_clips(int channels, int width, int height, int fps, int gop, int frames,
                  bool interlaced, int offset, std::vector<std::vector<std::vector<uint8_t>>>* vops,
                  std::vector<std::vector<bool>>* keys) {
  vops->assign(size_t(channels), {});
  keys->assign(size_t(channels), {});
  for (int ch = 0; ch < channels; ++ch) {
    media_gen::Mpeg4Encoder enc(width, height, fps > 0 ? fps : 30, gop, interlaced);
    for (int i = 0; i < frames; ++i) {
      std::vector<uint8_t> vop;
      bool key = false;
      if (!enc.ok() ||
          enc.encode(media_gen::synth_picture(width, height, ch + offset, i), vop, key) != 0) {
        vop.assign(64, 0x11);
        key = i % gop == 0;
      }
      (*vops)[size_t(ch)].push_back(std::move(vop));
      (*keys)[size_t(ch)].push_back(key);
    }
  }
}

std::vector<uint8_t> video_record(uint32_t size, bool key, uint32_t seq, int channel, int width,
                                  int height, bool interlaced, uint32_t interval, uint32_t extra,
                                  uint32_t sec, uint32_t usec) {
  std::vector<uint8_t> r = plain_record(2, size);
  le32(r, 16, key ? 0 : 1);
  le32(r, 20, seq);
  le32(r, 32, uint32_t(channel));
  le32(r, 36, uint32_t(width));
  le32(r, 40, uint32_t(height));
  le32(r, 44, interlaced ? 1 : 0);
  le32(r, 48, 1);  // video type
  le32(r, 52, interval);
  le32(r, 60, extra);
  le32(r, 64, 0x5A5A);
  le32(r, 68, sec);
  le32(r, 72, usec);
  return r;
}

struct IdvrPeer::Session {
  int fd = -1;
  bool playback = false;
  std::atomic<bool> closed{false};
};

IdvrPeer::IdvrPeer(const PeerConfig& cfg) : cfg_(cfg) {
  if (cfg_.channels < 1) cfg_.channels = 1;
  if (cfg_.channels > 16) cfg_.channels = 16;
  if (cfg_.clip_frames < 1) cfg_.clip_frames = 1;
  if (cfg_.gop < 1) cfg_.gop = 1;
}

IdvrPeer::~IdvrPeer() { stop(); }

const std::vector<uint8_t>& IdvrPeer::clip_frame(int channel, int index) const {
  const auto& c = (*clips_)[size_t(channel)];
  return c[size_t(index) % c.size()];
}

bool IdvrPeer::clip_key(int channel, int index) const {
  const auto& k = (*keys_)[size_t(channel)];
  return k[size_t(index) % k.size()];
}

bool IdvrPeer::start() {
  if (cfg_.shared_clips && cfg_.shared_keys && int(cfg_.shared_clips->size()) >= cfg_.channels) {
    clips_ = cfg_.shared_clips;
    keys_ = cfg_.shared_keys;
  } else {
    auto v = std::make_shared<std::vector<std::vector<std::vector<uint8_t>>>>();
    auto k = std::make_shared<std::vector<std::vector<bool>>>();
    encode_clips(cfg_.channels, cfg_.width, cfg_.height, cfg_.fps, cfg_.gop, cfg_.clip_frames,
                 cfg_.interlaced, cfg_.picture_offset, v.get(), k.get());
    clips_ = v;
    keys_ = k;
  }
  live_fd_ = net_listen_loopback(cfg_.live_port, &live_port_);
  pb_fd_ = net_listen_loopback(cfg_.pb_port, &pb_port_);
  ctrl_fd_ = net_listen_loopback(cfg_.ctrl_port, &ctrl_port_);
  if (live_fd_ < 0 || pb_fd_ < 0 || ctrl_fd_ < 0) return false;
  stop_.store(false);
  accept_threads_.emplace_back([this] { accept_loop(live_fd_, false, false); });
  accept_threads_.emplace_back([this] { accept_loop(pb_fd_, true, false); });
  accept_threads_.emplace_back([this] { accept_loop(ctrl_fd_, false, true); });
  return true;
}

void IdvrPeer::stop() {
  stop_.store(true);
  peer_io::join_all(lock_, accept_threads_);
  peer_io::join_all(lock_, session_threads_);
  for (int* fd : {&live_fd_, &pb_fd_, &ctrl_fd_}) peer_io::close_listener(*fd);
}

std::vector<Record> IdvrPeer::records() const {
  std::lock_guard<std::mutex> g(lock_);
  return records_;
}

bool IdvrPeer::wait_record(uint32_t kind, int nth, int timeout_ms, Record* out) const {
  std::unique_lock<std::mutex> g(lock_);
  return cv_.wait_for(g, std::chrono::milliseconds(timeout_ms), [&] {
    int seen = 0;
    for (const Record& r : records_)
      if (r.kind == kind && seen++ == nth) {
        if (out) *out = r;
        return true;
      }
    return false;
  });
}

std::vector<Command> IdvrPeer::commands() const {
  std::lock_guard<std::mutex> g(lock_);
  return commands_;
}

bool IdvrPeer::wait_commands(size_t n, int timeout_ms) const {
  std::unique_lock<std::mutex> g(lock_);
  return cv_.wait_for(g, std::chrono::milliseconds(timeout_ms),
                      [&] { return commands_.size() >= n; });
}

bool IdvrPeer::wait_frames(long n, int timeout_ms) const {
  std::unique_lock<std::mutex> g(lock_);
  return cv_.wait_for(g, std::chrono::milliseconds(timeout_ms),
                      [&] { return frames_sent_.load() >= n; });
}

void IdvrPeer::drop_connections() { peer_io::cut_all(lock_, sessions_); }

void IdvrPeer::set_offline(bool down) {
  offline_.store(down);  // first, so that a client coming back meanwhile is refused
  if (down) drop_connections();
}

void IdvrPeer::accept_loop(int listen_fd, bool playback, bool control) {
  peer_io::accept_loop(
      listen_fd, stop_, lock_, sessions_, session_threads_, control ? nullptr : &connections_,
      [this, playback, control](std::shared_ptr<Session> s) {
        s->playback = playback;
        if (control)
          run_control(s);
        else
          run_session(s);
      },
      &offline_);
}

void IdvrPeer::run_control(std::shared_ptr<Session> s) {
  std::vector<uint8_t> got;
  const size_t plen = std::strlen(kPrefix);
  while (!stop_.load() && !s->closed.load()) {
    if (!peer_io::read_some(s->fd, 20, got)) break;
    if (got.empty()) continue;
    const std::string in(got.begin(), got.end());
    got.clear();
    const long long at = now_ms();
    const long pics = pb_frames_sent_.load();
    std::lock_guard<std::mutex> g(lock_);
    // Commands carry no terminator: each prefix starts the next one, and the bytes up to
    // the next prefix belong to the one before.
    size_t p = 0;
    while (p < in.size()) {
      const size_t q = in.find(kPrefix, p);
      const size_t end = q == std::string::npos ? in.size() : q;
      if (end > p) {
        if (commands_.empty()) commands_.push_back(Command{"", at, pics, false});
        commands_.back().text += in.substr(p, end - p);
      }
      if (q == std::string::npos) break;
      commands_.push_back(Command{"", at, pics, true});
      p = q + plen;
    }
    cv_.notify_all();
  }
  peer_io::close_session(s->fd, s->closed);
}

void IdvrPeer::run_session(std::shared_ptr<Session> s) {
  std::vector<uint8_t> in;
  bool logged_in = false;
  auto fail = [&] { peer_io::cut(s->fd, s->closed); };
  auto out = [&](const std::vector<uint8_t>& p) {
    return peer_io::send_counted(s->fd, s->closed, p, stop_, bytes_sent_);
  };
  auto parse = [&](bool answer) {
    while (in.size() >= 76) {
      Record r;
      r.kind = get_le32(in.data() + 8);
      r.sub = get_le32(in.data() + 12);
      r.bytes.assign(in.begin(), in.begin() + 76);
      in.erase(in.begin(), in.begin() + 76);
      {
        std::lock_guard<std::mutex> g(lock_);
        records_.push_back(r);
      }
      cv_.notify_all();
      if (!answer || cfg_.stall || r.kind != 1 || r.sub != 1) continue;
      const std::string user(reinterpret_cast<const char*>(r.bytes.data() + 16),
                             strnlen(reinterpret_cast<const char*>(r.bytes.data() + 16), 8));
      const std::string pass(reinterpret_cast<const char*>(r.bytes.data() + 24),
                             strnlen(reinterpret_cast<const char*>(r.bytes.data() + 24), 8));
      if (cfg_.refuse || user != cfg_.user.substr(0, 8) || pass != cfg_.password.substr(0, 8)) {
        fail();
        return;
      }
      std::vector<uint8_t> reply = plain_record(1, 0);
      const std::string pid = std::to_string(cfg_.ctrl_pid);
      std::memcpy(reply.data() + 16, pid.data(), pid.size());
      if (out(reply)) {
        logged_in = true;
        logins_.fetch_add(1);
      }
    }
  };
  const int fps = cfg_.fps > 0 ? cfg_.fps : 30;
  auto next_tick = Clock::now();
  long serial = 0;
  bool oversized = false;
  std::vector<long> frame_no(size_t(cfg_.channels), 0);
  // Time stamps run from the session's start on the wall clock, unless a test fixes it.
  const uint64_t clock_us =
      uint64_t(cfg_.clock_start_ms > 0 ? cfg_.clock_start_ms : peer_io::wall_clock_ms()) * 1000;
  std::vector<uint32_t> seq(size_t(cfg_.channels), 0);
  while (!stop_.load() && !s->closed.load()) {
    const bool streaming = logged_in && !cfg_.stall;
    if (!peer_io::read_some(s->fd, streaming ? 0 : 10, in)) break;
    parse(true);
    if (!streaming || s->closed.load()) continue;
    if (cfg_.fps > 0 && !peer_io::round_due(next_tick)) continue;
    if (cfg_.fps > 0) next_tick += std::chrono::microseconds(1000000 / cfg_.fps);
    for (int ch = 0; ch < cfg_.channels && !s->closed.load(); ++ch, ++serial) {
      if (cfg_.oversize != Oversize::None && !oversized && serial >= cfg_.oversize_after) {
        oversized = true;
        std::vector<uint8_t> r;
        if (cfg_.oversize == Oversize::Frame)
          r = video_record(0x40001, true, 0, ch, cfg_.width, cfg_.height, false, 15, 0, 1, 0);
        else if (cfg_.oversize == Oversize::Drop)
          r = plain_record(3, 49);
        else
          r = video_record(64, true, 0, ch, cfg_.width, cfg_.height, false, 15,
                           s->playback ? 0x7FFFFFF0u : 0, 1, 0);
        if (cfg_.oversize == Oversize::Extra) r.resize(76 + 64, 0x11);
        if (!out(r)) break;
      }
      if (cfg_.login_every > 0 && serial % cfg_.login_every == 0) {
        std::vector<uint8_t> r = plain_record(1, 0);
        const std::string pid = std::to_string(cfg_.ctrl_pid);
        std::memcpy(r.data() + 16, pid.data(), pid.size());
        if (!out(r)) break;
      }
      if (cfg_.unknown_every > 0 && serial % cfg_.unknown_every == 0) {
        std::vector<uint8_t> r = plain_record(9, 0);
        std::memcpy(r.data() + 16, "GARBAGE\x01\x02", 9);
        if (!out(r)) break;
      }
      if (cfg_.mix && serial % 7 == 3) {
        std::vector<uint8_t> r = plain_record(3, 20);
        r.resize(76 + 20, 0x33);
        if (!out(r)) break;
      }
      if (cfg_.mix && serial % 11 == 5 && !out(plain_record(5, 0))) break;
      if (cfg_.mix && serial % 13 == 7) {
        std::vector<uint8_t> r = plain_record(6, 0);
        r.resize(76 + 12, 0x66);
        if (!out(r)) break;
      }
      const long no = frame_no[size_t(ch)]++;
      const std::vector<uint8_t>& vop = clip_frame(ch, int(no));
      const bool key = clip_key(ch, int(no));
      uint32_t& sq = seq[size_t(ch)];
      sq = key ? 0 : sq + 1;
      const uint32_t extra = s->playback ? cfg_.extra_block : 0;
      const uint64_t us = clock_us + uint64_t(no) * 1000000 / uint64_t(fps);
      std::vector<uint8_t> r =
          video_record(uint32_t(vop.size()), key, sq, ch, cfg_.width, cfg_.height, cfg_.interlaced,
                       uint32_t(cfg_.gop <= 30 ? cfg_.gop : 30), extra, uint32_t(us / 1000000),
                       uint32_t(us % 1000000));
      r.insert(r.end(), vop.begin(), vop.end());
      r.resize(r.size() + extra, 0xEE);
      if (cfg_.drop_after > 0 && serial + 1 >= cfg_.drop_after) {
        net_send_all(s->fd, r.data(), r.size() / 2, stop_);
        fail();
        break;
      }
      if (!out(r)) break;
      frames_sent_.fetch_add(1);
      if (s->playback) pb_frames_sent_.fetch_add(1);
    }
    cv_.notify_all();
  }
  peer_io::read_tail(s->fd, in);
  parse(false);
  peer_io::close_session(s->fd, s->closed);
  cv_.notify_all();
}

}  // namespace idvr
