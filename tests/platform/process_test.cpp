// Process start with an argument vector: no shell, exit codes, redirection, input through a
// pipe, time-outs, reaping, and no descriptor leaking into the child.
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/system/process.h"

namespace {

std::string temp_path(const char* name) {
  return std::string(testing::TempDir()) + name + "-" + std::to_string(getpid());
}

std::string read_file(const std::string& path) {
  std::ifstream f(path);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

TEST(StartProcess, ExitCodesComeBack) {
  struct Case {
    std::vector<const char*> argv;
    int code;
  } cases[] = {
      {{"true", nullptr}, 0},
      {{"false", nullptr}, 1},
      {{"sh", "-c", "exit 3", nullptr}, 3},
      {{"sh", "-c", "kill -9 $$", nullptr}, 128 + 9},
  };
  for (auto& c : cases) {
    int pid = start_process(c.argv.data());
    ASSERT_GT(pid, 0) << c.argv[0];
    int code = -1;
    EXPECT_EQ(wait_process(pid, 5000, &code), 0);
    EXPECT_EQ(code, c.code) << c.argv[0];
    EXPECT_EQ(wait_process(pid, 0, &code), -1) << "reaped twice";
  }
}

TEST(StartProcess, ArgumentsReachTheChildVerbatimAndStderrGoesToItsOwnFile) {
  // A shell would split at the space and run the part after ';'.
  std::string out = temp_path("out"), err = temp_path("err");
  const char* argv[] = {
      "sh",          "-c",   "printf '%s|' \"$@\"; echo to-err >&2", "sh", "a b;touch /tmp/never",
      "\"q\" $HOME", nullptr};
  int pid = start_process(argv, out.c_str(), err.c_str());
  ASSERT_GT(pid, 0);
  EXPECT_EQ(wait_process(pid, 5000, nullptr), 0);
  EXPECT_EQ(read_file(out), "a b;touch /tmp/never|\"q\" $HOME|");
  EXPECT_EQ(read_file(err), "to-err\n");
  unlink(out.c_str());
  unlink(err.c_str());
}

TEST(StartProcess, InputReachesTheChildThroughAPipeAndEnds) {
  std::string out = temp_path("in-out");
  const char* argv[] = {"cat", nullptr};
  const std::string big(PROCESS_INPUT_MAX, 'x');
  for (const std::string& input : {std::string("s3cret pw\n\0tail", 15), std::string(), big}) {
    int pid = start_process_with_input(argv, input.data(), unsigned(input.size()), out.c_str());
    ASSERT_GT(pid, 0);
    EXPECT_EQ(wait_process(pid, 5000, nullptr), 0) << "the input ends";
    EXPECT_EQ(read_file(out), input);
  }
  EXPECT_EQ(start_process_with_input(argv, (big + "x").data(), PROCESS_INPUT_MAX + 1), -1);
  unlink(out.c_str());
}

TEST(StartProcess, FailuresAreReportedNotHidden) {
  const char* missing[] = {"no-such-program-vigilo", nullptr};
  EXPECT_EQ(start_process(missing), -1);
  const char* argv[] = {"true", nullptr};
  std::string file = temp_path("plain-file");
  { std::ofstream(file) << "x"; }
  std::string below_file = file + "/out.txt";  // cannot exist: its parent is a file
  EXPECT_EQ(start_process(argv, below_file.c_str()), -1);
  EXPECT_EQ(start_process(argv, nullptr, below_file.c_str()), -1);
  unlink(file.c_str());
  EXPECT_EQ(start_process(nullptr), -1);
  EXPECT_EQ(wait_process(1, 0, nullptr), -1) << "not a child of ours";
}

// Conversions and mails run side by side: whatever other calls reap meanwhile (a start's
// sweep, a running test), each waiter gets its own child's exit code, never -1.
TEST(StartProcess, EveryWaiterGetsItsOwnChildsCodeWhileOthersStartAndEnd) {
  {
    const char* argv[] = {"sh", "-c", "exit 7", nullptr};
    int pid = start_process(argv);
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 1000 && process_running(pid); ++i) usleep(5000);
    ASSERT_EQ(process_running(pid), 0);
    int code = -1;
    EXPECT_EQ(wait_process(pid, 0, &code), 0) << "the status of a child reaped by a check";
    EXPECT_EQ(code, 7);
    EXPECT_EQ(wait_process(pid, 0, &code), -1) << "taken once";
  }
  constexpr int kThreads = 8, kRounds = 20;
  std::vector<std::string> failures[kThreads];
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([t, &failures] {
      for (int r = 0; r < kRounds; ++r) {
        const int want = 1 + (t * kRounds + r) % 200;
        const std::string script = "exit " + std::to_string(want);
        const char* argv[] = {"sh", "-c", script.c_str(), nullptr};
        int pid = start_process(argv);
        int code = -1;
        const int w = pid > 0 ? wait_process(pid, 20000, &code) : -2;
        if (w != 0 || code != want)
          failures[t].push_back("wanted " + std::to_string(want) + ", wait " + std::to_string(w) +
                                " code " + std::to_string(code));
      }
    });
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t)
    EXPECT_TRUE(failures[t].empty())
        << "thread " << t << ": " << failures[t].size() << " lost, first: " << failures[t].front();
}

// The restart command's waiter is detached: it may still be inside a wait while exit() runs
// the program's destructors, and must find the module's records whole.
TEST(StartProcess, AWaiterStillWaitingAtExitFindsItsRecordsWhole) {
  const pid_t program = fork();
  ASSERT_GE(program, 0);
  if (program == 0) {
    // Ended children kept for waiters that never come, and waiters that look them over
    // without a pause while exit() runs.
    for (int i = 0; i < 64; ++i) {
      const char* done[] = {"true", nullptr};
      const int ended = start_process(done);
      while (ended > 0 && process_running(ended)) usleep(1000);
    }
    const char* argv[] = {"sleep", "1", nullptr};
    const int pid = start_process(argv);
    for (int t = 0; t < 8; ++t)
      std::thread([pid] {
        int code = 0;
        while (wait_process(pid, 0, &code) == 1) {}
      }).detach();
    usleep(20000);
    exit(0);
  }
  // A waiter that met freed records made the sanitizer's report, and with it the exit, hang.
  int status = 0;
  pid_t r = 0;
  for (int i = 0; i < 3000 && (r = waitpid(program, &status, WNOHANG)) == 0; ++i) usleep(10000);
  if (r == 0) {
    kill(program, SIGKILL);
    waitpid(program, &status, 0);
    FAIL() << "the program did not end within 30 s of its exit";
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

TEST(StartProcess, TimeOutLeavesTheChildToBeReapedLater) {
  const char* argv[] = {"sleep", "30", nullptr};
  int pid = start_process(argv);
  ASSERT_GT(pid, 0);
  EXPECT_EQ(wait_process(pid, 50, nullptr), 1);
  EXPECT_EQ(process_running(pid), 1);
  kill(pid, SIGKILL);
  for (int i = 0; i < 500 && process_running(pid); ++i) usleep(10000);
  EXPECT_EQ(process_running(pid), 0);
  // Reaped: no zombie of that id is left behind.
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), -1);
}

TEST(StartProcess, TerminateReachesOnlyRunningChildrenOfOurs) {
  // Started from a thread that blocks every signal, as SDL's threads do: the child must not
  // inherit that.
  int pid = -1;
  std::thread starter([&] {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, nullptr);
    const char* argv[] = {"sleep", "30", nullptr};
    pid = start_process(argv);
  });
  starter.join();
  ASSERT_GT(pid, 0);
  EXPECT_EQ(terminate_process(pid), 0);
  int code = -1;
  EXPECT_EQ(wait_process(pid, 5000, &code), 0);
  EXPECT_EQ(code, 128 + SIGTERM);
  // Reaped: its pid may belong to anyone now.
  EXPECT_EQ(terminate_process(pid), -1);
  EXPECT_EQ(terminate_process(getppid()), -1) << "not a child of ours";
  EXPECT_EQ(terminate_process(0), -1);
}

TEST(StartProcess, ChildInheritsNoDescriptorsOfTheClient) {
  int fd = open("/dev/null", O_RDONLY);  // no O_CLOEXEC, like a socket of the client
  ASSERT_GE(fd, 0);
  int high = dup2(fd, 57);
  ASSERT_EQ(high, 57);
  const char* argv[] = {"sh", "-c", "test -e /proc/self/fd/57 && exit 1; exit 0", nullptr};
  int pid = start_process(argv);
  ASSERT_GT(pid, 0);
  int code = -1;
  EXPECT_EQ(wait_process(pid, 5000, &code), 0);
  EXPECT_EQ(code, 0);
  close(high);
  close(fd);
}

}  // namespace
