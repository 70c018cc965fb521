// The map dialog (add, edit), map delete, and the "Selection" dialog that places, replaces
// and removes markers. Every change is one rewrite of emap.cfg through rewrite_emap_cfg
// (the loaded tables with the change, saved whole or not at all), then a redraw; a file that
// cannot be written is reported and the dialog stays open.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/system/message_box.h"
#include "tool/emap/emap_config.h"
#include "tool/emap/emap_model.h"
#include "tool/emap/gui_emap/emap_gui.h"
#include "tool/language.h"
#include "tool/setup_snapshot.h"

GtkWidget* emap_map_dialog = nullptr;
GtkWidget* emap_map_path_entry = nullptr;
GtkWidget* emap_select_dialog = nullptr;
bool emap_dialog_open = false;

namespace {

GtkWidget* g_name_entry = nullptr;
std::string g_old_name;      // the edited map's name when the dialog opened
std::string g_dialog_title;  // add or edit

// The placement dialog's widgets and the map position it was opened at.
GtkWidget* g_radio[3] = {};
GtkWidget* g_number_combo = nullptr;
int g_select_x = 0, g_select_y = 0;

// Applies `change` to emap.cfg; false (with the Error dialog) when the file was not written.
template <typename F>
bool store(F change) {
  std::string why;
  if (rewrite_emap_cfg(change, nullptr, &why) == 0) return true;
  show_emap_error(("\n" + why).c_str());
  return false;
}

// Shows the current map again from the file just written.
void redraw_map() {
  destroy_map_layer();
  show_map_picture();
  draw_map_markers();
}

void close_map_dialog() {
  if (emap_map_dialog) gtk_widget_destroy(emap_map_dialog);
}

std::string entry_text(GtkWidget* e) { return gtk_entry_get_text(GTK_ENTRY(e)); }

// The map dialog's target, name and path: false when a field is empty or the text is refused
// (the refusal shown).
bool read_map_dialog(std::string* target, std::string* name, std::string* path) {
  *target = emap_selected_target();
  *name = entry_text(g_name_entry);
  *path = entry_text(emap_map_path_entry);
  if (name->empty() || path->empty()) return false;
  if (const char* refusal = emap_map_text_refusal(*name, *path)) {
    show_emap_error(refusal);
    return false;
  }
  return true;
}

void on_map_add_ok(GtkWidget*, gpointer) {
  std::string target, name, path;
  if (!read_map_dialog(&target, &name, &path)) return;
  std::string clash = check_map_free(emap_tables(), target, name, path, nullptr,
                                     std::string(get_label_text("txt_EMAP_EXIST")).c_str());
  if (!clash.empty()) {
    show_emap_error(clash.c_str());
    return;
  }
  if (!store([&](EmapTables& t) { add_map(t, target, name, path); })) return;
  close_map_dialog();
  on_emap_target_changed(nullptr, nullptr);
}

void on_map_edit_ok(GtkWidget*, gpointer) {
  std::string target, name, path;
  if (!read_map_dialog(&target, &name, &path)) return;
  const std::string old_name = g_old_name;
  std::string clash = check_map_free(emap_tables(), target, name, path, old_name.c_str(),
                                     std::string(get_label_text("txt_EMAP_EXIST")).c_str());
  if (!clash.empty()) {
    show_emap_error(clash.c_str());
    return;
  }
  if (!store([&](EmapTables& t) { edit_map(t, target, old_name, name, path); })) return;
  close_map_dialog();
  on_emap_target_changed(nullptr, nullptr);
}

void create_map_dialog(const std::string& title, GCallback ok) {
  close_map_dialog();
  g_dialog_title = title;
  emap_map_dialog = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow* w = GTK_WINDOW(emap_map_dialog);
  gtk_window_set_title(w, title.c_str());
  gtk_window_set_position(w, GTK_WIN_POS_CENTER_ALWAYS);
  gtk_window_set_default_size(w, 400, 90);
  gtk_container_set_border_width(GTK_CONTAINER(w), 5);
  gtk_window_set_resizable(w, FALSE);
  g_signal_connect(emap_map_dialog, "destroy", G_CALLBACK(+[](GtkWidget*, gpointer) {
                     emap_map_dialog = emap_map_path_entry = g_name_entry = nullptr;
                   }),
                   nullptr);
  GtkWidget* fixed = gtk_fixed_new();
  gtk_container_add(GTK_CONTAINER(w), fixed);
  auto put = [fixed](GtkWidget* x, int left, int top, int width, int height) {
    gtk_widget_set_size_request(x, width, height);
    gtk_fixed_put(GTK_FIXED(fixed), x, left, top);
  };
  put(gtk_label_new(get_label_text("lbl_EMAP_EMAP_NAME")), 0, 0, 100, 20);
  g_name_entry = gtk_entry_new_with_max_length(130);
  put(g_name_entry, 100, 0, 250, 20);
  put(gtk_label_new(get_label_text("lbl_EMAP_EMAP_PATH")), 0, 30, 100, 20);
  emap_map_path_entry = gtk_entry_new_with_max_length(255);
  put(emap_map_path_entry, 100, 30, 250, 20);
  GtkWidget* row = gtk_hbox_new(TRUE, 1);
  GtkWidget* browse = gtk_button_new_with_label(get_label_text("def_EMAP_BROWSE"));
  GtkWidget* okb = gtk_button_new_with_label(get_label_text("def_EMAP_OK"));
  GtkWidget* cancel = gtk_button_new_with_label(get_label_text("def_EMAP_CANCEL"));
  for (GtkWidget* b : {browse, okb, cancel}) gtk_box_pack_start(GTK_BOX(row), b, TRUE, TRUE, 0);
  put(row, 160, 60, 240, 30);
  g_signal_connect(browse, "clicked", G_CALLBACK(choose_map_image), nullptr);
  g_signal_connect(okb, "clicked", ok, nullptr);
  g_signal_connect_swapped(cancel, "clicked", G_CALLBACK(gtk_widget_destroy), emap_map_dialog);
}

// The open map dialog of this title is raised instead of opening another: true then.
bool raise_open_dialog(const std::string& title) {
  if (!emap_map_dialog || g_dialog_title != title) return false;
  gtk_window_present(GTK_WINDOW(emap_map_dialog));
  return true;
}

// The target is a DVR of setup.cfg (its number items name channels only).
bool target_is_dvr(const std::string& target) {
  for (const RC_DVR_INFO& d : take_setup_snapshot().dvr)
    if (target == d.name) return true;
  return false;
}

void on_device_select_save(GtkWidget*, gpointer) {
  const std::string target = emap_selected_target();
  int kind = EMAP_CAMERA;
  for (int k = 0; k < 3; ++k)
    if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(g_radio[k]))) kind = k;
  gchar* text = gtk_combo_box_get_active_text(GTK_COMBO_BOX(g_number_combo));
  const std::string item = text ? text : "";
  g_free(text);
  int member = 0, ch = 0;
  if (parse_device_number_item(item, gtk_combo_box_get_active(GTK_COMBO_BOX(g_number_combo)),
                               !target_is_dvr(target), &member, &ch) != 0)
    return;
  static const LabelKey kKindLabel[3] = {"lbl_EMAP_CAMERA", "lbl_EMAP_SENSOR", "lbl_EMAP_RELAY"};
  const std::string kind_label = get_label_text(kKindLabel[kind]);
  const std::string clash =
      check_device_free(emap_tables(), target, kind, member, ch, kind_label.c_str(),
                        std::string(get_label_text("txt_EMAP_EXIST")).c_str());
  if (!clash.empty()) {
    show_emap_error(clash.c_str());
    return;
  }
  MarkerHit hit;
  const bool on_marker = find_marker_at(g_select_x, g_select_y, &hit) != 0;
  const std::string map = emap_map_name;
  const int x = g_select_x, y = g_select_y;
  if (!store([&](EmapTables& t) {
        place_marker(t, target, map, on_marker ? &hit : nullptr, kind, member, ch, x, y);
      }))
    return;
  close_device_select_dialog();
  redraw_map();
}

void on_device_select_cancel(GtkWidget*, gpointer) {
  MarkerHit hit;
  if (find_marker_at(g_select_x, g_select_y, &hit)) {
    const std::string target = emap_selected_target(), map = emap_map_name;
    store([&](EmapTables& t) { remove_marker(t, target, map, hit); });
  }
  close_device_select_dialog();
  redraw_map();
}

}  // namespace

void close_device_select_dialog() {
  if (emap_select_dialog) gtk_widget_destroy(emap_select_dialog);
  emap_select_dialog = nullptr;
  emap_dialog_open = false;
}

void open_map_add_dialog(GtkWidget*, gpointer) {
  if (!emap_combo || gtk_combo_box_get_active(GTK_COMBO_BOX(emap_combo)) < 0) return;
  close_device_select_dialog();
  const std::string title = get_label_text("lbl_EMAP_EMAP_ADD");
  if (raise_open_dialog(title)) return;
  create_map_dialog(title, G_CALLBACK(on_map_add_ok));
  gtk_widget_show_all(emap_map_dialog);
}

void open_map_edit_dialog(GtkWidget*, gpointer) {
  close_device_select_dialog();
  const std::string title = get_label_text("lbl_EMAP_EMAP_EDIT");
  if (raise_open_dialog(title)) return;
  GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(emap_map_list));
  GtkTreeModel* model = nullptr;
  GtkTreeIter it;
  if (!gtk_tree_selection_get_selected(sel, &model, &it)) return;
  gchar* text = nullptr;
  gtk_tree_model_get(model, &it, 0, &text, -1);
  g_old_name = text ? text : "";
  g_free(text);
  std::string path;
  const std::string target = emap_selected_target();
  const EmapTables& t = emap_tables();
  for (const emap_info& e : t.dvr)
    if (target == e.dvr_name)
      for (const emap_map_info& m : e.map)
        if (g_old_name == m.map_name) path = m.map_image;
  for (const emap_group_info& g : t.group)
    if (target == g.group_name)
      for (const emap_map_info& m : g.map)
        if (g_old_name == m.map_name) path = m.map_image;
  create_map_dialog(title, G_CALLBACK(on_map_edit_ok));
  gtk_entry_set_text(GTK_ENTRY(g_name_entry), g_old_name.c_str());
  gtk_entry_set_text(GTK_ENTRY(emap_map_path_entry), path.c_str());
  gtk_widget_show_all(emap_map_dialog);
}

void on_map_delete(GtkWidget*, gpointer) {
  const std::string target = emap_selected_target();
  close_device_select_dialog();
  GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(emap_map_list));
  GtkTreeModel* model = nullptr;
  GtkTreeIter it;
  if (!gtk_tree_selection_get_selected(sel, &model, &it)) return;

  BoxAnswer preset;
  bool yes = false;
  if (unattended_box_answer("Delete Emap?", "", BoxButtons::yes_no, &preset)) {
    yes = preset == BoxAnswer::yes;
  } else {
    GtkWidget* q = gtk_dialog_new_with_buttons(
        "Delete Emap?", GTK_WINDOW(emap_window),
        static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
        GTK_STOCK_YES, GTK_RESPONSE_YES, GTK_STOCK_NO, GTK_RESPONSE_NO, nullptr);
    gtk_window_set_position(GTK_WINDOW(q), GTK_WIN_POS_CENTER_ALWAYS);
    yes = gtk_dialog_run(GTK_DIALOG(q)) == GTK_RESPONSE_YES;
    gtk_widget_destroy(q);
  }
  if (!yes) return;

  gchar* text = nullptr;
  gtk_tree_model_get(model, &it, 0, &text, -1);
  const std::string name = text ? text : "";
  g_free(text);
  if (!store([&](EmapTables& t) { delete_map(t, target, name); })) return;
  std::string why;
  if (sync_emap_cfg(&why) != 0) printf("%s\n", why.c_str());
  destroy_map_layer();
  on_emap_target_changed(nullptr, nullptr);
}

void create_device_select_dialog(int x, int y) {
  close_device_select_dialog();
  g_select_x = x;
  g_select_y = y;
  emap_select_dialog = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow* w = GTK_WINDOW(emap_select_dialog);
  gtk_window_set_title(w, "Selection");
  gtk_window_set_default_size(w, 100, 120);
  gtk_window_set_position(w, GTK_WIN_POS_MOUSE);
  gtk_window_set_resizable(w, FALSE);
  gtk_window_set_decorated(w, FALSE);
  GtkWidget* fixed = gtk_fixed_new();
  gtk_container_set_border_width(GTK_CONTAINER(fixed), 5);
  gtk_container_add(GTK_CONTAINER(w), fixed);
  auto put = [fixed](GtkWidget* c, int left, int top, int width, int height) {
    gtk_widget_set_size_request(c, width, height);
    gtk_fixed_put(GTK_FIXED(fixed), c, left, top);
  };
  GtkWidget* kinds = gtk_vbox_new(TRUE, 1);
  g_radio[0] = gtk_radio_button_new_with_label(nullptr, get_label_text("lbl_EMAP_CAMERA"));
  g_radio[1] = gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(g_radio[0]),
                                                           get_label_text("lbl_EMAP_SENSOR"));
  g_radio[2] = gtk_radio_button_new_with_label_from_widget(GTK_RADIO_BUTTON(g_radio[0]),
                                                           get_label_text("lbl_EMAP_RELAY"));
  for (GtkWidget* r : g_radio) gtk_box_pack_start(GTK_BOX(kinds), r, TRUE, TRUE, 0);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(g_radio[0]), TRUE);
  put(kinds, 0, 0, 100, 60);
  g_number_combo = gtk_combo_box_new_text();
  put(g_number_combo, 0, 60, 100, 20);
  fill_device_number_combo(g_number_combo);
  GtkWidget* row = gtk_hbox_new(TRUE, 1);
  GtkWidget* save = gtk_button_new_with_label(get_label_text("def_EMAP_SAVE"));
  GtkWidget* cancel = gtk_button_new_with_label(get_label_text("def_EMAP_CANCEL"));
  gtk_box_pack_start(GTK_BOX(row), save, TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(row), cancel, TRUE, TRUE, 0);
  put(row, 0, 85, 100, 25);
  emap_dialog_open = true;
  gtk_widget_show_all(emap_select_dialog);
  g_signal_connect(save, "clicked", G_CALLBACK(on_device_select_save), nullptr);
  g_signal_connect(cancel, "clicked", G_CALLBACK(on_device_select_cancel), nullptr);
}
