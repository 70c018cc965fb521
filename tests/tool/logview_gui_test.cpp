// The real auxdesk showing the client's logs: mode "logview" stepping through days with its
// buttons, the system log window of mode "setup", damaged logs, and a 100 MB day file.
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "tests/client/screens/eventually.h"
#include "tests/tool/auxdesk_run.h"
#include "tests/tool/module/logview/log_fixture.h"
#include "tests/tool/tool_fixture.h"
#include "tool/module/logview/logview.h"
#include "tests/tool/screen_grab.h"

namespace {

class LogviewGui : public RealAuxdesk {
 protected:
  void SetUp() override {
    RealAuxdesk::SetUp();
    if (IsSkipped()) return;
    std::ofstream(dir_ / "setup.cfg") << fixture_setup_cfg();
    old_cwd_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);  // the client's writers write ./logs/ here
  }
  void TearDown() override {
    if (!old_cwd_.empty()) std::filesystem::current_path(old_cwd_);
    RealAuxdesk::TearDown();
  }
  // The list of the event window, inside its frame and below its header.
  Picture list() {
    auto [w, h] = window_size(win_);
    return w > 40 && h > 140 ? grab(win_, 12, 60, std::min(w, 1000) - 24, h - 130) : Picture{};
  }
  static int text_pixels(const Picture& p) { return p.dark(100); }
  // Clicks the left ("Previous log") or right ("Next log") button of the event window.
  void press(bool next) {
    auto [w, h] = window_size(win_);
    xdo({"mousemove", "--window", std::to_string(win_), std::to_string(next ? 3 * w / 4 : w / 4),
         std::to_string(h - 20), "click", "1"});
  }
  void open_logview(int timeout_ms = 30000) {
    start({"logview", "op", "oppw", "x", "x"});
    win_ = window(kLogviewTitle, timeout_ms);
    ASSERT_NE(win_, 0u) << out() << err();
  }
  void close_and_expect_zero(int timeout_ms = 30000) {
    ASSERT_EQ(x11_close_window(win_), 0);
    EXPECT_EQ(finish(timeout_ms), 0) << err();
    EXPECT_EQ(err().find("runtime error"), std::string::npos) << err();
    EXPECT_EQ(err().find("Sanitizer"), std::string::npos) << err();
  }

  std::filesystem::path old_cwd_;
  unsigned long win_ = 0;
};

TEST_F(LogviewGui, rows_show_and_the_buttons_step_to_other_days) {
  write_event_lines(2, 2, "Gate 2");
  write_event_lines(1, 25, "Yard");
  write_event_lines(0, 4, "Lobby");
  ASSERT_NO_FATAL_FAILURE(open_logview());
  ASSERT_TRUE(eventually([&] { return text_pixels(list()) > 200; })) << "today's rows";
  const Picture today = list();
  press(false);
  ASSERT_TRUE(eventually([&] { return text_pixels(list()) > 2 * text_pixels(today); }))
      << "yesterday has more rows";
  press(true);
  EXPECT_TRUE(eventually([&] { return list().differing(today) == 0; })) << "today again";
  close_and_expect_zero();
}

TEST_F(LogviewGui, damaged_logs_show_and_nothing_is_made_outside_logs) {
  std::mt19937 random(7);
  std::string noise(1 << 20, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  const std::string text_faults = "bad \xff\xfe utf-8|x|y|z\n" + std::string(5000, 'L') +
                                  "|long\n1|2024-01-31 10:00:00|Crlf|CH 01|Motion\r\n" +
                                  std::string(4000, '\0') + "2|nul|x\n";
  struct Case {
    const char* what;
    std::string day, index;
  } cases[] = {
      {"invalid UTF-8, NUL bytes, CRLF and 5 KB lines", text_faults, ""},
      {"1 MB of random bytes", noise, ""},
      {"an index of foreign and oversized words", "",
       "../../x.txt\n" + std::string(300, 'w') + " ../x.txt /tmp/x.txt\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(dir_ / "logs");
    write_event_lines(1, 3, "Yard");
    write_event_lines(0, 3, "Lobby");
    std::ofstream(dir_ / day_name(LOG_EVENT, 0), std::ios::app | std::ios::binary) << c.day;
    if (!c.index.empty())
      std::ofstream(dir_ / "logs/index.txt", std::ios::binary) << c.index << day_name(LOG_EVENT, 0);
    ASSERT_NO_FATAL_FAILURE(open_logview());
    EXPECT_TRUE(eventually([&] { return text_pixels(list()) > 200; }));
    press(false);
    press(true);
    close_and_expect_zero();
    for (const char* outside : {"x.txt", "../x.txt", "../../x.txt"})
      EXPECT_FALSE(std::filesystem::exists(dir_ / outside)) << outside;
    EXPECT_FALSE(std::filesystem::exists("/tmp/x.txt"));
  }
}

TEST_F(LogviewGui, a_100_mb_day_shows_answers_and_closes_while_it_fills) {
  write_event_lines(1, 3, "Yard");
  write_event_lines(0, 1, "Lobby");
  {
    std::string block;
    char line[200];
    for (int i = 0; i < 1000; ++i) {
      size_t n = format_event_log_line(line, sizeof line, i + 1, "2024-01-31 10:00:00",
                                       "Warehouse north gate", i % 16 + 1, 0x02);
      block.append(line, n).push_back('\n');
    }
    std::ofstream f(dir_ / day_name(LOG_EVENT, 0), std::ios::app | std::ios::binary);
    for (size_t written = 0; written < 100u << 20; written += block.size()) f << block;
  }
  ASSERT_NO_FATAL_FAILURE(open_logview(60000));
  ASSERT_TRUE(eventually([&] { return text_pixels(list()) > 2000; }, 60000));
  const Picture today = list();
  press(false);  // three short rows
  ASSERT_TRUE(eventually([&] { return text_pixels(list()) < text_pixels(today) / 2; }, 60000));
  press(true);
  ASSERT_TRUE(eventually([&] { return text_pixels(list()) > 2000; }, 60000));
  close_and_expect_zero(60000);
}

class SyslogGui : public LogviewGui {};

TEST_F(SyslogGui, the_setup_windows_button_opens_one_system_log_and_closing_it_keeps_setup) {
  ASSERT_EQ(write_system_log(4, "admin", "admin"), 0);
  start({"setup", "admin", "admin", "x", "x"});
  unsigned long setup = window("ZOL Client Setup");
  ASSERT_NE(setup, 0u) << err();
  auto [w, h] = window_size(setup);
  const int x0 = (w - 580) / 2, y0 = h - x0 - 308;  // the page area, as the setup tests find it
  xdo({"mousemove", "--window", std::to_string(setup), "210", "20", "click", "1"});
  const std::vector<std::string> button{"mousemove",
                                        "--window",
                                        std::to_string(setup),
                                        std::to_string(x0 + 340),
                                        std::to_string(y0 + 293),
                                        "click",
                                        "1"};
  // The page switch may land after the press on a busy machine: press until the log opens
  // (a press while it is open opens no second one, as checked below).
  unsigned long log = 0;
  for (int i = 0; i < 10 && !log; ++i) {
    xdo(button);
    log = window(kSyslogTitle, 3000);
  }
  ASSERT_NE(log, 0u) << err();
  x11_move_window_by(log, 0, 750);  // clear of the button
  xdo(button);
  ASSERT_TRUE(eventually([&] { return x11_close_window(log) == 0; }));
  EXPECT_TRUE(eventually([&] { return x11_find_window(kSyslogTitle) == 0; }))
      << "the second press opened no second window";
  EXPECT_TRUE(process_running(pid_));
  EXPECT_EQ(x11_find_window("ZOL Client Setup"), setup);
  ASSERT_EQ(x11_close_window(setup), 0);
  EXPECT_EQ(finish(), 0) << err();
}

}  // namespace
