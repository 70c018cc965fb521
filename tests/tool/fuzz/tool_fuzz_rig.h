// What the setup tool's fuzz targets share: boxes answered without a display, quiet standard
// output, a scratch directory of their own to work in, and writing an input to a file.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/system/message_box.h"

// The store's boxes, answered without a display (message_box.cpp needs X).
BoxAnswer show_message_box(const char*, const char*, BoxButtons) { return BoxAnswer::ok; }

namespace tool_fuzz {

// The readers report every refused line on standard output; at fuzzing speed that only
// costs time.
inline void quiet_stdout() {
  if (!std::freopen("/dev/null", "w", stdout)) std::abort();
}

// Makes a fresh directory the working directory for the rest of the run and removes it at
// exit: the tool's files have fixed names, and fuzzers run side by side. It lies in memory
// when /dev/shm exists, since the tool's file writes sync the disk twice each.
inline void enter_scratch_dir(const char* name) {
  static std::string dir;
  for (const char* base : {"/dev/shm", "."}) {
    std::string pattern = std::string(base) + "/vigilo-fuzz-" + name + "-XXXXXX";
    if (mkdtemp(pattern.data()) && chdir(pattern.c_str()) == 0) {
      dir = std::filesystem::absolute(".").string();
      std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
      });
      return;
    }
  }
  std::abort();
}

// Replaces the file at `path` with the bytes; aborts when it cannot (the run is void then).
inline void write_file(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || (size && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) std::abort();
}

}  // namespace tool_fuzz
