// Field checks of the Client Setup pages and forms.
#include "tool/module/gui_setup/setup_checks.h"

#include <cstring>

#include "client/foundation/config/setup_config.h"

int is_digit_string(const char* text) {
  // The whole text is tested: a prefix copy would pass "123...a" once the letter lay
  // beyond it.
  if (!text || !*text) return 0;
  for (const char* p = text; *p; ++p)
    if (*p < '0' || *p > '9') return 0;
  return 1;
}

int is_valid_ipv4(const char* text) {
  if (!text || !*text || text[0] == '0' || text[0] == '.') return 0;
  int dots = 0;
  for (const char* p = text; *p; ++p) {
    if (*p == '.')
      ++dots;
    else if (*p < '0' || *p > '9')
      return 0;
  }
  if (dots != 3) return 0;
  const char* p = text;
  for (int group = 0; group < 4; ++group) {
    const char* start = p;
    long value = 0;
    while (*p >= '0' && *p <= '9') {
      value = value * 10 + (*p - '0');
      if (value > 255) return 0;
      ++p;
    }
    if (p == start) return 0;
    if (group == 0 && value < 1) return 0;
    if (group < 3) {
      if (*p != '.') return 0;
      ++p;
    }
  }
  return *p == '\0';
}

int is_valid_port_text(const char* text) {
  if (!is_digit_string(text)) return 0;
  long value = 0;
  for (const char* p = text; *p; ++p) {
    value = value * 10 + (*p - '0');
    if (value > 65535) return 0;
  }
  return value >= 1;
}

int is_storable_text(const std::string& t, unsigned rules) {
  if (t.empty()) return (rules & kNotEmpty) ? 0 : 1;
  if (t.find_first_of("\r\n\t") != std::string::npos) return 0;
  if (t.front() == ' ') return 0;
  // A header counts only as a line of its own; a text that opens a line (an account id,
  // its '=' after it) must not make one.
  if (setup_line_header((t + "=").c_str(), nullptr)) return 0;
  if ((rules & kNoComma) && t.find(',') != std::string::npos) return 0;
  if ((rules & kNoQuote) && t.find('"') != std::string::npos) return 0;
  if ((rules & kNoBlank) && t.find(' ') != std::string::npos) return 0;
  if ((rules & kNoEquals) && t.find('=') != std::string::npos) return 0;
  if ((rules & kNoBracket) && t.find('[') != std::string::npos) return 0;
  if ((rules & kNoTrailingBlank) && t.back() == ' ') return 0;
  if ((rules & kNoLeadingEquals) && t.front() == '=') return 0;
  return 1;
}

int any_too_long(std::initializer_list<FieldLimit> fields) {
  for (const FieldLimit& f : fields)
    if (f.text.size() > f.longest) return 1;
  return 0;
}
