// Protocol 'S': the receive thread of the block-DCT DVRs, their MD5 login and the scanner
// that cuts the byte stream into video frames, audio sections and control packets.
//
// recv_tir_data runs on its own thread, one per 'S' receiver: connects, logs in with the MD5
// digest of the password, hands the scanner whatever has arrived (up to 4096 bytes at a
// time, so a frame never waits for the bytes of the next one), polls the DVR once a second
// and sends the closing packet "0086" when the loop ends. Every failed attempt waits 500 ms
// before the next one; a stop is seen within 100 ms. Passwords and digests go nowhere but
// the login packet.
//
// Every length from the network is bounded: a reply or control packet longer than its
// 1024-byte buffer is dropped, a video frame longer than its 0x20000-byte buffer is dropped
// whole, and a frame is handed to tir_get_info only with the bytes stored for it (from its
// own start code to the byte before the next; inner control packets and audio leave none).
// Time stamps are made per receiver and channel (TIR_TIME_BASE), 40 ms a frame, 33 ms at a
// height of 224, from the wall clock at the first frame of each session, so an outage does
// not leave the stamps behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "client/foundation/app_state.h"
#include "client/links/frame_headers.h"

struct TIR_FRAME_INFO;

constexpr size_t TIR_PACKET_HEADER_SIZE = 12;  // 00 00 01 FE, "%04X" length, code
constexpr size_t TIR_LOGIN_SIZE = 44;          // "0081" + 32 hex digits of the digest
constexpr size_t TIR_POLL_SIZE = 16;           // "0085" + four hex digits
constexpr uint32_t TIR_VIDEO_BUFFER_SIZE = 0x20000;
constexpr uint32_t TIR_AUDIO_BUFFER_SIZE = 4096;
constexpr uint32_t TIR_CONTROL_BUFFER_SIZE = 1024;
constexpr size_t TIR_READ_SIZE = 4096;  // most bytes handed to the scanner at once
// Most bytes one recv takes: a burst costs few system calls, and the scanner still gets it
// in pieces of TIR_READ_SIZE as they came.
constexpr size_t TIR_RECV_SIZE = 65536;
constexpr int TIR_CHANNELS = 16;             // format codes with a time base of their own
constexpr char TIR_CLOSING_CODE[] = "0086";  // header-only packet sent when the loop ends

// ---- hexadecimal helpers ------------------------------------------------------------------
void tir_byte_to_hex(uint8_t b, char out[2]);   // "%02X"
void tir_word_to_hex(uint16_t v, char out[4]);  // "%04X"
// Four digits (0-9, A-F, a-f) to a value; any other character makes the whole value 0.
uint16_t tir_hex_to_word(const uint8_t* digits);
// n bytes to 2n upper-case digits at out (not terminated).
void tir_bytes_to_hex(const uint8_t* in, size_t n, char* out);

// MD5 (RFC 1321) of len bytes through libcrypto: 0 with the digest, -1 when it failed.
int tir_md5(const void* data, size_t len, uint8_t digest[16]);
// A 12-byte packet header with `total` (header included) and the four-character code.
void make_tir_packet_header(uint16_t total, const char code[4],
                            uint8_t out[TIR_PACKET_HEADER_SIZE]);
// The "0081" login packet for `password` (up to its terminator): 0, or -1 when MD5 failed.
int build_tir_login(const char* password, uint8_t out[TIR_LOGIN_SIZE]);

// One made-up clock of a receiver's channel: starts at the wall clock with the channel's
// first frame and advances 40 ms a frame (33 ms at a height of 224); the first frame after
// a re-base moves it up to the wall clock (never back).
struct TIR_TIME_BASE {
  uint32_t sec = 0;
  uint32_t msec = 0;
  bool started = false;
  bool rebase = false;  // set by the receive thread at each new session
};

// Scanner state of one connection (the time bases belong to the receive thread, which
// re-bases them at each new session).
struct TIR_SCANNER {
  uint32_t shift = 0xFFFFFFFFu;  // the last four bytes
  int kind = 0, prev_kind = 0;   // 0 none, 1 video, 2 audio, 3 control
  std::vector<uint8_t> video;    // start code + frame, TIR_VIDEO_BUFFER_SIZE
  std::vector<uint8_t> control;  // 00 00 01 FE + the rest, TIR_CONTROL_BUFFER_SIZE
  uint32_t video_count = 0;      // bytes after the start code (also those beyond the buffer)
  uint32_t audio_count = 0;
  uint32_t control_count = 0;
  uint32_t control_len = 0;
  bool video_open = false, audio_open = false;
  TIR_TIME_BASE* bases = nullptr;  // TIR_CHANNELS of them; null: no time stamps advance
  // Counters for tests and the benchmark.
  uint64_t frames = 0;           // frames handed on (tir_get_info accepted)
  uint64_t refused = 0;          // frames tir_get_info refused
  uint64_t oversized = 0;        // frames dropped for their length
  uint64_t replies = 0;          // control packets handled
  uint64_t dropped_control = 0;  // control packets dropped for their length
};
// Allocates the buffers: 0, or -1 when memory fails. Resets the rest.
int init_tir_scanner(TIR_SCANNER* sc, TIR_TIME_BASE* bases);

// ---- the Part's operations -----------------------------------------------------------------
// Thread entry: 0 after a stop; -1 when memory fails ("Not enough memory." fatal box).
int recv_tir_data(RECEIVER_INFO* rx);
// Login on `sock`: 0 accepted (user event 28 pushed); -1 send or first read failed; -2 first
// reply refused or malformed; -3 second read failed; -4 second reply refused or malformed.
// Replies are read by their header length; what follows them stays in the socket.
int send_login_info(int sock, RECEIVER_INFO* rx);
// A reply (at least its 12-byte header): 1 a second reply follows, 3 accepted, -1 refused
// (codes 2 and 4), -2 other code, -3 wrong magic.
int recv_login_resp(const uint8_t* reply);
// The second reply: 0 accepted (3), -1 refused (4), -2 other code, -3 wrong magic.
int validate_login_result(const uint8_t* reply);
// "0085" with `value`: 0, or -1 when the send failed.
int send_tir_poll(int sock, RECEIVER_INFO* rx, uint16_t value);
// The closing packet TIR_CLOSING_CODE: 0, or -1.
int send_tir_logout(int sock, RECEIVER_INFO* rx);
// Scans count bytes (any split of the stream gives the same result) and stores every
// complete frame through recv_tir_frame. rx may be null (frames are then only counted).
void parse_tir_stream(RECEIVER_INFO* rx, const uint8_t* bytes, size_t count, TIR_SCANNER* sc);
// A whole control packet of `len` bytes (12 <= len <= 1024): codes 7 and 8 accepted, 13 prints
// its 12 characters, others ignored.
void handle_tir_reply(const uint8_t* packet, size_t len);
// FRAME_HEADER of a frame of `length` bytes: channel = the format code, width and height from
// `info`, the time of `base` (then advanced), frame type 1 (every 'S' frame stands alone, and
// the recordings' index finds key frames by that mark). Receiver index left 0.
void make_tir_frame_header(const TIR_FRAME_INFO& info, uint32_t length, TIR_TIME_BASE* base,
                           FRAME_HEADER* fh);
// Stores one frame ('S', 'Y') into its ring and the channel's recording: 0, or -1 when
// validate_tir refuses the header. A channel neither shown nor recording takes no ring room.
int recv_tir_frame(const FRAME_HEADER& fh, const uint8_t* frame, RECEIVER_INFO* rx);
// 0; -1 channel not below num_video; -2 size above 0x20000.
int validate_tir(const FRAME_HEADER& fh, int num_video);
