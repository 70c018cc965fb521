// The E-Map's event watcher (markers blink on DVR events from the mailslot), the spot
// windows it starts on camera clicks and keeps in front, and its drag and close handlers.
#include "tool/emap/gui_emap/emap_events.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "client/foundation/config/child_table.h"
#include "client/foundation/config/mailslot.h"
#include "client/foundation/config/setup_lookup.h"
#include "client/foundation/config/system_log.h"
#include "client/foundation/config/utils.h"
#include "platform/sync/thread_name.h"
#include "platform/system/process.h"
#include "platform/system/x11_session.h"
#include "platform/system/x11_windows.h"
#include "tool/emap/emap_config.h"
#include "tool/emap/emap_model.h"
#include "tool/emap/gui_emap/emap_gui.h"
#include "tool/entry.h"

namespace {

constexpr const char* kSource = ".\\emap\\gui_emap";

// The spot windows started here; the GTK thread and the raiser share it.
std::mutex g_child_lock;
CHILD_TABLE g_children{};
std::atomic<unsigned long> g_emap_xid{0};

// The running alarm of each marker slot: one blink timer per marker, which a new notice
// restarts instead of adding another. Read and written under the GDK lock only (the
// watcher holds it, and GDK timeouts run with it).
struct Blink {
  guint source = 0;  // the timer, 0 when none runs
  int remaining_ms = 0;
  unsigned generation = 0;  // the redraw it was started on
};
Blink g_blink[kEmapDeviceSheets][kEmapDeviceEntries];

gboolean marker_blink_tick(gpointer data) {
  const int slot = GPOINTER_TO_INT(data);
  const int sheet = slot / kEmapDeviceEntries, entry = slot % kEmapDeviceEntries;
  Blink& b = g_blink[sheet][entry];
  // A redraw destroyed the widget the alarm was started on; its slot may hold another now.
  if (b.generation != marker_generation()) {
    b.source = 0;
    return FALSE;
  }
  b.remaining_ms -= 100;
  if (b.remaining_ms > 0) {
    // Only a hover can have changed it: a picture is cut only when it changes.
    if (get_device_table(sheet)[entry].state != 4) set_marker_state(sheet, entry, 4);
    return TRUE;
  }
  set_marker_state(sheet, entry, 1);
  b.source = 0;
  return FALSE;
}

// Shows the alarm picture of a drawn marker for 3 s from now. Caller holds the GDK lock.
void start_alarm(const AlarmSpot& a) {
  Blink& b = g_blink[a.sheet][a.entry];
  b.remaining_ms = 3000;
  if (get_device_table(a.sheet)[a.entry].state != 4) set_marker_state(a.sheet, a.entry, 4);
  if (b.source && b.generation == marker_generation()) return;  // the running timer goes on
  if (b.source) g_source_remove(b.source);  // it would only find its marker redrawn
  b.generation = marker_generation();
  b.source = gdk_threads_add_timeout(100, marker_blink_tick,
                                     GINT_TO_POINTER(a.sheet * kEmapDeviceEntries + a.entry));
}

// Notices gathered after the first of a burst, so that the GDK lock is taken once per
// batch: at most this many, for at most this long.
constexpr size_t kBatchNotices = 256;
constexpr int kBatchWindowMs = 50;

// A batch of notices as one update: each marker the batch names is started (or restarted)
// once. Caller holds the GDK lock.
void handle_notices(const std::vector<EVENT_NOTICE>& batch) {
  bool named[kEmapDeviceSheets][kEmapDeviceEntries] = {};
  std::vector<AlarmSpot> spots;
  for (const EVENT_NOTICE& n : batch) {
    bool found = false;
    const int video = get_dvr_num_video(n.dvr_name), sensors = get_dvr_num_video2(n.dvr_name);
    std::vector<AlarmSpot> mine =
        notice_alarms(emap_tables(), emap_start_target, emap_selected_target(), emap_map_name, n,
                      video < 0 ? 0 : video, sensors < 0 ? 0 : sensors, &found);
    if (!found) printf("[%s:%d] No found!\n", kSource, __LINE__);
    for (const AlarmSpot& a : mine)
      if (!named[a.sheet][a.entry]) {
        named[a.sheet][a.entry] = true;
        spots.push_back(a);
      }
  }
  for (const AlarmSpot& a : spots)
    if (marker_drawn(a.sheet, a.entry)) start_alarm(a);
}

// The client beside this program (never looked up through PATH).
std::string vigilo_path() {
  char self[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "./vigilo";
  self[n] = '\0';
  std::string dir(self);
  return dir.substr(0, dir.rfind('/') + 1) + "vigilo";
}

}  // namespace

void set_emap_native_window(unsigned long xid) { g_emap_xid = xid; }

void* emap_check_event(void*) {
  set_current_thread_name("emap watcher");
  // mailslot_create_reader prints "[...]Error : Don't create mailslot!" itself.
  int reader = mailslot_create_reader();
  if (reader < 0) return reinterpret_cast<void*>(1);
  uint8_t buf[EVENT_NOTICE_SIZE];
  std::vector<EVENT_NOTICE> batch;
  batch.reserve(kBatchNotices);
  for (;;) {
    // The first notice is waited for; the rest of its burst is gathered for a short while.
    bool failed = false;
    auto end = std::chrono::steady_clock::now();
    for (int wait_ms = -1; batch.size() < kBatchNotices;) {
      const int r = mailslot_read(reader, buf, sizeof buf, wait_ms);
      if (r == MAILSLOT_WRONG_SIZE) continue;  // a stray message is dropped
      if (r < 0) {
        failed = true;
        break;
      }
      if (r == 0 && wait_ms >= 0) break;  // the window closed
      if (r == 0) continue;
      batch.push_back(decode_event_notice(buf));
      if (batch.size() == 1)
        end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kBatchWindowMs);
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      wait_ms = left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }
    if (!batch.empty()) {
      G_GNUC_BEGIN_IGNORE_DEPRECATIONS
      gdk_threads_enter();
      handle_notices(batch);
      gdk_threads_leave();
      G_GNUC_END_IGNORE_DEPRECATIONS
      batch.clear();
    }
    if (failed) {
      mailslot_close_reader(reader);
      return reinterpret_cast<void*>(2);
    }
  }
}

void* locate_spot_on_emap(void*) {
  set_current_thread_name("emap raiser");
  // One X connection for the raiser's life, opened when first needed (again only when there
  // was no display): a connection per pass would cost the X server a client every 100 ms.
  std::optional<X11Session> x;
  for (;;) {
    // One pass every 100 ms whatever happens: the raiser must never spin.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::vector<int> pids;
    {
      std::lock_guard<std::mutex> g(g_child_lock);
      for (int i = 0; i < g_children.count; ++i) pids.push_back(g_children.entries[i].pid);
    }
    const unsigned long me = g_emap_xid;
    if (pids.empty() || !me) continue;
    if (!x || !x->ok()) x.emplace();
    if (x11_active_window(&*x) != me) continue;
    for (int pid : pids) x11_stack_windows_above(pid, me, &*x);
  }
}

void launch_vigilo(const char* dvr_name, int channel) {
  std::lock_guard<std::mutex> g(g_child_lock);
  if (prune_child_processes(&g_children) >= MAX_CHILD_PROCESSES) {
    printf("Maximum number of child processes exceed!\n");
    return;
  }
  std::vector<std::string> words = spot_window_argv(vigilo_path(), dvr_name ? dvr_name : "",
                                                    channel, login_user, login_password);
  if (words.empty()) return;
  std::vector<const char*> argv;
  for (const std::string& w : words) argv.push_back(w.c_str());
  argv.push_back(nullptr);
  const int pid = start_process(argv.data());
  if (pid <= 0 || add_child_process(&g_children, pid) < 0) printf("CreateProcess() failed.\n");
}

int kill_child_processes() {
  std::vector<int> pids;
  {
    std::lock_guard<std::mutex> g(g_child_lock);
    for (int i = 0; i < g_children.count; ++i) pids.push_back(g_children.entries[i].pid);
    end_child_processes(&g_children);
  }
  // Reap them, so none lingers as a zombie while this process still runs.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  for (int pid : pids) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    wait_process(pid, left.count() > 0 ? static_cast<int>(left.count()) : 0, nullptr);
  }
  return 0;
}

gboolean on_emap_drag(GtkWidget* widget, GdkEventButton* event, gpointer) {
  if (event->type == GDK_BUTTON_PRESS && event->button == 1)
    gtk_window_begin_move_drag(GTK_WINDOW(gtk_widget_get_toplevel(widget)), 1,
                               static_cast<int>(event->x_root), static_cast<int>(event->y_root),
                               event->time);
  return FALSE;
}

void on_emap_close() {
  kill_child_processes();
  gtk_main_quit();
  write_system_log(SYSLOG_EXIT_TEXT, "EMAP", "");
  fflush(stdout);
  exit(1);
}
