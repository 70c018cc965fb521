// The daily system log and its index, written into a fresh directory.
#include <unistd.h>

#include <climits>
#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "client/foundation/config/system_log.h"
#include "tests/client/foundation/config_test_support.h"

using cfgtest::TempDir;

namespace {

class SystemLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(getcwd(old_cwd_, sizeof old_cwd_), nullptr);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  }
  void TearDown() override { ASSERT_EQ(chdir(old_cwd_), 0); }

  static std::string today_file() {
    time_t now = time(nullptr);
    struct tm t {};
    localtime_r(&now, &t);
    char name[64];
    strftime(name, sizeof name, "./logs/sys%Y%m%d.txt", &t);
    return name;
  }
  static std::vector<std::string> lines(const std::string& file) {
    std::ifstream in(file);
    std::vector<std::string> out;
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
  }
  // The part of a log line after its "YYYY-mm-dd HH:MM:SS" time.
  static std::string after_time(const std::string& line) {
    return line.size() > 19 ? line.substr(19) : line;
  }

  TempDir dir_;
  char old_cwd_[PATH_MAX];
};

}  // namespace

// Starts with no ./logs/ at all, as a fresh install does.
TEST_F(SystemLogTest, every_code_writes_its_line_and_index_lists_day_once) {
  const struct {
    int code;
    const char* text;
    const char* tail;
  } cases[] = {
      {0, "", "|op|START|op - Program start."},
      {1, "", "|op|EXIT|op - Program exit."},
      {2, "", "|op|CHECK|op - Program check for auto update."},
      {3, "", "|op|UPDATE|op - Program update."},
      {4, "op", "|op|LOGIN|[op] is login. "},
      {5, "DVR-1", "|op|CONNECTING|Try to connect to <DVR : DVR-1>"},
      {6, "DVR-1", "|op|DISCONNECT|Disconnect from <DVR : DVR-1>"},
      {7, "All", "|op|CONNECTING|Try to connect to <GROUP : All>"},
      {8, "All", "|op|DISCONNECT|Disconnect from <GROUP : All>"},
      {9, "DVR-2", "|op|CONNECTING|The connection to <DVR-2> is success."},
      {12, "x", "|UNKNOW"},
      {-1, "x", "|UNKNOW"},
  };
  for (const auto& c : cases) ASSERT_EQ(write_system_log(c.code, "op", c.text), 0);
  auto l = lines(today_file());
  ASSERT_EQ(l.size(), std::size(cases));
  for (size_t i = 0; i < l.size(); ++i) EXPECT_EQ(after_time(l[i]), cases[i].tail) << i;
  EXPECT_EQ(l[0][4], '-');
  EXPECT_EQ(lines("./logs/sysindex.txt"), std::vector<std::string>{today_file()});
}

TEST_F(SystemLogTest, null_texts_and_overlong_names_still_give_one_line) {
  ASSERT_EQ(write_system_log(SYSLOG_CONNECT_DVR, nullptr, nullptr), 0);
  std::string huge(5000, 'D');
  ASSERT_EQ(write_system_log(SYSLOG_CONNECT_DVR, "op", huge.c_str()), 0);
  ASSERT_EQ(write_system_log(SYSLOG_EXIT, "op", ""), 0);
  auto l = lines(today_file());
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(after_time(l[0]), "||CONNECTING|Try to connect to <DVR : >");
  EXPECT_EQ(after_time(l[2]), "|op|EXIT|op - Program exit.");
}

TEST_F(SystemLogTest, lines_of_many_threads_never_interleave) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      std::string who = "thread" + std::to_string(t);
      for (int i = 0; i < 50; ++i) write_system_log(SYSLOG_CONNECT_DVR, who.c_str(), "DVR-1");
    });
  for (auto& th : threads) th.join();
  auto l = lines(today_file());
  ASSERT_EQ(l.size(), 200u);
  for (const auto& line : l) {
    std::string tail = after_time(line);
    EXPECT_EQ(tail.rfind("|thread", 0), 0u) << line;
    EXPECT_EQ(tail.substr(tail.size() - std::string("<DVR : DVR-1>").size()), "<DVR : DVR-1>");
  }
  EXPECT_EQ(lines("./logs/sysindex.txt").size(), 1u);
}

TEST_F(SystemLogTest, unwritable_logs_directory_reports_failure) {
  // A file where the directory should be: the line cannot be written and the index stays.
  std::ofstream("logs") << "not a directory";
  EXPECT_EQ(write_system_log(SYSLOG_START, "op", ""), -1);
}

