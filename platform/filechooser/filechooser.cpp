// filechooser DIR: a modal "Open" dialog for recorded files, centred on the screen and opening
// in DIR, with the filters "ZOL Files", "DAT Files", "AVI Files" and "All Files". Only an
// existing regular file is accepted; a name typed without an extension that exists with
// ".zol" is taken with it. Prints the chosen path on standard output and ends with 0, or
// ends with 1 when the operator cancels or closes the dialog, 2 when there is no display.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool regular_file(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void add_filter(GtkWidget* chooser, const char* name, const char* pattern) {
  GtkFileFilter* f = gtk_file_filter_new();
  gtk_file_filter_set_name(f, name);
  gtk_file_filter_add_pattern(f, pattern);
  gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(chooser), f);
}

// The file of the answer, or "" when it names none that exists.
std::string existing_choice(GtkWidget* chooser) {
  gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
  std::string path = name ? name : "";
  g_free(name);
  if (path.empty() || regular_file(path)) return path;
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if ((dot == std::string::npos || (slash != std::string::npos && dot < slash)) &&
      regular_file(path + ".zol"))
    return path + ".zol";
  return "";
}

// Ends without the exit-time leak check: GTK keeps its caches to the end by design.
[[noreturn]] void finish(int code) {
  fflush(stdout);
  _exit(code);
}

}  // namespace

int main(int argc, char** argv) {
  gtk_disable_setlocale();
  if (!gtk_init_check(&argc, &argv)) finish(2);
  GtkWidget* chooser = gtk_file_chooser_dialog_new("Open", nullptr, GTK_FILE_CHOOSER_ACTION_OPEN,
                                                   GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL,
                                                   GTK_STOCK_OPEN, GTK_RESPONSE_ACCEPT, nullptr);
  gtk_window_set_position(GTK_WINDOW(chooser), GTK_WIN_POS_CENTER);
  gtk_window_set_keep_above(GTK_WINDOW(chooser), TRUE);
  add_filter(chooser, "ZOL Files", "*.zol");
  add_filter(chooser, "DAT Files", "*.dat");
  add_filter(chooser, "AVI Files", "*.avi");
  add_filter(chooser, "All Files", "*");
  if (argc > 1 && argv[1][0])
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), argv[1]);
  // An answer that names no existing file leaves the dialog open, as a path must exist.
  for (;;) {
    if (gtk_dialog_run(GTK_DIALOG(chooser)) != GTK_RESPONSE_ACCEPT) finish(1);
    const std::string path = existing_choice(chooser);
    if (!path.empty()) {
      fputs(path.c_str(), stdout);
      finish(0);
    }
  }
}
