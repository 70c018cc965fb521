// Test rig of the recording and file playback tests: a scratch directory that is also the
// record directory, record builders, a reader of ".zol" files, and a context whose one receiver
// plays a file into rings that the test reads as a decoder would.
#pragma once

#include <gtest/gtest.h>

#include <SDL/SDL.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/foundation/app_state.h"
#include "client/foundation/config/app_options.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/sock_io.h"
#include "client/foundation/user_events.h"
#include "client/links/file_player.h"
#include "client/links/frame_headers.h"
#include "client/links/recording.h"

namespace rectest {

namespace fs = std::filesystem;

// A fresh directory, made the program directory (where recordings go without a rec_path).
struct ScratchDir {
  fs::path path;
  ScratchDir() {
    char tmpl[] = "/tmp/vigilo-rec-XXXXXX";
    path = mkdtemp(tmpl);
    std::snprintf(app_options.program_dir, sizeof app_options.program_dir, "%s/", path.c_str());
  }
  ~ScratchDir() {
    app_options.program_dir[0] = '\0';
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  std::vector<fs::path> files(const std::string& ext = ".zol") const {
    std::vector<fs::path> out;
    for (const auto& e : fs::recursive_directory_iterator(path))
      if (e.path().extension() == ext) out.push_back(e.path());
    return out;
  }
};

// Waits until `pred` holds: true, or false after timeout_ms.
inline bool wait_for(const std::function<bool()>& pred, int timeout_ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return pred();
}

// One record: FRAME_RECORD_HEADER fields and what follows it.
struct Rec {
  uint8_t protocol = 'Q', media = 'Y';
  std::vector<uint8_t> body;  // frame header + data
  std::vector<uint8_t> bytes() const {
    std::vector<uint8_t> b(FRAME_RECORD_HEADER_SIZE + body.size());
    FRAME_RECORD_HEADER rh;
    rh.protocol = protocol;
    rh.media = media;
    rh.size = uint32_t(body.size());
    encode_frame_record_header(rh, b.data());
    std::memcpy(b.data() + FRAME_RECORD_HEADER_SIZE, body.data(), body.size());
    return b;
  }
};

inline Rec q_video(int channel, bool key, uint32_t sec, uint16_t msec,
                   const std::vector<uint8_t>& data, int w = 176, int h = 144) {
  FRAME_HEADER fh;
  fh.size = uint32_t(data.size());
  fh.channel = uint8_t(channel);
  fh.frame_type = key ? 1 : 0;
  fh.width = uint16_t(w);
  fh.height = uint16_t(h);
  fh.sec = sec;
  fh.msec = msec;
  Rec r{'Q', 'Y', std::vector<uint8_t>(FRAME_HEADER_SIZE)};
  encode_frame_header(fh, r.body.data());
  r.body.insert(r.body.end(), data.begin(), data.end());
  return r;
}

inline Rec q_audio(int channel, uint32_t sec, uint16_t msec, uint8_t fill = 0x55) {
  AUDIO_FRAME_HEADER ah;
  ah.samples = uint16_t(AUDIO_PAYLOAD_SLOT);
  ah.channel = uint16_t(channel);
  ah.sec = sec;
  ah.msec = msec;
  Rec r{'Q', 'A', std::vector<uint8_t>(AUDIO_FRAME_HEADER_SIZE)};
  encode_audio_frame_header(ah, r.body.data());
  r.body.resize(AUDIO_RECORD_SIZE, fill);
  return r;
}

inline Rec i_video(int channel, bool key, uint32_t sec, uint32_t usec, size_t data_len) {
  PICTURE_HEADER ph;
  ph.size = uint32_t(data_len);
  ph.vop_type = key ? 0 : 1;
  ph.channel = uint8_t(channel);
  ph.hsize = 176;
  ph.vsize = 144;
  ph.sec = sec;
  ph.usec = usec;
  Rec r{'I', 'Y', std::vector<uint8_t>(PICTURE_HEADER_SIZE)};
  encode_picture_header(ph, r.body.data());
  r.body.resize(PICTURE_HEADER_SIZE + data_len, uint8_t(channel));
  return r;
}

inline void write_file(const fs::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<uint8_t> read_file(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

// Splits a ".zol" file into records; `whole` is false when a tail remains that is no record.
inline std::vector<Rec> parse_zol(const std::vector<uint8_t>& b, bool* whole = nullptr) {
  std::vector<Rec> out;
  size_t off = 0;
  while (off + FRAME_RECORD_HEADER_SIZE <= b.size()) {
    FRAME_RECORD_HEADER rh = decode_frame_record_header(b.data() + off);
    if (rh.start_key != FRAME_START_KEY || off + FRAME_RECORD_HEADER_SIZE + rh.size > b.size())
      break;
    const uint8_t* p = b.data() + off + FRAME_RECORD_HEADER_SIZE;
    out.push_back({rh.protocol, rh.media, std::vector<uint8_t>(p, p + rh.size)});
    off += FRAME_RECORD_HEADER_SIZE + rh.size;
  }
  if (whole) *whole = off == b.size();
  return out;
}

// Key-frame entries of (channel, time) pairs, in file order.
inline std::vector<KEY_FRAME_ENTRY> entries(
    std::initializer_list<std::pair<uint32_t, double>> times) {
  std::vector<KEY_FRAME_ENTRY> v;
  uint64_t off = 0;
  for (auto [ch, t] : times)
    v.push_back({ch, uint32_t(t), uint16_t(std::lround((t - std::floor(t)) * 1000)), off += 100});
  return v;
}

// A context whose receiver 0 plays the file `name` into `slots` rings.
struct PlayerRig {
  std::unique_ptr<APP_CONTEXT> ctx{new APP_CONTEXT()};
  RECEIVER_INFO* rx = nullptr;
  std::thread thread;
  int result = 1;

  explicit PlayerRig(int slots = 4, uint32_t ring_size = 0x80000) {
    setenv("VIGILO_BOX_ANSWER", "ok", 1);
    EXPECT_EQ(init_app_context(ctx.get()), 0);
    ctx->ring_size = ring_size;
    ctx->num_slots = uint32_t(slots);
    for (int i = 0; i < slots; ++i) {
      ctx->slots[i].ring = static_cast<uint8_t*>(std::calloc(1, ring_size + 1024));
      ctx->slots[i].mutex = SDL_CreateMutex();
    }
    ctx->num_receivers = 1;
    rx = &ctx->receivers[0];
    EXPECT_EQ(init_receiver(rx), 0);
    std::snprintf(rx->name, sizeof rx->name, "[FILE]");
    rx->num_video = 32;
    for (int k = 0; k < 32; ++k) rx->channels[k].id = k;
    rx->context = ctx.get();
    ctx->playback_speed = 1.0;
    receivers_stop.store(0);
    app_quit.store(0);
    set_player_pacing(false);
  }
  ~PlayerRig() {
    stop();
    set_player_pacing(true);
    for (uint32_t i = 0; i < ctx->num_slots; ++i) {
      std::free(ctx->slots[i].ring);
      ctx->slots[i].ring = nullptr;
    }
    free_app_context(ctx.get());
  }

  // Opens the file and starts `player` on it.
  void start(const fs::path& name, int (*player)(RECEIVER_INFO*)) {
    std::snprintf(rx->file_name, sizeof rx->file_name, "%s", name.c_str());
    rx->file = std::fopen(name.c_str(), "rb");
    ASSERT_NE(rx->file, nullptr);
    thread = std::thread([this, player] { result = player(rx); });
  }
  // The receiver's own stop (rigs may run side by side, so the global stop flag stays 0).
  void stop() {
    rx->status.store(RX_STOP);
    if (thread.joinable()) thread.join();
  }
  bool running() const { return rx->status.load() == RX_RECEIVING; }

  // Takes every record the player wrote into the rings so far, slot by slot.
  std::vector<Rec> take() {
    std::vector<Rec> out;
    for (uint32_t i = 0; i < ctx->num_slots; ++i) {
      DISPLAY_SLOT& s = ctx->slots[i];
      SDL_mutexP(s.mutex);
      while (s.read_pos != s.write_pos) {
        if (s.read_pos + FRAME_RECORD_HEADER_SIZE > ctx->ring_size) s.read_pos = 0;
        FRAME_RECORD_HEADER rh = decode_frame_record_header(s.ring + s.read_pos);
        if (rh.start_key != FRAME_START_KEY) {
          s.read_pos = 0;
          continue;
        }
        const uint8_t* p = s.ring + s.read_pos + FRAME_RECORD_HEADER_SIZE;
        out.push_back({rh.protocol, rh.media, std::vector<uint8_t>(p, p + rh.size)});
        s.read_pos += FRAME_RECORD_HEADER_SIZE + rh.size;
        rx->pending_frames.fetch_sub(1);
        rx->pending_bytes.fetch_sub(FRAME_RECORD_HEADER_SIZE + rh.size);
      }
      SDL_mutexV(s.mutex);
    }
    return out;
  }
  // Takes records until `n` arrived or timeout_ms passed.
  std::vector<Rec> take_until(size_t n, int timeout_ms) {
    std::vector<Rec> got;
    wait_for(
        [&] {
          auto more = take();
          got.insert(got.end(), more.begin(), more.end());
          return got.size() >= n;
        },
        timeout_ms);
    return got;
  }
};

}  // namespace rectest
