// The event log list filled from day files of 10 k, 100 k lines and 100 MB: time to the first
// rows, whole fill, longest main-loop stall (and how many main-loop turns took over 50 ms),
// memory per row, beside a bare bounded line read of the same file; then a click on the
// "dvr name" header: the time until the sorted list is in place, the process's CPU time
// meanwhile (the sort and the main loop, so what one core spends) and the longest main-loop
// turn from the click on; then day steps through an index of 3650 days.
// Run on an X display (xvfb-run); writes its files under /tmp.
#include <gtk/gtk.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "client/foundation/config/system_log.h"
#include "tool/module/logview/log_index.h"
#include "tool/module/logview/log_lines.h"
#include "tool/module/logview/logview.h"

namespace {

using Clock = std::chrono::steady_clock;
double ms_since(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

std::string day_name(int log, int days_ago) {
  time_t now = time(nullptr) - time_t(days_ago) * 86400;
  struct tm t {};
  localtime_r(&now, &t);
  char name[64];
  strftime(name, sizeof name, log == LOG_SYSTEM ? "./logs/sys%Y%m%d.txt" : "./logs/%Y%m%d.txt", &t);
  return name;
}

// Today's event day file of `lines` lines (or of `bytes` bytes when lines is 0).
size_t write_day(size_t lines, size_t bytes) {
  const char* names[] = {"Lobby", "Gate 2", "Warehouse north gate", "Yard", "Parking level -1"};
  std::ofstream f(day_name(LOG_EVENT, 0), std::ios::binary | std::ios::trunc);
  char line[256];
  size_t n = 0, size = 0;
  for (; lines ? n < lines : size < bytes; ++n) {
    struct tm t {};
    time_t when = 1706695200 + time_t(n);
    gmtime_r(&when, &t);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &t);
    size_t len = format_event_log_line(line, sizeof line, int(n % 1023) + 1, stamp, names[n % 5],
                                       int(n % 16) + 1, n % 3 ? 0x02 : 0x20);
    f.write(line, std::streamsize(len)).put('\n');
    size += len + 1;
  }
  return n;
}

// How late a high-priority timeout of 5 ms runs: the longest time the window could not answer.
struct Probe {
  gint64 due = 0;
  double worst = 0;
  guint id = 0;
  void note(gint64 now) {
    worst = std::max(worst, double(now - due) / 1000.0);
    due = now + 5000;
  }
  static gboolean tick(gpointer self) {
    static_cast<Probe*>(self)->note(g_get_monotonic_time());
    return TRUE;
  }
  void start() {
    due = g_get_monotonic_time() + 5000;
    id = g_timeout_add_full(G_PRIORITY_HIGH, 5, tick, this, nullptr);
  }
  void stop() { g_source_remove(id); }
};

double cpu_ms() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return (double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e6 +
          double(u.ru_utime.tv_usec + u.ru_stime.tv_usec)) /
         1e3;
}

double bare_read_ms() {
  const auto t0 = Clock::now();
  FILE* fp = fopen(day_name(LOG_EVENT, 0).c_str(), "r");
  LogLineReader reader(fp);
  std::string line;
  size_t rows = 0;
  while (reader.next(&line)) rows += !line.empty();
  fclose(fp);
  return rows ? ms_since(t0) : 0;
}

void bench_size(const char* what, size_t lines, size_t bytes) {
  const size_t rows = write_day(lines, bytes);
  const double bare = bare_read_ms();
  const size_t heap0 = mallinfo2().uordblks;
  const auto t0 = Clock::now();
  create_logview_window();
  const double first = ms_since(t0);
  const size_t first_rows =
      size_t(gtk_tree_model_iter_n_children(log_window_parts(LOG_EVENT).model, nullptr));
  // One lone long iteration on a loaded machine is the scheduler's; the count shows
  // whether stalls are the fill's own.
  double stall = 0;
  int iterations = 0, over = 0;
  while (log_fill_running(LOG_EVENT)) {
    const auto t = Clock::now();
    gtk_main_iteration();
    const double took = ms_since(t);
    stall = std::max(stall, took);
    ++iterations;
    over += took > 50;
  }
  const double fill = ms_since(t0);
  while (gtk_events_pending()) gtk_main_iteration();
  const double per_row = double(mallinfo2().uordblks - heap0) / double(rows);
  // While sorting the loop mostly waits, so its stall is how late a timeout of ours runs.
  Probe probe;
  const double c0 = cpu_ms();
  const auto ts = Clock::now();
  probe.start();
  gtk_tree_view_column_clicked(
      gtk_tree_view_get_column(GTK_TREE_VIEW(log_window_parts(LOG_EVENT).view), 2));
  probe.note(g_get_monotonic_time());  // the click's own handling counts as well
  while (log_sort_running(LOG_EVENT)) gtk_main_iteration();
  const double sort = ms_since(ts), sort_cpu = cpu_ms() - c0;
  while (gtk_events_pending()) gtk_main_iteration();
  probe.stop();
  const double sort_stall = probe.worst;
  char stalls[32];
  snprintf(stalls, sizeof stalls, "%d/%d", over, iterations);
  printf("%-10s %9zu %10.1f %10.1f (%7zu) %10.0f %10.1f %11s %9.0f %10.0f %9.0f %10.1f\n", what,
         rows, bare, first, first_rows, fill, stall, stalls, per_row, sort, sort_cpu, sort_stall);
  fflush(stdout);
  gtk_widget_destroy(log_window_parts(LOG_EVENT).window);
  while (gtk_events_pending()) gtk_main_iteration();
}

void bench_index() {
  constexpr int kDays = 3650;
  {
    std::ofstream f("./logs/index.txt", std::ios::trunc);
    for (int d = kDays - 1; d >= 0; --d) f << day_name(LOG_EVENT, d) << '\n';
  }
  open_today_log_file(LOG_EVENT);
  auto t0 = Clock::now();
  int steps = 0;
  for (; prev_log_name[0]; ++steps) find_prev_log_file(LOG_EVENT);
  const double back = ms_since(t0) * 1000 / steps;
  t0 = Clock::now();
  for (int i = 0; next_log_name[0]; ++i) find_next_log_file(LOG_EVENT);
  const double fwd = ms_since(t0) * 1000 / steps;
  printf("\nindex of %d days: %d steps; %.0f us per step back, %.0f us per step forward\n", kDays,
         steps, back, fwd);
}

}  // namespace

int main(int argc, char** argv) {
  if (!gtk_init_check(&argc, &argv)) {
    printf("logview_bench: no X display (run it under xvfb-run)\n");
    return 0;
  }
  char tmpl[] = "/tmp/logview-bench-XXXXXX";
  if (!mkdtemp(tmpl)) return 1;
  std::filesystem::current_path(tmpl);
  std::filesystem::create_directory("logs");
  {  // GTK's first window loads the theme and fonts: not a cost of the list
    write_day(10, 0);
    create_logview_window();
    while (log_fill_running(LOG_EVENT) || gtk_events_pending()) gtk_main_iteration();
    gtk_widget_destroy(log_window_parts(LOG_EVENT).window);
  }
  printf(
      "Event log list (times in ms; targets: first rows <= 100, stall <= 50; a sort of 100 MB "
      "sorted <= 3000 on one core with no stall over 50)\n");
  printf("%-10s %9s %10s %10s %9s %10s %10s %11s %9s %10s %9s %10s\n", "day file", "rows",
         "bare read", "first rows", "(rows)", "whole fill", "max stall", ">50/loops", "B/row",
         "sorted in", "sort CPU", "sort stall");
  bench_size("10 k", 10000, 0);
  bench_size("100 k", 100000, 0);
  bench_size("100 MB", 0, size_t(100) << 20);
  bench_index();
  std::filesystem::current_path("/");
  std::filesystem::remove_all(tmpl);
  return 0;
}
