// The mailslot "\\.\mailslot\mailbox": the one-reader message channel through which the
// client forwards DVR events (EVENT_NOTICE, 176 bytes) to the setup tool's E-Map and reads
// time-playback requests (MAILSLOT_REQUEST, 160 bytes). Carried by a local datagram socket
// in a private per-user directory; no SDL, so the setup tool links it as well.
// Any thread may send; a reader handle belongs to the thread that polls it.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr const char* MAILSLOT_NAME = "mailbox";

// A DVR event as pushed to the window loop (user event 29) and sent on the mailslot.
// Wire form: 176 bytes, little-endian (the host order of the machines that read it).
//   0 i64 time | 8 char[131] DVR name | 139 u8 marker (0 event, 1 video-loss change)
//   140 u8 kind bits (0x02 motion, 0x20 sensor, 0x40, 0x80) | 141..151 zero
//   152 u32 mask of 0x02 | 156 zero | 160 u32 mask of 0x20 | 164 u32 mask of 0x40
//   168 u32 mask of 0x80 (video-loss: lost channels) | 172 zero
constexpr size_t EVENT_NOTICE_SIZE = 176;
struct EVENT_NOTICE {
  int64_t time = 0;
  char dvr_name[131] = {};
  uint8_t marker = 0;
  uint8_t kind = 0;
  uint32_t mask_motion = 0;  // kind 0x02
  uint32_t mask_sensor = 0;  // kind 0x20
  uint32_t mask_40 = 0;      // kind 0x40
  uint32_t mask_80 = 0;      // kind 0x80, or the lost channels of a video-loss notice
};
void encode_event_notice(const EVENT_NOTICE& n, uint8_t* out);  // writes 176 bytes
// Reads 176 bytes; the name is always terminated.
EVENT_NOTICE decode_event_notice(const uint8_t* in);

// A request that opens a time-playback window. Wire form: 160 bytes, little-endian:
//   0 kind (1) | 4 year | 8 month | 12 day | 16 hour | 20 minute | 24 unused | 28 channel mask
//   32 char[128] target name
constexpr size_t MAILSLOT_REQUEST_SIZE = 160;
struct MAILSLOT_REQUEST {
  uint32_t kind = 0;
  uint32_t year = 0, month = 0, day = 0, hour = 0, minute = 0;
  uint32_t unused = 0;
  uint32_t channel_mask = 0;
  char target[128] = {};
};
void encode_mailslot_request(const MAILSLOT_REQUEST& r, uint8_t* out);  // 160 bytes
MAILSLOT_REQUEST decode_mailslot_request(const uint8_t* in);            // target terminated

// Writes one notice to the mailslot: 0 written (or queued behind earlier ones while the
// reader catches up, up to MAILSLOT_SEND_QUEUE); 1 when no reader holds it ("Error : Unable
// to create mailslot ! \n") or the notice is lost ("Error : Mailslot send fail.\n", printed
// once per run of losses). Never waits for the reader.
constexpr size_t MAILSLOT_SEND_QUEUE = 64;
int send_event_mailslot(const EVENT_NOTICE& notice);

// Creates the mailslot for reading: the handle, or -1 (prints
// "[%s:%d]Error : Don't create mailslot!", as when another live process holds it).
int mailslot_create_reader();
// Reads one message of exactly `size` bytes into out[size], waiting up to `wait_ms` for one
// (0: not at all, -1: without limit): 1 read; 0 nothing came; MAILSLOT_WRONG_SIZE a message
// of another size, dropped (the reader stays usable); -1 the reader failed.
constexpr int MAILSLOT_WRONG_SIZE = -2;
int mailslot_read(int reader, uint8_t* out, size_t size, int wait_ms = 0);
// Closes the reader and frees the name for the next reader.
void mailslot_close_reader(int& reader);
