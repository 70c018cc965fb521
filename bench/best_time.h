// Timing helper shared by the benchmark programs.
#pragma once

#include <algorithm>
#include <chrono>
#include <functional>

// Mean time of one call of `fn` in microseconds: the best of five rounds of about 0.2 s each,
// so that other load on the machine disturbs the figure less.
inline double time_us(const std::function<void()>& fn) {
  using clock = std::chrono::steady_clock;
  for (int i = 0; i < 5; ++i) fn();
  double best = 1e300;
  for (int round = 0; round < 5; ++round) {
    long n = 0;
    const auto start = clock::now();
    double elapsed = 0;
    do {
      for (int i = 0; i < 10; ++i) fn();
      n += 10;
      elapsed = std::chrono::duration<double>(clock::now() - start).count();
    } while (elapsed < 0.2);
    best = std::min(best, elapsed * 1e6 / static_cast<double>(n));
  }
  return best;
}
