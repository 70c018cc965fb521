// links_bench: frames and bytes per second through 'Q' receivers into their rings over
// loopback, with the receive threads' CPU time, printed beside a raw loopback TCP copy of the
// same packet bytes (the physical limit of this machine). The recording case records every
// channel into files under --rec-dir and prints what recording adds to the receive threads,
// the writer thread's CPU and bytes written, and the records dropped.
// The 'I' and 'S' cases follow (links_is_cases.cpp).
//   links_bench [--seconds N] [--dvrs N] [--channels N] [--rec-dir DIR] [--cases all|q|is]
//               [--log PATH]
// Only the figures reach standard output; what the client prints meanwhile (its statistics
// line, the receive threads' diagnostics) goes to --log, links_bench.log by default
// (bench/figures_only.h).
#include <sys/socket.h>

#include <SDL/SDL.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/figures_only.h"
#include "bench/links/links_harness.h"
#include "client/foundation/app_state.h"
#include "client/foundation/sock_io.h"
#include "client/links/frame_headers.h"
#include "client/links/nc_receiver.h"
#include "client/links/recording.h"
#include "peers/media/media_gen.h"
#include "peers/qdvr/qdvr_peer.h"
#include "platform/net/net.h"

namespace {

using namespace links_bench;

constexpr int kWidth = 720, kHeight = 480, kFps = 30;

struct Clip {
  std::shared_ptr<std::vector<std::vector<uint8_t>>> units;
  std::shared_ptr<std::vector<bool>> keys;
};

Clip encode_clip(int frames) {
  Clip c{std::make_shared<std::vector<std::vector<uint8_t>>>(),
         std::make_shared<std::vector<bool>>()};
  media_gen::H264Encoder enc(kWidth, kHeight, kFps, 25);
  for (int i = 0; i < frames; ++i) {
    std::vector<uint8_t> au;
    bool key = false;
    media_gen::Yuv420 pic = media_gen::synth_picture(kWidth, kHeight, 0, i);
    // Sensor-like noise, so frames have the size of a real camera's and not of a flat test card.
    uint32_t seed = 7u + uint32_t(i) * 7919u;
    for (auto& y : pic.y) {
      seed = seed * 1664525u + 1013904223u;
      int v = int(y) + int((seed >> 24) % 7) - 3;
      y = uint8_t(v < 16 ? 16 : (v > 235 ? 235 : v));
    }
    if (!enc.ok() || enc.encode(pic, au, key) != 0) {
      au.assign(20000, 0x11);
      key = i % 25 == 0;
    }
    c.units->push_back(std::move(au));
    c.keys->push_back(key);
  }
  return c;
}

// One simulated DVR replaying the shared clip; both the raw copy and the client path use it.
std::unique_ptr<qdvr::QdvrPeer> start_peer(int channels, int fps, const Clip& clip) {
  qdvr::PeerConfig pc;
  pc.channels = channels;
  pc.width = kWidth;
  pc.height = kHeight;
  pc.fps = fps;
  pc.shared_clip = clip.units;
  pc.shared_keys = clip.keys;
  auto peer = std::make_unique<qdvr::QdvrPeer>(pc);
  peer->start();
  return peer;
}

// The same DVRs and the same bytes, read raw: the floor of the receive path.
RawResult raw_copy(int dvrs, int channels, int fps, const Clip& clip, double seconds) {
  std::vector<std::unique_ptr<qdvr::QdvrPeer>> peers;
  std::vector<int> fds;
  for (int d = 0; d < dvrs; ++d) {
    peers.push_back(start_peer(channels, fps, clip));
    const int fd = connect_loopback(peers.back()->port());
    std::vector<uint8_t> login(20, 0);
    auto p1 = qdvr::packet(2, 1, login, false);
    std::vector<uint8_t> sel(12, 0);
    uint32_t mask = channels >= 32 ? 0xFFFFFFFFu : ((1u << channels) - 1);
    sel[0] = uint8_t(mask >> 24);
    sel[1] = uint8_t(mask >> 16);
    sel[2] = uint8_t(mask >> 8);
    sel[3] = uint8_t(mask);
    sel[8] = 17;
    sel[9] = uint8_t(channels);
    sel[11] = 1;
    auto p2 = qdvr::packet(3, 1, sel, false);
    ::send(fd, p1.data(), p1.size(), MSG_NOSIGNAL);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::send(fd, p2.data(), p2.size(), MSG_NOSIGNAL);
    fds.push_back(fd);
  }
  const RawResult r = read_raw(fds, NC_RECV_ALLOC, seconds);
  for (auto& p : peers) p->stop();
  return r;
}

// A context with one slot per receiver (8 for a single DVR), drained as decoders would.
struct Rig {
  std::unique_ptr<APP_CONTEXT> ctx = std::make_unique<APP_CONTEXT>();
  std::vector<std::unique_ptr<qdvr::QdvrPeer>> peers;
  std::atomic<bool> stop{false};
  std::thread drain;
  std::vector<std::atomic<long long>> frames, bytes;

  bool record = false;

  Rig(int dvrs, int channels, int fps, const Clip& clip, bool record_all = false)
      : frames(size_t(dvrs)), bytes(size_t(dvrs)), record(record_all) {
    init_app_context(ctx.get());
    alloc_rings(ctx.get(), dvrs == 1 ? 8 : dvrs);
    ctx->num_receivers = dvrs;
    for (int d = 0; d < dvrs; ++d) {
      peers.push_back(start_peer(channels, fps, clip));
      RECEIVER_INFO* rx = &ctx->receivers[d];
      init_receiver(rx);
      rx->protocol = 'Q';
      rx->index = d;
      std::snprintf(rx->name, sizeof rx->name, "DVR-%d", d);
      std::snprintf(rx->address, sizeof rx->address, "127.0.0.1");
      rx->live_port = peers.back()->port();
      rx->num_video = uint32_t(channels);
      uint32_t mask = channels >= 32 ? 0xFFFFFFFFu : ((1u << channels) - 1);
      rx->channel_mask = rx->shown_mask = mask;
      rx->sel_vid_ch.store(mask);
      rx->audio_mask.store(mask);
      for (int k = 0; k < 4 && k < channels; ++k) rx->channels[k].audio_on.store(1);
      rx->op_mode = 1;
      rx->sock_timeout = 10;
      rx->context = ctx.get();
      for (int k = 0; k < channels && k < MAX_CHANNELS; ++k) {
        rx->channels[k].id = d * channels + k;
        rx->channels[k].selected = record ? 1 : 0;
      }
    }
    drain = std::thread([this] {
      while (!stop.load()) {
        for (uint32_t s = 0; s < ctx->num_slots; ++s) take(s);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
      }
    });
  }
  void take(uint32_t slot) {
    drain_slot(ctx.get(), slot, [this](const FRAME_RECORD_HEADER& rh, const uint8_t* body) {
      const int r = body[2];
      if (r < int(frames.size()) && rh.media == 'Y') {
        frames[size_t(r)].fetch_add(1);
        bytes[size_t(r)].fetch_add(rh.size);
      }
      return &ctx->receivers[r < MAX_RECEIVERS ? r : 0];
    });
  }
  void start() {
    if (record) start_recording(ctx.get());
    receivers_stop.store(0);
    for (int d = 0; d < ctx->num_receivers; ++d) {
      RECEIVER_INFO* rx = &ctx->receivers[d];
      rx->thread = std::thread([rx] { recv_nc_data(rx); });
    }
  }
  double cpu() {
    double c = 0;
    for (int d = 0; d < ctx->num_receivers; ++d)
      c += thread_cpu_s(ctx->receivers[d].thread.native_handle());
    return c;
  }
  long long total_frames() {
    long long n = 0;
    for (auto& f : frames) n += f.load();
    return n;
  }
  // Bytes on the wire, as the DVRs sent them (what the raw copy counts too).
  long long total_bytes() {
    long long n = 0;
    for (auto& p : peers) n += p->bytes_sent();
    return n;
  }
  ~Rig() {
    stop_bench_receivers(ctx.get());
    end_recordings(ctx.get());
    stop.store(true);
    drain.join();
    for (auto& p : peers) p->stop();
    free_rings(ctx.get());
    free_app_context(ctx.get());
    receivers_stop.store(0);
  }
};

struct RunResult {
  double fps, mbps, us_per_frame, ns_per_byte;
  long long frames;
  int behind;
  // Recording: the writer's CPU (s per s), MB/s written, records dropped at the queue.
  double writer_load = 0, written_mbps = 0;
  uint64_t dropped = 0;
};

RunResult run(int dvrs, int channels, int fps, const Clip& clip, double seconds,
              bool record = false) {
  Rig rig(dvrs, channels, fps, clip, record);
  rig.start();
  // Measure from the moment frames flow, so connect and login are not counted.
  double wait0 = now_s();
  while (rig.total_frames() < dvrs * channels && now_s() - wait0 < 10)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::vector<long long> f0(static_cast<size_t>(dvrs), 0);
  for (int d = 0; d < dvrs; ++d) f0[size_t(d)] = rig.frames[size_t(d)].load();
  long long fr0 = rig.total_frames(), by0 = rig.total_bytes();
  const RECORD_COUNTERS r0 = get_record_counters();
  double c0 = rig.cpu(), t0 = now_s();
  std::this_thread::sleep_for(std::chrono::milliseconds(int(seconds * 1000)));
  double cpu = rig.cpu() - c0, wall = now_s() - t0;
  const RECORD_COUNTERS r1 = get_record_counters();
  long long fr = rig.total_frames() - fr0, by = rig.total_bytes() - by0;
  int behind = 0;
  if (fps > 0) {
    double want = double(fps) * channels * wall;
    for (int d = 0; d < dvrs; ++d)
      if (double(rig.frames[size_t(d)].load() - f0[size_t(d)]) < 0.95 * want) ++behind;
  }
  RunResult r{double(fr) / wall,
              double(by) / wall / 1e6,
              cpu * 1e6 / double(fr ? fr : 1),
              cpu * 1e9 / double(by ? by : 1),
              fr,
              behind};
  r.writer_load = double(r1.writer_cpu_ns - r0.writer_cpu_ns) / 1e9 / wall;
  r.written_mbps = double(r1.bytes_written - r0.bytes_written) / wall / 1e6;
  r.dropped = r1.dropped - r0.dropped;
  return r;
}

}  // namespace

void run_is_cases(double seconds, int dvrs);

int main(int argc, char** argv) {
  bench::figures_only(bench::log_path("links_bench", argc, argv));
  double seconds = 3;
  int dvrs = 16, channels = 16;
  std::string rec_dir = "/tmp";
  std::string cases = "all";
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--seconds")
      seconds = std::atof(argv[i + 1]);
    else if (a == "--dvrs")
      dvrs = std::atoi(argv[i + 1]);
    else if (a == "--channels")
      channels = std::atoi(argv[i + 1]);
    else if (a == "--rec-dir")
      rec_dir = argv[i + 1];
    else if (a == "--cases")
      cases = argv[i + 1];
  }
  if (cases == "is") {
    SDL_Init(0);
    run_is_cases(seconds, dvrs);
    SDL_Quit();
    return 0;
  }
  // Recordings go to a fresh directory on the disk under test.
  char tmpl[] = "links-bench-rec-XXXXXX";
  const std::filesystem::path rec_path = std::filesystem::path(rec_dir) / tmpl;
  std::string rec_name = rec_path.string();
  if (!mkdtemp(rec_name.data())) {
    std::perror(rec_name.c_str());
    return 1;
  }
  std::snprintf(app_options.program_dir, sizeof app_options.program_dir, "%s/", rec_name.c_str());
  SDL_Init(0);
  Clip clip = encode_clip(50);
  size_t clip_bytes = 0;
  for (auto& u : *clip.units) clip_bytes += u.size();
  RawResult raw1 = raw_copy(1, channels, 0, clip, seconds);
  RunResult one = run(1, channels, 0, clip, seconds);
  RawResult rawn = raw_copy(dvrs, channels, kFps, clip, seconds);
  // Recording and not, alternately, three times: the run with the least CPU per byte counts
  // for each (other engineers load this machine).
  RunResult many{}, rec{};
  for (int round = 0; round < 3; ++round) {
    RunResult a = run(dvrs, channels, kFps, clip, seconds);
    RunResult b = run(dvrs, channels, kFps, clip, seconds, true);
    if (round == 0 || a.ns_per_byte < many.ns_per_byte) many = a;
    if (round == 0 || b.ns_per_byte < rec.ns_per_byte) rec = b;
    rec.dropped = round == 0 ? b.dropped : std::max(rec.dropped, b.dropped);
  }
  std::error_code ec;
  std::filesystem::remove_all(rec_name, ec);
  bench::figure("links_bench: D1 %dx%d H.264, clip of 50 frames, mean %zu bytes/frame\n", kWidth,
                kHeight, clip_bytes / clip.units->size());
  bench::figure("%-36s %9s %8s %12s %9s %9s %6s %7s\n", "case", "frames/s", "MB/s", "CPU us/frame",
                "CPU ns/B", "raw ns/B", "x raw", "behind");
  bench::figure("%-36s %9.0f %8.1f %12.2f %9.3f %9.3f %6.2f %7s\n", "1 receiver x 16 ch, unpaced",
                one.fps, one.mbps, one.us_per_frame, one.ns_per_byte, raw1.ns_per_byte,
                one.ns_per_byte / raw1.ns_per_byte, "-");
  char label[64];
  std::snprintf(label, sizeof label, "%d receivers x %d ch @ %d fps", dvrs, channels, kFps);
  bench::figure("%-36s %9.0f %8.1f %12.2f %9.3f %9.3f %6.2f %4d/%d\n", label, many.fps, many.mbps,
                many.us_per_frame, many.ns_per_byte, rawn.ns_per_byte,
                many.ns_per_byte / rawn.ns_per_byte, many.behind, dvrs);
  std::snprintf(label, sizeof label, "  the same, every channel recording");
  bench::figure("%-36s %9.0f %8.1f %12.2f %9.3f %9.3f %6.2f %4d/%d\n", label, rec.fps, rec.mbps,
                rec.us_per_frame, rec.ns_per_byte, rawn.ns_per_byte,
                rec.ns_per_byte / rawn.ns_per_byte, rec.behind, dvrs);
  bench::figure("raw copy: %.1f MB/s (1 DVR unpaced), %.1f MB/s (%d DVRs paced)\n", raw1.mbps,
                rawn.mbps, dvrs);
  const double added = rec.ns_per_byte - many.ns_per_byte;
  bench::figure(
      "recording: receive threads +%.3f ns/B = %.2f x the raw copy's ns/B (target <= 0.20); "
      "writer %.1f%% of a core, %.1f MB/s written to %s; %llu records dropped (target 0)\n",
      added, added / rawn.ns_per_byte, 100 * rec.writer_load, rec.written_mbps, rec_dir.c_str(),
      static_cast<unsigned long long>(rec.dropped));
  if (cases == "all") run_is_cases(seconds, dvrs);
  SDL_Quit();
  return 0;
}
