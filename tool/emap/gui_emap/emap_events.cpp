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
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "client/foundation/config/child_table.h"
#include "client/foundation/config/mailslot.h"
#include "client/foundation/config/setup_lookup.h"
#include "client/foundation/config/system_log.h"
#include "client/foundation/config/utils.h"
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

// One running alarm of one marker slot, owned by its timer.
struct Blink {
  int sheet;
  int entry;
  int remaining_ms;
  unsigned generation;  // the redraw it was started on
};

gboolean marker_blink_tick(gpointer data) {
  Blink* b = static_cast<Blink*>(data);
  // A redraw destroyed the widget the alarm was started on; its slot may hold another now.
  if (b->generation != marker_generation()) {
    delete b;
    return FALSE;
  }
  b->remaining_ms -= 100;
  if (b->remaining_ms > 0) {
    set_marker_state(b->sheet, b->entry, 4);
    return TRUE;
  }
  set_marker_state(b->sheet, b->entry, 1);
  delete b;
  return FALSE;
}

// Caller holds the GDK lock.
void start_alarm(const AlarmSpot& a) {
  set_marker_state(a.sheet, a.entry, 4);
  Blink* b = new (std::nothrow) Blink{a.sheet, a.entry, 3000, marker_generation()};
  if (!b) {
    printf("[%s:%d] error.\n", kSource, __LINE__);
    error_box("MALLOC failed");
    return;
  }
  gdk_threads_add_timeout(100, marker_blink_tick, b);
}

// Caller holds the GDK lock.
void handle_notice(const EVENT_NOTICE& n) {
  bool found = false;
  const int video = get_dvr_num_video(n.dvr_name), sensors = get_dvr_num_video2(n.dvr_name);
  std::vector<AlarmSpot> spots =
      notice_alarms(emap_tables(), emap_start_target, emap_selected_target(), emap_map_name, n,
                    video < 0 ? 0 : video, sensors < 0 ? 0 : sensors, &found);
  if (!found) {
    printf("[%s:%d] No found!\n", kSource, __LINE__);
    return;
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
  // mailslot_create_reader prints "[...]Error : Don't create mailslot!" itself.
  int reader = mailslot_create_reader();
  if (reader < 0) return reinterpret_cast<void*>(1);
  uint8_t buf[EVENT_NOTICE_SIZE];
  for (;;) {
    const int r = mailslot_read(reader, buf, sizeof buf, -1);
    if (r == 0 || r == MAILSLOT_WRONG_SIZE) continue;  // a stray message is dropped
    if (r < 0) {
      mailslot_close_reader(reader);
      return reinterpret_cast<void*>(2);
    }
    const EVENT_NOTICE n = decode_event_notice(buf);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gdk_threads_enter();
    handle_notice(n);
    gdk_threads_leave();
    G_GNUC_END_IGNORE_DEPRECATIONS
  }
}

void* locate_spot_on_emap(void*) {
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
  std::vector<std::string> words =
      spot_window_argv(vigilo_path(), dvr_name ? dvr_name : "", channel, login_user, login_password);
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
