// The event and system log viewer windows. GTK main thread only.
//
// Each window starts on today's day file and steps through the days its index lists
// (log_index.h). A list fills in slices from the GTK main loop, so the window shows at once
// and keeps answering however large the day file is; a new fill, or closing the window,
// stops the one under way. A click on a column header sorts the list off the main loop
// (log_model.h), with a progress bar under the list until the sorted list is in place; a
// sort asked for during a fill starts when the fill ends.
#pragma once

#include <gtk/gtk.h>

// Mode "logview": the event log window titled "ZOL - Log View"; closing it ends the tool's
// main loop.
void create_logview_window();
// The system log window titled "ZOL - System Log View", opened from the Client Setup
// window; closing it destroys that window only.
void create_syslog_window();

// Makes the "Previous log" and "Next log" buttons of `log` (LOG_EVENT, LOG_SYSTEM) sensitive
// exactly when there is a previous or next name.
void update_log_nav_buttons(int log);
// Refill the window's list from the day file of cur_log_name (created empty when missing).
void fill_event_log_list();
void fill_syslog_list();

// Titles the callers look windows up by.
constexpr const char* kLogviewTitle = "ZOL - Log View";
constexpr const char* kSyslogTitle = "ZOL - System Log View";

// What tests and the benchmark look at: the window of `log` (null when not open), its
// list, its model, its two buttons and the sort's progress bar; whether its fill, or a sort
// (asked for and not yet in place), is under way.
struct LogWindowParts {
  GtkWidget* window;
  GtkWidget* view;
  GtkTreeModel* model;
  GtkWidget* prev;
  GtkWidget* next;
  GtkWidget* progress;
};
LogWindowParts log_window_parts(int log);
bool log_fill_running(int log);
bool log_sort_running(int log);
