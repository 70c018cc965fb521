// The System and E-mail pages: the [SYSTEM] and [EMAIL] settings, each saved by its OK.
#include <gtk/gtk.h>

#include <cstring>

#include "tool/module/gui_setup/dialogs.h"
#include "tool/module/gui_setup/gui_setup.h"
#include "tool/module/gui_setup/gui_setup_internal.h"
#include "tool/module/gui_setup/system_email_model.h"

namespace {

SystemPage& sys() { return setup_ui.system; }
EmailPage& mail() { return setup_ui.email; }

GtkWidget* new_spin(double low, double high, int max_chars) {
  GtkWidget* spin = gtk_spin_button_new_with_range(low, high, 1);
  gtk_spin_button_set_digits(GTK_SPIN_BUTTON(spin), 0);
  if (max_chars > 0) gtk_entry_set_max_length(GTK_ENTRY(spin), max_chars);
  return spin;
}

int spin_value(GtkWidget* spin) {
  gtk_spin_button_update(GTK_SPIN_BUTTON(spin));
  return gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(spin));
}

std::optional<std::string> chosen(GtkWidget* combo) {
  if (gtk_combo_box_get_active(GTK_COMBO_BOX(combo)) < 0) return std::nullopt;
  return combo_text(combo);
}

void choose_record_folder(GtkButton*, gpointer) {
  GtkWidget* dialog = gtk_file_chooser_dialog_new(
      "Choose Folder", nullptr, GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, GTK_STOCK_CANCEL,
      GTK_RESPONSE_CANCEL, GTK_STOCK_OPEN, GTK_RESPONSE_APPLY, nullptr);
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER_ALWAYS);
  if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_APPLY) {
    // The folder the chooser shows, not an entry selected inside it.
    gchar* folder = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(dialog));
    gchar* utf8 = folder ? g_filename_to_utf8(folder, -1, nullptr, nullptr, nullptr) : nullptr;
    if (utf8) gtk_label_set_text(GTK_LABEL(sys().rec_path), utf8);
    g_free(utf8);
    g_free(folder);
  }
  gtk_widget_destroy(dialog);
}

void save_system_page(GtkButton*, gpointer) {
  SystemPage& p = sys();
  SystemPageData d;
  d.cycle_time = entry_text(p.cycle);
  d.rec_path = gtk_label_get_text(GTK_LABEL(p.rec_path));
  std::optional<LabelKey> failed = check_system_page(d);
  if (!failed) d.cycle_time = std::to_string(spin_value(p.cycle));
  d.alarm = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(p.alarm));
  d.motion_wav = chosen(p.motion);
  d.sensor_wav = chosen(p.sensor);
  d.language = chosen(p.language);
  d.resolution = chosen(p.resolution);
  d.popup_type = 3;
  for (int i = 0; i < 3; ++i)
    if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(p.popup[i]))) {
      d.popup_type = i;
      break;
    }
  d.popup_time = spin_value(p.popup_time);
  d.check_update = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(p.update_on));
  d.relay_time = spin_value(p.relay);
  if (!finish_save(failed, [&] { return compose_system_save(d, take_setup_snapshot()); })) return;
  set_current_message(get_label_text("txt_SYSTEMSAVED"));
  show_info_dialog();
}

EmailPageData read_email_page() {
  const EmailPage& p = mail();
  EmailPageData d;
  d.from = entry_text(p.from);
  d.to = entry_text(p.to);
  d.cc = entry_text(p.cc);
  d.bcc = entry_text(p.bcc);
  d.subject = entry_text(p.subject);
  d.message = entry_text(p.message);
  d.reply = entry_text(p.reply);
  d.server = entry_text(p.server);
  d.domain = entry_text(p.domain);
  d.user = entry_text(p.user);
  d.password = entry_text(p.password);
  d.delay = entry_text(p.delay);
  d.attachment = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(p.attachment));
  return d;
}

void save_email_page(GtkButton*, gpointer) {
  EmailPageData d = read_email_page();
  if (!finish_save(check_email_page(d),
                   [&] { return compose_email_save(d, take_setup_snapshot()); }))
    return;
  set_current_message("\nEmail Information Save.");
  show_info_dialog();
  fill_email_page();
}

void on_show_syslog(GtkButton*, gpointer) { show_system_log(); }

}  // namespace

void build_system_page(GtkWidget* fixed) {
  SystemPage& p = sys();
  p.fixed = fixed;
  GtkWidget* f = new_frame(fixed, "lbl_FILESYS", 0, 0, 580, 60);
  put(f, new_key_label("lbl_RECPATH", 1.0f), 0, 0, 90, 20);
  p.rec_path = put(f, new_label("", 0.0f), 100, 0, 360, 20);
  p.browse = put(f, new_key_button("def_BROWSE"), 470, -3, 80, 25);

  f = new_frame(fixed, "lbl_ALARM", 0, 55, 350, 115);
  p.alarm =
      put(f, gtk_check_button_new_with_label(get_label_text("lbl_ENABLEALARM")), 0, 0, 100, 20);
  put(f, new_key_label("lbl_MOTION", 1.0f), 30, 30, 50, 20);
  p.motion = put(f, gtk_combo_box_text_new(), 100, 30, 180, 23);
  put(f, new_key_label("lbl_SENSOR", 1.0f), 30, 60, 50, 20);
  p.sensor = put(f, gtk_combo_box_text_new(), 100, 60, 180, 23);
  for (int i = 0; i < kNumAlarmSounds; ++i) {
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(p.motion), kMotionSounds[i]);
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(p.sensor), kSensorSounds[i]);
  }
  gtk_combo_box_set_active(GTK_COMBO_BOX(p.motion), 0);
  gtk_combo_box_set_active(GTK_COMBO_BOX(p.sensor), 0);

  f = new_frame(fixed, "lbl_CDT", 345, 55, 130, 65);
  p.cycle = put(f, new_spin(kMinCycleTime, kMaxCycleTime, 0), 5, 5, 40, 20);
  put(f, new_key_label("lbl_SEC"), 45, 5, 60, 20);

  f = new_frame(fixed, "lbl_LANGUAGE", 470, 55, 110, 65);
  p.language = put(f, gtk_combo_box_text_new(), 5, 5, 85, 25);
  f = new_frame(fixed, "lbl_RESO", 345, 110, 235, 60);
  p.resolution = put(f, gtk_combo_box_text_new(), 15, 5, 190, 25);

  f = new_frame(fixed, "lbl_EVT_POPUP", 0, 165, 350, 61);
  GtkWidget* row = gtk_hbox_new(FALSE, 0);
  put(f, row, 0, 0, 330, 25);
  const std::string popup_names[4] = {label_text("lbl_EVT_1LAYOUT"), label_text("lbl_EVT_SPOT"),
                                      label_text("lbl_EVT_PIP"), "OFF"};
  for (int i = 0; i < 4; ++i) {
    p.popup[i] = i == 0 ? gtk_radio_button_new_with_label(nullptr, popup_names[i].c_str())
                        : gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(p.popup[0]),
                                                                      popup_names[i].c_str());
    gtk_box_pack_start(GTK_BOX(row), p.popup[i], FALSE, FALSE, 0);
  }
  GtkWidget* time_label = new_key_label("lbl_EVT_TIME");
  gtk_widget_set_size_request(time_label, 40, 20);
  gtk_box_pack_start(GTK_BOX(row), time_label, FALSE, FALSE, 0);
  p.popup_time = new_spin(0, 60, 3);
  gtk_widget_set_size_request(p.popup_time, 30, 23);
  gtk_box_pack_start(GTK_BOX(row), p.popup_time, FALSE, FALSE, 0);
  GtkWidget* sec_label = new_key_label("lbl_EVT_SEC");
  gtk_widget_set_size_request(sec_label, 20, 20);
  gtk_box_pack_start(GTK_BOX(row), sec_label, FALSE, FALSE, 0);

  f = new_frame(fixed, "lbl_CHK_UPDATE", 345, 165, 155, 61);
  row = gtk_hbox_new(FALSE, 0);
  put(f, row, 0, 0, 140, 25);
  p.update_on = gtk_radio_button_new_with_label(nullptr, get_label_text("lbl_CHK_ENABLE"));
  p.update_off = gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(p.update_on),
                                                             get_label_text("lbl_CHK_DISABLE"));
  gtk_box_pack_start(GTK_BOX(row), p.update_on, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(row), p.update_off, FALSE, FALSE, 0);

  f = new_frame(fixed, "lbl_RELAY_TIME", 495, 165, 85, 61);
  p.relay = put(f, new_spin(0, 999999, 6), 5, 5, 60, 25);

  p.syslog = new_key_button("def_SHOWSYSLOG");
  p.ok = new_key_button("def_OK");
  p.close = new_key_button("def_CLOSE");
  put(fixed, new_button_row({p.syslog, p.ok, p.close}), 305, 278, 270, 30);
  g_signal_connect(p.browse, "clicked", G_CALLBACK(choose_record_folder), nullptr);
  g_signal_connect(p.syslog, "clicked", G_CALLBACK(on_show_syslog), nullptr);
  g_signal_connect(p.ok, "clicked", G_CALLBACK(save_system_page), nullptr);
  fill_system_page();
}

void fill_system_page() {
  SystemPage& p = sys();
  reload_setup_cfg();
  SetupSnapshot s = take_setup_snapshot();
  gtk_spin_button_set_value(GTK_SPIN_BUTTON(p.cycle), s.sys.cycle_time);
  gtk_label_set_text(GTK_LABEL(p.rec_path), s.sys.rec_path);
  gtk_combo_box_set_active(GTK_COMBO_BOX(p.motion),
                           alarm_sound_row(kMotionSounds, s.sys.motion_wav));
  gtk_combo_box_set_active(GTK_COMBO_BOX(p.sensor),
                           alarm_sound_row(kSensorSounds, s.sys.sensor_wav));
  if (s.sys.enable_alarm == 1) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(p.alarm), TRUE);
  auto fill_list = [](GtkWidget* combo, const std::vector<RC_FILE_INFO>& table, const char* value) {
    gtk_list_store_clear(GTK_LIST_STORE(gtk_combo_box_get_model(GTK_COMBO_BOX(combo))));
    int active = -1;
    for (size_t i = 0; i < table.size(); ++i) {
      gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo), table[i].name);
      if (strcmp(table[i].name, value) == 0) active = static_cast<int>(i);
    }
    gtk_combo_box_set_active(GTK_COMBO_BOX(combo), active);
  };
  fill_list(p.language, s.language, s.sys.language);
  fill_list(p.resolution, s.resolution, s.sys.resolution);
  if (s.sys.event_popup_type < 4)
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(p.popup[s.sys.event_popup_type]), TRUE);
  gtk_spin_button_set_value(GTK_SPIN_BUTTON(p.popup_time), s.sys.event_popup_time);
  if (s.sys.check_update == 1) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(p.update_on), TRUE);
  if (s.sys.check_update == 0) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(p.update_off), TRUE);
  gtk_spin_button_set_value(GTK_SPIN_BUTTON(p.relay), s.sys.relay_duration);
}

void build_email_page(GtkWidget* fixed) {
  EmailPage& p = mail();
  p.fixed = fixed;
  GtkWidget* f = new_frame(fixed, "lbl_EMAILCFG", 10, -10, 570, 130);
  auto field = [&](LabelKey key, int lx, int ly, int ex, int width, int max_chars,
                   bool hidden = false) {
    put(f, new_key_label(key, 1.0f), lx, ly, 60, 20);
    return put(f, new_entry(max_chars, hidden), ex, ly, width, 20);
  };
  p.from = field("lbl_EMAIL_FROM", 10, 5, 80, 200, 50);
  p.to = field("lbl_EMAIL_TO", 10, 30, 80, 200, 50);
  p.cc = field("lbl_EMAIL_CC", 280, 5, 350, 190, 50);
  p.bcc = field("lbl_EMAIL_BCC", 280, 30, 350, 190, 50);
  p.subject = field("lbl_EMAIL_SUBJECT", 10, 55, 80, 200, 255);
  p.message = field("lbl_EMAIL_MSG", 10, 80, 80, 200, 255);
  p.reply = field("lbl_EMAIL_REPLY", 280, 55, 350, 190, 50);
  put(f, new_key_label("lbl_ATTACHMENTS", 1.0f), 300, 80, 80, 20);
  p.attachment = put(f, gtk_check_button_new(), 380, 78, 20, 20);
  put(f, new_key_label("lbl_SMTPDELAY", 1.0f), 395, 80, 70, 20);
  p.delay = put(f, new_entry(3), 470, 80, 40, 20);
  put(f, new_key_label("lbl_SMTPSEC"), 500, 80, 35, 20);

  f = new_frame(fixed, "lbl_SMTPCFG", 10, 115, 570, 105);
  p.server = field("lbl_SMTPSERVER", 10, 10, 80, 200, 50);
  put(f, new_key_label("lbl_SMTPDOMAIN", 1.0f), 270, 10, 70, 20);
  p.domain = put(f, new_entry(50), 350, 10, 190, 20);
  p.user = field("lbl_USER", 10, 40, 80, 200, 32);
  p.password = field("lbl_PASSWORD", 280, 40, 350, 190, 16, true);

  p.ok = new_key_button("def_OK");
  p.close = new_key_button("def_CLOSE");
  put(fixed, new_button_row({p.ok, p.close}), 420, 273, 160, 30);
  g_signal_connect(p.ok, "clicked", G_CALLBACK(save_email_page), nullptr);
  fill_email_page();
}

void fill_email_page() {
  EmailPage& p = mail();
  reload_setup_cfg();
  SetupSnapshot s = take_setup_snapshot();
  const RC_EMAIL_INFO& m = s.mail;
  set_entry_whole(p.from, m.from);
  set_entry_whole(p.to, m.receipient);
  set_entry_whole(p.cc, m.cc);
  set_entry_whole(p.bcc, m.bcc);
  set_entry_whole(p.subject, m.subject);
  set_entry_whole(p.message, m.inline_msg);
  set_entry_whole(p.reply, m.replyto);
  set_entry_whole(p.server, m.smtpserver);
  set_entry_whole(p.domain, m.domain);
  set_entry_whole(p.user, m.username);
  set_entry_whole(p.password, m.password);
  set_entry_whole(p.delay, std::to_string(m.delay).c_str());
  if (m.attachment) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(p.attachment), TRUE);
}

int check_email_page_lengths() { return mail().fixed ? email_page_too_long(read_email_page()) : 0; }
