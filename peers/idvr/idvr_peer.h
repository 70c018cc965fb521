// Simulated 'I' DVR for tests, benchmarks and the demo: a live, a playback and a control
// port on 127.0.0.1. On the picture ports it checks the login record (user and password
// char[8]), answers kind 1 with its process id in decimal text, then streams kind-2 records
// (the wire picture header and MPEG-4 VOPs of the synthetic picture showing the channel
// number, seq_cnt counted from the last key frame, codec flag 1 for interlaced encoding)
// with kinds 3, 5 and 6 mixed in; in playback each frame is followed by the extra block its
// word at 60 counts. It stores the records the client sends (login, channel changes,
// logout) and, on the control port, the text commands with their arrival times. Faults on
// request: a drop in the middle of a record, a stall, unknown kinds, oversized lengths,
// a refused login (closed without kind 1), being down for a while (every link reset).
//
// Threads: one accept thread per port and one thread per connection, owned and joined by
// the peer. The public calls are thread-safe.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace idvr {

enum class Oversize { None, Frame, Drop, Extra };  // kind 2 of 0x40001, kind 3 of 49, huge block

struct PeerConfig {
  uint16_t live_port = 0, pb_port = 0, ctrl_port = 0;  // 0: free ports
  int channels = 4;
  int width = 352, height = 240;
  int fps = 30;  // per channel; 0: as fast as the link takes them
  int gop = 15;
  int clip_frames = 30;
  bool interlaced = false;
  int picture_offset = 0;  // the pictures show channel + offset
  std::string user = "admin";
  std::string password = "secret";
  int ctrl_pid = 4242;
  bool mix = true;             // kinds 3, 5 and 6 between frames
  uint32_t extra_block = 100;  // playback: bytes behind every frame
  int64_t clock_start_ms = 0;  // stamp of a session's first frame (ms); 0: the DVR's clock then
  // Faults.
  int drop_after = 0;     // after n frames, half a record and close
  bool stall = false;     // accept, read, never answer
  int unknown_every = 0;  // a record of unknown kind before every n-th frame
  int login_every = 0;    // the login answer (kind 1) again before every n-th frame
  Oversize oversize = Oversize::None;
  int oversize_after = 0;  // the oversized record after n frames of each connection
  bool refuse = false;     // close without kind 1
  // Pre-encoded VOPs and key flags per channel (benchmarks with many DVRs).
  std::shared_ptr<const std::vector<std::vector<std::vector<uint8_t>>>> shared_clips;
  std::shared_ptr<const std::vector<std::vector<bool>>> shared_keys;
};

struct Record {  // a 76-byte record the client sent
  uint32_t kind = 0, sub = 0;
  std::vector<uint8_t> bytes;
};

struct Command {             // a text command on the control port
  std::string text;          // after the prefix
  long long at_ms = 0;       // arrival, monotonic
  long pictures_before = 0;  // playback pictures sent before it arrived
  bool prefixed = false;     // began with "QX-27391-TORMEKA"
};

class IdvrPeer {
 public:
  explicit IdvrPeer(const PeerConfig& cfg);
  ~IdvrPeer();
  IdvrPeer(const IdvrPeer&) = delete;
  IdvrPeer& operator=(const IdvrPeer&) = delete;

  bool start();
  void stop();
  uint16_t live_port() const { return live_port_; }
  uint16_t pb_port() const { return pb_port_; }
  uint16_t ctrl_port() const { return ctrl_port_; }

  std::vector<Record> records() const;
  bool wait_record(uint32_t kind, int nth, int timeout_ms, Record* out = nullptr) const;
  std::vector<Command> commands() const;
  bool wait_commands(size_t n, int timeout_ms) const;
  int connections() const { return connections_.load(); }
  int logins() const { return logins_.load(); }
  long frames_sent() const { return frames_sent_.load(); }
  long long bytes_sent() const { return bytes_sent_.load(); }
  bool wait_frames(long n, int timeout_ms) const;
  void drop_connections();
  // Down (true): its links are cut and every new one is reset until it is up again (false).
  void set_offline(bool down);

  const std::vector<uint8_t>& clip_frame(int channel, int index) const;
  bool clip_key(int channel, int index) const;

 private:
  struct Session;
  void accept_loop(int fd, bool playback, bool control);
  void run_session(std::shared_ptr<Session> s);
  void run_control(std::shared_ptr<Session> s);

  PeerConfig cfg_;
  int live_fd_ = -1, pb_fd_ = -1, ctrl_fd_ = -1;
  uint16_t live_port_ = 0, pb_port_ = 0, ctrl_port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> offline_{false};
  std::vector<std::thread> accept_threads_;
  mutable std::mutex lock_;
  mutable std::condition_variable cv_;
  std::vector<Record> records_;
  std::vector<Command> commands_;
  std::vector<std::shared_ptr<Session>> sessions_;
  std::vector<std::thread> session_threads_;
  std::shared_ptr<const std::vector<std::vector<std::vector<uint8_t>>>> clips_;
  std::shared_ptr<const std::vector<std::vector<bool>>> keys_;
  std::atomic<int> connections_{0};
  std::atomic<int> logins_{0};
  std::atomic<long> frames_sent_{0};
  std::atomic<long> pb_frames_sent_{0};
  std::atomic<long long> bytes_sent_{0};
};

// VOPs and key flags of `channels` channels (synthetic pictures showing channel + offset).
void encode_clips(int channels, int width, int height, int fps, int gop, int frames,
                  bool interlaced, int offset, std::vector<std::vector<std::vector<uint8_t>>>* vops,
                  std::vector<std::vector<bool>>* keys);
// A kind-2 record (76 bytes) for a frame of `size` bytes.
std::vector<uint8_t> video_record(uint32_t size, bool key, uint32_t seq, int channel, int width,
                                  int height, bool interlaced, uint32_t interval, uint32_t extra,
                                  uint32_t sec, uint32_t usec);

}  // namespace idvr
