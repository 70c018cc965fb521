// The application context: locks, view state, receivers with their channels, decoder
// slots, statistics and the 28 screen layouts of this process.
//
// One global record, `app_context`, set up by start-up on the first thread and torn down by
// shutdown after every thread that reads it has been joined. Receive, decoder and timer
// threads share it under the mutexes named below; the words they change while others read
// are atomics. Creating an SDL mutex can fail: the init functions then return a negative
// step number and leave what they made for the matching free function.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>

#include <SDL/SDL.h>

#include "client/foundation/config/app_options.h"

constexpr int MAX_RECEIVERS = 144;
constexpr int MAX_CHANNELS = 32;  // per receiver
constexpr int MAX_DISPLAY_SLOTS = 144;
constexpr int NUM_LAYOUTS = 28;
constexpr int MAX_LAYOUT_CELLS = 144;
constexpr int NUM_CONTEXT_SURFACES = 6;
constexpr uint32_t DEFAULT_RING_SIZE = 0x400000;   // main window
constexpr uint32_t SECONDARY_RING_SIZE = 0x80000;  // every other window mode
// The pair holds the desired and the obtained SDL_AudioSpec; 24 bytes is their size on a
// 32-bit build only, so each block takes whichever is larger.
constexpr size_t PAIR_BLOCK_SIZE = sizeof(SDL_AudioSpec) > 24 ? sizeof(SDL_AudioSpec) : 24;

// Decoder states of APP_CONTEXT::decoder_state.
enum : uint32_t { DECODER_RUNNING = 6, DECODER_STOPPED = 9 };

// Bits of APP_CONTEXT::playback_flags: the playback controls set them, the decoders and the
// refresh timer read them.
enum : uint32_t { PB_PAUSED = 2, PB_HOLD = 4, PB_DRAG = 8 };

// Receiver status words (RECEIVER_INFO::status).
enum : int32_t {
  RX_STOP = 0,
  RX_ENDED = 2,
  RX_CONNECTING = 4,
  RX_RECEIVING = 5,
  RX_FAILED = -1,
};

// Skin windows of APP_CONTEXT::skin_window (the window ids of client/screens/skin_tables.h).
enum : int32_t {
  SKIN_LOGIN = 1,
  SKIN_MAIN = 2,
  SKIN_SEARCH = 3,
  SKIN_PLAYBACK = 4,
  SKIN_EVENT = 5
};

// Video-loss state of CHANNEL_INFO::video_state.
enum : uint8_t { VIDEO_PRESENT = 0, VIDEO_LOST = 3 };

// APP_CONTEXT::search_state: the search window asks the 'Q' readers to hold while it waits.
enum : int32_t { SEARCH_IDLE = 0, SEARCH_HOLD = 2 };

// APP_CONTEXT::hold_state: a redraw of the held receiver's channels asked for, and done.
enum : int32_t { HOLD_DONE = 1, HOLD_REDRAW = 4 };

// Counter ids of STATS_COUNTERS (the statistics functions live in stats.h).
enum : int {
  STAT_RECEIVED = 0,
  STAT_DECODED = 1,
  STAT_DISPLAYED = 2,
  STAT_REFRESHED = 3,
  STAT_BYTES = 4,
  STAT_MISSING = 5,
  STAT_IGNORED = 6,
  NUM_STATS = 7,
};

// A copy of a set (stats_snapshot).
struct STATS_COUNTERS {
  uint32_t count[NUM_STATS];
};

// One set as it is kept: any thread counts into it, rolls move it, the panel reads it.
struct STATS_WORDS {
  std::atomic<uint32_t> count[NUM_STATS];
};

// The rolling sets kept in the context, in each receiver and in each channel. Each set rolls
// on its own clock (`second_roll`/`minute_roll`: the ms its running period began at, 0 until
// its first roll), so a roll one receiver's count brings due never stands in for another's.
struct STATS_SETS {
  STATS_WORDS last_minute;
  STATS_WORDS minute;
  STATS_WORDS last_second;
  STATS_WORDS second;
  std::atomic<uint32_t> second_roll;
  std::atomic<uint32_t> minute_roll;
};

struct RECT16 {
  int16_t x, y;
  uint16_t w, h;
};

struct DISPLAY_LAYOUT {
  uint32_t num_cells;
  uint32_t id;          // its index in the table
  uint32_t registered;  // user layout defined
  uint32_t grid;        // g of a g x g grid
  RECT16 cells[MAX_LAYOUT_CELLS];
};

// Who covers the plain words of a channel: `rect`, `shown`/`hidden`/`flag`, `stopped`, the
// zoom and scale factors and the saved flags belong to the window loop and are read by the
// tiles under the display mutex; `surface` and `pic_rect` are guarded by `mutex`;
// `frame_time`/`frame_time2` are written by the decoder and read by the tiles (atomics);
// `recording` and `record_file` by the recording code under the context's record_mutex (the
// tiles read `recording` for the record mark, so it is an atomic); the names,
// `position` and the OSD table are set before the connection's threads start.
struct CHANNEL_INFO {
  RECT16 rect;  // cell rectangle on the video surface
  int16_t word1, word2;
  uint8_t area8[8];
  uint8_t area256[256];
  std::atomic<int32_t> id;         // display index over all receivers, -1 = not numbered
  std::atomic<int32_t> slot;       // display slot, -1 = none
  float position;                  // its index 0..31
  uint16_t width, height;          // picture size
  std::atomic<double> frame_time;  // latest frame, seconds since 1970
  std::atomic<double> frame_time2;
  uint8_t shown;
  uint8_t hidden;
  uint8_t flag;
  std::atomic<uint8_t> selected;  // window loop writes; tiles read it on decoder threads
  std::atomic<uint8_t> recording;
  std::atomic<uint8_t> video_state;  // 3 after a video-loss notice
  std::atomic<uint8_t> event_marks;  // 0x02 motion, 0x20 sensor
  char camera_name[131];
  SDL_Surface* surface;  // decode surface, guarded by `mutex`
  SDL_mutex* mutex;
  FILE* record_file;   // local recording (record mutex); written by the recording writer
  void* record_index;  // owned; released by free_receiver with free()
  // Local recording (record mutex): the file's name, the writer's handle of it, and the
  // time stamps of the last video and audio records appended.
  char record_name[256];
  struct RECORD_SINK* record_sink;
  double record_video_time;
  double record_audio_time;
  STATS_SETS stats;
  // Tiles and decoder (display mutex unless noted).
  RECT16 pic_rect;      // part of the picture shown; smaller while digitally zoomed
  double zoom_factor;   // picture area / shown area
  double scale_factor;  // cell area / shown area
  // Picture adjustments: the window loop writes them, the decoder reads them per picture.
  std::atomic<int32_t> brightness;  // -255..255
  std::atomic<int32_t> contrast;    // -100..100
  std::atomic<float> hue;           // degrees 0..360
  std::atomic<int32_t> saturation;  // -128..128
  std::atomic<uint8_t> audio_on;
  uint8_t stopped;         // the channel was taken off (blank tile)
  uint8_t saved_selected;  // copies kept around a temporary single view
  uint8_t saved_audio;
  int32_t num_osd_lines;       // on-screen text lines (osd.h), 0 without a table
  struct OSD_LINE* osd_lines;  // owned by the on-screen text code
  // Decoder thread. `slot` above is the channel's decoder index; `frame_time` the time
  // stamp of its latest frame and `frame_time2` of its first (decoder thread writes both).
  std::atomic<uint8_t> key_request;  // 1: the decoder waits for the next key frame
  std::atomic<uint8_t> waiting;      // cleared by the decoder after each decoded picture
};

// Handle of a receiver's receive thread. stop_receivers joins it; should the process exit
// with it still running (exit() from a fatal display error), it is detached instead of
// aborting the process in the record's destructor.
struct RECEIVE_THREAD : std::thread {
  using std::thread::thread;
  RECEIVE_THREAD() = default;
  RECEIVE_THREAD(RECEIVE_THREAD&&) = default;
  RECEIVE_THREAD& operator=(RECEIVE_THREAD&&) = default;
  RECEIVE_THREAD& operator=(std::thread&& other) {
    std::thread::operator=(std::move(other));
    return *this;
  }
  ~RECEIVE_THREAD() {
    if (joinable()) detach();
  }
};

// A receiver's plain words (names, address, ports, channel counts, flags, masks of the
// setup) are filled by the connection code before its threads start and only read
// afterwards; `op_mode` is an atomic, since the search window changes it while the receive
// thread runs; `position` is written by the window loop, which is also the only thread that
// sends the requests reading it. The rest are atomics or guarded as noted.
struct RECEIVER_INFO {
  uint8_t protocol;  // 'I', 'Q', 'S', 'W' or 0
  int32_t index;
  char name[131];               // "[FILE]" for a file source
  FILE* file;                   // file source
  SDL_mutex* mutex;             // guards the file position during seeks
  std::atomic<int32_t> status;  // RX_*; written by the socket I/O and the receive thread
  std::atomic<int32_t> run;     // run state of the receive thread
  APP_CONTEXT* context;
  char address[129];
  char host_type[11];  // "IP", "NAME" or "DDNS"
  uint16_t live_port;
  uint16_t pb_port;
  uint16_t ctrl_port;
  uint32_t sock_timeout;             // seconds
  uint32_t channel_mask;             // bit k = channel k+1 used
  std::atomic<uint32_t> shown_mask;  // bit k = channel k+1 on the current page
  uint32_t num_video;
  uint32_t num_video1;
  uint32_t num_video2;
  uint32_t count_flag;
  char username[131];  // as in setup.cfg; the 'Q' login sends the first 8 bytes
  char password[195];
  uint8_t flag1;
  uint8_t flag2;
  CHANNEL_INFO channels[MAX_CHANNELS];
  STATS_SETS stats;
  // Connection fields of the receive threads (client/links).
  std::atomic<int32_t> op_mode;         // 1 live, 2 remote playback, 3 local file,
                                        // 4 device source, 5 playback at a chosen time
  uint8_t rx_flags;                     // 1 single DVR, 3 group/added; |4 playback, |8, |0x2C file
  double position;                      // --seek position, seconds
  std::atomic<uint32_t> sel_vid_ch;     // selected video channels
  std::atomic<uint32_t> audio_mask;     // selected audio channels
  std::atomic<int32_t> pending_frames;  // records in the rings not yet taken by a decoder
  std::atomic<uint32_t> pending_bytes;  // their bytes (12 + header + data each)
  std::atomic<int32_t> sock{-1};        // link socket, -1 none; closed under send_lock
  std::timed_mutex send_lock;           // one sender at a time on `sock`
  std::atomic<uint8_t> logged_in;       // 1 after an accepted login
  RECEIVE_THREAD thread;                // receive thread, joined by stop_receivers
  struct NC_LOGIN_STATE* nc_state;      // protocol 'Q' login state of the receive thread
  uint8_t osd_mask;                     // bit k: on-screen text line k on this DVR's tiles
  std::atomic<double> last_frame_time;  // time stamp of the last frame a decoder took
  char file_name[256];                  // file source or playback file, empty = none
  std::atomic<uint32_t> record_mask;    // bit n: channel n records (changed under the record mutex)
};

// One decoder slot: its receive ring and the ring's positions (guarded by `mutex`).
struct DISPLAY_SLOT {
  uint8_t* ring;  // owned; freed with free()
  SDL_mutex* mutex;
  uint32_t write_pos;
  uint32_t read_pos;
  double level;
  uint32_t word;
};

// The two blocks (desired and obtained audio spec) that start-up allocates for the audio.
struct PAIR_BUFFERS {
  void* first;
  void* second;
};

struct APP_CONTEXT {
  // Lock order: display, then enlarged picture, then a channel's mutex.
  SDL_mutex* display_mutex;
  SDL_mutex* popup_mutex;  // guards popup_channel
  SDL_mutex* enlarged_mutex;
  SDL_mutex* selection_mutex;
  SDL_mutex* text_mutex;    // every SDL_ttf call
  SDL_mutex* record_mutex;  // appends to recording files
  // screen, video, display frame, enlarged picture, work, selection frame.
  SDL_Surface* surfaces[NUM_CONTEXT_SURFACES];
  SDL_Cursor* cursor;
  SDL_PixelFormat pixel_format;  // copy of the screen's, palette not kept
  // View state: the window loop writes it; decoder threads read the four words below
  // (is_channel_shown) without a lock, the rest under the display mutex.
  std::atomic<int32_t> layout;
  std::atomic<int32_t> page;
  std::atomic<int32_t> single_view;
  std::atomic<int32_t> single_channel;
  RECT16 enlarged_rect;
  int16_t gap_w, gap_h;
  double zoom;
  uint32_t timeout;
  std::atomic<uint32_t> decoder_state;  // DECODER_*
  uint32_t flags;
  // Window state copied from the options at start.
  int32_t skin_window;  // 2 main, 3 search, 4 playback, 5 event
  int32_t win_left, win_top;
  int32_t skin;
  int32_t frame;
  int32_t auto_resize;
  RECT16 video_rect;
  std::atomic<int32_t> watchdog;
  int32_t mute;
  std::atomic<int32_t> main_loop_running;  // read by the decoder threads
  std::atomic<int32_t> tour;               // the tour thread runs while set
  int32_t popup_channel;                   // pending pop-up channel, -1 = none (popup_mutex)
  std::atomic<int32_t> alarm_channel{-1};  // alarm pop-up channel id, -1 = none
  // Receivers in connection order; the count is read by receive and decoder threads.
  std::atomic<int32_t> num_receivers;
  RECEIVER_INFO receivers[MAX_RECEIVERS];
  // Decoder slots.
  uint32_t num_slots;
  uint32_t ring_size;
  DISPLAY_SLOT slots[MAX_DISPLAY_SLOTS];
  STATS_SETS stats;
  DISPLAY_LAYOUT layouts[NUM_LAYOUTS];
  // Links and playback words (client/links, decoders, search window).
  std::atomic<uint32_t> playback_flags;  // bit 1 paused, bit 2 hold
  std::atomic<int32_t> search_state;     // 2: the search window asks readers to hold
  double buf_level;                      // [SYSTEM] buf_level, copied before decoders start
  std::atomic<int32_t> num_channels;     // connected channels; the tiles read it on decoder threads
  std::atomic<double> playback_speed{1.0};  // 1.0 real time; read by receivers and decoders
  // Tiles, refresh timer and window loop. `single_view` above is the view mode (0 tiles,
  // 1 picture-in-picture, 2 single view) and `single_channel` the enlarged channel id;
  // `num_channels` is the total of enabled channels the tiles page through.
  std::atomic<int32_t> dirty;            // video surface drawn since the last copy
  std::atomic<int32_t> selection_state;  // 1 hidden, 2 shown, 4 show, 8 hide requested
  std::atomic<int32_t> popup_state;
  std::atomic<int32_t> message_state;
  int32_t win_w, win_h;  // window size
  int32_t fullscreen;
  int32_t aspect43;   // draw pictures 4:3 inside their cells
  RECT16 merge_rect;  // pending merge, video-area coordinates
  int32_t desktop_w, desktop_h;
  int32_t saved_w, saved_h;                // window size when full screen was entered
  std::atomic<int32_t> wait_variant;       // which wait indicator the search window shows
  std::atomic<int32_t> layout_target;      // 1 this window, 2 the slaves (a link reader sets 2)
  int32_t max_select;                      // most channels selectable at once
  std::atomic<uint32_t> last_mouse_ticks;  // SDL_GetTicks of the last mouse activity
  // Reader handle once the log viewer opened it; the mailslot timer closes it on a failure.
  std::atomic<int32_t> mailslot{-1};
  // Decoder threads (playback controls set the requests; the decoders clear them).
  std::atomic<int32_t> single_step;     // 1: show one more frame, then pause
  std::atomic<int32_t> catch_up;        // 1: halve the pacing waits of a ring that is behind
  std::atomic<int32_t> resize_request;  // 1: the next picture resizes the window (event 42)
  std::atomic<int32_t> hold_state;      // 4: redraw the held receiver's channels, then 1
  std::atomic<double>
      paced_time[MAX_DISPLAY_SLOTS];  // per slot: time stamp of the last paced frame
  std::atomic<uint32_t> paced_tick[MAX_DISPLAY_SLOTS];  // per slot: its tick (ms), 0 none
  std::atomic<uint8_t> paced_yet[MAX_DISPLAY_SLOTS];  // per slot: a frame of this stream was paced
  // Network load of the main window's meter (percent of the first adapter), written by the
  // load monitor; the rest of the panel's words are in client/screens/screen_state.h.
  std::atomic<int32_t> net_load{0};
};

extern APP_CONTEXT app_context;

// Creates the six mutexes and sets the defaults. Returns 0, or -1 when a mutex could not
// be made (free_app_context releases the others). First thread, before threads start.
int init_app_context(APP_CONTEXT* ctx);
// free_receiver for each receiver, frees the slots' rings and mutexes, the six mutexes,
// the surfaces and the cursor. Only after every thread using `ctx` has been joined.
void free_app_context(APP_CONTEXT* ctx);

// Clears the 28 layouts (cell count 0, id = index, cells 0). Caller holds the display
// mutex once other threads draw.
void clear_layout_table(DISPLAY_LAYOUT* layouts);
void free_layout_table(DISPLAY_LAYOUT* layouts);

// Receiver defaults; creates the receiver mutex and one mutex per channel. Returns 0, or -1
// when a mutex could not be made (free_receiver releases the rest). The caller owns `rx`
// and no thread uses it yet.
int init_receiver(RECEIVER_INFO* rx);
// Closes the file source, destroys the mutexes, and per channel: hidden 1, shown 0, closes
// its recording, releases its index and frees its surface. Safe on a cleared receiver.
void free_receiver(RECEIVER_INFO* rx);

// Frees `s` when there is one and leaves it null. Whichever thread owns the surface.
void free_surface(SDL_Surface*& s);

// Allocates the two zeroed blocks of PAIR_BLOCK_SIZE. Returns 0, or -1 when memory ran out (none
// kept).
int alloc_pair_buffers(PAIR_BUFFERS* pair);
// Frees each block that is present. Safe to call twice.
void free_pair_buffers(PAIR_BUFFERS* pair);
