// On-screen text: line texts and positions, one font for the whole program that survives
// freeing one receiver's tables, a missing font that is never used, and lines that stay
// inside their tile.
#include <SDL/SDL_ttf.h>

#include <cstdlib>
#include <string>

#include "tests/client/screens/screens_fixture.h"

namespace {

class Osd : public ScreensTest {
 protected:
  std::string run_dir() {
    const char* d = getenv("VIGILO_RUN_DIR");
    return d ? std::string(d) + "/" : std::string();
  }
  void SetUp() override {
    ScreensTest::SetUp();
    ASSERT_EQ(TTF_Init(), 0);
  }
};

TEST_F(Osd, line_texts) {
  add_channels(2);
  RECEIVER_INFO& rx = ctx->receivers[0];
  CHANNEL_INFO& ch = rx.channels[1];
  char out[140];
  snprintf(ch.camera_name, sizeof ch.camera_name, "NULL");
  osd_line_text(ctx, &rx, &ch, 0, out, sizeof out);
  EXPECT_STREQ(out, "Camera 2");
  rx.protocol = 'S';
  osd_line_text(ctx, &rx, &ch, 0, out, sizeof out);
  EXPECT_STREQ(out, "All Cameras");
  osd_line_text(ctx, &rx, &ch, 1, out, sizeof out);
  EXPECT_STREQ(out, "DVR-1");
  osd_line_text(ctx, &rx, &ch, 2, out, sizeof out);  // no frame yet
  EXPECT_STREQ(out, "");
  osd_line_text(ctx, &rx, &ch, 3, out, sizeof out);  // no picture yet
  EXPECT_STREQ(out, "");
  osd_line_text(ctx, &rx, &ch, 4, out, sizeof out);
  EXPECT_STREQ(out, "  1.0X");
  ch.audio_on.store(1);
  ctx->playback_speed = 2.0;
  osd_line_text(ctx, &rx, &ch, 5, out, sizeof out);
  EXPECT_STREQ(out, "NO AUDIO PLAY MODE");
  ctx->playback_speed = 1.0;
  osd_line_text(ctx, &rx, &ch, 5, out, sizeof out);
  EXPECT_EQ(std::string(out), std::string(18, ' '));
  ch.frame_time = 86400.5;
  osd_line_text(ctx, &rx, &ch, 2, out, sizeof out);
  EXPECT_EQ(strlen(out), 19u);
}

TEST_F(Osd, line_positions_stay_inside_the_tile) {
  const RECT16 cell{100, 50, 160, 120};
  struct Case {
    int k;
    bool selected;
    int x, y;
  } cases[] = {{0, false, 102, 52}, {0, true, 103, 53},   {1, false, 102, 65}, {2, false, 102, 156},
               {2, true, 103, 154}, {3, false, 208, 156}, {4, true, 206, 53},  {5, false, 104, 52}};
  for (const Case& c : cases) {
    int x, y;
    SDL_Rect clip;
    ASSERT_TRUE(osd_line_position(c.k, cell, 50, 12, c.selected, &x, &y, &clip)) << c.k;
    EXPECT_EQ(x, c.x) << c.k;
    EXPECT_EQ(y, c.y) << c.k;
    EXPECT_GE(clip.x, cell.x);
    EXPECT_LE(clip.x + clip.w, cell.x + cell.w);
    EXPECT_LE(clip.y + clip.h, cell.y + cell.h);
  }
  // A name wider than the tile is cut at the tile's right edge.
  int x, y;
  SDL_Rect clip;
  ASSERT_TRUE(osd_line_position(0, cell, 400, 12, false, &x, &y, &clip));
  EXPECT_EQ(clip.x + clip.w, cell.x + cell.w);
}

TEST_F(Osd, missing_font_leaves_channels_without_text) {
  add_channels(1);
  testing::internal::CaptureStdout();
  load_osd_fonts(&ctx->receivers[0], "/nonexistent/");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Couldn't load 12 pt font from ARIALUNI.ttf"), std::string::npos);
  EXPECT_FALSE(osd_font_open());
  EXPECT_EQ(ctx->receivers[0].channels[0].osd_lines, nullptr);
  ctx->receivers[0].osd_mask = 0x3F;
  EXPECT_EQ(render_osd_text(&ctx->receivers[0], 0), 0);
  EXPECT_EQ(render_osd_text(&ctx->receivers[0], 9), -1);
}

TEST_F(Osd, one_font_outlives_a_freed_receiver) {
  add_channels(40);  // two receivers
  load_osd_fonts(&ctx->receivers[0], run_dir().c_str());
  if (!osd_font_open()) GTEST_FAIL() << "no ARIALUNI.ttf in the run tree";
  load_osd_fonts(&ctx->receivers[1], run_dir().c_str());
  for (CHANNEL_INFO& ch : ctx->receivers[0].channels) free_channel_osd(&ch);
  EXPECT_TRUE(osd_font_open());
  make_video_surface();
  ASSERT_EQ(set_layout(ctx, 12), 0);
  RECEIVER_INFO& rx = ctx->receivers[1];
  rx.osd_mask = 0x01;
  snprintf(rx.channels[0].camera_name, sizeof rx.channels[0].camera_name, "A long camera name W");
  ASSERT_EQ(render_osd_text(&rx, 32), 0);
  ASSERT_NE(rx.channels[0].osd_lines[0].picture, nullptr);
  SDL_FillRect(ctx->surfaces[SURF_VIDEO], nullptr, 0);
  ASSERT_EQ(update_channel_cell(&rx, 32), 0);
  // Yellow text inside cell 32 (x 320..373 of the 12 x 12 grid), nothing in the next cell.
  const RECT16 cell = ctx->layouts[12].cells[32 % 144];
  SDL_Surface* v = ctx->surfaces[SURF_VIDEO];
  int yellow_in = 0, outside = 0;
  for (int y = cell.y; y < cell.y + cell.h; ++y) {
    for (int x = cell.x; x < cell.x + cell.w; ++x) {
      const Uint32 c = rgb_at(v, x, y);  // anti-aliased: any clearly yellow shade
      yellow_in += (c >> 16) > 0x80 && ((c >> 8) & 0xFF) > 0x80 && (c & 0xFF) < 0x40;
    }
    for (int x = cell.x + cell.w; x < cell.x + 2 * cell.w; ++x) outside += rgb_at(v, x, y) != 0;
  }
  EXPECT_GT(yellow_in, 10);
  EXPECT_EQ(outside, 0);
  for (CHANNEL_INFO& ch : rx.channels) free_channel_osd(&ch);
  EXPECT_FALSE(osd_font_open());
}

TEST_F(Osd, reconnected_receiver_gets_its_tables_back) {
  add_channels(1);
  load_osd_fonts(&ctx->receivers[0], run_dir().c_str());
  if (!osd_font_open()) GTEST_FAIL() << "no ARIALUNI.ttf in the run tree";
  OSD_LINE* first = ctx->receivers[0].channels[0].osd_lines;
  // The connection code re-initialises receivers in place.
  free_receiver(&ctx->receivers[0]);
  init_receiver(&ctx->receivers[0]);
  EXPECT_EQ(ctx->receivers[0].channels[0].osd_lines, nullptr);
  load_osd_fonts(&ctx->receivers[0], run_dir().c_str());
  EXPECT_EQ(ctx->receivers[0].channels[0].osd_lines, first);
}

}  // namespace
