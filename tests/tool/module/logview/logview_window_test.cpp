// The log windows in-process on a private X server: their rows, columns and buttons, and a
// fill that a step to another day or closing the window stops.
#include <gtk/gtk.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "tests/tool/gtk_fixture.h"
#include "tests/tool/module/logview/log_fixture.h"
#include "tool/module/logview/logview.h"

namespace {

class LogWindowTest : public GtkToolDir {
 protected:
  void TearDown() override {
    for (int log : {LOG_EVENT, LOG_SYSTEM})
      if (GtkWidget* w = log_window_parts(log).window) gtk_widget_destroy(w);
    pump();
    GtkToolDir::TearDown();
  }
  // Runs the main loop until the fill of `log` ends.
  static void fill_to_end(int log) {
    while (log_fill_running(log)) gtk_main_iteration();
    pump();
  }
  // Every row of the list of `log`, cells joined by " ; ".
  static std::vector<std::string> rows(int log) {
    std::vector<std::string> out;
    GtkTreeModel* m = log_window_parts(log).model;
    GtkTreeIter it;
    for (gboolean ok = gtk_tree_model_get_iter_first(m, &it); ok;
         ok = gtk_tree_model_iter_next(m, &it)) {
      guint number = 0;
      gtk_tree_model_get(m, &it, 0, &number, -1);
      std::string row = std::to_string(number);
      for (int c = 1; c < gtk_tree_model_get_n_columns(m); ++c) {
        gchar* s = nullptr;
        gtk_tree_model_get(m, &it, c, &s, -1);
        row += std::string(" ; ") + (s ? s : "");
        g_free(s);
      }
      out.push_back(row);
    }
    return out;
  }
  static std::string sensitivity(int log) {
    LogWindowParts p = log_window_parts(log);
    return std::string(gtk_widget_get_sensitive(p.prev) ? "prev" : "-") + "," +
           (gtk_widget_get_sensitive(p.next) ? "next" : "-");
  }
  static std::vector<std::string> titles(int log) {
    std::vector<std::string> out;
    GtkTreeView* v = GTK_TREE_VIEW(log_window_parts(log).view);
    for (int i = 0; GtkTreeViewColumn* c = gtk_tree_view_get_column(v, i); ++i)
      out.emplace_back(gtk_tree_view_column_get_title(c));
    return out;
  }
};

using V = std::vector<std::string>;

TEST_F(LogWindowTest, event_rows_are_numbered_in_file_order_and_the_buttons_follow_the_days) {
  write_event_lines(2, 1, "Gate 2");
  write_event_lines(1, 2, "Yard");
  uint64_t today = day_time(0);
  write_event_log("7|2024-01-31 10:00:00|Lobby|CH 03|Motion", &today);
  write_event_log("8|2024-01-31 10:00:01|Lobby|CH 04|Sensor", &today);
  create_logview_window();
  fill_to_end(LOG_EVENT);
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(log_window_parts(LOG_EVENT).window)),
               "ZOL - Log View");
  EXPECT_EQ(titles(LOG_EVENT), (V{"number", "date&time", "dvr name", "channel name"}));
  EXPECT_EQ(rows(LOG_EVENT), (V{"1 ; 2024-01-31 10:00:00 ; Lobby ; CH 03",
                                "2 ; 2024-01-31 10:00:01 ; Lobby ; CH 04"}));
  EXPECT_EQ(sensitivity(LOG_EVENT), "prev,-");

  gtk_button_clicked(GTK_BUTTON(log_window_parts(LOG_EVENT).prev));
  fill_to_end(LOG_EVENT);
  EXPECT_EQ(rows(LOG_EVENT), (V{"1 ; 2024-01-31 10:00:00 ; Yard ; CH 01",
                                "2 ; 2024-01-31 10:00:00 ; Yard ; CH 02"}));
  EXPECT_EQ(sensitivity(LOG_EVENT), "prev,next");
  gtk_button_clicked(GTK_BUTTON(log_window_parts(LOG_EVENT).prev));
  fill_to_end(LOG_EVENT);
  EXPECT_EQ(rows(LOG_EVENT), (V{"1 ; 2024-01-31 10:00:00 ; Gate 2 ; CH 01"}));
  EXPECT_EQ(sensitivity(LOG_EVENT), "-,next");

  // The day file is gone: an empty list, the buttons as the index says.
  std::filesystem::remove(dir_ / day_name(LOG_EVENT, 1));
  gtk_button_clicked(GTK_BUTTON(log_window_parts(LOG_EVENT).next));
  fill_to_end(LOG_EVENT);
  EXPECT_EQ(rows(LOG_EVENT), V{});
  EXPECT_EQ(sensitivity(LOG_EVENT), "prev,next");
}

TEST_F(LogWindowTest, without_logs_the_list_is_empty_and_a_login_line_shows_kind_and_user) {
  // No ./logs/ at all: the window opens with an empty list and both buttons off.
  create_syslog_window();
  fill_to_end(LOG_SYSTEM);
  EXPECT_EQ(rows(LOG_SYSTEM), V{});
  EXPECT_EQ(sensitivity(LOG_SYSTEM), "-,-");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "logs"));
  gtk_widget_destroy(log_window_parts(LOG_SYSTEM).window);
  pump();

  ASSERT_EQ(write_system_log(4, "guard", "guard"), 0);
  ASSERT_EQ(write_system_log(12, "guard", ""), 0);
  for (int round = 0; round < 2; ++round) {  // closed and opened again
    create_syslog_window();
    fill_to_end(LOG_SYSTEM);
    EXPECT_EQ(titles(LOG_SYSTEM), (V{"No", "date&time", "Type", "Window", "Information"}));
    V got = rows(LOG_SYSTEM);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].substr(0, 4), "1 ; ");
    EXPECT_EQ(got[0].substr(23), " ; LOGIN ; guard ; [guard] is login. ");
    EXPECT_EQ(got[1].substr(23), " ;  ; UNKNOW ; ") << "missing fields stay empty";
    EXPECT_EQ(sensitivity(LOG_SYSTEM), "-,-");
    gtk_widget_destroy(log_window_parts(LOG_SYSTEM).window);
    pump();
    EXPECT_EQ(log_window_parts(LOG_SYSTEM).window, nullptr);
  }
}

TEST_F(LogWindowTest, a_huge_day_fills_in_slices_and_a_step_or_closing_stops_the_fill) {
  write_event_lines(1, 3, "Yard");
  write_event_lines(0, 1, "Lobby");
  {  // 400000 more lines of today, in the client's line form
    std::ofstream f(dir_ / day_name(LOG_EVENT, 0), std::ios::app);
    char line[200];
    for (int i = 0; i < 400000; ++i) {
      format_event_log_line(line, sizeof line, i % 1023 + 1, "2024-01-31 10:00:00", "Lobby",
                            i % 16 + 1, 0x20);
      f << line << '\n';
    }
  }
  create_logview_window();
  ASSERT_TRUE(log_fill_running(LOG_EVENT));
  const size_t first = rows(LOG_EVENT).size();
  EXPECT_GT(first, 0u) << "the first rows are there when the window shows";
  for (int i = 0; i < 20; ++i) gtk_main_iteration();
  EXPECT_TRUE(log_fill_running(LOG_EVENT));

  gtk_button_clicked(GTK_BUTTON(log_window_parts(LOG_EVENT).prev));
  EXPECT_FALSE(log_fill_running(LOG_EVENT));
  for (int i = 0; i < 20; ++i) pump();
  EXPECT_EQ(rows(LOG_EVENT).size(), 3u) << "no row of the other day";

  gtk_button_clicked(GTK_BUTTON(log_window_parts(LOG_EVENT).next));
  ASSERT_TRUE(log_fill_running(LOG_EVENT));
  gtk_widget_destroy(log_window_parts(LOG_EVENT).window);
  EXPECT_FALSE(log_fill_running(LOG_EVENT));
  for (int i = 0; i < 20; ++i) pump();
}

// A click on a header sorts the list off the main loop: the click returns at once with the
// list as it was and the progress bar shown, a second click restarts the sort in the other
// order, and the list ends sorted (equal names in file order) with the bar gone. A step to
// another day keeps that order: its sort waits for the fill and then runs.
TEST_F(LogWindowTest, a_header_click_sorts_without_holding_the_window_and_a_second_restarts) {
  const char* names[] = {"Yard", "Lobby", "Gate 2", "Warehouse north gate", "Parking level -1"};
  write_event_lines(1, 3, "Gate 2");
  {
    std::ofstream f(dir_ / day_name(LOG_EVENT, 0), std::ios::app);
    char line[200];
    for (int i = 0; i < 200000; ++i) {
      format_event_log_line(line, sizeof line, i % 1023 + 1, "2024-01-31 10:00:00", names[i % 5],
                            i % 16 + 1, 0x02);
      f << line << '\n';
    }
  }
  create_logview_window();
  fill_to_end(LOG_EVENT);
  const LogWindowParts p = log_window_parts(LOG_EVENT);
  GtkTreeViewColumn* name = gtk_tree_view_get_column(GTK_TREE_VIEW(p.view), 2);
  auto wait_sorted = [] {
    const gint64 deadline = g_get_monotonic_time() + 120 * G_USEC_PER_SEC;
    while (log_sort_running(LOG_EVENT) && g_get_monotonic_time() < deadline) gtk_main_iteration();
    pump();
  };
  // Names in descending order, rows of one name by their numbers.
  auto expect_sorted_by_name_descending = [](size_t count) {
    const V got = rows(LOG_EVENT);
    ASSERT_EQ(got.size(), count);
    auto name_of = [](const std::string& row) {
      const size_t from = row.find(" ; ", row.find(" ; ") + 3) + 3;
      return row.substr(from, row.find(" ; ", from) - from);
    };
    for (size_t i = 1; i < got.size(); ++i) {
      const std::string a = name_of(got[i - 1]), b = name_of(got[i]);
      ASSERT_GE(a, b) << i;
      if (a == b) { ASSERT_LT(std::stoul(got[i - 1]), std::stoul(got[i])) << i; }
    }
  };

  gtk_tree_view_column_clicked(name);
  EXPECT_TRUE(log_sort_running(LOG_EVENT));
  EXPECT_TRUE(gtk_widget_get_visible(p.progress));
  EXPECT_EQ(rows(LOG_EVENT).front().substr(0, 4), "1 ; ") << "the list stays as it was meanwhile";
  gtk_tree_view_column_clicked(name);  // while sorting: descending, started again
  EXPECT_EQ(gtk_tree_view_column_get_sort_order(name), GTK_SORT_DESCENDING);
  wait_sorted();
  EXPECT_FALSE(log_sort_running(LOG_EVENT));
  EXPECT_FALSE(gtk_widget_get_visible(p.progress));
  EXPECT_TRUE(gtk_tree_view_column_get_sort_indicator(name));
  expect_sorted_by_name_descending(200000);
  EXPECT_EQ(rows(LOG_EVENT).front(), "1 ; 2024-01-31 10:00:00 ; Yard ; CH 01");
  EXPECT_EQ(rows(LOG_EVENT).back(), "199998 ; 2024-01-31 10:00:00 ; Gate 2 ; CH 14");

  gtk_button_clicked(GTK_BUTTON(log_window_parts(LOG_EVENT).prev));
  EXPECT_TRUE(log_sort_running(LOG_EVENT));
  fill_to_end(LOG_EVENT);
  wait_sorted();
  expect_sorted_by_name_descending(3);
  EXPECT_EQ(gtk_tree_view_column_get_sort_order(
                gtk_tree_view_get_column(GTK_TREE_VIEW(log_window_parts(LOG_EVENT).view), 2)),
            GTK_SORT_DESCENDING);
}

}  // namespace
