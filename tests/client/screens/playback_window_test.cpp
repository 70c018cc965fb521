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

#include "client/links/connection.h"
#include "client/links/frame_headers.h"
#include "client/screens/event_loop.h"
#include "client/screens/playback_window.h"
#include "client/screens/skin.h"
#include "peers/media/media_gen.h"
#include "peers/qdvr/qdvr_peer.h"
#include "platform/system/process.h"
#include "platform/system/x11_windows.h"
#include "tests/client/screens/run_tree.h"
#include "tests/client/screens/gui_harness.h"
#include "tests/client/screens/screens_fixture.h"

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
    EXPECT_EQ(ctx->playback_speed.load(), c.speed)
        << c.slower << " slower, " << c.faster << " faster";
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
  } cases[] = {{2, 0, 2, 0},  {99, 0, 2, 0}, {-1, 0, 2, 0},
               {3, -4, 2, 0}, {1, 3, 1, 3},  {0, 0, 1, 3}};
  for (const Case& c : cases) {
    uint8_t msg[COMM_MESSAGE_SIZE];
    handle_playback_user_event(layout_command(c.layout, c.page, msg), ctx, &app_options);
    EXPECT_EQ(ctx->layout, c.expect_layout) << c.layout << "/" << c.page;
    EXPECT_EQ(ctx->page, c.expect_page) << c.layout << "/" << c.page;
  }
}

// The file player asks for a grid; the window sets it on its loop (here on the status tick
// that also takes a request whose wake-up was lost), and a layout the operator picks later
// stays until the player asks again.
TEST_F(PlaybackControls, the_players_grid_is_set_by_the_window_and_the_operators_layout_stays) {
  add_channels(9);
  take_layout_request();
  SDL_Event tick = user_event(UE_SHOW_TOOLTIP, nullptr);
  request_layout(3);
  handle_playback_user_event(tick, ctx, &app_options);
  EXPECT_EQ(ctx->layout, 3);
  uint8_t msg[COMM_MESSAGE_SIZE];
  handle_playback_user_event(layout_command(2, 1, msg), ctx, &app_options);
  handle_playback_user_event(tick, ctx, &app_options);
  EXPECT_EQ(ctx->layout, 2);
  EXPECT_EQ(ctx->page, 1);
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

void put(std::vector<uint8_t>& out, const std::vector<uint8_t>& b) {
  out.insert(out.end(), b.begin(), b.end());
}

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
                             5000 + uint32_t(i / kFps), uint16_t(i % kFps * (1000 / kFps)),
                             int(i % 64), false, 0));
    put(out, clip().units[i]);
  }
  return out;
}

class PlaybackWindow : public gui::GuiTest {
 protected:
  void SetUp() override {
    gui::GuiTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    write_setup(-1);  // the demo setup.cfg: its accounts log in
    SKIN_WINDOW w;
    const std::string skin_text = read_file(dir_ / "skin.cfg");
    ASSERT_EQ(parse_skins_line("playback", skin_text.c_str(), &w), 0);
    video_ = w.video_rect;
    ASSERT_GT(video_.w, 0);
  }

  // Writes the file and starts the program on it.
  void start(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(dir_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    start_vigilo({"-f", (dir_ / name).string(), "-u", "admin,admin"}, "ZOL Playback");
  }

  void take() {
    shot_->origin(win_, &wx_, &wy_);
    shot_->take();
  }
  int sum_at(int x, int y) const {
    if (x < 0 || y < 0 || x >= 1600 || y >= 1200) return 0;
    const unsigned long p = shot_->pixel(x, y);
    return int((p >> 16) & 0xFF) + int((p >> 8) & 0xFF) + int(p & 0xFF);
  }

  // The number the picture on screen shows (its two seven-segment digits), or -1. The dark
  // plate behind the digits is found on screen first, so the tile's scaling does not matter.
  int shown_number() {
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
    int number = 0;
    for (int i = 0; i < 2; ++i) {
      int centres[7][2];
      media_gen::segment_centres(d, 2, i, centres);
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

  // A checksum of a rectangle of the screen: equal pictures give equal sums.
  uint64_t checksum(int x0, int y0, int w, int h) const {
    uint64_t sum = 1469598103934665603ull;
    for (int y = y0; y < y0 + h; ++y)
      for (int x = x0; x < x0 + w; ++x) sum = (sum ^ uint64_t(sum_at(x, y) + 1)) * 1099511628211ull;
    return sum;
  }
  uint64_t video_checksum() const {
    return checksum(wx_ + video_.x, wy_ + video_.y, video_.w, video_.h);
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
  // The speed label after every input so far was handled: a pause (whose still picture
  // shows the queue was worked off) around the look.
  uint64_t speed_label() {
    const SDL_Rect r = widget(4, "speed");
    key("space");
    EXPECT_TRUE(becomes_still());
    const uint64_t sum = checksum(wx_ + r.x, wy_ + r.y, r.w, r.h);
    key("space");
    return sum;
  }
};

TEST_F(PlaybackWindow, a_recording_plays_pauses_seeks_and_ends_on_screen) {
  ASSERT_NO_FATAL_FAILURE(start("cam.zol", zol_file()));
  // The recording's pictures in the single cell, counting up from the first second.
  ASSERT_TRUE(wait_for([&] { return shown_number() >= kFirst; })) << out().substr(0, 3000);

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
  press(4, "next");
  ASSERT_TRUE(wait_for([&] { return shown_number() >= before + 9; })) << before;
  const int after = shown_number();
  press(4, "prev");
  EXPECT_TRUE(wait_for([&] {
    int m = shown_number();
    return m >= 0 && m <= after - 8;
  })) << after;

  // Five `slower` clicks: the label stops changing after the fourth (1/16); nine `faster`
  // clicks from there: after the eighth (16).
  const uint64_t normal = speed_label();
  for (int i = 0; i < 4; ++i) press(4, "slower");
  const uint64_t slowest = speed_label();
  press(4, "slower");
  EXPECT_EQ(speed_label(), slowest);
  EXPECT_NE(slowest, normal);
  for (int i = 0; i < 8; ++i) press(4, "faster");
  const uint64_t fastest = speed_label();
  press(4, "faster");
  EXPECT_EQ(speed_label(), fastest);
  EXPECT_NE(fastest, slowest);
  EXPECT_NE(fastest, normal);

  key("q");
  EXPECT_EQ(wait_exit(), 0) << err();
  EXPECT_NE(out().find("exiting event loop ..."), std::string::npos);
}

TEST_F(PlaybackWindow, a_dat_file_plays_and_seeks) {
  ASSERT_NO_FATAL_FAILURE(start("export.dat", dat_file()));
  ASSERT_TRUE(wait_for([&] { return shown_number() >= kFirst; })) << out().substr(0, 3000);
  const int before = shown_number();
  key("Up");  // +30 s
  ASSERT_TRUE(wait_for([&] { return shown_number() >= before + 28; })) << before;
  key("Home");
  EXPECT_TRUE(wait_for([&] {
    int m = shown_number();
    return m >= kFirst && m < kFirst + 5;
  }));
}

}  // namespace
