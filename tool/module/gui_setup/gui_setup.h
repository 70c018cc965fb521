// The "ZOL Client Setup" window of mode "setup": a notebook of the DVR, group, account,
// System and E-mail pages, each saving setup.cfg whole. GTK main thread only.
//
// Module boundary: the pages' widgets live here (setup_window.cpp and the *_page.cpp
// files); what they decide without widgets lives in the *_model files, the setup.cfg text
// in setup_writer, the field checks in setup_checks. Other modes reach this module only
// through create_setup_window and the dialogs of dialogs.h.
#pragma once

typedef struct _GtkWindow GtkWindow;

// Builds and shows the window; keeps the operator's id (the password is not used).
void create_setup_window(const char* operator_id, const char* password);
// Destroys the window, when it exists, and ends the GTK main loop.
void close_setup_window();
// The window, or null when it does not exist (dialogs then have no parent).
GtkWindow* setup_window_widget();

// Opens the system log window unless it is already open (then it is raised).
void show_system_log();

// Destroy the DVR, group or user form and show that page's list and buttons again.
void close_dvr_form();
void close_group_form();
void close_user_form();

// 1 when a text field of the open form or of the E-mail page is longer than allowed.
int check_dvr_form_lengths();
int check_user_form_lengths();
int check_email_page_lengths();

// Level of the operator's own account, noted by every fill of the account list; 0 before.
extern int operator_level;
