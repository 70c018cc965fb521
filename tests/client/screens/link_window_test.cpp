// The real main window with real extension windows on one private X server: one started by
// key a, one by hand with its own DVR and the link secret given as for another machine; a
// local connection without the secret is closed. Layouts and the camera switch reach the
// slaves, a channel moves to an extension window and comes back when it closes, key q
// closes every slave; key w opens the spot window of the selected channel at the corner.
#include "tests/client/screens/gui_harness.h"

#include "client/screens/master_link.h"
#include "tests/client/screens/eventually.h"

namespace {

using gui::Census;

class LinkWindows : public gui::GuiTest {
 protected:
  void TearDown() override {
    unsetenv("VIGILO_LINK_SECRET");
    for (int pid : others_)
      if (pid > 0 && process_running(pid)) {
        kill(pid, SIGKILL);
        wait_process(pid, 5000, nullptr);
      }
    GuiTest::TearDown();
  }

  // A second vigilo beside the master, its output in <tag>.out.
  int start_other(const std::vector<std::string>& args, const std::string& tag) {
    std::vector<std::string> all{(dir_ / "vigilo").string()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<const char*> argv;
    for (auto& a : all) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    const int pid = start_process(argv.data(), (dir_ / (tag + ".out")).c_str(),
                                  (dir_ / (tag + ".err")).c_str());
    others_.push_back(pid);
    return pid;
  }
  std::string output_of(const std::string& tag) const { return read_file(dir_ / (tag + ".out")); }
  unsigned long window_of(const char* title, int pid) {
    unsigned long w = 0;
    wait_until([&] { return (w = x11_find_window(title, pid)) != 0; });
    return w;
  }
  bool wait_until(const std::function<bool()>& pred, int seconds = 45) {
    return eventually(pred, seconds * 1000, 100);
  }
  // Census of cell (col, row) of an n x n grid filling window `w` (a skinless window), in
  // `part`: 0 the whole cell shrunk by a margin, 1 its top-left quarter, 4 its bottom-right.
  Census cell_of(unsigned long w, int col, int row, int n, int part = 0) {
    int x = 0, y = 0, width = 0, height = 0;
    shot_->origin(w, &x, &y);
    shot_->size(w, &width, &height);
    const int cw = width / n, ch = height / n;
    x += col * cw;
    y += row * ch;
    if (part == 1) return shot_->census(x + cw / 16, y + ch / 16, cw / 2 - cw / 8, ch / 2 - ch / 8);
    if (part == 4)
      return shot_->census(x + cw / 2 + cw / 16, y + ch / 2 + ch / 16, cw / 2 - cw / 8,
                           ch / 2 - ch / 8);
    return shot_->census(x + cw / 10, y + ch / 8, cw - cw / 5, ch - ch / 4);
  }
  // A cell that shows one whole picture: the digits' dark plate in its top-left quarter and
  // little dark (text edges) in its bottom-right one, where a finer grid would put the next
  // picture's plate.
  bool one_picture(unsigned long w, int col, int row, int n) {
    const Census tl = cell_of(w, col, row, n, 1), br = cell_of(w, col, row, n, 4);
    return tl.black > tl.total / 50 && br.black * 4 < tl.black;
  }
  std::string describe(unsigned long w, int n) {
    std::string d;
    int x = 0, y = 0, width = 0, height = 0;
    shot_->origin(w, &x, &y);
    shot_->size(w, &width, &height);
    d += "window " + std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(width) +
         "x" + std::to_string(height) + "\n";
    for (int r = 0; r < n; ++r) {
      for (int c = 0; c < n; ++c) {
        const Census tl = cell_of(w, c, r, n, 1), br = cell_of(w, c, r, n, 4);
        d += std::to_string(tl.black) + "/" + std::to_string(tl.total) + ":" +
             std::to_string(br.black) + "/" + std::to_string(br.total) + " ";
      }
      d += "\n";
    }
    return d;
  }
  bool shows(const std::function<bool()>& pred, unsigned long raise = 0) {
    return wait_until([&] {
      if (raise) x11_raise_window(raise);
      shot_->take();
      return pred();
    });
  }
  void click_at(unsigned long w, int x, int y, const char* modifier = nullptr) {
    int ox = 0, oy = 0;
    shot_->origin(w, &ox, &oy);
    std::vector<std::string> args{"xdotool", "mousemove", std::to_string(ox + x),
                                  std::to_string(oy + y)};
    if (modifier) args.insert(args.end(), {"keydown", modifier});
    args.insert(args.end(), {"click", "1"});
    if (modifier) args.insert(args.end(), {"keyup", modifier});
    gui::run(args);
  }
  // A click in the master, brought to the front first: the slaves overlap it.
  void master_click(int x, int y, int button = 1) {
    x11_raise_window(win_);
    click(x, y, button);
  }
  void click_widget(const char* name) {
    const SDL_Rect r = widget(2, name);
    master_click(cx(r), cy(r));
  }

  std::vector<int> others_;
};

TEST_F(LinkWindows, extension_windows_follow_their_main_window) {
  const int port1 = start_dvr(), port2 = start_dvr();
  ASSERT_GT(port1, 0);
  ASSERT_GT(port2, 0);
  write_setup(port1, port2);

  // A slave started by hand before its master tries once a second until it listens. It has
  // the secret given to both, and, as on another machine, no key file of the master's.
  setenv("VIGILO_LINK_SECRET", "the secret of this station's link", 1);
  const std::filesystem::path elsewhere = dir_ / "elsewhere";
  setenv("VIGILO_MAILSLOT_DIR", elsewhere.c_str(), 1);
  const int hand = start_other(
      {"-m1", "-A", "DVR-2", "-i", "127.0.0.1", "-u", "admin,admin", "-k", "-e", "-w0,0"}, "hand");
  unsetenv("VIGILO_MAILSLOT_DIR");
  ASSERT_GT(hand, 0);
  const unsigned long hand_win = window_of("ZOL Extension Window", hand);
  ASSERT_NE(hand_win, 0u) << output_of("hand");
  ASSERT_NO_FATAL_FAILURE(start_vigilo({"-A", "DVR-1", "-u", "admin,admin"}));
  EXPECT_TRUE(wait_output("added slave 0 ")) << out();

  // The listener is on the loopback address only.
  const std::string port = getenv("VIGILO_LINK_PORT");
  gui::run({"sh", "-c", "ss -ltn > " + (dir_ / "ss.txt").string()});
  const std::string ss = read_file(dir_ / "ss.txt");
  EXPECT_NE(ss.find("127.0.0.1:" + port + " "), std::string::npos) << ss;
  EXPECT_EQ(ss.find("0.0.0.0:" + port + " "), std::string::npos) << ss;
  EXPECT_EQ(ss.find("*:" + port + " "), std::string::npos) << ss;

  // Another local process without the secret is closed; nothing it sent reaches the loop.
  {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(std::stoi(port)));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    COMM_FIELDS m{};
    m.command = COMM_ADD_CHANNEL;
    snprintf(m.msg, sizeof m.msg, "DVR-2");
    m.value[8] = m.value[9] = 1;
    uint8_t buf[COMM_MESSAGE_SIZE];
    write_comm_message(m, buf);
    for (int i = 0; i < 50 && send(fd, buf, sizeof buf, MSG_NOSIGNAL) == long(sizeof buf); ++i) {}
    EXPECT_TRUE(wait_output("did not present the link secret")) << out();
    char c;
    EXPECT_LE(recv(fd, &c, 1, 0), 0);
    close(fd);
    EXPECT_EQ(out().find("Received COMM_ADD_CHANNEL"), std::string::npos) << out();
  }

  // Key a opens the skinless, framed extension window; pressed again it only raises it.
  key("a");
  EXPECT_TRUE(wait_output("added slave 1 ")) << out();
  unsigned long ext = 0;
  ASSERT_TRUE(wait_until([&] {
    const unsigned long w = x11_find_window("ZOL Extension Window");
    if (w && w != hand_win) ext = w;
    return ext != 0;
  }));
  // With the master in front, a second a gives that window the focus: the launcher raised
  // it, and a press that raises starts nothing.
  x11_raise_window(win_);
  ASSERT_TRUE(wait_until([&] { return x11_active_window() == win_; }));
  key("a");
  EXPECT_TRUE(wait_until([&] { return x11_active_window() == ext; }));

  // A click in the hand-started slave makes the slaves the layout target: layout4 in the
  // master turns its 16 tiles into 2 x 2.
  ASSERT_TRUE(shows(
      [&] { return one_picture(hand_win, 0, 0, 4) && one_picture(hand_win, 3, 3, 4); }, hand_win))
      << describe(hand_win, 4);
  click_at(hand_win, 50, 50);
  EXPECT_TRUE(wait_output("Received COMM_SET_TARGET from 0")) << out();
  click_widget("layout4");
  EXPECT_TRUE(shows(
      [&] {
        for (int r = 0; r < 2; ++r)
          for (int c = 0; c < 2; ++c)
            if (!one_picture(hand_win, c, r, 2)) return false;
        return true;
      },
      hand_win))
      << output_of("hand");

  // switch_cam rotates the slave's selection: two selected cells trade their pictures.
  click_at(hand_win, 160, 120);
  click_at(hand_win, 480, 120, "ctrl");
  shot_->take();
  const int left_digits = cell_of(hand_win, 0, 0, 2, 1).white,
            right_digits = cell_of(hand_win, 1, 0, 2, 1).white;
  ASSERT_NE(left_digits, right_digits) << "channels 1 and 2 draw different digits";
  click_widget("switch_cam");
  EXPECT_TRUE(shows(
      [&] {
        const int l = cell_of(hand_win, 0, 0, 2, 1).white, r = cell_of(hand_win, 1, 0, 2, 1).white;
        return std::abs(l - right_digits) < std::abs(l - left_digits) &&
               std::abs(r - left_digits) < std::abs(r - right_digits);
      },
      hand_win))
      << output_of("hand");

  // spotout2 on the pad of a master tile: the channel moves to the key-a extension window.
  video_ = video_rect();
  const SDL_Rect video = video_, pad_button = widget(2, "pip2");
  const int px = video.x + 20, py = video.y + 20;
  ASSERT_TRUE(wait_for([&] {
    return at({Sint16(video.x), Sint16(video.y), Uint16(video.w / 4), Uint16(video.h / 4)}).black >
           100;
  }));
  master_click(px, py, 3);
  // The pad opens on the refresh after the release; its frame has a bright blue border.
  ASSERT_TRUE(wait_for([&] {
    const SDL_Rect column{Sint16(px), Sint16(py), 1, Uint16(2 * pad_button.h + 9)};
    return count_pixels(column, [](int r, int, int b) { return b > 200 && r < 100; }) >
           pad_button.h;
  }));
  master_click(px + 1 + pad_button.w / 2, py + pad_button.h + 6 + pad_button.h / 2);
  EXPECT_TRUE(shows([&] { return one_picture(ext, 0, 0, 1); }, ext)) << out();
  EXPECT_TRUE(wait_output("Received COMM_ACK from 1")) << out();
  // The master shows one channel fewer: its last tile is left empty.
  EXPECT_TRUE(shows([&] { return !tile_live(3, 3); }, win_));

  // Closing that extension window frees its slot and hands the channel back, which the
  // master shows again.
  x11_close_window(ext);
  EXPECT_TRUE(wait_output("removed slave 1")) << out();
  EXPECT_TRUE(wait_output("add_receiver(DVR-1)")) << out();
  EXPECT_TRUE(shows([&] { return tile_live(3, 3); }, win_));

  // Long after the second a, still only the two slaves of the start.
  EXPECT_EQ(out().find("added slave 2 "), std::string::npos) << out();

  // Key q closes every slave, and the master with them.
  // (about 3 s in the sanitised build: the master disconnects its DVR before it tells them;
  // over 10 s on a machine whose every core is busy)
  key("q");
  EXPECT_TRUE(wait_until([&] { return x11_find_window("ZOL Extension Window", hand) == 0; }, 45));
  EXPECT_EQ(wait_exit(), 0) << err();
  int code = -1;
  EXPECT_EQ(wait_process(hand, 10000, &code), 0) << output_of("hand");
  EXPECT_EQ(code, 0);
}

TEST_F(LinkWindows, key_w_opens_the_spot_window_of_the_selection_at_the_corner) {
  const int port1 = start_dvr();
  ASSERT_GT(port1, 0);
  write_setup(port1);
  ASSERT_NO_FATAL_FAILURE(start_vigilo({"-A", "DVR-1", "-u", "admin,admin"}));
  const SDL_Rect video = video_rect();
  ASSERT_TRUE(wait_for([&] {
    return at({Sint16(video.x), Sint16(video.y), Uint16(video.w / 4), Uint16(video.h / 4)}).black >
           100;
  }));
  // The selected tile wears a yellow frame; key w once it shows.
  click(video.x + video.w / 8, video.y + video.h / 8);
  const SDL_Rect left_edge{Sint16(video.x), Sint16(video.y + video.h / 16), 4, Uint16(video.h / 8)};
  const auto framed = [&] { return at(left_edge).yellow > at(left_edge).total / 5; };
  // Under load the first click can come before the loop takes clicks on the video: one more
  // if no frame came within 15 s (a second click on a selected tile would clear it again).
  if (!wait_for(framed, 15)) click(video.x + video.w / 8, video.y + video.h / 8);
  ASSERT_TRUE(wait_for(framed));
  key("w");
  unsigned long spot = 0;
  ASSERT_TRUE(wait_until([&] { return (spot = x11_find_window("ZOL Spot Window")) != 0; }))
      << out();
  int x = 0, y = 0, w = 0, h = 0;
  // SDL names the window while it is still 32 x 32; it is placed and sized a moment later.
  EXPECT_TRUE(wait_until([&] {
    return shot_->origin(spot, &x, &y) && shot_->size(spot, &w, &h) && x == 1600 - 352 &&
           y == 1200 - 240 && w == 352 && h == 240;
  })) << x
      << "," << y << " " << w << "x" << h;
  EXPECT_TRUE(shows([&] { return one_picture(spot, 0, 0, 1); }));
  key("q");
  EXPECT_EQ(wait_exit(), 0) << err();
  // The main window ends what it started.
  EXPECT_TRUE(wait_until([&] { return x11_find_window("ZOL Spot Window") == 0; }, 20));
}

}  // namespace
