// libOrvoSDK.so through OrvoLib's ORVOSDK_* exports against the simulated SDK DVR: argument
// checks in table order, DVR-level requests and the recording calendar, live and playback
// sessions with their pictures, commands with the peer's record of the wire bytes, and events.
// Only OrvoLib is linked: every call goes through it to libOrvoSDK.so, and no second copy of
// the SDK's internals sits in the test program.
#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "peers/media/media_gen.h"
#include "peers/wdvr/wdvr_peer.h"
#include "forward/orvolib/orvolib.h"
#include "tests/client/screens/run_tree.h"
#include "tests/sdk/sdk_test_util.h"

namespace {

using sdktest::hex;
using sdktest::wait_until;

struct Notice {
  int source, code, channel, value;
  std::string text, ip;
};
std::mutex g_lock;
std::vector<Notice> g_notices;

int OnInit(int source, int code, void* data, const char* ip, int channel, int value) {
  std::lock_guard<std::mutex> lk(g_lock);
  g_notices.push_back(Notice{source, code, channel, value,
                             source == 2 && data ? static_cast<const char*>(data) : "",
                             ip ? ip : ""});
  return 0;
}

std::vector<Notice> notices(int source) {
  std::lock_guard<std::mutex> lk(g_lock);
  std::vector<Notice> out;
  for (auto& n : g_notices)
    if (n.source == source) out.push_back(n);
  return out;
}

struct OpenState {
  std::atomic<int> started{0}, stopped{0};
  bool close_in_callback = false;
};

int OnOpen(void* handle, int dvr_id, int channel, int state, void* user) {
  auto* s = static_cast<OpenState*>(user);
  (state ? s->started : s->stopped)++;
  if (!state && s->close_in_callback) ORVOSDK_Close(handle);
  return 0;
}

wdvr::PeerConfig small(wdvr::Video video = wdvr::Video::Mpeg4, int w = 64, int h = 48) {
  wdvr::PeerConfig cfg;
  cfg.video = video;
  cfg.width = w;
  cfg.height = h;
  cfg.clip_frames = 8;
  cfg.gop = 4;
  cfg.user = "admin";
  cfg.password = "1234";
  // Live streams start on a whole minute, so a frame's second and milliseconds give its index.
  cfg.live_date = 20240115;
  cfg.live_time = 120000;
  return cfg;
}

class Sdk : public ::testing::Test {
 protected:
  void SetUp() override {
    {
      std::lock_guard<std::mutex> lk(g_lock);
      g_notices.clear();
    }
    event_port_ = uint16_t(free_loopback_port());
    ASSERT_EQ(ORVOSDK_Initialize(OnInit, event_port_), 1);
  }
  void TearDown() override { ORVOSDK_Terminate(); }

  // Lives until TearDown's ORVOSDK_Terminate: a session a test leaves open calls its callback
  // (state 0) when the test's peer goes away at the end of the test body.
  OpenState& open_state() { return states_.emplace_back(); }

  int connect(const wdvr::WdvrPeer& peer, const char* password = "1234") {
    _SDK_DVR_INFO info{};
    return ORVOSDK_Connect("127.0.0.1", "admin", password, peer.base_port(), 1, &info);
  }
  void* open(int id, int channel, bool live, OpenState* st, uint32_t date = 0, uint32_t time = 0) {
    _SDK_CONN_PARAM p{};
    p.bValue0 = 1;
    p.wValue2 = 5;
    p.cLive = live ? 1 : 0;
    p.dwPlayDate = date;
    p.dwPlayTime = time;
    return ORVOSDK_Open(id, channel, &p, OnOpen, channel, st);
  }
  // A session on a fresh connection to `peer` whose callback has told state 1.
  void* started(const wdvr::WdvrPeer& peer, int channel, bool live, OpenState& st,
                uint32_t date = 0, uint32_t time = 0) {
    void* h = open(connect(peer), channel, live, &st, date, time);
    EXPECT_NE(h, nullptr);
    EXPECT_TRUE(wait_until([&] { return st.started == 1; }, 10000));
    return h;
  }
  uint16_t event_port_ = 0;
  std::deque<OpenState> states_;
};

struct Buffers {
  std::vector<uint8_t> first = std::vector<uint8_t>(SDK_FIRST_BUFFER_SIZE);
  std::vector<uint8_t> second = std::vector<uint8_t>(SDK_SECOND_BUFFER_SIZE);
  std::vector<uint8_t> out = std::vector<uint8_t>(4 << 20);
  _SDK_PACKET packet{};
  _SDK_FRAME_INFO info{};
  Buffers() {
    packet.pBuffer = first.data();
    packet.pBuffer2 = second.data();
    packet.pOutput = out.data();
  }
  int get(void* h) { return ORVOSDK_GetPacket(h, &packet, &info); }
  // The next video packet (audio skipped).
  bool video(void* h, int tries = 200) {
    while (tries-- > 0)
      if (get(h) == 1 && packet.bType == 0) return true;
    return false;
  }
};

TEST_F(Sdk, ArgumentChecksComeFirstInTableOrder) {
  EXPECT_EQ(ORVOSDK_Initialize(nullptr, 0), 8);
  _SDK_DVR_INFO info{};
  EXPECT_EQ(ORVOSDK_Connect("127.0.0.1", "u", "p", -1, 1, &info), -3);
  EXPECT_EQ(ORVOSDK_Connect("127.0.0.1", "u", "p", 65536, 1, &info), -3);
  EXPECT_EQ(ORVOSDK_Connect(nullptr, "u", "p", 1, 1, &info), -3);
  EXPECT_EQ(ORVOSDK_Connect("127.0.0.1", "u", "p", 1, 1, nullptr), -3);
  EXPECT_EQ(ORVOSDK_Connect("", "u", "p", 0, 1, &info), -1);  // port 0 passes the check
  EXPECT_EQ(ORVOSDK_Disconnect(-5), -1);
  EXPECT_EQ(ORVOSDK_Disconnect(1001), 0);  // no DVR connected at all
  _SDK_CONN_PARAM p{};
  p.cLive = 7;
  EXPECT_EQ(ORVOSDK_Open(1001, 0, &p, OnOpen, 0, nullptr), nullptr);
  EXPECT_EQ(p.cLive, 1);  // rewritten even though the open failed
  EXPECT_EQ(ORVOSDK_Open(1001, 0, nullptr, OnOpen, 0, nullptr), nullptr);
  EXPECT_EQ(ORVOSDK_Open(1001, 0, &p, nullptr, 0, nullptr), nullptr);
  int dummy = 0;
  void* bogus = &dummy;
  EXPECT_EQ(ORVOSDK_Close(bogus), 0);
  EXPECT_EQ(ORVOSDK_SetPacketParam(bogus, nullptr), SDK_ERR_ARGUMENT);
  _SDK_PACKET_PARAM pp{};
  EXPECT_EQ(ORVOSDK_SetPacketParam(bogus, &pp), 0);
  EXPECT_EQ(ORVOSDK_GetPacket(bogus, nullptr, nullptr), 0);
  EXPECT_EQ(ORVOSDK_PresetSet(bogus, 256), 0);
  EXPECT_EQ(ORVOSDK_PresetRun(bogus, -1), 0);
  EXPECT_EQ(ORVOSDK_GetDVRSetup(bogus, nullptr), SDK_ERR_ARGUMENT);
  EXPECT_EQ(ORVOSDK_SetDVRSetup(bogus, nullptr), SDK_ERR_ARGUMENT);
  EXPECT_EQ(ORVOSDK_GetRelayState(bogus, nullptr, &dummy), 0);
  EXPECT_EQ(ORVOSDK_StartRemoteSearch(1001, 20240101, 0, 0, 2, 0), 0u);  // divide 2
  EXPECT_EQ(ORVOSDK_StartRemoteSearch(1001, 20380119, 0, 0, 1, 0), 0u);
  EXPECT_EQ(ORVOSDK_SetSearchStatus(1001, 8), 0u);
  EXPECT_EQ(ORVOSDK_GetSearchStatus(1001, nullptr), 0u);
  unsigned long days = 0;
  EXPECT_EQ(ORVOSDK_GetDayOfMonthlyRecord(1001, 4, 2024, 13, &days), 0);
  EXPECT_EQ(ORVOSDK_GetDayOfMonthlyRecord(-1, 4, 2024, 1, &days), 0);
  char text[8];
  std::memset(text, 'x', sizeof text);
  ORVOSDK_GetLastErrorString(bogus, text, 1);
  EXPECT_EQ(text[0], 0);
  EXPECT_EQ(text[1], 'x');
  ORVOSDK_GetLastErrorString(bogus, text, 0);  // size below 1 writes nothing
  EXPECT_EQ(text[1], 'x');
}

TEST_F(Sdk, ConnectGivesIdsInOrderAndRefusalsLeaveNoEntry) {
  wdvr::WdvrPeer a(small()), b(small());
  ASSERT_TRUE(a.start());
  ASSERT_TRUE(b.start());
  _SDK_DVR_INFO info{};
  EXPECT_EQ(ORVOSDK_Connect("127.0.0.1", "admin", "1234", a.base_port(), 0, &info), 1001);
  EXPECT_EQ(info.nChannels, 4);
  EXPECT_EQ(connect(b), 1002);
  EXPECT_EQ(connect(b, "wrong"), -2);
  EXPECT_EQ(ORVOSDK_Disconnect(1002), 1);
  EXPECT_EQ(ORVOSDK_Disconnect(1002), -1);
  const auto req = a.requests();
  bool logon = false;
  for (const auto& r : req)
    if (r.number == 1 && r.port == a.base_port()) {
      logon = true;
      // user, password, a zero byte, the fixed address, then the log-on flag taken as 1.
      ASSERT_GE(r.body.size(), 4u);
      EXPECT_EQ(std::vector<uint8_t>(r.body.end() - 4, r.body.end()), hex("00000001"));
      EXPECT_EQ(std::vector<uint8_t>(r.body.begin(), r.body.begin() + 8), hex("0006 61646d696e00"));
    }
  EXPECT_TRUE(logon);
}

TEST_F(Sdk, TwoDvrsConnectingTogetherBothSucceed) {
  wdvr::WdvrPeer a(small()), b(small());
  ASSERT_TRUE(a.start());
  ASSERT_TRUE(b.start());
  int ida = 0, idb = 0;
  std::thread t([&] { ida = connect(a); });
  idb = connect(b);
  t.join();
  EXPECT_GT(ida, 1000);
  EXPECT_GT(idb, 1000);
  EXPECT_NE(ida, idb);
}

TEST_F(Sdk, DvrLevelRequestsAndRecordingCalendar) {
  wdvr::PeerConfig cfg = small();
  wdvr::WdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  const int id = connect(peer);
  ASSERT_GT(id, 1000);
  _SDK_DVR_INFO info{};
  EXPECT_EQ(ORVOSDK_GetDVRSystemInfo(id, &info), 1);
  _SDK_DVR_HEALTH_INFO health{};
  EXPECT_EQ(ORVOSDK_GetDVRHealthInfo(id, &health), 1);
  EXPECT_EQ(health.adwValue[0], 1u);
  EXPECT_EQ(health.awValue[1], 8u);
  _SDK_DVR_SEARCH_STATUS st{};
  EXPECT_EQ(ORVOSDK_GetSearchStatus(id, &st), 1u);
  EXPECT_EQ(st.bValue0, 1);
  EXPECT_EQ(ORVOSDK_StartRemoteSearch(id, 20240115, 120000, 1, 4, 3), 1u);
  EXPECT_EQ(ORVOSDK_SetSearchStatus(id, 2), 1u);
  wdvr::Request r;
  ASSERT_TRUE(peer.wait_request(0x70100, 0, 2000, &r));
  EXPECT_EQ(r.body, hex("0134d6f3 0001d4c0 01 04 0003 00000000 00000000"));

  unsigned long days = 0;
  EXPECT_EQ(ORVOSDK_GetDayOfMonthlyRecord(id, 4, 2024, 1, &days), 1);
  EXPECT_EQ(days, 0xC00Ful);
  _SDK_REC_TIMETABLE_EX all;
  std::memset(&all, 0xEE, sizeof all);
  EXPECT_EQ(ORVOSDK_GetRecordInfoAllChannel(id, 4, 20240115, &all), 1);
  for (int c = 0; c < 4; ++c)
    EXPECT_EQ(std::vector<uint8_t>(all.aChannel[c].abSlot, all.aChannel[c].abSlot + 240),
              wdvr::record_table(cfg, 20240115, c));
  EXPECT_EQ(all.aChannel[4].abSlot[100], 0);
  EXPECT_EQ(all.aChannel[15].abSlot[239], 0);
  EXPECT_EQ(ORVOSDK_GetRecordInfoAllChannel(id, 17, 20240115, &all), 0);
  _SDK_REC_TIMETABLE one{};
  EXPECT_EQ(ORVOSDK_GetRecordInfo(id, 2, 20240115, &one), 1);
  EXPECT_EQ(std::vector<uint8_t>(one.abSlot, one.abSlot + 240),
            wdvr::record_table(cfg, 20240115, 2));
  EXPECT_EQ(ORVOSDK_GetRecordInfo(id, 16, 20240115, &one), 0);
}

TEST_F(Sdk, SilentControlPortFailsConnectAndTellsTheApplication) {
  wdvr::PeerConfig cfg = small();
  cfg.faults.stage = wdvr::Stage::Cms;
  cfg.faults.fault = wdvr::Fault::Silent;
  wdvr::WdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  EXPECT_EQ(connect(peer), -1);
  EXPECT_EQ(ORVOSDK_Disconnect(1001), 0);  // no entry left
}

// Region of a decoded I420 picture against the synthetic source: PSNR of the luma.
double luma_psnr(const uint8_t* y, const media_gen::Yuv420& src) {
  return media_gen::psnr_y(y, src.y.data(), src.width, src.height, src.width, src.width);
}

TEST_F(Sdk, LiveMpeg4PicturesMatchTheSourceInEveryOutputFormat) {
  wdvr::PeerConfig cfg = small(wdvr::Video::Mpeg4, 176, 144);
  cfg.audio = wdvr::Audio::Adpcm;
  wdvr::WdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  OpenState& st = open_state();
  void* h = started(peer, 1, true, st);
  Buffers b;
  _SDK_PACKET_PARAM pp{0, SDK_OUTPUT_I420, 0};
  EXPECT_EQ(ORVOSDK_SetPacketParam(h, &pp), 1);
  ASSERT_TRUE(b.video(h));
  EXPECT_EQ(b.packet.wCodec, SDK_CODEC_MPEG4);
  EXPECT_EQ(b.packet.wWidth, 176);
  EXPECT_EQ(b.packet.wHeight, 144);
  EXPECT_EQ(b.packet.dwOutLength, 176u * 144 * 3 / 2);
  EXPECT_EQ(b.info.wYear, 2024);
  EXPECT_EQ(b.info.wMonth, 1);
  EXPECT_EQ(b.info.wDay, 15);
  EXPECT_EQ(b.info.wHour, 12);
  // The frame index from the time stamp gives the source picture.
  const int index =
      (b.info.wSecond * 1000 + b.info.wMilliseconds) * cfg.fps / 1000 % cfg.clip_frames;
  EXPECT_GT(luma_psnr(b.out.data(), media_gen::synth_picture(176, 144, 1, index)), 30.0);
  for (uint8_t fmt : {SDK_OUTPUT_BGR24, SDK_OUTPUT_BGR24_VIDEO}) {
    pp.bOutput = fmt;
    ORVOSDK_SetPacketParam(h, &pp);
    ASSERT_TRUE(b.video(h));
    EXPECT_EQ(b.packet.dwOutLength, 176u * 144 * 3);
  }
  // Audio comes along, decoded.
  bool audio = false;
  for (int i = 0; i < 100 && !audio; ++i)
    if (b.get(h) == 1 && b.packet.bType == 1)
      audio = b.packet.dwOutLength > 0 && b.packet.wCodec == SDK_CODEC_AUDIO_MPEG4;
  EXPECT_TRUE(audio);
  EXPECT_EQ(ORVOSDK_Close(h), 1);
  EXPECT_EQ(ORVOSDK_Close(h), 0);
}

TEST_F(Sdk, TallH264PicturesAreWovenFromTheirTwoFieldsOrDeinterlaced) {
  wdvr::PeerConfig cfg = small(wdvr::Video::H264, 720, 480);
  cfg.clip_frames = 4;
  cfg.gop = 2;
  cfg.noise = 8;  // the two fields' rows differ
  wdvr::WdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  OpenState& st = open_state();
  void* h = open(connect(peer), 0, true, &st);
  ASSERT_NE(h, nullptr);
  _SDK_PACKET_PARAM pp{1, SDK_OUTPUT_I420, 0};
  ORVOSDK_SetPacketParam(h, &pp);
  Buffers b;
  ASSERT_TRUE(b.video(h));
  EXPECT_EQ(b.packet.wCodec, SDK_CODEC_H264);
  EXPECT_EQ(b.packet.bTall, 1);
  EXPECT_EQ(b.packet.wHeight, 480);
  EXPECT_GT(b.packet.dwLength2, 0u);
  EXPECT_EQ(b.packet.dwOutLength, 720u * 480 * 3 / 2);
  const int index =
      (b.info.wSecond * 1000 + b.info.wMilliseconds) * cfg.fps / 1000 % cfg.clip_frames;
  EXPECT_GT(luma_psnr(b.out.data(), media_gen::synth_picture(720, 480, 0, index)), 28.0);
  // Deinterlacing doubles the first field's lines: each odd luma row repeats the row above.
  auto doubled = [&] {
    for (int r = 0; r < 480; r += 2)
      if (std::memcmp(&b.out[r * 720], &b.out[(r + 1) * 720], 720) != 0) return false;
    return true;
  };
  EXPECT_FALSE(doubled());
  EXPECT_EQ(ORVOSDK_SetDeinterlace(h, 1), 1);
  ASSERT_TRUE(b.video(h));
  EXPECT_TRUE(doubled());
  EXPECT_EQ(ORVOSDK_SetDeinterlace(h, 0), 1);
  ASSERT_TRUE(b.video(h));
  EXPECT_FALSE(doubled());
}

TEST_F(Sdk, G723AudioIsDeliveredRawAndDecoded) {
  wdvr::PeerConfig cfg = small();
  cfg.audio = wdvr::Audio::G723;
  wdvr::WdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  OpenState& st = open_state();
  void* h = open(connect(peer), 0, true, &st);
  ASSERT_NE(h, nullptr);
  Buffers b;
  double energy = 0;
  long samples = 0;
  for (int i = 0; i < 200 && samples < 2400; ++i) {
    if (b.get(h) != 1 || b.packet.bType != 1) continue;
    EXPECT_GT(b.packet.dwLength, 0u);
    const auto* pcm = reinterpret_cast<const int16_t*>(b.out.data());
    for (uint32_t k = 0; k < b.packet.dwOutLength / 2; ++k, ++samples)
      energy += double(pcm[k]) * pcm[k];
  }
  ASSERT_GT(samples, 0);
  EXPECT_GT(std::sqrt(energy / double(samples)), 300.0);  // the peer's tone, not silence
}

TEST_F(Sdk, ASessionWhoseLogOnFailedIsNotConnected) {
  wdvr::PeerConfig cfg = small();
  cfg.faults.control_logon_result = 0xF0010003;
  wdvr::WdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  OpenState& st = open_state();
  void* h = open(connect(peer), 0, true, &st);
  ASSERT_NE(h, nullptr);
  ASSERT_TRUE(peer.wait_request(0x00000002, 0, 10000));
  EXPECT_EQ(ORVOSDK_ControlPTZ(h, 1), 0);
  char text[64];
  ORVOSDK_GetLastErrorString(h, text, sizeof text);
  EXPECT_STREQ(text, "not connected yet");
}

TEST_F(Sdk, CommandsReachTheDvrAndNeedTheirKindOfSession) {
  wdvr::WdvrPeer peer(small());
  ASSERT_TRUE(peer.start());
  OpenState& st = open_state();
  void* h = started(peer, 2, true, st);
  EXPECT_EQ(ORVOSDK_ControlPTZ(h, 7), 1);
  EXPECT_EQ(ORVOSDK_ControlPTZWiper(h), 1);  // the PTZ function reply answers like the others
  EXPECT_EQ(ORVOSDK_ControlPTZAux2(h, 1), 1);
  EXPECT_EQ(ORVOSDK_ControlPTZMenuSelect(h), 1);
  unsigned char raw[3] = {0xA0, 0x01, 0x02};
  EXPECT_EQ(ORVOSDK_ControlPTZBypass(h, raw, 3), 1);
  EXPECT_EQ(ORVOSDK_ControlPTZBypass(h, nullptr, 3), 0);
  EXPECT_EQ(ORVOSDK_PresetSet(h, 9), 1);
  EXPECT_EQ(ORVOSDK_PresetRun(h, 9), 1);
  EXPECT_EQ(ORVOSDK_SetRelayState(h, 9, 5), 1);  // relay 3, state 1
  int count = 0, bits = 0;
  EXPECT_EQ(ORVOSDK_GetRelayState(h, &count, &bits), 1);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(bits, 0xA);
  auto setup = std::make_unique<_SDK_DVRSETUP>();
  std::memset(setup.get(), 0, sizeof *setup);
  EXPECT_EQ(ORVOSDK_GetDVRSetup(h, setup.get()), 1);
  EXPECT_GT(setup->nChannels, 0u);
  EXPECT_EQ(ORVOSDK_SetDVRSetup(h, setup.get()), 1);
  EXPECT_EQ(ORVOSDK_NormalForward(h), 0);
  char text[64];
  ORVOSDK_GetLastErrorString(h, text, sizeof text);
  EXPECT_STREQ(text, "Live not support!");
  wdvr::Request r;
  ASSERT_TRUE(peer.wait_request(0x00030201, 0, 2000, &r));
  EXPECT_EQ(r.body, hex("02 07"));
  ASSERT_TRUE(peer.wait_request(0x00030202, 1, 2000, &r));
  EXPECT_EQ(r.body, hex("02 25 01 01"));
  ASSERT_TRUE(peer.wait_request(0x0003020F, 0, 2000, &r));
  EXPECT_EQ(r.body, hex("02 03 a0 01 02"));
  ASSERT_TRUE(peer.wait_request(0x00031001, 0, 2000, &r));
  EXPECT_EQ(r.body, hex("03 01"));
  ASSERT_TRUE(peer.wait_request(0x00030205, 0, 2000, &r));
  EXPECT_EQ(r.body, hex("02 09 0000"));
}

// Replies that do not read fail their commands and leave the caller's records as they were; an
// audio format the decoder cannot take only costs the stream its audio: no box on the
// session's thread (it would hold the session until clicked), the reason in its last error.
TEST_F(Sdk, UnreadableRepliesFailAndABadAudioFormatIsOnlyReported) {
  wdvr::PeerConfig cfg = small();
  cfg.audio = wdvr::Audio::Adpcm;
  cfg.faults.audio_setup = 17;  // 8000 x 17 x 2 bytes of output: past the decoder's capacity
  cfg.faults.relay_count = 10;  // four relays follow
  cfg.faults.setup_count = 9;   // four entries follow
  wdvr::WdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  setenv("VIGILO_BOX_ANSWER", "ok", 1);
  testing::internal::CaptureStderr();
  OpenState& st = open_state();
  void* h = started(peer, 0, true, st);
  EXPECT_EQ(testing::internal::GetCapturedStderr().find("Audio Decoder"), std::string::npos);
  unsetenv("VIGILO_BOX_ANSWER");
  char text[64];
  ORVOSDK_GetLastErrorString(h, text, sizeof text);
  EXPECT_STREQ(text, "Audio Decoder initialization failure");
  Buffers b;
  EXPECT_TRUE(b.video(h, 50));

  int count = -7, bits = -7;
  EXPECT_EQ(ORVOSDK_GetRelayState(h, &count, &bits), 0);
  EXPECT_EQ(count, -7);
  EXPECT_EQ(bits, -7);
  ORVOSDK_GetLastErrorString(h, text, sizeof text);
  EXPECT_STREQ(text, "wrong data");
  auto setup = std::make_unique<_SDK_DVRSETUP>();
  std::memset(setup.get(), 0xEE, sizeof *setup);
  EXPECT_EQ(ORVOSDK_GetDVRSetup(h, setup.get()), 0);
  EXPECT_EQ(setup->nChannels, 0xEEEEEEEEu);
}

// The rest of the session commands, one row each: on the kind of session it serves the export
// sends its request with these payload bytes over that session's control connection; on the
// other kind it is refused with that kind's text and sends nothing; an unknown handle gives 0.
// Rows without a request are session settings, taken by both kinds.
TEST_F(Sdk, EachCommandSendsItsBytesOnlyOnItsKindOfSession) {
  wdvr::PeerConfig cfg = small();
  cfg.playback_frames = 900;  // still streaming when the last row runs
  wdvr::WdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  const int id = connect(peer);
  OpenState& live_st = open_state();
  OpenState& play_st = open_state();
  void* live = open(id, 2, true, &live_st);
  void* play = open(id, 1, false, &play_st, 20240115, 103000);
  ASSERT_NE(live, nullptr);
  ASSERT_NE(play, nullptr);
  auto text_of = [](void* h) {
    char text[64];
    ORVOSDK_GetLastErrorString(h, text, sizeof text);
    return std::string(text);
  };
  // Until a session is connected every command is "not connected yet"; after, the kind check.
  ASSERT_TRUE(wait_until(
      [&] {
        return ORVOSDK_ControlPTZ(play, 1) == 0 && text_of(play) == "VOD not support!" &&
               ORVOSDK_PlayGoto(live, 20240115, 0) == 0 && text_of(live) == "Live not support!";
      },
      10000));
  enum Kind { Live, Playback, Both };
  struct Row {
    const char* name;
    Kind kind;
    int (*call)(void*);
    uint32_t number;  // 0: no request
    const char* body;
  } rows[] = {
      {"Zoom", Live, [](void* h) { return ORVOSDK_ControlPTZZoom(h, 0x11); }, 0x00030201, "02 11"},
      {"Focus", Live, [](void* h) { return ORVOSDK_ControlPTZFocus(h, 0x12); }, 0x00030201,
       "02 12"},
      {"Iris", Live, [](void* h) { return ORVOSDK_ControlPTZIris(h, 0x13); }, 0x00030201, "02 13"},
      {"AutoPan", Live, [](void* h) { return ORVOSDK_ControlPTZAutoPan(h, 0x14); }, 0x00030201,
       "02 14"},
      {"Tour", Live, [](void* h) { return ORVOSDK_ControlPTZTour(h, 0x15); }, 0x00030201, "02 15"},
      {"Pump", Live, [](void* h) { return ORVOSDK_ControlPTZPump(h); }, 0x00030202, "02 20 00 00"},
      {"CameraPower", Live, [](void* h) { return ORVOSDK_ControlPTZCameraPower(h, 1); }, 0x00030202,
       "02 23 00 01"},
      {"Light", Live, [](void* h) { return ORVOSDK_ControlPTZLight(h, 1); }, 0x00030202,
       "02 24 00 01"},
      {"Aux1", Live, [](void* h) { return ORVOSDK_ControlPTZAux1(h, 1); }, 0x00030202,
       "02 25 00 01"},
      {"MenuOpen", Live, [](void* h) { return ORVOSDK_ControlPTZMenuOpen(h); }, 0x0003020B,
       "02 33"},
      {"MenuClose", Live, [](void* h) { return ORVOSDK_ControlPTZMenuClose(h); }, 0x0003020B,
       "02 35"},
      // No frame handed out yet: the position is the playback start.
      {"FastForward", Playback, [](void* h) { return ORVOSDK_FastForward(h); }, 0x00060005,
       "00019258 01"},
      {"FastBackward", Playback, [](void* h) { return ORVOSDK_FastBackward(h); }, 0x00060005,
       "00019258 00"},
      // The session's own date, the time, 0, and the time's low byte.
      {"PlayGoto", Playback, [](void* h) { return ORVOSDK_PlayGoto(h, 20240116, 104500); },
       0x00060009, "0134d6f3 00019834 00 34"},
      {"SetWaitTimeout", Both, [](void* h) { return ORVOSDK_SetWaitTimeout(h, 30); }, 0, ""},
      {"SetDeinterlace", Both, [](void* h) { return ORVOSDK_SetDeinterlace(h, 1); }, 0, ""},
  };
  int dummy = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(r.call(&dummy), 0);
    if (r.kind == Both) {
      EXPECT_EQ(r.call(live), 1);
      EXPECT_EQ(r.call(play), 1);
      continue;
    }
    void* own = r.kind == Live ? live : play;
    void* other = r.kind == Live ? play : live;
    const int before = peer.count(r.number);
    EXPECT_EQ(r.call(other), 0);
    EXPECT_EQ(text_of(other), r.kind == Live ? "VOD not support!" : "Live not support!");
    EXPECT_EQ(r.call(own), 1);
    wdvr::Request req;
    ASSERT_TRUE(peer.wait_request(r.number, before, 2000, &req));
    EXPECT_EQ(req.body, hex(r.body));
    EXPECT_EQ(req.port, peer.base_port() + (r.kind == Live ? 3 : 1));
    EXPECT_EQ(peer.count(r.number), before + 1);
  }
}

TEST_F(Sdk, PlaybackSessionStartsAtItsTimeAndWaitsFiveSecondsAtMost) {
  wdvr::PeerConfig cfg = small();
  cfg.playback_frames = 6;
  wdvr::WdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  OpenState& st = open_state();
  void* h = started(peer, 0, false, st, 20240115, 103000);
  Buffers b;
  int got = 0;
  auto last = std::chrono::steady_clock::now();
  while (b.get(h) == 1) {
    last = std::chrono::steady_clock::now();
    if (got++ == 0) {
      EXPECT_EQ(b.info.wHour, 10);
      EXPECT_EQ(b.info.wMinute, 30);
    }
  }
  EXPECT_EQ(got, 6);
  // The empty list's wait of a playback session.
  EXPECT_GE(std::chrono::steady_clock::now() - last, std::chrono::milliseconds(4900));
  EXPECT_EQ(ORVOSDK_ControlPTZ(h, 1), 0);
  char text[64];
  ORVOSDK_GetLastErrorString(h, text, sizeof text);
  EXPECT_STREQ(text, "VOD not support!");
  wdvr::Request r;
  ASSERT_TRUE(peer.wait_request(0x00020003, 0, 2000, &r));
  ASSERT_GE(r.body.size(), 11u);
  EXPECT_EQ(std::vector<uint8_t>(r.body.end() - 11, r.body.end()),
            hex("0134d6f3 00019258 00 00 01"));
}

TEST_F(Sdk, WaitTimeoutEndsAndCancelWaitReleasesABlockedGetPacket) {
  wdvr::PeerConfig cfg = small();
  cfg.faults.stage = wdvr::Stage::Frame;
  cfg.faults.fault = wdvr::Fault::Silent;
  wdvr::WdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  OpenState& st = open_state();
  void* h = started(peer, 0, true, st);
  Buffers b;
  // A set wait time-out ends a wait on the silent stream after about that time, far short of
  // the live default of 20 s.
  EXPECT_EQ(ORVOSDK_SetWaitTimeout(h, 1), 1);
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(b.get(h), 0);
  const auto waited = std::chrono::steady_clock::now() - t0;
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::milliseconds(15000));
  ORVOSDK_SetWaitTimeout(h, 60);
  std::atomic<int> result{-1};
  std::thread t([&] { result = b.get(h); });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(ORVOSDK_CancelWait(h), 1);
  ASSERT_TRUE(wait_until([&] { return result != -1; }, 5000));
  t.join();
  EXPECT_EQ(result, 0);
}

TEST_F(Sdk, ClosingASessionAThreadWaitsInIsSafe) {
  wdvr::WdvrPeer peer(small());
  ASSERT_TRUE(peer.start());
  OpenState& st = open_state();
  void* h = started(peer, 0, true, st);
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    Buffers b;
    while (!stop) b.get(h);  // goes on after the close: the handle is unknown then
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(ORVOSDK_Close(h), 1);
  stop = true;
  reader.join();
}

TEST_F(Sdk, ADroppedStreamTellsItsCallbackStateZeroOnceAndMayCloseThere) {
  wdvr::WdvrPeer peer(small());
  ASSERT_TRUE(peer.start());
  OpenState& st = open_state();
  st.close_in_callback = true;
  void* h = started(peer, 0, true, st);
  Buffers b;
  ASSERT_TRUE(b.video(h, 50));
  peer.drop_connections();
  ASSERT_TRUE(wait_until([&] { return st.stopped == 1; }, 10000));
  EXPECT_TRUE(wait_until([&] { return ORVOSDK_Close(h) == 0; }, 5000));  // closed by its callback
  EXPECT_EQ(st.stopped, 1);
}

TEST_F(Sdk, EventsReachTheCallbackWithCodesTextsAndDvrIds) {
  wdvr::WdvrPeer peer(small());
  ASSERT_TRUE(peer.start());
  const int id = connect(peer);
  struct Case {
    uint32_t number;
    uint32_t value;
    int index, state;
    int code;
    const char* text;
    int channel;
  } cases[] = {
      {0x00050001, 2, 5, 0, 0x10000001, "Sensor event 2", 5},
      {0x00050201, 4, 0, 0, 0x10000008, "System shutdown ", 0},
      {0x00050201, 7, 0, 0, 0x10000008, "System shutdown  (power Off)", 0},
      {0x00050202, 0, 0, 0, 0x10000004, "System Rebooted", 0},
      {0x00050301, 0, 0, 0, 0x10000800, "Recording Started", 0},
      {0x00050302, 0, 0, 0, 0x10001000, "Recording Stoped", 0},
      {0x00050701, 0, 0, 0, 0x10000008, "System shutdown", 0},
      {0x00050701, 1, 0, 0, 0x10000020, "System started.", 0},
      {0x00050702, 1, 0, 0, 0x10000080, "User Log On", 0},
      {0x00050703, 0, 0, 0, 0x10000100, "Option setup end", 0},
      {0x00050705, 0, 0, 0, 0x10000200, "[HDD Info]failure of smart test", 0},
      {0x00050705, 2, 0, 0, 0x10000200, "HDD full", 0},
      {0x00050801, 0, 2, 1, 0x10008000, "Relay On", 2},
      {0x00050801, 0, 2, 0, 0x10010000, "Relay Off", 2},
      {0x00050802, 0, 6, 0, 0x10000400, "Motion event detected", 6},
      {0x00050803, 0, 3, 0, 0x10004000, "Video Loss", 3},
      {0x00050803, 0, 3, 1, 0x10002000, "Video In", 3},
  };
  for (const Case& c : cases) {
    const size_t before = notices(2).size();
    ASSERT_TRUE(wdvr::send_event(event_port_, c.number,
                                 wdvr::event_payload(c.number, c.value, c.index, c.state)));
    ASSERT_TRUE(wait_until([&] { return notices(2).size() > before; }, 5000))
        << std::hex << c.number;
    const Notice n = notices(2).back();
    EXPECT_EQ(n.code, c.code) << c.text;
    EXPECT_EQ(n.text, c.text);
    EXPECT_EQ(n.channel, c.channel) << c.text;
    EXPECT_EQ(n.value, id);
    EXPECT_EQ(n.ip, "127.0.0.1");
  }
}

TEST_F(Sdk, EventServerDropsOversizedAndBindsAgainAfterTerminate) {
  // An oversized announcement is dropped without a callback.
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(event_port_);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  const auto big = hex("00050202 00000001 7fffffff");
  ASSERT_EQ(send(fd, big.data(), big.size(), MSG_NOSIGNAL), ssize_t(big.size()));
  pollfd pfd{fd, POLLIN, 0};
  uint8_t c;
  // A reset is a close too; a time-out is not.
  const int got = poll(&pfd, 1, 5000) == 1 ? (recv(fd, &c, 1, 0) > 0 ? 1 : 0) : -1;
  close(fd);
  EXPECT_EQ(got, 0);  // closed by the server
  EXPECT_TRUE(notices(2).empty());
  ORVOSDK_Terminate();
  ASSERT_EQ(ORVOSDK_Initialize(OnInit, event_port_), 1);
  ASSERT_TRUE(wdvr::send_event(event_port_, 0x00050202, {}));
  EXPECT_TRUE(wait_until([&] { return notices(2).size() == 1; }, 5000));
  EXPECT_EQ(notices(2)[0].value, -1);  // from an address not in the table
}

// Counted before this process's first Initialize.
const int g_threads_at_load = sdktest::threads();
const int g_fds_at_load = sdktest::open_descriptors();

// After a round of work Terminate leaves no thread or descriptor of the library behind.
TEST_F(Sdk, TerminateLeavesNoThreadOrDescriptorBehind) {
  {
    wdvr::WdvrPeer peer(small());
    ASSERT_TRUE(peer.start());
    OpenState& st = open_state();
    void* h = started(peer, 0, true, st);
    Buffers b;
    ASSERT_TRUE(b.video(h, 50));
    ORVOSDK_Terminate();
  }
  EXPECT_TRUE(wait_until(
      [] {
        return sdktest::threads() == g_threads_at_load &&
               sdktest::open_descriptors() == g_fds_at_load;
      },
      5000))
      << sdktest::threads() << " threads, " << sdktest::open_descriptors() << " descriptors";
  ASSERT_EQ(ORVOSDK_Initialize(OnInit, event_port_), 1);
}

TEST_F(Sdk, TerminateInvalidatesHandles) {
  wdvr::WdvrPeer peer(small());
  ASSERT_TRUE(peer.start());
  const int id = connect(peer);
  OpenState& st = open_state();
  void* h = open(id, 0, true, &st);
  ASSERT_NE(h, nullptr);
  ORVOSDK_Terminate();
  Buffers b;
  EXPECT_EQ(b.get(h), 0);
  ASSERT_EQ(ORVOSDK_Initialize(OnInit, event_port_), 1);
  EXPECT_EQ(connect(peer), 1001);
}

}  // namespace
