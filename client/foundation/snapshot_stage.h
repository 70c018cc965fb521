// The snapshot stage of the DVR event worker (dvr_events.h): the event pictures from their
// copy at the event to their mail. It owns the byte budget of what waits in it, the saving of
// each copied picture as BMP in the record folder, the converters (one cjpeg per core, at most
// DVR_SNAPSHOT_CONVERTERS, oldest picture first, each ended when it overruns its 3 s) and the
// mailer, which hands each event's mail to mail_enqueue in event order as its conversion
// ends, with no lock held.
//
// Threads: the event stage (the "events" thread) copies pictures against budget(), saves them
// (save_snapshots) and hands its shots over (hand_over); the stage's own threads, "convert N"
// and "snapshots" (the mailer), do the rest; start and stop from the event worker's owner;
// the counters and wait_idle from any thread. One lock guards the stage's queues, never held
// around a file, a conversion or a mail.
//
// Failures: a picture that does not fit the budget is not copied and its event is mailed
// without one; each run of such skips is written once to the system log with its count. A
// picture that cannot be saved (no record folder, disk full) or whose cjpeg could not run,
// failed or overran is mailed without it, what cjpeg wrote is deleted, and each run of such
// losses is written once to the system log with its count and reason (LostRun). The stop gives
// the conversions DVR_SNAPSHOT_STOP_MS, ends the rest, mails their events without pictures and
// writes one system log line with their count.
#pragma once

#include <atomic>
#include <condition_variable>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "client/foundation/dvr_events.h"

struct SDL_Surface;

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

// What one mail costs while it waits, beside its picture: the shot and the DVR's name.
constexpr size_t SNAPSHOT_SHOT_COST = 256;

// A picture copied at the event, shared by the motion and sensor events of its channel in one
// notice; freed as soon as the event stage has saved it.
struct Copied {
  SDL_Surface* surface = nullptr;
  Charge charge;
  Copied() = default;
  Copied(const Copied&) = delete;
  Copied& operator=(const Copied&) = delete;
  ~Copied();
};
using Picture = std::shared_ptr<Copied>;

// One picture saved as BMP and converted once for every event that shares it; each of them
// keeps a JPEG of its own name (a hard link to the first). Its BMP goes with it. `state` and
// `lost_at_stop` are the stage's, under its lock.
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
  ~Snapshot();
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
  bool unsaved = false;            // its picture was copied but could not be saved
  Charge cost;                     // charged while it waits
};

// Saves each copied picture of one notice's shots as BMP, once for the events that share it,
// names each of those events' JPEG, and frees the copies. A picture that cannot be saved
// leaves its events without one. Event stage (or handle_dvr_event's thread), no lock held.
void save_snapshots(const APP_OPTIONS* opts, std::vector<Shot>& shots);
// Converts a saved picture for every event that shares it and removes its BMP; its bytes go
// back. False when cjpeg failed, overran or was cancelled (`cancel` set; may be null): what
// it wrote is no picture and is deleted. Any thread, one per snapshot.
bool convert_snapshot(Snapshot& s, const std::atomic<bool>* cancel);
// Queues one event's mail, with its JPEG when it has one. A refused mail keeps its JPEG in
// the record folder (mail_enqueue deletes it for a repeat, or with attachment off).
void mail_shot(const Shot& shot);

// A run of events whose picture could not be saved or converted, one after another for one
// reason, written once to the system log with its count: a burst of failures (a full disk, a
// missing cjpeg) is one line, not one a picture. One owner thread: the mailer, or the caller
// of handle_dvr_event.
class LostRun {
 public:
  enum Why { kNone, kNotWritten, kNotConverted };
  // Notes one mailed shot once its conversion has ended: a lost picture joins the run (a run
  // of another reason is written first), a picture that reached its JPEG ends the run.
  // Returns why its picture was lost, kNone when it was not (or it had none to lose).
  Why note(const APP_OPTIONS* opts, const Shot& shot);
  // Writes the run, if any, and starts anew.
  void flush(const APP_OPTIONS* opts);

 private:
  Why why_ = kNone;
  uint64_t count_ = 0;
  std::string dvr_;  // of the first lost picture
  int channel_ = 0;
};

// The stage's queues and threads; the event worker owns one. All threads joined by stop (or
// when it goes).
class SnapshotStage {
 public:
  ~SnapshotStage() { stop(); }
  // Starts the converters and the mailer; `snapshot_bytes` may wait. 0, -1 when running.
  int start(const APP_OPTIONS* opts, size_t snapshot_bytes);
  bool running();
  // What the event stage charges its copies and mails to while the stage runs.
  SnapshotBudget* budget() { return &budget_; }
  // Queues the shots of one or more notices, in event order, for the mailer and their saved
  // pictures for the converters, and keeps the runs of skips. Event stage.
  void hand_over(std::vector<Shot>& shots);
  // True once everything handed over is mailed; false at `deadline`.
  bool wait_idle(std::chrono::steady_clock::time_point deadline);
  // Gives the conversions DVR_SNAPSHOT_STOP_MS, ends those still running, mails the rest
  // without their pictures and joins the threads; the pictures not converted are counted in
  // one system log line. Call once nothing more is handed over.
  void stop();
  uint64_t done() { return done_.load(); }
  uint64_t skipped();
  uint64_t failed() { return failed_.load(); }

 private:
  // A run of snapshots skipped one after another, said once in the system log when the
  // mailer reaches the place where it began (everything before it is done then).
  struct SkipRun {
    uint64_t count = 0;
    uint64_t mails_lost = 0;
    std::string dvr;  // of the first skip
    bool said = false;
  };
  // A shot, or the place where a run of skips began.
  struct Item {
    Shot shot;
    std::shared_ptr<SkipRun> run;
  };
  void run_converter();
  bool front_ready() const;
  void run_mails();
  void log_skip_run(const SkipRun& r);

  std::mutex lock_;
  std::condition_variable wake_, conv_wake_, idle_;
  std::deque<Item> queue_;
  std::deque<std::shared_ptr<Snapshot>> to_convert_;  // saved, in event order
  int converting_ = 0;
  std::shared_ptr<SkipRun> open_run_;
  uint64_t skipped_ = 0;
  uint64_t lost_at_stop_ = 0;
  std::atomic<uint64_t> done_{0};
  std::atomic<uint64_t> failed_{0};
  LostRun lost_run_;                 // the mailer's
  std::atomic<bool> cancel_{false};  // the stop's deadline passed: converters end
  size_t bytes_ = DVR_SNAPSHOT_BYTES;
  SnapshotBudget budget_;
  const APP_OPTIONS* opts_ = nullptr;
  std::thread mailer_;
  std::vector<std::thread> converters_;
  bool stop_ = false, busy_ = false;
};
