// libFuzzer target: the E-Map's three files. The first byte picks the file the rest is:
// emap.cfg is loaded, written from its tables, loaded and written again, and the two writes
// must be equal (what the window saves reads back as it was); device.cfg and
// remote-emap-buttons.cfg are loaded and every entry's frames looked up and checked against a
// sheet, as the window does before cutting a picture.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/tool/fuzz/tool_fuzz_rig.h"
#include "tool/emap/emap_config.h"

namespace {

// emap.cfg's text as the window would write it after loading `path`; false when the load
// or the composition refused.
bool load_and_compose(const std::string& path, std::string* out) {
  if (load_emap_info(path.c_str()) != 0) return false;
  std::string why;
  return compose_emap_cfg(emap_tables(), nullptr, out, &why) == 0;
}

void check_frames(const imgmap_info* entries, int count) {
  for (int i = 0; i < count; ++i)
    for (int state = 0; state <= 5; ++state)
      sprite_frame_fits(entries[i], find_state_frame(entries[i], state), 640, 480);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    tool_fuzz::quiet_stdout();
    return std::string(kEmapPath);
  }();
  if (size < 1 || size > 65536) return 0;
  tool_fuzz::write_file(path, data + 1, size - 1);
  switch (data[0] % 3) {
    case 0: {
      std::string first, second;
      if (!load_and_compose(path, &first)) return 0;
      tool_fuzz::write_file(path, reinterpret_cast<const uint8_t*>(first.data()), first.size());
      if (!load_and_compose(path, &second)) {
        std::fprintf(stderr, "the written emap.cfg does not load:\n%s\n", first.c_str());
        std::abort();
      }
      if (first != second) {
        size_t at = 0;
        while (at < first.size() && at < second.size() && first[at] == second[at]) ++at;
        const size_t from = at > 80 ? at - 80 : 0;
        std::fprintf(stderr, "writes differ at byte %zu:\n--- first\n%s\n--- second\n%s\n", at,
                     first.substr(from, 200).c_str(), second.substr(from, 200).c_str());
        std::abort();
      }
      break;
    }
    case 1:
      if (load_device_cfg(path.c_str()) == 0)
        for (int sheet = 0; sheet < kEmapDeviceSheets; ++sheet)
          check_frames(get_device_table(sheet), get_num_device_entries());
      break;
    default:
      if (load_emap_button_cfg(path.c_str()) == 0)
        check_frames(get_emap_button_info(), get_num_emap_buttons());
      break;
  }
  return 0;
}
