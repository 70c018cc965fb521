// The open-file dialog of the real filechooser program on a private X server: a typed path
// comes back; cancelling gives -1 and an empty path.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "client/foundation/config/app_options.h"
#include "client/foundation/win_helpers.h"
#include "platform/system/process.h"
#include "platform/system/x11_windows.h"
#include "tests/client/screens/run_tree.h"
#include "tests/platform/private_x.h"

namespace fs = std::filesystem;

namespace {

void xdotool(std::vector<std::string> args) {
  args.insert(args.begin(), "xdotool");
  std::vector<const char*> argv;
  for (auto& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  int pid = start_process(argv.data());
  ASSERT_GT(pid, 0);
  wait_process(pid, 10000, nullptr);
}

class FileDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path run = run_tree_dir();
    if (!fs::exists(run / "filechooser")) GTEST_FAIL() << "no filechooser in " << run;
    x_ = std::make_unique<PrivateX>(24, "1024x768");
    if (x_->display().empty()) GTEST_FAIL() << "Xvfb did not start";
    setenv("DISPLAY", x_->display().c_str(), 1);
    snprintf(app_options.program_dir, sizeof app_options.program_dir, "%s/", run.c_str());
    char tmpl[] = "file-dialog-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = fs::absolute(tmpl);
    std::ofstream(dir_ / "clip.zol") << "x";
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }
  // Runs the dialog on another thread, waits for its window (and its focus), then `act`s.
  int ask(const std::function<void()>& act, std::string* path) {
    std::promise<int> done;
    auto result = done.get_future();
    std::thread t([&] {
      char out[600];
      memset(out, 'x', sizeof out);
      const int rc = open_file_dialog(dir_.c_str(), out, sizeof out);
      *path = out;
      done.set_value(rc);
    });
    unsigned long w = 0;
    for (int i = 0; i < 600 && !w; ++i) {
      w = x11_find_window("Open");
      if (!w) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_NE(w, 0u) << "no dialog window";
    if (w) {
      xdotool({"windowfocus", "--sync", std::to_string(w)});
      act();
    }
    // A dialog that missed the keys is closed, so the thread always ends.
    if (result.wait_for(std::chrono::seconds(60)) != std::future_status::ready && w)
      x11_close_window(w);
    t.join();
    return result.get();
  }

  std::unique_ptr<PrivateX> x_;
  fs::path dir_;
};

TEST_F(FileDialog, typed_path_comes_back_and_cancel_gives_minus_1_and_empty) {
  std::string path = "unset";
  const std::string file = (dir_ / "clip.zol").string();
  EXPECT_EQ(ask(
                [&] {
                  xdotool({"key", "ctrl+l"});
                  xdotool({"type", "--delay", "20", file});
                  xdotool({"key", "Return"});
                },
                &path),
            0);
  EXPECT_EQ(path, file);

  path = "unset";
  EXPECT_EQ(ask([&] { xdotool({"key", "Escape"}); }, &path), -1);
  EXPECT_EQ(path, "");
}

}  // namespace
