// tirenc: float forward DCT, quantisation with the default intra weights, and the framing of
// the 'S' DVRs' frames.
#include "peers/tirenc/tirenc.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <utility>

#include "codecs/tir_dec/tir_vlc.h"

namespace tirenc {

namespace {

constexpr int kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                             12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                             35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                             58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

constexpr int kIntraMatrix[64] = {8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37,
                                  19, 22, 26, 27, 29, 34, 34, 38, 22, 22, 26, 27, 29, 34, 37, 40,
                                  22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32, 35, 40, 48, 58,
                                  26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83};

const std::map<std::pair<int, int>, const char*>& code_map() {
  static const std::map<std::pair<int, int>, const char*> m = [] {
    std::map<std::pair<int, int>, const char*> r;
    for (const tir_vlc::Code& c : tir_vlc::kCodes) r[{c.run, c.level}] = c.bits;
    return r;
  }();
  return m;
}

// Codes one block's levels; returns the coefficients the decoder will reconstruct.
void code_block(BitWriter& bw, const uint8_t* src, int stride, int scale, CodedBlock& cb) {
  double f[64];
  forward_dct(src, stride, f);
  // DC 0 would add a run of zero bits that, with its neighbours, could imitate a start code.
  const int dc = std::clamp(static_cast<int>(std::lround(f[0] / 8.0)), 1, 255);
  bw.put(static_cast<uint32_t>(dc), 8);
  cb.coef[0] = dc * 8;
  int run = 0;
  for (int i = 1; i < 64; ++i) {
    const int k = kZigzag[i];
    const double q = f[k] * 4.0 / (kIntraMatrix[k] * scale);
    const int level = std::clamp(static_cast<int>(std::lround(q)), -255, 255);
    if (level == 0) {
      ++run;
      continue;
    }
    put_run_level(bw, run, level);
    cb.coef[k] = std::clamp((level * kIntraMatrix[k] * scale) >> 2, -2048, 2047);
    run = 0;
  }
  bw.put_code(tir_vlc::kEndOfBlock);
}

// Scans like the decoder's header parse: slice starts, and whether a frame start code shows up.
bool framing_matches(const std::vector<uint8_t>& b, const std::vector<size_t>& slices) {
  uint32_t reg = 0xFFFFFFFFu;
  std::vector<size_t> found;
  for (size_t i = 5; i < b.size(); ++i) {
    reg = (reg << 8) | b[i];
    if (reg == 0x000001F8u || reg == 0x000001F9u || reg == 0x000001FAu) return false;
    if ((reg >> 8) == 0x000001u) found.push_back(i - 3);
  }
  return found == slices;
}

}  // namespace

void BitWriter::put(uint32_t value, int nbits) {
  for (int i = nbits - 1; i >= 0; --i) {
    if (free_ == 0) {
      bytes_.push_back(0);
      free_ = 8;
    }
    --free_;
    if ((value >> i) & 1u) bytes_.back() = static_cast<uint8_t>(bytes_.back() | (1u << free_));
  }
}

void BitWriter::put_code(const std::string& bits) {
  for (char c : bits) put(c == '1' ? 1u : 0u, 1);
}

void BitWriter::align() { free_ = 0; }

int zigzag(int i) { return kZigzag[i]; }
int intra_weight(int k) { return kIntraMatrix[k]; }

const std::array<std::array<double, 8>, 8>& dct_basis() {
  static const auto basis = [] {
    std::array<std::array<double, 8>, 8> b{};
    const double pi = std::acos(-1.0);
    for (int u = 0; u < 8; ++u)
      for (int x = 0; x < 8; ++x)
        b[u][x] = 0.5 * (u ? 1.0 : std::sqrt(0.5)) * std::cos((2 * x + 1) * u * pi / 16);
    return b;
  }();
  return basis;
}

void forward_dct(const uint8_t* src, int stride, double out[64]) {
  // F = basis * f * basis^T.
  const auto& basis = dct_basis();
  double tmp[64];
  for (int y = 0; y < 8; ++y)
    for (int u = 0; u < 8; ++u) {
      double s = 0;
      for (int x = 0; x < 8; ++x) s += basis[u][x] * src[y * stride + x];
      tmp[y * 8 + u] = s;
    }
  for (int v = 0; v < 8; ++v)
    for (int u = 0; u < 8; ++u) {
      double s = 0;
      for (int y = 0; y < 8; ++y) s += basis[v][y] * tmp[y * 8 + u];
      out[v * 8 + u] = s;
    }
}

void put_run_level(BitWriter& bw, int run, int level) {
  const int mag = level < 0 ? -level : level;
  const auto it = code_map().find({run, mag});
  if (it != code_map().end()) {
    bw.put_code(it->second);
    bw.put(level < 0 ? 1u : 0u, 1);
    return;
  }
  bw.put_code(tir_vlc::kEscape);
  bw.put(static_cast<uint32_t>(run), 6);
  if (level >= 1 && level <= 127) {
    bw.put(static_cast<uint32_t>(level), 8);
  } else if (level >= 128) {
    bw.put(0, 8);
    bw.put(static_cast<uint32_t>(level), 8);
  } else if (level >= -127) {
    bw.put(static_cast<uint32_t>(level + 256), 8);
  } else {
    bw.put(128, 8);
    bw.put(static_cast<uint32_t>(level + 256), 8);
  }
}

int encode_frame(const uint8_t* i420, int width, int height, const Options& o, Frame& out) {
  out = Frame();
  if (!i420 || width != 640 || (height != 224 && height != 272)) return -1;
  if (o.quant_scale < 1 || o.quant_scale > 14) return -1;
  const bool long_format = o.mode == 1 || o.mode == 3 || o.mode == 4;
  if (o.mode == 0 && (o.format_code < 0 || o.format_code > 3)) return -1;
  if (long_format && (o.format_code < 0 || o.format_code > 15)) return -1;

  BitWriter bw;
  bw.put(0x000001, 24);
  uint8_t header;
  if (long_format) {
    bw.put(o.all_blocks ? 0xF9 : 0xF8, 8);
    header = static_cast<uint8_t>(o.format_code | (o.quant_scale << 4));
  } else {
    bw.put(0xF8, 8);
    header = static_cast<uint8_t>((o.mode == 0 ? o.format_code : 0) | (o.quant_scale << 3) |
                                  (o.all_blocks ? 0x80 : 0));
  }
  bw.put(header, 8);
  if (o.mode != 0 && !long_format) bw.put(o.extra_value, 16);

  const int mb_cols = width / 16;
  const int mb_rows = height / 16;
  const uint8_t* yp = i420;
  const uint8_t* up = yp + width * height;
  const uint8_t* vp = up + (width / 2) * (height / 2);
  const int cw = width / 2;
  for (int row = 0; row < mb_rows; ++row) {
    out.slice_offsets.push_back(bw.bytes().size());
    bw.put(0x000001, 24);
    bw.put(static_cast<uint32_t>(row), 5);
    int prev = -1;
    for (int col = 0; col < mb_cols; ++col) {
      int cbp = kAllLuma;
      if (!o.all_blocks) {
        const uint8_t flags = o.mb_flags ? o.mb_flags[row * mb_cols + col] : (kCoded | kAllLuma);
        if (!(flags & kCoded)) continue;
        cbp = flags & kAllLuma;
        bw.put(static_cast<uint32_t>(col - prev), 6);
        bw.put(static_cast<uint32_t>(cbp), 4);
        prev = col;
      }
      for (int k = 0; k < 4; ++k) {
        if (!(cbp & (1 << k))) continue;
        CodedBlock cb;
        cb.plane = 0;
        cb.x = 16 * col + 8 * (k & 1);
        cb.y = 16 * row + 8 * (k >> 1);
        code_block(bw, yp + cb.y * width + cb.x, width, o.quant_scale, cb);
        out.blocks.push_back(cb);
      }
      for (int plane = 1; plane <= 2; ++plane) {
        CodedBlock cb;
        cb.plane = plane;
        cb.x = 8 * col;
        cb.y = 8 * row;
        code_block(bw, (plane == 1 ? up : vp) + cb.y * cw + cb.x, cw, o.quant_scale, cb);
        out.blocks.push_back(cb);
      }
    }
    if (!o.all_blocks) bw.put(0, 6);
    bw.align();
  }
  out.bytes = std::move(bw.bytes());
  if (!framing_matches(out.bytes, out.slice_offsets)) return -2;
  return 0;
}

}  // namespace tirenc
