// The options record: command-line options and the logged-in operator of this process.
//
// One global record, `app_options`, filled by start-up on the first thread (defaults, then
// the command line, then the login). Worker threads read it afterwards; the words that
// threads change while others read them are atomics. No SDL here: the setup tool shares it.
#pragma once

#include <atomic>
#include <cstdint>

struct APP_CONTEXT;
struct PAIR_BUFFERS;

constexpr int NUM_PEER_ENDPOINTS = 16;

// Connection states of APP_OPTIONS::conn_state.
enum : uint32_t {
  CONN_CONNECTED = 6,
  CONN_CONNECTING = 7,
  CONN_DISCONNECTING = 8,
  CONN_DISCONNECTED = 9,
};

// One master/slave link slot (the master keeps one per slave; a slave uses slot 0).
struct PEER_ENDPOINT {
  uint32_t index;    // its position 0..15
  char address[16];  // dotted IPv4 text
  int32_t socket;    // link socket, -1 = free (the link's slot lock guards it)
  uint8_t reserved[12];
  uint16_t port;     // link port
  uint32_t timeout;  // seconds
};

struct APP_OPTIONS {
  uint32_t master;   // 1: the main window listens for extension windows
  int32_t mode;      // window mode 0-5, 7
  uint8_t dvr_type;  // -d, stored only
  char user_id[131];
  char password[196];                // never printed or logged
  uint16_t rights;                   // check_login result of the logged-in operator
  int32_t logged_in;                 // 1 once user_id/password passed is_valid_user
  std::atomic<uint32_t> conn_state;  // CONN_*
  char config_file[256];             // -C, stored only
  char skin_file[256];               // -S
  char program_file[256];            // argv[0] after its last separator
  char program_dir[256];             // argv[0] up to and including its last separator
  char program_drive[8];             // drive part of the program path; empty on this platform
  char name_text[131];               // a further name text of the command line
  char auto_start[130];              // -A: DVR or group to connect to, UTF-8
  char master_address[16];           // -i
  char input_file[256];              // -f
  char output_file[256];             // -o, stored only
  uint32_t sock_timeout;             // seconds
  int32_t timeout;                   // -t, stored only
  uint16_t live_port;                // -l, stored only
  uint16_t pb_port;                  // -p, stored only
  uint16_t ctrl_port;                // -c, stored only
  uint32_t video_mask;               // -v
  uint32_t audio_mask;               // -a
  int32_t seek;                      // -s
  int32_t skin;                      // -k clears it
  int32_t frame;                     // -e sets it: framed, resizable window
  int32_t mail;                      // -M clears it
  int32_t auto_resize;               // -z sets it
  // Search and time-playback start (-b -g -h -j -q), its channel, and two more words.
  uint32_t start_year;
  uint32_t start_month;
  uint32_t start_day;
  uint32_t start_hour;
  uint32_t start_minute;
  uint32_t start_channel;
  uint32_t search_word1;
  uint32_t search_word2;  // starts at 1
  // Window position (-w; -1 = left to the system) and one more window word.
  int32_t win_left;
  int32_t win_top;
  int32_t win_word;
  APP_CONTEXT* context;         // set by start-up
  PAIR_BUFFERS* audio_buffers;  // set by start-up
  PEER_ENDPOINT peers[NUM_PEER_ENDPOINTS];
};

extern APP_OPTIONS app_options;

// Sets every field of `opts` to its default (also the 16 peers). Any thread, before sharing.
void init_app_options(APP_OPTIONS* opts);
// Nothing to release; kept so shutdown reads as the pair of init_app_options.
void free_app_options(APP_OPTIONS* opts);
// Default peer: address "127.0.0.1", port 6780, time-out 30 s, no socket (-1), the rest 0
// (index too).
void init_peer_endpoint(PEER_ENDPOINT* peer);
