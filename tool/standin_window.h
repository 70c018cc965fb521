// The window a mode shows until the Part that builds it lands: an empty top-level window
// with the mode's title, so the client can find, raise and close it. Used only by the
// *_pending.cpp files; goes with the last of them. GTK main thread only.
#pragma once

#include <gtk/gtk.h>

// Shows it; closing it ends the GTK main loop when `ends_loop`, else destroys it alone.
inline GtkWidget* open_standin_window(const char* title, bool ends_loop) {
  GtkWidget* w = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  if (title) gtk_window_set_title(GTK_WINDOW(w), title);
  gtk_window_set_default_size(GTK_WINDOW(w), 320, 200);
  gtk_window_set_position(GTK_WINDOW(w), GTK_WIN_POS_CENTER);
  if (ends_loop) g_signal_connect(w, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  gtk_widget_show_all(w);
  return w;
}
