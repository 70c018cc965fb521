// The group page: the group list with add, edit and delete, and the group form over it.
#include <gtk/gtk.h>

#include <algorithm>
#include <cstring>

#include "tool/module/gui_setup/dialogs.h"
#include "tool/module/gui_setup/group_form_model.h"
#include "tool/module/gui_setup/gui_setup.h"
#include "tool/module/gui_setup/gui_setup_internal.h"

namespace {

// Group list columns: the name, then the index of its record in the load that filled it.
enum { kColName = 0, kColNth = 1 };  // the name and which group of that name it is

GroupForm& form() { return setup_ui.group_form; }

std::string string_at(GtkTreeModel* m, GtkTreeIter* it, int column) {
  gchar* s = nullptr;
  gtk_tree_model_get(m, it, column, &s, -1);
  std::string out = s ? s : "";
  g_free(s);
  return out;
}

GtkTreeSelection* selection_of(GtkWidget* view) {
  return gtk_tree_view_get_selection(GTK_TREE_VIEW(view));
}

std::vector<std::string> selected_rows() {
  std::vector<std::string> rows;
  for (GtkTreeIter& it : list_rows(form().selected_store))
    rows.push_back(string_at(GTK_TREE_MODEL(form().selected_store), &it, 0));
  return rows;
}

bool list_has(const std::string& label) {
  std::vector<std::string> rows = selected_rows();
  return std::find(rows.begin(), rows.end(), label) != rows.end();
}

void append_selected(const std::string& label) {
  GtkTreeIter it;
  gtk_list_store_append(form().selected_store, &it);
  gtk_list_store_set(form().selected_store, &it, 0, label.c_str(), -1);
}

// The DVR record the site combo names (the last of that name), or null.
const RC_DVR_INFO* chosen_site(const SetupSnapshot& s) {
  std::string site = combo_text(form().site);
  if (site.empty()) return nullptr;
  const RC_DVR_INFO* found = nullptr;
  for (const RC_DVR_INFO& d : s.dvr)
    if (site == d.name) found = &d;
  return found;
}

void on_site_changed(GtkComboBox*, gpointer) {
  GtkListStore* store = gtk_list_store_new(1, G_TYPE_STRING);
  gtk_tree_view_set_model(GTK_TREE_VIEW(form().tree), GTK_TREE_MODEL(store));
  g_object_unref(store);
  form().tree_store = store;
  std::string site = combo_text(form().site);
  SetupSnapshot s = take_setup_snapshot();
  for (const RC_DVR_INFO& d : s.dvr) {
    if (site != d.name) continue;
    for (int c = 1; c <= d.num_video; ++c) {
      GtkTreeIter it;
      gtk_list_store_append(store, &it);
      gtk_list_store_set(store, &it, 0, camera_tree_label(d.protocol, c).c_str(), -1);
    }
  }
}

void on_camera_add(GtkButton*, gpointer) {
  SetupSnapshot s = take_setup_snapshot();
  const RC_DVR_INFO* d = chosen_site(s);
  GtkTreeModel* model = nullptr;
  GtkTreeIter picked;
  if (!d || !gtk_tree_selection_get_selected(selection_of(form().tree), &model, &picked)) return;
  std::string tree_label = string_at(model, &picked, 0);
  std::string candidate = std::string(d->name) + ":" + tree_label;
  if (list_has(candidate)) {
    show_error_dialog(get_label_text("txt_CAM_EXIST"));
    return;
  }
  if (static_cast<int>(selected_rows().size()) < kMaxGroupCameras) append_selected(candidate);
  // Repeated ADD walks down the tree: the row after the added one is selected.
  GtkTreeIter next = picked;
  if (gtk_tree_model_iter_next(model, &next))
    gtk_tree_selection_select_iter(selection_of(form().tree), &next);
}

void on_camera_add_all(GtkButton*, gpointer) {
  SetupSnapshot s = take_setup_snapshot();
  const RC_DVR_INFO* d = chosen_site(s);
  if (!d) return;
  for (int c = 1; c <= d->num_video; ++c) {
    std::string label = camera_list_label(d->name, d->protocol, c);
    if (!list_has(label) && static_cast<int>(selected_rows().size()) < kMaxGroupCameras)
      append_selected(label);
  }
}

void on_camera_delete(GtkButton*, gpointer) {
  GtkTreeModel* model = nullptr;
  GtkTreeIter it;
  if (gtk_tree_selection_get_selected(selection_of(form().selected), &model, &it))
    gtk_list_store_remove(form().selected_store, &it);
}

void on_camera_empty(GtkButton*, gpointer) { gtk_list_store_clear(form().selected_store); }

GtkWidget* form_put(GtkWidget* w, int x, int y, int width, int height) {
  return put_in_form(form(), setup_ui.group, w, x, y, width, height);
}

GtkWidget* list_in_scroll(GtkWidget** view, const char* title, bool headers, int x, int y,
                          int width, int height) {
  GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_AUTOMATIC,
                                 GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll), GTK_SHADOW_ETCHED_IN);
  *view = gtk_tree_view_new();
  GtkTreeViewColumn* col = gtk_tree_view_column_new_with_attributes(
      title, gtk_cell_renderer_text_new(), "text", 0, nullptr);
  gtk_tree_view_append_column(GTK_TREE_VIEW(*view), col);
  gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(*view), headers ? TRUE : FALSE);
  if (headers) gtk_tree_view_column_set_sort_column_id(col, 0);
  gtk_container_add(GTK_CONTAINER(scroll), *view);
  form_put(scroll, x, y, width, height);
  return *view;
}

void create_group_form() {
  begin_form(form(), setup_ui.group);
  GroupForm& f = form();
  form_put(new_key_label("lbl_GNAME", 1.0f), 0, 0, 100, 20);
  f.name = form_put(new_entry(32), 110, 0, 200, 20);
  form_put(new_key_label("lbl_SITE", 1.0f), 0, 30, 100, 20);
  f.site = form_put(gtk_combo_box_text_new(), 110, 30, 180, 20);
  SetupSnapshot s = take_setup_snapshot();
  for (const RC_DVR_INFO& d : s.dvr)
    gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(f.site), d.name);

  list_in_scroll(&f.tree, "CAMERA", false, 70, 60, 200, 130);
  f.tree_store = gtk_list_store_new(1, G_TYPE_STRING);
  gtk_tree_view_set_model(GTK_TREE_VIEW(f.tree), GTK_TREE_MODEL(f.tree_store));
  g_object_unref(f.tree_store);
  gtk_tree_selection_set_mode(selection_of(f.tree), GTK_SELECTION_SINGLE);

  f.add = new_key_button("def_ADD");
  f.del = new_key_button("def_DELETE");
  f.add_all = new_key_button("def_ADDALL");
  f.empty = new_key_button("def_EMPTY");
  GtkWidget* column = gtk_vbox_new(TRUE, 1);
  for (GtkWidget* b : {f.add, f.del, f.add_all, f.empty})
    gtk_box_pack_start(GTK_BOX(column), b, TRUE, TRUE, 0);
  form_put(column, 280, 60, 80, 120);

  form_put(new_key_label("lbl_GLIST", 0.0f), 370, 30, 100, 20);
  list_in_scroll(&f.selected, get_label_text("lbl_SELECTEDCAM"), true, 370, 55, 200, 160);
  f.selected_store = gtk_list_store_new(1, G_TYPE_STRING);
  gtk_tree_view_set_model(GTK_TREE_VIEW(f.selected), GTK_TREE_MODEL(f.selected_store));
  g_object_unref(f.selected_store);

  g_signal_connect(f.site, "changed", G_CALLBACK(on_site_changed), nullptr);
  g_signal_connect(f.add, "clicked", G_CALLBACK(on_camera_add), nullptr);
  g_signal_connect(f.add_all, "clicked", G_CALLBACK(on_camera_add_all), nullptr);
  g_signal_connect(f.del, "clicked", G_CALLBACK(on_camera_delete), nullptr);
  g_signal_connect(f.empty, "clicked", G_CALLBACK(on_camera_empty), nullptr);
  end_form(f, setup_ui.group, G_CALLBACK(+[](GtkButton*, gpointer) { close_group_form(); }));
}

void save_group_form(GtkButton*, gpointer) {
  GroupFormData d;
  d.edit = form().edit;
  d.old_name = form().old_name;
  d.name = entry_text(form().name);
  d.rows = selected_rows();
  SetupSnapshot s = take_setup_snapshot();
  if (!finish_save(check_group_form(d, s),
                   [&] { return d.edit ? compose_group_edit(d, s) : compose_group_add(d, s); }))
    return;
  fill_group_list();
  close_group_form();
}

void on_group_add(GtkButton*, gpointer) {
  if (form().open) return;
  create_group_form();
  form().edit = false;
  g_signal_connect(form().ok, "clicked", G_CALLBACK(save_group_form), nullptr);
}

void on_group_edit(GtkButton*, gpointer) {
  if (form().open) return;
  GtkListStore* store = setup_ui.group.store;
  GtkTreeSelection* sel = selection_of(setup_ui.group.view);
  if (list_rows(store).empty() || gtk_tree_selection_count_selected_rows(sel) != 1) return;
  std::string name;
  for (GtkTreeIter& it : list_rows(store))
    if (gtk_tree_selection_iter_is_selected(sel, &it))
      name = string_at(GTK_TREE_MODEL(store), &it, kColName);
  create_group_form();
  form().edit = true;
  set_entry_whole(form().name, name.c_str());
  form().old_name = name;
  SetupSnapshot s = take_setup_snapshot();
  for (const SetupGroup& g : s.group) {
    if (g.name != name) continue;
    // The stored cameras come back whole, beyond the limit of what ADD may add.
    for (const std::string& row : group_rows_from_masks(g)) append_selected(row);
  }
  g_signal_connect(form().ok, "clicked", G_CALLBACK(save_group_form), nullptr);
}

std::vector<std::string> group_keys(const SetupSnapshot& s) {
  std::vector<std::string> keys;
  for (const SetupGroup& g : s.group) keys.push_back(g.name);
  return keys;
}

void on_group_delete(GtkButton*, gpointer) {
  GtkListStore* store = setup_ui.group.store;
  if (list_rows(store).empty()) return;
  if (ask_question(get_label_text("txt_DELETEITEM")) != 1) return;
  GtkTreeSelection* sel = selection_of(setup_ui.group.view);
  std::vector<GtkTreeIter> doomed;  // collect_selected_groups
  for (GtkTreeIter& it : list_rows(store))
    if (gtk_tree_selection_iter_is_selected(sel, &it)) doomed.push_back(it);
  reload_setup_cfg();
  const SetupSnapshot s = take_setup_snapshot();
  finish_delete(store, doomed, kColNth, s, group_keys(s), compose_group_delete, fill_group_list);
}

}  // namespace

void fill_group_list() {
  GtkListStore* store = setup_ui.group.store;
  if (!store) return;
  SetupSnapshot s = reload_for_list(store);
  const std::vector<std::string> keys = group_keys(s);
  for (size_t i = 0; i < s.group.size(); ++i) {
    GtkTreeIter it;
    gtk_list_store_append(store, &it);
    gtk_list_store_set(store, &it, kColName, s.group[i].name.c_str(), kColNth,
                       key_occurrence(keys, i), -1);
  }
}

void build_group_page(GtkWidget* fixed) {
  ListPage& page = setup_ui.group;
  build_list_view(page, fixed);
  // init_group_list
  GtkTreeViewColumn* col = gtk_tree_view_column_new_with_attributes(
      get_label_text("lbl_GNAME"), gtk_cell_renderer_text_new(), "text", kColName, nullptr);
  gtk_tree_view_column_set_sort_column_id(col, kColName);
  gtk_tree_view_append_column(GTK_TREE_VIEW(page.view), col);
  page.store = gtk_list_store_new(2, G_TYPE_STRING, G_TYPE_INT);
  gtk_tree_view_set_model(GTK_TREE_VIEW(page.view), GTK_TREE_MODEL(page.store));
  g_object_unref(page.store);
  fill_group_list();

  build_list_buttons(page, G_CALLBACK(on_group_add), G_CALLBACK(on_group_edit),
                     G_CALLBACK(on_group_delete));
}
