// Protocol 'W' through the DVR SDK (OrvoLib's ORVOSDK_* calls): the receive thread of a 'W'
// DVR, the per-channel packet threads that move the SDK's still-compressed MPEG-4 frames into
// the receive rings as PICTURE_HEADER records, and the playback selection and record calendar
// of the search window.
//
// Threads. recv_sdk_data runs on its own thread, one per 'W' receiver; it connects, opens one
// SDK session per channel 0..8 and acts on the SDK step until it is told to stop. The SDK
// calls sdk_open_callback on its own threads; a started stream gets one packet thread
// (recv_sdk_packets), owned and joined by the receive thread: a callback never joins. The
// search window (window thread) writes the playback selection and the step; the receive
// thread reads them, all under one lock. sdk_init/sdk_release/sdk_term run on the thread that
// starts and stops the receivers (the window thread, or the teardown worker of a disconnect).
//
// Failures. A refused log-on (-2) ends the thread; an unreachable DVR or a bad argument (-1,
// -3) is retried after 500 ms, like the other protocols. Each attempt ends by closing its
// channels and disconnecting its DVR id; a live stream that the SDK stops (state 0) ends the
// attempt, so a DVR that dropped is connected again. A packet that does not fit its buffer or
// the ring is dropped. The workspaces stay allocated until sdk_term, after the SDK has
// stopped calling back, so a late callback never meets freed memory.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "client/foundation/app_state.h"
#include "client/links/frame_headers.h"
#include "forward/orvolib/orvolib.h"

constexpr int SDK_CHANNELS = 9;               // channels 0..8 are opened, whatever the DVR has
constexpr size_t SDK_CONTEXT_SIZE = 1779252;  // buffers of one channel context
constexpr uint16_t SDK_EVENT_PORT = 8003;
constexpr size_t SDK_CALENDAR_SIZE = 160;

// SDK step: one word for the whole client.
enum : int32_t {
  SDK_STEP_IDLE = 0,
  SDK_STEP_DECIDE = 1,  // after a connect: live in the main window, "logged in" to search
  SDK_STEP_OPEN_LIVE = 2,
  SDK_STEP_LOAD_CALENDAR = 3,
  SDK_STEP_OPEN_PLAYBACK = 4,
};

// One opened channel of a 'W' receiver. `lock` guards session, opened, thread, accepting and
// the retired threads; the packet thread reads session and stop without it.
struct SDK_CHANNEL_CONTEXT {
  RECEIVER_INFO* rx = nullptr;
  struct SDK_WORKSPACE* workspace = nullptr;
  std::mutex lock;
  std::thread thread;                   // packet thread, joined by the receive thread
  std::atomic<void*> session{nullptr};  // started session (from the callback), null when closed
  void* opened = nullptr;               // what ORVOSDK_Open returned for this attempt
  bool accepting = false;               // a start of this attempt may run a packet thread
  std::atomic<int32_t> stop{1};         // 1 stops the packet thread
  int32_t channel = 0, dvr_id = 0;      // given by the open callback
  uint16_t since_key = 0;               // frames since the last key frame
  uint8_t* buffer1 = nullptr;           // SDK_FIRST_BUFFER_SIZE
  uint8_t* buffer2 = nullptr;           // SDK_SECOND_BUFFER_SIZE
  uint8_t* output = nullptr;            // the rest of the context
  size_t output_size = 0;
  _SDK_CONN_PARAM param{};
  _SDK_FRAME_INFO info{};
  _SDK_PACKET_PARAM packet_param{};
  _SDK_PACKET packet{};
};

// The nine channel contexts of one receiver and their buffers.
struct SDK_WORKSPACE {
  SDK_CHANNEL_CONTEXT channel[SDK_CHANNELS];
  uint8_t* memory = nullptr;            // SDK_CHANNELS x SDK_CONTEXT_SIZE
  std::atomic<int32_t> stream_lost{0};  // a live stream stopped: the attempt ends
  std::mutex retired_lock;
  std::vector<std::thread> retired;  // stopped packet threads a callback replaced
  SDK_WORKSPACE() = default;
  SDK_WORKSPACE(const SDK_WORKSPACE&) = delete;
  SDK_WORKSPACE& operator=(const SDK_WORKSPACE&) = delete;
  ~SDK_WORKSPACE();  // joins what is left, frees the buffers
};

// Once per program run until sdk_term: ORVOSDK_Initialize(sdk_event_callback, 8003). Called by
// start_receivers whether or not 'W' DVRs take part.
void sdk_init();
// ORVOSDK_Terminate when initialised: the SDK closes its sockets, so a receive thread held
// in an SDK call returns; the workspaces stay (a thread may still run). Called at every
// disconnect before the receive threads are joined.
void sdk_release();
// ORVOSDK_Terminate when initialised or released since, then frees the workspaces of ended
// receive threads. Called at every disconnect after the receive threads were joined.
void sdk_term();
// The SDK's application callback: ignores every notice (SDK notices and DVR events reach no
// log or alarm) and returns 1.
int sdk_event_callback(int source, int code, void* data, const char* ip, int channel, int value);
// ORVOSDK_Connect(address, user, password, first port, 1, a zeroed record): the DVR id or
// the SDK's negative result.
int sdk_connect(RECEIVER_INFO* rx);
// The session callback (SDK threads). A negative channel is ignored. State 1: keeps handle,
// DVR id and channel and starts the packet thread (a start that belongs to no open of the
// running attempt is closed instead). State 0: stops and closes the channel, without joining;
// for a live stream it ends the attempt. Returns 1.
int sdk_open_callback(void* handle, int dvr_id, int channel, int state, void* user);
// Packet options 0, 0, 1 for the context's session and its packet thread. 0, or -1 when the
// thread cannot start.
int start_sdk_packets(SDK_CHANNEL_CONTEXT* ctx);
// Packet thread: ORVOSDK_GetPacket in a loop until the stop flag; video packets are stored,
// audio packets dropped.
void recv_sdk_packets(SDK_CHANNEL_CONTEXT* ctx);
// Stop flag, then ORVOSDK_Close of the session, then joins the packet thread (never the
// calling thread, which is left for the receive thread to join). 0.
int sdk_close_channel(SDK_CHANNEL_CONTEXT* ctx);

// The PICTURE_HEADER of a delivered video packet: key frames VOP type 0, others 1; seconds
// from the frame's full time stamp (the DVR's wall clock counted as UTC), microseconds from
// its milliseconds; the sequence count is the frames since the last key frame (updates
// ctx->since_key).
PICTURE_HEADER sdk_to_picture_header(SDK_CHANNEL_CONTEXT* ctx, const _SDK_PACKET& packet,
                                     const _SDK_FRAME_INFO& info);
// Writes one video packet into the channel's ring ('W', 'Y') and, when the channel records,
// its file. 0 stored; -1 bad size; -2 channel in video loss; -3 no ring room or stopped.
int store_sdk_packet(SDK_CHANNEL_CONTEXT* ctx, const _SDK_PACKET& packet,
                     const _SDK_FRAME_INFO& info);

// Search window: the calendar of the date (month 0-based; day and hour 255 for none) and the
// cameras of `channel_mask`; clears the selection, sets the restart flag and step 3. The
// first value is not read. 0.
int sdk_set_playback_date(int unused, int year, int month, int day, uint32_t channel_mask,
                          int hour);
// Search window: playback from `minute` of the chosen hour (sessions already playing are
// closed and opened again); step 4. The first value is not read. 0.
int sdk_set_playback_time(void* unused, int minute);
// Fetches the month's recording days and the day's tables of channels 0..3 for the selection
// and queues the 160-byte calendar record as user event 27 (a copy). A failed request prints
// its line; the record still goes out. 0.
int sdk_load_record_calendar(RECEIVER_INFO* rx, int dvr_id);
// 1 once a calendar was loaded since the last call (cleared by the call).
int sdk_take_calendar_done();

// Thread entry: 0 after a stop or a refused log-on; -1 when memory fails ("Not enough
// memory." fatal box, status word 2).
int recv_sdk_data(RECEIVER_INFO* rx);
