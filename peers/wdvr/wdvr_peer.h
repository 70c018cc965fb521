// Simulated SDK DVR for tests, benchmarks and the demo: listens on 127.0.0.1 only, on a base
// port B (a free block when 0): log-on B, playback control/data B+1/B+2, live control/data
// B+3/B+4, and B+7, which serves by number the CMS requests (long-lived), the recording
// information requests, the setup exchange and the bare connect of an alive test.
//
// It answers every request of the SDK's session and control protocols from configured data
// (channel information with preset names, setup record, relays, health, search status, a
// month of recording tables) and streams each channel as a header block (with or without
// "VQZ") and frame packets: MPEG-4 VOPs with the VOL in front of key frames, or H.264 (a
// picture taller than 479 lines as two field streams, field bit = flag C), frames over the
// packet limit split into parts, IMA ADPCM blocks or G.723.1 frames. Playback starts at a
// date and time, skips frames on request and ends with the end-of-recording notice. Faults
// are injected through Faults; every request is logged with its port.
//
// Threads: one accept thread and one thread per connection, all owned and joined by stop().
// Public calls are thread-safe.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace wdvr {

constexpr uint32_t kBareConnect = 0;  // logged for a connection closed before any request

enum class Video { Mpeg4, H264 };
enum class Audio { None, Adpcm, G723 };

// Where an injected fault strikes.
enum class Stage {
  None,
  LogOn,
  ControlLogOn,
  DataLogOn,
  StreamRequest,
  Reply,
  Frame,
  Cms,
  Setup,
  RecordInfo
};
enum class Fault {
  None,
  Silent,         // read the request, never answer (the connection stays open)
  DropMidHeader,  // six bytes of the reply header, then close
  DropMidBody,    // the header and half the body, then close
  ShortBody,      // the header announces 8 bytes more than follow (the connection stays open)
  Oversized,      // a body past the SDK's buffer: control 9000, frame 70000, CMS 20000 bytes
};

struct Faults {
  // Result words (1 accepts; anything else is sent as the refusal code).
  uint32_t logon_result = 1, control_logon_result = 1, data_logon_result = 1, stream_result = 1;
  Stage stage = Stage::None;
  Fault fault = Fault::None;
  int times = 1;                     // how often the fault strikes (-1: always)
  int after_frames = 0;              // Stage::Frame: after this many frames of a stream
  int channel_count = -1;            // channel information's count as sent (-1: the real one)
  int preset_name_length = -1;       // length announced for every preset name
  int setup_count = -1;              // the setup record's entry count as sent
  int cms_channel_count = -1;        // system information's channel count as sent
  int motion_bits = -1;              // the video object's motion bit count (-1: 0)
  int logon_text_length = -1;        // the log-on reply's first text length as sent
  bool search_status_flag0 = false;  // 0xA0070101 with flag word 0 and no body
  int relay_count = -1;              // the relay reply's count as sent
  int audio_setup = -1;              // the audio object's set-up value as sent (-1: 1)
  // Fault::Oversized: the number and flag word of the oversized reply (0 / -1: the real ones).
  uint32_t oversized_number = 0;
  int oversized_flag = -1;
};

struct PeerConfig {
  uint16_t base_port = 0;         // 0: a free block of eight ports
  int channels = 4;               // 1..16
  int width = 352, height = 240;  // every channel
  int fps = 30;                   // frames a second per stream; 0: as fast as the link takes
  int gop = 15;
  int clip_frames = 30;  // frames encoded once per channel and replayed
  int noise = 0;         // sensor noise (+-amplitude): camera-like frame sizes
  Video video = Video::Mpeg4;
  Audio audio = Audio::None;
  bool vqz = false;                     // header blocks start with the 32-byte "VQZ" preamble
  std::string user, password;           // expected log-on; an empty user accepts anyone
  std::string own_address = "0.0.0.0";  // the DVR's own address in the log-on reply
  // Base date (YYYYMMDD) and time (HHMMSS) of live streams, which the frames' offsets run on
  // from; date 0: the DVR's wall clock when the stream starts.
  uint32_t live_date = 0, live_time = 0;
  std::vector<std::vector<std::string>> presets;      // preset names per channel (<= 16)
  std::vector<uint8_t> relays{0, 1, 0, 1};
  // Health: six u32, two u16, four u32, in reply order.
  std::vector<uint32_t> health{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  uint8_t search_status[2] = {1, 0};
  // Recordings of one month: days with recordings (bit d-1), and on those days channel c is
  // recorded in the 6-minute slots [60 + 10c, 180) (see record_table).
  int record_year = 2024, record_month = 1;
  uint32_t record_days = 0x0000C00F;
  int playback_frames = 90;  // frames of a playback before the end of the recording
  int skip_every = 0;        // playback: a skipped-frame notice every n frames
  Faults faults;
};

struct Request {
  uint16_t port = 0;                          // the port of the peer it arrived on
  uint32_t number = 0, flag = 0, length = 0;  // header words (kBareConnect: none came)
  std::vector<uint8_t> body;
};

class WdvrPeer {
 public:
  explicit WdvrPeer(const PeerConfig& cfg);
  ~WdvrPeer();
  WdvrPeer(const WdvrPeer&) = delete;
  WdvrPeer& operator=(const WdvrPeer&) = delete;

  // Encodes the clips and starts listening: true, or false when no port block is free.
  bool start();
  void stop();
  uint16_t base_port() const { return base_; }

  std::vector<Request> requests() const;
  // Waits up to timeout_ms for the n-th (0-based) request of `number`; true with it in *out.
  bool wait_request(uint32_t number, int nth, int timeout_ms, Request* out = nullptr) const;
  int count(uint32_t number) const;
  long frames_sent() const { return frames_sent_.load(); }
  bool wait_frames(long n, int timeout_ms) const;
  // Connections currently open (all ports).
  int open_connections() const;
  // Closes every connection now (listeners stay).
  void drop_connections();
  // The setup record payload the peer currently serves.
  std::vector<uint8_t> setup_payload() const;

  // What a stream of `channel` carries: frame `index` of its clip as sent (a key MPEG-4
  // frame with its VOL; a tall H.264 picture: field 0 or 1), and the audio units.
  const std::vector<uint8_t>& video_frame(int channel, int index, int field = 0) const;
  bool video_key(int channel, int index) const;
  const std::vector<std::vector<uint8_t>>& audio_units(int channel) const;

 private:
  struct Session;
  struct Clip;
  void accept_loop();
  void serve(int fd, uint16_t port);
  void serve_logon(int fd, uint16_t port);
  void serve_control(int fd, uint16_t port);
  void serve_data(int fd, uint16_t port);
  void serve_multi(int fd, uint16_t port);
  void stream(int fd, std::shared_ptr<Session> s);
  bool strike(Stage stage, Fault* fault);
  bool reply(int fd, Stage stage, uint32_t number, uint32_t result,
             const std::vector<uint8_t>& payload);
  void log(uint16_t port, uint32_t number, uint32_t flag, uint32_t length,
           const std::vector<uint8_t>& body);
  bool read_exact(int fd, void* buf, size_t n) const;
  bool read_request(int fd, uint16_t port, uint32_t* number, uint32_t* flag, uint32_t* length,
                    std::vector<uint8_t>* body, bool first);
  std::vector<uint8_t> stream_header(uint32_t date, uint32_t time) const;
  void hold_open(int fd) const;
  bool recorded(uint32_t date, uint32_t time, int channel) const;

  PeerConfig cfg_;
  uint16_t base_ = 0;
  std::vector<std::pair<int, uint16_t>> listeners_;
  std::atomic<bool> stop_{false};
  std::thread accept_thread_;
  mutable std::mutex lock_;
  mutable std::condition_variable cv_;
  std::vector<Request> requests_;
  std::set<int> open_fds_;
  std::vector<std::thread> threads_;
  std::map<uint32_t, std::shared_ptr<Session>> sessions_;
  uint32_t next_session_ = 1;
  std::vector<uint8_t> setup_;
  std::vector<std::shared_ptr<Clip>> clips_;  // [channel]
  std::atomic<long> frames_sent_{0};
  std::atomic<int> strikes_{0};
};

// Builders shared by the simulated DVR, the tests and the fuzz seeds; written from the wire
// layouts, independent of the SDK's own readers and writers.
std::vector<uint8_t> dsf_packet(uint32_t number, uint32_t flag,
                                const std::vector<uint8_t>& payload);
// Channel information: `count` channels, preset names per channel; `announced` replaces the
// count word, `name_length` every preset name's length word (when >= 0).
std::vector<uint8_t> channel_info_payload(uint32_t data_request, int count,
                                          const std::vector<std::vector<std::string>>& presets,
                                          int announced = -1, int name_length = -1);
struct HeaderSpec {
  bool vqz = false;
  uint16_t year = 2024;
  uint8_t month = 1, day = 15, hour = 12, minute = 0, second = 0;
  bool h264 = false;
  uint16_t width = 352, height = 240;
  int motion_bits = 0;  // motion bits in the video object (set every third cell)
  Audio audio = Audio::None;
  uint16_t audio_rate = 8000;
  uint8_t audio_setup = 1;  // the audio object's set-up value (output: rate x it x 2)
  bool info = true;         // an 0xFFF40000 info object
};
std::vector<uint8_t> header_block(const HeaderSpec& spec);
// The 16-byte audio codec identifiers (ADPCM: the Sonpak identifier in memory order).
const uint8_t* audio_codec_id(Audio audio);
struct FrameSpec {
  uint8_t kind = 0;  // 0 video, 1 audio
  bool key = false;
  bool field = false;  // flag C
  uint32_t time_offset = 0;
  int parts = 0, index = 0;  // parts > 0: a part of a split frame
  uint32_t whole = 0;
  int motion_bits = 0;  // a motion group of this many bits (0: none)
  std::string text;     // the trailing text
};
std::vector<uint8_t> frame_object(const FrameSpec& spec, const uint8_t* data, size_t n);
// The data packets (0x00020102: channel byte + frame object) of one frame; split into parts
// when the payload would pass 65524 bytes.
std::vector<std::vector<uint8_t>> frame_packets(int channel, FrameSpec spec,
                                                const std::vector<uint8_t>& data);
// A setup record payload with `count` channel entries and values derived from `seed`;
// `announced` replaces the count word; every full-length text runs `text_extra` bytes past
// its field.
std::vector<uint8_t> setup_payload(int count, uint32_t seed, int announced = -1,
                                   int text_extra = 0);
// CMS reply packets (header and body).
std::vector<uint8_t> cms_packet(uint32_t command, uint32_t flag, const std::vector<uint8_t>& body);
std::vector<uint8_t> cms_system_info_body(int channels, int announced = -1);
std::vector<uint8_t> cms_health_body(const std::vector<uint32_t>& values);
std::vector<uint8_t> cms_a0070002_body(int count);
std::vector<uint8_t> cms_a0070003_body(int count);
// An event payload: `value` is the sensor byte (0x00050001), reason (0x00050201), state or
// kind (0x000507xx); `index` the channel or relay; `state` the second byte of 0x000508xx.
std::vector<uint8_t> event_payload(uint32_t number, uint32_t value, int index, int state);
// Connects to 127.0.0.1:port and sends one event packet (flag 1): true when sent whole.
bool send_event(uint16_t port, uint32_t number, const std::vector<uint8_t>& payload);
// The recording table (240 slots) of a channel on a date of the configured month.
std::vector<uint8_t> record_table(const PeerConfig& cfg, uint32_t date, int channel);

}  // namespace wdvr
