// The daily event log and the main window's actions on DVR events.
#include "client/foundation/dvr_events.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <unistd.h>

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

// Bytes waiting in the snapshot stage: each picture from its copy until its conversion has
// ended (in memory only until the event stage has saved it, on disk after), and a fixed cost
// per mail. The event stage charges; a Charge gives its bytes back when it goes.
class SnapshotBudget {
 public:
  void reset(size_t capacity) {
    capacity_ = capacity;
    used_.store(0);
  }
  bool charge(size_t n) {
    size_t used = used_.load();
    do {
      if (n > capacity_ || used > capacity_ - n) return false;
    } while (!used_.compare_exchange_weak(used, used + n));
    return true;
  }
  void give_back(size_t n) { used_.fetch_sub(n); }

 private:
  size_t capacity_ = DVR_SNAPSHOT_BYTES;
  std::atomic<size_t> used_{0};
};

// Bytes charged to a budget (none: not bounded); they move with what they pay for.
class Charge {
 public:
  Charge() = default;
  Charge(SnapshotBudget* b, size_t n) : budget_(b), bytes_(n) {}
  Charge(Charge&& o) noexcept : budget_(std::exchange(o.budget_, nullptr)), bytes_(o.bytes_) {}
  Charge& operator=(Charge&& o) noexcept {
    if (this != &o) {
      release();
      budget_ = std::exchange(o.budget_, nullptr);
      bytes_ = o.bytes_;
    }
    return *this;
  }
  Charge(const Charge&) = delete;
  Charge& operator=(const Charge&) = delete;
  ~Charge() { release(); }
  void release() {
    if (budget_) budget_->give_back(bytes_);
    budget_ = nullptr;
  }

 private:
  SnapshotBudget* budget_ = nullptr;
  size_t bytes_ = 0;
};

// Copies the event stage holds at most before it saves them: while they fit, the alarms of
// the notices waiting go first.
constexpr size_t kCopiedBytes = size_t(64) << 20;

// What one mail costs while it waits, beside its picture: the shot and the DVR's name.
constexpr size_t kShotCost = 256;

// A picture copied at the event, shared by the motion and sensor events of its channel in one
// notice; freed as soon as the event stage has saved it.
struct Copied {
  SDL_Surface* surface = nullptr;
  Charge charge;
  Copied() = default;
  Copied(const Copied&) = delete;
  Copied& operator=(const Copied&) = delete;
  ~Copied() {
    if (surface) SDL_FreeSurface(surface);
  }
};
using Picture = std::shared_ptr<Copied>;

// One picture saved as BMP and converted once for every event that shares it; each of them
// keeps a JPEG of its own name (a hard link to the first). Its BMP goes with it.
struct Snapshot {
  std::string bmp;                // until converted
  std::vector<std::string> jpgs;  // one per sharing event, in event order
  std::vector<char> have;         // jpgs[i] holds the picture
  Charge charge;                  // the picture's bytes, until its conversion has ended
  enum State { kWaiting, kConverting, kDone } state = kWaiting;
  bool lost_at_stop = false;  // not converted by the stop's deadline
  Snapshot() = default;
  Snapshot(const Snapshot&) = delete;
  Snapshot& operator=(const Snapshot&) = delete;
  ~Snapshot() {
    if (!bmp.empty()) std::remove(bmp.c_str());
  }
};

// One marked channel's snapshot and mail, handed from the event stage to the snapshot stage.
struct Shot {
  int dvr_index = -1;
  std::string dvr_name;
  int channel = 0;  // 0-based
  uint8_t kind = 0;
  Picture picture;                 // the copy, until the event stage has saved it
  std::shared_ptr<Snapshot> snap;  // the saved picture; null: mailed without one
  size_t slot = 0;                 // its JPEG among snap->jpgs
  bool skipped = false;            // the picture did not fit the snapshot stage
  bool mail_lost = false;          // neither did the mail: the shot is counted, not queued
  bool fresh = false;              // its picture was copied for it: the budget had room again
  bool not_taken = false;          // the stages were stopping: its picture was not copied
  Charge cost;                     // charged while it waits
};

// A run of snapshots skipped one after another, said once in the system log when the
// snapshot stage reaches the place where it began (everything before it is done then).
struct SkipRun {
  uint64_t count = 0;
  uint64_t mails_lost = 0;
  std::string dvr;  // of the first skip
  bool said = false;
};

void log_skip_run(const APP_OPTIONS* opts, const SkipRun& r) {
  char text[320];
  int n =
      snprintf(text, sizeof text,
               "%llu DVR event snapshots skipped: the snapshot queue was full (first from <%s>)",
               (unsigned long long)r.count, r.dvr.c_str());
  if (r.mails_lost && n > 0 && size_t(n) < sizeof text)
    snprintf(text + n, sizeof text - size_t(n), "; %llu of their mails lost with them",
             (unsigned long long)r.mails_lost);
  write_system_log_line("EVENT", opts ? opts->user_id : "", text);
}

int event_stage(APP_CONTEXT* ctx, const EVENT_NOTICE* notice, int queued_index,
                SnapshotBudget* budget, bool pictures, std::vector<Shot>* shots);
void save_snapshots(const APP_OPTIONS* opts, std::vector<Shot>& shots);
bool convert_snapshot(Snapshot& s, const std::atomic<bool>* cancel);
void mail_shot(const Shot& shot);

// The two stages: notices in arrival order through the event stage, which saves their
// pictures; its shots in the same order through the snapshot stage, whose converters take
// the saved pictures several at a time and whose mailer queues the mails in event order as
// their conversions end. All joined by stop_event_actions (or at exit).
class EventWorker {
 public:
  ~EventWorker() { stop(); }

  int start(APP_OPTIONS* opts, APP_CONTEXT* ctx, size_t capacity, size_t snapshot_bytes) {
    std::lock_guard<std::mutex> g(lock_);
    if (thread_.joinable() || snap_thread_.joinable()) return -1;
    opts_ = opts;
    ctx_ = ctx;
    capacity_ = capacity > 0 ? capacity : 1;
    budget_.reset(snapshot_bytes);
    snap_bytes_ = snapshot_bytes;
    stop_ = snap_stop_ = false;
    cancel_.store(false);
    lost_at_stop_ = 0;
    open_run_.reset();
    thread_ = std::thread([this] {
      set_current_thread_name("events");
      run();
    });
    snap_thread_ = std::thread([this] {
      set_current_thread_name("snapshots");
      run_mails();
    });
    const unsigned cores = std::thread::hardware_concurrency();
    const unsigned converters = std::clamp(cores, 1u, unsigned(DVR_SNAPSHOT_CONVERTERS));
    for (unsigned i = 0; i < converters; ++i)
      converters_.emplace_back([this, i] {
        set_current_thread_name(("convert " + std::to_string(i)).c_str());
        run_converter();
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

  bool wait_idle(int timeout_ms, bool snapshots) {
    std::unique_lock<std::mutex> g(lock_);
    return idle_.wait_for(g, std::chrono::milliseconds(timeout_ms), [&] {
      return queue_.empty() && bursts_.empty() && !busy_ &&
             (!snapshots ||
              (snap_queue_.empty() && !snap_busy_ && to_convert_.empty() && converting_ == 0));
    });
  }

  // The event stage finishes its notices (without copying more pictures); the conversions
  // get DVR_SNAPSHOT_STOP_MS, then the running ones are ended and what is left is mailed
  // without its picture, counted in one system log line.
  void stop() {
    {
      std::lock_guard<std::mutex> g(lock_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    {
      std::unique_lock<std::mutex> g(lock_);
      if (!snap_thread_.joinable()) return;
      // The event stage has handed over its last shots.
      snap_stop_ = true;
      snap_wake_.notify_all();
      conv_wake_.notify_all();
      idle_.wait_for(g, std::chrono::milliseconds(DVR_SNAPSHOT_STOP_MS),
                     [this] { return to_convert_.empty() && converting_ == 0; });
      for (const std::shared_ptr<Snapshot>& s : to_convert_) {
        s->state = Snapshot::kDone;
        s->lost_at_stop = true;
      }
      to_convert_.clear();
      cancel_.store(true);
    }
    conv_wake_.notify_all();
    snap_wake_.notify_all();
    for (std::thread& t : converters_) t.join();
    converters_.clear();
    snap_thread_.join();
    if (lost_at_stop_ > 0) {
      char text[160];
      snprintf(text, sizeof text,
               "%llu DVR event snapshots not converted at exit: their mails go without them",
               (unsigned long long)lost_at_stop_);
      write_system_log_line("EVENT", opts_ ? opts_->user_id : "", text);
    }
  }

  uint64_t dropped() {
    std::lock_guard<std::mutex> g(lock_);
    return dropped_;
  }

  size_t waiting() {
    std::lock_guard<std::mutex> g(lock_);
    return queue_.size();
  }

  uint64_t snapshots_done() { return snapshots_done_.load(); }

  uint64_t snapshots_skipped() {
    std::lock_guard<std::mutex> g(lock_);
    return skipped_;
  }

 private:
  struct Item {
    uint64_t seq;
    int receiver;  // index of the receiver it came from while connected, or -1
    EVENT_NOTICE notice;
  };
  // A shot, or the place where a run of skips began.
  struct SnapItem {
    Shot shot;
    std::shared_ptr<SkipRun> run;
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
      event_stage(ctx_, &item.notice, item.receiver, &budget_, pictures, &shots);
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
      g.lock();
      hand_over(pending);
      pending.clear();
      copied = 0;
      busy_ = false;
      idle_.notify_all();
    }
  }

  // Queues the shots of one notice for the snapshot stage, its saved pictures for the
  // converters, and keeps the runs of skips. Caller holds lock_.
  void hand_over(std::vector<Shot>& shots) {
    for (Shot& s : shots) {
      if (s.not_taken) ++lost_at_stop_;
      if (s.skipped) {
        ++skipped_;
        if (!open_run_ || open_run_->said) {
          std::printf("The snapshot queue is full (%zu bytes): DVR event snapshots are skipped.\n",
                      snap_bytes_);
          open_run_ = std::make_shared<SkipRun>();
          open_run_->dvr = s.dvr_name;
          snap_queue_.push_back(SnapItem{Shot(), open_run_});
        }
        ++open_run_->count;
        if (s.mail_lost) ++open_run_->mails_lost;
      } else if (s.fresh) {
        open_run_.reset();  // a picture fitted again: the run is over
      }
      if (s.snap && s.slot == 0) to_convert_.push_back(s.snap);
      if (!s.mail_lost) snap_queue_.push_back(SnapItem{std::move(s), nullptr});
    }
    if (!shots.empty()) {
      snap_wake_.notify_all();
      conv_wake_.notify_all();
    }
  }

  // One converter: the oldest saved picture not yet taken, until the stop ends it.
  void run_converter() {
    std::unique_lock<std::mutex> g(lock_);
    for (;;) {
      conv_wake_.wait(g, [this] { return cancel_.load() || snap_stop_ || !to_convert_.empty(); });
      if (cancel_.load() || to_convert_.empty()) return;
      std::shared_ptr<Snapshot> s = to_convert_.front();
      to_convert_.pop_front();
      s->state = Snapshot::kConverting;
      ++converting_;
      g.unlock();
      const bool ok = convert_snapshot(*s, &cancel_);
      g.lock();
      if (!ok && cancel_.load()) s->lost_at_stop = true;
      s->state = Snapshot::kDone;
      --converting_;
      snap_wake_.notify_all();
      idle_.notify_all();
    }
  }

  bool front_ready() const {
    if (snap_queue_.empty()) return false;
    const SnapItem& f = snap_queue_.front();
    return f.run || !f.shot.snap || f.shot.snap->state == Snapshot::kDone;
  }

  // The mailer: each shot's mail once its conversion has ended, in event order.
  void run_mails() {
    std::unique_lock<std::mutex> g(lock_);
    for (;;) {
      snap_wake_.wait(g, [this] { return (snap_stop_ && snap_queue_.empty()) || front_ready(); });
      if (snap_queue_.empty()) return;  // stopping, and everything handed over is done
      SnapItem item = std::move(snap_queue_.front());
      snap_queue_.pop_front();
      snap_busy_ = true;
      if (item.run) item.run->said = true;
      const SkipRun run = item.run ? *item.run : SkipRun{};
      if (item.shot.snap && item.shot.snap->lost_at_stop) ++lost_at_stop_;
      g.unlock();
      if (item.run) {
        log_skip_run(opts_, run);
      } else {
        mail_shot(item.shot);
        if (item.shot.snap) snapshots_done_.fetch_add(1);
      }
      item = SnapItem{};  // its cost goes back before the stage says it is idle
      g.lock();
      snap_busy_ = false;
      idle_.notify_all();
    }
  }

  std::mutex lock_;
  std::condition_variable wake_, snap_wake_, conv_wake_, idle_;
  std::deque<Item> queue_;
  std::deque<Burst> bursts_;
  std::deque<SnapItem> snap_queue_;
  std::deque<std::shared_ptr<Snapshot>> to_convert_;  // saved, in event order
  int converting_ = 0;
  std::shared_ptr<SkipRun> open_run_;
  bool open_burst_ = false;
  uint64_t next_seq_ = 0;
  uint64_t dropped_ = 0;
  uint64_t skipped_ = 0;
  uint64_t lost_at_stop_ = 0;
  std::atomic<uint64_t> snapshots_done_{0};
  std::atomic<bool> cancel_{false};  // the stop's deadline passed: converters end
  size_t capacity_ = DVR_EVENT_QUEUE_CAPACITY;
  size_t snap_bytes_ = DVR_SNAPSHOT_BYTES;
  SnapshotBudget budget_;
  APP_OPTIONS* opts_ = nullptr;
  APP_CONTEXT* ctx_ = nullptr;
  std::thread thread_, snap_thread_;
  std::vector<std::thread> converters_;
  bool stop_ = false, snap_stop_ = false;
  bool busy_ = false, snap_busy_ = false;
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

// Saves each copied picture of one notice as BMP, once for the events that share it, names
// each of those events' JPEG, and frees the copies. A picture that cannot be saved leaves
// its events without one. No lock held.
void save_snapshots(const APP_OPTIONS* opts, std::vector<Shot>& shots) {
  for (size_t i = 0; i < shots.size(); ++i) {
    if (!shots[i].picture) continue;
    const Picture pic = shots[i].picture;
    auto snap = std::make_shared<Snapshot>();
    char bmp[512];
    bool saved = make_capture_name(opts, bmp, sizeof bmp, shots[i].dvr_name.c_str(),
                                   shots[i].channel, "bmp") == 0;
    if (saved && SDL_SaveBMP(pic->surface, bmp) != 0) {
      std::remove(bmp);
      saved = false;
    }
    if (saved) {
      snap->bmp = bmp;
      snap->charge = std::move(pic->charge);  // now paid for on disk
    } else {
      debug_message("Unable to save image file.");
    }
    for (size_t j = i; j < shots.size(); ++j) {
      if (shots[j].picture != pic) continue;
      shots[j].picture.reset();
      char jpg[512];
      if (!saved || make_capture_name(opts, jpg, sizeof jpg, shots[j].dvr_name.c_str(),
                                      shots[j].channel, "jpg") != 0)
        continue;
      shots[j].snap = snap;
      shots[j].slot = snap->jpgs.size();
      snap->jpgs.emplace_back(jpg);
    }
    snap->have.assign(snap->jpgs.size(), 0);
  }
}

// Converts a saved picture for every event that shares it and removes its BMP; its bytes go
// back. False when cjpeg failed, overran or was cancelled: what it wrote is no picture and
// is deleted.
bool convert_snapshot(Snapshot& s, const std::atomic<bool>* cancel) {
  bool ok = !s.jpgs.empty() && convert_to_jpeg(s.bmp.c_str(), s.jpgs[0].c_str(), cancel) == 0;
  std::remove(s.bmp.c_str());
  s.bmp.clear();
  if (!ok) {
    if (!s.jpgs.empty()) std::remove(s.jpgs[0].c_str());
    debug_message("Unable to save image file.");
  } else {
    s.have[0] = 1;
    for (size_t i = 1; i < s.jpgs.size(); ++i) {
      // Each event's own name: a mail that deletes its JPEG leaves the other's.
      std::error_code ec;
      s.have[i] = link(s.jpgs[0].c_str(), s.jpgs[i].c_str()) == 0 ||
                  std::filesystem::copy_file(s.jpgs[0], s.jpgs[i], ec);
    }
  }
  s.charge.release();
  return ok;
}

// Queues one event's mail, with its JPEG when it has one. A refused mail keeps its JPEG in
// the record folder (mail_enqueue deletes it for a repeat, or with attachment off).
void mail_shot(const Shot& shot) {
  const char* attach =
      shot.snap && shot.snap->have[shot.slot] ? shot.snap->jpgs[shot.slot].c_str() : nullptr;
  if (!shot.snap) debug_message("Unable to save image file.");
  if (mail_enqueue(shot.dvr_index, shot.dvr_name.c_str(), shot.channel + 1, shot.kind, attach) != 0)
    debug_message("Don't Send mail. Check recipient and smtp server entry.");
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
      if (budget->charge(kShotCost)) {
        s.cost = Charge(budget, kShotCost);
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
  for (const Shot& s : shots) mail_shot(s);
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
