// The key colour and the debug dumps.
#include <cstdio>
#include <cstring>
#include <memory>

#include "lumakit/lumakit.h"

extern "C" {

LUMAKIT_API unsigned char ColorKey[4] = {0, 0, 0, 0};

LUMAKIT_API int yuv_colorkey(const unsigned char* key) {
  if (!key) return -1;
  std::memcpy(ColorKey, key, 4);
  return 0;
}

namespace {
struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;
}  // namespace

LUMAKIT_API int yuv_dump(const unsigned char* frame, int size, const char* path) {
  if (!path || size < 0 || (!frame && size > 0)) return -1;
  File f(std::fopen(path, "w"));
  if (!f) return -1;
  if (size > 0) std::fwrite(frame, static_cast<size_t>(size), 1, f.get());
  return 0;
}

LUMAKIT_API int yuv_hexdump(const unsigned char* data, int width, int height, const char* path) {
  if (!path || width < 0 || height < 0 || (!data && width > 0 && height > 0)) return -1;
  File f(std::fopen(path, "w+"));
  if (!f) return -1;
  for (int r = 0; r < height; ++r) {
    const unsigned char* row = data + static_cast<size_t>(r) * static_cast<size_t>(width);
    for (int c = 0; c < width; ++c) std::fprintf(f.get(), "%0x ", row[c]);
    std::fputc('\n', f.get());
  }
  return 0;
}

}  // extern "C"
