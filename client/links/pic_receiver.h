// Protocol 'I': the receive thread of the MPEG-4 picture DVRs and their playback commands.
//
// recv_data runs on its own thread, one per 'I' receiver: connects to the live port (or, for
// a receiver with a file name, to the playback port for pictures and the control port for
// text commands), logs in with a 76-byte control record, keeps the DVR told which channels
// are shown, and stores every kind-2 picture as a PICTURE_HEADER record in the rings. The
// stream has no resync marker, so any length out of range ends the attempt and the link is
// made again; every failed attempt waits 500 ms before the next, and a stop is seen within
// 100 ms. Passwords go nowhere but the login record.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "client/foundation/app_state.h"
#include "client/links/frame_headers.h"

constexpr size_t PIC_RECORD_SIZE = 76;       // control record, both directions
constexpr size_t PIC_WIRE_HEADER_SIZE = 64;  // record bytes 12..75 of a kind-2 record
constexpr uint32_t PIC_MAX_FRAME = 0x40000;  // kind 2
constexpr uint32_t PIC_MAX_DROP = 48;        // kind 3
constexpr uint32_t PIC_GEN_INFO_SIZE = 12;   // kind 6
// The playback block behind a frame is read and dropped in chunks; a longer one ends the attempt.
constexpr uint32_t PIC_MAX_EXTRA = 0x100000;
constexpr char PIC_COMMAND_FORMAT[] = "QX-27391-TORMEKA%s%s";

enum PIC_KIND : uint32_t {
  CMD_LOGIN_LOGOUT = 1,
  PIC_KIND_VIDEO = 2,
  PIC_KIND_DROP = 3,
  CMD_CONTROL = 5,
  CMD_GEN_INFO = 6,
};

// A record the client sends: bytes 01..08, kind, sub-kind, then `body_len` bytes of body
// (at most 60), the rest zero.
void build_pic_record(uint32_t kind, uint32_t sub_kind, const uint8_t* body, size_t body_len,
                      uint8_t out[PIC_RECORD_SIZE]);
// The control process id of a kind-1 record: the decimal number at body offset 0, read
// within the 60 body bytes; 0 when there is none.
int parse_ctrl_pid(const uint8_t record[PIC_RECORD_SIZE]);
// The record as bounded printable text (other bytes as '.'), for "Unknown data received".
void printable_record(const uint8_t record[PIC_RECORD_SIZE], char out[PIC_RECORD_SIZE + 1]);

// Thread entry: status 2 and 0 after a stop.
int recv_data(RECEIVER_INFO* rx);
// One connection's record loop as recv_data runs it after the login, on the picture socket
// `pic` and, in playback (a file name set), the control socket `ctrl` (-1 live); returns when
// the link fails or the status word leaves 5. `frame` holds cap >= PIC_MAX_FRAME bytes.
// Exposed for the fuzz target.
void read_pic_records(RECEIVER_INFO* rx, int pic, int ctrl, uint8_t* frame, size_t cap);
// Stores one picture (wire header = record bytes 12..75, data = its frame): 0, or -1 when
// the channel is not selected, the size is outside 1..0x40000 or the header is invalid
// (each with its line). A channel neither shown nor recording takes no ring room and
// waits for a key frame when shown again.
int recv_picture_frame(const uint8_t* wire, const uint8_t* data, RECEIVER_INFO* rx);
// 0; -1 start key not 0xFFFF; -2 channel not below num_video; -3 size above 0x40000;
// -4 interval above 30; -5 VOP type 2 or 3.
int validate_picture_header(const PICTURE_HEADER& ph, int num_video);
// "QX-27391-TORMEKA" + command + argument, without terminator: send_timeout's result
// (-1 also for a text longer than 511 bytes).
int send_playback_command(int sock, const char* command, const char* argument, int timeout_s,
                          std::atomic<int>* status);
