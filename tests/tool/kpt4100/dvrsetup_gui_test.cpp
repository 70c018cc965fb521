// The real auxdesk in mode "dvrsetup" against the simulated 'Q' DVR, driven with xdotool:
// the window before and after the fetch, a full round trip of one camera name and one
// motion cell, refused pages, and every DVR fault ending in its status or Error box with
// nothing sent and Close still working.
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "peers/qdvr/qdvr_peer.h"
#include "tests/client/screens/eventually.h"
#include "tests/tool/auxdesk_run.h"
#include "tests/tool/screen_grab.h"

namespace {

// Page origin inside the window (the notebook's page area) and the widgets' places on a
// 16-channel window, in page coordinates.
constexpr int kPageX = 22, kPageY = 60;
constexpr int kOkX = 570, kOkY = 635, kCloseX = 650;
constexpr int kStatusX = 5, kStatusY = 630;
// The tabs of the English texts in the default theme, in window coordinates.
constexpr int kTabY = 34, kRecordTabX = 107, kNetworkTabX = 170;

class DvrSetupGui : public RealAuxdesk {
 protected:
  void SetUp() override {
    RealAuxdesk::SetUp();
    if (IsSkipped()) return;
    setenv("VIGILO_DVRSETUP_TIMEOUT_MS", "2000", 1);
  }
  void TearDown() override {
    if (peer_) peer_->stop();
    RealAuxdesk::TearDown();
  }
  void start_peer(qdvr::PeerConfig cfg = {}) {
    cfg.channels = 16;
    cfg.clip_frames = 1;
    peer_ = std::make_unique<qdvr::QdvrPeer>(cfg);
    ASSERT_TRUE(peer_->start());
    std::string text = read_file(run_ / "setup.cfg");
    const std::string from = "127.0.0.1,9101,";
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos);
    text.replace(at, from.size(), "127.0.0.1," + std::to_string(peer_->port()) + ",");
    std::ofstream(dir_ / "setup.cfg") << text;
  }
  void open() {
    start({"dvrsetup", "admin", "admin", "DVR-1", "MW-2606QTR14"});
    win_ = window("ZOL DVR Setup");
    ASSERT_NE(win_, 0u) << err();
    ASSERT_TRUE(eventually([&] { return grab(win_, 0, 0, 8, 8).w == 8; }, 20000));
    xdo_settled({"windowfocus", "--sync", std::to_string(win_)});
  }
  // Clicks a point of the window / of the current page.
  void click_window(int x, int y) {
    xdo_settled({"mousemove", "--window", std::to_string(win_), std::to_string(x),
                 std::to_string(y), "click", "1"});
  }
  void click(int x, int y) { click_window(kPageX + x, kPageY + y); }
  // Clicks a tab and waits until its page is drawn and holds still: GTK takes input before it
  // lays out a page it has just switched to, so a click sent earlier lands on the old page.
  void show_tab(int tab_x) {
    auto page = [&] { return grab(win_, kPageX, kPageY, 600, 500); };
    const Picture before = page();
    click_window(tab_x, kTabY);
    Picture last = before;
    ASSERT_TRUE(eventually(
        [&] {
          const Picture now = page();
          const bool settled = now.w > 0 && now.differing(before) > 1000 && now == last;
          last = now;
          return settled;
        },
        20000, 100))
        << "tab at x " << tab_x;
  }
  Picture status() { return grab(win_, kPageX + kStatusX, kPageY + kStatusY, 300, 20); }
  // The OK button's label is black when it is sensitive and grey when not.
  bool ok_sensitive() {
    return grab(win_, kPageX + kOkX - 30, kPageY + kOkY - 8, 60, 16).dark(0x50) > 10;
  }
  bool idle() {
    Picture s = status();
    return s.w > 0 && s.colours() == 1;
  }
  int uploads_seen() {
    int n = 0;
    for (const qdvr::Request& r : peer_->requests()) n += r.type == 0xA1;
    return n;
  }

  std::unique_ptr<qdvr::QdvrPeer> peer_;
  unsigned long win_ = 0;
};

TEST_F(DvrSetupGui, fetch_edit_save_round_trip_and_second_fetch) {
  ASSERT_NO_FATAL_FAILURE(start_peer());
  const std::vector<uint8_t> sent = peer_->settings();
  peer_->hold_requests(true);  // the DVR answers once the window has been looked at
  ASSERT_NO_FATAL_FAILURE(open());
  EXPECT_EQ(std::make_pair(740, 720), window_size(win_));
  // The status reads "Connecting..." (once drawn) and OK is grey until the fetch ends.
  EXPECT_TRUE(eventually([&] { return !idle(); }, 20000));
  EXPECT_FALSE(ok_sensitive());
  peer_->hold_requests(false);
  ASSERT_TRUE(peer_->wait_request(0xA0, 0, 20000));
  ASSERT_TRUE(eventually([&] { return idle(); }, 20000)) << out();
  EXPECT_TRUE(eventually([&] { return ok_sensitive(); }, 5000));

  // Camera 1's name, then a motion cell of camera 2 (its row records on motion).
  click(215, 131);
  xdo_settled({"key", "End", "BackSpace", "BackSpace", "BackSpace", "BackSpace", "BackSpace"});
  xdo_settled({"type", "--delay", "20", "Gate1"});
  ASSERT_NO_FATAL_FAILURE(show_tab(kRecordTabX));
  click(270, 161);
  click(370 + 60 + 30, 318);     // mode "select"
  click(325 + 10 * 10 + 4, 64);  // row 0, column 10
  click(kOkX, kOkY);             // motion sub-page OK
  click(kOkX, kOkY);             // Save
  EXPECT_EQ(0, finish()) << err();
  EXPECT_NE(out().find("File saved...\n"), std::string::npos) << out();
  ASSERT_TRUE(eventually([&] { return peer_->uploads() == 1; }, 10000)) << peer_->refused_uploads();
  const std::vector<uint8_t> got = peer_->settings();
  ASSERT_EQ(5818u, got.size());
  std::vector<uint8_t> want = sent;
  std::memcpy(want.data() + 4 + 84, "Gate1\0\0\0\0", 9);
  want[4 + 84 + 135 + 21 + 2] |= 0x08;  // camera 2, row 0, bit 19 (column 10)
  for (size_t i = 4; i < 5814; ++i) ASSERT_EQ(want[i], got[i]) << "byte " << i - 4;
  EXPECT_EQ(1, uploads_seen());

  // A second run fetches what was sent.
  ASSERT_NO_FATAL_FAILURE(open());
  ASSERT_TRUE(eventually([&] { return idle(); }, 20000)) << out();
  EXPECT_EQ("Gate1", read_file(dir_ / "eeprom_data.dat").substr(4 + 84, 5));
  click(kCloseX, kOkY);
  EXPECT_EQ(0, finish()) << err();
  EXPECT_EQ(1, uploads_seen());
}

TEST_F(DvrSetupGui, refused_pages_send_nothing) {
  ASSERT_NO_FATAL_FAILURE(start_peer());
  ASSERT_NO_FATAL_FAILURE(open());
  ASSERT_TRUE(eventually([&] { return idle(); }, 20000)) << out();
  // The IP address 300.1.1.1.
  ASSERT_NO_FATAL_FAILURE(show_tab(kNetworkTabX));
  click(255, 136);
  xdo_settled({"key", "ctrl+a", "BackSpace"});
  xdo_settled({"type", "300.1.1.1"});
  click(kOkX, kOkY);
  ASSERT_TRUE(eventually(
      [&] { return err().find("Error: The IP address is not valid.") != std::string::npos; },
      10000))
      << err();
  // Every camera at the all-cameras rate, 30 frames a second: over the budget of 240.
  ASSERT_NO_FATAL_FAILURE(show_tab(kRecordTabX));
  click(42, 101);  // the all-cameras switch
  click(kOkX, kOkY);
  ASSERT_TRUE(eventually(
      [&] { return err().find("Error: The eight cameras may record 240") != std::string::npos; },
      10000))
      << err();
  EXPECT_EQ(0, uploads_seen());
  click(kCloseX, kOkY);
  EXPECT_EQ(0, finish()) << err();
  EXPECT_EQ(0, uploads_seen());
}

TEST_F(DvrSetupGui, dvr_faults_end_in_their_status_or_box_and_close_still_works) {
  enum OldFile { kNone, kGood, kDamaged };
  struct Case {
    const char* what;
    qdvr::SetupFault fault;
    qdvr::Login login;
    int code;
    const char* said;  // in standard output or error
    OldFile old;       // eeprom_data.dat of an earlier run
  } cases[] = {
      {"silence", qdvr::SetupFault::Silent, qdvr::Login::Accept, 0,
       " Unable to retrieve setup data.\n", kNone},
      {"wrong command", qdvr::SetupFault::WrongCommand, qdvr::Login::Accept, 0,
       " Unable to retrieve setup data.\n", kGood},
      {"oversized length", qdvr::SetupFault::Oversize, qdvr::Login::Accept, 0,
       " Unable to retrieve setup data.\n", kNone},
      {"refused login", qdvr::SetupFault::NoFault, qdvr::Login::Refuse, 0,
       " Server login failed.\n", kNone},
      {"error login", qdvr::SetupFault::NoFault, qdvr::Login::Error, 0, " Server login failed.\n",
       kNone},
      {"bad CRC", qdvr::SetupFault::BadCrc, qdvr::Login::Accept, 0,
       " The settings received fail their CRC check; the old file is kept.\n", kGood},
      {"damaged file of an earlier run", qdvr::SetupFault::WrongCommand, qdvr::Login::Accept, 1,
       "Error: CRC Check ERROR!!!", kDamaged},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    qdvr::PeerConfig cfg;
    cfg.setup_fault = c.fault;
    cfg.login = c.login;
    ASSERT_NO_FATAL_FAILURE(start_peer(cfg));
    // A good file of an earlier run may be shown after a failed fetch, but is never sent
    // and never replaced.
    std::filesystem::remove(dir_ / "eeprom_data.dat");
    std::vector<uint8_t> old = qdvr::synthetic_settings(16);
    if (c.old == kDamaged) old[100] ^= 1;
    if (c.old != kNone)
      std::ofstream(dir_ / "eeprom_data.dat", std::ios::binary)
          .write(reinterpret_cast<const char*>(old.data()), long(old.size()));
    ASSERT_NO_FATAL_FAILURE(open());
    const Picture connecting = status();
    ASSERT_TRUE(
        eventually([&] { return (out() + err()).find(c.said) != std::string::npos; }, 20000))
        << out();
    if (c.code == 1) {
      EXPECT_EQ(1, finish()) << err();
    } else {
      // The status leaves "Connecting..." for the failure's text and stays busy.
      EXPECT_TRUE(eventually([&] { return !(status() == connecting); }, 10000));
      EXPECT_FALSE(idle());
      EXPECT_FALSE(ok_sensitive());
      click(kCloseX, kOkY);
      EXPECT_EQ(0, finish()) << err();
    }
    if (c.old == kGood) {
      EXPECT_EQ(read_file(dir_ / "eeprom_data.dat"), std::string(old.begin(), old.end()));
    }
    EXPECT_EQ(0, uploads_seen());
    peer_->stop();
    peer_.reset();
  }
}

}  // namespace
