// The event and system log windows: layout, day stepping and the sliced fill of the lists.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "tool/module/logview/log_index.h"
#include "tool/module/logview/log_lines.h"
#include "tool/module/logview/logview.h"

namespace {

// One fill slice runs at most this long, so the main loop never stalls for more.
constexpr gint64 kSliceUs = 15000;
// Column widths come from this many first rows; every later row takes the same height.
constexpr int kFitRows = 200;
// A column of long lines stays narrow enough that the window fits the screen.
constexpr int kMaxColumnWidth = 360;

struct LogWindow {
  GtkWidget* window = nullptr;
  GtkWidget* view = nullptr;
  GtkWidget* prev = nullptr;
  GtkWidget* next = nullptr;
  GtkListStore* store = nullptr;  // our reference; the view holds its own
  // The fill under way.
  guint source = 0;
  FILE* file = nullptr;
  std::unique_ptr<LogLineReader> reader;
  guint row = 0;
};

LogWindow windows[2];

const char* const kEventTitles[] = {"number", "date&time", "dvr name", "channel name"};
const char* const kSystemTitles[] = {"No", "date&time", "Type", "Window", "Information"};

int n_columns(int log) { return log == LOG_SYSTEM ? 5 : 4; }
const char* column_title(int log, int i) {
  return log == LOG_SYSTEM ? kSystemTitles[i] : kEventTitles[i];
}

void stop_fill(LogWindow& w) {
  if (w.source) g_source_remove(w.source);
  w.source = 0;
  w.reader.reset();
  if (w.file) fclose(w.file);
  w.file = nullptr;
}

// Appends rows until the file ends (false) or the slice's time is up (true).
bool fill_slice(LogWindow& w, int log) {
  const gint64 end = g_get_monotonic_time() + kSliceUs;
  std::string line;
  std::string cell[4];
  std::string_view part[4];
  for (int n = 0;; ++n) {
    if ((n & 63) == 63 && g_get_monotonic_time() >= end) return true;
    if (!w.reader->next(&line)) return false;
    const std::string text = valid_utf8(line);
    const int cells = split_log_line(log, text, part);
    for (int i = 0; i < cells; ++i) cell[i].assign(part[i]);
    if (log == LOG_SYSTEM)
      gtk_list_store_insert_with_values(w.store, nullptr, -1, 0, w.row, 1, cell[0].c_str(), 2,
                                        cell[1].c_str(), 3, cell[2].c_str(), 4, cell[3].c_str(),
                                        -1);
    else
      gtk_list_store_insert_with_values(w.store, nullptr, -1, 0, w.row, 1, cell[0].c_str(), 2,
                                        cell[1].c_str(), 3, cell[2].c_str(), -1);
    ++w.row;
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
  GtkTreeModel* model = GTK_TREE_MODEL(w.store);
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

// Sorting by a header compares texts byte by byte (numbers as numbers): locale collation of
// every pair would keep a list of a million rows sorting for minutes.
gint compare_rows(GtkTreeModel* model, GtkTreeIter* a, GtkTreeIter* b, gpointer column) {
  const int c = GPOINTER_TO_INT(column);
  if (c == 0) {
    guint x = 0, y = 0;
    gtk_tree_model_get(model, a, 0, &x, -1);
    gtk_tree_model_get(model, b, 0, &y, -1);
    return x < y ? -1 : x > y;
  }
  gchar *x = nullptr, *y = nullptr;
  gtk_tree_model_get(model, a, c, &x, -1);
  gtk_tree_model_get(model, b, c, &y, -1);
  const int r = g_strcmp0(x, y);
  g_free(x);
  g_free(y);
  return r;
}

void fill_list(int log) {
  LogWindow& w = windows[log];
  if (!w.view) return;
  stop_fill(w);
  // A fresh store each time: emptying a large one row by row would stall the window. The
  // order the operator chose is kept.
  GtkListStore* store =
      log == LOG_SYSTEM
          ? gtk_list_store_new(5, G_TYPE_UINT, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING,
                               G_TYPE_STRING)
          : gtk_list_store_new(4, G_TYPE_UINT, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING);
  for (int c = 0; c < n_columns(log); ++c)
    gtk_tree_sortable_set_sort_func(GTK_TREE_SORTABLE(store), c, compare_rows, GINT_TO_POINTER(c),
                                    nullptr);
  if (w.store) {
    gint sort_id = 0;
    GtkSortType order = GTK_SORT_ASCENDING;
    if (gtk_tree_sortable_get_sort_column_id(GTK_TREE_SORTABLE(w.store), &sort_id, &order))
      gtk_tree_sortable_set_sort_column_id(GTK_TREE_SORTABLE(store), sort_id, order);
    g_object_unref(w.store);
  }
  w.store = store;
  gtk_tree_view_set_model(GTK_TREE_VIEW(w.view), GTK_TREE_MODEL(store));

  // Only a name of the day-file form is ever opened; "a+" creates a missing day file.
  if (!is_day_file_name(log, cur_log_name)) return;
  w.file = fopen(cur_log_name, "a+");
  if (!w.file) return;
  rewind(w.file);
  w.reader = std::make_unique<LogLineReader>(w.file);
  w.row = 1;
  const bool more = fill_slice(w, log);
  fit_columns(w, log);
  if (more)
    w.source = g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, on_fill_slice, GINT_TO_POINTER(log),
                               nullptr);
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
  stop_fill(windows[LOG_EVENT]);
  gtk_main_quit();
  return FALSE;
}

void on_window_destroy(GtkWidget*, gpointer data) {
  const int log = GPOINTER_TO_INT(data);
  LogWindow& w = windows[log];
  stop_fill(w);
  if (w.store) g_object_unref(w.store);
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
  return {w.window, w.view, w.store, w.prev, w.next};
}

bool log_fill_running(int log) {
  return windows[log == LOG_SYSTEM ? LOG_SYSTEM : LOG_EVENT].source != 0;
}
