// Connection lifecycle against two simulated DVRs named in a setup.cfg: rings per selection,
// receivers connected and fed, everything stopped and freed on disconnect.
#include <gtest/gtest.h>

#include <SDL/SDL.h>
#include <stdlib.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>

#include "client/foundation/app_state.h"
#include "client/foundation/config/app_options.h"
#include "client/foundation/config/setup_config.h"
#include "client/foundation/sock_io.h"
#include "client/links/connection.h"
#include "client/links/decoder_thread.h"
#include "forward/orvolib/orvolib.h"
#include "peers/qdvr/qdvr_peer.h"
#include "peers/wdvr/wdvr_peer.h"
#include "tests/client/links/link_harness.h"
#include "platform/sync/test_clock.h"

namespace {

std::string demo_setup(uint16_t port1, uint16_t port2) {
  std::ifstream in(std::string(VIGILO_SOURCE_DIR) + "/assets/config/setup.cfg");
  std::stringstream ss;
  ss << in.rdbuf();
  std::string text = ss.str();
  auto swap_all = [&](const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
      text.replace(at, from.size(), to);
  };
  swap_all("9101", std::to_string(port1));
  swap_all("9102", std::to_string(port2));
  return text;
}

class Connection : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("VIGILO_BOX_ANSWER", "ok", 1);
    SDL_Init(SDL_INIT_VIDEO);
    qdvr::PeerConfig cfg;
    cfg.channels = 4;
    cfg.clip_frames = 10;
    p1 = std::make_unique<qdvr::QdvrPeer>(cfg);
    p2 = std::make_unique<qdvr::QdvrPeer>(cfg);
    ASSERT_TRUE(p1->start());
    ASSERT_TRUE(p2->start());
    char tmpl[] = "/tmp/vigilo-conn-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir = tmpl;
    path = dir + "/setup.cfg";
    std::ofstream(path) << demo_setup(p1->port(), p2->port());
    ASSERT_EQ(0, load_setup_info(path.c_str()));
    init_app_options(&app_options);
    init_app_context(&app_context);
    clear_layout_table(app_context.layouts);
    app_options.context = &app_context;
  }
  void TearDown() override {
    disconnect_dvr(&app_options);
    wait_receivers_stopped(-1);
    set_receive_entry('Q', nullptr);
    free_app_context(&app_context);
    p1->stop();
    p2->stop();
    std::string rm = "rm -rf " + dir;
    (void)std::system(rm.c_str());
    SDL_Quit();
  }
  std::unique_ptr<qdvr::QdvrPeer> p1, p2;
  std::string dir, path;
};

TEST_F(Connection, group_gets_one_ring_per_dvr_and_both_dvrs_stream) {
  std::snprintf(app_options.auto_start, sizeof app_options.auto_start, "All DVRs");
  connect_dvr(&app_options);
  EXPECT_EQ(CONN_CONNECTED, app_options.conn_state.load());
  EXPECT_EQ(2u, app_context.num_slots);
  EXPECT_EQ(2, app_context.num_receivers);
  EXPECT_EQ(3, app_context.receivers[0].rx_flags);
  EXPECT_EQ(1, app_context.receivers[1].op_mode);
  EXPECT_TRUE(p1->wait_request(2, 0, 5000));
  EXPECT_TRUE(p2->wait_request(2, 0, 5000));
  // A second connect while connected changes nothing.
  connect_dvr(&app_options);
  EXPECT_EQ(2, app_context.num_receivers);
  auto t0 = std::chrono::steady_clock::now();
  disconnect_dvr(&app_options);
  // A third of the 30 s socket time-out a receive thread could otherwise wait out.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
  EXPECT_EQ(CONN_DISCONNECTED, app_options.conn_state.load());
  EXPECT_EQ(0, app_context.num_receivers);
  EXPECT_EQ(0u, app_context.num_slots);
  EXPECT_EQ(nullptr, app_context.slots[0].ring);
  EXPECT_TRUE(p1->wait_request(7, 0, 2000));  // each DVR was told the client leaves
  disconnect_dvr(&app_options);               // disconnecting twice does nothing
  EXPECT_EQ(CONN_DISCONNECTED, app_options.conn_state.load());
}

TEST_F(Connection, single_dvr_spreads_over_eight_rings_and_masks_follow_options) {
  std::snprintf(app_options.auto_start, sizeof app_options.auto_start, "DVR-1");
  app_options.video_mask = 0x5;
  connect_dvr(&app_options);
  EXPECT_EQ(8u, app_context.num_slots);
  ASSERT_EQ(1, app_context.num_receivers);
  RECEIVER_INFO& rx = app_context.receivers[0];
  EXPECT_EQ(1, rx.rx_flags);
  EXPECT_EQ(0x5u, rx.sel_vid_ch.load());
  // Only the channels of -v are opened: the first of them takes cell 0, the other none.
  EXPECT_EQ(0, rx.channels[0].id.load());
  EXPECT_EQ(-1, rx.channels[1].id.load());
  EXPECT_EQ(1, rx.channels[2].id.load());
  EXPECT_EQ('Q', rx.protocol);
  EXPECT_TRUE(p1->wait_request(2, 0, 5000));
  disconnect_dvr(&app_options);
}

TEST_F(Connection, a_q_connection_starts_the_sdk_and_its_disconnect_stops_it) {
  wdvr::PeerConfig w;
  w.channels = 1;
  w.clip_frames = 1;
  wdvr::WdvrPeer sdk_dvr(w);
  ASSERT_TRUE(sdk_dvr.start());
  auto sdk_connect = [&] {
    _SDK_DVR_INFO info{};
    return ORVOSDK_Connect("127.0.0.1", "admin", "x", sdk_dvr.base_port(), 1, &info);
  };
  EXPECT_EQ(-1, sdk_connect());  // not initialised
  std::snprintf(app_options.auto_start, sizeof app_options.auto_start, "DVR-1");
  connect_dvr(&app_options);
  EXPECT_GE(sdk_connect(), 1001);
  disconnect_dvr(&app_options);
  EXPECT_EQ(-1, sdk_connect());
}

TEST_F(Connection, disconnect_while_a_dvr_never_answers_is_prompt) {
  qdvr::PeerConfig cfg;
  cfg.stall = true;
  cfg.clip_frames = 1;
  qdvr::QdvrPeer silent(cfg);
  ASSERT_TRUE(silent.start());
  std::ofstream(path) << demo_setup(silent.port(), p2->port());
  ASSERT_EQ(0, load_setup_info(path.c_str()));
  std::snprintf(app_options.auto_start, sizeof app_options.auto_start, "DVR-1");
  connect_dvr(&app_options);
  ASSERT_TRUE(silent.wait_request(2, 0, 5000));
  auto t0 = std::chrono::steady_clock::now();
  disconnect_dvr(&app_options);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));  // of 30 s
  EXPECT_EQ(0, app_context.num_receivers);
}

// A 'W' DVR that never answers the SDK's system information request holds the receive
// thread inside ORVOSDK_Connect for the SDK's 7 s. The disconnect leaves that thread to a
// worker, which terminates the SDK first and so releases it; the next connect never waits
// for the worker on the window thread.
TEST_F(Connection, a_thread_held_in_the_sdk_does_not_hold_the_next_connect) {
  wdvr::PeerConfig w;
  w.channels = 1;
  w.clip_frames = 1;
  w.faults.stage = wdvr::Stage::Cms;
  w.faults.fault = wdvr::Fault::Silent;
  w.faults.times = -1;
  wdvr::WdvrPeer stalled(w);
  ASSERT_TRUE(stalled.start());
  std::string text = demo_setup(p1->port(), p2->port());
  for (size_t at = text.find("9110"); at != std::string::npos; at = text.find("9110", at))
    text.replace(at, 4, std::to_string(stalled.base_port()));
  std::ofstream(path) << text;
  ASSERT_EQ(0, load_setup_info(path.c_str()));
  std::snprintf(app_options.auto_start, sizeof app_options.auto_start, "DVR-3");
  testing::internal::CaptureStdout();
  connect_dvr(&app_options);
  ASSERT_TRUE(stalled.wait_request(0x7000F, 0, 10000));
  disconnect_dvr(&app_options);
  EXPECT_EQ(CONN_DISCONNECTED, app_options.conn_state.load());
  EXPECT_EQ(0, app_context.num_receivers);
  std::snprintf(app_options.auto_start, sizeof app_options.auto_start, "DVR-1");
  const auto t0 = std::chrono::steady_clock::now();
  connect_dvr(&app_options);
  // Well inside the SDK's 7 s time-out that the connect used to wait out on the window
  // thread, with room for a connect's own work on a busy machine.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(4000));
  // Done at once, or by the window loop's turns once the worker has ended.
  EXPECT_TRUE(LinkHarness::wait_for(
      [] {
        run_deferred_connect();
        return app_options.conn_state.load() == CONN_CONNECTED;
      },
      30000));
  EXPECT_EQ(1, app_context.num_receivers);
  EXPECT_TRUE(p1->wait_request(2, 0, 5000));
  disconnect_dvr(&app_options);
  testing::internal::GetCapturedStdout();
}

// A receive thread that no stop reaches: it ends only when the test lets it go.
struct HeldReceiver {
  static inline std::mutex lock;
  static inline std::condition_variable changed;
  static inline bool released = false;
  static inline std::atomic<int> started{0};
  static void reset() {
    std::lock_guard<std::mutex> lk(lock);
    released = false;
    started = 0;
  }
  static int entry(RECEIVER_INFO*) {
    started++;
    std::unique_lock<std::mutex> lk(lock);
    changed.wait(lk, [] { return released; });
    return 0;
  }
  static void release() {
    std::lock_guard<std::mutex> lk(lock);
    released = true;
    changed.notify_all();
  }
};

TEST_F(Connection, a_connect_while_the_last_teardown_runs_is_carried_out_when_it_ends) {
  HeldReceiver::reset();
  struct Release {
    ~Release() { HeldReceiver::release(); }  // before TearDown waits, whatever failed
  } release;
  set_receive_entry('Q', HeldReceiver::entry);
  std::snprintf(app_options.auto_start, sizeof app_options.auto_start, "DVR-1");
  connect_dvr(&app_options);
  ASSERT_TRUE(LinkHarness::wait_for([] { return HeldReceiver::started.load() == 1; }, 10000));
  disconnect_dvr(&app_options);
  EXPECT_FALSE(wait_receivers_stopped(0));  // the worker waits for the held thread
  // The window thread's connect comes back while the worker still waits.
  std::atomic<bool> returned{false};
  std::thread window([&] {
    connect_dvr(&app_options);
    returned = true;
  });
  EXPECT_TRUE(LinkHarness::wait_for([&] { return returned.load(); }, 5000))
      << "the connect waits on the window thread for the last teardown";
  if (returned) {
    EXPECT_EQ(CONN_DISCONNECTED, app_options.conn_state.load());
    EXPECT_EQ(0, app_context.num_receivers);
    run_deferred_connect();  // a turn of the loop while the worker runs changes nothing
    EXPECT_EQ(CONN_DISCONNECTED, app_options.conn_state.load());
  }
  HeldReceiver::release();
  window.join();
  EXPECT_TRUE(LinkHarness::wait_for(
      [] {
        run_deferred_connect();
        return app_options.conn_state.load() == CONN_CONNECTED;
      },
      30000));
  EXPECT_TRUE(LinkHarness::wait_for([] { return HeldReceiver::started.load() == 2; }, 10000));
  EXPECT_EQ(1, app_context.num_receivers);
  disconnect_dvr(&app_options);
}

// Every decoder thread is held at its first wait (the decoder sleep seam) until released; a
// wait on the window thread is counted instead.
struct HeldDecoderStart {
  static inline std::mutex lock;
  static inline std::condition_variable changed;
  static inline bool released = false;
  static inline int held = 0;
  static inline std::thread::id window;
  static inline std::atomic<int> window_waits{0};
  static void sleep(uint32_t ms) {
    if (std::this_thread::get_id() == window) {
      window_waits++;
    } else {
      std::unique_lock<std::mutex> lk(lock);
      if (!released) {
        ++held;
        changed.notify_all();
        changed.wait(lk, [] { return released; });
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
  static void release() {
    std::lock_guard<std::mutex> lk(lock);
    released = true;
    changed.notify_all();
  }
  static int held_now() {
    std::lock_guard<std::mutex> lk(lock);
    return held;
  }
};

TEST_F(Connection, starting_every_decoder_slot_does_not_hold_up_the_window_thread) {
  app_context.num_slots = MAX_DISPLAY_SLOTS;  // rings left empty: the threads only idle
  app_context.paced_time[5] = 12.5;           // left from an earlier stream
  app_context.paced_yet[5] = 1;
  set_test_clock(TEST_CLOCK_DECODERS, nullptr, HeldDecoderStart::sleep);
  std::atomic<int> result{-2};
  std::thread window([&] {
    HeldDecoderStart::window = std::this_thread::get_id();
    result = start_decoders(&app_options);
  });
  // start_decoders returns while no slot has got past the start of its thread.
  const bool returned = LinkHarness::wait_for([&] { return result != -2; }, 60000);
  EXPECT_TRUE(returned) << "start_decoders waits for its decoder threads";
  EXPECT_EQ(0, result.load());
  EXPECT_EQ(0, HeldDecoderStart::window_waits.load());
  // Every slot got its thread.
  EXPECT_TRUE(LinkHarness::wait_for(
      [] { return HeldDecoderStart::held_now() == MAX_DISPLAY_SLOTS; }, 60000))
      << HeldDecoderStart::held_now();
  HeldDecoderStart::release();
  window.join();
  EXPECT_EQ(0.0, app_context.paced_time[5].load());
  EXPECT_EQ(0, app_context.paced_yet[5].load());
  stop_decoders(&app_options);
  set_test_clock(TEST_CLOCK_DECODERS, nullptr, nullptr);
  app_context.num_slots = 0;
}

TEST_F(Connection, adding_a_connected_dvr_widens_masks_and_a_new_one_starts_its_thread) {
  std::snprintf(app_options.auto_start, sizeof app_options.auto_start, "DVR-1");
  app_options.video_mask = 0x3;
  connect_dvr(&app_options);
  ASSERT_EQ(1, app_context.num_receivers);
  add_receiver(&app_options, "DVR-1", 0x30, 0x1);
  EXPECT_EQ(1, app_context.num_receivers);
  EXPECT_EQ(0x33u, app_context.receivers[0].sel_vid_ch.load());
  add_receiver(&app_options, "DVR-2", 0xF, 0);
  ASSERT_EQ(2, app_context.num_receivers);
  RECEIVER_INFO& added = app_context.receivers[1];
  EXPECT_EQ(3, added.rx_flags);
  EXPECT_EQ(1, added.index);
  EXPECT_TRUE(p2->wait_request(2, 0, 5000));  // its own receive thread logged in
  disconnect_dvr(&app_options);
  EXPECT_EQ(0, app_context.num_receivers);
}

// The change check watches the program directory's setup.cfg: a reload reads that file,
// never the one -C names, or every activation would reload the wrong setup.
TEST_F(Connection, reload_reads_the_program_directorys_setup_cfg_whatever_c_names) {
  const int before = get_num_dvr();
  ASSERT_GT(before, 2);
  std::string text = demo_setup(p1->port(), p2->port());
  const size_t last = text.find("DVR-5=");
  ASSERT_NE(std::string::npos, last);
  text.erase(last, text.find('\n', last) + 1 - last);
  std::ofstream(path) << text;
  std::ofstream(dir + "/other.cfg") << demo_setup(p1->port(), p2->port());
  std::snprintf(app_options.program_dir, sizeof app_options.program_dir, "%s/", dir.c_str());
  std::snprintf(app_options.config_file, sizeof app_options.config_file, "%s/other.cfg",
                dir.c_str());
  reload_setup_info();
  EXPECT_EQ(before - 1, get_num_dvr());
}

}  // namespace
