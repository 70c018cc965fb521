// The DVR event worker's snapshot stage: saving, converting and mailing the event pictures.
#include "client/foundation/snapshot_stage.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include <unistd.h>

#include <SDL/SDL.h>

#include "client/foundation/config/app_options.h"
#include "client/foundation/config/system_log.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/mail_queue.h"
#include "platform/sync/thread_name.h"

Copied::~Copied() {
  if (surface) SDL_FreeSurface(surface);
}

Snapshot::~Snapshot() {
  if (!bmp.empty()) std::remove(bmp.c_str());
}

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
                                      shots[j].channel, "jpg") != 0) {
        shots[j].unsaved = true;
        continue;
      }
      shots[j].snap = snap;
      shots[j].slot = snap->jpgs.size();
      snap->jpgs.emplace_back(jpg);
    }
    snap->have.assign(snap->jpgs.size(), 0);
  }
}

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

void mail_shot(const Shot& shot) {
  const char* attach =
      shot.snap && shot.snap->have[shot.slot] ? shot.snap->jpgs[shot.slot].c_str() : nullptr;
  if (!shot.snap) debug_message("Unable to save image file.");
  if (mail_enqueue(shot.dvr_index, shot.dvr_name.c_str(), shot.channel + 1, shot.kind, attach) != 0)
    debug_message("Don't Send mail. Check recipient and smtp server entry.");
}

LostRun::Why LostRun::note(const APP_OPTIONS* opts, const Shot& shot) {
  Why why = kNone;
  if (shot.unsaved)
    why = kNotWritten;
  else if (shot.snap && !shot.snap->lost_at_stop && !shot.snap->have[shot.slot])
    // Converted, but its own name could not be linked or copied: the disk refused it.
    why = shot.snap->have[0] ? kNotWritten : kNotConverted;
  if (why == kNone) {
    // A picture that reached its JPEG ends the run; a shot without one leaves it open.
    if (shot.snap && !shot.snap->lost_at_stop) flush(opts);
    return kNone;
  }
  if (count_ > 0 && why != why_) flush(opts);
  if (count_++ == 0) {
    why_ = why;
    dvr_ = shot.dvr_name;
    channel_ = shot.channel;
  }
  return why;
}

void LostRun::flush(const APP_OPTIONS* opts) {
  if (count_ == 0) return;
  char text[320];
  snprintf(text, sizeof text,
           "%llu DVR event snapshots not saved: %s (first from <%s> CH %02d); their mails go "
           "without them",
           (unsigned long long)count_,
           why_ == kNotWritten ? "the picture could not be written to the record folder"
                               : "cjpeg could not run, failed or overran",
           dvr_.c_str(), channel_ + 1);
  write_system_log_line("EVENT", opts ? opts->user_id : "", text);
  count_ = 0;
  why_ = kNone;
}

int SnapshotStage::start(const APP_OPTIONS* opts, size_t snapshot_bytes) {
  std::lock_guard<std::mutex> g(lock_);
  if (mailer_.joinable()) return -1;
  opts_ = opts;
  budget_.reset(snapshot_bytes);
  bytes_ = snapshot_bytes;
  stop_ = false;
  cancel_.store(false);
  lost_at_stop_ = 0;
  open_run_.reset();
  mailer_ = std::thread([this] {
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

bool SnapshotStage::running() {
  std::lock_guard<std::mutex> g(lock_);
  return mailer_.joinable();
}

uint64_t SnapshotStage::skipped() {
  std::lock_guard<std::mutex> g(lock_);
  return skipped_;
}

bool SnapshotStage::wait_idle(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> g(lock_);
  return idle_.wait_until(g, deadline, [&] {
    return queue_.empty() && !busy_ && to_convert_.empty() && converting_ == 0;
  });
}

void SnapshotStage::hand_over(std::vector<Shot>& shots) {
  std::lock_guard<std::mutex> g(lock_);
  for (Shot& s : shots) {
    if (s.not_taken) ++lost_at_stop_;
    if (s.skipped) {
      ++skipped_;
      if (!open_run_ || open_run_->said) {
        std::printf("The snapshot queue is full (%zu bytes): DVR event snapshots are skipped.\n",
                    bytes_);
        open_run_ = std::make_shared<SkipRun>();
        open_run_->dvr = s.dvr_name;
        queue_.push_back(Item{Shot(), open_run_});
      }
      ++open_run_->count;
      if (s.mail_lost) ++open_run_->mails_lost;
    } else if (s.fresh) {
      open_run_.reset();  // a picture fitted again: the run is over
    }
    if (s.snap && s.slot == 0) to_convert_.push_back(s.snap);
    if (!s.mail_lost) queue_.push_back(Item{std::move(s), nullptr});
  }
  if (!shots.empty()) {
    wake_.notify_all();
    conv_wake_.notify_all();
  }
}

// The event stage has handed over its last shots.
void SnapshotStage::stop() {
  {
    std::unique_lock<std::mutex> g(lock_);
    if (!mailer_.joinable()) return;
    stop_ = true;
    wake_.notify_all();
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
  wake_.notify_all();
  for (std::thread& t : converters_) t.join();
  converters_.clear();
  mailer_.join();
  if (lost_at_stop_ > 0) {
    char text[160];
    snprintf(text, sizeof text,
             "%llu DVR event snapshots not converted at exit: their mails go without them",
             (unsigned long long)lost_at_stop_);
    write_system_log_line("EVENT", opts_ ? opts_->user_id : "", text);
  }
}

// One converter: the oldest saved picture not yet taken, until the stop ends it.
void SnapshotStage::run_converter() {
  std::unique_lock<std::mutex> g(lock_);
  for (;;) {
    conv_wake_.wait(g, [this] { return cancel_.load() || stop_ || !to_convert_.empty(); });
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
    wake_.notify_all();
    idle_.notify_all();
  }
}

bool SnapshotStage::front_ready() const {
  if (queue_.empty()) return false;
  const Item& f = queue_.front();
  return f.run || !f.shot.snap || f.shot.snap->state == Snapshot::kDone;
}

// The mailer: each shot's mail once its conversion has ended, in event order.
void SnapshotStage::run_mails() {
  std::unique_lock<std::mutex> g(lock_);
  for (;;) {
    wake_.wait(g, [this] { return (stop_ && queue_.empty()) || front_ready(); });
    if (queue_.empty()) return;  // stopping, and everything handed over is done
    Item item = std::move(queue_.front());
    queue_.pop_front();
    busy_ = true;
    if (item.run) item.run->said = true;
    const SkipRun run = item.run ? *item.run : SkipRun{};
    if (item.shot.snap && item.shot.snap->lost_at_stop) ++lost_at_stop_;
    g.unlock();
    if (item.run) {
      log_skip_run(run);
    } else {
      mail_shot(item.shot);
      if (item.shot.snap) done_.fetch_add(1);
      if (lost_run_.note(opts_, item.shot) != LostRun::kNone) failed_.fetch_add(1);
    }
    item = Item{};  // its cost goes back before the stage says it is idle
    g.lock();
    // Nothing more waits: the run of lost pictures is said before the stage is idle.
    if (queue_.empty()) {
      g.unlock();
      lost_run_.flush(opts_);
      g.lock();
    }
    busy_ = false;
    idle_.notify_all();
  }
}

void SnapshotStage::log_skip_run(const SkipRun& r) {
  char text[320];
  int n =
      snprintf(text, sizeof text,
               "%llu DVR event snapshots skipped: the snapshot queue was full (first from <%s>)",
               (unsigned long long)r.count, r.dvr.c_str());
  if (r.mails_lost && n > 0 && size_t(n) < sizeof text)
    snprintf(text + n, sizeof text - size_t(n), "; %llu of their mails lost with them",
             (unsigned long long)r.mails_lost);
  write_system_log_line("EVENT", opts_ ? opts_->user_id : "", text);
}
