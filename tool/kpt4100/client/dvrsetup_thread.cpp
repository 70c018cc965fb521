// The fetch thread of mode "dvrsetup" and the window's services it shares with Save and
// Close: the status line, the busy test, the error box and the end of the process.
#include <pthread.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/system/message_box.h"
#include "platform/sync/thread_name.h"
#include "tool/entry.h"
#include "tool/kpt4100/client/dvrsetup_client.h"
#include "tool/kpt4100/dvrsetup_internal.h"
#include "tool/kpt4100/dvrsetup_window.h"

namespace {

std::atomic<int> exit_code{0};

// A failure's status text, also on standard output for the log.
void fail_status(const char* text) {
  printf("%s\n", text);
  fflush(stdout);
  set_dvrsetup_status(text);
}

// Runs `f` under the GDK lock unless the window is going away.
template <typename F>
void with_gui(F&& f) {
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  gdk_threads_enter();
  if (!dvr_ui.closing) f();
  gdk_flush();
  gdk_threads_leave();
  G_GNUC_END_IGNORE_DEPRECATIONS
}

const char* login_status(int rc) {
  switch (rc) {
    case -6: return " Startup failed.";
    case -5: return " Error in opening socket.";
    case -4: return " Cannot connect to server: unknown host.";
    case -3: return " Error on connecting on port.";
    case 0: return " Server login failed.";
    case 2: return " Unknown Host Type.";
    case 3: return " DDNS is not yet supported.";
    default: return nullptr;
  }
}

// A record that fails its CRC ends the process with code 1, from the main thread and after
// the operator has seen why.
gboolean report_crc_error(gpointer) {
  show_dvrsetup_error("CRC Check ERROR!!!");
  exit_code.store(1);
  dvr_ui.closing = true;
  dvrsetup_client_stop();
  gtk_main_quit();
  return FALSE;
}

}  // namespace

void* dvrsetup_fetch_thread(void*) {
  set_current_thread_name("dvrsetup fetch");
  const int rc = dvrsetup_client(setup_dvr_name, login_user, login_password, DVRSETUP_LOGIN);
  if (rc != 1) {
    if (const char* text = login_status(rc)) with_gui([&] { fail_status(text); });
    return nullptr;
  }
  with_gui([] { set_dvrsetup_status(" Retrieving setup data..."); });
  const int fetch = dvrsetup_client(setup_dvr_name, login_user, login_password, DVRSETUP_FETCH);
  const bool fetched = fetch == 1;
  with_gui([&] {
    if (fetched)
      set_dvrsetup_status(" Loading setup data...");
    else if (fetch == DVRSETUP_BAD_CRC)
      fail_status(" The settings received fail their CRC check; the old file is kept.");
    else
      fail_status(" Unable to retrieve setup data.");
    const int read = load_edata_to_pages();
    if (read == -2) {
      fail_status(" CRC Check ERROR!!!");
      G_GNUC_BEGIN_IGNORE_DEPRECATIONS
      gdk_threads_add_idle(report_crc_error, nullptr);
      G_GNUC_END_IGNORE_DEPRECATIONS
    } else if (fetched && read == 0) {
      set_dvrsetup_status(" ");
    } else if (fetched) {
      fail_status(" Unable to read setup data.");
    }
    // After a failed fetch the status keeps its text: the pages may show an earlier run's
    // file, which is never sent back.
  });
  return nullptr;
}

int set_dvrsetup_status(const char* text) {
  for (GtkWidget* s : dvr_ui.status)
    if (s) gtk_label_set_text(GTK_LABEL(s), text);
  return 0;
}

int is_dvrsetup_busy() {
  GtkWidget* s = dvr_ui.status[PG_RECORD] ? dvr_ui.status[PG_RECORD] : dvr_ui.status[PG_CAMERA];
  return s && strcmp(gtk_label_get_text(GTK_LABEL(s)), " ") == 0 ? 0 : 1;
}

void show_dvrsetup_error(const char* text) {
  BoxAnswer answer;
  if (unattended_box_answer("Error", text, BoxButtons::ok, &answer)) return;
  GtkWidget* d =
      gtk_message_dialog_new(dvr_ui.window ? GTK_WINDOW(dvr_ui.window) : nullptr,
                             GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
                             GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", text);
  gtk_window_set_title(GTK_WINDOW(d), "Error");
  gtk_window_set_position(GTK_WINDOW(d), GTK_WIN_POS_CENTER_ON_PARENT);
  gtk_dialog_run(GTK_DIALOG(d));
  gtk_widget_destroy(d);
}

void on_dvrsetup_close() {
  if (is_dvrsetup_busy()) {
    // The fetch thread may be waiting on the DVR: it gives up at once.
    dvrsetup_client_stop();
  } else {
    close_dvr_socket();
    printf("\n close DVRSETUP window \n");
    fflush(stdout);
  }
  dvr_ui.closing = true;
  gtk_main_quit();
}

int dvrsetup_exit_code() { return exit_code.load(); }
