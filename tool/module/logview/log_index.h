// Day-by-day navigation of the client's logs through their index files, without GTK.
//
// The event log lists its day files in "./logs/index.txt", the system log in
// "./logs/sysindex.txt". The viewer keeps one set of three names (previous, current, next
// day file) shared by both logs and both windows; an empty name means "none". Only words of
// an index that have the day-file form ever become one of the names, so a damaged or edited
// index can never make the viewer open or create a file outside ./logs/.
// GTK main thread only (the names are plain globals).
#pragma once

#include <cstddef>

// The `log` argument of the functions below.
enum : int { LOG_EVENT = 0, LOG_SYSTEM = 1 };

constexpr size_t kLogNameSize = 40;
extern char prev_log_name[kLogNameSize];
extern char cur_log_name[kLogNameSize];
extern char next_log_name[kLogNameSize];

// "./logs/index.txt" or "./logs/sysindex.txt".
const char* log_index_path(int log);

// True when `word` is a day file of that log: "./logs/" + 8 digits + ".txt" (event) or
// "./logs/sys" + 8 digits + ".txt" (system).
bool is_day_file_name(int log, const char* word);

// Current = today's day file; previous and next = its neighbours in the index. A missing
// index is created; today's name is appended when the index does not list it (it is then
// the last: next stays empty). When the index cannot be opened (no ./logs/), previous and
// next are left empty and one line goes to standard output.
void open_today_log_file(int log);

// Steps to the previous day of the index (nothing when there is none): the old current name
// becomes next, the previous one current, and the name listed before it previous.
void find_prev_log_file(int log);

// Steps to the next day of the index (nothing when there is none).
void find_next_log_file(int log);
