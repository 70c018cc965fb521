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
