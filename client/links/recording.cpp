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
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/foundation/channel_table.h"
#include "client/foundation/config/app_options.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/sdl_lock.h"
#include "client/foundation/user_events.h"
#include "client/links/decoder_thread.h"
#include "client/links/frame_headers.h"

char last_record_name[256] = "";

// One open recording file, owned by the writer. Created by a switch, closed by the writer once
// every record queued for it is written (or at once after a failed write).
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
  // Writer thread only:
  bool failed = false;        // closed after a failed write; its queued records are skipped
  bool dir_synced = false;
  bool dirty = false;
  uint64_t whole = 0;         // bytes of whole records written
  std::chrono::steady_clock::time_point last_sync{};
};

namespace {

using Clock = std::chrono::steady_clock;

struct Entry {
  RECORD_SINK* sink;
  std::unique_ptr<uint8_t[]> bytes;
  size_t len;
};

struct Writer {
  std::mutex lock;
  std::condition_variable wake;     // the writer: work arrived, or stop
  std::condition_variable settled;  // end_recordings: a sink was finished
  std::deque<Entry> queue;
  size_t queued_bytes = 0;
  std::vector<RECORD_SINK*> sinks;  // every sink not yet finished
  bool stop = false;
  std::thread thread;
};
Writer writer;

std::mutex hooks_lock;
RECORDING_HOOKS hooks{};
std::atomic<RECORD_WRITE_FN> write_fn{nullptr};

std::atomic<uint64_t> n_queued{0}, n_written{0}, n_bytes{0}, n_dropped{0}, n_gaps{0},
    n_failures{0}, writer_cpu{0};

void note_writer_cpu() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  writer_cpu.store(uint64_t(ts.tv_sec) * 1000000000u + uint64_t(ts.tv_nsec));
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

void sync_sink(RECORD_SINK* s) {
  if (s->fd >= 0 && s->dirty) ::fdatasync(s->fd);
  s->dirty = false;
  s->last_sync = Clock::now();
}

// Writer thread: the sink's records are all written; sync, measure, close, maybe delete.
void finish_sink(RECORD_SINK* s) {
  if (!s->failed && s->file) {
    sync_sink(s);
    struct stat st{};
    const bool measured = ::fstat(s->fd, &st) == 0;
    std::fclose(s->file);
    if (s->delete_small && measured && st.st_size <= RECORD_MIN_KEPT_SIZE) ::unlink(s->name);
  }
  s->file = nullptr;
  s->fd = -1;
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
// file back to its last whole record and closes it.
void write_entry(const Entry& e) {
  RECORD_SINK* s = e.sink;
  if (s->failed || !s->file) return;
  if (!s->dir_synced) {
    sync_directory_of(s->name);
    s->dir_synced = true;
  }
  errno = 0;
  ssize_t n = do_write(s->fd, e.bytes.get(), e.len);
  if (n == ssize_t(e.len)) {
    s->whole += e.len;
    s->dirty = true;
    n_written.fetch_add(1);
    n_bytes.fetch_add(e.len);
    if (Clock::now() - s->last_sync >= std::chrono::seconds(1)) sync_sink(s);
    return;
  }
  const int err = n < 0 ? errno : ENOSPC;
  if (::ftruncate(s->fd, off_t(s->whole)) == 0) ::lseek(s->fd, off_t(s->whole), SEEK_SET);
  ::fsync(s->fd);
  std::fclose(s->file);
  s->file = nullptr;
  s->fd = -1;
  s->failed = true;
  n_failures.fetch_add(1);
  std::printf("Recording to %s stopped: %s\n", s->name, std::strerror(err ? err : EIO));
  detach_failed(s);
}

void writer_main() {
  std::unique_lock<std::mutex> lk(writer.lock);
  for (;;) {
    // Sinks whose records are all written are finished, outside the lock.
    for (size_t i = 0; i < writer.sinks.size();) {
      RECORD_SINK* s = writer.sinks[i];
      if (!s->closing || s->queued != 0) {
        ++i;
        continue;
      }
      writer.sinks.erase(writer.sinks.begin() + long(i));
      lk.unlock();
      finish_sink(s);
      delete s;
      lk.lock();
      writer.settled.notify_all();
    }
    if (writer.queue.empty()) {
      if (writer.stop && writer.sinks.empty()) break;
      writer.wake.wait_for(lk, std::chrono::milliseconds(250));
      if (!writer.queue.empty()) continue;
      // Idle: files written to more than a second ago are synced now.
      std::vector<RECORD_SINK*> due;
      for (RECORD_SINK* s : writer.sinks)
        if (Clock::now() - s->last_sync >= std::chrono::seconds(1)) due.push_back(s);
      lk.unlock();
      for (RECORD_SINK* s : due)
        if (!s->failed && s->fd >= 0) sync_sink(s);
      note_writer_cpu();
      lk.lock();
      continue;
    }
    Entry e = std::move(writer.queue.front());
    writer.queue.pop_front();
    lk.unlock();
    write_entry(e);
    note_writer_cpu();
    lk.lock();
    writer.queued_bytes -= e.len;
    e.sink->queued--;
  }
  note_writer_cpu();
}

// Window thread: the writer runs while any file is open.
void ensure_writer() {
  std::lock_guard<std::mutex> g(writer.lock);
  if (writer.thread.joinable()) return;
  writer.stop = false;
  writer.thread = std::thread(writer_main);
}

// A new file for channel k of rx, created exclusively (an existing file is never
// truncated: a clash takes the next name). nullptr when it cannot be created.
RECORD_SINK* open_sink(APP_CONTEXT* ctx, RECEIVER_INFO* rx, int k) {
  auto s = std::make_unique<RECORD_SINK>();
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (make_capture_name(&app_options, s->name, sizeof s->name, rx->name, k, "zol") != 0)
      return nullptr;
    s->fd = ::open(s->name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (s->fd >= 0 || errno != EEXIST) break;
  }
  if (s->fd < 0) return nullptr;
  s->file = ::fdopen(s->fd, "w+b");
  if (!s->file) {
    ::close(s->fd);
    ::unlink(s->name);
    return nullptr;
  }
  // The writer writes through the descriptor; the stream never buffers anything.
  std::setvbuf(s->file, nullptr, _IONBF, 0);
  s->ctx = ctx;
  s->rx = rx;
  s->channel = k;
  s->last_sync = Clock::now();
  return s.release();
}

// Window thread: attaches a new file to channel k and hands it to the writer. 1, or 0 when
// the file could not be created.
int switch_on(APP_CONTEXT* ctx, RECEIVER_INFO* rx, int k) {
  RECORD_SINK* s = open_sink(ctx, rx, k);
  if (!s) return 0;
  ensure_writer();
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
  writer.wake.notify_one();
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
  // Unselected channels that record keep their mask bits: the mask always names exactly the
  // channels whose records the receive threads append.
  for_each_selected(ctx, [&](RECEIVER_INFO& rx, CHANNEL_INFO& ch, int k) {
    if (ch.recording) {
      SdlLock lock(ctx->record_mutex);
      switch_off(&rx, k, true);
      any_off = true;
    } else if (switch_on(ctx, &rx, k)) {
      any_on = true;
    }
  });
  if (ctx->skin_window == 2) {
    RECORDING_HOOKS h = current_hooks();
    if (any_off && h.switch_q_dvrs_off) h.switch_q_dvrs_off(ctx);
    if (any_on && h.switch_q_dvrs_on) h.switch_q_dvrs_on(ctx);
  }
  return count_and_report(ctx);
}

int start_recording(APP_CONTEXT* ctx) {
  if (!ctx) return 0;
  for_each_selected(ctx, [&](RECEIVER_INFO& rx, CHANNEL_INFO& ch, int k) {
    if (!ch.recording) switch_on(ctx, &rx, k);
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
  std::thread done;
  {
    std::unique_lock<std::mutex> lk(writer.lock);
    if (!writer.thread.joinable()) return;
    // Sinks of this context are finished once their records are written; a writer that other
    // contexts still use keeps running.
    writer.settled.wait(lk, [&] {
      for (RECORD_SINK* s : writer.sinks)
        if (!ctx || s->ctx == ctx) return false;
      return true;
    });
    if (!writer.sinks.empty()) return;
    writer.stop = true;
    writer.wake.notify_one();
    done = std::move(writer.thread);
  }
  done.join();
}

RECORD_COUNTERS get_record_counters() {
  return {n_queued.load(), n_written.load(), n_bytes.load(), n_dropped.load(),
          n_gaps.load(),   n_failures.load(), writer_cpu.load()};
}

namespace {

// Time stamp (seconds) and key-frame mark of a record, read from its frame header.
double record_time(uint8_t protocol, uint8_t media, const uint8_t* fh, size_t fh_len,
                   bool* key) {
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
  if (!(t > last)) return 0;

  std::unique_lock<std::mutex> lk(writer.lock);
  // After a gap only a video key frame starts the file again, so it stays decodable.
  const bool resumes = media == 'Y' && key;
  if ((s->gap && !resumes) || writer.queued_bytes + len > RECORD_QUEUE_LIMIT) {
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
  std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[len]);
  if (!bytes) return -1;
  FRAME_RECORD_HEADER rh;
  rh.protocol = protocol;
  rh.media = media;
  rh.size = uint32_t(fh_len + body);
  encode_frame_record_header(rh, bytes.get());
  uint8_t* p = bytes.get() + FRAME_RECORD_HEADER_SIZE;
  if (fh_len) std::memcpy(p, fh, fh_len);
  p += fh_len;
  if (data_len) std::memcpy(p, data, data_len);
  if (body > data_len) std::memset(p + data_len, 0, body - data_len);
  writer.queue.push_back({s, std::move(bytes), len});
  writer.queued_bytes += len;
  s->queued++;
  last = t;
  n_queued.fetch_add(1);
  lk.unlock();
  writer.wake.notify_one();
  return 1;
}
