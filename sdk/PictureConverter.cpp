#include "sdk/PictureConverter.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#define PC_HAVE_SSE2 1
#else
#define PC_HAVE_SSE2 0
#endif

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {

constexpr int kMaxSide = 8192;

CPU_FEATURES g_cpu;
std::once_flag g_cpu_once;

void test_processor() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned a, b, c, d;
  if (__get_cpuid(1, &a, &b, &c, &d)) {
    g_cpu.mmx = d >> 23 & 1;
    g_cpu.sse = d >> 25 & 1;
    g_cpu.sse2 = d >> 26 & 1;
  }
  if (__get_cpuid(0x80000000, &a, &b, &c, &d) && a >= 0x80000001 &&
      __get_cpuid(0x80000001, &a, &b, &c, &d))
    g_cpu.extended = uint16_t(d >> 16);
#endif
}

// JFIF full-range BT.601 in 16.16 fixed point. Colour to YUV: Y = (Yr[R] + Yg[G] + Yb[B]) >> 16
// and so on (Ub doubles as Vr). YUV to colour by chroma index c + 128.
struct Tables {
  int32_t yr[256], yg[256], yb[256], ur[256], ug[256], ub[256], vg[256], vb[256];
  int32_t cr_r[256], cb_b[256], cr_g[256], cb_g[256];
};
Tables g_tab;
std::once_flag g_tab_once;

void build_tables() {
  for (int i = 0; i < 256; ++i) {
    g_tab.yr[i] = 19595 * i;
    g_tab.yg[i] = 38470 * i;
    g_tab.yb[i] = 7471 * i + 32768;
    g_tab.ur[i] = -11059 * i;
    g_tab.ug[i] = -21709 * i;
    g_tab.ub[i] = 32768 * i + 8421375;
    g_tab.vg[i] = -27439 * i;
    g_tab.vb[i] = -5329 * i;
    const int c = i - 128;
    g_tab.cr_r[i] = (91881 * c + 32768) >> 16;
    g_tab.cb_b[i] = (116130 * c + 32768) >> 16;
    g_tab.cr_g[i] = -46802 * c;
    g_tab.cb_g[i] = 32768 - 22554 * c;
  }
}

inline uint8_t clamp8(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// BGR of one pixel through the tables; `g` is the green term (CbG[U] + CrG[V]) >> 16.
inline void put_bgr(uint8_t* p, int y, int b, int g, int r) {
  p[0] = clamp8(y + b);
  p[1] = clamp8(y + g);
  p[2] = clamp8(y + r);
}

// What a chroma sample adds to the luma of blue, green and red.
struct Chroma {
  int b, g, r;
};
inline Chroma jfif_chroma(int u, int v) {
  return {g_tab.cb_b[u], (g_tab.cb_g[u] + g_tab.cr_g[v]) >> 16, g_tab.cr_r[v]};
}

inline void jfif_yuv(const uint8_t* bgr, uint8_t* y, uint8_t* u, uint8_t* v) {
  const int b = bgr[0], g = bgr[1], r = bgr[2];
  if (y) *y = clamp8((g_tab.yr[r] + g_tab.yg[g] + g_tab.yb[b]) >> 16);
  if (u) *u = clamp8((g_tab.ur[r] + g_tab.ug[g] + g_tab.ub[b]) >> 16);
  if (v) *v = clamp8((g_tab.ub[r] + g_tab.vg[g] + g_tab.vb[b]) >> 16);
}

// The video-range formula, with its rounding.
inline Chroma video_chroma(int u, int v) {
  const int cu = 8 * (u - 128), cv = 8 * (v - 128);
  return {(cu * 16591) >> 16, ((cu * -3218) >> 16) + ((cv * -6686) >> 16), (cv * 13123) >> 16};
}
inline int video_luma(int y) { return (8 * std::max(y - 16, 0) * 9576) >> 16; }

bool valid_size(int width, int height, bool subsampled) {
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return false;
  return !subsampled || ((width | height) & 1) == 0;
}

// A packed picture's stride with its default (the row's bytes).
bool packed_ok(const uint8_t* p, int width, int bytes_per_pixel, int& stride) {
  if (!stride) stride = width * bytes_per_pixel;
  return p && stride >= width * bytes_per_pixel;
}

// Strides of a planar picture with their defaults; `chroma_div` 2 for 4:2:0 and 4:2:2, 1 for 4:4:4.
template <class P>
bool planar_ok(const P& p, int width, int chroma_div, int& ys, int& cs) {
  if (!p.y || !p.u || !p.v) return false;
  ys = p.y_stride ? p.y_stride : width;
  cs = p.c_stride ? p.c_stride : ys / chroma_div;
  return ys >= width && cs >= (width + chroma_div - 1) / chroma_div;
}

#if PC_HAVE_SSE2
// Two signed 16-bit factors for a multiply-add, low one first.
inline __m128i madd_pair(int lo, int hi) {
  return _mm_set1_epi32(int32_t(uint32_t(uint16_t(lo)) | uint32_t(uint16_t(hi)) << 16));
}
// The low or high four of eight 16-bit values, sign-extended to 32 bits.
inline __m128i widen_lo(__m128i c) { return _mm_srai_epi32(_mm_unpacklo_epi16(c, c), 16); }
inline __m128i widen_hi(__m128i c) { return _mm_srai_epi32(_mm_unpackhi_epi16(c, c), 16); }
#endif

}  // namespace

void CPictureConverter::AlignedFree::operator()(uint8_t* p) const {
  ::operator delete[](p, std::align_val_t(16));
}

CPictureConverter::CPictureConverter() {
  std::call_once(g_cpu_once, test_processor);
  std::call_once(g_tab_once, build_tables);
  SetFastPath(true);
}

void CPictureConverter::SetFastPath(bool on) { m_bFastPath = on && g_cpu.mmx && PC_HAVE_SSE2; }

CPictureConverter::~CPictureConverter() { FreeBuffers(); }

const CPU_FEATURES& CPictureConverter::GetCpuFeatures() {
  std::call_once(g_cpu_once, test_processor);
  return g_cpu;
}

int CPictureConverter::AllocateBuffers(int width, int height, bool second) {
  FreeBuffers();
  if (!valid_size(width, height, false)) return 0;
  const size_t bytes = size_t(width) * 4 * size_t(height);
  // The allocator keeps its own book of the block: no pointer is stored inside the buffer.
  AlignedBuffer one(
      static_cast<uint8_t*>(::operator new[](bytes, std::align_val_t(16), std::nothrow)));
  AlignedBuffer two;
  if (second)
    two.reset(static_cast<uint8_t*>(::operator new[](bytes, std::align_val_t(16), std::nothrow)));
  if (!one || (second && !two)) return 0;
  std::memset(one.get(), 0, bytes);
  if (two) std::memset(two.get(), 0, bytes);
  m_pBuffer1 = std::move(one);
  m_pBuffer2 = std::move(two);
  m_nBufferSize = bytes;
  m_nState = 0;
  return 1;
}

void CPictureConverter::FreeBuffers() {
  m_pBuffer1.reset();
  m_pBuffer2.reset();
  m_nBufferSize = 0;
  m_nState = 1;
}

uint8_t* CPictureConverter::OutputBuffer(size_t bytes, bool second) const {
  if (!m_pBuffer1 || bytes > m_nBufferSize || (second && !m_pBuffer2)) return nullptr;
  return m_pBuffer1.get();
}

namespace {

// Colour terms of one chroma row, per chroma sample: what the blue, green and red sums add to
// the (possibly video-range) luma. Exact copies of the table or formula values.
struct ChromaTerms {
  std::vector<int16_t> b, g, r;
  void compute(const uint8_t* u, const uint8_t* v, int n, bool video, bool fast) {
    // Room for whole groups of 16 (the fast path reads them), the rest left 0.
    const size_t room = size_t(n + 16);
    b.resize(room);
    g.resize(room);
    r.resize(room);
    int i = 0;
#if PC_HAVE_SSE2
    if (fast) i = compute_sse2(u, v, n, video);
#endif
    for (; i < n; ++i) {
      const Chroma c = video ? video_chroma(u[i], v[i]) : jfif_chroma(u[i], v[i]);
      b[size_t(i)] = int16_t(c.b);
      g[size_t(i)] = int16_t(c.g);
      r[size_t(i)] = int16_t(c.r);
    }
  }
#if PC_HAVE_SSE2
  // Eight samples at a time; returns how many were done. The video terms are the formula's
  // 16-bit products' high halves; the JFIF table values come out of 32-bit sums whose
  // coefficients above 16 bits are split off as shifts, e.g. 116130 c = (c << 17) - 14942 c.
  int compute_sse2(const uint8_t* u, const uint8_t* v, int n, bool video) {
    const __m128i zero = _mm_setzero_si128(), c128 = _mm_set1_epi16(128);
    int i = 0;
    for (; i + 8 <= n; i += 8) {
      const __m128i u8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + i));
      const __m128i v8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + i));
      const __m128i cu = _mm_sub_epi16(_mm_unpacklo_epi8(u8, zero), c128);
      const __m128i cv = _mm_sub_epi16(_mm_unpacklo_epi8(v8, zero), c128);
      __m128i tb, tg, tr;
      if (video) {
        const __m128i su = _mm_slli_epi16(cu, 3), sv = _mm_slli_epi16(cv, 3);
        tb = _mm_mulhi_epi16(su, _mm_set1_epi16(16591));
        tg = _mm_add_epi16(_mm_mulhi_epi16(su, _mm_set1_epi16(-3218)),
                           _mm_mulhi_epi16(sv, _mm_set1_epi16(-6686)));
        tr = _mm_mulhi_epi16(sv, _mm_set1_epi16(13123));
      } else {
        tb = jfif_term(cu, madd_pair(-14942, 16384), 17);
        tr = jfif_term(cv, madd_pair(26345, 16384), 16);
        // 32768 - 22554 cu - 46802 cv, with -46802 cv = 18734 cv - (cv << 16).
        const __m128i k = madd_pair(-22554, 18734), half = _mm_set1_epi32(32768);
        const __m128i lo =
            _mm_sub_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(cu, cv), k), half),
                          _mm_slli_epi32(widen_lo(cv), 16));
        const __m128i hi =
            _mm_sub_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(cu, cv), k), half),
                          _mm_slli_epi32(widen_hi(cv), 16));
        tg = _mm_packs_epi32(_mm_srai_epi32(lo, 16), _mm_srai_epi32(hi, 16));
      }
      _mm_storeu_si128(reinterpret_cast<__m128i*>(&b[size_t(i)]), tb);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(&g[size_t(i)]), tg);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(&r[size_t(i)]), tr);
    }
    return i;
  }
  // (k c + 32768 + (c << shift)) >> 16 for eight samples; k c + 32768 is one multiply-add of
  // (c, 2) with (k, 16384), as 32768 is no signed 16-bit factor.
  static __m128i jfif_term(__m128i c, __m128i k_and_half, int shift) {
    const __m128i two = _mm_set1_epi16(2), n = _mm_cvtsi32_si128(shift);
    const __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(c, two), k_and_half),
                                     _mm_sll_epi32(widen_lo(c), n));
    const __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(c, two), k_and_half),
                                     _mm_sll_epi32(widen_hi(c), n));
    return _mm_packs_epi32(_mm_srai_epi32(lo, 16), _mm_srai_epi32(hi, 16));
  }
#endif
};

// Pixels x0.. of one BGR row, one at a time; `xdiv` 2 when two pixels share a chroma sample.
void bgr_row_plain(const uint8_t* y, const ChromaTerms& t, int x0, int width, int xdiv, int bpp,
                   bool video, uint8_t* d) {
  for (int x = x0; x < width; ++x) {
    uint8_t* p = d + size_t(x) * bpp;
    const int i = x / xdiv;
    put_bgr(p, video ? video_luma(y[x]) : y[x], t.b[size_t(i)], t.g[size_t(i)], t.r[size_t(i)]);
    if (bpp == 4) p[3] = 0;
  }
}

#if PC_HAVE_SSE2
// Terms of 16 pixels as two registers of eight 16-bit values.
inline void load_terms(const int16_t* t, int x, int xdiv, __m128i& lo, __m128i& hi) {
  if (xdiv == 2) {
    const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + x / 2));
    lo = _mm_unpacklo_epi16(eight, eight);
    hi = _mm_unpackhi_epi16(eight, eight);
  } else {
    lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + x));
    hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + x + 8));
  }
}

// Four B, G, R, 0 pixels written as 12 bytes B, G, R.
inline void store_bgr24x4(uint8_t* d, __m128i p) {
  const __m128i low3 = _mm_set1_epi64x(0x0000000000FFFFFFLL),
                mid3 = _mm_set1_epi64x(0x0000FFFFFF000000LL);
  // Per 8-byte half: a pixel's three bytes, then the next pixel's moved down over its fourth.
  const __m128i halves =
      _mm_or_si128(_mm_and_si128(p, low3), _mm_and_si128(_mm_srli_epi64(p, 8), mid3));
  // Bytes 0-5 from the low half, 6-11 from the high half.
  const __m128i packed =
      _mm_or_si128(_mm_move_epi64(halves), _mm_slli_si128(_mm_srli_si128(halves, 8), 6));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(d), packed);
  const uint32_t last = uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(packed, 8)));
  std::memcpy(d + 8, &last, 4);
}

// The same row 16 pixels at a time with packed 16-bit sums; saturating packs do the clamps,
// and the video-range luma uses the high half of 16-bit products, as the formula's >> 16.
void bgr_row_sse2(const uint8_t* y, const ChromaTerms& t, int width, int xdiv, int bpp, bool video,
                  uint8_t* d) {
  const __m128i zero = _mm_setzero_si128();
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    __m128i yv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
    __m128i ylo, yhi;
    if (video) {
      yv = _mm_subs_epu8(yv, _mm_set1_epi8(16));
      const __m128i k = _mm_set1_epi16(9576);
      ylo = _mm_mulhi_epi16(_mm_slli_epi16(_mm_unpacklo_epi8(yv, zero), 3), k);
      yhi = _mm_mulhi_epi16(_mm_slli_epi16(_mm_unpackhi_epi8(yv, zero), 3), k);
    } else {
      ylo = _mm_unpacklo_epi8(yv, zero);
      yhi = _mm_unpackhi_epi8(yv, zero);
    }
    __m128i lo, hi;
    load_terms(t.b.data(), x, xdiv, lo, hi);
    const __m128i B = _mm_packus_epi16(_mm_add_epi16(ylo, lo), _mm_add_epi16(yhi, hi));
    load_terms(t.g.data(), x, xdiv, lo, hi);
    const __m128i G = _mm_packus_epi16(_mm_add_epi16(ylo, lo), _mm_add_epi16(yhi, hi));
    load_terms(t.r.data(), x, xdiv, lo, hi);
    const __m128i R = _mm_packus_epi16(_mm_add_epi16(ylo, lo), _mm_add_epi16(yhi, hi));
    const __m128i bg_lo = _mm_unpacklo_epi8(B, G), bg_hi = _mm_unpackhi_epi8(B, G);
    const __m128i r_lo = _mm_unpacklo_epi8(R, zero), r_hi = _mm_unpackhi_epi8(R, zero);
    const __m128i px[4] = {_mm_unpacklo_epi16(bg_lo, r_lo), _mm_unpackhi_epi16(bg_lo, r_lo),
                           _mm_unpacklo_epi16(bg_hi, r_hi), _mm_unpackhi_epi16(bg_hi, r_hi)};
    uint8_t* o = d + size_t(x) * bpp;
    for (int k = 0; k < 4; ++k) {
      if (bpp == 4)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16 * k), px[k]);
      else
        store_bgr24x4(o + 12 * k, px[k]);
    }
  }
  bgr_row_plain(y, t, x, width, xdiv, bpp, video, d);  // a width that is not a multiple of 16
}
#endif

// Planar to BGR, rows bottom to top; chroma planes are width / xdiv wide and height / ydiv high.
void planar_to_bgr(const PLANAR_SRC& s, int ys, int cs, int width, int height, int xdiv, int ydiv,
                   int bpp, bool video, bool fast, uint8_t* out) {
  ChromaTerms terms;
  int terms_row = -1;
  for (int r = 0; r < height; ++r) {
    const int sr = height - 1 - r, crow = sr / ydiv;
    if (crow != terms_row) {
      terms.compute(s.u + size_t(crow) * cs, s.v + size_t(crow) * cs, (width + xdiv - 1) / xdiv,
                    video, fast);
      terms_row = crow;
    }
    const uint8_t* y = s.y + size_t(sr) * ys;
    uint8_t* d = out + size_t(r) * width * bpp;
#if PC_HAVE_SSE2
    if (fast) {
      bgr_row_sse2(y, terms, width, xdiv, bpp, video, d);
      continue;
    }
#endif
    bgr_row_plain(y, terms, 0, width, xdiv, bpp, video, d);
  }
}

}  // namespace

int CPictureConverter::PlanarToBGR(const PLANAR_SRC& src, int width, int height, int xdiv, int ydiv,
                                   int bpp, bool video) {
  int ys, cs;
  if (!valid_size(width, height, xdiv == 2) || !planar_ok(src, width, xdiv, ys, cs)) return 0;
  uint8_t* out = OutputBuffer(size_t(width) * bpp * size_t(height));
  if (!out) return 0;
  planar_to_bgr(src, ys, cs, width, height, xdiv, ydiv, bpp, video, m_bFastPath, out);
  return 1;
}

int CPictureConverter::I420ToBGR24(const PLANAR_SRC& src, int width, int height) {
  return PlanarToBGR(src, width, height, 2, 2, 3, false);
}

int CPictureConverter::YUV422ToBGR24(const PLANAR_SRC& src, int width, int height) {
  return PlanarToBGR(src, width, height, 2, 1, 3, true);
}

int CPictureConverter::I420ToBGR32(const PLANAR_SRC& src, int width, int height) {
  return PlanarToBGR(src, width, height, 2, 2, 4, true);
}

int CPictureConverter::YUV444ToBGR24(const PLANAR_SRC& src, int width, int height) {
  return PlanarToBGR(src, width, height, 1, 1, 3, false);
}

namespace {

// One packed 4:2:2 row from planar rows; `uyvy` puts chroma first. The fast path interleaves
// 16 pixels at a time.
void pack_row(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width, uint8_t* d,
              bool uyvy, bool fast) {
  int x = 0;
#if PC_HAVE_SSE2
  for (; fast && x + 16 <= width; x += 16) {
    const __m128i yv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
    const __m128i uv =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + x / 2)),
                          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x / 2)));
    auto* o = reinterpret_cast<__m128i*>(d + 2 * x);
    _mm_storeu_si128(o, uyvy ? _mm_unpacklo_epi8(uv, yv) : _mm_unpacklo_epi8(yv, uv));
    _mm_storeu_si128(o + 1, uyvy ? _mm_unpackhi_epi8(uv, yv) : _mm_unpackhi_epi8(yv, uv));
  }
#endif
  const int yo = uyvy ? 1 : 0, co = uyvy ? 0 : 1;
  for (; x < width; x += 2) {
    uint8_t* p = d + 2 * x;
    p[yo] = y[x];
    p[yo + 2] = y[x + 1];
    p[co] = u[x / 2];
    p[co + 2] = v[x / 2];
  }
}

}  // namespace

int CPictureConverter::I420ToPacked(const PLANAR_SRC& src, int width, int height, bool uyvy) {
  int ys, cs;
  if (!valid_size(width, height, true) || !planar_ok(src, width, 2, ys, cs)) return 0;
  uint8_t* out = OutputBuffer(size_t(width) * 2 * size_t(height));
  if (!out) return 0;
  for (int r = 0; r < height; ++r)
    pack_row(src.y + size_t(r) * ys, src.u + size_t(r / 2) * cs, src.v + size_t(r / 2) * cs, width,
             out + size_t(r) * width * 2, uyvy, m_bFastPath);
  return 1;
}

int CPictureConverter::I420ToYUY2(const PLANAR_SRC& src, int width, int height) {
  return I420ToPacked(src, width, height, false);
}

int CPictureConverter::I420ToUYVY(const PLANAR_SRC& src, int width, int height) {
  return I420ToPacked(src, width, height, true);
}

int CPictureConverter::I420ToYUY2Fields(const PLANAR_SRC& src, int width, int height,
                                        bool odd_first) {
  int ys, cs;
  if (!valid_size(width, height, true) || !planar_ok(src, width, 2, ys, cs)) return 0;
  if (!OutputBuffer(size_t(width) * height, true)) return 0;
  for (int f = 0; f < 2; ++f) {
    uint8_t* out = (f == 0) != odd_first ? m_pBuffer1.get() : m_pBuffer2.get();
    // Row k of field f is frame row 2k + f, whose chroma row is k.
    for (int k = 0; k < height / 2; ++k)
      pack_row(src.y + size_t(2 * k + f) * ys, src.u + size_t(k) * cs, src.v + size_t(k) * cs,
               width, out + size_t(k) * width * 2, false, m_bFastPath);
  }
  return 1;
}

int CPictureConverter::YUY2ToBGR24(const uint8_t* src, int stride, int width, int height) {
  if (!valid_size(width, height, true) || !packed_ok(src, width, 2, stride)) return 0;
  uint8_t* out = OutputBuffer(size_t(width) * 3 * size_t(height));
  if (!out) return 0;
  for (int r = 0; r < height; ++r) {
    const uint8_t* s = src + size_t(height - 1 - r) * stride;
    uint8_t* d = out + size_t(r) * width * 3;
    for (int x = 0; x < width; x += 2, s += 4, d += 6) {
      const Chroma c = jfif_chroma(s[1], s[3]);  // shared by both pixels of the pair
      put_bgr(d, s[0], c.b, c.g, c.r);
      put_bgr(d + 3, s[2], c.b, c.g, c.r);
    }
  }
  return 1;
}

namespace {

#if PC_HAVE_SSE2
// Y, U and V of four B, G, R pixels (12 bytes at `s`; 16 are read) in 32-bit lanes, exactly the
// table sums: factors beyond signed 16 bits are split off as shifts (38470 G = (G << 16) -
// 27066 G, 32768 B = B << 15, 32768 = 2 x 16384) so that the rest fits 16-bit multiply-adds.
struct Yuv4 {
  __m128i y, u, v;
};
inline Yuv4 bgr_to_yuv4(const uint8_t* s) {
  const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  // Pixels 0, 1 in the low half and 2, 3 in the high half, then one B, G, R, 0 per lane.
  const __m128i a = _mm_unpacklo_epi64(raw, _mm_srli_si128(raw, 6));
  const __m128i px =
      _mm_or_si128(_mm_and_si128(a, _mm_set1_epi64x(0x0000000000FFFFFFLL)),
                   _mm_and_si128(_mm_slli_epi64(a, 8), _mm_set1_epi64x(0x00FFFFFF00000000LL)));
  const __m128i ff = _mm_set1_epi32(0xFF), two_hi = _mm_set1_epi32(0x20000);
  const __m128i b = _mm_and_si128(px, ff), g = _mm_and_si128(_mm_srli_epi32(px, 8), ff),
                r = _mm_and_si128(_mm_srli_epi32(px, 16), ff);
  const __m128i g16 = _mm_slli_epi32(g, 16);
  const __m128i rg = _mm_or_si128(r, g16), bg = _mm_or_si128(b, g16), b2 = _mm_or_si128(b, two_hi);
  const __m128i half_range = _mm_set1_epi32(8421375);
  Yuv4 out;
  auto sum = [](__m128i a, __m128i b, __m128i c) {
    return _mm_srai_epi32(_mm_add_epi32(_mm_add_epi32(a, b), c), 16);
  };
  out.y = sum(_mm_madd_epi16(rg, madd_pair(19595, -27066)),
              _mm_madd_epi16(b2, madd_pair(7471, 16384)), g16);
  out.u = sum(_mm_madd_epi16(rg, madd_pair(-11059, -21709)), _mm_slli_epi32(b, 15), half_range);
  out.v = sum(_mm_madd_epi16(bg, madd_pair(-5329, -27439)), _mm_slli_epi32(r, 15), half_range);
  return out;
}

// Eight 32-bit values (two registers) saturated to bytes; with `every_other` only 0, 2, 4, 6.
inline void store_bytes(uint8_t* d, __m128i lo, __m128i hi, bool every_other) {
  __m128i w = _mm_packs_epi32(lo, hi);
  if (every_other) {
    w = _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(w, 16), 16), _mm_setzero_si128());
    const uint32_t four = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(w, w)));
    std::memcpy(d, &four, 4);
    return;
  }
  _mm_storel_epi64(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(w, w));
}
#endif

// One row of B, G, R pixels to Y of every pixel and, when `u` and `v` are given, U and V of
// every pixel (`uv_step` 1) or of the first of each pair (2).
void bgr_to_yuv_row(const uint8_t* s, int width, uint8_t* y, uint8_t* u, uint8_t* v, int uv_step,
                    bool fast) {
  int x = 0;
#if PC_HAVE_SSE2
  // Eight pixels a step; each group of four reads 16 bytes, so stop early enough.
  for (; fast && x + 10 <= width; x += 8) {
    const Yuv4 a = bgr_to_yuv4(s + 3 * x), b = bgr_to_yuv4(s + 3 * x + 12);
    store_bytes(y + x, a.y, b.y, false);
    if (!u) continue;
    store_bytes(u + x / uv_step, a.u, b.u, uv_step == 2);
    store_bytes(v + x / uv_step, a.v, b.v, uv_step == 2);
  }
#endif
  for (; x < width; ++x) {
    const bool chroma = u && x % uv_step == 0;
    jfif_yuv(s + 3 * x, y + x, chroma ? u + x / uv_step : nullptr,
             chroma ? v + x / uv_step : nullptr);
  }
}

}  // namespace

int CPictureConverter::BGR24ToYUY2(const uint8_t* src, int stride, int width, int height) {
  if (!valid_size(width, height, true) || !packed_ok(src, width, 3, stride)) return 0;
  uint8_t* out = OutputBuffer(size_t(width) * 2 * size_t(height));
  if (!out) return 0;
  std::vector<uint8_t> row(size_t(width) * 2);
  uint8_t *y = row.data(), *u = y + width, *v = u + width / 2;
  for (int r = 0; r < height; ++r) {
    bgr_to_yuv_row(src + size_t(height - 1 - r) * stride, width, y, u, v, 2, m_bFastPath);
    pack_row(y, u, v, width, out + size_t(r) * width * 2, false, m_bFastPath);
  }
  return 1;
}

int CPictureConverter::YUY2ToI420(const uint8_t* src, int stride, int width, int height,
                                  const PLANAR_DST& dst) {
  int ys, cs;
  if (!valid_size(width, height, true) || !planar_ok(dst, width, 2, ys, cs) ||
      !packed_ok(src, width, 2, stride))
    return 0;
  for (int r = 0; r < height; ++r) {
    const uint8_t* s = src + size_t(r) * stride;
    uint8_t* y = dst.y + size_t(r) * ys;
    for (int x = 0; x < width; ++x) y[x] = s[2 * x];
    if (r & 1) continue;
    uint8_t* u = dst.u + size_t(r / 2) * cs;
    uint8_t* v = dst.v + size_t(r / 2) * cs;
    for (int x = 0; x < width / 2; ++x) {
      u[x] = s[4 * x + 1];
      v[x] = s[4 * x + 3];
    }
  }
  return 1;
}

int CPictureConverter::BGR24ToYUV444(const uint8_t* src, int stride, int width, int height,
                                     const PLANAR_DST& dst) {
  int ys, cs;
  if (!valid_size(width, height, false) || !planar_ok(dst, width, 1, ys, cs) ||
      !packed_ok(src, width, 3, stride))
    return 0;
  for (int r = 0; r < height; ++r)
    bgr_to_yuv_row(src + size_t(r) * stride, width, dst.y + size_t(r) * ys, dst.u + size_t(r) * cs,
                   dst.v + size_t(r) * cs, 1, m_bFastPath);
  return 1;
}

int CPictureConverter::BGR24ToI420(const uint8_t* src, int stride, int width, int height,
                                   bool bottom_up, const PLANAR_DST& dst) {
  int ys, cs;
  if (!valid_size(width, height, true) || !planar_ok(dst, width, 2, ys, cs) ||
      !packed_ok(src, width, 3, stride))
    return 0;
  for (int r = 0; r < height; ++r) {
    const bool chroma = (r & 1) == 0;  // U and V of the even rows
    bgr_to_yuv_row(src + size_t(bottom_up ? height - 1 - r : r) * stride, width,
                   dst.y + size_t(r) * ys, chroma ? dst.u + size_t(r / 2) * cs : nullptr,
                   chroma ? dst.v + size_t(r / 2) * cs : nullptr, 2, m_bFastPath);
  }
  return 1;
}

int CPictureConverter::YUV444ToI420(const PLANAR_SRC& src, int width, int height,
                                    const PLANAR_DST& dst) {
  int sys, scs, dys, dcs;
  if (!valid_size(width, height, true) || !planar_ok(src, width, 1, sys, scs) ||
      !planar_ok(dst, width, 2, dys, dcs))
    return 0;
  for (int r = 0; r < height; ++r) {
    std::memcpy(dst.y + size_t(r) * dys, src.y + size_t(r) * sys, size_t(width));
    if (r & 1) continue;
    const uint8_t* su = src.u + size_t(r) * scs;
    const uint8_t* sv = src.v + size_t(r) * scs;
    uint8_t* u = dst.u + size_t(r / 2) * dcs;
    uint8_t* v = dst.v + size_t(r / 2) * dcs;
    for (int x = 0; x < width / 2; ++x) {
      u[x] = su[2 * x];
      v[x] = sv[2 * x];
    }
  }
  return 1;
}

namespace {

// One source row into both rows of a pair.
void copy_twice(const uint8_t* from, uint8_t* a, uint8_t* b, int bytes) {
  std::memcpy(a, from, size_t(bytes));
  std::memcpy(b, from, size_t(bytes));
}

// Line doubling of one plane: both rows of a pair take the pair's row of `field`; a last row
// without a partner takes the field's nearest row. Rows equal to their source (in place) stay.
void double_lines(const uint8_t* src, int ss, uint8_t* dst, int ds, int bytes, int rows,
                  int field) {
  for (int r = 0; r < rows; r += 2) {
    int s = r + field;
    if (s >= rows) s = rows >= 3 ? s - 2 : 0;
    const uint8_t* from = src + size_t(s) * ss;
    uint8_t* to0 = dst + size_t(r) * ds;
    uint8_t* to1 = r + 1 < rows ? to0 + ds : nullptr;
    if (to1 && from != to0 && from != to1) {
      copy_twice(from, to0, to1, bytes);
      continue;
    }
    for (uint8_t* to : {to0, to1})
      if (to && to != from) std::memcpy(to, from, size_t(bytes));
  }
}

}  // namespace

int CPictureConverter::Deinterlace(int width, int height, const PLANAR_SRC& src,
                                   const PLANAR_DST& dst, int field) {
  int sys, scs, dys, dcs;
  if (!valid_size(width, height, true) || (field != 0 && field != 1) ||
      !planar_ok(src, width, 2, sys, scs) || !planar_ok(dst, width, 2, dys, dcs))
    return 0;
  double_lines(src.y, sys, dst.y, dys, width, height, field);
  double_lines(src.u, scs, dst.u, dcs, width / 2, height / 2, field);
  double_lines(src.v, scs, dst.v, dcs, width / 2, height / 2, field);
  return 1;
}

int CPictureConverter::DeinterlaceInPlace(int width, int height, const PLANAR_DST& picture,
                                          int field) {
  const PLANAR_SRC src{picture.y, picture.u, picture.v, picture.y_stride, picture.c_stride};
  return Deinterlace(width, height, src, picture, field);
}
