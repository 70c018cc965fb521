// The daily system log and its index, written into a fresh directory.
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

TEST_F(SystemLogTest, null_texts_overlong_names_and_separators_in_texts_still_give_one_line) {
  ASSERT_EQ(write_system_log(SYSLOG_CONNECT_DVR, nullptr, nullptr), 0);
  std::string huge(5000, 'D');
  ASSERT_EQ(write_system_log(SYSLOG_CONNECT_DVR, "op", huge.c_str()), 0);
  ASSERT_EQ(write_system_log(SYSLOG_EXIT, "op", ""), 0);
  // A DVR's name or a peer's reason in a free line can add neither a field nor a line.
  ASSERT_EQ(write_system_log_line("EVENT", "o|p", "DVR|1 lost\nCH 01\r\n"), 0);
  auto l = lines(today_file());
  ASSERT_EQ(l.size(), 4u);
  EXPECT_EQ(after_time(l[0]), "||CONNECTING|Try to connect to <DVR : >");
  EXPECT_EQ(after_time(l[2]), "|op|EXIT|op - Program exit.");
  EXPECT_EQ(after_time(l[3]), "|o p|EVENT|DVR 1 lost CH 01");
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

// The client and the setup tool add to the same index: a day file another process is adding
// right now is listed once. The child stops between finding the day missing and adding it,
// until this process has added it too or a short while has passed.
static int g_between[2], g_resume[2];  // the child's hook reaches them without a capture
TEST_F(SystemLogTest, a_day_another_process_is_adding_is_listed_once) {
  ASSERT_EQ(mkdir("./logs", 0755), 0);
  ASSERT_EQ(pipe(g_between), 0);
  ASSERT_EQ(pipe(g_resume), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    set_log_index_hook([](const char*) {
      if (write(g_between[1], "x", 1) != 1) _exit(1);
      pollfd p{g_resume[0], POLLIN, 0};
      poll(&p, 1, 300);
    });
    _exit(add_to_log_index("./logs/index.txt", "./logs/day1.txt") == 0 ? 0 : 1);
  }
  char c;
  ASSERT_EQ(read(g_between[0], &c, 1), 1);
  EXPECT_EQ(add_to_log_index("./logs/index.txt", "./logs/day1.txt"), 0);
  ASSERT_EQ(write(g_resume[1], "x", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int fd : {g_between[0], g_between[1], g_resume[0], g_resume[1]}) close(fd);
  EXPECT_EQ(lines("./logs/index.txt"), std::vector<std::string>{"./logs/day1.txt"});
}

// An event line that cannot be written is said in the system log, once for a run of failures.
TEST_F(SystemLogTest, a_lost_event_line_is_told_once_in_the_system_log) {
  const uint64_t when = uint64_t(time(nullptr));
  struct tm t {};
  const time_t tt = time_t(when);
  localtime_r(&tt, &t);
  char day[64];
  strftime(day, sizeof day, "./logs/%Y%m%d.txt", &t);
  ASSERT_EQ(mkdir("./logs", 0755), 0);
  ASSERT_EQ(mkdir(day, 0755), 0);  // a directory where the day file should be
  EXPECT_EQ(write_event_log("1|x|DVR|CH 01|Motion", &when), -1);
  EXPECT_EQ(write_event_log("2|x|DVR|CH 01|Motion", &when), -1);
  auto sys = lines(today_file());
  ASSERT_EQ(sys.size(), 1u);
  EXPECT_NE(sys[0].find("|ERROR|Event log not written: " + std::string(day)), std::string::npos)
      << sys[0];
  ASSERT_EQ(rmdir(day), 0);
  EXPECT_EQ(write_event_log("3|x|DVR|CH 01|Motion", &when), 0);
  EXPECT_EQ(lines(day), std::vector<std::string>{"3|x|DVR|CH 01|Motion"});
  ASSERT_EQ(unlink(day), 0);
  ASSERT_EQ(mkdir(day, 0755), 0);
  EXPECT_EQ(write_event_log("4|x|DVR|CH 01|Motion", &when), -1);
  EXPECT_EQ(lines(today_file()).size(), 2u) << "a new run of failures is told again";
}
