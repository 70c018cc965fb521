// libFuzzer target: eeprom_data.dat as the DVR Setup window reads it (size word, record, CRC),
// then the record through every page and sub-page loader for every camera count. When the
// first byte is odd the rest is taken as the record and the file gets its right size and
// CRC, so the loaders see records that pass the check. The four main pages are stored back
// twice: a record the tool saved must load and save to the same bytes again (unless its
// recording resolution was none the pages know: they then show the NTSC list whatever the
// video format, and the first save makes the resolution known).
#include <cstdint>
#include <cstring>
#include <vector>

#include "tests/tool/fuzz/tool_fuzz_rig.h"
#include "tool/kpt4100/edata_model.h"
#include "tool/kpt4100/eeprom_file.h"

namespace {

std::vector<uint8_t> saved(const uint8_t* ed, int n, bool has_480) {
  std::vector<uint8_t> out(ed, ed + EDATA_SIZE);
  MainPages p = blank_pages(n, has_480);
  load_all_values(ed, &p);
  const char* error = nullptr;
  if (store_all_values(p, out.data(), &error) != 0) out.clear();
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = [] {
    tool_fuzz::quiet_stdout();
    return std::string(kEepromFile);
  }();
  if (size < 1 || size > 2 * EEPROM_FILE_SIZE) return 0;
  if (data[0] & 1) {
    std::vector<uint8_t> record(EDATA_SIZE, 0);
    std::memcpy(record.data(), data + 1, size - 1 < record.size() ? size - 1 : record.size());
    uint8_t image[EEPROM_FILE_SIZE];
    compose_eeprom_image(record.data(), image);
    tool_fuzz::write_file(path, image, sizeof image);
  } else {
    tool_fuzz::write_file(path, data + 1, size - 1);
  }
  if (read_eeprom_file(path.c_str()) != 0 || !edata_is_valid()) return 0;
  const uint8_t* ed = get_edata();
  const int n = edata_channels(((data[0] >> 1) & 0x1F) % 17);
  const bool has_480 = (data[0] & 0x40) == 0;
  const std::vector<uint8_t> once = saved(ed, n, has_480);
  if (!once.empty() && resolution_item_of(ed[ED_NRESOL]) >= 0) {
    const std::vector<uint8_t> twice = saved(once.data(), n, has_480);
    if (twice != once) {
      size_t at = 0;
      while (at < once.size() && at < twice.size() && once[at] == twice[at]) ++at;
      std::fprintf(stderr, "a saved record saves differently again at byte %zu\n", at);
      std::abort();
    }
  }
  std::vector<uint8_t> scratch(ed, ed + EDATA_SIZE);
  for (int ch = 0; ch <= n; ++ch) {
    PtzValues ptz;
    ColorValues color;
    MotionValues motion;
    SensorValues sensor;
    uint8_t cells[SCHED_CELLS];
    load_ptz_values(ed, ch, &ptz);
    load_color_values(ed, ch, &color);
    load_motion_values(ed, ch, &motion);
    load_sensor_values(ed, ch, &sensor);
    load_schedule_cells(ed, ch, cells);
    store_ptz_values(ptz, scratch.data(), ch, n);
    store_color_values(color, scratch.data(), ch, n);
    store_motion_values(motion, scratch.data(), ch, n);
    store_sensor_values(sensor, scratch.data(), ch, n);
    store_schedule_cells(cells, scratch.data(), ch, n);
  }
  return 0;
}
