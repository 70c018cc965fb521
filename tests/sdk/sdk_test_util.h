// Helpers of the SDK tests: hex byte vectors, captured trace lines, open descriptors and
// threads of the process, a small simulated DVR, and waits on conditions with deadlines.
#pragma once

#include <dirent.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "peers/wdvr/wdvr_peer.h"
#include "platform/debug/debug_output.h"

namespace sdktest {

// "00 02 0a" -> {0x00, 0x02, 0x0a}; blanks and '|' are ignored.
inline std::vector<uint8_t> hex(const std::string& s) {
  std::vector<uint8_t> out;
  int nibble = -1;
  for (char c : s) {
    int v;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else
      continue;
    if (nibble < 0) {
      nibble = v;
    } else {
      out.push_back(uint8_t(nibble << 4 | v));
      nibble = -1;
    }
  }
  return out;
}

// Collects every debug output text while alive.
class TraceCapture {
 public:
  TraceCapture() {
    old_ = debug_output_set_sink([this](const std::string& t) {
      std::lock_guard<std::mutex> lk(lock_);
      lines_.push_back(t);
    });
  }
  ~TraceCapture() { debug_output_set_sink(old_); }
  int count(const std::string& text) const {
    std::lock_guard<std::mutex> lk(lock_);
    int n = 0;
    for (const auto& l : lines_) n += l == text;
    return n;
  }
  bool any_starting(const std::string& prefix) const { return count_starting(prefix) > 0; }
  int count_starting(const std::string& prefix) const {
    std::lock_guard<std::mutex> lk(lock_);
    int n = 0;
    for (const auto& l : lines_) n += l.rfind(prefix, 0) == 0;
    return n;
  }

 private:
  DebugOutputSink old_;
  mutable std::mutex lock_;
  std::vector<std::string> lines_;
};

inline int count_entries(const char* dir) {
  int n = 0;
  if (DIR* d = opendir(dir)) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}
inline int open_descriptors() { return count_entries("/proc/self/fd"); }
inline int threads() { return count_entries("/proc/self/task"); }

// A small, cheap picture: the tests that only look at the exchanges do not need more.
inline wdvr::PeerConfig small() {
  wdvr::PeerConfig cfg;
  cfg.width = 64;
  cfg.height = 48;
  cfg.clip_frames = 4;
  cfg.gop = 4;
  return cfg;
}

inline bool wait_until(const std::function<bool()>& done, int timeout_ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace sdktest
