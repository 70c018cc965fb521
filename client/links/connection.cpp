#include "client/links/connection.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "client/foundation/channel_table.h"
#include "client/foundation/config/setup_config.h"
#include "client/foundation/config/setup_lookup.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/dvr_events.h"
#include "client/foundation/sock_io.h"
#include "client/foundation/user_events.h"
#include "client/links/dat_file.h"
#include "client/links/decoder_thread.h"
#include "client/links/nc_receiver.h"
#include "client/links/pic_receiver.h"
#include "client/links/receive_rings.h"
#include "client/links/recording.h"
#include "client/links/tir_receiver.h"
#include "client/links/sdk_receiver.h"
#include "platform/sync/thread_name.h"

namespace {

std::mutex g_lock;
RECEIVE_ENTRY g_entries[256] = {};
CONNECTION_HOOKS g_hooks{};
std::vector<RECEIVE_THREAD> g_decoders;  // detached, not aborted, if the process exits mid-run

CONN_REQUEST g_requests[8];
char g_request_texts[2][256];

APP_CONTEXT* context_of(APP_OPTIONS* opts) {
  return opts && opts->context ? opts->context : &app_context;
}

CONNECTION_HOOKS hooks() {
  std::lock_guard<std::mutex> g(g_lock);
  return g_hooks;
}

RECEIVE_ENTRY entry_for(uint8_t protocol) {
  std::lock_guard<std::mutex> g(g_lock);
  if (g_entries[protocol]) return g_entries[protocol];
  switch (protocol) {
    case 'I': return recv_data;
    case 'Q': return recv_nc_data;
    case 'S': return recv_tir_data;
    case 'W': return recv_sdk_data;
    default: return nullptr;
  }
}

// The end of each receiver's thread, so a disconnect can wait for it with a bound.
struct ThreadEnd {
  std::mutex lock;
  std::condition_variable done_cv;
  bool done = false;
};
std::shared_ptr<ThreadEnd> g_thread_ends[MAX_RECEIVERS];

// The receive thread's name: "rx " and the DVR's name, or "player" for a recorded file.
std::string thread_name_of(const RECEIVER_INFO* rx) {
  if (rx->op_mode.load() == 3) return "player";
  return "rx " + std::string(rx->name, strnlen(rx->name, sizeof rx->name));
}

void start_thread(RECEIVER_INFO* rx, RECEIVE_ENTRY entry) {
  if (rx->thread.joinable()) rx->thread.join();
  auto end = std::make_shared<ThreadEnd>();
  if (rx->index >= 0 && rx->index < MAX_RECEIVERS) g_thread_ends[rx->index] = end;
  rx->thread = std::thread([rx, entry, end, name = thread_name_of(rx)] {
    set_current_thread_name(name.c_str());
    entry(rx);
    std::lock_guard<std::mutex> g(end->lock);
    end->done = true;
    end->done_cv.notify_all();
  });
}

// How long the window thread waits for the receive threads of a disconnect: they end this
// fast unless one is held inside an SDK call or a peer's time-out. One still running after
// kReleaseAfterMs most likely waits in an SDK call: the SDK is terminated then, which
// releases it.
constexpr int kStopWaitMs = 500;
constexpr int kReleaseAfterMs = 100;

// True when receiver i's thread has ended by `deadline` (or none was started here).
bool thread_ended_by(int i, std::chrono::steady_clock::time_point deadline) {
  std::shared_ptr<ThreadEnd> end = g_thread_ends[i];
  if (!end) return true;
  std::unique_lock<std::mutex> g(end->lock);
  return end->done_cv.wait_until(g, deadline, [&] { return end->done; });
}

// Receivers whose threads were told to stop: joined, then everything they used goes (the
// SDK terminated after them, recordings closed, receivers and rings freed). On the window
// thread when the threads ended at once, else on the teardown worker.
struct Teardown {
  APP_OPTIONS* opts = nullptr;
  APP_CONTEXT* ctx = nullptr;
  int count = 0;
  RECEIVE_THREAD threads[MAX_RECEIVERS];
  bool free_rings = false;
};

void finish_teardown(Teardown& t) {
  // A receive thread held in an SDK call (a control connection that never answers) returns
  // once the SDK has closed its sockets; joining it first would wait out the SDK's 7 s.
  sdk_release();
  for (int i = 0; i < t.count; ++i)
    if (t.threads[i].joinable()) t.threads[i].join();
  // Every disconnect, 'W' DVRs or not: the next connect initialises the SDK again.
  sdk_term();
  // Nothing appends any more: the recordings are closed once their queued records are written.
  end_recordings(t.ctx);
  // Only receivers are waited for (a shutdown after a disconnect has none left).
  if (t.count > 0) std::this_thread::sleep_for(std::chrono::milliseconds(250));
  {
    // The DVR event worker reads receivers' channels: it never meets one being freed.
    std::lock_guard<std::mutex> g(event_receivers_lock());
    for (int i = 0; i < t.count; ++i) free_receiver(&t.ctx->receivers[i]);
  }
  reset_all_decoders();
  if (t.free_rings) free_receive_buffers(t.opts);
}

// The one teardown left to a worker (window thread only starts and joins it); it is over
// before anything is connected or freed again.
std::thread g_teardown;
std::mutex g_teardown_lock;
std::condition_variable g_teardown_cv;
bool g_teardown_running = false;  // under g_teardown_lock

// A connect that found the teardown still running: the window loop carries it out once the
// teardown ends (run_deferred_connect). Set and cleared on the window thread; the worker
// reads it to wake the loop.
std::atomic<APP_OPTIONS*> g_deferred_connect{nullptr};
const CONN_REQUEST g_teardown_over{CONN_TEARDOWN_OVER, 0, 0, 0};

// How long a connect waits on the window thread for a teardown about to end before it leaves
// the connect to the loop.
constexpr int kConnectWaitMs = 100;

void start_teardown(std::unique_ptr<Teardown> t) {
  {
    std::lock_guard<std::mutex> g(g_teardown_lock);
    g_teardown_running = true;
  }
  g_teardown = std::thread([t = std::move(t)] {
    set_current_thread_name("teardown");
    finish_teardown(*t);
    {
      std::lock_guard<std::mutex> g(g_teardown_lock);
      g_teardown_running = false;
      g_teardown_cv.notify_all();
    }
    // A refused wake-up only delays the connect to the loop's next turn (the status tick).
    if (g_deferred_connect.load())
      push_user_event(UE_LINK_COMMAND, const_cast<CONN_REQUEST*>(&g_teardown_over));
  });
}

void join_teardown() { wait_receivers_stopped(-1); }

// Tells every receive thread to stop: the receivers' count. Window thread.
int tell_receivers_to_stop(APP_CONTEXT* ctx) {
  int n = ctx->num_receivers;
  if (n > MAX_RECEIVERS) n = MAX_RECEIVERS;
  for (int i = 0; i < n; ++i) {
    receivers_stop.store(1);
    ctx->receivers[i].status.store(RX_STOP);
  }
  return n;
}

// Takes the n receivers' threads and what they use out of the context's view: the window
// sees no receiver from now on.
std::unique_ptr<Teardown> take_receivers(APP_OPTIONS* opts, APP_CONTEXT* ctx, int n) {
  auto t = std::make_unique<Teardown>();
  t->opts = opts;
  t->ctx = ctx;
  t->count = n;
  for (int i = 0; i < n; ++i) {
    t->threads[i] = std::move(ctx->receivers[i].thread);
    g_thread_ends[i].reset();
  }
  ctx->num_receivers = 0;
  ctx->num_channels = 0;
  return t;
}

bool ends_with_dat(const char* name) {
  size_t n = std::strlen(name);
  return n > 3 && std::strcmp(name + n - 3, "dat") == 0;
}

// Mode of operation and flags of a receiver that was just filled.
void choose_mode(APP_OPTIONS* opts, RECEIVER_INFO* rx) {
  int wm = opts->mode;
  if (rx->address[0]) {
    if (!rx->file_name[0] && !(rx->position > 0) && wm != 3 && wm != 4 && wm != 7) {
      rx->op_mode = 1;
    } else {
      rx->sock_timeout = 300;
      rx->rx_flags |= 4;
      if (wm != 3 && wm != 4) rx->rx_flags |= 8;
      rx->op_mode = wm == 4 ? 3 : (wm == 5 ? 5 : 2);
    }
  } else if (rx->file_name[0]) {
    rx->rx_flags |= 0x2C;
    rx->op_mode = std::strstr(rx->file_name, "/dev/solo6010_enc_") ? 4 : 3;
  }
}

void store_channel_count(APP_CONTEXT* ctx) {
  ctx->num_channels = get_channel_id_seq();
  update_shown_masks(ctx);
}

// Starts the thread of one filled receiver by its mode: 0, or -1 when starting must stop
// (a file that cannot be opened).
int start_one(APP_OPTIONS* opts, RECEIVER_INFO* rx) {
  if (rx->op_mode < 1 || rx->op_mode > 3) {
    std::printf("Unresolved mode of operation.\n");
    return 0;
  }
  if (rx->op_mode == 1 || rx->op_mode == 2) {
    RECEIVE_ENTRY e = entry_for(rx->protocol);
    if (!e) {
      error_box("Unknown DVR type.");
      return 0;
    }
    receivers_stop.store(0);
    start_thread(rx, e);
    return 0;
  }
  FILE* f = std::fopen(rx->file_name, "rb");
  if (!f) {
    error_box("Unable to open file for playback.");
    return -1;
  }
  if (rx->file) std::fclose(rx->file);
  rx->file = f;
  receivers_stop.store(0);
  start_thread(rx, ends_with_dat(rx->file_name) ? play_dat_file : play_record_file);
  return 0;
}

}  // namespace

void set_receive_entry(uint8_t protocol, RECEIVE_ENTRY entry) {
  std::lock_guard<std::mutex> g(g_lock);
  g_entries[protocol] = entry;
}

void set_connection_hooks(const CONNECTION_HOOKS& h) {
  std::lock_guard<std::mutex> g(g_lock);
  g_hooks = h;
}

namespace {
std::atomic<int> g_layout_wanted{0};
const CONN_REQUEST g_layout_request{CONN_SET_LAYOUT, 0, 0, 0};
}  // namespace

void request_layout(int layout) {
  // A request still waiting is replaced: only the latest grid matters, and one wake-up serves.
  if (g_layout_wanted.exchange(layout) == 0)
    push_user_event(UE_LINK_COMMAND, const_cast<CONN_REQUEST*>(&g_layout_request));
}

int take_layout_request() { return g_layout_wanted.exchange(0); }

bool is_layout_request(const SDL_Event& ev) {
  return user_event_number(ev) == UE_LINK_COMMAND && ev.user.data1 == &g_layout_request;
}

void connect_dvr(APP_OPTIONS* opts) {
  if (opts->conn_state.load() != CONN_DISCONNECTED) return;
  // The receivers and rings are reused: a disconnect's teardown still under way ends first,
  // and the window does not wait for it (it waits on a DVR). Marked before the wait, so a
  // worker that ends after it wakes the loop.
  g_deferred_connect.store(opts);
  if (!wait_receivers_stopped(kConnectWaitMs)) {
    std::printf("Connecting once the last connection's receive threads have ended ...\n");
    return;
  }
  g_deferred_connect.store(nullptr);
  opts->conn_state.store(CONN_CONNECTING);
  alloc_receive_buffers(opts);
  start_decoders(opts);
  start_receivers(opts);
  opts->conn_state.store(CONN_CONNECTED);
  CONNECTION_HOOKS h = hooks();
  if (h.after_connect) h.after_connect(opts);
}

void disconnect_dvr(APP_OPTIONS* opts) {
  g_deferred_connect.store(nullptr);  // a connect still waiting for the last teardown is off
  if (opts->conn_state.load() == CONN_DISCONNECTED) return;
  APP_CONTEXT* ctx = context_of(opts);
  CONNECTION_HOOKS h = hooks();
  if (opts->master == 0 && ctx->num_channels > 0 && h.send_channels_to_master)
    h.send_channels_to_master(opts);
  opts->conn_state.store(CONN_DISCONNECTING);
  stop_decoders(opts);
  // A receive thread held in an SDK call or by a DVR that stopped answering is joined by a
  // worker: the window never waits on a peer for more than kStopWaitMs. (Nothing was
  // connected before the last worker ended: this only joins it.)
  join_teardown();
  const int n = tell_receivers_to_stop(ctx);
  const auto now = std::chrono::steady_clock::now();
  const auto deadline = now + std::chrono::milliseconds(kStopWaitMs);
  const auto release_at = now + std::chrono::milliseconds(kReleaseAfterMs);
  bool ended = true;
  for (int i = 0; i < n; ++i) ended = thread_ended_by(i, release_at) && ended;
  if (!ended) {
    sdk_release();
    ended = true;
    for (int i = 0; i < n; ++i) ended = thread_ended_by(i, deadline) && ended;
  }
  std::unique_ptr<Teardown> t = take_receivers(opts, ctx, n);
  t->free_rings = true;
  if (ended) {
    finish_teardown(*t);
  } else {
    std::printf("Receive threads still ending; they are joined in the background.\n");
    start_teardown(std::move(t));
  }
  if (h.after_stop) h.after_stop(opts);
  opts->conn_state.store(CONN_DISCONNECTED);
  if (h.after_disconnect) h.after_disconnect(opts);
}

int start_decoders(APP_OPTIONS* opts) {
  APP_CONTEXT* ctx = context_of(opts);
  if (ctx->num_slots == 0) return -1;
  ctx->buf_level = get_buf_level();
  ctx->decoder_state.store(DECODER_RUNNING);
  reset_decoder_slots();
  // A new stream on every slot: pacing and the buffering delay start afresh.
  for (uint32_t i = 0; i < MAX_DISPLAY_SLOTS; ++i) {
    ctx->paced_time[i] = 0;
    ctx->paced_tick[i] = 0;
    ctx->paced_yet[i] = 0;
  }
  // The threads take their slots from an atomic counter, so they need no spacing: the
  // window thread is not held up 100 ms per slot.
  for (uint32_t i = 0; i < ctx->num_slots; ++i)
    g_decoders.emplace_back([ctx, i] {
      set_current_thread_name(("decoder " + std::to_string(i)).c_str());
      decoder_thread(ctx);
    });
  return 0;
}

int stop_decoders(APP_OPTIONS* opts) {
  APP_CONTEXT* ctx = context_of(opts);
  ctx->decoder_state.store(DECODER_STOPPED);
  for (RECEIVE_THREAD& t : g_decoders)
    if (t.joinable()) t.join();
  g_decoders.clear();
  return 0;
}

void start_receivers(APP_OPTIONS* opts) {
  APP_CONTEXT* ctx = context_of(opts);
  const bool has_target = opts->auto_start[0] != 0;
  if (!has_target && !opts->input_file[0]) return;
  int count = has_target ? get_target_size(opts->auto_start) : 1;
  if (count >= MAX_RECEIVERS) return;
  reset_channel_id_seq();
  reset_slot_seq();
  sdk_init();
  if (count < 1) {
    store_channel_count(ctx);
    return;
  }
  CONNECTION_HOOKS h = hooks();
  for (int i = 0; i < count; ++i) {
    RECEIVER_INFO* rx = &ctx->receivers[i];
    init_receiver(rx);
    fill_receiver_from_setup(opts->auto_start, rx, i);
    rx->index = i;
    rx->position = opts->seek;
    rx->sel_vid_ch.store(rx->channel_mask);
    rx->audio_mask.store(rx->channel_mask);
    if (count == 1) {
      rx->rx_flags = 1;
      if (opts->video_mask) {
        rx->sel_vid_ch.store(opts->video_mask);
        // The window opens the channels it was started for, and only those get ids: the first
        // of them shows in cell 0 (a time playback or spot window of camera 3 shows camera 3,
        // not camera 1's empty tile, and its decoder takes camera 3's frames).
        if (rx->channel_mask & opts->video_mask) rx->channel_mask &= opts->video_mask;
      }
      if (opts->audio_mask) rx->audio_mask.store(opts->audio_mask);
      int selected = count_bits(rx->sel_vid_ch.load() &
                                (rx->num_video >= 32 ? 0xFFFFFFFFu : ((1u << rx->num_video) - 1)));
      const int current = ctx->layout;
      int layout = current >= 0 && current < NUM_LAYOUTS ? current : 0;
      if (selected < int(ctx->layouts[layout].num_cells) && h.set_layout)
        h.set_layout(ctx, layout_for_cells(ctx, selected));
      if (opts->mode == 4)
        std::snprintf(rx->file_name, sizeof rx->file_name, "%s", opts->input_file);
    } else {
      rx->rx_flags = 3;
    }
    assign_channel_ids(rx);
    assign_slot_indexes(rx);
    rx->context = ctx;
    if (h.load_receiver_fonts) h.load_receiver_fonts(rx);
    choose_mode(opts, rx);
    ctx->num_receivers = i + 1;
    post_receiver_notice(i);
    if (start_one(opts, rx) != 0) return;
  }
  store_channel_count(ctx);
}

void add_receiver(APP_OPTIONS* opts, const char* name, uint32_t video_mask, uint32_t audio_mask) {
  APP_CONTEXT* ctx = context_of(opts);
  if (ctx->num_receivers <= 0 || !name) return;
  if (RECEIVER_INFO* rx = find_receiver_by_name(ctx, name)) {
    rx->sel_vid_ch.fetch_or(video_mask);
    rx->audio_mask.fetch_or(audio_mask);
    rx->channel_mask |= video_mask;
    assign_channel_ids(rx);
    assign_slot_indexes(rx);
    store_channel_count(ctx);
    return;
  }
  if (ctx->num_receivers >= MAX_RECEIVERS) return;
  int i = ctx->num_receivers;
  RECEIVER_INFO* rx = &ctx->receivers[i];
  init_receiver(rx);
  fill_receiver_from_setup(name, rx, 0);
  rx->index = i;
  rx->position = opts->seek;
  rx->sel_vid_ch.store(video_mask);
  rx->audio_mask.store(audio_mask);
  rx->rx_flags = 3;
  CONNECTION_HOOKS h = hooks();
  if (h.load_receiver_fonts) h.load_receiver_fonts(rx);
  rx->op_mode = 1;
  assign_channel_ids(rx);
  assign_slot_indexes(rx);
  rx->context = ctx;
  ctx->num_receivers = i + 1;
  post_receiver_notice(i);
  uint8_t p = rx->protocol;
  RECEIVE_ENTRY e = (p == 'I' || p == 'Q' || p == 'S') ? entry_for(p) : nullptr;
  if (e) {
    receivers_stop.store(0);
    start_thread(rx, e);
  } else {
    error_box("Unknown DVR type.");
  }
  ctx->num_channels = get_channel_id_seq();
  for (int l = 0; l < NUM_LAYOUTS; ++l) {
    if (int(ctx->layouts[l].num_cells) >= ctx->num_channels) {
      if (h.set_layout)
        h.set_layout(ctx, l);
      else
        ctx->layout = l;
      break;
    }
  }
  update_shown_masks(ctx);
}

void stop_receivers(APP_OPTIONS* opts) {
  APP_CONTEXT* ctx = context_of(opts);
  g_deferred_connect.store(nullptr);
  join_teardown();
  const int n = tell_receivers_to_stop(ctx);
  std::unique_ptr<Teardown> t = take_receivers(opts, ctx, n);
  finish_teardown(*t);
}

bool wait_receivers_stopped(int timeout_ms) {
  {
    std::unique_lock<std::mutex> g(g_teardown_lock);
    auto over = [] { return !g_teardown_running; };
    if (timeout_ms < 0)
      g_teardown_cv.wait(g, over);
    else if (!g_teardown_cv.wait_for(g, std::chrono::milliseconds(timeout_ms), over))
      return false;
  }
  if (g_teardown.joinable()) g_teardown.join();
  return true;
}

void run_deferred_connect() {
  APP_OPTIONS* opts = g_deferred_connect.load();
  if (!opts) return;
  if (app_quit.load()) {
    g_deferred_connect.store(nullptr);
    return;
  }
  if (!wait_receivers_stopped(0)) return;
  g_deferred_connect.store(nullptr);
  connect_dvr(opts);
}

int reset_connection_info() {
  std::memset(g_requests, 0, sizeof g_requests);
  std::memset(g_request_texts, 0, sizeof g_request_texts);
  return 0;
}

void post_dvr_request(const char* name) {
  if (!name || !*name) return;
  int is_group = 0, index = -1;
  find_target(name, &is_group, &index);
  if (index < 0) return;
  CONN_REQUEST* r = &g_requests[0];
  r->command = CONN_CONNECT;
  r->is_group = is_group;
  r->index = index;
  push_user_event(UE_LINK_COMMAND, r);
}

void reload_setup_info() {
  // The change check watches the program directory's setup.cfg, which start-up read too;
  // -C names a file that is only stored.
  const std::string path = std::string(app_options.program_dir) + "setup.cfg";
  if (load_setup_info(path.c_str()) == 0)
    std::printf("setup_info reloaded.\n");
  else
    error_box("Error encountered while reading setup configuration file.");
}
