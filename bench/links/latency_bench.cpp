// latency_bench: frame-to-screen latency of live 'Q' video. Simulated DVRs on loopback feed the
// client's own pipeline: receive threads, rings, decoder threads, tile drawing, and the 25 ms
// refresh timer (an SDL timer, as the client adds it) writing the screen surface of SDL's
// dummy video driver. Every picture carries its clip index as 8 black or white blocks over
// their complements, drawn before encoding; after each refresh pass the code of every shown
// tile is read back from the screen surface and matched with the moment the DVR sent that
// frame. Prints, per case, the latency from send to the refresh that first shows the frame
// (median, p99, max), frames shown and frames shown out of order, beside the floor: a frame
// drawn at once still waits for the next refresh (up to one tick), and a pipeline that holds
// one frame back adds one frame interval.
//   latency_bench [--seconds N] [--cases all|1x4|16x16] [--log PATH] [run dir with the fonts]
// Only the figures reach standard output; what the client prints meanwhile goes to --log,
// latency_bench.log by default (bench/figures_only.h).
#include <SDL/SDL.h>
#include <SDL/SDL_ttf.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/figures_only.h"
#include "bench/links/links_harness.h"
#include "client/foundation/app_state.h"
#include "client/foundation/channel_table.h"
#include "client/foundation/config/app_options.h"
#include "client/links/connection.h"
#include "client/links/decoder_thread.h"
#include "client/links/nc_receiver.h"
#include "client/screens/layouts.h"
#include "client/screens/osd.h"
#include "client/screens/tiles.h"
#include "peers/media/media_gen.h"
#include "peers/qdvr/qdvr_peer.h"

namespace {

constexpr int kFps = 30;
constexpr int kClip = 256;  // clip frames; the code names one, so 8.5 s of frames are told apart
constexpr int kBits = 8;
constexpr double kTickMs = 25, kFrameMs = 1000.0 / kFps;

int64_t now_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Where the code lies in the channel's picture surface (after a tall 'Q' picture was folded
// into its top half), and which part of the surface a tile shows: the tile code's cut.
struct Geometry {
  int w, h;            // encoded picture
  int sx, sy, sw, sh;  // the surface rectangle a tile stretches over its cell
  int top;             // first row of the code (the complement row follows)
  int rows;            // rows of one block
  bool folded;
};

Geometry geometry(int w, int h) {
  Geometry g{};
  g.w = w;
  g.h = h;
  g.folded = h > 288;
  g.sx = w == 720 ? 12 : 4;
  g.sw = w == 720 ? w - 16 : w - 6;
  g.sy = g.folded ? 16 : 8;
  g.sh = g.folded ? (h - 32) / 2 : h - 16;
  g.rows = 48;
  g.top = g.sy + (g.sh - 2 * g.rows) / 2;
  return g;
}

// Block j of the code row (`complement` the second row), in surface coordinates.
void block_rect(const Geometry& g, int j, bool complement, int* x0, int* x1, int* y0) {
  *x0 = g.sx + j * g.sw / kBits;
  *x1 = g.sx + (j + 1) * g.sw / kBits;
  *y0 = g.top + (complement ? g.rows : 0);
}

// The clip of one picture size: frame i shows code i.
struct Clip {
  std::shared_ptr<std::vector<std::vector<uint8_t>>> units;
  std::shared_ptr<std::vector<bool>> keys;
};

Clip encode_clip(const Geometry& g) {
  Clip c{std::make_shared<std::vector<std::vector<uint8_t>>>(),
         std::make_shared<std::vector<bool>>()};
  media_gen::H264Encoder enc(g.w, g.h, kFps, 25);
  for (int i = 0; i < kClip; ++i) {
    media_gen::Yuv420 pic = media_gen::synth_picture(g.w, g.h, 0, i);
    auto paint = [&](int x0, int x1, int y0, uint8_t luma) {
      // A folded picture shows the mean of row r and row r + h/2: both carry the block.
      for (int half = 0; half < (g.folded ? 2 : 1); ++half)
        for (int y = y0; y < y0 + g.rows; ++y) {
          const int row = y + half * g.h / 2;
          std::memset(&pic.y[size_t(row) * size_t(g.w) + size_t(x0)], luma, size_t(x1 - x0));
          if (row % 2 == 0)
            for (int x = x0 / 2; x < x1 / 2; ++x) {
              pic.u[size_t(row / 2) * size_t(g.w / 2) + size_t(x)] = 128;
              pic.v[size_t(row / 2) * size_t(g.w / 2) + size_t(x)] = 128;
            }
        }
    };
    for (int j = 0; j < kBits; ++j) {
      const bool bit = (i >> j) & 1;
      int x0, x1, y0;
      block_rect(g, j, false, &x0, &x1, &y0);
      paint(x0, x1, y0, bit ? 235 : 16);
      block_rect(g, j, true, &x0, &x1, &y0);
      paint(x0, x1, y0, bit ? 16 : 235);
    }
    std::vector<uint8_t> au;
    bool key = false;
    if (!enc.ok() || enc.encode(pic, au, key) != 0) {
      std::fprintf(stderr, "latency_bench: the H.264 encoder failed\n");
      std::exit(1);
    }
    c.units->push_back(std::move(au));
    c.keys->push_back(key);
  }
  return c;
}

// When each DVR sent each clip frame of each channel (the latest round of that frame).
struct SendLog {
  std::atomic<int64_t> at[kClip];
  std::atomic<long> frame[kClip];
  std::atomic<long> sent{0};
};

struct Case {
  const char* name;
  int dvrs, channels, layout, width, height;
};

// What the refresh timer's thread sees after every pass.
struct Sampler {
  APP_CONTEXT* ctx = nullptr;
  Geometry g{};
  int dvrs = 0, channels = 0;
  std::vector<SendLog>* logs = nullptr;
  std::atomic<bool> measuring{false};
  // Frames sent before the window opened are passed over, so frames shown never exceed
  // frames sent in it (the pipeline's backlog at the start is not counted twice).
  std::atomic<int64_t> window_start{0};
  // Timer thread only, read by the main thread after the timer is gone.
  std::vector<int> last_code;
  std::vector<long> last_frame;
  std::vector<double> latency_ms;
  std::vector<int64_t> ticks;
  long out_of_order = 0, shown = 0;

  SendLog& log(int d, int k) { return (*logs)[size_t(d * channels + k)]; }

  // The code on screen in the cell of (d, k), or -1 when the tile shows no coded picture.
  int read_code(SDL_Surface* screen, const RECT16& cell) const {
    if (cell.w == 0 || cell.h == 0) return -1;
    const SDL_Rect area{ctx->video_rect.x, ctx->video_rect.y, ctx->video_rect.w, ctx->video_rect.h};
    auto bright = [&](int px, int py) {
      const int x = area.x + cell.x + (px - g.sx) * cell.w / g.sw;
      const int y = area.y + cell.y + (py - g.sy) * cell.h / g.sh;
      if (x < 0 || y < 0 || x >= screen->w || y >= screen->h) return -1;
      const uint32_t v = *reinterpret_cast<const uint32_t*>(
          static_cast<const uint8_t*>(screen->pixels) + size_t(y) * screen->pitch + size_t(x) * 4);
      uint8_t r, gg, b;
      SDL_GetRGB(v, screen->format, &r, &gg, &b);
      return gg > 128 ? 1 : 0;
    };
    int code = 0;
    for (int j = 0; j < kBits; ++j) {
      int x0, x1, y0;
      block_rect(g, j, false, &x0, &x1, &y0);
      const int bit = bright((x0 + x1) / 2, y0 + g.rows / 2);
      block_rect(g, j, true, &x0, &x1, &y0);
      const int inverse = bright((x0 + x1) / 2, y0 + g.rows / 2);
      if (bit < 0 || inverse < 0 || bit == inverse) return -1;
      code |= bit << j;
    }
    return code;
  }

  void sample() {
    const int64_t t = now_ns();
    SDL_Surface* screen = ctx->surfaces[SURF_SCREEN];
    if (!screen || !measuring.load()) return;
    ticks.push_back(t);
    for (int d = 0; d < dvrs; ++d) {
      RECEIVER_INFO& rx = ctx->receivers[d];
      for (int k = 0; k < channels; ++k) {
        const CHANNEL_INFO& ch = rx.channels[k];
        if (!is_channel_shown(ctx, ch.id)) continue;
        const size_t i = size_t(d * channels + k);
        const int code = read_code(screen, ch.rect);
        if (code < 0 || code == last_code[i]) continue;
        last_code[i] = code;
        SendLog& l = log(d, k);
        const long frame = l.frame[code].load();
        if (frame < 0) continue;
        if (frame < last_frame[i]) ++out_of_order;
        last_frame[i] = frame;
        const int64_t at = l.at[code].load();
        if (at < window_start.load()) continue;
        ++shown;
        latency_ms.push_back(double(t - at) / 1e6);
      }
    }
  }
};

Sampler sampler;

Uint32 refresh_and_sample(Uint32 interval, void* param) {
  const Uint32 next = refresh_timer(interval, param);
  sampler.sample();
  return next;
}

struct Result {
  double p50, p99, max, tick_ms;
  long shown, sent, out_of_order;
};

double percentile(std::vector<double>& v, double p) {
  if (v.empty()) return 0;
  const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
  std::nth_element(v.begin(), v.begin() + long(i), v.end());
  return v[i];
}

Result run_case(const Case& c, const Clip& clip, const std::string& run_dir, double seconds) {
  APP_CONTEXT* ctx = &app_context;
  std::vector<SendLog> logs(size_t(c.dvrs * c.channels));
  for (SendLog& l : logs)
    for (int i = 0; i < kClip; ++i) {
      l.at[i] = 0;
      l.frame[i] = -1;
    }
  std::vector<std::unique_ptr<qdvr::QdvrPeer>> peers;
  for (int d = 0; d < c.dvrs; ++d) {
    qdvr::PeerConfig pc;
    pc.channels = c.channels;
    pc.width = c.width;
    pc.height = c.height;
    pc.fps = kFps;
    pc.audio = false;
    pc.shared_clip = clip.units;
    pc.shared_keys = clip.keys;
    pc.on_frame = [&logs, d, &c](int ch, long frame_no) {
      SendLog& l = logs[size_t(d * c.channels + ch)];
      const int code = int(frame_no % kClip);
      l.at[code].store(now_ns());
      l.frame[code].store(frame_no);
      l.sent.fetch_add(1);
    };
    peers.push_back(std::make_unique<qdvr::QdvrPeer>(pc));
    if (!peers.back()->start()) {
      std::fprintf(stderr, "latency_bench: a simulated DVR could not listen\n");
      std::exit(1);
    }
  }

  // The connection, as connect_dvr builds it for a DVR or a group: rings, decoders, receivers.
  links_bench::alloc_rings(ctx, c.dvrs == 1 ? 8 : c.dvrs);
  ctx->num_receivers = c.dvrs;
  reset_channel_id_seq();
  reset_slot_seq();
  for (int d = 0; d < c.dvrs; ++d) {
    RECEIVER_INFO* rx = &ctx->receivers[d];
    init_receiver(rx);
    rx->protocol = 'Q';
    rx->index = d;
    rx->rx_flags = c.dvrs == 1 ? 1 : 3;
    std::snprintf(rx->name, sizeof rx->name, "DVR-%d", d + 1);
    std::snprintf(rx->address, sizeof rx->address, "127.0.0.1");
    rx->live_port = peers[size_t(d)]->port();
    rx->num_video = uint32_t(c.channels);
    const uint32_t mask = c.channels >= 32 ? 0xFFFFFFFFu : ((1u << c.channels) - 1);
    rx->channel_mask = mask;
    rx->sel_vid_ch.store(mask);
    rx->op_mode = 1;
    rx->sock_timeout = 10;
    rx->context = ctx;
    rx->osd_mask = 0x0F;
    for (int k = 0; k < c.channels; ++k)
      snprintf(rx->channels[k].camera_name, sizeof rx->channels[k].camera_name, "CAM%02d", k + 1);
    assign_channel_ids(rx);
    assign_slot_indexes(rx);
    load_osd_fonts(rx, run_dir.c_str());
  }
  ctx->num_channels = count_enabled_channels(ctx);
  set_layout(ctx, c.layout);
  update_shown_masks(ctx);
  redraw_all_channels(ctx);

  sampler.ctx = ctx;
  sampler.g = geometry(c.width, c.height);
  sampler.dvrs = c.dvrs;
  sampler.channels = c.channels;
  sampler.logs = &logs;
  sampler.last_code.assign(logs.size(), -1);
  sampler.last_frame.assign(logs.size(), -1);
  sampler.latency_ms.clear();
  sampler.ticks.clear();
  sampler.out_of_order = sampler.shown = 0;

  APP_OPTIONS opts{};
  opts.context = ctx;
  start_decoders(&opts);
  receivers_stop.store(0);
  for (int d = 0; d < c.dvrs; ++d) {
    RECEIVER_INFO* rx = &ctx->receivers[d];
    rx->thread = std::thread([rx] { recv_nc_data(rx); });
  }
  SDL_TimerID timer = SDL_AddTimer(25, refresh_and_sample, ctx);

  // Links log in, streams start at their first key frame, decoders are made and the start's
  // backlog is shown: then measure the steady state.
  std::this_thread::sleep_for(std::chrono::milliseconds(4000));
  std::vector<long> sent0;
  for (SendLog& l : logs) sent0.push_back(l.sent.load());
  sampler.window_start.store(now_ns());
  sampler.measuring.store(true);
  std::this_thread::sleep_for(std::chrono::milliseconds(int(seconds * 1000)));
  sampler.measuring.store(false);
  long sent = 0;
  for (size_t i = 0; i < logs.size(); ++i)
    if (is_channel_shown(
            ctx, ctx->receivers[i / size_t(c.channels)].channels[i % size_t(c.channels)].id))
      sent += logs[i].sent.load() - sent0[i];

  SDL_RemoveTimer(timer);
  stop_decoders(&opts);
  links_bench::stop_bench_receivers(ctx);
  for (auto& p : peers) p->stop();
  for (int d = 0; d < c.dvrs; ++d) {
    free_receiver(&ctx->receivers[d]);
    init_receiver(&ctx->receivers[d]);
  }
  ctx->num_receivers = 0;
  ctx->num_channels = 0;
  links_bench::free_rings(ctx);
  ctx->num_slots = 0;
  reset_all_decoders();
  receivers_stop.store(0);

  Result r{};
  r.p50 = percentile(sampler.latency_ms, 0.5);
  r.p99 = percentile(sampler.latency_ms, 0.99);
  r.max = sampler.latency_ms.empty()
              ? 0
              : *std::max_element(sampler.latency_ms.begin(), sampler.latency_ms.end());
  r.tick_ms = sampler.ticks.size() > 1 ? double(sampler.ticks.back() - sampler.ticks.front()) /
                                             1e6 / double(sampler.ticks.size() - 1)
                                       : 0;
  r.shown = sampler.shown;
  r.sent = sent;
  r.out_of_order = sampler.out_of_order;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  bench::figures_only(bench::log_path("latency_bench", argc, argv));
  double seconds = 5;
  std::string cases = "all";
  const char* env = getenv("VIGILO_RUN_DIR");
  std::string run_dir = env ? env : ".";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--seconds" && i + 1 < argc)
      seconds = std::atof(argv[++i]);
    else if (a == "--cases" && i + 1 < argc)
      cases = argv[++i];
    else if (a == "--log" && i + 1 < argc)
      ++i;
    else
      run_dir = a;
  }
  if (!run_dir.empty() && run_dir.back() != '/') run_dir += '/';
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER) != 0) {
    std::fprintf(stderr, "latency_bench: SDL_Init: %s\n", SDL_GetError());
    return 1;
  }
  TTF_Init();
  init_video_decoders();
  APP_CONTEXT* ctx = &app_context;
  init_app_context(ctx);
  clear_layout_table(ctx->layouts);
  ctx->skin = 0;
  ctx->skin_window = 2;
  ctx->win_w = 1280;
  ctx->win_h = 1024;
  ctx->video_rect = {8, 40, 960, 720};  // the main window's video area at 1280 x 1024
  if (create_video_mode(ctx) != 0) return 1;
  build_grid_layouts(ctx);

  const Case all[] = {
      {"1 DVR x 4 ch, D1", 1, 4, 2, 720, 480},
      {"1 DVR x 4 ch, CIF", 1, 4, 2, 352, 288},
      {"16 DVRs x 16 ch, D1", 16, 16, 4, 720, 480},
      {"16 DVRs x 16 ch, CIF", 16, 16, 4, 352, 288},
  };
  bench::figure(
      "latency_bench: live 'Q' H.264 at %d fps, send -> the refresh that shows the frame, "
      "%.0f s a case; 16 x 16 shows the first DVR's 16 channels (4 x 4 grid)\n",
      kFps, seconds);
  bench::figure(
      "floor: the refresh tick %.0f ms (median %.1f, max %.0f), plus %.1f ms for each frame "
      "held back; targets p99 < 40 ms (1 x 4), < 60 ms (16 x 16), none out of order\n",
      kTickMs, kTickMs / 2, kTickMs, kFrameMs);
  bench::figure("%-22s %8s %8s %8s %8s %12s %6s %9s %8s\n", "case", "median", "p99", "max",
                "target", "shown/sent", "order", "tick", "verdict");
  Clip d1, cif;
  for (const Case& c : all) {
    const bool big = c.dvrs > 1;
    if (cases != "all" && cases != (big ? "16x16" : "1x4")) continue;
    Clip& clip = c.width == 720 ? d1 : cif;
    if (!clip.units) clip = encode_clip(geometry(c.width, c.height));
    Result r = run_case(c, clip, run_dir, seconds);
    const double target = big ? 60 : 40;
    char shown[32];
    std::snprintf(shown, sizeof shown, "%ld/%ld", r.shown, r.sent);
    bench::figure("%-22s %5.1f ms %5.1f ms %5.1f ms %5.0f ms %12s %6ld %6.1f ms %8s\n", c.name,
                  r.p50, r.p99, r.max, target, shown, r.out_of_order, r.tick_ms,
                  r.shown > 0 && r.p99 < target && r.out_of_order == 0 ? "met" : "MISSED");
    std::fflush(bench::figures());
  }
  free_video_decoders();
  TTF_Quit();
  SDL_Quit();
  return 0;
}
