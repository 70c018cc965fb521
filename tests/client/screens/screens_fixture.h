// A context with receivers and channels for the screen tests: no display needed, the video
// surface is a plain software surface.
#pragma once

#include <SDL/SDL.h>

#include <gtest/gtest.h>

#include "client/foundation/app_state.h"
#include "client/foundation/channel_table.h"
#include "client/foundation/user_events.h"
#include "client/screens/layouts.h"
#include "client/screens/master_link.h"
#include "client/screens/osd.h"
#include "client/screens/screen_state.h"
#include "client/screens/tiles.h"

class ScreensTest : public ::testing::Test {
 protected:
  APP_CONTEXT* ctx = &app_context;

  void SetUp() override {
    ASSERT_EQ(init_app_context(ctx), 0);
    reset_screen_state(&screen_state);
    clear_layout_table(ctx->layouts);
    ctx->skin = 0;
    set_window_geometry(ctx, 640, 480);
    build_grid_layouts(ctx);
    ctx->layout = 1;
  }

  void TearDown() override {
    for (int r = 0; r < ctx->num_receivers; ++r)
      for (CHANNEL_INFO& ch : ctx->receivers[r].channels) free_channel_osd(&ch);
    free_app_context(ctx);
  }

  // Receivers of up to 32 channels each until `n` channels exist, numbered 0..n-1.
  void add_channels(int n, uint8_t protocol = 'I') {
    reset_channel_id_seq();
    int r = 0;
    while (n > 0) {
      RECEIVER_INFO& rx = ctx->receivers[r];
      init_receiver(&rx);
      rx.context = ctx;
      rx.index = r;
      rx.protocol = protocol;
      snprintf(rx.name, sizeof rx.name, "DVR-%d", r + 1);
      const int here = n > 32 ? 32 : n;
      rx.num_video = static_cast<uint32_t>(here);
      rx.channel_mask = here == 32 ? 0xFFFFFFFFu : ((1u << here) - 1);
      rx.status.store(RX_RECEIVING);
      assign_channel_ids(&rx);
      n -= here;
      ++r;
    }
    ctx->num_receivers = r;
    ctx->num_channels = count_enabled_channels(ctx);
    update_shown_masks(ctx);
  }

  void make_video_surface() {
    ctx->surfaces[SURF_VIDEO] = create_tile_surface(ctx, ctx->video_rect.w, ctx->video_rect.h);
    ASSERT_NE(ctx->surfaces[SURF_VIDEO], nullptr);
  }

  CHANNEL_INFO& channel(int id) {
    RECEIVER_INFO* rx = find_receiver_by_channel(ctx, id);
    EXPECT_NE(rx, nullptr);
    return rx->channels[find_channel(rx, id)];
  }
};

// User event `code` as the window loop receives it.
inline SDL_Event user_event(int code, void* data1, void* data2 = nullptr) {
  SDL_Event ev{};
  ev.type = SDL_USEREVENT;
  ev.user.code = code;
  ev.user.data1 = data1;
  ev.user.data2 = data2;
  return ev;
}
// A link message asking for `layout` at `page`, written into `buf`, as its event.
inline SDL_Event layout_command(int layout, int page, uint8_t (&buf)[COMM_MESSAGE_SIZE]) {
  COMM_FIELDS m{};
  m.command = COMM_SET_LAYOUT;
  m.value[3] = layout;
  m.value[4] = page;
  write_comm_message(m, buf);
  return user_event(UE_LINK_COMMAND, buf);
}

// Pixel of a 32-bit surface as 0xRRGGBB.
inline Uint32 rgb_at(SDL_Surface* s, int x, int y) {
  Uint32 p = static_cast<Uint32*>(s->pixels)[y * (s->pitch / 4) + x];
  Uint8 r, g, b;
  SDL_GetRGB(p, s->format, &r, &g, &b);
  return (Uint32(r) << 16) | (Uint32(g) << 8) | b;
}
