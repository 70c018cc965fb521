// Simulated 'Q' DVR for tests, benchmarks and the demo: listens on 127.0.0.1, checks the
// login body, answers the configured version pair, streams live type-3 packets (type 17
// after a play request) (real H.264
// access units of a synthetic picture showing the channel number, plus mu-law audio blocks)
// for the selected channels in the configured frame-header layout, and records every request
// the client sends. Faults can be injected: garbage between packets, a drop in the middle of
// a frame, a stall, oversized and truncated packets, a refused login.
//
// Threads: one accept thread and one thread per connection, all owned and joined by the
// peer. The public calls are thread-safe; pushes (events, presets, ...) are queued and sent
// by each connection's own thread between packets, so nothing interleaves.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qdvr {

enum class Login { Accept, Refuse, Mismatch, Error, Silent };

struct PeerConfig {
  uint16_t port = 0;              // 0: a free port
  int channels = 4;
  int width = 176, height = 144;  // picture size of every channel
  int fps = 30;                   // per channel; 0 = as fast as the link takes them
  int gop = 25;
  int clip_frames = 50;           // frames encoded once per channel and replayed
  uint32_t version = 0x22F0;      // login reply pair; 0x22F0/0x0303 gives layout 3
  uint32_t sub_version = 0x0303;
  Login login = Login::Accept;
  uint16_t login_error = 0x1022;  // the 238 code sent with Login::Error
  std::string user;               // expected user; empty accepts any
  std::string password;           // expected password (checked only when user is set)
  bool audio = true;              // audio blocks (layout 3 only)
  bool video_loss = false;        // report channel 0 as lost in the status prefix at start
  // Faults.
  int garbage_every = 0;          // garbage bytes before every n-th stream packet
  int drop_after = 0;             // after n stream packets, send half a packet and close
  int oversize_every = 0;         // every n-th packet: a body larger than the client buffer
  int truncate_every = 0;         // every n-th packet: FSH claims more video than sent
  bool stall = false;             // accept, read, never answer
  // Pre-encoded access units (and key flags) replayed on every channel instead of encoding
  // one clip per channel; for benchmarks with many DVRs.
  std::shared_ptr<const std::vector<std::vector<uint8_t>>> shared_clip;
  std::shared_ptr<const std::vector<bool>> shared_keys;
};

struct Request {
  uint8_t type = 0, mode = 0;
  std::vector<uint8_t> body;
};

class QdvrPeer {
 public:
  explicit QdvrPeer(const PeerConfig& cfg);
  ~QdvrPeer();
  QdvrPeer(const QdvrPeer&) = delete;
  QdvrPeer& operator=(const QdvrPeer&) = delete;

  // Encodes the clips and starts listening: true, or false when the port cannot be bound.
  bool start();
  void stop();
  uint16_t port() const { return port_; }

  // Requests received so far (all connections), oldest first.
  std::vector<Request> requests() const;
  // Waits up to timeout_ms for the n-th (0-based) request of `type`; true with it in *out.
  bool wait_request(int type, int nth, int timeout_ms, Request* out = nullptr) const;
  int connections() const { return connections_.load(); }
  int logins() const { return logins_.load(); }
  long frames_sent() const { return frames_sent_.load(); }
  long long bytes_sent() const { return bytes_sent_.load(); }
  // Waits until at least n frames went out: true, or false after timeout_ms.
  bool wait_frames(long n, int timeout_ms) const;

  // Pushes to every connected client (queued; sent between packets).
  void send_event(uint32_t time, uint32_t mask, uint8_t type);
  // The lost channels (bit k: channel k) that every stream packet reports from now on.
  void set_video_loss(uint16_t mask);
  void send_presets(const std::vector<int>& numbers);
  void send_search_reply(const uint8_t info[124]);
  void send_error(uint16_t code);
  void send_raw(const std::vector<uint8_t>& bytes);
  // Closes every connection now (the listener stays).
  void drop_connections();

  // The FSH layout the configured version pair selects (-1 mismatch).
  int layout() const;
  // One encoded frame of a channel's clip (for tests comparing what was received).
  const std::vector<uint8_t>& clip_frame(int channel, int index) const;
  bool clip_key(int channel, int index) const;

 private:
  struct Session;
  void accept_loop();
  void run_session(std::shared_ptr<Session> s);
  void queue_all(const std::vector<uint8_t>& pkt);
  std::vector<uint8_t> stream_packet(int channel, long frame_no, long serial, bool* drop_half,
                                     bool playback);

  PeerConfig cfg_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread accept_thread_;
  mutable std::mutex lock_;
  mutable std::condition_variable cv_;
  std::vector<Request> requests_;
  std::vector<std::shared_ptr<Session>> sessions_;
  std::vector<std::thread> session_threads_;
  std::vector<std::shared_ptr<const std::vector<std::vector<uint8_t>>>> clips_;  // [channel]
  std::vector<std::shared_ptr<const std::vector<bool>>> keys_;
  std::atomic<int> connections_{0};
  std::atomic<int> logins_{0};
  std::atomic<long> frames_sent_{0};
  std::atomic<long long> bytes_sent_{0};
  std::atomic<uint16_t> video_loss_;
};

// Builders shared by the simulated DVR and the tests (independent of the client's parsers).
std::vector<uint8_t> packet(uint8_t type, uint8_t mode, const std::vector<uint8_t>& body,
                            bool size_counts_header);
// Frame stream header of `layout` for a frame of `size` bytes.
std::vector<uint8_t> build_fsh(int layout, int channel, int width, int height, uint32_t size,
                               bool key, uint32_t sec, uint16_t msec, int seq, bool audio,
                               int audio_channel);
// The mu-law block (512 samples) of audio channel k (0..3): a tone of 500 + 250 k Hz, a
// whole number of periods, so the blocks join without a click and a listener can tell the
// channels apart.
const std::vector<uint8_t>& tone_block(int k);
std::vector<uint8_t> login_reply(uint32_t version, uint32_t sub_version, bool ok);

}  // namespace qdvr
