// Day files of the client's logs for the viewer's tests, written by the client's own writers
// in the current directory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "client/foundation/config/system_log.h"
#include "tool/module/logview/log_index.h"

// Noon, local time, `days_ago` days before today (noon keeps clear of DST shifts).
inline uint64_t day_time(int days_ago) {
  time_t now = time(nullptr);
  struct tm t {};
  localtime_r(&now, &t);
  t.tm_mday -= days_ago;
  t.tm_hour = 12;
  t.tm_min = t.tm_sec = 0;
  t.tm_isdst = -1;
  return static_cast<uint64_t>(mktime(&t));
}

// The day file name of `log` for that day.
inline std::string day_name(int log, int days_ago) {
  time_t when = static_cast<time_t>(day_time(days_ago));
  struct tm t {};
  localtime_r(&when, &t);
  char name[64];
  strftime(name, sizeof name, log == LOG_SYSTEM ? "./logs/sys%Y%m%d.txt" : "./logs/%Y%m%d.txt", &t);
  return name;
}

// `count` event lines of DVR `dvr` on that day, numbered from `first`.
inline void write_event_lines(int days_ago, int count, const char* dvr, int first = 1) {
  uint64_t when = day_time(days_ago);
  for (int i = 0; i < count; ++i) {
    char line[200];
    format_event_log_line(line, sizeof line, first + i, "2024-01-31 10:00:00", dvr, i % 16 + 1,
                          0x02);
    write_event_log(line, &when);
  }
}
