// The daily system and event logs and their indexes.
#include "client/foundation/config/system_log.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "client/foundation/config/app_options.h"
#include "client/foundation/config/utils.h"

namespace {
// A run of failed event-log writes is told once in the system log.
std::atomic<bool> event_log_failing{false};
std::atomic<void (*)(const char*)> index_hook{nullptr};
}  // namespace

void set_log_index_hook(void (*hook)(const char* day_file)) { index_hook.store(hook); }

int add_to_log_index(const char* index_file, const char* day_file) {
  if (!index_file || !day_file) return -1;
  FILE* fp = fopen(index_file, "a+");
  if (!fp) return -1;
  // Two writers adding the same day file at once would both miss it and list it twice. They
  // may be threads or the client and the setup tool, so the lock is on the index file itself
  // (each opening is locked apart); closing the file releases it after the line is out.
  while (flock(fileno(fp), LOCK_EX) != 0 && errno == EINTR) {}
  size_t len = strlen(day_file);
  char line[1024];
  rewind(fp);
  while (fgets(line, sizeof line, fp)) {
    if (strncmp(line, day_file, len) == 0) {
      fclose(fp);
      return 0;
    }
  }
  if (auto hook = index_hook.load()) hook(day_file);
  fprintf(fp, "%s\n", day_file);
  fclose(fp);
  return 0;
}

namespace {

// Today's time stamp and day file of the system log: false when there is no local time.
bool system_log_now(char (&stamp)[32], char (&day_file)[64]) {
  time_t now = time(nullptr);
  struct tm t {};
  if (!localtime_r(&now, &t)) return false;
  strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &t);
  strftime(day_file, sizeof day_file, "./logs/sys%Y%m%d.txt", &t);
  return true;
}

// Appends line[n] (snprintf's count) to the day file with one write and lists the file.
int append_system_line(const char* day_file, char* line, size_t cap, int n) {
  if (n < 0) return -1;
  size_t len = static_cast<size_t>(n);
  if (len >= cap) {  // a cut line still ends its line
    len = cap - 1;
    line[len - 1] = '\n';
  }

  // A fresh install has no ./logs/ yet; without it every line would be lost.
  mkdir("./logs", 0755);
  int fd = open(day_file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  ssize_t w = write(fd, line, len);
  close(fd);
  if (w != static_cast<ssize_t>(len)) return -1;
  add_to_log_index("./logs/sysindex.txt", day_file);
  return 0;
}

}  // namespace

int write_system_log(int code, const char* user, const char* text) {
  char stamp[32];
  char day_file[64];
  if (!system_log_now(stamp, day_file)) return -1;
  const char* u = user ? user : "";
  const char* x = text ? text : "";

  // Each kind's line after the stamp and the user; its last field is the user's name or the
  // caller's text.
  struct Kind {
    const char* format;
    bool of_text;
  };
  static const Kind kKinds[] = {
      {"%s|%s|START|%s - Program start.\n", false},
      {"%s|%s|EXIT|%s - Program exit.\n", false},
      {"%s|%s|CHECK|%s - Program check for auto update.\n", false},
      {"%s|%s|UPDATE|%s - Program update.\n", false},
      {"%s|%s|LOGIN|[%s] is login. \n", true},
      {"%s|%s|CONNECTING|Try to connect to <DVR : %s>\n", true},
      {"%s|%s|DISCONNECT|Disconnect from <DVR : %s>\n", true},
      {"%s|%s|CONNECTING|Try to connect to <GROUP : %s>\n", true},
      {"%s|%s|DISCONNECT|Disconnect from <GROUP : %s>\n", true},
      {"%s|%s|CONNECTING|The connection to <%s> is success.\n", true},
      {"%s|%s|EXIT|%s - Program exit.\n", true},
  };
  char line[1024];
  int n;
  if (code >= 0 && code < int(sizeof kKinds / sizeof kKinds[0]))
    n = snprintf(line, sizeof line, kKinds[code].format, stamp, u, kKinds[code].of_text ? x : u);
  else
    n = snprintf(line, sizeof line, "%s|UNKNOW\n", stamp);
  return append_system_line(day_file, line, sizeof line, n);
}

std::string system_log_field(std::string text) {
  for (char& c : text)
    if (c == '|' || static_cast<unsigned char>(c) < 0x20) c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

int write_system_log_line(const char* kind, const char* user, const char* text) {
  char stamp[32];
  char day_file[64];
  if (!system_log_now(stamp, day_file)) return -1;
  char line[1024];
  const int n = snprintf(line, sizeof line, "%s|%s|%s|%s\n", stamp,
                         system_log_field(user ? user : "").c_str(), kind ? kind : "",
                         system_log_field(text ? text : "").c_str());
  return append_system_line(day_file, line, sizeof line, n);
}

size_t format_event_log_line(char* out, size_t size, int number, const char* when,
                             const char* dvr_name, int channel, uint8_t kind) {
  if (!out || size == 0) return 0;
  int n = snprintf(out, size, "%d|%s|%s|CH %02d|%s", number, when ? when : "",
                   dvr_name ? dvr_name : "", channel, kind == 0x02 ? "Motion" : "Sensor");
  if (n < 0) {
    out[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
}

int write_event_log(const char* line, const uint64_t* event_time) {
  if (!line || !event_time) return -1;
  const time_t t = static_cast<time_t>(*event_time);
  struct tm local {};
  if (!localtime_r(&t, &local)) return -1;
  char day_file[64];
  strftime(day_file, sizeof day_file, "./logs/%Y%m%d.txt", &local);
  mkdir("./logs", 0755);
  std::string text(line);
  text += '\n';
  errno = 0;
  int fd = open(day_file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  bool whole = false;
  if (fd >= 0) {
    whole = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (close(fd) != 0) whole = false;
  }
  if (!whole) {
    // The operator learns of lost events from the system log: once, until a line goes out.
    const int err = errno ? errno : EIO;
    if (!event_log_failing.exchange(true)) {
      char why[320];
      snprintf(why, sizeof why, "Event log not written: %s (%s)", day_file, strerror(err));
      write_system_log_line("ERROR", app_options.user_id, why);
    }
    return -1;
  }
  event_log_failing.store(false);
  add_to_log_index("./logs/index.txt", day_file);
  return 0;
}
