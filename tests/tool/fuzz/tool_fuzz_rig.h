// What the setup tool's fuzz targets share: boxes answered without a display, quiet standard
// output, and writing an input to a file. The targets read and write the tool's files under
// their fixed names in the working directory (the test command gives each run a scratch
// directory of its own).
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

// Replaces the file at `path` with the bytes; aborts when it cannot (the run is void then).
inline void write_file(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || (size && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) std::abort();
}

}  // namespace tool_fuzz
