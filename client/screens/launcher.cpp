#include "client/screens/launcher.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

#include "client/foundation/app_state.h"
#include "client/foundation/channel_table.h"
#include "client/foundation/config/app_options.h"
#include "client/foundation/config/child_table.h"
#include "client/foundation/config/setup_config.h"
#include "client/foundation/config/setup_lookup.h"
#include "client/foundation/config/utils.h"
#include "client/foundation/sdl_lock.h"
#include "client/foundation/win_helpers.h"
#include "client/links/link_notices.h"
#include "client/screens/screen_state.h"
#include "client/screens/skin.h"
#include "platform/net/net.h"
#include "platform/system/process.h"

namespace {

constexpr const char* kLimitText = "The maximum number of modules started has been exceeded.";
constexpr const char* kAuxdesk = "auxdesk";
constexpr int kMonitorGapMs = 500;

// Single-instance programs, by the title of their window.
enum Single { SEARCH, PLAYBACK, EMAP, SETUP, DVRSETUP, LOGVIEW, CPU, NETWORK, PROBE, NUM_SINGLE };
constexpr const char* kTitles[NUM_SINGLE] = {
    "ZOL Search",       "ZOL Playback",        "ZOL E-Map",
    "ZOL Client Setup", "ZOL DVR Setup",       "ZOL - Log View",
    "ZOL CPU Monitor",  "ZOL Network Monitor", "ZOL - DVR Status Info"};

// Everything this process started. Guarded by `lock`: the alarm pop-up thread and the
// mailslot timer start windows too.
struct Started {
  std::recursive_mutex lock;
  CHILD_TABLE spots{};
  CHILD_TABLE extensions{};
  CHILD_TABLE time_playback{};  // their windows are titled "ZOL Main"
  int single[NUM_SINGLE]{};     // pid of the last start, 0 none
  uint64_t last_monitor_ms = 0;
  bool monitor_started = false;
};
Started g_started;

using Words = std::vector<std::string>;

// Starts `words` (the first a path); the pid, or -1.
int start_words(const Words& words) {
  std::vector<const char*> argv;
  argv.reserve(words.size() + 1);
  for (const std::string& w : words) argv.push_back(w.c_str());
  argv.push_back(nullptr);
  return start_process(argv.data());
}

std::string program_path(const APP_OPTIONS* opts, const char* file) {
  return std::string(opts->program_dir) + file;
}
std::string own_path(const APP_OPTIONS* opts) { return program_path(opts, opts->program_file); }

// The logged-in operator as one word: "-u<id>,<password>", which the option parser splits.
std::string login_word(const APP_OPTIONS* opts) {
  return std::string("-u") + opts->user_id + "," + opts->password;
}

// A program of the system's companions is started only when it is installed beside
// vigilo; otherwise one line says where it was looked for. `quiet`: no line.
bool installed(const std::string& path, const char* name, bool quiet = false) {
  if (access(path.c_str(), X_OK) == 0) return true;
  if (!quiet) printf("%s is not installed: %s not found.\n", name, path.c_str());
  return false;
}

// The desktop's opener, found through PATH: it is not one of the system's own programs.
std::string find_opener() {
  const char* path = getenv("PATH");
  std::string dirs = path ? path : "";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    if (!dir.empty()) {
      std::string candidate = dir + "/xdg-open";
      if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    start = end + 1;
  }
  printf("xdg-open is not installed: not found in PATH (%s).\n", dirs.c_str());
  return "";
}

// A DVR name as the command line of another program carries it (system code page).
std::string ansi(const char* utf8) {
  char* text = utf8_to_ansi(utf8 ? utf8 : "");
  std::string out = text ? text : "";
  free(text);
  return out;
}

APP_CONTEXT* context_of(APP_OPTIONS* opts) {
  return opts && opts->context ? opts->context : &app_context;
}

std::string number(long v) { return std::to_string(v); }

// An instance of `title` started here: raised (0), or -1 when it is gone. A process of
// ours that still runs without its window is starting up (or closing): it counts as
// running, so a second press never starts a second copy.
int raise_or_running(const char* title, int pid) {
  if (pid <= 0) return -1;
  if (raise_own_window(title, pid) == 0) return 0;
  return process_running(pid) ? 0 : -1;
}

// Starts a single-instance program unless the one started earlier still runs (raised).
// Returns 0 raised or started, -1 when it could not be started.
int start_single(Single which, const Words& words) {
  std::lock_guard<std::recursive_mutex> g(g_started.lock);
  if (raise_or_running(kTitles[which], g_started.single[which]) == 0) return 0;
  const int pid = start_words(words);
  if (pid <= 0) return -1;
  g_started.single[which] = pid;
  return 0;
}

// The limit box, shown once no lock of ours is held: a box waits for the operator, and
// every start (the mailslot timer's on SDL's one timer thread too) would wait behind it.
// From a thread other than the window's it is posted for the window loop to show.
int limit_reached(bool window_thread) {
  if (window_thread)
    error_box(kLimitText);
  else
    post_link_error_box(-1, kLimitText);
  return -1;
}

// A spot window of channel `id`: its entry index (its process id in *pid), or the negative
// result.
int start_spot_of_channel(APP_OPTIONS* opts, APP_CONTEXT* ctx, int32_t id, bool window_thread,
                          int* pid_out = nullptr) {
  std::unique_lock<std::recursive_mutex> g(g_started.lock);
  if (prune_child_processes(&g_started.spots) >= MAX_CHILD_PROCESSES) {
    g.unlock();
    return limit_reached(window_thread);
  }
  if (id < 0) return -1;
  RECEIVER_INFO* rx = find_receiver_by_channel(ctx, id);
  if (!rx) return -2;
  const int k = find_channel(rx, id);
  if (k < 0 || k >= 32) return -3;
  const int pid =
      start_words({own_path(opts), "-A" + ansi(rx->name), "-k", "-e", "-v" + number(long(1u << k)),
                   "-w" + number(ctx->desktop_w - 352) + "," + number(ctx->desktop_h - 240),
                   login_word(opts), "-m2"});
  if (pid <= 0) return -1;
  if (pid_out) *pid_out = pid;
  return add_child_process(&g_started.spots, pid);
}

}  // namespace

// ---------------------------------------------------------------- copies of vigilo

int start_extension_window(APP_OPTIONS* opts, APP_CONTEXT*) {
  std::unique_lock<std::recursive_mutex> g(g_started.lock);
  CHILD_TABLE& t = g_started.extensions;
  if (t.count >= MAX_CHILD_PROCESSES) {
    g.unlock();
    return limit_reached(true);
  }
  // One extension window: the running one is raised instead of starting another.
  if (t.count > 0 && t.entries[0].pid > 0) {
    if (raise_or_running("ZOL Extension Window", t.entries[0].pid) == 0) return 0;
    --t.count;
  }
  // A master listening on every address is reached on the local one.
  std::string master = opts->peers[0].address;
  if (master == "0.0.0.0") master = "127.0.0.1";
  const int pid = start_words({own_path(opts), login_word(opts), "-m1", "-i" + master, "-k", "-e"});
  if (pid <= 0) return -1;
  t.entries[t.count] = CHILD_PROCESS{pid, false};
  ++t.count;
  return 0;
}

int start_spot_window(APP_OPTIONS* opts, APP_CONTEXT* ctx) {
  return start_spot_of_channel(opts, ctx, first_selected_channel(ctx), true);
}

int start_event_spot_window(APP_OPTIONS* opts, APP_CONTEXT* ctx) {
  int pid = -1;
  const int rc = start_spot_of_channel(opts, ctx, ctx->alarm_channel.load(), false, &pid);
  return rc < 0 ? rc : pid;
}

int start_search_window(APP_OPTIONS* opts) {
  std::lock_guard<std::recursive_mutex> g(g_started.lock);
  if (raise_or_running(kTitles[SEARCH], g_started.single[SEARCH]) == 0) return -2;
  const int pid = start_words({own_path(opts), login_word(opts), "-m3"});
  if (pid <= 0) return -1;
  g_started.single[SEARCH] = pid;
  return 0;
}

int start_playback_window(APP_OPTIONS* opts) {
  const std::string file = opts->input_file;
  std::string ending = file.size() >= 4 ? file.substr(file.size() - 3) : "";
  for (char& c : ending) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  // Films and pictures go to the desktop's own programs.
  if (ending == "avi" || ending == "bmp") {
    const std::string opener = find_opener();
    if (opener.empty()) return -1;
    return start_words({opener, file}) > 0 ? 0 : -1;
  }
  APP_CONTEXT* ctx = context_of(opts);
  return start_single(PLAYBACK,
                      {own_path(opts), "-f" + file,
                       "-w" + number(ctx->desktop_w - 352) + "," + number(ctx->desktop_h - 240),
                       login_word(opts), "-m4"});
}

int browse_recorded_file(APP_OPTIONS* opts, const char* record_dir, FILE_CHOOSER choose) {
  const std::string dir = record_dir ? record_dir : "";  // a copy: setup.cfg may reload
  // Raised when it still runs; a window that has closed no longer stops the button.
  raise_child_window(kTitles[PLAYBACK]);
  char path[520] = "";
  if ((choose ? choose : open_file_dialog)(dir.c_str(), path, sizeof path) != 0 || !path[0])
    return 1;
  if (strlen(path) >= sizeof opts->input_file) {
    printf("The chosen file's path is longer than %zu characters: %s\n",
           sizeof opts->input_file - 1, path);
    return -1;
  }
  copy_field(opts->input_file, path);
  return start_playback_window(opts);
}

int start_time_playback_window(const char* target, uint32_t mask, int year, int month, int day,
                               int hour, int minute) {
  // The option parser would take the next word, "-k", for an empty target's name.
  if (!target || !*target) {
    printf("A time playback window needs a DVR; the request names none.\n");
    return -1;
  }
  const APP_OPTIONS* opts = &app_options;
  const APP_CONTEXT* ctx = opts->context ? opts->context : &app_context;
  // Titled "ZOL Main" like the main window: one left behind would stop the next main
  // window from starting, so shutdown ends it with the others. Requests come from the
  // mailslot's timer, which shows no box: the limit is a line.
  std::lock_guard<std::recursive_mutex> g(g_started.lock);
  if (prune_child_processes(&g_started.time_playback) >= MAX_CHILD_PROCESSES) {
    printf("%s\n", kLimitText);
    return -1;
  }
  // Asked for at the desktop's full size: the window itself keeps on the desktop.
  const int pid = start_words({own_path(opts), "-A" + std::string(target), "-k", "-e",
                               "-v" + number(long(mask)), "-b" + number(year), "-g" + number(month),
                               "-h" + number(day), "-j" + number(hour), "-q" + number(minute),
                               "-w" + number(ctx->desktop_w) + "," + number(ctx->desktop_h),
                               login_word(opts), "-m7"});
  if (pid <= 0) return -1;
  add_child_process(&g_started.time_playback, pid);
  return 0;
}

// ---------------------------------------------------------------- the setup tool and siblings

int start_auxdesk(const char* mode_word, APP_OPTIONS* opts) {
  if (!mode_word) return -1;
  const std::string mode = mode_word;
  Single which;
  std::string sixth, seventh;
  if (mode == "setup") {
    which = SETUP;
  } else if (mode == "emap") {
    which = EMAP;
    sixth = ansi(opts->auto_start);
  } else if (mode == "logview") {
    which = LOGVIEW;
  } else if (mode == "dvrsetup") {
    which = DVRSETUP;
    std::string name;
    if (opts->conn_state.load() == CONN_CONNECTED) {
      name = opts->auto_start;
    } else {
      const int list = find_widget(SKIN_MAIN, "dvr_list");
      const SKIN_WIDGET* w = list > 0 ? get_skin_widget(SKIN_MAIN, list) : nullptr;
      if (w && w->selected >= 0 && w->selected < w->num_lines && w->selected < 1024 &&
          w->lines[w->selected])
        name = w->lines[w->selected];
    }
    if (name.empty()) {
      error_box("No selected DVR.");
      return -1;
    }
    int is_group = -1, index = -1;
    find_target(name.c_str(), &is_group, &index);
    if (is_group == 1) {
      error_box("Can't open dvr setup in group mode.");
      return -2;
    }
    const RC_DVR_INFO* dvr = find_dvr_info(name.c_str());
    sixth = ansi(name.c_str());
    seventh = dvr ? dvr->model : "";
  } else {
    return -1;
  }
  const std::string path = program_path(opts, kAuxdesk);
  {
    std::lock_guard<std::recursive_mutex> g(g_started.lock);
    if (raise_or_running(kTitles[which], g_started.single[which]) == 0) return 0;
  }
  if (!installed(path, kAuxdesk)) return -1;
  // The setup tool finds setup.cfg and ./logs/ in the current directory.
  if (opts->program_dir[0] && chdir(opts->program_dir) != 0) return -1;
  return start_single(which, {path, mode, opts->user_id, opts->password, sixth, seventh});
}

int start_monitor_program(APP_OPTIONS* opts, const char* which) {
  if (!which) return -1;
  const bool cpu = strcmp(which, "CPU") == 0;
  if (!cpu && strcmp(which, "Network") != 0) return -1;
  {
    std::lock_guard<std::recursive_mutex> g(g_started.lock);
    const uint64_t now = net_now_ms();
    if (g_started.monitor_started && now - g_started.last_monitor_ms < uint64_t(kMonitorGapMs))
      return -1;
    g_started.monitor_started = true;
    g_started.last_monitor_ms = now;
  }
  const char* file = cpu ? "loadmeter" : "linkmeter";
  const std::string path = program_path(opts, file);
  {
    std::lock_guard<std::recursive_mutex> g(g_started.lock);
    if (raise_or_running(kTitles[cpu ? CPU : NETWORK], g_started.single[cpu ? CPU : NETWORK]) == 0)
      return 0;
  }
  if (!installed(path, file)) return -1;
  return start_single(cpu ? CPU : NETWORK, {path, which});
}

int start_probe(APP_OPTIONS* opts, APP_CONTEXT* ctx) {
  {
    std::lock_guard<std::recursive_mutex> g(g_started.lock);
    if (raise_or_running(kTitles[PROBE], g_started.single[PROBE]) == 0) return -1;
  }
  // The channel the operator opened the pad on (the window loop sets it on button 3).
  const int32_t id = screen_state.pad_channel;
  if (id < 0) return -2;
  RECEIVER_INFO* rx = find_receiver_by_channel(ctx, id);
  if (!rx) {
    error_box("No connected channel");
    return -3;
  }
  const RC_DVR_INFO* dvr = find_dvr_info(rx->name);
  const std::string model = dvr ? dvr->model : "";
  const std::string path = program_path(opts, "probe");
  if (!installed(path, "probe")) return -1;
  return start_single(PROBE, {path, "checkwin", ansi(rx->name), model});
}

int start_refresher(APP_OPTIONS* opts, APP_CONTEXT*) {
  // The update check runs unattended at every start: its absence is not worth a line.
  const std::string path = program_path(opts, "refresher");
  if (!installed(path, "refresher", true) || start_words({path}) <= 0) {
    debug_message("CreateProcess() failed.\n");
    return -1;
  }
  return 0;
}

// ---------------------------------------------------------------- running instances

int raise_child_window(const char* title) {
  if (!title) return 0;
  std::lock_guard<std::recursive_mutex> g(g_started.lock);
  for (int i = PLAYBACK; i < NUM_SINGLE; ++i) {
    if (i == LOGVIEW || strcmp(title, kTitles[i]) != 0) continue;
    if (g_started.single[i] <= 0) return 0;
    return raise_or_running(title, g_started.single[i]);
  }
  return 0;
}

void close_child_windows() {
  std::lock_guard<std::recursive_mutex> g(g_started.lock);
  for (int i = 0; i < NUM_SINGLE; ++i)
    if (g_started.single[i] > 0) close_own_window(kTitles[i], g_started.single[i]);
  end_child_processes(&g_started.spots);
  end_child_processes(&g_started.extensions);
  end_child_processes(&g_started.time_playback);
}

void wait_search_and_emap(int timeout_ms) {
  int search, emap;
  {
    std::lock_guard<std::recursive_mutex> g(g_started.lock);
    search = g_started.single[SEARCH];
    emap = g_started.single[EMAP];
  }
  if (search > 0) wait_process(search, timeout_ms, nullptr);
  if (emap > 0) wait_process(emap, timeout_ms, nullptr);
}
