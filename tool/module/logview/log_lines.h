// Reading the client's day files into rows of the log lists, keeping the rows and sorting
// them by a column, without GTK.
//
// A line is read whole (up to kMaxLogLine bytes; the rest of a longer line is dropped), NUL
// bytes are removed (a power loss leaves zero-filled tails), the line end ("\n" or "\r\n")
// is not part of it, and every cell is valid UTF-8 (invalid bytes become U+FFFD), so GTK
// shows every row. Any thread; one reader per file.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
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

// The rows of one list in file order: row r is numbered r + 1 and holds `cells` texts (3
// event, 4 system), packed into blocks of text so that a day of millions of rows costs
// little more than its file. Appending is for one thread; reading, sorting included, may run
// on several threads at once while nobody appends.
class LogRows {
 public:
  explicit LogRows(int cells) : cells_(cells) {}
  int cells() const { return cells_; }
  size_t size() const { return rows_.size(); }
  // Adds a row of cells()[i] texts (no NUL inside; longer ones are cut to kMaxLogLine x 3).
  void append(const std::string_view* cells);
  // Cell c (0-based) of row r: a text that ends in a NUL at data()[size()].
  std::string_view cell(size_t r, int c) const;

 private:
  static constexpr int kBlockBits = 20;  // 1 MiB blocks; a row never spans two
  int cells_;
  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t used_ = size_t(1) << kBlockBits;  // of the last block
  // block << kBlockBits | offset of the first cell; a deque, as moving millions of entries
  // to grow would stall the thread that appends.
  std::deque<uint64_t> rows_;
};

// A sort that another thread may stop, and how far it got (done of total steps).
struct SortControl {
  std::atomic<bool> cancel{false};
  std::atomic<uint64_t> done{0};
  std::atomic<uint64_t> total{1};
};

// The rows of `rows` in the order of column `column`: 0 the row number, 1.. the cells,
// compared byte by byte; rows of equal cells keep their file order in either direction.
// Returns false, with *order untouched, when control->cancel was set before it ended.
bool sort_log_rows(const LogRows& rows, int column, bool descending, SortControl* control,
                   std::vector<uint32_t>* order);
