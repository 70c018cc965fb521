// Holds an SDL mutex for a scope.
//
// A null mutex is skipped, so code that runs before the mutex exists (or in tests that never
// create it) needs no check of its own. SDL 1.2 mutexes are recursive: a thread may nest two
// locks on one mutex. Any thread may use it.
#pragma once

#include <SDL/SDL.h>

class SdlLock {
 public:
  explicit SdlLock(SDL_mutex* m) : m_(m) {
    if (m_) SDL_mutexP(m_);
  }
  ~SdlLock() {
    if (m_) SDL_mutexV(m_);
  }
  SdlLock(const SdlLock&) = delete;
  SdlLock& operator=(const SdlLock&) = delete;

 private:
  SDL_mutex* m_;
};
