// The real auxdesk of the run tree in a scratch copy of that tree, on its own private X
// server: start it with a command line, wait for it, read what it printed.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/system/process.h"
#include "platform/system/x11_windows.h"
#include "tests/client/screens/run_tree.h"
#include "tests/platform/private_x.h"

class RealAuxdesk : public ::testing::Test {
 protected:
  void SetUp() override {
    run_ = run_tree_dir();
    if (!std::filesystem::exists(run_ / "auxdesk")) GTEST_FAIL() << "no auxdesk in " << run_;
    x_ = std::make_unique<PrivateX>(24, "1600x1200");
    if (x_->display().empty()) GTEST_FAIL() << "Xvfb did not start";
    setenv("DISPLAY", x_->display().c_str(), 1);
    setenv("VIGILO_BOX_ANSWER", "ok", 1);
    char tmpl[] = "/tmp/auxdesk-run-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    copy_run_tree(run_, dir_, false);
  }
  void TearDown() override {
    if (pid_ > 0 && process_running(pid_)) {
      kill(pid_, SIGKILL);
      wait_process(pid_, 5000, nullptr);
    }
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  // Starts auxdesk with `args` in the scratch tree; output goes to out.txt and err.txt.
  void start(const std::vector<std::string>& args) {
    std::string exe = (dir_ / "auxdesk").string();
    std::vector<const char*> argv{exe.c_str()};
    for (const std::string& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
    pid_ = start_process(argv.data(), (dir_ / "out.txt").c_str(), (dir_ / "err.txt").c_str());
    std::filesystem::current_path(cwd);
    ASSERT_GT(pid_, 0);
  }
  // Waits for the end of the program; its exit status, or -1 when it still runs.
  int finish(int timeout_ms = 30000) {
    int code = -1;
    if (wait_process(pid_, timeout_ms, &code) != 0) return -1;
    return code;
  }
  // The window of that title, waited for while the program runs; 0 when none came.
  unsigned long window(const char* title, int timeout_ms = 30000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (std::chrono::steady_clock::now() < end && process_running(pid_)) {
      if (unsigned long w = x11_find_window(title)) return w;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
  }
  std::string out() { return read_file(dir_ / "out.txt"); }
  std::string err() { return read_file(dir_ / "err.txt"); }

  std::filesystem::path run_, dir_;
  std::unique_ptr<PrivateX> x_;
  int pid_ = -1;
};
