// The daily event log and the main window's actions on DVR events.
#include "client/foundation/event_log.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <string>
#include <thread>
#include <vector>

#include <SDL/SDL.h>

#include "client/foundation/app_state.h"
#include "client/foundation/channel_table.h"
#include "client/foundation/config/mailslot.h"
#include "client/foundation/config/system_log.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/event_table.h"
#include "client/foundation/mail_queue.h"
#include "client/foundation/sdl_lock.h"
#include "client/foundation/user_events.h"

namespace {

EVENT_ACTION_HOOKS g_hooks{};     // window loop
EVENT_NOTICE g_last_notice;       // worker
int g_event_number = 0;           // worker; of the last line, lines run 1..1023
std::mutex g_receivers_lock;

// What the window shows of the events handled since it last looked. A clear of the list
// drops the lines before it, so at most MAX_EVENT_RECORDS - 1 lines wait.
struct News {
  bool clear = false;
  std::vector<std::string> lines;
  uint8_t alarms = 0;          // kinds whose sound is due: 0x02, 0x20
  std::vector<int32_t> lost;   // channels that lost their video
  bool woken = false;          // user event 29 is on its way
};
std::mutex g_news_lock;
News g_news;

// The window is shown news at most this often: drawing the list (its scroll animation)
// holds the window thread and the display lock, so a storm must not redraw it back to back.
constexpr int64_t kNewsGapMs = 1000;
std::atomic<int64_t> g_last_shown_ms{INT64_MIN / 2};

int64_t steady_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Wakes the window loop once for whatever gathers before it looks, and not sooner than
// kNewsGapMs after it last looked. A wake-up that is not due yet, or that SDL refuses (its
// queue full), is tried again with the next news or by the worker while it waits.
void wake_window_for_news() {
  if (steady_ms() - g_last_shown_ms.load() < kNewsGapMs) return;
  {
    std::lock_guard<std::mutex> g(g_news_lock);
    if (g_news.woken) return;
    if (!g_news.clear && g_news.lines.empty() && g_news.alarms == 0 && g_news.lost.empty()) return;
    g_news.woken = true;
  }
  if (push_user_event(UE_DVR_EVENT) != 0) {
    std::lock_guard<std::mutex> g(g_news_lock);
    g_news.woken = false;
  }
}

// A run of notices the full queue refused, written to the logs at its place in the order:
// after the notice that was last queued before it.
struct Burst {
  uint64_t after = 0;  // sequence number of that notice
  uint64_t count = 0;
  std::string dvr;     // of the first notice refused
};

void log_burst(const APP_OPTIONS* opts, const Burst& b) {
  const uint64_t now = uint64_t(time(nullptr));
  const time_t t = time_t(now);
  struct tm local {};
  char when[32] = "";
  if (localtime_r(&t, &local)) strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", &local);
  char line[320];
  snprintf(line, sizeof line, "0|%s|%s|%llu events lost|Dropped", when, b.dvr.c_str(),
           (unsigned long long)b.count);
  write_event_log(line, &now);
  char text[256];
  snprintf(text, sizeof text, "%llu DVR events lost: the event queue was full (first from <%s>)",
           (unsigned long long)b.count, b.dvr.c_str());
  write_system_log_line("EVENT", opts ? opts->user_id : "", text);
}

// The one worker: notices in arrival order. Joined by stop_event_actions (or at exit).
class EventWorker {
 public:
  ~EventWorker() { stop(); }

  int start(APP_OPTIONS* opts, APP_CONTEXT* ctx, size_t capacity) {
    std::lock_guard<std::mutex> g(lock_);
    if (thread_.joinable()) return -1;
    opts_ = opts;
    ctx_ = ctx;
    capacity_ = capacity > 0 ? capacity : 1;
    stop_ = false;
    thread_ = std::thread([this] { run(); });
    return 0;
  }

  int queue(const EVENT_NOTICE& n) {
    std::lock_guard<std::mutex> g(lock_);
    if (!thread_.joinable() || stop_) return -1;
    if (queue_.size() >= capacity_) {
      ++dropped_;
      if (!open_burst_) {
        std::printf("The event queue is full (%zu notices): DVR events are lost.\n", queue_.size());
        bursts_.push_back(Burst{next_seq_, 0, std::string(n.dvr_name, strnlen(n.dvr_name, sizeof n.dvr_name))});
        open_burst_ = true;
      }
      ++bursts_.back().count;
      return -2;
    }
    open_burst_ = false;
    queue_.push_back(Item{++next_seq_, n});
    wake_.notify_all();
    return 0;
  }

  bool wait_idle(int timeout_ms) {
    std::unique_lock<std::mutex> g(lock_);
    return idle_.wait_for(g, std::chrono::milliseconds(timeout_ms),
                          [this] { return queue_.empty() && bursts_.empty() && !busy_; });
  }

  void stop() {
    {
      std::lock_guard<std::mutex> g(lock_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  uint64_t dropped() {
    std::lock_guard<std::mutex> g(lock_);
    return dropped_;
  }

  size_t waiting() {
    std::lock_guard<std::mutex> g(lock_);
    return queue_.size();
  }

 private:
  struct Item {
    uint64_t seq;
    EVENT_NOTICE notice;
  };

  void run() {
    std::unique_lock<std::mutex> g(lock_);
    for (;;) {
      if (!wake_.wait_for(g, std::chrono::milliseconds(200),
                          [this] { return stop_ || !queue_.empty() || !bursts_.empty(); })) {
        wake_window_for_news();
        continue;
      }
      // A run of refusals is logged after the notices queued before it, and once it has
      // ended (a notice was taken again) or nothing is left to come before it.
      if (!bursts_.empty() && (queue_.empty() || queue_.front().seq > bursts_.front().after)) {
        Burst b = bursts_.front();
        bursts_.pop_front();
        if (bursts_.empty()) open_burst_ = false;
        busy_ = true;
        g.unlock();
        log_burst(opts_, b);
        g.lock();
        busy_ = false;
        idle_.notify_all();
        continue;
      }
      if (queue_.empty()) {
        if (stop_) return;  // everything handed over is done
        continue;
      }
      Item item = queue_.front();
      queue_.pop_front();
      busy_ = true;
      g.unlock();
      handle_dvr_event(opts_, ctx_, &item.notice);
      send_event_mailslot(item.notice);
      g.lock();
      busy_ = false;
      idle_.notify_all();
    }
  }

  std::mutex lock_;
  std::condition_variable wake_, idle_;
  std::deque<Item> queue_;
  std::deque<Burst> bursts_;
  bool open_burst_ = false;
  uint64_t next_seq_ = 0;
  uint64_t dropped_ = 0;
  size_t capacity_ = DVR_EVENT_QUEUE_CAPACITY;
  APP_OPTIONS* opts_ = nullptr;
  APP_CONTEXT* ctx_ = nullptr;
  std::thread thread_;
  bool stop_ = false;
  bool busy_ = false;
};

EventWorker& worker() {
  static EventWorker w;
  return w;
}

// One marked channel of a notice, decided under the receivers lock and carried out after.
struct Marked {
  int channel;      // 0-based
  uint8_t kind;
  std::string line;
  bool has_picture;
};

// A copy of channel k's picture of DVR `dvr_name`, taken under its mutex; null when that
// DVR or picture is gone (a disconnect since) or the copy failed. The caller frees it.
SDL_Surface* copy_picture(APP_CONTEXT* ctx, const char* dvr_name, int k) {
  std::lock_guard<std::mutex> rx_guard(g_receivers_lock);
  RECEIVER_INFO* rx = find_receiver_by_name(ctx, dvr_name);
  if (!rx) return nullptr;
  CHANNEL_INFO& ch = rx->channels[k];
  SdlLock lock(ch.mutex);
  if (!ch.surface) return nullptr;
  return SDL_ConvertSurface(ch.surface, ch.surface->format, SDL_SWSURFACE);
}

// Saves the picture as BMP, converts it to JPEG and queues the mail, with no lock held. A
// JPEG that is not mailed, or that the converter left unfinished, does not stay behind.
void snapshot_and_mail(APP_OPTIONS* opts, APP_CONTEXT* ctx, int dvr_index, const char* dvr_name,
                       int k, uint8_t kind) {
  char bmp[512], jpg[512];
  const char* attach = nullptr;
  if (make_capture_name(opts, bmp, sizeof bmp, dvr_name, k, "bmp") != 0 ||
      make_capture_name(opts, jpg, sizeof jpg, dvr_name, k, "jpg") != 0) {
    debug_message("Unable to save image file.");
  } else if (SDL_Surface* pic = copy_picture(ctx, dvr_name, k)) {
    const bool saved = SDL_SaveBMP(pic, bmp) == 0;
    SDL_FreeSurface(pic);
    if (!saved) {
      std::remove(bmp);
      debug_message("Unable to save image file.");
    } else if (convert_to_jpeg(bmp, jpg) != 0) {
      // cjpeg failed or overran its time: what it wrote is no picture to send.
      std::remove(bmp);
      std::remove(jpg);
      debug_message("Unable to save image file.");
    } else {
      std::remove(bmp);
      attach = jpg;
    }
  } else {
    debug_message("Unable to save image file.");
  }
  if (mail_enqueue(dvr_index, dvr_name, k + 1, kind, attach) != 0) {
    if (attach) std::remove(attach);
    debug_message("Don't Send mail. Check recipient and smtp server entry.");
  }
}

// The per-channel decisions for one kind, motion (0x02) or sensor (0x20), in channel order.
void mark_kind(APP_CONTEXT* ctx, RECEIVER_INFO* rx, const char* dvr_name, const char* when,
               uint64_t event_time, uint32_t mask, uint8_t kind, News* news,
               std::vector<Marked>* out) {
  for (int k = 0; k < MAX_CHANNELS; ++k) {
    CHANNEL_INFO& ch = rx->channels[k];
    if (!(mask & (1u << k))) {
      ch.event_marks.fetch_and(uint8_t(~kind));
      continue;
    }
    int number = g_event_number + 1;
    if (number >= MAX_EVENT_RECORDS) {
      news->clear = true;
      news->lines.clear();
      number = 1;
    }
    g_event_number = number;
    ch.event_marks.fetch_or(kind);

    char line[320];
    format_event_log_line(line, sizeof line, number, when, dvr_name, k + 1, kind);
    news->lines.emplace_back(line);
    news->alarms |= kind;
    add_event_record(uint8_t(k + 1), dvr_name, uint32_t(event_time), uint32_t(event_time >> 32),
                     kind);
    // The pop-up thread looks the channel up by its id over all receivers.
    const int32_t id = ch.id.load();
    int32_t none = -1;
    if (id >= 0) ctx->alarm_channel.compare_exchange_strong(none, id);
    bool has_picture;
    {
      SdlLock lock(ch.mutex);
      has_picture = ch.surface != nullptr;
    }
    out->push_back(Marked{k, kind, line, has_picture});
  }
}

// Hands `add` to the window: lines after a clear replace what waited.
void publish_news(News& add) {
  if (!add.clear && add.lines.empty() && add.alarms == 0 && add.lost.empty()) return;
  {
    std::lock_guard<std::mutex> g(g_news_lock);
    if (add.clear) {
      g_news.clear = true;
      g_news.lines.clear();
    }
    for (std::string& l : add.lines) g_news.lines.push_back(std::move(l));
    g_news.alarms |= add.alarms;
    for (int32_t id : add.lost)
      if (std::find(g_news.lost.begin(), g_news.lost.end(), id) == g_news.lost.end())
        g_news.lost.push_back(id);
  }
  wake_window_for_news();
}

}  // namespace

void set_event_action_hooks(const EVENT_ACTION_HOOKS& hooks) { g_hooks = hooks; }

int start_event_actions(APP_OPTIONS* opts, APP_CONTEXT* ctx, size_t capacity) {
  return worker().start(opts, ctx, capacity);
}

int queue_dvr_event(const EVENT_NOTICE& notice) { return worker().queue(notice); }

uint64_t dvr_events_dropped() { return worker().dropped(); }

size_t dvr_events_waiting() { return worker().waiting(); }

std::mutex& event_receivers_lock() { return g_receivers_lock; }

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
  const uint64_t event_time = static_cast<uint64_t>(notice->time);

  // Everything that reads the receiver is decided here, under the lock; the files, the
  // converter and the mail come after, without it.
  News news;
  std::vector<Marked> marked;
  int dvr_index;
  {
    std::lock_guard<std::mutex> rx_guard(g_receivers_lock);
    RECEIVER_INFO* rx = find_receiver_by_name(ctx, dvr_name);
    if (!rx) return -2;
    dvr_index = rx->index;
    if (notice->kind & 0x02)
      mark_kind(ctx, rx, dvr_name, when, event_time, notice->mask_motion, 0x02, &news, &marked);
    if (notice->kind & 0x20)
      mark_kind(ctx, rx, dvr_name, when, event_time, notice->mask_sensor, 0x20, &news, &marked);
    if (notice->marker) {
      for (int k = 0; k < MAX_CHANNELS; ++k) {
        if (!(notice->mask_80 & (1u << k))) continue;
        CHANNEL_INFO& ch = rx->channels[k];
        ch.video_state.store(3);
        const int32_t id = ch.id.load();
        if (id >= 0) news.lost.push_back(id);
      }
    }
  }
  // The screen first: the list and the sound do not wait for the snapshots.
  publish_news(news);
  for (const Marked& m : marked) {
    write_event_log(m.line.c_str(), &event_time);
    if (m.has_picture) snapshot_and_mail(opts, ctx, dvr_index, dvr_name, m.channel, m.kind);
  }
  return 0;
}

int show_event_news(APP_CONTEXT* ctx) {
  News n;
  {
    std::lock_guard<std::mutex> g(g_news_lock);
    std::swap(n, g_news);
  }
  g_last_shown_ms.store(steady_ms());
  // The list is drawn (and scrolled) once for all new lines, not once a line.
  if ((n.clear || !n.lines.empty()) && g_hooks.show_event_lines) {
    std::vector<const char*> lines;
    lines.reserve(n.lines.size());
    for (const std::string& l : n.lines) lines.push_back(l.c_str());
    g_hooks.show_event_lines(ctx, n.clear, lines.data(), lines.size());
  }
  if (g_hooks.play_alarm) {
    if (n.alarms & 0x02) g_hooks.play_alarm(0x02);
    if (n.alarms & 0x20) g_hooks.play_alarm(0x20);
  }
  if (g_hooks.redraw_channel)
    for (int32_t id : n.lost)
      if (is_channel_shown(ctx, id)) g_hooks.redraw_channel(ctx, id);
  return int(n.lines.size());
}
