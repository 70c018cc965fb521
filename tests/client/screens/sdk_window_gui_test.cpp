// The real program against the simulated SDK DVR (in this process) on a private X server:
// a 'W' DVR's channels 0 to 8 show its pictures in the live tiles, after the DVR drops every
// connection the tiles come live again, and neither a DVR whose control connection never
// answers nor one that streams holds the program's exit.
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "peers/wdvr/wdvr_peer.h"
#include "tests/client/screens/eventually.h"
#include "tests/client/screens/gui_harness.h"

namespace {

class SdkWindow : public gui::GuiTest {
 protected:
  void SetUp() override {
    gui::GuiTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    start_peer({});
  }
  // The peer with `faults`, and DVR-1 a 'W' model on its base port.
  void start_peer(const wdvr::Faults& faults) {
    if (peer_) peer_->stop();
    wdvr::PeerConfig c;
    c.channels = 9;
    c.width = 352;
    c.height = 240;
    c.fps = 10;
    c.clip_frames = 10;
    c.faults = faults;
    peer_ = std::make_unique<wdvr::WdvrPeer>(c);
    ASSERT_TRUE(peer_->start());
    write_setup(peer_->base_port(), -1, [](std::string& cfg) {
      const size_t at = cfg.find("DVR-1=MW-2606QTR14");
      ASSERT_NE(at, std::string::npos);
      cfg.replace(at, 18, "DVR-1=MW-2606QA14");
    });
  }
  void TearDown() override {
    gui::GuiTest::TearDown();
    if (peer_) peer_->stop();
  }

  // Tile i of the 4 x 4 grid shows a synthetic picture: white digits on their black box and
  // the reddish square.
  bool live(int i) {
    const gui::Census t = cell(i % 4, i / 4, 4);
    return t.white > t.total / 200 && t.black > t.total / 50 && t.red > t.total / 200;
  }
  bool tiles_live(int n) {
    for (int i = 0; i < n; ++i)
      if (!live(i)) return false;
    return true;
  }

  std::unique_ptr<wdvr::WdvrPeer> peer_;

  // Times a quit begun at t0 to the program's EXIT line, its last act (the sanitizers' leak
  // scan after it is no part of the program), then expects a clean end. Well under 2 s on an
  // idle machine; 5 s lets a busy machine's slower teardown pass and still fails a quit that
  // waits out the SDK's 7 s connect or 20 s frame wait.
  void expect_exit_within_5_s(std::chrono::steady_clock::time_point t0) {
    ASSERT_TRUE(eventually([&] { return system_log().find("|EXIT|") != std::string::npos; }, 30000))
        << out();
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_LT(took, std::chrono::seconds(5))
        << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n"
        << out();
    expect_clean_exit();
  }
};

TEST_F(SdkWindow, channels_0_to_8_show_the_dvrs_pictures_and_come_back_after_a_drop) {
  ASSERT_NO_FATAL_FAILURE(start_vigilo({"-A", "DVR-1", "-u", "admin,admin"}));
  video_ = video_rect();
  ASSERT_TRUE(wait_for([&] { return tiles_live(9); })) << out();
  // Tiles of channels 9 and up stay without a picture: only 0..8 are opened.
  EXPECT_FALSE(live(9));

  const int logons = peer_->count(0x00000001);
  peer_->drop_connections();
  ASSERT_TRUE(eventually([&] { return peer_->count(0x00000001) > logons; }, 45000)) << out();
  // The pictures move again: the moving square changes what tile 0 holds.
  ASSERT_TRUE(wait_for([&] { return tiles_live(9); }));
  const long sum = cell(0, 0, 4).sum;
  EXPECT_TRUE(wait_for([&] { return live(0) && cell(0, 0, 4).sum != sum; })) << out();
}

// The receive thread waits in the SDK's connect for a system information reply that never
// comes (7 s): key q ends the program well before that.
TEST_F(SdkWindow, q_ends_the_program_before_the_connect_wait_while_the_control_link_is_silent) {
  wdvr::Faults silent;
  silent.stage = wdvr::Stage::Cms;
  silent.fault = wdvr::Fault::Silent;
  silent.times = -1;
  ASSERT_NO_FATAL_FAILURE(start_peer(silent));
  ASSERT_NO_FATAL_FAILURE(start_vigilo({"-A", "DVR-1", "-u", "admin,admin"}));
  ASSERT_TRUE(peer_->wait_request(0x0007000F, 0, 45000)) << out();
  const auto t0 = std::chrono::steady_clock::now();
  key("q");
  expect_exit_within_5_s(t0);
}

// The SDK's live GetPacket waits 20 s for a frame; a stop that found the packet threads
// inside that wait used to leave them there, and the program (frozen window) with them, for
// the whole of it, in most runs. Each round quits a program whose nine tiles stream, by
// SIGTERM or by Esc and the exit question's Yes.
TEST_F(SdkWindow, sigterm_or_esc_ends_the_program_at_once_while_the_dvr_streams) {
  for (int round = 0; round < 4; ++round) {
    const bool by_signal = round % 2 == 0;
    SCOPED_TRACE(by_signal ? "SIGTERM" : "Esc, Yes");
    std::filesystem::remove_all(dir_ / "logs");
    ASSERT_NO_FATAL_FAILURE(start_vigilo({"-A", "DVR-1", "-u", "admin,admin"}));
    video_ = video_rect();
    ASSERT_TRUE(wait_for([&] { return tiles_live(9); })) << out();
    // Frames still coming in: the packet threads are inside GetPacket, reading.
    const long sum = cell(0, 0, 4).sum;
    ASSERT_TRUE(wait_for([&] { return live(0) && cell(0, 0, 4).sum != sum; })) << out();
    const auto t0 = std::chrono::steady_clock::now();
    if (by_signal)
      kill(vigilo_, SIGTERM);
    else
      key("Escape");  // nothing selected: the exit question, answered Yes
    expect_exit_within_5_s(t0);
  }
}

}  // namespace
