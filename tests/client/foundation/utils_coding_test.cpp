// One-line uuencode/uudecode, event kind names, date and number helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "client/foundation/config/utils.h"

TEST(UuLine, known_texts_round_trip) {
  EXPECT_STREQ(uuencode_line("abc"), "#86)C");
  EXPECT_STREQ(uudecode_line("#86)C"), "abc");
  EXPECT_STREQ(uuencode_line(""), "");
  EXPECT_STREQ(uudecode_line(""), "");
  EXPECT_STREQ(uuencode_line("admin"), "%861M:6X`");
  // Every length up to the limit, all byte values that a password may hold.
  for (int n = 1; n <= 63; ++n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += static_cast<char>(33 + (i * 7 + n) % 94);
    std::string enc = uuencode_line(text.c_str());
    EXPECT_EQ(enc.find(' '), std::string::npos) << n;  // safe between blank separators
    EXPECT_EQ(std::string(uudecode_line(enc.c_str())), text) << n;
  }
}

TEST(UuLine, bad_length_character_prints_error_and_gives_empty) {
  testing::internal::CaptureStdout();
  EXPECT_STREQ(uudecode_line("`"), "");
  EXPECT_STREQ(uudecode_line(" abcd"), "");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("ERROR"), std::string::npos);
}

TEST(UuLine, overlong_text_is_refused_not_overrun) {
  std::string big(64, 'x');
  EXPECT_STREQ(uuencode_line(big.c_str()), "");
  char out[8];
  EXPECT_EQ(uuencode_to(out, sizeof out, "abcdef"), -1);  // needs 10 bytes
  EXPECT_STREQ(out, "");
}

TEST(UuLine, decode_stops_at_end_of_input_and_of_buffer) {
  // The length character promises 63 bytes, the text holds one group.
  EXPECT_STREQ(uudecode_line("_86)C"), "abc");
  EXPECT_STREQ(uudecode_line("#86)"), "ab");
  EXPECT_STREQ(uudecode_line("#86"), "a");
  char buf[16];
  memset(buf, 0x5A, sizeof buf);
  int n = uudecode_to(buf, 4, "&<V5C<F5T");  // "secret" into room for 3
  EXPECT_EQ(n, 3);
  EXPECT_STREQ(buf, "sec");
  for (size_t i = 4; i < sizeof buf; ++i) EXPECT_EQ(buf[i], 0x5A) << i;  // canary intact
}

TEST(EventTypeName, lowest_listed_bit_names_the_kind) {
  const struct {
    uint8_t kind;
    const char* name;
  } cases[] = {{0x00, "NONE"},          {0x01, "CONTINUOUS"}, {0x22, "MOTION"},
               {0x04, "OBJECT DETECT"}, {0x08, ""},           {0x18, "OCCLUSION"},
               {0x20, "SENSOR"},        {0x40, "FORCED"},     {0x80, "VIDEO LOSS"},
               {0xFF, "CONTINUOUS"}};
  for (const auto& c : cases) EXPECT_STREQ(event_type_name(c.kind), c.name) << int(c.kind);
}

TEST(UtilsDateTime, validity_follows_calendar_limits) {
  const struct {
    const char* text;
    int valid;
  } cases[] = {{"2012/2/29 10:00:00", 1},  {"2011/2/29 10:00:00", 0},
               {"2011/2/28 23:59:59", 1},  {"1969/12/31 23:59:59", 0},
               {"1970/1/1 0:0:0", 1},      {"2020/13/1 0:0:0", 0},
               {"2020/0/1 0:0:0", 0},      {"2020/1/32 0:0:0", 0},
               {"2020/1/1 24:0:0", 0},     {"2020/1/1 0:60:0", 0},
               {"2020/1/1 0:0:60", 0},     {"2020/1/1 0:0", 0},
               {"2020-01-01 00:00:00", 0}, {"", 0}};
  for (const auto& c : cases) EXPECT_EQ(is_valid_datetime(c.text), c.valid) << c.text;
  EXPECT_EQ(is_valid_datetime(nullptr), 0);
}

TEST(UtilsDateTime, first_weekday_of_month_counts_from_1900) {
  EXPECT_EQ(first_weekday_of_month(0, 124), 1);  // 1 January 2024 was a Monday
  EXPECT_EQ(first_weekday_of_month(8, 123), 5);  // 1 September 2023 was a Friday
}

TEST(UtilsNumbers, rounding_logs_fractions_and_rectangles) {
  EXPECT_EQ(round_to_step(15, 10), 10);
  EXPECT_EQ(round_to_step(16, 10), 20);
  EXPECT_EQ(round_to_step(0, 10), 0);
  EXPECT_EQ(round_to_step(7, 0), 7);  // no step: no division
  EXPECT_EQ(log2_floor(9.9), 3);
  EXPECT_EQ(log2_floor(-4.0), 0);
  EXPECT_EQ(log2_floor(std::nan("")), 0);
  EXPECT_DOUBLE_EQ(frac_part(-2.75), -0.75);
  EXPECT_EQ(point_in_rect(5, 5, 0, 0, 10, 10), 1);
  EXPECT_EQ(point_in_rect(0, 5, 0, 0, 10, 10), 0);  // edges are outside
  EXPECT_EQ(point_in_rect(5, 10, 0, 0, 10, 10), 0);
}

namespace {
std::string last_text;
BoxButtons last_buttons;
BoxAnswer record(const char*, const char* text, BoxButtons b) {
  last_text = text;
  last_buttons = b;
  return b == BoxButtons::yes_no ? BoxAnswer::no : BoxAnswer::ok;
}
}  // namespace

TEST(UtilsMessageBoxes, buttons_silencing_and_quit_flag) {
  set_message_box_hook(record);
  app_quit.store(0);
  EXPECT_EQ(error_box("e"), BoxAnswer::ok);
  EXPECT_EQ(app_quit.load(), 0);
  EXPECT_EQ(confirm_box("sure?"), BoxAnswer::no);
  EXPECT_EQ(last_buttons, BoxButtons::yes_no);
  last_text.clear();
  debug_message("Unable to save image file.");
  EXPECT_EQ(last_text, "");  // silenced
  fatal_box("bad");
  EXPECT_EQ(last_text, "bad");
  EXPECT_EQ(app_quit.load(), 1);
  set_message_box_hook(nullptr);
  app_quit.store(0);
}
