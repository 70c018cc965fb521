// Test harness: one application context with rings, one receiver ('Q' unless told) pointed at a
// simulated DVR, its receive thread, and readers for the rings and SDL's event queue.
#pragma once

#include <gtest/gtest.h>

#include <SDL/SDL.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "client/foundation/app_state.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/sock_io.h"
#include "client/foundation/user_events.h"
#include "client/links/frame_headers.h"
#include "client/links/link_notices.h"
#include "client/links/nc_receiver.h"
#include "peers/qdvr/qdvr_peer.h"

// Seconds of a DVR's wall clock now (local time counted as UTC), as the simulated DVRs stamp
// their frames unless told another time.
inline int64_t dvr_wall_seconds() {
  const time_t now = time(nullptr);
  struct tm local {};
  localtime_r(&now, &local);
  return int64_t(now) + local.tm_gmtoff;
}

struct RingRecord {
  FRAME_RECORD_HEADER rh;
  std::vector<uint8_t> body;  // frame header + data
};

class LinkHarness {
 public:
  explicit LinkHarness(int slots = 8, uint32_t ring_size = 0x400000) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("VIGILO_BOX_ANSWER", "ok", 1);
    SDL_Init(SDL_INIT_VIDEO);
    ctx = std::make_unique<APP_CONTEXT>();
    init_app_context(ctx.get());
    ctx->ring_size = ring_size;
    ctx->num_slots = uint32_t(slots);
    for (int i = 0; i < slots; ++i) {
      ctx->slots[i].ring = static_cast<uint8_t*>(std::calloc(1, ring_size + 1024));
      ctx->slots[i].mutex = SDL_CreateMutex();
    }
    read_pos.assign(size_t(slots), 0);
    ctx->num_receivers = 1;
    rx = &ctx->receivers[0];
    init_receiver(rx);
    rx->protocol = 'Q';
    rx->index = 0;
    std::snprintf(rx->name, sizeof rx->name, "DVR-A");
    std::snprintf(rx->address, sizeof rx->address, "127.0.0.1");
    std::snprintf(rx->username, sizeof rx->username, "admin");
    std::snprintf(rx->password, sizeof rx->password, "secret");
    rx->num_video = 4;
    rx->channel_mask = 0xF;
    rx->shown_mask = 0xF;
    rx->sel_vid_ch.store(0xF);
    rx->audio_mask.store(0xF);
    for (int k = 0; k < 4; ++k) rx->channels[k].audio_on.store(1);
    rx->op_mode = 1;
    rx->sock_timeout = 3;
    rx->context = ctx.get();
    receivers_stop.store(0);
    app_quit.store(0);
    clear_link_notices();
  }
  ~LinkHarness() {
    stop();
    for (uint32_t i = 0; i < ctx->num_slots; ++i) {
      std::free(ctx->slots[i].ring);
      ctx->slots[i].ring = nullptr;
    }
    free_app_context(ctx.get());
    clear_link_notices();
    drain_events();
    SDL_Quit();
  }

  void start(uint16_t port) { start_entry(recv_nc_data, port); }
  // Starts another protocol's receive thread (set rx->protocol to its letter first).
  void start_entry(int (*entry)(RECEIVER_INFO*), uint16_t port) {
    rx->live_port = port;
    rx->thread = std::thread([this, entry] { entry(rx); });
  }
  void stop() {
    receivers_stop.store(1);
    rx->status.store(RX_STOP);
    if (rx->thread.joinable()) rx->thread.join();
    receivers_stop.store(0);
  }

  // Stops the receive thread, expecting it to let go within half a second (even in the
  // middle of a long socket time-out) and to end as RX_ENDED.
  void expect_quick_stop() {
    const auto t0 = std::chrono::steady_clock::now();
    stop();
    EXPECT_LE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
    EXPECT_EQ(RX_ENDED, rx->status.load());
  }

  // Takes every record written so far into slot `slot` (as a decoder would).
  std::vector<RingRecord> take(uint32_t slot) {
    std::vector<RingRecord> out;
    DISPLAY_SLOT& s = ctx->slots[slot];
    SDL_mutexP(s.mutex);
    uint32_t& r = s.read_pos;
    while (r != s.write_pos) {
      if (r + FRAME_RECORD_HEADER_SIZE > ctx->ring_size) r = 0;
      FRAME_RECORD_HEADER rh = decode_frame_record_header(s.ring + r);
      if (rh.start_key != 0xFFFF) {
        r = 0;
        continue;
      }
      RingRecord rec{rh, std::vector<uint8_t>(s.ring + r + 12, s.ring + r + 12 + rh.size)};
      r += 12 + rh.size;
      rx->pending_frames.fetch_sub(1);
      rx->pending_bytes.fetch_sub(12 + rh.size);
      out.push_back(std::move(rec));
    }
    SDL_mutexV(s.mutex);
    return out;
  }

  // Takes the records of every slot, in order per slot.
  std::vector<RingRecord> take_all() {
    std::vector<RingRecord> all;
    for (uint32_t s = 0; s < ctx->num_slots; ++s) {
      auto r = take(s);
      all.insert(all.end(), r.begin(), r.end());
    }
    return all;
  }
  // Takes the rings' records into `recs` until at least `n` of `media` (0: of any medium)
  // are among them: true, or false when timeout_ms passes first.
  bool take_until(size_t n, int timeout_ms, std::vector<RingRecord>* recs, char media = 0) {
    return wait_for(
        [&] {
          auto more = take_all();
          recs->insert(recs->end(), more.begin(), more.end());
          size_t have = 0;
          for (const RingRecord& r : *recs) have += media == 0 || r.rh.media == media;
          return have >= n;
        },
        timeout_ms);
  }

  // Waits until `pred` holds, pumping nothing: true, or false after timeout_ms.
  static bool wait_for(const std::function<bool()>& pred, int timeout_ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < end) {
      if (pred()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return pred();
  }

  // Pops SDL user events of `number` that arrive within timeout_ms (at least `want`).
  std::vector<SDL_UserEvent> events(int number, size_t want, int timeout_ms) {
    std::vector<SDL_UserEvent> got;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (got.size() < want && std::chrono::steady_clock::now() < end) {
      SDL_Event ev;
      SDL_PumpEvents();
      while (SDL_PeepEvents(&ev, 1, SDL_GETEVENT, SDL_EVENTMASK(SDL_USEREVENT)) > 0)
        if (user_event_number(ev) == number) got.push_back(ev.user);
      if (got.size() < want) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return got;
  }
  // Takes the notices of `number` that the receive thread queues within timeout_ms (at least
  // `want`), as the window loop would; others are dropped.
  std::vector<LINK_NOTICE> notices(int number, size_t want, int timeout_ms) {
    std::vector<LINK_NOTICE> got;
    wait_for(
        [&] {
          LINK_NOTICE n;
          while (take_link_notice(&n))
            if (n.number == number) got.push_back(std::move(n));
          return got.size() >= want;
        },
        timeout_ms);
    return got;
  }
  void drain_events() {
    SDL_Event ev;
    while (SDL_PeepEvents(&ev, 1, SDL_GETEVENT, SDL_ALLEVENTS) > 0) {}
  }

  std::unique_ptr<APP_CONTEXT> ctx;
  RECEIVER_INFO* rx = nullptr;
  std::vector<uint32_t> read_pos;
};
