#include "client/links/video_decoders.h"

#include <immintrin.h>
#include <xvid.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "client/foundation/config/utils.h"
#include "forward/avcshim/avcshim.h"
#include "platform/pixtree/pixtree_h264_dec.h"

namespace {

constexpr uint8_t kVolTemplate[MPEG4_VOL_TEMPLATE_SIZE] = {
    0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20, 0x02, 0x48, 0x0D, 0xC0, 0x00, 0x40, 0x00,
    0x40, 0x00, 0x40, 0x00, 0x80, 0x00, 0x97, 0x53, 0x0A, 0x2C, 0x08, 0x3C, 0x28, 0x8C, 0x1F};

struct XvidEntry {
  std::mutex lock;
  void* handle = nullptr;
  xvid_dec_create_t create{};
  xvid_dec_frame_t frame{};
  xvid_dec_stats_t stats{};
  std::atomic<uint32_t> expected{XVID_WAIT_KEY};
  int width = 0, height = 0;  // size of the stream the decoder last took a VOL for
};

struct XvidPool {
  XvidEntry* entries = nullptr;
  int size = 0;
} xvid_pool;

std::once_flag xvid_global_once;
int xvid_global_rc = 0;

struct PixtreeEntry {
  std::mutex lock;
  alignas(8) uint8_t record[PT_RECORD_SIZE] = {};
  std::atomic<uint32_t> reset_word{0xFFFFFFFFu};
};

struct PixtreePool {
  PixtreeEntry* entries = nullptr;
  int size = 0;
} pixtree_pool;

uint32_t rec_word(const uint8_t* rec, int off) {
  uint32_t v;
  std::memcpy(&v, rec + off, 4);
  return v;
}
void set_rec_word(uint8_t* rec, int off, uint32_t v) { std::memcpy(rec + off, &v, 4); }

// Key-frame input = VOL header + frame; reused per thread so decoding never allocates per frame
// once the largest frame has been seen.
thread_local std::vector<uint8_t> xvid_input;

}  // namespace

void build_mpeg4_vol(uint8_t out[MPEG4_VOL_TEMPLATE_SIZE], int w, int h, int scale) {
  std::memcpy(out, kVolTemplate, MPEG4_VOL_TEMPLATE_SIZE);
  out[23] = uint8_t(0x0A + ((w >> 12) & 1));
  out[24] = uint8_t((w >> 4) & 0xFF);
  out[25] = uint8_t(((w & 0x0F) << 4) + 8 + ((h >> 10) & 7));
  out[26] = uint8_t((h >> 2) & 0xFF);
  out[27] = uint8_t(((h & 3) << 6) + (scale <= 8 ? 0x28 : 0x38));
}

// ---- MPEG-4 ---------------------------------------------------------------------------------

int init_xvid(int n) {
  if (xvid_pool.entries) return 0;
  if (n < 1) {
    std::printf("Invalid number of decoders assigned.\n");
    return -1;
  }
  if (n > DECODER_POOL_SIZE) n = DECODER_POOL_SIZE;
  auto* entries = new (std::nothrow) XvidEntry[size_t(n)];
  if (!entries) {
    fatal_box("Not enough memory.");
    return -2;
  }
  for (int i = 0; i < n; ++i) {
    XvidEntry& e = entries[i];
    e.create.version = int(XVID_API_VERSION);
    e.frame.version = int(XVID_API_VERSION);
    e.frame.general = XVID_LOWDELAY;
    e.frame.output.csp = XVID_CSP_BGRA;
    e.frame.brightness = 0;
    e.stats.version = int(XVID_API_VERSION);
  }
  xvid_pool.entries = entries;
  xvid_pool.size = n;
  return 0;
}

int create_xvid(int entry) {
  if (!xvid_pool.entries || entry < 0 || entry >= xvid_pool.size) return -4;
  XvidEntry& e = xvid_pool.entries[entry];
  std::printf("Initializing xvid for channel %d.\n", entry);
  // Xvid's global init rewrites process-wide tables; run it once, never beside a decode.
  std::call_once(xvid_global_once, [] {
    xvid_gbl_init_t gbl{};
    gbl.version = int(XVID_API_VERSION);
    gbl.cpu_flags = 0;
    gbl.debug = 0;
    xvid_global_rc = xvid_global(nullptr, XVID_GBL_INIT, &gbl, nullptr);
  });
  if (xvid_global_rc < 0) {
    std::printf("Unable to initialize XviD. Return value is %d.\n", xvid_global_rc);
    return -1;
  }
  std::printf("Creating xvid instance for channel %d.\n", entry);
  e.create.width = 0;
  e.create.height = 0;
  e.create.handle = nullptr;
  int rc = xvid_decore(nullptr, XVID_DEC_CREATE, &e.create, nullptr);
  if (rc < 0) {
    std::printf("Error in XVID_DEC_CREATE %d.\n", rc);
    return -2;
  }
  e.handle = e.create.handle;
  e.width = e.height = 0;
  return 0;
}

int decode_xvid(int entry, const PICTURE_HEADER& ph, const uint8_t* data, uint8_t* picture,
                size_t capacity) {
  if (!xvid_pool.entries || entry < 0 || entry >= xvid_pool.size) return -1;
  XvidEntry& e = xvid_pool.entries[entry];
  std::lock_guard<std::mutex> guard(e.lock);

  uint32_t seq = ph.seq_cnt;
  uint32_t expected = e.expected.load();
  if (expected != XVID_WAIT_KEY) {
    if (seq != 0 && seq > expected + 1) {
      e.expected = XVID_WAIT_KEY;
      return 2;
    }
    e.expected = seq;
  } else {
    if (seq != 0) return 1;
    e.expected = 0;
  }

  const int w = ph.hsize, h = ph.vsize;
  const bool key = seq == 0;
  // The decoder writes its stream's size at a stride of hsize x 4: both must agree and fit.
  // Xvid's output conversion writes outside the picture for pictures narrower or lower
  // than one macroblock, which no DVR sends: refuse them.
  if (w < 16 || h < 16 || uint64_t(w) * uint64_t(h) * 4 > capacity ||
      (!key && (w != e.width || h != e.height))) {
    e.expected = XVID_WAIT_KEY;
    return -3;
  }

  if (!e.handle && create_xvid(entry) != 0) {
    std::printf("create_xvid() failed.\n");
    e.expected = XVID_WAIT_KEY;
    return -2;
  }

  const uint8_t* input = data;
  size_t length = ph.size;
  if (key) {
    xvid_input.resize(MPEG4_VOL_TEMPLATE_SIZE + ph.size);
    build_mpeg4_vol(xvid_input.data(), w, h, ph.scale);
    std::memcpy(xvid_input.data() + MPEG4_VOL_TEMPLATE_SIZE, data, ph.size);
    input = xvid_input.data();
    length = xvid_input.size();
    e.width = w;
    e.height = h;
  }

  size_t pos = 0;
  bool produced = false;
  for (int call = 0; call < 3 && pos < length; ++call) {
    e.frame.bitstream = const_cast<uint8_t*>(input + pos);
    e.frame.length = int(length - pos);  // what is left, not the whole frame again
    e.frame.output.plane[0] = picture;
    e.frame.output.stride[0] = w * 4;
    std::memset(&e.stats, 0, sizeof e.stats);
    e.stats.version = int(XVID_API_VERSION);
    int rc = xvid_decore(e.handle, XVID_DEC_DECODE, &e.frame, &e.stats);
    if (rc < 0) {
      std::printf("Error in XVID_DEC_DECODE.\n");
      break;
    }
    if (e.stats.type == XVID_TYPE_VOL &&
        (e.stats.data.vol.width != w || e.stats.data.vol.height != h)) {
      // A VOL inside the data announces another size than the header: the picture
      // would not match the buffer's stride, so refuse it before it is written.
      e.expected = XVID_WAIT_KEY;
      e.width = e.height = 0;
      return -3;
    }
    if (rc == 0 && e.stats.type <= 0) break;  // nothing consumed, nothing more to get
    pos += size_t(rc);
    if (e.stats.type >= 1) {
      produced = true;
      break;
    }
  }
  return produced ? 0 : -4;
}

void reset_xvid(int entry) {
  if (!xvid_pool.entries || entry < 0 || entry >= xvid_pool.size) return;
  xvid_pool.entries[entry].expected = XVID_WAIT_KEY;
}

uint32_t xvid_expected(int entry) {
  if (!xvid_pool.entries || entry < 0 || entry >= xvid_pool.size) return XVID_WAIT_KEY;
  return xvid_pool.entries[entry].expected.load();
}

void free_xvid() {
  if (!xvid_pool.entries) return;
  for (int i = 0; i < xvid_pool.size; ++i) {
    XvidEntry& e = xvid_pool.entries[i];
    if (e.handle) xvid_decore(e.handle, XVID_DEC_DESTROY, nullptr, nullptr);
    e.handle = nullptr;
  }
  delete[] xvid_pool.entries;
  xvid_pool.entries = nullptr;
  xvid_pool.size = 0;
}

// ---- H.264 ----------------------------------------------------------------------------------

int init_pixtree(int n) {
  if (pixtree_pool.entries) return 0;
  if (n < 1) return -1;
  if (n > DECODER_POOL_SIZE) n = DECODER_POOL_SIZE;
  auto* entries = new (std::nothrow) PixtreeEntry[size_t(n)];
  if (!entries) {
    fatal_box("Not enough memory.");
    return -2;
  }
  pixtree_pool.entries = entries;
  pixtree_pool.size = n;
  return 0;
}

int create_pixtree(int entry) {
  if (!pixtree_pool.entries || entry < 0 || entry >= pixtree_pool.size) return -1;
  uint8_t* rec = pixtree_pool.entries[entry].record;
  set_rec_word(rec, PT_OFF_CREATED, 1);
  set_rec_word(rec, PT_OFF_FORMAT, PT_FORMAT_RGB24);
  if (PT_H264dec_Init(rec) != 0) {
    std::printf("PT)H264dec_Init() failed.\n");
    set_rec_word(rec, PT_OFF_CREATED, 0);
    return -1;
  }
  return 0;
}

int decode_pixtree_rgb24(int entry, const uint8_t* fh, const uint8_t* data, uint8_t* picture,
                         size_t capacity, int* out_w, int* out_h) {
  if (!pixtree_pool.entries || entry < 0 || entry >= pixtree_pool.size) return -4;
  PixtreeEntry& e = pixtree_pool.entries[entry];
  std::lock_guard<std::mutex> guard(e.lock);
  uint8_t* rec = e.record;
  uint32_t size = get_le32(fh + 4) >> 8;

  if (is_empty_frame(data, size)) return -1;
  if (rec_word(rec, PT_OFF_CREATED) != 1 && create_pixtree(entry) != 0) {
    std::printf("create_pixtree() failed.\n");
    return -2;
  }
  if (rec_word(rec, PT_OFF_FORMAT) != uint32_t(PT_FORMAT_RGB24)) return -3;
  // The 24-bit picture is widened in place to 32 bits, so it may take 3/4 of the buffer.
  set_rec_word(rec, PT_OFF_CAPACITY, uint32_t(std::min<size_t>(capacity / 4 * 3, 0xFFFFFFFFu)));

  for (int attempt = 0; attempt < PIXTREE_MAX_RETRIES; ++attempt) {
    if (data[0] != 0) return -1;  // not an Annex-B start code
    int rc = AvcshimDecOnFrame(rec, data, int(size), picture);
    switch (rc) {
      case 0:
      case 5: {
        int w = int(rec_word(rec, PT_OFF_WIDTH)), h = int(rec_word(rec, PT_OFF_HEIGHT));
        if (w <= 0 || h <= 0 || uint64_t(w) * uint64_t(h) * 4 > capacity) return -1;
        if (out_w) *out_w = w;
        if (out_h) *out_h = h;
        return 0;
      }
      case 1: continue;
      case -5:
        PT_H264dec_Uninit(rec);
        if (PT_H264dec_Init(rec) != 0) return -1;
        continue;
      default: return -1;
    }
  }
  return -1;
}

int decode_pixtree(int entry, const uint8_t* fh, const uint8_t* data, uint8_t* picture,
                   size_t capacity, int* out_w, int* out_h) {
  int w = 0, h = 0;
  int rc = decode_pixtree_rgb24(entry, fh, data, picture, capacity, &w, &h);
  if (rc != 0) return rc;
  rgb24_to_rgb32(picture, w, h);
  if (out_w) *out_w = w;
  if (out_h) *out_h = h;
  return 0;
}

void reset_pixtree(int entry) {
  if (!pixtree_pool.entries || entry < 0 || entry >= pixtree_pool.size) return;
  pixtree_pool.entries[entry].reset_word = 0xFFFFFFFFu;
}

uint32_t pixtree_reset_word(int entry) {
  if (!pixtree_pool.entries || entry < 0 || entry >= pixtree_pool.size) return 0;
  return pixtree_pool.entries[entry].reset_word.load();
}

void free_pixtree() {
  if (!pixtree_pool.entries) return;
  for (int i = 0; i < pixtree_pool.size; ++i) {
    uint8_t* rec = pixtree_pool.entries[i].record;
    if (rec_word(rec, PT_OFF_CREATED) == 1) PT_H264dec_Uninit(rec);
  }
  delete[] pixtree_pool.entries;
  pixtree_pool.entries = nullptr;
  pixtree_pool.size = 0;
}

// ---- helpers --------------------------------------------------------------------------------

int is_xvid_key_frame(int frame_type) { return frame_type == 0 ? 1 : 0; }
int is_h264_key_frame(int frame_type) { return frame_type == 1 ? 1 : 0; }

int is_empty_frame(const uint8_t* data, size_t length) {
  size_t n = length < 20 ? length : 20;
  for (size_t i = 0; i < n; ++i)
    if (data[i] != 0) return 0;
  return 1;
}

namespace {

// 16 pixels per step with byte shuffles: 48 source bytes (copied aside) -> 64 output bytes.
__attribute__((target("ssse3"))) void widen_block_ssse3(const uint8_t* src, uint8_t* dst,
                                                        size_t count) {
  const __m128i shuf = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  size_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const uint8_t* s = src + i * 3;
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));       // bytes 0-15
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));  // 16-31
    __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32));  // 32-47
    __m128i p0 = _mm_shuffle_epi8(a, shuf);
    __m128i p1 = _mm_shuffle_epi8(_mm_alignr_epi8(b, a, 12), shuf);
    __m128i p2 = _mm_shuffle_epi8(_mm_alignr_epi8(c, b, 8), shuf);
    __m128i p3 = _mm_shuffle_epi8(_mm_srli_si128(c, 4), shuf);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i * 4), p0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i * 4 + 16), p1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i * 4 + 32), p2);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i * 4 + 48), p3);
  }
  for (; i < count; ++i) {
    dst[i * 4] = src[i * 3];
    dst[i * 4 + 1] = src[i * 3 + 1];
    dst[i * 4 + 2] = src[i * 3 + 2];
    dst[i * 4 + 3] = 0;
  }
}

// 8 pixels per step: 24 source bytes spread over both lanes (12 each), then one in-lane
// shuffle to 32 output bytes. A step loads 32 bytes for its 24, so the steps stop short of
// the end and the last pixels go through the SSSE3 block.
__attribute__((target("avx2"))) void widen_block_avx2(const uint8_t* src, uint8_t* dst,
                                                      size_t count) {
  const __m256i spread = _mm256_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0);
  const __m256i shuf = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0, 1,
                                        2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
  size_t i = 0;
  for (; i + 11 <= count; i += 8) {
    __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i * 3));
    a = _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(a, spread), shuf);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i * 4), a);
  }
  widen_block_ssse3(src + i * 3, dst + i * 4, count - i);
}

void widen_block(const uint8_t* src, uint8_t* dst, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    dst[i * 4] = src[i * 3];
    dst[i * 4 + 1] = src[i * 3 + 1];
    dst[i * 4 + 2] = src[i * 3 + 2];
    dst[i * 4 + 3] = 0;
  }
}

// The widest widening this processor runs.
void (*const widen)(const uint8_t*, uint8_t*, size_t) = __builtin_cpu_supports("avx2")
                                                            ? widen_block_avx2
                                                        : __builtin_cpu_supports("ssse3")
                                                            ? widen_block_ssse3
                                                            : widen_block;

}  // namespace

void rgb24_to_rgb32_copy(const uint8_t* src, uint8_t* dst, size_t count) { widen(src, dst, count); }

void rgb24_to_rgb32(uint8_t* buffer, int width, int height) {
  if (width <= 0 || height <= 0) return;
  // Backwards in blocks: a block's 3-byte source is copied aside first, so its 4-byte
  // output (which lies at or above the source) never overwrites pixels not yet read.
  constexpr size_t kBlock = 256;
  size_t n = size_t(width) * size_t(height);
  alignas(16) uint8_t src[kBlock * 3];
  while (n > 0) {
    size_t count = n % kBlock ? n % kBlock : kBlock;
    n -= count;
    std::memcpy(src, buffer + n * 3, count * 3);
    widen(src, buffer + n * 4, count);
  }
}
