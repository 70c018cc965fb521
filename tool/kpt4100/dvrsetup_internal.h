// The DVR Setup window's widgets and state, shared by its page builders, the record binding
// and the grids (and the tests that drive them). GTK main thread, or the fetch thread with
// the GDK lock held.
#pragma once

#include <gtk/gtk.h>

#include <vector>

#include "tool/kpt4100/edata_model.h"
#include "tool/kpt4100/grid_model.h"

enum DvrPage : int {
  PG_CAMERA = 0,
  PG_PTZ,
  PG_COLOR,
  PG_RECORD,
  PG_MOTION,
  PG_SENSOR,
  PG_SCHEDULE,
  PG_NETWORK,
  PG_SYSTEM,
  PG_COUNT
};

struct CameraRowUi {
  GtkWidget *ptz = nullptr, *hide = nullptr, *color = nullptr, *audio = nullptr;
  GtkWidget *label = nullptr, *name = nullptr;  // rows 1..N
};
struct RecordRowUi {
  GtkWidget *mode = nullptr, *type = nullptr, *res = nullptr, *quality = nullptr;
  GtkWidget *fps = nullptr, *audio = nullptr, *label = nullptr;
  int fps_items = 0;  // entries now in the frame-rate combo
};

struct DvrSetupUi {
  GtkWidget* window = nullptr;
  GtkWidget* notebook = nullptr;
  GtkWidget* page[PG_COUNT] = {};
  GtkWidget* title[PG_COUNT] = {};
  GtkWidget* status[PG_COUNT] = {};
  GtkWidget* ok[PG_COUNT] = {};
  GtkWidget* close[PG_COUNT] = {};
  char dvr_name[131] = "";
  int n = 0;  // rows 1..n (0: no rows)
  int height = 430;
  int selected = 0;  // channel of the open sub-page; n for the all row
  bool has_480 = true;
  int res_items = 0;               // entries in each resolution combo
  int list_res = 0, list_pal = 0;  // the frame-rate list the combos hold
  int quiet = 0;                   // > 0 while the binding writes widgets: handlers stand still
  bool closing = false;  // the main loop is ending: the fetch thread leaves the widgets be

  GtkWidget* cam_allsel = nullptr;
  std::vector<CameraRowUi> cam;
  GtkWidget* rec_allsel = nullptr;
  std::vector<RecordRowUi> rec;

  GtkWidget* ptz_protocol[4] = {};
  GtkWidget* ptz_address = nullptr;
  GtkWidget* ptz_speed[4] = {};
  GtkWidget* color_level[4][5] = {};
  GtkWidget* color_sharp[2] = {};

  GtkWidget* motion_sens = nullptr;
  GtkWidget* motion_popup[2] = {};
  GtkWidget* motion_trace[2] = {};
  GtkWidget* motion_pre[2] = {};
  GtkWidget *motion_post = nullptr, *motion_alarm = nullptr;
  GtkWidget *motion_all = nullptr, *motion_clear = nullptr;

  GtkWidget* sensor_type[2] = {};
  GtkWidget* sensor_popup[2] = {};
  GtkWidget* sensor_pre[2] = {};
  GtkWidget *sensor_post = nullptr, *sensor_alarm = nullptr;

  GtkWidget *ip_mode = nullptr, *ip = nullptr, *port = nullptr, *netmask = nullptr;
  GtkWidget *gateway = nullptr, *name_server = nullptr;
  GtkWidget *pppoe_status = nullptr, *pppoe_user = nullptr, *pppoe_pass = nullptr;
  GtkWidget *ddns_server = nullptr, *ddns_host = nullptr, *ddns_user = nullptr,
            *ddns_pass = nullptr;

  GtkWidget *sys_language = nullptr, *sys_video = nullptr, *sys_saver = nullptr;

  Grid motion_grid, sched_grid;
  std::vector<GtkWidget*> motion_cells, sched_cells;
  std::vector<GtkWidget*> motion_button_bg, sched_button_bg;
};
extern DvrSetupUi dvr_ui;

// Widget helpers of the builders.
GtkWidget* dvr_put(GtkWidget* fixed, GtkWidget* w, int x, int y, int width, int height);
GtkWidget* dvr_label(GtkWidget* fixed, const char* text, int x, int y, int width, int height,
                     float xalign);
// A box of one radio group with the texts, packed expanding; buttons into out[].
GtkWidget* dvr_radio_box(GtkWidget* fixed, const char* const* texts, int count, GtkWidget** out,
                         int x, int y, int width, int height);
GtkWidget* dvr_combo(GtkWidget* fixed, const char* const* texts, int count, int x, int y, int width,
                     int height);
// Index of the active radio of a group, -1 when none.
int active_radio(GtkWidget* const* radios, int count);
void set_radio(GtkWidget* const* radios, int count, int index);
// Sets a sub-page's title: "<big>x4<b>WHAT CHANNEL %s</b>..." with def_ALL (or `all_text`)
// for row 0, else the row number.
void set_channel_title(int page, const char* what, int row, const char* all_text);
// Shows `page`, hides the others of its group and makes it the current page.
void show_page(int page);

// The grids' widgets (dvrsetup_grids.cpp).
void build_motion_grid(GtkWidget* fixed);
bool build_schedule_grid(GtkWidget* fixed);
// Loads the motion area into the grid from `area` (720 states).
void show_motion_area(const uint8_t* area);
void read_motion_area(uint8_t* area);

// Handlers of the record binding that keep the pages consistent (dvrsetup_binding.cpp).
void on_camera_allsel_toggled(GtkWidget* toggle, gpointer);
void on_camera_all_hide_changed(GtkWidget* combo, gpointer);
void on_camera_audio_changed(GtkWidget* combo, gpointer row);
void on_record_allsel_toggled(GtkWidget* toggle, gpointer);
void on_resolution_changed(GtkWidget* combo, gpointer);
void on_all_fps_changed(GtkWidget* combo, gpointer);
void on_all_quality_changed(GtkWidget* combo, gpointer);
void on_all_rec_mode_changed(GtkWidget* combo, gpointer);
void on_all_audio_changed(GtkWidget* combo, gpointer);
