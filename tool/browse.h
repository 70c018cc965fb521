// Mode "browse": a chooser of the client's recorded files (".zol") in the record folder.
// Nothing consumes the chosen file: every way out ends the mode. GTK main thread only.
#pragma once

#include <gtk/gtk.h>

#include <string>

// Builds and shows the browser window; OK, Cancel or closing it ends the main loop.
// Returns 0.
int create_browse_window();

// The OK button's press: ends the main loop; FALSE passes the press on.
gboolean on_browse_ok(GtkWidget* widget, GdkEventButton* event, gpointer data);

// The folder the chooser starts in for a [SYSTEM] rec_path: "/" (the system drive) for
// exactly ".", else rec_path with '\' read as '/'.
std::string browse_start_folder(const char* rec_path);

// The window and its chooser while the mode runs (null before), for tests.
GtkWidget* browse_window();
GtkWidget* browse_chooser();
