// The records start-up sets up and shutdown tears down: defaults after reuse, receivers and
// channels released whole, buffers large enough for what is put in them.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <SDL/SDL.h>
#include <gtest/gtest.h>

#include "client/foundation/app_state.h"
#include "client/foundation/config/app_options.h"
#include "client/screens/startup.h"

namespace {

TEST(AppOptions, InitRestoresEveryDefaultAfterUse) {
  auto opts = std::make_unique<APP_OPTIONS>();
  memset(static_cast<void*>(opts.get()), 0x5A, sizeof(APP_OPTIONS));  // a record left dirty
  init_app_options(opts.get());
  EXPECT_EQ(opts->master, 1u);
  EXPECT_EQ(opts->conn_state.load(), CONN_DISCONNECTED);
  EXPECT_STREQ(opts->config_file, "setup.cfg");
  EXPECT_STREQ(opts->skin_file, "skin.cfg");
  EXPECT_STREQ(opts->user_id, "");
  EXPECT_STREQ(opts->password, "");
  EXPECT_STREQ(opts->auto_start, "");
  EXPECT_EQ(opts->logged_in, 0);
  EXPECT_EQ(opts->win_left, -1);
  EXPECT_EQ(opts->context, nullptr);
  for (int i = 0; i < NUM_PEER_ENDPOINTS; ++i) {
    EXPECT_STREQ(opts->peers[i].address, "127.0.0.1");
    EXPECT_EQ(opts->peers[i].socket, -1);  // 0 would be standard input
  }
}

TEST(AppOptions, ExtensionWindowTakesTheMasterAddressOnlyWhenGiven) {
  struct Case {
    int mode;
    const char* i;
    const char* peer0;
  } cases[] = {
      {MODE_EXTENSION, "", "127.0.0.1"},
      {MODE_EXTENSION, "10.0.0.7", "10.0.0.7"},
      {MODE_MAIN, "10.0.0.7", "127.0.0.1"},
  };
  for (const Case& c : cases) {
    auto opts = std::make_unique<APP_OPTIONS>();
    init_app_options(opts.get());
    opts->mode = c.mode;
    snprintf(opts->master_address, sizeof opts->master_address, "%s", c.i);
    take_master_address(opts.get());
    EXPECT_STREQ(opts->peers[0].address, c.peer0) << c.mode << " -i" << c.i;
  }
}

TEST(WindowPosition, StaysOnTheDesktop) {
  struct Case {
    int left, top, w, h, dw, dh, rc, x, y;
  } cases[] = {
      {1248, 960, 352, 240, 1600, 1200, 0, 1248, 960},  // the spot window's bottom-right corner
      {1600, 1200, 640, 480, 1600, 1200, 0, 960, 720},  // asked for at the desktop's full size
      {10, 20, 2000, 1500, 1600, 1200, 0, 0, 0},        // larger than the desktop
      {300, 200, 640, 480, 0, 0, 0, 300, 200},          // desktop size not known
      {-1, 5, 640, 480, 1600, 1200, -1, 0, 0},          // left to the system
      {5, -1, 640, 480, 1600, 1200, -1, 0, 0},
  };
  for (const Case& c : cases) {
    int x = 0, y = 0;
    EXPECT_EQ(clamp_window_position(c.left, c.top, c.w, c.h, c.dw, c.dh, &x, &y), c.rc) << c.left;
    EXPECT_EQ(x, c.x) << c.left;
    EXPECT_EQ(y, c.y) << c.left;
  }
}

TEST(AppOptions, FreeLeavesNoPasswordBehind) {
  auto opts = std::make_unique<APP_OPTIONS>();
  init_app_options(opts.get());
  snprintf(opts->password, sizeof(opts->password), "%s", "secret");
  free_app_options(opts.get());
  for (char c : opts->password) ASSERT_EQ(c, '\0');
}

TEST(PairBuffers, EachBlockHoldsAWholeAudioSpec) {
  // The blocks carry the desired and obtained SDL_AudioSpec; on 64-bit builds that record
  // is larger than the 24 bytes of a 32-bit one. ASan flags a block that is too small.
  PAIR_BUFFERS pair{};
  ASSERT_EQ(alloc_pair_buffers(&pair), 0);
  SDL_AudioSpec spec{};
  spec.freq = 8000;
  memcpy(pair.first, &spec, sizeof(spec));
  memcpy(pair.second, &spec, sizeof(spec));
  free_pair_buffers(&pair);
  EXPECT_EQ(pair.first, nullptr);
  free_pair_buffers(&pair);  // twice is harmless
}

class ReceiverTest : public ::testing::Test {
 protected:
  void SetUp() override { rx = std::make_unique<RECEIVER_INFO>(); }
  void TearDown() override { free_receiver(rx.get()); }
  std::unique_ptr<RECEIVER_INFO> rx;
};

TEST_F(ReceiverTest, FreeReleasesFilesSurfacesAndIndexesOfEveryChannel) {
  ASSERT_EQ(init_receiver(rx.get()), 0);
  ASSERT_NE(rx->channels[31].mutex, nullptr);
  rx->file = tmpfile();
  for (int k : {0, 17, 31}) {
    CHANNEL_INFO& ch = rx->channels[k];
    ch.record_file = tmpfile();
    ch.record_index = malloc(64);
    ch.surface = SDL_CreateRGBSurface(SDL_SWSURFACE, 8, 8, 32, 0, 0, 0, 0);
    ch.shown = 1;
    ch.hidden = 0;
  }
  free_receiver(rx.get());  // LeakSanitizer reports whatever is left
  EXPECT_EQ(rx->file, nullptr);
  EXPECT_EQ(rx->mutex, nullptr);
  for (const CHANNEL_INFO& ch : rx->channels) {
    EXPECT_EQ(ch.record_file, nullptr);
    EXPECT_EQ(ch.record_index, nullptr);
    EXPECT_EQ(ch.surface, nullptr);
    EXPECT_EQ(ch.mutex, nullptr);
    EXPECT_EQ(ch.hidden, 1);
    EXPECT_EQ(ch.shown, 0);
  }
  free_receiver(rx.get());  // a freed receiver frees nothing twice
}

class ContextTest : public ::testing::Test {
 protected:
  void SetUp() override { ctx = std::make_unique<APP_CONTEXT>(); }
  void TearDown() override { free_app_context(ctx.get()); }
  std::unique_ptr<APP_CONTEXT> ctx;
};

TEST_F(ContextTest, FreeReleasesReceiversSlotsAndSurfacesAndTrustsNoCount) {
  ASSERT_EQ(init_app_context(ctx.get()), 0);
  for (SDL_mutex* m : {ctx->display_mutex, ctx->popup_mutex, ctx->enlarged_mutex,
                       ctx->selection_mutex, ctx->text_mutex, ctx->record_mutex})
    EXPECT_NE(m, nullptr);
  EXPECT_EQ(ctx->slots[143].ring, nullptr);
  ASSERT_EQ(init_receiver(&ctx->receivers[0]), 0);
  ASSERT_EQ(init_receiver(&ctx->receivers[1]), 0);
  ctx->receivers[1].channels[3].surface = SDL_CreateRGBSurface(SDL_SWSURFACE, 4, 4, 32, 0, 0, 0, 0);
  ctx->num_receivers = 2;
  ctx->slots[0].ring = static_cast<uint8_t*>(malloc(1024));
  ctx->slots[0].mutex = SDL_CreateMutex();
  ctx->surfaces[2] = SDL_CreateRGBSurface(SDL_SWSURFACE, 4, 4, 32, 0, 0, 0, 0);
  free_app_context(ctx.get());
  EXPECT_EQ(ctx->num_receivers, 0);
  EXPECT_EQ(ctx->receivers[1].channels[3].surface, nullptr);
  EXPECT_EQ(ctx->slots[0].ring, nullptr);
  EXPECT_EQ(ctx->display_mutex, nullptr);
  EXPECT_EQ(ctx->surfaces[2], nullptr);

  // A count beyond the table (a record overwritten by a fault) must not walk past it.
  ctx->num_receivers = 100000;
  free_app_context(ctx.get());
  ctx->num_receivers = -5;
  free_app_context(ctx.get());
}

TEST(LayoutTable, ClearNumbersEveryLayoutAndEmptiesItsCells) {
  auto layouts = std::make_unique<DISPLAY_LAYOUT[]>(NUM_LAYOUTS);
  memset(static_cast<void*>(layouts.get()), 0x77, sizeof(DISPLAY_LAYOUT) * NUM_LAYOUTS);
  clear_layout_table(layouts.get());
  for (int i = 0; i < NUM_LAYOUTS; ++i) {
    EXPECT_EQ(layouts[i].id, static_cast<uint32_t>(i));
    EXPECT_EQ(layouts[i].num_cells, 0u);
    EXPECT_EQ(layouts[i].cells[MAX_LAYOUT_CELLS - 1].w, 0);
  }
}

}  // namespace
