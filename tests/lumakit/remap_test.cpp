// Remap and histograms of Y, U and V over whole frames and clipped rectangles, mapping tables
// against a reference of each mode, and the value stack.
#include <cmath>
#include <functional>
#include <tuple>

#include "tests/lumakit/frames.h"

using namespace lk;

namespace {

// The samples of component comp (0 Y, 1 U, 2 V) of the whole frame, or of a rectangle clipped
// to it, listed from the layout table.
std::vector<uint8_t*> samples(Frame& F, int comp, const int* rect = nullptr) {
  std::vector<uint8_t*> out;
  const long w = F.w, h = F.h;
  if (!rect) {
    if (comp == 0) {
      for (long y = 0; y < h; ++y)
        for (long x = 0; x < w; ++x) out.push_back(&F.Y(x, y));
    } else if (packed(F.f)) {
      for (long k = 0; k < w * h / 2; ++k)
        out.push_back(&F.at(4 * k + (comp == 1 ? u_byte(F.f) : v_byte(F.f))));
    } else {
      const long base = &(comp == 1 ? F.U(0, 0) : F.V(0, 0)) - F.data();
      for (long i = 0; i < w * h / 4; ++i) out.push_back(&F.at(base + i));
    }
    return out;
  }
  const long x = rect[0], y = rect[1], rw = rect[2], rh = rect[3];
  if (comp == 0) {
    for (long r = y; r < y + rh; ++r)
      for (long c = x; c < x + rw; ++c)
        if (r >= 0 && r < h && c >= 0 && c < w) out.push_back(&F.Y(c, r));
  } else if (packed(F.f)) {
    for (long r = y; r < y + rh; ++r)
      for (long g = 0; g < rw / 2; ++g)
        if (r >= 0 && r < h && x + 2 * g >= 0 && x + 2 * g + 1 < w)
          out.push_back(&F.G(x + 2 * g, r, comp == 1 ? u_byte(F.f) : v_byte(F.f)));
  } else {
    for (long r = y / 2; r < y / 2 + rh / 2; ++r)
      for (long c = x / 2; c < x / 2 + rw / 2; ++c)
        if (r >= 0 && r < h / 2 && c >= 0 && c < w / 2)
          out.push_back(comp == 1 ? &F.U(c, r) : &F.V(c, r));
  }
  return out;
}

using Remap = int (*)(unsigned char*, int, int, int, const unsigned char*);
using RemapRegion = int (*)(unsigned char*, int, int, int, int, int, int, int,
                            const unsigned char*);
using Hist = int (*)(const unsigned char*, int, int, int, int*);
using HistRegion = int (*)(const unsigned char*, int, int, int, int, int, int, int, int*);
const Remap kRemap[3] = {yuv_remap_y, yuv_remap_u, yuv_remap_v};
const RemapRegion kRemapRegion[3] = {yuv_remap_region_y, yuv_remap_region_u, yuv_remap_region_v};
const Hist kHist[3] = {yuv_histogram_y, yuv_histogram_u, yuv_histogram_v};
const HistRegion kHistRegion[3] = {yuv_histogram_region_y, yuv_histogram_region_u,
                                   yuv_histogram_region_v};

}  // namespace

TEST(LumakitRemap, RemapsAndHistogramsMatchReference) {
  each_frame(
      [](int f, int w, int h, uint32_t seed) {
        std::mt19937 rng(seed);
        uint8_t table[256];
        for (uint8_t& t : table) t = uint8_t(rng());
        for (int comp = 0; comp < 3; ++comp)
          for (int i = 0; i < 6; ++i) {
            // Whole frame first, then rectangles reaching past every edge.
            int rect[4] = {int(rng() % (w + 6)) - 3, int(rng() % (h + 6)) - 3,
                           int(rng() % (w + 4)) - 1, int(rng() % (h + 4)) - 1};
            const int* r = i ? rect : nullptr;
            SCOPED_TRACE(::testing::Message()
                         << "comp " << comp << " rect " << (i ? rect[0] : -99) << "," << rect[1]
                         << " " << rect[2] << "x" << rect[3]);
            Frame got(f, w, h, seed + i), want = got;
            int bins[256], want_bins[256] = {};
            std::fill(bins, bins + 256, 7);
            const int rc = r ? kHistRegion[comp](got.data(), r[0], r[1], r[2], r[3], w, h, f, bins)
                             : kHist[comp](got.data(), w, h, f, bins);
            ASSERT_EQ(rc, 0);
            if (f <= 4)
              for (uint8_t* s : samples(want, comp, r)) ++want_bins[*s];
            ASSERT_TRUE(std::equal(bins, bins + 256, want_bins));
            ASSERT_EQ(r ? kRemapRegion[comp](got.data(), r[0], r[1], r[2], r[3], w, h, f, table)
                        : kRemap[comp](got.data(), w, h, f, table),
                      0);
            if (f <= 4)
              for (uint8_t* s : samples(want, comp, r)) *s = table[*s];
            ASSERT_TRUE(same(got, want));
          }
      },
      true);
}

TEST(LumakitRemap, LayoutOffsetsOfSmallFrames) {
  // 4x2 planar: Y at 0..7, chroma planes of 2 bytes at 8 and 10; YV12 keeps V first.
  for (int f : {0, 1}) {
    Frame F(f, 4, 2);
    for (int i = 0; i < 12; ++i) F.at(i) = uint8_t(i);
    int bins[256];
    ASSERT_EQ(yuv_histogram_u(F.data(), 4, 2, f, bins), 0);
    const int first = f == 0 ? 10 : 8;
    EXPECT_EQ(bins[first], 1);
    EXPECT_EQ(bins[first + 1], 1);
    EXPECT_EQ(std::count(bins, bins + 256, 0), 254);
  }
  // U rectangle (2, 4, 4, 4) of a planar 8x8 frame: chroma rows 2-3, columns 1-2.
  Frame got(1, 8, 8), want = got;
  uint8_t inv[256];
  for (int v = 0; v < 256; ++v) inv[v] = uint8_t(255 - v);
  ASSERT_EQ(yuv_remap_region_u(got.data(), 2, 4, 4, 4, 8, 8, 1, inv), 0);
  for (int r = 2; r <= 3; ++r)
    for (int c = 1; c <= 2; ++c) want.U(c, r) = uint8_t(255 - want.U(c, r));
  EXPECT_TRUE(same(got, want));
}

namespace {

int ref_build_map(const int* H, uint8_t* t, int mode, int param) {
  long total = 0;
  for (int v = 0; v < 256; ++v) total += H[v];
  if (mode == 0) {
    if (param < 0 || param > 100 || total == 0) return -1;
    long cum = 0;
    for (int v = 0; v < 256; ++v) {
      cum += H[v];
      t[v] = uint8_t(cum * 255 / total);
      if (param < 100) t[v] = uint8_t(v + param * (t[v] - v) / 100);
    }
  } else if (mode == 1) {
    long SU = 0, SL = 0;
    for (int v = 129; v < 256; ++v) SU += H[v];
    for (int v = 0; v < 128; ++v) SL += H[v];
    if (SU == 0 || SL == 0) return -1;
    t[128] = 128;
    for (int v = 129; v < 256; ++v) {
      long cum = 0;
      for (int u = 129; u <= v; ++u) cum += H[u];
      t[v] = uint8_t(cum * 128 / SU + 127);
    }
    for (int v = 127; v >= 0; --v) {
      long cum = 0;
      for (int u = v; u <= 127; ++u) cum += H[u];
      t[v] = uint8_t(128 - cum * 128 / SL);
    }
  } else if (mode == 2) {
    if (param < -255 || param > 255) return -1;
    const double k = param / 255.0;
    for (int v = 0; v < 256; ++v)
      t[v] = uint8_t(param <= 0 ? v * (1 + k) : (k + (v / 255.0) * (1 - k)) * 255);
  } else if (mode >= 3 && mode <= 5) {
    if (param < 0 || param > 100) return -1;
    const long P = param * total / 100;
    int lo = 0, hi = 255;
    if (P > 0) {
      long sum = 0;
      while (sum < P) sum += H[lo++];
      sum = 0;
      int n = 0;
      while (sum < P) sum += H[255 - n++];
      hi = 255 - n;
    }
    if (lo >= hi || (lo == 0 && hi == 255)) return -1;
    const long R = hi - lo + 1;
    std::fill(t, t + 256, 0);
    for (long k = 0; k < 256; ++k) {
      const long p = mode == 3   ? lo + k * R / 255
                     : mode == 4 ? lo + k * k * R / 65025
                                 : lo + long(std::sqrt(double(k)) * R / std::sqrt(255.0));
      t[p % 256] = uint8_t(k);
    }
    if (mode == 3) {
      for (int v = 0; v < lo; ++v) t[v] = t[lo];
      for (int v = hi + 1; v < 256 && hi < 255; ++v) t[v] = t[hi];
    } else {
      for (int v = 1; v < 256; ++v)
        if (t[v] == 0 && t[v - 1] != 0) t[v] = t[v - 1];
    }
  }
  return 0;
}

}  // namespace

TEST(LumakitRemap, BuildMapMatchesReference) {
  std::mt19937 rng(5);
  for (int round = 0; round < 300; ++round) {
    int H[256];
    const int spread = int(rng() % 4);  // narrow histograms make lo > hi
    for (int v = 0; v < 256; ++v)
      H[v] = spread == 0 ? (std::abs(v - 90) < 3 ? int(rng() % 9) : 0) : int(rng() % 40);
    const int mode = int(rng() % 7);
    const int param = mode == 2 ? int(rng() % 531) - 265 : int(rng() % 111) - 5;
    uint8_t got[256], want[256];
    std::fill(got, got + 256, 0x5A);
    std::fill(want, want + 256, 0x5A);
    SCOPED_TRACE(::testing::Message()
                 << "mode " << mode << " param " << param << " spread " << spread);
    ASSERT_EQ(yuv_build_map(H, got, mode, param), ref_build_map(H, want, mode, param));
    ASSERT_TRUE(std::equal(got, got + 256, want));
  }
}

TEST(LumakitRemap, BuildMapFixedCasesAndRefusals) {
  int even100[256], even1[256], empty[256] = {}, upper_only[256] = {};
  std::fill(even100, even100 + 256, 100);
  std::fill(even1, even1 + 256, 1);
  upper_only[200] = 5;
  uint8_t t[256];
  ASSERT_EQ(yuv_build_map(even100, t, 0, 0), 0);
  for (int v = 0; v < 256; ++v) EXPECT_EQ(t[v], v);
  // Percentiles at 10 percent: lo 26, hi 229 with 100 counts per bin; 25 and 230 with one.
  // k = 1 lands on lo and k = 254 on hi; below lo and above hi repeat the ends.
  for (const auto& [hist, lo, hi] : {std::tuple{even100, 26, 229}, std::tuple{even1, 25, 230}}) {
    ASSERT_EQ(yuv_build_map(hist, t, 3, 10), 0);
    EXPECT_EQ(t[lo - 1], 1);
    EXPECT_EQ(t[lo], 1);
    EXPECT_EQ(t[lo + 1], 2);
    EXPECT_EQ(t[hi - 1], 253);
    EXPECT_EQ(t[hi], 254);
    EXPECT_EQ(t[255], 254);
  }
  // Refused calls leave the table as it was.
  int negative[256];
  std::copy(even1, even1 + 256, negative);
  negative[3] = -1;
  const struct {
    const int* hist;
    int mode, param;
  } refused[] = {{even100, 0, 101},  {even100, 0, -1},  {empty, 0, 50},   {empty, 1, 0},
                 {upper_only, 1, 0}, {even100, 2, 256}, {even100, 3, 0},  {upper_only, 4, 50},
                 {empty, 5, 10},     {even100, 5, 101}, {negative, 0, 50}};
  for (const auto& r : refused) {
    std::fill(t, t + 256, 0x33);
    EXPECT_EQ(yuv_build_map(r.hist, t, r.mode, r.param), -1) << r.mode << " " << r.param;
    EXPECT_EQ(std::count(t, t + 256, 0x33), 256);
  }
  EXPECT_EQ(yuv_build_map(even100, t, 9, 0), 0);
  EXPECT_EQ(std::count(t, t + 256, 0x33), 256);
}

TEST(LumakitRemap, PrintMapping) {
  uint8_t t[256];
  for (int v = 0; v < 256; ++v) t[v] = uint8_t(v ^ 1);
  testing::internal::CaptureStdout();
  ASSERT_EQ(yuv_print_mapping(t), 0);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.substr(0, 37), "\n-OLD- -NEW-\n    0     1\n    1     0\n");
  EXPECT_EQ(out.substr(out.size() - 13), "  255   254\n\n");
}

TEST(LumakitRemap, PushPopPicksFarthestFrom128) {
  const std::vector<std::vector<int>> pushes = {{100, 200, 60}, {100, 156}, {0x1FF, 130}};
  const int popped[] = {200, 156, 255};
  for (size_t i = 0; i < pushes.size(); ++i) {
    for (int v : pushes[i]) EXPECT_EQ(yuv_pushpop(v, 0), 0);
    EXPECT_EQ(yuv_pushpop(0, 1), popped[i]);
    EXPECT_EQ(yuv_pushpop(0, 1), 0);
  }
  // Holds 257 values; a 258th is ignored.
  for (int i = 0; i < 257; ++i) yuv_pushpop(128, 0);
  yuv_pushpop(0, 0);
  EXPECT_EQ(yuv_pushpop(0, 1), 128);
}
