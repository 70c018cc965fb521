// General utilities: message boxes, line coding, date/number/path helpers, text lookup.
#include "client/foundation/config/utils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "client/foundation/config/setup_lookup.h"

std::atomic<int> app_quit{0};

namespace {

std::atomic<MessageBoxFn> box_hook{nullptr};
std::atomic<int> modal_waits{0};

BoxAnswer show_box(const char* title, const char* text, BoxButtons buttons) {
  ModalWait modal;
  MessageBoxFn fn = box_hook.load();
  if (fn) return fn(title, text ? text : "", buttons);
  return show_message_box(title, text ? text : "", buttons);
}

bool is_sep(char c) { return c == '\\' || c == '/'; }

}  // namespace

// ---------------------------------------------------------------------------------------
// Message boxes

void set_message_box_hook(MessageBoxFn fn) { box_hook.store(fn); }

ModalWait::ModalWait() { modal_waits.fetch_add(1); }
ModalWait::~ModalWait() { modal_waits.fetch_sub(1); }
bool modal_wait_active() { return modal_waits.load() > 0; }

BoxAnswer error_box(const char* text) { return show_box(PRODUCT_TITLE, text, BoxButtons::ok); }

BoxAnswer confirm_box(const char* text) {
  return show_box("Warning MessageBox", text, BoxButtons::yes_no);
}

void fatal_box(const char* text) {
  error_box(text);
  app_quit.store(1);
}

void debug_message(const char*) {}

// ---------------------------------------------------------------------------------------
// Bounded copy

int copy_field(char* dst, size_t cap, const char* src) {
  if (!dst || cap == 0) return 1;
  if (!src) src = "";
  size_t n = strnlen(src, cap);
  int cut = 0;
  if (n >= cap) {
    n = cap - 1;
    cut = 1;
  }
  memcpy(dst, src, n);
  dst[n] = '\0';
  return cut;
}

// ---------------------------------------------------------------------------------------
// Line coding

namespace {
char uu_char(unsigned s) { return s == 0 ? '`' : static_cast<char>(s + 32); }
unsigned uu_value(char c) { return (static_cast<unsigned char>(c) - 32u) & 63u; }
}  // namespace

int uuencode_to(char* out, size_t cap, const char* text) {
  if (!out || cap == 0) return -1;
  out[0] = '\0';
  if (!text) return 0;
  size_t n = strlen(text);
  if (n == 0) return 0;
  if (n > 63) return -1;
  size_t need = 1 + (n + 2) / 3 * 4 + 1;
  if (need > cap) return -1;
  const auto* b = reinterpret_cast<const unsigned char*>(text);
  size_t o = 0;
  out[o++] = static_cast<char>((n & 63) + 32);
  for (size_t i = 0; i < n; i += 3) {
    unsigned b0 = b[i];
    unsigned b1 = i + 1 < n ? b[i + 1] : 0;
    unsigned b2 = i + 2 < n ? b[i + 2] : 0;
    out[o++] = uu_char(b0 >> 2);
    out[o++] = uu_char(((b0 & 3) << 4) | (b1 >> 4));
    out[o++] = uu_char(((b1 & 15) << 2) | (b2 >> 6));
    out[o++] = uu_char(b2 & 63);
  }
  out[o] = '\0';
  return static_cast<int>(o);
}

int uudecode_to(char* out, size_t cap, const char* line) {
  if (!out || cap == 0) return -1;
  out[0] = '\0';
  if (!line || line[0] == '\0') return 0;
  size_t n = uu_value(line[0]);
  if (n < 1) {
    printf("ERROR\n");
    return -1;
  }
  const char* p = line + 1;
  size_t o = 0;
  // Stop at n bytes, at the end of the input, or when the caller's buffer is full.
  while (o < n && o + 1 < cap) {
    char c[4];
    int have = 0;
    while (have < 4 && p[have] != '\0') {
      c[have] = p[have];
      ++have;
    }
    if (have < 2) break;  // fewer than two characters carry no whole byte
    for (int k = have; k < 4; ++k) c[k] = '`';
    unsigned v0 = uu_value(c[0]), v1 = uu_value(c[1]), v2 = uu_value(c[2]), v3 = uu_value(c[3]);
    unsigned char bytes[3] = {static_cast<unsigned char>((v0 << 2) | (v1 >> 4)),
                              static_cast<unsigned char>((v1 << 4) | (v2 >> 2)),
                              static_cast<unsigned char>((v2 << 6) | v3)};
    int usable = have - 1;  // 2 chars -> 1 byte, 3 -> 2, 4 -> 3
    for (int k = 0; k < usable && o < n && o + 1 < cap; ++k) out[o++] = static_cast<char>(bytes[k]);
    p += have;
    if (have < 4) break;
  }
  out[o] = '\0';
  return static_cast<int>(o);
}

const char* uuencode_line(const char* text) {
  static char buf[128];
  if (uuencode_to(buf, sizeof buf, text) < 0) buf[0] = '\0';
  return buf;
}

const char* uudecode_line(const char* line) {
  static char buf[128];
  if (uudecode_to(buf, sizeof buf, line) < 0) buf[0] = '\0';
  return buf;
}

// ---------------------------------------------------------------------------------------
// Dates and numbers

const char* event_type_name(uint8_t kind) {
  static thread_local char buf[32];  // the mail worker names events beside the window loop
  const char* name = "";
  if (kind == 0)
    name = "NONE";
  else if (kind & 0x01)
    name = "CONTINUOUS";
  else if (kind & 0x02)
    name = "MOTION";
  else if (kind & 0x04)
    name = "OBJECT DETECT";
  else if (kind & 0x10)
    name = "OCCLUSION";
  else if (kind & 0x20)
    name = "SENSOR";
  else if (kind & 0x40)
    name = "FORCED";
  else if (kind & 0x80)
    name = "VIDEO LOSS";
  copy_field(buf, name);
  return buf;
}

int is_valid_datetime(const char* text) {
  if (!text) return 0;
  int y, mo, d, h, mi, s;
  if (sscanf(text, "%d/%d/%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6) return 0;
  if (y < 1970 || mo < 1 || mo > 12 || d < 1 || d > 31) return 0;
  if (h < 0 || h >= 24 || mi < 0 || mi > 59 || s < 0 || s > 59) return 0;
  if (mo == 2 && d > ((y % 4 == 0) ? 29 : 28)) return 0;
  return 1;
}

int first_weekday_of_month(int month0, int year1900) {
  struct tm t {};
  t.tm_mday = 1;
  t.tm_mon = month0;
  t.tm_year = year1900;
  t.tm_hour = 12;  // noon keeps a daylight-saving shift from moving the day
  t.tm_isdst = -1;
  time_t when = mktime(&t);
  struct tm out {};
  if (when == static_cast<time_t>(-1) || !localtime_r(&when, &out)) return 0;
  return out.tm_wday;
}

void clock_digits(int out[15]) {
  time_t now = time(nullptr);
  struct tm t {};
  localtime_r(&now, &t);
  int year = t.tm_year + 1900, mon = t.tm_mon + 1;
  out[0] = year / 1000 % 10;
  out[1] = year / 100 % 10;
  out[2] = year / 10 % 10;
  out[3] = year % 10;
  out[4] = mon / 10;
  out[5] = mon % 10;
  out[6] = t.tm_mday / 10;
  out[7] = t.tm_mday % 10;
  out[8] = t.tm_wday;
  out[9] = t.tm_hour / 10;
  out[10] = t.tm_hour % 10;
  out[11] = t.tm_min / 10;
  out[12] = t.tm_min % 10;
  out[13] = t.tm_sec / 10;
  out[14] = t.tm_sec % 10;
}

int round_to_step(int value, int step) {
  if (step <= 0) return value;
  int r = value % step;
  return (2 * r <= step) ? value - r : value - r + step;
}

int log2_floor(double x) {
  if (!(x > 0)) return 0;  // also catches NaN
  return static_cast<int>(std::trunc(std::log(x) / std::log(2.0)));
}

double frac_part(double x) { return x - std::trunc(x); }

int point_in_rect(int x, int y, int left, int top, int width, int height) {
  return (left < x && x < left + width && top < y && y < top + height) ? 1 : 0;
}

// ---------------------------------------------------------------------------------------
// Paths and directories

void path_dir(char* out, size_t cap, const char* path) {
  if (!out || cap == 0) return;
  const char* last = nullptr;
  for (const char* p = path ? path : ""; *p; ++p)
    if (is_sep(*p)) last = p;
  if (last) {
    size_t n = static_cast<size_t>(last - path) + 1;
    if (n >= cap) n = cap - 1;
    memcpy(out, path, n);
    out[n] = '\0';
    return;
  }
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) cwd[0] = '\0';
  snprintf(out, cap, "%s/", cwd);
}

void path_file_name(char* out, size_t cap, const char* path) {
  if (!out || cap == 0) return;
  const char* start = path ? path : "";
  for (const char* p = start; *p; ++p)
    if (is_sep(*p)) start = p + 1;
  copy_field(out, cap, start);
}

void path_drive(char* out, size_t cap, const char* path) {
  static char previous[8];
  if (!out || cap == 0) return;
  const char* p = path ? path : "";
  if (!strpbrk(p, "\\/")) {
    copy_field(out, cap, previous);
    return;
  }
  const char* colon = nullptr;
  for (int i = 0; i < 3 && p[i]; ++i)
    if (p[i] == ':') {
      colon = p + i;
      break;
    }
  if (colon) {
    size_t n = static_cast<size_t>(colon - p) + 1;
    memcpy(previous, p, n);
    previous[n] = '\0';
  } else {
    copy_field(previous, "c:");
  }
  copy_field(out, cap, previous);
}

namespace {
bool exists(const char* path) {
  struct stat st {};
  return stat(path, &st) == 0;
}
bool make_one(const std::string& dir) {
  if (dir.empty() || dir == "." || dir == ".." || exists(dir.c_str())) return true;
  return mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST;
}
}  // namespace

int make_dirs(const char* path) {
  if (!path || !*path) return -1;
  if (access(path, R_OK | W_OK) == 0) return 0;
  std::string p(path);
  for (size_t i = 1; i < p.size(); ++i) {
    if (!is_sep(p[i])) continue;
    if (!make_one(p.substr(0, i))) return -1;
  }
  // A trailing separator names the same directory as the prefix before it.
  while (p.size() > 1 && is_sep(p.back())) p.pop_back();
  return make_one(p) ? 0 : -1;
}

int make_dirs_ret0(const char* path) {
  make_dirs(path);
  return 0;
}

int change_dir(const char* path) {
  if (path && chdir(path) != 0) {
    // The result is fixed at 0; a failed change leaves the directory as it was.
  }
  return 0;
}

// ---------------------------------------------------------------------------------------
// Text lookup

namespace {
std::string cached_name;
std::string cached_text;
bool cache_valid = false;
}  // namespace

void clear_config_cache() {
  cached_name.clear();
  cached_text.clear();
  cache_valid = false;
}

const char* get_config_value(const char* key, const char* file) {
  static char value[1024];
  if (!key || !file) return "strstr() failed.";
  if (!cache_valid || cached_name != file) {
    struct stat st {};
    if (stat(file, &st) != 0) return "stat() failed.";
    FILE* fp = fopen(file, "r");
    if (!fp) return "fopen() failed.";
    cached_text.clear();
    cache_valid = false;
    std::string text;
    try {
      text.resize(static_cast<size_t>(st.st_size));
    } catch (...) {
      fclose(fp);
      return "malloc() failed.";
    }
    size_t got = fread(text.data(), 1, text.size(), fp);
    fclose(fp);
    text.resize(got);
    cached_text = std::move(text);
    cached_name = file;
    cache_valid = true;
  }
  const char* at = strstr(cached_text.c_str(), key);
  if (!at || !*key) return "strstr() failed.";
  // The value runs to the line end; the width keeps a long line inside the buffer.
  if (sscanf(at, "%*[^\t =]%*[\t =]%1023[^\n]", value) != 1) return "sscanf() failed.";
  size_t n = strlen(value);
  if (n > 0 && value[n - 1] == '\r') value[n - 1] = '\0';
  return value;
}

const char* language_file_path(const char* dir) {
  static char kept_dir[256];
  static char path[256];
  if (dir) copy_field(kept_dir, dir);
  const char* file = get_language_file(nullptr);
  snprintf(path, sizeof path, "%s%s", kept_dir, file ? file : "");
  return path;
}
