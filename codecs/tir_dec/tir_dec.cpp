// tir_dec: header parse, bounded bit reader, intra block decoding with the fixed-point
// Chen-Wang inverse DCT, per-stream pictures and the output conversions. All module state is
// guarded by one lock held for the whole of each exported call.
#define TIR_DEC_BUILD
#include "codecs/tir_dec/tir_dec.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codecs/tir_dec/tir_vlc.h"

namespace {

constexpr int kMaxSlices = 20;
constexpr size_t kMaxPictures = 64;

// The decoder object: header dialect and what the last header parse found.
class TirDecoder {
 public:
  virtual ~TirDecoder() = default;
  int32_t mode = 0;
  uint32_t shift_reg = 0xFFFFFFFFu;
  int32_t width = 0;
  int32_t height = 0;
  int32_t all_blocks = 0;
  int32_t format_code = 0;
  uint16_t extra_value = 0;
};

// One stream's picture, I420, kept between frames so uncoded macroblocks show its last frame.
struct Picture {
  const void* dst = nullptr;
  int32_t format_code = 0;
  int32_t width = 0;
  int32_t height = 0;
  uint64_t last_use = 0;
  std::vector<uint8_t> data;
};

// Reads most significant bit first, never past `len` bytes; missing bits read as 0 and are
// counted, so a caller can tell a slice that ran off the end of its frame.
class BitReader {
 public:
  void reset() { *this = BitReader(); }
  void start(const uint8_t* p, size_t len) {
    p_ = p;
    len_ = len;
    pos_ = 0;
    window_ = 0;
    bits_ = 0;
    consumed_ = 0;
  }
  uint32_t peek(int n) {
    if (bits_ < n) refill();
    return static_cast<uint32_t>(window_ >> (64 - n));
  }
  void skip(int n) {
    window_ <<= n;
    bits_ -= n;
    consumed_ += static_cast<uint64_t>(n);
  }
  uint32_t get(int n) {
    const uint32_t v = peek(n);
    skip(n);
    return v;
  }
  bool overrun() const { return consumed_ > static_cast<uint64_t>(len_) * 8; }

 private:
  void refill() {
    if (pos_ + 8 <= len_) {
      // Eight bytes at once; the bytes only partly taken are read again next time.
      uint64_t v = 0;
      for (int i = 0; i < 8; ++i) v = (v << 8) | p_[pos_ + static_cast<size_t>(i)];
      window_ |= v >> bits_;
      const int take = (63 - bits_) >> 3;
      pos_ += static_cast<size_t>(take);
      bits_ += take * 8;
      return;
    }
    while (bits_ <= 56) {
      if (pos_ < len_) window_ |= static_cast<uint64_t>(p_[pos_++]) << (56 - bits_);
      bits_ += 8;
    }
  }
  const uint8_t* p_ = nullptr;
  size_t len_ = 0;
  size_t pos_ = 0;
  uint64_t window_ = 0;
  int bits_ = 0;
  uint64_t consumed_ = 0;
};

// One variable-length code entry: run 64 marks the escape, 65 end of block, len 0 no code.
struct VlcEntry {
  uint8_t run = 0;
  uint8_t level = 0;
  uint8_t len = 0;
};
constexpr uint8_t kRunEscape = 64;
constexpr uint8_t kRunEob = 65;

// The eight sub-tables, each covering one range of the 16-bit peek with the resolution that
// the longest code in that range needs.
struct VlcRange {
  uint32_t low;  // smallest peek value of the range
  int shift;     // peek >> shift indexes the sub-table
  int count;
};
constexpr VlcRange kRanges[8] = {
    {0x4000, 12, 12}, {1024, 8, 60}, {512, 6, 8}, {256, 4, 16},
    {128, 3, 16},     {64, 2, 16},   {32, 1, 16}, {16, 0, 16},
};

// Shortcut for the common codes: the top 10 bits of a peek of 512 or more (every code of
// up to 10 bits) index it directly; codes short enough carry their sign bit folded in.
struct FastEntry {
  int16_t level = 0;  // signed when the sign is folded in
  uint8_t run = 0;
  uint8_t len = 0;  // bits to skip, sign included when folded
  uint8_t sign_follows = 0;
};

struct VlcTables {
  std::vector<VlcEntry> tab[8];
  FastEntry fast[1024];
  VlcTables() {
    for (int t = 0; t < 8; ++t) tab[t].resize(static_cast<size_t>(kRanges[t].count));
    add(tir_vlc::kEndOfBlock, kRunEob, 0);
    add(tir_vlc::kEscape, kRunEscape, 0);
    for (const tir_vlc::Code& c : tir_vlc::kCodes) add(c.bits, c.run, c.level);
    for (uint32_t i = 8; i < 1024; ++i) {
      const uint32_t peek = i << 6;
      const VlcEntry& e = *find(peek);
      FastEntry& f = fast[i];
      f.run = e.run;
      if (e.run >= kRunEscape || e.len + 1 > 10) {
        f.level = e.level;
        f.len = e.len;
        f.sign_follows = e.run < kRunEscape;
      } else {
        const bool negative = (peek >> (15 - e.len)) & 1u;
        f.level = static_cast<int16_t>(negative ? -e.level : e.level);
        f.len = static_cast<uint8_t>(e.len + 1);
      }
    }
  }
  void add(const char* bits, uint8_t run, uint8_t level) {
    const int len = tir_vlc::code_length(bits);
    const uint32_t first = tir_vlc::code_value(bits) << (16 - len);
    const uint32_t last = first + (1u << (16 - len)) - 1;
    for (int t = 0; t < 8; ++t) {
      if (first < kRanges[t].low) continue;
      const uint32_t base = kRanges[t].low >> kRanges[t].shift;
      for (uint32_t i = first >> kRanges[t].shift; i <= last >> kRanges[t].shift; ++i)
        tab[t][i - base] = VlcEntry{run, level, static_cast<uint8_t>(len)};
      return;
    }
  }
  const VlcEntry* find(uint32_t peek) const {
    for (int t = 0; t < 8; ++t)
      if (peek >= kRanges[t].low)
        return &tab[t][(peek >> kRanges[t].shift) - (kRanges[t].low >> kRanges[t].shift)];
    return nullptr;
  }
};

const VlcTables& vlc_tables() {
  static const VlcTables tables;
  return tables;
}

constexpr uint8_t kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                                 12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                                 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                                 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Default intra quantiser matrix, natural order.
constexpr uint8_t kIntraMatrix[64] = {
    8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37, 19, 22, 26, 27, 29, 34,
    34, 38, 22, 22, 26, 27, 29, 34, 37, 40, 22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32,
    35, 40, 48, 58, 26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83};

struct Module {
  std::mutex lock;
  TirDecoder decoder;
  int32_t quant_scale = 0;
  int32_t slice_count = 0;
  int32_t slice_offsets[kMaxSlices] = {};
  unsigned frame_end = 0;  // the frame stops here: at its length or the next frame's start code
  BitReader reader;
  int16_t clip_storage[1024] = {};
  const int16_t* clip = clip_storage + 512;  // indexed -512..511
  std::vector<Picture> pictures;
  uint64_t use_counter = 0;

  Module() { build_clip(); }
  void build_clip() {
    for (int i = -512; i < 512; ++i)
      clip_storage[i + 512] = static_cast<int16_t>(i < -256 ? -256 : (i > 255 ? 255 : i));
  }
};

Module& module() {
  static Module m;
  return m;
}

// Size of the picture by slice count, one slice per macroblock row.
void size_for_slices(int n, int32_t& w, int32_t& h) {
  if (n <= 7) {
    w = 320;
    h = 112;
  } else if (n <= 9) {
    w = 320;
    h = 128;
  } else if (n <= 14) {
    w = 640;
    h = 224;
  } else {
    w = 640;
    h = 272;
  }
}

int parse_header(Module& m, const uint8_t* frame, unsigned length) {
  TirDecoder& d = m.decoder;
  if (!frame || length <= 5) return -1;
  if (frame[0] != 0 || frame[1] != 0 || frame[2] != 1 || (frame[3] != 0xF8 && frame[3] != 0xF9))
    return -1;
  const uint8_t h = frame[4];
  switch (d.mode) {
    case 0:
      d.format_code = (h & 4) ? 0 : (h & 7);
      m.quant_scale = (h >> 3) & 15;
      d.all_blocks = h >> 7;
      break;
    case 1:
    case 3:
    case 4:
      d.format_code = h & 15;
      m.quant_scale = h >> 4;
      d.all_blocks = frame[3] & 1;
      break;
    default:
      // These dialects carry the extra value in bytes 5-6; a frame too short to hold it
      // cannot hold a slice either.
      if (length < 7) return -1;
      d.format_code = 0;
      m.quant_scale = (h >> 3) & 15;
      d.all_blocks = h >> 7;
      d.extra_value = static_cast<uint16_t>((frame[5] << 8) | frame[6]);
      break;
  }
  if (m.quant_scale == 15) return -1;

  // Every 00 00 01 whose first byte lies at 5 or later, followed by one more byte, starts a
  // slice, or ends the frame before a frame or audio start code. The receive threads run
  // this on every frame, so the data bytes between are skipped in bulk up to the next 01
  // (the result is that of a byte-by-byte shift register).
  m.slice_count = 0;
  m.frame_end = length;
  for (unsigned p = 7; p + 1 < length; ++p) {
    const void* one = std::memchr(frame + p, 1, length - 1 - p);
    if (!one) break;
    p = static_cast<unsigned>(static_cast<const uint8_t*>(one) - frame);
    if (frame[p - 1] != 0 || frame[p - 2] != 0) continue;
    const uint8_t code = frame[p + 1];
    if (code == 0xF8 || code == 0xF9 || code == 0xFA) {
      m.frame_end = p - 2;
      break;
    }
    if (m.slice_count < kMaxSlices) m.slice_offsets[m.slice_count] = static_cast<int32_t>(p - 2);
    ++m.slice_count;
  }
  if (m.slice_count < 18) size_for_slices(m.slice_count, d.width, d.height);
  if (m.slice_count != 14 && m.slice_count != 17) return -1;
  return 0;
}

// Fixed-point separable inverse DCT (Chen-Wang, as in the MPEG-2 reference decoder), in T.
// Every intermediate is a linear sum of the coefficients, so bounding the sum of the AC
// magnitudes bounds them all: up to 2047 (with DC up to 2047) no 32-bit intermediate can
// overflow. Other blocks take 64-bit sums, which agree wherever 32-bit ones do not overflow.
constexpr int kSmallAcSum = 2047;
constexpr int W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;

// The block arrives transposed (coefficient (row r, column c) at c * 8 + r), so the row pass
// runs over the eight rows side by side with contiguous loads, and after one transpose the
// column pass runs over the eight columns the same way; both loops vectorise. The results are
// those of the one-row/one-column-at-a-time form, whose all-zero-AC shortcuts give exactly
// what the full arithmetic gives. The column pass's clip table holds -256..255, so its lookup
// and the final 0..255 clamp together are a clamp to 0..255.
// The AVX2 clone is picked by an IFUNC resolver while the library is relocated; under
// ThreadSanitizer that runs before the sanitizer's run time is set up and crashes the load,
// so a TSan build keeps the one default body.
template <typename T>
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("avx2", "default")))
#endif
void idct_store(const int* __restrict tr, uint8_t* __restrict dst, int stride) {
  int rows[64];  // row-pass output, output index k of row i at k * 8 + i
  for (int i = 0; i < 8; ++i) {
    T x1 = T{tr[4 * 8 + i]} * 2048, x2 = tr[6 * 8 + i], x3 = tr[2 * 8 + i], x4 = tr[1 * 8 + i],
      x5 = tr[7 * 8 + i], x6 = tr[5 * 8 + i], x7 = tr[3 * 8 + i];
    T x0 = T{tr[i]} * 2048 + 128;
    T x8 = W7 * (x4 + x5);
    x4 = x8 + (W1 - W7) * x4;
    x5 = x8 - (W1 + W7) * x5;
    x8 = W3 * (x6 + x7);
    x6 = x8 - (W3 - W5) * x6;
    x7 = x8 - (W3 + W5) * x7;
    x8 = x0 + x1;
    x0 -= x1;
    x1 = W6 * (x3 + x2);
    x2 = x1 - (W2 + W6) * x2;
    x3 = x1 + (W2 - W6) * x3;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;
    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = (181 * (x4 + x5) + 128) >> 8;
    x4 = (181 * (x4 - x5) + 128) >> 8;
    rows[0 * 8 + i] = static_cast<int>((x7 + x1) >> 8);
    rows[1 * 8 + i] = static_cast<int>((x3 + x2) >> 8);
    rows[2 * 8 + i] = static_cast<int>((x0 + x4) >> 8);
    rows[3 * 8 + i] = static_cast<int>((x8 + x6) >> 8);
    rows[4 * 8 + i] = static_cast<int>((x8 - x6) >> 8);
    rows[5 * 8 + i] = static_cast<int>((x0 - x4) >> 8);
    rows[6 * 8 + i] = static_cast<int>((x3 - x2) >> 8);
    rows[7 * 8 + i] = static_cast<int>((x7 - x1) >> 8);
  }
  int b[64];  // row-pass output in natural order
  for (int r = 0; r < 8; ++r)
    for (int k = 0; k < 8; ++k) b[r * 8 + k] = rows[k * 8 + r];
  int out[64];
  for (int c = 0; c < 8; ++c) {
    T x1 = T{b[4 * 8 + c]} * 256, x2 = b[6 * 8 + c], x3 = b[2 * 8 + c], x4 = b[1 * 8 + c],
      x5 = b[7 * 8 + c], x6 = b[5 * 8 + c], x7 = b[3 * 8 + c];
    T x0 = T{b[c]} * 256 + 8192;
    T x8 = W7 * (x4 + x5) + 4;
    x4 = (x8 + (W1 - W7) * x4) >> 3;
    x5 = (x8 - (W1 + W7) * x5) >> 3;
    x8 = W3 * (x6 + x7) + 4;
    x6 = (x8 - (W3 - W5) * x6) >> 3;
    x7 = (x8 - (W3 + W5) * x7) >> 3;
    x8 = x0 + x1;
    x0 -= x1;
    x1 = W6 * (x3 + x2) + 4;
    x2 = (x1 - (W2 + W6) * x2) >> 3;
    x3 = (x1 + (W2 - W6) * x3) >> 3;
    x1 = x4 + x6;
    x4 -= x6;
    x6 = x5 + x7;
    x5 -= x7;
    x7 = x8 + x3;
    x8 -= x3;
    x3 = x0 + x2;
    x0 -= x2;
    x2 = (181 * (x4 + x5) + 128) >> 8;
    x4 = (181 * (x4 - x5) + 128) >> 8;
    out[0 * 8 + c] = static_cast<int>(std::clamp<T>((x7 + x1) >> 14, 0, 255));
    out[1 * 8 + c] = static_cast<int>(std::clamp<T>((x3 + x2) >> 14, 0, 255));
    out[2 * 8 + c] = static_cast<int>(std::clamp<T>((x0 + x4) >> 14, 0, 255));
    out[3 * 8 + c] = static_cast<int>(std::clamp<T>((x8 + x6) >> 14, 0, 255));
    out[4 * 8 + c] = static_cast<int>(std::clamp<T>((x8 - x6) >> 14, 0, 255));
    out[5 * 8 + c] = static_cast<int>(std::clamp<T>((x0 - x4) >> 14, 0, 255));
    out[6 * 8 + c] = static_cast<int>(std::clamp<T>((x3 - x2) >> 14, 0, 255));
    out[7 * 8 + c] = static_cast<int>(std::clamp<T>((x7 - x1) >> 14, 0, 255));
  }
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) dst[r * stride + c] = static_cast<uint8_t>(out[r * 8 + c]);
}

inline int clip_at(const int16_t* clip, int v) { return clip[std::clamp(v, -512, 511)]; }

// Decodes one block's coefficients into `blk` (transposed: natural index k at
// (k % 8) * 8 + k / 8), with the sum of the AC
// magnitudes in `ac_sum`. 0, or -2 on a syntax error.
int decode_block_bits(BitReader& br, int scale, int* blk, int& ac_sum) {
  const VlcTables& vlc = vlc_tables();
  std::fill(blk, blk + 64, 0);
  blk[0] = static_cast<int>(br.get(8)) * 8;
  int pos = 1;
  ac_sum = 0;
  for (;;) {
    const uint32_t peek = br.peek(16);
    int run;
    int level;
    uint8_t kind;
    if (peek >= 512) {
      const FastEntry& f = vlc.fast[peek >> 6];
      br.skip(f.len);
      kind = f.run;
      run = f.run;
      level = f.level;
      if (f.sign_follows && br.get(1)) level = -level;
    } else {
      if (peek < 16) return -2;
      const VlcEntry& e = *vlc.find(peek);
      br.skip(e.len);
      kind = e.run;
      run = e.run;
      level = br.get(1) ? -static_cast<int>(e.level) : e.level;
    }
    if (kind == kRunEob) break;
    if (kind == kRunEscape) {
      run = static_cast<int>(br.get(6));
      const int lv = static_cast<int>(br.get(8));
      if (lv == 0)
        level = static_cast<int>(br.get(8));
      else if (lv == 128)
        level = static_cast<int>(br.get(8)) - 256;
      else if (lv > 128)
        level = lv - 256;
      else
        level = lv;
    }
    pos += run;
    if (pos > 63) return -2;
    const int k = kZigzag[pos];
    const int v = std::clamp((level * kIntraMatrix[k] * scale) >> 2, -2048, 2047);
    blk[(k & 7) * 8 + (k >> 3)] = v;  // transposed, for the inverse DCT
    ac_sum += std::abs(v);
    ++pos;
  }
  return 0;
}

int decode_block(Module& m, int* blk, int& ac_sum) {
  // A local copy of the reader: the coefficient stores cannot alias it, so its window
  // stays in registers.
  BitReader br = m.reader;
  const int result = decode_block_bits(br, m.quant_scale, blk, ac_sum);
  m.reader = br;
  return result;
}

void store_block(Module& m, const int* tr, int ac_sum, uint8_t* dst, int stride) {
  if (ac_sum == 0) {
    // DC only: every row becomes DC x 8, every column clip[(DC x 8 + 32) >> 6].
    const uint8_t v =
        static_cast<uint8_t>(std::clamp(clip_at(m.clip, (tr[0] * 8 + 32) >> 6), 0, 255));
    for (int r = 0; r < 8; ++r) std::memset(dst + r * stride, v, 8);
    return;
  }
  if (ac_sum <= kSmallAcSum)
    idct_store<int32_t>(tr, dst, stride);
  else
    idct_store<int64_t>(tr, dst, stride);
}

// Decodes the blocks of the macroblock at (col, row); luma block k is coded when bit k of
// `cbp` is set, the chroma blocks always are. 0 or -2.
int decode_macroblock(Module& m, Picture& pic, int col, int row, int cbp) {
  const int w = pic.width;
  const int h = pic.height;
  uint8_t* y = pic.data.data();
  uint8_t* u = y + w * h;
  uint8_t* v = u + (w / 2) * (h / 2);
  int blk[64];
  int ac_sum = 0;
  for (int k = 0; k < 4; ++k) {
    if (!(cbp & (1 << k))) continue;
    if (decode_block(m, blk, ac_sum) != 0) return -2;
    store_block(m, blk, ac_sum, y + (16 * row + 8 * (k >> 1)) * w + 16 * col + 8 * (k & 1), w);
  }
  const int cw = w / 2;
  if (decode_block(m, blk, ac_sum) != 0) return -2;
  store_block(m, blk, ac_sum, u + 8 * row * cw + 8 * col, cw);
  if (decode_block(m, blk, ac_sum) != 0) return -2;
  store_block(m, blk, ac_sum, v + 8 * row * cw + 8 * col, cw);
  return 0;
}

int decode_slice(Module& m, Picture& pic, const uint8_t* frame, int offset) {
  BitReader& br = m.reader;
  br.start(frame + offset, m.frame_end - static_cast<unsigned>(offset));
  if (br.get(24) != 0x000001u) return -2;
  const int row = static_cast<int>(br.get(5));
  if (row >= pic.height / 16) return -2;
  const int mb_cols = pic.width / 16;
  if (m.decoder.all_blocks) {
    for (int col = 0; col < mb_cols; ++col) {
      if (decode_macroblock(m, pic, col, row, 0xF) != 0) return -2;
      if (br.overrun()) return -2;
    }
    return 0;
  }
  // The slice ends at an increment of 0 or once its row's last column is decoded.
  int col = -1;
  while (col + 1 < mb_cols) {
    const int inc = static_cast<int>(br.get(6));
    if (inc == 0) break;
    col += inc;
    // A column past the row would land in the next row or another plane.
    if (col >= mb_cols) return -2;
    const int cbp = static_cast<int>(br.get(4));
    if (decode_macroblock(m, pic, col, row, cbp) != 0) return -2;
    // A macroblock that needed bits beyond the frame was cut short.
    if (br.overrun()) return -2;
  }
  return 0;
}

// The picture of the stream (destination, format code), made or reset to black as needed.
Picture& picture_for(Module& m, const void* dst, int format_code, int w, int h) {
  Picture* pic = nullptr;
  for (Picture& p : m.pictures)
    if (p.dst == dst && p.format_code == format_code) pic = &p;
  if (!pic) {
    if (m.pictures.size() < kMaxPictures) {
      m.pictures.emplace_back();
      pic = &m.pictures.back();
    } else {
      pic = &*std::min_element(
          m.pictures.begin(), m.pictures.end(),
          [](const Picture& a, const Picture& b) { return a.last_use < b.last_use; });
      pic->width = 0;
    }
    pic->dst = dst;
    pic->format_code = format_code;
  }
  if (pic->width != w || pic->height != h) {
    pic->width = w;
    pic->height = h;
    pic->data.assign(static_cast<size_t>(w) * h, 0);
    pic->data.resize(static_cast<size_t>(w) * h * 3 / 2, 128);
  }
  pic->last_use = ++m.use_counter;
  return *pic;
}

// Colour conversion, per 2x2 group sharing one chroma pair. Since 1024 Y is a multiple of
// 1024, (1024 Y + k) >> 10 equals Y + (k >> 10) exactly, so each chroma pair reduces to three
// small offsets added to its four luma samples. Negative results become 1 (not 0), as the
// DVRs' viewers expect.
struct ColourTables {
  int16_t dr[256], db[256];
  uint8_t fix_storage[1024];
  const uint8_t* fix = fix_storage + 512;  // indexed -512..511
  ColourTables() {
    for (int i = 0; i < 256; ++i) {
      dr[i] = static_cast<int16_t>((1436 * (i - 128)) >> 10);
      db[i] = static_cast<int16_t>((1815 * (i - 128)) >> 10);
    }
    for (int c = -512; c < 512; ++c)
      fix_storage[c + 512] = static_cast<uint8_t>(c > 255 ? 255 : (c < 0 ? 1 : c));
  }
};

const ColourTables& colour_tables() {
  static const ColourTables t;
  return t;
}

inline int green_offset(int u, int v) { return (-352 * (u - 128) - 731 * (v - 128)) >> 10; }

// Writes the picture as `Bpp`-byte pixels, `store` packing one pixel; `row_at(y)` is the
// output row of picture row y.
template <int Bpp, typename RowAt, typename Store>
void convert(const Picture& pic, RowAt row_at, Store store) {
  const ColourTables& t = colour_tables();
  const uint8_t* __restrict fix = t.fix;
  const int w = pic.width;
  const int h = pic.height;
  const uint8_t* yp = pic.data.data();
  const uint8_t* up = yp + w * h;
  const uint8_t* vp = up + (w / 2) * (h / 2);
  for (int y = 0; y < h; y += 2) {
    const uint8_t* __restrict y0 = yp + y * w;
    const uint8_t* __restrict y1 = y0 + w;
    const uint8_t* __restrict ur = up + (y / 2) * (w / 2);
    const uint8_t* __restrict vr = vp + (y / 2) * (w / 2);
    uint8_t* __restrict o0 = row_at(y);
    uint8_t* __restrict o1 = row_at(y + 1);
    for (int cx = 0; cx < w / 2; ++cx) {
      const int u = ur[cx];
      const int v = vr[cx];
      const int rr = t.dr[v];
      const int gg = green_offset(u, v);
      const int bb = t.db[u];
      const int x = 2 * cx;
      int l = y0[x];
      store(o0 + x * Bpp, fix[l + rr], fix[l + gg], fix[l + bb]);
      l = y0[x + 1];
      store(o0 + (x + 1) * Bpp, fix[l + rr], fix[l + gg], fix[l + bb]);
      l = y1[x];
      store(o1 + x * Bpp, fix[l + rr], fix[l + gg], fix[l + bb]);
      l = y1[x + 1];
      store(o1 + (x + 1) * Bpp, fix[l + rr], fix[l + gg], fix[l + bb]);
    }
  }
}

#if defined(__SSE2__)
// Exact (k x v) >> 10 for eight int16 v, through 32-bit products.
inline __m128i mul_shift10(__m128i v, int16_t k) {
  const __m128i kk = _mm_set1_epi16(k);
  const __m128i lo = _mm_mullo_epi16(v, kk);
  const __m128i hi = _mm_mulhi_epi16(v, kk);
  return _mm_packs_epi32(_mm_srai_epi32(_mm_unpacklo_epi16(lo, hi), 10),
                         _mm_srai_epi32(_mm_unpackhi_epi16(lo, hi), 10));
}

// Green offset (-352 u - 731 v) >> 10, summed in 32 bits before the shift.
inline __m128i green_shift10(__m128i u, __m128i v) {
  const __m128i ku = _mm_set1_epi16(-352), kv = _mm_set1_epi16(-731);
  const __m128i ul = _mm_mullo_epi16(u, ku), uh = _mm_mulhi_epi16(u, ku);
  const __m128i vl = _mm_mullo_epi16(v, kv), vh = _mm_mulhi_epi16(v, kv);
  const __m128i lo = _mm_add_epi32(_mm_unpacklo_epi16(ul, uh), _mm_unpacklo_epi16(vl, vh));
  const __m128i hi = _mm_add_epi32(_mm_unpackhi_epi16(ul, uh), _mm_unpackhi_epi16(vl, vh));
  return _mm_packs_epi32(_mm_srai_epi32(lo, 10), _mm_srai_epi32(hi, 10));
}

// Sixteen int16 components to bytes: above 255 -> 255, negative -> 1.
inline __m128i fix16(__m128i lo, __m128i hi) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i neg = _mm_packs_epi16(_mm_cmplt_epi16(lo, zero), _mm_cmplt_epi16(hi, zero));
  return _mm_or_si128(_mm_packus_epi16(lo, hi), _mm_and_si128(neg, _mm_set1_epi8(1)));
}

// BGRX32 for pictures whose width is a multiple of 16, sixteen pixels of two rows at a time;
// the same arithmetic as the scalar conversion.
void convert_bgrx_sse2(const Picture& pic, uint8_t* out) {
  const int w = pic.width;
  const int h = pic.height;
  const uint8_t* yp = pic.data.data();
  const uint8_t* up = yp + w * h;
  const uint8_t* vp = up + (w / 2) * (h / 2);
  const __m128i zero = _mm_setzero_si128();
  const __m128i c128 = _mm_set1_epi16(128);
  for (int y = 0; y < h; y += 2) {
    const uint8_t* ur = up + (y / 2) * (w / 2);
    const uint8_t* vr = vp + (y / 2) * (w / 2);
    for (int x = 0; x < w; x += 16) {
      const __m128i u = _mm_sub_epi16(
          _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(ur + x / 2)), zero),
          c128);
      const __m128i v = _mm_sub_epi16(
          _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(vr + x / 2)), zero),
          c128);
      const __m128i dr = mul_shift10(v, 1436);
      const __m128i dg = green_shift10(u, v);
      const __m128i db = mul_shift10(u, 1815);
      const __m128i dr0 = _mm_unpacklo_epi16(dr, dr), dr1 = _mm_unpackhi_epi16(dr, dr);
      const __m128i dg0 = _mm_unpacklo_epi16(dg, dg), dg1 = _mm_unpackhi_epi16(dg, dg);
      const __m128i db0 = _mm_unpacklo_epi16(db, db), db1 = _mm_unpackhi_epi16(db, db);
      for (int k = 0; k < 2; ++k) {
        const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(yp + (y + k) * w + x));
        const __m128i l0 = _mm_unpacklo_epi8(l, zero), l1 = _mm_unpackhi_epi8(l, zero);
        const __m128i r8 = fix16(_mm_add_epi16(l0, dr0), _mm_add_epi16(l1, dr1));
        const __m128i g8 = fix16(_mm_add_epi16(l0, dg0), _mm_add_epi16(l1, dg1));
        const __m128i b8 = fix16(_mm_add_epi16(l0, db0), _mm_add_epi16(l1, db1));
        const __m128i bg0 = _mm_unpacklo_epi8(b8, g8), bg1 = _mm_unpackhi_epi8(b8, g8);
        const __m128i r00 = _mm_unpacklo_epi8(r8, zero), r01 = _mm_unpackhi_epi8(r8, zero);
        __m128i* o = reinterpret_cast<__m128i*>(out + (static_cast<size_t>(y + k) * w + x) * 4);
        _mm_storeu_si128(o + 0, _mm_unpacklo_epi16(bg0, r00));
        _mm_storeu_si128(o + 1, _mm_unpackhi_epi16(bg0, r00));
        _mm_storeu_si128(o + 2, _mm_unpacklo_epi16(bg1, r01));
        _mm_storeu_si128(o + 3, _mm_unpackhi_epi16(bg1, r01));
      }
    }
  }
}
#endif

inline void put16(uint8_t* p, unsigned v) {
  p[0] = static_cast<uint8_t>(v & 0xFF);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void write_output(const Picture& pic, void* dst, int type) {
  uint8_t* const out = static_cast<uint8_t*>(dst);
  const size_t w = static_cast<size_t>(pic.width);
  const int h = pic.height;
  auto rows = [out, w](size_t bpp) {
    return [out, w, bpp](int y) { return out + static_cast<size_t>(y) * w * bpp; };
  };
  auto bgr = [](uint8_t* p, int r, int g, int b) {
    p[0] = static_cast<uint8_t>(b);
    p[1] = static_cast<uint8_t>(g);
    p[2] = static_cast<uint8_t>(r);
  };
  switch (type) {
    case 1: convert<3>(pic, rows(3), bgr); break;
    case 2:
      convert<3>(
          pic, [out, w, h](int y) { return out + static_cast<size_t>(h - 1 - y) * w * 3; }, bgr);
      break;
    case 3:
#if defined(__SSE2__)
      if (pic.width % 16 == 0) {
        convert_bgrx_sse2(pic, out);
        break;
      }
#endif
      convert<4>(pic, rows(4), [](uint8_t* p, int r, int g, int b) {
        p[0] = static_cast<uint8_t>(b);
        p[1] = static_cast<uint8_t>(g);
        p[2] = static_cast<uint8_t>(r);
        p[3] = 0;
      });
      break;
    case 4:
      convert<2>(pic, rows(2), [](uint8_t* p, int r, int g, int b) {
        put16(p, static_cast<unsigned>(((b >> 3) << 11) | ((g >> 2) << 5) | (r >> 3)));
      });
      break;
    case 5:
      convert<2>(pic, rows(2), [](uint8_t* p, int r, int g, int b) {
        put16(p, static_cast<unsigned>(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3)));
      });
      break;
    case 6:
      convert<2>(pic, rows(2), [](uint8_t* p, int r, int g, int b) {
        put16(p, static_cast<unsigned>(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3)));
      });
      break;
    default: std::memcpy(out, pic.data.data(), pic.data.size()); break;
  }
}

}  // namespace

extern "C" int tir_init(int mode) {
  Module& m = module();
  std::lock_guard<std::mutex> hold(m.lock);
  m.decoder.mode = mode;
  m.decoder.width = 0;
  m.decoder.height = 0;
  m.decoder.extra_value = 0;
  m.quant_scale = 0;
  m.reader.reset();
  m.build_clip();
  return 0;
}

extern "C" int tir_get_info(const uint8_t* frame, unsigned length, TIR_FRAME_INFO* info) {
  Module& m = module();
  std::lock_guard<std::mutex> hold(m.lock);
  if (!info || parse_header(m, frame, length) != 0) return -1;
  info->format_code = static_cast<uint16_t>(m.decoder.format_code);
  info->width = static_cast<uint16_t>(m.decoder.width);
  info->height = static_cast<uint16_t>(m.decoder.height);
  info->extra_value = m.decoder.extra_value;
  return 0;
}

extern "C" int tir_decode(const uint8_t* frame, unsigned length, void* dst, int type) {
  Module& m = module();
  std::lock_guard<std::mutex> hold(m.lock);
  if (!dst || parse_header(m, frame, length) != 0) return -1;
  const TirDecoder& d = m.decoder;
  if (m.quant_scale == 0 || d.width == 0 || d.height == 0) return -2;
  Picture& pic = picture_for(m, dst, d.format_code, d.width, d.height);
  for (int s = 0; s < m.slice_count; ++s)
    if (decode_slice(m, pic, frame, m.slice_offsets[s]) != 0) return -2;
  write_output(pic, dst, (type >= 1 && type <= 6) ? type : 0);
  return 0;
}
