// Simulated 'S' DVR for tests, benchmarks and the demo: listens on 127.0.0.1, checks the
// "0081" digest against its password, answers the configured login codes (upper- or
// lower-case digits), then streams block-DCT frames (00 00 01 F8 / F9) of 640x224 or 640x272
// for its channels (format code = channel; the picture shows its number), with audio
// sections (00 00 01 FA) and control packets ("0007", "0008", "000D") mixed in, one control
// packet inside a video frame. It records every packet the client sends (login, polls, the
// closing packet). Faults on request: a drop in the middle of a frame, a stall, garbage
// before the first start code, oversized frames, a control length "FFFF", refused logins,
// being down for a while (every link reset).
//
// Threads: one accept thread and one thread per connection, owned and joined by the peer.
// The public calls are thread-safe.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sdvr {

// Login answers: 1 then 3, 3 alone, 2, 4, 1 then 4, a reply without the magic, nothing.
enum class Answer { OneThenThree, Three, Two, Four, OneThenFour, BadMagic, Silent };

struct PeerConfig {
  uint16_t port = 0;       // 0: a free port
  int channels = 4;        // 1..4, format codes 0..channels-1
  int height = 272;        // 224 or 272 (width 640)
  int fps = 0;             // per channel; 0: 25 at 272 lines, 30 at 224; -1: unpaced
  int clip_frames = 6;     // frames encoded once per channel and replayed
  int picture_offset = 0;  // the pictures show channel + offset (the format code stays)
  int full_every = 1;      // other frames code only their top macroblock row
  std::string password = "secret";
  Answer answer = Answer::OneThenThree;
  bool lower_case = false;  // hexadecimal digits of replies and control packets
  bool audio = true;        // an audio section after every third frame
  bool control = true;      // control packets between frames and one inside a frame
  // Faults.
  int drop_after = 0;         // after n frames, half a frame and close
  bool stall = false;         // accept, read, never answer
  bool garbage = false;       // bytes before the first start code
  int oversize_every = 0;     // every n-th frame is one of more than 0x20000 bytes
  int bad_control_every = 0;  // every n-th frame is followed by a control length "FFFF"
  // Pre-encoded frames per channel (benchmarks with many DVRs); empty: encoded at start.
  std::shared_ptr<const std::vector<std::vector<std::vector<uint8_t>>>> shared_clips;
};

struct Packet {
  std::string code;            // four characters, e.g. "0085"
  std::vector<uint8_t> bytes;  // the whole packet
};

class SdvrPeer {
 public:
  explicit SdvrPeer(const PeerConfig& cfg);
  ~SdvrPeer();
  SdvrPeer(const SdvrPeer&) = delete;
  SdvrPeer& operator=(const SdvrPeer&) = delete;

  // Encodes the clips and starts listening: true, or false when the port cannot be bound.
  bool start();
  void stop();
  uint16_t port() const { return port_; }

  std::vector<Packet> packets() const;  // all connections, oldest first
  // Waits up to timeout_ms for the n-th (0-based) packet of `code`: true with it in *out.
  bool wait_packet(const std::string& code, int nth, int timeout_ms, Packet* out = nullptr) const;
  int connections() const { return connections_.load(); }
  int logins() const { return logins_.load(); }  // digests accepted
  long frames_sent() const { return frames_sent_.load(); }
  long long bytes_sent() const { return bytes_sent_.load(); }
  bool wait_frames(long n, int timeout_ms) const;
  void drop_connections();
  // Down (true): its links are cut and every new one is reset until it is up again (false).
  void set_offline(bool down);

  // Frame `index` of a channel's clip as sent (start code included).
  const std::vector<uint8_t>& clip_frame(int channel, int index) const;
  int clip_size() const;

 private:
  struct Session;
  void accept_loop();
  void run_session(std::shared_ptr<Session> s);

  PeerConfig cfg_;
  int listen_fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> offline_{false};
  std::thread accept_thread_;
  mutable std::mutex lock_;
  mutable std::condition_variable cv_;
  std::vector<Packet> packets_;
  std::vector<std::shared_ptr<Session>> sessions_;
  std::vector<std::thread> session_threads_;
  std::shared_ptr<const std::vector<std::vector<std::vector<uint8_t>>>> clips_;  // [ch][i]
  std::vector<std::vector<std::vector<uint8_t>>> partial_;                       // full_every > 1
  std::atomic<int> connections_{0};
  std::atomic<int> logins_{0};
  std::atomic<long> frames_sent_{0};
  std::atomic<long long> bytes_sent_{0};
};

// Encodes `frames` frames of each of `channels` channels (640 x height, format code =
// channel, the synthetic picture with the channel's number): [channel][frame].
// With `top_row_only` every frame codes only its first macroblock row (the rest of the
// picture stays as the previous frame left it). The pictures show channel + offset.
std::vector<std::vector<std::vector<uint8_t>>> encode_clips(int channels, int height, int frames,
                                                            int offset = 0,
                                                            bool top_row_only = false);
// A packet of the protocol: 00 00 01 FE, the total length in four hex digits, the code, body.
std::vector<uint8_t> control_packet(const std::string& code, const std::string& body,
                                    bool lower_case);
// The 32 upper-case hex digits of the MD5 of `text`.
std::string md5_hex(const std::string& text);

}  // namespace sdvr
