#include "client/foundation/config/mailslot.h"

#include <array>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/net/local_dgram.h"
#include "platform/sync/thread_name.h"
#include "platform/wire/byte_reader.h"

void encode_event_notice(const EVENT_NOTICE& n, uint8_t* out) {
  std::memset(out, 0, EVENT_NOTICE_SIZE);
  uint64_t t = uint64_t(n.time);
  put_le32(out, uint32_t(t));
  put_le32(out + 4, uint32_t(t >> 32));
  std::memcpy(out + 8, n.dvr_name, sizeof n.dvr_name);
  out[8 + 130] = 0;
  out[139] = n.marker;
  out[140] = n.kind;
  put_le32(out + 152, n.mask_motion);
  put_le32(out + 160, n.mask_sensor);
  put_le32(out + 164, n.mask_40);
  put_le32(out + 168, n.mask_80);
}

EVENT_NOTICE decode_event_notice(const uint8_t* in) {
  EVENT_NOTICE n;
  n.time = int64_t(uint64_t(get_le32(in)) | (uint64_t(get_le32(in + 4)) << 32));
  std::memcpy(n.dvr_name, in + 8, sizeof n.dvr_name);
  n.dvr_name[sizeof n.dvr_name - 1] = 0;
  n.marker = in[139];
  n.kind = in[140];
  n.mask_motion = get_le32(in + 152);
  n.mask_sensor = get_le32(in + 160);
  n.mask_40 = get_le32(in + 164);
  n.mask_80 = get_le32(in + 168);
  return n;
}

void encode_mailslot_request(const MAILSLOT_REQUEST& r, uint8_t* out) {
  std::memset(out, 0, MAILSLOT_REQUEST_SIZE);
  const uint32_t words[8] = {r.kind, r.year,   r.month,  r.day,
                             r.hour, r.minute, r.unused, r.channel_mask};
  for (int i = 0; i < 8; ++i) put_le32(out + 4 * i, words[i]);
  std::memcpy(out + 32, r.target, sizeof r.target);
  out[MAILSLOT_REQUEST_SIZE - 1] = 0;
}

MAILSLOT_REQUEST decode_mailslot_request(const uint8_t* in) {
  MAILSLOT_REQUEST r;
  uint32_t* words[8] = {&r.kind, &r.year,   &r.month,  &r.day,
                        &r.hour, &r.minute, &r.unused, &r.channel_mask};
  for (int i = 0; i < 8; ++i) *words[i] = get_le32(in + 4 * i);
  std::memcpy(r.target, in + 32, sizeof r.target);
  r.target[sizeof r.target - 1] = 0;
  return r;
}

namespace {

// The kernel queues only a few datagrams for a reader (ten by default), so a burst of DVR
// events would be lost on a reader that is a moment late. Notices it cannot take yet wait
// here, in order, and a thread of this module hands them on as it makes room.
class MailslotSender {
 public:
  using Message = std::array<uint8_t, EVENT_NOTICE_SIZE>;

  ~MailslotSender() {
    {
      std::lock_guard<std::mutex> g(lock_);
      stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

  int send(const Message& m) {
    std::unique_lock<std::mutex> g(lock_);
    if (queue_.empty()) {
      int r = local_dgram_send(MAILSLOT_NAME, m.data(), m.size());
      if (r == 0) return 0;
      if (r == 1) {
        std::printf("Error : Unable to create mailslot ! \n");
        return 1;
      }
      if (r != 3) return failed();
    }
    if (queue_.size() >= MAILSLOT_SEND_QUEUE) return failed();
    queue_.push_back(m);
    if (!thread_.joinable())
      thread_ = std::thread([this] {
        set_current_thread_name("mailslot");
        run();
      });
    wake_.notify_all();
    return 0;
  }

 private:
  // One line per run of lost notices, not one per notice.
  int failed() {
    if (!reported_) std::printf("Error : Mailslot send fail.\n");
    reported_ = true;
    return 1;
  }

  void run() {
    std::unique_lock<std::mutex> g(lock_);
    for (;;) {
      wake_.wait(g, [this] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      Message m = queue_.front();
      g.unlock();
      int r = local_dgram_send(MAILSLOT_NAME, m.data(), m.size(), 100);
      g.lock();
      if (r == 3) continue;  // still full: try again
      if (r == 0) {
        reported_ = false;
        queue_.pop_front();
      } else {
        // The reader went away (or the channel broke): what waits for it is lost.
        queue_.clear();
        failed();
      }
    }
  }

  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<Message> queue_;
  std::thread thread_;
  bool stop_ = false;
  bool reported_ = false;
};

MailslotSender& sender() {
  static MailslotSender s;
  return s;
}

// The source file's own name, without the build machine's directories.
constexpr const char* base_name(const char* path) {
  const char* base = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') base = p + 1;
  return base;
}

}  // namespace

int send_event_mailslot(const EVENT_NOTICE& notice) {
  MailslotSender::Message m;
  encode_event_notice(notice, m.data());
  return sender().send(m);
}

int mailslot_create_reader() {
  int fd = local_dgram_create(MAILSLOT_NAME);
  if (fd < 0) std::printf("[%s:%d]Error : Don't create mailslot!\n", base_name(__FILE__), __LINE__);
  return fd < 0 ? -1 : fd;
}

int mailslot_read(int reader, uint8_t* out, size_t size, int wait_ms) {
  uint8_t buf[512];
  if (wait_ms != 0) {
    int w = local_dgram_wait(reader, wait_ms);
    if (w <= 0) return w;
  }
  long n = local_dgram_read(reader, buf, sizeof buf);
  if (n == 0) return 0;  // also a zero-length datagram, which carries nothing
  if (n < 0) return -1;
  if (size_t(n) != size || size > sizeof buf) return MAILSLOT_WRONG_SIZE;
  std::memcpy(out, buf, size);
  return 1;
}

void mailslot_close_reader(int& reader) { local_dgram_close(reader, MAILSLOT_NAME); }
