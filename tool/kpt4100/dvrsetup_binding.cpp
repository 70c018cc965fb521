// The DVR Setup pages bound to the edata record: widgets to page values and back (the
// values themselves go to and from the record in edata_model), the sub-page loaders and
// storers, and the handlers that keep the pages consistent.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "tool/kpt4100/client/dvrsetup_client.h"
#include "tool/kpt4100/dvrsetup_internal.h"
#include "tool/kpt4100/dvrsetup_window.h"
#include "tool/kpt4100/eeprom_file.h"
#include "tool/language.h"

namespace {

struct Quiet {
  Quiet() { ++dvr_ui.quiet; }
  ~Quiet() { --dvr_ui.quiet; }
};

int active(GtkWidget* combo) { return combo ? gtk_combo_box_get_active(GTK_COMBO_BOX(combo)) : -1; }
void set_active(GtkWidget* combo, int item) {
  if (combo && item >= -1) gtk_combo_box_set_active(GTK_COMBO_BOX(combo), item);
}
std::string entry_text(GtkWidget* e) { return e ? gtk_entry_get_text(GTK_ENTRY(e)) : ""; }
void set_entry(GtkWidget* e, const std::string& text) {
  if (!e) return;
  // The DVR's bytes may not be UTF-8: show what is valid of them.
  gchar* shown = g_utf8_make_valid(text.c_str(), -1);
  gtk_entry_set_text(GTK_ENTRY(e), shown);
  g_free(shown);
}

void clear_combo(GtkWidget* combo, int count) {
  for (int i = count - 1; i >= 0; --i) gtk_combo_box_text_remove(GTK_COMBO_BOX_TEXT(combo), i);
}

// The resolution combos' items for a video format (0 NTSC, 1 PAL).
void fill_resolution_items(int video_format) {
  static const char* const kNtsc[3] = {"lbl_352x240", "lbl_720x240", "lbl_720x480"};
  static const char* const kPal[3] = {"lbl_352x288", "lbl_720x288", "lbl_720x576"};
  const int items = dvr_ui.has_480 ? 3 : 2;
  for (RecordRowUi& r : dvr_ui.rec) {
    clear_combo(r.res, dvr_ui.res_items);
    for (int i = 0; i < items; ++i)
      gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(r.res),
                                     lookup_label_text((video_format ? kPal : kNtsc)[i]));
  }
  dvr_ui.res_items = items;
}

// Every row's frame-rate combo gets the list of (resolution item, format) and shows the
// all-cameras default.
void refill_fps(int res, int pal) {
  const FpsList& list = fps_list(res, pal);
  for (size_t row = 0; row < dvr_ui.rec.size(); ++row) {
    RecordRowUi& r = dvr_ui.rec[row];
    clear_combo(r.fps, r.fps_items);
    const int count = row == 0 ? list.all_count : list.count;
    for (int i = 0; i < count; ++i)
      gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(r.fps),
                                     std::to_string(list.values[i]).c_str());
    r.fps_items = count;
    gtk_combo_box_set_active(GTK_COMBO_BOX(r.fps), list.all_count - 1);
  }
  dvr_ui.list_res = res < 0 || res > 2 ? 0 : res;
  dvr_ui.list_pal = pal ? 1 : 0;
}

MainPages read_main_pages() {
  MainPages p = blank_pages(dvr_ui.n, dvr_ui.has_480);
  p.sys.language = active(dvr_ui.sys_language);
  p.sys.video_format = active(dvr_ui.sys_video);
  p.sys.screen_saver = active(dvr_ui.sys_saver);
  for (size_t row = 0; row < p.cam.size() && row < dvr_ui.cam.size(); ++row) {
    const CameraRowUi& u = dvr_ui.cam[row];
    CameraRowValues& v = p.cam[row];
    v.name = entry_text(u.name);
    v.hide = active(u.hide);
    v.audio = active(u.audio);
  }
  for (size_t row = 0; row < p.rec.size() && row < dvr_ui.rec.size(); ++row) {
    const RecordRowUi& u = dvr_ui.rec[row];
    RecordRowValues& v = p.rec[row];
    v.mode = active(u.mode);
    v.resolution = active(u.res);
    v.quality = active(u.quality);
    v.fps = active(u.fps);
    v.audio = active(u.audio);
  }
  p.rec_list_res = dvr_ui.list_res;
  p.rec_list_pal = dvr_ui.list_pal;
  NetworkPageValues& n = p.net;
  n.ip_mode = active(dvr_ui.ip_mode);
  n.port = entry_text(dvr_ui.port);
  n.ip = entry_text(dvr_ui.ip);
  n.netmask = entry_text(dvr_ui.netmask);
  n.gateway = entry_text(dvr_ui.gateway);
  n.name_server = entry_text(dvr_ui.name_server);
  n.pppoe_enabled = entry_text(dvr_ui.pppoe_status) != get_label_text("def_DISABLE");
  n.pppoe_user = entry_text(dvr_ui.pppoe_user);
  n.pppoe_pass = entry_text(dvr_ui.pppoe_pass);
  n.ddns_server = active(dvr_ui.ddns_server);
  n.ddns_host = entry_text(dvr_ui.ddns_host);
  n.ddns_user = entry_text(dvr_ui.ddns_user);
  n.ddns_pass = entry_text(dvr_ui.ddns_pass);
  return p;
}

bool busy_or_empty() { return is_dvrsetup_busy() || !get_edata(); }

int channel_of(int row) { return row == 0 ? dvr_ui.n : row - 1; }

}  // namespace

// ---- main pages ---------------------------------------------------------------------------

void load_system_page() {
  Quiet q;
  MainPages p = read_main_pages();
  const int before = p.sys.video_format;
  load_system_values(get_edata(), &p);
  const uint8_t format = get_edata()[ED_VIDEO_FORMAT];
  if (format <= 1) {
    set_active(dvr_ui.sys_video, p.sys.video_format);
    fill_resolution_items(format);
  }
  (void)before;
  set_active(dvr_ui.sys_language, p.sys.language);
  set_active(dvr_ui.sys_saver, p.sys.screen_saver);
}

void load_camera_page() {
  Quiet q;
  MainPages p = read_main_pages();
  load_camera_values(get_edata(), &p);
  for (size_t row = 0; row < dvr_ui.cam.size(); ++row) {
    const CameraRowUi& u = dvr_ui.cam[row];
    const CameraRowValues& v = p.cam[row];
    set_active(u.hide, v.hide);
    set_active(u.audio, v.audio);
    if (row == 0) continue;
    set_entry(u.name, v.name);
    gtk_button_set_label(GTK_BUTTON(u.ptz),
                         get_label_text(v.ptz_on ? LabelKey("def_ON") : LabelKey("def_OFF")));
  }
}

void load_record_page() {
  Quiet q;
  MainPages p = read_main_pages();
  load_record_values(get_edata(), &p);
  refill_fps(p.rec_list_res, p.rec_list_pal);
  for (size_t row = 0; row < dvr_ui.rec.size(); ++row) {
    const RecordRowUi& u = dvr_ui.rec[row];
    const RecordRowValues& v = p.rec[row];
    set_active(u.res, v.resolution);
    set_active(u.fps, v.fps);
    set_active(u.quality, v.quality);
    set_active(u.mode, v.mode);
    set_active(u.audio, v.audio);
  }
}

void load_network_page() {
  MainPages p = read_main_pages();
  load_network_values(get_edata(), &p);
  const NetworkPageValues& n = p.net;
  set_active(dvr_ui.ip_mode, n.ip_mode);
  gtk_spin_button_set_value(GTK_SPIN_BUTTON(dvr_ui.port), atoi(n.port.c_str()));
  set_entry(dvr_ui.ip, n.ip);
  set_entry(dvr_ui.netmask, n.netmask);
  set_entry(dvr_ui.gateway, n.gateway);
  set_entry(dvr_ui.name_server, n.name_server);
  gtk_entry_set_text(
      GTK_ENTRY(dvr_ui.pppoe_status),
      get_label_text(n.pppoe_enabled ? LabelKey("def_ENABLE") : LabelKey("def_DISABLE")));
  set_entry(dvr_ui.pppoe_user, n.pppoe_user);
  set_entry(dvr_ui.pppoe_pass, n.pppoe_pass);
  set_active(dvr_ui.ddns_server, n.ddns_server);
  set_entry(dvr_ui.ddns_host, n.ddns_host);
  set_entry(dvr_ui.ddns_user, n.ddns_user);
  set_entry(dvr_ui.ddns_pass, n.ddns_pass);
}

int load_edata_to_pages() {
  const int rc = read_eeprom_file(kEepromFile);
  if (rc == -2) return rc;  // a damaged record fills nothing
  load_system_page();
  load_camera_page();
  load_record_page();
  load_network_page();
  set_ok_buttons_sensitive(rc == 0 && dvrsetup_fetched());
  return rc;
}

int store_pages_to_edata() {
  uint8_t* ed = get_edata();
  if (busy_or_empty()) return -1;
  const char* error = nullptr;
  const int rc = store_all_values(read_main_pages(), ed, &error);
  fflush(stdout);
  if (rc < 0 && error) {
    const std::string text = lookup_label_text(error);
    show_dvrsetup_error(text.c_str());
  }
  return rc;
}

void set_ok_buttons_sensitive(int flag) {
  for (GtkWidget* ok : dvr_ui.ok)
    if (ok) gtk_widget_set_sensitive(ok, flag != 0);
}

// ---- sub-pages ----------------------------------------------------------------------------

void open_ptz_page(GtkWidget*, int row) {
  if (busy_or_empty()) return;
  show_page(PG_PTZ);
  const std::string all = get_label_text("def_ALL");
  set_channel_title(PG_PTZ, "PTZ", row, all.c_str());
  load_ptz_page(row);
}

void open_color_page(GtkWidget*, int row) {
  if (busy_or_empty()) return;
  show_page(PG_COLOR);
  set_channel_title(PG_COLOR, "COLOR", row, "All");
  load_color_page(row);
}

void load_ptz_page(int row) {
  if (!get_edata()) return;
  dvr_ui.selected = channel_of(row);
  PtzValues v;
  load_ptz_values(get_edata(), dvr_ui.selected, &v);
  set_radio(dvr_ui.ptz_protocol, 4, v.protocol);
  gtk_spin_button_set_value(GTK_SPIN_BUTTON(dvr_ui.ptz_address), v.address);
  set_radio(dvr_ui.ptz_speed, 4, v.speed);
}

int store_ptz_page() {
  if (!get_edata()) return -1;
  PtzValues v;
  v.protocol = active_radio(dvr_ui.ptz_protocol, 4);
  v.address = int(std::lround(gtk_spin_button_get_value(GTK_SPIN_BUTTON(dvr_ui.ptz_address))));
  v.speed = active_radio(dvr_ui.ptz_speed, 4);
  store_ptz_values(v, get_edata(), dvr_ui.selected, dvr_ui.n);
  return 0;
}

void load_color_page(int row) {
  if (!get_edata()) return;
  dvr_ui.selected = channel_of(row);
  ColorValues v;
  for (int i = 0; i < 4; ++i) v.level[i] = active_radio(dvr_ui.color_level[i], 5);
  load_color_values(get_edata(), dvr_ui.selected, &v);
  for (int i = 0; i < 4; ++i) set_radio(dvr_ui.color_level[i], 5, v.level[i]);
  set_radio(dvr_ui.color_sharp, 2, v.sharpness);
}

int store_color_page() {
  if (!get_edata()) return -1;
  ColorValues v;
  for (int i = 0; i < 4; ++i) v.level[i] = active_radio(dvr_ui.color_level[i], 5);
  v.sharpness = active_radio(dvr_ui.color_sharp, 2);
  store_color_values(v, get_edata(), dvr_ui.selected, dvr_ui.n);
  return 0;
}

void load_sensor_page(int row) {
  if (!get_edata()) return;
  dvr_ui.selected = channel_of(row);
  SensorValues v;
  v.post_record = active(dvr_ui.sensor_post);
  v.alarm_time = active(dvr_ui.sensor_alarm);
  load_sensor_values(get_edata(), dvr_ui.selected, &v);
  set_radio(dvr_ui.sensor_type, 2, v.nc ? 1 : 0);
  set_radio(dvr_ui.sensor_popup, 2, v.popup ? 0 : 1);
  set_radio(dvr_ui.sensor_pre, 2, v.pre_record ? 0 : 1);
  set_active(dvr_ui.sensor_post, v.post_record);
  set_active(dvr_ui.sensor_alarm, v.alarm_time);
}

int store_sensor_page() {
  if (busy_or_empty()) return -1;
  SensorValues v;
  v.nc = active_radio(dvr_ui.sensor_type, 2) == 1;
  v.popup = active_radio(dvr_ui.sensor_popup, 2) == 0;
  v.pre_record = active_radio(dvr_ui.sensor_pre, 2) == 0;
  v.post_record = active(dvr_ui.sensor_post);
  v.alarm_time = active(dvr_ui.sensor_alarm);
  store_sensor_values(v, get_edata(), dvr_ui.selected, dvr_ui.n);
  return 0;
}

int store_motion_page() {
  if (busy_or_empty() || dvr_ui.motion_grid.cells.size() != size_t(MOTION_CELLS)) return -1;
  MotionValues v;
  v.sensitivity = active(dvr_ui.motion_sens);
  v.popup = active_radio(dvr_ui.motion_popup, 2) == 0;
  v.trace = active_radio(dvr_ui.motion_trace, 2) == 0;
  v.pre_record = active_radio(dvr_ui.motion_pre, 2) == 0;
  v.post_record = active(dvr_ui.motion_post);
  v.alarm_time = active(dvr_ui.motion_alarm);
  read_motion_area(v.area);
  store_motion_values(v, get_edata(), dvr_ui.selected, dvr_ui.n);
  return 0;
}

int store_schedule_page() {
  if (busy_or_empty() || dvr_ui.sched_grid.cells.size() != size_t(SCHED_CELLS)) return -1;
  uint8_t cells[SCHED_CELLS];
  for (int i = 0; i < SCHED_CELLS; ++i)
    cells[i] = uint8_t(dvr_ui.sched_grid.cells[size_t(i)].state);
  store_schedule_cells(cells, get_edata(), dvr_ui.selected, dvr_ui.n);
  return 0;
}

// ---- consistency handlers -------------------------------------------------------------------

namespace {
// The All check box of a camera table: while it is on, row 0 (every camera) is edited and the
// camera rows take its `copied` columns; while it is off, each camera row is edited.
template <class Row>
void switch_all_rows(std::vector<Row>& rows, bool all,
                     std::initializer_list<GtkWidget * Row::*> columns,
                     std::initializer_list<GtkWidget * Row::*> copied) {
  if (rows.empty()) return;
  for (GtkWidget* Row::*c : columns) gtk_widget_set_sensitive(rows[0].*c, all);
  for (size_t row = 1; row < rows.size(); ++row) {
    for (GtkWidget* Row::*c : columns) gtk_widget_set_sensitive(rows[row].*c, !all);
    if (!all) continue;
    for (GtkWidget* Row::*c : copied) set_active(rows[row].*c, active(rows[0].*c));
  }
}
}  // namespace

void on_camera_allsel_toggled(GtkWidget* toggle, gpointer) {
  const bool all = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(toggle));
  switch_all_rows(dvr_ui.cam, all,
                  {&CameraRowUi::ptz, &CameraRowUi::hide, &CameraRowUi::color, &CameraRowUi::audio},
                  {&CameraRowUi::hide});
  // One camera carries audio at a time: the all-cameras row never sets it.
  if (!dvr_ui.cam.empty()) gtk_widget_set_sensitive(dvr_ui.cam[0].audio, FALSE);
}

void on_camera_all_hide_changed(GtkWidget* combo, gpointer) {
  if (dvr_ui.quiet || !dvr_ui.cam_allsel ||
      !gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(dvr_ui.cam_allsel)))
    return;
  for (size_t row = 1; row < dvr_ui.cam.size(); ++row)
    set_active(dvr_ui.cam[row].hide, active(combo));
}

void on_camera_audio_changed(GtkWidget* combo, gpointer row) {
  if (dvr_ui.quiet || active(combo) != 1) return;
  // At most one camera carries audio.
  for (size_t r = 1; r < dvr_ui.cam.size(); ++r)
    if (int(r) != GPOINTER_TO_INT(row) && active(dvr_ui.cam[r].audio) == 1)
      set_active(dvr_ui.cam[r].audio, 0);
}

void on_record_allsel_toggled(GtkWidget* toggle, gpointer) {
  const bool all = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(toggle));
  switch_all_rows(
      dvr_ui.rec, all,
      {&RecordRowUi::mode, &RecordRowUi::type, &RecordRowUi::res, &RecordRowUi::quality,
       &RecordRowUi::fps, &RecordRowUi::audio},
      {&RecordRowUi::quality, &RecordRowUi::fps, &RecordRowUi::mode, &RecordRowUi::audio});
}

void on_resolution_changed(GtkWidget* combo, gpointer) {
  if (dvr_ui.quiet) return;
  Quiet q;
  const int item = active(combo);
  for (RecordRowUi& r : dvr_ui.rec) set_active(r.res, item);
  const int row1 = dvr_ui.rec.size() > 1 ? active(dvr_ui.rec[1].res) : item;
  refill_fps(row1, active(dvr_ui.sys_video) == 1);
}

namespace {
void follow_all_row(GtkWidget* RecordRowUi::*column) {
  if (dvr_ui.quiet || dvr_ui.rec.empty() || !dvr_ui.rec_allsel ||
      !gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(dvr_ui.rec_allsel)))
    return;
  const int item = active(dvr_ui.rec[0].*column);
  for (size_t row = 1; row < dvr_ui.rec.size(); ++row) set_active(dvr_ui.rec[row].*column, item);
}
}  // namespace

void on_all_fps_changed(GtkWidget*, gpointer) { follow_all_row(&RecordRowUi::fps); }
void on_all_quality_changed(GtkWidget*, gpointer) { follow_all_row(&RecordRowUi::quality); }
void on_all_rec_mode_changed(GtkWidget*, gpointer) { follow_all_row(&RecordRowUi::mode); }
void on_all_audio_changed(GtkWidget*, gpointer) { follow_all_row(&RecordRowUi::audio); }
