#include "client/links/nc_packets.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/debug/debug_output.h"
#include "platform/wire/byte_reader.h"

namespace {
void put_host32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

void copy_text(char* dst, size_t cap, const char* src) {
  std::snprintf(dst, cap, "%s", src ? src : "");
}
}  // namespace

void encode_nc_header(const NC_PACKET_HEADER& h, uint8_t* out) {
  put_be16(out, h.magic_code);
  out[2] = h.cmd_type;
  out[3] = h.cmd_mode;
  put_be32(out + 4, h.packet_size);
}

NC_PACKET_HEADER decode_nc_header(const uint8_t* in) {
  NC_PACKET_HEADER h;
  h.magic_code = get_be16(in);
  h.cmd_type = in[2];
  h.cmd_mode = in[3];
  h.packet_size = get_be32(in + 4);
  return h;
}

int nc_type_accepted(int type) {
  static const int kTypes[] = {0,  1,  2,   3,   4,   6,   7,   8,   17,  18,  19,
                               33, 49, 145, 153, 162, 163, 164, 169, 170, 171, 238};
  for (int t : kTypes)
    if (t == type) return 1;
  return 0;
}

int nc_request_body_size(int type) {
  switch (type) {
    case 2: return 20;
    case 3:
    case 6:
    case 7:
    case 17:
    case 18:
    case 19:
    case 145:
    case 164:
    case 171: return 12;
    case 162: return int(NC_SEARCH_INFO_SIZE);
    default: return 0;
  }
}

void nc_login_body(const char* user, const char* password, uint8_t out[20]) {
  std::memset(out, 0, 20);
  out[0] = (user && std::strcmp(user, "tovek") == 0) ? 1 : 0;
  out[2] = 1;
  if (user) std::memcpy(out + 4, user, strnlen(user, 8));
  if (password) std::memcpy(out + 12, password, strnlen(password, 8));
}

void nc_select_body(uint32_t mask, int num_video, uint8_t out[12]) {
  std::memset(out, 0, 12);
  put_be32(out, mask);
  out[8] = 17;
  out[9] = uint8_t(num_video);
  out[11] = 1;
}

void nc_code_body(uint8_t code, uint8_t out[12]) {
  std::memset(out, 0, 12);
  out[8] = code;
}

uint8_t nc_speed_byte(int speed) {
  if (speed >= 0) return uint8_t(speed > 127 ? 127 : speed);
  int m = -speed;
  return uint8_t(0x80 | (m > 127 ? 127 : m));
}

void nc_play_body(uint32_t sel_vid_ch, uint32_t position_s, uint8_t code, int num_video, int speed,
                  uint8_t out[12]) {
  std::memset(out, 0, 12);
  put_be32(out, sel_vid_ch);
  put_be32(out + 4, position_s);
  out[8] = code;
  out[9] = uint8_t(num_video);
  out[10] = nc_speed_byte(speed);
  out[11] = 2;
}

void nc_search_body(int year, int month, int day, int channel, int hour, uint8_t out[124]) {
  std::memset(out, 0, NC_SEARCH_INFO_SIZE);
  put_le16(out, uint16_t(year));
  out[2] = uint8_t(month);
  out[3] = uint8_t(day);
  put_le16(out + 4, uint16_t(channel));
  out[6] = uint8_t(hour);
}

void nc_ptz_body(int channel, uint8_t code, int value_at, uint8_t value, uint8_t out[12]) {
  std::memset(out, 0, 12);
  put_host32(out, (channel >= 0 && channel < 32) ? (1u << channel) : 0u);
  put_host32(out + 4, 500);
  out[8] = code;
  if (value_at == 10 || value_at == 11) out[value_at] = value;
}

void nc_record_state_body(bool started, uint8_t out[12]) {
  std::memset(out, 0, 12);
  put_be32(out, 0xFFFFFFFFu);
  out[8] = started ? 'q' : 'r';
}

void nc_leave_body(uint8_t out[12]) {
  std::memset(out, 0, 12);
  out[8] = 4;
  out[11] = 2;
}

int nc_parse_login_reply(const uint8_t* body, size_t len, NC_LOGIN_STATE* st) {
  if (!body || len < 13 || body[0] == 0) return -1;
  uint32_t s = get_be32(body + 1);
  uint32_t w2 = get_be32(body + 5);
  uint32_t v = get_be32(body + 9);
  int layout = -1;
  if (v == 0x2200)
    layout = s < 0x0303 ? 0 : 3;
  else if (v == 0x22F0)
    layout = s == 0x0101 ? 1 : (s == 0x0202 ? 2 : 3);
  else if (v == 0x3211 && s == 0x0503)
    layout = 3;
  if (layout < 0) return -2;
  if (st) {
    st->version = v;
    st->word2 = w2;
    st->sub_version = s;
    st->fsh_layout = layout;
    st->fsh_size = layout == 3 ? 40 : 32;
    for (int& m : st->audio_map) m = -1;
  }
  return layout;
}

const NC_ERROR_TEXT* nc_error_text(uint16_t code) {
  static const NC_ERROR_TEXT kSpecific[] = {
      {0x0000, "NO ERROR !!\n", nullptr},
      {0x1021, "ERROR : There is not a valid accounts.\n", "There is not a valid accounts."},
      {0x1022, "ERROR : The password was incorrect.\n", "The passwordd was incorrect."},
      {0x1023, "ERROR : The connection session was exceeded.\n",
       "The connection session was exceeded.."},
      {0x1024, "ERROR : While backup it will not be able to connect.!!\n",
       "While backup it will not be able to connect."},
      {0x3021, "INFO : There is not a search data.\n", "There is not a search data."},
      {0x3022, "ERROR : FILE OPEN ERROR!!\n", "File open error."},
      {0x3023, "INFO : While reading a data stream, the error occurred.\n",
       "While reading a data stream, the error occurred."},
      {0x3024, "INFO : It is the first position of recorded data.\n",
       "It is the first position of recorded data."},
      {0x3025, "INFO : It is the last position of recorded data.\n",
       "It is the last position of recorded data."},
      {0x3026, "INFO : The playback session exists already.\n",
       "The playback session exists already."},
      {0x3027, "INFO : While backup it will not be able to continue.\n",
       "While backup it will not be able to continue."},
      {0x4021, "ERROR : NO DATA FOR BACKUP!!\n", nullptr},
      {0x4022, "ERROR : FILE OPEN ERROR!!\n", nullptr},
      {0x4023, "ERROR : READ ERROR FOR BACKUP DATA!!\n", nullptr},
  };
  for (const auto& e : kSpecific)
    if (e.code == code) return &e;
  // The general errors share their low byte across the five groups.
  static const NC_ERROR_TEXT kGeneral[] = {
      {0x01, "ERROR : UNKNOWN ERROR!!\n", nullptr},
      {0x02, "ERROR : UNKNOWN COMMAND!!\n", "Unknown command"},
      {0x03, "ERROR : INVALID CHANNEL ID!!\n", "Unknown argument"},
      {0x08, "ERROR : CONNECTION CLOSED!!\n", nullptr},
      {0x09, "ERROR : TIMEOUT!!\n", nullptr},
      {0x0F, "ERROR : Network index invalid!!\n", nullptr},
  };
  uint8_t group = uint8_t(code >> 8);
  if (group != 0x00 && group != 0x10 && group != 0x20 && group != 0x30 && group != 0x40)
    return nullptr;
  for (const auto& e : kGeneral)
    if (e.code == (code & 0xFF)) return &e;
  return nullptr;
}

EVENT_NOTICE nc_event_notice(const uint8_t body[9], const char* name, long tz_west_s) {
  EVENT_NOTICE n;
  const NC_EVENT_INFO e = decode_nc_event_info(body);
  const uint32_t mask = e.channel;
  const uint8_t type = e.event_type;
  n.time = int64_t(e.event_time) + tz_west_s;
  copy_text(n.dvr_name, sizeof n.dvr_name, name);
  n.marker = 0;
  // Each event type bit: the notice's kind bit and the mask it fills.
  struct TypeBit {
    uint8_t type, kind;
    uint32_t EVENT_NOTICE::*mask;
  };
  static const TypeBit kBits[] = {{0x02, 0x02, &EVENT_NOTICE::mask_motion},
                                  {0x04, 0x20, &EVENT_NOTICE::mask_sensor},
                                  {0x08, 0x40, &EVENT_NOTICE::mask_40},
                                  {0x10, 0x80, &EVENT_NOTICE::mask_80}};
  for (const TypeBit& b : kBits) {
    if (!(type & b.type)) continue;
    n.kind |= b.kind;
    n.*b.mask = mask;
  }
  return n;
}

int nc_fill_preset_table(const uint8_t body[256], const char* name, NC_PRESET_TABLE* t) {
  std::memset(t, 0, sizeof *t);
  int count = 0;
  for (int i = 1; i < NC_PRESET_ENTRIES; ++i) {
    if (body[i] == 0) continue;
    NC_PRESET_ENTRY& e = t->entry[i];
    copy_text(e.dvr_name, sizeof e.dvr_name, name);
    std::snprintf(e.preset_name, sizeof e.preset_name, "PRESET %d", i);
    e.number = uint8_t(i);
    ++count;
  }
  return count;
}

uint8_t nc_kind_bits(uint8_t b) {
  return uint8_t(((b & 0x01) ? 0x01 : 0) | ((b & 0x02) ? 0x02 : 0) | ((b & 0x04) ? 0x20 : 0) |
                 ((b & 0x08) ? 0x40 : 0));
}

void nc_fill_search_record(const uint8_t* body, size_t len, NC_SEARCH_RECORD* r) {
  std::memset(r, 0, sizeof *r);
  uint8_t info[NC_SEARCH_INFO_SIZE] = {};
  if (body) std::memcpy(info, body, len < sizeof info ? len : sizeof info);
  r->year = get_le16(info);
  r->month = info[2];
  r->day = info[3];
  r->channel = get_le16(info + 4);
  r->hour = info[6];
  r->ch_info = get_le16(info + 38);
  for (int i = 0; i < 31; ++i) r->day_info[i] = nc_kind_bits(info[7 + i]);
  for (int i = 0; i < 24; ++i) r->hour_info[i] = nc_kind_bits(info[40 + i]);
  for (int i = 0; i < 60; ++i) r->min_info[i] = nc_kind_bits(info[64 + i]);
}

namespace {

// One record's text for the debug output, built whole so records never interleave.
class DebugRecord {
 public:
  explicit DebugRecord(const char* name) { add("%s:\n", name); }
  void add(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    char line[512];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(line, sizeof line, format, ap);
    va_end(ap);
    text_ += line;
  }
  void bytes(const char* name, const uint8_t* p, size_t n) {
    add("%s:", name);
    for (size_t i = 0; i < n; ++i) add(" %02x", p[i]);
    add("\n");
  }
  ~DebugRecord() { debug_output(text_.c_str()); }

 private:
  std::string text_;
};

void add_status_fields(DebugRecord& r, uint16_t loss, uint16_t alarm, uint16_t motion,
                       uint16_t record, uint8_t network, uint8_t playback, uint8_t setup,
                       uint8_t backup, uint8_t hdd) {
  r.add("loss: 0x%04x\nalarm: 0x%04x\nmotion: 0x%04x\nrecord: 0x%04x\n", loss, alarm, motion,
        record);
  r.add("network: %u\nplayback: %u\nsetup: %u\nbackup: %u\nhdd: %u\n", network, playback, setup,
        backup, hdd);
}

// The status words both status records share after their loss word (bytes 2..12): the
// status info and the packet status differ only in that word's byte order and the flow byte.
template <class Status>
void decode_status_words(const uint8_t* in, Status& s) {
  s.alarm = get_le16(in + 2);
  s.motion = get_le16(in + 4);
  s.record = get_le16(in + 6);
  s.network = in[8];
  s.playback = in[9];
  s.setup = in[10];
  s.backup = in[11];
  s.hdd = in[12];
}

}  // namespace

NC_STATUS_INFO decode_nc_status_info(const uint8_t* in) {
  NC_STATUS_INFO s;
  s.loss = get_le16(in);
  decode_status_words(in, s);
  return s;
}

NC_SYSTEM_INFO decode_nc_system_info(const uint8_t* in) {
  return {in[0], in[1], in[2], in[3], get_le32(in + 4)};
}

NC_HDD_INFO decode_nc_hdd_info(const uint8_t* in) {
  NC_HDD_INFO h{in[0], in[1], in[2], in[3], {}};
  std::memcpy(h.hdd_name, in + 4, sizeof h.hdd_name - 1);
  return h;
}

NC_LOGIN_OK_INFO decode_nc_login_ok_info(const uint8_t* body, size_t len) {
  uint8_t b[NC_LOGIN_OK_INFO_SIZE] = {};
  if (body) std::memcpy(b, body, len < sizeof b ? len : sizeof b);
  NC_LOGIN_OK_INFO l;
  l.result = b[0];
  l.sub_version = get_be32(b + 1);
  l.word2 = get_be32(b + 5);
  l.version = get_be32(b + 9);
  l.system = decode_nc_system_info(b + 17);
  l.hdd = decode_nc_hdd_info(b + 29);
  l.status = decode_nc_status_info(b + 65);
  return l;
}

NC_EVENT_INFO decode_nc_event_info(const uint8_t* in) {
  return {get_le32(in), get_le32(in + 4), in[8]};
}

void nc_print_packet_header(const NC_PACKET_HEADER& h) {
  DebugRecord r("NC_PACKET_HEADER");
  r.add("magic_code: 0x%04x\ncmd_type: %u\ncmd_mode: %u\npacket_size: %u\n", h.magic_code,
        h.cmd_type, h.cmd_mode, h.packet_size);
}

void nc_print_status_info(const NC_STATUS_INFO& s) {
  DebugRecord r("NC_STATUS_INFO");
  add_status_fields(r, s.loss, s.alarm, s.motion, s.record, s.network, s.playback, s.setup,
                    s.backup, s.hdd);
}

void nc_print_packet_status(const NC_PACKET_STATUS& s) {
  DebugRecord r("NC_PACKET_STATUS");
  add_status_fields(r, s.loss, s.alarm, s.motion, s.record, s.network, s.playback, s.setup,
                    s.backup, s.hdd);
  r.add("flow: %u\n", s.flow);
}

void nc_print_system_info(const NC_SYSTEM_INFO& s) {
  DebugRecord r("NC_SYSTEM_INFO");
  r.add("cam_count: %u\naudio_count: %u\ntimezone: %u\ndaylight: %u\nlocal_time: %u\n", s.cam_count,
        s.audio_count, s.timezone, s.daylight, s.local_time);
}

void nc_print_hdd_info(const NC_HDD_INFO& h) {
  DebugRecord r("NC_HDD_INFO");
  r.add("hdd_count: %u\nhdd_type: %u\ncdrw_dev: %u\nhdd_name: %s\n", h.hdd_count, h.hdd_type,
        h.cdrw_dev, h.hdd_name);
}

void nc_print_login_ok_info(const NC_LOGIN_OK_INFO& l) {
  {
    DebugRecord r("NC_LOGIN_OK_INFO");
    r.add("result: %u\nsub_version: 0x%04x\nword2: 0x%08x\nversion: 0x%04x\n", l.result,
          l.sub_version, l.word2, l.version);
  }
  nc_print_system_info(l.system);
  nc_print_hdd_info(l.hdd);
  nc_print_status_info(l.status);
}

void nc_print_search_info(const uint8_t* body, size_t len) {
  uint8_t info[NC_SEARCH_INFO_SIZE] = {};
  if (body) std::memcpy(info, body, len < sizeof info ? len : sizeof info);
  DebugRecord r("NC_SEARCH_INFO");
  r.add("year: %d\nmonth: %d\nday: %d\nchannel: %d\nhour: %d\n", get_le16(info), info[2], info[3],
        get_le16(info + 4), info[6]);
  r.bytes("day_info", info + 7, 31);
  r.add("ch_info: %d\n", get_le16(info + 38));
  r.bytes("hour_info", info + 40, 24);
  r.bytes("min_info", info + 64, 60);
}

void nc_print_event_info(const NC_EVENT_INFO& e) {
  DebugRecord r("NC_EVENT_INFO");
  r.add("event_time: %u\nchannel: 0x%08x\nevent_type: 0x%02x\n", e.event_time, e.channel,
        e.event_type);
}

NC_PACKET_STATUS decode_nc_packet_status(const uint8_t* in) {
  NC_PACKET_STATUS s;
  s.loss = get_be16(in);
  decode_status_words(in, s);
  s.flow = in[13];
  return s;
}
