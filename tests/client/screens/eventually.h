// Waiting on a condition with a deadline, for tests of threads and processes.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

// Polls `pred` every `step_ms` until it holds or `ms` pass; its last answer.
inline bool eventually(const std::function<bool()>& pred, int ms = 20000, int step_ms = 20) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(step_ms));
  }
  return pred();
}
