// The coefficient code table shared by tir_dec and its test encoder, checked against an
// outside coder: MPEG-1 intra pictures from libavcodec's encoder use the same table (and the
// same escape form), so a small MPEG-1 intra parser built on our table must reproduce what
// libavcodec's own decoder shows. A wrong run or level anywhere in the table breaks that.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include "codecs/tir_dec/tir_vlc.h"
#include "peers/media/media_gen.h"
#include "tests/codecs/float_idct.h"

namespace {

constexpr int kW = 320, kH = 240;

class Bits {
 public:
  Bits(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  uint32_t peek(int k) const {
    uint32_t v = 0;
    for (int i = 0; i < k; ++i) {
      const size_t bit = pos_ + static_cast<size_t>(i);
      v = (v << 1) | (bit / 8 < n_ ? (p_[bit / 8] >> (7 - bit % 8)) & 1u : 0u);
    }
    return v;
  }
  uint32_t get(int k) {
    const uint32_t v = peek(k);
    pos_ += static_cast<size_t>(k);
    return v;
  }
  // Reads one code of `codes` (a string -> value map); -1 when none matches.
  int code(const std::map<std::string, int>& codes) {
    std::string s;
    for (int i = 0; i < 17; ++i) {
      s += peek(i + 1) & 1u ? '1' : '0';
      const auto it = codes.find(s);
      if (it != codes.end()) {
        pos_ += s.size();
        return it->second;
      }
    }
    return -1;
  }
  size_t pos() const { return pos_; }
  void seek(size_t bit) { pos_ = bit; }

 private:
  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
};

const std::map<std::string, int> kAddressIncrement = {{"1", 1},
                                                      {"011", 2},
                                                      {"010", 3},
                                                      {"0011", 4},
                                                      {"0010", 5},
                                                      {"00011", 6},
                                                      {"00010", 7},
                                                      {"0000111", 8},
                                                      {"0000110", 9},
                                                      {"00001011", 10},
                                                      {"00001010", 11},
                                                      {"00001001", 12},
                                                      {"00001000", 13},
                                                      {"00000111", 14},
                                                      {"00000110", 15},
                                                      {"0000010111", 16},
                                                      {"0000010110", 17},
                                                      {"0000010101", 18},
                                                      {"0000010100", 19},
                                                      {"0000010011", 20},
                                                      {"0000010010", 21},
                                                      {"00000100011", 22},
                                                      {"00000100010", 23},
                                                      {"00000100001", 24},
                                                      {"00000100000", 25},
                                                      {"00000011111", 26},
                                                      {"00000011110", 27},
                                                      {"00000011101", 28},
                                                      {"00000011100", 29},
                                                      {"00000011011", 30},
                                                      {"00000011010", 31},
                                                      {"00000011001", 32},
                                                      {"00000011000", 33},
                                                      {"00000001111", 0 /* stuffing */},
                                                      {"00000001000", 34 /* escape: +33 */}};
const std::map<std::string, int> kDcSizeLuma = {{"100", 0},   {"00", 1},     {"01", 2},
                                                {"101", 3},   {"110", 4},    {"1110", 5},
                                                {"11110", 6}, {"111110", 7}, {"1111110", 8}};
const std::map<std::string, int> kDcSizeChroma = {{"00", 0},     {"01", 1},      {"10", 2},
                                                  {"110", 3},    {"1110", 4},    {"11110", 5},
                                                  {"111110", 6}, {"1111110", 7}, {"11111110", 8}};

constexpr int kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                             12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                             35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                             58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
constexpr int kIntra[64] = {8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37,
                            19, 22, 26, 27, 29, 34, 34, 38, 22, 22, 26, 27, 29, 34, 37, 40,
                            22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32, 35, 40, 48, 58,
                            26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83};

// Parses one MPEG-1 intra picture (default matrix, one picture) into I420 with our AC table.
// Returns an empty vector on any syntax error; `used` collects the table entries seen.
std::vector<uint8_t> parse_mpeg1_intra(const std::vector<uint8_t>& es, std::set<int>& used) {
  std::map<std::string, int> ac;  // code (with no sign) -> index into kCodes; -2 EOB, -3 escape
  for (int i = 0; i < tir_vlc::kCodeCount; ++i) ac[tir_vlc::kCodes[i].bits] = i;
  ac[tir_vlc::kEndOfBlock] = -2;
  ac[tir_vlc::kEscape] = -3;

  std::vector<uint8_t> pic(kW * kH * 3 / 2, 0);
  const int mbw = kW / 16;
  int quant = 0;
  bool in_picture = false;
  for (size_t i = 0; i + 4 <= es.size(); ++i) {
    if (es[i] != 0 || es[i + 1] != 0 || es[i + 2] != 1) continue;
    const int code = es[i + 3];
    Bits br(es.data(), es.size());
    br.seek((i + 4) * 8);
    if (code == 0xB3) {
      br.get(12 + 12 + 4 + 4 + 18 + 1 + 10 + 1);
      if (br.get(1) || br.get(1)) return {};  // custom matrices are not expected
    } else if (code == 0x00) {
      br.get(10);
      if (br.get(3) != 1) return {};
      in_picture = true;
    } else if (code >= 0x01 && code <= 0xAF && in_picture) {
      quant = static_cast<int>(br.get(5));
      while (br.get(1)) br.get(8);  // extra information
      int addr = (code - 1) * mbw - 1;
      int dc_past[3] = {1024, 1024, 1024};
      while (br.peek(23) != 0) {
        int inc = 0;
        for (;;) {
          const int c = br.code(kAddressIncrement);
          if (c < 0) return {};
          if (c == 0) continue;
          if (c == 34) {
            inc += 33;
            continue;
          }
          inc += c;
          break;
        }
        addr += inc;
        if (br.get(1) == 0) {  // "01": intra with a new quantiser
          if (br.get(1) != 1) return {};
          quant = static_cast<int>(br.get(5));
        }
        const int mx = addr % mbw, my = addr / mbw;
        if (my >= kH / 16) return {};
        for (int b = 0; b < 6; ++b) {
          const int comp = b < 4 ? 0 : b - 3;
          const int size = br.code(comp == 0 ? kDcSizeLuma : kDcSizeChroma);
          if (size < 0) return {};
          int diff = 0;
          if (size > 0) {
            diff = static_cast<int>(br.get(size));
            if (!(diff >> (size - 1))) diff -= (1 << size) - 1;
          }
          int coef[64] = {};
          dc_past[comp] += diff * 8;
          coef[0] = dc_past[comp];
          int pos = 1;
          for (;;) {
            const int idx = br.code(ac);
            if (idx == -1) return {};
            if (idx == -2) break;
            int run, level;
            if (idx == -3) {
              run = static_cast<int>(br.get(6));
              const int lv = static_cast<int>(br.get(8));
              level = lv == 0     ? static_cast<int>(br.get(8))
                      : lv == 128 ? static_cast<int>(br.get(8)) - 256
                      : lv > 128  ? lv - 256
                                  : lv;
            } else {
              used.insert(idx);
              run = tir_vlc::kCodes[idx].run;
              level = tir_vlc::kCodes[idx].level;
              if (br.get(1)) level = -level;
            }
            pos += run;
            if (pos > 63) return {};
            const int k = kZigzag[pos++];
            int v = (2 * level * quant * kIntra[k]) / 16;
            if ((v & 1) == 0 && v != 0) v -= v > 0 ? 1 : -1;  // MPEG-1 mismatch control
            coef[k] = std::clamp(v, -2048, 2047);
          }
          uint8_t* dst;
          int stride;
          if (comp == 0) {
            stride = kW;
            dst = pic.data() + (my * 16 + 8 * (b >> 1)) * kW + mx * 16 + 8 * (b & 1);
          } else {
            stride = kW / 2;
            dst =
                pic.data() + kW * kH + (comp - 1) * (kW / 2) * (kH / 2) + my * 8 * stride + mx * 8;
          }
          float_idct(coef, dst, stride);
        }
      }
    }
  }
  return in_picture ? pic : std::vector<uint8_t>{};
}

struct Mpeg1Frame {
  std::vector<uint8_t> es;
  std::vector<uint8_t> decoded;  // libavcodec's own decode, I420
};

Mpeg1Frame mpeg1_intra(const media_gen::Yuv420& src, int qscale) {
  Mpeg1Frame out;
  const AVCodec* enc = avcodec_find_encoder(AV_CODEC_ID_MPEG1VIDEO);
  const AVCodec* dec = avcodec_find_decoder(AV_CODEC_ID_MPEG1VIDEO);
  if (!enc || !dec) return out;
  AVCodecContext* e = avcodec_alloc_context3(enc);
  e->width = kW;
  e->height = kH;
  e->pix_fmt = AV_PIX_FMT_YUV420P;
  e->time_base = AVRational{1, 25};
  e->gop_size = 0;
  e->flags |= AV_CODEC_FLAG_QSCALE;
  AVFrame* f = av_frame_alloc();
  AVPacket* pkt = av_packet_alloc();
  if (avcodec_open2(e, enc, nullptr) == 0) {
    f->format = AV_PIX_FMT_YUV420P;
    f->width = kW;
    f->height = kH;
    av_frame_get_buffer(f, 0);
    for (int y = 0; y < kH; ++y) std::memcpy(f->data[0] + y * f->linesize[0], &src.y[y * kW], kW);
    for (int y = 0; y < kH / 2; ++y) {
      std::memcpy(f->data[1] + y * f->linesize[1], &src.u[y * kW / 2], kW / 2);
      std::memcpy(f->data[2] + y * f->linesize[2], &src.v[y * kW / 2], kW / 2);
    }
    f->quality = FF_QP2LAMBDA * qscale;
    f->pts = 0;
    avcodec_send_frame(e, f);
    avcodec_send_frame(e, nullptr);
    if (avcodec_receive_packet(e, pkt) == 0) out.es.assign(pkt->data, pkt->data + pkt->size);
    av_packet_unref(pkt);
  }
  avcodec_free_context(&e);

  AVCodecContext* d = avcodec_alloc_context3(dec);
  d->idct_algo = FF_IDCT_SIMPLE;
  if (!out.es.empty() && avcodec_open2(d, dec, nullptr) == 0) {
    av_new_packet(pkt, static_cast<int>(out.es.size()));
    std::memcpy(pkt->data, out.es.data(), out.es.size());
    avcodec_send_packet(d, pkt);
    avcodec_send_packet(d, nullptr);
    av_frame_unref(f);
    if (avcodec_receive_frame(d, f) == 0) {
      out.decoded.resize(kW * kH * 3 / 2);
      for (int y = 0; y < kH; ++y)
        std::memcpy(&out.decoded[y * kW], f->data[0] + y * f->linesize[0], kW);
      for (int y = 0; y < kH / 2; ++y) {
        std::memcpy(&out.decoded[kW * kH + y * kW / 2], f->data[1] + y * f->linesize[1], kW / 2);
        std::memcpy(&out.decoded[kW * kH * 5 / 4 + y * kW / 2], f->data[2] + y * f->linesize[2],
                    kW / 2);
      }
    }
  }
  av_packet_free(&pkt);
  av_frame_free(&f);
  avcodec_free_context(&d);
  return out;
}

TEST(TirVlcTable, IsACompletePrefixCode) {
  // Every code (run/level ones with their sign bit) is a prefix of no other, and together
  // they cover every bit pattern except the 12 leading zeros that no code starts with.
  std::vector<std::string> all = {tir_vlc::kEndOfBlock, tir_vlc::kEscape};
  double sum = std::ldexp(1.0, -2) + std::ldexp(1.0, -6) + std::ldexp(1.0, -12);
  std::set<std::pair<int, int>> pairs;
  for (const tir_vlc::Code& c : tir_vlc::kCodes) {
    all.push_back(c.bits);
    sum += std::ldexp(1.0, -static_cast<int>(std::strlen(c.bits)));
    EXPECT_TRUE(pairs.insert({c.run, c.level}).second) << c.bits;
  }
  EXPECT_DOUBLE_EQ(sum, 1.0);
  for (const std::string& a : all)
    for (const std::string& b : all)
      if (a != b) { EXPECT_NE(b.rfind(a, 0), 0u) << a << " is a prefix of " << b; }
}

TEST(TirVlcTable, ReadsLibavcodecMpeg1IntraPicturesLikeLibavcodec) {
  av_log_set_level(AV_LOG_ERROR);
  std::set<int> used;
  std::mt19937 rng(5);
  int pictures = 0;
  for (int qscale : {1, 2, 3, 5, 8}) {
    for (int noise : {0, 6, 30, 90}) {
      media_gen::Yuv420 src = media_gen::synth_picture(kW, kH, qscale % 10, noise);
      for (auto* plane : {&src.y, &src.u, &src.v})
        for (auto& v : *plane)
          v = static_cast<uint8_t>(
              std::clamp(int(v) + (noise ? int(rng() % (2 * noise + 1)) - noise : 0), 0, 255));
      const Mpeg1Frame m = mpeg1_intra(src, qscale);
      ASSERT_FALSE(m.es.empty());
      ASSERT_FALSE(m.decoded.empty());
      const std::vector<uint8_t> ours = parse_mpeg1_intra(m.es, used);
      ASSERT_EQ(ours.size(), m.decoded.size()) << "qscale " << qscale << " noise " << noise;
      // Different inverse DCTs: a sample or two apart at most, never more.
      int worst = 0;
      double total = 0;
      for (size_t i = 0; i < ours.size(); ++i) {
        const int d = std::abs(ours[i] - m.decoded[i]);
        worst = std::max(worst, d);
        total += d;
      }
      EXPECT_LE(worst, 3) << "qscale " << qscale << " noise " << noise;
      EXPECT_LT(total / static_cast<double>(ours.size()), 0.2)
          << "qscale " << qscale << " noise " << noise;
      ++pictures;
    }
  }
  // The pictures exercise most of the table, so a wrong entry would have been read.
  EXPECT_GE(static_cast<int>(used.size()), tir_vlc::kCodeCount * 8 / 10)
      << used.size() << " of " << tir_vlc::kCodeCount << " codes seen in " << pictures
      << " pictures";
}

}  // namespace
