// The name of the calling thread, as `top -H`, `ps -L -o comm`, gdb's `info threads` and a
// core dump show it (/proc/<pid>/task/<tid>/comm). Every thread of the client, the SDK and
// the setup tool sets one first thing in its body: short, by kind ("decoder 2", "sdk data",
// "rx DVR-1").
//
// Header only, so every folder may call it without another library to link.
#pragma once

#include <pthread.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

// The longest name Linux keeps, without its terminating zero.
constexpr size_t kThreadNameMax = 15;

// Names the calling thread `name`, cut to kThreadNameMax bytes (at the start of a UTF-8
// character, so a DVR's name never leaves half a character behind). The process's main
// thread keeps its name: it is the program's name that ps, top and pgrep list, and a test
// that runs a thread body on its main thread must not rename the test program.
inline void set_current_thread_name(const char* name) {
  if (!name || gettid() == getpid()) return;
  char cut[kThreadNameMax + 1];
  size_t n = strnlen(name, kThreadNameMax + 1);
  if (n > kThreadNameMax) {
    n = kThreadNameMax;
    // Back to the first byte of the character the cut would split (continuation bytes are
    // 10xxxxxx).
    while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0) == 0x80) --n;
  }
  std::memcpy(cut, name, n);
  cut[n] = '\0';
  pthread_setname_np(pthread_self(), cut);
}

// For a thread that a library starts and calls back (SDL's timer and audio threads): names
// it on the first call of its callbacks and costs a flag test after that.
inline void name_callback_thread(const char* name) {
  static thread_local bool named = false;
  if (named) return;
  named = true;
  set_current_thread_name(name);
}
