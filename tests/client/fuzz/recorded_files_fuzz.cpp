// libFuzzer target: the key-frame indexes of recorded ".zol" files and of ".dat" frame files
// on arbitrary file contents: record headers and sizes, cut tails, the ".dat" header, pattern
// scan, frame stream headers of the chosen layout and impossible sizes. The input is the whole
// file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "client/links/dat_file.h"
#include "client/links/recording.h"
#include "tests/client/fuzz/fuzz_rig.h"

namespace {
APP_CONTEXT* g_ctx = nullptr;
std::vector<KEY_FRAME_ENTRY> g_index(DAT_INDEX_MAX);
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz_rig::quiet_stdout();
  g_ctx = fuzz_rig::make_context('Q');
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = memfd_create("recorded", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (size && ::write(fd, data, size) != ssize_t(size)) {
    ::close(fd);
    return 0;
  }
  RECEIVER_INFO* rx = &g_ctx->receivers[0];
  std::snprintf(rx->file_name, sizeof rx->file_name, "/proc/self/fd/%d", fd);
  rx->file = fdopen(fd, "rb");
  if (!rx->file) {
    ::close(fd);
    return 0;
  }
  int count = 0;
  std::rewind(rx->file);
  index_record_file(g_index.data(), &count, rx);
  if (count > 0) find_key_frame(g_index.data(), count, g_index[size_t(count / 2)].sec + 0.5);
  DAT_FILE_INFO info;
  std::rewind(rx->file);
  read_dat_file_header(rx->file, &info);
  std::rewind(rx->file);
  index_dat_file(g_index.data(), &count, rx, info);
  if (count > 0) find_dat_key_frame(g_index.data(), count, g_index[size_t(count - 1)].sec + 2.0, -10);
  std::fclose(rx->file);
  rx->file = nullptr;
  app_quit.store(0);
  return 0;
}
