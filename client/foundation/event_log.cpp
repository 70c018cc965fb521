// The daily event log and the main window's actions on a DVR event.
#include "client/foundation/event_log.h"

#include <sys/stat.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include <SDL/SDL.h>

#include "client/foundation/app_state.h"
#include "client/foundation/channel_table.h"
#include "client/foundation/config/mailslot.h"
#include "client/foundation/config/system_log.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/event_table.h"
#include "client/foundation/mail_queue.h"
#include "client/foundation/sdl_lock.h"

namespace {

EVENT_ACTION_HOOKS g_hooks{};
EVENT_NOTICE g_last_notice;
int g_event_number = 0;  // of the last line; lines run 1..1023

constexpr size_t kMaxJobs = 256;

// The part of an event's actions that waits on outside programs.
struct SnapshotJob {
  std::string bmp;  // empty when the BMP could not be saved
  std::string jpg;
  int dvr_index;
  std::string dvr_name;
  int channel;  // 1-based
  uint8_t kind;
};

// One worker, jobs in event order. Joined by stop_event_actions (or at exit).
class SnapshotWorker {
 public:
  ~SnapshotWorker() { stop(); }

  // Takes the job, or leaves it with the caller (false) when too many wait.
  bool add(SnapshotJob& job) {
    std::lock_guard<std::mutex> g(lock_);
    if (jobs_.size() >= kMaxJobs) return false;
    jobs_.push_back(std::move(job));
    if (!thread_.joinable()) {
      stop_ = false;
      thread_ = std::thread([this] { run(); });
    }
    wake_.notify_all();
    return true;
  }

  bool wait_idle(int timeout_ms) {
    std::unique_lock<std::mutex> g(lock_);
    return idle_.wait_for(g, std::chrono::milliseconds(timeout_ms),
                          [this] { return jobs_.empty() && !busy_; });
  }

  void stop() {
    {
      std::lock_guard<std::mutex> g(lock_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  void run() {
    std::unique_lock<std::mutex> g(lock_);
    for (;;) {
      wake_.wait(g, [this] { return stop_ || !jobs_.empty(); });
      if (jobs_.empty()) return;  // stopping, and everything handed over is done
      SnapshotJob job = std::move(jobs_.front());
      jobs_.pop_front();
      busy_ = true;
      g.unlock();
      finish(job);
      g.lock();
      busy_ = false;
      idle_.notify_all();
    }
  }

  static void finish(const SnapshotJob& job) {
    if (!job.bmp.empty()) {
      if (convert_to_jpeg(job.bmp.c_str(), job.jpg.c_str()) != 0)
        debug_message("Unable to save image file.");
      std::remove(job.bmp.c_str());
    }
    if (mail_enqueue(job.dvr_index, job.dvr_name.c_str(), job.channel, job.kind,
                     job.jpg.c_str()) != 0)
      debug_message("Don't Send mail. Check recipient and smtp server entry.");
  }

  std::mutex lock_;
  std::condition_variable wake_, idle_;
  std::deque<SnapshotJob> jobs_;
  std::thread thread_;
  bool stop_ = false;
  bool busy_ = false;
};

SnapshotWorker& worker() {
  static SnapshotWorker w;
  return w;
}

// Saves the channel's picture as BMP now (under its mutex) and hands the conversion and
// the mail to the worker.
void snapshot_and_mail(APP_OPTIONS* opts, RECEIVER_INFO* rx, int k, const char* dvr_name,
                       uint8_t kind) {
  CHANNEL_INFO& ch = rx->channels[k];
  SnapshotJob job{"", "", rx->index, dvr_name, k + 1, kind};
  char bmp[512], jpg[512];
  if (make_capture_name(opts, bmp, sizeof bmp, dvr_name, k, "bmp") != 0 ||
      make_capture_name(opts, jpg, sizeof jpg, dvr_name, k, "jpg") != 0) {
    debug_message("Unable to save image file.");
    jpg[0] = '\0';
  } else {
    SdlLock lock(ch.mutex);
    if (ch.surface && SDL_SaveBMP(ch.surface, bmp) == 0)
      job.bmp = bmp;
    else
      debug_message("Unable to save image file.");
  }
  job.jpg = jpg;
  if (!worker().add(job)) {
    // The worker is hundreds of events behind: this snapshot and mail are given up.
    if (!job.bmp.empty()) std::remove(job.bmp.c_str());
    debug_message("Unable to save image file.");
  }
}

bool has_surface(CHANNEL_INFO& ch) {
  SdlLock lock(ch.mutex);
  return ch.surface != nullptr;
}

// The per-channel steps for one kind: motion (0x02) or sensor (0x20).
void act_on_kind(APP_OPTIONS* opts, APP_CONTEXT* ctx, RECEIVER_INFO* rx, const char* dvr_name,
                 const char* when, uint64_t event_time, uint32_t mask, uint8_t kind) {
  for (int k = 0; k < MAX_CHANNELS; ++k) {
    CHANNEL_INFO& ch = rx->channels[k];
    if (!(mask & (1u << k))) {
      ch.event_marks.fetch_and(uint8_t(~kind));
      continue;
    }
    int number = g_event_number + 1;
    if (number >= MAX_EVENT_RECORDS) {
      if (g_hooks.clear_event_list) g_hooks.clear_event_list(ctx);
      number = 1;
    }
    g_event_number = number;
    ch.event_marks.fetch_or(kind);

    char line[320];
    format_event_log_line(line, sizeof line, number, when, dvr_name, k + 1, kind);
    if (g_hooks.add_event_line) g_hooks.add_event_line(ctx, line);
    add_event_record(uint8_t(k + 1), dvr_name, uint32_t(event_time), uint32_t(event_time >> 32),
                     kind);
    // The pop-up thread looks the channel up by its id over all receivers.
    const int32_t id = ch.id.load();
    int32_t none = -1;
    if (id >= 0) ctx->alarm_channel.compare_exchange_strong(none, id);
    if (g_hooks.play_alarm) g_hooks.play_alarm(kind);
    write_event_log(line, &event_time);
    if (has_surface(ch)) snapshot_and_mail(opts, rx, k, dvr_name, kind);
  }
}

}  // namespace

void set_event_action_hooks(const EVENT_ACTION_HOOKS& hooks) { g_hooks = hooks; }

const EVENT_NOTICE& last_dvr_event() { return g_last_notice; }

void reset_event_numbers() { g_event_number = 0; }

bool wait_event_actions_idle(int timeout_ms) { return worker().wait_idle(timeout_ms); }

void stop_event_actions() { worker().stop(); }

int handle_dvr_event(APP_OPTIONS* opts, APP_CONTEXT* ctx, const EVENT_NOTICE* notice) {
  if (!ctx || !notice) return -2;
  g_last_notice = *notice;
  // A notice comes from another thread's buffer: its name is used only as a terminated copy.
  g_last_notice.dvr_name[sizeof g_last_notice.dvr_name - 1] = '\0';
  const char* dvr_name = g_last_notice.dvr_name;

  const time_t t = static_cast<time_t>(notice->time);
  struct tm local {};
  if (!localtime_r(&t, &local)) return -1;
  char when[32];
  strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
  RECEIVER_INFO* rx = find_receiver_by_name(ctx, dvr_name);
  if (!rx) return -2;

  const uint64_t event_time = static_cast<uint64_t>(notice->time);
  const int first_number = g_event_number;
  if (notice->kind & 0x02)
    act_on_kind(opts, ctx, rx, dvr_name, when, event_time, notice->mask_motion, 0x02);
  if (notice->kind & 0x20)
    act_on_kind(opts, ctx, rx, dvr_name, when, event_time, notice->mask_sensor, 0x20);
  // The list is drawn (and scrolled) once for all lines of the notice, not once a line.
  if (g_event_number != first_number && g_hooks.draw_event_list) g_hooks.draw_event_list(ctx);
  if (notice->marker) {
    for (int k = 0; k < MAX_CHANNELS; ++k) {
      if (!(notice->mask_80 & (1u << k))) continue;
      CHANNEL_INFO& ch = rx->channels[k];
      ch.video_state.store(3);
      const int32_t id = ch.id.load();
      if (id >= 0 && is_channel_shown(ctx, id) && g_hooks.redraw_channel)
        g_hooks.redraw_channel(ctx, id);
    }
  }
  return 0;
}
