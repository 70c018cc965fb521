// Display path cost: drawing one decoded CIF picture into its tile (picture, on-screen text,
// marks) for every live channel, and one refresh-timer pass copying the video area to the
// screen, for the 1, 16, 64 and 144 cell grids. Prints the share of one core the display
// path needs at 25 pictures per channel per second and 40 refresh passes per second, and
// the frame-to-screen latency (draw, then the wait for the next 25 ms tick, then the pass).
//
// Runs without a display: the screen is a window-sized software surface.
#include <SDL/SDL_ttf.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "client/foundation/app_state.h"
#include "client/foundation/channel_table.h"
#include "client/screens/layouts.h"
#include "client/screens/osd.h"
#include "client/screens/tiles.h"
#include "peers/media/media_gen.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

void set_up(APP_CONTEXT* ctx, int channels, const char* run_dir) {
  init_app_context(ctx);
  clear_layout_table(ctx->layouts);
  ctx->skin = 0;
  ctx->win_w = 1280;
  ctx->win_h = 1024;
  ctx->video_rect = {8, 40, 960, 720};  // the main window's video area at 1280 x 1024
  build_grid_layouts(ctx);
  ctx->surfaces[SURF_SCREEN] = create_tile_surface(ctx, ctx->win_w, ctx->win_h);
  ctx->surfaces[SURF_VIDEO] = create_tile_surface(ctx, ctx->video_rect.w, ctx->video_rect.h);
  ctx->surfaces[SURF_WORK] = create_tile_surface(ctx, ctx->win_w, ctx->win_h);
  reset_channel_id_seq();
  std::vector<uint8_t> bgra = media_gen::yuv_to_bgra(media_gen::synth_picture(352, 288, 0, 0));
  int r = 0;
  for (int left = channels; left > 0; ++r) {
    RECEIVER_INFO& rx = ctx->receivers[r];
    init_receiver(&rx);
    rx.context = ctx;
    rx.protocol = 'Q';
    snprintf(rx.name, sizeof rx.name, "DVR-%d", r + 1);
    const int here = std::min(left, 16);
    rx.num_video = uint32_t(here);
    rx.channel_mask = (1u << here) - 1;
    rx.status.store(RX_RECEIVING);
    rx.osd_mask = 0x0F;
    assign_channel_ids(&rx);
    for (int k = 0; k < here; ++k) {
      CHANNEL_INFO& ch = rx.channels[k];
      ch.surface = create_tile_surface(ctx, 352, 288);
      for (int y = 0; y < 288; ++y)
        memcpy(static_cast<uint8_t*>(ch.surface->pixels) + y * ch.surface->pitch,
               bgra.data() + size_t(y) * 352 * 4, 352 * 4);
      ch.pic_rect = {0, 0, 352, 288};
      ch.frame_time = 1.7e9;
      snprintf(ch.camera_name, sizeof ch.camera_name, "CAM%02d", k + 1);
    }
    load_osd_fonts(&rx, run_dir);
    left -= here;
  }
  ctx->num_receivers = r;
  ctx->num_channels = count_enabled_channels(ctx);
  update_shown_masks(ctx);
}

void tear_down(APP_CONTEXT* ctx) {
  for (int r = 0; r < ctx->num_receivers; ++r)
    for (CHANNEL_INFO& ch : ctx->receivers[r].channels) free_channel_osd(&ch);
  SDL_FreeSurface(ctx->surfaces[SURF_SCREEN]);
  ctx->surfaces[SURF_SCREEN] = nullptr;
  free_app_context(ctx);
}

}  // namespace

int main(int argc, char** argv) {
  const char* env = getenv("VIGILO_RUN_DIR");
  std::string run_dir = argc > 1 ? argv[1] : env ? env : ".";
  if (!run_dir.empty() && run_dir.back() != '/') run_dir += '/';
  TTF_Init();
  printf(
      "display path, CIF 352x288 'Q' pictures, video area 960x720, 25 pictures/s per "
      "channel, refresh every 25 ms; budget 25 ms per tick\n");
  printf("%6s %14s %14s %14s %12s %16s\n", "cells", "draw/picture", "draws/tick", "refresh pass",
         "core share", "latency avg/max");
  const int grids[] = {1, 4, 8, 12};
  for (int g : grids) {
    const int cells = g * g;
    APP_CONTEXT* ctx = &app_context;
    set_up(ctx, cells, run_dir.c_str());
    set_layout(ctx, g);
    // Warm up: the text lines render once, then only blit.
    for (int r = 0; r < ctx->num_receivers; ++r)
      for (uint32_t k = 0; k < ctx->receivers[r].num_video; ++k) {
        RECEIVER_INFO& rx = ctx->receivers[r];
        draw_channel(&rx, rx.channels[k].id);
        render_osd_text(&rx, rx.channels[k].id);
      }
    const int rounds = std::max(20, 2000 / cells);
    auto t0 = Clock::now();
    for (int i = 0; i < rounds; ++i)
      for (int r = 0; r < ctx->num_receivers; ++r) {
        RECEIVER_INFO& rx = ctx->receivers[r];
        for (uint32_t k = 0; k < rx.num_video; ++k) {
          const int32_t id = rx.channels[k].id;
          draw_channel(&rx, id);
          render_osd_text(&rx, id);
          update_channel_cell(&rx, id);
        }
      }
    const double draw_ms = ms_since(t0) / (double(rounds) * cells);
    const int passes = 400;
    t0 = Clock::now();
    for (int i = 0; i < passes; ++i) {
      ctx->dirty.store(1);
      refresh_timer(25, ctx);
    }
    const double pass_ms = ms_since(t0) / passes;
    // One second: 25 pictures per channel and 40 passes.
    const double per_second_ms = draw_ms * cells * 25 + pass_ms * 40;
    const double share = per_second_ms / 1000.0;
    // A tick draws cells * 25 / 40 pictures on average.
    const double draws_per_tick_ms = draw_ms * cells * 25.0 / 40.0;
    const double lat_avg = draw_ms + 12.5 + pass_ms, lat_max = draw_ms + 25.0 + pass_ms;
    printf("%6d %11.3f ms %11.2f ms %11.3f ms %11.1f %% %7.1f/%5.1f ms\n", cells, draw_ms,
           draws_per_tick_ms, pass_ms, share * 100.0, lat_avg, lat_max);
    tear_down(ctx);
  }
  TTF_Quit();
  return 0;
}
