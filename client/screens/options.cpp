#include "client/screens/options.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <getopt.h>
#include <unistd.h>

#include "client/foundation/config/app_options.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/win_helpers.h"

namespace {

// The leading '+' keeps glibc from moving non-option words to the end: the first word
// that is not an option ends the scan, as the command lines of the launcher expect.
constexpr const char* kOptString = "+i:l:p:c:v:a:b:g:h:j:q:f:o:s:t:keMzw:d:m:C:A:S:u:";
// "--help" is the only long option; the long names of the usage text are not taken.
constexpr int kHelp = 0x100;
const option kLongOptions[] = {{"help", no_argument, nullptr, kHelp}, {nullptr, 0, nullptr, 0}};

// atoi without its undefined overflow: a bad number is 0, a long one keeps its low bits.
int to_int(const char* s) {
  long long v = strtoll(s, nullptr, 10);
  return static_cast<int>(static_cast<unsigned long long>(v) & 0xFFFFFFFFull);
}

// Copies at most cap-1 bytes without splitting a UTF-8 sequence.
void copy_utf8_field(char* dst, size_t cap, const char* src) {
  size_t n = strlen(src);
  if (n >= cap) {
    n = cap - 1;
    while (n > 0 && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80) --n;
  }
  memcpy(dst, src, n);
  dst[n] = '\0';
}

bool valid_mode(int m) { return (m >= 0 && m <= 5) || m == 7; }

void set_window_position(APP_OPTIONS* opts, const char* arg) {
  const char* comma = strchr(arg, ',');
  if (!comma) return;
  std::string left(arg, comma - arg);
  opts->win_left = to_int(left.c_str());
  opts->win_top = to_int(comma + 1);
}

// Splits "id,password" at the first ','. A part that does not fit its field stores
// nothing: a cut password would only fail the login later, and the login screen then
// asks for both. The password is then wiped from `arg` (a word of argv): /proc and ps show
// every process's arguments to any local user.
void set_user(APP_OPTIONS* opts, char* arg) {
  char* comma = strchr(arg, ',');
  if (!comma) return;
  size_t id_len = static_cast<size_t>(comma - arg);
  size_t pw_len = strlen(comma + 1);
  if (id_len < sizeof(opts->user_id) && pw_len < sizeof(opts->password)) {
    memcpy(opts->user_id, arg, id_len);
    opts->user_id[id_len] = '\0';
    memcpy(opts->password, comma + 1, pw_len + 1);
  }
  memset(comma + 1, 0, pw_len);
}

void set_auto_start(APP_OPTIONS* opts, const char* arg) {
  char* utf8 = ansi_to_utf8(arg);
  copy_utf8_field(opts->auto_start, sizeof(opts->auto_start), utf8 ? utf8 : arg);
  free(utf8);
}

// The options in one line, after a bad option.
void print_usage_line() {
  printf(
      "usage: vigilo [-keMz] [-m mode] [-d type] [-C file] [-S file] [-A dvr] [-i address] "
      "[-l port] [-p port] [-c port] [-v mask] [-a mask] [-f file] [-o file] [-s seconds] "
      "[-t seconds] [-w left,top] [-u user,password] [-b year] [-g month] [-h day] [-j hour] "
      "[-q minute] [--help]\n");
}

}  // namespace

int parse_options(int argc, char** argv, APP_OPTIONS* opts) {
  if (!opts || argc < 1 || !argv) return -1;
  optind = 0;  // full re-initialisation of glibc's scanner (tests parse several lines)
  opterr = 0;  // our own line below is the only diagnostic
  int c;
  bool bad = false;
  while ((c = getopt_long(argc, argv, kOptString, kLongOptions, nullptr)) != -1) {
    char* arg = optarg;
    switch (c) {
      case kHelp: optind = 0; return 1;
      case 'm': {
        int m = to_int(arg);
        opts->mode = m;
        if (m == 1) opts->master = 0;
        if (!valid_mode(m)) {
          error_box("Invalid application mode. Using default mode.");
          opts->mode = 0;
        }
        break;
      }
      case 'd': opts->dvr_type = static_cast<uint8_t>(to_int(arg)); break;
      case 'C': copy_field(opts->config_file, arg); break;
      case 'S': copy_field(opts->skin_file, arg); break;
      case 'A': set_auto_start(opts, arg); break;
      case 'i': copy_field(opts->master_address, arg); break;
      case 'l': opts->live_port = static_cast<uint16_t>(to_int(arg)); break;
      case 'p': opts->pb_port = static_cast<uint16_t>(to_int(arg)); break;
      case 'c': opts->ctrl_port = static_cast<uint16_t>(to_int(arg)); break;
      case 'v': opts->video_mask = static_cast<uint32_t>(to_int(arg)); break;
      case 'a': opts->audio_mask = static_cast<uint32_t>(to_int(arg)); break;
      case 'f':
        copy_field(opts->input_file, arg);
        opts->mode = 4;
        break;
      case 'o': copy_field(opts->output_file, arg); break;
      case 's': opts->seek = to_int(arg); break;
      case 't': opts->timeout = to_int(arg); break;
      case 'k': opts->skin = 0; break;
      case 'w': set_window_position(opts, arg); break;
      case 'u': set_user(opts, arg); break;
      case 'b': opts->start_year = static_cast<uint32_t>(to_int(arg)); break;
      case 'g': opts->start_month = static_cast<uint32_t>(to_int(arg)); break;
      case 'h': opts->start_day = static_cast<uint32_t>(to_int(arg)); break;
      case 'j': opts->start_hour = static_cast<uint32_t>(to_int(arg)); break;
      case 'q': opts->start_minute = static_cast<uint32_t>(to_int(arg)); break;
      case 'e': opts->frame = 1; break;
      case 'M': opts->mail = 0; break;
      case 'z': opts->auto_resize = 1; break;
      default:
        printf("getopt_long() returned %d\n", c);
        bad = true;
        break;
    }
  }
  if (bad) print_usage_line();
  int first_word = optind;
  optind = 0;
  return first_word == argc - 1 ? 0 : -1;
}

void print_usage() {
  static const char* const kLines[] = {
      "--mode, -m <0,1,2,3>: full, slave, spot, playback",
      "--dvr-type, -d <type>: dvr-type",
      "--config-file, -C <config file>: config file",
      "--skin-file, -S <skin file>: skin config file",
      "--auto-start, -A <selected dvr from config>",
      "--ip-addr, -i <ip address>: ip address",
      "--live-port, -l <port no>: live video port",
      "--pb-port, -p <port no>: video playback port",
      "--ctrl-port, -c <port no>: playback control port",
      "--video-channels, -v <bit mask>: video channels bit mask",
      "--audio-channels, -a <bit mask>: audio channels bit mask",
      "--input-file, -f <path/file>: path/filename of video to playback",
      "--output-file, -o <path/file>: path/filename to save video to",
      "--seek, -s <position>: seek position in seconds",
      "--timeout, -t <timeout>: socket timeout in seconds",
      "--skin, -k: show skin",
      "--window-position, -w <left,top>: left,top position of playback window",
      "--user, -u <username,password>: username and password",
  };
  printf("usage: vigilo\n");
  for (const char* line : kLines) printf("\t%s\n", line);
  printf("\n");
  fflush(stdout);
}
