// The real program against the simulated 'Q' DVR on a private X server: the skinned main
// window shows the DVR's live pictures in the tiles, the layout and page keys change what
// is on screen, and Esc or closing the window ends the program through its shutdown.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "client/screens/skin.h"
#include "platform/system/process.h"
#include "platform/system/x11_windows.h"
#include "tests/client/screens/run_tree.h"
#include "tests/client/screens/gui_harness.h"
#include "tests/platform/private_x.h"

namespace fs = std::filesystem;

namespace {

using gui::Census;
using gui::free_tcp_port;
using gui::Shot;

class LiveWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    run_tree_ = run_tree_dir();
    sim_ = run_tree_.parent_path() / "peers" / "qdvr_sim";
    if (!fs::exists(run_tree_ / "vigilo")) GTEST_SKIP() << "no vigilo in " << run_tree_;
    if (!fs::exists(sim_)) GTEST_SKIP() << "no simulated 'Q' DVR at " << sim_;
    if (!fs::exists(run_tree_ / "skin.cfg")) GTEST_SKIP() << "no default skin in the run tree";
    x_ = std::make_unique<PrivateX>(24, "1600x1200");
    if (x_->display().empty()) GTEST_SKIP() << "Xvfb did not start";
    setenv("DISPLAY", x_->display().c_str(), 1);
    setenv("VIGILO_BOX_ANSWER", "yes", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    char tmpl[] = "live-window-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = fs::absolute(tmpl);
    // libX11 never releases the input-method context that SDL's video start-up creates.
    std::ofstream(dir_ / "lsan.supp") << "leak:libX11.so\n";
    setenv("LSAN_OPTIONS", ("suppressions=" + (dir_ / "lsan.supp").string()).c_str(), 1);
    port_ = free_tcp_port();
    ASSERT_GT(port_, 0);
    use_own_link_port();
    copy_run_tree(run_tree_, dir_, false);  // start_all writes its own setup.cfg
  }

  void TearDown() override {
    if (vigilo_ > 0 && process_running(vigilo_)) {
      kill(vigilo_, SIGKILL);
      wait_process(vigilo_, 5000, nullptr);
    }
    if (dvr_ > 0 && process_running(dvr_)) {
      kill(dvr_, SIGTERM);
      wait_process(dvr_, 5000, nullptr);
    }
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  void key(unsigned long window, const char* name) {
    std::string w = std::to_string(window);
    const char* argv[] = {"xdotool", "key", "--window", w.c_str(), name, nullptr};
    int pid = start_process(argv);
    ASSERT_GT(pid, 0);
    int code = -1;
    wait_process(pid, 10000, &code);
  }

  // The census of video cell (col, row) of an n x n grid, shrunk by a margin so that the
  // on-screen text lines at the cell edges stay out of it.
  Census cell(Shot& shot, int col, int row, int n) {
    const int w = video_.w / n, h = video_.h / n;
    const int x = wx_ + video_.x + col * w, y = wy_ + video_.y + row * h;
    return shot.census(x + w / 10, y + h / 8, w - w / 5, h - h / 4);
  }

  // Polls the screen until `pred` holds for the picture or 45 s pass (a loaded machine
  // runs the sanitised client slowly).
  template <typename Pred>
  bool wait_for(Shot& shot, Pred pred) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(45);
    while (std::chrono::steady_clock::now() < deadline) {
      // SDL moves the window to the middle of the screen after mapping it.
      shot.origin(win_, &wx_, &wy_);
      shot.take();
      if (pred()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  // Starts the simulated DVR and vigilo against it; the window id in win_.
  void start_all() {
  // The simulated DVR on a free port; another test may take the port between our look-up
  // and the DVR's bind, so a DVR that ends at once is tried again on a fresh port.
  bool listening = false;
  for (int attempt = 0; attempt < 3 && !listening; ++attempt) {
    if (attempt > 0) port_ = free_tcp_port();
    std::string port = std::to_string(port_);
    std::string sim = sim_.string();
    const char* dvr_argv[] = {sim.c_str(), "--port", port.c_str(), "--channels", "16", nullptr};
    dvr_ = start_process(dvr_argv, (dir_ / "dvr.out").c_str(), (dir_ / "dvr.err").c_str());
    ASSERT_GT(dvr_, 0);
    for (int i = 0; i < 400 && !listening && process_running(dvr_); ++i) {
      int s = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(uint16_t(port_));
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      listening = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
      close(s);
      if (!listening) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!listening && process_running(dvr_)) {
      kill(dvr_, SIGTERM);
      wait_process(dvr_, 5000, nullptr);
    }
  }
  ASSERT_TRUE(listening) << read_file(dir_ / "dvr.out") << read_file(dir_ / "dvr.err");
  // The demo configuration with its first DVR on that port.
  std::string cfg = read_file(run_tree_ / "setup.cfg");
  for (size_t p = cfg.find("9101"); p != std::string::npos; p = cfg.find("9101", p))
    cfg.replace(p, 4, std::to_string(port_));
  std::ofstream(dir_ / "setup.cfg") << cfg;

  // The skin tells where the video area lies in the window.
  SKIN_WINDOW main_window;
  std::string skin_text = read_file(dir_ / "skin.cfg");
  ASSERT_EQ(parse_skins_line("main", skin_text.c_str(), &main_window), 0);
  video_ = main_window.video_rect;
  ASSERT_GT(video_.w, 0);

  std::string exe = (dir_ / "vigilo").string();
  const char* argv[] = {exe.c_str(), "-A", "DVR-1", "-u", "admin,admin", nullptr};
  const fs::path cwd = fs::current_path();
  fs::current_path(dir_);
  vigilo_ = start_process(argv, (dir_ / "vigilo.out").c_str(), (dir_ / "vigilo.err").c_str());
  fs::current_path(cwd);
  ASSERT_GT(vigilo_, 0);
  unsigned long win = 0;
  for (int i = 0; i < 600 && !win && process_running(vigilo_); ++i) {
    win = x11_find_window("ZOL Main");
    if (!win) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_NE(win, 0u) << read_file(dir_ / "vigilo.out") << read_file(dir_ / "vigilo.err");
  win_ = win;

  }

  fs::path run_tree_, sim_, dir_;
  std::unique_ptr<PrivateX> x_;
  int port_ = -1, dvr_ = -1, vigilo_ = -1;
  SDL_Rect video_{};
  unsigned long win_ = 0;
  int wx_ = 0, wy_ = 0;
};

TEST_F(LiveWindow, live_tiles_follow_the_layout_keys_and_esc_ends_the_program) {
  ASSERT_NO_FATAL_FAILURE(start_all());
  const unsigned long win = win_;
  Shot shot(x_->display().c_str());
  ASSERT_TRUE(shot.ok());

  // 4 x 4: each tile holds a synthetic picture: white digits on their black box, the
  // reddish square, no grey of an empty tile.
  auto all_tiles_live = [&] {
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c) {
        Census t = cell(shot, c, r, 4);
        if (t.white < t.total / 200 || t.black < t.total / 50 || t.red < t.total / 200 ||
            t.grey64 > t.total / 2)
          return false;
      }
    return true;
  };
  auto tiles_text = [&] {
    std::string t = "window at " + std::to_string(wx_) + "," + std::to_string(wy_) + "\n";
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c) {
        Census n = cell(shot, c, r, 4);
        t += std::to_string(n.white) + "/" + std::to_string(n.black) + "/" +
             std::to_string(n.red) + "/" + std::to_string(n.grey64) + "/" +
             std::to_string(n.total) + " ";
      }
    return t;
  };
  ASSERT_TRUE(wait_for(shot, all_tiles_live))
      << tiles_text() << read_file(dir_ / "vigilo.out").substr(0, 3000)
      << read_file(dir_ / "dvr.out") << read_file(dir_ / "dvr.err");

  // Layout 1: one picture over the whole area; its bottom-right quarter is background and
  // square only, with no digit box of another channel.
  key(win, "1");
  auto single = [&] { return cell(shot, 1, 1, 2).black < cell(shot, 1, 1, 2).total / 200; };
  ASSERT_TRUE(wait_for(shot, single));
  const int digits_page0 = cell(shot, 0, 0, 2).white;

  // Up: the 2 x 2 grid, whose bottom-right tile has its own digit box again.
  key(win, "Up");
  auto quad = [&] { return cell(shot, 1, 1, 2).black > cell(shot, 1, 1, 2).total / 50; };
  ASSERT_TRUE(wait_for(shot, quad));

  // Page Up in layout 1 shows channel 1: its digit differs from the "0" of page 0.
  key(win, "1");
  ASSERT_TRUE(wait_for(shot, single));
  key(win, "Prior");
  auto other_digit = [&] {
    Census t = cell(shot, 0, 0, 2);
    return t.white > 0 && std::abs(t.white - digits_page0) > digits_page0 / 10;
  };
  EXPECT_TRUE(wait_for(shot, other_digit));

  // Layout 6 (36 cells) with 16 channels: the last row is empty tiles, with no live
  // picture (no white digits, no reddish square) whatever the skin draws in them.
  key(win, "6");
  auto empty_last_row = [&] {
    Census t = cell(shot, 5, 5, 6);
    return t.white < t.total / 500 && t.red < t.total / 500;
  };
  EXPECT_TRUE(wait_for(shot, empty_last_row));

  // A drag from the first cell to the diagonal neighbour merges the 2 x 2 square into one
  // cell of a user layout: where channel 5 had its digits, channel 0's picture now shows
  // its plain lower right part.
  key(win, "4");
  auto grid16 = [&] { return cell(shot, 1, 1, 4).black > cell(shot, 1, 1, 4).total / 50; };
  ASSERT_TRUE(wait_for(shot, grid16));
  const int cw = video_.w / 4, ch = video_.h / 4;
  const int x0 = wx_ + video_.x + cw / 2, y0 = wy_ + video_.y + ch / 2;
  std::string sx0 = std::to_string(x0), sy0 = std::to_string(y0);
  std::string sx1 = std::to_string(x0 + cw), sy1 = std::to_string(y0 + ch);
  std::string sx2 = std::to_string(x0 + cw + 5), sy2 = std::to_string(y0 + ch + 5);
  const char* drag[] = {"xdotool", "mousemove", sx0.c_str(), sy0.c_str(), "mousedown", "1",
                        "mousemove", sx1.c_str(), sy1.c_str(), "mousemove", sx2.c_str(),
                        sy2.c_str(), "mouseup", "1", nullptr};
  int drag_pid = start_process(drag);
  ASSERT_GT(drag_pid, 0);
  wait_process(drag_pid, 10000, nullptr);
  auto merged = [&] { return cell(shot, 1, 1, 4).black < cell(shot, 1, 1, 4).total / 200; };
  EXPECT_TRUE(wait_for(shot, merged));
  // The other tiles stay as they were.
  EXPECT_GT(cell(shot, 3, 3, 4).black, cell(shot, 3, 3, 4).total / 50);

  // Esc with nothing selected asks the exit question (answered Yes); the program leaves
  // its loop and shuts down cleanly.
  key(win, "Escape");
  int code = -1;
  ASSERT_EQ(wait_process(vigilo_, 30000, &code), 0) << "vigilo did not end";
  EXPECT_EQ(code, 0) << read_file(dir_ / "vigilo.err");
  EXPECT_NE(read_file(dir_ / "vigilo.out").find("Exiting event loop ..."), std::string::npos);
}

TEST_F(LiveWindow, closing_the_window_ends_the_program) {
  ASSERT_NO_FATAL_FAILURE(start_all());
  Shot shot(x_->display().c_str());
  ASSERT_TRUE(shot.ok());
  auto first_tile_live = [&] {
    Census t = cell(shot, 0, 0, 4);
    return t.white > t.total / 200 && t.black > t.total / 50;
  };
  ASSERT_TRUE(wait_for(shot, first_tile_live));
  ASSERT_EQ(x11_close_window(win_), 0);
  int code = -1;
  ASSERT_EQ(wait_process(vigilo_, 30000, &code), 0) << "vigilo did not end";
  EXPECT_EQ(code, 0) << read_file(dir_ / "vigilo.err");
  EXPECT_NE(read_file(dir_ / "vigilo.out").find("Exiting event loop ..."), std::string::npos);
}

}  // namespace

namespace {

TEST_F(LiveWindow, d_records_the_selected_tiles_into_rec_path) {
  ASSERT_NO_FATAL_FAILURE(start_all());
  Shot shot(x_->display().c_str());
  ASSERT_TRUE(shot.ok());
  auto tile_live = [&](int c, int r) {
    Census t = cell(shot, c, r, 4);
    return t.white > t.total / 200 && t.black > t.total / 50;
  };
  ASSERT_TRUE(wait_for(shot, [&] { return tile_live(1, 1) && tile_live(2, 1); }));

  // Tiles 5 and 6: a click, then a Ctrl-click, then 'd'.
  const int cw = video_.w / 4, ch = video_.h / 4;
  auto centre = [&](int c, int r) {
    return std::vector<std::string>{std::to_string(wx_ + video_.x + c * cw + cw / 2),
                                    std::to_string(wy_ + video_.y + r * ch + ch / 2)};
  };
  auto a = centre(1, 1), b = centre(2, 1);
  const char* select[] = {"xdotool", "mousemove", a[0].c_str(), a[1].c_str(), "click", "1",
                          "mousemove", b[0].c_str(), b[1].c_str(), "keydown", "ctrl", "click", "1",
                          "keyup", "ctrl", nullptr};
  int pid = start_process(select);
  ASSERT_GT(pid, 0);
  wait_process(pid, 10000, nullptr);
  key(win_, "d");

  // Both files grow past the size the second press would delete, then 'd' closes them.
  const fs::path rec = dir_ / "record";
  auto sizes = [&] {
    std::vector<uintmax_t> s;
    std::error_code ec;
    if (fs::is_directory(rec, ec))
      for (const auto& e : fs::directory_iterator(rec))
        if (e.path().extension() == ".zol") s.push_back(fs::file_size(e.path()));
    return s;
  };
  auto both_large = [&] {
    auto s = sizes();
    return s.size() == 2 && s[0] > 0x20000 && s[1] > 0x20000;
  };
  bool grown = false;
  for (int i = 0; i < 600 && !grown; ++i) {
    grown = both_large();
    if (!grown) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_TRUE(grown) << sizes().size() << " files\n" << read_file(dir_ / "vigilo.out").substr(0, 3000);
  key(win_, "d");
  key(win_, "Escape");  // clears the selection
  key(win_, "Escape");  // nothing selected: the exit question, answered Yes
  int code = -1;
  ASSERT_EQ(wait_process(vigilo_, 30000, &code), 0) << "vigilo did not end";
  EXPECT_EQ(code, 0) << read_file(dir_ / "vigilo.err");
  EXPECT_TRUE(both_large());
}

}  // namespace
