// The recorded-file browser.
#include "tool/browse.h"

#include <cstring>

#include "client/foundation/config/setup_config.h"
#include "tool/setup_snapshot.h"

namespace {

RC_SYSTEM_INFO browse_system;
GtkWidget* window = nullptr;
GtkWidget* chooser = nullptr;

gboolean end_mode(GtkWidget*, GdkEvent*, gpointer) {
  gtk_main_quit();
  return FALSE;
}

GtkWidget* place_button(GtkWidget* fixed, const char* label, int x, int y) {
  GtkWidget* b = gtk_button_new_with_label(label);
  gtk_widget_set_size_request(b, 80, 30);
  gtk_fixed_put(GTK_FIXED(fixed), b, x, y);
  return b;
}

}  // namespace

std::string browse_start_folder(const char* rec_path) {
  if (!rec_path) return "";
  if (strcmp(rec_path, ".") == 0) return "/";
  std::string folder = rec_path;
  for (char& c : folder)
    if (c == '\\') c = '/';
  return folder;
}

gboolean on_browse_ok(GtkWidget*, GdkEventButton*, gpointer) {
  gtk_main_quit();
  return FALSE;
}

int create_browse_window() {
  GtkFileFilter* filter = gtk_file_filter_new();
  reload_setup_cfg();  // a failure is reported there; the browser goes on without rec_path
  copy_system_info(&browse_system);

  window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_position(GTK_WINDOW(window), GTK_WIN_POS_CENTER);
  gtk_widget_set_size_request(window, 625, 500);
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  GtkWidget* fixed = gtk_fixed_new();
  gtk_container_add(GTK_CONTAINER(window), fixed);

  chooser = gtk_file_chooser_widget_new(GTK_FILE_CHOOSER_ACTION_OPEN);
  gtk_widget_set_size_request(chooser, 600, 400);
  gtk_fixed_put(GTK_FIXED(fixed), chooser, 10, 10);
  // A folder that does not exist leaves the chooser in its own default folder.
  std::string folder = browse_start_folder(browse_system.rec_path);
  if (!folder.empty() && !g_path_is_absolute(folder.c_str())) {
    gchar* cwd = g_get_current_dir();
    folder = std::string(cwd) + "/" + folder;
    g_free(cwd);
  }
  if (!folder.empty() && g_file_test(folder.c_str(), G_FILE_TEST_IS_DIR))
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), folder.c_str());

  gtk_file_filter_set_name(filter, "ZOL Files");
  gtk_file_filter_add_pattern(filter, "*.zol");
  gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), filter);

  GtkWidget* ok = place_button(fixed, "OK", 530, 440);
  GtkWidget* cancel = place_button(fixed, "Cancel", 445, 440);
  g_signal_connect(window, "delete-event", G_CALLBACK(end_mode), nullptr);
  g_signal_connect(cancel, "button-press-event", G_CALLBACK(end_mode), nullptr);
  g_signal_connect(ok, "button-press-event", G_CALLBACK(on_browse_ok), nullptr);
  gtk_widget_show_all(window);
  return 0;
}

GtkWidget* browse_window() { return window; }
GtkWidget* browse_chooser() { return chooser; }
