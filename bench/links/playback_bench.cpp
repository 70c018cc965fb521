// playback_bench: a ".zol" and a ".dat" recording of D1 H.264 (one channel, camera-like
// noise) played through the file player, the receive ring and a decoder thread as fast as they
// go (the players' and the decoders' pacing switched off), beside the live decode path on the
// same frames: records already in the ring taken by the decoder thread's passes on one core, as
// decoder_bench times it. Frames decoded per second; the paths take turns for five rounds and the
// fastest round of each counts.
//   playback_bench [frames, default 500] [--dir DIR]
#include <pthread.h>
#include <time.h>

#include <SDL/SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/foundation/app_state.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/sock_io.h"
#include "client/foundation/stats.h"
#include "client/links/dat_file.h"
#include "client/links/decoder_thread.h"
#include "client/links/file_player.h"
#include "client/links/frame_headers.h"
#include "client/links/recording.h"
#include "client/links/video_decoders.h"
#include "peers/media/media_gen.h"
#include "peers/qdvr/qdvr_peer.h"
#include "platform/sync/test_clock.h"

namespace {

constexpr int kW = 720, kH = 576, kFps = 25, kRounds = 5;

double thread_cpu_s() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}
double wall_s() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
uint32_t no_clock() { return 1000; }
void no_sleep(uint32_t) {}
uint32_t stats_clock() { return 5; }

struct Clip {
  std::vector<std::vector<uint8_t>> units;
  std::vector<bool> keys;
};

Clip encode(int frames) {
  Clip c;
  media_gen::H264Encoder enc(kW, kH, kFps, kFps);
  for (int i = 0; i < frames; ++i) {
    media_gen::Yuv420 p = media_gen::synth_picture(kW, kH, 1, i);
    media_gen::add_sensor_noise(p, 6, uint32_t(i));
    std::vector<uint8_t> au;
    bool key = false;
    if (enc.encode(p, au, key) != 0) {
      std::fprintf(stderr, "encoder failed\n");
      std::exit(1);
    }
    c.units.push_back(std::move(au));
    c.keys.push_back(key);
  }
  return c;
}

uint32_t sec_of(int i) { return 1000 + uint32_t(i / kFps); }
uint16_t msec_of(int i) { return uint16_t(i % kFps * (1000 / kFps)); }

// 'Q' video record body: FRAME_HEADER and the access unit.
std::vector<uint8_t> record_body(const Clip& c, int i) {
  FRAME_HEADER fh;
  fh.size = uint32_t(c.units[size_t(i)].size());
  fh.frame_type = c.keys[size_t(i)] ? 1 : 0;
  fh.width = kW;
  fh.height = kH;
  fh.sec = sec_of(i);
  fh.msec = msec_of(i);
  std::vector<uint8_t> b(FRAME_HEADER_SIZE + fh.size);
  encode_frame_header(fh, b.data());
  std::memcpy(b.data() + FRAME_HEADER_SIZE, c.units[size_t(i)].data(), fh.size);
  return b;
}

std::vector<uint8_t> zol_bytes(const Clip& c) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < c.units.size(); ++i) {
    auto body = record_body(c, int(i));
    uint8_t rh[FRAME_RECORD_HEADER_SIZE];
    FRAME_RECORD_HEADER h;
    h.protocol = 'Q';
    h.media = 'Y';
    h.size = uint32_t(body.size());
    encode_frame_record_header(h, rh);
    out.insert(out.end(), rh, rh + sizeof rh);
    out.insert(out.end(), body.begin(), body.end());
  }
  return out;
}

std::vector<uint8_t> dat_bytes(const Clip& c) {
  std::vector<uint8_t> out = {0x00, 0x22, 0x03, 0x03, 0, 0, 0, 0};
  for (size_t i = 0; i < c.units.size(); ++i) {
    auto fsh = qdvr::build_fsh(3, 0, kW, kH, uint32_t(c.units[i].size()), c.keys[i], sec_of(int(i)),
                               msec_of(int(i)), int(i % 64), false, 0);
    out.insert(out.end(), fsh.begin(), fsh.end());
    out.insert(out.end(), c.units[i].begin(), c.units[i].end());
  }
  return out;
}

std::atomic<long> shown{0};
int count_picture(APP_CONTEXT*, RECEIVER_INFO*, CHANNEL_INFO*) {
  shown.fetch_add(1);
  return 0;
}

// A context with one 4 MiB ring and one receiver whose channel 0 is shown.
struct Context {
  std::unique_ptr<APP_CONTEXT> ctx{new APP_CONTEXT()};
  RECEIVER_INFO* rx;
  Context() {
    init_app_context(ctx.get());
    ctx->ring_size = DEFAULT_RING_SIZE;
    ctx->num_slots = 1;
    ctx->slots[0].ring = static_cast<uint8_t*>(std::calloc(1, DEFAULT_RING_SIZE + 1024));
    ctx->slots[0].mutex = SDL_CreateMutex();
    ctx->num_receivers = 1;
    rx = &ctx->receivers[0];
    init_receiver(rx);
    rx->protocol = 'Q';
    rx->num_video = 32;
    for (int k = 0; k < 32; ++k) rx->channels[k].id = rx->channels[k].slot = k;
    rx->context = ctx.get();
    ctx->layout = 1;
    ctx->layouts[1].num_cells = 16;
    ctx->buf_level = 0;
    ctx->decoder_state = DECODER_RUNNING;
    reset_all_decoders();
    reset_decoder_slots();
  }
  ~Context() {
    std::free(ctx->slots[0].ring);
    ctx->slots[0].ring = nullptr;
    free_app_context(ctx.get());
  }
};

// Records written into the ring a batch at a time, each batch drained by decoder passes on
// this thread: frames per CPU second of the decoding (one round).
double live_path(const Clip& c) {
  Context k;
  DECODER_STATE st;
  decoder_begin(k.ctx.get(), &st);
  DISPLAY_SLOT& slot = k.ctx->slots[0];
  shown = 0;
  double cpu = 0;
  for (size_t i = 0; i < c.units.size();) {
    for (size_t n = 0; n < 16 && i < c.units.size(); ++n, ++i) {
      auto body = record_body(c, int(i));
      const uint32_t len = uint32_t(FRAME_RECORD_HEADER_SIZE + body.size());
      if (slot.write_pos + len >= k.ctx->ring_size) {
        std::memset(slot.ring + slot.write_pos, 0, k.ctx->ring_size - slot.write_pos);
        slot.write_pos = 0;
      }
      FRAME_RECORD_HEADER rh;
      rh.protocol = 'Q';
      rh.media = 'Y';
      rh.size = uint32_t(body.size());
      encode_frame_record_header(rh, slot.ring + slot.write_pos);
      std::memcpy(slot.ring + slot.write_pos + FRAME_RECORD_HEADER_SIZE, body.data(), body.size());
      slot.write_pos += len;
    }
    const double t0 = thread_cpu_s();
    while (slot.read_pos != slot.write_pos) decoder_pass(&st);
    cpu += thread_cpu_s() - t0;
  }
  decoder_end(&st);
  return cpu > 0 ? double(shown.load()) / cpu : 0;
}

struct PlayResult {
  double fps = 0;        // pictures shown per second of wall time
  double cpu_fps = 0;    // pictures shown per CPU second of the decoder thread
  double player_us = 0;  // player thread CPU per frame
};

double cpu_of(std::thread& t) {
  clockid_t id;
  timespec ts{};
  if (pthread_getcpuclockid(t.native_handle(), &id) != 0 || clock_gettime(id, &ts) != 0) return 0;
  return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

// The player thread feeds the ring while the decoder thread decodes: wall time from the
// player's start until every picture was shown (one round).
PlayResult play(const std::filesystem::path& file, int (*player)(RECEIVER_INFO*), long frames) {
  Context k;
  std::snprintf(k.rx->file_name, sizeof k.rx->file_name, "%s", file.c_str());
  k.rx->file = std::fopen(file.c_str(), "rb");
  shown = 0;
  receivers_stop.store(0);
  std::thread decoder([&] { decoder_thread(k.ctx.get()); });
  const double t0 = wall_s();
  double player_cpu = 0;
  std::thread feeder([&] {
    const double c0 = thread_cpu_s();
    player(k.rx);
    player_cpu = thread_cpu_s() - c0;
  });
  while (shown.load() < frames && wall_s() - t0 < 120)
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  const double wall = wall_s() - t0;
  const double decoder_cpu = cpu_of(decoder);
  const long done = shown.load();
  k.rx->status.store(RX_STOP);
  feeder.join();
  k.ctx->decoder_state = DECODER_STOPPED;
  decoder.join();
  if (done < frames) std::printf("  (only %ld of %ld pictures shown)\n", done, frames);
  PlayResult r;
  r.fps = double(done) / wall;
  r.cpu_fps = decoder_cpu > 0 ? double(done) / decoder_cpu : 0;
  r.player_us = player_cpu * 1e6 / double(frames);
  return r;
}

void keep_best(PlayResult& best, const PlayResult& r) {
  best.fps = std::max(best.fps, r.fps);
  best.cpu_fps = std::max(best.cpu_fps, r.cpu_fps);
  best.player_us = best.player_us == 0 ? r.player_us : std::min(best.player_us, r.player_us);
}

}  // namespace

int main(int argc, char** argv) {
  int frames = 500;
  std::string dir = "/tmp";
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--dir" && i + 1 < argc)
      dir = argv[++i];
    else
      frames = std::max(kFps, std::atoi(argv[i]));
  }
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  SDL_Init(0);
  set_test_clock(TEST_CLOCK_STATS, stats_clock);
  set_test_clock(TEST_CLOCK_DECODERS, no_clock, no_sleep);
  set_player_pacing(false);
  DECODER_HOOKS hooks{};
  hooks.draw_channel = count_picture;
  set_decoder_hooks(hooks);
  init_video_decoders();

  const Clip clip = encode(frames);
  size_t bytes = 0;
  for (auto& u : clip.units) bytes += u.size();
  char tmpl[] = "playback-bench-XXXXXX";
  std::string work = (std::filesystem::path(dir) / tmpl).string();
  if (!mkdtemp(work.data())) {
    std::perror(work.c_str());
    return 1;
  }
  const std::filesystem::path zol = std::filesystem::path(work) / "bench.zol";
  const std::filesystem::path dat = std::filesystem::path(work) / "bench.dat";
  for (auto [path, data] : {std::pair{zol, zol_bytes(clip)}, std::pair{dat, dat_bytes(clip)}})
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));

  // The decoders and players print progress lines of their own; the table comes last.
  // The three paths take turns round by round, so the machine's other load falls on each alike;
  // the fastest round of each counts. A first round creates the decoder.
  live_path(clip);
  double live = 0;
  PlayResult z, d;
  for (int round = 0; round < kRounds; ++round) {
    live = std::max(live, live_path(clip));
    keep_best(z, play(zol, play_record_file, frames));
    keep_best(d, play(dat, play_dat_file, frames));
  }
  std::filesystem::remove_all(work);
  free_video_decoders();

  std::printf(
      "\n\nplayback_bench: one channel of D1 %dx%d H.264, %d frames, mean %zu bytes/frame, pacing "
      "off\n",
      kW, kH, frames, bytes / size_t(frames));
  std::printf("%-44s %10s %8s %12s %8s %14s\n", "path", "frames/s", "of live", "per decoder",
              "of live", "player us/fr");
  std::printf("%-44s %10s %8s %12.1f %7.1f%% %14s\n",
              "live: ring records -> decoder passes (1 core)", "-", "-", live, 100.0, "-");
  for (auto [name, r] : {std::pair{".zol: player -> ring -> decoder thread", z},
                         std::pair{".dat: player -> ring -> decoder thread", d}})
    std::printf("%-44s %10.1f %7.1f%% %12.1f %7.1f%% %14.1f\n", name, r.fps,
                live > 0 ? 100 * r.fps / live : 0, r.cpu_fps, live > 0 ? 100 * r.cpu_fps / live : 0,
                r.player_us);
  std::printf(
      "frames/s: wall time from the player's start to the last picture (player and decoder run at\n"
      "once); per decoder: pictures per CPU second of the decoder thread, as the live path "
      "counts.\n"
      "target: at least 90%% of the live path\n");
  SDL_Quit();
  return 0;
}
