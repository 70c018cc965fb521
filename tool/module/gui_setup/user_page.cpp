// The account page: the account list with add, edit and delete, and the user form over it.
#include <gtk/gtk.h>

#include "tool/module/gui_setup/dialogs.h"
#include "tool/module/gui_setup/gui_setup.h"
#include "tool/module/gui_setup/gui_setup_internal.h"
#include "tool/module/gui_setup/user_form_model.h"

namespace {

// Account list columns: id, full name, type text, e-mail, then the record's index.
// Column 4: which account of that id the row shows (0 the first).
enum { kColId = 0, kColFullName = 1, kColType = 2, kColEmail = 3, kColNth = 4 };

UserForm& form() { return setup_ui.user_form; }

GtkTreeSelection* list_selection() {
  return gtk_tree_view_get_selection(GTK_TREE_VIEW(setup_ui.user.view));
}

std::string string_at(GtkTreeIter* it, int column) {
  gchar* s = nullptr;
  gtk_tree_model_get(GTK_TREE_MODEL(setup_ui.user.store), it, column, &s, -1);
  std::string out = s ? s : "";
  g_free(s);
  return out;
}

int level_of(const RC_USER_INFO& u) { return static_cast<int8_t>(u.level & 0xFF); }

bool all_rights_on() {
  for (GtkWidget* b : form().rights)
    if (!gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(b))) return false;
  return true;
}

void on_user_type_changed(GtkComboBox* combo, gpointer) {
  if (gtk_combo_box_get_active(combo) != kLevelAdmin - 1) return;
  form().coupling = true;
  for (GtkWidget* b : form().rights) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(b), TRUE);
  form().coupling = false;
}

void on_right_toggled(GtkButton*, gpointer) {
  if (form().coupling || all_rights_on()) return;
  gtk_combo_box_set_active(GTK_COMBO_BOX(form().type), kLevelNormal - 1);
}

GtkWidget* form_put(GtkWidget* w, int x, int y, int width, int height) {
  return put_in_form(form(), setup_ui.user, w, x, y, width, height);
}

void create_user_form() {
  begin_form(form(), setup_ui.user);
  UserForm& f = form();
  auto row = [&](LabelKey key, int y) { form_put(new_key_label(key, 1.0f), 0, y, 100, 20); };
  row("lbl_USER_TYPE", 0);
  f.type = form_put(gtk_combo_box_text_new(), 110, 0, 100, 20);
  gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(f.type), get_label_text("lbl_ADMIN"));
  gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(f.type), get_label_text("lbl_NORMALUSER"));
  gtk_combo_box_set_active(GTK_COMBO_BOX(f.type), kLevelNormal - 1);
  row("lbl_USER", 30);
  f.id = form_put(new_entry(32), 110, 30, 200, 20);
  row("lbl_FNAME", 60);
  f.fullname = form_put(new_entry(50), 110, 60, 200, 20);
  row("lbl_PASSWORD", 90);
  f.password = form_put(new_entry(16, true), 110, 90, 200, 20);
  row("lbl_CONPASS", 120);
  f.confirm = form_put(new_entry(16, true), 110, 120, 200, 20);
  row("lbl_EMAIL", 150);
  f.email = form_put(new_entry(50), 110, 150, 200, 20);

  GtkWidget* frame = gtk_frame_new(get_label_text("lbl_ACCESS"));
  form_put(frame, 330, 0, 250, 150);
  GtkWidget* inner = gtk_fixed_new();
  gtk_container_set_border_width(GTK_CONTAINER(inner), 5);
  gtk_container_add(GTK_CONTAINER(frame), inner);
  const std::string names[kNumRights] = {
      label_text("lbl_SETUP"),      label_text("lbl_SEARCH"),     "Emap",
      label_text("lbl_FILEPLYBCK"), label_text("lbl_DVRSETUP"),   label_text("lbl_PTZCTRL"),
      label_text("lbl_RECORD"),     label_text("lbl_SPOTWINDOW"), label_text("lbl_LOGVIEW"),
      label_text("lbl_SNAPSHOT")};
  for (int i = 0; i < kNumRights; ++i) {
    f.rights[i] = gtk_check_button_new_with_label(names[i].c_str());
    put(inner, f.rights[i], i < 5 ? 5 : 125, (i % 5) * 25, 100, 20);
  }

  g_signal_connect(f.type, "changed", G_CALLBACK(on_user_type_changed), nullptr);
  for (GtkWidget* b : f.rights)
    g_signal_connect(b, "clicked", G_CALLBACK(on_right_toggled), nullptr);
  end_form(f, setup_ui.user, G_CALLBACK(+[](GtkButton*, gpointer) { close_user_form(); }));
}

UserFormData read_user_form() {
  const UserForm& f = form();
  UserFormData d;
  d.edit = f.edit;
  d.old_id = f.old_id;
  d.level = gtk_combo_box_get_active(GTK_COMBO_BOX(f.type)) == kLevelAdmin - 1 ? kLevelAdmin
                                                                               : kLevelNormal;
  d.id = entry_text(f.id);
  d.fullname = entry_text(f.fullname);
  d.password = entry_text(f.password);
  d.confirm = entry_text(f.confirm);
  d.email = entry_text(f.email);
  for (int i = 0; i < kNumRights; ++i)
    if (gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(f.rights[i]))) d.rights |= 1u << i;
  return d;
}

void save_user_form(GtkButton*, gpointer) {
  UserFormData d = read_user_form();
  SetupSnapshot s = take_setup_snapshot();
  if (!finish_save(check_user_form(d, s),
                   [&] { return d.edit ? compose_user_edit(d, s) : compose_user_add(d, s); }))
    return;
  fill_user_list();
  close_user_form();
}

void on_user_add(GtkButton*, gpointer) {
  if (form().open) return;
  create_user_form();
  form().edit = false;
  g_signal_connect(form().ok, "clicked", G_CALLBACK(save_user_form), nullptr);
}

void on_user_edit(GtkButton*, gpointer) {
  if (form().open) return;
  if (list_rows(setup_ui.user.store).empty() ||
      gtk_tree_selection_count_selected_rows(list_selection()) != 1)
    return;
  std::string id, fullname;
  for (GtkTreeIter& it : list_rows(setup_ui.user.store))
    if (gtk_tree_selection_iter_is_selected(list_selection(), &it)) {
      id = string_at(&it, kColId);
      fullname = string_at(&it, kColFullName);
    }
  create_user_form();
  UserForm& f = form();
  f.edit = true;
  if (is_privileged_account(id)) {
    gtk_widget_set_sensitive(f.id, FALSE);
    gtk_widget_set_sensitive(f.type, FALSE);
    for (GtkWidget* b : f.rights) gtk_widget_set_sensitive(b, FALSE);
  }
  f.old_id = id;
  set_entry_whole(f.id, id.c_str());
  set_entry_whole(f.fullname, fullname.c_str());
  SetupSnapshot s = take_setup_snapshot();
  for (const RC_USER_INFO& u : s.user) {
    if (entry_text(f.id) != u.user) continue;
    if (operator_level == kLevelNormal && setup_ui.operator_id != u.user) {
      // Nothing may touch the form once it is gone.
      close_user_form();
      show_error_dialog(get_label_text("txt_ERROR_AUTHORITY"));
      return;
    }
    set_entry_whole(f.password, u.password);
    set_entry_whole(f.confirm, u.password);
    set_entry_whole(f.email, u.note);
    if (level_of(u) == kLevelAdmin) {
      gtk_combo_box_set_active(GTK_COMBO_BOX(f.type), kLevelAdmin - 1);
    } else {
      for (int i = 0; i < kNumRights; ++i)
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(f.rights[i]),
                                     (u.rights_mask1 >> i) & 1u ? TRUE : FALSE);
    }
  }
  if (operator_level == kLevelNormal) {
    for (GtkWidget* b : f.rights) gtk_widget_set_sensitive(b, FALSE);
    gtk_widget_set_sensitive(f.type, FALSE);
  }
  g_signal_connect(f.ok, "clicked", G_CALLBACK(save_user_form), nullptr);
}

std::vector<std::string> user_keys(const SetupSnapshot& s) {
  std::vector<std::string> keys;
  for (const RC_USER_INFO& u : s.user) keys.emplace_back(u.user);
  return keys;
}

void on_user_delete(GtkButton*, gpointer) {
  GtkListStore* store = setup_ui.user.store;
  if (list_rows(store).empty()) return;
  if (ask_question(get_label_text("txt_DELETEITEM")) != 1) return;
  std::vector<GtkTreeIter> doomed;  // collect_selected_users, in list order
  for (GtkTreeIter& it : list_rows(store)) {
    if (!gtk_tree_selection_iter_is_selected(list_selection(), &it)) continue;
    std::string id = string_at(&it, kColId);
    if (id == setup_ui.operator_id)
      show_error_dialog(get_label_text("txt_ERROR_SELF_ACCOUNT"));
    else if (is_privileged_account(id))
      show_error_dialog(get_label_text("txt_ERROR_ADMIN"));
    else
      doomed.push_back(it);
  }
  reload_setup_cfg();
  const SetupSnapshot s = take_setup_snapshot();
  finish_delete(store, doomed, kColNth, s, user_keys(s), compose_user_delete, fill_user_list);
}

}  // namespace

void fill_user_list() {
  GtkListStore* store = setup_ui.user.store;
  if (!store) return;
  SetupSnapshot s = reload_for_list(store);
  const std::string admin = label_text("lbl_ADMIN");
  const std::string normal = label_text("lbl_NORMALUSER");
  const std::vector<std::string> keys = user_keys(s);
  for (size_t i = 0; i < s.user.size(); ++i) {
    const RC_USER_INFO& u = s.user[i];
    int level = level_of(u);
    // A level the tool does not know gets no type text.
    const char* type = level == kLevelAdmin    ? admin.c_str()
                       : level == kLevelNormal ? normal.c_str()
                                               : "";
    GtkTreeIter it;
    gtk_list_store_append(store, &it);
    gtk_list_store_set(store, &it, kColId, u.user, kColFullName, u.fullname, kColType, type,
                       kColEmail, u.note, kColNth, key_occurrence(keys, i), -1);
    if (setup_ui.operator_id == u.user) operator_level = level;
  }
}

void build_user_page(GtkWidget* fixed) {
  ListPage& page = setup_ui.user;
  build_list_view(page, fixed);
  // init_user_list
  const std::string titles[] = {label_text("lbl_USER"), label_text("lbl_FNAME"),
                                label_text("lbl_USER_TYPE"), label_text("lbl_EMAIL")};
  for (int c = 0; c < 4; ++c) {
    GtkTreeViewColumn* col = gtk_tree_view_column_new_with_attributes(
        titles[c].c_str(), gtk_cell_renderer_text_new(), "text", c, nullptr);
    gtk_tree_view_column_set_resizable(col, TRUE);
    gtk_tree_view_column_set_sort_column_id(col, c);
    gtk_tree_view_append_column(GTK_TREE_VIEW(page.view), col);
  }
  page.store =
      gtk_list_store_new(5, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_INT);
  gtk_tree_view_set_model(GTK_TREE_VIEW(page.view), GTK_TREE_MODEL(page.store));
  g_object_unref(page.store);
  fill_user_list();

  build_list_buttons(page, G_CALLBACK(on_user_add), G_CALLBACK(on_user_edit),
                     G_CALLBACK(on_user_delete));
}

int check_user_form_lengths() { return form().open ? user_form_too_long(read_user_form()) : 0; }
