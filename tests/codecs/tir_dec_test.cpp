// tir_dec: frames from the test encoder decoded against a float reference of the coded
// coefficients, every output layout, per-stream pictures, header rules and broken slices.
#include "codecs/tir_dec/tir_dec.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <random>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "codecs/tir_dec/tir_vlc.h"
#include "tests/codecs/float_idct.h"
#include "peers/media/media_gen.h"
#include "peers/tirenc/tirenc.h"

namespace {

constexpr int W = 640;

using Plane = std::vector<uint8_t>;

std::vector<uint8_t> i420_of(const media_gen::Yuv420& p) {
  std::vector<uint8_t> v(p.y);
  v.insert(v.end(), p.u.begin(), p.u.end());
  v.insert(v.end(), p.v.begin(), p.v.end());
  return v;
}

std::vector<uint8_t> picture(int h, int channel, int index) {
  return i420_of(media_gen::synth_picture(W, h, channel, index));
}

// The test picture under strong noise: large AC coefficients in every block.
std::vector<uint8_t> noisy_picture(int h, unsigned seed) {
  std::vector<uint8_t> p = picture(h, 5, 1);
  std::mt19937 rng(seed);
  for (auto& v : p) v = static_cast<uint8_t>(std::clamp(int(v) + int(rng() % 161) - 80, 0, 255));
  return p;
}

std::vector<uint8_t> flat_picture(int h, int y, int u, int v) {
  std::vector<uint8_t> p(static_cast<size_t>(W * h * 3 / 2));
  std::fill(p.begin(), p.begin() + W * h, static_cast<uint8_t>(y));
  std::fill(p.begin() + W * h, p.begin() + W * h * 5 / 4, static_cast<uint8_t>(u));
  std::fill(p.begin() + W * h * 5 / 4, p.end(), static_cast<uint8_t>(v));
  return p;
}

// Float inverse DCT of the encoder's reconstructed coefficients, written into `pic` (I420).
void apply_reference(const std::vector<tirenc::CodedBlock>& blocks, int h,
                     std::vector<uint8_t>& pic) {
  for (const tirenc::CodedBlock& cb : blocks) {
    uint8_t* plane = pic.data();
    int stride = W;
    if (cb.plane > 0) {
      plane += W * h + (cb.plane - 1) * (W / 2) * (h / 2);
      stride = W / 2;
    }
    float_idct(cb.coef, plane + cb.y * stride + cb.x, stride);
  }
}

tirenc::Frame encode(const std::vector<uint8_t>& pic, int h, tirenc::Options o = {}) {
  tirenc::Frame f;
  const int r = tirenc::encode_frame(pic.data(), W, h, o, f);
  EXPECT_EQ(r, 0);
  return f;
}

// Decodes into `dst` from an exactly sized copy of the frame, so a read past it is caught.
int decode(const std::vector<uint8_t>& frame, std::vector<uint8_t>& dst, int type = 0) {
  std::unique_ptr<uint8_t[]> exact(new uint8_t[frame.size()]);
  std::memcpy(exact.get(), frame.data(), frame.size());
  return tir_decode(exact.get(), static_cast<unsigned>(frame.size()), dst.data(), type);
}

int max_diff(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  int m = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) m = std::max(m, std::abs(a[i] - b[i]));
  return a.size() == b.size() ? m : 1000;
}

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, size_t n) {
  double e = 0;
  for (size_t i = 0; i < n; ++i) e += double(a[i] - b[i]) * (a[i] - b[i]);
  return e == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * n / e);
}

// Expected RGB of one pixel, the decoder's integer formula.
std::array<int, 3> rgb(int y, int u, int v) {
  auto fix = [](int c) { return c > 255 ? 255 : (c < 0 ? 1 : c); };
  return {fix((1024 * y + 1436 * (v - 128)) >> 10),
          fix((1024 * y - 352 * (u - 128) - 731 * (v - 128)) >> 10),
          fix((1024 * y + 1815 * (u - 128)) >> 10)};
}

size_t output_size(int type, int h) {
  static const int half_bytes_per_pixel[] = {3, 6, 6, 8, 4, 4, 4};
  return static_cast<size_t>(W * h * half_bytes_per_pixel[type >= 1 && type <= 6 ? type : 0] / 2);
}

// Packs the expected output of `type` from an I420 picture.
std::vector<uint8_t> expected_output(const std::vector<uint8_t>& i420, int h, int type) {
  if (type < 1 || type > 6) return i420;
  std::vector<uint8_t> out(output_size(type, h));
  const uint8_t* U = i420.data() + W * h;
  const uint8_t* V = U + (W / 2) * (h / 2);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < W; ++x) {
      const int c = (y / 2) * (W / 2) + x / 2;
      const auto [r, g, b] = rgb(i420[static_cast<size_t>(y * W + x)], U[c], V[c]);
      const size_t px = static_cast<size_t>(y) * W + x;
      unsigned v16 = 0;
      switch (type) {
        case 1:
        case 2: {
          const size_t row = type == 1 ? static_cast<size_t>(y) : static_cast<size_t>(h - 1 - y);
          uint8_t* p = &out[(row * W + x) * 3];
          p[0] = static_cast<uint8_t>(b), p[1] = static_cast<uint8_t>(g),
          p[2] = static_cast<uint8_t>(r);
          continue;
        }
        case 3: {
          uint32_t word = (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) |
                          static_cast<uint32_t>(b);
          std::memcpy(&out[px * 4], &word, 4);  // a little-endian 0x00RRGGBB word
          continue;
        }
        case 4: v16 = ((b >> 3) << 11) | ((g >> 2) << 5) | (r >> 3); break;
        case 5: v16 = ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3); break;
        case 6: v16 = ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3); break;
      }
      const uint16_t word = static_cast<uint16_t>(v16);
      std::memcpy(&out[px * 2], &word, 2);
    }
  return out;
}

class TirDec : public ::testing::Test {
 protected:
  void SetUp() override { tir_init(0); }
  void TearDown() override { tir_init(0); }
};

TEST_F(TirDec, DecodedPictureWithinOneOfFloatReference) {
  struct Case {
    int h;
    bool all_blocks;
    int scale;
    bool noisy;
  };
  const Case cases[] = {{224, false, 2, false}, {224, true, 8, false},  {272, false, 14, false},
                        {272, true, 1, false},  {272, false, 5, false}, {224, false, 1, true},
                        {272, true, 3, true}};
  for (const Case& c : cases) {
    const std::vector<uint8_t> src =
        c.noisy ? noisy_picture(c.h, static_cast<unsigned>(c.scale)) : picture(c.h, 3, 7);
    tirenc::Options o;
    o.all_blocks = c.all_blocks;
    o.quant_scale = c.scale;
    const tirenc::Frame f = encode(src, c.h, o);
    std::vector<uint8_t> expect(src.size(), 0);
    apply_reference(f.blocks, c.h, expect);
    std::vector<uint8_t> out(src.size());
    ASSERT_EQ(decode(f.bytes, out), 0) << c.h << " scale " << c.scale;
    EXPECT_LE(max_diff(out, expect), 1) << c.h << " scale " << c.scale;
    // The pair of encoder and decoder is a codec at all: the picture survives.
    if (c.scale <= 5 && !c.noisy) { EXPECT_GT(psnr(out, src, static_cast<size_t>(W * c.h)), 30.0); }
    TIR_FRAME_INFO info{};
    ASSERT_EQ(tir_get_info(f.bytes.data(), static_cast<unsigned>(f.bytes.size()), &info), 0);
    EXPECT_EQ(info.width, W);
    EXPECT_EQ(info.height, c.h);
  }
}

TEST_F(TirDec, EveryOutputTypeMatchesTheDecodedPicture) {
  for (int h : {224, 272}) {
    const tirenc::Frame f = encode(picture(h, 1, 2), h);
    std::vector<uint8_t> i420(output_size(0, h));
    ASSERT_EQ(decode(f.bytes, i420), 0);
    for (int type : {0, 1, 2, 3, 4, 5, 6, 7, -1, 100}) {
      // One spare canary region past the layout's size must stay untouched.
      std::vector<uint8_t> out(output_size(type, h) + 64, 0xA5);
      ASSERT_EQ(decode(f.bytes, out, type), 0) << type;
      const std::vector<uint8_t> want = expected_output(i420, h, type);
      ASSERT_TRUE(std::equal(want.begin(), want.end(), out.begin()))
          << "type " << type << " h " << h;
      for (size_t i = want.size(); i < out.size(); ++i) ASSERT_EQ(out[i], 0xA5) << "type " << type;
    }
  }
}

TEST_F(TirDec, ColourHandVectors) {
  struct Case {
    int y, u, v;
    uint8_t b, g, r;
  };
  // Grey 16 stays 16; negative red (Y 1, V 1) becomes 1, not 0.
  const Case cases[] = {
      {16, 128, 128, 16, 16, 16}, {1, 128, 1, 1, 91, 1}, {235, 128, 128, 235, 235, 235}};
  for (const Case& c : cases) {
    const tirenc::Frame f = encode(flat_picture(224, c.y, c.u, c.v), 224);
    std::vector<uint8_t> out(output_size(3, 224));
    ASSERT_EQ(decode(f.bytes, out, 3), 0);
    EXPECT_EQ(out[0], c.b);
    EXPECT_EQ(out[1], c.g);
    EXPECT_EQ(out[2], c.r);
    EXPECT_EQ(out[3], 0);
  }
}

// Flags for a frame coding every other macroblock, some with only part of their luma.
std::vector<uint8_t> checker_flags(int h) {
  std::vector<uint8_t> flags(static_cast<size_t>((W / 16) * (h / 16)), 0);
  for (size_t i = 0; i < flags.size(); ++i)
    if (i % 2 == 0)
      flags[i] = tirenc::kCoded | static_cast<uint8_t>(i % 6 == 0 ? 0x5 : tirenc::kAllLuma);
  return flags;
}

TEST_F(TirDec, UncodedMacroblocksKeepThePreviousFrame) {
  const int h = 272;
  std::vector<uint8_t> out(output_size(0, h));
  const tirenc::Frame first = encode(picture(h, 0, 0), h);
  ASSERT_EQ(decode(first.bytes, out), 0);
  std::vector<uint8_t> expect(out.size(), 0);
  apply_reference(first.blocks, h, expect);

  const std::vector<uint8_t> flags = checker_flags(h);
  tirenc::Options o;
  o.mb_flags = flags.data();
  const tirenc::Frame second = encode(picture(h, 0, 40), h, o);
  ASSERT_EQ(decode(second.bytes, out), 0);
  apply_reference(second.blocks, h, expect);
  EXPECT_LE(max_diff(out, expect), 1);
}

TEST_F(TirDec, TwoStreamsNeverShowEachOthersMacroblocks) {
  const int h = 224;
  const std::vector<uint8_t> flags = checker_flags(h);
  const std::vector<uint8_t> a = picture(h, 0, 0), b = picture(h, 1, 9);
  tirenc::Options oa, ob;
  ob.format_code = 1;
  // One destination, two channels (format codes 0 and 1).
  std::vector<uint8_t> shared(output_size(0, h));
  std::vector<uint8_t> want_a(shared.size(), 0);
  const tirenc::Frame fa = encode(a, h, oa), fb = encode(b, h, ob);
  ASSERT_EQ(decode(fa.bytes, shared), 0);
  apply_reference(fa.blocks, h, want_a);
  ASSERT_EQ(decode(fb.bytes, shared), 0);
  oa.mb_flags = flags.data();
  const tirenc::Frame fa2 = encode(picture(h, 0, 30), h, oa);
  ASSERT_EQ(decode(fa2.bytes, shared), 0);
  apply_reference(fa2.blocks, h, want_a);
  EXPECT_LE(max_diff(shared, want_a), 1);

  // One channel into two destinations: the second starts black, not with the first's.
  std::vector<uint8_t> other(output_size(0, h));
  ASSERT_EQ(decode(fa2.bytes, other), 0);
  std::vector<uint8_t> want_other = flat_picture(h, 0, 128, 128);
  apply_reference(fa2.blocks, h, want_other);
  EXPECT_LE(max_diff(other, want_other), 1);
}

TEST_F(TirDec, SizeChangeStartsFromBlackNotTheOldLayout) {
  std::vector<uint8_t> out(output_size(0, 272));
  ASSERT_EQ(decode(encode(picture(272, 2, 0), 272).bytes, out), 0);
  const std::vector<uint8_t> flags = checker_flags(224);
  tirenc::Options o;
  o.mb_flags = flags.data();
  const tirenc::Frame small = encode(picture(224, 2, 5), 224, o);
  std::vector<uint8_t> out224(output_size(0, 224));
  // Same destination pointer, now a 224-line picture.
  ASSERT_EQ(
      tir_decode(small.bytes.data(), static_cast<unsigned>(small.bytes.size()), out.data(), 0), 0);
  std::memcpy(out224.data(), out.data(), out224.size());
  std::vector<uint8_t> want = flat_picture(224, 0, 128, 128);
  apply_reference(small.blocks, 224, want);
  EXPECT_LE(max_diff(out224, want), 1);
}

std::vector<uint8_t> header_with_slices(uint8_t header, int slices) {
  std::vector<uint8_t> f{0, 0, 1, 0xF8, header};
  for (int i = 0; i < slices; ++i) {
    const uint8_t s[] = {0, 0, 1, static_cast<uint8_t>(i << 3), 0x04};
    f.insert(f.end(), s, s + 5);
  }
  return f;
}

TEST_F(TirDec, HeaderRules) {
  struct Case {
    const char* what;
    int mode;
    std::vector<uint8_t> frame;
    int result;
    TIR_FRAME_INFO info;
  };
  std::vector<uint8_t> dialect2 = header_with_slices(0x20, 17);
  dialect2.insert(dialect2.begin() + 5, {0x12, 0x34});
  std::vector<uint8_t> f9 = header_with_slices(0x57, 14);
  f9[3] = 0xF9;
  std::vector<uint8_t> bad_start = header_with_slices(0x20, 14);
  bad_start[3] = 0xFA;
  const Case cases[] = {
      {"six bytes, no slices", 0, {0, 0, 1, 0xF8, 0x10, 0x00}, -1, {}},
      {"five bytes", 0, {0, 0, 1, 0xF8, 0x10}, -1, {}},
      {"wrong start code", 0, bad_start, -1, {}},
      {"15 slices", 0, header_with_slices(0x20, 15), -1, {}},
      {"13 slices", 0, header_with_slices(0x20, 13), -1, {}},
      {"21 slices", 0, header_with_slices(0x20, 21), -1, {}},
      {"14 slices", 0, header_with_slices(0x20, 14), 0, {0, 640, 224, 0}},
      {"17 slices", 0, header_with_slices(0x20, 17), 0, {0, 640, 272, 0}},
      {"0x6A: scale 13, format 2", 0, header_with_slices(0x6A, 14), 0, {2, 640, 224, 0}},
      {"bit 2 zeroes the format", 0, header_with_slices(0x6E, 14), 0, {0, 640, 224, 0}},
      {"0x7F: scale 15", 0, header_with_slices(0x7F, 14), -1, {}},
      {"dialect 1, F9", 1, f9, 0, {7, 640, 224, 0}},
      {"dialect 3, scale 15", 3, header_with_slices(0xF1, 14), -1, {}},
      {"dialect 2 extra value", 2, dialect2, 0, {0, 640, 272, 0x1234}},
      {"dialect 2 too short for its extra value", 2, {0, 0, 1, 0xF8, 0x20, 0x12}, -1, {}},
  };
  for (const Case& c : cases) {
    tir_init(c.mode);
    std::unique_ptr<uint8_t[]> exact(new uint8_t[c.frame.size()]);
    std::memcpy(exact.get(), c.frame.data(), c.frame.size());
    TIR_FRAME_INFO info{0xEEEE, 0xEEEE, 0xEEEE, 0xEEEE};
    ASSERT_EQ(tir_get_info(exact.get(), static_cast<unsigned>(c.frame.size()), &info), c.result)
        << c.what;
    if (c.result == 0) {
      EXPECT_EQ(info.format_code, c.info.format_code) << c.what;
      EXPECT_EQ(info.width, c.info.width) << c.what;
      EXPECT_EQ(info.height, c.info.height) << c.what;
      EXPECT_EQ(info.extra_value, c.info.extra_value) << c.what;
    }
  }
  tir_init(0);
  EXPECT_EQ(tir_get_info(nullptr, 100, nullptr), -1);
  std::vector<uint8_t> dst(16);
  EXPECT_EQ(tir_decode(nullptr, 100, dst.data(), 0), -1);
}

TEST_F(TirDec, FrameEndsAtTheNextFrameStartCode) {
  const tirenc::Frame f = encode(picture(224, 0, 1), 224);
  std::vector<uint8_t> two(f.bytes);
  two.insert(two.end(), f.bytes.begin(), f.bytes.end());  // another frame follows
  std::vector<uint8_t> a(output_size(0, 224)), b(a.size());
  ASSERT_EQ(decode(f.bytes, a), 0);
  ASSERT_EQ(decode(two, b), 0);
  EXPECT_EQ(a, b);
}

// A frame of 14 slices for 640x224 whose slice `bad_row` is replaced by `bad`; every other
// slice codes nothing.
std::vector<uint8_t> frame_with_slice(int bad_row,
                                      const std::function<void(tirenc::BitWriter&)>& bad,
                                      uint8_t header = 0x20) {
  tirenc::BitWriter bw;
  bw.put(0x000001F8, 32);
  bw.put(header, 8);
  for (int row = 0; row < 14; ++row) {
    bw.put(0x000001, 24);
    if (row == bad_row) {
      bad(bw);
    } else {
      bw.put(static_cast<uint32_t>(row), 5);
      bw.put(0, 6);
    }
    bw.align();
  }
  return bw.bytes();
}

// One macroblock (column increment `inc`, no luma) with plain DC-only chroma blocks.
void chroma_only_mb(tirenc::BitWriter& bw, int inc) {
  bw.put(static_cast<uint32_t>(inc), 6);
  bw.put(0, 4);
  for (int k = 0; k < 2; ++k) {
    bw.put(128, 8);
    bw.put_code(tir_vlc::kEndOfBlock);
  }
}

TEST_F(TirDec, SliceSyntaxAndBrokenSlices) {
  struct Case {
    const char* what;
    std::vector<uint8_t> frame;
    int result;
  };
  std::vector<Case> cases;
  cases.push_back({"row 14 of a 224-line frame",
                   frame_with_slice(3,
                                    [](tirenc::BitWriter& bw) {
                                      bw.put(14, 5);
                                      bw.put(0, 6);
                                    }),
                   -2});
  cases.push_back({"column reaches the row's end",
                   frame_with_slice(2,
                                    [](tirenc::BitWriter& bw) {
                                      bw.put(2, 5);
                                      chroma_only_mb(bw, 39);  // column 38
                                      chroma_only_mb(bw, 2);   // column 40: past the row
                                      bw.put(0, 6);
                                    }),
                   -2});
  cases.push_back({"the last column ends the slice",
                   frame_with_slice(4,
                                    [](tirenc::BitWriter& bw) {
                                      bw.put(4, 5);
                                      chroma_only_mb(bw,
                                                     40);  // column 39; what follows is not read
                                      bw.put(0x3F, 6);
                                    }),
                   0});
  cases.push_back({"column far past the row",
                   frame_with_slice(0,
                                    [](tirenc::BitWriter& bw) {
                                      bw.put(0, 5);
                                      chroma_only_mb(bw, 63);
                                      bw.put(0, 6);
                                    }),
                   -2});
  cases.push_back({"invalid code",
                   frame_with_slice(5,
                                    [](tirenc::BitWriter& bw) {
                                      bw.put(5, 5);
                                      bw.put(1, 6);
                                      bw.put(0, 4);
                                      bw.put(128, 8);
                                      bw.put(0x0008, 16);  // below 16: no code
                                      bw.put(0xFFFF, 16);
                                    }),
                   -2});
  cases.push_back({"position past 63",
                   frame_with_slice(1,
                                    [](tirenc::BitWriter& bw) {
                                      bw.put(1, 5);
                                      bw.put(1, 6);
                                      bw.put(0, 4);
                                      bw.put(128, 8);
                                      tirenc::put_run_level(bw, 40, 3);
                                      tirenc::put_run_level(bw, 30, 3);
                                      bw.put_code(tir_vlc::kEndOfBlock);
                                      bw.put(128, 8);
                                      bw.put_code(tir_vlc::kEndOfBlock);
                                      bw.put(0, 6);
                                    }),
                   -2});
  cases.push_back({"zero quantiser scale",
                   frame_with_slice(
                       -1, [](tirenc::BitWriter&) {}, 0x00),
                   -2});
  // A valid frame cut inside its last slice, and one cut inside a middle block's
  // coefficients (the rest of the frame dropped).
  const tirenc::Frame whole = encode(picture(224, 0, 3), 224);
  std::vector<uint8_t> cut(whole.bytes.begin(), whole.bytes.end() - 200);
  cases.push_back({"last slice cut short", cut, -2});
  std::vector<uint8_t> dropped(whole.bytes);
  dropped.erase(dropped.begin() + static_cast<long>(whole.slice_offsets[6]),
                dropped.begin() + static_cast<long>(whole.slice_offsets[7]));
  cases.push_back({"one slice missing", dropped, -1});

  for (const Case& c : cases) {
    std::vector<uint8_t> out(output_size(3, 224), 0x3C);
    EXPECT_EQ(decode(c.frame, out, 3), c.result) << c.what;
    if (c.result != 0) {
      for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], 0x3C) << c.what;
    }
  }
}

TEST_F(TirDec, ExtremeCoefficientsDecodeWithoutOverflow) {
  // Every coefficient of every block at the largest level and scale, under several sign
  // patterns; the undefined-behaviour sanitizer flags any overflowing intermediate.
  const std::function<int(int)> patterns[] = {[](int) { return 1; },
                                              [](int i) { return i % 2 ? -1 : 1; },
                                              [](int i) {
                                                const int k = tirenc::zigzag(i);
                                                return ((k / 8 + k % 8) % 2) ? -1 : 1;
                                              },
                                              [](int i) {
                                                const int k = tirenc::zigzag(i);
                                                return (k % 8 < 4) == (k / 8 < 4) ? 1 : -1;
                                              }};
  for (const auto& sign : patterns) {
    const std::vector<uint8_t> frame = frame_with_slice(
        0,
        [&](tirenc::BitWriter& bw) {
          bw.put(0, 5);
          bw.put(1, 6);
          bw.put(0xF, 4);
          for (int b = 0; b < 6; ++b) {
            bw.put(b % 2 ? 1 : 255, 8);
            for (int i = 1; i < 64; ++i)
              tirenc::put_run_level(bw, 0, 255 * sign(i) * (b < 3 ? 1 : -1));
            bw.put_code(tir_vlc::kEndOfBlock);
          }
          bw.put(0, 6);
        },
        0x70);
    std::vector<uint8_t> out(output_size(3, 224));
    EXPECT_EQ(decode(frame, out, 3), 0);
  }
}

TEST_F(TirDec, ConcurrentStreamsDecodeCorrectly) {
  // Each thread decodes its own channel into its own buffer; with the calls serialised
  // every result matches the single-threaded decode.
  const int h = 224;
  std::vector<tirenc::Frame> frames;
  std::vector<std::vector<uint8_t>> want;
  for (int t = 0; t < 4; ++t) {
    tirenc::Options o;
    o.format_code = t;
    frames.push_back(encode(picture(h, t, t), h, o));
    std::vector<uint8_t> w(output_size(3, h));
    EXPECT_EQ(decode(frames.back().bytes, w, 3), 0);
    want.push_back(w);
  }
  std::vector<std::thread> threads;
  std::atomic<int> bad{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      std::vector<uint8_t> out(output_size(3, h));
      for (int i = 0; i < 8; ++i) {
        if (tir_decode(frames[t].bytes.data(), static_cast<unsigned>(frames[t].bytes.size()),
                       out.data(), 3) != 0 ||
            out != want[t])
          ++bad;
        TIR_FRAME_INFO info;
        if (tir_get_info(frames[t].bytes.data(), static_cast<unsigned>(frames[t].bytes.size()),
                         &info) != 0 ||
            info.format_code != t)
          ++bad;
      }
    });
  for (auto& th : threads) th.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
