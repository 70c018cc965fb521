// The DVR's settings record (edata, 5810 bytes, little-endian) and the values of the DVR
// Setup pages, without GTK: where each field lies, how a page's values come from the record
// and go back into it, the frame-rate lists and budgets, the network check, and the grids'
// mapping. The window (dvrsetup_binding.cpp) moves these values to and from its widgets.
//
// Values from the DVR are range-checked before they pick an item; texts are read within
// their field's width and written by bytes within it. Any thread; no state of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tool/kpt4100/eeprom_file.h"

// Field offsets of the record.
enum : int {
  ED_VIDEO_FORMAT = 16,
  ED_LANGUAGE = 68,
  ED_SCREEN_SAVER = 82,
  ED_CAMERA = 84,  // camera record k at 84 + 135k, k = 0..16
  ED_CAMERA_SIZE = 135,
  ED_SENSOR = 2379,  // sensor record k at 2379 + 7k
  ED_SENSOR_SIZE = 7,
  ED_SCHEDULE = 2497,  // schedule k at 2497 + 168k, byte 24d + h
  ED_SCHEDULE_SIZE = 168,
  ED_NRESOL = 5357,
  ED_IP_MODE = 5358,
  ED_PORT = 5359,
  ED_IP = 5369,
  ED_NETMASK = 5373,
  ED_GATEWAY = 5377,
  ED_NAME_SERVER = 5381,
  ED_DDNS_SERVER = 5389,
  ED_DDNS_HOST = 5390,   // 24, zero-terminated
  ED_DDNS_USER = 5414,   // 15, full names unterminated
  ED_DDNS_PASS = 5429,   // 16
  ED_PPPOE_USER = 5445,  // 15
  ED_PPPOE_PASS = 5460,  // 16
};
// Offsets inside a camera record.
enum : int {
  CR_NAME = 0,  // 9 bytes, byte 8 always 0
  CR_PTZ_PROTOCOL = 9,
  CR_PTZ_ADDRESS = 10,
  CR_CONTRAST = 11,  // brightness 12, hue 13, saturation 14
  CR_SHARPNESS = 15,
  CR_SENSITIVITY = 17,
  CR_MOTION_AREA = 21,  // 24 words
  CR_POST_RECORD = 117,
  CR_ALARM_TIME = 119,
  CR_TRACE = 120,
  CR_POPUP = 121,
  CR_PRE_RECORD = 122,
  CR_FPS = 123,
  CR_QUALITY = 124,
  CR_AUDIO = 125,
  CR_REC_MODE = 126,
  CR_HIDE = 131,
  CR_CAM_AUDIO = 132,
  CR_PTZ_SPEED = 133,
};
constexpr uint8_t PTZ_OFF = 0xFE;
constexpr int EDATA_MAX_CAMERAS = 16;
constexpr int MOTION_ROWS = 24, MOTION_COLS = 30, MOTION_CELLS = 720;
constexpr int SCHED_DAYS = 7, SCHED_HOURS = 24, SCHED_CELLS = 168;

// The channel count the pages use for a count from setup.cfg: at most 16; 0 when the DVR
// is unknown or has no channels (no rows at all, nothing stored at "record N").
int edata_channels(int n);
// Offset of camera record k (0..16).
inline int camera_at(int k) { return ED_CAMERA + ED_CAMERA_SIZE * k; }
inline int sensor_at(int k) { return ED_SENSOR + ED_SENSOR_SIZE * k; }
inline int schedule_at(int k) { return ED_SCHEDULE + ED_SCHEDULE_SIZE * k; }

// A text field read within its width (no terminator needed).
std::string edata_text(const uint8_t* ed, int at, int width);
// Writes `text` by bytes within `width`: at most width - 1 bytes and a terminator when
// `terminated`, else up to width bytes and a terminator only when shorter; a cut never
// splits a UTF-8 character. Bytes after the terminator stay.
void put_edata_text(uint8_t* ed, int at, int width, const std::string& text, bool terminated);

// ---- frame rates ------------------------------------------------------------------------
struct FpsList {
  int count;
  int values[12];
  int all_count;  // items the all-cameras row offers; its default is the last of them
};
// The list of a resolution item (0 352-wide, 1 720x240/288, 2 720x480/576; others: 0) and
// video format byte (nonzero = PAL).
const FpsList& fps_list(int resolution_item, int video_format);
// Resolution item of an nResol byte (6 -> 0, 5 -> 1, 4 -> 2), -1 for other values.
int resolution_item_of(int nresol);
// Frame-rate budget of the rows 1..N.
int fps_budget(int resolution_item, bool pal, int n);
// The error key and check_frame_rates code of a budget.
struct BudgetError {
  const char* key;  // a txt_ key
  int code;
};
BudgetError budget_error(int budget, int n);

// ---- page values --------------------------------------------------------------------------
// Item indexes are what the page's combo or radio group shows; -1 is "none active".
struct SystemPageValues {
  int language = 0;
  int video_format = -1;
  int screen_saver = 0;
};
struct CameraRowValues {
  std::string name;  // rows 1..N
  bool ptz_on = false;
  int hide = 0;
  int audio = 0;
};
struct RecordRowValues {
  int mode = 0;  // 0 lbl_FULLTIME, 1 lbl_RM_MOTION, 2 lbl_RM_SCHEDULE, 3 lbl_RM_SENSOR
  int resolution = -1;
  int quality = -1;
  int fps = -1;  // item of the row's frame-rate list
  int audio = -1;
};
struct NetworkPageValues {
  int ip_mode = 0;
  std::string port = "2200";
  std::string ip, netmask, gateway, name_server;
  bool pppoe_enabled = false;  // the PPPoE status entry's text
  std::string pppoe_user, pppoe_pass;
  int ddns_server = -1;
  std::string ddns_host, ddns_user, ddns_pass;
};
// All four main pages. Rows 0..N of the camera and record pages (none when N is 0).
struct MainPages {
  int n = 0;
  bool model_has_480 = true;  // a third resolution item (not "MW-2606QTR14")
  SystemPageValues sys;
  std::vector<CameraRowValues> cam;
  std::vector<RecordRowValues> rec;
  int rec_list_res = 0;  // resolution item whose frame-rate list the rows hold
  int rec_list_pal = 0;  // video format of that list
  NetworkPageValues net;
};
MainPages blank_pages(int n, bool model_has_480);

// The loaders: each field the record names a known value for is set; an unknown value
// leaves what the page showed.
void load_system_values(const uint8_t* ed, MainPages* p);
void load_camera_values(const uint8_t* ed, MainPages* p);
// Also switches the rows' frame-rate list to the record's resolution, as a change of the
// resolution combos would (every row then shows the all-cameras default first).
void load_record_values(const uint8_t* ed, MainPages* p);
void load_network_values(const uint8_t* ed, MainPages* p);
void load_all_values(const uint8_t* ed, MainPages* p);

// The storers. Each returns 0 or its negative code and, on failure, the key of the message
// to show in *error (none for success). What they store before a failure stays stored.
int store_system_values(const MainPages& p, uint8_t* ed);
int store_camera_values(const MainPages& p, uint8_t* ed);
// 0, or -2..-8 by the budget (frame rates not stored; the rest of the page is).
int check_frame_rate_values(const MainPages& p, uint8_t* ed, const char** error);
// 0 or -1 (nothing stored): the port must be digits, each address four numbers 0..255.
int check_network_values(const MainPages& p, uint8_t* ed, const char** error);
// The four in order: 0, or -1 system, -2 camera, -3 record, -7 network.
int store_all_values(const MainPages& p, uint8_t* ed, const char** error);
// 0 when `text` is an IPv4 address of four numbers 0..255, each of digits only.
int parse_dotted_quad(const std::string& text, uint8_t out[4]);

// ---- sub-pages (channel: a camera 0..N-1, or N for the all-cameras row) -------------------
struct PtzValues {
  int protocol = 0;  // radio: 0 def_OFF, 1 lbl_PELCO_D, 2 lbl_PELCO_P, 3 lbl_WONWOO
  int address = 0;
  int speed = 0;  // radio 0..3
};
struct ColorValues {
  int level[4] = {2, 2, 2, 2};  // contrast, brightness, hue, saturation: radio 0..4 (x 25 %)
  int sharpness = 0;            // radio: 0 def_ON, 1 def_OFF
};
struct MotionValues {
  int sensitivity = 0;  // item 0..4
  bool popup = false, trace = false, pre_record = false;
  int post_record = 0, alarm_time = 0;  // items 0..5
  uint8_t area[MOTION_CELLS] = {};      // cell state 0 or 1
};
struct SensorValues {
  bool nc = false, popup = false, pre_record = false;
  int post_record = 0, alarm_time = 0;
};
void load_ptz_values(const uint8_t* ed, int channel, PtzValues* v);
void store_ptz_values(const PtzValues& v, uint8_t* ed, int channel, int n);
void load_color_values(const uint8_t* ed, int channel, ColorValues* v);
void store_color_values(const ColorValues& v, uint8_t* ed, int channel, int n);
void load_motion_values(const uint8_t* ed, int channel, MotionValues* v);
void store_motion_values(const MotionValues& v, uint8_t* ed, int channel, int n);
void load_sensor_values(const uint8_t* ed, int channel, SensorValues* v);
void store_sensor_values(const SensorValues& v, uint8_t* ed, int channel, int n);
// Schedule cells hold the grid's states: 1 always, 2 motion, 3 sensor, 4 none.
void load_schedule_cells(const uint8_t* ed, int channel, uint8_t cells[SCHED_CELLS]);
void store_schedule_cells(const uint8_t cells[SCHED_CELLS], uint8_t* ed, int channel, int n);
// The item of a duration byte (0, 1, 5, 10, 30, 60), -1 for other values; and back.
int duration_item(int seconds);
int duration_seconds(int item);
