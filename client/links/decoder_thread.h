// Decoder threads: one per decoder slot of a connection. Each takes the records that the
// receive threads (or file players) wrote into its slot's ring, decodes video into the
// channel's 32-bit picture surface and mu-law audio into the live audio queue, paces the
// pictures by their time stamps and hands them to the tile code through the draw hooks.
//
// Threads: decoder_thread runs on its own thread (started by start_decoders, which joins it
// after setting the decoder state to 9). init/free_video_decoders and set_decoder_hooks run
// on the window thread while no decoder runs. The other functions are the thread's steps,
// public for the receivers, the file players and tests.
//
// Records are never trusted: a record whose sizes do not fit the ring, the frame buffer or its
// own header, or whose receiver or channel index is out of range, is skipped whole; a bad
// start key sends the reader to the start of the ring.
#pragma once

#include <cstddef>
#include <cstdint>

#include "client/foundation/app_state.h"
#include "client/links/frame_headers.h"

constexpr size_t DECODER_FRAME_BUFFER_SIZE = 1049600;  // one frame header and its data
// Largest picture accepted: 2048 x 1536 (1920 x 1080 and 1920 x 1088 fit) at 4 bytes a pixel.
constexpr int DECODER_MAX_WIDTH = 2048;
constexpr int DECODER_MAX_HEIGHT = 1536;
constexpr size_t DECODER_PICTURE_BUFFER_SIZE = size_t(DECODER_MAX_WIDTH) * DECODER_MAX_HEIGHT * 4;
constexpr size_t DECODER_PCM_BUFFER_SIZE = AUDIO_PAYLOAD_SLOT * 2;  // 512 samples of 16 bits
constexpr int DECODER_PACE_MAX_MS = 2000;
// A live frame this much later than its stream's earliest (now less time stamp) does not
// pace the next one, so the slot catches up with the DVR.
constexpr double LIVE_LATE_MS = 5.0;

// Surface masks of every decode surface: 32-bit pixels B, G, R, 0 in memory.
constexpr uint32_t DECODE_RMASK = 0x00FF0000u, DECODE_GMASK = 0x0000FF00u,
                   DECODE_BMASK = 0x000000FFu;

// How decoded pictures reach the screen; set by the tile code. Any hook may be null.
struct DECODER_HOOKS {
  // Under the display mutex, after a picture went into ch's surface: draw its tile, text and
  // cell (or the enlarged picture). Returns 0 when it drew.
  int (*draw_channel)(APP_CONTEXT* ctx, RECEIVER_INFO* rx, CHANNEL_INFO* ch);
  // Hold state 4: redraw every channel of rx whose video state byte is 0 (display mutex held).
  void (*redraw_receiver)(APP_CONTEXT* ctx, RECEIVER_INFO* rx);
};
void set_decoder_hooks(const DECODER_HOOKS& hooks);

// Thread body: 0 after the decoder state left 6, -1 when a buffer cannot be allocated
// ("Not enough memory." fatal box).
int decoder_thread(APP_CONTEXT* ctx);
// The slot counter the threads take their slot from; 0 before a connection starts them.
void reset_decoder_slots();

// Copies the video record behind `rh` (whose 12 header bytes were just read at `pos`) into
// `frame` as a FRAME_HEADER (converted for 'I'/'W', whose PICTURE_HEADER stays in front of
// the data) and its data. 0; -1 when the record does not hold what its headers claim.
int get_video_frame(const uint8_t* record, uint32_t record_size, const FRAME_RECORD_HEADER& rh,
                    FRAME_HEADER* fh, uint8_t* frame);
// Copies an audio record. 0; -1 when the sample count does not fit the record or its slot.
int get_audio_frame(const uint8_t* record, uint32_t record_size, AUDIO_FRAME_HEADER* ah,
                    uint8_t* frame);

// Decodes the frame in `frame` (header + data as get_video_frame left it) into `picture`
// (capacity bytes), by protocol letter: 'Q' H.264, 'S' tir_decode, others MPEG-4. 0 with the
// picture's real size in *w, *h, 1 when no picture came out but the frame was fine (MPEG-4
// waiting for a key frame or missing frames; counted), -1 failure (printed).
// With `bpp` given, an H.264 picture is left packed at 3 bytes a pixel (B, G, R) and *bpp
// tells which of 3 or 4 the picture holds, so that weave_packed_fields can widen it straight
// into the surface.
int decode_video_frame(int decoder_index, const FRAME_RECORD_HEADER& rh, const uint8_t* frame,
                       uint8_t* picture, size_t capacity, int* w, int* h, int* bpp = nullptr);
// Expands the mu-law samples of an audio record (sample count at 4) into pcm: bytes of PCM,
// or -1 when the protocol letter is not 'Q' or the count exceeds the payload slot.
int decode_audio_data(const FRAME_RECORD_HEADER& rh, const uint8_t* frame, int16_t* pcm);

int is_key_frame(int frame_type, uint8_t protocol);  // 'Q': 1; 'S': always; others: 0
void reset_channel_decoder(int decoder_index, uint8_t protocol);
void reset_all_decoders();  // also frees the decoder indexes claimed by channels
// 0, or -1 ("init_xvid() failed.\n" / "init_pixtree() failed.\n"). Program start.
int init_video_decoders();
void free_video_decoders();

// (Re)creates ch's 32-bit surface for width x height (channel mutex held): 0, or -1
// ("SDL_CreateRGBSurface() failed.\n"). A surface of the same size is kept.
int create_decode_surface(CHANNEL_INFO* ch, int width, int height);
// Mean length of SDL_Delay(1) over 32 calls, printed "min_delay is %d milliseconds!\n".
int measure_min_delay();

// 'I' wire picture header (the 64 bytes after the control record's first 12) -> PICTURE_HEADER
// (receiver index left 0).
PICTURE_HEADER make_picture_header(const uint8_t* wire);
FRAME_HEADER picture_to_frame_header(const PICTURE_HEADER& ph);
// Copies a width x height 32-bit picture into `pixels` (pitch bytes a row): plain for every
// protocol but 'Q'; 'Q' pictures of up to 288 rows lose their first 8 rows to black, taller
// ones are folded into height/2 rows (fields split first when the DVR has 8 channels) whose
// first 16 are black.
int weave_fields(const RECEIVER_INFO* rx, uint8_t protocol, uint8_t* picture, uint8_t* pixels,
                 int pitch, int width, int height);
// weave_fields for a 'Q' picture of packed 3-byte pixels: the same rows, widened to 4 bytes on
// the way. Returns the number of rows written (height, or height/2 when folded).
int weave_packed_fields(const RECEIVER_INFO* rx, const uint8_t* picture, uint8_t* pixels, int pitch,
                        int width, int height);

// ---- one decoder thread's state and steps (decoder_thread loops over these) -------------
enum DECODER_PASS : int {
  PASS_PAUSED = 0,     // playback paused: slept 100 ms, took nothing
  PASS_EMPTY,          // ring empty: slept 1 ms
  PASS_SKIPPED,        // record skipped (bad sizes, indexes, kind, or refused decoder index)
  PASS_AUDIO,          // audio record queued
  PASS_AUDIO_SKIPPED,  // audio off, muted or held
  PASS_HIDDEN,         // channel not shown: decoder reset, waiting for a key frame
  PASS_WAIT_KEY,       // dropped while waiting for a key frame
  PASS_FAILED,         // decode or surface failure
  PASS_SHOWN,          // picture decoded into the surface
  PASS_NO_PICTURE,     // frame taken but no picture (held, paused, ignored or missing)
};

struct DECODER_STATE {
  APP_CONTEXT* ctx = nullptr;
  uint32_t slot = 0;
  uint8_t* frame = nullptr;    // DECODER_FRAME_BUFFER_SIZE bytes
  uint8_t* picture = nullptr;  // DECODER_PICTURE_BUFFER_SIZE bytes
  int16_t pcm[AUDIO_PAYLOAD_SLOT] = {};
  int32_t last_id[144];  // channel id each decoder index last decoded, -1 none
  // Per decoder index: its channel drops predicted frames until the next key frame. One
  // flag per index, so a hidden channel on this slot never holds back a shown one.
  bool waiting_key[144] = {};
  bool warned = false, behind = false, paced = false;
  bool queued = false;  // more records waited in the ring when this one was taken
  // Live pacing: the least "now less time stamp" of the slot's frames, ms (+inf before any).
  double live_lead = 1e300;
  int min_delay = 1;
};

// Start steps: takes the next slot, allocates the buffers, clears the table, measures
// min_delay. 0, or -1 (fatal box) when memory ran out.
int decoder_begin(APP_CONTEXT* ctx, DECODER_STATE* st);
// One pass over the ring; returns what it did.
int decoder_pass(DECODER_STATE* st);
// Frees the buffers.
void decoder_end(DECODER_STATE* st);

