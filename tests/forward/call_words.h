// How the forwarding tests record a call: each argument or result as one 64-bit word, a
// pointer by its address. Shared by the fake SDK that records the calls and the test that
// checks them, so both sides read the same word for the same value. No state, any thread.
#pragma once

#include <cstdint>
#include <type_traits>

template <class T>
uint64_t word(T v) {
  if constexpr (std::is_pointer_v<T>)
    return uint64_t(reinterpret_cast<uintptr_t>(v));
  else
    return uint64_t(v);
}
