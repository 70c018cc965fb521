// libFuzzer target: the log viewer's two readers. The rest of the input after the first
// byte is both a day file, read line by line into the cells of the log the first byte names,
// and that log's index file, through which the viewer steps day by day. Every line must be
// bounded, free of line ends and NULs, and every cell valid UTF-8; every name the index gives
// must be empty or a day file of that log.
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/tool/fuzz/tool_fuzz_rig.h"
#include "tool/module/logview/log_index.h"
#include "tool/module/logview/log_lines.h"

namespace {

void fail(const char* what, const std::string& text) {
  std::fprintf(stderr, "%s: \"%s\"\n", what, text.c_str());
  std::abort();
}

void check_names(int log) {
  for (const char* name : {prev_log_name, cur_log_name, next_log_name})
    if (name[0] && !is_day_file_name(log, name))
      fail("the index gave a name that is no day file", name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    tool_fuzz::quiet_stdout();
    // The index paths are fixed: "./logs/..." of the working directory.
    if (mkdir("logs", 0700) != 0 && errno != EEXIST) std::abort();
    return true;
  }();
  (void)ready;
  if (size < 1 || size > 65536) return 0;
  const int log = data[0] & 1 ? LOG_SYSTEM : LOG_EVENT;

  if (FILE* day = size > 1 ? fmemopen(const_cast<uint8_t*>(data + 1), size - 1, "rb") : nullptr) {
    LogLineReader reader(day);
    std::string line;
    while (reader.next(&line)) {
      if (line.size() > kMaxLogLine || line.find('\n') != line.npos || line.find('\0') != line.npos)
        fail("a line is not bounded and clean", line);
      std::string_view cells[4];
      const int n = split_log_line(log, line, cells);
      for (int i = 0; i < n; ++i) {
        const std::string cell = valid_utf8(cells[i]);
        if (valid_utf8(cell) != cell) fail("a cell is not valid UTF-8", cell);
      }
    }
    std::fclose(day);
  }

  tool_fuzz::write_file(log_index_path(log), data + 1, size - 1);
  open_today_log_file(log);
  check_names(log);
  // Bounded steps: each one reads the whole index.
  for (int step = 0; step < 4; ++step) {
    find_prev_log_file(log);
    check_names(log);
  }
  for (int step = 0; step < 6; ++step) {
    find_next_log_file(log);
    check_names(log);
  }
  return 0;
}
