#include "client/links/receive_rings.h"

#include <cstdio>
#include <cstring>
#include <thread>

#include "client/foundation/config/app_options.h"
#include "client/foundation/config/setup_lookup.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/sdl_lock.h"

int ring_has_room(uint32_t size, uint32_t w, uint32_t r, uint32_t len, bool* wrap) {
  if (wrap) *wrap = false;
  if (len == 0 || len >= size) return 0;
  if (w >= r) {
    if (uint64_t(w) + len <= size) return 1;  // fits behind the writer
    if (len < r) {                            // wraps: [0, len) must stay short of the reader
      if (wrap) *wrap = true;
      return 1;
    }
    return 0;
  }
  return uint64_t(w) + len < r ? 1 : 0;
}

int alloc_receive_buffers(APP_OPTIONS* opts) {
  APP_CONTEXT* ctx = opts && opts->context ? opts->context : &app_context;
  uint32_t count;
  if (opts && opts->auto_start[0]) {
    int n = get_target_size(opts->auto_start);
    count = n > 0 ? uint32_t(n) : 1;
  } else if (opts && opts->input_file[0]) {
    count = 1;
  } else {
    return -1;
  }
  if (count == 1) count = 8;
  if (count > MAX_DISPLAY_SLOTS) count = MAX_DISPLAY_SLOTS;
  ctx->ring_size = ctx->skin_window == SKIN_MAIN ? DEFAULT_RING_SIZE : SECONDARY_RING_SIZE;
  for (DISPLAY_SLOT& s : ctx->slots) s.write_pos = s.read_pos = 0;
  for (uint32_t i = 0; i < count; ++i) {
    DISPLAY_SLOT& s = ctx->slots[i];
    size_t bytes = ((size_t(ctx->ring_size) >> 10) + 1) << 10;
    if (!s.ring) s.ring = static_cast<uint8_t*>(std::malloc(bytes));
    if (!s.ring) {
      ctx->num_slots = i;
      fatal_box("Not enough memory.");
      return 0;
    }
    std::memset(s.ring, 0, ctx->ring_size);
    if (!s.mutex) s.mutex = SDL_CreateMutex();
    if (!s.mutex) {
      ctx->num_slots = i + 1;
      fatal_box("SDL_CreateMutex() failed.\n");
      return 0;
    }
  }
  ctx->num_slots = count;
  return 0;
}

int free_receive_buffers(APP_OPTIONS* opts) {
  APP_CONTEXT* ctx = opts && opts->context ? opts->context : &app_context;
  if (ctx->num_slots == 0) return -1;
  for (DISPLAY_SLOT& s : ctx->slots) {
    std::free(s.ring);
    s.ring = nullptr;
    if (s.mutex) SDL_DestroyMutex(s.mutex);
    s.mutex = nullptr;
    s.write_pos = s.read_pos = 0;
  }
  ctx->num_slots = 0;
  return 0;
}

int ring_write_record(APP_CONTEXT* ctx, uint32_t slot, RECEIVER_INFO* rx, uint8_t protocol,
                      uint8_t media, const uint8_t* fh, size_t fh_len, const uint8_t* data,
                      size_t data_len, size_t reserve, RING_WAIT wait) {
  if (!ctx || slot >= ctx->num_slots || slot >= uint32_t(MAX_DISPLAY_SLOTS)) return 0;
  DISPLAY_SLOT& s = ctx->slots[slot];
  if (!s.ring) return 0;
  const size_t body = data_len > reserve ? data_len : reserve;
  const uint64_t len64 = FRAME_RECORD_HEADER_SIZE + uint64_t(fh_len) + body;
  const uint32_t size = ctx->ring_size;
  if (len64 >= size) {
    std::printf("Frame of %llu bytes does not fit the receive ring; dropped.\n",
                (unsigned long long)len64);
    return 0;
  }
  const uint32_t len = uint32_t(len64);
  for (;;) {
    // The search window asks 'Q' readers to hold: nothing goes into the rings meanwhile.
    if (protocol == 'Q' && ctx->playback_flags.load() == 0 &&
        ctx->search_state.load() == SEARCH_HOLD)
      return 0;
    {
      SdlLock lock(s.mutex);
      uint32_t w = s.write_pos, r = s.read_pos;
      if (w == r && uint64_t(w) + len > size) {
        // Empty ring whose tail is too short: both restart at 0 so the record fits.
        s.write_pos = s.read_pos = w = r = 0;
      }
      bool wrap = false;
      if (ring_has_room(size, w, r, len, &wrap)) {
        if (wrap) {
          std::memset(s.ring + w, 0, size - w);
          w = 0;
        }
        put_record(s.ring + w, protocol, media, fh, fh_len, data, data_len, body);
        s.write_pos = w + len;
        if (rx) {
          rx->pending_frames.fetch_add(1);
          rx->pending_bytes.fetch_add(len);
        }
        return 1;
      }
    }
    if (wait == RING_NO_WAIT) return 0;
    if (rx && rx->status.load() != RX_RECEIVING) return -1;
    if (app_quit.load()) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}
