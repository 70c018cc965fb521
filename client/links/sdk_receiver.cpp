#include "client/links/sdk_receiver.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>

#include "client/foundation/channel_table.h"
#include "client/foundation/config/app_options.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/sock_io.h"
#include "client/foundation/stats.h"
#include "client/foundation/user_events.h"
#include "client/links/link_notices.h"
#include "client/links/nc_receiver.h"
#include "client/links/receive_rings.h"
#include "client/links/recording.h"
#include "platform/sync/thread_name.h"

namespace {

// The SDK's initialised flag and the workspaces of ended receive threads, freed once the SDK
// has terminated (no callback can reach them after that).
std::mutex g_sdk_lock;
bool g_sdk_initialised = false;
bool g_sdk_released = false;  // terminated while receive threads may still call it
std::vector<std::unique_ptr<SDK_WORKSPACE>> g_retired;

std::atomic<int32_t> g_step{SDK_STEP_IDLE};
std::atomic<int32_t> g_calendar_done{0};

// The search window's playback selection.
struct PLAYBACK_SELECTION {
  int32_t year, month, day;
  uint32_t channel_mask;
  int32_t hour, minute;
  uint32_t date, time;
  int32_t restart, time_set;
  uint8_t channel_flag[SDK_CHANNELS];
};
std::mutex g_selection_lock;
PLAYBACK_SELECTION g_selection{};

PLAYBACK_SELECTION selection() {
  std::lock_guard<std::mutex> g(g_selection_lock);
  return g_selection;
}

bool stopping(const RECEIVER_INFO* rx) {
  return receivers_stop.load() != 0 || app_quit.load() != 0 || rx->status.load() == RX_STOP;
}

bool attempt_running(const RECEIVER_INFO* rx, const SDK_WORKSPACE* ws) {
  return rx->status.load() == RX_RECEIVING && !stopping(rx) && ws->stream_lost.load() == 0;
}

// Sleeps up to `ms` in short slices, waking early once `done` holds or the receiver stops.
template <class Done>
void pause_ms(const RECEIVER_INFO* rx, int ms, Done done) {
  for (int t = 0; t < ms && !stopping(rx) && !done(); t += 20)
    std::this_thread::sleep_for(std::chrono::milliseconds(ms - t < 20 ? ms - t : 20));
}

void put_u32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, sizeof v); }

std::unique_ptr<SDK_WORKSPACE> alloc_workspace(RECEIVER_INFO* rx) {
  std::unique_ptr<SDK_WORKSPACE> ws(new (std::nothrow) SDK_WORKSPACE);
  if (!ws) return nullptr;
  ws->memory = static_cast<uint8_t*>(std::malloc(size_t(SDK_CHANNELS) * SDK_CONTEXT_SIZE));
  if (!ws->memory) return nullptr;
  for (int i = 0; i < SDK_CHANNELS; ++i) {
    SDK_CHANNEL_CONTEXT& c = ws->channel[i];
    c.rx = rx;
    c.workspace = ws.get();
    c.buffer1 = ws->memory + size_t(i) * SDK_CONTEXT_SIZE;
    c.buffer2 = c.buffer1 + SDK_FIRST_BUFFER_SIZE;
    c.output = c.buffer2 + SDK_SECOND_BUFFER_SIZE;
    c.output_size = SDK_CONTEXT_SIZE - SDK_FIRST_BUFFER_SIZE - SDK_SECOND_BUFFER_SIZE;
  }
  return ws;
}

// A new attempt: every context closed, nothing started, nothing accepted yet.
void begin_attempt(SDK_WORKSPACE* ws) {
  ws->stream_lost.store(0);
  for (int i = 0; i < SDK_CHANNELS; ++i) {
    SDK_CHANNEL_CONTEXT& c = ws->channel[i];
    std::lock_guard<std::mutex> g(c.lock);
    c.accepting = false;
    c.opened = nullptr;
    c.session.store(nullptr);
    c.stop.store(1);
    c.channel = i;
    c.dvr_id = 0;
    c.since_key = 0;
    c.param = {};
    c.info = {};
    c.packet_param = {};
    c.packet = {};
  }
}

void join_retired(SDK_WORKSPACE* ws) {
  std::vector<std::thread> done;
  {
    std::lock_guard<std::mutex> g(ws->retired_lock);
    done.swap(ws->retired);
  }
  for (std::thread& t : done)
    if (t.joinable()) t.join();
}

// Closes the nine contexts; starts that come later are refused until the next open.
void close_all(SDK_WORKSPACE* ws) {
  for (SDK_CHANNEL_CONTEXT& c : ws->channel) {
    {
      std::lock_guard<std::mutex> g(c.lock);
      c.accepting = false;
    }
    sdk_close_channel(&c);
  }
  join_retired(ws);
}

// Opens a live session, or a playback session at date (yyyymmdd) and time (hhmmss).
void open_channel(SDK_CHANNEL_CONTEXT* c, int dvr_id, bool live, uint32_t date, uint32_t time) {
  {
    std::lock_guard<std::mutex> g(c->lock);
    c->accepting = true;
    c->opened = nullptr;
    c->param = {};
    c->param.bValue0 = 1;
    c->param.wValue2 = 5;
    c->param.cLive = live ? 1 : 0;
    c->param.dwValue8 = 0;
    c->param.dwPlayDate = live ? 0 : date;
    c->param.dwPlayTime = live ? 0 : time;
  }
  c->dvr_id = dvr_id;
  // The callback may come before the handle does; it is taken from there too.
  void* h = ORVOSDK_Open(dvr_id, c->channel, &c->param, sdk_open_callback, c->channel, c);
  std::lock_guard<std::mutex> g(c->lock);
  if (c->accepting) c->opened = h;
}

void run_steps(RECEIVER_INFO* rx, SDK_WORKSPACE* ws, int dvr_id) {
  g_step.store(SDK_STEP_DECIDE);
  while (attempt_running(rx, ws)) {
    const int32_t step = g_step.load();
    auto step_changed = [step] { return g_step.load() != step; };
    auto lost = [ws] { return ws->stream_lost.load() != 0; };
    switch (step) {
      case SDK_STEP_DECIDE:
        if (app_options.mode == 0) {
          int32_t expected = SDK_STEP_DECIDE;
          g_step.compare_exchange_strong(expected, SDK_STEP_OPEN_LIVE);
          break;
        }
        // The search window asks for its calendar once told; the notice is repeated, slowly,
        // until it does.
        if (app_options.mode == 3) push_user_event(UE_LOGGED_IN, rx);
        pause_ms(rx, 2000, [&] { return step_changed() || lost(); });
        break;
      case SDK_STEP_OPEN_LIVE:
        for (SDK_CHANNEL_CONTEXT& c : ws->channel) open_channel(&c, dvr_id, true, 0, 0);
        while (attempt_running(rx, ws)) pause_ms(rx, 500, lost);
        break;
      case SDK_STEP_LOAD_CALENDAR: {
        sdk_load_record_calendar(rx, dvr_id);
        g_calendar_done.store(1);
        int32_t expected = SDK_STEP_LOAD_CALENDAR;
        g_step.compare_exchange_strong(expected, SDK_STEP_IDLE);
        break;
      }
      case SDK_STEP_OPEN_PLAYBACK: {
        const PLAYBACK_SELECTION sel = selection();
        for (int k = 0; k < SDK_CHANNELS; ++k)
          if (sel.channel_flag[k]) open_channel(&ws->channel[k], dvr_id, false, sel.date, sel.time);
        auto restart = [] {
          std::lock_guard<std::mutex> g(g_selection_lock);
          return g_selection.restart != 0;
        };
        while (attempt_running(rx, ws)) {
          if (restart()) {
            close_all(ws);
            std::lock_guard<std::mutex> g(g_selection_lock);
            g_selection.restart = 0;
            break;
          }
          pause_ms(rx, 500, restart);
        }
        break;
      }
      default: pause_ms(rx, 500, step_changed); break;
    }
  }
}

}  // namespace

SDK_WORKSPACE::~SDK_WORKSPACE() {
  for (SDK_CHANNEL_CONTEXT& c : channel)
    if (c.thread.joinable()) c.thread.join();
  join_retired(this);
  std::free(memory);
}

void sdk_init() {
  std::lock_guard<std::mutex> g(g_sdk_lock);
  if (g_sdk_initialised) return;
  ORVOSDK_Initialize(sdk_event_callback, SDK_EVENT_PORT);
  g_sdk_initialised = true;
}

void sdk_release() {
  std::lock_guard<std::mutex> g(g_sdk_lock);
  if (!g_sdk_initialised) return;
  ORVOSDK_Terminate();
  g_sdk_initialised = false;
  g_sdk_released = true;
}

void sdk_term() {
  std::vector<std::unique_ptr<SDK_WORKSPACE>> dead;
  {
    std::lock_guard<std::mutex> g(g_sdk_lock);
    // Once more after a release: a session that a stopping thread opened while the first
    // Terminate ran is closed before its workspace goes.
    if (g_sdk_initialised || g_sdk_released) ORVOSDK_Terminate();
    g_sdk_initialised = false;
    g_sdk_released = false;
    dead.swap(g_retired);
  }
}

int sdk_event_callback(int, int, void*, const char*, int, int) { return 1; }

int sdk_connect(RECEIVER_INFO* rx) {
  _SDK_DVR_INFO info;
  std::memset(&info, 0, sizeof info);
  return ORVOSDK_Connect(rx->address, rx->username, rx->password, rx->live_port, 1, &info);
}

int sdk_open_callback(void* handle, int dvr_id, int channel, int state, void* user) {
  auto* c = static_cast<SDK_CHANNEL_CONTEXT*>(user);
  if (channel < 0 || !c) return 1;
  if (state != 0) {
    bool refuse = false;
    {
      std::lock_guard<std::mutex> g(c->lock);
      if (c->session.load() == handle) return 1;  // already running
      // A start of a session this attempt no longer wants (closed, or replaced by a newer
      // open of the channel) is closed, not played.
      refuse = !c->accepting || c->session.load() != nullptr ||
               (c->opened != nullptr && c->opened != handle);
      if (!refuse) {
        c->session.store(handle);
        c->opened = handle;
        c->dvr_id = dvr_id;
        c->stop.store(0);
        if (start_sdk_packets(c) != 0) {
          c->stop.store(1);
          c->session.store(nullptr);
          c->opened = nullptr;
          refuse = true;
        }
      }
    }
    if (refuse) ORVOSDK_Close(handle);
    return 1;
  }
  bool was_live_stream = false;
  {
    std::lock_guard<std::mutex> g(c->lock);
    const bool started = c->session.load() == handle;
    if (!started && c->opened != handle) return 1;  // not this context's session any more
    c->stop.store(1);
    if (started) c->session.store(nullptr);
    c->opened = nullptr;
    was_live_stream = started && c->accepting && c->param.cLive == 1;
  }
  // The packet thread ends on its stop flag; the receive thread joins it.
  ORVOSDK_Close(handle);
  if (was_live_stream) c->workspace->stream_lost.store(1);
  return 1;
}

int start_sdk_packets(SDK_CHANNEL_CONTEXT* c) {
  c->packet_param.bNoAudio = 0;
  c->packet_param.bOutput = SDK_OUTPUT_NONE;
  c->packet_param.bDeinterlace = 1;
  ORVOSDK_SetPacketParam(c->session.load(), &c->packet_param);
  if (c->thread.joinable()) {
    // A stopped thread of an earlier start: the receive thread joins it.
    std::lock_guard<std::mutex> g(c->workspace->retired_lock);
    c->workspace->retired.push_back(std::move(c->thread));
  }
  try {
    c->thread = std::thread(recv_sdk_packets, c);
  } catch (...) {
    std::printf("%d: packet thread of channel %d not started.\n", c->rx->index, c->channel);
    return -1;
  }
  return 0;
}

void recv_sdk_packets(SDK_CHANNEL_CONTEXT* c) {
  set_current_thread_name(("packets " + std::to_string(c->channel)).c_str());
  while (c->stop.load() == 0) {
    void* session = c->session.load();
    if (!session) break;
    _SDK_PACKET& p = c->packet;
    p = {};
    p.pBuffer = c->buffer1;
    p.pBuffer2 = c->buffer2;
    p.pOutput = c->output;
    int r = ORVOSDK_GetPacket(session, &p, &c->info);
    if (r != 0 && r != SDK_ERR_ARGUMENT) {
      if (p.bType == 0) store_sdk_packet(c, p, c->info);
      continue;
    }
    // No packet: a time-out, or a session the SDK has closed. Not a busy loop meanwhile.
    for (int i = 0; i < 5 && c->stop.load() == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(4));
  }
}

int sdk_close_channel(SDK_CHANNEL_CONTEXT* c) {
  void* session = nullptr;
  void* opened = nullptr;
  std::thread packets;
  {
    std::lock_guard<std::mutex> g(c->lock);
    c->stop.store(1);
    session = c->session.exchange(nullptr);
    opened = c->opened;
    c->opened = nullptr;
    if (c->thread.joinable() && c->thread.get_id() != std::this_thread::get_id())
      packets = std::move(c->thread);
  }
  if (session) ORVOSDK_Close(session);
  if (opened && opened != session) ORVOSDK_Close(opened);  // opened, not started yet
  if (packets.joinable()) packets.join();
  return 0;
}

PICTURE_HEADER sdk_to_picture_header(SDK_CHANNEL_CONTEXT* c, const _SDK_PACKET& packet,
                                     const _SDK_FRAME_INFO& info) {
  PICTURE_HEADER h;
  h.start_key = FRAME_START_KEY;
  h.scale = 9;
  h.vop_type = packet.bKey ? 0 : 1;
  h.size = packet.dwLength;
  h.hsize = packet.wWidth;
  h.vsize = packet.wHeight;
  h.channel = uint8_t(c->channel);
  // The DVR's wall-clock time counted as if it were UTC, as the other protocols give it.
  if (info.wYear >= 1970 && info.wMonth >= 1 && info.wMonth <= 12) {
    std::tm tm{};
    tm.tm_year = info.wYear - 1900;
    tm.tm_mon = info.wMonth - 1;
    tm.tm_mday = info.wDay;
    tm.tm_hour = info.wHour;
    tm.tm_min = info.wMinute;
    tm.tm_sec = info.wSecond;
    const time_t t = timegm(&tm);
    h.sec = t > 0 ? uint32_t(t) : 0;
  }
  h.usec = uint32_t(info.wMilliseconds > 999 ? 999 : info.wMilliseconds) * 1000;
  c->since_key = packet.bKey ? 0 : uint16_t(c->since_key + 1);
  h.seq_cnt = c->since_key;
  h.receiver = uint16_t(c->rx ? c->rx->index : 0);
  return h;
}

int store_sdk_packet(SDK_CHANNEL_CONTEXT* c, const _SDK_PACKET& packet,
                     const _SDK_FRAME_INFO& info) {
  RECEIVER_INFO* rx = c->rx;
  const uint32_t size = packet.dwLength;
  if (!rx || !packet.pBuffer || size == 0 || size > SDK_FIRST_BUFFER_SIZE) return -1;
  if (c->channel < 0 || c->channel >= MAX_CHANNELS) return -1;
  const PICTURE_HEADER ph = sdk_to_picture_header(c, packet, info);
  CHANNEL_INFO& ch = rx->channels[c->channel];
  if (ch.video_state.load() == VIDEO_LOST) return -2;
  ch.video_state.store(VIDEO_PRESENT);
  APP_CONTEXT* ctx = rx->context;
  stats_add_rx(ctx, rx, &ch, STAT_RECEIVED, 1);
  stats_add_rx(ctx, rx, &ch, STAT_BYTES, size);
  uint8_t hdr[PICTURE_HEADER_SIZE];
  encode_picture_header(ph, hdr);
  int stored = -3;
  if (ctx && ctx->num_slots > 0) {
    const uint32_t slot = decoder_slot_of_channel(rx, c->channel);
    if (ring_write_record(ctx, slot, rx, 'W', 'Y', hdr, sizeof hdr, packet.pBuffer, size, 0,
                          RING_WAIT_ROOM) == 1)
      stored = 0;
  }
  append_record(rx, c->channel, 'W', 'Y', hdr, sizeof hdr, packet.pBuffer, size, 0);
  return stored;
}

int sdk_set_playback_date(int, int year, int month, int day, uint32_t channel_mask, int hour) {
  {
    std::lock_guard<std::mutex> g(g_selection_lock);
    g_selection = {};
    g_selection.year = year;
    g_selection.month = month;
    g_selection.day = day;
    g_selection.channel_mask = channel_mask;
    g_selection.hour = hour;
    g_selection.date = uint32_t((year * 100 + month + 1) * 100 + day);
    g_selection.restart = 1;
  }
  g_step.store(SDK_STEP_LOAD_CALENDAR);
  return 0;
}

int sdk_set_playback_time(void*, int minute) {
  {
    std::lock_guard<std::mutex> g(g_selection_lock);
    g_selection.restart = g_selection.time_set;
    g_selection.time_set = 1;
    g_selection.minute = minute;
    g_selection.time = uint32_t((g_selection.hour * 100 + minute) * 100);
  }
  g_step.store(SDK_STEP_OPEN_PLAYBACK);
  return 0;
}

int sdk_load_record_calendar(RECEIVER_INFO* rx, int dvr_id) {
  const PLAYBACK_SELECTION sel = selection();
  uint8_t rec[SDK_CALENDAR_SIZE] = {};
  put_u32(rec + 0, uint32_t(sel.year));
  put_u32(rec + 4, uint32_t(sel.month));
  put_u32(rec + 8, uint32_t(sel.day));
  put_u32(rec + 12, sel.channel_mask);
  put_u32(rec + 16, uint32_t(sel.hour));
  unsigned long days = 0;
  if (ORVOSDK_GetDayOfMonthlyRecord(dvr_id, 4, sel.year, sel.month + 1, &days)) {
    for (int d = 1; d <= 31; ++d) rec[28 + d - 1] = uint8_t((days >> (d - 1)) & 1u);
  } else {
    std::printf(" ORVOSDK_GetRecordInfo connection fail. \n");
  }
  auto table = std::make_unique<_SDK_REC_TIMETABLE_EX>();
  std::memset(table.get(), 0, sizeof *table);
  if (!ORVOSDK_GetRecordInfoAllChannel(dvr_id, 4, int(sel.date), table.get())) {
    std::printf("ORVOSDK_GetRecordInfo connection fail. \n");
  } else {
    uint8_t flags[SDK_CHANNELS] = {};
    const bool hour_chosen = sel.hour >= 0 && sel.hour <= 23;
    for (int c = 0; c < 4; ++c) {
      const uint8_t* slot = table->aChannel[c].abSlot;
      const bool in_mask = (sel.channel_mask >> c) & 1u;
      if (in_mask) flags[c] = 1;
      bool any = false;
      for (int k = 0; k < 240; ++k) any = any || slot[k] != 0;
      if (any) rec[59 + c] = 1;
      for (int h = 0; h < 24 && in_mask; ++h)
        for (int k = 0; k < 10; ++k)
          if (slot[10 * h + k]) rec[75 + h] = 1;
      if (!hour_chosen) continue;
      for (int k = 0; k < 10; ++k)
        if (slot[10 * sel.hour + k])
          for (int m = 6 * k; m < 6 * k + 6; ++m) rec[99 + m] = 1;
    }
    std::lock_guard<std::mutex> g(g_selection_lock);
    std::memcpy(g_selection.channel_flag, flags, sizeof flags);
  }
  post_link_notice(UE_SEARCH_DATA, rec, sizeof rec, rx ? rx->index : -1);
  return 0;
}

int sdk_take_calendar_done() { return g_calendar_done.exchange(0); }

int recv_sdk_data(RECEIVER_INFO* rx) {
  if (!rx) return -1;
  std::unique_ptr<SDK_WORKSPACE> ws = alloc_workspace(rx);
  if (!ws) {
    fatal_box("Not enough memory.");
    rx->status.store(RX_ENDED);
    return -1;
  }
  const int idx = rx->index;
  while (!stopping(rx)) {
    begin_attempt(ws.get());
    rx->status.store(RX_CONNECTING);
    std::printf("%d: connecting to server ...\n", idx);
    const int id = sdk_connect(rx);
    if (id == -2) {
      std::printf("%d: log-on to %s refused.\n", idx, rx->address);
      break;
    }
    if (id < 0) {
      std::printf("%d: ORVOSDK_Connect(%s) failed (%d).\n", idx, rx->address, id);
      int32_t expected = RX_CONNECTING;
      rx->status.compare_exchange_strong(expected, RX_FAILED);
    } else {
      _SDK_DVR_INFO info;
      std::memset(&info, 0, sizeof info);
      ORVOSDK_GetDVRSystemInfo(id, &info);
      int32_t expected = RX_CONNECTING;
      if (rx->status.compare_exchange_strong(expected, RX_RECEIVING)) run_steps(rx, ws.get(), id);
      close_all(ws.get());
      ORVOSDK_Disconnect(id);
      expected = RX_RECEIVING;
      rx->status.compare_exchange_strong(expected, RX_FAILED);
    }
    if (stopping(rx)) break;
    post_receiver_notice(idx);
    pause_ms(rx, 500, [] { return false; });
  }
  close_all(ws.get());
  rx->status.store(RX_ENDED);
  std::printf("%d: recv_sdk_data() exited.\n", idx);
  std::lock_guard<std::mutex> g(g_sdk_lock);
  g_retired.push_back(std::move(ws));
  return 0;
}
