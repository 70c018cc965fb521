#include "tool/text_format.h"

#include <cstdarg>
#include <cstdio>

void appendf(std::string& out, const char* fmt, ...) {
  char small[512];
  va_list ap;
  va_start(ap, fmt);
  va_list again;
  va_copy(again, ap);
  int n = vsnprintf(small, sizeof small, fmt, ap);
  va_end(ap);
  if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
    out.append(small, static_cast<size_t>(n));
  } else if (n > 0) {
    size_t at = out.size();
    out.resize(at + static_cast<size_t>(n) + 1);
    vsnprintf(out.data() + at, static_cast<size_t>(n) + 1, fmt, again);
    out.resize(at + static_cast<size_t>(n));
  }
  va_end(again);
}
