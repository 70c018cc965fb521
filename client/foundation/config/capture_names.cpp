// Snapshot and capture file names, and the outside BMP-to-JPEG converter.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "client/foundation/config/app_options.h"
#include "client/foundation/config/setup_config.h"
#include "client/foundation/config/utils.h"
#include "platform/system/process.h"

namespace {

// How long a conversion may take, and how long an overdue converter gets to end once told.
constexpr int kConvertWaitMs = 3000;
constexpr int kConvertEndMs = 1000;
constexpr int kConvertSliceMs = 50;

unsigned snapshot_seq = 0;
// The event worker names its snapshots while the window names the operator's captures.
std::atomic<unsigned> capture_seq{0};

bool ends_with_sep(const std::string& s) {
  return !s.empty() && (s.back() == '/' || s.back() == '\\');
}

// A DVR name becomes part of a file name: separators and ".." would let it climb out of
// the record directory, so they turn into '_'.
std::string safe_name(const char* name) {
  std::string out(name ? name : "");
  for (size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '/' || out[i] == '\\') out[i] = '_';
    if (out[i] == '.' && i + 1 < out.size() && out[i + 1] == '.') out[i] = out[i + 1] = '_';
  }
  return out;
}

int compose(char* out, size_t cap, const std::string& dir, const char* dvr_name, int channel,
            unsigned seq, const char* ext) {
  if (!out || cap == 0) return -1;
  time_t now = time(nullptr);
  struct tm t {};
  localtime_r(&now, &t);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &t);
  int n = snprintf(out, cap, "%s%s-%02d-%s-%02u.%s", dir.c_str(), safe_name(dvr_name).c_str(),
                   channel, stamp, seq, ext ? ext : "");
  if (n < 0 || static_cast<size_t>(n) >= cap) {
    out[0] = '\0';
    return -1;
  }
  return 0;
}

}  // namespace

std::string capture_folder(const APP_OPTIONS* opts) {
  std::string dir = get_rec_path();
  // "\" is no separator here; a path written for the other platform still names a folder.
  for (char& c : dir)
    if (c == '\\') c = '/';
  // ".\" (or an empty path) means the program's own directory, which does not move when
  // something changes the current directory.
  if (dir.empty() || dir == "./") dir = opts && opts->program_dir[0] ? opts->program_dir : "./";
  if (!ends_with_sep(dir)) dir += '/';
  return dir;
}

int make_capture_name(const APP_OPTIONS* opts, char* out, size_t cap, const char* dvr_name,
                      int channel, const char* ext) {
  const std::string dir = capture_folder(opts);
  if (make_dirs(dir.c_str()) != 0) {
    if (out && cap) out[0] = '\0';
    return -1;
  }
  return compose(out, cap, dir, dvr_name, channel, capture_seq++, ext);
}

int make_snapshot_name(const APP_OPTIONS* opts, char* out, size_t cap, const char* dvr_name,
                       int channel, const char* ext) {
  std::string dir = get_rec_path();
  if (dir.empty()) {
    if (out && cap) out[0] = '\0';
    return -1;
  }
  if (!ends_with_sep(dir)) dir += '/';
  return compose(out, cap, dir, dvr_name, channel, snapshot_seq++, ext);
}

int convert_to_jpeg(const char* bmp_path, const char* jpg_path, const std::atomic<bool>* cancel) {
  if (!bmp_path || !jpg_path) return -1;
  const char* argv[] = {"cjpeg", "-quality", "100", bmp_path, nullptr};
  int pid = start_process(argv, jpg_path);
  if (pid <= 0) return -1;
  int code = -1, waited = 1;
  // In slices, so a caller that is ending ends a hung converter at once.
  for (int left = kConvertWaitMs; waited == 1 && left > 0; left -= kConvertSliceMs) {
    if (cancel && cancel->load()) break;
    waited = wait_process(pid, std::min(left, kConvertSliceMs), &code);
  }
  if (waited == 1) {
    // Overdue or cancelled: the caller deletes its files now, so the converter must not
    // write on.
    if (terminate_process(pid) == 0) wait_process(pid, kConvertEndMs, nullptr);
    return -1;
  }
  return waited == 0 && code == 0 ? 0 : -1;
}
