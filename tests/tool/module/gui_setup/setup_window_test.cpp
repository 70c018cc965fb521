// The Client Setup window in-process on a private X server: pages, forms, their checks in
// order and what their saves write. Dialogs answer through VIGILO_BOX_ANSWER and their
// lines on standard error are the messages the operator would see.
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <memory>

#include "tests/tool/gtk_fixture.h"
#include "tool/emap/emap_config.h"
#include "tool/module/gui_setup/gui_setup.h"
#include "tool/module/gui_setup/gui_setup_internal.h"
#include "tool/module/logview/logview.h"

namespace {

class SetupWindowTest : public GtkToolDir {
 protected:
  void SetUp() override {
    GtkToolDir::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    setenv("VIGILO_BOX_ANSWER", "yes", 1);
  }
  void TearDown() override {
    if (setup_ui.window) gtk_widget_destroy(setup_ui.window);
    setup_ui = SetupWindow{};
    operator_level = 0;
    pump();
    GtkToolDir::TearDown();
  }
  void open(const std::string& cfg, const char* operator_id = "admin") {
    load(cfg);
    create_setup_window(operator_id, "");
    pump();
  }
  // Clicks `button` and returns the dialog lines it caused.
  std::string click(GtkWidget* button) {
    testing::internal::CaptureStderr();
    gtk_button_clicked(GTK_BUTTON(button));
    pump();
    return testing::internal::GetCapturedStderr();
  }
  static std::string error_line(LabelKey key) {
    return std::string("Error: ") + get_label_text(key);
  }
  static void set(GtkWidget* entry, const std::string& text) {
    gtk_entry_set_text(GTK_ENTRY(entry), text.c_str());
  }
  static void select_rows(ListPage& page, std::initializer_list<const char*> names) {
    GtkTreeSelection* sel = gtk_tree_view_get_selection(GTK_TREE_VIEW(page.view));
    gtk_tree_selection_unselect_all(sel);
    for (GtkTreeIter& it : list_rows(page.store)) {
      gchar* name = nullptr;
      gtk_tree_model_get(GTK_TREE_MODEL(page.store), &it, 0, &name, -1);
      for (const char* n : names)
        if (g_strcmp0(name, n) == 0) gtk_tree_selection_select_iter(sel, &it);
      g_free(name);
    }
  }
  // The texts of column `col` of every row.
  static std::vector<std::string> column(GtkListStore* store, int col = 0) {
    std::vector<std::string> out;
    for (GtkTreeIter& it : list_rows(store)) {
      gchar* s = nullptr;
      gtk_tree_model_get(GTK_TREE_MODEL(store), &it, col, &s, -1);
      out.emplace_back(s ? s : "");
      g_free(s);
    }
    return out;
  }
};

// Every text a widget under `w` shows.
void collect_texts(GtkWidget* w, std::vector<std::string>* out) {
  if (GTK_IS_LABEL(w)) out->emplace_back(gtk_label_get_text(GTK_LABEL(w)));
  if (GTK_IS_FRAME(w) && gtk_frame_get_label(GTK_FRAME(w)))
    out->emplace_back(gtk_frame_get_label(GTK_FRAME(w)));
  if (GTK_IS_TREE_VIEW(w))
    for (int i = 0; GtkTreeViewColumn* c = gtk_tree_view_get_column(GTK_TREE_VIEW(w), i); ++i)
      out->emplace_back(gtk_tree_view_column_get_title(c));
  if (GTK_IS_NOTEBOOK(w))
    for (int i = 0; i < gtk_notebook_get_n_pages(GTK_NOTEBOOK(w)); ++i)
      collect_texts(gtk_notebook_get_tab_label(GTK_NOTEBOOK(w),
                                               gtk_notebook_get_nth_page(GTK_NOTEBOOK(w), i)),
                    out);
  if (GTK_IS_CONTAINER(w)) {
    GList* children = gtk_container_get_children(GTK_CONTAINER(w));
    for (GList* l = children; l; l = l->next) collect_texts(GTK_WIDGET(l->data), out);
    g_list_free(children);
  }
}

TEST_F(SetupWindowTest, five_pages_and_forms_show_no_lookup_failure_text) {
  open(fixture_setup_cfg());
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(setup_ui.window)), "ZOL Client Setup");
  EXPECT_EQ(gtk_notebook_get_n_pages(GTK_NOTEBOOK(setup_ui.notebook)), 5);
  std::vector<std::string> texts;
  collect_texts(setup_ui.window, &texts);
  for (GtkWidget* add : {setup_ui.dvr.add, setup_ui.group.add, setup_ui.user.add}) click(add);
  collect_texts(setup_ui.window, &texts);
  EXPECT_GT(texts.size(), 100u);
  for (const std::string& t : texts) EXPECT_FALSE(is_lookup_failure_text(t.c_str())) << t;
  EXPECT_NE(std::find(texts.begin(), texts.end(), "DVR"), texts.end());
  EXPECT_NE(std::find(texts.begin(), texts.end(), "IP"), texts.end());
}

TEST_F(SetupWindowTest, dvr_form_reports_the_first_failed_check_and_keeps_what_was_typed) {
  open(fixture_setup_cfg());
  click(setup_ui.dvr.add);
  DvrForm& f = setup_ui.dvr_form;
  set(f.name, "Hall");
  set(f.user, "admin");
  EXPECT_EQ(click(f.ok), error_line("txt_NO_IP") + "\n");
  EXPECT_TRUE(f.open);
  EXPECT_EQ(entry_text(f.name), "Hall");

  gtk_combo_box_set_active(GTK_COMBO_BOX(f.model), 3);
  EXPECT_EQ(entry_text(f.video_port), "9010");
  gtk_combo_box_set_active(GTK_COMBO_BOX(f.camera), 15);
  set(f.camera_name, "Back door");
  set(f.address, "192.168.0.77");
  set(f.password, "pw");
  set(f.location, "Hall");
  set(f.manager, "Cho");
  set(f.tel, "0123");
  // A save that fails to write leaves setup.cfg as it was and the form as typed.
  const std::string before = read("setup.cfg");
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 1024;
  auto handler = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  std::string lines = click(f.ok);
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, handler);
  EXPECT_EQ(lines.rfind("Error: setup.cfg could not be saved", 0), 0u) << lines;
  EXPECT_EQ(read("setup.cfg"), before);
  EXPECT_TRUE(f.open);
  EXPECT_EQ(entry_text(f.manager), "Cho");

  // GROUP would end the DVR sections of emap.cfg.
  set(f.name, "GROUP");
  EXPECT_EQ(click(f.ok),
            "Error: \nA DVR cannot be named GROUP: the E-Map keeps its groups under that name.\n");
  EXPECT_EQ(read("setup.cfg"), before);
  set(f.name, "Hall");
  EXPECT_EQ(click(f.ok), "");
  EXPECT_FALSE(setup_ui.dvr_form.open);
  std::string cfg = read("setup.cfg");
  EXPECT_NE(cfg.find("\nHall=MW-2606QA14,192.168.0.77,3490,9010,3492,9205,9203,80,9202,IP,4,"),
            std::string::npos);
  EXPECT_NE(cfg.find(",CHANNEL 15,Back door,admin,"), std::string::npos);
  EXPECT_EQ(cfg.rfind(get_label_text("txt_DVR_WRITE_FORMAT"), 0), 0u);
  EXPECT_EQ(column(setup_ui.dvr.store).back(), "Hall");
}

TEST_F(SetupWindowTest,
       dvr_edit_saved_unchanged_writes_the_stored_line_and_a_rename_moves_the_maps) {
  open(fixture_setup_cfg());
  write("emap.cfg",
        "[Yard]\ndvr_name=Yard\nnum_map=1\nmap_image_1=y.jpg\nmap_name_1=Y\n"
        "map_devices_1=1,2,C,0,16\n\n[GROUP]\nnum_group=0\n\n");
  std::string stored = read("setup.cfg");
  stored = stored.substr(stored.find("\nYard="), 400);
  stored = stored.substr(0, stored.find('\n', 1));
  select_rows(setup_ui.dvr, {"Yard"});
  click(setup_ui.dvr.edit);
  ASSERT_TRUE(setup_ui.dvr_form.open);
  EXPECT_EQ(click(setup_ui.dvr_form.ok), "");
  EXPECT_NE(read("setup.cfg").find(stored + "\n"), std::string::npos) << stored;

  select_rows(setup_ui.dvr, {"Yard"});
  click(setup_ui.dvr.edit);
  set(setup_ui.dvr_form.name, "Back yard");
  EXPECT_EQ(click(setup_ui.dvr_form.ok), "");
  EXPECT_NE(read("setup.cfg").find("\nBack yard=80000001\n"), std::string::npos);
  EXPECT_EQ(read("setup.cfg").find("\nYard="), std::string::npos) << "no line keeps the old name";
  EXPECT_EQ(read("emap.cfg").rfind("[Back yard]\ndvr_name=Back yard\nnum_map=1\n", 0), 0u);
}

TEST_F(SetupWindowTest, dvr_delete_goes_in_display_order_and_stops_at_a_group_member) {
  std::string cfg = fixture_setup_cfg();
  std::string lobby = cfg.substr(cfg.find("\nLobby=") + 1);
  lobby = lobby.substr(0, lobby.find('\n') + 1);
  std::string alpha = "Alpha" + lobby.substr(5), zulu = "Zulu" + lobby.substr(5);
  cfg.replace(cfg.find("num_dvr=3\n"), 10, "num_dvr=5\n" + alpha + zulu);
  open(cfg);
  gtk_tree_sortable_set_sort_column_id(GTK_TREE_SORTABLE(setup_ui.dvr.store), 0,
                                       GTK_SORT_DESCENDING);
  select_rows(setup_ui.dvr, {"Zulu", "Gate 2", "Alpha"});
  EXPECT_EQ(click(setup_ui.dvr.del), "Question: " + std::string(get_label_text("txt_DELETEITEM")) +
                                         "\nError: Gate 2 " +
                                         std::string(get_label_text("txt_DVR_IN_GROUP")) + "\n");
  std::string text = read("setup.cfg");
  EXPECT_NE(text.find("num_dvr=4\nYard=MW"), std::string::npos) << "written in display order";
  EXPECT_EQ(text.find("\nZulu="), std::string::npos);
  EXPECT_NE(text.find("\nAlpha=MW"), std::string::npos) << "rows after the refusal stay";
  EXPECT_EQ(column(setup_ui.dvr.store).size(), 4u);

  // Another program puts a DVR in front, and another page's fill reloads the store: the
  // delete still removes the chosen DVR and keeps the newcomer.
  text.replace(text.find("num_dvr=4\n"), 10, "num_dvr=5\nBeta" + lobby.substr(5));
  write("setup.cfg", text);
  fill_user_list();
  select_rows(setup_ui.dvr, {"Alpha"});
  click(setup_ui.dvr.del);
  text = read("setup.cfg");
  EXPECT_NE(text.find("num_dvr=4\nYard=MW"), std::string::npos) << text;
  EXPECT_EQ(text.find("\nAlpha="), std::string::npos);
  for (const char* kept : {"\nLobby=MW", "\nGate 2=TALVE8", "\nBeta=MW"})
    EXPECT_NE(text.find(kept), std::string::npos) << kept;
}

TEST_F(SetupWindowTest, group_form_adds_cameras_up_to_the_limit_and_edits_by_mask) {
  std::string cfg = fixture_setup_cfg();
  cfg.replace(cfg.find(",IP,4,\"Main hall\""), 17, ",IP,16,\"Main hall\"");
  cfg.replace(cfg.find(",IP,4,\"Yard "), 12, ",IP,16,\"Yard ");
  std::string lobby = cfg.substr(cfg.find("\nLobby=") + 1);
  lobby = lobby.substr(0, lobby.find('\n') + 1);
  cfg.replace(cfg.find("num_dvr=3\n"), 10, "num_dvr=4\nZone" + lobby.substr(5));
  open(cfg);
  const std::string cam = get_label_text("txt_CAMERANO");
  select_rows(setup_ui.group, {"Entrances"});
  click(setup_ui.group.edit);
  GroupForm& f = setup_ui.group_form;
  EXPECT_EQ(column(f.selected_store),
            (std::vector<std::string>{"Lobby:" + cam + " 3", "Lobby:" + cam + " 1",
                                      "Gate 2:" + std::string(get_label_text("txt_CAMERAALL"))}));
  click(f.cancel);

  click(setup_ui.group.add);
  gtk_combo_box_set_active(GTK_COMBO_BOX(f.site), 1);  // Lobby
  click(f.add_all);
  gtk_tree_selection_select_path(gtk_tree_view_get_selection(GTK_TREE_VIEW(f.tree)),
                                 gtk_tree_path_new_from_string("15"));
  EXPECT_EQ(click(f.add), error_line("txt_CAM_EXIST") + "\n");
  gtk_combo_box_set_active(GTK_COMBO_BOX(f.site), 3);  // Yard
  gtk_tree_selection_select_path(gtk_tree_view_get_selection(GTK_TREE_VIEW(f.tree)),
                                 gtk_tree_path_new_from_string("0"));
  for (int i = 0; i < 3; ++i) click(f.add);  // walks down the tree: cameras 1, 2, 3
  EXPECT_EQ(column(f.selected_store).back(), "Yard:" + cam + " 3");
  click(f.add_all);
  gtk_combo_box_set_active(GTK_COMBO_BOX(f.site), 0);  // Zone: 4 of its 16 fit
  click(f.add_all);
  EXPECT_EQ(column(f.selected_store).size(), 36u);
  EXPECT_EQ(click(f.add_all), "");
  EXPECT_EQ(column(f.selected_store).size(), 36u) << "nothing beyond 36, and no message";
  set(f.name, "Many");
  EXPECT_EQ(click(f.ok), "");
  EXPECT_NE(read("setup.cfg").find("group_name=Many\nnum_dvr=3\nZone=F\nLobby=FFFF\nYard=FFFF\n"),
            std::string::npos);
}

TEST_F(SetupWindowTest, a_normal_operator_edits_only_their_own_account) {
  open(fixture_setup_cfg(), "op");
  EXPECT_EQ(operator_level, 2);
  EXPECT_FALSE(gtk_widget_is_sensitive(setup_ui.user.add));
  EXPECT_FALSE(gtk_widget_is_sensitive(setup_ui.user.del));
  EXPECT_TRUE(gtk_widget_is_sensitive(setup_ui.user.edit));
  select_rows(setup_ui.user, {"admin"});
  EXPECT_EQ(click(setup_ui.user.edit), error_line("txt_ERROR_AUTHORITY") + "\n");
  EXPECT_FALSE(setup_ui.user_form.open);
  EXPECT_TRUE(gtk_widget_get_visible(setup_ui.user.scroll));
  select_rows(setup_ui.user, {"op"});
  click(setup_ui.user.edit);
  ASSERT_TRUE(setup_ui.user_form.open);
  EXPECT_FALSE(gtk_widget_is_sensitive(setup_ui.user_form.type));
  EXPECT_FALSE(gtk_widget_is_sensitive(setup_ui.user_form.rights[0]));
  EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(setup_ui.user_form.rights[5])));
  EXPECT_EQ(entry_text(setup_ui.user_form.password), "oppw");
}

TEST_F(SetupWindowTest, accounts_keep_the_privileged_and_own_account_and_couple_type_and_rights) {
  std::string cfg = fixture_setup_cfg();
  cfg.replace(cfg.find("op=Operator One"), 2, "xx");  // a level 7 account
  cfg.replace(cfg.find(" ,2, " + enc("21")), 4, " ,7,");
  open(cfg);
  EXPECT_EQ(column(setup_ui.user.store, 2).back(), "")
      << "no type text for a level the tool does not know";

  select_rows(setup_ui.user, {"tovek"});
  click(setup_ui.user.edit);
  UserForm& f = setup_ui.user_form;
  EXPECT_FALSE(gtk_widget_is_sensitive(f.id));
  EXPECT_FALSE(gtk_widget_is_sensitive(f.rights[9]));
  EXPECT_TRUE(gtk_widget_is_sensitive(f.password));
  click(f.cancel);

  click(setup_ui.user.add);
  gtk_combo_box_set_active(GTK_COMBO_BOX(f.type), 0);
  EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(f.rights[9])));
  EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(f.type)), 0);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(f.rights[4]), FALSE);
  EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(f.type)), 1);
  gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(f.rights[4]), TRUE);
  EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(f.type)), 1);
  click(f.cancel);

  select_rows(setup_ui.user, {"admin", "tovek", "xx"});
  EXPECT_EQ(click(setup_ui.user.del), "Question: " + std::string(get_label_text("txt_DELETEITEM")) +
                                          "\n" + error_line("txt_ERROR_SELF_ACCOUNT") + "\n" +
                                          error_line("txt_ERROR_ADMIN") + "\n");
  std::string text = read("setup.cfg");
  EXPECT_NE(text.find("num_user=2\nadmin="), std::string::npos);
  EXPECT_EQ(text.find("\nxx="), std::string::npos);
}

TEST_F(SetupWindowTest, a_dvr_line_read_in_part_is_told_once_before_a_save_that_keeps_it) {
  std::string cfg = fixture_setup_cfg();
  size_t gate = cfg.find("TALVE8,gate.example,");
  cfg.insert(gate + 7, "Gate house,");  // the ports become text
  const size_t from = cfg.rfind('\n', gate);
  const std::string line = cfg.substr(from, cfg.find('\n', gate) + 1 - from);
  open(cfg);
  const std::string saved = "Information: " + std::string(get_label_text("txt_SYSTEMSAVED")) + "\n";
  std::string shown = click(setup_ui.system.ok);
  EXPECT_EQ(shown.rfind("Information: setup.cfg holds DVR lines", 0), 0u) << shown;
  EXPECT_NE(shown.find("(\"Gate 2\")"), std::string::npos) << shown;
  EXPECT_EQ(shown.substr(shown.find('\n') + 1), saved);
  EXPECT_NE(read("setup.cfg").find(line), std::string::npos) << line;
  EXPECT_EQ(click(setup_ui.system.ok), saved);
  EXPECT_NE(read("setup.cfg").find(line), std::string::npos);
}

TEST_F(SetupWindowTest, system_log_opens_once_and_system_then_email_saves_keep_each_other) {
  open(fixture_setup_cfg());
  click(setup_ui.system.syslog);
  click(setup_ui.system.syslog);
  int logs = 0;
  GList* all = gtk_window_list_toplevels();
  for (GList* l = all; l; l = l->next)
    logs += g_strcmp0(gtk_window_get_title(GTK_WINDOW(l->data)), kSyslogTitle) == 0;
  g_list_free(all);
  EXPECT_EQ(logs, 1);

  gtk_entry_set_text(GTK_ENTRY(setup_ui.system.cycle), "2");
  EXPECT_EQ(click(setup_ui.system.ok),
            "Information: " + std::string(get_label_text("txt_SYSTEMSAVED")) + "\n");
  gtk_entry_set_text(GTK_ENTRY(setup_ui.email.delay), "1a");
  EXPECT_EQ(click(setup_ui.email.ok), error_line("txt_ERROR_DELAY") + "\n");
  gtk_entry_set_text(GTK_ENTRY(setup_ui.email.delay), "007");
  EXPECT_EQ(click(setup_ui.email.ok), "Information: \nEmail Information Save.\n");
  std::string text = read("setup.cfg");
  EXPECT_NE(text.find("\ncycle_time=3\n"), std::string::npos);
  EXPECT_NE(text.find("\ndelay=007\n"), std::string::npos);
  EXPECT_NE(text.find("\nreceipient=alarm-one@example.com;alarm-two@example.com;"
                      "alarm-three@example.com\n"),
            std::string::npos)
      << "a stored text longer than its entry's limit stays whole";
}

}  // namespace
