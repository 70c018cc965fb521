// One environment variable set (or, with nullptr, unset) for a scope and restored after it.
// Test thread only: the environment is shared by the whole process.
#pragma once

#include <cstdlib>
#include <string>

struct EnvGuard {
  std::string name, old;
  bool had;
  EnvGuard(const char* n, const char* value) : name(n) {
    const char* o = std::getenv(n);
    had = o != nullptr;
    if (had) old = o;
    if (value)
      setenv(n, value, 1);
    else
      unsetenv(n);
  }
  ~EnvGuard() {
    if (had)
      setenv(name.c_str(), old.c_str(), 1);
    else
      unsetenv(name.c_str());
  }
};
