// The "ZOL DVR Setup" window: its nine pages, the navigation between pages and sub-pages,
// the network page's sensitivity rules and Save.
#include "tool/kpt4100/dvrsetup_window.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "client/foundation/config/setup_lookup.h"
#include "client/foundation/config/utils.h"
#include "tool/kpt4100/client/dvrsetup_client.h"
#include "tool/kpt4100/dvrsetup_internal.h"
#include "tool/kpt4100/eeprom_file.h"
#include "tool/language.h"

DvrSetupUi dvr_ui;

namespace {

std::string text_of(LabelKey key) { return get_label_text(key); }

const char* const kPageTitle[PG_COUNT] = {"lbl_CAMERA", "lbl_PTZ",     "lbl_COLOR",
                                          "lbl_DVRREC", "lbl_MOTION",  "lbl_SENSOR",
                                          "lbl_SCHED",  "lbl_NETWORK", "lbl_SYSTEM"};
const char* const kTab[PG_COUNT] = {"lbl_CAMERA", "lbl_CAMERA",  "lbl_CAMERA",
                                    "lbl_DVRREC", "lbl_DVRREC",  "lbl_DVRREC",
                                    "lbl_DVRREC", "lbl_NETWORK", "lbl_SYSTEM"};

// Texts of keys chosen from a table, copied (the lookup's buffer is reused).
std::vector<std::string> texts(std::initializer_list<const char*> keys) {
  std::vector<std::string> out;
  for (const char* k : keys) out.emplace_back(lookup_label_text(k));
  return out;
}
std::vector<const char*> c_strs(const std::vector<std::string>& v) {
  std::vector<const char*> out;
  for (const std::string& s : v) out.push_back(s.c_str());
  return out;
}
GtkWidget* combo_of(GtkWidget* fixed, std::initializer_list<const char*> keys, int x, int y, int w,
                    int h) {
  const std::vector<std::string> t = texts(keys);
  const std::vector<const char*> c = c_strs(t);
  return dvr_combo(fixed, c.data(), int(c.size()), x, y, w, h);
}
GtkWidget* radios_of(GtkWidget* fixed, std::initializer_list<const char*> keys, GtkWidget** out,
                     int x, int y, int w, int h) {
  const std::vector<std::string> t = texts(keys);
  const std::vector<const char*> c = c_strs(t);
  return dvr_radio_box(fixed, c.data(), int(c.size()), out, x, y, w, h);
}

const std::initializer_list<const char*> kDurationKeys = {"lbl_0_SECOND",   "lbl_1_SECOND",
                                                          "lbl_5_SECONDS",  "lbl_10_SECONDS",
                                                          "lbl_30_SECONDS", "lbl_60_SECONDS"};

gboolean on_delete(GtkWidget*, GdkEvent*, gpointer) {
  on_dvrsetup_close();
  return TRUE;  // the widgets stay until the process ends: the fetch thread may look at them
}
void on_save_clicked(GtkWidget*, gpointer) { on_dvrsetup_save(); }
void on_close_clicked(GtkWidget*, gpointer) { on_dvrsetup_close(); }
void on_record_done(GtkWidget* b, gpointer which) {
  on_record_subpage_done(b, GPOINTER_TO_INT(which));
}
void on_camera_done(GtkWidget* b, gpointer which) {
  on_camera_subpage_done(b, GPOINTER_TO_INT(which));
}
void on_setting(GtkWidget* b, gpointer row) { on_record_setting_clicked(b, GPOINTER_TO_INT(row)); }
void on_ptz(GtkWidget* b, gpointer row) { open_ptz_page(b, GPOINTER_TO_INT(row)); }
void on_color(GtkWidget* b, gpointer row) { open_color_page(b, GPOINTER_TO_INT(row)); }

// The frame every page has: title, separator, OK and Close, status.
void page_frame(int page, GCallback ok, GCallback close, gpointer ok_data, gpointer close_data) {
  GtkWidget* f = dvr_ui.page[page];
  const int h = dvr_ui.height;
  GtkWidget* title = dvr_label(f, "", 10, 0, 690, 50, 0.0f);
  gchar* markup = g_markup_printf_escaped("<big><big><big><big><b>%s</b></big></big></big></big>",
                                          lookup_label_text(kPageTitle[page]));
  gtk_label_set_markup(GTK_LABEL(title), markup);
  g_free(markup);
  dvr_ui.title[page] = title;
  dvr_put(f, gtk_hseparator_new(), 10, 40, 690, 10);
  GtkWidget* box = gtk_hbutton_box_new();
  gtk_box_set_spacing(GTK_BOX(box), 1);
  gtk_box_set_homogeneous(GTK_BOX(box), TRUE);
  dvr_ui.ok[page] = gtk_button_new_with_label(get_label_text("def_OK"));
  dvr_ui.close[page] = gtk_button_new_with_label(get_label_text("def_CLOSE"));
  gtk_box_pack_start(GTK_BOX(box), dvr_ui.ok[page], TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(box), dvr_ui.close[page], TRUE, TRUE, 0);
  g_signal_connect(dvr_ui.ok[page], "clicked", ok, ok_data);
  g_signal_connect(dvr_ui.close[page], "clicked", close, close_data);
  dvr_put(f, box, 530, h - 100, 160, 30);
  dvr_ui.status[page] = dvr_label(f, "Connecting...", 5, h - 90, 500, 20, 0.0f);
}

void main_frame(int page) {
  page_frame(page, G_CALLBACK(on_save_clicked), G_CALLBACK(on_close_clicked), nullptr, nullptr);
}

void row_label(GtkWidget* f, int row, int x, int w) {
  char text[160];
  snprintf(text, sizeof text, "%s %d", get_label_text("lbl_CAMERA"), row);
  dvr_label(f, text, x, (row + 3) * 30, w, 23, 0.0f);
}

struct Column {
  LabelKey key;
  int x, width;
};
// A page of one row per camera after row 0, which stands for all of them: the main frame and
// the column titles. Returns the number of rows (none without channels).
int table_page(int page, std::initializer_list<Column> columns) {
  main_frame(page);
  for (const Column& c : columns)
    dvr_label(dvr_ui.page[page], get_label_text(c.key), c.x, 50, c.width, 20, 0.0f);
  return dvr_ui.n > 0 ? dvr_ui.n + 1 : 0;
}
// The check box beside row 0 that switches between editing all cameras and each one.
GtkWidget* all_rows_switch(GtkWidget* f, GCallback toggled) {
  GtkWidget* b =
      dvr_put(f, gtk_check_button_new_with_label(get_label_text("def_ALLSEL")), 35, 90, -1, -1);
  g_signal_connect(b, "clicked", toggled, nullptr);
  return b;
}

void create_camera_page() {
  GtkWidget* f = dvr_ui.page[PG_CAMERA];
  const int rows = table_page(PG_CAMERA, {{"lbl_CAMERA", 50, 60},
                                          {"lbl_CAMNAME", 130, 100},
                                          {"lbl_PTZ", 250, 80},
                                          {"lbl_CAMERA_HIDE", 350, 80},
                                          {"lbl_COLOR", 450, 80},
                                          {"lbl_AUDIO", 550, 80}});
  dvr_ui.cam.assign(size_t(rows), {});
  for (int row = 0; row < rows; ++row) {
    CameraRowUi& r = dvr_ui.cam[size_t(row)];
    const int y = (row + 3) * 30;
    r.ptz = dvr_put(f,
                    gtk_button_new_with_label(row == 0 ? get_label_text("lbl_SETTING")
                                                       : get_label_text("def_OFF")),
                    250, y, 80, 23);
    g_signal_connect(r.ptz, "clicked", G_CALLBACK(on_ptz), GINT_TO_POINTER(row));
    r.hide = combo_of(f, {"def_OFF", "def_ON"}, 350, y, 80, 23);
    r.color = dvr_put(f, gtk_button_new_with_label(get_label_text("lbl_SETTING")), 450, y, 80, 23);
    g_signal_connect(r.color, "clicked", G_CALLBACK(on_color), GINT_TO_POINTER(row));
    r.audio = combo_of(f, {"def_OFF", "def_ON"}, 550, y, 80, 23);
    if (row == 0) {
      g_signal_connect(r.hide, "changed", G_CALLBACK(on_camera_all_hide_changed), nullptr);
      for (GtkWidget* w : {r.ptz, r.hide, r.color, r.audio}) gtk_widget_set_sensitive(w, FALSE);
      continue;
    }
    g_signal_connect(r.audio, "changed", G_CALLBACK(on_camera_audio_changed), GINT_TO_POINTER(row));
    row_label(f, row, 50, 60);
    r.name = dvr_put(f, gtk_entry_new(), 130, y, 100, 23);
    gtk_entry_set_max_length(GTK_ENTRY(r.name), 8);
  }
  if (rows > 0) dvr_ui.cam_allsel = all_rows_switch(f, G_CALLBACK(on_camera_allsel_toggled));
}

void create_ptz_page() {
  GtkWidget* f = dvr_ui.page[PG_PTZ];
  page_frame(PG_PTZ, G_CALLBACK(on_camera_done), G_CALLBACK(on_camera_done), GINT_TO_POINTER(1),
             GINT_TO_POINTER(0));
  dvr_label(f, get_label_text("lbl_PTZ_PROTOCOL"), 60, 93, 90, 20, 1.0f);
  dvr_label(f, get_label_text("lbl_PTZ_ADDRESS"), 60, 133, 90, 20, 1.0f);
  dvr_label(f, get_label_text("lbl_PTZ_SPEED"), 60, 173, 90, 20, 1.0f);
  radios_of(f, {"def_OFF", "lbl_PELCO_D", "lbl_PELCO_P", "lbl_WONWOO"}, dvr_ui.ptz_protocol, 170,
            90, 300, 23);
  dvr_ui.ptz_address = dvr_put(f, gtk_spin_button_new_with_range(0, 255, 1), 170, 130, 50, 23);
  gtk_entry_set_max_length(GTK_ENTRY(dvr_ui.ptz_address), 3);
  radios_of(f, {"lbl_2400", "lbl_4800", "lbl_9600", "lbl_19200"}, dvr_ui.ptz_speed, 170, 170, 300,
            23);
}

void create_color_page() {
  GtkWidget* f = dvr_ui.page[PG_COLOR];
  page_frame(PG_COLOR, G_CALLBACK(on_camera_done), G_CALLBACK(on_camera_done), GINT_TO_POINTER(2),
             GINT_TO_POINTER(0));
  const char* const keys[5] = {"lbl_CONTRAST", "lbl_BRIGHTNESS", "lbl_HUE", "lbl_SATURATION",
                               "lbl_SHARPNESS"};
  for (int i = 0; i < 5; ++i)
    dvr_label(f, lookup_label_text(keys[i]), 60, 93 + 40 * i, 60, 20, 0.0f);
  const char* const levels[5] = {"0%", "25%", "50%", "75%", "100%"};
  for (int i = 0; i < 4; ++i)
    dvr_radio_box(f, levels, 5, dvr_ui.color_level[i], 150, 90 + 40 * i, 300, 23);
  radios_of(f, {"def_ON", "def_OFF"}, dvr_ui.color_sharp, 150, 250, 300, 23);
}

void create_record_page() {
  GtkWidget* f = dvr_ui.page[PG_RECORD];
  const int rows = table_page(PG_RECORD, {{"lbl_CAMERA", 50, 80},
                                          {"lbl_REC_MODE", 140, 80},
                                          {"lbl_TYPE", 240, 60},
                                          {"lbl_RESOLUTION", 320, 80},
                                          {"lbl_QUALITY", 420, 80},
                                          {"lbl_FPS", 520, 60},
                                          {"lbl_AUDIO", 600, 60}});
  dvr_ui.rec.assign(size_t(rows), {});
  for (int row = 0; row < rows; ++row) {
    RecordRowUi& r = dvr_ui.rec[size_t(row)];
    const int y = (row + 3) * 30;
    r.mode = combo_of(f, {"lbl_FULLTIME", "lbl_RM_MOTION", "lbl_RM_SCHEDULE", "lbl_RM_SENSOR"}, 140,
                      y, 85, 23);
    gtk_combo_box_set_active(GTK_COMBO_BOX(r.mode), 0);
    r.type = dvr_put(f, gtk_button_new_with_label(get_label_text("lbl_SETTING")), 240, y, 60, 23);
    g_signal_connect(r.type, "clicked", G_CALLBACK(on_setting), GINT_TO_POINTER(row));
    r.res = dvr_put(f, gtk_combo_box_text_new(), 320, y, 80, 23);
    r.quality = combo_of(f, {"lbl_LOW", "lbl_STANDARD", "lbl_HIGH", "lbl_HIGHEST"}, 420, y, 85, 23);
    r.fps = dvr_put(f, gtk_combo_box_text_new(), 520, y, 60, 23);
    r.audio = combo_of(f, {"def_OFF", "def_ON"}, 600, y, 60, 23);
    if (row == 0) {
      for (GtkWidget* w : {r.mode, r.type, r.res, r.quality, r.fps, r.audio})
        gtk_widget_set_sensitive(w, FALSE);
    } else {
      row_label(f, row, 50, 70);
    }
  }
  if (rows > 0) dvr_ui.rec_allsel = all_rows_switch(f, G_CALLBACK(on_record_allsel_toggled));
  g_signal_connect(dvr_ui.window, "delete-event", G_CALLBACK(on_delete), nullptr);
}

void create_motion_page() {
  GtkWidget* f = dvr_ui.page[PG_MOTION];
  page_frame(PG_MOTION, G_CALLBACK(on_record_done), G_CALLBACK(on_record_done), GINT_TO_POINTER(1),
             GINT_TO_POINTER(0));
  dvr_label(f, get_label_text("lbl_SENSITIVITY"), 60, 63, 60, 20, 0.0f);
  const char* const levels[5] = {"LEVEL 1", "LEVEL 2", "LEVEL 3", "LEVEL 4", "LEVEL 5"};
  dvr_ui.motion_sens = dvr_combo(f, levels, 5, 130, 60, 130, 23);
  gtk_combo_box_set_active(GTK_COMBO_BOX(dvr_ui.motion_sens), 0);
  dvr_label(f, get_label_text("lbl_EVENT_POPUP"), 40, 90, 80, 20, 0.0f);
  radios_of(f, {"def_ON", "def_OFF"}, dvr_ui.motion_popup, 130, 90, 130, 23);
  dvr_label(f, get_label_text("lbl_MOTION_TRACE"), 40, 120, 80, 20, 0.0f);
  radios_of(f, {"def_ON", "def_OFF"}, dvr_ui.motion_trace, 130, 120, 130, 23);
  dvr_label(f, get_label_text("lbl_REC_PRE"), 40, 150, 80, 20, 0.0f);
  radios_of(f, {"def_ON", "def_OFF"}, dvr_ui.motion_pre, 130, 150, 130, 23);
  dvr_label(f, get_label_text("lbl_REC_POST"), 20, 181, 100, 20, 0.0f);
  dvr_ui.motion_post = combo_of(f, kDurationKeys, 130, 180, 130, 23);
  dvr_label(f, get_label_text("lbl_ALA_TIME"), 20, 211, 100, 20, 0.0f);
  dvr_ui.motion_alarm = combo_of(f, kDurationKeys, 130, 210, 130, 23);
  dvr_put(f, gtk_frame_new(get_label_text("lbl_MOTION_AREA")), 320, 45, 310, 260);
  build_motion_grid(f);
}

void create_sensor_page() {
  GtkWidget* f = dvr_ui.page[PG_SENSOR];
  page_frame(PG_SENSOR, G_CALLBACK(on_record_done), G_CALLBACK(on_record_done), GINT_TO_POINTER(2),
             GINT_TO_POINTER(0));
  dvr_label(f, get_label_text("lbl_SENSOR_TYPE"), 110, 70, 150, 20, 0.0f);
  radios_of(f, {"lbl_ST_NO", "lbl_ST_NC"}, dvr_ui.sensor_type, 270, 70, 230, 23);
  dvr_label(f, get_label_text("lbl_EVENT_POPUP"), 110, 110, 150, 20, 0.0f);
  radios_of(f, {"def_ON", "def_OFF"}, dvr_ui.sensor_popup, 270, 110, 230, 23);
  dvr_label(f, get_label_text("lbl_REC_PRE"), 110, 150, 150, 20, 0.0f);
  radios_of(f, {"def_ON", "def_OFF"}, dvr_ui.sensor_pre, 270, 150, 230, 23);
  dvr_label(f, get_label_text("lbl_REC_PO_TIME"), 110, 190, 150, 20, 0.0f);
  dvr_ui.sensor_post = combo_of(f, kDurationKeys, 270, 190, 230, 23);
  dvr_label(f, get_label_text("lbl_ALA_TIME"), 110, 230, 150, 20, 0.0f);
  dvr_ui.sensor_alarm = combo_of(f, kDurationKeys, 270, 230, 230, 23);
}

void create_schedule_page() {
  GtkWidget* f = dvr_ui.page[PG_SCHEDULE];
  if (rs_sched_ini() != 0) {
    printf("rs_sched_ini() failed.\n");
    GtkWidget* title = dvr_label(f, "", 10, 0, 690, 50, 0.0f);
    dvr_ui.title[PG_SCHEDULE] = title;
    dvr_put(f, gtk_hseparator_new(), 10, 40, 690, 10);
    return;
  }
  build_schedule_grid(f);
  page_frame(PG_SCHEDULE, G_CALLBACK(on_record_done), G_CALLBACK(on_record_done),
             GINT_TO_POINTER(3), GINT_TO_POINTER(0));
}

GtkWidget* net_entry(GtkWidget* f, int x, int y) {
  GtkWidget* e = dvr_put(f, gtk_entry_new(), x, y, 110, 23);
  gtk_entry_set_max_length(GTK_ENTRY(e), 15);
  return e;
}

void create_network_page() {
  GtkWidget* f = dvr_ui.page[PG_NETWORK];
  main_frame(PG_NETWORK);
  dvr_put(f, gtk_frame_new(get_label_text("lbl_GENERAL")), 90, 60, 250, 250);
  dvr_put(f, gtk_frame_new(get_label_text("lbl_PPPOE")), 370, 60, 250, 110);
  dvr_put(f, gtk_frame_new(get_label_text("lbl_DDNS")), 370, 170, 250, 140);
  dvr_label(f, get_label_text("lbl_IP_MODE"), 100, 93, 80, 20, 0.0f);
  dvr_ui.ip_mode = combo_of(f, {"lbl_IM_STATIC", "lbl_IM_DHCP", "lbl_PPPOE"}, 200, 90, 110, 23);
  dvr_label(f, get_label_text("lbl_IP"), 100, 128, 80, 20, 0.0f);
  dvr_ui.ip = net_entry(f, 200, 125);
  dvr_label(f, get_label_text("lbl_PORT"), 100, 163, 80, 20, 0.0f);
  dvr_ui.port = dvr_put(f, gtk_spin_button_new_with_range(0, 65535, 1), 200, 160, 110, 23);
  gtk_entry_set_max_length(GTK_ENTRY(dvr_ui.port), 5);
  gtk_spin_button_set_value(GTK_SPIN_BUTTON(dvr_ui.port), 2200);
  dvr_label(f, get_label_text("lbl_NETMASK"), 100, 198, 80, 20, 0.0f);
  dvr_ui.netmask = net_entry(f, 200, 195);
  dvr_label(f, get_label_text("lbl_GATEWAY"), 100, 233, 80, 20, 0.0f);
  dvr_ui.gateway = net_entry(f, 200, 230);
  dvr_label(f, get_label_text("lbl_NAME_SERVER"), 100, 268, 80, 20, 0.0f);
  dvr_ui.name_server = net_entry(f, 200, 265);
  dvr_label(f, get_label_text("lbl_STATUS"), 390, 83, 80, 20, 0.0f);
  dvr_ui.pppoe_status = dvr_put(f, gtk_entry_new(), 490, 80, 110, 23);
  gtk_editable_set_editable(GTK_EDITABLE(dvr_ui.pppoe_status), FALSE);
  dvr_label(f, get_label_text("lbl_USER_NAME"), 390, 113, 80, 20, 0.0f);
  dvr_ui.pppoe_user = net_entry(f, 490, 110);
  dvr_label(f, get_label_text("lbl_PASSWORD"), 390, 143, 80, 20, 0.0f);
  dvr_ui.pppoe_pass = net_entry(f, 490, 140);
  dvr_label(f, get_label_text("lbl_SERVER"), 390, 193, 80, 20, 0.0f);
  dvr_ui.ddns_server = combo_of(f, {"def_DISABLE", "def_ENABLE"}, 490, 190, 110, 23);
  dvr_label(f, get_label_text("lbl_HOST_NAME"), 390, 223, 80, 20, 0.0f);
  dvr_ui.ddns_host = net_entry(f, 490, 220);
  dvr_label(f, get_label_text("lbl_USER_NAME"), 390, 253, 80, 20, 0.0f);
  dvr_ui.ddns_user = net_entry(f, 490, 250);
  dvr_label(f, get_label_text("lbl_PASSWORD"), 390, 283, 80, 20, 0.0f);
  dvr_ui.ddns_pass = net_entry(f, 490, 280);
  g_signal_connect(dvr_ui.pppoe_status, "changed", G_CALLBACK(on_pppoe_status_changed), nullptr);
  g_signal_connect(dvr_ui.ddns_server, "changed", G_CALLBACK(on_ddns_server_changed), nullptr);
  g_signal_connect(dvr_ui.ip_mode, "changed", G_CALLBACK(on_ip_mode_changed), nullptr);
  gtk_combo_box_set_active(GTK_COMBO_BOX(dvr_ui.ip_mode), 0);
}

void create_system_page() {
  GtkWidget* f = dvr_ui.page[PG_SYSTEM];
  main_frame(PG_SYSTEM);
  dvr_label(f, get_label_text("lbl_LANGUAGE"), 30, 93, 100, 20, 0.0f);
  dvr_ui.sys_language = combo_of(f, {"lbl_ENGLISH"}, 140, 90, 100, 23);
  gtk_combo_box_set_active(GTK_COMBO_BOX(dvr_ui.sys_language), 0);
  dvr_label(f, get_label_text("lbl_VIDEO_FORMAT"), 30, 143, 100, 20, 0.0f);
  dvr_ui.sys_video = combo_of(f, {"lbl_VF_NTSC", "lbl_VF_PAL"}, 140, 140, 100, 23);
  dvr_label(f, get_label_text("lbl_SCREENSAVER"), 30, 193, 100, 20, 0.0f);
  dvr_ui.sys_saver =
      combo_of(f, {"def_NONE", "lbl_10MIN", "lbl_30MIN", "lbl_60MIN"}, 140, 190, 100, 23);
  gtk_combo_box_set_active(GTK_COMBO_BOX(dvr_ui.sys_saver), 0);
}

}  // namespace

// ---- helpers -------------------------------------------------------------------------------

GtkWidget* dvr_put(GtkWidget* fixed, GtkWidget* w, int x, int y, int width, int height) {
  gtk_widget_set_size_request(w, width, height);
  gtk_fixed_put(GTK_FIXED(fixed), w, x, y);
  return w;
}

GtkWidget* dvr_label(GtkWidget* fixed, const char* text, int x, int y, int width, int height,
                     float xalign) {
  GtkWidget* l = gtk_label_new(text);
  gtk_misc_set_alignment(GTK_MISC(l), xalign, 0.5f);
  return dvr_put(fixed, l, x, y, width, height);
}

GtkWidget* dvr_radio_box(GtkWidget* fixed, const char* const* texts, int count, GtkWidget** out,
                         int x, int y, int width, int height) {
  GtkWidget* box = gtk_hbox_new(FALSE, 0);
  GSList* group = nullptr;
  for (int i = 0; i < count; ++i) {
    GtkWidget* r = gtk_radio_button_new_with_label(group, texts[i]);
    group = gtk_radio_button_get_group(GTK_RADIO_BUTTON(r));
    gtk_box_pack_start(GTK_BOX(box), r, TRUE, TRUE, 0);
    out[i] = r;
  }
  return dvr_put(fixed, box, x, y, width, height);
}

GtkWidget* dvr_combo(GtkWidget* fixed, const char* const* texts, int count, int x, int y, int width,
                     int height) {
  GtkWidget* c = gtk_combo_box_text_new();
  for (int i = 0; i < count; ++i) gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(c), texts[i]);
  return dvr_put(fixed, c, x, y, width, height);
}

int active_radio(GtkWidget* const* radios, int count) {
  for (int i = 0; i < count; ++i)
    if (radios[i] && gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(radios[i]))) return i;
  return -1;
}

void set_radio(GtkWidget* const* radios, int count, int index) {
  if (index >= 0 && index < count && radios[index])
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(radios[index]), TRUE);
}

void set_channel_title(int page, const char* what, int row, const char* all_text) {
  if (!dvr_ui.title[page]) return;
  std::string which = row == 0 ? std::string(all_text) : std::to_string(row);
  gchar* markup = g_markup_printf_escaped(
      "<big><big><big><big><b>%s CHANNEL %s</b></big></big></big></big>", what, which.c_str());
  gtk_label_set_markup(GTK_LABEL(dvr_ui.title[page]), markup);
  g_free(markup);
}

void show_page(int page) {
  static const int kCameraGroup[] = {PG_CAMERA, PG_PTZ, PG_COLOR};
  static const int kRecordGroup[] = {PG_RECORD, PG_MOTION, PG_SENSOR, PG_SCHEDULE};
  const bool camera = page <= PG_COLOR;
  for (int p : camera ? std::vector<int>(std::begin(kCameraGroup), std::end(kCameraGroup))
                      : std::vector<int>(std::begin(kRecordGroup), std::end(kRecordGroup)))
    if (p != page) gtk_widget_hide(dvr_ui.page[p]);
  gtk_widget_show(dvr_ui.page[page]);
  gtk_notebook_set_current_page(GTK_NOTEBOOK(dvr_ui.notebook), page);
}

// ---- the window ----------------------------------------------------------------------------

void create_dvrsetup_window(const char* dvr_name) {
  GdkPixbuf* icon = gdk_pixbuf_new_from_file("./images/icon.bmp", nullptr);
  copy_field(dvr_ui.dvr_name, dvr_name ? dvr_name : "");
  const int count = get_dvr_num_video(dvr_ui.dvr_name);
  dvr_ui.n = edata_channels(count);
  dvr_ui.height = dvr_ui.n == 16 ? 720 : (dvr_ui.n == 8 ? 480 : 430);
  dvr_ui.selected = dvr_ui.n;
  const RC_DVR_INFO* info = find_dvr_info(dvr_ui.dvr_name);
  dvr_ui.has_480 = !(info && strcmp(info->model, "MW-2606QTR14") == 0);

  GtkWidget* w = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  dvr_ui.window = w;
  gtk_widget_set_size_request(w, 740, dvr_ui.height);
  gtk_window_set_title(GTK_WINDOW(w), kDvrSetupTitle);
  gtk_window_set_position(GTK_WINDOW(w), GTK_WIN_POS_CENTER);
  gtk_window_set_resizable(GTK_WINDOW(w), FALSE);
  if (icon) {
    gtk_window_set_icon(GTK_WINDOW(w), icon);
    g_object_unref(icon);
  }
  GtkWidget* fixed = gtk_fixed_new();
  gtk_container_add(GTK_CONTAINER(w), fixed);

  gchar* name = g_locale_to_utf8(dvr_ui.dvr_name, -1, nullptr, nullptr, nullptr);
  gchar* markup = g_markup_printf_escaped(
      "<big><big><big><big><big><big><b>%s</b></big></big></big></big></big></big>",
      name ? name : "");
  GtkWidget* heading = dvr_label(fixed, "", 5, 0, 720, 40, 1.0f);
  gtk_label_set_markup(GTK_LABEL(heading), markup);
  g_free(markup);
  g_free(name);

  GtkWidget* table = gtk_table_new(3, 6, FALSE);
  gtk_fixed_put(GTK_FIXED(fixed), table, 5, 15);
  dvr_ui.notebook = gtk_notebook_new();
  gtk_container_set_border_width(GTK_CONTAINER(dvr_ui.notebook), 5);
  gtk_notebook_set_tab_pos(GTK_NOTEBOOK(dvr_ui.notebook), GTK_POS_TOP);
  gtk_table_attach_defaults(GTK_TABLE(table), dvr_ui.notebook, 0, 6, 0, 1);
  for (int p = 0; p < PG_COUNT; ++p) {
    dvr_ui.page[p] = gtk_fixed_new();
    gtk_container_set_border_width(GTK_CONTAINER(dvr_ui.page[p]), 10);
    gtk_notebook_append_page(GTK_NOTEBOOK(dvr_ui.notebook), dvr_ui.page[p],
                             gtk_label_new(lookup_label_text(kTab[p])));
  }
  create_camera_page();
  create_ptz_page();
  create_color_page();
  create_record_page();
  create_motion_page();
  create_sensor_page();
  create_schedule_page();
  create_network_page();
  create_system_page();
  set_ok_buttons_sensitive(0);

  for (const RecordRowUi& r : dvr_ui.rec)
    g_signal_connect(r.res, "changed", G_CALLBACK(on_resolution_changed), nullptr);
  if (!dvr_ui.rec.empty()) {
    const RecordRowUi& all = dvr_ui.rec[0];
    g_signal_connect(all.fps, "changed", G_CALLBACK(on_all_fps_changed), nullptr);
    g_signal_connect(all.quality, "changed", G_CALLBACK(on_all_quality_changed), nullptr);
    g_signal_connect(all.audio, "changed", G_CALLBACK(on_all_audio_changed), nullptr);
    g_signal_connect(all.mode, "changed", G_CALLBACK(on_all_rec_mode_changed), nullptr);
  }
  gtk_widget_show_all(w);
  for (int p : {PG_PTZ, PG_COLOR, PG_MOTION, PG_SENSOR, PG_SCHEDULE})
    gtk_widget_hide(dvr_ui.page[p]);
}

// ---- navigation ----------------------------------------------------------------------------

void on_record_setting_clicked(GtkWidget*, int row) {
  if (is_dvrsetup_busy() || row < 0 || size_t(row) >= dvr_ui.rec.size() || !get_edata()) return;
  gchar* active =
      gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(dvr_ui.rec[size_t(row)].mode));
  const std::string mode = active ? active : "";
  g_free(active);
  const std::string all = get_label_text("def_ALL");
  if (mode == text_of("lbl_RM_MOTION")) {
    show_page(PG_MOTION);
    set_channel_title(PG_MOTION, "MOTION", row, all.c_str());
    load_motion_page(row);
  } else if (mode == text_of("lbl_RM_SENSOR")) {
    show_page(PG_SENSOR);
    set_channel_title(PG_SENSOR, "SENSOR", row, all.c_str());
    load_sensor_page(row);
  } else if (mode == text_of("lbl_RM_SCHEDULE")) {
    show_page(PG_SCHEDULE);
    set_channel_title(PG_SCHEDULE, "SCHEDULE", row, all.c_str());
    load_schedule_grid(row);
  }
}

void on_record_subpage_done(GtkWidget*, int which) {
  if (which == 1) store_motion_page();
  if (which == 2) store_sensor_page();
  if (which == 3) store_schedule_page();
  show_page(PG_RECORD);
}

void on_camera_subpage_done(GtkWidget*, int which) {
  const uint8_t* ed = get_edata();
  if (which == 1 && store_ptz_page() == 0 && ed) {
    auto set_button = [&](int k) {
      const bool on = ed[camera_at(k) + CR_PTZ_PROTOCOL] != PTZ_OFF;
      gtk_button_set_label(GTK_BUTTON(dvr_ui.cam[size_t(k + 1)].ptz),
                           get_label_text(on ? LabelKey("def_ON") : LabelKey("def_OFF")));
    };
    if (dvr_ui.selected == dvr_ui.n) {
      for (int k = 0; k < dvr_ui.n; ++k) set_button(k);
    } else if (dvr_ui.selected >= 0 && dvr_ui.selected < dvr_ui.n) {
      set_button(dvr_ui.selected);
    }
  }
  if (which == 2) store_color_page();
  show_page(PG_CAMERA);
}

void load_motion_page(int row) {
  const uint8_t* ed = get_edata();
  if (!ed) return;
  dvr_ui.selected = row == 0 ? dvr_ui.n : row - 1;
  MotionValues v;
  v.sensitivity = gtk_combo_box_get_active(GTK_COMBO_BOX(dvr_ui.motion_sens));
  v.post_record = gtk_combo_box_get_active(GTK_COMBO_BOX(dvr_ui.motion_post));
  v.alarm_time = gtk_combo_box_get_active(GTK_COMBO_BOX(dvr_ui.motion_alarm));
  load_motion_values(ed, dvr_ui.selected, &v);
  gtk_combo_box_set_active(GTK_COMBO_BOX(dvr_ui.motion_sens), v.sensitivity);
  set_radio(dvr_ui.motion_popup, 2, v.popup ? 0 : 1);
  set_radio(dvr_ui.motion_trace, 2, v.trace ? 0 : 1);
  set_radio(dvr_ui.motion_pre, 2, v.pre_record ? 0 : 1);
  gtk_combo_box_set_active(GTK_COMBO_BOX(dvr_ui.motion_post), v.post_record);
  gtk_combo_box_set_active(GTK_COMBO_BOX(dvr_ui.motion_alarm), v.alarm_time);
  show_motion_area(v.area);
}

// ---- network page ---------------------------------------------------------------------------

void on_ip_mode_changed(GtkWidget* combo) {
  const int mode = gtk_combo_box_get_active(GTK_COMBO_BOX(combo));
  gtk_entry_set_text(GTK_ENTRY(dvr_ui.pppoe_status),
                     get_label_text(mode == 2 ? LabelKey("def_ENABLE") : LabelKey("def_DISABLE")));
  gtk_widget_set_sensitive(dvr_ui.pppoe_status, mode == 2);
  for (GtkWidget* e : {dvr_ui.ip, dvr_ui.netmask, dvr_ui.gateway, dvr_ui.name_server})
    gtk_widget_set_sensitive(e, mode == 0);
  if (mode < 0) gtk_widget_set_sensitive(dvr_ui.port, FALSE);
}

void on_pppoe_status_changed(GtkWidget* entry) {
  const bool on = strcmp(gtk_entry_get_text(GTK_ENTRY(entry)), get_label_text("def_DISABLE")) != 0;
  gtk_widget_set_sensitive(dvr_ui.pppoe_user, on);
  gtk_widget_set_sensitive(dvr_ui.pppoe_pass, on);
}

void on_ddns_server_changed(GtkWidget* combo) {
  const bool on = gtk_combo_box_get_active(GTK_COMBO_BOX(combo)) != 0;
  for (GtkWidget* e : {dvr_ui.ddns_host, dvr_ui.ddns_user, dvr_ui.ddns_pass})
    gtk_widget_set_sensitive(e, on);
}

// ---- Save ------------------------------------------------------------------------------------

int on_dvrsetup_save() {
  if (is_dvrsetup_busy()) {
    dvrsetup_client_stop();
    dvr_ui.closing = true;
    gtk_main_quit();
    return 0;
  }
  // Only settings fetched from this DVR in this run, read back whole, go back to it.
  if (!dvrsetup_fetched() || !edata_is_valid()) {
    show_dvrsetup_error("The settings were not fetched from this DVR: nothing is sent.");
    return -1;
  }
  if (store_pages_to_edata() < 0) return -1;
  if (write_eeprom_file(get_edata()) == 0) {
    printf("File saved...\n");
    fflush(stdout);
    if (dvrsetup_client(dvr_ui.dvr_name, "", "", DVRSETUP_SEND) != 1) {
      printf("Sending eeprom_data.dat FAILED!!\n");
      show_dvrsetup_error("Sending eeprom_data.dat to the DVR FAILED!!");
    }
  } else {
    printf("Writing eeprom_data.dat FAILED!!");
    show_dvrsetup_error("Writing eeprom_data.dat FAILED!!");
  }
  close_dvr_socket();
  printf("\n close DVRSETUP window \n");
  fflush(stdout);
  dvr_ui.closing = true;
  gtk_main_quit();
  return 0;
}
