// Day stepping through the index files and the reading of day files, headless, on logs the
// client's writers make.
#include "tool/module/logview/log_index.h"

#include <algorithm>
#include <filesystem>

#include "tests/tool/module/logview/log_fixture.h"
#include "tests/tool/tool_fixture.h"
#include "tool/module/logview/log_lines.h"

namespace {

class LogIndex : public ToolDir {
 protected:
  void SetUp() override {
    ToolDir::SetUp();
    prev_log_name[0] = cur_log_name[0] = next_log_name[0] = '\0';
  }
  void expect_names(const std::string& prev, const std::string& cur, const std::string& next) {
    EXPECT_EQ(prev_log_name, prev);
    EXPECT_EQ(cur_log_name, cur);
    EXPECT_EQ(next_log_name, next);
  }
};

TEST_F(LogIndex, three_days_step_back_to_the_first_and_forward_again) {
  for (int d : {2, 1, 0}) write_event_lines(d, 2, "Lobby");
  const std::string d2 = day_name(LOG_EVENT, 2), d1 = day_name(LOG_EVENT, 1),
                    d0 = day_name(LOG_EVENT, 0);
  open_today_log_file(LOG_EVENT);
  expect_names(d1, d0, "");
  find_prev_log_file(LOG_EVENT);
  expect_names(d2, d1, d0);
  find_prev_log_file(LOG_EVENT);
  expect_names("", d2, d1);
  find_prev_log_file(LOG_EVENT);  // nothing before the first day
  expect_names("", d2, d1);
  find_next_log_file(LOG_EVENT);
  find_next_log_file(LOG_EVENT);
  expect_names(d1, d0, "");
  find_next_log_file(LOG_EVENT);
  expect_names(d1, d0, "");
  EXPECT_EQ(read("logs/index.txt"), d2 + "\n" + d1 + "\n" + d0 + "\n") << "listed once each";
}

TEST_F(LogIndex, an_empty_or_missing_index_gets_today_appended_and_no_logs_folder_is_no_crash) {
  open_today_log_file(LOG_SYSTEM);  // no ./logs/: nothing can be opened
  expect_names("", day_name(LOG_SYSTEM, 0), "");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "logs"));

  std::filesystem::create_directory(dir_ / "logs");
  write("logs/sysindex.txt", "");
  open_today_log_file(LOG_SYSTEM);
  open_today_log_file(LOG_SYSTEM);
  expect_names("", day_name(LOG_SYSTEM, 0), "");
  EXPECT_EQ(read("logs/sysindex.txt"), day_name(LOG_SYSTEM, 0) + "\n");

  // The client's own line lists the same day file: the index stays as it is.
  ASSERT_EQ(write_system_log(4, "guard", "guard"), 0);
  EXPECT_EQ(read("logs/sysindex.txt"), day_name(LOG_SYSTEM, 0) + "\n");
}

TEST_F(LogIndex, a_current_name_gone_from_the_index_leaves_the_last_name_read_as_previous) {
  for (int d : {2, 1, 0}) write_event_lines(d, 1, "Lobby");
  const std::string d2 = day_name(LOG_EVENT, 2), d1 = day_name(LOG_EVENT, 1),
                    d0 = day_name(LOG_EVENT, 0);
  open_today_log_file(LOG_EVENT);
  write("logs/index.txt", d2 + "\n" + d0 + "\n");  // edited while the window is open
  find_prev_log_file(LOG_EVENT);
  expect_names(d0, d1, d0);
}

TEST_F(LogIndex, damaged_index_words_never_become_names_or_files) {
  write_event_lines(3, 1, "Lobby");
  const std::string d3 = day_name(LOG_EVENT, 3);
  std::filesystem::create_directory(dir_ / "sub");
  std::filesystem::current_path(dir_ / "sub");
  std::filesystem::create_directory("logs");
  const std::string junk = "../../x.txt ./logs/../x.txt " + std::string(300, 'a') + " ." +
                           std::string(300, '/') + "20240101.txt ./logs/2024010.txt " +
                           "./logs/sys20240101.txt ./logs/20240101.txtx";
  std::filesystem::copy_file(dir_ / d3, dir_ / "sub" / d3);
  write("sub/logs/index.txt", junk + "\n" + d3 + "\n" + junk);  // no line end after the last
  open_today_log_file(LOG_EVENT);
  expect_names(d3, day_name(LOG_EVENT, 0), "");
  EXPECT_EQ(read("sub/logs/index.txt"),
            junk + "\n" + d3 + "\n" + junk + "\n" + day_name(LOG_EVENT, 0) + "\n");
  find_prev_log_file(LOG_EVENT);
  expect_names("", d3, day_name(LOG_EVENT, 0));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "x.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir_ / "sub" / "x.txt"));
  EXPECT_FALSE(is_day_file_name(LOG_SYSTEM, d3.c_str()));
  EXPECT_TRUE(is_day_file_name(LOG_SYSTEM, "./logs/sys20240101.txt"));
}

// Every line of `text` as the lists get it.
std::vector<std::string> lines_of(const std::string& text) {
  FILE* fp = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
  std::vector<std::string> out;
  LogLineReader reader(fp);
  std::string line;
  while (reader.next(&line)) out.push_back(valid_utf8(line));
  fclose(fp);
  return out;
}

TEST(LogLines, lines_are_whole_bounded_valid_utf8_and_survive_nul_bytes) {
  using V = std::vector<std::string>;
  const std::string big(5000, 'x');
  EXPECT_EQ(lines_of("a|b\r\n\nc\r\n"), (V{"a|b", "", "c"})) << "CRLF and a blank line";
  EXPECT_EQ(lines_of(big + "\nnext"), (V{std::string(kMaxLogLine, 'x'), "next"}))
      << "a long line is cut, the next one stays whole";
  EXPECT_EQ(lines_of("ok\xff\xc3(\xe2\x82\xac\xed\xa0\x80\xf0\x9f\x98\x80z\n"),
            (V{"ok\xEF\xBF\xBD\xEF\xBF\xBD(\xe2\x82\xac\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"
               "\xf0\x9f\x98\x80z"}));
  std::string nuls = "one\n" + std::string(3000, '\0') + "\n" + std::string(8000, '\0') +
                     std::string("t\0wo\n", 5) + std::string(100, '\0');
  EXPECT_EQ(lines_of(nuls), (V{"one", "two"})) << "NULs neither end the file nor make rows";
}

// Sorted rows against a plain stable sort of the same texts: byte order (UTF-8 after ASCII),
// a text before its own longer forms, shared prefixes longer than the sort's keys, equal texts
// in file order either way, more rows than one sorting chunk; numbers reverse; a cancelled
// sort leaves the order as it was.
TEST(LogLines, rows_sort_by_their_bytes_and_keep_file_order_on_ties) {
  const std::vector<std::string> pool = {"2024-01-31 10:00:01",
                                         "2024-01-31 10:00:01",
                                         "2024-01-31 10:00:01x",
                                         "2024-01-31 10:00:0",
                                         "2024-01-31 10:00:01\xc3\xa9",
                                         "2024-01-31 10:00:01!",
                                         "",
                                         "2024-01-31 10:00:02",
                                         "Yard",
                                         "2024-01-31 10:00:01\xc3\xa9 and more"};
  for (size_t n : {pool.size(), size_t(150000)}) {
    SCOPED_TRACE(n);
    LogRows rows(3);
    std::vector<std::string> texts;
    uint32_t seed = 1;
    for (size_t r = 0; r < n; ++r) {
      seed = seed * 1103515245u + 12345u;
      texts.push_back(n == pool.size() ? pool[r] : pool[(seed >> 16) % pool.size()]);
      const std::string_view cells[3] = {"a", texts.back(), "c"};
      rows.append(cells);
    }
    for (bool descending : {false, true}) {
      std::vector<uint32_t> want(n), got;
      for (size_t i = 0; i < n; ++i) want[i] = uint32_t(i);
      std::stable_sort(want.begin(), want.end(), [&](uint32_t a, uint32_t b) {
        const int t = std::string_view(texts[a]).compare(texts[b]);
        return descending ? t > 0 : t < 0;
      });
      SortControl control;
      ASSERT_TRUE(sort_log_rows(rows, 2, descending, &control, &got));
      EXPECT_EQ(got, want) << descending;
      EXPECT_EQ(control.done.load(), control.total.load());
      ASSERT_TRUE(sort_log_rows(rows, 0, descending, &control, &got));
      EXPECT_EQ(got.front(), descending ? n - 1 : 0u);
      EXPECT_EQ(got.back(), descending ? 0u : n - 1);
    }
    EXPECT_EQ(rows.cell(n - 1, 1), texts.back());
    EXPECT_EQ(rows.cell(n - 1, 2), "c");
  }
  LogRows rows(3);
  const std::string_view cells[3] = {"a", "b", "c"};
  for (int r = 0; r < 70000; ++r) rows.append(cells);
  SortControl control;
  control.cancel = true;
  std::vector<uint32_t> order = {7};
  EXPECT_FALSE(sort_log_rows(rows, 1, false, &control, &order));
  EXPECT_EQ(order, std::vector<uint32_t>{7});
}

}  // namespace
