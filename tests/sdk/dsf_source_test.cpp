// CDSFSource against the simulated SDK DVR: log-on, control and data connections on the ports
// of their table, frames in order, refusals, time-outs, oversized payloads and stopping.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <mutex>

#include "codecs/sonpak/sonpak.h"
#include "peers/wdvr/wdvr_peer.h"
#include "sdk/DSFSource.h"
#include "sdk/Protocol/DSFProtocol.h"
#include "tests/sdk/sdk_test_util.h"

namespace {

using sdktest::hex;
using sdktest::small;
using Clock = std::chrono::steady_clock;

// Stands in for the session: records what the source hands over and, like the session,
// starts the data connection on the channel information and requests the stream on status 1.
class Owner : public CDSFSourceOwner {
 public:
  CDSFSource src;
  bool request_stream = true;
  ~Owner() {
    src.Stop();
    src.WaitStop();
  }
  std::vector<uint8_t> stream_request;  // sent on status 1

  struct Packet {
    uint32_t number;
    std::vector<uint8_t> data;
  };

  void OnPacket(uint32_t number, const uint8_t* data, int length) override {
    {
      std::lock_guard<std::mutex> lk(lock_);
      packets_.push_back(Packet{number, std::vector<uint8_t>(data, data + length)});
    }
    if (number == DSF_CHANNEL_INFO_REPLY) {
      CDSFProtocol p;
      DSF_CHANNEL_INFO info{};
      if (p.ParseReply(number, data, size_t(length), &info)) src.StartData(info.dwDataRequest);
    }
    if (number == 0xA0020001 || number == 0xA0020003) {
      const auto ready = hex("00020006 00000001 00000000");
      src.SendCommand(ready.data(), int(ready.size()), nullptr);
    }
  }
  void OnStatus(int code) override {
    {
      std::lock_guard<std::mutex> lk(lock_);
      statuses_.push_back(code);
    }
    if (code == CDSFSource::STATUS_DATA_ACCEPTED && request_stream && !stream_request.empty())
      src.SendCommand(stream_request.data(), int(stream_request.size()), nullptr);
  }
  void OnRecordEnd() override {
    std::lock_guard<std::mutex> lk(lock_);
    ++record_ends_;
  }

  bool wait(const std::function<bool()>& done, int ms = 5000) {
    return sdktest::wait_until(done, ms);
  }
  bool wait_status(int code, int ms = 5000) {
    return wait(
        [&] {
          const auto s = statuses();
          return std::count(s.begin(), s.end(), code) > 0;
        },
        ms);
  }
  std::vector<int> statuses() {
    std::lock_guard<std::mutex> lk(lock_);
    return statuses_;
  }
  std::vector<Packet> packets(uint32_t number) {
    std::lock_guard<std::mutex> lk(lock_);
    std::vector<Packet> out;
    for (const Packet& p : packets_)
      if (p.number == number) out.push_back(p);
    return out;
  }
  size_t count(uint32_t number) { return packets(number).size(); }
  int record_ends() {
    std::lock_guard<std::mutex> lk(lock_);
    return record_ends_;
  }
  std::string last_error() {
    std::string s;
    src.GetLastError(&s);
    return s;
  }

 private:
  std::mutex lock_;
  std::vector<Packet> packets_;
  std::vector<int> statuses_;
  int record_ends_ = 0;
};

// Logs a live source on to the peer (channel 1) with the session's stream request.
void live_logon(Owner& o, const wdvr::WdvrPeer& peer, uint8_t channel = 1) {
  o.src.Initialize(&o, 1, peer.base_port(), 1);
  DSF_LIVE_REQUEST req{channel};
  CDSFProtocol p;
  o.stream_request.resize(13);
  p.BuildPacket(DSF_LIVE_START, 1, &req, o.stream_request.data());
  ASSERT_EQ(o.src.LogOn("127.0.0.1", "admin", "1234", "127.0.0.1", channel, nullptr, 0xFFFFFFFF),
            1);
}

void playback_logon(Owner& o, const wdvr::WdvrPeer& peer, uint32_t date, uint32_t time) {
  o.src.Initialize(&o, 0, peer.base_port(), 1);
  DSF_PLAYBACK_REQUEST req{};
  std::strcpy(req.szAddress, "127.0.0.1");
  req.dwStart = date;
  req.dwEnd = time;
  req.channel = 0;
  CDSFProtocol p;
  o.stream_request.resize(12 + CDSFProtocol::MaxPayload());
  o.stream_request.resize(
      size_t(p.BuildPacket(DSF_PLAYBACK_START, 1, &req, o.stream_request.data())));
  const uint32_t range[2] = {date, time};
  ASSERT_EQ(o.src.LogOn("127.0.0.1", "admin", "1234", "127.0.0.1", 0, range, 5), 1);
}

std::vector<DSF_FRAME_OBJECT> frames_of(Owner& o, CDSFProtocol& p,
                                        std::vector<std::vector<uint8_t>>* data, int kind) {
  std::vector<DSF_FRAME_OBJECT> out;
  for (const auto& pk : o.packets(DSF_STREAM_FRAME)) {
    if (p.ParseFrame(pk.data.data() + 1, pk.data.size() - 1) != DSF_FRAME_KIND) continue;
    if (p.Frame().kind != kind) continue;
    out.push_back(p.Frame());
    if (data) data->emplace_back(p.Frame().data, p.Frame().data + p.Frame().dataLength);
  }
  return out;
}

TEST(DSFSource, PortsFollowTheBasePort) {
  struct Case {
    int base;
    uint16_t ports[6];
  } cases[] = {
      {0, {7000, 8000, 8001, 9000, 9001, 7007}},
      {5000, {5000, 5003, 5004, 5001, 5002, 5007}},
  };
  for (const Case& c : cases) {
    CDSFSource s;
    s.Initialize(nullptr, 1, c.base, 1);
    for (int i = 0; i < CDSFSource::PORT_COUNT; ++i)
      EXPECT_EQ(s.GetPort(CDSFSource::Port(i)), c.ports[i]) << c.base << " " << i;
  }
}

TEST(DSFSource, LiveSourceStreamsFramesInOrderOnItsPorts) {
  wdvr::PeerConfig cfg;
  cfg.channels = 2;
  cfg.fps = 120;
  cfg.audio = wdvr::Audio::Adpcm;
  wdvr::WdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  Owner o;
  live_logon(o, peer);
  ASSERT_TRUE(o.wait([&] { return o.count(DSF_STREAM_FRAME) >= 40; }));
  const uint16_t b = peer.base_port();

  // Each session packet on its port, with its bytes.
  struct Expect {
    uint32_t number;
    uint16_t port;
    const char* body;
  } expect[] = {
      {0x00000001, b,
       "0006 61646d696e00 0005 3132333400 00 000a 3132372e302e302e3100 ffffffff ffffffff ff 01 "
       "00000001"},
      {0x00000002, uint16_t(b + 3),
       "01 02 00 0006 61646d696e00 0007 574456522d3100 0005 7764767200 00 000a "
       "3132372e302e302e3100"},
      {0x007F0002, uint16_t(b + 4), "00000001"},
      {0x00020001, uint16_t(b + 3), "01"},
      {0x00020006, uint16_t(b + 3), ""},
  };
  for (const Expect& e : expect) {
    wdvr::Request r;
    ASSERT_TRUE(peer.wait_request(e.number, 0, 2000, &r)) << std::hex << e.number;
    EXPECT_EQ(r.port, e.port) << std::hex << e.number;
    EXPECT_EQ(r.body, hex(e.body)) << std::hex << e.number;
  }
  EXPECT_EQ(o.count(DSF_CHANNEL_INFO_REPLY), 1u);
  EXPECT_EQ(o.count(0xA0020001), 1u);
  EXPECT_EQ(o.statuses(), std::vector<int>{CDSFSource::STATUS_DATA_ACCEPTED});

  // Video frames arrive whole and in order; audio is the peer's ADPCM, decodable by Sonpak.
  CDSFProtocol p;
  std::vector<std::vector<uint8_t>> video, audio;
  const auto frames = frames_of(o, p, &video, 0);
  ASSERT_GE(frames.size(), 20u);
  for (size_t i = 0; i < 20; ++i) {
    EXPECT_EQ(video[i], peer.video_frame(1, int(i))) << i;
    EXPECT_EQ(frames[i].key, peer.video_key(1, int(i)) ? 1 : 0);
    if (i) { EXPECT_GT(frames[i].timeOffset, frames[i - 1].timeOffset); }
  }
  EXPECT_EQ(std::memcmp(video[0].data(), "\x00\x00\x01", 3), 0);  // the VOL leads a key frame
  frames_of(o, p, &audio, 1);
  ASSERT_GE(audio.size(), 2u);
  EXPECT_EQ(audio[0], peer.audio_units(1)[0]);
  std::vector<int16_t> pcm(1024);
  AUDIO_DEC_PARAM dec{int32_t(audio[1].size()), audio[1].data(), int32_t(pcm.size() * 2),
                      pcm.data()};
  ASSERT_EQ(ADPCM_Decode(&dec, nullptr), 1);
  ASSERT_EQ(dec.output_length, 512);
  double err = 0, sig = 0;
  for (int i = 0; i < 256; ++i) {
    const double want = 8000.0 * std::sin(2.0 * M_PI * 500.0 * (256 + i) / 8000.0);
    err += (pcm[size_t(i)] - want) * (pcm[size_t(i)] - want);
    sig += want * want;
  }
  EXPECT_GT(10.0 * std::log10(sig / err), 10.0);  // the test media's encoder is not exact

  o.src.Stop();
  o.src.WaitStop();
  EXPECT_EQ(o.src.GetChannel(), 255);
}

TEST(DSFSource, PlaybackSourceRunsToTheEndOfTheRecording) {
  wdvr::PeerConfig cfg = small();
  cfg.fps = 0;
  cfg.playback_frames = 12;
  cfg.skip_every = 5;
  wdvr::WdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  sdktest::TraceCapture trace;
  Owner o;
  playback_logon(o, peer, 20240115, 120000);
  // The header reply comes on the control connection, the frames and the end on the data
  // connection: either may be handed over first.
  ASSERT_TRUE(o.wait([&] { return o.record_ends() == 1 && o.count(0xA0020003) > 0; }));
  const uint16_t b = peer.base_port();
  wdvr::Request r;
  ASSERT_TRUE(peer.wait_request(0x00020003, 0, 0, &r));
  EXPECT_EQ(r.port, b + 1);
  EXPECT_EQ(r.body, hex("0009 3132372e302e302e31 0134d6f3 0001d4c0 00 00 01"));
  ASSERT_TRUE(peer.wait_request(0x00000001, 0, 0, &r));
  EXPECT_EQ(std::vector<uint8_t>(r.body.end() - 14, r.body.end()),
            hex("0134d6f3 0001d4c0 05 00 00000001"));
  ASSERT_TRUE(peer.wait_request(0x007F0002, 0, 0, &r));
  EXPECT_EQ(r.port, b + 2);
  CDSFProtocol p;
  EXPECT_EQ(frames_of(o, p, nullptr, 0).size(), 12u);
  EXPECT_EQ(o.count(0xA0020003), 1u);
  EXPECT_GE(trace.count("[SDK TRACE]-Skip Frame\n"), 2);

  // A time without recordings: file not found.
  Owner none;
  playback_logon(none, peer, 20240115, 20000);
  ASSERT_TRUE(none.wait_status(CDSFSource::STATUS_FILE_NOT_FOUND));
  EXPECT_EQ(none.last_error(), "Requested file was not found");
}

TEST(DSFSource, RefusalsGiveTheirStatusAndText) {
  // The texts the operator sees are kept letter for letter, misspellings included.
  EXPECT_EQ(CDSFSource::GetErrorMessage(0xF0010002), "Alredy registerd User");
  EXPECT_EQ(
      CDSFSource::GetErrorMessage(0xF00B0002),
      "Requested function is already used by another user.\n Retry at least 10 second later.");
  EXPECT_EQ(CDSFSource::GetErrorMessage(0xF0123456), "Really unknown error: 0xF0123456");
  EXPECT_EQ(CDSFSource::ResultTexts().size(), 32u);

  struct Case {
    const char* step;
    uint32_t code;
    int status;
  };
  // Every result on the log-on, then the codes with statuses of their own on the later steps.
  std::vector<Case> cases;
  for (const CDSFSource::ResultText& t : CDSFSource::ResultTexts())
    cases.push_back({"logon", t.code, t.code == 0xF00A0001 ? 0x200 : 0x4});
  cases.push_back({"logon", 0xF0123456, 0x4});
  cases.push_back({"control", 0xF00B0003, 0x2000});
  cases.push_back({"control", 0xF00A0001, 0x200});
  cases.push_back({"control", 0xF0020003, 0x4});
  cases.push_back({"data", 0xF00F0002, 0x4});
  cases.push_back({"stream", 0xF0030001, 0x4});
  cases.push_back({"stream", 0xF00A0001, 0x200});
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.step) + " " + CDSFSource::GetErrorMessage(c.code));
    wdvr::PeerConfig cfg = small();
    uint32_t* result = std::string(c.step) == "logon"     ? &cfg.faults.logon_result
                       : std::string(c.step) == "control" ? &cfg.faults.control_logon_result
                       : std::string(c.step) == "data"    ? &cfg.faults.data_logon_result
                                                          : &cfg.faults.stream_result;
    *result = c.code;
    wdvr::WdvrPeer peer(cfg);
    ASSERT_TRUE(peer.start());
    sdktest::TraceCapture trace;
    Owner o;
    live_logon(o, peer);
    ASSERT_TRUE(o.wait_status(c.status));
    EXPECT_EQ(o.last_error(), CDSFSource::GetErrorMessage(c.code));
    if (c.code == 0xF0010001) {
      EXPECT_TRUE(trace.any_starting("[SDK TRACE]-등록되지 않은 사용자"));
    }
  }
}

TEST(DSFSource, SilentDvrTimesOut) {
  for (wdvr::Stage stage : {wdvr::Stage::LogOn, wdvr::Stage::StreamRequest, wdvr::Stage::Frame}) {
    wdvr::PeerConfig cfg = small();
    cfg.faults.stage = stage;
    cfg.faults.fault = wdvr::Fault::Silent;
    wdvr::WdvrPeer peer(cfg);
    ASSERT_TRUE(peer.start());
    Owner o;
    o.src.SetTimeOuts(300, 300, 60000);
    live_logon(o, peer);
    ASSERT_TRUE(o.wait_status(CDSFSource::STATUS_TIMED_OUT));
    EXPECT_EQ(o.last_error(), "TimeOut, WSAETIMEDOUT : Connection timed out.");
  }
}

TEST(DSFSource, OnlyTheFirstFailureCodeIsReported) {
  Owner o;
  o.src.Initialize(&o, 1, 1, 1);
  o.src.ReportStatus(CDSFSource::STATUS_MAX_CHANNEL);
  o.src.ReportStatus(CDSFSource::STATUS_MAX_CHANNEL);
  o.src.ReportStatus(CDSFSource::STATUS_REFUSED);
  o.src.ReportStatus(CDSFSource::STATUS_REFUSED);
  EXPECT_EQ(o.statuses(), (std::vector<int>{0x2000, 0x4, 0x4}));
  EXPECT_EQ(o.src.IsFailed(), 1);
  const uint8_t pkt[12] = {};
  EXPECT_EQ(o.src.SendCommand(pkt, 12, nullptr), 0);
  EXPECT_EQ(o.last_error(), "Control Socket is invalid");
}

TEST(DSFSource, OversizedPayloadsAreReadPastAndDropped) {
  {
    // A frame packet past the frame buffer: dropped, the stream goes on in step.
    wdvr::PeerConfig cfg = small();
    cfg.faults.stage = wdvr::Stage::Frame;
    cfg.faults.fault = wdvr::Fault::Oversized;
    cfg.faults.after_frames = 3;
    wdvr::WdvrPeer peer(cfg);
    ASSERT_TRUE(peer.start());
    Owner o;
    live_logon(o, peer);
    ASSERT_TRUE(o.wait([&] { return o.count(DSF_STREAM_FRAME) >= 10; }));
    for (const auto& pk : o.packets(DSF_STREAM_FRAME)) EXPECT_LT(pk.data.size(), 65525u);
    CDSFProtocol p;
    std::vector<std::vector<uint8_t>> video;
    frames_of(o, p, &video, 0);
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(video[i], peer.video_frame(1, int(i)));
    EXPECT_EQ(o.statuses(), std::vector<int>{CDSFSource::STATUS_DATA_ACCEPTED});
  }
  {
    // A control reply past the control buffer is not handed on: no channel information, so
    // no request follows within the first wait.
    wdvr::PeerConfig cfg = small();
    cfg.faults.stage = wdvr::Stage::ControlLogOn;
    cfg.faults.fault = wdvr::Fault::Oversized;
    wdvr::WdvrPeer peer(cfg);
    ASSERT_TRUE(peer.start());
    Owner o;
    o.src.SetTimeOuts(60000, 25000, 300);
    live_logon(o, peer);
    ASSERT_TRUE(o.wait_status(CDSFSource::STATUS_NO_REQUEST));
    EXPECT_EQ(o.count(DSF_CHANNEL_INFO_REPLY), 0u);
    EXPECT_EQ(o.last_error(), "dll internal error!!");
  }
  for (const bool oversized : {true, false}) {
    // A log-on reply past the control buffer, or one whose first text runs past its payload,
    // is refused whole: no control log-on follows.
    SCOPED_TRACE(oversized ? "oversized log-on reply" : "log-on text past its reply");
    wdvr::PeerConfig cfg = small();
    if (oversized) {
      cfg.faults.stage = wdvr::Stage::LogOn;
      cfg.faults.fault = wdvr::Fault::Oversized;
    } else {
      cfg.faults.logon_text_length = 500;
    }
    wdvr::WdvrPeer peer(cfg);
    ASSERT_TRUE(peer.start());
    Owner o;
    live_logon(o, peer);
    ASSERT_TRUE(o.wait_status(CDSFSource::STATUS_REFUSED));
    EXPECT_EQ(o.last_error(), "Server Response failure");
    EXPECT_EQ(peer.count(0x00000002), 0);
  }
}

TEST(DSFSource, OwnAddressOfTheLogOnReplyReplacesOnlyAPublicOne) {
  struct Case {
    const char* own;
    bool replaces;
  } cases[] = {
      {"0.0.0.0", false},         {"10.1.2.3", false},
      {"192.168.0.9", false},     {"172.16.0.1", false},
      {"172.20.5.5", false},      {"172.31.255.1", false},
      {"172.32.0.1", true},       {"172.15.0.1", true},
      {"203.0.113.7", true},      {"0.1.2.3", false},
      {"127.0.0.2", false},       {"224.0.0.1", false},
      {"255.255.255.255", false}, {"1.2.3", false},
      {"8.8.8.8x", false},        {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(CDSFSource::UseOwnAddress(c.own), c.replaces) << c.own;

  // Through a log-on: a private address keeps the given one, a public one replaces it.
  for (const char* own : {"172.20.1.1", "203.0.113.7"}) {
    wdvr::PeerConfig cfg = small();
    cfg.own_address = own;
    wdvr::WdvrPeer peer(cfg);
    ASSERT_TRUE(peer.start());
    Owner o;
    o.src.SetTimeOuts(300, 300, 300);
    live_logon(o, peer);
    if (CDSFSource::UseOwnAddress(own)) {
      ASSERT_TRUE(o.wait([&] { return !o.statuses().empty(); }));
      EXPECT_EQ(o.src.GetServerAddress(), own);
      EXPECT_EQ(peer.count(0x00000002), 0);
    } else {
      ASSERT_TRUE(o.wait([&] { return o.count(DSF_STREAM_FRAME) > 0; }));
      EXPECT_EQ(o.src.GetServerAddress(), "127.0.0.1");
    }
  }
}

TEST(DSFSource, SetupExchangeOnItsOwnConnection) {
  wdvr::WdvrPeer peer(small());
  ASSERT_TRUE(peer.start());
  Owner o;
  o.request_stream = false;
  live_logon(o, peer);
  SyncEvent answer;
  const auto get = hex("00080001 00000001 00000000");
  ASSERT_EQ(o.src.SendSetupCommand(get.data(), int(get.size()), &answer), 1);
  ASSERT_TRUE(answer.Wait(0));
  const auto got = o.packets(0xA0080001);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].data, peer.setup_payload());

  const auto payload = wdvr::setup_payload(2, 99);
  auto set = wdvr::dsf_packet(0x00080002, 1, payload);
  ASSERT_EQ(o.src.SendSetupCommand(set.data(), int(set.size()), &answer), 1);
  ASSERT_TRUE(answer.Wait(0));
  EXPECT_EQ(peer.setup_payload(), payload);
  EXPECT_EQ(o.count(0xA0080002), 1u);
  wdvr::Request r;
  ASSERT_TRUE(peer.wait_request(0x00080002, 0, 0, &r));
  EXPECT_EQ(r.port, peer.base_port() + 7);
}

TEST(DSFSource, TallH264PicturesArriveAsTwoFields) {
  wdvr::PeerConfig cfg;
  cfg.channels = 1;
  cfg.video = wdvr::Video::H264;
  cfg.width = 704;
  cfg.height = 576;
  cfg.clip_frames = 4;
  cfg.fps = 0;
  wdvr::WdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  Owner o;
  live_logon(o, peer, 0);
  ASSERT_TRUE(o.wait([&] { return o.count(DSF_STREAM_FRAME) >= 4; }));
  CDSFProtocol p;
  std::vector<std::vector<uint8_t>> video;
  const auto frames = frames_of(o, p, &video, 0);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(frames[size_t(i)].flagC, i % 2);
    EXPECT_EQ(video[size_t(i)], peer.video_frame(0, i / 2, i % 2));
  }
  EXPECT_EQ(std::memcmp(video[0].data(), "\x00\x00\x00\x01", 4), 0);  // reads as the word 1
}

TEST(DSFSource, StopEndsEveryBlockedThreadPromptly) {
  wdvr::WdvrPeer peer(small());
  ASSERT_TRUE(peer.start());
  const int fds = sdktest::open_descriptors();
  const int threads = sdktest::threads();
  {
    Owner o;
    o.request_stream = false;  // the data thread waits for frames, the control thread for work
    live_logon(o, peer);
    ASSERT_TRUE(o.wait_status(CDSFSource::STATUS_DATA_ACCEPTED));
    const uint8_t none[12] = {};
    EXPECT_EQ(o.src.SendCommand(none, 0, nullptr), 0);
    const auto t0 = Clock::now();
    o.src.Stop();
    o.src.WaitStop();
    // Well inside the 60 s receive time-out the data thread would otherwise sit out.
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(10));
    EXPECT_EQ(o.statuses(), std::vector<int>{CDSFSource::STATUS_DATA_ACCEPTED});
  }
  EXPECT_TRUE(sdktest::wait_until(
      [&] { return sdktest::open_descriptors() == fds && sdktest::threads() == threads; }, 3000))
      << sdktest::open_descriptors() << " fds, " << sdktest::threads() << " threads";
}

TEST(DSFSource, StopFromTheOwnersCallbackDoesNotDeadlock) {
  wdvr::WdvrPeer peer(small());
  ASSERT_TRUE(peer.start());
  struct Stopper : Owner {
    std::atomic<bool> stopped{false};
    void OnPacket(uint32_t number, const uint8_t* data, int length) override {
      Owner::OnPacket(number, data, length);
      if (number == DSF_STREAM_FRAME && !stopped.exchange(true)) {
        src.Stop();
        src.WaitStop();
      }
    }
  } o;
  live_logon(o, peer);
  ASSERT_TRUE(sdktest::wait_until([&] { return o.stopped.load(); }, 5000));
  ASSERT_TRUE(sdktest::wait_until([&] { return peer.open_connections() == 0; }, 3000));
  // The data thread's own stop could not join it, and it still tells the owner that its burst
  // ended: join it before the owner goes.
  o.src.WaitStop();
}

// A waiting caller is lent the live data connection: the frames it receives on its own thread
// keep their order with those the data thread took, a wake ends the read under way (a cancel
// or stop of the owner's), a caller that stops reading soon has the data thread take the
// connection back (a receive buffer of a few frames would hold the DVR back otherwise), and
// a DVR gone silent still times out.
TEST(DSFSource, LentDataConnectionKeepsFramesInOrderEndsOnAWakeGoesBackWhenIdleAndTimesOut) {
  struct Lender : Owner {
    std::atomic<bool> waiting{true}, watching{false};
    std::atomic<int> on_caller{0};
    std::thread::id caller;
    Clock::time_point first_elsewhere{};  // the first frame on another thread while watching
    bool CallerWaiting() override { return waiting; }
    void OnPacket(uint32_t number, const uint8_t* data, int length) override {
      if (number == DSF_STREAM_FRAME && std::this_thread::get_id() == caller) ++on_caller;
      if (number == DSF_STREAM_FRAME && std::this_thread::get_id() != caller &&
          watching.exchange(false))
        first_elsewhere = Clock::now();
      Owner::OnPacket(number, data, length);
    }
  };
  wdvr::PeerConfig cfg = small();
  cfg.fps = 100;
  cfg.faults.stage = wdvr::Stage::Frame;
  cfg.faults.fault = wdvr::Fault::Silent;
  cfg.faults.after_frames = 300;
  wdvr::WdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  Lender o;
  o.caller = std::this_thread::get_id();
  o.src.SetTimeOuts(600, 600, 60000);
  live_logon(o, peer);
  const auto end = Clock::now() + std::chrono::seconds(20);
  {
    // A read that never has enough ends only on the wake, sent once it receives frames.
    std::atomic<bool> woken{false};
    std::thread waker([&] {
      while (!woken) {
        if (o.on_caller > 0) o.src.WakeReader();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
    auto r = CDSFSource::READ_UNAVAILABLE;
    while (r == CDSFSource::READ_UNAVAILABLE && o.statuses().size() < 2 && Clock::now() < end) {
      r = o.src.ReadForOwner(DSF_STREAM_FRAME, 15000, [] { return false; });
      if (r == CDSFSource::READ_UNAVAILABLE)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto left = Clock::now();
    o.watching = true;
    woken = true;
    waker.join();
    EXPECT_EQ(r, CDSFSource::READ_WOKEN);
    // The caller reads no more: within a few frame intervals the data thread has the frames.
    ASSERT_TRUE(o.wait([&] { return !o.watching; }));
    EXPECT_LT(o.first_elsewhere - left, std::chrono::milliseconds(500));
  }
  while (o.statuses().size() < 2 && Clock::now() < end) {
    const size_t had = o.count(DSF_STREAM_FRAME);
    const auto r =
        o.src.ReadForOwner(DSF_STREAM_FRAME, 200, [&] { return o.count(DSF_STREAM_FRAME) > had; });
    if (r == CDSFSource::READ_UNAVAILABLE)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_GT(o.on_caller, 0);
  ASSERT_TRUE(o.wait_status(CDSFSource::STATUS_TIMED_OUT));
  EXPECT_EQ(o.last_error(), "TimeOut, WSAETIMEDOUT : Connection timed out.");
  CDSFProtocol p;
  std::vector<std::vector<uint8_t>> video;
  const auto frames = frames_of(o, p, &video, 0);
  ASSERT_EQ(frames.size(), 300u);
  for (size_t k = 0; k < frames.size(); ++k) EXPECT_EQ(video[k], peer.video_frame(1, int(k))) << k;
}

}  // namespace
