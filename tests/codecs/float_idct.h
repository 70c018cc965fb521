// The float inverse DCT the codec tests hold decoders to: 8x8 coefficients (natural order)
// to samples clamped to 0..255 at `dst`, rows `stride` bytes apart.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

inline void float_idct(const int coef[64], uint8_t* dst, int stride) {
    static const auto basis = [] {
        std::array<std::array<double, 8>, 8> b{};
        const double pi = std::acos(-1.0);
        for (int u = 0; u < 8; ++u)
            for (int x = 0; x < 8; ++x)
                b[u][x] = 0.5 * (u ? 1.0 : std::sqrt(0.5)) * std::cos((2 * x + 1) * u * pi / 16);
        return b;
    }();
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            double s = 0;
            for (int v = 0; v < 8; ++v)
                for (int u = 0; u < 8; ++u) s += basis[u][x] * basis[v][y] * coef[v * 8 + u];
            dst[y * stride + x] = static_cast<uint8_t>(std::clamp(static_cast<int>(std::lround(s)), 0, 255));
        }
}
