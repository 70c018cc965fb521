// Protocol 'Q': the 8-byte packet header, the request bodies the client sends, and pure
// parsers of the replies (login, error, event, preset, search). Network byte order on the
// header and the big-endian words of the bodies; the reply records keep the DVR's order.
// Everything here is pure and bounds-checked against the lengths passed; any thread.
#pragma once

#include <cstddef>
#include <cstdint>

#include "client/foundation/config/mailslot.h"

constexpr uint16_t NC_MAGIC = 0x5471;
constexpr size_t NC_HEADER_SIZE = 8;

enum NC_CMD : int {
  DVR_CMD_LOGIN = 2,
  DVR_CMD_LIVE = 3,
  DVR_CMD_STATUS = 4,
  DVR_CMD_PLAYBACK_STREAM = 6,
  DVR_CMD_LEAVE = 7,
  DVR_CMD_PLAYBACK = 17,
  DVR_CMD_FINISH = 153,
  DVR_CMD_SSEARCH = 162,
  DVR_CMD_EVENT = 163,
  DVR_CMD_PRESET = 164,
  DVR_CMD_RECORD_STATE = 171,
  DVR_CMD_ERROR = 238,
};

struct NC_PACKET_HEADER {
  uint16_t magic_code = NC_MAGIC;
  uint8_t cmd_type = 0;
  uint8_t cmd_mode = 0;
  uint32_t packet_size = 0;  // body length; for types 3 and 17 the 8 header bytes too
};
void encode_nc_header(const NC_PACKET_HEADER& h, uint8_t* out);  // 8 bytes
NC_PACKET_HEADER decode_nc_header(const uint8_t* in);

// 1 when the client accepts `type` at all, else 0 ("Invalid command received.\n").
int nc_type_accepted(int type);
// Body length the client sends with a request of `type`: 0, 12, 20 or 124.
int nc_request_body_size(int type);

// Login state of a 'Q' receiver, kept by its receive thread.
constexpr int NC_RECV_BUFFER = 524350;
constexpr int NC_RECV_ALLOC = ((NC_RECV_BUFFER >> 10) + 1) << 10;  // 525312
struct NC_LOGIN_STATE {
  int fsh_layout = -1;
  uint32_t version = 0;
  uint32_t word2 = 0;
  uint32_t sub_version = 0;
  int fsh_size = 32;
  int buf_size = NC_RECV_BUFFER;
  int audio_map[4] = {-1, -1, -1, -1};
};

// ---- request bodies (each writes exactly its body size) ------------------------------------
// 20 bytes. The user name "tovek" gets the privileged flag; names/passwords longer than 8
// are cut to 8 and never terminated, as the DVR reads them.
void nc_login_body(const char* user, const char* password, uint8_t out[20]);
void nc_select_body(uint32_t mask, int num_video, uint8_t out[12]);
// Playback control with code in byte 8 (types 17 and 7).
void nc_code_body(uint8_t code, uint8_t out[12]);
// Type 6: play from `position_s` at `speed` (byte 10, sign and magnitude).
void nc_play_body(uint32_t sel_vid_ch, uint32_t position_s, uint8_t code, int num_video, int speed,
                  uint8_t out[12]);
uint8_t nc_speed_byte(int speed);
void nc_search_body(int year, int month, int day, int channel, int hour, uint8_t out[124]);
// PTZ: value goes to byte 10 (value_at 10) or byte 11 (value_at 11), or nowhere (0).
void nc_ptz_body(int channel, uint8_t code, int value_at, uint8_t value, uint8_t out[12]);
void nc_record_state_body(bool started, uint8_t out[12]);
void nc_leave_body(uint8_t out[12]);

// ---- replies ---------------------------------------------------------------------------
// Login reply body[len]: the FSH layout (0..3) with the state filled, -1 when the DVR said
// no (result byte 0, or a body shorter than 13 bytes), -2 for an unknown version pair
// ("client software mismatched!").
int nc_parse_login_reply(const uint8_t* body, size_t len, NC_LOGIN_STATE* st);

// Debug line and error box text (null when none) of an error code; null record for codes
// the client ignores.
struct NC_ERROR_TEXT {
  uint16_t code;
  const char* debug;
  const char* box;
};
const NC_ERROR_TEXT* nc_error_text(uint16_t code);

// Event reply (9 bytes): the notice for DVR `name`. `tz_west_s` is the local zone's offset
// west of UTC, added to the DVR's time as the DVR sends local time.
EVENT_NOTICE nc_event_notice(const uint8_t body[9], const char* name, long tz_west_s);

// Preset table pushed with user event 30: 256 entries of 263 bytes, entry 0 unused.
constexpr int NC_PRESET_ENTRIES = 256;
struct NC_PRESET_ENTRY {
  char dvr_name[131];
  char preset_name[131];
  uint8_t number;
};
struct NC_PRESET_TABLE {
  NC_PRESET_ENTRY entry[NC_PRESET_ENTRIES];
};
// Fills the table from the 256-byte reply; returns how many presets it holds.
int nc_fill_preset_table(const uint8_t body[256], const char* name, NC_PRESET_TABLE* t);

// Search record pushed with user event 27 (translated kind bits in every info byte).
struct NC_SEARCH_RECORD {
  uint16_t year;
  uint8_t month;
  uint8_t day;
  uint32_t channel;
  uint8_t hour;
  uint32_t ch_info;
  uint8_t day_info[31];
  uint8_t hour_info[24];
  uint8_t min_info[60];
};
constexpr size_t NC_SEARCH_INFO_SIZE = 124;
// Fills `r` (cleared first) from a search reply body[len]; missing bytes read as 0.
void nc_fill_search_record(const uint8_t* body, size_t len, NC_SEARCH_RECORD* r);
// Kind bits of one info byte: 0x01->0x01, 0x02->0x02, 0x04->0x20, 0x08->0x40.
uint8_t nc_kind_bits(uint8_t info);

// Status prefix of every non-audio stream packet (14 bytes; loss in network order).
constexpr size_t NC_PACKET_STATUS_SIZE = 14;
struct NC_PACKET_STATUS {
  uint16_t loss, alarm, motion, record;
  uint8_t network, playback, setup, backup, hdd, flow;
};
NC_PACKET_STATUS decode_nc_packet_status(const uint8_t* in);

// ---- records of the login and event replies (the DVR's little-endian unless said) -------
constexpr size_t NC_STATUS_INFO_SIZE = 13;
struct NC_STATUS_INFO {
  uint16_t loss, alarm, motion, record;
  uint8_t network, playback, setup, backup, hdd;
};
NC_STATUS_INFO decode_nc_status_info(const uint8_t* in);

constexpr size_t NC_SYSTEM_INFO_SIZE = 8;
struct NC_SYSTEM_INFO {
  uint8_t cam_count, audio_count, timezone, daylight;
  uint32_t local_time;
};
NC_SYSTEM_INFO decode_nc_system_info(const uint8_t* in);

// 36 bytes: four single bytes, then the disk's name (32 bytes, kept terminated here).
constexpr size_t NC_HDD_INFO_SIZE = 36;
struct NC_HDD_INFO {
  uint8_t hdd_count, hdd_type, cdrw_dev, reserved;
  char hdd_name[33];
};
NC_HDD_INFO decode_nc_hdd_info(const uint8_t* in);

// The login reply body: result at 0; sub-version, second word and version (network order)
// at 1, 5 and 9; the system, disk and status records at 17, 29 and 65 (78 bytes in all).
constexpr size_t NC_LOGIN_OK_INFO_SIZE = 78;
struct NC_LOGIN_OK_INFO {
  uint8_t result;
  uint32_t sub_version, word2, version;
  NC_SYSTEM_INFO system;
  NC_HDD_INFO hdd;
  NC_STATUS_INFO status;
};
// From body[len]; bytes beyond len read as 0.
NC_LOGIN_OK_INFO decode_nc_login_ok_info(const uint8_t* body, size_t len);

constexpr size_t NC_EVENT_INFO_SIZE = 9;
struct NC_EVENT_INFO {
  uint32_t event_time;  // seconds, the DVR's local time
  uint32_t channel;     // bit mask
  uint8_t event_type;   // 0x02 motion, 0x04 sensor, 0x08, 0x10
};
NC_EVENT_INFO decode_nc_event_info(const uint8_t* in);

// ---- debug printers ---------------------------------------------------------------------
// Each writes one text to the debug output (platform/debug, silent unless asked for): a line
// with the record's name and a colon ("NC_SEARCH_INFO:"), then a "field: value" line per
// field. Any thread. Only the search printer runs in the client (after each search reply).
void nc_print_packet_header(const NC_PACKET_HEADER& h);
void nc_print_status_info(const NC_STATUS_INFO& s);
void nc_print_packet_status(const NC_PACKET_STATUS& s);
void nc_print_system_info(const NC_SYSTEM_INFO& s);
void nc_print_hdd_info(const NC_HDD_INFO& h);
void nc_print_login_ok_info(const NC_LOGIN_OK_INFO& l);
// The NC_SEARCH_INFO of body[len] (missing bytes read as 0).
void nc_print_search_info(const uint8_t* body, size_t len);
void nc_print_event_info(const NC_EVENT_INFO& e);
