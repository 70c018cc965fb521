#include "client/foundation/win_helpers.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iconv.h>
#include <sstream>
#include <langinfo.h>
#include <string>
#include <unistd.h>

#include "client/foundation/config/app_options.h"
#include "client/foundation/config/utils.h"
#include "platform/system/process.h"
#include "platform/system/wave_out.h"
#include "platform/system/x11_windows.h"

int raise_window(const char* title) {
  unsigned long w = x11_find_window(title);
  if (!w) return 0;
  x11_raise_window(w);
  return 1;
}

int window_exists(const char* title) { return x11_find_window(title) ? 1 : 0; }

int raise_own_window(const char* title, int pid) {
  if (pid <= 0) return -1;
  unsigned long w = x11_find_window(title, pid);
  if (!w) return -1;
  return x11_raise_window(w) == 0 ? 0 : -1;
}

int close_own_window(const char* title, int pid) {
  if (pid <= 0) return 0;
  unsigned long w = x11_find_window(title, pid);
  if (w) x11_close_window(w);
  return 0;
}

namespace {
std::atomic<unsigned long> own_window{0};
}  // namespace

int mark_own_window(unsigned long x_window) {
  own_window.store(x_window);
  return x11_set_window_pid(x_window, static_cast<int>(getpid()));
}

int move_window_by(int dx, int dy) { return x11_move_window_by(own_window.load(), dx, dy); }

int set_wave_volume(int percent) {
  if (!wave_out_present()) return -1;
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  const uint16_t v = static_cast<uint16_t>(percent * 65535 / 100);
  wave_out_set_volume(v, v);
  return 0;
}

int get_wave_volume() {
  uint16_t left = 0, right = 0;
  if (wave_out_get_volume(&left, &right) != 0) return 0;
  return ((left + right) / 2) * 100 / 65535;
}

int open_file_dialog(const char* initial_dir, char* out, size_t cap) {
  if (!out || cap == 0) return -1;
  out[0] = '\0';
  // The dialog is the platform's filechooser program beside this one; it prints the path.
  const char* dir = app_options.program_dir;
  const std::string program = std::string(dir[0] ? dir : "./") + "filechooser";
  std::string start = initial_dir ? initial_dir : "";
  for (char& c : start)
    if (c == '\\') c = '/';
  char answer[] = "/tmp/vigilo-open-XXXXXX";
  const int fd = mkstemp(answer);
  if (fd < 0) return -1;
  close(fd);
  const char* argv[] = {program.c_str(), start.c_str(), nullptr};
  int code = -1;
  {
    ModalWait modal;
    const int pid = start_process(argv, answer);
    if (pid > 0)
      while (wait_process(pid, 1000, &code) == 1) {}
  }
  std::ifstream f(answer);
  std::stringstream text;
  text << f.rdbuf();
  unlink(answer);
  const std::string path = text.str();
  // The path buffer holds 520 characters; a longer path is refused, not cut.
  if (code != 0 || path.empty() || path.size() >= 520 || path.size() >= cap) return -1;
  memcpy(out, path.c_str(), path.size() + 1);
  return 0;
}

namespace {

// The character set of the current locale, or "" when it is plain ASCII or UTF-8: the C
// locale of a service has no code page of its own, and the texts it meets are UTF-8.
std::string system_charset() {
  const char* cs = nl_langinfo(CODESET);
  if (!cs || !*cs) return "";
  std::string s = cs;
  if (s == "UTF-8" || s == "utf8" || s == "ANSI_X3.4-1968" || s == "ASCII") return "";
  return s;
}

char* dup_text(const char* text) {
  size_t n = strlen(text);
  char* out = static_cast<char*>(malloc(n + 1));
  if (out) memcpy(out, text, n + 1);
  return out;
}

char* convert(const char* text, const char* to, const char* from) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return dup_text(text);
  size_t in_left = strlen(text);
  // Every input byte grows to at most four output bytes between these character sets.
  size_t cap = in_left * 4 + 1;
  char* out = static_cast<char*>(malloc(cap));
  if (!out) {
    iconv_close(cd);
    return nullptr;
  }
  char* in = const_cast<char*>(text);
  char* dst = out;
  size_t out_left = cap - 1;
  while (in_left > 0) {
    if (iconv(cd, &in, &in_left, &dst, &out_left) != static_cast<size_t>(-1)) break;
    if ((errno == EILSEQ || errno == EINVAL) && out_left > 0) {
      *dst++ = '?';
      --out_left;
      ++in;
      --in_left;
      continue;
    }
    break;  // E2BIG cannot happen with the room above; stop with what was converted
  }
  *dst = '\0';
  iconv_close(cd);
  return out;
}

}  // namespace

char* utf8_to_ansi(const char* text) {
  if (!text) return nullptr;
  std::string cs = system_charset();
  return cs.empty() ? dup_text(text) : convert(text, cs.c_str(), "UTF-8");
}

char* ansi_to_utf8(const char* text) {
  if (!text) return nullptr;
  std::string cs = system_charset();
  return cs.empty() ? dup_text(text) : convert(text, "UTF-8", cs.c_str());
}
