// vigilo started as a program on a private X server: START/EXIT lines, one main window per
// display, usage and setup.cfg failures, window titles and sizes of the modes, 16-bit
// displays, and no display at all. Each case runs the program from a fresh copy of the run
// tree.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "client/foundation/config/setup_config.h"
#include "platform/system/process.h"
#include "platform/system/x11_windows.h"
#include "tests/client/screens/run_tree.h"
#include "tests/platform/env_guard.h"
#include "tests/platform/private_x.h"

// Xlib's macros collide with GoogleTest's names: include it last.
#include <X11/Xlib.h>

namespace fs = std::filesystem;

namespace {

struct Outcome {
  int code = -100;  // exit status, -100 when it did not end in time
  std::string out, err;
};

class StartupRun : public ::testing::Test {
 protected:
  void SetUp() override {
    run_tree_ = run_tree_dir();
    ASSERT_TRUE(fs::exists(run_tree_ / "vigilo")) << "no vigilo in " << run_tree_;
    x_ = std::make_unique<PrivateX>(24);
    if (x_->display().empty()) GTEST_FAIL() << "Xvfb did not start";
    setenv("DISPLAY", x_->display().c_str(), 1);
    setenv("VIGILO_BOX_ANSWER", "ok", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    use_own_link_port();
    // libX11 never releases the input-method context that SDL's video start-up creates.
    fs::path supp = fs::current_path() / ("lsan-" + std::to_string(getpid()) + ".supp");
    std::ofstream(supp) << "leak:libX11.so\n";
    supp_ = supp;
    std::string lsan = "suppressions=" + supp.string();
    setenv("LSAN_OPTIONS", lsan.c_str(), 1);
  }

  void TearDown() override {
    for (const auto& d : dirs_) fs::remove_all(d);
    if (!supp_.empty()) fs::remove(supp_);
  }

  // A copy of the run tree (hard links where possible) without any logs of earlier runs.
  fs::path make_tree(bool with_setup = true) {
    char tmpl[] = "startup-run-XXXXXX";
    char* d = mkdtemp(tmpl);
    EXPECT_NE(d, nullptr);
    fs::path dir = fs::absolute(d);
    dirs_.push_back(dir);
    copy_run_tree(run_tree_, dir, with_setup);
    return dir;
  }

  // User id and password of the first account of the tree's setup.cfg, as "-u" takes them.
  std::string login_arg(const fs::path& dir) {
    if (load_setup_info((dir / "setup.cfg").c_str()) != 0 || get_num_user() < 1) return "";
    const RC_USER_INFO& u = get_user_table()[0];
    return std::string(u.user) + "," + u.password;
  }

  int start(const fs::path& dir, std::vector<std::string> args, const char* tag = "run") {
    std::string exe = (dir / "vigilo").string();
    std::vector<const char*> argv{exe.c_str()};
    for (auto& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    std::string out = (dir / (std::string(tag) + ".out")).string();
    std::string err = (dir / (std::string(tag) + ".err")).string();
    return start_process(argv.data(), out.c_str(), err.c_str());
  }

  Outcome finish(const fs::path& dir, int pid, const char* tag = "run") {
    Outcome r;
    int code = 0;
    if (wait_process(pid, 60000, &code) == 0) {
      r.code = code;
    } else {
      kill(pid, SIGKILL);
      wait_process(pid, 5000, nullptr);
    }
    r.out = read_file(dir / (std::string(tag) + ".out"));
    r.err = read_file(dir / (std::string(tag) + ".err"));
    return r;
  }

  // Asks the window to close until the process ends. Under load a close sent while SDL is
  // still setting its window up can be lost, so it is sent again every few seconds.
  Outcome close_and_finish(const fs::path& dir, int pid, const char* title) {
    for (int i = 0; i < 12 && process_running(pid); ++i) {
      unsigned long w = x11_find_window(title, pid);
      if (!w) w = x11_find_window(title);
      if (w) x11_close_window(w);
      int code = 0;
      if (wait_process(pid, 5000, &code) == 0) {
        Outcome r;
        r.code = code;
        r.out = read_file(dir / "run.out");
        r.err = read_file(dir / "run.err");
        return r;
      }
    }
    return finish(dir, pid);
  }

  Outcome run(const fs::path& dir, std::vector<std::string> args) {
    int pid = start(dir, std::move(args));
    EXPECT_GT(pid, 0);
    return finish(dir, pid);
  }

  static unsigned long wait_window(const char* title, int pid) {
    for (int i = 0; i < 600; ++i) {  // sanitised start-up can take a few seconds
      if (unsigned long w = x11_find_window(title)) return w;
      if (!process_running(pid)) return 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
  }

  // Today's day file of the system log (the only one a short run writes).
  static std::string system_log(const fs::path& dir) {
    std::string all;
    if (!fs::exists(dir / "logs")) return all;
    for (const auto& e : fs::directory_iterator(dir / "logs")) {
      std::string name = e.path().filename().string();
      if (name.rfind("sys2", 0) == 0) all += read_file(e.path());
    }
    return all;
  }

  static size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
  }

  // Starts the window of `mode` without skin, checks its title and size, closes it and
  // checks the log: only the main window logs START; `exit_line` null means no EXIT line.
  void check_mode(const char* mode, const char* title, int w_expected, int h_expected,
                  const char* exit_line) {
    Display* dpy = XOpenDisplay(nullptr);
    ASSERT_NE(dpy, nullptr);
    fs::path dir = make_tree();
    int pid = start(dir, {"-m", mode, "-k", "-u", login_arg(dir)});
    ASSERT_GT(pid, 0);
    unsigned long w = wait_window(title, pid);
    ASSERT_NE(w, 0u) << title << read_file(dir / "run.err");
    // SDL names its window before the video mode gives it its size: wait for the size.
    XWindowAttributes attr{};
    for (int i = 0; i < 400; ++i) {
      ASSERT_TRUE(XGetWindowAttributes(dpy, w, &attr));
      if (attr.width == w_expected && attr.height == h_expected) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    XCloseDisplay(dpy);
    EXPECT_EQ(attr.width, w_expected);
    EXPECT_EQ(attr.height, h_expected);
    Outcome r = close_and_finish(dir, pid, title);
    EXPECT_EQ(r.code, 0) << r.err;
    std::string log = system_log(dir);
    EXPECT_EQ(count(log, "|START|"), 0u) << log;
    if (exit_line)
      EXPECT_EQ(count(log, exit_line), 1u) << log;
    else
      EXPECT_EQ(count(log, "|EXIT|"), 0u) << log;
  }

  fs::path run_tree_;
  fs::path supp_;
  std::unique_ptr<PrivateX> x_;
  std::vector<fs::path> dirs_;
};

TEST_F(StartupRun, MainWindowLogsStartAndExitAndRefusesASecondMainWindow) {
  fs::path a = make_tree();
  std::string login = login_arg(a);
  ASSERT_FALSE(login.empty()) << "setup.cfg of the run tree has no account";
  int pid = start(a, {"-k", "-u", login});
  ASSERT_GT(pid, 0);
  unsigned long w = wait_window("ZOL Main", pid);
  ASSERT_NE(w, 0u) << read_file(a / "run.out") << read_file(a / "run.err");

  std::string log = system_log(a);
  EXPECT_EQ(count(log, "|ZOL|START|ZOL - Program start.\n"), 1u) << log;
  std::string index = read_file(a / "logs" / "sysindex.txt");
  EXPECT_EQ(index.rfind("./logs/sys2", 0), 0u) << index;

  // The second main window (a tree without setup.cfg: it must not get that far).
  fs::path b = make_tree(false);
  Outcome second = run(b, {});
  EXPECT_EQ(second.code, 255);
  EXPECT_EQ(second.err.find("Error encountered"), std::string::npos) << second.err;
  EXPECT_FALSE(fs::exists(b / "logs"));
  EXPECT_EQ(process_running(pid), 1) << "the first window must keep running";

  Outcome first = close_and_finish(a, pid, "ZOL Main");
  EXPECT_EQ(first.code, 0) << first.out << first.err;
  log = system_log(a);
  size_t start_at = log.find("|START|");
  size_t exit_at = log.find("|ZOL|EXIT|ZOL - Program exit.\n");
  ASSERT_NE(exit_at, std::string::npos) << log;
  EXPECT_LT(start_at, exit_at);
  EXPECT_NE(first.out.find("SDL run-time version "), std::string::npos);
}

TEST_F(StartupRun, OneStrayWordOrHelpPrintsTheUsageAndWritesNothing) {
  struct Case {
    std::vector<std::string> args;
    int code;
  } cases[] = {{{"-k", "stray"}, 255}, {{"--help"}, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front());
    fs::path dir = make_tree();
    Outcome r = run(dir, c.args);
    EXPECT_EQ(r.code, c.code);
    EXPECT_NE(r.out.find("usage: vigilo\n\t--mode, -m <0,1,2,3>"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("getopt_long()"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(dir / "logs"));
  }
}

// Without an X display SDL would fall back to drawing in the terminal and never end: the
// client says so in one line and ends with 1 before it logs anything.
TEST_F(StartupRun, WithoutAnXDisplayOneLineAndExitOne) {
  EnvGuard driver("SDL_VIDEODRIVER", nullptr);
  for (const char* display : {static_cast<const char*>(nullptr), "unix:65000"}) {
    SCOPED_TRACE(display ? display : "unset");
    EnvGuard guard("DISPLAY", display);
    fs::path dir = make_tree();
    Outcome r = run(dir, {"-u", login_arg(dir)});
    EXPECT_EQ(r.code, 1) << r.out << r.err;
    const size_t at = r.out.find("X display");
    ASSERT_NE(at, std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\n', at), r.out.size() - 1) << "one line, the last";
    EXPECT_FALSE(fs::exists(dir / "logs"));
  }
}

TEST_F(StartupRun, UnreadableSetupShowsTheBoxAndEnds) {
  for (bool as_directory : {false, true}) {
    fs::path dir = make_tree(false);
    if (as_directory) fs::create_directory(dir / "setup.cfg");
    Outcome r = run(dir, {"-k"});
    EXPECT_EQ(r.code, 255) << as_directory;
    EXPECT_NE(r.err.find("ZOL Main: Error encountered while reading setup configuration file.\n"),
              std::string::npos)
        << r.err;
    std::string log = system_log(dir);
    EXPECT_EQ(count(log, "|START|"), 1u);  // the START line comes before setup.cfg is read
    EXPECT_EQ(count(log, "|EXIT|"), 0u);
  }
  // A fatal box of a load that went through ends the program the same way, never with 0.
  fs::path dir = make_tree();
  std::string cfg = read_file(dir / "setup.cfg");
  const size_t at = cfg.find("\nwatchdog=");
  ASSERT_NE(at, std::string::npos) << cfg;
  cfg.replace(at + 1, strlen("watchdog"), "");
  fs::remove(dir / "setup.cfg");  // a hard link into the run tree
  std::ofstream(dir / "setup.cfg", std::ios::binary) << cfg;
  Outcome r = run(dir, {"-k"});
  EXPECT_EQ(r.code, 255);
  EXPECT_NE(r.err.find("ZOL Main: Invalid setup.cfg:sscanf(item, value) failed.\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(count(system_log(dir), "|EXIT|"), 0u);
}

TEST_F(StartupRun, LoginNotCompletedStillWritesExitAndNoLogin) {
  fs::path dir = make_tree();
  int pid = start(dir, {"-k"});
  ASSERT_GT(pid, 0);
  // Closing the login window cancels it. SDL names its window before it listens for the
  // close, so the close is sent again until the program ends.
  Outcome r = close_and_finish(dir, pid, "ZOL Main");
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  std::string log = system_log(dir);
  EXPECT_EQ(count(log, "|START|"), 1u) << log;
  EXPECT_EQ(count(log, "|EXIT|"), 1u) << log;
  EXPECT_EQ(count(log, "|LOGIN|"), 0u) << log;
}

// Spot and event playback windows are 352x240 without a skin; the time playback window is
// titled as the main window; only the search window logs an EXIT line of its own.
TEST_F(StartupRun, OtherModesHaveTheirTitleSizeAndExitLine) {
  const struct {
    const char *mode, *title;
    int w, h;
    const char* exit_line;
  } modes[] = {{"2", "ZOL Spot Window", 352, 240, nullptr},
               {"7", "ZOL Main", 640, 480, nullptr},
               {"3", "ZOL Search", 640, 480, "|SEARCH|EXIT|SEARCH"},
               {"5", "ZOL Event Playback", 352, 240, nullptr}};
  for (const auto& m : modes) {
    SCOPED_TRACE(m.mode);
    check_mode(m.mode, m.title, m.w, m.h, m.exit_line);
  }
}

TEST_F(StartupRun, SixteenBitDisplayIsRefusedWithTheBoxAndExitsZero) {
  PrivateX x16(16);
  if (x16.display().empty()) GTEST_FAIL() << "Xvfb did not start";
  setenv("DISPLAY", x16.display().c_str(), 1);
  fs::path dir = make_tree();
  Outcome r = run(dir, {"-k", "-u", login_arg(dir)});
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_NE(r.err.find("ZOL Main: Only 32-bit display settings is supported."), std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("bit depth"), std::string::npos) << r.err;
  EXPECT_EQ(count(system_log(dir), "|EXIT|"), 1u);
}

}  // namespace
