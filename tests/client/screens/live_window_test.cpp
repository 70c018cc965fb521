// The real program against the simulated 'Q' DVR on a private X server: the skinned main
// window shows the DVR's live pictures in the tiles, the layout and page keys change what
// is on screen, and Esc or closing the window ends the program through its shutdown; an X
// server that goes away ends it once, with its recordings closed whole.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/client/links/record_files.h"
#include "tests/client/screens/gui_harness.h"

namespace fs = std::filesystem;

namespace {

using gui::Census;

class LiveWindow : public gui::GuiTest {
 protected:
  // The simulated DVR and vigilo against it, the video area from the skin.
  void start_all() {
    const int port = start_dvr();
    ASSERT_GT(port, 0);
    write_setup(port);
    video_ = video_rect();
    ASSERT_GT(video_.w, 0);
    ASSERT_NO_FATAL_FAILURE(start_vigilo({"-A", "DVR-1", "-u", "admin,admin"}));
  }
  // Cell (c, r) of the 4 x 4 grid holds a picture: white digits on their black box.
  bool live(int c, int r) const {
    const Census t = cell(c, r, 4);
    return t.white > t.total / 200 && t.black > t.total / 50;
  }
  // Screen coordinates of the centre of tile (c, r) of the 4 x 4 grid.
  std::vector<std::string> centre(int c, int r) const {
    const int cw = video_.w / 4, ch = video_.h / 4;
    return {std::to_string(wx_ + video_.x + c * cw + cw / 2),
            std::to_string(wy_ + video_.y + r * ch + ch / 2)};
  }
};

TEST_F(LiveWindow, live_tiles_follow_the_layout_keys_and_esc_ends_the_program) {
  ASSERT_NO_FATAL_FAILURE(start_all());

  // 4 x 4: each tile holds a synthetic picture: white digits on their black box, the
  // reddish square, no grey of an empty tile.
  auto all_tiles_live = [&] {
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c) {
        Census t = cell(c, r, 4);
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
        Census n = cell(c, r, 4);
        t += std::to_string(n.white) + "/" + std::to_string(n.black) + "/" + std::to_string(n.red) +
             "/" + std::to_string(n.grey64) + "/" + std::to_string(n.total) + " ";
      }
    return t;
  };
  ASSERT_TRUE(wait_for(all_tiles_live))
      << tiles_text() << out().substr(0, 3000) << read_file(dir_ / "dvr0.err");

  // Layout 1: one picture over the whole area; its bottom-right quarter is background and
  // square only, with no digit box of another channel.
  key("1");
  auto single = [&] { return cell(1, 1, 2).black < cell(1, 1, 2).total / 200; };
  ASSERT_TRUE(wait_for(single));
  const int digits_page0 = cell(0, 0, 2).white;

  // Up: the 2 x 2 grid, whose bottom-right tile has its own digit box again.
  key("Up");
  auto quad = [&] { return cell(1, 1, 2).black > cell(1, 1, 2).total / 50; };
  ASSERT_TRUE(wait_for(quad));

  // Page Up in layout 1 shows channel 1: its digit differs from the "0" of page 0.
  key("1");
  ASSERT_TRUE(wait_for(single));
  key("Prior");
  auto other_digit = [&] {
    Census t = cell(0, 0, 2);
    return t.white > 0 && std::abs(t.white - digits_page0) > digits_page0 / 10;
  };
  EXPECT_TRUE(wait_for(other_digit));

  // Layout 6 (36 cells) with 16 channels: the last row is empty tiles, with no live
  // picture (no white digits, no reddish square) whatever the skin draws in them.
  key("6");
  auto empty_last_row = [&] {
    Census t = cell(5, 5, 6);
    return t.white < t.total / 500 && t.red < t.total / 500;
  };
  EXPECT_TRUE(wait_for(empty_last_row));

  // A drag from the first cell to the diagonal neighbour merges the 2 x 2 square into one
  // cell of a user layout: where channel 5 had its digits, channel 0's picture now shows
  // its plain lower right part.
  key("4");
  auto grid16 = [&] { return cell(1, 1, 4).black > cell(1, 1, 4).total / 50; };
  ASSERT_TRUE(wait_for(grid16));
  const auto a = centre(0, 0), b = centre(1, 1);
  const int bx = std::atoi(b[0].c_str()) + 5, by = std::atoi(b[1].c_str()) + 5;
  gui::run({"xdotool", "mousemove", a[0], a[1], "mousedown", "1", "mousemove", b[0], b[1],
            "mousemove", std::to_string(bx), std::to_string(by), "mouseup", "1"});
  auto merged = [&] { return cell(1, 1, 4).black < cell(1, 1, 4).total / 200; };
  EXPECT_TRUE(wait_for(merged));
  // The other tiles stay as they were.
  EXPECT_GT(cell(3, 3, 4).black, cell(3, 3, 4).total / 50);

  // Esc with nothing selected asks the exit question (answered Yes); the program leaves
  // its loop and shuts down cleanly.
  key("Escape");
  expect_clean_exit();
}

// The names of the threads of process `pid` (/proc/<pid>/task/*/comm, as `ps -L -o comm` and
// `top -H` show them), sorted.
std::vector<std::string> thread_names(int pid) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ec)) {
    std::string name = read_file(task.path() / "comm");
    while (!name.empty() && name.back() == '\n') name.pop_back();
    if (!name.empty()) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(LiveWindow, closing_the_window_ends_the_program) {
  ASSERT_NO_FATAL_FAILURE(start_all());
  ASSERT_TRUE(wait_for([&] { return live(0, 0); }));

  // Each thread says what it is: the DVR's receive thread, the decoders, the DVR event
  // stages, the monitors and SDL's timer thread (named by its first status tick); the main
  // thread keeps the program's name.
  const std::vector<std::string> expected{"rx DVR-1",    "decoder 0",   "events", "snapshots",
                                          "cpu monitor", "net monitor", "clock",  "popup",
                                          "sdl timer",   "vigilo"};
  std::vector<std::string> names;
  auto all_named = [&] {
    names = thread_names(vigilo_);
    for (const std::string& e : expected)
      if (std::find(names.begin(), names.end(), e) == names.end()) return false;
    return true;
  };
  std::string listed;
  EXPECT_TRUE(wait_for(all_named, 20)) << [&] {
    for (const std::string& n : names) listed += "'" + n + "' ";
    return listed;
  }();

  ASSERT_EQ(x11_close_window(win_), 0);
  expect_clean_exit();
}

TEST_F(LiveWindow, d_records_the_selected_tiles_into_rec_path) {
  ASSERT_NO_FATAL_FAILURE(start_all());
  ASSERT_TRUE(wait_for([&] { return live(1, 1) && live(2, 1); }));

  // Tiles 5 and 6: a click, then a Ctrl-click, then 'd'.
  const auto a = centre(1, 1), b = centre(2, 1);
  gui::run({"xdotool", "mousemove", a[0], a[1], "click", "1", "mousemove", b[0], b[1], "keydown",
            "ctrl", "click", "1", "keyup", "ctrl"});
  key("d");

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
  ASSERT_TRUE(wait_for(both_large, 60)) << sizes().size() << " files\n" << out().substr(0, 3000);
  key("d");
  key("Escape");  // clears the selection
  key("Escape");  // nothing selected: the exit question, answered Yes
  EXPECT_EQ(wait_exit(), 0) << err();
  EXPECT_TRUE(both_large());
}

TEST_F(LiveWindow, a_lost_x_server_ends_the_program_once_with_its_recording_whole) {
  const int port = start_dvr();
  ASSERT_GT(port, 0);
  write_setup(port);
  video_ = video_rect();
  const fs::path rec = dir_ / "record";
  auto recordings = [&] {
    std::vector<fs::path> found;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(rec, ec))
      if (e.path().extension() == ".zol") found.push_back(e.path());
    return found;
  };
  // Every thread that met the broken connection ran Xlib's exit(): the ends raced each other,
  // so a few rounds are run.
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    if (round > 0) {
      x_ = std::make_unique<PrivateX>(depth_, "1600x1200");
      ASSERT_FALSE(x_->display().empty());
      setenv("DISPLAY", x_->display().c_str(), 1);
      shot_ = std::make_unique<gui::Shot>(x_->display().c_str());
      ASSERT_TRUE(shot_->ok());
    }
    std::error_code ec;
    fs::remove_all(rec, ec);
    ASSERT_NO_FATAL_FAILURE(start_vigilo({"-A", "DVR-1", "-u", "admin,admin"}));
    ASSERT_TRUE(wait_for([&] { return live(1, 1); }));
    const auto a = centre(1, 1);
    gui::run({"xdotool", "mousemove", a[0], a[1], "click", "1"});
    key("d");
    auto growing = [&] {
      auto files = recordings();
      return files.size() == 1 && fs::file_size(files[0], ec) > 0x10000;
    };
    ASSERT_TRUE(wait_for(growing, 60)) << out().substr(0, 3000);

    // The server ends while the program draws and records.
    shot_.reset();
    x_.reset();
    const int code = wait_exit();
    EXPECT_EQ(code, 3) << out().substr(0, 3000) << err().substr(0, 3000);
    vigilo_ = -1;
    EXPECT_NE(out().find("The connection to the X server was lost."), std::string::npos);
    const std::string errors = err();
    EXPECT_EQ(errors.find("terminate called"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("AddressSanitizer"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("double free"), std::string::npos) << errors;

    // The file holds whole records only, and the player indexes it.
    const auto files = recordings();
    ASSERT_EQ(files.size(), 1u);
    bool whole = false;
    const auto records = rectest::parse_zol(rectest::read_file(files[0]), &whole);
    EXPECT_TRUE(whole);
    EXPECT_GT(records.size(), 0u);
    rectest::PlayerRig rig(1, 0x400000);
    std::vector<KEY_FRAME_ENTRY> index(RECORD_INDEX_MAX);
    int count = 0;
    std::snprintf(rig.rx->file_name, sizeof rig.rx->file_name, "%s", files[0].c_str());
    rig.rx->file = std::fopen(files[0].c_str(), "rb");
    ASSERT_NE(rig.rx->file, nullptr);
    EXPECT_EQ(index_record_file(index.data(), &count, rig.rx), 0);
    EXPECT_GT(count, 0);
    std::fclose(rig.rx->file);
    rig.rx->file = nullptr;
  }
}

}  // namespace
