// DVR event path: bursts of 16-channel motion+sensor notices (32 events each: log line,
// event table, mailslot, and a 704x480 snapshot as BMP then JPEG through cjpeg with its mail)
// posted as the 'Q' receive thread posts them, while a window loop waits on SDL's queue,
// shows the event news and answers a tick pushed every 2 ms. Prints the window thread's
// longest stall (its longest time on one event; and a tick's longest wait to be handled,
// which adds the machine's scheduling), the events per second of the event stage, the
// snapshots kept (JPEG files on disk at the end, each a whole JPEG), failed (not saved or
// not converted) and skipped, the time from the first notice to the last JPEG and the
// process's peak resident memory during the burst, beside the disk's plain write rate of the
// same BMP bytes and cjpeg's own rate on one such picture times the cores, and the cost of
// one such notice done wholly on the calling thread.
//
// Usage: events_bench [notices] [--log PATH]   (default 16 notices). Prints only its figures;
// what the client prints goes to the log (events_bench.log). Runs without a display (SDL's
// dummy video); snapshots go to a temporary record folder, removed at the end.
#include <SDL/SDL.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "client/foundation/app_state.h"
#include "client/foundation/channel_table.h"
#include "client/foundation/config/mailslot.h"
#include "client/foundation/config/setup_config.h"
#include "client/foundation/dvr_events.h"
#include "client/foundation/mail_queue.h"
#include "client/foundation/user_events.h"
#include "bench/figures_only.h"
#include "client/links/link_notices.h"
#include "peers/media/media_gen.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWidth = 704, kHeight = 480, kChannels = 16;
constexpr int kTick = UE_SHOW_MESSAGE;  // pushed by nothing in the client

// A line of /proc/self/status in KiB ("VmHWM", "VmRSS"), 0 when missing.
long status_kib(const char* key) {
  FILE* f = fopen("/proc/self/status", "r");
  if (!f) return 0;
  char line[256];
  long v = 0;
  const size_t n = strlen(key);
  while (fgets(line, sizeof line, f))
    if (strncmp(line, key, n) == 0 && line[n] == ':') v = atol(line + n + 1);
  fclose(f);
  return v;
}

// Resets the peak resident size to the current one.
void reset_peak_memory() {
  if (FILE* f = fopen("/proc/self/clear_refs", "w")) {
    fputs("5", f);
    fclose(f);
  }
}

double ms_since(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}
uint64_t now_us() {
  return uint64_t(
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
          .count());
}

// What the window does with the event list: keeps its lines (as the list widget does).
std::vector<std::string> g_list;

void set_up(APP_CONTEXT* ctx) {
  init_app_context(ctx);
  RECEIVER_INFO& rx = ctx->receivers[0];
  init_receiver(&rx);
  rx.context = ctx;
  rx.protocol = 'Q';
  snprintf(rx.name, sizeof rx.name, "DVR-1");
  rx.num_video = kChannels;
  rx.channel_mask = (1u << kChannels) - 1;
  reset_channel_id_seq();
  assign_channel_ids(&rx);
  for (int k = 0; k < kChannels; ++k) {
    std::vector<uint8_t> bgra =
        media_gen::yuv_to_bgra(media_gen::synth_picture(kWidth, kHeight, k, 0));
    SDL_Surface* s =
        SDL_CreateRGBSurface(SDL_SWSURFACE, kWidth, kHeight, 32, 0xFF0000, 0xFF00, 0xFF, 0);
    for (int y = 0; y < kHeight; ++y)
      memcpy(static_cast<uint8_t*>(s->pixels) + y * s->pitch, bgra.data() + size_t(y) * kWidth * 4,
             size_t(kWidth) * 4);
    rx.channels[k].surface = s;
  }
  ctx->num_receivers = 1;
  ctx->num_channels = kChannels;
}

EVENT_NOTICE burst(int i) {
  EVENT_NOTICE n;
  snprintf(n.dvr_name, sizeof n.dvr_name, "DVR-1");
  n.kind = 0x22;
  n.mask_motion = n.mask_sensor = (1u << kChannels) - 1;
  n.time = int64_t(time(nullptr)) + i;
  return n;
}

// The window loop: event news and ticks. Its longest stall is the longest it spent on one
// event; a tick's wait adds whatever the machine's scheduler kept it from running.
struct WindowLoop {
  std::atomic<bool> quit{false};
  double longest_tick_wait_ms = 0;
  double longest_stall_ms = 0;
  void run(APP_CONTEXT* ctx) {
    SDL_Event ev;
    while (!quit.load()) {
      if (!SDL_WaitEvent(&ev)) continue;
      const auto t0 = Clock::now();
      const int n = user_event_number(ev);
      if (n == kTick) {
        const uint64_t pushed = uint64_t(reinterpret_cast<uintptr_t>(ev.user.data1));
        longest_tick_wait_ms = std::max(longest_tick_wait_ms, double(now_us() - pushed) / 1000.0);
      } else if (n == UE_DVR_EVENT) {
        show_event_news(ctx);
      }
      longest_stall_ms = std::max(longest_stall_ms, ms_since(t0));
    }
  }
};

// The whole JPEGs in `dir`: files that start with FFD8 and end with FFD9.
int whole_jpegs(const std::string& dir) {
  int whole = 0;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
    if (e.path().extension() != ".jpg") continue;
    FILE* f = fopen(e.path().c_str(), "rb");
    if (!f) continue;
    unsigned char head[2] = {}, tail[2] = {};
    const bool ok =
        fread(head, 1, 2, f) == 2 && fseek(f, -2, SEEK_END) == 0 && fread(tail, 1, 2, f) == 2;
    fclose(f);
    whole += ok && head[0] == 0xFF && head[1] == 0xD8 && tail[0] == 0xFF && tail[1] == 0xD9;
  }
  return whole;
}

}  // namespace

int main(int argc, char** argv) {
  bench::figures_only(bench::log_path("events_bench", argc, argv));
  int notices = 16;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--log") {
      ++i;
      continue;
    }
    notices = std::max(1, atoi(argv[i]));
  }
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    fprintf(stderr, "SDL_Init failed: %s\n", SDL_GetError());
    return 1;
  }
  char dir_tmpl[] = "/tmp/events-bench-XXXXXX";
  if (!mkdtemp(dir_tmpl)) return 1;
  const std::string dir = dir_tmpl;
  const std::filesystem::path cwd = std::filesystem::current_path();
  if (chdir(dir.c_str()) != 0) return 1;
  load_system_info(("[SYSTEM]\nrec_path=" + dir + "/rec/\n").c_str());
  // Each mail is composed and then refused for want of a recipient, which keeps its JPEG: the
  // JPEGs left are what the snapshot stage made (a repeat within the delay, as each channel's
  // next event is, would delete its JPEG by design).
  load_email_info("[EMAIL]\nreceipient=\nsmtpserver=\nattachment=1\ndelay=600\n");
  mail_queue_init();
  APP_CONTEXT* ctx = &app_context;
  set_up(ctx);
  set_event_action_hooks(
      EVENT_ACTION_HOOKS{[](APP_CONTEXT*, bool clear, const char* const* lines, size_t count) {
                           if (clear) g_list.clear();
                           g_list.insert(g_list.end(), lines, lines + count);
                         },
                         nullptr, nullptr});

  bench::figure(
      "DVR event path: %d notices of 16 channels motion+sensor (32 events each), %dx%d "
      "pictures, window loop ticked every 2 ms\n",
      notices, kWidth, kHeight);

  // Both stages' work on one thread: one notice's 32 events in a row.
  const auto one = Clock::now();
  EVENT_NOTICE first = burst(0);
  handle_dvr_event(nullptr, ctx, &first);
  show_event_news(ctx);
  const double on_window_ms = ms_since(one);
  std::filesystem::remove_all("rec");

  start_event_actions(nullptr, ctx);
  reset_peak_memory();
  const long rss_before = status_kib("VmRSS");
  const uint64_t done_before = dvr_snapshots_done(), skipped_before = dvr_snapshots_skipped(),
                 failed_before = dvr_snapshots_failed();
  WindowLoop loop;
  std::thread window([&] { loop.run(ctx); });
  std::atomic<bool> ticking{true};
  std::thread ticker([&] {
    while (ticking.load()) {
      push_user_event(kTick, reinterpret_cast<void*>(uintptr_t(now_us())));
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto t0 = Clock::now();
  for (int i = 0; i < notices; ++i) {
    EVENT_NOTICE n = burst(i + 1);
    queue_dvr_event(n, 0);
  }
  wait_event_actions_idle(600000, false);
  const double event_stage_ms = ms_since(t0);
  wait_event_actions_idle(600000);
  const double snapshot_stage_ms = ms_since(t0);
  const long peak = status_kib("VmHWM");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ticking.store(false);
  ticker.join();
  loop.quit.store(true);
  push_user_event(kTick, reinterpret_cast<void*>(uintptr_t(now_us())));
  window.join();
  stop_event_actions();
  const int events = notices * 2 * kChannels;
  const uint64_t snapshots = dvr_snapshots_done() - done_before;
  const uint64_t skipped = dvr_snapshots_skipped() - skipped_before;
  const uint64_t failed = dvr_snapshots_failed() - failed_before;
  // What the burst left: the JPEGs on disk, whole, before anything else writes there.
  const int kept = whole_jpegs("rec");

  // The disk's plain write rate for the same BMP bytes, into the same folder.
  const size_t bmp_bytes = 54 + size_t(kWidth) * kHeight * 4;
  std::vector<uint8_t> bytes(bmp_bytes, 0x5A);
  std::filesystem::create_directories("rec");
  const int plain = int(std::max<uint64_t>(snapshots, 32));
  const auto w0 = Clock::now();
  for (int i = 0; i < plain; ++i) {
    const std::string name = "rec/plain-" + std::to_string(i) + ".bmp";
    FILE* f = fopen(name.c_str(), "wb");
    if (!f) break;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  }
  const double write_ms = ms_since(w0);

  // cjpeg's own rate on one such picture, one run after another.
  std::string one_bmp;
  for (CHANNEL_INFO& ch : ctx->receivers[0].channels)
    if (ch.surface) {
      one_bmp = "rec/one.bmp";
      SDL_SaveBMP(ch.surface, one_bmp.c_str());
      break;
    }
  const int runs = 8;
  const auto c0 = Clock::now();
  for (int i = 0; i < runs; ++i)
    if (system(("cjpeg -quality 100 " + one_bmp + " > rec/one.jpg").c_str()) != 0) break;
  const double cjpeg_ms = ms_since(c0) / runs;
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());

  bench::figure(
      "  window thread's longest stall: %8.2f ms  (budget 50 ms; a tick's longest wait, "
      "scheduling included, %.1f ms)\n",
      loop.longest_stall_ms, loop.longest_tick_wait_ms);
  bench::figure(
      "  event stage:                  %8.1f events/s  (%d events logged, listed and "
      "forwarded in %.0f ms)\n",
      events * 1000.0 / event_stage_ms, events, event_stage_ms);
  bench::figure(
      "  snapshots:                    %8d kept as whole JPEGs, %llu failed, %llu skipped (of %d "
      "events, %llu handed to cjpeg)\n",
      kept, (unsigned long long)failed, (unsigned long long)skipped, events,
      (unsigned long long)snapshots);
  bench::figure("  time to the last JPEG:        %8.0f ms  (%.1f snapshots/s)\n", snapshot_stage_ms,
                kept * 1000.0 / snapshot_stage_ms);
  bench::figure("  peak memory during the burst: %8.1f MiB  (%.1f MiB before it)\n", peak / 1024.0,
                rss_before / 1024.0);
  bench::figure("  disk's plain write, same BMPs: %8.1f MB/s = %.1f snapshots/s\n",
                double(bmp_bytes) * plain / 1e6 / (write_ms / 1000.0), plain * 1000.0 / write_ms);
  bench::figure("  cjpeg on one picture:         %8.1f ms = %.1f/s, x %u cores = %.1f/s\n",
                cjpeg_ms, 1000.0 / cjpeg_ms, cores, cores * 1000.0 / cjpeg_ms);
  bench::figure("  one notice on one thread, both stages: %.0f ms\n", on_window_ms);

  for (CHANNEL_INFO& ch : ctx->receivers[0].channels) {
    SDL_FreeSurface(ch.surface);
    ch.surface = nullptr;
  }
  free_app_context(ctx);
  mail_queue_stop();
  std::filesystem::current_path(cwd);
  std::filesystem::remove_all(dir);
  SDL_Quit();
  return 0;
}
