// libFuzzer target: the key-frame indexes of recorded ".zol" files and of ".dat" frame files
// on arbitrary file contents: record headers and sizes, cut tails, the ".dat" header, pattern
// scan, frame stream headers of the chosen layout and impossible sizes. The input is the whole
// file.
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
  RECEIVER_INFO* rx = &g_ctx->receivers[0];
  if (fuzz_rig::open_as_file(rx, data, size) != 0) return 0;
  int count = 0;
  index_record_file(g_index.data(), &count, rx);
  if (count > 0) find_key_frame(g_index.data(), count, g_index[size_t(count / 2)].sec + 0.5);
  DAT_FILE_INFO info;
  std::rewind(rx->file);
  read_dat_file_header(rx->file, &info);
  std::rewind(rx->file);
  index_dat_file(g_index.data(), &count, rx, info);
  if (count > 0)
    find_dat_key_frame(g_index.data(), count, g_index[size_t(count - 1)].sec + 2.0, -10);
  fuzz_rig::close_file(rx);
  app_quit.store(0);
  return 0;
}
