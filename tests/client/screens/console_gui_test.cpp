// The operator console end to end: the real program on a private X server with a simulated
// 'Q' DVR in this process. The DVR list connects on a double click and becomes the camera
// list; PTZ buttons, groups, speeds, autopan and presets reach the DVR for the chosen
// channel; the channel pad adjusts a tile and starts the status program of its channel; the
// user menu keeps and drops a layout; the camera box follows the pointer; a merge drag
// settles wherever it is released; the frameless window follows the pointer; a run without
// a sound device still starts; on SDL's disk audio driver the selected channel's tone is
// heard at the panel's volume, and not when muted.
#include <SDL/SDL_ttf.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "client/screens/skin.h"
#include "peers/qdvr/qdvr_peer.h"
#include "tests/client/screens/gui_harness.h"

namespace {

namespace fs = std::filesystem;

class Console : public gui::GuiTest {
 protected:
  void SetUp() override {
    gui::GuiTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    qdvr::PeerConfig c;
    c.channels = 16;
    c.width = 352;
    c.height = 240;
    c.fps = 10;
    c.clip_frames = 10;
    peer_ = std::make_unique<qdvr::QdvrPeer>(c);
    ASSERT_TRUE(peer_->start());
    write_setup(peer_->port());
  }
  void TearDown() override {
    if (peer_) peer_->stop();
    gui::GuiTest::TearDown();
  }

  void start(std::vector<std::string> args) {
    args.insert(args.end(), {"-u", "admin,admin"});
    ASSERT_NO_FATAL_FAILURE(start_vigilo(args));
    int w = 0, h = 0;
    ASSERT_TRUE(wait_for([&] { return shot_->size(win_, &w, &h) && w == 1280 && h == 1024; }))
        << w << "x" << h << out();
    video_ = video_rect();
  }
  void quit() {
    for (int i = 0; i < 12 && process_running(vigilo_); ++i) {
      key("Escape");
      if (wait_process(vigilo_, 5000, nullptr) == 0) return;
    }
  }

  // Rows of text in a list: runs of pixel rows holding light text, each one line. Their
  // middles, top to bottom, on the last screenshot.
  std::vector<int> lines_of(const SDL_Rect& list) {
    std::vector<int> mids;
    int start = -1;
    for (int y = list.y; y <= list.y + list.h; ++y) {
      const bool text = y < list.y + list.h && at(SDL_Rect{list.x, Sint16(y), list.w, 1}).light > 0;
      if (text && start < 0) start = y;
      if (!text && start >= 0) {
        mids.push_back((start + y) / 2);
        start = -1;
      }
    }
    return mids;
  }
  // Rows of a box that hold anything but its background (the colour of its top-left pixel).
  int inked_rows(const SDL_Rect& r) {
    const unsigned long bg = shot_->pixel(wx_ + r.x, wy_ + r.y);
    int rows = 0;
    for (int y = r.y; y < r.y + r.h; ++y)
      for (int x = r.x; x < r.x + r.w; ++x)
        if (shot_->pixel(wx_ + x, wy_ + y) != bg) {
          ++rows;
          break;
        }
    return rows;
  }
  // The double-click rule times the two releases as the loop handles them: a loaded machine
  // can stretch them apart, so the double click is repeated until `done` holds.
  bool double_click_until(int x, int y, const std::function<bool()>& done) {
    for (int i = 0; i < 4; ++i) {
      double_click(x, y);
      if (wait_for(done, 15)) return true;
    }
    return false;
  }
  bool wait_lines(const SDL_Rect& list, const std::function<bool(size_t)>& ok) {
    return wait_for([&] { return ok(lines_of(list).size()); });
  }

  int cx_tile(int c, int n) { return video_.x + c * (video_.w / n) + video_.w / n / 2; }
  int cy_tile(int r, int n) { return video_.y + r * (video_.h / n) + video_.h / n / 2; }

  // PTZ requests (type 164) seen so far; the one of code `code` after the first `from`.
  std::vector<qdvr::Request> ptz() {
    std::vector<qdvr::Request> all;
    for (const qdvr::Request& r : peer_->requests())
      if (r.type == 164 && r.body.size() >= 12) all.push_back(r);
    return all;
  }
  bool wait_ptz(uint8_t code, size_t from, qdvr::Request* got) {
    return wait_for([&] {
      const std::vector<qdvr::Request> all = ptz();
      for (size_t i = from; i < all.size(); ++i)
        if (all[i].body[8] == code) {
          *got = all[i];
          return true;
        }
      return false;
    });
  }
  static uint32_t mask_of(const qdvr::Request& r) {
    uint32_t m;
    std::memcpy(&m, r.body.data(), 4);
    return m;
  }

  // The configured DVRs, one line each in the DVR list.
  size_t dvr_count() {
    const std::string cfg = read_file(dir_ / "setup.cfg");
    const size_t p = cfg.find("num_dvr=");
    return p == std::string::npos ? 0 : size_t(std::atoi(cfg.c_str() + p + 8));
  }

  std::unique_ptr<qdvr::QdvrPeer> peer_;
};

// What SDL's disk audio driver wrote: the device buffers (512 samples of 16 bits each) past
// a file offset, the newest `last` of them at most.
struct Heard {
  int buffers = 0;   // looked at
  int loud = 0;      // holding sound
  int tone[4] = {};  // loud buffers whose strongest tone is audio channel k's (500 + 250 k Hz)
  double rms = 0, low = 0, high = 0;  // mean, lowest and highest RMS of the loud buffers
  long end = 0;                       // file size when read
  bool only(int k) const { return loud > 0 && tone[k] == loud; }
};

// Energy of `s` at `hz` (Goertzel), at 8000 samples a second.
double energy_at(const int16_t* s, int n, double hz) {
  const double c = 2 * std::cos(2 * M_PI * hz / 8000.0);
  double s1 = 0, s2 = 0;
  for (int i = 0; i < n; ++i) {
    const double s0 = s[i] + c * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return s1 * s1 + s2 * s2 - c * s1 * s2;
}

Heard listen(const fs::path& file, long from, int last = 64) {
  constexpr long kBuffer = 1024;
  Heard h;
  std::ifstream in(file, std::ios::binary | std::ios::ate);
  if (!in) return h;
  h.end = long(in.tellg());
  const long whole = h.end - h.end % kBuffer;
  long start = std::max(whole - last * kBuffer, (from + kBuffer - 1) / kBuffer * kBuffer);
  if (start >= whole) return h;
  std::vector<int16_t> s(size_t(whole - start) / 2);
  in.seekg(start);
  in.read(reinterpret_cast<char*>(s.data()), whole - start);
  if (!in) return h;
  for (size_t b = 0; b + 512 <= s.size(); b += 512) {
    ++h.buffers;
    double sq = 0;
    for (size_t i = b; i < b + 512; ++i) sq += double(s[i]) * s[i];
    const double rms = std::sqrt(sq / 512);
    if (rms < 50) continue;
    h.low = h.loud ? std::min(h.low, rms) : rms;
    h.high = std::max(h.high, rms);
    ++h.loud;
    h.rms += rms;
    double e[4];
    for (int k = 0; k < 4; ++k) e[k] = energy_at(&s[b], 512, 500 + 250 * k);
    const int best = int(std::max_element(e, e + 4) - e);
    bool clear = true;  // the others at least 20 dB below
    for (int k = 0; k < 4; ++k) clear &= k == best || e[k] * 100 < e[best];
    if (clear) ++h.tone[best];
  }
  if (h.loud) h.rms /= h.loud;
  return h;
}

TEST_F(Console, lists_connect_and_ptz_reaches_the_dvr_for_the_chosen_channel) {
  ASSERT_NO_FATAL_FAILURE(start({}));
  const SDL_Rect list = widget(2, "dvr_list");
  const size_t dvrs = dvr_count();
  ASSERT_GE(dvrs, 2u);
  ASSERT_TRUE(wait_lines(list, [&](size_t n) { return n == dvrs; })) << "every configured DVR";
  // "connect" and "disconnect" share one place; the pointer is away from it.
  const SDL_Rect link_button = widget(2, "connect");
  const long connect_look = at(link_button).sum;
  press(2, "grouptab");
  ASSERT_TRUE(wait_lines(list, [](size_t n) { return n == 1; })) << "the one group";
  press(2, "dvrtab");
  ASSERT_TRUE(wait_lines(list, [&](size_t n) { return n == dvrs; }));

  // A double click on DVR-1 logs in and the tiles go live; the list turns into its cameras.
  const int first = lines_of(list)[0];
  ASSERT_TRUE(double_click_until(list.x + 20, first, [&] { return peer_->logins() >= 1; }))
      << out();
  ASSERT_TRUE(wait_for([&] { return tile_live(1, 0, 4); })) << out();
  ASSERT_TRUE(wait_lines(list, [](size_t n) { return n >= 4; })) << "CAMERA 1 ...";
  EXPECT_TRUE(wait_for([&] { return at(link_button).sum != connect_look; })) << "disconnect shown";

  // "CAMERA 3" alone: layout 1, and the pad's commands go to channel index 2.
  const std::vector<int> cams = lines_of(list);
  ASSERT_TRUE(double_click_until(list.x + 20, cams[2], [&] {
    return tile(1, 1, 2).black < tile(1, 1, 2).total / 200;
  })) << "one picture over the whole area";
  qdvr::Request r;
  press(2, "ptz_nn");
  ASSERT_TRUE(wait_ptz('3', 0, &r));
  EXPECT_EQ(mask_of(r), 1u << 2);

  // Zoom group at speed 2 (down to 1 first); the digit of ptz_lbl follows the speed.
  press(2, "zoom_button");
  const SDL_Rect minus = widget(2, "ptz_zspeed-"), plus = widget(2, "ptz_zspeed+"),
                 label = widget(2, "ptz_lbl");
  click(cx(minus), cy(minus));
  click(cx(minus), cy(minus));
  ASSERT_TRUE(wait_for([&] { return at(label).total > 0; }));
  long speed1 = 0;
  ASSERT_TRUE(wait_for([&] {
    const long s = at(label).sum;
    const bool same = s == speed1;
    speed1 = s;
    return same;
  }));
  click(cx(plus), cy(plus));
  EXPECT_TRUE(wait_for([&] { return at(label).sum != speed1; })) << "ptz_lbl shows the new speed";
  size_t seen = ptz().size();
  press(2, "ptz_zoom_in");
  ASSERT_TRUE(wait_ptz('5', seen, &r));
  EXPECT_EQ(r.body[10], 2);
  EXPECT_EQ(mask_of(r), 1u << 2);
  for (const auto& [button, fn, code] :
       {std::tuple{"focus_button", "ptz_focus_near", uint8_t('8')},
        std::tuple{"iris_button", "ptz_iris_open", uint8_t(160)}}) {
    SCOPED_TRACE(fn);
    click(cx(widget(2, button)), cy(widget(2, button)));
    seen = ptz().size();
    click(cx(widget(2, fn)), cy(widget(2, fn)));
    EXPECT_TRUE(wait_ptz(code, seen, &r));
  }
  seen = ptz().size();
  press(2, "ptz_autopan");
  EXPECT_TRUE(wait_ptz(168, seen, &r));

  // Presets: the list asks the DVR (code 169); its reply of numbers 2 and 5 fills two lines;
  // "go" on the second line sends the DVR's number 5, not the line's index.
  seen = ptz().size();
  press(2, "ptz_preset_on");
  ASSERT_TRUE(wait_ptz(169, seen, &r));
  peer_->send_presets({2, 5});
  const SDL_Rect presets = widget(2, "ptz_preset_list");
  ASSERT_TRUE(wait_lines(presets, [](size_t n) { return n == 2; }));
  click(presets.x + 20, lines_of(presets)[1]);
  seen = ptz().size();
  press(2, "ptz_preset_go");
  ASSERT_TRUE(wait_ptz(162, seen, &r));
  EXPECT_EQ(r.body[11], 5);

  // Four cells and no selection: the box, and nothing sent.
  key("2");
  ASSERT_TRUE(wait_for([&] { return tile_live(1, 1, 2); }));
  seen = ptz().size();
  press(2, "ptz_preset_set");
  EXPECT_TRUE(wait_output("ZOL Main: Please select a channel.", true)) << err();
  EXPECT_EQ(ptz().size(), seen);

  // Disconnecting shows the wait indicator, a ring of blue dots over the middle of the video
  // area, while the link stops and the pictures fade (most of a second); then the DVR list
  // and the connect button come back (looked at with the pointer off the panel, where no
  // widget is hovered).
  const SDL_Rect busy = widget(2, "busy");
  auto blue_dots = [&] {
    return count_pixels(busy, [](int r, int g, int b) { return b > r + 80 && b > g + 40; });
  };
  EXPECT_TRUE(wait_for([&] { return blue_dots() < 10; })) << "no wait indicator while connected";
  press(2, "disconnect");
  EXPECT_TRUE(wait_for([&] { return blue_dots() > 100; }, 10)) << "the wait indicator";
  EXPECT_TRUE(wait_lines(list, [&](size_t n) { return n == dvrs; }));
  EXPECT_TRUE(wait_for([&] { return blue_dots() < 10; })) << "the wait indicator hidden";
  mouse(cx_tile(0, 2), cy_tile(0, 2), {});
  EXPECT_TRUE(wait_for([&] { return at(link_button).sum == connect_look; })) << "connect shown";
  quit();
}

TEST_F(Console, pad_camera_box_user_menu_merge_and_window_drag) {
  // A stand-in `probe` beside the client records the words the pad's probe button gives it.
  const fs::path stub = fs::read_symlink("/proc/self/exe").parent_path() / "launch_stub";
  ASSERT_TRUE(fs::exists(stub)) << stub;
  fs::copy_file(stub, dir_ / "probe");
  const fs::path launched = dir_ / "launched.txt";
  setenv("LAUNCH_STUB_LOG", launched.c_str(), 1);
  ASSERT_NO_FATAL_FAILURE(start({"-A", "DVR-1"}));
  ASSERT_TRUE(wait_for([&] { return tile_live(3, 3, 4); })) << out();

  // The camera box fills when the pointer rests on a tile.
  const SDL_Rect box = widget(2, "cam_info");
  // Its lines (at least four rows of text) change with the tile under the pointer.
  mouse(cx_tile(2, 4), cy_tile(2, 4), {});
  mouse(cx_tile(2, 4) + 3, cy_tile(2, 4) + 3, {});
  EXPECT_TRUE(wait_for([&] { return inked_rows(box) >= 30; })) << inked_rows(box);
  const long camera_3 = at(box).sum;
  mouse(cx_tile(0, 4), cy_tile(1, 4), {});
  mouse(cx_tile(0, 4) + 3, cy_tile(1, 4) + 3, {});
  EXPECT_TRUE(wait_for([&] { return inked_rows(box) >= 30 && at(box).sum != camera_3; }));

  // The pad opens at the pointer on a right click over tile (0, 0); brightness+ three
  // times lightens the tile's lower half; reset brings it back.
  const int px = video_.x + 8, py = video_.y + 8;
  const SDL_Rect frame = widget(2, "popup_frame"), pip = widget(2, "pip2");
  const SDL_Rect pad_area{Sint16(px), Sint16(py), frame.w, frame.h};
  const gui::Census bare = at(pad_area);
  click(px, py, 3);
  ASSERT_TRUE(wait_for([&] { return std::abs(at(pad_area).mean() - bare.mean()) > 5; }))
      << "the pad opens on the release of button 3";
  auto pad = [&](int column, int row) {  // the pad's buttons stand in two rows of seven
    click(px + 1 + column * (pip.w + 1) + pip.w / 2, py + (row ? pip.h + 6 : 3) + pip.h / 2);
  };
  const int tw = video_.w / 4, th = video_.h / 4;
  const int below = py + frame.h + 4;  // the tile under the pad
  const SDL_Rect lower{Sint16(video_.x + 4), Sint16(below), Uint16(tw - 8),
                       Uint16(video_.y + th - 4 - below)};
  ASSERT_GT(video_.y + th - 4 - below, 8);
  const double before = at(lower).mean();
  for (int i = 0; i < 3; ++i) pad(3, 0);
  EXPECT_TRUE(wait_for([&] { return at(lower).mean() > before + 10; }))
      << before << " -> " << at(lower).mean();
  pad(6, 0);
  EXPECT_TRUE(wait_for([&] { return std::fabs(at(lower).mean() - before) < 4; }))
      << before << " -> " << at(lower).mean();
  // Digital zoom in enlarges the picture in its tile: its digit box grows.
  const int black = tile(0, 0, 4).black;
  pad(1, 0);
  pad(1, 0);
  EXPECT_TRUE(wait_for([&] { return tile(0, 0, 4).black > black + black / 5; }));
  const int white_before = enlarged_frame();
  pad(0, 0);  // pip2: the enlarged picture with its white frame at the bottom right
  EXPECT_TRUE(wait_for([&] { return enlarged_frame() > white_before + 800; }))
      << white_before << " -> " << enlarged_frame();
  click(px, py, 3);
  pad(0, 0);
  // probe: the status program of the pad's channel, with its DVR's name and model.
  click(px, py, 3);
  pad(6, 1);
  EXPECT_TRUE(wait_for([&] {
    return read_file(launched) == (dir_ / "probe").string() + "\tcheckwin\tDVR-1\tMW-2606QTR14\n";
  })) << read_file(launched)
      << out();

  // add_layout keeps layout 16 in the first menu slot; it recalls it from layout 1, and
  // dragged out of the menu the slot is empty again.
  const SDL_Rect slot = widget(2, "user_menu");
  ASSERT_TRUE(wait_for([&] { return tile_live(3, 3, 4); }));
  const long empty_slot = at(slot).sum;
  press(2, "add_layout");
  ASSERT_TRUE(wait_for([&] { return at(slot).sum != empty_slot; })) << "the slot shows the entry";
  key("1");
  ASSERT_TRUE(wait_for([&] { return tile(1, 1, 2).black < tile(1, 1, 2).total / 200; }));
  click(cx(slot), cy(slot));
  EXPECT_TRUE(wait_for([&] { return tile_live(3, 3, 4); })) << "layout 16 again";
  const SDL_Rect away = widget(2, "frames_received"), rest = widget(2, "evt_scrlup");
  // A second after the drop the tooltip of the widget under the pointer shows at the
  // pointer, not over the slot the drag began on (looked at once it shows: a busy machine
  // looks that late anyway).
  const SDL_Rect tip{Sint16(cx(rest) + 2), Sint16(cy(rest) + 2), 40, 12};
  const int tip_yellow = at(tip).yellow;
  mouse(cx(slot), cy(slot), {"mousedown", "1"});
  mouse(cx(slot) + 30, cy(slot) + 30, {});
  mouse(cx(away), cy(away), {});
  mouse(cx(rest), cy(rest), {"mouseup", "1"});
  EXPECT_TRUE(wait_for([&] { return at(tip).yellow > tip_yellow + 20; }))
      << "the tooltip at the pointer";
  EXPECT_TRUE(wait_for([&] { return at(slot).sum == empty_slot; })) << "the slot is empty again";

  // A merge drag from tile (0, 0) over (1, 1) released on the panel settles there: the
  // 2 x 2 square is one cell showing channel 0's plain lower right part.
  mouse(cx_tile(0, 4), cy_tile(0, 4), {"mousedown", "1"});
  mouse(cx_tile(1, 4), cy_tile(1, 4), {});
  mouse(cx_tile(1, 4) + 5, cy_tile(1, 4) + 5, {});
  mouse(cx(away), cy(away), {"mouseup", "1"});
  EXPECT_TRUE(wait_for([&] { return tile(1, 1, 4).black < tile(1, 1, 4).total / 200; }))
      << "merged at the release";

  // The frameless window follows the pointer from a press on its background.
  init_skins();
  skins_ready_ = true;
  const fs::path cwd = fs::current_path();
  fs::current_path(dir_);
  ASSERT_EQ(TTF_Init(), 0);
  ASSERT_EQ(load_skin("skin.cfg", 2), 0);
  fs::current_path(cwd);
  int bx = -1, by = -1;
  for (int y = 2; y < 60 && bx < 0; y += 2)
    for (int x = 400; x < 1000 && bx < 0; x += 4)
      if (find_widget_at(2, x, y) == 0 &&
          !(x >= video_.x && x < video_.x + video_.w && y >= video_.y && y < video_.y + video_.h))
        bx = x, by = y;
  ASSERT_GE(bx, 0) << "no bare background near the top";
  int x0 = 0, y0 = 0;
  ASSERT_TRUE(shot_->origin(win_, &x0, &y0));
  mouse(bx, by, {"mousedown", "1"});
  // Each step waits for the window: a motion is counted from where the window stood.
  int x1 = 0, y1 = 0;
  gui::run({"xdotool", "mousemove", std::to_string(x0 + bx + 20), std::to_string(y0 + by + 10)});
  EXPECT_TRUE(wait_for([&] {
    return shot_->origin(win_, &x1, &y1) && x1 == x0 + 20 && y1 == y0 + 10;
  })) << "moved by "
      << x1 - x0 << "," << y1 - y0;
  gui::run({"xdotool", "mousemove", std::to_string(x0 + bx + 60), std::to_string(y0 + by + 40)});
  EXPECT_TRUE(wait_for([&] {
    return shot_->origin(win_, &x1, &y1) && x1 == x0 + 60 && y1 == y0 + 40;
  })) << "moved by "
      << x1 - x0 << "," << y1 - y0;
  gui::run({"xdotool", "mouseup", "1"});
  TTF_Quit();
  quit();
}

TEST_F(Console, without_a_sound_device_the_client_runs_and_its_volume_stays_at_0) {
  setenv("SDL_AUDIODRIVER", "no_such_driver", 1);
  ASSERT_NO_FATAL_FAILURE(start({"-A", "DVR-1"}));
  ASSERT_TRUE(wait_for([&] { return tile_live(3, 0, 4); })) << out();
  const SDL_Rect meter = widget(2, "volume_meter");
  const long meter_at_0 = at(meter).sum;
  press(2, "volume+");
  EXPECT_FALSE(wait_for([&] { return at(meter).sum != meter_at_0; }, 3)) << "no volume to raise";
  // With a device the meter starts at full volume: another picture than the one at 0.
  quit();
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  ASSERT_NO_FATAL_FAILURE(start({}));
  ASSERT_TRUE(wait_lines(widget(2, "dvr_list"), [&](size_t n) { return n == dvr_count(); }));
  EXPECT_TRUE(wait_for([&] { return at(meter).sum != meter_at_0; })) << "the meter at full volume";
  quit();
}

TEST_F(Console, the_selected_channels_tone_plays_at_the_panels_volume_and_mute_silences_it) {
  const fs::path capture = dir_ / "audio.raw";
  // The disk driver writes each device buffer to a file, silence while the device is paused.
  // A 20 ms delay between buffers drains the audio queue about three times faster than the
  // DVR fills it (64 ms of sound every 64 ms), so the file's tail follows the panel within a
  // fraction of a second and the newest 64 buffers span over a second of the DVR's sound. At
  // the default 150 ms per 64 ms buffer the device plays slower than real time, the 16 s queue
  // fills, and a change is heard long after.
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", capture.c_str(), 1);
  setenv("SDL_DISKAUDIODELAY", "20", 1);
  ASSERT_NO_FATAL_FAILURE(start({"-A", "DVR-1"}));
  ASSERT_TRUE(wait_for([&] { return tile_live(3, 0, 4); })) << out();
  long mark = 0;
  Heard h;
  auto heard = [&](const std::function<bool()>& ok) {
    return wait_for([&] {
      h = listen(capture, mark);
      return ok();
    });
  };
  // Logging in selects the first channel with its sound.
  ASSERT_TRUE(heard([&] { return h.loud >= 8 && h.only(0); }))
      << h.buffers << " buffers, " << h.loud << " loud, 500 Hz in " << h.tone[0];

  // A click on the third tile moves the sound to that channel: 1000 Hz alone.
  mark = listen(capture, 0).end;
  click(cx_tile(2, 4), cy_tile(0, 4));
  ASSERT_TRUE(heard([&] { return h.loud >= 8 && h.only(2); }))
      << h.loud << " loud, 1000 Hz in " << h.tone[2] << ", 500 Hz in " << h.tone[0];
  const double full = h.rms;
  EXPECT_GT(full, 4000) << "the tone's 8000 peak at full volume";

  // Five steps down (100 -> 46 %): each step draws the meter anew, the sound drops to about
  // 0.45 of its level and stays the same tone.
  const SDL_Rect meter = widget(2, "volume_meter"), down = widget(2, "volume-"),
                 up = widget(2, "volume+");
  const long meter_full = at(meter).sum;
  long shown = meter_full;
  for (int i = 0; i < 5; ++i) {
    click(cx(down), cy(down));
    EXPECT_TRUE(wait_for([&] { return at(meter).sum != shown; })) << "step " << i;
    shown = at(meter).sum;
  }
  mark = listen(capture, 0).end;
  ASSERT_TRUE(heard([&] { return h.loud >= 8 && h.high < 0.75 * full; }))
      << h.loud << " loud at " << h.low << ".." << h.high << " of " << full;
  EXPECT_NEAR(h.rms / full, 0.45, 0.05);
  EXPECT_TRUE(h.only(2));

  // Six steps up reach 100 % again: the meter's first picture and the first level.
  for (int i = 0; i < 6; ++i) click(cx(up), cy(up));
  mark = listen(capture, 0).end;
  ASSERT_TRUE(heard([&] { return h.loud >= 8 && h.low > 0.97 * full; }))
      << h.loud << " loud at " << h.low << ".." << h.high << " of " << full;
  EXPECT_NEAR(h.rms / full, 1.0, 0.02);
  EXPECT_TRUE(wait_for([&] { return at(meter).sum == meter_full; }));

  // Muted, the device writes only silence; the sound comes back with the button.
  const SDL_Rect mute = widget(2, "no_mute");
  click(cx(mute), cy(mute));
  mark = listen(capture, 0).end;
  EXPECT_TRUE(heard([&] { return h.buffers >= 64 && h.loud == 0; }))
      << h.loud << " of " << h.buffers << " buffers loud";
  click(cx(mute), cy(mute));
  mark = listen(capture, 0).end;
  EXPECT_TRUE(heard([&] { return h.loud >= 8 && h.only(2); })) << h.loud << " loud";
  quit();
}

}  // namespace
