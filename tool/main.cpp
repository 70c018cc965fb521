// auxdesk: the setup tool. One process serves one mode word: it checks the operator against
// setup.cfg, opens the mode's window and runs the GTK main loop until that window ends it.
#include <gtk/gtk.h>
#include <pthread.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "client/foundation/config/setup_config.h"
#include "client/foundation/config/setup_lookup.h"
#include "client/foundation/config/utils.h"
#include "tool/browse.h"
#include "tool/emap/gui_emap/emap_events.h"
#include "tool/emap/gui_emap/emap_window.h"
#include "tool/entry.h"
#include "tool/kpt4100/client/dvrsetup_client.h"
#include "tool/kpt4100/dvrsetup_window.h"
#include "tool/language.h"
#include "tool/module/gui_setup/dialogs.h"
#include "tool/module/gui_setup/gui_setup.h"
#include "tool/module/logview/logview.h"
#include "tool/setup_snapshot.h"

char login_user[131];
char login_password[195];
char setup_dvr_name[131];

namespace {

// The fetch thread of mode "dvrsetup", when started; the process ends after it.
pthread_t fetch_thread;
bool fetch_thread_started = false;

// Copies an argument into a login field; false when it is longer than the field, since no
// [USER] or [DVR] entry can hold such a value.
template <size_t N>
bool copy_login(char (&field)[N], const char* arg) {
  if (strlen(arg) >= N) return false;
  copy_field(field, arg);
  return true;
}

int usage() {
  printf("%s", kUsageText);
  fflush(stdout);
  return -1;
}

// Mode "dvrsetup": 0 to run the main loop, or the exit code.
int start_dvrsetup(int argc, char** argv, const SetupSnapshot& s) {
  if (argc < 6) {
    create_dvrsetup_window("");
    return 0;
  }
  if (tool_protocol_code(argv[5]) != PROTOCOL_Q) {
    show_error_dialog("\nDVR Setup is not available for the selected DVR model.");
    return -4;
  }
  printf("dvrname:%s\n", argv[4]);
  fflush(stdout);
  for (const RC_DVR_INFO& d : s.dvr) {
    gchar* local = g_locale_from_utf8(d.name, -1, nullptr, nullptr, nullptr);
    if (local && strcmp(local, argv[4]) == 0) {
      copy_field(login_user, d.username);
      copy_field(login_password, d.password);
    }
    g_free(local);
  }
  copy_field(setup_dvr_name, argv[4]);
  create_dvrsetup_window(argv[4]);
  if (pthread_create(&fetch_thread, nullptr, dvrsetup_fetch_thread, nullptr) != 0) {
    show_error_dialog("Thread error.");
    return -3;
  }
  fetch_thread_started = true;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // A save that hits the file size limit must fail and be reported, not end the tool.
  signal(SIGXFSZ, SIG_IGN);
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gdk_threads_init();
  gdk_threads_enter();
  G_GNUC_END_IGNORE_DEPRECATIONS
  const bool display = gtk_init_check(&argc, &argv);
  // buf_level and every other number of setup.cfg are written and read with a '.'.
  setlocale(LC_NUMERIC, "C");

  if (argc < 4) return usage();
  if (load_setup_info(kSetupPath) < 0) {
    printf("load_setup_info() failed.\n");
    return -1;
  }
  SetupSnapshot s = take_setup_snapshot();
  choose_language_file(s);

  bool fits = copy_login(login_user, argv[2]) && copy_login(login_password, argv[3]);
  // The password stays in login_password only: /proc and ps show the wiped argument.
  memset(argv[3], 0, strlen(argv[3]));
  if (!fits || !is_valid_user(login_user, login_password)) return -1;

  const char* mode = argv[1];
  bool known = !strcmp(mode, "browse") || !strcmp(mode, "setup") || !strcmp(mode, "emap") ||
               !strcmp(mode, "dvrsetup") || !strcmp(mode, "logview");
  // No window would ever end the loop of an unknown mode.
  if (!known) return usage();
  if (!display) {
    printf("auxdesk: cannot open the display.\n");
    return -1;
  }

  if (!strcmp(mode, "browse")) {
    create_browse_window();
  } else if (!strcmp(mode, "setup")) {
    create_setup_window(login_user, login_password);
  } else if (!strcmp(mode, "emap")) {
    create_emap_window(argc > 4 ? argv[4] : "");
  } else if (!strcmp(mode, "dvrsetup")) {
    int rc = start_dvrsetup(argc, argv, s);
    if (rc != 0) return rc;
  } else {
    create_logview_window();
  }

  gtk_main();
  kill_child_processes();
  // A fetch thread still running may need the GDK lock to finish.
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gdk_threads_leave();
  G_GNUC_END_IGNORE_DEPRECATIONS
  // A fetch still under way completes before the process ends.
  if (fetch_thread_started) pthread_join(fetch_thread, nullptr);
  return fetch_thread_started ? dvrsetup_exit_code() : 0;
}
