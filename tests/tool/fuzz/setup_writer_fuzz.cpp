// setup.cfg mutated, then loaded, written, loaded and written again, each load as a fresh
// start of the tool: the two writes must be equal (every text the writer puts out reads
// back as it was) and nothing may crash.
// Writes setup.cfg in the working directory.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "client/foundation/config/utils.h"
#include "platform/system/file_replace.h"
#include "tests/tool/fuzz/tool_fuzz_rig.h"
#include "tool/module/gui_setup/setup_writer.h"

namespace {

// The text a save would write after loading `data`; false when the load failed (the tool
// then refuses to save).
bool load_and_write(const char* data, size_t size, std::string* out) {
  free_setup_info();  // a fresh start: no table of an earlier input fills a gap
  if (replace_file(kSetupPath, data, size) != 0) abort();
  if (reload_setup_cfg() < 0) return false;
  *out = compose_setup_cfg(take_setup_snapshot());
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    tool_fuzz::quiet_stdout();
    return true;
  }();
  (void)ready;
  std::string first, second;
  if (!load_and_write(reinterpret_cast<const char*>(data), size, &first)) return 0;
  if (!load_and_write(first.data(), first.size(), &second)) {
    fprintf(stderr, "the written text does not load:\n%s\n", first.c_str());
    abort();
  }
  if (first != second) {
    size_t at = 0;
    while (at < first.size() && at < second.size() && first[at] == second[at]) ++at;
    size_t from = at > 80 ? at - 80 : 0;
    fprintf(stderr, "writes differ at byte %zu:\n--- first\n%s\n--- second\n%s\n", at,
            first.substr(from, 200).c_str(), second.substr(from, 200).c_str());
    abort();
  }
  return 0;
}
