// Field checks of the Client Setup pages and forms that need no widget: digits, IPv4
// addresses, ports, length limits and the rules a text must follow to load back from
// setup.cfg unchanged. No GTK; any thread.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>

// 1 when the text is not empty and every byte of it is '0'..'9', else 0 (also for null).
int is_digit_string(const char* text);

// 1 for a dotted IPv4 address: four non-empty groups of digits, three dots, no leading
// '0' or '.', the first group 1..255 and the others 0..255 (leading zeros allowed there).
int is_valid_ipv4(const char* text);

// 1 when the text is all digits with a value from 1 to 65535 (leading zeros allowed).
int is_valid_port_text(const char* text);

// What else a text must not hold, beyond the rules every stored text follows.
enum TextRule : unsigned {
  kAnyText = 0,
  kNoComma = 1u << 0,
  kNoQuote = 1u << 1,
  kNoBlank = 1u << 2,
  kNoEquals = 1u << 3,
  kNoBracket = 1u << 4,
  kNoTrailingBlank = 1u << 5,
  kNotEmpty = 1u << 6,
  kNoLeadingEquals = 1u << 7,  // values of key=value lines: the reader skips them
};

// 1 when setup.cfg's reader gives `text` back unchanged: no line end, no tab, no leading
// blank, not a section header's line when it opens a line (setup_line_header, with the
// '=' after it), and none of what `rules` forbids. 0 otherwise.
int is_storable_text(const std::string& text, unsigned rules = kAnyText);

// A text field and the most bytes it may hold.
struct FieldLimit {
  const std::string& text;
  size_t longest;
};
// 1 when any field is longer than its limit (fields checked in the order given), else 0.
int any_too_long(std::initializer_list<FieldLimit> fields);
