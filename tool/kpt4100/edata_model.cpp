#include "tool/kpt4100/edata_model.h"

#include <cstdio>
#include <cstring>

#include "platform/wire/byte_reader.h"
#include "tool/module/gui_setup/setup_checks.h"

namespace {

constexpr FpsList kLists[2][3] = {
    {{7, {1, 5, 10, 15, 20, 25, 30}, 7},
     {10, {1, 2, 3, 4, 5, 10, 15, 20, 25, 30}, 7},
     {12, {1, 2, 3, 4, 5, 6, 7, 8, 10, 15, 20, 25}, 6}},
    {{6, {1, 5, 10, 15, 20, 25}, 6}, {5, {1, 5, 10, 12, 13}, 4}, {8, {1, 2, 3, 4, 5, 6, 7, 8}, 6}},
};
constexpr int kDurations[6] = {0, 1, 5, 10, 30, 60};
constexpr uint8_t kRecModes[4] = {1, 2, 0x10, 4};

// Bytes of `text` that fit in `room` without cutting a UTF-8 character.
size_t fitting_bytes(const std::string& text, size_t room) {
  if (text.size() <= room) return text.size();
  size_t n = room;
  while (n > 0 && (uint8_t(text[n]) & 0xC0) == 0x80) --n;
  return n;
}

// The camera records a sub-page storer writes: the channel's, or all N for the all row.
template <typename F>
void for_channel(int channel, int n, F&& f) {
  n = edata_channels(n);
  if (channel >= 0 && channel < n) {
    f(channel);
  } else if (channel == n) {
    for (int k = 0; k < n; ++k) f(k);
  }
}

void format_quad(const uint8_t* p, std::string* out) {
  char text[20];
  snprintf(text, sizeof text, "%d.%d.%d.%d", p[0], p[1], p[2], p[3]);
  *out = text;
}

}  // namespace

int edata_channels(int n) { return n < 1 ? 0 : (n > EDATA_MAX_CAMERAS ? EDATA_MAX_CAMERAS : n); }

std::string edata_text(const uint8_t* ed, int at, int width) {
  const char* p = reinterpret_cast<const char*>(ed + at);
  return std::string(p, strnlen(p, size_t(width)));
}

void put_edata_text(uint8_t* ed, int at, int width, const std::string& text, bool terminated) {
  const size_t n = fitting_bytes(text, size_t(terminated ? width - 1 : width));
  memcpy(ed + at, text.data(), n);
  if (n < size_t(width)) ed[at + int(n)] = 0;
}

const FpsList& fps_list(int resolution_item, int video_format) {
  if (resolution_item < 0 || resolution_item > 2) resolution_item = 0;
  return kLists[video_format ? 1 : 0][resolution_item];
}

int resolution_item_of(int nresol) {
  switch (nresol) {
    case 6: return 0;
    case 5: return 1;
    case 4: return 2;
    default: return -1;
  }
}

int fps_budget(int resolution_item, bool pal, int n) {
  static const int kBudget[3][2] = {{120, 100}, {60, 50}, {30, 25}};
  if (resolution_item < 0 || resolution_item > 2) resolution_item = 0;
  const int b = kBudget[resolution_item][pal ? 1 : 0];
  return n == 4 ? b : 2 * b;
}

BudgetError budget_error(int budget, int n) {
  const bool four = n == 4;
  switch (budget) {
    case 25: return {"txt_ERR_LIMIT_25FPS", -2};
    case 30: return {"txt_ERR_LIMIT_30FPS", -3};
    case 50: return {four ? "txt_ERR_LIMIT_50FPS" : "txt_ERR_8CH_LIMIT_50FPS", -4};
    case 60: return {four ? "txt_ERR_LIMIT_60FPS" : "txt_ERR_8CH_LIMIT_60FPS", -5};
    case 100: return {four ? "txt_ERR_LIMIT_100FPS" : "txt_ERR_8CH_LIMIT_100FPS", -6};
    case 120: return {four ? "txt_ERR_LIMIT_120FPS" : "txt_ERR_8CH_LIMIT_120FPS", -7};
    case 200: return {"txt_ERR_8CH_LIMIT_200FPS", -8};
    default: return {"txt_ERR_8CH_LIMIT_240FPS", -8};
  }
}

int duration_item(int seconds) {
  for (int i = 0; i < 6; ++i)
    if (kDurations[i] == seconds) return i;
  return -1;
}

int duration_seconds(int item) { return item >= 0 && item < 6 ? kDurations[item] : 0; }

MainPages blank_pages(int n, bool model_has_480) {
  MainPages p;
  p.n = edata_channels(n);
  p.model_has_480 = model_has_480;
  const size_t rows = p.n > 0 ? size_t(p.n) + 1 : 0;
  p.cam.resize(rows);
  p.rec.resize(rows);
  return p;
}

// ---- loaders --------------------------------------------------------------------------------

void load_system_values(const uint8_t* ed, MainPages* p) {
  if (ed[ED_VIDEO_FORMAT] <= 1) p->sys.video_format = ed[ED_VIDEO_FORMAT];
  p->sys.language = 0;
  switch (ed[ED_SCREEN_SAVER]) {
    case 10: p->sys.screen_saver = 1; break;
    case 30: p->sys.screen_saver = 2; break;
    case 60: p->sys.screen_saver = 3; break;
    default: p->sys.screen_saver = 0; break;
  }
}

void load_camera_values(const uint8_t* ed, MainPages* p) {
  if (p->cam.empty()) return;
  p->cam[0].hide = 0;
  p->cam[0].audio = 0;
  for (int row = 1; row <= p->n; ++row) {
    const uint8_t* c = ed + camera_at(row - 1);
    CameraRowValues& r = p->cam[size_t(row)];
    r.name = edata_text(c, CR_NAME, 9);
    r.ptz_on = c[CR_PTZ_PROTOCOL] != PTZ_OFF;
    if (c[CR_HIDE] <= 1) r.hide = c[CR_HIDE];
    if (c[CR_CAM_AUDIO] <= 1) r.audio = c[CR_CAM_AUDIO];
  }
}

void load_record_values(const uint8_t* ed, MainPages* p) {
  if (p->rec.empty()) return;
  RecordRowValues& all = p->rec[0];
  all.resolution = all.quality = all.mode = all.audio = 0;
  const int pal = ed[ED_VIDEO_FORMAT] ? 1 : 0;
  const int item = resolution_item_of(ed[ED_NRESOL]);
  if (item < 0) printf("\n\n\n\n\n::: error - edata->RecMan.nResol = %d\n", ed[ED_NRESOL]);
  // A change of resolution gives every row the same item and the all-cameras default.
  p->rec_list_res = item < 0 ? 0 : item;
  p->rec_list_pal = item < 0 ? 0 : pal;
  const FpsList& list = fps_list(p->rec_list_res, p->rec_list_pal);
  for (RecordRowValues& r : p->rec) {
    if (item >= 0) r.resolution = item;
    r.fps = list.all_count - 1;
  }
  for (int row = 1; row <= p->n; ++row) {
    const uint8_t* c = ed + camera_at(row - 1);
    RecordRowValues& r = p->rec[size_t(row)];
    for (int i = 0; i < list.count; ++i)
      if (list.values[i] == c[CR_FPS]) r.fps = i;
    if (c[CR_QUALITY] <= 3) r.quality = c[CR_QUALITY];
    for (int i = 0; i < 4; ++i)
      if (kRecModes[i] == c[CR_REC_MODE]) r.mode = i;
    r.audio = c[CR_AUDIO] == 0xFF ? 0 : 1;
  }
}

void load_network_values(const uint8_t* ed, MainPages* p) {
  NetworkPageValues& n = p->net;
  const int mode = ed[ED_IP_MODE] - 1;
  if (mode >= 0 && mode <= 2) n.ip_mode = mode;
  n.port = std::to_string(get_le16(ed + ED_PORT));
  format_quad(ed + ED_IP, &n.ip);
  format_quad(ed + ED_NETMASK, &n.netmask);
  format_quad(ed + ED_GATEWAY, &n.gateway);
  format_quad(ed + ED_NAME_SERVER, &n.name_server);
  n.pppoe_enabled = ed[ED_IP_MODE] == 3;
  n.pppoe_user = edata_text(ed, ED_PPPOE_USER, 15);
  n.pppoe_pass = edata_text(ed, ED_PPPOE_PASS, 16);
  if (ed[ED_DDNS_SERVER] <= 1) n.ddns_server = ed[ED_DDNS_SERVER];
  n.ddns_host = edata_text(ed, ED_DDNS_HOST, 24);
  n.ddns_user = edata_text(ed, ED_DDNS_USER, 15);
  n.ddns_pass = edata_text(ed, ED_DDNS_PASS, 16);
}

void load_all_values(const uint8_t* ed, MainPages* p) {
  load_system_values(ed, p);
  load_camera_values(ed, p);
  load_record_values(ed, p);
  load_network_values(ed, p);
}

// ---- storers --------------------------------------------------------------------------------

int store_system_values(const MainPages& p, uint8_t* ed) {
  if (p.sys.language >= 0) ed[ED_LANGUAGE] = uint8_t(p.sys.language);
  if (p.sys.video_format >= 0) ed[ED_VIDEO_FORMAT] = uint8_t(p.sys.video_format);
  static const uint8_t kSaver[4] = {0, 10, 30, 60};
  ed[ED_SCREEN_SAVER] =
      p.sys.screen_saver >= 0 && p.sys.screen_saver < 4 ? kSaver[p.sys.screen_saver] : 0;
  return 0;
}

int store_camera_values(const MainPages& p, uint8_t* ed) {
  if (p.cam.empty()) return 0;
  if (p.cam[0].hide >= 0) ed[camera_at(p.n) + CR_HIDE] = uint8_t(p.cam[0].hide);
  for (int row = 1; row <= p.n; ++row) {
    uint8_t* c = ed + camera_at(row - 1);
    const CameraRowValues& r = p.cam[size_t(row)];
    memset(c + CR_NAME, 0, 9);
    memcpy(c + CR_NAME, r.name.data(), fitting_bytes(r.name, 8));
    if (r.hide >= 0) c[CR_HIDE] = uint8_t(r.hide);
    if (r.audio >= 0) c[CR_CAM_AUDIO] = uint8_t(r.audio);
  }
  return 0;
}

int check_frame_rate_values(const MainPages& p, uint8_t* ed, const char** error) {
  if (p.rec.empty()) return 0;
  const int item = p.rec[0].resolution < 0 ? 0 : p.rec[0].resolution;
  static const uint8_t kResol[3] = {6, 5, 4};
  ed[ED_NRESOL] = kResol[item > 2 ? 0 : item];
  const int budget = fps_budget(item, ed[ED_VIDEO_FORMAT] != 0, p.n);
  const FpsList& list = fps_list(p.rec_list_res, p.rec_list_pal);
  std::vector<int> fps(p.rec.size(), 0);
  int sum = 0;
  for (int row = 0; row <= p.n; ++row) {
    const RecordRowValues& r = p.rec[size_t(row)];
    uint8_t* c = ed + camera_at(row == 0 ? p.n : row - 1);
    fps[size_t(row)] = r.fps >= 0 && r.fps < list.count ? list.values[r.fps] : 0;
    if (row > 0) sum += fps[size_t(row)];
    if (r.quality >= 0) c[CR_QUALITY] = uint8_t(r.quality);
    if (r.mode >= 0 && r.mode < 4) c[CR_REC_MODE] = kRecModes[r.mode];
    if (r.audio >= 0) c[CR_AUDIO] = r.audio == 0 ? 0xFF : uint8_t(row == 0 ? 5 : row - 1);
  }
  if (sum > budget) {
    BudgetError e = budget_error(budget, p.n);
    if (error) *error = e.key;
    return e.code;
  }
  for (int row = 0; row <= p.n; ++row)
    ed[camera_at(row == 0 ? p.n : row - 1) + CR_FPS] = uint8_t(fps[size_t(row)]);
  return 0;
}

int parse_dotted_quad(const std::string& text, uint8_t out[4]) {
  int part = 0, value = 0, digits = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    const char ch = i < text.size() ? text[i] : '.';
    if (ch == '.') {
      if (digits == 0 || part > 3) return -1;
      out[part++] = uint8_t(value);
      value = digits = 0;
    } else if (ch >= '0' && ch <= '9' && digits < 3) {
      value = value * 10 + (ch - '0');
      ++digits;
      if (value > 255) return -1;
    } else {
      return -1;
    }
  }
  return part == 4 ? 0 : -1;
}

int check_network_values(const MainPages& p, uint8_t* ed, const char** error) {
  const NetworkPageValues& n = p.net;
  if (!is_digit_string(n.port.c_str()) || n.port.size() > 5 || std::stoi(n.port) > 65535) {
    if (error) *error = "txt_INVALID_PORT";
    return -1;
  }
  uint8_t quad[4][4];
  const std::string* texts[4] = {&n.ip, &n.netmask, &n.gateway, &n.name_server};
  static const char* const kKeys[4] = {"txt_INVALID_NET_IP", "txt_INVALID_NETMASK",
                                       "txt_INVALID_GATEWAY", "txt_INVALID_NAMESERVER"};
  for (int i = 0; i < 4; ++i)
    if (parse_dotted_quad(*texts[i], quad[i]) != 0) {
      if (error) *error = kKeys[i];
      return -1;
    }
  if (n.ip_mode >= 0) ed[ED_IP_MODE] = uint8_t(n.ip_mode + 1);
  const int port = std::stoi(n.port);
  ed[ED_PORT] = uint8_t(port);
  ed[ED_PORT + 1] = uint8_t(port >> 8);
  static const int kAt[4] = {ED_IP, ED_NETMASK, ED_GATEWAY, ED_NAME_SERVER};
  for (int i = 0; i < 4; ++i) memcpy(ed + kAt[i], quad[i], 4);
  for (int i = 0; i < 4; ++i) printf("%d ", quad[1][i]);
  put_edata_text(ed, ED_PPPOE_USER, 15, n.pppoe_user, false);
  put_edata_text(ed, ED_PPPOE_PASS, 16, n.pppoe_pass, true);
  if (n.ddns_server >= 0) ed[ED_DDNS_SERVER] = uint8_t(n.ddns_server);
  put_edata_text(ed, ED_DDNS_HOST, 24, n.ddns_host, true);
  put_edata_text(ed, ED_DDNS_USER, 15, n.ddns_user, false);
  put_edata_text(ed, ED_DDNS_PASS, 16, n.ddns_pass, true);
  return 0;
}

int store_all_values(const MainPages& p, uint8_t* ed, const char** error) {
  if (store_system_values(p, ed) < 0) return -1;
  if (store_camera_values(p, ed) < 0) return -2;
  if (check_frame_rate_values(p, ed, error) < 0) return -3;
  if (check_network_values(p, ed, error) < 0) return -7;
  return 0;
}

// ---- sub-pages ------------------------------------------------------------------------------

void load_ptz_values(const uint8_t* ed, int channel, PtzValues* v) {
  const uint8_t* c = ed + camera_at(channel);
  switch (c[CR_PTZ_PROTOCOL]) {
    case 0: v->protocol = 2; break;
    case 1: v->protocol = 1; break;
    case 2: v->protocol = 3; break;
    default: v->protocol = 0; break;
  }
  v->address = c[CR_PTZ_ADDRESS];
  v->speed = c[CR_PTZ_SPEED] <= 3 ? c[CR_PTZ_SPEED] : 0;
}

void store_ptz_values(const PtzValues& v, uint8_t* ed, int channel, int n) {
  static const uint8_t kProtocol[4] = {PTZ_OFF, 1, 0, 2};
  const uint8_t protocol = v.protocol >= 0 && v.protocol < 4 ? kProtocol[v.protocol] : PTZ_OFF;
  for_channel(channel, n, [&](int k) {
    uint8_t* c = ed + camera_at(k);
    c[CR_PTZ_PROTOCOL] = protocol;
    c[CR_PTZ_ADDRESS] = uint8_t(v.address < 0 ? 0 : (v.address > 255 ? 255 : v.address));
    c[CR_PTZ_SPEED] = uint8_t(v.speed >= 0 && v.speed < 4 ? v.speed : 0);
  });
}

void load_color_values(const uint8_t* ed, int channel, ColorValues* v) {
  const uint8_t* c = ed + camera_at(channel);
  for (int i = 0; i < 4; ++i) {
    const int value = c[CR_CONTRAST + i];
    if (value > 124) continue;
    v->level[i] = value / 25;
    if (i == 0 && value >= 76 && value <= 99) v->level[i] = 4;
  }
  v->sharpness = c[CR_SHARPNESS] ? 1 : 0;
}

void store_color_values(const ColorValues& v, uint8_t* ed, int channel, int n) {
  for_channel(channel, n, [&](int k) {
    uint8_t* c = ed + camera_at(k);
    for (int i = 0; i < 4; ++i)
      c[CR_CONTRAST + i] = uint8_t(v.level[i] >= 0 && v.level[i] <= 4 ? v.level[i] * 25 : 50);
    c[CR_SHARPNESS] = v.sharpness == 0 ? 0 : 1;
  });
}

void load_motion_values(const uint8_t* ed, int channel, MotionValues* v) {
  const uint8_t* c = ed + camera_at(channel);
  if (c[CR_SENSITIVITY] >= 1 && c[CR_SENSITIVITY] <= 5) v->sensitivity = c[CR_SENSITIVITY] - 1;
  v->popup = c[CR_POPUP] != 0;
  v->trace = c[CR_TRACE] != 0;
  v->pre_record = c[CR_PRE_RECORD] != 0;
  if (duration_item(c[CR_POST_RECORD]) >= 0) v->post_record = duration_item(c[CR_POST_RECORD]);
  if (duration_item(c[CR_ALARM_TIME]) >= 0) v->alarm_time = duration_item(c[CR_ALARM_TIME]);
  for (int r = 0; r < MOTION_ROWS; ++r) {
    const uint32_t word = get_le32(c + CR_MOTION_AREA + 4 * r);
    for (int col = 0; col < MOTION_COLS; ++col)
      v->area[r * MOTION_COLS + col] = (word >> (29 - col)) & 1;
  }
}

void store_motion_values(const MotionValues& v, uint8_t* ed, int channel, int n) {
  for_channel(channel, n, [&](int k) {
    uint8_t* c = ed + camera_at(k);
    c[CR_SENSITIVITY] = uint8_t(v.sensitivity >= 0 && v.sensitivity < 5 ? v.sensitivity + 1 : 1);
    c[CR_POPUP] = v.popup;
    c[CR_TRACE] = v.trace;
    c[CR_PRE_RECORD] = v.pre_record;
    c[CR_POST_RECORD] = uint8_t(duration_seconds(v.post_record));
    c[CR_ALARM_TIME] = uint8_t(duration_seconds(v.alarm_time));
    for (int r = 0; r < MOTION_ROWS; ++r) {
      // Bits 30 and 31 are not cells: they keep what the DVR sent.
      uint32_t word = get_le32(c + CR_MOTION_AREA + 4 * r) & 0xC0000000u;
      for (int col = 0; col < MOTION_COLS; ++col)
        if (v.area[r * MOTION_COLS + col] == 1) word |= 1u << (29 - col);
      put_le32(c + CR_MOTION_AREA + 4 * r, word);
    }
  });
}

void load_sensor_values(const uint8_t* ed, int channel, SensorValues* v) {
  const uint8_t* s = ed + sensor_at(channel);
  v->nc = s[0] != 0;
  v->popup = s[4] != 0;
  v->pre_record = s[5] != 0;
  if (duration_item(s[1]) >= 0) v->post_record = duration_item(s[1]);
  if (duration_item(s[3]) >= 0) v->alarm_time = duration_item(s[3]);
}

void store_sensor_values(const SensorValues& v, uint8_t* ed, int channel, int n) {
  for_channel(channel, n, [&](int k) {
    uint8_t* s = ed + sensor_at(k);
    s[0] = v.nc;
    s[1] = uint8_t(duration_seconds(v.post_record));
    s[3] = uint8_t(duration_seconds(v.alarm_time));
    s[4] = v.popup;
    s[5] = v.pre_record;
  });
}

void load_schedule_cells(const uint8_t* ed, int channel, uint8_t cells[SCHED_CELLS]) {
  const uint8_t* s = ed + schedule_at(channel);
  for (int i = 0; i < SCHED_CELLS; ++i) {
    switch (s[i]) {
      case 0: cells[i] = 4; break;
      case 1: cells[i] = 1; break;
      case 2: cells[i] = 2; break;
      case 4: cells[i] = 3; break;
      default: break;  // the cell keeps what it showed
    }
  }
}

void store_schedule_cells(const uint8_t cells[SCHED_CELLS], uint8_t* ed, int channel, int n) {
  for_channel(channel, n, [&](int k) {
    uint8_t* s = ed + schedule_at(k);
    for (int i = 0; i < SCHED_CELLS; ++i) {
      switch (cells[i]) {
        case 1: s[i] = 1; break;
        case 2: s[i] = 2; break;
        case 3: s[i] = 4; break;
        case 4: s[i] = 0; break;
        default: break;
      }
    }
  });
}
