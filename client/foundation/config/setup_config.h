// The configuration store: setup.cfg read whole into tables of fixed-size records.
//
// Owns the DVR, group, user, language and resolution tables, the system and e-mail records
// and the file status of the last load. Loading runs on the window loop (start and reload);
// receive, decoder and sender threads read the tables without copying them.
//
// Reload safety: every load builds a new generation of tables and publishes it with one
// pointer swap, which waits for every holder of `setup_read_lock()`. Each accessor pins the
// published generation for its calling thread: a pointer it hands out stays valid until that
// thread calls an accessor again after a later load (or ends). A replaced generation is freed
// as soon as no thread pins it any more, so reloads do not pile up copies of the tables. A
// thread that pairs a table with its count (get_dvr_table with get_num_dvr), or keeps a
// pointer across further accessor calls, holds `setup_read_lock()` meanwhile: no load is
// published while any thread holds it.
//
// Failures show a fatal box (title "ZOL Main", sets `app_quit`) with the message of the
// failed step and return a small negative code naming it.
#pragma once

#include <cstddef>
#include <cstdint>

// Protocol codes of the DVR models (get_protocol_code).
enum : uint8_t {
  PROTOCOL_NONE = 0,
  PROTOCOL_I = 'I',
  PROTOCOL_Q = 'Q',
  PROTOCOL_S = 'S',
  PROTOCOL_W = 'W',
};

// Port indexes of RC_DVR_INFO::port.
enum : int {
  DVR_PORT_CONNECTION = 0,
  DVR_PORT_VIDEO = 1,
  DVR_PORT_LISTENING = 2,
  DVR_PORT_CONTROL = 3,
  DVR_PORT_PLAYBACK = 4,
  DVR_PORT_HTTP = 5,
  DVR_PORT_AUDIO = 6,
  DVR_NUM_PORTS = 7,
};

constexpr int DVR_MAX_CAMERAS = 16;

struct RC_DVR_INFO {
  uint16_t reserved;  // loading leaves it 0
  char name[131];
  char model[131];
  uint8_t protocol;     // get_protocol_code(model)
  char ipaddress[129];  // address or host name
  uint16_t port[DVR_NUM_PORTS];
  char host_type[11];  // "IP", "NAME" or "DDNS"
  uint8_t num_video;   // channels of the DVR, at most DVR_MAX_CAMERAS
  uint8_t num_video1;  // copies of num_video made at load
  uint8_t num_video2;
  uint8_t flag;  // 1 at load
  char username[131];
  char password[195];  // held decoded
  char location[256];
  char manager[131];
  char tel_no[33];
  char police_no[33];
  char fire_dept_no[33];
  char camera_name[DVR_MAX_CAMERAS][131];
};

struct RC_GROUP_INFO {
  uint16_t reserved;  // loading leaves it 0
  char name[131];
  int8_t num_dvr;
  RC_DVR_INFO* dvr_info;     // num_dvr copies of the member DVR records, owned by the store
  uint32_t* channel_filter;  // num_dvr filters; bit k = channel k+1 of that member
};

struct RC_USER_INFO {
  uint16_t reserved;  // loading leaves it 0
  char user[131];
  char fullname[201];
  char password[195];  // held decoded
  char note[201];
  uint16_t level;
  uint32_t rights_mask1;  // low 16 bits are the operator's rights word
  uint32_t rights_mask2;
};

struct RC_SYSTEM_INFO {
  uint8_t num_decoder;
  uint8_t cycle_time;
  char rec_path[256];
  char log_path[256];
  float buf_level;
  uint8_t enable_debug;
  uint8_t enable_log;
  uint8_t enable_alarm;
  uint8_t enable_mail;
  int8_t max_select;
  char motion_wav[256];
  char sensor_wav[256];
  char language[387];
  char resolution[131];
  uint8_t watchdog;
  uint8_t event_popup_type;
  uint8_t check_update;
  uint32_t event_popup_time;
  uint32_t relay_duration;
};

struct RC_EMAIL_INFO {
  char receipient[256];
  char from[256];
  char subject[256];
  uint8_t attachment;
  char inline_msg[256];
  char replyto[256];
  char cc[256];
  char bcc[256];
  char username[256];
  char password[256];  // plain text in the file
  char smtpserver[256];
  char domain[256];
  uint32_t delay;  // seconds
};

struct RC_FILE_INFO {
  char name[130];
  char path[255];
};

// The section header a line opens: "[NAME]" (NAME without '[', ']' or '=') after blanks,
// followed by nothing but blanks or a comment that starts with ';' or '#'. The line ends at
// NUL, '\r' or '\n'. Returns where "[NAME]" starts and puts its length in *len (when len is
// not null); nullptr when the line is data. The one rule of every reader (a section's
// header, and the end of the section before it) and of the writer. Any thread.
const char* setup_line_header(const char* line, size_t* len);

// Loads `path` whole and runs the section readers in file order of the setup tool. A
// section header counts only as a line of its own (setup_line_header). In [SYSTEM] and
// [EMAIL] a key missing from the file takes its default (the demo file's value; log_path
// "./logs/", where the logs are written) and a key with an empty value reads as empty.
// 0; -1 stat, -2 open, -3 memory, -5 [DVR], -6 [GROUP], -7 [USER], -8 [SYSTEM],
// -9 [EMAIL]/[LANGUAGE]/[RESOLUTION]. Window-loop thread only.
int load_setup_info(const char* path);

// Section readers over the whole text; each replaces its own section of the published
// tables. 0 or the reader's negative code (the messages of the loader's table).
int load_dvr_info(const char* text);
int load_group_info(const char* text);
int load_group_details(const char* text, int n);  // n is 0-based; header "[GROUP_<n+1>]"
int load_user_info(const char* text);
int load_system_info(const char* text);
int load_email_info(const char* text);
int load_language_info(const char* text);
int load_resolution_info(const char* text);

// Protocol letter of a DVR model text (exact match), PROTOCOL_NONE when unknown.
uint8_t get_protocol_code(const char* model);

// -1 when `path` cannot be stat'ed, 1 when its modification time differs from the one of
// the last load, 0 when equal (size not compared).
int setup_changed(const char* path);

// Unpublishes the tables (shutdown, after all reader threads are joined); each generation
// goes when the last thread that pins it reads again or ends.
void free_setup_info();
// Moves the calling thread's pin to the published generation (its pointers from earlier loads
// become invalid) and returns how many replaced generations other threads still pin.
int free_replaced_setup_info();
// Generations of tables alive now: the published one and those threads still pin.
int count_setup_generations();

// Held by a reader that needs a table and its count from the same load: no load is
// published meanwhile. Nests within a thread; any thread.
class SetupReadLock {
 public:
  SetupReadLock();
  ~SetupReadLock();
  SetupReadLock(const SetupReadLock&) = delete;
  SetupReadLock& operator=(const SetupReadLock&) = delete;
};
inline SetupReadLock setup_read_lock() { return {}; }

// Accessors of the published tables; pointers stay valid as the reload note above says.
RC_DVR_INFO* get_dvr_table();
RC_GROUP_INFO* get_group_table();
RC_USER_INFO* get_user_table();
RC_FILE_INFO* get_language_table();
RC_FILE_INFO* get_resolution_table();
int get_num_dvr();
// The text of DVR i's line as the file holds it when its record could not take all of it
// (a field cut, or text that no field took), so that a save can keep that line; nullptr
// when the record holds the whole line or i is out of range.
const char* get_damaged_dvr_line(int i);
int get_num_group();
int get_num_user();
int get_num_language();
int get_num_resolution();
RC_SYSTEM_INFO* copy_system_info(RC_SYSTEM_INFO* out);  // returns out
RC_EMAIL_INFO* copy_email_info(RC_EMAIL_INFO* out);     // returns out
uint32_t get_cycle_time();
int get_max_select();
const char* get_rec_path();
uint8_t get_enable_alarm();
uint8_t get_enable_mail();
uint8_t get_watchdog();
double get_buf_level();
// "motion" -> motion_wav, "sensor" -> sensor_wav, anything else -> nullptr.
const char* get_event_wav(const char* kind);

// Debug printers to standard output; nothing in the client calls them.
void print_dvr_info(const RC_DVR_INFO* dvr);
void print_group_info(const RC_GROUP_INFO* group);
void print_user_info(const RC_USER_INFO* user);
void print_system_info(const RC_SYSTEM_INFO* sys);
void print_email_info(const RC_EMAIL_INFO* mail);
void print_file_info(const RC_FILE_INFO* file);
