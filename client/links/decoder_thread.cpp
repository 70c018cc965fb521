#include "client/links/decoder_thread.h"

#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

#include "client/foundation/channel_table.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/sock_io.h"
#include "client/foundation/stats.h"
#include "client/foundation/user_events.h"
#include "client/links/mulaw.h"
#include "client/links/video_adjust.h"
#include "client/links/video_decoders.h"
#include "codecs/tir_dec/tir_dec.h"
#include "platform/sync/test_clock.h"

namespace {

std::atomic<uint32_t> slot_counter{0};
DECODER_HOOKS hooks{};
// Which channel each decoder index serves; a second channel on the same index is refused so
// that one decoder never mixes two streams or runs on two threads.
std::atomic<CHANNEL_INFO*> decoder_owner[DECODER_POOL_SIZE];

uint32_t decoder_steady_ms() {
  static const auto start = std::chrono::steady_clock::now();
  auto d = std::chrono::steady_clock::now() - start;
  return uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(d).count()) + 1;
}
void real_sleep(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

uint32_t decoder_now_ms() {
  uint32_t (*c)() = test_clock_now(TEST_CLOCK_DECODERS);
  return c ? c() : decoder_steady_ms();
}
void sleep_ms(uint32_t ms) {
  void (*s)(uint32_t) = test_clock_sleep(TEST_CLOCK_DECODERS);
  (s ? s : real_sleep)(ms);
}

// Long waits are cut into short sleeps so that stop_decoders is never held up by a pacing
// or buffering wait.
void sleep_while_running(APP_CONTEXT* ctx, uint32_t ms) {
  while (ms > 0 && ctx->decoder_state.load() == DECODER_RUNNING) {
    uint32_t step = std::min<uint32_t>(ms, 20);
    sleep_ms(step);
    ms -= step;
  }
}

thread_local std::vector<uint8_t> split_scratch;

void split_fields(uint8_t* picture, int width, int height) {
  size_t row = size_t(width) * 4;
  split_scratch.assign(picture, picture + row * size_t(height));
  int half = height / 2;
  for (int r = 0; r < half; ++r) {
    std::memcpy(picture + size_t(r) * row, &split_scratch[size_t(2 * r) * row], row);
    std::memcpy(picture + size_t(half + r) * row, &split_scratch[size_t(2 * r + 1) * row], row);
  }
}

// Truncated mean of every byte pair, eight bytes at a time: (a & b) + ((a ^ b) >> 1) per byte.
void blend_fields(const uint8_t* picture, uint8_t* pixels, int pitch, int width, int height) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  size_t row = size_t(width) * 4;
  int half = height / 2;
  for (int r = 0; r < half; ++r) {
    const uint8_t* top = picture + size_t(r) * row;
    const uint8_t* bottom = picture + size_t(half + r) * row;
    uint8_t* dst = pixels + size_t(r) * size_t(pitch);
    size_t i = 0;
    for (; i + 8 <= row; i += 8) {
      uint64_t a, b;
      std::memcpy(&a, top + i, 8);
      std::memcpy(&b, bottom + i, 8);
      uint64_t m = (a & b) + (((a ^ b) >> 1) & kLow7);
      std::memcpy(dst + i, &m, 8);
    }
    for (; i < row; ++i) dst[i] = uint8_t((top[i] + bottom[i]) >> 1);
  }
}

// Truncated mean of two rows of bytes: 32 at a time where AVX2 is there (the rounded-up
// average less the dropped half), else eight at a time in a 64-bit word.
__attribute__((target("avx2"))) size_t mean_bytes_avx2(const uint8_t* a, const uint8_t* b,
                                                       uint8_t* out, size_t n) {
  const __m256i one = _mm256_set1_epi8(1);
  size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + i));
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + i));
    const __m256i m =
        _mm256_sub_epi8(_mm256_avg_epu8(x, y), _mm256_and_si256(_mm256_xor_si256(x, y), one));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), m);
  }
  return i;
}

const bool has_avx2 = __builtin_cpu_supports("avx2");

void mean_bytes(const uint8_t* a, const uint8_t* b, uint8_t* out, size_t n) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  size_t i = has_avx2 ? mean_bytes_avx2(a, b, out, n) : 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    const uint64_t v = (x & y) + (((x ^ y) >> 1) & kLow7);
    std::memcpy(out + i, &v, 8);
  }
  for (; i < n; ++i) out[i] = uint8_t((a[i] + b[i]) >> 1);
}

void clear_rows(uint8_t* pixels, int pitch, int width, int rows) {
  for (int r = 0; r < rows; ++r)
    std::memset(pixels + size_t(r) * size_t(pitch), 0, size_t(width) * 4);
}

// Pending counts are unsigned and guard the writers' flow control: never let them wrap.
void take_pending(RECEIVER_INFO* rx, uint32_t bytes) {
  int32_t f = rx->pending_frames.load();
  while (f > 0 && !rx->pending_frames.compare_exchange_weak(f, f - 1)) {}
  uint32_t b = rx->pending_bytes.load();
  while (!rx->pending_bytes.compare_exchange_weak(b, b > bytes ? b - bytes : 0)) {}
}

}  // namespace

void set_decoder_hooks(const DECODER_HOOKS& h) { hooks = h; }

void reset_decoder_slots() { slot_counter = 0; }

// ---- headers ----------------------------------------------------------------------------------

PICTURE_HEADER make_picture_header(const uint8_t* wire) {
  PICTURE_HEADER ph;
  ph.start_key = FRAME_START_KEY;
  ph.video_type = wire[36];
  ph.interval = wire[40];
  ph.size = get_le32(wire + 0) & 0xFFFFFu;
  ph.page = 0;
  ph.field = 0;
  ph.vop_type = get_le32(wire + 4) & 3u;
  ph.channel = get_le32(wire + 20) & 0xFu;
  ph.scale = int32_t(get_le32(wire + 32)) > 0 ? 9 : 2;
  ph.hsize = uint16_t(get_le32(wire + 24));
  ph.vsize = uint16_t(get_le32(wire + 28));
  ph.sec = get_le32(wire + 56);
  ph.usec = get_le32(wire + 60);
  ph.word20 = get_le32(wire + 52);
  ph.word24 = get_le32(wire + 48);
  ph.seq_cnt = get_le16(wire + 8);
  ph.receiver = 0;
  return ph;
}

FRAME_HEADER picture_to_frame_header(const PICTURE_HEADER& ph) {
  FRAME_HEADER fh;
  fh.start_key = ph.start_key;
  fh.receiver = uint8_t(ph.receiver);
  fh.size = ph.size;
  fh.frame_type = ph.vop_type;
  fh.channel = ph.channel;
  fh.kind = ph.scale;
  fh.width = ph.hsize & 0x3FFF;
  fh.height = ph.vsize & 0x3FFF;
  fh.sec = ph.sec;
  fh.msec = uint16_t(ph.usec / 1000);
  fh.word24 = ph.word20;
  fh.word28 = ph.word24;
  fh.seq_cnt = ph.seq_cnt;
  return fh;
}

int get_video_frame(const uint8_t* record, uint32_t record_size, const FRAME_RECORD_HEADER& rh,
                    FRAME_HEADER* fh, uint8_t* frame) {
  if (rh.protocol == 'Q' || rh.protocol == 'S') {
    if (record_size < FRAME_HEADER_SIZE) return -1;
    uint64_t total = FRAME_HEADER_SIZE + (get_le32(record + 4) >> 8);
    if (total > record_size || total > DECODER_FRAME_BUFFER_SIZE) return -1;
    std::memcpy(frame, record, size_t(total));
    *fh = decode_frame_header(frame);
    return 0;
  }
  if (record_size < PICTURE_HEADER_SIZE) return -1;
  PICTURE_HEADER ph = decode_picture_header(record);
  uint64_t total = PICTURE_HEADER_SIZE + uint64_t(ph.size);
  if (total > record_size || total > DECODER_FRAME_BUFFER_SIZE) return -1;
  std::memcpy(frame, record, size_t(total));
  *fh = picture_to_frame_header(ph);
  return 0;
}

int get_audio_frame(const uint8_t* record, uint32_t record_size, AUDIO_FRAME_HEADER* ah,
                    uint8_t* frame) {
  if (record_size < AUDIO_FRAME_HEADER_SIZE) return -1;
  *ah = decode_audio_frame_header(record);
  uint32_t total = uint32_t(AUDIO_FRAME_HEADER_SIZE) + ah->samples;
  if (ah->samples > AUDIO_PAYLOAD_SLOT || total > record_size) return -1;
  std::memcpy(frame, record, total);
  return 0;
}

// ---- decoding ---------------------------------------------------------------------------------

int is_key_frame(int frame_type, uint8_t protocol) {
  if (protocol == 'Q') return is_h264_key_frame(frame_type);
  if (protocol == 'S') return 1;
  return is_xvid_key_frame(frame_type);
}

void reset_channel_decoder(int decoder_index, uint8_t protocol) {
  if (protocol == 'Q')
    reset_pixtree(decoder_index);
  else if (protocol != 'S')
    reset_xvid(decoder_index);
}

void reset_all_decoders() {
  for (int i = 0; i < DECODER_POOL_SIZE; ++i) {
    reset_pixtree(i);
    reset_xvid(i);
    decoder_owner[i] = nullptr;
  }
}

int init_video_decoders() {
  if (init_xvid(DECODER_POOL_SIZE) != 0) {
    std::printf("init_xvid() failed.\n");
    return -1;
  }
  if (init_pixtree(DECODER_POOL_SIZE) != 0) {
    std::printf("init_pixtree() failed.\n");
    return -1;
  }
  return 0;
}

void free_video_decoders() {
  free_xvid();
  free_pixtree();
  for (auto& o : decoder_owner) o = nullptr;
}

int decode_video_frame(int decoder_index, const FRAME_RECORD_HEADER& rh, const uint8_t* frame,
                       uint8_t* picture, size_t capacity, int* w, int* h, int* bpp) {
  if (bpp) *bpp = 4;
  if (rh.protocol == 'Q') {
    const uint8_t* data = frame + FRAME_HEADER_SIZE;
    int rc = bpp ? decode_pixtree_rgb24(decoder_index, frame, data, picture, capacity, w, h)
                 : decode_pixtree(decoder_index, frame, data, picture, capacity, w, h);
    if (rc == 0 && bpp) *bpp = 3;
    if (rc != 0) {
      std::printf("decode_pixtree() failed.\n");
      return -1;
    }
  } else if (rh.protocol == 'S') {
    const uint8_t* data = frame + FRAME_HEADER_SIZE;
    unsigned size = get_le32(frame + 4) >> 8;
    TIR_FRAME_INFO info{};
    int rc = tir_get_info(data, size, &info);
    if (rc == 0 && uint64_t(info.width) * info.height * 4 > capacity) rc = -3;
    if (rc == 0) rc = tir_decode(data, size, picture, TIR_OUT_BGRX32);
    if (rc < 0) {
      std::printf("tir_decode() failed. [%d]\n", rc);
      return -1;
    }
    *w = info.width;
    *h = info.height;
  } else {
    PICTURE_HEADER ph = decode_picture_header(frame);
    int rc = decode_xvid(decoder_index, ph, frame + PICTURE_HEADER_SIZE, picture, capacity);
    if (rc < 0) {
      std::printf("decode_xvid() failed.\n");
      return -1;
    }
    if (rc == 1) {
      stats_add(STAT_IGNORED, 1);
      return 1;
    }
    if (rc == 2) {
      stats_add(STAT_MISSING, 1);
      return 1;
    }
    *w = ph.hsize;
    *h = ph.vsize;
  }
  stats_add(STAT_DECODED, 1);
  return 0;
}

int decode_audio_data(const FRAME_RECORD_HEADER& rh, const uint8_t* frame, int16_t* pcm) {
  if (rh.protocol != 'Q') return -1;
  uint16_t samples = get_le16(frame + 4);
  if (samples > AUDIO_PAYLOAD_SLOT) return -1;
  ulaw_expand(frame + AUDIO_FRAME_HEADER_SIZE, samples, pcm);
  return int(samples) * 2;
}

// ---- surfaces -----------------------------------------------------------------------------------

int create_decode_surface(CHANNEL_INFO* ch, int width, int height) {
  if (ch->surface && (ch->surface->w != width || ch->surface->h != height)) {
    SDL_FreeSurface(ch->surface);
    ch->surface = nullptr;
    ch->pic_rect = RECT16{0, 0, 0, 0};
  }
  if (!ch->surface) {
    // Always 32 bits: the decoders write 4-byte pixels whatever the screen's depth.
    ch->surface = SDL_CreateRGBSurface(SDL_SWSURFACE, width, height, 32, DECODE_RMASK, DECODE_GMASK,
                                       DECODE_BMASK, 0);
    if (!ch->surface) {
      std::printf("SDL_CreateRGBSurface() failed.\n");
      return -1;
    }
    ch->pic_rect = RECT16{0, 0, uint16_t(width), uint16_t(height)};
  }
  ch->width = uint16_t(width);
  ch->height = uint16_t(height);
  return 0;
}

int weave_fields(const RECEIVER_INFO* rx, uint8_t protocol, uint8_t* picture, uint8_t* pixels,
                 int pitch, int width, int height) {
  size_t row = size_t(width) * 4;
  if (protocol != 'Q' || height <= 288) {
    for (int r = 0; r < height; ++r)
      std::memcpy(pixels + size_t(r) * size_t(pitch), picture + size_t(r) * row, row);
    if (protocol == 'Q') clear_rows(pixels, pitch, width, std::min(height, 8));
    return 0;
  }
  if (rx && rx->num_video == 8) split_fields(picture, width, height);
  blend_fields(picture, pixels, pitch, width, height);
  clear_rows(pixels, pitch, width, std::min(height / 2, 16));
  return 0;
}

int weave_packed_fields(const RECEIVER_INFO* rx, const uint8_t* picture, uint8_t* pixels, int pitch,
                        int width, int height) {
  const size_t src_row = size_t(width) * 3;
  auto dst_row = [&](int r) { return pixels + size_t(r) * size_t(pitch); };
  if (height <= 288) {
    const int black = std::min(height, 8);
    clear_rows(pixels, pitch, width, black);
    for (int r = black; r < height; ++r)
      rgb24_to_rgb32_copy(picture + size_t(r) * src_row, dst_row(r), size_t(width));
    return height;
  }
  // Folded: output row r is the mean of two source rows (2r and 2r + 1 when the fields are
  // interleaved, as from 8-channel DVRs; else r and r + h/2). The rows that end up black are
  // not computed at all.
  const int half = height / 2;
  const bool split = rx && rx->num_video == 8;
  const int black = std::min(half, 16);
  clear_rows(pixels, pitch, width, black);
  thread_local std::vector<uint8_t> mean;
  mean.resize(src_row);
  for (int r = black; r < half; ++r) {
    const uint8_t* top = picture + size_t(split ? 2 * r : r) * src_row;
    const uint8_t* bottom = picture + size_t(split ? 2 * r + 1 : half + r) * src_row;
    mean_bytes(top, bottom, mean.data(), src_row);
    rgb24_to_rgb32_copy(mean.data(), dst_row(r), size_t(width));
  }
  return half;
}

int measure_min_delay() {
  uint32_t start = decoder_now_ms();
  for (int i = 0; i < 32; ++i) sleep_ms(1);
  int mean = int((decoder_now_ms() - start) / 32);
  std::printf("min_delay is %d milliseconds!\n", mean);
  return mean;
}

// ---- the thread ---------------------------------------------------------------------------------

int decoder_begin(APP_CONTEXT* ctx, DECODER_STATE* st) {
  st->ctx = ctx;
  st->slot = slot_counter.fetch_add(1);
  std::printf("Allocating memory ...\n");
  // Left uninitialised: only the pages a picture touches become resident.
  st->frame = new (std::nothrow) uint8_t[DECODER_FRAME_BUFFER_SIZE];
  st->picture = new (std::nothrow) uint8_t[DECODER_PICTURE_BUFFER_SIZE];
  if (!st->frame || !st->picture) {
    decoder_end(st);
    fatal_box("Not enough memory.");
    return -1;
  }
  std::fill(std::begin(st->last_id), std::end(st->last_id), -1);
  st->min_delay = measure_min_delay();
  return 0;
}

void decoder_end(DECODER_STATE* st) {
  delete[] st->frame;
  delete[] st->picture;
  st->frame = st->picture = nullptr;
}

// ---- one pass: decoder_pass and its steps, in the order it takes them ----------------------

namespace {

// Result of a step after which the pass goes on (no PASS_ value is negative).
constexpr int kGoOn = -1;

// What a pass took off its slot's ring: the record's headers (the frame header of its kind,
// video or audio) and, for a record that can be played, its receiver and channel.
struct PassRecord {
  FRAME_RECORD_HEADER rh;
  FRAME_HEADER fh;
  AUDIO_FRAME_HEADER ah;
  RECEIVER_INFO* rx = nullptr;
  CHANNEL_INFO* ch = nullptr;
  bool key_requested = false;
};

}  // namespace

// Warns once each time the ring fills above 80 %. Slot mutex held.
static void warn_when_ring_fills(DECODER_STATE* st, const DISPLAY_SLOT& slot, uint32_t ring_size) {
  if (ring_fill_above(ring_size, slot.write_pos, slot.read_pos, 80)) {
    if (!st->warned) std::printf("WARNING: Video buffer is reaching critical levels!\n");
    st->warned = true;
  } else {
    st->warned = false;
  }
}

// Reads the header of the next record into `rh` and its data position into `data_pos`:
// false when the ring is broken. Slot mutex held, the ring not empty.
static bool find_next_record(const DISPLAY_SLOT& slot, uint32_t ring_size, FRAME_RECORD_HEADER* rh,
                             uint32_t* data_pos) {
  // The start of the ring holds the next record only when the writer has wrapped (it
  // stands before the reader); otherwise the records there were taken long ago, and going
  // back to them would show stale frames again, round and round.
  const bool wrapped = slot.write_pos < slot.read_pos;
  uint32_t pos = slot.read_pos;
  if (pos > ring_size - FRAME_RECORD_HEADER_SIZE) pos = wrapped ? 0 : ring_size;
  if (pos < ring_size) {
    *rh = decode_frame_record_header(slot.ring + pos);
    if (rh->start_key != FRAME_START_KEY && pos != 0 && wrapped) {
      pos = 0;
      *rh = decode_frame_record_header(slot.ring);
    }
  }
  const bool in_place = pos == slot.read_pos;
  const bool no_header = pos >= ring_size;
  pos += FRAME_RECORD_HEADER_SIZE;
  const uint32_t size = rh->size;
  *data_pos = pos;
  // A record must be whole inside the ring and, while the reader is behind the writer, end
  // at or before it; anything else is a broken ring.
  return !(no_header || rh->start_key != FRAME_START_KEY || size > ring_size - pos ||
           (in_place && slot.read_pos < slot.write_pos && uint64_t(pos) + size > slot.write_pos));
}

// Copies the frame of the record (`size` bytes at `record`) into the state's frame buffer
// and gives its channel number: 0, or -1 (channel left at -1) for a refused record or one
// of another kind than audio and video.
static int copy_record_frame(DECODER_STATE* st, PassRecord* rec, const uint8_t* record,
                             uint32_t size, int* channel) {
  int got = -1;
  if (rec->rh.media == 'A') {
    got = get_audio_frame(record, size, &rec->ah, st->frame);
    if (got == 0) *channel = rec->ah.channel;
  } else if (rec->rh.media == 'Y') {
    got = get_video_frame(record, size, rec->rh, &rec->fh, st->frame);
    if (got == 0) *channel = rec->fh.channel;
  }
  return got;
}

// The receiver number the record's own header carries, or -1 when it is too short for one.
static int record_receiver(const FRAME_RECORD_HEADER& rh, const uint8_t* record, uint32_t size) {
  int receiver = -1;
  if (rh.media != 'A' && rh.protocol != 'Q' && rh.protocol != 'S') {
    if (size >= PICTURE_HEADER_SIZE) receiver = get_le16(record + 30);
  } else if (size >= 3) {
    receiver = record[2];
  }
  return receiver;
}

// Takes the next record off the slot's ring, slot mutex held: copies its frame, moves the
// reader past it, takes it off its receiver's pending counts and finds its channel (and
// that channel's key-frame request). kGoOn for a record to play; PASS_EMPTY when nothing is
// queued (the caller sleeps once the mutex is let go); PASS_SKIPPED for a broken ring (what
// is queued dropped) or a record that cannot be played.
static int take_record(DECODER_STATE* st, DISPLAY_SLOT& slot, uint32_t ring_size, PassRecord* rec) {
  APP_CONTEXT* ctx = st->ctx;
  if (!slot.ring || slot.read_pos == slot.write_pos || ring_size < FRAME_RECORD_HEADER_SIZE)
    return PASS_EMPTY;
  warn_when_ring_fills(st, slot, ring_size);
  uint32_t pos = 0;
  if (!find_next_record(slot, ring_size, &rec->rh, &pos)) {
    slot.read_pos = slot.write_pos;  // drop what is queued and start over
    return PASS_SKIPPED;
  }
  const uint32_t size = rec->rh.size;
  const uint8_t* record = slot.ring + pos;
  int channel = -1;
  const int got = copy_record_frame(st, rec, record, size, &channel);
  // The writer counted the record as pending on its receiver: take it off even when the
  // record itself is refused, so that the writers' flow control is not left waiting.
  const int receiver = record_receiver(rec->rh, record, size);
  slot.read_pos = pos + size;  // whole record, whatever its headers said
  st->queued = slot.read_pos != slot.write_pos;
  st->behind = ctx->catch_up.load() == 1 && st->queued;
  if (receiver >= 0 && receiver < ctx->num_receivers) {
    RECEIVER_INFO* rx = &ctx->receivers[receiver];
    rec->rx = rx;
    take_pending(rx, uint32_t(FRAME_RECORD_HEADER_SIZE) + size);
    if (got == 0 && channel >= 0 &&
        channel < int(std::min<uint32_t>(rx->num_video, MAX_CHANNELS))) {
      rec->ch = &rx->channels[channel];
      rec->key_requested = rec->ch->key_request.exchange(0) == 1;
      return kGoOn;
    }
  }
  return PASS_SKIPPED;
}

// An audio record: queued for the output unless the channel's audio is off, the client is
// muted or the receiver held.
static int play_audio(DECODER_STATE* st, const PassRecord& rec, uint32_t flags) {
  if (!rec.ch->audio_on.load() ||
      std::atomic_ref<int32_t>(st->ctx->mute).load(std::memory_order_relaxed) || (flags & PB_HOLD))
    return PASS_AUDIO_SKIPPED;
  int n = decode_audio_data(rec.rh, st->frame, st->pcm);
  if (n <= 0) {
    std::printf("decode_audio_data() failed.\n");
    return PASS_SKIPPED;
  }
  queue_audio_data(st->pcm, n);
  return PASS_AUDIO;
}

// a. time stamps: the frame's time on its channel and receiver; the time returned.
static double stamp_frame_time(const PassRecord& rec) {
  const double t = double(rec.fh.sec) + rec.fh.msec / 1000.0;
  rec.ch->frame_time.store(t, std::memory_order_relaxed);
  rec.rx->last_frame_time = t;
  if (rec.ch->frame_time2.load(std::memory_order_relaxed) == 0)
    rec.ch->frame_time2.store(t, std::memory_order_relaxed);
  return t;
}

// b. decoder index `di`, claimed by one channel: kGoOn, or PASS_SKIPPED for an index out of
// the pool or one another channel holds. A new channel on the index, or one that asked for
// a key frame, waits for one.
static int claim_decoder(DECODER_STATE* st, const PassRecord& rec, int di) {
  if (di < 0 || di >= DECODER_POOL_SIZE) return PASS_SKIPPED;
  CHANNEL_INFO* owner = nullptr;
  if (!decoder_owner[di].compare_exchange_strong(owner, rec.ch) && owner != rec.ch) {
    stats_add(STAT_IGNORED, 1);
    return PASS_SKIPPED;
  }
  if (st->last_id[di] != rec.ch->id || rec.key_requested) st->waiting_key[di] = true;
  st->last_id[di] = rec.ch->id;
  return kGoOn;
}

// d, e. kGoOn for a frame to draw; PASS_HIDDEN for a channel not shown (its decoder kept
// reset, waiting for a key frame), PASS_WAIT_KEY for a frame dropped while waiting for one.
static int wait_for_key_frame(DECODER_STATE* st, const PassRecord& rec, int di) {
  // d. hidden channels keep their decoder reset
  if (!is_channel_shown(st->ctx, rec.ch->id)) {
    st->waiting_key[di] = true;
    reset_channel_decoder(di, rec.rh.protocol);
    return PASS_HIDDEN;
  }
  // e. key-frame wait
  if (st->waiting_key[di]) {
    if (!is_key_frame(rec.fh.frame_type, rec.rh.protocol)) return PASS_WAIT_KEY;
    st->waiting_key[di] = false;
  }
  return kGoOn;
}

// c. buffering delay, once per stream start: before the slot's first frame that is
// drawn. Frames that are hidden, dropped or held never wait, so a slot of hidden
// channels keeps its ring moving. Keyed on a flag, not on a time of 0: a stream whose
// stamps start at 0 must not wait again at every such frame.
static void buffer_at_stream_start(DECODER_STATE* st, uint32_t flags) {
  APP_CONTEXT* ctx = st->ctx;
  if (!ctx->paced_yet[st->slot].load() && ctx->buf_level > 0 && !(flags & (PB_PAUSED | PB_HOLD)))
    sleep_while_running(ctx, uint32_t(1000 * ctx->buf_level));
}

// Where the frame is decoded when not into the state's picture buffer: straight into the
// channel's surface. True when it is: `target` and `capacity` are the surface's pixels then,
// and the channel mutex and the surface lock are held; false leaves both untouched.
static bool lock_direct_target(DECODER_STATE* st, const PassRecord& rec, uint8_t** target,
                               size_t* capacity) {
  CHANNEL_INFO* ch = rec.ch;
  bool direct = false;
  if (rec.rh.protocol != 'Q' && rec.rh.protocol != 'S') {
    // Xvid writes rows of hsize x 4 bytes, the pitch of a surface of that width, and
    // weave_fields would only copy them: into a surface that already has the stream's
    // size the picture goes directly. Other sizes take the buffer, so a frame that
    // yields no picture never resizes the surface.
    const PICTURE_HEADER ph = decode_picture_header(st->frame);
    SDL_mutexP(ch->mutex);
    SDL_Surface* s = ch->surface;
    if (s && s->w == ph.hsize && s->h == ph.vsize && s->pitch == s->w * 4) {
      SDL_LockSurface(s);
      *target = static_cast<uint8_t*>(s->pixels);
      *capacity = size_t(s->pitch) * size_t(s->h);
      direct = true;
    } else {
      SDL_mutexV(ch->mutex);
    }
  } else if (rec.rh.protocol == 'S') {
    // The block-DCT decoder keeps a picture per destination and channel number, so a
    // buffer shared by the slot would mix two DVRs' channels of one number: each
    // channel decodes straight into its own surface.
    TIR_FRAME_INFO info{};
    const uint8_t* data = st->frame + FRAME_HEADER_SIZE;
    if (tir_get_info(data, get_le32(st->frame + 4) >> 8, &info) == 0) {
      SDL_mutexP(ch->mutex);
      if (create_decode_surface(ch, info.width, info.height) == 0 &&
          ch->surface->pitch == ch->surface->w * 4) {
        SDL_LockSurface(ch->surface);
        *target = static_cast<uint8_t*>(ch->surface->pixels);
        *capacity = size_t(ch->surface->pitch) * size_t(ch->surface->h);
        direct = true;
      } else {
        SDL_mutexV(ch->mutex);
      }
    }
  }
  return direct;
}

// Puts a decoded w x h picture (bpp bytes a pixel) into the channel's surface with the
// channel's adjustments: 0, or -1 when the surface cannot be made. Takes the channel mutex
// and the surface lock unless `direct` (decoded into the surface, both held already), and
// lets both go.
static int store_picture(DECODER_STATE* st, const PassRecord& rec, int w, int h, int bpp,
                         bool direct) {
  CHANNEL_INFO* ch = rec.ch;
  if (!direct) SDL_mutexP(ch->mutex);
  // Same size as a direct surface: kept as it is.
  if (create_decode_surface(ch, w, h) != 0) {
    SDL_mutexV(ch->mutex);
    return -1;
  }
  SDL_Surface* surface = ch->surface;
  if (!direct) SDL_LockSurface(surface);
  stats_add_rx(nullptr, rec.rx, ch, STAT_DECODED, 1);
  auto* pixels = static_cast<uint8_t*>(surface->pixels);
  // The adjustments work on 4-byte pixels: in the picture buffer when the decoder
  // wrote those there, else on the surface rows (an H.264 picture is widened on its
  // way into the surface, never twice).
  uint8_t* adjusted = direct ? pixels : st->picture;
  int rows = h;
  if (bpp == 3) {
    rows = weave_packed_fields(rec.rx, st->picture, pixels, surface->pitch, w, h);
    adjusted = pixels;
  }
  adjust_brightness(adjusted, w, rows, ch->brightness, 4);
  equalize_histogram(adjusted, w, rows, ch->saturation, 4);
  adjust_hue(adjusted, w, rows, ch->hue, 4);
  adjust_contrast(adjusted, w, rows, ch->contrast, 4);
  if (bpp == 4 && !direct)
    weave_fields(rec.rx, rec.rh.protocol, st->picture, pixels, surface->pitch, w, h);
  SDL_UnlockSurface(surface);
  SDL_mutexV(ch->mutex);
  return 0;
}

// A stored picture: the window told its size when it asked, and the tile drawn under the
// display mutex.
static void show_picture(APP_CONTEXT* ctx, const PassRecord& rec, int w, int h) {
  rec.ch->waiting = 0;
  if (ctx->resize_request.exchange(0) != 0) push_frame_size(w, h);
  if (hooks.draw_channel) {
    SDL_mutexP(ctx->display_mutex);
    int drawn = hooks.draw_channel(ctx, rec.rx, rec.ch);
    SDL_mutexV(ctx->display_mutex);
    if (drawn == 0) {
      stats_add(STAT_DISPLAYED, 1);
      stats_add_rx(nullptr, rec.rx, nullptr, STAT_DISPLAYED, 1);
    }
  }
}

// f. decode and draw: PASS_SHOWN, PASS_NO_PICTURE (a frame that yields none) or PASS_FAILED.
static int decode_and_draw(DECODER_STATE* st, const PassRecord& rec, int di) {
  int w = 0, h = 0, bpp = 4;
  uint8_t* target = st->picture;
  size_t capacity = DECODER_PICTURE_BUFFER_SIZE;
  // decoded under the channel mutex straight into its surface
  const bool direct = lock_direct_target(st, rec, &target, &capacity);
  int rc = decode_video_frame(di, rec.rh, st->frame, target, capacity, &w, &h, &bpp);
  if (rc != 0 && direct) {
    SDL_UnlockSurface(rec.ch->surface);
    SDL_mutexV(rec.ch->mutex);
  }
  if (rc < 0) return PASS_FAILED;
  if (rc != 0) return PASS_NO_PICTURE;
  if (store_picture(st, rec, w, h, bpp, direct) != 0) return PASS_FAILED;
  show_picture(st->ctx, rec, w, h);
  return PASS_SHOWN;
}

// g. held receiver: redraw once on request
static void redraw_held_receiver(APP_CONTEXT* ctx, RECEIVER_INFO* rx, uint32_t flags) {
  if ((flags & PB_HOLD) && ctx->hold_state.load() == HOLD_REDRAW) {
    if (hooks.redraw_receiver) {
      SDL_mutexP(ctx->display_mutex);
      hooks.redraw_receiver(ctx, rx);
      SDL_mutexV(ctx->display_mutex);
    }
    ctx->hold_state = HOLD_DONE;
  }
}

// h, i. pacing against the time stamps and the speed: the frame of time `t` was handled,
// the pass waits for the next one's moment.
static void pace_frame(DECODER_STATE* st, const RECEIVER_INFO* rx, double t) {
  APP_CONTEXT* ctx = st->ctx;
  const uint32_t now = decoder_now_ms();
  st->paced = false;
  const uint32_t last_tick = ctx->paced_tick[st->slot].load();
  const double last_t = ctx->paced_time[st->slot].load();
  // Frames of one time stamp (the channels of a DVR's round sharing this slot) are one
  // moment: the slot's clock runs from the first of them. Counted from the last, every round
  // would start a round's work later than its stamp says, and the slot would fall behind
  // the DVR for good.
  const bool same_moment = last_tick != 0 && t == last_t;
  // A live frame is followed at once by the next when more records wait in the ring, or
  // when it came later than the stream's earliest by more than LIVE_LATE_MS: a wait after
  // it would hold every frame behind it just as late, for good. Once the slot has caught
  // up with the DVR it is paced again.
  bool hurry = false;
  if (rx->op_mode == 1) {
    const double offset = double(now) - t * 1000.0;
    if (offset < st->live_lead) st->live_lead = offset;
    hurry = st->queued || offset > st->live_lead + LIVE_LATE_MS;
  }
  if (last_tick != 0 && last_t > 0 && !same_moment && !hurry) {
    double speed = ctx->playback_speed.load();
    if (!(speed > 0)) speed = 1.0;
    // Truncated as a count of ms, but 0.04 s must give 40, not 39.999.
    int64_t wait = int64_t((t - last_t) * 1000 / speed + 1e-6);
    int64_t elapsed = int64_t(now) - int64_t(last_tick);
    if (elapsed < wait) {
      int64_t rest = wait - elapsed;
      double tested = speed < 1.0 ? double(rest) * speed : double(rest);
      if (tested >= st->min_delay && tested <= DECODER_PACE_MAX_MS) {
        st->paced = true;
        if (st->behind) rest /= 2;
        ctx->paced_tick[st->slot] = uint32_t(int64_t(now) + rest);
        sleep_while_running(ctx, uint32_t(rest));
      }
    }
  }
  ctx->paced_time[st->slot] = t;
  ctx->paced_yet[st->slot] = 1;
  if (!st->paced && !same_moment) {
    ctx->paced_tick[st->slot] = now;
    if (!hurry) sleep_ms(1);
  }
}

int decoder_pass(DECODER_STATE* st) {
  APP_CONTEXT* ctx = st->ctx;
  if (ctx->playback_flags.load() & PB_PAUSED) {
    sleep_ms(100);
    return PASS_PAUSED;
  }
  if (st->slot >= ctx->num_slots || st->slot >= uint32_t(MAX_DISPLAY_SLOTS)) {
    sleep_ms(1);
    return PASS_EMPTY;
  }
  DISPLAY_SLOT& slot = ctx->slots[st->slot];
  const uint32_t ring_size = ctx->ring_size;

  PassRecord rec;
  SDL_mutexP(slot.mutex);
  const int taken = take_record(st, slot, ring_size, &rec);
  SDL_mutexV(slot.mutex);
  if (taken == PASS_EMPTY) {
    sleep_ms(1);
    return PASS_EMPTY;
  }
  if (taken != kGoOn) return taken;

  const uint32_t flags = ctx->playback_flags.load();
  if (rec.rh.media == 'A') return play_audio(st, rec, flags);

  const double t = stamp_frame_time(rec);  // a
  const int di = rec.ch->slot;
  if (int rc = claim_decoder(st, rec, di); rc != kGoOn) return rc;       // b
  if (int rc = wait_for_key_frame(st, rec, di); rc != kGoOn) return rc;  // d, e
  buffer_at_stream_start(st, flags);                                     // c

  int result = PASS_NO_PICTURE;  // f
  if (!(flags & (PB_PAUSED | PB_HOLD))) {
    result = decode_and_draw(st, rec, di);
    if (result == PASS_FAILED) return result;
  }
  redraw_held_receiver(ctx, rec.rx, flags);  // g
  pace_frame(st, rec.rx, t);                 // h, i

  // j. single step: show this frame, then pause
  if (ctx->single_step.exchange(0) != 0) ctx->playback_flags = PB_PAUSED;
  return result;
}

int decoder_thread(APP_CONTEXT* ctx) {
  DECODER_STATE st;
  if (decoder_begin(ctx, &st) != 0) return -1;
  while (ctx->decoder_state.load() == DECODER_RUNNING) decoder_pass(&st);
  std::printf("Exiting decoder thread...\n");
  decoder_end(&st);
  return 0;
}
