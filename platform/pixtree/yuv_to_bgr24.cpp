#include "platform/pixtree/yuv_to_bgr24.h"

#include <immintrin.h>

namespace {

// BT.601, limited range, 6 fraction bits:
//   Y' = 1.164 (Y - 16);  R = Y' + 1.596 V';  G = Y' - 0.391 U' - 0.813 V';  B = Y' + 2.018 U'
// with U' = U - 128, V' = V - 128. Y' is (Y * 257 * kY) >> 16 (an unsigned high product); each
// chroma product is a rounded (a * k) >> 15 of the term shifted up by 8 (SSSE3's mulhrs). The
// -1.164 * 16 of Y' and the rounding of the final >> 6 sit in the chroma terms, which two
// rows share.
constexpr int kY = 18997;         // 1.164 * 64 * 65536 / 257
constexpr int kRv = 13074;        // 1.596 * 64 * 128
constexpr int kGu = 3203;         // 0.391 * 64 * 128
constexpr int kGv = 6660;         // 0.813 * 64 * 128
constexpr int kBu = 16531;        // 2.018 * 64 * 128
constexpr int kBase = 32 - 1192;  // rounding, minus 1.164 * 64 * 16

inline int mulhrs(int a, int k) { return (a * k + (1 << 14)) >> 15; }
inline uint8_t clamp255(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

void pixels_plain(const uint8_t* y, const uint8_t* u, const uint8_t* v, int from, int width,
                  uint8_t* out) {
  for (int x = from; x < width; ++x) {
    const int yy = (y[x] * 257 * kY) >> 16;
    const int us = (u[x >> 1] - 128) << 8, vs = (v[x >> 1] - 128) << 8;
    out[3 * x] = clamp255((yy + mulhrs(us, kBu) + kBase) >> 6);
    out[3 * x + 1] = clamp255((yy - mulhrs(us, kGu) - mulhrs(vs, kGv) + kBase) >> 6);
    out[3 * x + 2] = clamp255((yy + mulhrs(vs, kRv) + kBase) >> 6);
  }
}

// Byte shuffles that lay 16 B, 16 G and 16 R bytes out as 48 bytes B, G, R, B, G, R, ...:
// output block k (16 bytes) = shuffle(B, m[k][0]) | shuffle(G, m[k][1]) | shuffle(R, m[k][2]).
struct Interleave {
  int8_t m[3][3][16];
  constexpr Interleave() : m{} {
    for (int k = 0; k < 3; ++k)
      for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 16; ++i) {
          const int at = 16 * k + i;  // output byte
          m[k][c][i] = int8_t(at % 3 == c ? at / 3 : -1);
        }
  }
};
constexpr Interleave kInterleave;

// Two rows (sharing their chroma row) of 32 pixels at a time.
__attribute__((target("avx2"))) int rows_avx2(const uint8_t* y0, const uint8_t* y1,
                                              const uint8_t* u, const uint8_t* v, int width,
                                              uint8_t* o0, uint8_t* o1) {
  const __m256i c128 = _mm256_set1_epi16(128), base = _mm256_set1_epi16(kBase);
  const __m256i ky = _mm256_set1_epi16(kY), krv = _mm256_set1_epi16(kRv),
                kgu = _mm256_set1_epi16(kGu), kgv = _mm256_set1_epi16(kGv),
                kbu = _mm256_set1_epi16(kBu);
  __m256i shuf[3][3];
  for (int k = 0; k < 3; ++k)
    for (int c = 0; c < 3; ++c)
      shuf[k][c] = _mm256_broadcastsi128_si256(
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(kInterleave.m[k][c])));
  int x = 0;
  for (; x + 32 <= width; x += 32) {
    // Chroma words of px 0-7 / 16-23 ("lo") and 8-15 / 24-31 ("hi"), as the Y unpacks order them.
    const __m256i uw = _mm256_slli_epi16(
        _mm256_sub_epi16(
            _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(u + x / 2))),
            c128),
        8);
    const __m256i vw = _mm256_slli_epi16(
        _mm256_sub_epi16(
            _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(v + x / 2))),
            c128),
        8);
    const __m256i cb = _mm256_add_epi16(_mm256_mulhrs_epi16(uw, kbu), base);
    const __m256i cr = _mm256_add_epi16(_mm256_mulhrs_epi16(vw, krv), base);
    const __m256i cg = _mm256_sub_epi16(_mm256_sub_epi16(base, _mm256_mulhrs_epi16(uw, kgu)),
                                        _mm256_mulhrs_epi16(vw, kgv));
    const __m256i chroma[3][2] = {{_mm256_unpacklo_epi16(cb, cb), _mm256_unpackhi_epi16(cb, cb)},
                                  {_mm256_unpacklo_epi16(cg, cg), _mm256_unpackhi_epi16(cg, cg)},
                                  {_mm256_unpacklo_epi16(cr, cr), _mm256_unpackhi_epi16(cr, cr)}};
    for (int row = 0; row < 2; ++row) {
      const __m256i y8 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>((row ? y1 : y0) + x));
      const __m256i ylo = _mm256_mulhi_epu16(_mm256_unpacklo_epi8(y8, y8), ky);
      const __m256i yhi = _mm256_mulhi_epu16(_mm256_unpackhi_epi8(y8, y8), ky);
      __m256i col[3];
      for (int c = 0; c < 3; ++c)
        col[c] = _mm256_packus_epi16(_mm256_srai_epi16(_mm256_adds_epi16(ylo, chroma[c][0]), 6),
                                     _mm256_srai_epi16(_mm256_adds_epi16(yhi, chroma[c][1]), 6));
      __m256i blk[3];
      for (int k = 0; k < 3; ++k)
        blk[k] = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(col[0], shuf[k][0]),
                                                 _mm256_shuffle_epi8(col[1], shuf[k][1])),
                                 _mm256_shuffle_epi8(col[2], shuf[k][2]));
      // Lane 0 holds output bytes 0-47 (in blk 0-2), lane 1 bytes 48-95.
      uint8_t* o = (row ? o1 : o0) + 3 * x;
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(o),
                          _mm256_permute2x128_si256(blk[0], blk[1], 0x20));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + 32),
                          _mm256_permute2x128_si256(blk[2], blk[0], 0x30));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + 64),
                          _mm256_permute2x128_si256(blk[1], blk[2], 0x31));
    }
  }
  return x;
}

const bool has_avx2 = __builtin_cpu_supports("avx2");

}  // namespace

void yuv420_to_bgr24(const uint8_t* const planes[3], const int strides[3], int width, int height,
                     uint8_t* out, int out_stride) {
  for (int row = 0; row < height; row += 2) {
    const uint8_t* y0 = planes[0] + row * strides[0];
    const uint8_t* u = planes[1] + (row >> 1) * strides[1];
    const uint8_t* v = planes[2] + (row >> 1) * strides[2];
    uint8_t* o0 = out + row * out_stride;
    const bool pair = row + 1 < height;
    const uint8_t* y1 = pair ? y0 + strides[0] : y0;
    uint8_t* o1 = pair ? o0 + out_stride : o0;
    const int done = has_avx2 ? rows_avx2(y0, y1, u, v, width, o0, o1) : 0;
    pixels_plain(y0, u, v, done, width, o0);
    if (pair) pixels_plain(y1, u, v, done, width, o1);
  }
}
