// The real program against the simulated SDK DVR (in this process) on a private X server:
// a 'W' DVR's channels 0 to 8 show its pictures in the live tiles, and after the DVR drops
// every connection the tiles come live again.
#include <chrono>
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
    wdvr::PeerConfig c;
    c.channels = 9;
    c.width = 352;
    c.height = 240;
    c.fps = 10;
    c.clip_frames = 10;
    peer_ = std::make_unique<wdvr::WdvrPeer>(c);
    ASSERT_TRUE(peer_->start());
    // DVR-1 becomes a 'W' model on the peer's base port.
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
};

TEST_F(SdkWindow, channels_0_to_8_show_the_dvrs_pictures_and_come_back_after_a_drop) {
  ASSERT_NO_FATAL_FAILURE(start_vigilo({"-A", "DVR-1", "-u", "admin,admin"}));
  video_ = video_rect();
  ASSERT_TRUE(wait_for([&] { return tiles_live(9); })) << out();
  // Tiles of channels 9 and up stay without a picture: only 0..8 are opened.
  EXPECT_FALSE(live(9));

  const int logons = peer_->count(0x00000001);
  peer_->drop_connections();
  ASSERT_TRUE(eventually([&] { return peer_->count(0x00000001) > logons; }, 45000))
      << out();
  // The pictures move again: the moving square changes what tile 0 holds.
  ASSERT_TRUE(wait_for([&] { return tiles_live(9); }));
  const long sum = cell(0, 0, 4).sum;
  EXPECT_TRUE(wait_for([&] { return live(0) && cell(0, 0, 4).sum != sum; })) << out();
}

}  // namespace
