// Reading the client's day files into rows of the log lists, without GTK.
//
// A line is read whole (up to kMaxLogLine bytes; the rest of a longer line is dropped), NUL
// bytes are removed (a power loss leaves zero-filled tails), the line end ("\n" or "\r\n")
// is not part of it, and every cell is valid UTF-8 (invalid bytes become U+FFFD), so GTK
// shows every row. Any thread; one reader per file.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

constexpr size_t kMaxLogLine = 4096;

class LogLineReader {
 public:
  // Reads `fp` from its current position; the caller keeps and closes it.
  explicit LogLineReader(FILE* fp) : fp_(fp), buf_(64 * 1024) {}

  // The next line into *line; false at the end of the file. A line that held only NUL bytes
  // is not a line and is passed over; a blank line is one (empty).
  bool next(std::string* line);

 private:
  bool fill();

  FILE* fp_;
  std::vector<char> buf_;
  size_t pos_ = 0, len_ = 0;
  bool eof_ = false;
};

// `text` with every byte that is not part of a valid UTF-8 sequence replaced by U+FFFD.
std::string valid_utf8(std::string_view text);

// The cells of one line after the row number, for `log` (LOG_EVENT or LOG_SYSTEM of
// log_index.h), split at every "|":
//   event:  date&time (field 2), dvr name (3), channel name (4); the sequence number (1)
//           and the kind (5) are not shown;
//   system: date&time (1), Type = kind (3), Window = who (2), Information (4).
// Fields the line does not have are empty. Returns the number of cells (3 or 4).
int split_log_line(int log, std::string_view line, std::string_view cells[4]);
