// Recording switches, the append of the receive threads, the bounded queue and its writer.
#include "client/links/recording.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/foundation/channel_table.h"
#include "client/foundation/config/app_options.h"
#include "client/foundation/config/system_log.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/sdl_lock.h"
#include "client/foundation/user_events.h"
#include "client/links/decoder_thread.h"
#include "client/links/frame_headers.h"
#include "client/links/link_notices.h"
#include "platform/sync/thread_name.h"

char last_record_name[256] = "";

// One open recording file. Created by a switch; written by the writer thread; synced,
// closed (and maybe deleted) by the sync thread once every record queued for it is written.
struct RECORD_SINK {
  FILE* file = nullptr;
  int fd = -1;
  char name[256] = "";
  APP_CONTEXT* ctx = nullptr;
  RECEIVER_INFO* rx = nullptr;
  int channel = 0;
  // Queue lock:
  uint32_t queued = 0;        // records in the queue for this file
  bool closing = false;       // detached from its channel: close once `queued` is 0
  bool delete_small = false;  // the record switch closed it: delete a short file
  bool gap = false;           // dropping until the next key frame
  uint32_t gap_dropped = 0;
  bool failed = false;  // a write failed: the file was cut back, the rest is skipped
  // Writer thread only:
  uint64_t whole = 0;  // bytes of whole records written
  // Sync thread only:
  bool dir_synced = false;
  std::chrono::steady_clock::time_point last_sync{};
  std::atomic<bool> dirty{false};  // written since the last sync
};

namespace {

using Clock = std::chrono::steady_clock;
// The writer looks at the queue every kWriterPoll; receive threads wake it early only once
// kWriterWakeBytes are queued, so a record costs them no system call.
constexpr auto kWriterPoll = std::chrono::milliseconds(10);
constexpr size_t kWriterWakeBytes = size_t(1) << 20;
constexpr auto kSyncEvery = std::chrono::seconds(1);

// Queue entries lie in one ring of RECORD_QUEUE_LIMIT bytes, allocated and touched when the
// writer starts, so a record costs a receive thread one copy and no allocation: a 16-byte
// head (record length, wrap mark, sink), the record, padding to 8 bytes. An entry never
// wraps; the tail skipped before a wrap counts as used until the writer passes it.
constexpr size_t kEntryHead = 16;
constexpr uint32_t kWrapMark = 1;
size_t entry_size(size_t len) { return kEntryHead + ((len + 7) & ~size_t(7)); }

struct Queue {
  uint8_t* ring = nullptr;
  size_t head = 0, tail = 0, used = 0;

  // Room for a record of len bytes: where to copy it, or nullptr when the queue is full.
  uint8_t* reserve(size_t len, RECORD_SINK* sink) {
    const size_t need = entry_size(len);
    const size_t waste = tail + need > RECORD_QUEUE_LIMIT ? RECORD_QUEUE_LIMIT - tail : 0;
    if (used + waste + need > RECORD_QUEUE_LIMIT) return nullptr;
    if (waste) {
      if (waste >= kEntryHead) put_head(tail, 0, kWrapMark, nullptr);
      used += waste;
      tail = 0;
    }
    uint8_t* at = ring + tail;
    put_head(tail, uint32_t(len), 0, sink);
    tail = (tail + need) % RECORD_QUEUE_LIMIT;
    used += need;
    return at + kEntryHead;
  }
  // The oldest entry (its record and sink), or false when the queue is empty.
  bool front(const uint8_t** record, size_t* len, RECORD_SINK** sink) {
    if (used == 0) return false;
    uint32_t n, mark;
    if (RECORD_QUEUE_LIMIT - head < kEntryHead ||
        (get_head(head, &n, &mark, sink), mark == kWrapMark)) {
      used -= RECORD_QUEUE_LIMIT - head;
      head = 0;
      if (used == 0) return false;
    }
    get_head(head, &n, &mark, sink);
    *record = ring + head + kEntryHead;
    *len = n;
    return true;
  }
  void pop(size_t len) {
    const size_t need = entry_size(len);
    head = (head + need) % RECORD_QUEUE_LIMIT;
    used -= need;
    if (used == 0) head = tail = 0;
  }

 private:
  void put_head(size_t at, uint32_t len, uint32_t mark, RECORD_SINK* sink) {
    std::memcpy(ring + at, &len, 4);
    std::memcpy(ring + at + 4, &mark, 4);
    std::memcpy(ring + at + 8, &sink, sizeof sink);
  }
  void get_head(size_t at, uint32_t* len, uint32_t* mark, RECORD_SINK** sink) const {
    std::memcpy(len, ring + at, 4);
    std::memcpy(mark, ring + at + 4, 4);
    std::memcpy(sink, ring + at + 8, sizeof *sink);
  }
};
static_assert(sizeof(RECORD_SINK*) <= 8);

struct Writer {
  std::mutex lock;
  std::condition_variable wake;       // the writer: much queued, or stop
  std::condition_variable sync_wake;  // the sync thread: a file may be ready to close
  std::condition_variable settled;    // end_recordings: a sink was finished
  Queue queue;
  std::vector<RECORD_SINK*> sinks;  // every sink not yet finished
  bool stop = false;
  std::thread thread, syncer;
};
Writer writer;

std::mutex hooks_lock;
RECORDING_HOOKS hooks{};
std::atomic<RECORD_WRITE_FN> write_fn{nullptr};

std::atomic<uint64_t> n_queued{0}, n_written{0}, n_bytes{0}, n_dropped{0}, n_gaps{0}, n_failures{0},
    writer_cpu{0};

// The operator was told of a failed write since recording was last switched on: a full disk
// stops every channel at about once, and one box says so (the rest go to standard output).
std::atomic<bool> failure_told{false};

// CPU of the writers that ended, so the figure never goes back when a writer is restarted
// (a new thread's clock starts at 0).
std::atomic<uint64_t> ended_writers_cpu{0};

void note_writer_cpu(bool ending = false) {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  const uint64_t mine = uint64_t(ts.tv_sec) * 1000000000u + uint64_t(ts.tv_nsec);
  writer_cpu.store(ended_writers_cpu.load() + mine);
  if (ending) ended_writers_cpu.fetch_add(mine);
}

ssize_t do_write(int fd, const void* p, size_t n) {
  RECORD_WRITE_FN fn = write_fn.load();
  return fn ? fn(fd, p, n) : ::write(fd, p, n);
}

void sync_directory_of(const char* name) {
  std::string dir(name);
  size_t slash = dir.rfind('/');
  dir = slash == std::string::npos ? "." : dir.substr(0, slash + 1);
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Sync thread: data written since the last sync reaches the disk.
void sync_sink(RECORD_SINK* s) {
  if (s->dirty.exchange(false)) ::fdatasync(s->fd);
  s->last_sync = Clock::now();
}

// Sync thread: every record of the sink is written (or skipped after a failure); sync,
// measure, close, and delete a short file the record switch closed.
void finish_sink(RECORD_SINK* s) {
  if (!s->failed) sync_sink(s);
  struct stat st {};
  const bool measured = ::fstat(s->fd, &st) == 0;
  std::fclose(s->file);
  s->file = nullptr;
  s->fd = -1;
  // A file that a failed write left without one whole record holds nothing to play.
  if (s->failed ? s->whole == 0 : s->delete_small && measured && st.st_size <= RECORD_MIN_KEPT_SIZE)
    ::unlink(s->name);
  if (s->gap_dropped)
    std::printf("%s: %u records dropped while the recording queue was full.\n", s->name,
                s->gap_dropped);
}

// Writer thread, holding no lock: switches the sink's channel off after a failed write.
void detach_failed(RECORD_SINK* s) {
  APP_CONTEXT* ctx = s->ctx;
  bool none_left = false;
  {
    SdlLock lock(ctx->record_mutex);
    CHANNEL_INFO& ch = s->rx->channels[s->channel];
    if (ch.record_sink != s) return;  // a switch already took it off
    ch.recording = 0;
    ch.record_sink = nullptr;
    ch.record_file = nullptr;
    s->rx->record_mask.fetch_and(~(1u << s->channel));
    {
      std::lock_guard<std::mutex> g(writer.lock);
      s->closing = true;
    }
    none_left = count_marked_channels(ctx) == 0;
  }
  if (none_left) push_user_event(UE_RECORD_STATE);
}

// Writer thread: one record to its file with one write. A failed or short write cuts the
// file back to its last whole record; the sync thread closes it.
void write_record(RECORD_SINK* s, const uint8_t* record, size_t len) {
  bool failed;
  {
    std::lock_guard<std::mutex> g(writer.lock);
    failed = s->failed;
  }
  if (failed) return;
  errno = 0;
  ssize_t n = do_write(s->fd, record, len);
  if (n == ssize_t(len)) {
    s->whole += len;
    s->dirty.store(true);
    n_written.fetch_add(1);
    n_bytes.fetch_add(len);
    return;
  }
  const int err = n < 0 ? errno : ENOSPC;
  if (::ftruncate(s->fd, off_t(s->whole)) == 0) ::lseek(s->fd, off_t(s->whole), SEEK_SET);
  ::fsync(s->fd);
  {
    std::lock_guard<std::mutex> g(writer.lock);
    s->failed = true;
  }
  n_failures.fetch_add(1);
  char text[400];
  std::snprintf(text, sizeof text, "Recording to %s stopped: %s\n", s->name,
                std::strerror(err ? err : EIO));
  std::fputs(text, stdout);
  // The writer shows no box: the window loop shows it.
  if (!failure_told.exchange(true)) post_link_error_box(-1, text);
  detach_failed(s);
}

void writer_main() {
  set_current_thread_name("rec writer");
  std::unique_lock<std::mutex> lk(writer.lock);
  for (;;) {
    const uint8_t* record;
    size_t len;
    RECORD_SINK* s;
    if (!writer.queue.front(&record, &len, &s)) {
      if (writer.stop) break;
      writer.wake.wait_for(lk, kWriterPoll);
      continue;
    }
    // The entry stays counted as used while it is written, so nothing overwrites it.
    lk.unlock();
    write_record(s, record, len);
    note_writer_cpu();
    lk.lock();
    writer.queue.pop(len);
    if (--s->queued == 0 && s->closing) writer.sync_wake.notify_one();
  }
  note_writer_cpu(true);
}

// Syncs each open file about once a second, syncs the directory of a new file, and closes
// files whose records are all written. Syncs never hold up the writer.
void sync_main() {
  set_current_thread_name("rec sync");
  std::unique_lock<std::mutex> lk(writer.lock);
  for (;;) {
    std::vector<RECORD_SINK*> ready, due;
    for (size_t i = 0; i < writer.sinks.size();) {
      RECORD_SINK* s = writer.sinks[i];
      if (s->closing && s->queued == 0) {
        ready.push_back(s);
        writer.sinks.erase(writer.sinks.begin() + long(i));
      } else {
        if (!s->failed && (!s->dir_synced || Clock::now() - s->last_sync >= kSyncEvery))
          due.push_back(s);
        ++i;
      }
    }
    if (ready.empty() && due.empty() && writer.stop && writer.sinks.empty()) break;
    lk.unlock();
    for (RECORD_SINK* s : due) {
      if (!s->dir_synced) sync_directory_of(s->name);
      s->dir_synced = true;
      sync_sink(s);
    }
    for (RECORD_SINK* s : ready) {
      finish_sink(s);
      delete s;
    }
    lk.lock();
    if (!ready.empty()) writer.settled.notify_all();
    if (ready.empty()) writer.sync_wake.wait_for(lk, std::chrono::milliseconds(100));
  }
}

// Window thread: the writer and the sync thread run while any file is open. false when the
// queue's memory cannot be had.
bool ensure_writer() {
  std::lock_guard<std::mutex> g(writer.lock);
  if (writer.thread.joinable()) return true;
  if (!writer.queue.ring) {
    writer.queue.ring = static_cast<uint8_t*>(std::malloc(RECORD_QUEUE_LIMIT));
    if (!writer.queue.ring) return false;
    std::memset(writer.queue.ring, 0, RECORD_QUEUE_LIMIT);
  }
  writer.queue.head = writer.queue.tail = writer.queue.used = 0;
  writer.stop = false;
  writer.thread = std::thread(writer_main);
  writer.syncer = std::thread(sync_main);
  return true;
}

// A new file for channel k of rx, created exclusively (an existing file is never
// truncated: a clash takes the next name). nullptr when it cannot be created, with the
// operator's line ("Recording to <file or folder> not started: <reason>\n") in `why`.
RECORD_SINK* open_sink(APP_CONTEXT* ctx, RECEIVER_INFO* rx, int k, char* why, size_t why_size) {
  auto s = std::make_unique<RECORD_SINK>();
  auto fail = [&](const char* target, int err) -> RECORD_SINK* {
    std::snprintf(why, why_size, "Recording to %s not started: %s\n", target,
                  std::strerror(err ? err : EIO));
    return nullptr;
  };
  for (int attempt = 0; attempt < 100; ++attempt) {
    errno = 0;
    if (make_capture_name(&app_options, s->name, sizeof s->name, rx->name, k, "zol") != 0)
      return fail(capture_folder(&app_options).c_str(), errno ? errno : ENAMETOOLONG);
    s->fd = ::open(s->name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (s->fd >= 0 || errno != EEXIST) break;
  }
  if (s->fd < 0) return fail(s->name, errno);
  s->file = ::fdopen(s->fd, "w+b");
  if (!s->file) {
    const int err = errno;
    ::close(s->fd);
    ::unlink(s->name);
    return fail(s->name, err);
  }
  // The writer writes through the descriptor; the stream never buffers anything.
  std::setvbuf(s->file, nullptr, _IONBF, 0);
  s->ctx = ctx;
  s->rx = rx;
  s->channel = k;
  s->last_sync = Clock::now();
  return s.release();
}

// Files a switch could not create: each is printed; the first of the switch is also a
// system log line and the window loop's error box, so a record folder that cannot hold a
// file shows one box however many channels were selected.
struct CreateFailures {
  int count = 0;
  void note(const char* why) {
    std::fputs(why, stdout);
    if (count++ > 0) return;
    write_system_log_line("ERROR", app_options.user_id, why);
    post_link_error_box(-1, why);
  }
};

// Window thread: attaches a new file to channel k and hands it to the writer. 1, or 0 when
// the file could not be created (noted in `failures`).
int switch_on(APP_CONTEXT* ctx, RECEIVER_INFO* rx, int k, CreateFailures& failures) {
  char why[400];
  RECORD_SINK* s = open_sink(ctx, rx, k, why, sizeof why);
  if (!s) {
    failures.note(why);
    return 0;
  }
  failure_told.store(false);  // a write failing from here on is news again
  if (!ensure_writer()) {
    std::fclose(s->file);
    ::unlink(s->name);
    delete s;
    return 0;
  }
  SdlLock lock(ctx->record_mutex);
  {
    std::lock_guard<std::mutex> g(writer.lock);
    writer.sinks.push_back(s);
  }
  CHANNEL_INFO& ch = rx->channels[k];
  ch.record_sink = s;
  ch.record_file = s->file;
  std::snprintf(ch.record_name, sizeof ch.record_name, "%s", s->name);
  ch.record_video_time = ch.record_audio_time = 0;
  ch.recording = 1;
  rx->record_mask.fetch_or(1u << k);
  return 1;
}

// Takes the file off channel k and hands its close to the writer, after its queued records.
// Caller holds the record mutex.
void switch_off(RECEIVER_INFO* rx, int k, bool delete_small) {
  CHANNEL_INFO& ch = rx->channels[k];
  ch.recording = 0;
  rx->record_mask.fetch_and(~(1u << k));
  RECORD_SINK* s = ch.record_sink;
  ch.record_sink = nullptr;
  ch.record_file = nullptr;
  std::snprintf(last_record_name, sizeof last_record_name, "%s", ch.record_name);
  if (!s) return;
  std::lock_guard<std::mutex> g(writer.lock);
  s->closing = true;
  s->delete_small = delete_small;
  writer.sync_wake.notify_one();
}

template <typename Fn>
void for_each_selected(APP_CONTEXT* ctx, Fn fn) {
  for_each_channel(ctx, [&](RECEIVER_INFO& rx, CHANNEL_INFO& ch, int k) {
    if (ch.selected) fn(rx, ch, k);
  });
}

int count_and_report(APP_CONTEXT* ctx) {
  int n = count_marked_channels(ctx);
  if (n == 0) push_user_event(UE_RECORD_STATE);
  return n;
}

RECORDING_HOOKS current_hooks() {
  std::lock_guard<std::mutex> g(hooks_lock);
  return hooks;
}

}  // namespace

void set_recording_hooks(const RECORDING_HOOKS& h) {
  std::lock_guard<std::mutex> g(hooks_lock);
  hooks = h;
}

void set_record_write(RECORD_WRITE_FN fn) { write_fn.store(fn); }

int toggle_recording(APP_CONTEXT* ctx) {
  if (!ctx) return 0;
  bool any_on = false, any_off = false;
  CreateFailures failures;
  // Unselected channels that record keep their mask bits: the mask always names exactly the
  // channels whose records the receive threads append.
  for_each_selected(ctx, [&](RECEIVER_INFO& rx, CHANNEL_INFO& ch, int k) {
    if (ch.recording) {
      SdlLock lock(ctx->record_mutex);
      switch_off(&rx, k, true);
      any_off = true;
    } else if (switch_on(ctx, &rx, k, failures)) {
      any_on = true;
    }
  });
  if (ctx->skin_window == SKIN_MAIN) {
    RECORDING_HOOKS h = current_hooks();
    if (any_off && h.switch_q_dvrs_off) h.switch_q_dvrs_off(ctx);
    if (any_on && h.switch_q_dvrs_on) h.switch_q_dvrs_on(ctx);
  }
  return count_and_report(ctx);
}

int start_recording(APP_CONTEXT* ctx) {
  if (!ctx) return 0;
  CreateFailures failures;
  for_each_selected(ctx, [&](RECEIVER_INFO& rx, CHANNEL_INFO& ch, int k) {
    if (!ch.recording) switch_on(ctx, &rx, k, failures);
  });
  return count_and_report(ctx);
}

int stop_recording(APP_CONTEXT* ctx) {
  if (!ctx) return 0;
  {
    SdlLock lock(ctx->record_mutex);
    for_each_channel(ctx, [&](RECEIVER_INFO& rx, CHANNEL_INFO& ch, int k) {
      if (ch.recording || ch.record_sink) switch_off(&rx, k, false);
    });
  }
  push_user_event(UE_RECORD_STATE);
  return 0;
}

void end_recordings(APP_CONTEXT* ctx) {
  if (ctx) {
    SdlLock lock(ctx->record_mutex);
    for (int r = 0; r < MAX_RECEIVERS; ++r) {
      RECEIVER_INFO& rx = ctx->receivers[r];
      for (int k = 0; k < MAX_CHANNELS; ++k)
        if (rx.channels[k].recording || rx.channels[k].record_sink) switch_off(&rx, k, false);
    }
  }
  std::thread done, synced;
  {
    std::unique_lock<std::mutex> lk(writer.lock);
    if (!writer.thread.joinable()) return;
    writer.sync_wake.notify_one();
    // Sinks of this context are finished once their records are written; a writer that other
    // contexts still use keeps running.
    writer.settled.wait(lk, [&] {
      for (RECORD_SINK* s : writer.sinks)
        if (!ctx || s->ctx == ctx) return false;
      return true;
    });
    // Another caller (the teardown worker, or the end at the X server's loss) may have
    // stopped the writer meanwhile.
    if (!writer.sinks.empty() || !writer.thread.joinable()) return;
    writer.stop = true;
    writer.wake.notify_one();
    writer.sync_wake.notify_one();
    done = std::move(writer.thread);
    synced = std::move(writer.syncer);
  }
  done.join();
  synced.join();
  std::lock_guard<std::mutex> g(writer.lock);
  std::free(writer.queue.ring);
  writer.queue.ring = nullptr;
}

RECORD_COUNTERS get_record_counters() {
  return {n_queued.load(), n_written.load(),  n_bytes.load(),   n_dropped.load(),
          n_gaps.load(),   n_failures.load(), writer_cpu.load()};
}

namespace {

// Time stamp (seconds) and key-frame mark of a record, read from its frame header.
double record_time(uint8_t protocol, uint8_t media, const uint8_t* fh, size_t fh_len, bool* key) {
  *key = false;
  if (media == 'A') {
    if (fh_len < AUDIO_FRAME_HEADER_SIZE) return 0;
    return get_le32(fh + 16) + get_le16(fh + 20) / 1000.0;
  }
  if (protocol == 'Q' || protocol == 'S') {
    if (fh_len < FRAME_HEADER_SIZE) return 0;
    FRAME_HEADER h = decode_frame_header(fh);
    *key = is_key_frame(h.frame_type, protocol) != 0;
    return h.sec + h.msec / 1000.0;
  }
  if (fh_len < PICTURE_HEADER_SIZE) return 0;
  PICTURE_HEADER h = decode_picture_header(fh);
  *key = h.vop_type == 0;
  return h.sec + h.usec / 1000000.0;
}

}  // namespace

int append_record(RECEIVER_INFO* rx, int channel, uint8_t protocol, uint8_t media,
                  const uint8_t* fh, size_t fh_len, const uint8_t* data, size_t data_len,
                  size_t reserve) {
  if (!rx || channel < 0 || channel >= MAX_CHANNELS) return 0;
  if (!((rx->record_mask.load(std::memory_order_relaxed) >> channel) & 1u)) return 0;
  APP_CONTEXT* ctx = rx->context;
  if (!ctx) return 0;
  bool key = false;
  const double t = record_time(protocol, media, fh, fh_len, &key);
  const size_t body = std::max(data_len, reserve);
  const size_t len = FRAME_RECORD_HEADER_SIZE + fh_len + body;

  SdlLock lock(ctx->record_mutex);
  CHANNEL_INFO& ch = rx->channels[channel];
  RECORD_SINK* s = ch.record_sink;
  if (!ch.recording || !s) return 0;
  double& last = media == 'A' ? ch.record_audio_time : ch.record_video_time;
  const bool later = t > last;
  // A 'W' playback that the operator starts again at an earlier minute goes back in time: the
  // last time follows every frame, so recording goes on from the jump (a frame that repeats
  // or goes back is still left out).
  if (protocol == 'W') last = t;
  if (!later) return 0;

  std::unique_lock<std::mutex> lk(writer.lock);
  // After a gap only a video key frame starts the file again, so it stays decodable.
  const bool resumes = media == 'Y' && key;
  uint8_t* p = s->gap && !resumes ? nullptr : writer.queue.reserve(len, s);
  if (!p) {
    if (!s->gap) {
      s->gap = true;
      n_gaps.fetch_add(1);
      std::printf("%s: recording queue full; dropping until the next key frame.\n", s->name);
    }
    s->gap_dropped++;
    n_dropped.fetch_add(1);
    return -1;
  }
  s->gap = false;
  put_record(p, protocol, media, fh, fh_len, data, data_len, body);
  s->queued++;
  last = t;
  n_queued.fetch_add(1);
  const bool urgent = writer.queue.used >= kWriterWakeBytes;
  lk.unlock();
  if (urgent) writer.wake.notify_one();
  return 1;
}
