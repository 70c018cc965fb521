// The client's daily logs: the system log "./logs/sys%Y%m%d.txt" with its index
// "./logs/sysindex.txt", and the event log "./logs/%Y%m%d.txt" with "./logs/index.txt".
//
// Each call opens, appends one whole line with a single write, and closes, so lines from
// the window loops and the connection threads never interleave. "./logs/" is created when
// missing. Any thread may call it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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
  // EXIT with the text after the second '|' where SYSLOG_EXIT repeats the name: the E-Map
  // logs its source with no text, "<time>|EMAP|EXIT| - Program exit.".
  SYSLOG_EXIT_TEXT = 10,
};

// Appends the line of `code` (other codes: "<time>|UNKNOW") to today's file and lists the
// file once in the index. 0, or -1 when the local time or the day file is not available
// (the line is lost; the index is left alone).
int write_system_log(int code, const char* user, const char* text);

// The same for a line the codes above do not cover: "<time>|<user>|<kind>|<text>\n". The user
// and the text go through system_log_field, so a DVR name or a peer's reason cannot add a
// field or a line.
int write_system_log_line(const char* kind, const char* user, const char* text);

// `text` as one field of a log line: the field separator '|' and control characters (line
// breaks included) become spaces, and blanks at its end go.
std::string system_log_field(std::string text);

// Lists `day_file` in `index_file` unless a line already starts with it. 0, or -1 when the
// index cannot be opened. Shared with the event log. Writers in other threads and processes
// (the client and the setup tool) take turns through a lock on the index file.
int add_to_log_index(const char* index_file, const char* day_file);
// Test seam: called by add_to_log_index after it found `day_file` missing, before it appends
// it (null: nothing).
void set_log_index_hook(void (*hook)(const char* day_file));

// The event log's line of one event, without its line end: "%d|%s|%s|CH %02d|Motion" for
// kind 0x02, "...|Sensor" otherwise (number, "%Y-%m-%d %H:%M:%S" time, DVR name, 1-based
// channel). Cut to fit `size`; returns the length written.
size_t format_event_log_line(char* out, size_t size, int number, const char* when,
                             const char* dvr_name, int channel, uint8_t kind);

// Appends `line` and a newline to "./logs/%Y%m%d.txt" named by the local day of *event_time
// (seconds since 1970), and lists that file once in "./logs/index.txt". "./logs/" is created
// when missing. 0; -1 when the time has no local time or the line cannot be written whole
// (it is lost and the index left alone; the first of a run of such failures writes the
// system log line "<time>|<user>|ERROR|Event log not written: <file> (<reason>)"). Any thread.
int write_event_log(const char* line, const uint64_t* event_time);
