// The real `auxdesk emap` on its own X server and mailslot, in a scratch copy of the run
// tree: the demo map's markers on screen, blinking on notices sent on the mailslot (a burst
// of them as one update), spot
// windows started by clicks (a stand-in in place of vigilo), the close button, and maps and
// markers edited through the dialogs.
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <thread>

#include "client/foundation/config/mailslot.h"
#include "platform/net/local_dgram.h"
#include "tests/client/screens/eventually.h"
#include "tests/tool/auxdesk_run.h"
#include "tests/tool/screen_grab.h"

namespace {

namespace fs = std::filesystem;

// Marker pictures of the generated sheets: the fill colour of each state.
constexpr uint32_t kNormal = 0x28AA3C, kHover = 0xF0C81E, kAlarm = 0xDC1E1E;
constexpr int kMapX = 12, kMapY = 49;  // the map area in the window

// One pixel of a window; 0xFFFFFFFF while it cannot be read.
uint32_t pixel(unsigned long window, int x, int y) {
  const Picture p = grab(window, x, y, 1, 1);
  return p.px.empty() ? 0xFFFFFFFF : p.px[0];
}

// Window `a` lies above window `b` among the top-level windows (no window manager runs).
bool stacked_above(unsigned long a, unsigned long b) {
  Display* d = XOpenDisplay(nullptr);
  if (!d) return false;
  Window root, parent, *kids = nullptr;
  unsigned n = 0;
  int at_a = -1, at_b = -1;
  if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &kids, &n)) {
    for (unsigned i = 0; i < n; ++i) {  // bottom to top
      if (kids[i] == a) at_a = int(i);
      if (kids[i] == b) at_b = int(i);
    }
    if (kids) XFree(kids);
  }
  XCloseDisplay(d);
  return at_a >= 0 && at_b >= 0 && at_a > at_b;
}

class EmapGui : public RealAuxdesk {
 protected:
  void SetUp() override {
    RealAuxdesk::SetUp();
    if (IsSkipped()) return;
    fs::copy_file(run_ / "setup.cfg", dir_ / "setup.cfg");  // the demo: DVR-1, DVR-2, one group
    slot_dir_ = dir_ / "slot";
    fs::create_directory(slot_dir_);
    fs::permissions(slot_dir_, fs::perms::owner_all, fs::perm_options::replace);
    setenv("VIGILO_MAILSLOT_DIR", slot_dir_.c_str(), 1);
  }
  void TearDown() override {
    if (reader_ >= 0) mailslot_close_reader(reader_);
    unsetenv("VIGILO_MAILSLOT_DIR");
    RealAuxdesk::TearDown();
  }

  void start_emap() {
    start({"emap", "admin", "admin", "DVR-1", "x"});
    win_ = window("ZOL E-Map");
    ASSERT_NE(win_, 0u) << out() << err();
  }
  // The fill colour of the marker centred at map position (x, y).
  uint32_t marker(int x, int y) { return pixel(win_, kMapX + x - 9, kMapY + y - 9); }
  bool marker_is(int x, int y, uint32_t colour, int ms = 20000) {
    return eventually([&] { return marker(x, y) == colour; }, ms);
  }
  void click(unsigned long w, int x, int y, int button = 1) {
    xdo({"mousemove", "--window", std::to_string(w), std::to_string(x), std::to_string(y), "click",
         std::to_string(button)});
  }
  void click_map(int x, int y, int button = 1) { click(win_, kMapX + x, kMapY + y, button); }
  // Add map: the pointer clicks into each entry of the dialog, then OK.
  void add_map(const std::string& name, const std::string& image) {
    click(win_, 854, 340);
    unsigned long dlg = window("Add map");
    ASSERT_NE(dlg, 0u);
    xdo({"windowfocus", "--sync", std::to_string(dlg)});
    click(dlg, 200, 15);
    xdo({"type", "--delay", "20", name});
    click(dlg, 200, 45);
    xdo({"type", "--delay", "20", image});
    click(dlg, 285, 80);
  }
  void send(const std::string& dvr, uint8_t kind, uint32_t motion, uint32_t sensor) {
    EVENT_NOTICE n;
    snprintf(n.dvr_name, sizeof n.dvr_name, "%s", dvr.c_str());
    n.kind = kind;
    n.mask_motion = motion;
    n.mask_sensor = sensor;
    uint8_t buf[EVENT_NOTICE_SIZE];
    encode_event_notice(n, buf);
    ASSERT_EQ(local_dgram_send(MAILSLOT_NAME, buf, sizeof buf, 2000), 0);
  }
  std::string emap_cfg() { return read_file(dir_ / "emap.cfg"); }
  // Today's system log.
  std::string syslog() {
    char day[32];
    time_t now = time(nullptr);
    strftime(day, sizeof day, "sys%Y%m%d.txt", localtime(&now));
    return read_file(dir_ / "logs" / day);
  }
  bool cfg_has(const std::string& needle) {
    return eventually([&] { return emap_cfg().find(needle) != std::string::npos; });
  }
  // The window of that title has closed (a new one of the same title is not taken for it).
  bool gone(const char* title) {
    return eventually([&] { return x11_find_window(title) == 0; });
  }
  bool said(const std::string& needle) {
    return eventually([&] { return err().find(needle) != std::string::npos; });
  }
  std::vector<fs::path> spot_files() {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(dir_)) {
      const std::string n = e.path().filename().string();
      if (n.rfind("spot-", 0) == 0 && n.size() > 4 && n.substr(n.size() - 4) == ".txt")
        out.push_back(e.path());
    }
    return out;
  }

  fs::path slot_dir_;
  unsigned long win_ = 0;
  int reader_ = -1;
};

TEST_F(EmapGui, markers_blink_on_notices_of_the_start_target_only) {
  ASSERT_NO_FATAL_FAILURE(start_emap());
  // The demo map: cameras 1 and 3, sensor 1, all at rest.
  ASSERT_TRUE(marker_is(150, 150, kNormal)) << std::hex << marker(150, 150) << out() << err();
  EXPECT_EQ(marker(150, 450), kNormal);
  ASSERT_TRUE(marker_is(405, 600, kNormal));
  ASSERT_TRUE(eventually(
      [&] { return out().find("emap_check_event thread create success!") != std::string::npos; }));
  // device.cfg puts the undrawn entries at (0, 0): hovering there touches no marker.
  xdo({"mousemove", "--window", std::to_string(win_), std::to_string(kMapX + 4),
       std::to_string(kMapY + 4)});

  // A stray message, another DVR's motion and DVR-1's sensor: only the sensor blinks.
  uint8_t stray[160] = {};
  ASSERT_EQ(local_dgram_send(MAILSLOT_NAME, stray, sizeof stray, 2000), 0);
  send("DVR-2", 0x02, 0x1, 0);
  send("DVR-1", 0x20, 0x1, 0x1);
  ASSERT_TRUE(marker_is(405, 600, kAlarm)) << std::hex << marker(405, 600);
  EXPECT_EQ(marker(150, 150), kNormal);
  EXPECT_NE(out().find("No found!"), std::string::npos);

  // Motion on camera 1: the alarm picture, then the normal one no sooner than 3 s after the
  // notice. A busy machine only makes either come later: the deadlines are for a frozen
  // window, and the length is measured from what the window shows.
  send("DVR-1", 0x02, 0x1, 0);
  const auto sent = std::chrono::steady_clock::now();
  ASSERT_TRUE(marker_is(150, 150, kAlarm)) << std::hex << marker(150, 150);
  EXPECT_EQ(marker(150, 450), kNormal);
  ASSERT_TRUE(marker_is(150, 150, kNormal));
  EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(2900));
  EXPECT_EQ(marker(405, 600), kNormal);

  // The map is redrawn (Cancel on an empty spot) while camera 1 blinks: its timer leaves
  // the new marker alone, so it is normal by the time a later sensor alarm shows.
  click_map(300, 300, 3);
  const unsigned long sel = window("Selection");
  ASSERT_NE(sel, 0u);
  send("DVR-1", 0x02, 0x1, 0);
  ASSERT_TRUE(marker_is(150, 150, kAlarm));
  click(sel, 78, 97);
  ASSERT_TRUE(gone("Selection"));
  send("DVR-1", 0x20, 0, 0x1);
  ASSERT_TRUE(marker_is(405, 600, kAlarm));
  EXPECT_EQ(marker(150, 150), kNormal) << std::hex << marker(150, 150);
  EXPECT_EQ(err().find("CRITICAL"), std::string::npos) << err();
}

// Resident memory of a process in KiB; -1 when it cannot be read.
long rss_kib(int pid) {
  const std::string status = read_file("/proc/" + std::to_string(pid) + "/status");
  const size_t at = status.find("VmRSS:");
  return at == std::string::npos ? -1 : std::stol(status.substr(at + 6));
}

TEST_F(EmapGui, a_burst_of_notices_is_one_update_memory_stays_flat_and_close_is_prompt) {
  ASSERT_NO_FATAL_FAILURE(start_emap());
  ASSERT_TRUE(marker_is(150, 150, kNormal));
  ASSERT_TRUE(marker_is(405, 600, kNormal));
  ASSERT_TRUE(eventually(
      [&] { return out().find("emap_check_event thread create success!") != std::string::npos; }));
  const long before = rss_kib(pid_);

  // 1,000 notices as fast as the mailslot takes them: every camera and sensor 1 move.
  EVENT_NOTICE n;
  snprintf(n.dvr_name, sizeof n.dvr_name, "DVR-1");
  n.kind = 0x22;
  n.mask_motion = 0xF;
  n.mask_sensor = 0x1;
  uint8_t buf[EVENT_NOTICE_SIZE];
  encode_event_notice(n, buf);
  for (int i = 0; i < 1000; ++i)
    ASSERT_EQ(local_dgram_send(MAILSLOT_NAME, buf, sizeof buf, 20000), 0) << i;
  ASSERT_TRUE(marker_is(150, 450, kAlarm));
  EXPECT_EQ(marker(405, 600), kAlarm);
  // A timer and a picture per notice and marker would take some 20 MB here.
  const long after = rss_kib(pid_);
  EXPECT_LT(after - before, 8 * 1024) << before << " KiB before, " << after << " KiB after";

  // Closed while notices keep coming: the flood goes on until the window has gone, so the
  // window must take the press in the middle of it (a loop that the watcher starves never
  // does), however slowly a busy machine runs both.
  std::atomic<int> sent{0};
  std::atomic<bool> sending{true};
  std::thread more([&] {
    while (sending)
      if (local_dgram_send(MAILSLOT_NAME, buf, sizeof buf, 1000) == 0) ++sent;
  });
  EXPECT_TRUE(eventually([&] { return sent > 100; }));
  const int sent_at_click = sent;
  click(win_, 1000, 20);
  EXPECT_TRUE(eventually([&] { return syslog().find("|EMAP|EXIT|") != std::string::npos; }));
  sending = false;
  more.join();
  EXPECT_GT(sent - sent_at_click, 0) << "the notices stopped before the close was taken";
  EXPECT_EQ(finish(), 1) << out() << err();
}

TEST_F(EmapGui, camera_clicks_start_at_most_sixteen_spot_windows_and_close_ends_them) {
  fs::remove(dir_ / "vigilo");
  fs::copy_file(EMAP_SPOT_STANDIN, dir_ / "vigilo");
  ASSERT_NO_FATAL_FAILURE(start_emap());
  ASSERT_TRUE(marker_is(650, 500, kNormal));

  // Camera 4: channel mask 8, spot mode, the operator's login.
  click_map(650, 500);
  ASSERT_TRUE(eventually([&] { return spot_files().size() == 1; })) << out() << err();
  EXPECT_EQ(read_file(spot_files()[0]),
            (dir_ / "vigilo").string() + "\n-ADVR-1\n-k\n-e\n-v8\n-w0,0\n-uadmin,admin\n-m2\n");
  EXPECT_EQ(marker(650, 500), kHover);

  // The spot window is kept above the E-Map while the E-Map has the focus, and only then.
  const int first = std::stoi(spot_files()[0].filename().string().substr(5));
  unsigned long spot = 0;
  ASSERT_TRUE(eventually([&] { return (spot = viewable_window_of(first)) != 0; }));
  xdo({"windowfocus", "--sync", std::to_string(spot)});
  xdo({"windowraise", std::to_string(win_)});
  ASSERT_TRUE(eventually([&] { return stacked_above(win_, spot); }));
  xdo({"windowfocus", "--sync", std::to_string(win_)});
  EXPECT_TRUE(eventually([&] { return stacked_above(spot, win_); }));

  for (int i = 1; i < 16; ++i) click_map(650, 500);
  ASSERT_TRUE(eventually([&] { return spot_files().size() == 16; })) << spot_files().size();
  click_map(650, 500);
  ASSERT_TRUE(eventually([&] {
    return out().find("Maximum number of child processes exceed!") != std::string::npos;
  })) << out();
  EXPECT_EQ(spot_files().size(), 16u);
  std::vector<int> pids;
  for (const fs::path& p : spot_files()) pids.push_back(std::stoi(p.filename().string().substr(5)));

  // The close sprite button: every spot window ends, the exit is logged, code 1.
  click(win_, 1000, 20);
  ASSERT_EQ(finish(), 1) << out() << err();
  for (int pid : pids) EXPECT_TRUE(eventually([&] { return kill(pid, 0) != 0; })) << pid;
  EXPECT_NE(syslog().find("|EMAP|EXIT| - Program exit.\n"), std::string::npos) << out() << err();
}

TEST_F(EmapGui, maps_and_markers_are_edited_through_the_dialogs) {
  // Another process holds the mailslot: the E-Map says so and works on.
  reader_ = mailslot_create_reader();
  ASSERT_GE(reader_, 0);
  ASSERT_NO_FATAL_FAILURE(start_emap());
  ASSERT_TRUE(marker_is(150, 150, kNormal));
  EXPECT_TRUE(eventually([&] {
    return out().find("Error : Don't create mailslot!") != std::string::npos;
  })) << out();

  // Cancel on camera 1 removes it.
  click_map(150, 150, 3);
  unsigned long sel = window("Selection");
  ASSERT_NE(sel, 0u);
  click(sel, 78, 97);
  ASSERT_TRUE(gone("Selection"));
  ASSERT_TRUE(cfg_has("map_devices_1=650,150,C,0,2~~150,450,C,0,3~~650,500,C,0,4~~405,600,S,0,1"))
      << emap_cfg();
  ASSERT_TRUE(
      eventually([&] { return marker(150, 150) != kNormal && marker(150, 150) != kHover; }));

  // Save on an empty spot places camera 1 there; a second time it is refused.
  click_map(300, 400, 3);
  sel = window("Selection");
  ASSERT_NE(sel, 0u);
  click(sel, 28, 97);
  ASSERT_TRUE(gone("Selection"));
  ASSERT_TRUE(cfg_has("650,500,C,0,4~~300,400,C,0,1~~405,600,S,0,1")) << emap_cfg();
  ASSERT_TRUE(marker_is(300, 400, kNormal));
  click_map(200, 200, 3);
  sel = window("Selection");
  ASSERT_NE(sel, 0u);
  click(sel, 28, 97);
  EXPECT_TRUE(said("Error: \nCamera 1 is already placed.")) << err();
  EXPECT_NE(x11_find_window("Selection"), 0u);

  // Add a map, then delete it.
  ASSERT_NO_FATAL_FAILURE(add_map("Roof", "emap/demo-floor.jpg"));
  ASSERT_TRUE(cfg_has("num_map=2")) << emap_cfg() << err();
  EXPECT_NE(emap_cfg().find("map_image_2=emap/demo-floor.jpg\nmap_name_2=Roof\nmap_devices_2=0"),
            std::string::npos);
  ASSERT_TRUE(eventually([&] { return x11_find_window("Add map") == 0; }));

  // Edit renames the first map and keeps its picture and markers.
  click(win_, 900, 151);
  click(win_, 914, 340);
  const unsigned long edit = window("Edit map");
  ASSERT_NE(edit, 0u);
  xdo({"windowfocus", "--sync", std::to_string(edit)});
  click(edit, 200, 15);
  xdo({"key", "ctrl+a", "BackSpace"});
  xdo({"type", "--delay", "20", "Hall"});
  click(edit, 285, 80);
  ASSERT_TRUE(cfg_has("map_name_1=Hall\nmap_devices_1=650,150,C,0,2~~")) << emap_cfg() << err();
  EXPECT_NE(emap_cfg().find("map_image_1=.\\emap\\demo-floor.jpg\n"), std::string::npos)
      << emap_cfg();
  ASSERT_TRUE(gone("Edit map"));
  ASSERT_TRUE(marker_is(650, 150, kNormal));

  // The first row is selected, then Delete (answered yes).
  click(win_, 900, 151);
  click(win_, 974, 340);
  ASSERT_TRUE(cfg_has(
      "[DVR-1]\ndvr_name=DVR-1\nnum_map=1\nmap_image_1=emap/demo-floor.jpg\nmap_name_1=Roof"))
      << emap_cfg() << err();
}

TEST_F(EmapGui, a_file_that_cannot_be_written_keeps_the_dialog_and_the_old_file) {
  // The tool's files may not grow: the first save of a longer emap.cfg fails part-way.
  const std::string before = emap_cfg();
  rlimit old{}, small{};
  getrlimit(RLIMIT_FSIZE, &old);
  small = old;
  small.rlim_cur = before.size() + 8;
  setrlimit(RLIMIT_FSIZE, &small);
  start({"emap", "admin", "admin", "DVR-1", "x"});
  setrlimit(RLIMIT_FSIZE, &old);
  win_ = window("ZOL E-Map");
  ASSERT_NE(win_, 0u) << out() << err();
  ASSERT_TRUE(marker_is(150, 150, kNormal));
  ASSERT_NO_FATAL_FAILURE(add_map("Upper floor", "emap/x.jpg"));
  EXPECT_TRUE(said("Error: \nemap.cfg could not be saved")) << err();
  EXPECT_EQ(emap_cfg(), before);
  EXPECT_NE(x11_find_window("Add map"), 0u);
}

}  // namespace
