// The event and system log windows: layout, day stepping, the sliced fill of the lists and
// the progress of a sort.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "tool/module/logview/log_index.h"
#include "tool/module/logview/log_lines.h"
#include "tool/module/logview/log_model.h"
#include "tool/module/logview/logview.h"

namespace {

// One fill slice runs at most this long, so the main loop never stalls for more.
constexpr gint64 kSliceUs = 15000;
// Column widths come from this many first rows; every later row takes the same height.
constexpr int kFitRows = 200;
// A column of long lines stays narrow enough that the window fits the screen.
constexpr int kMaxColumnWidth = 360;
// How often the window looks at a sort under way.
constexpr guint kSortPollMs = 20;

struct LogWindow {
  GtkWidget* window = nullptr;
  GtkWidget* view = nullptr;
  GtkWidget* prev = nullptr;
  GtkWidget* next = nullptr;
  GtkWidget* progress = nullptr;  // shown while a sort is under way
  GtkTreeModel* model = nullptr;  // our reference; the view holds its own
  guint sort_poll = 0;
  // The fill under way.
  guint source = 0;
  FILE* file = nullptr;
  std::unique_ptr<LogLineReader> reader;
};

LogWindow windows[2];

const char* const kEventTitles[] = {"number", "date&time", "dvr name", "channel name"};
const char* const kSystemTitles[] = {"No", "date&time", "Type", "Window", "Information"};

int n_columns(int log) { return log == LOG_SYSTEM ? 5 : 4; }
const char* column_title(int log, int i) {
  return log == LOG_SYSTEM ? kSystemTitles[i] : kEventTitles[i];
}

// Ends the fill under way; a sort asked for meanwhile starts unless `sort` is false.
void stop_fill(LogWindow& w, bool sort = true) {
  if (w.source) g_source_remove(w.source);
  w.source = 0;
  w.reader.reset();
  if (w.file) fclose(w.file);
  w.file = nullptr;
  if (w.model && sort) log_model_set_filling(w.model, false);
}

// Appends rows until the file ends (false) or the slice's time is up (true).
bool fill_slice(LogWindow& w, int log) {
  const gint64 end = g_get_monotonic_time() + kSliceUs;
  std::string line;
  std::string_view part[4];
  for (int n = 0;; ++n) {
    if ((n & 63) == 63 && g_get_monotonic_time() >= end) return true;
    if (!w.reader->next(&line)) return false;
    const std::string text = valid_utf8(line);
    split_log_line(log, text, part);
    log_model_append(w.model, part);
  }
}

gboolean on_fill_slice(gpointer data) {
  const int log = GPOINTER_TO_INT(data);
  LogWindow& w = windows[log];
  if (fill_slice(w, log)) return TRUE;
  w.source = 0;  // this source ends by returning FALSE
  stop_fill(w);
  return FALSE;
}

// Gives every column a fixed width that fits its title and the first rows (widths only
// grow), so rows need no measuring and a list of millions scrolls like a short one.
void fit_columns(LogWindow& w, int log) {
  PangoLayout* layout = gtk_widget_create_pango_layout(w.view, nullptr);
  auto text_width = [layout](const char* text) {
    int width = 0, height = 0;
    pango_layout_set_text(layout, text, -1);
    pango_layout_get_pixel_size(layout, &width, &height);
    return width;
  };
  GtkTreeModel* model = w.model;
  for (int c = 0; c < n_columns(log); ++c) {
    // The title with room for the sort arrow; the number column for seven digits.
    int width = text_width(column_title(log, c)) + 20;
    if (c == 0) width = std::max(width, text_width("0000000"));
    GtkTreeIter it;
    gboolean valid = gtk_tree_model_get_iter_first(model, &it);
    for (int r = 0; valid && r < kFitRows && c > 0; ++r) {
      gchar* s = nullptr;
      gtk_tree_model_get(model, &it, c, &s, -1);
      if (s) width = std::max(width, text_width(s));
      g_free(s);
      valid = gtk_tree_model_iter_next(model, &it);
    }
    width = std::min(width + 12, kMaxColumnWidth);
    GtkTreeViewColumn* col = gtk_tree_view_get_column(GTK_TREE_VIEW(w.view), c);
    width = std::max(width, gtk_tree_view_column_get_fixed_width(col));
    gtk_tree_view_column_set_fixed_width(col, width);
  }
  g_object_unref(layout);
}

// A sort runs on the model's worker: the bar shows how far it got, and the sorted order goes
// in place from here once it is done.
gboolean on_sort_poll(gpointer data) {
  LogWindow& w = windows[GPOINTER_TO_INT(data)];
  double fraction = 0;
  if (w.model && !log_model_finish_sort(w.model, GTK_TREE_VIEW(w.view)) &&
      log_model_sorting(w.model, &fraction)) {
    gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(w.progress), fraction);
    return TRUE;
  }
  gtk_widget_hide(w.progress);
  w.sort_poll = 0;
  return FALSE;
}

void on_sort_request(gpointer data) {
  LogWindow& w = windows[GPOINTER_TO_INT(data)];
  if (!w.progress) return;
  gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(w.progress), 0);
  gtk_widget_show(w.progress);
  if (!w.sort_poll) w.sort_poll = g_timeout_add(kSortPollMs, on_sort_poll, data);
}

void fill_list(int log) {
  LogWindow& w = windows[log];
  if (!w.view) return;
  stop_fill(w, false);
  // A fresh model each time: emptying a large one row by row would stall the window. The
  // order the operator chose is kept: its sort starts when the fill ends.
  GtkTreeModel* model = log_model_new(n_columns(log) - 1);
  log_model_set_filling(model, true);
  log_model_on_sort_request(model, on_sort_request, GINT_TO_POINTER(log));
  if (w.model) {
    gint sort_id = 0;
    GtkSortType order = GTK_SORT_ASCENDING;
    if (gtk_tree_sortable_get_sort_column_id(GTK_TREE_SORTABLE(w.model), &sort_id, &order))
      gtk_tree_sortable_set_sort_column_id(GTK_TREE_SORTABLE(model), sort_id, order);
    g_object_unref(w.model);  // its sort, if any, stops
  }
  w.model = model;
  gtk_tree_view_set_model(GTK_TREE_VIEW(w.view), model);

  // Only a name of the day-file form is ever opened; "a+" creates a missing day file.
  if (is_day_file_name(log, cur_log_name)) w.file = fopen(cur_log_name, "a+");
  if (!w.file) {
    stop_fill(w);
    return;
  }
  rewind(w.file);
  w.reader = std::make_unique<LogLineReader>(w.file);
  const bool more = fill_slice(w, log);
  fit_columns(w, log);
  if (more)
    w.source =
        g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, on_fill_slice, GINT_TO_POINTER(log), nullptr);
  else
    stop_fill(w);
}

void on_prev_clicked(GtkButton*, gpointer data) {
  const int log = GPOINTER_TO_INT(data);
  find_prev_log_file(log);
  update_log_nav_buttons(log);
  fill_list(log);
}

void on_next_clicked(GtkButton*, gpointer data) {
  const int log = GPOINTER_TO_INT(data);
  find_next_log_file(log);
  update_log_nav_buttons(log);
  fill_list(log);
}

gboolean on_logview_delete(GtkWidget*, GdkEvent*, gpointer) {
  stop_fill(windows[LOG_EVENT], false);
  gtk_main_quit();
  return FALSE;
}

void on_window_destroy(GtkWidget*, gpointer data) {
  const int log = GPOINTER_TO_INT(data);
  LogWindow& w = windows[log];
  stop_fill(w, false);
  if (w.sort_poll) g_source_remove(w.sort_poll);
  if (w.model) g_object_unref(w.model);  // a sort under way stops
  w = LogWindow{};
}

void build_window(int log, const char* title, const char* label_text, int width, int height) {
  LogWindow& w = windows[log];
  w.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow* win = GTK_WINDOW(w.window);
  gtk_window_set_title(win, title);
  gtk_window_set_icon_from_file(win, "./images/icon.bmp", nullptr);
  gtk_container_set_border_width(GTK_CONTAINER(win), 8);
  gtk_window_set_default_size(win, width, height);

  GtkWidget* box = gtk_vbox_new(FALSE, 8);
  gtk_container_add(GTK_CONTAINER(win), box);
  gtk_box_pack_start(GTK_BOX(box), gtk_label_new(label_text), FALSE, FALSE, 0);

  GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_ETCHED_IN);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_NEVER,
                                 GTK_POLICY_AUTOMATIC);
  gtk_box_pack_start(GTK_BOX(box), scroll, TRUE, TRUE, 0);

  w.view = gtk_tree_view_new();
  GtkTreeView* view = GTK_TREE_VIEW(w.view);
  gtk_tree_view_set_rules_hint(view, TRUE);
  gtk_tree_view_set_search_column(view, log == LOG_SYSTEM ? 4 : 3);
  for (int c = 0; c < n_columns(log); ++c) {
    GtkCellRenderer* cell = gtk_cell_renderer_text_new();
    GtkTreeViewColumn* col =
        gtk_tree_view_column_new_with_attributes(column_title(log, c), cell, "text", c, nullptr);
    gtk_tree_view_column_set_sort_column_id(col, c);
    gtk_tree_view_column_set_resizable(col, TRUE);
    gtk_tree_view_column_set_sizing(col, GTK_TREE_VIEW_COLUMN_FIXED);
    gtk_tree_view_column_set_fixed_width(col, 1);
    gtk_tree_view_append_column(view, col);
  }
  gtk_tree_view_set_fixed_height_mode(view, TRUE);
  gtk_container_add(GTK_CONTAINER(scroll), w.view);

  w.progress = gtk_progress_bar_new();
  gtk_widget_set_no_show_all(w.progress, TRUE);
  gtk_box_pack_start(GTK_BOX(box), w.progress, FALSE, FALSE, 0);

  GtkWidget* buttons = gtk_hbox_new(TRUE, 4);
  w.prev = gtk_button_new_with_label("Previous log");
  w.next = gtk_button_new_with_label("Next log");
  gtk_box_pack_start(GTK_BOX(buttons), w.prev, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(buttons), w.next, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(box), buttons, FALSE, FALSE, 0);
  g_signal_connect(w.prev, "clicked", G_CALLBACK(on_prev_clicked), GINT_TO_POINTER(log));
  g_signal_connect(w.next, "clicked", G_CALLBACK(on_next_clicked), GINT_TO_POINTER(log));
  g_signal_connect(w.window, "destroy", G_CALLBACK(on_window_destroy), GINT_TO_POINTER(log));

  open_today_log_file(log);
  update_log_nav_buttons(log);
  fill_list(log);
  gtk_widget_show_all(w.window);
}

}  // namespace

void update_log_nav_buttons(int log) {
  LogWindow& w = windows[log == LOG_SYSTEM ? LOG_SYSTEM : LOG_EVENT];
  if (w.prev) gtk_widget_set_sensitive(w.prev, prev_log_name[0] != '\0');
  if (w.next) gtk_widget_set_sensitive(w.next, next_log_name[0] != '\0');
}

void fill_event_log_list() { fill_list(LOG_EVENT); }
void fill_syslog_list() { fill_list(LOG_SYSTEM); }

void create_logview_window() {
  if (windows[LOG_EVENT].window) return;
  build_window(LOG_EVENT, kLogviewTitle, "The log list.", 100, 600);
  g_signal_connect(windows[LOG_EVENT].window, "delete-event", G_CALLBACK(on_logview_delete),
                   nullptr);
}

void create_syslog_window() {
  if (windows[LOG_SYSTEM].window) {
    gtk_window_present(GTK_WINDOW(windows[LOG_SYSTEM].window));
    return;
  }
  build_window(LOG_SYSTEM, kSyslogTitle, "The System log list.", 900, 400);
}

LogWindowParts log_window_parts(int log) {
  const LogWindow& w = windows[log == LOG_SYSTEM ? LOG_SYSTEM : LOG_EVENT];
  return {w.window, w.view, w.model, w.prev, w.next, w.progress};
}

bool log_fill_running(int log) {
  return windows[log == LOG_SYSTEM ? LOG_SYSTEM : LOG_EVENT].source != 0;
}

bool log_sort_running(int log) {
  const LogWindow& w = windows[log == LOG_SYSTEM ? LOG_SYSTEM : LOG_EVENT];
  return w.model && log_model_sorting(w.model, nullptr);
}
