// The file playback window: its speed steps and pause words in process, and the real program
// under a private X server playing ".zol" and ".dat" files written here, whose pictures show
// the second of the recording in large digits, so the screen tells where playback stands.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "client/links/frame_headers.h"
#include "client/screens/event_loop.h"
#include "client/screens/playback_window.h"
#include "client/screens/skin.h"
#include "peers/media/media_gen.h"
#include "peers/qdvr/qdvr_peer.h"
#include "platform/system/process.h"
#include "platform/system/x11_windows.h"
#include "tests/client/screens/run_tree.h"
#include "tests/client/screens/screens_fixture.h"
#include "tests/client/screens/screen_shot.h"
#include "tests/platform/private_x.h"

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------- in process

using PlaybackControls = ScreensTest;

TEST_F(PlaybackControls, speed_steps_stop_at_a_sixteenth_and_sixteen) {
  struct Case {
    int slower, faster;
    double speed;
  } cases[] = {{1, 0, 0.5}, {4, 0, 0.0625}, {5, 0, 0.0625}, {9, 0, 0.0625},
               {0, 3, 8.0}, {0, 4, 16.0},   {0, 6, 16.0},   {5, 9, 16.0}};
  for (const Case& c : cases) {
    ctx->playback_speed = 1.0;
    for (int i = 0; i < c.slower; ++i) speed_slower(ctx);
    for (int i = 0; i < c.faster; ++i) speed_faster(ctx);
    EXPECT_EQ(ctx->playback_speed.load(), c.speed) << c.slower << " slower, " << c.faster << " faster";
  }
}

TEST_F(PlaybackControls, space_pauses_and_holds_and_a_seek_needs_a_receiver) {
  SDL_Event space{};
  space.type = SDL_KEYDOWN;
  space.key.keysym.sym = SDLK_SPACE;
  ctx->playback_flags = 0;
  handle_playback_key(space, ctx, &app_options);
  EXPECT_EQ(ctx->playback_flags.load(), 7u);
  handle_playback_key(space, ctx, &app_options);
  EXPECT_EQ(ctx->playback_flags.load(), 0u);
  ctx->playback_flags = 2;
  EXPECT_EQ(seek_playback(ctx, 10, 0), -1);
  EXPECT_EQ(ctx->playback_flags.load(), 2u);  // nothing changed
}

TEST_F(PlaybackControls, a_posted_layout_request_is_range_checked) {
  add_channels(4);
  struct Case {
    int layout, page;
    int expect_layout, expect_page;
  } cases[] = {{2, 0, 2, 0}, {99, 0, 2, 0}, {-1, 0, 2, 0}, {3, -4, 2, 0}, {1, 3, 1, 3}, {0, 0, 1, 3}};
  for (const Case& c : cases) {
    COMM_FIELDS f{};
    f.command = COMM_SET_LAYOUT;
    f.value[3] = c.layout;
    f.value[4] = c.page;
    uint8_t msg[COMM_MESSAGE_SIZE];
    write_comm_message(f, msg);
    SDL_Event ev{};
    ev.type = SDL_USEREVENT;
    ev.user.code = 24;
    ev.user.data1 = msg;
    handle_playback_user_event(ev, ctx, &app_options);
    EXPECT_EQ(ctx->layout, c.expect_layout) << c.layout << "/" << c.page;
    EXPECT_EQ(ctx->page, c.expect_page) << c.layout << "/" << c.page;
  }
}

// ---------------------------------------------------------------- the real program

constexpr int kPicW = 320, kPicH = 240;
constexpr int kSeconds = 40, kFps = 10;
constexpr int kFirst = 10;  // the picture of second s shows kFirst + s: always two digits

const uint8_t kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

// The H.264 pictures of the recording: second s shows the number kFirst + s, a key frame
// opens every second.
struct Clip {
  std::vector<std::vector<uint8_t>> units;
  std::vector<bool> keys;
};
const Clip& clip() {
  static Clip c = [] {
    Clip c;
    media_gen::H264Encoder enc(kPicW, kPicH, kFps, kFps);
    for (int i = 0; i < kSeconds * kFps; ++i) {
      std::vector<uint8_t> au;
      bool key = false;
      enc.encode(media_gen::synth_picture(kPicW, kPicH, kFirst + i / kFps, i), au, key);
      c.units.push_back(au);
      c.keys.push_back(key);
    }
    return c;
  }();
  return c;
}

void put(std::vector<uint8_t>& out, const std::vector<uint8_t>& b) { out.insert(out.end(), b.begin(), b.end()); }

std::vector<uint8_t> zol_file() {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < clip().units.size(); ++i) {
    FRAME_HEADER fh;
    fh.size = uint32_t(clip().units[i].size());
    fh.channel = 3;
    fh.frame_type = clip().keys[i] ? 1 : 0;
    fh.width = kPicW;
    fh.height = kPicH;
    fh.sec = 5000 + uint32_t(i / kFps);
    fh.msec = uint16_t(i % kFps * (1000 / kFps));
    std::vector<uint8_t> rec(FRAME_RECORD_HEADER_SIZE + FRAME_HEADER_SIZE);
    FRAME_RECORD_HEADER rh;
    rh.protocol = 'Q';
    rh.media = 'Y';
    rh.size = uint32_t(FRAME_HEADER_SIZE + fh.size);
    encode_frame_record_header(rh, rec.data());
    encode_frame_header(fh, rec.data() + FRAME_RECORD_HEADER_SIZE);
    put(out, rec);
    put(out, clip().units[i]);
  }
  return out;
}

std::vector<uint8_t> dat_file() {
  std::vector<uint8_t> out = {0x00, 0x22, 0x03, 0x03, 0, 0, 0, 0};
  for (size_t i = 0; i < clip().units.size(); ++i) {
    put(out, qdvr::build_fsh(3, 0, kPicW, kPicH, uint32_t(clip().units[i].size()), clip().keys[i],
                             5000 + uint32_t(i / kFps), uint16_t(i % kFps * (1000 / kFps)), int(i % 64),
                             false, 0));
    put(out, clip().units[i]);
  }
  return out;
}

class PlaybackWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    run_tree_ = run_tree_dir();
    if (!fs::exists(run_tree_ / "vigilo")) GTEST_SKIP() << "no vigilo in " << run_tree_;
    if (!fs::exists(run_tree_ / "skin.cfg")) GTEST_SKIP() << "no default skin in the run tree";
    x_ = std::make_unique<PrivateX>(24, "1600x1200");
    if (x_->display().empty()) GTEST_SKIP() << "Xvfb did not start";
    setenv("DISPLAY", x_->display().c_str(), 1);
    setenv("VIGILO_BOX_ANSWER", "yes", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    char tmpl[] = "playback-window-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = fs::absolute(tmpl);
    std::ofstream(dir_ / "lsan.supp") << "leak:libX11.so\n";
    setenv("LSAN_OPTIONS", ("suppressions=" + (dir_ / "lsan.supp").string()).c_str(), 1);
    copy_run_tree(run_tree_, dir_, true);
    SKIN_WINDOW w;
    std::string skin_text = read_file(dir_ / "skin.cfg");
    ASSERT_EQ(parse_skins_line("playback", skin_text.c_str(), &w), 0);
    video_ = w.video_rect;
    ASSERT_GT(video_.w, 0);
  }

  void TearDown() override {
    if (vigilo_ > 0 && process_running(vigilo_)) {
      kill(vigilo_, SIGKILL);
      wait_process(vigilo_, 5000, nullptr);
    }
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  // Writes the file and starts the program on it; the window id in win_.
  void start(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(dir_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    std::string exe = (dir_ / "vigilo").string(), file = (dir_ / name).string();
    const char* argv[] = {exe.c_str(), "-f", file.c_str(), "-u", "admin,admin", nullptr};
    const fs::path cwd = fs::current_path();
    fs::current_path(dir_);
    vigilo_ = start_process(argv, (dir_ / "vigilo.out").c_str(), (dir_ / "vigilo.err").c_str());
    fs::current_path(cwd);
    ASSERT_GT(vigilo_, 0);
    for (int i = 0; i < 600 && !win_ && process_running(vigilo_); ++i) {
      win_ = x11_find_window("ZOL Playback");
      if (!win_) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_NE(win_, 0u) << read_file(dir_ / "vigilo.out") << read_file(dir_ / "vigilo.err");
    shot_ = std::make_unique<Shot>(x_->display().c_str());
    ASSERT_TRUE(shot_->ok());
  }

  void take() {
    shot_->origin(win_, &wx_, &wy_);
    shot_->take();
  }

  // The number the picture on screen shows (its two seven-segment digits), or -1. The dark
  // plate behind the digits is found on screen first, so the tile's scaling does not matter.
  int shown_number() {
    auto sum_at = [&](int x, int y) {
      const unsigned long p = shot_->pixel(x, y);
      return int((p >> 16) & 0xFF) + int((p >> 8) & 0xFF) + int(p & 0xFF);
    };
    // The plate: the widest run of columns, then of rows, that are mostly dark (a thin frame
    // line is too narrow to win).
    auto longest_run = [](const std::vector<int>& counts, int need, int* from, int* to) {
      int best = 0;
      for (int i = 0, start = -1; i <= int(counts.size()); ++i) {
        const bool in = i < int(counts.size()) && counts[size_t(i)] >= need;
        if (in && start < 0) start = i;
        if (!in && start >= 0) {
          if (i - start > best) best = i - start, *from = start, *to = i - 1;
          start = -1;
        }
      }
      return best;
    };
    const int vx = wx_ + video_.x, vy = wy_ + video_.y, rw = video_.w / 2, rh = video_.h * 2 / 3;
    std::vector<int> cols(size_t(rw), 0);
    for (int y = 0; y < rh; ++y)
      for (int x = 0; x < rw; ++x) cols[size_t(x)] += sum_at(vx + x, vy + y) < 60;
    int left = 0, right = 0, top = 0, bottom = 0;
    if (longest_run(cols, 8, &left, &right) < 20) return -1;
    std::vector<int> rows(size_t(rh), 0);
    for (int y = 0; y < rh; ++y)
      for (int x = left; x <= right; ++x) rows[size_t(y)] += sum_at(vx + x, vy + y) < 60;
    if (longest_run(rows, (right - left + 1) / 8, &top, &bottom) < 20) return -1;
    left += vx, right += vx, top += vy, bottom += vy;
    const media_gen::Rect d = media_gen::digits_rect(kPicW, kPicH, kFirst);
    // A segment is lit when the 5 x 5 pixels around its centre are bright on the whole.
    auto lit = [&](int px, int py) {
      const int sx = left + (px - d.x) * (right - left + 1) / d.w;
      const int sy = top + (py - d.y) * (bottom - top + 1) / d.h;
      int sum = 0;
      for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) sum += sum_at(sx + dx, sy + dy);
      return sum > 25 * 3 * 120;
    };
    const int dw = d.w / 2, t = std::max(2, d.h / 10);
    int number = 0;
    for (int i = 0; i < 2; ++i) {
      const int x0 = d.x + i * dw + t, w = dw - 2 * t, y0 = d.y + t, h = d.h - 2 * t, hm = h / 2;
      const int centres[7][2] = {{x0 + w / 2, y0 + t / 2},          {x0 + w - t / 2, y0 + hm / 2},
                                 {x0 + w - t / 2, y0 + hm + (h - hm) / 2}, {x0 + w / 2, y0 + h - t / 2},
                                 {x0 + t / 2, y0 + hm + (h - hm) / 2},     {x0 + t / 2, y0 + hm / 2},
                                 {x0 + w / 2, y0 + hm}};
      uint8_t seg = 0;
      for (int k = 0; k < 7; ++k)
        if (lit(centres[k][0], centres[k][1])) seg |= uint8_t(1 << k);
      int digit = -1;
      for (int k = 0; k < 10; ++k)
        if (kSegments[k] == seg) digit = k;
      if (digit < 0) return -1;
      number = number * 10 + digit;
    }
    return number;
  }

  uint64_t video_checksum() { return shot_->checksum(wx_ + video_.x, wy_ + video_.y, video_.w, video_.h); }

  // Polls the screen until pred holds or 45 s pass (a loaded machine runs the sanitised
  // client slowly).
  template <typename Pred>
  bool wait_for(Pred pred, int seconds = 45) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
      take();
      if (pred()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }
  // The picture stays the same over a second.
  bool still() {
    take();
    const uint64_t a = video_checksum();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    take();
    return a == video_checksum();
  }
  // Waits until the picture is still (frozen or at the end).
  bool becomes_still() {
    return wait_for([&] { return still(); });
  }

  void xdotool(std::vector<std::string> args) {
    std::vector<const char*> argv{"xdotool"};
    for (auto& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    int pid = start_process(argv.data());
    ASSERT_GT(pid, 0);
    wait_process(pid, 10000, nullptr);
  }
  void key(const char* name) { xdotool({"key", "--window", std::to_string(win_), name}); }
  // Clicks the middle of the playback window's widget `name`.
  void click(const char* name) {
    WIDGET_PROPS p{};
    std::string skin_text = read_file(dir_ / "skin.cfg");
    ASSERT_EQ(config_to_props(name, 5, skin_text.c_str(), "playback", &p), 0) << name;
    take();
    xdotool({"mousemove", std::to_string(wx_ + p.dest_x + p.width / 2),
             std::to_string(wy_ + p.dest_y + p.height / 2), "click", "1"});
  }
  // The speed label after every input so far was handled: a pause (whose still picture
  // shows the queue was worked off) around the look.
  uint64_t speed_label() {
    WIDGET_PROPS p{};
    std::string skin_text = read_file(dir_ / "skin.cfg");
    EXPECT_EQ(config_to_props("speed", 1, skin_text.c_str(), "playback", &p), 0);
    key("space");
    EXPECT_TRUE(becomes_still());
    const uint64_t sum = shot_->checksum(wx_ + p.dest_x, wy_ + p.dest_y, p.width, p.height);
    key("space");
    return sum;
  }

  fs::path run_tree_, dir_;
  std::unique_ptr<PrivateX> x_;
  std::unique_ptr<Shot> shot_;
  int vigilo_ = -1;
  unsigned long win_ = 0;
  int wx_ = 0, wy_ = 0;
  SDL_Rect video_{};
};

TEST_F(PlaybackWindow, a_recording_plays_pauses_seeks_and_ends_on_screen) {
  ASSERT_NO_FATAL_FAILURE(start("cam.zol", zol_file()));
  // The recording's pictures in the single cell, counting up from the first second.
  int n = -1;
  ASSERT_TRUE(wait_for([&] { return (n = shown_number()) >= kFirst; }))
      << read_file(dir_ / "vigilo.out").substr(0, 3000);

  // Space freezes the picture; space again lets it move.
  key("space");
  ASSERT_TRUE(becomes_still());
  key("space");
  EXPECT_FALSE(still());

  // End: the last second stays on screen; Home: back to the start, moving again.
  key("End");
  ASSERT_TRUE(becomes_still());
  EXPECT_EQ(shown_number(), kFirst + kSeconds - 1);
  key("Home");
  ASSERT_TRUE(wait_for([&] { return shown_number() >= kFirst && shown_number() < kFirst + 5; }));
  EXPECT_FALSE(still());

  // `next` and `prev` seek 10 s from where the picture stands.
  take();
  const int before = shown_number();
  click("next");
  ASSERT_TRUE(wait_for([&] { return shown_number() >= before + 9; })) << before;
  const int after = shown_number();
  click("prev");
  EXPECT_TRUE(wait_for([&] { int m = shown_number(); return m >= 0 && m <= after - 8; })) << after;

  // Five `slower` clicks: the label stops changing after the fourth (1/16); nine `faster`
  // clicks from there: after the eighth (16).
  const uint64_t normal = speed_label();
  for (int i = 0; i < 4; ++i) click("slower");
  const uint64_t slowest = speed_label();
  click("slower");
  EXPECT_EQ(speed_label(), slowest);
  EXPECT_NE(slowest, normal);
  for (int i = 0; i < 8; ++i) click("faster");
  const uint64_t fastest = speed_label();
  click("faster");
  EXPECT_EQ(speed_label(), fastest);
  EXPECT_NE(fastest, slowest);
  EXPECT_NE(fastest, normal);

  key("q");
  int code = -1;
  ASSERT_EQ(wait_process(vigilo_, 30000, &code), 0) << "vigilo did not end";
  EXPECT_EQ(code, 0) << read_file(dir_ / "vigilo.err");
  EXPECT_NE(read_file(dir_ / "vigilo.out").find("exiting event loop ..."), std::string::npos);
}

TEST_F(PlaybackWindow, a_dat_file_plays_and_seeks) {
  ASSERT_NO_FATAL_FAILURE(start("export.dat", dat_file()));
  ASSERT_TRUE(wait_for([&] { return shown_number() >= kFirst; }))
      << read_file(dir_ / "vigilo.out").substr(0, 3000);
  take();
  const int before = shown_number();
  key("Up");  // +30 s
  ASSERT_TRUE(wait_for([&] { return shown_number() >= before + 28; })) << before;
  key("Home");
  EXPECT_TRUE(wait_for([&] { int m = shown_number(); return m >= kFirst && m < kFirst + 5; }));
}

}  // namespace
