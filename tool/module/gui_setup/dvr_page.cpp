// The DVR page: the DVR list with add, edit and delete, and the DVR form drawn over it.
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>

#include "client/foundation/config/utils.h"
#include "tool/emap/emap_config.h"
#include "tool/module/gui_setup/dialogs.h"
#include "tool/module/gui_setup/dvr_form_model.h"
#include "tool/module/gui_setup/gui_setup.h"
#include "tool/module/gui_setup/gui_setup_internal.h"

namespace {

// Store columns: the 17 values of a DVR, then which DVR of its name it is (0 the first),
// so that a delete finds each row's own record again in a fresh load.
enum DvrColumn {
  kColName = 0,
  kColModel = 1,
  kColAddress = 2,
  kColPort0 = 3,
  kColVideoPort = 4,
  kColHostType = 10,
  kColChannels = 11,
  kColLocation = 12,
  kColManager = 13,
  kColTel = 14,
  kColPolice = 15,
  kColFire = 16,
  kColNth = 17,
  kNumColumns = 18,
};

DvrForm& form() { return setup_ui.dvr_form; }

// ---------------------------------------------------------------------------------------
// List

void create_dvr_list_columns() {
  struct Shown {
    const char* title;
    int column;
  };
  const std::string ip = "IP";
  const Shown shown[] = {
      {nullptr, kColName},      {nullptr, kColModel},   {"IP", kColAddress},
      {nullptr, kColVideoPort}, {nullptr, kColManager}, {nullptr, kColLocation},
      {nullptr, kColTel},       {nullptr, kColPolice},  {nullptr, kColFire},
  };
  const std::string titles[] = {
      label_text("lbl_DVRNAME"), label_text("lbl_DVR_TYPE"),    ip,
      label_text("lbl_CON"),     label_text("lbl_MANAGERNAME"), label_text("lbl_LOCATION"),
      label_text("lbl_TELNO"),   label_text("lbl_POLICENO"),    label_text("lbl_FIREDEPTNO")};
  GtkWidget* view = setup_ui.dvr.view;
  for (size_t i = 0; i < G_N_ELEMENTS(shown); ++i) {
    GtkCellRenderer* cell = gtk_cell_renderer_text_new();
    GtkTreeViewColumn* col = gtk_tree_view_column_new_with_attributes(
        titles[i].c_str(), cell, "text", shown[i].column, nullptr);
    gtk_tree_view_column_set_resizable(col, TRUE);
    gtk_tree_view_column_set_sort_column_id(col, shown[i].column);
    gtk_tree_view_append_column(GTK_TREE_VIEW(view), col);
  }
  GType types[kNumColumns];
  for (int c = 0; c < kNumColumns; ++c) types[c] = G_TYPE_STRING;
  for (int c = kColPort0; c < int{kColPort0} + int{DVR_NUM_PORTS}; ++c) types[c] = G_TYPE_UINT;
  types[kColChannels] = G_TYPE_UINT;
  types[kColNth] = G_TYPE_INT;
  GtkListStore* store = gtk_list_store_newv(kNumColumns, types);
  setup_ui.dvr.store = store;
  gtk_tree_view_set_model(GTK_TREE_VIEW(view), GTK_TREE_MODEL(store));
  g_object_unref(store);
  fill_dvr_list();
}

GtkTreeSelection* dvr_selection() {
  return gtk_tree_view_get_selection(GTK_TREE_VIEW(setup_ui.dvr.view));
}

std::string row_string(GtkListStore* store, GtkTreeIter* it, int column) {
  gchar* s = nullptr;
  gtk_tree_model_get(GTK_TREE_MODEL(store), it, column, &s, -1);
  std::string out = s ? s : "";
  g_free(s);
  return out;
}

std::string dvr_comment() { return label_text("txt_DVR_WRITE_FORMAT"); }

std::vector<std::string> dvr_keys(const SetupSnapshot& s) {
  std::vector<std::string> keys;
  for (const RC_DVR_INFO& d : s.dvr) keys.emplace_back(d.name);
  return keys;
}

void on_dvr_delete_clicked(GtkButton*, gpointer) {
  GtkListStore* store = setup_ui.dvr.store;
  std::vector<GtkTreeIter> rows = list_rows(store);
  if (rows.empty()) return;
  if (ask_question(get_label_text("txt_DELETEITEM")) != 1) return;

  reload_setup_cfg();
  const SetupSnapshot s = take_setup_snapshot();
  // collect_deletable_dvrs: selected rows in store order, up to the first that a group
  // holds; that one is reported and it and every later row stay.
  std::vector<GtkTreeIter> doomed;
  for (GtkTreeIter& it : rows) {
    if (!gtk_tree_selection_iter_is_selected(dvr_selection(), &it)) continue;
    std::string name = row_string(store, &it, kColName);
    bool in_group = false;
    for (const SetupGroup& g : s.group)
      for (const std::string& m : g.member)
        if (m == name) in_group = true;
    if (in_group) {
      std::string text = name + " " + label_text("txt_DVR_IN_GROUP");
      show_error_dialog(text.c_str());
      break;
    }
    doomed.push_back(it);
  }
  finish_delete(
      store, doomed, kColNth, s, dvr_keys(s),
      [](const std::vector<int>& keep, const SetupSnapshot& now) {
        return compose_dvr_delete(keep, now, dvr_comment().c_str());
      },
      fill_dvr_list);
}

// ---------------------------------------------------------------------------------------
// Form

// Positions that the Korean layout changes: {x, right-aligned}.
struct LabelPlace {
  int x;
  bool right;
};
LabelPlace place_of(int normal_x, int korean_x, bool korean_right = false) {
  return setup_ui.korean ? LabelPlace{korean_x, korean_right} : LabelPlace{normal_x, false};
}

GtkWidget* form_put(GtkWidget* w, int x, int y, int width, int height) {
  return put_in_form(form(), setup_ui.dvr, w, x, y, width, height);
}

GtkWidget* form_label(const std::string& text, LabelPlace p, int y, int width) {
  return form_put(new_label(text.c_str(), p.right ? 1.0f : 0.5f), p.x, y, width, 20);
}

int active_model_row() {
  int r = form().model ? gtk_combo_box_get_active(GTK_COMBO_BOX(form().model)) : -1;
  return r >= 0 && r < kNumDvrModels ? r : -1;
}

void on_camera_selected(GtkComboBox*, gpointer) {
  int r = active_model_row();
  int c = gtk_combo_box_get_active(GTK_COMBO_BOX(form().camera));
  if (r < 0 || c < 0 || c >= DVR_MAX_CAMERAS) return;
  gtk_entry_set_max_length(GTK_ENTRY(form().camera_name), 32);
  set_entry_whole(form().camera_name, camera_name_table[r][c]);
}

void on_camera_name_changed(GtkEditable*, gpointer) {
  int r = active_model_row();
  int c = gtk_combo_box_get_active(GTK_COMBO_BOX(form().camera));
  if (r < 0 || c < 0 || c >= DVR_MAX_CAMERAS) return;
  copy_field(camera_name_table[r][c], sizeof camera_name_table[r][c],
             entry_text(form().camera_name).c_str());
}

void on_channel_count_changed(GtkComboBox*, gpointer) {
  int r = active_model_row();
  if (r < 0) return;
  GtkComboBox* cam = GTK_COMBO_BOX(form().camera);
  gtk_list_store_clear(GTK_LIST_STORE(gtk_combo_box_get_model(cam)));
  if (r == 0) {
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(cam), "ALL");
  } else {
    for (int c = 1; c <= kDvrModelRows[r].cameras; ++c) {
      char item[16];
      snprintf(item, sizeof item, "CH %2d", c);
      gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(cam), item);
    }
  }
  gtk_combo_box_set_active(cam, 0);
}

void add_ddns_mode_row() {
  gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(form().mode), kDdnsModeText);
  ++form().ddns_rows;
}

void on_dvr_model_changed(GtkComboBox*, gpointer) {
  int r = active_model_row();
  if (r < 0) return;
  if (kDvrModelRows[r].video_port)
    gtk_entry_set_text(GTK_ENTRY(form().video_port), kDvrModelRows[r].video_port);
  if (r == 2) {
    gtk_entry_set_text(GTK_ENTRY(form().ddns_port), kDdnsPort);
    gtk_entry_set_text(GTK_ENTRY(form().ddns_server), kDdnsServerAddress);
    add_ddns_mode_row();
  }
}

// Address label and length for a connection mode text.
void set_address_mode(const std::string& mode_text) {
  const std::string host = label_text("lbl_HOSTNAME");
  if (mode_text == host) {
    gtk_label_set_text(GTK_LABEL(form().address_label), host.c_str());
    gtk_entry_set_max_length(GTK_ENTRY(form().address), 30);
  } else if (mode_text == kDdnsModeText) {
    gtk_label_set_text(GTK_LABEL(form().address_label), "MAC");
    gtk_entry_set_max_length(GTK_ENTRY(form().address), 30);
  } else {
    gtk_label_set_text(GTK_LABEL(form().address_label), mode_text.c_str());
    gtk_entry_set_max_length(GTK_ENTRY(form().address), 15);
  }
}

void on_connection_mode_changed(GtkComboBox*, gpointer) {
  set_address_mode(combo_text(form().mode));
  gtk_entry_set_text(GTK_ENTRY(form().address), "");
}

void create_dvr_form() {
  begin_form(form(), setup_ui.dvr);
  DvrForm& f = form();
  const bool k = setup_ui.korean;

  form_label(label_text("lbl_DVR_TYPE"), place_of(13, 10), 0, 100);
  f.model = form_put(gtk_combo_box_text_new(), 110, 0, 150, 20);
  for (const DvrModelRow& m : kDvrModelRows)
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(f.model), m.shown);
  form_label(label_text("lbl_CON_MODE"), place_of(283, 277, true), 0, 100);
  f.mode = form_put(gtk_combo_box_text_new(), 400, 0, 160, 20);
  gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(f.mode), "IP");
  gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(f.mode), get_label_text("lbl_HOSTNAME"));
  gtk_combo_box_set_active(GTK_COMBO_BOX(f.mode), 0);

  form_label(label_text("lbl_DVRNAME"), place_of(17, 11), 30, 100);
  f.name = form_put(new_entry(32), 110, 30, 150, 20);
  f.address_label = form_label("IP", place_of(276, 265, true), 30, 70);
  f.address = form_put(new_entry(15), 400, 30, 160, 20);

  form_label(label_text("lbl_USER"), place_of(0, 3), 60, 100);
  f.user = form_put(new_entry(7), 110, 60, 150, 20);
  form_label(label_text("lbl_PASSWORD"), place_of(298, 302, true), 60, 70);
  f.password = form_put(new_entry(7, true), 400, 60, 160, 20);

  std::string con = k ? label_text("lbl_CON") : std::string("Con.");
  form_label(con + " Port", place_of(12, 11), 90, 100);
  f.video_port = form_put(new_entry(5), 110, 90, 80, 20);
  form_label(label_text("lbl_CAMNAME"), place_of(300, 300, true), 90, 90);
  f.camera = form_put(gtk_combo_box_text_new(), 400, 90, 65, 20);
  f.camera_name = form_put(new_entry(32), 470, 90, 90, 20);

  form_put(gtk_frame_new(" VELKARA DDNS "), 0, 120, 580, 53);
  form_label(" Port ", {0, false}, 140, 100);
  f.ddns_port = form_put(new_entry(5), 110, 140, 80, 20);
  form_label("IP   ", place_of(215, 235), 140, 200);
  f.ddns_server = form_put(new_entry(45), 400, 140, 160, 20);

  GtkWidget* frame = gtk_frame_new(get_label_text("lbl_ADDINFO"));
  form_put(frame, 0, 180, 580, 80);
  GtkWidget* inner = gtk_fixed_new();
  gtk_container_set_border_width(GTK_CONTAINER(inner), 5);
  gtk_container_add(GTK_CONTAINER(frame), inner);
  auto info = [&](LabelKey key, int lx, int ly, int lw, GtkWidget** entry, int ex) {
    put(inner, new_key_label(key, 1.0f), lx, ly, lw, 20);
    *entry = put(inner, new_entry(32), ex, ly, 90, 20);
  };
  info("lbl_MANAGERNAME", 0, 0, 85, &f.manager, 90);
  info("lbl_LOCATION", 0, 30, 85, &f.location, 90);
  info("lbl_TELNO", 185, 0, 90, &f.tel, 280);
  info("lbl_POLICENO", 185, 30, 90, &f.police, 280);
  info("lbl_FIREDEPTNO", 375, 0, 90, &f.fire, 470);
  gtk_entry_set_text(GTK_ENTRY(f.police), "112");
  gtk_entry_set_text(GTK_ENTRY(f.fire), "119");

  g_signal_connect(f.model, "changed", G_CALLBACK(on_channel_count_changed), nullptr);
  g_signal_connect(f.camera, "changed", G_CALLBACK(on_camera_selected), nullptr);
  g_signal_connect(f.camera_name, "changed", G_CALLBACK(on_camera_name_changed), nullptr);
  gtk_combo_box_set_active(GTK_COMBO_BOX(f.model), kDefaultDvrModelRow);
  gtk_entry_set_text(GTK_ENTRY(f.video_port), kDvrModelRows[kDefaultDvrModelRow].video_port);
  end_form(f, setup_ui.dvr, G_CALLBACK(+[](GtkButton*, gpointer) { close_dvr_form(); }));
}

DvrFormData read_dvr_form() {
  const DvrForm& f = form();
  DvrFormData d;
  d.edit = f.edit;
  d.old_name = f.old_name;
  int r = active_model_row();
  d.model_row = r < 0 ? kDefaultDvrModelRow : r;
  int m = gtk_combo_box_get_active(GTK_COMBO_BOX(f.mode));
  d.mode_row = m < 0 ? kModeIp : m;
  d.name = entry_text(f.name);
  d.address = entry_text(f.address);
  d.user = entry_text(f.user);
  d.password = entry_text(f.password);
  d.video_port = entry_text(f.video_port);
  d.location = entry_text(f.location);
  d.manager = entry_text(f.manager);
  d.tel = entry_text(f.tel);
  d.police = entry_text(f.police);
  d.fire = entry_text(f.fire);
  return d;
}

void save_dvr_form(GtkButton*, gpointer) {
  DvrFormData d = read_dvr_form();
  SetupSnapshot s = take_setup_snapshot();
  const std::optional<LabelKey> failed = check_dvr_form(d, s);
  // A name that setup.cfg takes but emap.cfg cannot: every later E-Map load would fail.
  if (const char* refusal = failed ? nullptr : emap_dvr_name_refusal(d.name)) {
    show_error_dialog(refusal);
    return;
  }
  if (!finish_save(failed, [&] {
        return d.edit ? compose_dvr_edit(d, s, dvr_comment().c_str())
                      : compose_dvr_add(d, s, dvr_comment().c_str());
      }))
    return;  // the form keeps what was typed
  if (d.edit) {
    // The E-Map follows the DVR: its section and its group member lines take the new name.
    std::string emap_why;
    if (rewrite_emap_cfg([&](EmapTables& t) { emap_rename_dvr(t, d.old_name, d.name); }, nullptr,
                         &emap_why) != 0)
      show_error_dialog(emap_why.c_str());
  }
  fill_dvr_list();
  close_dvr_form();
}

void connect_form_buttons() {
  g_signal_connect(form().model, "changed", G_CALLBACK(on_dvr_model_changed), nullptr);
  g_signal_connect(form().mode, "changed", G_CALLBACK(on_connection_mode_changed), nullptr);
  g_signal_connect(form().ok, "clicked", G_CALLBACK(save_dvr_form), nullptr);
}

void on_dvr_add_clicked(GtkButton*, gpointer) {
  if (form().open) return;
  init_camera_name_table();
  create_dvr_form();
  form().edit = false;
  connect_form_buttons();
}

void on_dvr_edit_clicked(GtkButton*, gpointer) {
  if (form().open) return;
  GtkListStore* store = setup_ui.dvr.store;
  if (list_rows(store).empty() || gtk_tree_selection_count_selected_rows(dvr_selection()) != 1)
    return;
  // collect_selected_dvrs
  GtkTreeIter row{};
  bool found = false;
  for (GtkTreeIter& it : list_rows(store))
    if (gtk_tree_selection_iter_is_selected(dvr_selection(), &it)) {
      row = it;
      found = true;
    }
  if (!found) return;
  std::string name = row_string(store, &row, kColName);
  std::string host_type = row_string(store, &row, kColHostType);
  std::string address = row_string(store, &row, kColAddress);
  std::string model = row_string(store, &row, kColModel);
  guint video_port = 0;
  gtk_tree_model_get(GTK_TREE_MODEL(store), &row, kColVideoPort, &video_port, -1);
  std::string manager = row_string(store, &row, kColManager);
  std::string location = row_string(store, &row, kColLocation);
  std::string tel = row_string(store, &row, kColTel);
  std::string police = row_string(store, &row, kColPolice);
  std::string fire = row_string(store, &row, kColFire);

  create_dvr_form();
  DvrForm& f = form();
  f.edit = true;
  set_entry_whole(f.name, name.c_str());
  switch (dvr_mode_row(host_type.c_str())) {
    case kModeIp:
      gtk_combo_box_set_active(GTK_COMBO_BOX(f.mode), kModeIp);
      set_address_mode("IP");
      break;
    case kModeName:
      gtk_combo_box_set_active(GTK_COMBO_BOX(f.mode), kModeName);
      set_address_mode(label_text("lbl_HOSTNAME"));
      break;
    case kModeDdns:
      add_ddns_mode_row();
      gtk_combo_box_set_active(GTK_COMBO_BOX(f.mode), kModeDdns);
      set_address_mode(kDdnsModeText);
      break;
    default: break;
  }
  set_entry_whole(f.address, address.c_str());
  int model_row = dvr_model_row(model.c_str());
  gtk_combo_box_set_active(GTK_COMBO_BOX(f.model), model_row);
  gtk_entry_set_text(GTK_ENTRY(f.video_port), std::to_string(video_port).c_str());
  if (model_row == 2) {
    gtk_entry_set_text(GTK_ENTRY(f.ddns_port), kDdnsPort);
    gtk_entry_set_text(GTK_ENTRY(f.ddns_server), kDdnsServerAddress);
  }
  set_entry_whole(f.manager, manager.c_str());
  set_entry_whole(f.location, location.c_str());
  set_entry_whole(f.tel, tel.c_str());
  set_entry_whole(f.police, police.c_str());
  set_entry_whole(f.fire, fire.c_str());
  f.old_name = name;

  SetupSnapshot s = take_setup_snapshot();
  for (const RC_DVR_INFO& d : s.dvr) {
    if (entry_text(f.name) != d.name) continue;
    // The DVR login carries 7 characters: the entries keep their limit.
    gtk_entry_set_text(GTK_ENTRY(f.user), d.username);
    gtk_entry_set_text(GTK_ENTRY(f.password), d.password);
    load_dvr_camera_names(d, model_row);
  }
  on_camera_selected(nullptr, nullptr);
  connect_form_buttons();
}

}  // namespace

void fill_dvr_list() {
  GtkListStore* store = setup_ui.dvr.store;
  if (!store) return;
  SetupSnapshot s = reload_for_list(store);
  const std::vector<std::string> keys = dvr_keys(s);
  for (size_t i = 0; i < s.dvr.size(); ++i) {
    const RC_DVR_INFO& d = s.dvr[i];
    GtkTreeIter it;
    gtk_list_store_append(store, &it);
    gtk_list_store_set(store, &it, kColName, d.name, kColModel, d.model, kColAddress, d.ipaddress,
                       kColHostType, d.host_type, kColChannels, static_cast<guint>(d.num_video),
                       kColLocation, d.location, kColManager, d.manager, kColTel, d.tel_no,
                       kColPolice, d.police_no, kColFire, d.fire_dept_no, kColNth,
                       key_occurrence(keys, i), -1);
    for (int p = 0; p < DVR_NUM_PORTS; ++p)
      gtk_list_store_set(store, &it, int{kColPort0} + p, static_cast<guint>(d.port[p]), -1);
  }
  init_camera_name_table();
}

void build_dvr_page(GtkWidget* fixed) {
  ListPage& page = setup_ui.dvr;
  build_list_view(page, fixed);
  create_dvr_list_columns();

  build_list_buttons(page, G_CALLBACK(on_dvr_add_clicked), G_CALLBACK(on_dvr_edit_clicked),
                     G_CALLBACK(on_dvr_delete_clicked));
}

int check_dvr_form_lengths() { return form().open ? dvr_form_too_long(read_dvr_form()) : 0; }
