// Day file lines and their cells.
#include "tool/module/logview/log_lines.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "tool/module/logview/log_index.h"

bool LogLineReader::fill() {
  if (eof_) return false;
  len_ = fread(buf_.data(), 1, buf_.size(), fp_);
  pos_ = 0;
  if (len_ == 0) eof_ = true;
  return len_ > 0;
}

bool LogLineReader::next(std::string* line) {
  for (;;) {
    line->clear();
    size_t raw = 0;  // bytes of the line as stored, line end excluded
    bool ended = false;
    while (!ended) {
      if (pos_ == len_ && !fill()) break;
      const char* start = buf_.data() + pos_;
      const size_t avail = len_ - pos_;
      const char* nl = static_cast<const char*>(memchr(start, '\n', avail));
      const size_t seg = nl ? static_cast<size_t>(nl - start) : avail;
      pos_ += nl ? seg + 1 : seg;
      ended = nl != nullptr;
      raw += seg;
      // Keep at most kMaxLogLine bytes; NULs are dropped and take no room.
      for (size_t i = 0; i < seg && line->size() < kMaxLogLine;) {
        const char* z = static_cast<const char*>(memchr(start + i, '\0', seg - i));
        const size_t stop = z ? static_cast<size_t>(z - start) : seg;
        const size_t run = std::min(stop - i, kMaxLogLine - line->size());
        line->append(start + i, run);
        i += run;
        if (i == stop && z) ++i;
      }
    }
    if (!ended && raw == 0) return false;  // the end of the file
    // Bytes that were all NUL are no line the client wrote.
    if (raw > 0 && line->empty()) continue;
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return true;
  }
}

std::string valid_utf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const size_t n = s.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char c = p[i];
    size_t len = 0;
    uint32_t min = 0;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      len = 2, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4, min = 0x10000;
    }
    bool ok = len > 0 && i + len <= n;
    uint32_t cp = ok ? (c & (0xFF >> (len + 1))) : 0;
    for (size_t k = 1; ok && k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    ok = ok && cp >= min && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
    if (ok) {
      out.append(s.data() + i, len);
      i += len;
    } else {
      out.append("\xEF\xBF\xBD");
      ++i;
    }
  }
  return out;
}

int split_log_line(int log, std::string_view line, std::string_view cells[4]) {
  std::string_view field[5];
  size_t count = 0;
  size_t at = 0;
  while (count < 5) {
    size_t bar = line.find('|', at);
    field[count++] = line.substr(at, bar == std::string_view::npos ? line.npos : bar - at);
    if (bar == std::string_view::npos) break;
    at = bar + 1;
  }
  if (log == LOG_SYSTEM) {
    cells[0] = field[0];
    cells[1] = field[2];
    cells[2] = field[1];
    cells[3] = field[3];
    return 4;
  }
  cells[0] = field[1];
  cells[1] = field[2];
  cells[2] = field[3];
  cells[3] = {};
  return 3;
}

// ---- rows and their sort -------------------------------------------------------------------

void LogRows::append(const std::string_view* cells) {
  constexpr size_t kBlock = size_t(1) << kBlockBits;
  constexpr size_t kMaxCell = kMaxLogLine * 3;  // a line of invalid bytes, each made U+FFFD
  size_t need = 0;
  for (int c = 0; c < cells_; ++c) need += std::min(cells[c].size(), kMaxCell) + 1;
  if (used_ + need > kBlock) {
    blocks_.push_back(std::make_unique<char[]>(kBlock));
    used_ = 0;
  }
  rows_.push_back(uint64_t(blocks_.size() - 1) << kBlockBits | used_);
  char* p = blocks_.back().get() + used_;
  for (int c = 0; c < cells_; ++c) {
    const size_t n = std::min(cells[c].size(), kMaxCell);
    if (n) std::memcpy(p, cells[c].data(), n);
    p[n] = '\0';
    p += n + 1;
  }
  used_ += need;
}

std::string_view LogRows::cell(size_t r, int c) const {
  const uint64_t at = rows_[r];
  const char* p = blocks_[at >> kBlockBits].get() + (at & ((uint64_t(1) << kBlockBits) - 1));
  for (; c > 0; --c) p += std::strlen(p) + 1;
  return std::string_view(p);
}

namespace {

// One row in a sort: eight bytes of its text from where the column's texts start to differ
// (big-endian, so integer order is byte order; zeros past the end), and whether the text
// goes on behind them. Most comparisons end on the key without touching the texts.
struct SortEntry {
  uint64_t key;
  uint32_t row;
  uint32_t more;
};
static_assert(sizeof(SortEntry) == 16);

constexpr size_t kSortChunk = size_t(1) << 16;
constexpr uint64_t kChunkWeight = 16;  // a chunk sort costs about log2(kSortChunk) merges

}  // namespace

bool sort_log_rows(const LogRows& rows, int column, bool descending, SortControl* control,
                   std::vector<uint32_t>* order) {
  const size_t n = rows.size();
  std::vector<uint32_t> out(n);
  control->done = 0;
  if (column < 1 || column > rows.cells()) {  // row numbers: unique and in file order
    for (size_t i = 0; i < n; ++i) out[i] = uint32_t(descending ? n - 1 - i : i);
    control->total = 1;
    control->done = 1;
    *order = std::move(out);
    return true;
  }
  if (control->cancel.load()) return false;
  const int c = column - 1;
  size_t passes = 0;
  for (size_t w = kSortChunk; w < n; w *= 2) ++passes;
  control->total = uint64_t(n) * (2 + kChunkWeight + passes) + 1;

  // Where the texts start to differ: a day's date and time share their first eleven bytes.
  size_t skip = n ? rows.cell(0, c).size() : 0;
  const std::string_view first = n ? rows.cell(0, c) : std::string_view();
  for (size_t r = 1; r < n && skip > 0; ++r) {
    const std::string_view t = rows.cell(r, c);
    size_t k = 0;
    const size_t m = std::min(skip, t.size());
    while (k < m && t[k] == first[k]) ++k;
    skip = k;
    if ((r & 0xFFFF) == 0) {
      control->done += 0x10000;
      if (control->cancel.load()) return false;
    }
  }
  std::vector<SortEntry> entries(n);
  for (size_t r = 0; r < n; ++r) {
    const std::string_view t = rows.cell(r, c);
    uint64_t key = 0;
    for (size_t k = 0; k < 8; ++k) {
      const size_t at = skip + k;
      key = key << 8 | (at < t.size() ? uint8_t(t[at]) : 0);
    }
    entries[r] = {key, uint32_t(r), t.size() > skip + 8 ? 1u : 0u};
    if ((r & 0xFFFF) == 0xFFFF) {
      control->done += 0x10000;
      if (control->cancel.load()) return false;
    }
  }
  // Text order (flipped when descending), then file order.
  auto less = [&rows, c, skip, descending](const SortEntry& a, const SortEntry& b) {
    int t = a.key < b.key ? -1 : a.key > b.key;
    if (t == 0 && (a.more | b.more)) {
      if (a.more && b.more)
        t = rows.cell(a.row, c).substr(skip + 8).compare(rows.cell(b.row, c).substr(skip + 8));
      else
        t = a.more ? 1 : -1;  // the same bytes, and one of them ends there
    }
    if (t != 0) return descending ? t > 0 : t < 0;
    return a.row < b.row;
  };
  for (size_t lo = 0; lo < n; lo += kSortChunk) {
    const size_t hi = std::min(n, lo + kSortChunk);
    std::sort(entries.begin() + long(lo), entries.begin() + long(hi), less);
    control->done += (hi - lo) * kChunkWeight;
    if (control->cancel.load()) return false;
  }
  // Sorted chunks merged pairwise, pass by pass, between two arrays.
  std::vector<SortEntry> other(n > kSortChunk ? n : 0);
  SortEntry* src = entries.data();
  SortEntry* dst = other.data();
  for (size_t w = kSortChunk; w < n; w *= 2) {
    for (size_t lo = 0; lo < n; lo += 2 * w) {
      const SortEntry *a = src + lo, *a_end = src + std::min(n, lo + w);
      const SortEntry *b = a_end, *b_end = src + std::min(n, lo + 2 * w);
      SortEntry* o = dst + lo;
      for (size_t k = 1; a != a_end && b != b_end; ++k) {
        *o++ = less(*b, *a) ? *b++ : *a++;
        if ((k & 0xFFFF) == 0) {
          control->done += 0x10000;
          if (control->cancel.load()) return false;
        }
      }
      o = std::copy(a, a_end, o);
      std::copy(b, b_end, o);
    }
    std::swap(src, dst);
  }
  for (size_t i = 0; i < n; ++i) out[i] = src[i].row;
  control->done = control->total.load();
  *order = std::move(out);
  return true;
}
