// The launcher against stub programs in a copy of the run tree, on a private X server: each
// stub records its argument vector and shows the window of the program it stands for.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/foundation/config/app_options.h"
#include "client/foundation/config/setup_config.h"
#include "client/foundation/config/utils.h"
#include "client/links/link_notices.h"
#include "client/screens/launcher.h"
#include "client/screens/screen_state.h"
#include "platform/system/process.h"
#include "platform/system/x11_windows.h"
#include "tests/client/screens/eventually.h"
#include "tests/client/screens/run_tree.h"
#include "tests/client/screens/screens_fixture.h"
#include "tests/platform/private_x.h"

namespace fs = std::filesystem;
using Words = std::vector<std::string>;

namespace {

std::vector<std::string> boxes;
BoxAnswer record_box(const char*, const char* text, BoxButtons) {
  boxes.push_back(text);
  return BoxAnswer::ok;
}

class Launcher : public ScreensTest {
 protected:
  void SetUp() override {
    ScreensTest::SetUp();
    const fs::path stub = fs::read_symlink("/proc/self/exe").parent_path() / "launch_stub";
    if (!fs::exists(stub)) GTEST_FAIL() << "no launch_stub beside the test";
    const fs::path setup = run_tree_dir() / "setup.cfg";
    if (!fs::exists(setup)) GTEST_FAIL() << "no setup.cfg in the run tree";
    x_ = std::make_unique<PrivateX>(24, "1600x1200");
    if (x_->display().empty()) GTEST_FAIL() << "Xvfb did not start";
    setenv("DISPLAY", x_->display().c_str(), 1);
    char tmpl[] = "/tmp/launcher-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    fs::create_directory(dir_ / "bin");
    for (const char* name : {"vigilo", "auxdesk", "loadmeter", "linkmeter", "probe", "refresher"})
      fs::copy_file(stub, dir_ / name);
    fs::copy_file(stub, dir_ / "bin" / "xdg-open");
    old_path_ = getenv("PATH") ? getenv("PATH") : "";
    setenv("PATH", ((dir_ / "bin").string() + ":" + old_path_).c_str(), 1);
    setenv("LAUNCH_STUB_LOG", (dir_ / "launched.txt").c_str(), 1);
    set_message_box_hook(record_box);
    boxes.clear();
    ASSERT_EQ(load_setup_info(setup.c_str()), 0);

    opts = &app_options;
    init_app_options(opts);
    opts->context = ctx;
    snprintf(opts->program_dir, sizeof opts->program_dir, "%s/", dir_.c_str());
    snprintf(opts->program_file, sizeof opts->program_file, "vigilo");
    snprintf(opts->user_id, sizeof opts->user_id, "op one");
    snprintf(opts->password, sizeof opts->password, "s3cret word");
    ctx->desktop_w = 1600;
    ctx->desktop_h = 1200;
    cwd_ = fs::current_path();
  }
  void TearDown() override {
    close_child_windows();
    reap_children();
    set_message_box_hook(nullptr);
    if (!old_path_.empty()) setenv("PATH", old_path_.c_str(), 1);
    if (!cwd_.empty()) fs::current_path(cwd_);
    if (!dir_.empty()) fs::remove_all(dir_);
    ScreensTest::TearDown();
  }

  // The argument vector of the next program started, as its stub wrote it; {} when none.
  Words next_start(int ms = 20000) {
    Words words;
    eventually(
        [&] {
          std::ifstream f(dir_ / "launched.txt");
          std::string line;
          for (size_t i = 0; std::getline(f, line); ++i)
            if (i == seen_) {
              std::stringstream ss(line);
              std::string w;
              while (std::getline(ss, w, '\t')) words.push_back(w);
              if (line.empty() || line.back() == '\t') words.push_back("");
              return true;
            }
          return false;
        },
        ms);
    if (!words.empty()) ++seen_;
    return words;
  }
  unsigned long window_of(const char* title) {
    unsigned long w = 0;
    eventually([&] { return (w = x11_find_window(title)) != 0; });
    return w;
  }
  void select_channel_of(const char* dvr, int id) {
    snprintf(ctx->receivers[0].name, sizeof ctx->receivers[0].name, "%s", dvr);
    ctx->receivers[0].channels[id].selected.store(1);
  }

  APP_OPTIONS* opts = nullptr;
  std::unique_ptr<PrivateX> x_;
  fs::path dir_, cwd_;
  std::string old_path_;
  size_t seen_ = 0;
};

TEST_F(Launcher, every_start_passes_its_words_one_by_one) {
  add_channels(4);
  select_channel_of("DVR-1", 2);
  screen_state.pad_channel = 1;
  snprintf(opts->auto_start, sizeof opts->auto_start, "All DVRs");
  snprintf(opts->input_file, sizeof opts->input_file, "/rec/day one.zol");
  const std::string self = dir_.string() + "/vigilo", login = "-uop one,s3cret word";
  struct Case {
    std::function<int()> start;
    Words words;
  } cases[] = {
      {[&] { return start_extension_window(opts, ctx); },
       {self, login, "-m1", "-i127.0.0.1", "-k", "-e"}},
      {[&] { return start_spot_window(opts, ctx); },
       {self, "-ADVR-1", "-k", "-e", "-v4", "-w1248,960", login, "-m2"}},
      {[&] {
         ctx->alarm_channel.store(3);
         return start_event_spot_window(opts, ctx) > 0 ? 0 : -1;  // its pid
       },
       {self, "-ADVR-1", "-k", "-e", "-v8", "-w1248,960", login, "-m2"}},
      {[&] { return start_search_window(opts); }, {self, login, "-m3"}},
      {[&] { return start_playback_window(opts); },
       {self, "-f/rec/day one.zol", "-w1248,960", login, "-m4"}},
      {[&] { return start_time_playback_window("DVR-2", 5, 2024, 3, 4, 5, 6); },
       {self, "-ADVR-2", "-k", "-e", "-v5", "-b2024", "-g3", "-h4", "-j5", "-q6", "-w1600,1200",
        login, "-m7"}},
      {[&] { return start_auxdesk("setup", opts); },
       {dir_.string() + "/auxdesk", "setup", "op one", "s3cret word", "", ""}},
      {[&] { return start_auxdesk("emap", opts); },
       {dir_.string() + "/auxdesk", "emap", "op one", "s3cret word", "All DVRs", ""}},
      {[&] { return start_auxdesk("logview", opts); },
       {dir_.string() + "/auxdesk", "logview", "op one", "s3cret word", "", ""}},
      {[&] {
         opts->conn_state.store(CONN_CONNECTED);
         snprintf(opts->auto_start, sizeof opts->auto_start, "DVR-2");
         return start_auxdesk("dvrsetup", opts);
       },
       {dir_.string() + "/auxdesk", "dvrsetup", "op one", "s3cret word", "DVR-2", "MW-2606QTR14"}},
      {[&] { return start_monitor_program(opts, "CPU"); }, {dir_.string() + "/loadmeter", "CPU"}},
      // Refused until half a second after the CPU monitor's start.
      {[&] {
         return eventually([&] { return start_monitor_program(opts, "Network") == 0; }) ? 0 : -1;
       },
       {dir_.string() + "/linkmeter", "Network"}},
      {[&] { return start_probe(opts, ctx); },
       {dir_.string() + "/probe", "checkwin", "DVR-1", "MW-2606QTR14"}},
      {[&] { return start_refresher(opts, ctx); }, {dir_.string() + "/refresher"}},
  };
  std::vector<int> results;
  std::vector<Words> started;
  testing::internal::CaptureStdout();
  for (const Case& c : cases) {
    results.push_back(c.start());
    started.push_back(next_start());
  }
  // The operator's password goes to the programs only, never to the output.
  EXPECT_EQ(testing::internal::GetCapturedStdout().find("s3cret"), std::string::npos);
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(results[i], 0) << i;
    EXPECT_EQ(started[i], cases[i].words) << i;
  }
  EXPECT_TRUE(boxes.empty());
}

TEST_F(Launcher, dvr_setup_needs_one_dvr) {
  add_channels(1);
  struct Case {
    uint32_t state;
    const char* target;
    int rc;
    const char* box;
  } cases[] = {
      {CONN_DISCONNECTED, "", -1, "No selected DVR."},  // nothing selected in dvr_list
      {CONN_CONNECTED, "All DVRs", -2, "Can't open dvr setup in group mode."},
  };
  for (const Case& c : cases) {
    boxes.clear();
    opts->conn_state.store(c.state);
    snprintf(opts->auto_start, sizeof opts->auto_start, "%s", c.target);
    EXPECT_EQ(start_auxdesk("dvrsetup", opts), c.rc);
    EXPECT_EQ(boxes, Words{c.box});
  }
}

TEST_F(Launcher, running_copies_are_raised_and_gone_ones_started_anew) {
  ASSERT_EQ(start_auxdesk("setup", opts), 0);
  ASSERT_EQ(next_start().at(1), "setup");
  ASSERT_NE(window_of("ZOL Client Setup"), 0u);
  ASSERT_EQ(start_extension_window(opts, ctx), 0);
  ASSERT_EQ(next_start().at(2), "-m1");
  const unsigned long ext = window_of("ZOL Extension Window");
  ASSERT_NE(ext, 0u);
  EXPECT_EQ(start_auxdesk("setup", opts), 0);
  EXPECT_EQ(start_extension_window(opts, ctx), 0);
  EXPECT_EQ(next_start(500), Words{}) << "raised, not started again";
  // Two meter presses within half a second start one monitor.
  EXPECT_EQ(start_monitor_program(opts, "CPU"), 0);
  EXPECT_EQ(start_monitor_program(opts, "Network"), -1);
  EXPECT_EQ(next_start().at(1), "CPU");
  EXPECT_EQ(next_start(700), Words{});
  x11_close_window(ext);
}

// The browse button: the dialog opens in the record path, whatever became of the playback
// window started before, and the chosen file opens by its kind.
std::string chooser_dir, chooser_answer;
int fake_chooser(const char* dir, char* out, size_t cap) {
  chooser_dir = dir;
  snprintf(out, cap, "%s", chooser_answer.c_str());
  return chooser_answer.empty() ? -1 : 0;
}

TEST_F(Launcher, browse_opens_the_chosen_file_even_after_a_playback_window_closed) {
  chooser_answer = "";
  EXPECT_EQ(browse_recorded_file(opts, "/rec/", fake_chooser), 1);
  EXPECT_EQ(chooser_dir, "/rec/");
  EXPECT_EQ(next_start(300), Words{}) << "cancelled";
  chooser_answer = "/rec/a.zol";
  ASSERT_EQ(browse_recorded_file(opts, "/rec/", fake_chooser), 0);
  ASSERT_EQ(next_start().at(1), "-f/rec/a.zol");
  x11_close_window(window_of("ZOL Playback"));
  ASSERT_TRUE(eventually([] { return raise_child_window("ZOL Playback") == -1; }));
  chooser_answer = "/rec/b.zol";
  chooser_dir.clear();
  ASSERT_EQ(browse_recorded_file(opts, "/rec/", fake_chooser), 0);
  EXPECT_EQ(chooser_dir, "/rec/");
  EXPECT_EQ(next_start().at(1), "-f/rec/b.zol");
  chooser_answer = "/rec/CAM.BMP";
  ASSERT_EQ(browse_recorded_file(opts, "/rec/", fake_chooser), 0);
  EXPECT_EQ(next_start(), (Words{(dir_ / "bin" / "xdg-open").string(), "/rec/CAM.BMP"}));
  // A path the input file cannot hold whole is refused, not cut to another file's name.
  chooser_answer = "/rec/" + std::string(300, 'x') + ".zol";
  testing::internal::CaptureStdout();
  EXPECT_EQ(browse_recorded_file(opts, "/rec/", fake_chooser), -1);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(next_start(300), Words{});
}

// Spot windows and the mailslot's time playback windows each have their 16; the 17th waits
// until one of them closes. Only the operator's own press gets a box.
TEST_F(Launcher, seventeenth_spot_or_time_playback_window_waits_until_one_closes) {
  add_channels(1);
  select_channel_of("DVR-1", 0);
  const std::string limit = "The maximum number of modules started has been exceeded.";
  struct Kind {
    const char* title;
    std::function<int()> start;
    bool box;
  } kinds[] = {
      {"ZOL Spot Window", [&] { return start_spot_window(opts, ctx); }, true},
      {"ZOL Main", [] { return start_time_playback_window("DVR-1", 1, 2024, 1, 2, 3, 4); }, false},
  };
  for (const Kind& k : kinds) {
    boxes.clear();
    for (int i = 0; i < 16; ++i) {
      ASSERT_GE(k.start(), 0) << k.title << " " << i;
      ASSERT_NE(next_start(), Words{}) << k.title << " " << i;
    }
    // Windows still on their way count as shown.
    testing::internal::CaptureStdout();
    EXPECT_EQ(k.start(), -1) << k.title;
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(boxes, k.box ? Words{limit} : Words{}) << k.title;
    EXPECT_EQ(out.find(limit) != std::string::npos, !k.box) << out;
    x11_close_window(window_of(k.title));
    EXPECT_TRUE(eventually([&] { return k.start() >= 0; })) << k.title;
    EXPECT_NE(next_start(), Words{}) << k.title;
  }
  // A request without a target would start a window whose -A takes "-k" for its DVR.
  testing::internal::CaptureStdout();
  EXPECT_EQ(start_time_playback_window("", 1, 2024, 1, 2, 3, 4), -1);
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(next_start(300), Words{});
  // The spot table is full again. The limit box waits for the operator with the launcher
  // free: the mailslot timer and the pop-up start windows meanwhile.
  static bool free_during_box;
  free_during_box = false;
  boxes.clear();
  set_message_box_hook([](const char* title, const char* text, BoxButtons b) {
    auto other = std::async(std::launch::async, [] { return raise_child_window("ZOL Playback"); });
    free_during_box = other.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    return record_box(title, text, b);
  });
  EXPECT_EQ(start_spot_window(opts, ctx), -1);
  EXPECT_EQ(boxes, Words{limit});
  EXPECT_TRUE(free_during_box);
  // The alarm pop-up's thread shows no box: the window loop is handed it.
  clear_link_notices();
  ctx->alarm_channel.store(0);
  int popup_rc = 0;
  std::thread([&] { popup_rc = start_event_spot_window(opts, ctx); }).join();
  EXPECT_EQ(popup_rc, -1);
  EXPECT_EQ(boxes.size(), 1u);
  LINK_NOTICE posted;
  ASSERT_TRUE(take_link_notice(&posted));
  EXPECT_EQ(posted.number, LINK_ERROR_BOX);
  EXPECT_EQ(posted.text(), limit);
  set_message_box_hook(record_box);
}

TEST_F(Launcher, outside_programs_start_only_when_installed) {
  for (const char* name : {"loadmeter", "probe", "auxdesk", "refresher"}) fs::remove(dir_ / name);
  fs::remove(dir_ / "bin" / "xdg-open");
  setenv("PATH", (dir_ / "bin").c_str(), 1);
  add_channels(1);
  screen_state.pad_channel = 0;
  snprintf(opts->input_file, sizeof opts->input_file, "/rec/shot.bmp");
  struct Case {
    std::function<int()> start;
    std::string line;  // "" for none
  } cases[] = {
      {[&] { return start_monitor_program(opts, "CPU"); }, dir_.string() + "/loadmeter"},
      {[&] { return start_probe(opts, ctx); }, dir_.string() + "/probe"},
      {[&] { return start_auxdesk("setup", opts); }, dir_.string() + "/auxdesk"},
      {[&] { return start_playback_window(opts); }, "xdg-open"},
      {[&] { return start_refresher(opts, ctx); }, ""},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(c.start(), -1) << c.line;
    const std::string out = testing::internal::GetCapturedStdout();
    if (c.line.empty())
      EXPECT_EQ(out, "");
    else
      EXPECT_NE(out.find(c.line), std::string::npos) << out;
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), c.line.empty() ? 0 : 1) << out;
  }
  EXPECT_EQ(next_start(300), Words{});
}

TEST_F(Launcher, films_and_pictures_go_to_the_desktop_opener) {
  for (const char* file : {"/rec/CAM.BMP", "/rec/clip.avi"}) {
    snprintf(opts->input_file, sizeof opts->input_file, "%s", file);
    EXPECT_EQ(start_playback_window(opts), 0);
    EXPECT_EQ(next_start(), (Words{(dir_ / "bin" / "xdg-open").string(), file}));
  }
  snprintf(opts->input_file, sizeof opts->input_file, "/rec/x.zol");
  EXPECT_EQ(start_playback_window(opts), 0);
  EXPECT_EQ(next_start().at(0), dir_.string() + "/vigilo");
  EXPECT_NE(window_of("ZOL Playback"), 0u);
}

TEST_F(Launcher, names_reach_a_child_as_one_word_and_no_shell_sees_them) {
  add_channels(1);
  select_channel_of("a;touch x", 0);
  fs::current_path(dir_);
  ASSERT_EQ(start_spot_window(opts, ctx), 0);
  EXPECT_EQ(next_start().at(1), "-Aa;touch x");
  EXPECT_FALSE(fs::exists(dir_ / "x"));
}

TEST_F(Launcher, shutdown_closes_and_ends_what_was_started) {
  add_channels(1);
  select_channel_of("DVR-1", 0);
  std::vector<int> pids;
  ASSERT_EQ(start_search_window(opts), 0);
  ASSERT_EQ(start_auxdesk("emap", opts), 0);
  ASSERT_EQ(start_extension_window(opts, ctx), 0);
  ASSERT_EQ(start_spot_window(opts, ctx), 0);
  ASSERT_EQ(start_time_playback_window("DVR-1", 1, 2024, 1, 2, 3, 4), 0);
  for (const char* title :
       {"ZOL Search", "ZOL E-Map", "ZOL Extension Window", "ZOL Spot Window", "ZOL Main"}) {
    const unsigned long w = window_of(title);
    ASSERT_NE(w, 0u) << title;
    pids.push_back(x11_window_pid(w));
  }
  close_child_windows();
  wait_search_and_emap(20000);
  // The time playback window is titled "ZOL Main": one left behind would block the next
  // main window.
  for (int pid : pids) EXPECT_TRUE(eventually([pid] { return !process_running(pid); })) << pid;
  EXPECT_EQ(x11_find_window("ZOL Main"), 0u);
}

}  // namespace
