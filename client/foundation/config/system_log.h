// The daily system log "./logs/sys%Y%m%d.txt" and its index "./logs/sysindex.txt".
//
// Each call opens, appends one whole line with a single write, and closes, so lines from
// the window loops and the connection threads never interleave. "./logs/" is created when
// missing. Any thread may call it.
#pragma once

// Line kinds of write_system_log.
enum : int {
  SYSLOG_START = 0,
  SYSLOG_EXIT = 1,
  SYSLOG_CHECK = 2,
  SYSLOG_UPDATE = 3,
  SYSLOG_LOGIN = 4,
  SYSLOG_CONNECT_DVR = 5,
  SYSLOG_DISCONNECT_DVR = 6,
  SYSLOG_CONNECT_GROUP = 7,
  SYSLOG_DISCONNECT_GROUP = 8,
  SYSLOG_CONNECTED = 9,
};

// Appends the line of `code` (other codes: "<time>|UNKNOW") to today's file and lists the
// file once in the index. 0, or -1 when the local time or the day file is not available
// (the line is lost; the index is left alone).
int write_system_log(int code, const char* user, const char* text);

// Lists `day_file` in `index_file` unless a line already starts with it. 0, or -1 when the
// index cannot be opened. Shared with the event log.
int add_to_log_index(const char* index_file, const char* day_file);
