// Simulated 'Q' DVR for tests, benchmarks and the demo: listens on 127.0.0.1, checks the
// login body, answers the configured version pair, streams live type-3 packets (real H.264
// access units of a synthetic picture showing the channel number, plus mu-law audio blocks at
// real time, 64 ms per set of four, riding on the frames of channels 0-3 in turn, or in
// audio-only packets of their own) for the selected channels in the configured frame-header
// layout, and records every request the client sends. Faults can be injected: garbage between
// packets, a drop in the middle of a frame, a stall, oversized and truncated packets, a
// refused login.
//
// Recordings: without a calendar a play request (type 6) replays the live clip at once as
// type-17 packets. With one, the DVR answers searches (type 162) from its spans and plays
// from a chosen position: type 6 arms the position and speed, type 17 code 17 starts the
// masked cameras at a key frame with time stamps from the position, code 20 stops, type 7
// code 4 ends the session; 0x3021 answers a position or day without recordings and 0x3025
// the end of a span.
//
// Remote setup: after a login the DVR answers 0xA0/0x10 with 0xA1 and the 5818-byte image of
// its settings record (size 5810, the record, its CRC-32), keeps an upload (0xA1/0x10) whose
// size and CRC are right so the next fetch returns it, and answers 0xA9/0x80 with 0xAA and
// 120 bytes. Setup faults can be injected (SetupFault).
//
// Threads: one accept thread and one thread per connection, all owned and joined by the
// peer. The public calls are thread-safe; pushes (events, presets, ...) are queued and sent
// by each connection's own thread between packets, so nothing interleaves.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qdvr {

enum class Login { Accept, Refuse, Mismatch, Error, Silent };

// Faults of the settings fetch: a reply of another command, a length above 32768, the reply
// in small delayed pieces, a wrong CRC, an image shorter than 5818 bytes, no reply at all.
enum class SetupFault { NoFault, WrongCommand, Oversize, Split, BadCrc, ShortImage, Silent };

// One span of the recording calendar. Times are the DVR's wall clock counted as seconds
// since 1970, the clock of the client's search dates and playback positions.
struct RecordSpan {
  int64_t start = 0, end = 0;  // [start, end)
  uint32_t cameras = 0xFFFF;   // bit k = camera k
  uint8_t kinds = 0x01;        // info bits 0x01, 0x02, 0x04, 0x08
};

struct PeerConfig {
  uint16_t port = 0;  // 0: a free port
  int channels = 4;
  int width = 176, height = 144;  // picture size of every channel
  int fps = 30;                   // per channel; 0 = as fast as the link takes them
  int gop = 25;
  int clip_frames = 50;       // frames encoded once per channel and replayed
  uint32_t version = 0x22F0;  // login reply pair; 0x22F0/0x0303 gives layout 3
  uint32_t sub_version = 0x0303;
  Login login = Login::Accept;
  uint16_t login_error = 0x1022;  // the 238 code sent with Login::Error
  std::string user;               // expected user; empty accepts any
  std::string password;           // expected password (checked only when user is set)
  bool audio = true;              // audio blocks at real time (layout 3 only)
  // The sets of four audio blocks go in audio-only packets (type 3 mode 64, no status prefix,
  // an FSH without video naming camera k and audio channel k) on audio channels 0-3 in turn,
  // instead of riding on the frames.
  bool audio_packets = false;
  bool video_loss = false;  // report channel 0 as lost in the status prefix at start
  // Live frames are stamped with the DVR's clock when they go out: this time at the start of
  // each session, ms since 1970, running on from there; 0: the wall clock (local time counted
  // as UTC, like its calendar).
  int64_t clock_start_ms = 0;
  // Faults.
  int garbage_every = 0;   // garbage bytes before every n-th stream packet
  int drop_after = 0;      // after n stream packets, send half a packet and close
  int oversize_every = 0;  // every n-th packet: a body larger than the client buffer
  int truncate_every = 0;  // every n-th packet: FSH claims more video than sent
  bool stall = false;      // accept, read, never answer
  SetupFault setup_fault = SetupFault::NoFault;
  // The settings image the DVR keeps (5818 bytes); empty: synthetic_settings(channels).
  std::vector<uint8_t> settings;
  // Recording calendar; empty keeps the immediate replay of a play request.
  std::vector<RecordSpan> recordings;
  // Pre-encoded access units (and key flags) replayed on every channel instead of encoding
  // one clip per channel; for benchmarks with many DVRs.
  std::shared_ptr<const std::vector<std::vector<uint8_t>>> shared_clip;
  std::shared_ptr<const std::vector<bool>> shared_keys;
  // Benchmarks: called on the session's thread just before each stream frame is sent, with
  // its channel and frame number (the clip frame is frame_no modulo the clip's length).
  std::function<void(int channel, long frame_no)> on_frame;
};

struct Request {
  uint8_t type = 0, mode = 0;
  std::vector<uint8_t> body;
  std::chrono::steady_clock::time_point at;  // when the peer had read it, before any answer
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
  // The settings image the DVR keeps now, and how many uploads it accepted and refused.
  std::vector<uint8_t> settings() const;
  int uploads() const { return uploads_.load(); }
  int refused_uploads() const { return refused_uploads_.load(); }
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
  // While held, requests are read and kept but neither recorded nor answered; releasing
  // takes them up in order.
  void hold_requests(bool held) { held_.store(held); }

  // The FSH layout the configured version pair selects (-1 mismatch).
  int layout() const;
  // One encoded frame of a channel's clip (for tests comparing what was received).
  const std::vector<uint8_t>& clip_frame(int channel, int index) const;
  bool clip_key(int channel, int index) const;

 private:
  struct Session;
  void accept_loop();
  void run_session(std::shared_ptr<Session> s);
  // The steps of run_session, on the session's thread; a failed send cuts the session.
  // Every whole request in the session's input, recorded, and answered unless `answer` is
  // false (the link is gone) or the DVR stalls.
  void parse_requests(const std::shared_ptr<Session>& s, bool answer);
  void answer_request(const std::shared_ptr<Session>& s, const Request& r);
  void answer_login(const std::shared_ptr<Session>& s, const Request& r);
  void reply_error(const std::shared_ptr<Session>& s, uint16_t code);
  // The pushes queued for the session since its last turn.
  void send_queued(const std::shared_ptr<Session>& s);
  // One round of frames (and audio) for the selected channels when it is due.
  void stream_round(const std::shared_ptr<Session>& s);
  void send_settings(const std::shared_ptr<Session>& s);
  void queue_all(const std::vector<uint8_t>& pkt);
  // The frame's time stamp is stamp_ms (milliseconds since 1970); `audio` asks for the four
  // audio blocks, attached when the layout and channel can carry them.
  std::vector<uint8_t> stream_packet(int channel, long frame_no, long serial, bool* drop_half,
                                     bool playback, int64_t stamp_ms, bool audio);
  bool carries_audio(int channel) const;
  // An audio-only packet (type 3 mode 64): the FSH of no video naming camera `audio_channel`
  // and `audio_channel` in its audio channel bits, then the four blocks.
  std::vector<uint8_t> audio_packet(int audio_channel, int64_t stamp_ms) const;

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
  std::atomic<int> uploads_{0};
  std::atomic<int> refused_uploads_{0};
  std::vector<uint8_t> settings_;  // guarded by lock_
  std::atomic<long> frames_sent_{0};
  std::atomic<long long> bytes_sent_{0};
  std::atomic<uint16_t> video_loss_;
  std::atomic<bool> held_{false};
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
// The 84-byte login reply body.
std::vector<uint8_t> login_reply(uint32_t version, uint32_t sub_version, bool ok);

// The settings image of a DVR of `channels` cameras (1..16): a size word 5810, a record whose
// fields the setup tool shows hold values its pages can show (camera names "CAM01".., frame
// rates within the budget, one camera with audio), every byte the tool does not touch a
// non-zero pattern, and the record's CRC-32; all little-endian.
std::vector<uint8_t> synthetic_settings(int channels);
// The IEEE CRC-32 (zlib's) of `n` bytes.
uint32_t settings_crc(const uint8_t* p, size_t n);

// Wall-clock seconds of a date (month 0-based, as the client sends it), in no time zone.
int64_t wall_seconds(int year, int month0, int day, int hour, int minute, int second);
// Parses "2024-03-05T10:00/11:30[,cams=0-3][,kind=1]" (the end may carry its own date,
// "2024-03-05T22:00/2024-03-06T02:00"; cams a camera or a range, 0-based; kind the info
// bits): true with the span, false for a text it cannot read or an empty span.
bool parse_record_span(const std::string& text, RecordSpan* out);
// The 124-byte answer to search request `req` from the calendar: day 255 the month's days,
// mask 0 the day's cameras, hour 255 the masked cameras' hours, else that hour's minutes;
// year, month, day, mask and hour echoed. Empty with *error 0x3021 for a named day without
// recordings.
std::vector<uint8_t> search_answer(const std::vector<RecordSpan>& spans, const uint8_t req[124],
                                   uint16_t* error);
// The end of the recording that runs without a gap from `position`, or -1 when no span
// holds it.
int64_t recorded_until(const std::vector<RecordSpan>& spans, int64_t position);

}  // namespace qdvr
