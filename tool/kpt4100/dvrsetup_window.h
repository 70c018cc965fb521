// Mode "dvrsetup": the "ZOL DVR Setup" window of one DVR's own settings: nine pages (camera,
// PTZ, colour, record, motion, sensor, schedule, network, system) over the edata record, the
// navigation between pages and sub-pages, and Save. GTK main thread, except where a
// function says the fetch thread calls it (with the GDK lock held).
#pragma once

#include <gtk/gtk.h>

constexpr const char* kDvrSetupTitle = "ZOL DVR Setup";

// Builds and shows the window for the DVR named (empty when none was given).
void create_dvrsetup_window(const char* dvr_name);

// OK of the camera, record, network and system pages: -1 when a page is invalid (the window
// stays, the error was shown); otherwise the main loop ends (after sending the settings when
// they were fetched in this run and the file was written).
int on_dvrsetup_save();
// Navigation: the record page's lbl_SETTING button of `row`; OK (1 motion, 2 sensor,
// 3 schedule) or Close (0) of a record sub-page; OK (1 PTZ, 2 colour) or Close (0) of a
// camera sub-page.
void on_record_setting_clicked(GtkWidget* button, int row);
void on_record_subpage_done(GtkWidget* button, int which);
void on_camera_subpage_done(GtkWidget* button, int which);
// Network page sensitivity.
void on_ip_mode_changed(GtkWidget* combo);
void on_pppoe_status_changed(GtkWidget* entry);
void on_ddns_server_changed(GtkWidget* combo);
// Fills the motion sub-page for record-page row `row` (0: all cameras).
void load_motion_page(int row);

// ---- the record binding (dvrsetup_binding.cpp) -------------------------------------------

// Reads eeprom_data.dat and fills every main page; the reader's result (-2: the CRC did not
// match, nothing was filled). The OK buttons become sensitive only for a good file fetched
// in this run. Fetch thread, GDK lock held.
int load_edata_to_pages();
// Validates and stores the four main pages: 0, or -1 system, -2 camera, -3 record, -7
// network (the error was shown).
int store_pages_to_edata();
void set_ok_buttons_sensitive(int flag);
void open_ptz_page(GtkWidget* button, int row);
void open_color_page(GtkWidget* button, int row);
void load_ptz_page(int row);
void load_color_page(int row);
void load_sensor_page(int row);
int store_ptz_page();
int store_color_page();
int store_motion_page();
int store_sensor_page();
int store_schedule_page();

// ---- the grids (dvrsetup_grids.cpp) ----------------------------------------------------

int motion_area_ini();
int rs_sched_ini();
// Fills the schedule grid for record-page row `row`.
void load_schedule_grid(int row);
