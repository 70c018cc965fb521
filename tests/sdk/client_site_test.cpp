// Sessions and the application object driven directly (the timer stopped, upkeep ticked by
// hand) against the simulated SDK DVR: hold and release, keep-alive, start-wait, refusals,
// the frame list's limits and reassembly, the alive test, DVR-level waits across DVRs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "peers/wdvr/wdvr_peer.h"
#include "sdk/OrvoSDKApp.h"
#include "tests/sdk/sdk_test_util.h"

namespace {

using sdktest::hex;
using sdktest::small;
using sdktest::wait_until;

std::atomic<int> g_started{0}, g_stopped{0}, g_unreachable{0}, g_connected_when_started{-1};

int OnInit(int source, int code, void*, const char*, int, int) {
  if (source == 1 && code == 0x1000) ++g_unreachable;
  return 0;
}
int OnOpen(void* handle, int, int, int state, void*) {
  if (state) g_connected_when_started = static_cast<CClientSite*>(handle)->IsConnected();
  (state ? g_started : g_stopped)++;
  return 0;
}

class Site : public ::testing::Test {
 protected:
  void SetUp() override {
    g_started = g_stopped = g_unreachable = 0;
    g_connected_when_started = -1;
    ASSERT_EQ(app_.Initialize(OnInit, nullptr, 0), 1);
    app_.Stop();  // the tests tick by hand
  }
  void TearDown() override { app_.Terminate(); }

  int connect(const wdvr::WdvrPeer& peer) {
    _SDK_DVR_INFO info{};
    return app_.Connect("127.0.0.1", "admin", "1234", peer.base_port(), 1, &info);
  }
  std::shared_ptr<CClientSite> open(int id, bool live, uint32_t date = 0, uint32_t time = 0) {
    SITE_OPEN_PARAM p{};
    p.nDvrId = id;
    p.bLiveByte = 1;
    p.bValue0 = 1;
    p.dwValue2 = 5;
    p.dwPlayDate = date;
    p.dwPlayTime = time;
    return app_.Open(id, 0, p, OnOpen, 0, live ? 1 : 0, nullptr);
  }
  COrvoSDKApp app_;
};

// Playback pauses the DVR and never drops: held above 300 frames, or above the live lists'
// byte bound when frames are large (a high-bit-rate D1 stream, over 56 KiB a frame), and
// released below 30 frames.
TEST_F(Site, PlaybackIsHeldAbove300FramesOr16MiBAndReleasedBelow30WithoutDropping) {
  wdvr::PeerConfig large = small();
  large.channels = 1;
  large.width = 720;
  large.height = 480;
  large.noise = 24;
  large.gop = 1;
  large.clip_frames = 2;
  large.playback_frames = 400;  // 40 MB or so: all of it may come before the hold
  wdvr::PeerConfig little = small();
  little.playback_frames = 1000;
  for (wdvr::PeerConfig cfg : {little, large}) {
    SCOPED_TRACE(cfg.width);
    cfg.fps = 0;
    wdvr::WdvrPeer peer(cfg);
    ASSERT_TRUE(peer.start());
    auto s = open(connect(peer), false, 20240115, 103000);
    ASSERT_TRUE(s);
    // Frames (data connection) may fill the list before the stream header (control
    // connection) has made the session connected; only a connected session is held.
    ASSERT_TRUE(wait_until(
        [&] {
          return s->DroppedFrames() > 0 ||
                 (s->IsConnected() == 1 &&
                  (s->QueuedFrames() > 300 || s->QueuedBytes() > CClientSite::kFrameListBytes));
        },
        20000));
    ASSERT_EQ(s->DroppedFrames(), 0);
    if (cfg.width == large.width) {
      EXPECT_GT(s->QueuedBytes() / s->QueuedFrames(), CClientSite::kFrameListBytes / 300);
    }
    s->OnTimer();
    EXPECT_EQ(s->IsHeld(), 1);
    wdvr::Request r;
    ASSERT_TRUE(peer.wait_request(0x00020008, 0, 5000, &r));
    EXPECT_EQ(r.body, hex("00"));
    EXPECT_EQ(r.flag, 0u);
    std::vector<uint8_t> buf(SDK_FIRST_BUFFER_SIZE);
    _SDK_PACKET pk{};
    pk.pBuffer = buf.data();
    _SDK_FRAME_INFO fi{};
    while (s->QueuedFrames() >= 30) ASSERT_EQ(s->GetPacket(&pk, &fi), 1);
    s->OnTimer();
    EXPECT_EQ(s->IsHeld(), 0);
    ASSERT_TRUE(peer.wait_request(0x00020008, 1, 5000, &r));
    EXPECT_EQ(r.body, hex("01"));
    EXPECT_EQ(s->DroppedFrames(), 0);
    app_.Close(s.get());
  }
}

TEST_F(Site, LiveIsNeverHeldAndKeepsItsFrameLimitFromAKeyFrame) {
  wdvr::PeerConfig cfg = small();
  cfg.fps = 0;
  wdvr::WdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  auto s = open(connect(peer), true);
  ASSERT_TRUE(wait_until([&] { return peer.frames_sent() > 400; }, 20000));
  s->OnTimer();
  EXPECT_EQ(s->IsHeld(), 0);
  EXPECT_LE(s->QueuedFrames(), CClientSite::kLiveFrameLimit);
  EXPECT_EQ(peer.count(0x00020008), 0);
  // The oldest frame left starts at a key frame, so decoding can go on.
  _SDK_PACKET pk{};
  _SDK_FRAME_INFO fi{};
  std::vector<uint8_t> buf(SDK_FIRST_BUFFER_SIZE);
  pk.pBuffer = buf.data();
  ASSERT_EQ(s->GetPacket(&pk, &fi), 1);
  EXPECT_EQ(pk.bKey, 1);
}

TEST_F(Site, KeepAliveEvery180TicksAndStateZeroAfter15WithoutAStream) {
  wdvr::WdvrPeer peer(small());
  ASSERT_TRUE(peer.start());
  auto s = open(connect(peer), true);
  // Log-on and stream start: a sanitizer on a busy machine has taken over 10 s.
  ASSERT_TRUE(wait_until([&] { return g_started == 1; }, 30000));
  EXPECT_EQ(g_connected_when_started, 1);  // commands sent upon state 1 are taken
  for (int i = 0; i < 179; ++i) s->OnTimer();
  EXPECT_EQ(peer.count(0x007F0001), 0);
  s->OnTimer();
  EXPECT_TRUE(peer.wait_request(0x007F0001, 0, 5000));

  wdvr::PeerConfig silent = small();
  silent.faults.stage = wdvr::Stage::LogOn;
  silent.faults.fault = wdvr::Fault::Silent;
  wdvr::WdvrPeer mute(silent);
  ASSERT_TRUE(mute.start());
  _SDK_DVR_INFO info{};
  // The log-on of SDK_Connect is answered by a good peer; the session's by the silent one.
  const int id = app_.Connect("127.0.0.1", "admin", "1234", peer.base_port(), 1, &info);
  ASSERT_GT(id, 0);
  SITE_OPEN_PARAM p{};
  p.nDvrId = id;
  p.bLiveByte = 1;
  auto w = std::make_shared<CClientSite>(&app_);
  ASSERT_EQ(w->Start("127.0.0.1", 0, "admin", "1234", mute.base_port(), p, OnOpen, 0, 1, nullptr),
            1);
  for (int i = 0; i < 15; ++i) w->OnTimer();
  EXPECT_EQ(g_stopped, 0);
  w->OnTimer();
  EXPECT_EQ(g_stopped, 1);
  EXPECT_EQ(w->ControlPTZ(1), 0);
  EXPECT_EQ(w->LastError(), "not connected yet");
  w->Stop();
}

// Stop (and so SDK_Close) waits for an upkeep under way: its open callback never runs after
// Stop returned, when the user value it gets may already be freed.
TEST_F(Site, StopWaitsForAnUpkeepInItsCallback) {
  wdvr::PeerConfig silent = small();
  silent.faults.stage = wdvr::Stage::LogOn;
  silent.faults.fault = wdvr::Fault::Silent;
  wdvr::WdvrPeer mute(silent);
  ASSERT_TRUE(mute.start());
  struct Probe {
    std::atomic<int> inside{0}, stopped{0}, late{0};
  } probe;
  SDK_OPEN_CALLBACK slow = [](void*, int, int, int, void* user) {
    auto* p = static_cast<Probe*>(user);
    p->inside = 1;
    // Long enough for a Stop that does not wait to return meanwhile.
    wait_until([p] { return p->stopped == 1; }, 1000);
    p->late = p->stopped.load();
    return 0;
  };
  SITE_OPEN_PARAM p{};
  p.bLiveByte = 1;
  auto w = std::make_shared<CClientSite>(&app_);
  ASSERT_EQ(w->Start("127.0.0.1", 0, "admin", "1234", mute.base_port(), p, slow, 0, 1, &probe), 1);
  for (int i = 0; i < CClientSite::kStartWaitTicks; ++i) w->OnTimer();
  std::thread tick([&] { w->OnTimer(); });  // start-wait over: state 0
  ASSERT_TRUE(wait_until([&] { return probe.inside == 1; }, 5000));
  w->Stop();
  probe.stopped = 1;
  tick.join();
  EXPECT_EQ(probe.late, 0);
  w->OnTimer();  // after Stop the upkeep does nothing
}

// Terminate, and a second Stop, return only once a Close on another thread has stopped the
// session: that Close may be waiting for a thread inside the application's callback, and an
// application frees the callback's data (or unloads the library) once Terminate returned. A
// callback that terminates while its session is being closed does not deadlock.
TEST_F(Site, TerminateAndASecondStopWaitForACloseUnderWay) {
  wdvr::WdvrPeer peer(small());
  ASSERT_TRUE(peer.start());
  struct Probe {
    COrvoSDKApp* app;
    bool terminate = false;  // the callback terminates instead of waiting
    std::atomic<int> inside{0}, released{0}, late{-1};
  };
  // State 1 comes on the session's control thread, which the Close joins.
  SDK_OPEN_CALLBACK blocking = [](void*, int, int, int state, void* user) {
    auto* p = static_cast<Probe*>(user);
    if (state != 1 || p->inside.exchange(1)) return 0;
    if (p->terminate) {
      wait_until([p] { return p->released == 1; }, 10000);
      p->app->Terminate();
      p->late = 0;
      return 0;
    }
    // Long enough for a Terminate or Stop that does not wait to return meanwhile.
    wait_until([p] { return p->released == 1; }, 1500);
    p->late = p->released.load();
    return 0;
  };
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    Probe probe{&app_};
    probe.terminate = round == 2;
    const int id = connect(peer);
    ASSERT_GT(id, 0);
    SITE_OPEN_PARAM p{};
    p.nDvrId = id;
    p.bLiveByte = 1;
    p.bValue0 = 1;
    p.dwValue2 = 5;
    auto s = app_.Open(id, round, p, blocking, round, 1, &probe);
    ASSERT_TRUE(s);
    ASSERT_TRUE(wait_until([&] { return probe.inside == 1; }, 10000));
    std::thread closing([&] { app_.Close(s.get()); });
    ASSERT_TRUE(wait_until([&] { return !app_.FindSite(s.get()); }, 5000));
    if (round == 0) s->Stop();
    if (round == 1) app_.Terminate();
    probe.released = 1;
    closing.join();
    EXPECT_EQ(probe.late, 0);
    if (round == 1) {
      ASSERT_EQ(app_.Initialize(OnInit, nullptr, 0), 1);
      app_.Stop();
    }
  }
}

// A caller waiting in a live GetPacket (20 s) returns as soon as its session is closed,
// stopped or the SDK terminated, whichever thread is reading the stream at that moment;
// otherwise a program's teardown, joining that caller, waits the time-out out. The stop
// meets the caller at a different point of its wait each round.
TEST_F(Site, CloseStopAndTerminateReleaseALiveGetPacketAtOnce) {
  wdvr::PeerConfig cfg = small();
  cfg.fps = 25;
  wdvr::WdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  for (int round = 0; round < 24; ++round) {
    SCOPED_TRACE(round);
    const int way = round % 3;  // Close, Stop, Terminate
    auto s = open(connect(peer), true);
    ASSERT_TRUE(s);
    std::atomic<int> frames{0}, returned{0};
    std::thread reader([&] {
      std::vector<uint8_t> buf(SDK_FIRST_BUFFER_SIZE);
      _SDK_PACKET pk{};
      _SDK_FRAME_INFO fi{};
      pk.pBuffer = buf.data();
      while (s->GetPacket(&pk, &fi) == 1) ++frames;
      returned = 1;
    });
    const int wanted = 3 + round % 5;
    ASSERT_TRUE(wait_until([&] { return frames >= wanted && s->CallerWaiting(); }, 10000));
    const auto t0 = std::chrono::steady_clock::now();
    if (way == 0) app_.Close(s.get());
    if (way == 1) s->Stop();
    if (way == 2) app_.Terminate();
    EXPECT_TRUE(wait_until([&] { return returned == 1; }, 2000))
        << "way " << way << " after " << frames << " frames";
    reader.join();
    const auto took = std::chrono::steady_clock::now() - t0;
    EXPECT_LT(took, std::chrono::seconds(2))
        << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    if (way == 1) app_.Close(s.get());
    if (way == 2) {
      ASSERT_EQ(app_.Initialize(OnInit, nullptr, 0), 1);
      app_.Stop();
    }
  }
}

TEST_F(Site, RefusedStreamGivesStateZeroOnTheNextTick) {
  wdvr::PeerConfig cfg = small();
  cfg.faults.data_logon_result = 0xF00F0002;
  wdvr::WdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  auto s = open(connect(peer), true);
  ASSERT_TRUE(s);
  ASSERT_TRUE(peer.wait_request(0x007F0002, 0, 10000));
  ASSERT_TRUE(wait_until(
      [&] {
        s->OnTimer();
        return g_stopped == 1;
      },
      10000));
  s->OnTimer();
  EXPECT_EQ(g_stopped, 1);  // once
}

// Feeds a frame's data packets to a session as its source would (channel 0).
void feed(CClientSite& s, const std::vector<std::vector<uint8_t>>& packets) {
  for (const auto& p : packets) s.OnPacket(DSF_STREAM_FRAME, p.data() + 12, int(p.size() - 12));
}

TEST_F(Site, SplitFramesAreReassembledAndStrayPartsDropped) {
  CClientSite s(&app_);
  std::vector<uint8_t> frame(150000);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(i * 7 + i / 251);
  wdvr::FrameSpec key;
  key.key = true;
  key.time_offset = 40;
  const auto packets = wdvr::frame_packets(0, key, frame);
  ASSERT_EQ(packets.size(), 3u);
  feed(s, packets);
  // A later part without its first, and a first part without the rest, queue nothing.
  feed(s, {packets[1]});
  feed(s, {packets[0], packets[2]});
  feed(s, packets);
  EXPECT_EQ(s.QueuedFrames(), 2u);
  std::vector<uint8_t> buf(SDK_FIRST_BUFFER_SIZE);
  _SDK_PACKET pk{};
  pk.pBuffer = buf.data();
  _SDK_FRAME_INFO fi{};
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(s.GetPacket(&pk, &fi), 1);
    ASSERT_EQ(pk.dwLength, frame.size());
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), buf.begin()));
    EXPECT_EQ(pk.bKey, 1);
    EXPECT_EQ(fi.wMilliseconds, 40);
  }
}

// Large frames fill the list's byte budget before its count: the oldest go, counted, and the
// list still starts at a key frame. Frames taken out give their bytes back to the budget.
TEST_F(Site, FrameListIsBoundedInBytesFromAKeyFrameAndTakenFramesFreeTheirBytes) {
  CClientSite s(&app_);
  const std::vector<uint8_t> frame(200000, 0x22);
  for (int i = 0; i < int(CClientSite::kLiveFrameLimit); ++i) {
    wdvr::FrameSpec spec;
    spec.key = i % 3 == 0;
    spec.time_offset = uint32_t(i);
    feed(s, wdvr::frame_packets(0, spec, frame));
  }
  EXPECT_LE(s.QueuedBytes(), CClientSite::kFrameListBytes);
  EXPECT_GT(s.QueuedBytes(), CClientSite::kFrameListBytes - 3 * frame.size());
  EXPECT_EQ(size_t(s.DroppedFrames()) + s.QueuedFrames(), CClientSite::kLiveFrameLimit);
  std::vector<uint8_t> buf(SDK_FIRST_BUFFER_SIZE);
  _SDK_PACKET pk{};
  pk.pBuffer = buf.data();
  _SDK_FRAME_INFO fi{};
  ASSERT_EQ(s.GetPacket(&pk, &fi), 1);
  EXPECT_EQ(pk.bKey, 1);
  while (s.QueuedFrames() > 0) ASSERT_EQ(s.GetPacket(&pk, &fi), 1);
  EXPECT_EQ(s.QueuedBytes(), 0u);
  const long dropped = s.DroppedFrames();
  for (int i = 0; i < 3; ++i) feed(s, wdvr::frame_packets(0, wdvr::FrameSpec{}, frame));
  EXPECT_EQ(s.QueuedFrames(), 3u);
  EXPECT_EQ(s.DroppedFrames(), dropped);
}

// A tall H.264 picture whose second field came without data is delivered as its first field
// alone; nothing is copied from the empty field.
TEST_F(Site, ASecondFieldWithoutDataIsNoSecondField) {
  CClientSite s(&app_);
  wdvr::HeaderSpec h;
  h.h264 = true;
  h.height = 480;
  std::vector<uint8_t> header{0};
  const std::vector<uint8_t> block = wdvr::header_block(h);
  header.insert(header.end(), block.begin(), block.end());
  s.OnPacket(DSF_STREAM_OBJECT, header.data(), int(header.size()));
  wdvr::FrameSpec spec;
  spec.key = true;
  feed(s, wdvr::frame_packets(0, spec, {0, 0, 0, 1, 0x65, 1, 2, 3}));
  spec.field = true;
  std::vector<uint8_t> empty{0};
  const std::vector<uint8_t> object = wdvr::frame_object(spec, nullptr, 0);
  empty.insert(empty.end(), object.begin(), object.end());
  s.OnPacket(DSF_STREAM_FRAME, empty.data(), int(empty.size()));
  ASSERT_EQ(s.QueuedFrames(), 2u);
  std::vector<uint8_t> first(SDK_FIRST_BUFFER_SIZE), second(SDK_SECOND_BUFFER_SIZE);
  _SDK_PACKET pk{};
  pk.pBuffer = first.data();
  pk.pBuffer2 = second.data();
  _SDK_FRAME_INFO fi{};
  ASSERT_EQ(s.GetPacket(&pk, &fi), 1);
  EXPECT_EQ(pk.bTall, 1);
  EXPECT_EQ(pk.dwLength, 8u);
  EXPECT_EQ(pk.dwLength2, 0u);
}

TEST_F(Site, ReassemblyPastTheCallersBufferIsRefused) {
  CClientSite s(&app_);
  std::vector<uint8_t> frame(300000, 0x11);
  wdvr::FrameSpec key;
  key.key = true;
  feed(s, wdvr::frame_packets(0, key, frame));
  EXPECT_EQ(s.QueuedFrames(), 0u);
  EXPECT_EQ(s.LastError(), "frame too large");
}

TEST_F(Site, AliveTestReportsAnUnreachableDvrAndReleasesItsSessions) {
  wdvr::WdvrPeer peer(small());
  ASSERT_TRUE(peer.start());
  const int id = connect(peer);
  ASSERT_GT(id, 0);
  auto s = open(id, true);
  ASSERT_TRUE(wait_until([&] { return s->IsConnected() == 1; }, 10000));
  peer.stop();
  std::atomic<int> got{-1};
  std::thread reader([&] {
    _SDK_PACKET pk{};
    _SDK_FRAME_INFO fi{};
    std::vector<uint8_t> buf(SDK_FIRST_BUFFER_SIZE);
    pk.pBuffer = buf.data();
    s->SetWaitTimeout(60000);
    for (;;) {
      const int r = s->GetPacket(&pk, &fi);
      if (r == 0) {
        got = 0;
        return;
      }
    }
  });
  for (int i = 0; i < COrvoSDKApp::kAliveTicks; ++i) app_.OnTimer();
  EXPECT_GE(g_unreachable, 1);
  EXPECT_TRUE(wait_until([&] { return got == 0; }, 10000));
  reader.join();
}

// A Disconnect while Connect waits in vain for the system information takes the DVR's entry
// and closes its connection; the failing Connect then leaves it alone instead of closing it
// a second time.
TEST_F(Site, DisconnectDuringAFailingConnectClosesItsConnectionOnce) {
  wdvr::PeerConfig cfg = small();
  cfg.faults.stage = wdvr::Stage::Cms;
  cfg.faults.fault = wdvr::Fault::Silent;
  wdvr::WdvrPeer peer(cfg);
  ASSERT_TRUE(peer.start());
  sdktest::TraceCapture trace;
  std::atomic<int> id{0};
  std::thread connecting([&] { id = connect(peer); });
  // The request comes after the log-on, which a sanitizer on a busy machine may make slow;
  // once it is in, Connect waits its 7 s for the reply.
  const bool asked = peer.wait_request(CMS_SYSTEM_INFO_REQ, 0, 30000);
  if (asked) { EXPECT_EQ(app_.Disconnect(1001), 1); }  // the first id after Initialize
  connecting.join();
  ASSERT_TRUE(asked);
  EXPECT_EQ(id, -1);
  EXPECT_EQ(trace.count("[SDK TRACE]-CSocketCMS::Close() returned by m_bClose(TRUE)\n"), 0);
}

TEST_F(Site, RequestsOfTwoDvrsDoNotAnswerEachOther) {
  wdvr::WdvrPeer a(small());
  wdvr::PeerConfig silent = small();
  silent.faults.search_status_flag0 = true;  // its status reply is never passed on
  wdvr::WdvrPeer b(silent);
  ASSERT_TRUE(a.start());
  ASSERT_TRUE(b.start());
  const int ida = connect(a), idb = connect(b);
  ASSERT_GT(ida, 0);
  ASSERT_GT(idb, 0);
  std::atomic<int> rb{-1};
  std::thread t([&] {
    _SDK_DVR_SEARCH_STATUS st{};
    rb = app_.GetSearchStatus(idb, &st);
  });
  _SDK_DVR_HEALTH_INFO h{};
  EXPECT_EQ(app_.GetDVRHealthInfo(ida, &h), 1);
  t.join();
  EXPECT_EQ(rb, 0);  // a's reply woke nobody but a's request
  EXPECT_GE(g_unreachable, 1);
}

}  // namespace
