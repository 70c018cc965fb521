// The main window's actions on DVR events: the event worker's queue and its event stage; the
// snapshot stage behind it is snapshot_stage.cpp.
#include "client/foundation/dvr_events.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <SDL/SDL.h>

#include "client/foundation/app_state.h"
#include "client/foundation/channel_table.h"
#include "client/foundation/config/mailslot.h"
#include "client/foundation/config/system_log.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/event_table.h"
#include "client/foundation/sdl_lock.h"
#include "client/foundation/snapshot_stage.h"
#include "client/foundation/user_events.h"
#include "platform/net/net.h"
#include "platform/sync/thread_name.h"

namespace {

EVENT_ACTION_HOOKS g_hooks{};  // window loop
EVENT_NOTICE g_last_notice;    // worker
int g_event_number = 0;        // worker; of the last line, lines run 1..1023
std::mutex g_receivers_lock;

// What the window shows of the events handled since it last looked. A clear of the list
// drops the lines before it, so at most MAX_EVENT_RECORDS - 1 lines wait.
struct News {
  bool clear = false;
  std::vector<std::string> lines;
  uint8_t alarms = 0;         // kinds whose sound is due: 0x02, 0x20
  std::vector<int32_t> lost;  // channels that lost their video
  bool woken = false;         // user event 29 is on its way
};
std::mutex g_news_lock;
News g_news;

// The window is shown news at most this often: drawing the list (its scroll animation)
// holds the window thread and the display lock, so a storm must not redraw it back to back.
constexpr int64_t kNewsGapMs = 1000;
std::atomic<int64_t> g_last_shown_ms{INT64_MIN / 2};

int64_t steady_ms() { return int64_t(net_now_ms()); }

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
  std::string dvr;  // of the first notice refused
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

// Copies the event stage holds at most before it saves them: while they fit, the alarms of
// the notices waiting go first.
constexpr size_t kCopiedBytes = size_t(64) << 20;

int event_stage(APP_CONTEXT* ctx, const EVENT_NOTICE* notice, int queued_index,
                SnapshotBudget* budget, bool pictures, std::vector<Shot>* shots);

// The two stages: notices in arrival order through the event stage, which saves their
// pictures and hands its shots in the same order to the snapshot stage (snapshot_stage.h).
// All joined by stop_event_actions (or at exit).
class EventWorker {
 public:
  ~EventWorker() { stop(); }

  int start(APP_OPTIONS* opts, APP_CONTEXT* ctx, size_t capacity, size_t snapshot_bytes) {
    std::lock_guard<std::mutex> g(lock_);
    if (thread_.joinable() || snaps_.running()) return -1;
    opts_ = opts;
    ctx_ = ctx;
    capacity_ = capacity > 0 ? capacity : 1;
    stop_ = false;
    snaps_.start(opts, snapshot_bytes);
    thread_ = std::thread([this] {
      set_current_thread_name("events");
      run();
    });
    return 0;
  }

  int queue(const EVENT_NOTICE& n, int receiver) {
    std::lock_guard<std::mutex> g(lock_);
    if (!thread_.joinable() || stop_) return -1;
    if (queue_.size() >= capacity_) {
      ++dropped_;
      if (!open_burst_) {
        std::printf("The event queue is full (%zu notices): DVR events are lost.\n", queue_.size());
        bursts_.push_back(
            Burst{next_seq_, 0, std::string(n.dvr_name, strnlen(n.dvr_name, sizeof n.dvr_name))});
        open_burst_ = true;
      }
      ++bursts_.back().count;
      return -2;
    }
    open_burst_ = false;
    // The receive thread names its own receiver, which stays while it runs: the DVR is
    // connected now, whatever happens to the receiver before the event stage gets here.
    int index = -1;
    const int receivers = ctx_ ? std::min<int>(ctx_->num_receivers.load(), MAX_RECEIVERS) : 0;
    if (receiver >= 0 && receiver < receivers &&
        strncmp(ctx_->receivers[receiver].name, n.dvr_name, sizeof n.dvr_name) == 0)
      index = receiver;
    queue_.push_back(Item{++next_seq_, index, n});
    wake_.notify_all();
    return 0;
  }

  // The event stage hands its shots over before it says it is idle, so the snapshot stage
  // is asked only after it.
  bool wait_idle(int timeout_ms, bool snapshots) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    {
      std::unique_lock<std::mutex> g(lock_);
      if (!idle_.wait_until(g, deadline,
                            [&] { return queue_.empty() && bursts_.empty() && !busy_; }))
        return false;
    }
    return !snapshots || snaps_.wait_idle(deadline);
  }

  // The event stage finishes its notices (without copying more pictures), then the snapshot
  // stage stops.
  void stop() {
    {
      std::lock_guard<std::mutex> g(lock_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    snaps_.stop();
  }

  uint64_t dropped() {
    std::lock_guard<std::mutex> g(lock_);
    return dropped_;
  }

  size_t waiting() {
    std::lock_guard<std::mutex> g(lock_);
    return queue_.size();
  }

  uint64_t snapshots_done() { return snaps_.done(); }
  uint64_t snapshots_skipped() { return snaps_.skipped(); }
  uint64_t snapshots_failed() { return snaps_.failed(); }

 private:
  struct Item {
    uint64_t seq;
    int receiver;  // index of the receiver it came from while connected, or -1
    EVENT_NOTICE notice;
  };

  void run() {
    std::vector<Shot> pending;  // of the notices handled since the last save, in order
    size_t copied = 0;          // bytes of their pictures
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
      const bool pictures = !stop_;
      g.unlock();
      std::vector<Shot> shots;
      event_stage(ctx_, &item.notice, item.receiver, snaps_.budget(), pictures, &shots);
      send_event_mailslot(item.notice);
      for (size_t i = 0; i < shots.size(); ++i) {
        const Picture& p = shots[i].picture;
        bool seen = !p;
        for (size_t j = 0; j < i && !seen; ++j) seen = shots[j].picture == p;
        if (!seen) copied += size_t(p->surface->pitch) * size_t(std::max(p->surface->h, 0));
        pending.push_back(std::move(shots[i]));
      }
      g.lock();
      // The alarms of the notices already waiting come first, while their copies fit in
      // kCopiedBytes; then the pictures go to disk, which holds them until a converter is free.
      if (!queue_.empty() && !stop_ && copied < kCopiedBytes) continue;
      g.unlock();
      save_snapshots(opts_, pending);
      snaps_.hand_over(pending);
      g.lock();
      pending.clear();
      copied = 0;
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
  bool stop_ = false, busy_ = false;
  SnapshotStage snaps_;
};

EventWorker& worker() {
  static EventWorker w;
  return w;
}

// A copy of the channel's picture, taken under its mutex, charged to `budget` (none: not
// bounded). *has tells whether the channel has a picture; null when it has none, `take` is
// false, the copy failed, or the budget is spent (*skipped).
Picture copy_picture(CHANNEL_INFO& ch, SnapshotBudget* budget, bool take, bool* has,
                     bool* skipped) {
  SdlLock lock(ch.mutex);
  *has = ch.surface != nullptr;
  if (!ch.surface || !take) return nullptr;
  const size_t bytes = size_t(ch.surface->pitch) * size_t(ch.surface->h > 0 ? ch.surface->h : 0);
  if (budget && !budget->charge(bytes)) {
    *skipped = true;
    return nullptr;
  }
  auto pic = std::make_shared<Copied>();
  pic->charge = Charge(budget, bytes);
  pic->surface = SDL_ConvertSurface(ch.surface, ch.surface->format, SDL_SWSURFACE);
  return pic->surface ? pic : nullptr;
}

// The numbered line of one event, and what the window is shown of it.
std::string number_event(const char* dvr_name, const char* when, int channel, uint8_t kind,
                         News* news) {
  int number = g_event_number + 1;
  if (number >= MAX_EVENT_RECORDS) {
    news->clear = true;
    news->lines.clear();
    number = 1;
  }
  g_event_number = number;
  char line[320];
  format_event_log_line(line, sizeof line, number, when, dvr_name, channel + 1, kind);
  news->lines.emplace_back(line);
  news->alarms |= kind;
  return line;
}

// One marked channel: its line, and its shot when it has a picture to send (a DVR that is
// gone since the notice came is mailed without one).
struct Marked {
  int channel;  // 0-based
  uint8_t kind;
  std::string line;
  bool shot;
  Picture picture;
  bool skipped;    // its picture did not fit
  bool fresh;      // its picture was copied for it (not shared with the channel's other kind)
  bool not_taken;  // it had a picture, not copied: the stages are stopping
};

// The pictures of one notice's channels, each copied once for its motion and sensor events.
struct NoticePictures {
  Picture copy[MAX_CHANNELS];
  bool tried[MAX_CHANNELS] = {};
  bool has[MAX_CHANNELS] = {};
  bool skipped[MAX_CHANNELS] = {};
  bool take = true;  // false: none is copied (the stages are stopping)
};

// The per-channel decisions for one kind, motion (0x02) or sensor (0x20), in channel order,
// on a connected DVR.
void mark_kind(APP_CONTEXT* ctx, RECEIVER_INFO* rx, const char* dvr_name, const char* when,
               uint64_t event_time, uint32_t mask, uint8_t kind, SnapshotBudget* budget,
               NoticePictures* pics, News* news, std::vector<Marked>* out) {
  for (int k = 0; k < MAX_CHANNELS; ++k) {
    CHANNEL_INFO& ch = rx->channels[k];
    if (!(mask & (1u << k))) {
      ch.event_marks.fetch_and(uint8_t(~kind));
      continue;
    }
    std::string line = number_event(dvr_name, when, k, kind, news);
    ch.event_marks.fetch_or(kind);
    add_event_record(uint8_t(k + 1), dvr_name, uint32_t(event_time), uint32_t(event_time >> 32),
                     kind);
    // The pop-up thread looks the channel up by its id over all receivers.
    const int32_t id = ch.id.load();
    int32_t none = -1;
    if (id >= 0) ctx->alarm_channel.compare_exchange_strong(none, id);
    bool fresh = false;
    if (!pics->tried[k]) {
      pics->tried[k] = true;
      pics->copy[k] = copy_picture(ch, budget, pics->take, &pics->has[k], &pics->skipped[k]);
      fresh = pics->copy[k] != nullptr;
    }
    out->push_back(Marked{k, kind, std::move(line), pics->has[k], pics->copy[k], pics->skipped[k],
                          fresh, pics->has[k] && !pics->take});
  }
}

// The same for a DVR disconnected since it sent the notice: no channel to mark, no picture.
void mark_kind_gone(const char* dvr_name, const char* when, uint64_t event_time, uint32_t mask,
                    uint8_t kind, News* news, std::vector<Marked>* out) {
  for (int k = 0; k < MAX_CHANNELS; ++k) {
    if (!(mask & (1u << k))) continue;
    std::string line = number_event(dvr_name, when, k, kind, news);
    add_event_record(uint8_t(k + 1), dvr_name, uint32_t(event_time), uint32_t(event_time >> 32),
                     kind);
    out->push_back(Marked{k, kind, std::move(line), true, nullptr, false, false, false});
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

// Everything of one notice that must not wait for a snapshot: the numbers, marks, event
// table, pop-up channel, the window's news, the log lines, and the copies of the pictures.
// The snapshots and mails come out in `shots`, in event order; without `pictures` none is
// copied. `queued_index`: the receiver the notice came from while connected
// (queue_dvr_event), or -1. Results as handle_dvr_event.
int event_stage(APP_CONTEXT* ctx, const EVENT_NOTICE* notice, int queued_index,
                SnapshotBudget* budget, bool pictures, std::vector<Shot>* shots) {
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

  // Everything that reads the receiver is decided here, under the lock, the pictures copied
  // too; the files come after, without it.
  News news;
  std::vector<Marked> marked;
  int dvr_index;
  {
    std::lock_guard<std::mutex> rx_guard(g_receivers_lock);
    RECEIVER_INFO* rx = find_receiver_by_name(ctx, dvr_name);
    if (rx) {
      dvr_index = rx->index;
      NoticePictures copies;
      copies.take = pictures;
      if (notice->kind & 0x02)
        mark_kind(ctx, rx, dvr_name, when, event_time, notice->mask_motion, 0x02, budget, &copies,
                  &news, &marked);
      if (notice->kind & 0x20)
        mark_kind(ctx, rx, dvr_name, when, event_time, notice->mask_sensor, 0x20, budget, &copies,
                  &news, &marked);
      if (notice->marker) {
        for (int k = 0; k < MAX_CHANNELS; ++k) {
          if (!(notice->mask_80 & (1u << k))) continue;
          CHANNEL_INFO& ch = rx->channels[k];
          ch.video_state.store(VIDEO_LOST);
          const int32_t id = ch.id.load();
          if (id >= 0) news.lost.push_back(id);
        }
      }
    } else if (queued_index >= 0) {
      // Sent while connected: an alarm that happened, though its channels are gone now.
      dvr_index = queued_index;
      if (notice->kind & 0x02)
        mark_kind_gone(dvr_name, when, event_time, notice->mask_motion, 0x02, &news, &marked);
      if (notice->kind & 0x20)
        mark_kind_gone(dvr_name, when, event_time, notice->mask_sensor, 0x20, &news, &marked);
    } else {
      return -2;
    }
  }
  // The screen first: the list and the sound do not wait for the files.
  publish_news(news);
  for (Marked& m : marked) {
    write_event_log(m.line.c_str(), &event_time);
    if (!m.shot) continue;
    Shot s;
    s.dvr_index = dvr_index;
    s.dvr_name = dvr_name;
    s.channel = m.channel;
    s.kind = m.kind;
    s.picture = std::move(m.picture);
    s.skipped = m.skipped;
    s.fresh = m.fresh;
    s.not_taken = m.not_taken;
    if (budget) {
      if (budget->charge(SNAPSHOT_SHOT_COST)) {
        s.cost = Charge(budget, SNAPSHOT_SHOT_COST);
      } else {
        // Not even the mail fits: tens of thousands wait behind a conversion.
        s.picture.reset();
        s.skipped = s.mail_lost = true;
      }
    }
    shots->push_back(std::move(s));
  }
  return 0;
}

}  // namespace

void set_event_action_hooks(const EVENT_ACTION_HOOKS& hooks) { g_hooks = hooks; }

int start_event_actions(APP_OPTIONS* opts, APP_CONTEXT* ctx, size_t capacity,
                        size_t snapshot_bytes) {
  return worker().start(opts, ctx, capacity, snapshot_bytes);
}

int queue_dvr_event(const EVENT_NOTICE& notice, int receiver) {
  return worker().queue(notice, receiver);
}

uint64_t dvr_events_dropped() { return worker().dropped(); }

size_t dvr_events_waiting() { return worker().waiting(); }

uint64_t dvr_snapshots_done() { return worker().snapshots_done(); }

uint64_t dvr_snapshots_skipped() { return worker().snapshots_skipped(); }

uint64_t dvr_snapshots_failed() { return worker().snapshots_failed(); }

std::mutex& event_receivers_lock() { return g_receivers_lock; }

const EVENT_NOTICE& last_dvr_event() { return g_last_notice; }

void reset_event_numbers() { g_event_number = 0; }

bool wait_event_actions_idle(int timeout_ms, bool snapshots) {
  return worker().wait_idle(timeout_ms, snapshots);
}

void stop_event_actions() { worker().stop(); }

int handle_dvr_event(APP_OPTIONS* opts, APP_CONTEXT* ctx, const EVENT_NOTICE* notice) {
  std::vector<Shot> shots;
  const int r = event_stage(ctx, notice, -1, nullptr, true, &shots);
  save_snapshots(opts, shots);
  for (const Shot& s : shots)
    if (s.snap && s.slot == 0) convert_snapshot(*s.snap, nullptr);
  LostRun lost;
  for (const Shot& s : shots) {
    mail_shot(s);
    lost.note(opts, s);
  }
  lost.flush(opts);
  return r;
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
