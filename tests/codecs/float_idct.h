// The float inverse DCT the codec tests hold decoders to: 8x8 coefficients (natural order)
// to samples clamped to 0..255 at `dst`, rows `stride` bytes apart.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "peers/tirenc/tirenc.h"

inline void float_idct(const int coef[64], uint8_t* dst, int stride) {
  const auto& basis = tirenc::dct_basis();
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      double s = 0;
      for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) s += basis[u][x] * basis[v][y] * coef[v * 8 + u];
      dst[y * stride + x] =
          static_cast<uint8_t>(std::clamp(static_cast<int>(std::lround(s)), 0, 255));
    }
}
