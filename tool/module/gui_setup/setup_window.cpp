// The Client Setup window: notebook, page frames and buttons, form closing, length checks.
#include <gtk/gtk.h>

#include <cstring>

#include "client/foundation/config/utils.h"
#include "tool/module/gui_setup/dialogs.h"
#include "tool/module/gui_setup/gui_setup.h"
#include "tool/module/gui_setup/gui_setup_internal.h"
#include "tool/module/gui_setup/setup_writer.h"
#include "tool/module/gui_setup/user_form_model.h"
#include "tool/module/logview/logview.h"

SetupWindow setup_ui;
int operator_level = 0;

// ---------------------------------------------------------------------------------------
// Helpers

GtkWidget* put(GtkWidget* fixed, GtkWidget* w, int x, int y, int width, int height) {
  gtk_widget_set_size_request(w, width, height);
  gtk_fixed_put(GTK_FIXED(fixed), w, x, y);
  return w;
}

GtkWidget* new_label(const char* text, float xalign) {
  GtkWidget* l = gtk_label_new(text);
  gtk_misc_set_alignment(GTK_MISC(l), xalign, 0.5f);
  return l;
}

GtkWidget* new_key_label(LabelKey key, float xalign) {
  return new_label(get_label_text(key), xalign);
}

GtkWidget* new_key_button(LabelKey key) { return gtk_button_new_with_label(get_label_text(key)); }

GtkWidget* new_entry(int max_chars, bool hidden) {
  GtkWidget* e = gtk_entry_new();
  gtk_entry_set_max_length(GTK_ENTRY(e), max_chars);
  if (hidden) gtk_entry_set_visibility(GTK_ENTRY(e), FALSE);
  return e;
}

GtkWidget* new_button_row(std::initializer_list<GtkWidget*> buttons) {
  GtkWidget* row = gtk_hbox_new(TRUE, 1);
  for (GtkWidget* b : buttons) gtk_box_pack_start(GTK_BOX(row), b, TRUE, TRUE, 0);
  return row;
}

GtkWidget* new_frame(GtkWidget* fixed, LabelKey key, int x, int y, int width, int height) {
  GtkWidget* frame = gtk_frame_new(get_label_text(key));
  put(fixed, frame, x, y, width, height);
  GtkWidget* inner = gtk_fixed_new();
  gtk_container_set_border_width(GTK_CONTAINER(inner), 5);
  gtk_container_add(GTK_CONTAINER(frame), inner);
  return inner;
}

void set_entry_whole(GtkWidget* entry, const char* text) {
  if (!text) text = "";
  int limit = gtk_entry_get_max_length(GTK_ENTRY(entry));
  glong chars = g_utf8_validate(text, -1, nullptr) ? g_utf8_strlen(text, -1)
                                                   : static_cast<glong>(strlen(text));
  if (limit > 0 && chars > limit)
    gtk_entry_set_max_length(GTK_ENTRY(entry), static_cast<gint>(chars));
  gtk_entry_set_text(GTK_ENTRY(entry), text);
}

std::string entry_text(GtkWidget* entry) {
  const char* t = entry ? gtk_entry_get_text(GTK_ENTRY(entry)) : nullptr;
  return t ? t : "";
}

std::string combo_text(GtkWidget* combo) {
  gchar* t = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(combo));
  std::string s = t ? t : "";
  g_free(t);
  return s;
}

std::vector<GtkTreeIter> list_rows(GtkListStore* store) {
  std::vector<GtkTreeIter> rows;
  GtkTreeIter it;
  GtkTreeModel* m = GTK_TREE_MODEL(store);
  for (gboolean ok = gtk_tree_model_get_iter_first(m, &it); ok;
       ok = gtk_tree_model_iter_next(m, &it))
    rows.push_back(it);
  return rows;
}

std::string label_text(LabelKey key) { return get_label_text(key); }

void report_save_failure(const char* file, const std::string& why) {
  std::string text =
      std::string(file) + " could not be saved and was left as it was (" + why + ").";
  show_error_dialog(text.c_str());
}

bool finish_save(const std::optional<LabelKey>& failed,
                 const std::function<std::string()>& compose) {
  if (failed) {
    show_error_dialog(get_label_text(*failed));
    return false;
  }
  // Told once a window, and again when other lines come to be damaged.
  if (std::string notice = damaged_dvr_notice(take_setup_snapshot());
      !notice.empty() && notice != setup_ui.damage_told) {
    set_current_message(notice.c_str());
    show_info_dialog();
    setup_ui.damage_told = notice;
  }
  std::string why;
  if (save_setup_cfg(compose(), &why) != 0) {
    report_save_failure(kSetupPath, why);
    return false;
  }
  return true;
}

SetupSnapshot reload_for_list(GtkListStore* store) {
  gtk_list_store_clear(store);
  reload_setup_cfg();
  return take_setup_snapshot();
}

int key_occurrence(const std::vector<std::string>& keys, size_t i) {
  int n = 0;
  for (size_t j = 0; j < i && j < keys.size(); ++j) n += keys[j] == keys[i];
  return n;
}

void finish_delete(GtkListStore* store, const std::vector<GtkTreeIter>& doomed, int nth_column,
                   const SetupSnapshot& s, const std::vector<std::string>& keys,
                   std::string (*compose)(const std::vector<int>& keep, const SetupSnapshot& s),
                   void (*refill)()) {
  auto row_key = [&](GtkTreeIter* it) {
    gchar* key = nullptr;
    gint nth = 0;
    gtk_tree_model_get(GTK_TREE_MODEL(store), it, 0, &key, nth_column, &nth, -1);
    RowKey out{key ? key : "", nth};
    g_free(key);
    return out;
  };
  std::vector<RowKey> deleted, left;
  for (GtkTreeIter it : doomed) {
    deleted.push_back(row_key(&it));
    gtk_list_store_remove(store, &it);
  }
  for (GtkTreeIter& it : list_rows(store)) left.push_back(row_key(&it));
  finish_save(std::nullopt, [&] { return compose(records_after_delete(keys, left, deleted), s); });
  refill();
}

void begin_form(FormBase& form, ListPage& page) {
  gtk_widget_hide(page.scroll);
  gtk_widget_hide(page.buttons);
  form.open = true;
}

GtkWidget* put_in_form(FormBase& form, ListPage& page, GtkWidget* w, int x, int y, int width,
                       int height) {
  put(page.fixed, w, x, y, width, height);
  form.placed.push_back(w);
  return w;
}

void end_form(FormBase& form, ListPage& page, GCallback on_cancel) {
  form.ok = new_key_button("def_OK");
  form.cancel = new_key_button("def_CANCEL");
  put_in_form(form, page, new_button_row({form.ok, form.cancel}), 420, 270, 160, 30);
  g_signal_connect(form.cancel, "clicked", on_cancel, nullptr);
  gtk_widget_show_all(page.fixed);
  gtk_widget_hide(page.scroll);
  gtk_widget_hide(page.buttons);
}

void build_list_view(ListPage& page, GtkWidget* fixed) {
  page.fixed = fixed;
  page.scroll = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(page.scroll), GTK_POLICY_AUTOMATIC,
                                 GTK_POLICY_AUTOMATIC);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(page.scroll), GTK_SHADOW_ETCHED_IN);
  put(fixed, page.scroll, 0, 0, 580, 263);
  page.view = gtk_tree_view_new();
  gtk_tree_selection_set_mode(gtk_tree_view_get_selection(GTK_TREE_VIEW(page.view)),
                              GTK_SELECTION_MULTIPLE);
  gtk_container_add(GTK_CONTAINER(page.scroll), page.view);
}

void build_list_buttons(ListPage& page, GCallback add, GCallback edit, GCallback del) {
  page.add = new_key_button("def_ADD");
  page.edit = new_key_button("def_EDIT");
  page.del = new_key_button("def_DELETE");
  page.close = new_key_button("def_CLOSE");
  page.buttons = put(page.fixed, new_button_row({page.add, page.edit, page.del, page.close}), 260,
                     273, 320, 30);
  g_signal_connect(page.add, "clicked", add, nullptr);
  g_signal_connect(page.edit, "clicked", edit, nullptr);
  g_signal_connect(page.del, "clicked", del, nullptr);
}

// ---------------------------------------------------------------------------------------
// The window

namespace {

gboolean on_delete_event(GtkWidget*, GdkEvent*, gpointer) {
  close_setup_window();
  return TRUE;
}

void on_close_clicked(GtkButton*, gpointer) { close_setup_window(); }

GtkWidget* new_page(GtkWidget* notebook, const char* tab) {
  GtkWidget* fixed = gtk_fixed_new();
  gtk_container_set_border_width(GTK_CONTAINER(fixed), 10);
  gtk_notebook_append_page(GTK_NOTEBOOK(notebook), fixed, gtk_label_new(tab));
  return fixed;
}

}  // namespace

GtkWindow* setup_window_widget() { return setup_ui.window ? GTK_WINDOW(setup_ui.window) : nullptr; }

void create_setup_window(const char* operator_id, const char* /*password*/) {
  setup_ui.operator_id = operator_id ? operator_id : "";
  GtkWidget* win = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  setup_ui.window = win;
  gtk_window_set_position(GTK_WINDOW(win), GTK_WIN_POS_CENTER);
  gtk_window_set_title(GTK_WINDOW(win), "ZOL Client Setup");
  gtk_window_set_resizable(GTK_WINDOW(win), FALSE);
  gtk_window_set_icon_from_file(GTK_WINDOW(win), "./images/icon.bmp", nullptr);

  RC_SYSTEM_INFO sys{};
  copy_system_info(&sys);
  setup_ui.korean = strcmp(sys.language, "Korean") == 0;

  GtkWidget* table = gtk_table_new(3, 6, FALSE);
  gtk_container_add(GTK_CONTAINER(win), table);
  GtkWidget* notebook = gtk_notebook_new();
  setup_ui.notebook = notebook;
  gtk_container_set_border_width(GTK_CONTAINER(notebook), 5);
  gtk_notebook_set_tab_pos(GTK_NOTEBOOK(notebook), GTK_POS_TOP);
  gtk_table_attach_defaults(GTK_TABLE(table), notebook, 0, 6, 0, 1);

  build_dvr_page(new_page(notebook, "DVR"));
  build_group_page(new_page(notebook, get_label_text("lbl_GROUP")));
  build_user_page(new_page(notebook, get_label_text("lbl_ACCOUNT")));
  if (operator_level == kLevelNormal) {
    gtk_widget_set_sensitive(setup_ui.user.add, FALSE);
    gtk_widget_set_sensitive(setup_ui.user.del, FALSE);
  }
  build_system_page(new_page(notebook, get_label_text("lbl_SYSTEM")));
  build_email_page(new_page(notebook, get_label_text("lbl_EMAIL")));

  for (GtkWidget* b : {setup_ui.dvr.close, setup_ui.group.close, setup_ui.user.close,
                       setup_ui.system.close, setup_ui.email.close})
    g_signal_connect(b, "clicked", G_CALLBACK(on_close_clicked), nullptr);
  g_signal_connect(win, "delete-event", G_CALLBACK(on_delete_event), nullptr);
  gtk_widget_show_all(win);
}

void close_setup_window() {
  if (!setup_ui.window) return;
  GtkWidget* win = setup_ui.window;
  setup_ui = SetupWindow{};
  gtk_widget_destroy(win);
  gtk_main_quit();
}

void show_system_log() {
  // The system log window is looked up by its title: it may have been closed on its own.
  GList* all = gtk_window_list_toplevels();
  bool open = false;
  for (GList* l = all; l; l = l->next) {
    GtkWindow* w = GTK_WINDOW(l->data);
    const char* title = gtk_window_get_title(w);
    if (title && strcmp(title, kSyslogTitle) == 0 && gtk_widget_get_visible(GTK_WIDGET(w))) {
      gtk_window_present(w);
      open = true;
      break;
    }
  }
  g_list_free(all);
  if (!open) create_syslog_window();
}

namespace {

void close_form(FormBase& form, ListPage& page) {
  for (GtkWidget* w : form.placed) gtk_widget_destroy(w);
  form.placed.clear();
  form.open = false;
  if (page.scroll) gtk_widget_show(page.scroll);
  if (page.buttons) gtk_widget_show(page.buttons);
}

}  // namespace

void close_dvr_form() {
  close_form(setup_ui.dvr_form, setup_ui.dvr);
  setup_ui.dvr_form = DvrForm{};
}

void close_group_form() {
  close_form(setup_ui.group_form, setup_ui.group);
  setup_ui.group_form = GroupForm{};
}

void close_user_form() {
  close_form(setup_ui.user_form, setup_ui.user);
  setup_ui.user_form = UserForm{};
}
