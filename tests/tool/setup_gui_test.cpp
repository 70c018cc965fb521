// The real auxdesk in mode "setup", driven with xdotool as an operator would: its five
// pages on screen, one flow per page written to setup.cfg, a real Error dialog, and a DVR
// and an account added here that the client then connects with.
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "client/foundation/config/utils.h"
#include "tests/client/screens/eventually.h"
#include "tests/tool/auxdesk_run.h"
#include "tests/tool/screen_grab.h"

namespace {

class SetupGui : public RealAuxdesk {
 protected:
  void TearDown() override {
    for (int pid : {vigilo_, dvr_})
      if (pid > 0 && process_running(pid)) {
        kill(pid, SIGKILL);
        wait_process(pid, 5000, nullptr);
      }
    RealAuxdesk::TearDown();
  }

  // Shows page `n` by a click on its tab (the default theme's tabs of the English texts) and,
  // once the pages have been seen, waits until its tab strip is drawn as page `n`'s: the
  // page is mapped by then, so the next click finds its widgets and not the last page's.
  void page(int n) {
    static const int kTabX[5] = {25, 75, 142, 210, 268};
    xdo_settled({"mousemove", "--window", std::to_string(win_), std::to_string(kTabX[n]), "20",
                 "click", "1"});
    if (tabs_[n].px.empty()) return;
    // A focus ring may differ by some dozens of pixels; another page's tabs by thousands.
    ASSERT_TRUE(eventually(
        [&] {
          Picture t = tab_strip();
          return !t.px.empty() && t.differing(tabs_[n]) < 500;
        },
        20000, 50))
        << "page " << n;
  }
  // The strip of tabs above the pages.
  Picture tab_strip() { return grab(win_, 0, 0, 300, y0_ > 8 ? y0_ - 8 : 1); }
  // The part of the page a list fills, above the list's buttons.
  Picture list_area() { return grab(win_, x0_, y0_, 580, 263); }
  static double white_share(const Picture& p) {
    if (p.px.empty()) return 0;
    return double(std::count(p.px.begin(), p.px.end(), 0xFFFFFFu)) / double(p.px.size());
  }
  // Waits until the page shows its list again (after a save): its white rows fill most of the
  // area, where a form shows the window's grey between its entries.
  bool list_shown() {
    return eventually([&] { return white_share(list_area()) > 0.6; }, 20000, 50);
  }
  // Clicks the list's button at `x` (Add or Edit) and waits until the form it opens is drawn:
  // the list is gone and the entry at (ex, ey) shows its white box there, so that a click on
  // it reaches it rather than the window the form has not yet covered.
  bool open_form(int x, int ex, int ey) {
    click(x, 288);
    return eventually(
        [&] {
          Picture p = list_area();
          if (p.px.empty() || white_share(p) > 0.5) return false;
          for (int y = ey - 2; y <= ey + 2; ++y)
            for (int dx = -6; dx <= 6; ++dx)
              if (p.px[size_t(y) * 580 + size_t(ex + dx)] != 0xFFFFFFu) return false;
          return true;
        },
        20000, 50);
  }
  // Clicks a point of the current page, in the page's own coordinates.
  void click(int x, int y) {
    xdo_settled({"mousemove", "--window", std::to_string(win_), std::to_string(x0_ + x),
                 std::to_string(y0_ + y), "click", "1"});
  }
  void type(const std::string& text) { xdo_settled({"type", "--delay", "20", text}); }
  void key(const std::string& k) { xdo_settled({"key", k}); }
  void keys(const std::string& k, int times) {
    for (int i = 0; i < times; ++i) key(k);
  }
  // Waits for `needle` in setup.cfg.
  bool saved(const std::string& needle) {
    return eventually(
        [&] { return read_file(dir_ / "setup.cfg").find(needle) != std::string::npos; }, 20000, 50);
  }

  // Starts the tool and finds where its pages lie: the notebook's page area is centred
  // across the window and the tallest page (308 pixels) ends as far from the bottom.
  void start_setup() {
    start({"setup", "admin", "admin", "x", "x"});
    win_ = window("ZOL Client Setup");
    ASSERT_NE(win_, 0u) << err();
    const auto [width, height] = window_size(win_);
    x0_ = (width - 580) / 2;
    y0_ = height - x0_ - 308;
    xdo_settled({"windowfocus", "--sync", std::to_string(win_)});
  }

  unsigned long win_ = 0;
  int x0_ = 0, y0_ = 0;
  Picture tabs_[5];  // each page's tab strip, as first seen
  int vigilo_ = -1, dvr_ = -1;
};

TEST_F(SetupGui, pages_flows_and_a_dvr_the_client_then_shows) {
  // The simulated DVR listens on a port of its own choosing and names it.
  const std::string sim = (run_.parent_path() / "peers" / "qdvr_sim").string();
  const char* dvr_argv[] = {sim.c_str(), "--port", "0", "--channels", "4", nullptr};
  dvr_ = start_process(dvr_argv, (dir_ / "dvr.out").c_str(), (dir_ / "dvr.err").c_str());
  ASSERT_GT(dvr_, 0);
  unsigned port = 0;
  eventually(
      [&] {
        std::string said = read_file(dir_ / "dvr.out");
        size_t at = said.find("127.0.0.1:");
        if (at != std::string::npos) sscanf(said.c_str() + at, "127.0.0.1:%u", &port);
        return port != 0 || !process_running(dvr_);
      },
      30000, 50);
  ASSERT_GT(port, 0u) << read_file(dir_ / "dvr.err");
  const std::string port_text = std::to_string(port);
  std::ofstream(dir_ / "setup.cfg") << read_file(run_ / "setup.cfg");
  ASSERT_NO_FATAL_FAILURE(start_setup());

  // Five pages, none blank, no two alike.
  std::vector<Picture> pages;
  // A busy machine may draw a page well after its tab's click: each is waited for.
  for (int p = 0; p < 5; ++p) {
    page(p);
    Picture now;
    eventually(
        [&] {
          now = grab(win_);
          if (now.colours() <= 8) return false;
          for (const Picture& q : pages)
            if (now.differing(q) <= 2000) return false;
          return true;
        },
        20000, 50);
    pages.push_back(now);
    EXPECT_GT(pages.back().colours(), 8) << "page " << p;
    for (int q = 0; q < p; ++q)
      EXPECT_GT(pages[p].differing(pages[q]), 2000) << "pages " << q << " and " << p;
    tabs_[p] = tab_strip();
  }
  ASSERT_NO_FATAL_FAILURE(page(0));

  // DVR page: add the simulated DVR through the form.
  ASSERT_TRUE(open_form(300, 185, 40));
  click(185, 40);
  type("Sim");
  key("Tab");
  type("127.0.0.1");
  key("Tab");
  type("admin");
  key("Tab");
  type("admin");
  key("Tab");
  type(port_text);
  keys("Tab", 5);  // camera list and name, the DDNS port and server, then the manager
  type("Ops");
  key("Tab");
  type("0123");
  keys("Tab", 2);  // past the fire department number to the location
  type("Lab");
  click(460, 285);
  ASSERT_TRUE(saved("\nSim=MW-2606QTR14,127.0.0.1,3490," + port_text +
                    ",3492,9205,9203,80,9202,IP,4,\"Lab\",\"Ops\",\"0123\",\"112\",\"119\","
                    "CHANNEL  1,"))
      << read_file(dir_ / "setup.cfg");
  // ...and edit the first DVR of the list, once the list is back.
  ASSERT_TRUE(list_shown());
  click(100, 41);
  ASSERT_TRUE(open_form(380, 185, 40));
  click(185, 40);
  keys("Tab", 12);
  type("Roof");
  click(460, 285);
  ASSERT_TRUE(
      saved("\nDVR-1=MW-2606QTR14,127.0.0.1,3490,9101,3492,9205,9203,80,9202,IP,4,\"Roof\","
            "\"Operator\",\"0000000\",\"112\",\"119\",CAM01,"))
      << err();

  // Group page: a group of every camera of the first DVR.
  ASSERT_NO_FATAL_FAILURE(page(1));
  ASSERT_TRUE(open_form(300, 210, 10));
  click(210, 10);
  type("Sims");
  click(200, 40);
  key("Return");
  click(320, 135);
  click(460, 285);
  ASSERT_TRUE(saved("\ngroup_name=Sims\nnum_dvr=1\nDVR-1=F\n")) << err();

  // Account page: an administrator.
  ASSERT_NO_FATAL_FAILURE(page(2));
  ASSERT_TRUE(open_form(300, 210, 40));
  click(160, 10);
  key("Up");
  key("Return");
  const char* fields[] = {"ops", "Ops Team", "pw1", "pw1", "ops@example.com"};
  for (int i = 0; i < 5; ++i) {
    click(210, 40 + 30 * i);
    type(fields[i]);
  }
  click(460, 285);
  ASSERT_TRUE(saved("\nops=Ops Team, " + std::string(uuencode_line("pw1")) + " ,1, #,T9& , "))
      << err();

  // System page: the alarm sound off; E-mail page: a new subject.
  ASSERT_NO_FATAL_FAILURE(page(3));
  click(57, 86);
  click(440, 293);
  ASSERT_TRUE(saved("\nenable_alarm=0\n")) << err();
  ASSERT_NO_FATAL_FAILURE(page(4));
  click(197, 76);
  key("ctrl+a");
  type("Alarm at the lab");
  click(460, 288);
  ASSERT_TRUE(saved("\nsubject=Alarm at the lab\n")) << err();
  // The box that tells of the save comes after the file is written.
  EXPECT_TRUE(eventually(
      [&] { return err().find("Information: \nEmail Information Save.") != std::string::npos; },
      20000, 50))
      << err();
  EXPECT_TRUE(saved("\nenable_alarm=0\n")) << "the later save keeps the earlier one";

  // Closing the window ends the tool.
  ASSERT_EQ(x11_close_window(win_), 0);
  EXPECT_EQ(finish(), 0) << err();

  // The client connects to the DVR added above with the account added above.
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  setenv("VIGILO_BOX_ANSWER", "yes", 1);
  use_own_link_port();
  std::string exe = (dir_ / "vigilo").string();
  const char* argv[] = {exe.c_str(), "-A", "Sim", "-u", "ops,pw1", nullptr};
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir_);
  vigilo_ = start_process(argv, (dir_ / "vigilo.out").c_str(), (dir_ / "vigilo.err").c_str());
  std::filesystem::current_path(cwd);
  ASSERT_GT(vigilo_, 0);
  unsigned long main_window = 0;
  eventually(
      [&] { return (main_window = x11_find_window("ZOL Main")) != 0 || !process_running(vigilo_); },
      40000, 50);
  ASSERT_NE(main_window, 0u) << read_file(dir_ / "vigilo.out") << read_file(dir_ / "vigilo.err");
  // The video area of the default skin; the simulated pictures hold a reddish square.
  int red = 0;
  eventually(
      [&] {
        Picture video = grab(main_window, 8, 56, 960, 720);
        red = 0;
        for (uint32_t p : video.px) {
          int r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
          red += r > g + 50 && r > b + 50;
        }
        return red >= 2000;
      },
      90000, 100);
  EXPECT_GE(red, 2000) << read_file(dir_ / "vigilo.out");
}

TEST_F(SetupGui, a_real_error_dialog_is_found_by_its_title_and_closed_by_a_key) {
  unsetenv("VIGILO_BOX_ANSWER");
  std::ofstream(dir_ / "setup.cfg") << read_file(run_ / "setup.cfg");
  ASSERT_NO_FATAL_FAILURE(start_setup());
  click(300, 288);
  click(460, 285);  // the empty form: the first check fails
  unsigned long dialog = window("Error");
  ASSERT_NE(dialog, 0u);
  xdo_settled({"windowfocus", "--sync", std::to_string(dialog)});
  key("Return");
  EXPECT_TRUE(eventually([] { return x11_find_window("Error") == 0; }, 10000, 50));
  EXPECT_TRUE(process_running(pid_));
  ASSERT_EQ(x11_close_window(win_), 0);
  EXPECT_EQ(finish(), 0) << err();
}

}  // namespace
